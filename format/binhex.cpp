#include "format/binhex.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "format/big_endian.hpp"
#include "format/crc16.hpp"

namespace varnel::format {
namespace {

// A repeat count is one byte; 0 means the marker byte itself.
constexpr uint32_t kMaxRun = 255;
constexpr uint8_t kNotInAlphabet = 0xFF;

constexpr std::array<uint8_t, 256> make_sextets() {
  std::array<uint8_t, 256> table{};
  for (auto &entry : table) entry = kNotInAlphabet;
  for (size_t i = 0; i < kBinHexAlphabet.size(); ++i) {
    table[static_cast<uint8_t>(kBinHexAlphabet[i])] = static_cast<uint8_t>(i);
  }
  return table;
}
constexpr std::array<uint8_t, 256> kSextets = make_sextets();

bool is_blank(char c) { return c == '\n' || c == '\r' || c == ' ' || c == '\t'; }

}  // namespace

bool write_binhex_header(const BinHexHeaderFields &fields, std::span<uint8_t> out) {
  const size_t name_length = std::min(fields.name.size(), kBinHexMaxNameLength);
  if (out.size() != binhex_header_size(name_length)) return false;
  uint8_t *p = out.data();
  *p++ = static_cast<uint8_t>(name_length);
  std::memcpy(p, fields.name.data(), name_length);
  p += name_length;
  *p++ = 0;  // version
  std::memcpy(p, fields.type, 4);
  std::memcpy(p + 4, fields.creator, 4);
  p += 8;
  put_be16(p, fields.finder_flags);
  put_be32(p + 2, fields.data_length);
  put_be32(p + 6, fields.rsrc_length);
  p += 10;
  put_be16(p, crc16_xmodem(std::span<const uint8_t>(out.data(), static_cast<size_t>(p - out.data()))));
  return true;
}

BinHexHeaderStatus parse_binhex_header(std::span<const uint8_t> bytes, BinHexHeaderFacts *facts) {
  if (bytes.empty()) return BinHexHeaderStatus::kNeedMore;
  const size_t name_length = bytes[0];
  if (name_length == 0 || name_length > kBinHexMaxNameLength) return BinHexHeaderStatus::kBadName;
  const size_t size = binhex_header_size(name_length);
  if (bytes.size() < size) return BinHexHeaderStatus::kNeedMore;
  const uint8_t *p = bytes.data() + 1;
  BinHexHeaderFacts found{};
  found.name_length = static_cast<uint8_t>(name_length);
  std::memcpy(found.name, p, name_length);
  p += name_length;
  found.version = *p++;
  std::memcpy(found.type, p, 4);
  std::memcpy(found.creator, p + 4, 4);
  p += 8;
  found.finder_flags = static_cast<uint16_t>(get_be16(p));
  found.data_length = get_be32(p + 2);
  found.rsrc_length = get_be32(p + 6);
  p += 10;
  const uint16_t computed = crc16_xmodem(bytes.first(static_cast<size_t>(p - bytes.data())));
  if (get_be16(p) != computed) return BinHexHeaderStatus::kBadCrc;
  found.header_size = size;
  *facts = found;
  return BinHexHeaderStatus::kOk;
}

// ---- Encoding ---------------------------------------------------------------------

namespace {

// Bytes run-length coded at a time, into a buffer of kCodedBlockBytes: two
// coded bytes a byte at most, four for the run carried in, and eight that
// a copy of fixed size may write past the last coded byte.
constexpr size_t kEncodeBlock = 16 * 1024;
constexpr size_t kCodedBlockBytes = 2 * kEncodeBlock + 4 + 8;
// Their characters before they are cut into lines, the group waiting
// before them included.
constexpr size_t kCharacterBlockBytes = (kCodedBlockBytes + 2) / 3 * 4;
// What finish() can give: a run (four coded bytes) and two waiting bytes
// are at most eleven characters; with line breaks, ':' and a newline.
constexpr size_t kMaxFinishText = 32;

constexpr uint64_t kEveryByte7F = 0x7F7F7F7F7F7F7F7Fu;
constexpr uint64_t kEveryByteMarker = 0x0101010101010101u * kBinHexRunMarker;

// The two characters of every 12-bit value: a group of three coded bytes
// takes two lookups instead of four.
using CharacterPairs = std::array<std::array<char, 2>, 4096>;
constexpr CharacterPairs make_character_pairs() {
  CharacterPairs pairs{};
  for (size_t value = 0; value < pairs.size(); ++value) {
    pairs[value][0] = kBinHexAlphabet[value >> 6];
    pairs[value][1] = kBinHexAlphabet[value & 0x3F];
  }
  return pairs;
}
constexpr CharacterPairs kCharacterPairs = make_character_pairs();

// The top bit of each byte of `word` that is zero, and no other bit: a
// byte's low seven bits plus 0x7F carry into its top bit unless all are
// zero, and no carry leaves the byte.
constexpr uint64_t zero_bytes(uint64_t word) {
  return ~(((word & kEveryByte7F) + kEveryByte7F) | word | kEveryByte7F);
}

// A run goes out as the byte (the marker escaped as 0x90 0x00) and, from
// three copies on, 0x90 and the count; two copies are the byte twice.  A
// run longer than 255 is cut into runs that each begin with the byte, so
// no decoder has to carry a repeat across runs.  At most four bytes;
// nothing for `run_byte` -1 (no run yet).
uint8_t *put_run(int32_t run_byte, uint32_t run_length, uint8_t *coded) {
  if (run_byte < 0) return coded;
  const auto byte = static_cast<uint8_t>(run_byte);
  const auto put_literal = [&] {
    *coded++ = byte;
    if (byte == kBinHexRunMarker) *coded++ = 0;
  };
  put_literal();
  if (run_length >= 3) {
    *coded++ = kBinHexRunMarker;
    *coded++ = static_cast<uint8_t>(run_length);
  } else if (run_length == 2) {
    put_literal();
  }
  return coded;
}

// The four characters of a group (three coded bytes, the first on top).
void put_group(uint32_t group, char *out) {
  std::memcpy(out, kCharacterPairs[(group >> 12) & 0xFFF].data(), 2);
  std::memcpy(out + 2, kCharacterPairs[group & 0xFFF].data(), 2);
}

// One character, after a line break when the line is full.  `column`
// counts the characters of the current line.
char *put_character(uint32_t sextet, size_t &column, char *out) {
  if (column == kBinHexLineLength) {
    *out++ = '\n';
    column = 0;
  }
  *out++ = kBinHexAlphabet[sextet & 0x3F];
  ++column;
  return out;
}

}  // namespace

std::string_view BinHexEncoder::opening() {
  static const std::string text = std::string(kBinHexBanner) + "\n\n:";
  return text;
}

void BinHexEncoder::allocate_blocks() {
  if (coded_.size() < kCodedBlockBytes) coded_.resize(kCodedBlockBytes);
  if (characters_.size() < kCharacterBlockBytes) characters_.resize(kCharacterBlockBytes);
}

std::string_view BinHexEncoder::add(std::span<const uint8_t> bytes) {
  allocate_blocks();
  size_t used = 0;
  while (!bytes.empty()) {
    const std::span<const uint8_t> block = bytes.first(std::min(bytes.size(), kEncodeBlock));
    bytes = bytes.subspan(block.size());
    // Grows only for a piece longer than any before: no size computed for
    // the whole piece at once, which could pass size_t.
    if (text_.size() - used < max_text_size(block.size())) {
      text_.resize(used + max_text_size(block.size()));
    }
    const uint8_t *coded_end = code_runs(block, coded_.data());
    const char *end = put_characters({coded_.data(), coded_end}, text_.data() + used);
    used = static_cast<size_t>(end - text_.data());
  }
  return {text_.data(), used};
}

// Run-length codes `bytes` into `coded`; the run that reaches the end of
// `bytes` stays open (a later piece may continue it).  Returns the end of
// the coded bytes.  The state lives in locals meanwhile: stores through
// `coded` could otherwise alias the members and force them to memory.
uint8_t *BinHexEncoder::code_runs(std::span<const uint8_t> bytes, uint8_t *coded) {
  const uint8_t *in = bytes.data();
  const size_t count = bytes.size();
  int32_t run_byte = run_byte_;
  uint32_t run_length = run_length_;
  size_t i = 0;
  while (i < count) {
    const uint8_t byte = in[i++];
    if (byte == run_byte && run_length < kMaxRun) {
      ++run_length;
      continue;
    }
    coded = put_run(run_byte, run_length, coded);
    run_byte = byte;
    run_length = 1;
    // In most data few bytes repeat and few are the marker, so eight at a
    // time: each of the run's byte and the seven after it that differs
    // from the byte that follows and is not the marker is a run of one that
    // goes out as it is.  The first byte that is not opens the run.
    while (count - i >= 8) {
      const uint64_t from_run = get_be64(in + i - 1);
      const uint64_t repeated_or_marker = zero_bytes(from_run ^ get_be64(in + i)) |
                                          zero_bytes(from_run ^ kEveryByteMarker);
      // Eight bytes are copied whatever the count: the block has room.
      std::memcpy(coded, in + i - 1, 8);
      const auto plain = static_cast<size_t>(std::countl_zero(repeated_or_marker)) / 8;  // 8 for none
      coded += plain;
      i += plain;
      run_byte = in[i - 1];
      if (plain < 8) break;
    }
  }
  run_byte_ = run_byte;
  run_length_ = run_length;
  return coded;
}

// The characters of the bytes waiting in the group and then `coded`, in
// lines; what does not fill a group waits for the next call.  The groups
// become one run of characters first, in a loop with nothing else to look
// at, and the lines are cut from it afterwards.
char *BinHexEncoder::put_characters(std::span<const uint8_t> coded, char *out) {
  const uint8_t *p = coded.data();
  const uint8_t *const end = p + coded.size();
  char *const characters = characters_.data();
  char *c = characters;
  uint32_t group = group_;
  int32_t group_bytes = group_bytes_;
  while (group_bytes != 0 && p != end) {
    group = (group << 8) | *p++;
    if (++group_bytes < 3) continue;
    put_group(group, c);
    c += 4;
    group = 0;
    group_bytes = 0;
  }
  for (; end - p >= 8; p += 6, c += 8) {
    const uint64_t two_groups = get_be64(p);  // six bytes on top, two spare
    put_group(static_cast<uint32_t>(two_groups >> 40), c);
    put_group(static_cast<uint32_t>(two_groups >> 16), c + 4);
  }
  for (; end - p >= 3; p += 3, c += 4) put_group(get_be24(p), c);
  while (p != end) {
    group = (group << 8) | *p++;
    ++group_bytes;
  }
  group_ = group;
  group_bytes_ = group_bytes;

  // A line break goes before the character that would make a line longer
  // than 64, never after the last one.
  size_t column = column_;
  for (const char *from = characters; from != c;) {
    if (column == kBinHexLineLength) {
      *out++ = '\n';
      column = 0;
    }
    const size_t room = kBinHexLineLength - column;
    if (room == kBinHexLineLength && c - from >= static_cast<std::ptrdiff_t>(kBinHexLineLength)) {
      std::memcpy(out, from, kBinHexLineLength);  // a whole line: a copy of fixed size
      out += kBinHexLineLength;
      from += kBinHexLineLength;
      column = kBinHexLineLength;
      continue;
    }
    const size_t n = std::min(room, static_cast<size_t>(c - from));
    std::memcpy(out, from, n);
    out += n;
    from += n;
    column += n;
  }
  column_ = column;
  return out;
}

std::string_view BinHexEncoder::finish() {
  if (text_.size() < kMaxFinishText) text_.resize(kMaxFinishText);
  allocate_blocks();
  uint8_t coded[4];
  const uint8_t *coded_end = put_run(run_byte_, run_length_, coded);
  run_byte_ = -1;
  run_length_ = 0;
  char *out = put_characters({coded, coded_end}, text_.data());
  // One byte left needs two characters, two bytes three.
  if (group_bytes_ == 1) {
    out = put_character(group_ >> 2, column_, out);
    out = put_character(group_ << 4, column_, out);
  } else if (group_bytes_ == 2) {
    out = put_character(group_ >> 10, column_, out);
    out = put_character(group_ >> 4, column_, out);
    out = put_character(group_ << 2, column_, out);
  }
  group_ = 0;
  group_bytes_ = 0;
  // The closing ':' keeps every line at 64 characters.
  if (column_ == kBinHexLineLength) *out++ = '\n';
  *out++ = ':';
  *out++ = '\n';
  column_ = 1;
  return {text_.data(), static_cast<size_t>(out - text_.data())};
}

// ---- Decoding ---------------------------------------------------------------------

bool BinHexDecoder::emit(uint8_t byte, uint32_t copies, std::vector<uint8_t> &out) {
  const uint64_t room = limit_ > produced_ ? limit_ - produced_ : 0;
  const uint64_t taken = std::min<uint64_t>(copies, room);
  out.insert(out.end(), static_cast<size_t>(taken), byte);
  produced_ += taken;
  return taken == copies;
}

BinHexDecoder::Status BinHexDecoder::take_coded(uint8_t byte, std::vector<uint8_t> &out) {
  if (marker_pending_) {
    marker_pending_ = false;
    if (byte == 0) {
      previous_ = kBinHexRunMarker;
      return emit(kBinHexRunMarker, 1, out) ? Status::kNeedMore : Status::kTooLong;
    }
    if (previous_ < 0) return Status::kBadRun;
    // The count includes the copy already produced; a count of 1 adds none.
    return emit(static_cast<uint8_t>(previous_), byte - 1u, out) ? Status::kNeedMore
                                                                : Status::kTooLong;
  }
  if (byte == kBinHexRunMarker) {
    marker_pending_ = true;
    return Status::kNeedMore;
  }
  previous_ = byte;
  return emit(byte, 1, out) ? Status::kNeedMore : Status::kTooLong;
}

BinHexDecoder::Status BinHexDecoder::add(std::string_view text, std::vector<uint8_t> &out,
                                         size_t *consumed) {
  size_t i = 0;
  while (status_ == Status::kNeedMore && i < text.size()) {
    const char c = text[i++];
    if (is_blank(c)) continue;
    if (c == ':') {
      status_ = Status::kEnd;  // bits short of a byte are the last group's filler
      break;
    }
    const uint8_t sextet = kSextets[static_cast<uint8_t>(c)];
    if (sextet == kNotInAlphabet) {
      status_ = Status::kBadCharacter;
      --i;
      break;
    }
    bits_ = (bits_ << 6) | sextet;
    bit_count_ += 6;
    if (bit_count_ >= 8) {
      bit_count_ -= 8;
      const auto byte = static_cast<uint8_t>(bits_ >> bit_count_);
      bits_ &= (1u << bit_count_) - 1;
      status_ = take_coded(byte, out);
    }
  }
  if (consumed != nullptr) *consumed = i;
  return status_;
}

size_t find_binhex_start(std::string_view text) {
  size_t from = 0;
  if (const size_t banner = text.find(kBinHexBanner); banner != std::string_view::npos) {
    from = banner + kBinHexBanner.size();
  }
  for (size_t at = from; at < text.size(); ++at) {
    if (text[at] != ':') continue;
    if (at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r') return at + 1;
  }
  return std::string_view::npos;
}

}  // namespace varnel::format
