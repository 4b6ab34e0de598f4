// Decoding a BinHex text in a stream into a temporary file without a name.
#include "reader/binhex_stream.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>

#include "format/crc16.hpp"
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

}  // namespace

DecodedForksFile::DecodedForksFile() {
  std::error_code error;
  const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
  const std::filesystem::path folder = error ? std::filesystem::path("/tmp") : temporary;
#ifdef O_TMPFILE
  // A file that never has a name, where the system makes one: read back
  // through a second open of its descriptor.
  fd_ = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) {
    const std::string again = "/proc/self/fd/" + std::to_string(fd_);
    reader_ = fopenr("STREAM", again.c_str(), "", 0);
    if (reader_ != nullptr) return;
    close(fd_);
    fd_ = -1;
  }
#endif
  std::string path = (folder / "varnel-binhex-XXXXXX").string();
  fd_ = mkstemp(path.data());
  if (fd_ < 0) return;
  // Both handles are open before the name goes, and the name goes before
  // any byte is written: only these few calls ever see it in the folder.
  reader_ = fopenr("STREAM", path.c_str(), "", 0);
  unlink(path.c_str());
}

DecodedForksFile::~DecodedForksFile() {
  if (fd_ >= 0) close(fd_);
  if (reader_ != nullptr) {
    fclosx(reader_);
    fdbfree(reader_);
  }
}

bool DecodedForksFile::append(const uint8_t *bytes, size_t size) {
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

TesselFile *DecodedForksFile::release_reader() {
  TesselFile *file = reader_;
  reader_ = nullptr;
  return file;
}

void BinHexStreamSink::take(const std::vector<uint8_t> &bytes) {
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

void BinHexStreamSink::route(std::span<const uint8_t> bytes) {
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

void BinHexStreamSink::store_crc_bytes(int which, uint64_t from, std::span<const uint8_t> part) {
  for (size_t i = 0; i < part.size(); ++i) {
    const uint64_t byte = from + i;  // 0: high, 1: low
    stored_crc_[which] = static_cast<uint16_t>(
        byte == 0 ? (stored_crc_[which] & 0x00FF) | (part[i] << 8)
                  : (stored_crc_[which] & 0xFF00) | part[i]);
  }
}

std::string binhex_stop_reason(format::BinHexDecoder::Status status) {
  switch (status) {
    case format::BinHexDecoder::Status::kBadCharacter:
      return " (a character outside the BinHex alphabet)";
    case format::BinHexDecoder::Status::kBadRun: return " (a repeat with no byte before it)";
    case format::BinHexDecoder::Status::kEnd: return " (its closing ':' comes early)";
    default: return "";
  }
}

bool binhex_forks_too_long(const format::BinHexHeaderFacts &header) {
  return int64_t{header.data_length} + header.rsrc_length > kMaxReadPosition;
}

format::BinHexDecoder::Status decode_binhex_text(CheckedFile &file, int64_t start,
                                                 BinHexStreamSink &sink, bool &read_failed) {
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
          if (binhex_forks_too_long(sink.header())) return status;
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
