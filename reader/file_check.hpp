// Private to the reader.
//
// The parts of MacBin_CheckFile: the list the findings go through (each
// handed to the host's method once, at most 100 of one code one by one),
// and the checks of a resource fork, which every container shares.  The
// checks read the file through CheckedFile only and judge every offset
// before they use it: the file is as untrusted here as in the open.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "reader/checked_cursor.hpp"
#include "varnel.h"

class FindingList {
 public:
  FindingList(MacBinFindingMethod method, void *argument) : method_(method), argument_(argument) {}

  // One finding; `offset` is a position in the checked file (BinHex: in the
  // decoded stream), -1 for none.
  void add(int32_t severity, int32_t code, int64_t offset, const std::string &what,
           const std::string &action);
  // Tells how many findings of each code went untold.
  void finish();

  int32_t count() const { return count_; }
  int32_t worst() const { return worst_; }

 private:
  void hand_over(int32_t severity, int32_t code, int64_t offset, const std::string &what,
                 const std::string &action);

  MacBinFindingMethod method_;
  void *argument_;
  int32_t count_ = 0;
  int32_t worst_ = 0;
  struct PerCode {
    int64_t told = 0;
    int64_t untold = 0;
    int32_t severity = 0;
  };
  std::map<int32_t, PerCode> per_code_;
};

// Findings of one code told one by one before the rest are only counted.
inline constexpr int64_t kFindingsToldPerCode = 100;

// A fork inside a checked file: `declared` bytes from `start` as the
// container says, of which the file holds `held` (more than declared when
// the file goes on after the fork).  Positions are reported shifted by
// `report_shift` (the decoded BinHex forks lie elsewhere in the stream).
struct ForkPlace {
  CheckedFile *file;
  int64_t start;
  int64_t declared;
  int64_t held;
  int64_t report_shift = 0;
};

// Checks the resource fork at `fork` (the caller has reported a fork that
// the file does not wholly hold): its header, its map and every resource
// the map lists.  Returns the number of resources the map lists (0 when it
// could not be read).  flags: MACBIN_CHECK_*.
int32_t check_resource_fork(const ForkPlace &fork, int32_t flags, FindingList &findings);

// Whether the bytes at `fork` are a resource fork: a header whose data and
// map lie inside it, apart, and a map header that agrees.
bool holds_resource_fork(const ForkPlace &fork);

// A resource type as the texts show it: its four MacRoman characters in
// UTF-8, control characters replaced.
std::string type_text(const char type[4]);
