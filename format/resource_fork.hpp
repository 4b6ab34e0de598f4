// Private to the library: never installed.
//
// The resource fork: its header, and the map with its type list, reference
// lists and name list.  Each record is declared once, as the file holds it,
// and serves both the writer and the reader.
//
// The fork, from its first byte:
//   0     fork header (16 bytes), then 240 bytes the writer keeps zero
//   256   resource data: per resource a 32-bit length, then its bytes
//         the map: map header (a copy of the fork header first), then the
//         type list (count - 1, then one item per type), the reference lists
//         (one item per resource, per type in type order) and the name list
//         (per name a length byte and the characters)
// Offsets in the map are 16-bit (from the map's start for the two lists,
// from the type list for the reference lists, from the name list for
// names); data offsets are 24-bit, from the start of the resource data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/big_endian.hpp"
#include "varnel.h"

namespace varnel::format {

struct ResourceForkHeader {
  /*  0 */ Be32 data_offset;  // from the fork's start
  /*  4 */ Be32 map_offset;
  /*  8 */ Be32 data_length;
  /* 12 */ Be32 map_length;
};
static_assert(sizeof(ResourceForkHeader) == 16);

struct ResourceMapHeader {
  /*  0 */ ResourceForkHeader fork_header_copy;
  /* 16 */ Be32 next_map;         // a handle in memory; zero in files
  /* 20 */ Be16 file_reference;   // likewise
  /* 22 */ Be16 attributes;
  /* 24 */ Be16 type_list_offset;  // from the map's start
  /* 26 */ Be16 name_list_offset;  // from the map's start
};
static_assert(sizeof(ResourceMapHeader) == 28);
static_assert(offsetof(ResourceMapHeader, type_list_offset) == 24);

// The type list starts with the number of types minus 1 (0xFFFF: none).
using TypeCountField = Be16;
inline constexpr uint32_t kNoTypes = 0xFFFF;

struct ResourceTypeItem {
  /* 0 */ char type[4];
  /* 4 */ Be16 count_minus_one;
  /* 6 */ Be16 ref_list_offset;  // from the type list
};
static_assert(sizeof(ResourceTypeItem) == 8);

struct ResourceReferenceItem {
  /* 0 */ Be16 id;           // a signed ID on the Macintosh, stored as 16 bits
  /* 2 */ Be16 name_offset;  // from the name list; 0xFFFF: no name
  /* 4 */ uint8_t attributes;
  /* 5 */ Be24 data_offset;  // from the resource data, to the length word
  /* 8 */ Be32 handle;       // zero in files
};
static_assert(sizeof(ResourceReferenceItem) == 12);
inline constexpr uint32_t kNoName = 0xFFFF;

// The attribute the writer gives every resource (the bits are published in
// varnel.h as MACBIN_ATTR_*).
inline constexpr uint8_t kAttributePurgeable = MACBIN_ATTR_PURGEABLE;

// A name is a length byte and at most 255 characters; the Resource Manager
// and our name nodes keep 127 of them.
inline constexpr uint32_t kMaxStoredNameLength = 127;
// The length word in front of each resource's data.
inline constexpr size_t kDataLengthWordSize = 4;
// The fork header and the reserved bytes after it, before the first data.
inline constexpr int64_t kResourceForkHeadSize = 256;
// Data offsets are 24-bit, name offsets (and so the name list) 16-bit.
inline constexpr uint32_t kMaxDataOffset = 0xFFFFFF;
inline constexpr uint32_t kMaxNameListBytes = 0xFFFF;

// No item of a map can lie further from its start than the last byte of a
// 65536-item reference list at the largest type list offset plus the largest
// reference list offset, all offsets being 16-bit: bytes of a longer map are
// never looked at.
inline constexpr size_t kReachableMapBytes =
    0xFFFF + 0xFFFF + sizeof(ResourceReferenceItem) * 0x10000;

}  // namespace varnel::format
