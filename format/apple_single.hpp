// Private to the library: never installed.
//
// AppleSingle and AppleDouble, version 2: a 26-byte header, a table of
// entries (id, offset from the file's start, length), and the entries'
// bytes wherever the table says.  AppleSingle carries both forks in one
// file; AppleDouble keeps the data fork in a file of its own and everything
// else in a header file ("._NAME" beside it).  The records are declared
// once and serve both the writer and the reader.
//
// What the writer lays out (AppleSingle; AppleDouble has no data fork entry):
//   0        header: magic, version, 16 zero bytes, entry count
//   26       entries: real name, Finder info, file dates, data fork, resource fork
//   +12 each the real name (no length byte), Finder info (32), dates (16),
//            then the data fork and the resource fork
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "format/big_endian.hpp"
#include "format/finder_info.hpp"
#include "format/mac_dates.hpp"

namespace varnel::format {

struct AppleSingleHeader {
  /*  0 */ Be32 magic;
  /*  4 */ Be32 version;
  /*  8 */ uint8_t filler[16];  // zero in version 2
  /* 24 */ Be16 entry_count;
};
static_assert(sizeof(AppleSingleHeader) == 26);
static_assert(offsetof(AppleSingleHeader, entry_count) == 24);

struct AppleSingleEntry {
  /* 0 */ Be32 id;
  /* 4 */ Be32 offset;  // from the start of the file
  /* 8 */ Be32 length;
};
static_assert(sizeof(AppleSingleEntry) == 12);

// Entry 9: the Finder's FInfo (type, creator, flags, location, folder)
// and FXInfo, which the writer leaves zero.
struct AppleFinderInfo {
  /*  0 */ char type[4];
  /*  4 */ char creator[4];
  /*  8 */ Be16 flags;
  /* 10 */ Be16 vertical_position;
  /* 12 */ Be16 horizontal_position;
  /* 14 */ Be16 folder;
  /* 16 */ uint8_t extended[16];
};
static_assert(sizeof(AppleFinderInfo) == 32);
static_assert(offsetof(AppleFinderInfo, flags) == 8);

// Entry 8: signed seconds from 1 January 2000, 00:00 UTC.
struct AppleFileDates {
  /*  0 */ Be32 created;
  /*  4 */ Be32 modified;
  /*  8 */ Be32 backed_up;
  /* 12 */ Be32 accessed;
};
static_assert(sizeof(AppleFileDates) == 16);

inline constexpr uint32_t kAppleSingleMagic = 0x00051600;
inline constexpr uint32_t kAppleDoubleMagic = 0x00051607;
inline constexpr uint32_t kAppleVersion2 = 0x00020000;
// The version 1 layout differs only in the filler, which named the host
// file system; readers accept it.
inline constexpr uint32_t kAppleVersion1 = 0x00010000;

enum AppleEntryId : uint32_t {
  kAppleDataFork = 1,
  kAppleResourceFork = 2,
  kAppleRealName = 3,
  kAppleFileDates = 8,
  kAppleFinderInfo = 9,
};

// A date the file does not know.
inline constexpr uint32_t kAppleUnknownDate = 0x80000000u;

// What an AppleDouble header file's name puts before the name of the file
// it describes ("._NAME" beside "NAME").
inline constexpr std::string_view kAppleDoublePrefix = "._";

// A Macintosh date as the entry holds it; dates before December 1931 do not
// fit 32 signed bits after 2000 and become "unknown".
int32_t apple_date_from_macintosh(uint32_t macintosh_date);
// The Macintosh date of an entry's date; false for "unknown" and for dates
// outside what the 32-bit Macintosh date can hold.
bool macintosh_date_from_apple(int32_t apple_date, uint32_t *macintosh_date);

enum class AppleVariant : int32_t { kSingle, kDouble };

// What a writer puts into the leading part of a file (header, entries,
// name, Finder info, dates).
struct AppleFields {
  AppleVariant variant;
  std::string_view name;  // cut to 255 bytes
  char type[4];
  char creator[4];
  uint16_t finder_flags;
  uint32_t created;  // Macintosh dates
  uint32_t modified;
  uint32_t data_length;  // AppleSingle only
  uint32_t rsrc_length;
  // The Finder information to store; type, creator and flags above go over
  // its own.
  FinderInfoBlock finder_info;
};

// Bytes before the first fork: where the data fork (AppleSingle) or the
// resource fork (AppleDouble) starts.
size_t apple_prefix_size(AppleVariant variant, size_t name_length);

// Writes the leading part into `out`, which must hold exactly
// apple_prefix_size(variant, name length) bytes (otherwise nothing is
// written and false is returned).  The forks follow it: AppleSingle the data
// fork, then the resource fork; AppleDouble the resource fork.
bool write_apple_prefix(const AppleFields &fields, std::span<uint8_t> out);

enum class AppleParseStatus : int32_t {
  kOk,
  kNotApple,           // neither magic, or fewer than 26 bytes
  kUnknownVersion,     // a magic with a version other than 1 and 2
  kEntriesTruncated,   // the entry table runs past the bytes given
  kEntryOutsideFile,   // an entry's bytes run past the file's length
  kEntryNotInHeader,   // a name, Finder info or dates entry past the bytes given
  kDuplicateEntry,     // a fork, name, Finder info or dates entry twice
  kForkTooLong,        // a fork longer than the 32 bits the other formats hold
};

// What a reader learns from the leading bytes of a file.  Absent entries
// leave their `has_` false and their fields zero.
struct AppleFacts {
  AppleVariant variant;
  uint32_t version;
  uint16_t entry_count;
  bool has_data_fork;
  uint32_t data_offset;
  uint32_t data_length;
  bool has_rsrc_fork;
  uint32_t rsrc_offset;
  uint32_t rsrc_length;
  bool has_name;
  uint8_t name_length;  // at most 63: longer names are cut
  char name[64];
  bool has_finder_info;
  char type[5];
  char creator[5];
  uint16_t finder_flags;
  FinderInfoBlock finder_info;  // as stored (a short entry's rest zero)
  bool has_dates;
  int32_t created;  // as stored: signed seconds from 2000
  int32_t modified;
};

// Parses `bytes`, the leading bytes of a file of `file_length` bytes (the
// whole file may be given).  Every entry must lie inside the file; the
// name, Finder info and dates entries are read, so they must lie inside
// `bytes`.  Unknown entry ids are skipped.  Reads nothing outside `bytes`;
// `facts` is filled only when the status is kOk.
AppleParseStatus parse_apple_header(std::span<const uint8_t> bytes, uint64_t file_length,
                                    AppleFacts *facts);

}  // namespace varnel::format
