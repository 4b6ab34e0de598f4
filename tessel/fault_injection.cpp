// Fault injection for tests: make the file layer fail the way a full disk
// does, after a number of bytes or of seeks (see fault_injection.hpp for how
// the byte budget meets the put area).
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
  size_t holder_base = 0;        // the holder's pending bytes when it was granted
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
  const size_t pending = pending_bytes(holder);
  if (pending > s.holder_base) {
    s.write_budget -= static_cast<int64_t>(pending - s.holder_base);
  }
  close_put_area(holder);
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
    close_put_area(file);
    return;
  }
  FaultState &s = state();
  if (s.write_budget < 0) {
    file->put.end = file->buffer + file->capacity;
    return;
  }
  settle_write_budget();
  const size_t pending = pending_bytes(file);
  const auto room = static_cast<int64_t>(file->capacity - pending);
  file->put.end = file->put.next + static_cast<size_t>(std::min(room, s.write_budget));
  s.holder = file;
  s.holder_base = pending;
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

void set_write_fault(int64_t bytes, int32_t error_number) {
  FaultState &s = state();
  settle_write_budget();
  s.write_budget = bytes < 0 ? -1 : bytes;
  s.write_error = error_number != 0 ? error_number : ENOSPC;
  recompute_all_put_limits();
}

void set_seek_fault(int64_t calls, int32_t error_number) {
  FaultState &s = state();
  s.seek_budget = calls < 0 ? -1 : calls;
  s.seek_error = error_number != 0 ? error_number : EIO;
}

}  // namespace tessel
