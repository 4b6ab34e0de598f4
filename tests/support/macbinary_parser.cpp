#include <algorithm>
#include <stdexcept>

#include "support/macbinary.hpp"

namespace vt {

namespace {

std::string text_of(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

Bytes ParsedMacBinary::data_fork() const { return slice(bytes, 128, data_length); }

Bytes ParsedMacBinary::resource_fork() const { return slice(bytes, rsrc_start, rsrc_length); }

const ParsedResource *ParsedMacBinary::find(const std::string &resource_type, uint32_t id) const {
  for (const ParsedResource &r : resources)
    if (r.type == resource_type && r.id == id) return &r;
  return nullptr;
}

const ParsedResource &ParsedMacBinary::get(const std::string &resource_type, uint32_t id) const {
  const ParsedResource *r = find(resource_type, id);
  if (r == nullptr) throw std::runtime_error("no resource " + resource_type + " " + std::to_string(id));
  return *r;
}

ParsedMacBinary parse_macbinary(const Bytes &file) {
  ParsedMacBinary f;
  f.bytes = file;
  const Bytes header = slice(file, 0, 128);
  f.name = text_of(slice(header, 2, std::min<size_t>(header[1], 63)));
  f.type = text_of(slice(header, 65, 4));
  f.creator = text_of(slice(header, 69, 4));
  f.flags = be16(header, 73);
  f.data_length = be32(header, 83);
  f.rsrc_length = be32(header, 87);
  f.created = be32(header, 91);
  f.modified = be32(header, 95);
  f.writer_version = header[122];
  f.crc_matches = be16(header, 124) == crc16_xmodem(header.data(), 124);
  f.rsrc_start = 128 + (size_t{f.data_length} + 127) / 128 * 128;
  if (f.rsrc_length == 0) return f;

  // Fork header: data offset, map offset, data length, map length.
  const size_t rdata = f.rsrc_start + be32(file, f.rsrc_start);
  f.map_start = f.rsrc_start + be32(file, f.rsrc_start + 4);
  f.map = slice(file, f.map_start, be32(file, f.rsrc_start + 12));
  const size_t type_list = be16(f.map, 24);
  f.name_list_offset = be16(f.map, 26);
  const uint32_t count_field = be16(f.map, type_list);
  const size_t type_count = count_field == 0xFFFF ? 0 : count_field + 1;
  for (size_t t = 0; t < type_count; ++t) {
    const size_t item = type_list + 2 + 8 * t;
    f.types.push_back(text_of(slice(f.map, item, 4)));
    const size_t count = be16(f.map, item + 4) + 1;
    const size_t list = type_list + be16(f.map, item + 6);
    for (size_t r = 0; r < count; ++r) {
      const size_t ref = list + 12 * r;
      ParsedResource res{f.types.back(), be16(f.map, ref), std::nullopt, f.map.at(ref + 4),
                         be24(f.map, ref + 5), {}};
      if (const uint32_t name_offset = be16(f.map, ref + 2); name_offset != 0xFFFF) {
        const size_t at = f.name_list_offset + name_offset;
        res.name = text_of(slice(f.map, at + 1, f.map.at(at)));
      }
      const size_t data = rdata + res.data_offset;
      res.data = slice(file, data + 4, be32(file, data));
      f.resources.push_back(res);
    }
  }
  return f;
}

ParsedMacBinary parse_macbinary_file(const std::string &path) { return parse_macbinary(read_file(path)); }

}  // namespace vt
