// Private to the reader.
//
// The steps every container's open shares: a read channel around an open
// file, the facts MacBin_GetFileInfo gives, and the resource fork read by
// the same rules whatever holds it (a fork the file does not wholly hold,
// or whose map fails a check, leaves the channel without resources and
// draws one warning; a file that cannot be read or memory that runs out
// refuses the open).
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "reader/checked_cursor.hpp"
#include "reader/internal.hpp"
#include "reader/lookup_index.hpp"

// Channel positions are 32-bit: bytes of a file beyond are treated as not
// there.
inline constexpr int64_t kMaxReadPosition = std::numeric_limits<int32_t>::max();

struct CloseFile {
  void operator()(TesselFile *file) const {
    fclosx(file);
    fdbfree(file);
  }
};
using FileHandle = std::unique_ptr<TesselFile, CloseFile>;

// A channel being built: released with everything hung on it unless
// handed out.
struct CloseReadChannel {
  void operator()(MacBinChannel *channel) const { close_read_channel(channel); }
};
using ChannelHandle = std::unique_ptr<MacBinChannel, CloseReadChannel>;

// An open file and how many of its bytes the reader may use.
struct InputFile {
  FileHandle file;
  int64_t length = 0;      // at most kMaxReadPosition
  int64_t size_bytes = 0;  // the whole file, which may be longer
  std::string path;
};

// Opens `path` for reading; reports why and returns false when it cannot.
bool open_input_file(const char *path, InputFile &input);

// A read channel on input.file (taken over), with a fresh ReaderIndex whose
// data fork lies in the same file.  Null after reporting when there is no
// room.
ChannelHandle make_read_channel(InputFile &input);

// What any container says about the file, in the form MacBin_GetFileInfo
// gives it.  Dates are seconds since 1904, 0 when unknown.
struct FileFacts {
  int32_t format;
  int32_t crc_state;
  std::string_view name;  // cut to 63 characters
  char type[4];
  char creator[4];
  uint16_t finder_flags;
  uint32_t created;
  uint32_t modified;
  uint32_t data_length;
  uint32_t rsrc_length;
  // The whole Finder information where the container holds it (AppleSingle
  // and AppleDouble); type, creator and flags above go over its own.
  varnel::format::FinderInfoBlock finder_info;
};

// Stores the facts in the channel's Finder record and fork fields and in
// its index.  The resource fork starts at rsrc_start of the channel's file.
void set_file_facts(MacBinChannel &channel, ReaderIndex &index, const FileFacts &facts,
                    int64_t rsrc_start);

// "<what>: the file ends at N, the <fork> at M".
std::string cut_fork_text(const char *what, int64_t file_end, const char *fork, int64_t fork_end);

// Reads the resource fork that channel.rsrc_start and index.header.rsrc_length
// place in the channel's file (of file.length() bytes), and sets rsrc_state.
// Returns false, after reporting, only when the open must be refused.
bool read_resource_fork(CheckedFile &file, MacBinChannel &channel, ReaderIndex &index);

// Reads the resource map only, the fork having been found whole; null when
// it was read, else the text of what failed.
const char *read_resource_map(CheckedFile &file, MacBinChannel &channel, ReaderIndex &index);

// Failures the file cannot be blamed for: the open is refused.
bool is_read_or_memory_failure(const char *text);

// The last part of a path (after its last '/').
std::string_view base_name(std::string_view path);

// The AppleDouble header file "._NAME" that would lie beside `path`.
std::string apple_double_header_path(std::string_view path);
