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
#include "resource_file.hpp"
#include "varnel.h"

namespace {

const char *const kTypes[] = {"ICN#", "ICON", "SICN", "ics#", "icm#", "kcs#", "icl4", "icl8",
                              "ics4", "ics8", "icm4", "icm8", "kcs4", "kcs8", "cicn", "CURS",
                              "crsr", "PAT ", "PAT#", "ppat", "ppt#", "clut", "pltt"};
constexpr size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static varnel_fuzz::Session session("resource-decode");
  static const std::string path = session.file("resource.bin");
  if (size < 1 || size > 1 << 16) return 0;
  const char *type = kTypes[data[0] % kTypeCount];
  const char *mask_type = data[0] % 2 ? "ICN#" : "ics#";
  if (std::strcmp(type, "icm4") == 0 || std::strcmp(type, "icm8") == 0) mask_type = "icm#";
  if (std::strcmp(type, "kcs4") == 0 || std::strcmp(type, "kcs8") == 0) mask_type = "kcs#";
  const std::vector<uint8_t> file = varnel_fuzz::file_with(type, mask_type, data + 1, size - 1);
  varnel_fuzz::write_file(path, file);
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
