// The writer's current channel and output file.
#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "varnel.h"

// Set by the writer (MacBin_OpenW, MacBin_AddResource, MacBin_CompleteDataFork,
// MacBin_Close); read by insert_resource and every write handler.
MacBinChannel *MacChannel = nullptr;
// Set by the writer whenever it makes a channel current; read by every
// output primitive, which writes only there.
TesselFile *outfile = nullptr;

namespace {

// MacBin_Reset: no current output, and no failure that would keep stopping
// output (the flags are otherwise never cleared).
void forget_current_output() {
  MacChannel = nullptr;
  outfile = nullptr;
  write_failed = 0;
  output_error = 0;
}
ResetStep current_output_reset{forget_current_output, nullptr};
const bool current_output_reset_registered = register_reset_step(current_output_reset);

}  // namespace
