// Private to the library: never installed.
#pragma once

#include "varnel.h"

// The read side of MacBin_Close: gives the references, the type table, the
// reader's lookup index, the name nodes and the channel back, and closes the
// file (never deleting it).
void close_read_channel(MacBinChannel *channel);

// Gives back everything MacBin_OpenR built from a resource map it then found
// damaged (type table, references, name nodes, lookup tables) and clears the
// map's positions: the channel is left as one of a file without resources.
void discard_resource_map(MacBinChannel *channel);
