// The BinHex decoder on arbitrary text: decode_binhex whole, with a small
// fork limit against self-made decompression bombs, and the streaming
// decoder fed the same text in pieces of the sizes the first byte picks,
// which must give the same bytes as one piece.  What decodes must encode
// and decode again to the same forks.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "format/binhex.hpp"
#include "format/crc16.hpp"

#define REQUIRE(condition)          \
  do {                              \
    if (!(condition)) std::abort(); \
  } while (0)

namespace {

namespace format = varnel::format;
constexpr uint32_t kMaxForkBytes = 1 << 20;
constexpr uint64_t kStreamLimit = 4 << 20;

std::vector<uint8_t> decode_in_pieces(std::string_view text, size_t piece,
                                      format::BinHexDecoder::Status *status) {
  format::BinHexDecoder decoder(kStreamLimit);
  std::vector<uint8_t> out;
  *status = format::BinHexDecoder::Status::kNeedMore;
  while (!text.empty() && *status == format::BinHexDecoder::Status::kNeedMore) {
    size_t used = 0;
    *status = decoder.add(text.substr(0, piece), out, &used);
    REQUIRE(used <= piece && used <= text.size());
    text.remove_prefix(used);
  }
  REQUIRE(out.size() <= kStreamLimit);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = size_t{data[0]} % 17 + 1;
  const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);

  format::BinHexDecoder::Status whole_status;
  format::BinHexDecoder::Status piece_status;
  const std::vector<uint8_t> whole = decode_in_pieces(text, text.size() + 1, &whole_status);
  const std::vector<uint8_t> pieces = decode_in_pieces(text, piece, &piece_status);
  REQUIRE(whole == pieces && whole_status == piece_status);

  format::BinHexFile file;
  if (format::decode_binhex(text, kMaxForkBytes, &file) != format::BinHexStatus::kOk) return 0;
  REQUIRE(file.data.size() == file.header.data_length);
  REQUIRE(file.rsrc.size() == file.header.rsrc_length);

  // Encode what was decoded and decode it again.
  std::vector<uint8_t> header(format::binhex_header_size(file.header.name_length));
  format::BinHexHeaderFields fields{};
  fields.name = std::string_view(file.header.name, file.header.name_length);
  std::copy(file.header.type, file.header.type + 4, fields.type);
  std::copy(file.header.creator, file.header.creator + 4, fields.creator);
  fields.finder_flags = file.header.finder_flags;
  fields.data_length = file.header.data_length;
  fields.rsrc_length = file.header.rsrc_length;
  REQUIRE(format::write_binhex_header(fields, header));
  std::string again(format::BinHexEncoder::opening());
  format::BinHexEncoder encoder;
  again += encoder.add(header);
  const auto add_fork = [&](const std::vector<uint8_t> &fork) {
    again += encoder.add(fork);
    const uint16_t crc = format::crc16_xmodem(fork);
    const uint8_t crc_bytes[2] = {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
    again += encoder.add(crc_bytes);
  };
  add_fork(file.data);
  add_fork(file.rsrc);
  again += encoder.finish();
  format::BinHexFile second;
  REQUIRE(format::decode_binhex(again, kMaxForkBytes, &second) == format::BinHexStatus::kOk);
  REQUIRE(second.data == file.data && second.rsrc == file.rsrc);
  return 0;
}
