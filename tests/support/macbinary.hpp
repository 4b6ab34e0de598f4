// MacBinary files for the tests, written from the format's definition and
// not from the library's code: a builder for files other writers make
// (foreign map orders, MacBinary III, damaged fields), a parser that reads
// any file back into plain facts, and the header CRC.
//
// The layout both use (offsets in the header):
//     0  version 0            65 file type (4)      83 data fork length (32)
//     1  name length (1)      69 creator (4)        87 resource fork length (32)
//     2  name (63)            73 Finder flags (16)  91 created, 95 modified (32)
//   101  flags' low byte (II and III)   102 "mBIN" (III)
//   122  writer version (129 II, 130 III), 123 reader version (129)
//   124  CRC-16/XMODEM of bytes 0 to 123 (II and III)
// The data fork follows at 128, padded with zeros to a multiple of 128; then
// the resource fork: its 16-byte header (data offset, map offset, data
// length, map length), the resources' data (each a 32-bit length and the
// bytes) and the map: a copy of the fork header, 8 reserved bytes, attributes
// (16), the type list and name list offsets (16 each, from the map), the type
// list (count - 1, then per type: code, resources - 1, reference list offset
// from the type list), the reference lists (ID, name offset or FFFF,
// attributes, 24-bit data offset, 4 reserved) and the names (length + text).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/support.hpp"

namespace vt {

// CRC-16/XMODEM bit by bit: polynomial 0x1021, initial value 0, no reflection.
uint16_t crc16_xmodem(const uint8_t *data, size_t size);
// Computes the CRC of header bytes 0 to 123 and stores it at 124.
void store_header_crc(Bytes &file);

// ---- Building ---------------------------------------------------------------

struct MbResource {
  uint32_t id;
  std::optional<std::string> name;
  Bytes data;
  uint8_t attributes = 0x20;
};

struct MbType {
  std::string type;  // four characters
  std::vector<MbResource> resources;
};

enum class MbFormat { kClassic, kII, kIII };

// kWriterOrder: type list, reference lists, then every name once per
// reference.  kForeignOrder: the names first (each distinct name once, shared
// by its references), then the type list, then the reference lists in
// reverse type order.
enum class MapOrder { kWriterOrder, kForeignOrder };

struct MacBinaryPlan {
  std::string name = "Demo";
  std::string type = "TEXT";
  std::string creator = "VARN";
  uint16_t flags = 0x0100;
  uint32_t created = 0;
  uint32_t modified = 0;
  Bytes data_fork;
  bool resource_fork = true;  // false: none at all (length 0)
  std::vector<MbType> types;
  MbFormat format = MbFormat::kClassic;
  MapOrder order = MapOrder::kWriterOrder;
  // Damage that patching one field cannot do (everything else: patch the
  // built file at the positions in its layout).
  std::optional<uint16_t> crc;  // stored instead of the right one (II and III)
};

// File positions of the parts of a built file.
struct MacBinaryLayout {
  size_t rsrc_start = 0;                   // the fork header
  size_t map = 0;                          // the map (its copy of the fork header)
  size_t type_list = 0;                    // the type count word
  size_t name_list = 0;                    // the first name's length byte
  std::vector<size_t> type_items;          // each type's 8-byte item
  std::vector<std::vector<size_t>> refs;   // each reference's 12-byte item
  std::vector<std::vector<size_t>> data;   // each resource's length word
};

struct BuiltMacBinary {
  Bytes bytes;
  MacBinaryLayout at;
  // Writes `with` over the file from `pos`.
  BuiltMacBinary &patch(size_t pos, const Bytes &with);
};

BuiltMacBinary build_macbinary(const MacBinaryPlan &plan);

// ---- Parsing ----------------------------------------------------------------

struct ParsedResource {
  std::string type;
  uint32_t id = 0;
  std::optional<std::string> name;
  uint8_t attributes = 0;
  uint32_t data_offset = 0;  // from the start of the resource data
  Bytes data;
};

struct ParsedMacBinary {
  Bytes bytes;
  // Header.
  std::string name;
  std::string type;
  std::string creator;
  uint32_t flags = 0;  // bytes 73 and 74
  uint32_t data_length = 0;
  uint32_t rsrc_length = 0;
  uint32_t created = 0;
  uint32_t modified = 0;
  uint8_t writer_version = 0;  // byte 122
  bool crc_matches = false;    // bytes 124 and 125 hold the CRC of bytes 0 to 123
  // Resource fork: where it and its map start, the map, its name list.
  size_t rsrc_start = 0;
  size_t map_start = 0;
  Bytes map;
  uint32_t name_list_offset = 0;  // from the map's start
  std::vector<std::string> types;         // in type list order
  std::vector<ParsedResource> resources;  // in map order

  Bytes data_fork() const;
  Bytes resource_fork() const;
  const ParsedResource *find(const std::string &resource_type, uint32_t id) const;
  // A resource that must be there: a missing one throws, failing the test.
  const ParsedResource &get(const std::string &resource_type, uint32_t id) const;
};

// Reads header, fork header and map; every access is bounds-checked (a
// std::out_of_range fails the test).  Without a resource fork the map
// fields stay empty.
ParsedMacBinary parse_macbinary(const Bytes &file);
ParsedMacBinary parse_macbinary_file(const std::string &path);

}  // namespace vt
