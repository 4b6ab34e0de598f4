// MacBin_EncodePNG: the decoders' pixels as PNG files, so that every host
// writes the same files the tool does without an image library of its own.
#include <string>

#include "frame/internal.hpp"
#include "imagefile/builtin_reader.hpp"
#include "varnel.h"

static_assert(offsetof(MacBinPNGOptions, text_count) == 4 && offsetof(MacBinPNGOptions, keys) == 8 &&
                  offsetof(MacBinPNGOptions, texts) == 8 + sizeof(void *) &&
                  offsetof(MacBinPNGOptions, rows_written) == 8 + 2 * sizeof(void *) &&
                  offsetof(MacBinPNGOptions, rows_context) == 8 + 3 * sizeof(void *),
              "MacBinPNGOptions: two words, then four pointers");

namespace {

int32_t error_code_of(varnel::imagefile::PngFailure failure) {
  using varnel::imagefile::PngFailure;
  switch (failure) {
    case PngFailure::kSinkRefused:
      return MACBIN_ERR_IO;
    case PngFailure::kMemory:
      return MACBIN_ERR_MEMORY;
    case PngFailure::kNoLibrary:
      return MACBIN_ERR_UNSUPPORTED;
    default:
      return MACBIN_ERR_ARGUMENT;
  }
}

}  // namespace

extern "C" int32_t MacBin_EncodePNG(const MacBinPixels *pixels, const MacBinPNGOptions *options, MacBinPNGSink sink,
                                    void *context) {
  static constexpr MacBinPNGOptions kDefaults{MACBIN_PNG_FAST, 0, nullptr, nullptr, nullptr, nullptr};
  if (pixels == nullptr) {
    record_error(MACBIN_ERR_ARGUMENT, "bad image size");
    return 0;
  }
  std::string reason;
  const auto failure =
      varnel::imagefile::encode_png(*pixels, options != nullptr ? *options : kDefaults, sink, context, reason);
  if (failure == varnel::imagefile::PngFailure::kNone) return 1;
  record_error(error_code_of(failure), reason.c_str());
  return 0;
}
