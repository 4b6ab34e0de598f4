// Private to the library: never installed.
//
// The 128-byte MacBinary header: its layout, written once and used both to
// write a header and to read one, and the variants that fill its tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "format/big_endian.hpp"
#include "format/finder_info.hpp"

namespace varnel::format {

// The header as the file holds it (offsets in the comments).
struct MacBinaryHeader {
  /*   0 */ uint8_t old_version;  // 0
  /*   1 */ uint8_t name_length;  // 1 to 63
  /*   2 */ char name[63];
  /*  65 */ char type[4];
  /*  69 */ char creator[4];
  /*  73 */ uint8_t finder_flags_high;
  /*  74 */ uint8_t zero_74;
  /*  75 */ Be16 vertical_position;
  /*  77 */ Be16 horizontal_position;
  /*  79 */ Be16 folder_id;
  /*  81 */ uint8_t protected_flag;
  /*  82 */ uint8_t zero_82;
  /*  83 */ Be32 data_length;
  /*  87 */ Be32 rsrc_length;
  /*  91 */ Be32 created;   // seconds since 1 January 1904
  /*  95 */ Be32 modified;
  /*  99 */ Be16 comment_length;
  /* 101 */ uint8_t finder_flags_low;  // MacBinary II and III
  /* 102 */ char signature[4];         // "mBIN" in MacBinary III
  /* 106 */ uint8_t script;
  /* 107 */ uint8_t extended_flags;
  /* 108 */ uint8_t unused[8];
  /* 116 */ Be32 unpacked_length;
  /* 120 */ Be16 secondary_header_length;
  /* 122 */ uint8_t version;          // 129 MacBinary II, 130 MacBinary III
  /* 123 */ uint8_t minimum_version;  // 129
  /* 124 */ Be16 crc;                 // CRC-16/XMODEM of bytes 0 to 123
  /* 126 */ uint8_t reserved[2];
};
static_assert(sizeof(MacBinaryHeader) == 128);
static_assert(offsetof(MacBinaryHeader, type) == 65);
static_assert(offsetof(MacBinaryHeader, finder_flags_high) == 73);
static_assert(offsetof(MacBinaryHeader, data_length) == 83);
static_assert(offsetof(MacBinaryHeader, rsrc_length) == 87);
static_assert(offsetof(MacBinaryHeader, created) == 91);
static_assert(offsetof(MacBinaryHeader, comment_length) == 99);
static_assert(offsetof(MacBinaryHeader, finder_flags_low) == 101);
static_assert(offsetof(MacBinaryHeader, signature) == 102);
static_assert(offsetof(MacBinaryHeader, version) == 122);
static_assert(offsetof(MacBinaryHeader, crc) == 124);

inline constexpr size_t kMacBinaryHeaderSize = sizeof(MacBinaryHeader);
// Forks start on 128-byte boundaries.
inline constexpr int64_t kMacBinaryBlockSize = 128;
inline constexpr size_t kMacBinaryCrcCovered = offsetof(MacBinaryHeader, crc);
inline constexpr size_t kMacBinaryMaxNameLength = sizeof(MacBinaryHeader::name);
inline constexpr uint8_t kMacBinaryIIVersion = 129;
inline constexpr uint8_t kMacBinaryIIIVersion = 130;
inline constexpr char kMacBinaryIIISignature[4] = {'m', 'B', 'I', 'N'};
// The classic header ends with the 32-bit value 76 at 99, over the fields
// that later variants define there.
inline constexpr size_t kClassicMarkerOffset = offsetof(MacBinaryHeader, comment_length);
inline constexpr uint32_t kClassicMarker = 76;
// The header's fields a reader needs: up to the resource fork length.
inline constexpr size_t kMacBinaryLengthsEnd = offsetof(MacBinaryHeader, created);

// Same values as MACBIN_FORMAT_CLASSIC, _II and _III.
enum class MacBinaryVariant : int32_t { kClassic = 1, kII = 2, kIII = 3 };

// Where a fork of a file with a data fork of `data_length` bytes starts.
inline constexpr int64_t macbinary_data_start() { return kMacBinaryBlockSize; }
inline constexpr int64_t macbinary_rsrc_start(uint32_t data_length) {
  return kMacBinaryBlockSize +
         (int64_t{data_length} + kMacBinaryBlockSize - 1) / kMacBinaryBlockSize * kMacBinaryBlockSize;
}
// Zero bytes that bring `length` up to a multiple of the block size.
inline constexpr int64_t macbinary_padding(int64_t length) {
  return (kMacBinaryBlockSize - length % kMacBinaryBlockSize) % kMacBinaryBlockSize;
}

// What a writer puts into a header.
struct MacBinaryFields {
  std::string_view name;  // cut to 63 characters
  char type[4];           // NUL-padded when shorter
  char creator[4];
  uint16_t finder_flags;
  uint32_t data_length;
  uint32_t rsrc_length;
  uint32_t created;
  uint32_t modified;
  // The icon's place and the folder, as FInfo holds them from byte 10.
  uint8_t place[kFinderPlaceBytes];
};

// The header bytes of `variant` (classic or II): every field, the MacBinary
// II low flag byte and the CRC included.
void write_macbinary_header(const MacBinaryFields &fields, MacBinaryVariant variant,
                            std::span<uint8_t, kMacBinaryHeaderSize> out);

// What a reader learns from a header.  Texts are NUL-terminated.
struct MacBinaryFacts {
  MacBinaryVariant variant;
  int32_t crc_state;  // 1 matches, 0 does not, -1 classic (no CRC field)
  uint16_t crc_stored;
  uint16_t crc_computed;
  uint16_t finder_flags;  // all 16 bits: the low byte only from II and III
  uint32_t data_length;
  uint32_t rsrc_length;
  uint32_t created;
  uint32_t modified;
  uint8_t name_length;  // as stored (may exceed 63 in a damaged header)
  char name[64];        // at most 63 characters
  char type[5];
  char creator[5];
  // The whole Finder information the header holds: type, creator, flags,
  // place and folder; MacBinary III also the script and extended flags.
  FinderInfoBlock finder_info;
  // MacBinary II and III: bytes of a secondary header after the main one
  // (0 without); the data fork starts after it, on the next 128 bytes.
  uint16_t secondary_header_length;
};

// Reads any 128 bytes as a header: MacBinary III by its signature,
// MacBinary II by a version byte, else classic (MacBinary I).  Judges
// nothing else: see macbinary_header_is_plausible.
MacBinaryFacts read_macbinary_header(std::span<const uint8_t, kMacBinaryHeaderSize> bytes);

// The checks of the original MacBinary definition that every writer
// meets: bytes 0 and 82 zero and a name of 1 to 63 characters.  Byte 74,
// zero there too, is left out: writers that store the whole Finder flags
// word (this library's among them) put the low byte there.
bool macbinary_header_is_plausible(std::span<const uint8_t, kMacBinaryHeaderSize> bytes);

}  // namespace varnel::format
