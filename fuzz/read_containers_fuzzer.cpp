// Arbitrary bytes as any container MacBin_OpenR reads, and every read call
// on what opens.  The first byte chooses the layout: one file (its name
// ending in ".rsrc" or not), or an AppleDouble pair, the rest of the input
// split into the data file and the header file "._pair" beside it, opened
// through either.  Whatever opens must answer every call within the facts
// it gives: the whole data fork readable, every resource's data inside the
// resource fork, no resources when rsrc_state is not 1.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_session.hpp"
#include "tessel.h"
#include "varnel.h"

namespace {

#define REQUIRE(condition)          \
  do {                              \
    if (!(condition)) std::abort(); \
  } while (0)

struct Scratch {
  varnel_fuzz::Session session{"read-containers"};
  std::string single = session.file("input");
  std::string fork = session.file("input.rsrc");
  std::string data = session.file("pair");
  std::string header = session.file("._pair");
  Scratch() { varnel_fuzz::silence_messages(); }
};

Scratch &scratch() {
  static Scratch instance;
  return instance;
}

void write_bytes(const std::string &path, const uint8_t *data, size_t size) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

int32_t handler_calls = 0;

// Reads what the handler is told is there, as a processor would.
int32_t read_in_handler(MacBinChannel *channel, int32_t data_pos, int32_t data_length) {
  ++handler_calls;
  REQUIRE(fgetp(channel->file) == data_pos);
  REQUIRE(data_length >= 0);
  std::vector<uint8_t> bytes(static_cast<size_t>(std::min(data_length, 4096)));
  if (!bytes.empty()) fgetm(channel->file, bytes.data(), static_cast<int64_t>(bytes.size()));
  return 0;
}

void check_channel(MacBinChannel *channel, uint64_t input_size) {
  MacBinFileInfo info;
  REQUIRE(MacBin_GetFileInfo(channel, &info) == 1);
  REQUIRE(info.format >= MACBIN_FORMAT_CLASSIC && info.format <= MACBIN_FORMAT_BINHEX);
  REQUIRE(info.crc_state >= -1 && info.crc_state <= 1);
  REQUIRE(info.rsrc_state >= -1 && info.rsrc_state <= 1);
  for (const uint32_t word : info.reserved) REQUIRE(word == 0);
  REQUIRE(std::memchr(info.name, 0, sizeof info.name) != nullptr);
  REQUIRE(info.type[4] == '\0' && info.creator[4] == '\0');
  if (info.rsrc_length == 0) REQUIRE(info.rsrc_state == 0);
  if (info.rsrc_state != 1) REQUIRE(channel->type_count == 0 && channel->types == nullptr);
  // Only BinHex's runs make forks longer than the input.
  if (info.format != MACBIN_FORMAT_BINHEX) REQUIRE(info.data_length <= input_size);

  int32_t offset = -1, length = -1;
  MacBin_GetDataBlockParams(channel, &offset, &length);
  REQUIRE(offset >= 0 && length == static_cast<int32_t>(info.data_length));
  MacBin_GetResourceBlockParams(channel, &offset, &length);
  REQUIRE(offset >= 0 && length >= 0);

  // Every opened file holds its whole data fork.
  std::vector<uint8_t> piece(65536);
  int64_t read = 0;
  for (;;) {
    const int32_t got = MacBin_ReadDataFork(channel, read, piece.data(),
                                            static_cast<int32_t>(piece.size()));
    REQUIRE(got >= 0);
    if (got == 0) break;
    read += got;
  }
  REQUIRE(read == int64_t{info.data_length});
  REQUIRE(MacBin_ReadDataFork(channel, read + 1, piece.data(), 1) == -1);

  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    for (int32_t r = 0; r < entry.count; ++r) {
      const int32_t size = MacBin_ReadResourceData(channel, &entry.refs[r], nullptr, 0);
      REQUIRE(size >= -1);
      if (size <= 0) continue;
      REQUIRE(static_cast<uint32_t>(size) <= info.rsrc_length);
      std::vector<uint8_t> bytes(static_cast<size_t>(size));
      REQUIRE(MacBin_ReadResourceData(channel, &entry.refs[r], bytes.data(), size) == size);
    }
  }
  char type[5] = {0, 0, 0, 0, 0};
  for (int32_t t = 0; t < channel->type_count; ++t) {
    REQUIRE(MacBin_GetIndType(channel, type, t) == t);
    MacBin_GetIndResource(channel, type, 0);
    MacBin_GetResourceCount(channel, type, 0, 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Scratch &files = scratch();
  static const bool registered = MacBin_AddProcessor("****", read_in_handler, nullptr) == 0;
  if (!registered || size == 0) return 0;
  const uint8_t layout = data[0] & 3;
  ++data;
  --size;

  std::remove(files.single.c_str());
  std::remove(files.fork.c_str());
  std::remove(files.data.c_str());
  std::remove(files.header.c_str());
  std::string opened;
  if (layout < 2) {
    opened = layout == 0 ? files.single : files.fork;
    write_bytes(opened, data, size);
  } else {
    // Two bytes say where the data file ends and the header file starts.
    if (size < 2) return 0;
    const size_t split = std::min<size_t>((size_t{data[0]} << 8) | data[1], size - 2);
    write_bytes(files.data, data + 2, split);
    write_bytes(files.header, data + 2 + split, size - 2 - split);
    opened = layout == 2 ? files.data : files.header;
  }

  MacBinChannel *channel = MacBin_OpenR(opened.c_str());
  if (channel == nullptr) return 0;
  check_channel(channel, size);
  MacBin_Close(channel);
  return 0;
}
