// Writing BinHex 4.0.
//
// The text names both fork lengths before the forks, and the data fork's
// length is known only when the host has written it.  So the forks go to a
// hidden file beside the text (".NAME.partial.XXXXXX", a name of its own
// so that no file of the user's is taken over; the text is itself made in
// the output's private directory, which holds both), laid out as
//   0            data fork
//   rsrc_start   resource fork (head, resource data, map)
// and the close encodes them into the output, which MacBin_OpenW made
// (empty) so that an unwritable destination fails at once.  The hidden file
// is removed whatever happens; the output is removed when any write failed.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "format/binhex.hpp"
#include "format/crc16.hpp"
#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

namespace format = varnel::format;

constexpr size_t kNameCharacters = 31;
// The forks are read back in pieces of this size, as large as the host
// library's file buffer so that each read goes straight into ours; each
// piece's text, about 1.4 times as long, goes out at once.  Piece, text and
// the encoder's blocks together fit a common second-level cache, and the
// memory taken is the same whatever the forks' size.
constexpr size_t kReadPiece = 64 * 1024;

// Sends encoded text to `outfile`.
void put_text(std::string_view text) {
  if (text.empty()) return;
  MacBin_PutBuf(text.data(), static_cast<int32_t>(text.size()), static_cast<int32_t>(text.size()));
}

// Encodes `length` bytes of `forks` from `position`, then their CRC.  False
// when the hidden file could not give them.
bool encode_fork(TesselFile *forks, int64_t position, uint32_t length,
                 format::BinHexEncoder &encoder, std::vector<uint8_t> &piece) {
  if (length > 0) {
    errno = 0;
    if (fputp(forks, position) != position) return false;
  }
  uint16_t crc = 0;
  for (uint32_t left = length; left > 0;) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(left, piece.size()));
    errno = 0;
    if (fgetm(forks, piece.data(), n) != 1) return false;
    const std::span<const uint8_t> bytes(piece.data(), n);
    crc = format::crc16_xmodem(bytes, crc);
    put_text(encoder.add(bytes));
    left -= n;
  }
  uint8_t crc_bytes[2];
  put_be16(crc_bytes, crc);
  put_text(encoder.add(crc_bytes));
  return true;
}

}  // namespace

bool open_binhex_files(MacBinChannel *channel, const char *path, const char *shown) {
  WriterState *state = writer_state(channel);
  state->file_path = sibling_path(path, ".", ".partial.XXXXXX");
  state->companion_path = strdup(path);
  if (state->file_path == nullptr || state->companion_path == nullptr) {
    report("Out Of Memory (in initialisation)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
    return false;
  }
  TesselFile *text_file = open_output_file(path);
  if (text_file == nullptr) {
    report_output_open_failure(shown);
    return false;
  }
  // Claims a name nobody uses; the host library then opens it by name.
  // That open truncates the (empty) file, and some file systems (ext4's
  // auto_da_alloc) then write a truncated file's pages to disk at its next
  // close, which would send the whole of the forks to the disk just before
  // the file is removed.  The claiming descriptor is closed after the
  // open, while the file is still empty, so that this is spent on nothing.
  const int claimed = mkstemp(state->file_path);
  TesselFile *forks = claimed >= 0 ? open_output_file(state->file_path) : nullptr;
  if (claimed >= 0) close(claimed);
  if (forks == nullptr) {
    if (claimed >= 0) std::remove(state->file_path);
    report("Could not open temporary file", MACBIN_ERROR, MACBIN_ERR_IO);
    fcldelete(text_file);
    fdbfree(text_file);
    return false;
  }
  channel->file = forks;
  state->companion = text_file;
  state->data_start = 0;
  return true;
}

void encode_binhex(MacBinChannel *channel, int32_t resource_fork_length) {
  WriterState &state = *writer_state(channel);
  // What is still buffered must reach the hidden file before it is read.
  if (!seek_output(fgetp(outfile))) return;  // failed: the close removes both

  errno = 0;
  TesselFile *forks = fopenr(nullptr, state.file_path, "STREAM", 0);
  if (forks == nullptr) {
    report("Could not read temporary file", MACBIN_SEVERE, MACBIN_ERR_IO);
    record_write_failure(kErrorFollows);
    return;
  }
  outfile = state.companion;
  try {
    format::BinHexHeaderFields fields{};
    fields.name =
        std::string_view(channel->finder.name, ::strnlen(channel->finder.name, kNameCharacters));
    std::memcpy(fields.type, channel->finder.type, 4);
    std::memcpy(fields.creator, channel->finder.creator, 4);
    fields.finder_flags = static_cast<uint16_t>(channel->finder.flags);
    fields.data_length = static_cast<uint32_t>(channel->data_length);
    fields.rsrc_length = static_cast<uint32_t>(resource_fork_length);
    std::vector<uint8_t> header(format::binhex_header_size(fields.name.size()));
    format::write_binhex_header(fields, header);

    put_text(format::BinHexEncoder::opening());
    format::BinHexEncoder encoder;
    put_text(encoder.add(header));
    std::vector<uint8_t> piece(kReadPiece);
    const bool read = encode_fork(forks, 0, fields.data_length, encoder, piece) &&
                      encode_fork(forks, channel->rsrc_start, fields.rsrc_length, encoder, piece);
    if (read) {
      put_text(encoder.finish());
    } else {
      report("Could not read temporary file", MACBIN_SEVERE, MACBIN_ERR_IO);
      record_write_failure(kErrorFollows);
    }
  } catch (const std::bad_alloc &) {
    report("Out Of Memory (encoding)", MACBIN_SEVERE, MACBIN_ERR_MEMORY);
    record_write_failure(kErrorFollows);
  }
  fdbfree(forks);
}
