// The listing's JSON forms of the Finder resources (vers, FREF, BNDL and
// the owner resource) on arbitrary bytes: each must give a JSON object
// that `list --json` can print (valid UTF-8: dump() throws
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
    const std::optional<varnel_tool::JsonValue> fields = varnel_tool::resource_fields(type, 0, bytes, "VARN");
    if (!fields || !fields->is_object()) std::abort();
    (void)fields->dump();
  }
  return 0;
}
