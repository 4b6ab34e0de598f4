// Arbitrary bytes as the stored data of a compressed resource (attribute
// bit 0x01 set): the header and the stream of any decompressor.  They go
// into a bare resource fork as ICN# 128, which is read back through
// MacBin_GetResourceCompression, MacBin_ReadResourceUncompressed (length,
// then bytes; then a short buffer) and MacBin_DecodeResource.  Besides the
// sanitizers, the answers must agree with each other and with the input:
// plain data reads as the input itself, compressed contents have the
// header's length, the two reads give the same bytes, a short buffer gets
// their first bytes and nothing past its capacity.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_session.hpp"
#include "varnel.h"

namespace {

#define REQUIRE(condition)          \
  do {                              \
    if (!(condition)) std::abort(); \
  } while (0)

constexpr uint8_t kGuard = 0xEE;
constexpr size_t kForkHeaderBytes = 16;
constexpr size_t kMapBytes = 28 + 2 + 8 + 12;  // header, type count, one type, one reference

struct Scratch {
  varnel_fuzz::Session session{"decompress"};
  std::string path = session.file("input.rsrc");
  Scratch() { varnel_fuzz::silence_messages(); }
};

void put32(std::vector<uint8_t> &out, size_t at, uint32_t value) {
  out[at] = static_cast<uint8_t>(value >> 24);
  out[at + 1] = static_cast<uint8_t>(value >> 16);
  out[at + 2] = static_cast<uint8_t>(value >> 8);
  out[at + 3] = static_cast<uint8_t>(value);
}

void put16(std::vector<uint8_t> &out, size_t at, uint32_t value) {
  out[at] = static_cast<uint8_t>(value >> 8);
  out[at + 1] = static_cast<uint8_t>(value);
}

// A resource fork holding `data` as ICN# 128 with the compressed bit set.
std::vector<uint8_t> resource_fork(const uint8_t *data, size_t size) {
  const size_t data_length = 4 + size;
  const size_t map = kForkHeaderBytes + data_length;
  std::vector<uint8_t> fork(map + kMapBytes, 0);
  put32(fork, 0, static_cast<uint32_t>(kForkHeaderBytes));
  put32(fork, 4, static_cast<uint32_t>(map));
  put32(fork, 8, static_cast<uint32_t>(data_length));
  put32(fork, 12, static_cast<uint32_t>(kMapBytes));
  put32(fork, kForkHeaderBytes, static_cast<uint32_t>(size));
  if (size > 0) std::memcpy(fork.data() + kForkHeaderBytes + 4, data, size);
  std::memcpy(fork.data() + map, fork.data(), kForkHeaderBytes);  // the map's copy of the header
  put16(fork, map + 24, 28);                                       // type list offset
  put16(fork, map + 26, static_cast<uint32_t>(kMapBytes));         // name list offset (empty)
  put16(fork, map + 28, 0);                                        // one type
  std::memcpy(fork.data() + map + 30, "ICN#", 4);
  put16(fork, map + 34, 0);   // one resource
  put16(fork, map + 36, 10);  // its reference list, from the type list
  put16(fork, map + 38, 128);
  put16(fork, map + 40, 0xFFFF);  // no name
  fork[map + 42] = 0x01 | MACBIN_ATTR_PURGEABLE;
  return fork;  // data offset 0 and the handle are zero already
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Scratch scratch;
  if (size > (1u << 20)) return 0;
  const std::vector<uint8_t> fork = resource_fork(data, size);
  FILE *out = std::fopen(scratch.path.c_str(), "wb");
  REQUIRE(out != nullptr);
  REQUIRE(std::fwrite(fork.data(), 1, fork.size(), out) == fork.size());
  std::fclose(out);

  MacBinChannel *channel = MacBin_OpenR(scratch.path.c_str());
  REQUIRE(channel != nullptr && channel->type_count == 1);
  const MacBinRefEntry *ref = &channel->types[0].refs[0];

  MacBinCompressionInfo info;
  const int32_t stored = MacBin_GetResourceCompression(channel, ref, &info);
  const int32_t length = MacBin_ReadResourceUncompressed(channel, ref, nullptr, 0);
  if (stored == -1) {
    REQUIRE(info.decompressor == 0 && info.stored_length == 0);
    REQUIRE(length == -1);
  } else if (stored == 0) {
    REQUIRE(info.decompressor == -1 && info.stored_length == static_cast<int32_t>(size));
    REQUIRE(length == static_cast<int32_t>(size));
  } else {
    REQUIRE(stored == 1 && info.stored_length == static_cast<int32_t>(size));
    REQUIRE(info.uncompressed_length >= 0 && info.uncompressed_length <= MACBIN_MAX_DATA_OFFSET);
    REQUIRE(length == -1 || length == info.uncompressed_length);
  }

  if (length >= 0) {
    const auto exact = static_cast<size_t>(length);
    std::vector<uint8_t> contents(exact + 16, kGuard);
    REQUIRE(MacBin_ReadResourceUncompressed(channel, ref, contents.data(), length) == length);
    for (size_t i = exact; i < contents.size(); ++i) REQUIRE(contents[i] == kGuard);
    if (stored == 0 && size > 0) REQUIRE(std::memcmp(contents.data(), data, size) == 0);
    // The same contents again, into a buffer of half the length.
    const size_t half = exact / 2;
    std::vector<uint8_t> part(half + 16, kGuard);
    REQUIRE(MacBin_ReadResourceUncompressed(channel, ref, part.data(), static_cast<int32_t>(half)) == length);
    if (half > 0) REQUIRE(std::memcmp(part.data(), contents.data(), half) == 0);
    for (size_t i = half; i < part.size(); ++i) REQUIRE(part[i] == kGuard);
  }

  MacBinPixels pixels{};
  char error[128];
  const int32_t decoded = MacBin_DecodeResource(channel, ref, &pixels, error);
  REQUIRE(decoded == 0 || length >= 0);
  MacBin_FreePixels(&pixels);
  MacBin_Close(channel);
  return 0;
}
