// The BinHex decoder on arbitrary text: the streaming decoder fed the text
// in pieces of the sizes the first byte picks, which must give the same
// bytes as one piece; then the text as a file through the reader's own
// streaming path.  What the reader opens as BinHex must encode and read
// again to the same forks.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "format/binhex.hpp"
#include "format/crc16.hpp"
#include "fuzz_session.hpp"
#include "varnel.h"

#define REQUIRE(condition)          \
  do {                              \
    if (!(condition)) std::abort(); \
  } while (0)

namespace {

namespace format = varnel::format;
constexpr uint64_t kStreamLimit = 4 << 20;

struct Scratch {
  varnel_fuzz::Session session{"binhex-decode"};
  std::string text_path = session.file("input.hqx");
  std::string again_path = session.file("again.hqx");
  Scratch() { varnel_fuzz::silence_messages(); }
};

Scratch &scratch() {
  static Scratch instance;
  return instance;
}

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

void write_file(const std::string &path, std::string_view bytes) {
  FILE *file = std::fopen(path.c_str(), "wb");
  REQUIRE(file != nullptr);
  REQUIRE(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  REQUIRE(std::fclose(file) == 0);
}

// The whole fork; false when the reader cannot give it whole.
bool whole_fork(MacBinChannel *channel, bool resource_fork, uint32_t length,
                std::vector<uint8_t> *fork) {
  fork->resize(length);
  const int32_t count = static_cast<int32_t>(length);
  const int32_t read = resource_fork ? MacBin_ReadResourceFork(channel, 0, fork->data(), count)
                                     : MacBin_ReadDataFork(channel, 0, fork->data(), count);
  REQUIRE(read == count || read == -1);
  return read == count;
}

struct Forks {
  MacBinFileInfo info;
  std::vector<uint8_t> data, rsrc;
};

// The file as the reader gives it, when it opens as BinHex.
bool read_binhex(const std::string &path, Forks *forks) {
  MacBinChannel *channel = MacBin_OpenR(path.c_str());
  if (channel == nullptr) return false;
  const bool binhex = MacBin_GetFileInfo(channel, &forks->info) == 1 &&
                      forks->info.format == MACBIN_FORMAT_BINHEX;
  // The data fork is always read whole before the file opens; a resource
  // fork the text holds only in part gives -1 for its missing bytes (and
  // leaves no map read), and such a file is not carried.
  bool whole = false;
  if (binhex) {
    REQUIRE(whole_fork(channel, false, forks->info.data_length, &forks->data));
    whole = whole_fork(channel, true, forks->info.rsrc_length, &forks->rsrc);
    REQUIRE(whole || forks->info.rsrc_state == -1);
  }
  MacBin_Close(channel);
  return whole;
}

std::string encode(const Forks &forks) {
  // A name of NULs reads back empty, which the header cannot hold.
  const std::string_view name = forks.info.name[0] != '\0' ? forks.info.name : "x";
  std::vector<uint8_t> header(format::binhex_header_size(static_cast<uint32_t>(name.size())));
  format::BinHexHeaderFields fields{};
  fields.name = name;
  std::copy(forks.info.type, forks.info.type + 4, fields.type);
  std::copy(forks.info.creator, forks.info.creator + 4, fields.creator);
  fields.finder_flags = static_cast<uint16_t>(forks.info.finder_flags);
  fields.data_length = static_cast<uint32_t>(forks.data.size());
  fields.rsrc_length = static_cast<uint32_t>(forks.rsrc.size());
  REQUIRE(format::write_binhex_header(fields, header));
  std::string text(format::BinHexEncoder::opening());
  format::BinHexEncoder encoder;
  text += encoder.add(header);
  for (const std::vector<uint8_t> *fork : {&forks.data, &forks.rsrc}) {
    text += encoder.add(*fork);
    const uint16_t crc = format::crc16_xmodem(*fork);
    const uint8_t crc_bytes[2] = {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
    text += encoder.add(crc_bytes);
  }
  text += encoder.finish();
  return text;
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

  Scratch &files = scratch();
  write_file(files.text_path, text);
  Forks first;
  if (!read_binhex(files.text_path, &first)) return 0;

  // Names with NULs read back shorter; the forks must come back byte for
  // byte.
  write_file(files.again_path, encode(first));
  Forks second;
  REQUIRE(read_binhex(files.again_path, &second));
  REQUIRE(second.info.crc_state == 1);
  REQUIRE(second.data == first.data && second.rsrc == first.rsrc);
  return 0;
}
