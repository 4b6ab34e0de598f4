// The stand-in's test hooks (testing.h): switches for the fault injection
// and the zone accounting that every build carries.  Built only into the
// test-only object library tessel_testing.
#include "tessel/testing.h"

#include "tessel/fault_injection.hpp"
#include "tessel/zone.hpp"

extern "C" {

size_t tessel_zone_in_use(const TesselZone *zone) { return zone != nullptr ? zone->in_use : 0; }

void tessel_zone_set_limit(TesselZone *zone, size_t limit) {
  if (zone != nullptr) zone->limit = limit;
}

void tessel_zone_set_fill(TesselZone *zone, int32_t byte) {
  if (zone != nullptr) zone->fill = byte < 0 ? -1 : (byte & 0xFF);
}

void tessel_fail_writes_after(int64_t bytes, int32_t error_number) {
  tessel::set_write_fault(bytes, error_number);
}

void tessel_fail_seeks_after(int64_t calls, int32_t error_number) {
  tessel::set_seek_fault(calls, error_number);
}

}  // extern "C"
