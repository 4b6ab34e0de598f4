// Memory zones: blocks from the general heap, counted so that tests can
// check for leaks and make allocation fail on purpose.  Blocks come as the
// heap gives them, not cleared: callers set every field they read, and
// tests can fill new blocks with a pattern to show any that is not.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "tessel.h"

struct TesselZone {
  size_t in_use = 0;             // bytes handed out and not yet given back
  size_t limit = 0;              // cap on in_use; 0 = none
  int fill = -1;                 // byte new blocks are filled with; -1 = none
  TesselZone *next = nullptr;    // the chain of every zone made
};

namespace {

// Zones live until the process ends: chained here so that they stay
// reachable (and leak checkers see them as such).
TesselZone *all_zones = nullptr;

}  // namespace

extern "C" {

TesselZone *zcreate(int32_t /*reserved1*/, int32_t /*reserved2*/) {
  auto *zone = new (std::nothrow) TesselZone();
  if (zone == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  zone->next = all_zones;
  all_zones = zone;
  return zone;
}

void *zalloc(TesselZone *zone, size_t size) {
  if (zone == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  if (zone->limit != 0 && (size > zone->limit || zone->in_use > zone->limit - size)) {
    errno = ENOMEM;
    return nullptr;
  }
  void *block = std::malloc(size != 0 ? size : 1);  // a distinct block even for 0 bytes
  if (block == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  if (zone->fill >= 0) std::memset(block, zone->fill, size);
  zone->in_use += size;
  return block;
}

void zfree(TesselZone *zone, void *block, size_t size) {
  if (block == nullptr) return;
  std::free(block);
  if (zone != nullptr) zone->in_use -= size < zone->in_use ? size : zone->in_use;
}

size_t tessel_zone_in_use(const TesselZone *zone) { return zone != nullptr ? zone->in_use : 0; }

void tessel_zone_set_limit(TesselZone *zone, size_t limit) {
  if (zone != nullptr) zone->limit = limit;
}

void tessel_zone_set_fill(TesselZone *zone, int32_t byte) {
  if (zone != nullptr) zone->fill = byte < 0 ? -1 : (byte & 0xFF);
}

}  // extern "C"
