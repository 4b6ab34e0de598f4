// A MacBinary file with a resource of each of two types, both holding the
// fuzzer's bytes, for the targets that read resources through a channel.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace varnel_fuzz {

inline void put16(std::vector<uint8_t> &out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
inline void put32(std::vector<uint8_t> &out, uint32_t v) {
  put16(out, v >> 16);
  put16(out, v & 0xFFFF);
}

// A MacBinary file (type TEXT, creator VARN) with one resource of `type`
// and one of `mask_type`, both of ID `id`.
inline std::vector<uint8_t> file_with(const char *type, const char *mask_type, const uint8_t *data, size_t size,
                                      uint16_t id = 128) {
  std::vector<uint8_t> rdata;
  for (int i = 0; i < 2; ++i) {
    put32(rdata, static_cast<uint32_t>(size));
    rdata.insert(rdata.end(), data, data + size);
  }
  std::vector<uint8_t> map(16 + 4 + 2 + 2 + 2 + 2, 0);  // fork header copy, handle, file, attributes, two offsets
  map[24] = 0; map[25] = 28;  // type list offset, from the map
  map[26] = 0; map[27] = 0;   // name list (none)
  put16(map, 1);              // two types
  for (int t = 0; t < 2; ++t) {
    const char *name = t == 0 ? type : mask_type;
    map.insert(map.end(), name, name + 4);
    put16(map, 0);
    put16(map, static_cast<uint32_t>(2 + 16 + 12 * t));
  }
  for (int t = 0; t < 2; ++t) {
    put16(map, id);
    put16(map, 0xFFFF);
    map.push_back(0);
    const uint32_t offset = static_cast<uint32_t>(static_cast<size_t>(t) * (size + 4));
    map.push_back(static_cast<uint8_t>(offset >> 16));
    put16(map, offset & 0xFFFF);
    put32(map, 0);
  }
  map[26] = static_cast<uint8_t>(map.size() >> 8);
  map[27] = static_cast<uint8_t>(map.size());
  std::vector<uint8_t> fork;
  put32(fork, 256);
  put32(fork, static_cast<uint32_t>(256 + rdata.size()));
  put32(fork, static_cast<uint32_t>(rdata.size()));
  put32(fork, static_cast<uint32_t>(map.size()));
  fork.resize(256, 0);
  fork.insert(fork.end(), rdata.begin(), rdata.end());
  std::copy(fork.begin(), fork.begin() + 16, map.begin());
  fork.insert(fork.end(), map.begin(), map.end());

  std::vector<uint8_t> file(128, 0);
  file[1] = 1;
  file[2] = 'F';
  std::memcpy(&file[65], "TEXTVARN", 8);
  file[87] = static_cast<uint8_t>(fork.size() >> 24);
  file[88] = static_cast<uint8_t>(fork.size() >> 16);
  file[89] = static_cast<uint8_t>(fork.size() >> 8);
  file[90] = static_cast<uint8_t>(fork.size());
  file.insert(file.end(), fork.begin(), fork.end());
  return file;
}

// Writes `file` to `path`, replacing it; a failure ends the run.
inline void write_file(const std::string &path, const std::vector<uint8_t> &file) {
  FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size()) std::abort();
  std::fclose(out);
}

}  // namespace varnel_fuzz
