// MacBin_ReadDataFork, MacBin_ReadResourceFork and MacBin_ReadResourceData:
// bytes of a file opened for reading, for hosts.  Every position comes from the file, so each is
// checked against the fork it belongs to and against the file before a byte
// is read; and the channel's file is left where it was, since read handlers
// and hosts may be reading from it.
#include <algorithm>
#include <cstdint>

#include "format/macbinary_header.hpp"
#include "format/resource_fork.hpp"
#include "reader/checked_cursor.hpp"
#include "reader/lookup_index.hpp"
#include "stream/internal.hpp"

namespace {

namespace format = varnel::format;

// Puts the file back where it was when the reads are done.
class KeptPosition {
 public:
  explicit KeptPosition(TesselFile *file) : file_(file), position_(fgetp(file)) {}
  ~KeptPosition() {
    if (position_ >= 0) fputp(file_, position_);
  }
  KeptPosition(const KeptPosition &) = delete;
  KeptPosition &operator=(const KeptPosition &) = delete;

 private:
  TesselFile *file_;
  int64_t position_;
};

bool buffer_is_usable(const void *buffer, int32_t size) {
  return size >= 0 && (buffer != nullptr || size == 0);
}

}  // namespace

int32_t MacBin_ReadDataFork(MacBinChannel *channel, int64_t offset, void *buffer, int32_t count) {
  ReaderIndex *state = reader_state(channel);
  if (state == nullptr || !buffer_is_usable(buffer, count) || offset < 0) return -1;
  const int64_t fork_length = state->header.data_length;
  if (offset > fork_length) return -1;
  const int64_t wanted = std::min<int64_t>(count, fork_length - offset);
  if (wanted == 0) return 0;
  // The data fork may lie in a file of its own (AppleDouble), which only
  // this call moves; the channel's file is kept where it was all the same.
  CheckedFile file(state->data_file, state->data_file_length);
  KeptPosition kept(state->data_file);
  if (!file.read_at(state->data_start + offset, buffer, wanted)) return -1;
  return static_cast<int32_t>(wanted);
}

// The fork as the header gives it, bounded by what the file holds: a cut
// fork delivers its bytes up to the cut and -1 for any past it, so that a
// host never takes part of a fork for the whole.
int32_t MacBin_ReadResourceFork(MacBinChannel *channel, int64_t offset, void *buffer, int32_t count) {
  ReaderIndex *state = reader_state(channel);
  if (state == nullptr || !buffer_is_usable(buffer, count) || offset < 0) return -1;
  const int64_t fork_length = channel->rsrc_length;
  if (offset > fork_length) return -1;
  const int64_t wanted = std::min<int64_t>(count, fork_length - offset);
  if (wanted == 0) return 0;
  const int64_t start = int64_t{channel->rsrc_start} + offset;
  if (start + wanted > state->file_length_bytes) return -1;
  CheckedFile file(channel->file, state->file_length_bytes);
  KeptPosition kept(channel->file);
  if (!file.read_at(start, buffer, wanted)) return -1;
  return static_cast<int32_t>(wanted);
}

int32_t MacBin_ReadResourceData(MacBinChannel *channel, const MacBinRefEntry *ref, void *buffer,
                                int32_t capacity) {
  ReaderIndex *state = reader_state(channel);
  if (state == nullptr || !buffer_is_usable(buffer, capacity) || reference_number(*state, ref) < 0) {
    return -1;
  }
  // The resource fork as far as the file holds it.
  const int64_t fork_start = channel->rsrc_start;
  const int64_t fork_end =
      std::min<int64_t>(fork_start + channel->rsrc_length, state->file_length_bytes);
  const int64_t length_pos = int64_t{channel->rdata_pos} + ref->data_offset;
  const int64_t data_pos = length_pos + static_cast<int64_t>(format::kDataLengthWordSize);
  if (length_pos < fork_start || data_pos > fork_end) return -1;

  CheckedFile file(channel->file, fork_end);
  KeptPosition kept(channel->file);
  uint8_t length_word[format::kDataLengthWordSize];
  if (!file.read_at(length_pos, length_word, sizeof length_word)) return -1;
  const int64_t length = get_be32(length_word);
  if (length > fork_end - data_pos) return -1;
  const int64_t copied = std::min<int64_t>(length, capacity);
  if (copied > 0 && !file.read_at(data_pos, buffer, copied)) return -1;
  return static_cast<int32_t>(length);
}
