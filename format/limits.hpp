// Private to the library: never installed.
//
// The limits of the files the writer makes.  varnel.h publishes them for
// hosts; here they are tied to the layout that imposes them, so that the
// published numbers cannot drift from the format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/resource_fork.hpp"
#include "varnel.h"

namespace varnel::format {

// The writer's tables: a grid of types by resources per type.
inline constexpr int32_t kMaxTypes = MACBIN_MAX_TYPES;
inline constexpr int32_t kMaxResourcesPerType = MACBIN_MAX_RESOURCES_PER_TYPE;
inline constexpr int32_t kMaxNameLength = MACBIN_MAX_NAME_LENGTH;
inline constexpr size_t kMaxLineLength = MACBIN_MAX_LINE_LENGTH;

static_assert(kMaxNameLength == static_cast<int32_t>(kMaxStoredNameLength),
              "names are kept with at most 127 characters");
// The name list and the data offsets are limited by the map itself.
static_assert(MACBIN_MAX_NAME_LIST_BYTES == kMaxNameListBytes, "name offsets are 16-bit");
static_assert(MACBIN_MAX_DATA_OFFSET == kMaxDataOffset, "data offsets are 24-bit");
// A type count and a reference count are stored minus one in 16 bits.
static_assert(kMaxTypes <= 0x10000 && kMaxResourcesPerType <= 0x10000);

}  // namespace varnel::format
