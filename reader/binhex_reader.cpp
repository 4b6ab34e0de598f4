// BinHex 4.0 read into a read channel.
//
// The text is decoded once, at the open, into a private temporary file:
// the data fork from its first byte, the resource fork right after it.
// The file is removed from its folder as soon as it is open, so nothing is
// left behind whatever happens to the process; the channel reads both forks
// from it as from any other file (read handlers are positioned in it).
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
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "format/binhex.hpp"
#include "format/crc16.hpp"
#include "frame/internal.hpp"
#include "reader/container_detection.hpp"
#include "reader/container_openers.hpp"
#include "reader/messages.hpp"
#include "reader/open_steps.hpp"
#include "stream/internal.hpp"

namespace {

namespace format = varnel::format;

// Text characters decoded at a time once the header is known, and before
// (while the decoder's limit is still a guess, a piece must not decode to
// more than a header and a few runs).
constexpr int64_t kTextPiece = 4096;
constexpr size_t kHeaderTextPiece = 64;
constexpr uint64_t kMaxRun = 255;

// A temporary file that is gone from its folder when this goes.
class TemporaryFile {
 public:
  TemporaryFile() {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    path_ = (error ? std::filesystem::path("/tmp") : folder) / "varnel-binhex-XXXXXX";
    std::string pattern = path_.string();
    fd_ = mkstemp(pattern.data());
    path_ = pattern;
    if (fd_ < 0) path_.clear();
  }
  ~TemporaryFile() {
    if (fd_ >= 0) close(fd_);
    if (!path_.empty()) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile &) = delete;
  TemporaryFile &operator=(const TemporaryFile &) = delete;

  bool is_open() const { return fd_ >= 0; }
  // Appends every byte; false (errno set) when the file system refuses.
  bool append(const uint8_t *bytes, size_t size) {
    while (size > 0) {
      const ssize_t written = write(fd_, bytes, size);
      if (written < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      bytes += written;
      size -= static_cast<size_t>(written);
    }
    return true;
  }
  // The file opened for reading and taken out of its folder.
  TesselFile *open_for_reading() {
    TesselFile *file = fopenr("STREAM", path_.c_str(), "", 0);
    unlink(path_.c_str());
    path_.clear();
    return file;
  }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

// Routes the decoded stream: the header, then each fork to the temporary
// file (its CRC worked out on the way) and each fork's stored CRC.
class StreamSink {
 public:
  explicit StreamSink(TemporaryFile &out) : out_(out) {}

  bool header_known() const { return header_known_; }
  const format::BinHexHeaderFacts &header() const { return header_; }
  format::BinHexHeaderStatus header_status() const { return header_status_; }
  uint64_t total() const { return total_; }
  uint64_t position() const { return position_; }
  bool write_failed() const { return write_failed_; }
  uint16_t data_crc() const { return data_crc_; }
  uint16_t rsrc_crc() const { return rsrc_crc_; }
  uint16_t stored_data_crc() const { return stored_crc_[0]; }
  uint16_t stored_rsrc_crc() const { return stored_crc_[1]; }

  // Bytes where the data fork, its CRC, the resource fork and its CRC
  // end, from the stream's start.
  uint64_t data_end() const { return header_.header_size + uint64_t{header_.data_length}; }
  uint64_t rsrc_start() const { return data_end() + format::kBinHexCrcBytes; }
  uint64_t rsrc_end() const { return rsrc_start() + header_.rsrc_length; }

  // Takes decoded bytes; before the header is known they wait in memory.
  void take(const std::vector<uint8_t> &bytes) {
    if (!header_known_) {
      head_.insert(head_.end(), bytes.begin(), bytes.end());
      header_status_ = format::parse_binhex_header(head_, &header_);
      if (header_status_ != format::BinHexHeaderStatus::kOk) return;
      header_known_ = true;
      total_ = rsrc_end() + format::kBinHexCrcBytes;
      position_ = header_.header_size;
      route(std::span<const uint8_t>(head_).subspan(header_.header_size));
      head_.clear();
      return;
    }
    route(bytes);
  }

 private:
  void route(std::span<const uint8_t> bytes) {
    while (!bytes.empty() && position_ < total_) {
      uint64_t end;
      if (position_ < data_end()) {
        end = data_end();
      } else if (position_ < rsrc_start()) {
        end = rsrc_start();
      } else if (position_ < rsrc_end()) {
        end = rsrc_end();
      } else {
        end = total_;
      }
      const size_t count = static_cast<size_t>(std::min<uint64_t>(end - position_, bytes.size()));
      const std::span<const uint8_t> part = bytes.first(count);
      if (position_ < data_end()) {
        data_crc_ = format::crc16_xmodem(part, data_crc_);
        write_failed_ = write_failed_ || !out_.append(part.data(), part.size());
      } else if (position_ < rsrc_start()) {
        store_crc_bytes(0, position_ - data_end(), part);
      } else if (position_ < rsrc_end()) {
        rsrc_crc_ = format::crc16_xmodem(part, rsrc_crc_);
        write_failed_ = write_failed_ || !out_.append(part.data(), part.size());
      } else {
        store_crc_bytes(1, position_ - rsrc_end(), part);
      }
      position_ += count;
      bytes = bytes.subspan(count);
    }
  }
  void store_crc_bytes(int which, uint64_t from, std::span<const uint8_t> part) {
    for (size_t i = 0; i < part.size(); ++i) {
      const uint64_t byte = from + i;  // 0: high, 1: low
      stored_crc_[which] = static_cast<uint16_t>(
          byte == 0 ? (stored_crc_[which] & 0x00FF) | (part[i] << 8)
                    : (stored_crc_[which] & 0xFF00) | part[i]);
    }
  }

  TemporaryFile &out_;
  std::vector<uint8_t> head_;
  format::BinHexHeaderFacts header_{};
  format::BinHexHeaderStatus header_status_ = format::BinHexHeaderStatus::kNeedMore;
  bool header_known_ = false;
  uint64_t total_ = 0;
  uint64_t position_ = 0;
  bool write_failed_ = false;
  uint16_t data_crc_ = 0;
  uint16_t rsrc_crc_ = 0;
  uint16_t stored_crc_[2] = {0, 0};
};

// Why the decoder stopped early, for the cut fork's message.
std::string stop_reason(format::BinHexDecoder::Status status) {
  switch (status) {
    case format::BinHexDecoder::Status::kBadCharacter:
      return " (a character outside the BinHex alphabet)";
    case format::BinHexDecoder::Status::kBadRun: return " (a repeat with no byte before it)";
    case format::BinHexDecoder::Status::kEnd: return " (its closing ':' comes early)";
    default: return "";
  }
}

std::string cut_text(const char *what, uint64_t held, uint64_t length,
                     format::BinHexDecoder::Status status) {
  return std::string(what) + ": the BinHex text holds " + std::to_string(held) + " of its " +
         std::to_string(length) + " bytes" + stop_reason(status);
}

bool forks_too_long(const format::BinHexHeaderFacts &header) {
  return int64_t{header.data_length} + header.rsrc_length > kMaxReadPosition;
}

// Decodes the text after `start` into the sink; the decoder's last status.
format::BinHexDecoder::Status decode_text(CheckedFile &file, int64_t start, StreamSink &sink,
                                          bool &read_failed) {
  using Status = format::BinHexDecoder::Status;
  format::BinHexDecoder decoder(format::binhex_header_size(format::kBinHexMaxNameLength) +
                                kMaxRun * kHeaderTextPiece);
  std::vector<char> text(static_cast<size_t>(kTextPiece));
  std::vector<uint8_t> decoded;
  Status status = Status::kNeedMore;
  for (int64_t at = start; status == Status::kNeedMore && at < file.length();) {
    const int64_t size = std::min(kTextPiece, file.length() - at);
    if (!file.read_at(at, text.data(), size)) {
      read_failed = true;
      return status;
    }
    at += size;
    std::string_view piece(text.data(), static_cast<size_t>(size));
    while (status == Status::kNeedMore && !piece.empty()) {
      const bool known = sink.header_known();
      size_t used = 0;
      decoded.clear();
      status = decoder.add(piece.substr(0, known ? piece.size() : kHeaderTextPiece), decoded, &used);
      piece.remove_prefix(used);
      sink.take(decoded);
      if (!known) {
        if (sink.header_known()) {
          // Forks that no channel could hold are not decoded at all.
          if (forks_too_long(sink.header())) return status;
          decoder.set_limit(sink.total());
        } else if (sink.header_status() == format::BinHexHeaderStatus::kNeedMore) {
          decoder.set_limit(decoder.produced() + kMaxRun * kHeaderTextPiece);
        } else {
          return status;  // a header that will never parse
        }
      }
      if (sink.header_known() && sink.position() >= sink.total()) return Status::kEnd;
    }
  }
  return status;
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

  TemporaryFile decoded;
  if (!decoded.is_open()) {
    report(kTextBinHexTempFile, MACBIN_ERROR, MACBIN_ERR_IO);
    return nullptr;
  }
  StreamSink sink(decoded);
  bool read_failed = false;
  const Status status =
      decode_text(text_file, static_cast<int64_t>(start), sink, read_failed);
  if (read_failed) {
    report(kTextCannotRead, MACBIN_ERROR, MACBIN_ERR_IO);
    return nullptr;
  }
  if (!sink.header_known()) {
    switch (sink.header_status()) {
      case format::BinHexHeaderStatus::kBadName: report(kTextBinHexBadName, MACBIN_ERROR, MACBIN_ERR_DAMAGED); break;
      case format::BinHexHeaderStatus::kBadCrc: report(kTextBinHexHeaderCrc, MACBIN_ERROR, MACBIN_ERR_DAMAGED); break;
      default: report((kTextBinHexHeaderCut + stop_reason(status)).c_str(), MACBIN_ERROR, MACBIN_ERR_DAMAGED); break;
    }
    return nullptr;
  }
  const format::BinHexHeaderFacts &header = sink.header();
  if (forks_too_long(header)) {
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
  forks.file.reset(decoded.open_for_reading());
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
