// Memory zones: blocks from the general heap, counted so that tests can
// check for leaks and make allocation fail on purpose (the hooks for that
// are in testing.cpp).  Blocks come as the
// heap gives them, not cleared: callers set every field they read, and
// tests can fill new blocks with a pattern to show any that is not.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "tessel.h"
#include "tessel/zone.hpp"

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

}  // extern "C"
