// The fault injection of an installed stand-in: there is none.  The file
// code calls the same hooks as in a test build; here every one of them says
// "no fault" and the put area always reaches the end of the buffer, so the
// library a host loads carries no switch that could make its files fail.
#include <cerrno>

#include "tessel/fault_injection.hpp"

namespace tessel {

void settle_write_budget() {}

bool write_budget_active() { return false; }

int64_t write_budget_left() { return 0; }

void charge_write_budget(int64_t) {}

int32_t injected_write_error() { return ENOSPC; }

void grant_put_limit(TesselFile *file) {
  if (file->mode != TesselMode::kWrite || file->error != 0) {
    close_put_area(file);
    return;
  }
  file->put.end = file->buffer + file->capacity;
}

void release_holder(TesselFile *) {}

int32_t injected_seek_error() { return 0; }

void count_successful_seek() {}

}  // namespace tessel
