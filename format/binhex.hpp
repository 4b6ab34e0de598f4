// Private to the library: never installed.
//
// BinHex 4.0: a Macintosh file as 7-bit text.  The binary stream is
//
//   header   name length (1 to 63), name, version 0, type, creator, Finder
//            flags (16 bits), data fork length, resource fork length
//            (32 bits each), CRC of the header (16 bits)
//   data     the data fork, then its CRC
//   resource the resource fork, then its CRC
//
// (every CRC is CRC-16/XMODEM of its section, zero for an empty one).  The
// stream is run-length coded: 0x90 n after a byte repeats it to n copies in
// all (n 2 to 255), 0x90 0x00 is the byte 0x90 itself.  The coded bytes are
// cut into 6-bit groups, three bytes to four characters of kBinHexAlphabet,
// written in lines of 64 characters between a ':' that opens the first line
// and a ':' after the last character; the last group has only the
// characters its bytes need.  A line naming the format comes first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnel::format {

inline constexpr std::string_view kBinHexAlphabet =
    "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
static_assert(kBinHexAlphabet.size() == 64);
inline constexpr std::string_view kBinHexBanner = "(This file must be converted with BinHex 4.0)";
inline constexpr uint8_t kBinHexRunMarker = 0x90;
inline constexpr size_t kBinHexLineLength = 64;
inline constexpr size_t kBinHexMaxNameLength = 63;
// name length, version, type, creator, flags, two fork lengths, the CRC
inline constexpr size_t kBinHexHeaderFixedBytes = 1 + 1 + 4 + 4 + 2 + 4 + 4 + 2;
inline constexpr size_t kBinHexCrcBytes = 2;

inline constexpr size_t binhex_header_size(size_t name_length) {
  return kBinHexHeaderFixedBytes + name_length;
}

struct BinHexHeaderFields {
  std::string_view name;  // 1 to 63 characters (cut to 63)
  char type[4];
  char creator[4];
  uint16_t finder_flags;
  uint32_t data_length;
  uint32_t rsrc_length;
};

// The header section, its CRC included, into `out`, which must hold exactly
// binhex_header_size(name length) bytes (otherwise false, nothing written).
bool write_binhex_header(const BinHexHeaderFields &fields, std::span<uint8_t> out);

enum class BinHexHeaderStatus : int32_t {
  kOk,
  kNeedMore,  // `bytes` ends inside the header
  kBadName,   // a name length of 0 or more than 63
  kBadCrc,
};

struct BinHexHeaderFacts {
  char name[64];  // NUL-terminated
  uint8_t name_length;
  uint8_t version;
  char type[5];
  char creator[5];
  uint16_t finder_flags;
  uint32_t data_length;
  uint32_t rsrc_length;
  size_t header_size;  // bytes of the header section, its CRC included
};

// Parses the header section at the start of the decoded stream.
BinHexHeaderStatus parse_binhex_header(std::span<const uint8_t> bytes, BinHexHeaderFacts *facts);

// Turns binary bytes into the text: run-length coding, 6-bit characters,
// lines.  Feed the whole stream (header, data and CRC, resource fork and
// CRC) through add() in any pieces, then call finish() once.  Each call
// gives the text it completed, which stays valid until the next call (the
// encoder keeps it in a buffer of its own, grown to the largest piece's
// text: at most max_text_size(piece) characters, so the caller bounds the
// memory by the size of its pieces).  The text starts with opening().
class BinHexEncoder {
 public:
  static std::string_view opening();  // the banner line, an empty line and ':'

  // The most characters add() gives for `count` bytes.
  static constexpr size_t max_text_size(size_t count) {
    // Coded bytes: at most two a byte (a lone marker is 0x90 0x00), four
    // for the run carried in from the last call, two waiting in the group;
    // a line break for every 64 characters, and one when the last call
    // left a full line.
    const size_t characters = (2 * count + 6) / 3 * 4 + 4;
    return characters + characters / kBinHexLineLength + 1;
  }

  std::string_view add(std::span<const uint8_t> bytes);
  // The pending run and group, the closing ':' and a newline.
  std::string_view finish();

 private:
  void allocate_blocks();
  uint8_t *code_runs(std::span<const uint8_t> bytes, uint8_t *coded);
  char *put_characters(std::span<const uint8_t> coded, char *out);

  std::vector<char> text_;        // what the last call gives
  std::vector<uint8_t> coded_;    // one block's run-length coded bytes
  std::vector<char> characters_;  // their characters, before the lines are cut
  int32_t run_byte_ = -1;  // the byte being counted, -1 before the first
  uint32_t run_length_ = 0;
  uint32_t group_ = 0;  // coded bytes waiting for their characters
  int32_t group_bytes_ = 0;
  size_t column_ = 1;  // the opening ':' stands in the first line
};

// Turns the text after the opening ':' back into binary bytes, in pieces of
// any size: line breaks and blanks are skipped, the closing ':' ends the
// stream.  Never produces more than `limit` bytes in all (set_limit can
// change it, e.g. once the header says how long the stream is).
class BinHexDecoder {
 public:
  enum class Status : int32_t {
    kNeedMore,      // every character was taken; the closing ':' is still to come
    kEnd,           // the closing ':' was reached (`consumed` counts it)
    kBadCharacter,  // a character outside the alphabet
    kBadRun,        // a repeat with no byte before it
    kTooLong,       // the bytes would pass the limit
  };

  explicit BinHexDecoder(uint64_t limit) : limit_(limit) {}
  void set_limit(uint64_t limit) { limit_ = limit; }
  uint64_t produced() const { return produced_; }

  // Decodes from `text`, appending to `out`; `consumed` (unless null) says
  // how many characters were taken.  After kEnd or a failure the decoder
  // takes nothing more.
  Status add(std::string_view text, std::vector<uint8_t> &out, size_t *consumed);

 private:
  bool emit(uint8_t byte, uint32_t copies, std::vector<uint8_t> &out);
  Status take_coded(uint8_t byte, std::vector<uint8_t> &out);

  uint64_t limit_;
  uint64_t produced_ = 0;
  uint32_t bits_ = 0;
  int32_t bit_count_ = 0;
  int32_t previous_ = -1;  // the last byte produced, for repeats
  bool marker_pending_ = false;
  Status status_ = Status::kNeedMore;
};

// Where the encoded characters of a BinHex text start: just after the ':'
// that opens the first line after the banner (or the first line that
// starts with ':' when there is no banner).  npos when there is none.
size_t find_binhex_start(std::string_view text);

}  // namespace varnel::format
