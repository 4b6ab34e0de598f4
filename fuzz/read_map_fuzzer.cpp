// Arbitrary bytes as a MacBinary file: MacBin_OpenR, every query, every
// resource fetched through a read handler that reads its data, and the
// close.  Besides the sanitizers, the fetches are checked against the file:
// a read handler is only ever told of data that lies wholly inside it, with
// the file positioned at its first byte.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tessel.h"
#include "fuzz_session.hpp"
#include "tessel/testing.h"
#include "varnel.h"

namespace {

// The session, and the file each input is written to.
struct Scratch {
  varnel_fuzz::Session session{"read-map"};
  std::string path = session.file("input.bin");
  Scratch() { varnel_fuzz::silence_messages(); }
};

Scratch &scratch() {
  static Scratch instance;
  return instance;
}

size_t input_size = 0;

int32_t read_whole_resource(MacBinChannel *channel, int32_t data_pos, int32_t data_length) {
  if (data_pos < 0 || data_length < 0) std::abort();
  if (static_cast<uint64_t>(data_pos) + static_cast<uint64_t>(data_length) > input_size)
    std::abort();
  if (fgetp(channel->file) != data_pos) std::abort();
  std::vector<uint8_t> data(static_cast<size_t>(data_length));
  if (fgetm(channel->file, data.data(), data_length) != 1) std::abort();
  return 0;
}

void run_every_query(MacBinChannel *channel) {
  int32_t offset = 0;
  int32_t length = 0;
  MacBin_GetDataBlockParams(channel, &offset, &length);
  MacBin_GetResourceBlockParams(channel, &offset, &length);
  MacBinFinderInfo info;
  MacBin_GetFinderInfo(channel, &info);
  if (std::strlen(info.name) > 63) std::abort();

  char type[5] = {0, 0, 0, 0, 0};
  MacBin_GetIndType(channel, type, -1);
  const int32_t type_count = MacBin_GetNrTypes(channel);
  for (int32_t t = 0; t < type_count; ++t) {
    if (MacBin_GetIndType(channel, type, t) != t) std::abort();
    const int32_t count = MacBin_GetNrResources(channel, type);
    if (count < 1) std::abort();
    MacBin_GetResourceCount(channel, type, 0, 0);
    MacBin_GetResourceCount(channel, type, 128, 255);
    MacBin_GetIndResource(channel, type, -1);
    const MacBinTypeEntry &entry = channel->types[t];
    for (int32_t r = 0; r < entry.count; ++r) {
      const MacBinRefEntry &ref = entry.refs[r];
      if (ref.id < 0 || ref.id > 0xFFFF) std::abort();
      MacBin_GetIndResource(channel, type, r);
      MacBin_CheckResource2(channel, type, ref.id, nullptr);
      MacBin_GetResource2(channel, type, ref.id, nullptr);
      if (ref.name_offset != -1) {
        if (ref.name == nullptr || std::strlen(ref.name->text) != ref.name->length ||
            ref.name->length > 127)
          std::abort();
        // The first entry of a repeated type answers for all of them, so
        // the name need not be found here.
        // Asked with the node's own text or with a copy of it: one answer.
        const std::string copy(ref.name->text);
        if (MacBin_CheckResource2(channel, type, -1, ref.name->text) !=
            MacBin_CheckResource2(channel, type, -1, copy.c_str()))
          std::abort();
        MacBin_GetResource2(channel, type, -1, ref.name->text);
      }
    }
  }
  // A type that is not there, and the longest type text.
  MacBin_GetResource2(channel, "\x01\x02\x03\x04 and more", 0, nullptr);
  if (std::strlen(channel->cur_type) > 7) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Scratch &files = scratch();
  static const bool registered = MacBin_AddProcessor("****", read_whole_resource, nullptr) == 0;
  if (!registered) std::abort();

  FILE *file = std::fopen(files.path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  input_size = size;

  MacBinChannel *channel = MacBin_OpenR(files.path.c_str());
  if (channel == nullptr) return 0;
  run_every_query(channel);
  MacBin_Close(channel);
  return 0;
}
