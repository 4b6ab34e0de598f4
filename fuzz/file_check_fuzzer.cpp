// Arbitrary bytes checked by MacBin_CheckFile: as a file of its own (every
// container's checks, the resource map's with the contents decompressed),
// and as the AppleDouble header file "._pair" of a small data file "pair".
// Besides the sanitizers: every finding has both texts and a known code,
// and the report agrees with the findings.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_session.hpp"
#include "varnel.h"

namespace {

struct Scratch {
  varnel_fuzz::Session session{"file-check"};
  std::string single = session.file("input.bin");
  std::string header = session.file("._pair");
  std::string pair = session.file("pair");
  Scratch() {
    varnel_fuzz::silence_messages();
    FILE *file = std::fopen(pair.c_str(), "wb");
    if (file == nullptr || std::fputs("data fork", file) < 0) std::abort();
    std::fclose(file);
  }
};

Scratch &scratch() {
  static Scratch instance;
  return instance;
}

struct Tally {
  int32_t count = 0;
  int32_t worst = 0;
};

void count_finding(const MacBinFinding *finding, void *argument) {
  if (finding->what == nullptr || finding->action == nullptr || finding->what[0] == '\0' ||
      finding->action[0] == '\0')
    std::abort();
  if (finding->code < MACBIN_FINDING_NOT_A_CONTAINER || finding->code > MACBIN_FINDING_MORE) std::abort();
  if (finding->severity != MACBIN_WARNING && finding->severity != MACBIN_ERROR) std::abort();
  auto *tally = static_cast<Tally *>(argument);
  ++tally->count;
  if (finding->severity > tally->worst) tally->worst = finding->severity;
}

void write_input(const std::string &path, const uint8_t *data, size_t size) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

void check(const std::string &path, int32_t flags) {
  Tally tally;
  MacBinCheckReport report;
  const int32_t status = MacBin_CheckFile(path.c_str(), flags, count_finding, &tally, &report);
  if (status < 0) return;
  if (status != (tally.count == 0 ? 0 : 1)) std::abort();
  if (report.findings != tally.count || report.worst != tally.worst) std::abort();
  if (std::memchr(report.container, '\0', sizeof report.container) == nullptr) std::abort();
  if (report.resources < 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Scratch &files = scratch();
  write_input(files.single, data, size);
  check(files.single, MACBIN_CHECK_CONTENTS);
  write_input(files.header, data, size);
  check(files.pair, 0);
  return 0;
}
