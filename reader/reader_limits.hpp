// Private to the reader: the layout of what MacBin_OpenR reads, and the
// texts it reports.
#pragma once

#include <cstddef>
#include <cstdint>

// MacBinary header (the reader looks at nothing else in it):
//   1      name length      2..64  name        65..68 file type
//   69..72 creator          73..74 Finder flags (big-endian)
//   83..86 data fork length 87..90 resource fork length
inline constexpr int64_t kNameLengthPos = 1;
inline constexpr int64_t kNamePos = 2;
inline constexpr int64_t kFileTypePos = 65;
inline constexpr int64_t kCreatorPos = 69;
inline constexpr int64_t kFinderFlagsPos = 73;
inline constexpr int64_t kDataForkLengthPos = 83;
inline constexpr int64_t kResourceForkLengthPos = 87;
inline constexpr int64_t kHeaderBytesRead = 91;      // up to the end of the resource fork length
inline constexpr int64_t kBlockSize = 128;           // forks start on 128-byte boundaries
inline constexpr int32_t kMaxFinderNameLength = 63;  // the Finder name field holds 63 + NUL

// Resource fork header: four big-endian 32-bit values.
inline constexpr int64_t kForkHeaderSize = 16;

// Resource map:
//   0..21 copy of the fork header, next-map handle, file reference number
//   22    attributes     24 type list offset     26 name list offset
// type list:  count - 1 (0xFFFF = none), then 8-byte items:
//   type (4), resources - 1 (2), reference list offset from the type list (2)
// reference item (12 bytes):
//   ID (2), name offset (2, 0xFFFF = none), attributes (1), data offset (3),
//   reserved (4)
// name list item: length byte, characters.
inline constexpr size_t kMapTypeListOffsetPos = 24;
inline constexpr size_t kMapNameListOffsetPos = 26;
inline constexpr size_t kMapHeaderSize = 28;
inline constexpr size_t kTypeItemSize = 8;
inline constexpr size_t kReferenceItemSize = 12;
inline constexpr uint32_t kNoTypes = 0xFFFF;
inline constexpr uint32_t kNoName = 0xFFFF;
inline constexpr int32_t kMaxStoredNameLength = 127;

// No item of a map can lie further from its start than the last byte of a
// 65536-item reference list at the largest type list offset plus the largest
// reference list offset, all offsets being 16-bit.  Bytes of a longer map are
// never looked at, so they are never read.
inline constexpr size_t kReachableMapBytes = 0xFFFF + 0xFFFF + kReferenceItemSize * 0x10000;

// Texts reported through the message method (module "MacBin", severity 3).
inline constexpr const char *kTextNoFileName = "No filename specified";
inline constexpr const char *kTextCannotOpen =
    "Could not open output file";  // kept as callers know it
inline constexpr const char *kTextCannotRead = "Could not read input file";
inline constexpr const char *kTextOutOfMemory = "Out Of Memory (reading resource map)";
inline constexpr const char *kTextForkLengthOutOfRange =
    "Fork length in MacBinary header out of range";
inline constexpr const char *kTextForkOutsideFile = "Resource fork lies outside the file";
inline constexpr const char *kTextDataOutsideFile = "Resource data lies outside the file";
inline constexpr const char *kTextMapOutsideFile = "Resource map lies outside the file";
inline constexpr const char *kTextMapTooShort = "Resource map too short";
inline constexpr const char *kTextTypeListOutsideMap = "Type list lies outside the resource map";
inline constexpr const char *kTextTypeCountTooLarge = "Type count does not fit the resource map";
inline constexpr const char *kTextRefListOutsideMap =
    "Reference list lies outside the resource map";
inline constexpr const char *kTextRefCountsTooLarge =
    "Reference counts do not fit the resource map";
inline constexpr const char *kTextNameOutsideMap = "Resource name lies outside the resource map";
