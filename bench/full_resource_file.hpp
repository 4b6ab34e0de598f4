// The file the reading benchmarks read: what the writer can hold, 63 types
// of 64 named resources plus the owner resource (4033 resources), each
// holding "data of NAME" as a Pascal string.  Two forms: every resource
// with a name of its own (form 0: 4033 distinct names, so 4033 name nodes),
// and the same 64 names in every type (form 1: 65 distinct names).  Each
// form is written once per process into the temporary directory; the
// benchmark removes them at the end (remove_full_files).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "varnel.h"

namespace full_resource_file {

inline constexpr int kTypes = 63;
inline constexpr int kResourcesPerType = 64;
inline constexpr int kResources = kTypes * kResourcesPerType + 1;  // and the owner resource

inline std::string scratch_path(const std::string &name) {
  return (std::filesystem::temp_directory_path() /
          ("varnel-bench-" + std::to_string(::getpid()) + "-" + name + ".bin"))
      .string();
}

inline std::string type_name(int t) {
  char type[5];
  std::snprintf(type, sizeof type, "T%03d", t);
  return type;
}

inline std::string resource_name(int t, int r, bool shared_names) {
  return shared_names ? "Resource " + std::to_string(r)
                      : "Res " + std::to_string(t) + "." + std::to_string(r);
}

// Needs MacBin_Init first.  Exits when the library does not write it.
inline std::string write_full_file(bool shared_names) {
  const std::string file = scratch_path(shared_names ? "shared" : "distinct");
  char apple_name[64] = "Full file";
  MacBinChannel *channel = MacBin_OpenW(file.c_str(), apple_name, "VARN", "TEXT");
  if (channel == nullptr) std::exit(1);
  MacBin_CompleteDataFork(channel);
  for (int t = 0; t < kTypes; ++t) {
    for (int r = 0; r < kResourcesPerType; ++r) {
      const std::string name = resource_name(t, r, shared_names);
      const std::string data = "~data of " + name;
      if (insert_resource(type_name(t).c_str(), 128 + r, name.c_str(), data.c_str()) != 0) {
        std::fprintf(stderr, "resource %d.%d not inserted\n", t, r);
        std::exit(1);
      }
    }
  }
  MacBin_Close(channel);
  return file;
}

// The path of a form (non-zero: shared names), written on first use.
inline const std::string &full_file(int64_t shared_names) {
  static const std::string paths[2] = {write_full_file(false), write_full_file(true)};
  return paths[shared_names != 0 ? 1 : 0];
}

inline void remove_full_files() {
  for (int form = 0; form < 2; ++form) std::filesystem::remove(full_file(form));
}

}  // namespace full_resource_file
