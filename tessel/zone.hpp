// Private to the stand-in: never installed.
//
// The zone record behind the opaque TesselZone handle, shared by the zone
// operations and the test hooks that read and set its accounting.
#pragma once

#include <cstddef>

#include "tessel.h"

struct TesselZone {
  size_t in_use = 0;             // bytes handed out and not yet given back
  size_t limit = 0;              // cap on in_use; 0 = none
  int fill = -1;                 // byte new blocks are filled with; -1 = none
  TesselZone *next = nullptr;    // the chain of every zone made
};
