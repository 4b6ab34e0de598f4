// MacBinary (I, II and III) read into a read channel: the 128-byte header,
// the data fork after it and the resource fork on the next 128-byte
// boundary after the data fork.  A file too short for its header or its
// data fork is refused.
#include <algorithm>
#include <cstring>
#include <string>

#include "format/macbinary_header.hpp"
#include "frame/internal.hpp"
#include "reader/container_openers.hpp"
#include "reader/messages.hpp"
#include "reader/open_steps.hpp"
#include "stream/internal.hpp"

namespace {

namespace format = varnel::format;

constexpr int64_t kHeaderSize = format::kMacBinaryHeaderSize;

// Finder name, type, creator, flags and the two fork lengths, and the
// header's facts for MacBin_GetFileInfo.  Null when the header is usable,
// else the text to report.
const char *read_macbinary_header(CheckedFile &file, MacBinChannel &channel,
                                  format::MacBinaryFacts &facts) {
  uint8_t header[format::kMacBinaryHeaderSize];
  if (!file.read_at(0, header, kHeaderSize)) return kTextCannotRead;
  facts = format::read_macbinary_header(header);

  MacBinFinderInfo &finder = channel.finder;
  // The Finder name field holds 63 characters; a longer length byte comes
  // from a damaged or hostile header and is cut rather than trusted.
  std::memcpy(finder.name, facts.name, sizeof facts.name);
  std::memcpy(finder.type, facts.type, sizeof finder.type);
  std::memcpy(finder.creator, facts.creator, sizeof finder.creator);
  // The Finder flags word as the header holds it at 73 (the byte after the
  // flags as its low half), whatever the variant.
  finder.flags = static_cast<int16_t>(
      format::get_be16(header + offsetof(format::MacBinaryHeader, finder_flags_high)));

  // A MacBinary II secondary header (a comment, say) lies between the header
  // and the data fork, padded to 128 bytes; both forks move past it.
  const int64_t secondary = (int64_t{facts.secondary_header_length} + format::kMacBinaryBlockSize - 1) /
                            format::kMacBinaryBlockSize * format::kMacBinaryBlockSize;
  const int64_t rsrc_start = format::macbinary_rsrc_start(facts.data_length) + secondary;
  if (rsrc_start > kMaxReadPosition) return kTextForkLengthOutOfRange;
  channel.data_length = static_cast<int32_t>(facts.data_length);
  channel.rsrc_offset = static_cast<int32_t>(rsrc_start - format::kMacBinaryBlockSize);
  channel.rsrc_start = static_cast<int32_t>(rsrc_start);
  // A longer resource fork cannot lie inside a file of 32-bit positions: the
  // open finds it cut.  The channel's field holds as much as it can; the
  // header's value is in MacBinFileInfo.
  channel.rsrc_length =
      static_cast<int32_t>(std::min(int64_t{facts.rsrc_length}, kMaxReadPosition));
  return nullptr;
}

}  // namespace

MacBinChannel *open_macbinary(InputFile &input) {
  if (input.length < kHeaderSize) {
    const std::string text = std::string(kTextHeaderCut) + " (" + std::to_string(input.length) +
                             " of " + std::to_string(kHeaderSize) + " bytes)";
    report(text.c_str(), MACBIN_ERROR, MACBIN_ERR_DAMAGED);
    return nullptr;
  }
  ChannelHandle channel = make_read_channel(input);
  if (channel == nullptr) return nullptr;
  ReaderIndex &index = *reader_state(channel.get());
  CheckedFile checked(channel->file, index.file_length_bytes);

  if (const char *failure = read_macbinary_header(checked, *channel, index.header)) {
    report(failure, MACBIN_ERROR, failure == kTextCannotRead ? MACBIN_ERR_IO : MACBIN_ERR_DAMAGED);
    return nullptr;
  }
  index.format = static_cast<int32_t>(index.header.variant);
  // The data fork ends where the resource fork's padding starts.
  index.data_start = channel->rsrc_start - format::macbinary_rsrc_start(index.header.data_length) +
                     format::macbinary_data_start();
  // The data fork is what a host wants most: a file that lacks part of it
  // is refused whole.
  const int64_t data_end = index.data_start + int64_t{index.header.data_length};
  if (data_end > checked.length()) {
    report(cut_fork_text(kTextDataForkCut, checked.length(), "data fork", data_end).c_str(),
           MACBIN_ERROR, MACBIN_ERR_DAMAGED);
    return nullptr;
  }
  if (!read_resource_fork(checked, *channel, index)) return nullptr;
  return channel.release();
}
