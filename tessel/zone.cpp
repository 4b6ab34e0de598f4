// Memory zones: blocks from the general heap, counted so that tests can
// check for leaks and make allocation fail on purpose (the hooks for that
// are in testing.cpp).  Blocks come as the
// heap gives them, not cleared: callers set every field they read, and
// tests can fill new blocks with a pattern to show any that is not.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "tessel.h"
#include "tessel/zone.hpp"

namespace {

// Zones live until the process ends: chained here so that they stay
// reachable (and leak checkers see them as such).
TesselZone *all_zones = nullptr;

// Guards the zone list and every zone's count: channels are opened and
// closed from several threads at once (each reading its own file), and all
// of them allocate from the library's one zone.
std::mutex zone_lock;

}  // namespace

extern "C" {

TesselZone *zcreate(int32_t /*reserved1*/, int32_t /*reserved2*/) {
  auto *zone = new (std::nothrow) TesselZone();
  if (zone == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  const std::lock_guard<std::mutex> guard(zone_lock);
  zone->next = all_zones;
  all_zones = zone;
  return zone;
}

void *zalloc(TesselZone *zone, size_t size) {
  if (zone == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  std::unique_lock<std::mutex> guard(zone_lock);
  if (zone->limit != 0 && (size > zone->limit || zone->in_use > zone->limit - size)) {
    errno = ENOMEM;
    return nullptr;
  }
  zone->in_use += size;  // counted before the block exists, so the limit holds for racing calls
  const int32_t fill = zone->fill;
  guard.unlock();
  void *block = std::malloc(size != 0 ? size : 1);  // a distinct block even for 0 bytes
  if (block == nullptr) {
    guard.lock();
    zone->in_use -= size;
    errno = ENOMEM;
    return nullptr;
  }
  if (fill >= 0) std::memset(block, fill, size);
  return block;
}

void zfree(TesselZone *zone, void *block, size_t size) {
  if (block == nullptr) return;
  std::free(block);
  if (zone == nullptr) return;
  const std::lock_guard<std::mutex> guard(zone_lock);
  zone->in_use -= size < zone->in_use ? size : zone->in_use;
}

}  // extern "C"
