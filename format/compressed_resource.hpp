// Private to the library: never installed.
//
// A compressed resource, as the classic system software stores it.  The
// resource's attribute byte has bit 0x01 set and its data begins with an
// 18-byte header, then the decompressor's stream:
//
//    0  signature 0xA89F6572     (32)
//    4  header length, 18        (16; some files hold 0 here)
//    6  header version, 8 or 9   (8)
//    7  attributes: bit 0 set    (8; "compressed")
//    8  uncompressed length      (32)
//   12  version 8: working-buffer fraction (8), expansion bytes (8),
//                  decompressor ID (16), two reserved bytes
//       version 9: decompressor ID (16), four decompressor bytes
//
// The decompressor ID names a 'dcmp' resource of the system: 0 and 1 are
// the byte-oriented ones (version 8 headers), 2 the word-oriented one
// (version 9 headers).  Decompressor 2 takes its table size and flags from
// the header's last two bytes (16 and 17), whichever the version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "format/resource_fork.hpp"

namespace varnel::format {

inline constexpr uint32_t kCompressedResourceSignature = 0xA89F6572;
inline constexpr size_t kCompressedHeaderSize = 18;
// The resource attribute that says the data is stored compressed.
inline constexpr int32_t kCompressedAttribute = 0x01;
// Contents no map could address as stored data are refused: a header that
// asks for more is damaged or hostile, and its length is never allocated.
inline constexpr uint32_t kMaxUncompressedLength = kMaxDataOffset;

// Decompressor 2's flags (header byte 17).
inline constexpr uint8_t kWordsOwnTable = 0x01;  // a table of its own precedes the stream
inline constexpr uint8_t kWordsTagged = 0x02;    // tag bytes mark literal words

struct CompressedHeader {
  uint8_t version = 0;              // 8 or 9
  int32_t decompressor = 0;         // the decompressor ID (signed 16 bits)
  uint32_t uncompressed_length = 0; // at most kMaxUncompressedLength
  uint8_t table_count_minus_one = 0;  // header byte 16 (decompressor 2)
  uint8_t flags = 0;                  // header byte 17 (decompressor 2)
};

// True when `data` begins with the compressed-resource signature.
bool has_compressed_signature(std::span<const uint8_t> data);

// Reads the header at the start of `data` into `header`.  Returns null when
// it is sound, else a one-line reason (a short header, a header length
// other than 18 or 0, a version other than 8 and 9, the compressed bit
// clear, or an uncompressed length past kMaxUncompressedLength).  The
// decompressor ID is not judged here: an unknown one is still a header.
const char *parse_compressed_header(std::span<const uint8_t> data, CompressedHeader &header);

}  // namespace varnel::format
