// What every fuzz target that drives the library sets up once: the library
// itself, zone blocks filled with a pattern (so that a field read before it
// is set behaves the same on every run), standard output sent away (the
// library prints diagnostics there, by the million under a fuzzer), and a
// temporary directory for the files it reads and writes, removed at exit.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tessel/testing.h"
#include "varnel.h"

namespace varnel_fuzz {

inline constexpr uint8_t kZoneFill = 0xA5;

class Session {
 public:
  // `name` prefixes the temporary directory ("read-map" -> read-map-fuzz-XXXXXX).
  explicit Session(const char *name) {
    MacBin_Init();
    tessel_zone_set_fill(MacIOControl.zone, kZoneFill);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(name) + "-fuzz-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    directory_ = pattern;
  }
  ~Session() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  std::string file(const char *name) const { return (directory_ / name).string(); }

 private:
  std::filesystem::path directory_;
};

// Reports are expected by the thousand; they only slow the run down.
inline void silence_messages() {
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(+[](const char *, const char *, int32_t) {}),
                   MACBIN_METHOD_MESSAGE);
}

}  // namespace varnel_fuzz
