// `varnel check FILE` against `varnel list FILE` of the same file, in the
// same run: what checking costs a user over looking.  Target: at most 2
// times the listing's time.
//
// The file holds 5,000 named resources (50 types of 100, each a Pascal
// string of its name), written through the library with no owner resource
// or bundle.  Before anything is timed, check must find the file clean and
// list must list every resource.  Each round runs the tool once on each
// command, alternating which goes first, so that a load that comes and goes
// meets both; the median of the rounds' ratios is printed with the lowest
// and highest.
//
//   VARNEL_BENCH_ROUNDS  rounds (15)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "quiet_library.hpp"
#include "varnel.h"

extern char **environ;

namespace {

using namespace varnel_bench;
namespace fs = std::filesystem;

constexpr int kTypes = 50;
constexpr int kResourcesPerType = 100;
constexpr int kResources = kTypes * kResourcesPerType;

// False after a message when the library refused any of it.
bool write_file(const std::string &path) {
  char name[] = "Checked";
  MacBinChannel *channel = MacBin_OpenW(path.c_str(), name, "OWNR", "BINA");
  if (channel == nullptr) return false;
  bool ok = MacBin_SetFinderResources(channel, 0) == 0;
  for (int t = 0; t < kTypes && ok; ++t) {
    char type[8];
    std::snprintf(type, sizeof type, "C%03d", t);
    for (int r = 0; r < kResourcesPerType && ok; ++r) {
      char text[32];
      const int length = std::snprintf(text + 1, sizeof text - 1, "res %d.%d", t, r);
      text[0] = static_cast<char>(length);
      ok = MacBin_AddResourceData(channel, type, 128 + r, text + 1, MACBIN_ATTR_PURGEABLE, text,
                                  length + 1) == 0;
    }
  }
  MacBin_Close(channel);
  if (!ok) std::fprintf(stderr, "the library refused the benchmark's file\n");
  return ok;
}

// Lines of a file, to tell that list listed every resource.
long count_lines(const std::string &path) {
  std::ifstream in(path);
  long lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

}  // namespace

int main() {
  const int rounds = static_cast<int>(env_number("VARNEL_BENCH_ROUNDS", 15, 1, 1000));
  start_quiet_library();
  const fs::path scratch = fs::temp_directory_path() / ("varnel-bench-check-" + std::to_string(getpid()));
  fs::create_directories(scratch);
  const std::string file = (scratch / "Checked.bin").string();
  const std::string listing = (scratch / "listing.txt").string();
  const std::vector<std::string> check = {VARNEL_TOOL, "check", file};
  const std::vector<std::string> list = {VARNEL_TOOL, "list", file};
  int status = 1;
  if (write_file(file) && run_process(check, "/dev/null").ok && run_process(list, listing).ok) {
    const long listed = count_lines(listing);
    if (listed < kResources) {
      std::fprintf(stderr, "list printed %ld lines for %d resources\n", listed, kResources);
    } else {
      std::vector<double> checks, lists, ratios;
      for (int round = 0; round < rounds; ++round) {
        const bool check_first = round % 2 == 0;
        const ProcessRun first = run_process(check_first ? check : list, "/dev/null");
        const ProcessRun second = run_process(check_first ? list : check, "/dev/null");
        const ProcessRun &checked = check_first ? first : second;
        const ProcessRun &looked = check_first ? second : first;
        checks.push_back(checked.seconds);
        lists.push_back(looked.seconds);
        ratios.push_back(checked.seconds / looked.seconds);
      }
      std::sort(ratios.begin(), ratios.end());
      std::printf("varnel check: median %.1f ms; varnel list: median %.1f ms (%d resources, %d rounds)\n",
                  median(checks) * 1e3, median(lists) * 1e3, kResources, rounds);
      std::printf("ratio check / list = %.2f (rounds from %.2f to %.2f; target <= 2.00)\n", median(ratios),
                  ratios.front(), ratios.back());
      status = 0;
    }
  }
  fs::remove_all(scratch);
  return status;
}
