// BinHex 4.0 read into a read channel.
//
// The text is decoded once, at the open, into a private temporary file:
// the data fork from its first byte, the resource fork right after it.
// The file is out of its folder before the first byte is decoded (see
// reader/binhex_stream.hpp), so nothing is left behind whatever happens to
// the process, also in the middle of the decoding; the channel reads both
// forks from it as from any other file (read handlers are positioned in it).
//
// The text is read in pieces and decoded in a stream, so memory stays small
// whatever the file's size; the decoder never produces more bytes than the
// header announces, and forks that could not both lie in a file of 32-bit
// positions are refused before any of their bytes are decoded.  The disk
// holds no more than the text really decodes to.
//
// Damage follows the rules of the other containers: a text that ends (or
// stops at a character outside the alphabet) before the data fork and its
// CRC are whole is refused, one that stops inside the resource fork opens
// without resources.  A header whose CRC does not match is refused (its
// fork lengths cannot be trusted); a fork whose CRC does not match opens
// with a warning and crc_state 0.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "format/binhex.hpp"
#include "frame/internal.hpp"
#include "reader/binhex_stream.hpp"
#include "reader/container_detection.hpp"
#include "reader/container_openers.hpp"
#include "reader/messages.hpp"
#include "reader/open_steps.hpp"
#include "stream/internal.hpp"

namespace {

namespace format = varnel::format;

std::string cut_text(const char *what, uint64_t held, uint64_t length,
                     format::BinHexDecoder::Status status) {
  return std::string(what) + ": the BinHex text holds " + std::to_string(held) + " of its " +
         std::to_string(length) + " bytes" + binhex_stop_reason(status);
}

}  // namespace

MacBinChannel *open_binhex(InputFile &input) {
  using Status = format::BinHexDecoder::Status;
  CheckedFile text_file(input.file.get(), input.length);
  const int64_t prefix_size = std::min(input.length, kBinHexSearchBytes);
  std::string prefix(static_cast<size_t>(prefix_size), '\0');
  if (!text_file.read_at(0, prefix.data(), prefix_size)) {
    report(kTextCannotRead, MACBIN_ERROR, MACBIN_ERR_IO);
    return nullptr;
  }
  const size_t start = format::find_binhex_start(prefix);
  if (start == std::string_view::npos) {
    report(kTextBinHexNoStart, MACBIN_ERROR, MACBIN_ERR_DAMAGED);
    return nullptr;
  }

  DecodedForksFile decoded;
  if (!decoded.is_open()) {
    report(kTextBinHexTempFile, MACBIN_ERROR, MACBIN_ERR_IO);
    return nullptr;
  }
  BinHexStreamSink sink(decoded);
  bool read_failed = false;
  const Status status =
      decode_binhex_text(text_file, static_cast<int64_t>(start), sink, read_failed);
  if (read_failed) {
    report(kTextCannotRead, MACBIN_ERROR, MACBIN_ERR_IO);
    return nullptr;
  }
  if (!sink.header_known()) {
    switch (sink.header_status()) {
      case format::BinHexHeaderStatus::kBadName: report(kTextBinHexBadName, MACBIN_ERROR, MACBIN_ERR_DAMAGED); break;
      case format::BinHexHeaderStatus::kBadCrc: report(kTextBinHexHeaderCrc, MACBIN_ERROR, MACBIN_ERR_DAMAGED); break;
      default: report((kTextBinHexHeaderCut + binhex_stop_reason(status)).c_str(), MACBIN_ERROR, MACBIN_ERR_DAMAGED); break;
    }
    return nullptr;
  }
  const format::BinHexHeaderFacts &header = sink.header();
  if (binhex_forks_too_long(header)) {
    report(kTextBinHexTooLong, MACBIN_ERROR, MACBIN_ERR_DAMAGED);
    return nullptr;
  }
  if (sink.write_failed()) {
    report((std::string(kTextBinHexTempFile) + " (" + std::strerror(errno) + ")").c_str(),
           MACBIN_ERROR, MACBIN_ERR_IO);
    return nullptr;
  }
  if (sink.position() < sink.rsrc_start()) {
    const uint64_t held = sink.position() > header.header_size
                              ? std::min(sink.position(), sink.data_end()) - header.header_size
                              : 0;
    report(cut_text(kTextDataForkCut, held, header.data_length, status).c_str(), MACBIN_ERROR, MACBIN_ERR_DAMAGED);
    return nullptr;
  }

  InputFile forks;
  forks.file.reset(decoded.release_reader());
  if (forks.file == nullptr) {
    report(kTextBinHexTempFile, MACBIN_ERROR, MACBIN_ERR_IO);
    return nullptr;
  }
  forks.length = int64_t{header.data_length} +
                 static_cast<int64_t>(std::min(sink.position(), sink.rsrc_end()) - sink.rsrc_start());
  forks.size_bytes = forks.length;
  forks.path = input.path;

  const bool data_crc_holds = sink.data_crc() == sink.stored_data_crc();
  const bool rsrc_whole = sink.position() >= sink.total();
  const bool rsrc_crc_holds = rsrc_whole && sink.rsrc_crc() == sink.stored_rsrc_crc();

  ChannelHandle channel = make_read_channel(forks);
  if (channel == nullptr) return nullptr;
  ReaderIndex &index = *reader_state(channel.get());
  FileFacts facts{};
  facts.format = MACBIN_FORMAT_BINHEX;
  facts.crc_state = data_crc_holds && rsrc_crc_holds ? 1 : 0;
  facts.name = std::string_view(header.name, header.name_length);
  std::memcpy(facts.type, header.type, 4);
  std::memcpy(facts.creator, header.creator, 4);
  facts.finder_flags = header.finder_flags;
  facts.data_length = header.data_length;
  facts.rsrc_length = header.rsrc_length;
  set_file_facts(*channel, index, facts, header.data_length);
  index.data_start = 0;

  if (!data_crc_holds) report("BinHex data fork CRC does not match", MACBIN_WARNING, MACBIN_ERR_DAMAGED);
  if (!rsrc_whole) {
    const uint64_t held = std::min(sink.position(), sink.rsrc_end()) - sink.rsrc_start();
    index.rsrc_state = header.rsrc_length == 0 ? 0 : -1;
    if (header.rsrc_length != 0) {
      report((cut_text(kTextRsrcForkCut, held, header.rsrc_length, status) + kTextNoResourcesRead)
                 .c_str(),
             MACBIN_WARNING, MACBIN_ERR_DAMAGED);
      return channel.release();
    }
  } else if (!rsrc_crc_holds) {
    report("BinHex resource fork CRC does not match", MACBIN_WARNING, MACBIN_ERR_DAMAGED);
  }
  CheckedFile checked(channel->file, index.file_length_bytes);
  if (!read_resource_fork(checked, *channel, index)) return nullptr;
  return channel.release();
}
