// Private to the library: never installed.
#pragma once

#include "varnel.h"

// The read side of MacBin_Close: gives the references, the type table, the
// reader's lookup index, the name nodes and the channel back, and closes the
// file (never deleting it).
void close_read_channel(MacBinChannel *channel);
