// The listing's readable forms of the Finder resources (vers, FREF, BNDL
// and the owner resource) on arbitrary bytes: each must give a text and a
// JSON object that `list --json` can print (valid UTF-8: dump() throws
// otherwise), whatever the data, never a crash or an endless loop.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>

#include "common/resource_text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  // "VARN" with ID 0 is the owner resource of a file whose creator is VARN.
  for (const char *type : {"vers", "FREF", "BNDL", "VARN"}) {
    const std::optional<varnel_tool::DecodedResource> decoded =
        varnel_tool::decode_resource(type, 0, bytes, "VARN");
    if (!decoded || !decoded->json.is_object()) std::abort();
    (void)decoded->json.dump();
  }
  return 0;
}
