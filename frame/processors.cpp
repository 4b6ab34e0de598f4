// The registry of resource processors: a singly linked list from the zone,
// newest first, with "****" as the wildcard for every type without its own.
#include <cstdio>
#include <cstring>

#include "frame/internal.hpp"
#include "varnel.h"

namespace {

constexpr size_t kTypeLength = 4;
constexpr char kWildcardType[] = "****";

// Types compare over at most four characters and stop at the first NUL, so
// "PICTURE" matches "PICT" and a two-letter type does not match itself padded
// with blanks.
bool same_type(const char *a, const char *b) { return std::strncmp(a, b, kTypeLength) == 0; }

// Null handlers keep what is registered: a handler can be replaced, never
// reset.
void store_handlers(MacBinProcessor *processor, MacBinReadHandler read_handler,
                    MacBinWriteHandler write_handler) {
  if (read_handler != nullptr) processor->read_handler = read_handler;
  if (write_handler != nullptr) processor->write_handler = write_handler;
}

}  // namespace

MacBinProcessor *MacBin_FindProcessor(const char *type) {
  if (type == nullptr) return nullptr;
  MacBinProcessor *wildcard = nullptr;
  for (MacBinProcessor *p = MacIOControl.processors; p != nullptr; p = p->next) {
    if (same_type(p->type, type)) return p;
    // An exact type wins wherever it stands, so the wildcard only waits.
    if (wildcard == nullptr && same_type(p->type, kWildcardType)) wildcard = p;
  }
  return wildcard;
}

extern "C" int32_t MacBin_AddProcessor(const char *type, MacBinReadHandler read_handler,
                                       MacBinWriteHandler write_handler) {
  if (type == nullptr) return 1;

  // Registration follows the lookup rule: once a wildcard exists, a type
  // without its own record changes the wildcard's handlers.
  if (MacBinProcessor *found = MacBin_FindProcessor(type); found != nullptr) {
    if (trace_enabled(TRACE_INSERT)) std::printf("INSERT--> modifying resourcetype %s\n", type);
    store_handlers(found, read_handler, write_handler);
    return 0;
  }

  if (trace_enabled(TRACE_INSERT)) std::printf("INSERT--> inserting resourcetype %s\n", type);
  if (MacIOControl.zone == nullptr) return 1;
  auto *processor =
      static_cast<MacBinProcessor *>(zalloc(MacIOControl.zone, sizeof(MacBinProcessor)));
  if (processor == nullptr) return 1;

  // First four characters, NUL-padded, then the closing NUL.
  std::memset(processor->type, 0, sizeof processor->type);
  for (size_t i = 0; i < kTypeLength && type[i] != '\0'; ++i) processor->type[i] = type[i];
  processor->read_handler = nullptr;
  processor->write_handler = nullptr;
  store_handlers(processor, read_handler, write_handler);
  processor->next = MacIOControl.processors;
  MacIOControl.processors = processor;
  return 0;
}
