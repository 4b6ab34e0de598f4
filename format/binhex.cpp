#include "format/binhex.hpp"

#include <algorithm>
#include <array>
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

std::string_view BinHexEncoder::opening() {
  static const std::string text = std::string(kBinHexBanner) + "\n\n:";
  return text;
}

void BinHexEncoder::add(std::span<const uint8_t> bytes, std::string &out) {
  for (const uint8_t byte : bytes) {
    if (static_cast<int32_t>(byte) == run_byte_ && run_length_ < kMaxRun) {
      ++run_length_;
      continue;
    }
    put_run(out);
    run_byte_ = byte;
    run_length_ = 1;
  }
}

// A run goes out as the byte (the marker escaped as 0x90 0x00) and, from
// three copies on, 0x90 and the count; two copies are the byte twice.  A
// run longer than 255 is cut into runs that each begin with the byte, so
// no decoder has to carry a repeat across runs.
void BinHexEncoder::put_run(std::string &out) {
  if (run_byte_ < 0) return;
  const auto byte = static_cast<uint8_t>(run_byte_);
  const auto put_literal = [&] {
    put_coded(byte, out);
    if (byte == kBinHexRunMarker) put_coded(0, out);
  };
  put_literal();
  if (run_length_ >= 3) {
    put_coded(kBinHexRunMarker, out);
    put_coded(static_cast<uint8_t>(run_length_), out);
  } else if (run_length_ == 2) {
    put_literal();
  }
  run_byte_ = -1;
  run_length_ = 0;
}

void BinHexEncoder::put_coded(uint8_t byte, std::string &out) {
  group_ = (group_ << 8) | byte;
  if (++group_bytes_ < 3) return;
  put_character(group_ >> 18, out);
  put_character(group_ >> 12, out);
  put_character(group_ >> 6, out);
  put_character(group_, out);
  group_ = 0;
  group_bytes_ = 0;
}

void BinHexEncoder::put_character(uint32_t sextet, std::string &out) {
  if (column_ == kBinHexLineLength) {
    out.push_back('\n');
    column_ = 0;
  }
  out.push_back(kBinHexAlphabet[sextet & 0x3F]);
  ++column_;
}

void BinHexEncoder::finish(std::string &out) {
  put_run(out);
  // One byte left needs two characters, two bytes three.
  if (group_bytes_ == 1) {
    put_character(group_ >> 2, out);
    put_character(group_ << 4, out);
  } else if (group_bytes_ == 2) {
    put_character(group_ >> 10, out);
    put_character(group_ >> 4, out);
    put_character(group_ << 2, out);
  }
  group_ = 0;
  group_bytes_ = 0;
  // The closing ':' keeps every line at 64 characters.
  if (column_ == kBinHexLineLength) out.push_back('\n');
  out += ":\n";
  column_ = 1;
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

BinHexStatus decode_binhex(std::string_view text, uint32_t max_fork_bytes, BinHexFile *file) {
  const size_t start = find_binhex_start(text);
  if (start == std::string_view::npos) return BinHexStatus::kNoStart;
  text.remove_prefix(start);

  // Until the header is known, little text is taken at a time: what it
  // decodes to stays small even when it is all repeats.
  constexpr size_t kHeaderPiece = 64;
  constexpr size_t kPiece = 1 << 16;
  BinHexDecoder decoder(binhex_header_size(kBinHexMaxNameLength) + kMaxRun * kHeaderPiece);
  std::vector<uint8_t> stream;
  BinHexHeaderFacts header{};
  bool header_known = false;
  uint64_t total = 0;
  BinHexDecoder::Status status = BinHexDecoder::Status::kNeedMore;
  while (status == BinHexDecoder::Status::kNeedMore && !text.empty()) {
    size_t used = 0;
    status = decoder.add(text.substr(0, header_known ? kPiece : kHeaderPiece), stream, &used);
    text.remove_prefix(used);
    if (!header_known) {
      switch (parse_binhex_header(stream, &header)) {
        case BinHexHeaderStatus::kNeedMore:
          decoder.set_limit(decoder.produced() + kMaxRun * kHeaderPiece);
          continue;
        case BinHexHeaderStatus::kBadName: return BinHexStatus::kBadHeader;
        case BinHexHeaderStatus::kBadCrc: return BinHexStatus::kHeaderCrc;
        case BinHexHeaderStatus::kOk: break;
      }
      if (header.data_length > max_fork_bytes || header.rsrc_length > max_fork_bytes) {
        return BinHexStatus::kTooLong;
      }
      header_known = true;
      total = header.header_size + uint64_t{header.data_length} + kBinHexCrcBytes +
              header.rsrc_length + kBinHexCrcBytes;
      decoder.set_limit(total);
      // A piece may already have decoded past the stream's end.
      if (stream.size() >= total) break;
    }
  }
  switch (status) {
    case BinHexDecoder::Status::kBadCharacter: return BinHexStatus::kBadCharacter;
    case BinHexDecoder::Status::kBadRun: return BinHexStatus::kBadRun;
    default: break;  // bytes past the stream's end are ignored
  }
  if (!header_known) {
    return parse_binhex_header(stream, &header) == BinHexHeaderStatus::kBadName
               ? BinHexStatus::kBadHeader
               : BinHexStatus::kTruncated;
  }
  if (stream.size() < total) return BinHexStatus::kTruncated;

  const std::span<const uint8_t> all(stream.data(), static_cast<size_t>(total));
  const std::span<const uint8_t> data = all.subspan(header.header_size, header.data_length);
  const size_t rsrc_at = header.header_size + header.data_length + kBinHexCrcBytes;
  const std::span<const uint8_t> rsrc = all.subspan(rsrc_at, header.rsrc_length);
  if (get_be16(data.data() + data.size()) != crc16_xmodem(data)) return BinHexStatus::kDataCrc;
  if (get_be16(rsrc.data() + rsrc.size()) != crc16_xmodem(rsrc)) return BinHexStatus::kRsrcCrc;
  file->header = header;
  file->data.assign(data.begin(), data.end());
  file->rsrc.assign(rsrc.begin(), rsrc.end());
  return BinHexStatus::kOk;
}

}  // namespace varnel::format
