// Compressed resources for the tests, the fuzz corpus and the benchmark,
// written from the format's description and not from the library's code:
// the 18-byte header, and small encoders for each decompressor that make
// valid streams (literals, remembered literals and references to them,
// runs, table words).  They aim at streams the decompressors must read, not
// at small ones.
//
// Header: signature A8 9F 65 72, header length 18, version (8 or 9),
// attributes 01, uncompressed length (32 bits), then version 8: two bytes
// (working-buffer fraction, expansion), decompressor ID (16), two reserved
// bytes; version 9: decompressor ID (16) and four bytes of its own
// (decompressor 2: two unused, the table count - 1, the flags).
#pragma once

#include <cstdint>
#include <vector>

#include "support/support.hpp"

namespace vt {

// The header; byte16 and byte17 are the last two (decompressor 2: table
// count - 1 and flags).
Bytes compressed_header(uint8_t version, int32_t decompressor, uint32_t uncompressed_length,
                        uint8_t byte16 = 0, uint8_t byte17 = 0);

// Decompressor 0: literal words (codes 01-0F), an odd length ending in a
// word whose second byte is dropped; end code FF.  No header.
Bytes encode_bytes0_literals(const Bytes &contents);
// Decompressor 1: literal bytes (codes 00-0F); end code FF.  No header.
Bytes encode_bytes1_literals(const Bytes &contents);
// Decompressor 0 with remembered literals: the contents in 4-byte pieces,
// each new piece remembered (code 12) and a repeated one referred to
// (codes 23-4A, 20, 21, 22); runs of one byte value as extended code 02.
Bytes encode_bytes0_remembering(const Bytes &contents);
// Decompressor 1 the same way: pieces are the words of a text (up to 16
// bytes, split at spaces), remembered with codes 10-1F and referred to with
// 20-CF, D2, D3 and D4.
Bytes encode_bytes1_remembering(const Bytes &contents);

// Decompressor 2: the stream after the header.  With an own table (at
// most 256 words, put first), or the default one (empty `table`); tagged
// or not.  Untagged streams need every word in the table.  The header
// bytes to go with it: table_count_minus_one and flags.
struct WordStream {
  Bytes stream;
  uint8_t table_count_minus_one = 0;
  uint8_t flags = 0;
};
WordStream encode_words(const Bytes &contents, const std::vector<uint16_t> &table, bool tagged);
// The `count` most frequent words of the contents, most frequent first: an
// own table for encode_words.
std::vector<uint16_t> most_frequent_words(const Bytes &contents, size_t count);

// A whole stored resource: header + stream, by the remembering encoders
// (0, 1) or tagged words with an own table (2).
Bytes compressed_resource(uint8_t version, int32_t decompressor, const Bytes &contents);

}  // namespace vt
