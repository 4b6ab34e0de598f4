// The library's own image-file reader and PNG encoder, for the rest of the
// library: the frame tries the built-in reader after the host's, the
// decoders' PNG output calls the encoder.  Nothing here reaches back into
// the frame.
#pragma once

#include <cstdint>
#include <string>

#include "varnel.h"

namespace varnel::imagefile {

// The formats the built-in reader takes, for messages.
inline constexpr const char *kBuiltinImageFormats = "PNG, netpbm";

// The built-in reader as a host's would be registered: PNG and netpbm
// files by their first bytes; any other file is MACBIN_IMAGE_NOT_MINE.
// Its callbacks throw nothing.
const MacBinImageFileReader &builtin_image_file_reader();

// What went wrong in encode_png.
enum class PngFailure { kNone, kArgument, kSinkRefused, kMemory, kEncoder, kNoLibrary };

// Encodes `pixels` as a PNG file handed to `sink` piece by piece (see
// MacBin_EncodePNG).  On failure `reason` says why in one line.  Throws
// nothing.
PngFailure encode_png(const MacBinPixels &pixels, const MacBinPNGOptions &options, MacBinPNGSink sink, void *context,
                      std::string &reason) noexcept;

}  // namespace varnel::imagefile
