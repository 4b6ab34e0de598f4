// MacBin_Reset: the whole library back to its state at load, so that a host
// can begin an unrelated job, and a test program can run its tests one after
// another in one process as if each had a process of its own.
#include "frame/internal.hpp"
#include "tessel.h"
#include "varnel.h"

namespace {

// The steps registered by the folders; built before main by static
// initialisers (constant-initialised head, so their order does not matter).
ResetStep *reset_steps = nullptr;

}  // namespace

bool register_reset_step(ResetStep &step) {
  step.next = reset_steps;
  reset_steps = &step;
  return true;
}

extern "C" void MacBin_Reset(void) {
  for (ResetStep *step = reset_steps; step != nullptr; step = step->next) step->reset();
  // The processors go back to their zone; nothing else names them.
  for (MacBinProcessor *processor = MacIOControl.processors; processor != nullptr;) {
    MacBinProcessor *next = processor->next;
    zfree(MacIOControl.zone, processor, sizeof(MacBinProcessor));
    processor = next;
  }
  // The zone is left as it is: a zone lives until the process ends, and
  // the next MacBin_Init makes a new one, whose accounting starts at zero.
  MacIOControl = MacBinControl{};
  debug_values.trace_flags = VARNEL_TRACE_FLAGS;
  debug_values.initialised = 0;
}
