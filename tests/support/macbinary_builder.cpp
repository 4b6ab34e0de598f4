#include <algorithm>
#include <map>

#include "support/macbinary.hpp"

namespace vt {

uint16_t crc16_xmodem(const uint8_t *data, size_t size) {
  uint32_t crc = 0;
  for (size_t i = 0; i < size; ++i) {
    crc ^= uint32_t{data[i]} << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1;
  }
  return static_cast<uint16_t>(crc);
}

void store_header_crc(Bytes &file) { store_be16(file, 124, crc16_xmodem(file.data(), 124)); }

BuiltMacBinary &BuiltMacBinary::patch(size_t pos, const Bytes &with) {
  bytes = patched(std::move(bytes), pos, with);
  return *this;
}

namespace {

void pad_to_block(Bytes &file) { file.resize((file.size() + 127) / 128 * 128, 0); }

// The map, from its start (the fork header copy is filled in later).
// `data_offsets` are from the resource data; positions in `at` are from the
// map's start until the caller moves them.
Bytes build_map(const MacBinaryPlan &plan, const std::vector<std::vector<uint32_t>> &data_offsets,
                MacBinaryLayout &at) {
  const size_t type_count = plan.types.size();
  // Names and their offsets in the name list.
  Bytes names;
  std::vector<std::vector<uint32_t>> name_offsets(type_count);
  std::map<std::string, uint32_t> written;
  for (size_t t = 0; t < type_count; ++t) {
    for (const MbResource &r : plan.types[t].resources) {
      uint32_t offset = 0xFFFF;
      if (r.name) {
        const auto known = written.find(*r.name);
        if (plan.order == MapOrder::kForeignOrder && known != written.end()) {
          offset = known->second;
        } else {
          offset = static_cast<uint32_t>(names.size());
          written[*r.name] = offset;
          names.push_back(static_cast<uint8_t>(r.name->size()));
          names.insert(names.end(), r.name->begin(), r.name->end());
        }
      }
      name_offsets[t].push_back(offset);
    }
  }
  std::vector<Bytes> ref_lists(type_count);
  for (size_t t = 0; t < type_count; ++t) {
    for (size_t r = 0; r < plan.types[t].resources.size(); ++r) {
      const MbResource &res = plan.types[t].resources[r];
      append_be16(ref_lists[t], res.id);
      append_be16(ref_lists[t], name_offsets[t][r]);
      ref_lists[t].push_back(res.attributes);
      append_be24(ref_lists[t], data_offsets[t][r]);
      append_be32(ref_lists[t], 0);
    }
  }
  // The order the reference lists are stored in, and their offsets from the type list.
  std::vector<size_t> stored(type_count);
  for (size_t i = 0; i < type_count; ++i)
    stored[i] = plan.order == MapOrder::kWriterOrder ? i : type_count - 1 - i;
  std::vector<size_t> ref_offsets(type_count);
  size_t next = 2 + 8 * type_count;
  for (size_t t : stored) {
    ref_offsets[t] = next;
    next += ref_lists[t].size();
  }
  Bytes type_list;
  append_be16(type_list, type_count == 0 ? 0xFFFF : static_cast<uint32_t>(type_count - 1));
  for (size_t t = 0; t < type_count; ++t) {
    const std::string &type = plan.types[t].type;
    type_list.insert(type_list.end(), type.begin(), type.end());
    append_be16(type_list, static_cast<uint32_t>(plan.types[t].resources.size() - 1));
    append_be16(type_list, static_cast<uint32_t>(ref_offsets[t]));
  }

  Bytes map(28, 0);
  if (plan.order == MapOrder::kForeignOrder) {
    at.name_list = map.size();
    map.insert(map.end(), names.begin(), names.end());
  }
  at.type_list = map.size();
  map.insert(map.end(), type_list.begin(), type_list.end());
  for (size_t t : stored) map.insert(map.end(), ref_lists[t].begin(), ref_lists[t].end());
  if (plan.order == MapOrder::kWriterOrder) {
    at.name_list = map.size();
    map.insert(map.end(), names.begin(), names.end());
  }
  store_be16(map, 24, static_cast<uint32_t>(at.type_list));
  store_be16(map, 26, static_cast<uint32_t>(at.name_list));
  at.type_items.resize(type_count);
  at.refs.resize(type_count);
  for (size_t t = 0; t < type_count; ++t) {
    at.type_items[t] = at.type_list + 2 + 8 * t;
    for (size_t r = 0; r < plan.types[t].resources.size(); ++r)
      at.refs[t].push_back(at.type_list + ref_offsets[t] + 12 * r);
  }
  return map;
}

}  // namespace

BuiltMacBinary build_macbinary(const MacBinaryPlan &plan) {
  BuiltMacBinary built;
  Bytes &file = built.bytes;
  MacBinaryLayout &at = built.at;
  file.assign(128, 0);
  file[1] = static_cast<uint8_t>(plan.name.size());
  std::copy_n(plan.name.begin(), std::min<size_t>(plan.name.size(), 63), file.begin() + 2);
  std::copy_n(plan.type.begin(), std::min<size_t>(plan.type.size(), 4), file.begin() + 65);
  std::copy_n(plan.creator.begin(), std::min<size_t>(plan.creator.size(), 4), file.begin() + 69);
  store_be16(file, 73, plan.flags);
  store_be32(file, 83, static_cast<uint32_t>(plan.data_fork.size()));
  store_be32(file, 91, plan.created);
  store_be32(file, 95, plan.modified);
  file.insert(file.end(), plan.data_fork.begin(), plan.data_fork.end());
  pad_to_block(file);

  if (plan.resource_fork) {
    at.rsrc_start = file.size();
    file.resize(at.rsrc_start + 256, 0);  // fork header and the reserved area
    const size_t rdata = file.size();
    std::vector<std::vector<uint32_t>> data_offsets(plan.types.size());
    at.data.resize(plan.types.size());
    for (size_t t = 0; t < plan.types.size(); ++t) {
      for (const MbResource &r : plan.types[t].resources) {
        at.data[t].push_back(file.size());
        data_offsets[t].push_back(static_cast<uint32_t>(file.size() - rdata));
        append_be32(file, static_cast<uint32_t>(r.data.size()));
        file.insert(file.end(), r.data.begin(), r.data.end());
      }
    }
    at.map = file.size();
    Bytes map = build_map(plan, data_offsets, at);
    for (size_t *pos : {&at.type_list, &at.name_list}) *pos += at.map;
    for (size_t &pos : at.type_items) pos += at.map;
    for (auto &refs : at.refs)
      for (size_t &pos : refs) pos += at.map;
    Bytes fork_header;
    append_be32(fork_header, static_cast<uint32_t>(rdata - at.rsrc_start));
    append_be32(fork_header, static_cast<uint32_t>(at.map - at.rsrc_start));
    append_be32(fork_header, static_cast<uint32_t>(at.map - rdata));
    append_be32(fork_header, static_cast<uint32_t>(map.size()));
    std::copy(fork_header.begin(), fork_header.end(), map.begin());
    std::copy(fork_header.begin(), fork_header.end(), file.begin() + static_cast<long>(at.rsrc_start));
    file.insert(file.end(), map.begin(), map.end());
    store_be32(file, 87, static_cast<uint32_t>(file.size() - at.rsrc_start));
  }

  if (plan.format != MbFormat::kClassic) {
    file[101] = static_cast<uint8_t>(plan.flags);
    if (plan.format == MbFormat::kIII) std::copy_n("mBIN", 4, file.begin() + 102);
    file[122] = plan.format == MbFormat::kIII ? 130 : 129;
    file[123] = 129;
    store_header_crc(file);
    if (plan.crc) store_be16(file, 124, *plan.crc);
    pad_to_block(file);
  }
  return built;
}

}  // namespace vt
