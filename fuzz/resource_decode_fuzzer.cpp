// The icon, cursor, pattern and colour table decoders on arbitrary bytes,
// through MacBin_DecodeResource: the first byte chooses the type, the rest
// is the resource's data, written with a mask resource of the same ID (the
// same bytes) into a MacBinary file that is read back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_session.hpp"
#include "varnel.h"

namespace {

const char *const kTypes[] = {"ICN#", "ICON", "SICN", "ics#", "icm#", "kcs#", "icl4", "icl8",
                              "ics4", "ics8", "icm4", "icm8", "kcs4", "kcs8", "cicn", "CURS",
                              "crsr", "PAT ", "PAT#", "ppat", "ppt#", "clut", "pltt"};
constexpr size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];

void put16(std::vector<uint8_t> &out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
void put32(std::vector<uint8_t> &out, uint32_t v) {
  put16(out, v >> 16);
  put16(out, v & 0xFFFF);
}

// A MacBinary file with one resource of `type` and one of `mask_type`, ID 128.
std::vector<uint8_t> file_with(const char *type, const char *mask_type, const uint8_t *data, size_t size) {
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
    put16(map, 128);
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static varnel_fuzz::Session session("resource-decode");
  static const std::string path = session.file("resource.bin");
  if (size < 1 || size > 1 << 16) return 0;
  const char *type = kTypes[data[0] % kTypeCount];
  const char *mask_type = data[0] % 2 ? "ICN#" : "ics#";
  if (std::strcmp(type, "icm4") == 0 || std::strcmp(type, "icm8") == 0) mask_type = "icm#";
  if (std::strcmp(type, "kcs4") == 0 || std::strcmp(type, "kcs8") == 0) mask_type = "kcs#";
  const std::vector<uint8_t> file = file_with(type, mask_type, data + 1, size - 1);
  FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) std::abort();
  std::fwrite(file.data(), 1, file.size(), out);
  std::fclose(out);
  MacBinChannel *channel = MacBin_OpenR(path.c_str());
  if (channel == nullptr) return 0;
  for (int32_t t = 0; t < channel->type_count; ++t)
    for (int32_t r = 0; r < channel->types[t].count; ++r) {
      MacBinPixels pixels{};
      char error[128];
      const int32_t result = MacBin_DecodeResource(channel, &channel->types[t].refs[r], &pixels, error);
      if (result == 1) {
        if (pixels.rgba == nullptr || pixels.width <= 0) std::abort();
        volatile uint8_t last = pixels.rgba[static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height) * 4 - 1];
        (void)last;
      } else if (pixels.rgba != nullptr || error[0] == '\0') {
        std::abort();
      }
      MacBin_FreePixels(&pixels);
    }
  MacBin_Close(channel);
  return 0;
}
