// The library as the benchmarks start it: initialised, with its notices
// (and, when asked, its progress reports) sent nowhere, so that a run
// measures the work and not the printing.
#pragma once

#include "varnel.h"

inline void start_quiet_library(bool quiet_progress = false) {
  MacBin_Init();
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(+[](const char *, const char *, int32_t) {}),
                   MACBIN_METHOD_MESSAGE);
  if (quiet_progress) {
    MacBin_Setmethod(reinterpret_cast<MacBinMethod>(+[](MacBinProgress *) {}), MACBIN_METHOD_PROGRESS);
  }
}
