// Private to the reader.
//
// The decompressors of compressed resources (the header is the format
// layer's, format/compressed_resource.hpp).  Each takes the stream that
// follows the header and fills an output span of exactly the header's
// uncompressed length.  Every read is checked against the stream and every
// write against the output; a stream that would pass either, or that ends
// before the output is full, is refused with a one-line reason.  No loop
// runs longer than the stream and the output allow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "format/compressed_resource.hpp"
#include "varnel.h"

namespace varnel::reader {

// Decompressors 0 and 1: byte codes for literals, literals remembered and
// used again, constant words and runs.  Null when `output` was filled
// exactly, else the reason.
const char *decompress_bytes0(std::span<const uint8_t> stream, std::span<uint8_t> output);
const char *decompress_bytes1(std::span<const uint8_t> stream, std::span<uint8_t> output);

// Decompressor 2: words from a table (the default one or the resource's
// own), tagged with literal words or not, after the header's table size
// and flags.
const char *decompress_words(const format::CompressedHeader &header,
                             std::span<const uint8_t> stream, std::span<uint8_t> output);

// Whether this build reads the decompressor with that ID.
bool is_known_decompressor(int32_t decompressor);

// The contents of a stored compressed resource (`stored`, header included,
// whose header is `header`) into `output` of the header's uncompressed
// length, by the decompressor the header names.  Null when done, else the
// reason; a decompressor this build does not read is the caller's to name
// (is_known_decompressor).
const char *decompress_resource(std::span<const uint8_t> stored,
                                const format::CompressedHeader &header,
                                std::span<uint8_t> output);

// The channel's last decompressed resource: a host asks for a length and
// then for the bytes, and the second call takes them from here.
struct DecompressedCache {
  const MacBinRefEntry *ref = nullptr;  // null: nothing kept
  std::vector<uint8_t> contents;
};

}  // namespace varnel::reader
