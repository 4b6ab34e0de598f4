// Private to the library: never installed.
//
// PICT files: a 512-byte header that belongs to the program that wrote it
// (zeros, as often as not), then the picture exactly as a PICT resource
// holds it.  Some programs leave the header out.  The one rule that tells
// a PICT file, for the file check and for hosts (MacBin_FindPictFilePicture).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "varnel.h"

namespace varnel::format {

inline constexpr size_t kPictFileHeaderBytes = MACBIN_PICT_FILE_HEADER_BYTES;
// The bytes that decide: the header, then a picture's size word, frame and
// version opcode (version 2's four bytes).
inline constexpr size_t kPictFileDecidingBytes = MACBIN_PICT_FILE_PROBE_BYTES;
static_assert(kPictFileDecidingBytes == kPictFileHeaderBytes + 14);

// Where the picture starts in a PICT file: kPictFileHeaderBytes when a
// picture follows the header (its version opcode after its size word and
// frame), else 0 when the file itself starts with one, else nothing.  The
// header wins when both could hold: it is what the format prescribes.
// `file` may be the whole file or only its first kPictFileDecidingBytes.
std::optional<size_t> find_picture_in_pict_file(std::span<const uint8_t> file);

// What a picture's first bytes say of it: its version, its frame and, for
// an extended version 2 header (the header opcode with version -2), the
// resolution it was drawn at, as 16.16 dots per inch.
struct PictureHeader {
  int32_t version = 0;  // 1 or 2
  int16_t top = 0, left = 0, bottom = 0, right = 0;
  bool resolution_stated = false;
  int32_t horizontal_dpi_fixed = 0;
  int32_t vertical_dpi_fixed = 0;
};
// The bytes that hold all read_picture_header reads: up to the end of an
// extended header's vertical resolution.
inline constexpr size_t kPictureHeaderBytes = 28;
// Nothing when the bytes do not start with a picture's size word, frame
// and version opcode.
std::optional<PictureHeader> read_picture_header(std::span<const uint8_t> picture);

}  // namespace varnel::format
