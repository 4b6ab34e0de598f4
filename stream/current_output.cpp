// The writer's current channel and output file.
#include "varnel.h"

// Set by the writer (MacBin_OpenW, MacBin_AddResource, MacBin_CompleteDataFork,
// MacBin_Close); read by insert_resource and every write handler.
MacBinChannel *MacChannel = nullptr;
// Set by the writer whenever it makes a channel current; read by every
// output primitive, which writes only there.
TesselFile *outfile = nullptr;
