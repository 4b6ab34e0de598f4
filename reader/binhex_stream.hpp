// Private to the reader.
//
// Decoding a BinHex text in a stream into a private temporary file: the
// data fork from its first byte, the resource fork right after it, each
// fork's CRC worked out on the way.  Shared by the open (MacBin_OpenR) and
// the check (MacBin_CheckFile).
//
// The temporary file has no name while bytes are decoded into it: the
// decoding of a large text takes long, and a process stopped in the middle
// (a signal, a crash, the power) must not leave hundreds of megabytes
// behind.  Where the system makes files without a name (O_TMPFILE) it never
// has one; elsewhere its name goes the moment it is made, before the first
// byte.  It is written through its own descriptor and read through a file
// handle of its own.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/binhex.hpp"
#include "reader/checked_cursor.hpp"
#include "varnel.h"

// A temporary file with no name: written by append(), read through
// reader(), gone with its last handle.
class DecodedForksFile {
 public:
  DecodedForksFile();
  ~DecodedForksFile();
  DecodedForksFile(const DecodedForksFile &) = delete;
  DecodedForksFile &operator=(const DecodedForksFile &) = delete;

  bool is_open() const { return fd_ >= 0 && reader_ != nullptr; }
  // Appends every byte; false (errno set) when the file system refuses.
  bool append(const uint8_t *bytes, size_t size);
  // The handle the forks are read through; null when it is not open.
  // release_reader() hands it over (the caller closes it).
  TesselFile *reader() const { return reader_; }
  TesselFile *release_reader();

 private:
  int fd_ = -1;
  TesselFile *reader_ = nullptr;
};

// Routes the decoded stream: the header, then each fork to the temporary
// file (its CRC worked out on the way) and each fork's stored CRC.
class BinHexStreamSink {
 public:
  explicit BinHexStreamSink(DecodedForksFile &out) : out_(out) {}

  bool header_known() const { return header_known_; }
  const varnel::format::BinHexHeaderFacts &header() const { return header_; }
  varnel::format::BinHexHeaderStatus header_status() const { return header_status_; }
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
  uint64_t rsrc_start() const { return data_end() + varnel::format::kBinHexCrcBytes; }
  uint64_t rsrc_end() const { return rsrc_start() + header_.rsrc_length; }

  // Takes decoded bytes; before the header is known they wait in memory.
  void take(const std::vector<uint8_t> &bytes);

 private:
  void route(std::span<const uint8_t> bytes);
  void store_crc_bytes(int which, uint64_t from, std::span<const uint8_t> part);

  DecodedForksFile &out_;
  std::vector<uint8_t> head_;
  varnel::format::BinHexHeaderFacts header_{};
  varnel::format::BinHexHeaderStatus header_status_ = varnel::format::BinHexHeaderStatus::kNeedMore;
  bool header_known_ = false;
  uint64_t total_ = 0;
  uint64_t position_ = 0;
  bool write_failed_ = false;
  uint16_t data_crc_ = 0;
  uint16_t rsrc_crc_ = 0;
  uint16_t stored_crc_[2] = {0, 0};
};

// Why the decoder stopped early, for the cut fork's message: " (a character
// outside the BinHex alphabet)" and the like, or "".
std::string binhex_stop_reason(varnel::format::BinHexDecoder::Status status);

// Forks that no channel could hold (together past 32-bit positions).
bool binhex_forks_too_long(const varnel::format::BinHexHeaderFacts &header);

// Decodes the text after `start` into the sink; the decoder's last status.
// Forks too long for any channel are not decoded at all.  `read_failed`
// is set when the text could not be read.
varnel::format::BinHexDecoder::Status decode_binhex_text(CheckedFile &file, int64_t start,
                                                         BinHexStreamSink &sink, bool &read_failed);
