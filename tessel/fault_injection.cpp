// Fault injection for tests: make the file layer fail the way a full disk
// does, after a number of bytes or of seeks (see fault_injection.hpp for how
// the byte budget meets the fast path).
#include "tessel/fault_injection.hpp"

#include <algorithm>
#include <cerrno>

#include "tessel.h"

namespace tessel {
namespace {

struct FaultState {
  int64_t write_budget = -1;  // bytes still accepted before the failure; < 0 = off
  int32_t write_error = 0;
  int64_t seek_budget = -1;   // successful fputp calls still allowed; < 0 = off
  int32_t seek_error = 0;
  TesselFile *holder = nullptr;  // the one write file granted part of the budget
  size_t holder_base = 0;        // the holder's put when it was granted
};

FaultState &state() {
  static FaultState faults;
  return faults;
}

}  // namespace

void settle_write_budget() {
  FaultState &s = state();
  TesselFile *holder = s.holder;
  if (holder == nullptr) return;
  if (holder->put > s.holder_base) {
    s.write_budget -= static_cast<int64_t>(holder->put - s.holder_base);
  }
  if (holder->put_limit > holder->put) holder->put_limit = holder->put;
  s.holder = nullptr;
}

bool write_budget_active() { return state().write_budget >= 0; }

int64_t write_budget_left() { return state().write_budget; }

void charge_write_budget(int64_t count) {
  FaultState &s = state();
  if (s.write_budget >= 0) s.write_budget = std::max<int64_t>(0, s.write_budget - count);
}

int32_t injected_write_error() { return state().write_error; }

void grant_put_limit(TesselFile *file) {
  if (file->mode != TesselMode::kWrite || file->error != 0) {
    file->put_limit = 0;
    return;
  }
  FaultState &s = state();
  if (s.write_budget < 0) {
    file->put_limit = file->capacity;
    return;
  }
  settle_write_budget();
  const auto room = static_cast<int64_t>(file->capacity - file->put);
  file->put_limit = file->put + static_cast<size_t>(std::min(room, s.write_budget));
  s.holder = file;
  s.holder_base = file->put;
}

void release_holder(TesselFile *file) {
  if (state().holder == file) settle_write_budget();
}

int32_t injected_seek_error() {
  const FaultState &s = state();
  return s.seek_budget == 0 ? s.seek_error : 0;
}

void count_successful_seek() {
  FaultState &s = state();
  if (s.seek_budget > 0) --s.seek_budget;
}

}  // namespace tessel

extern "C" void tessel_fail_writes_after(int64_t bytes, int32_t error_number) {
  tessel::FaultState &s = tessel::state();
  tessel::settle_write_budget();
  s.write_budget = bytes < 0 ? -1 : bytes;
  s.write_error = error_number != 0 ? error_number : ENOSPC;
  tessel::recompute_all_put_limits();
}

extern "C" void tessel_fail_seeks_after(int64_t calls, int32_t error_number) {
  tessel::FaultState &s = tessel::state();
  s.seek_budget = calls < 0 ? -1 : calls;
  s.seek_error = error_number != 0 ? error_number : EIO;
}
