// The descriptions of the Finder resources (vers, FREF, BNDL and the owner
// resource) on arbitrary bytes, as a line and as JSON fields: each must be
// given or refused with a reason, never a crash or an endless loop, and the
// fields must be one JSON object.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_session.hpp"
#include "resource_file.hpp"
#include "varnel.h"

namespace {

using DescribeCall = int32_t (*)(MacBinChannel *, const MacBinRefEntry *, char *, int32_t);

void describe_each(MacBinChannel *channel, DescribeCall describe, bool json) {
  for (int32_t t = 0; t < channel->type_count; ++t) {
    for (int32_t r = 0; r < channel->types[t].count; ++r) {
      const MacBinRefEntry *ref = &channel->types[t].refs[r];
      const int32_t length = describe(channel, ref, nullptr, 0);
      if (length <= 0) continue;
      std::string text(static_cast<size_t>(length) + 1, '\0');
      if (describe(channel, ref, text.data(), length + 1) != length) std::abort();
      if (json && (text[0] != '{' || text[static_cast<size_t>(length) - 1] != '}')) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static varnel_fuzz::Session session("resource-text");
  static const std::string path = session.file("finder.bin");
  if (size > 1 << 16) return 0;
  // "VARN" ID 0 is the owner resource of the file, whose creator is VARN.
  for (const uint16_t id : {uint16_t{128}, uint16_t{0}}) {
    const std::vector<uint8_t> file =
        varnel_fuzz::file_with(id != 0 ? "vers" : "BNDL", id != 0 ? "FREF" : "VARN", data, size, id);
    varnel_fuzz::write_file(path, file);
    MacBinChannel *channel = MacBin_OpenR(path.c_str());
    if (channel == nullptr) continue;
    describe_each(channel, MacBin_DescribeResource, false);
    describe_each(channel, MacBin_DescribeResourceFields, true);
    MacBin_Close(channel);
  }
  return 0;
}
