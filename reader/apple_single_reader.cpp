// AppleSingle and AppleDouble read into a read channel.
//
// The header (magic, version, entry table) and the name, Finder info and
// dates entries are read into memory: never more than the file holds, and
// never more than the entry table and kMaxEntryBytes after it, so that a
// hostile table cannot make the reader take a large block.  The forks stay
// in the file and are read where the table puts them, as MacBinary's are:
// a data fork the file does not wholly hold refuses it, a resource fork it
// does not wholly hold (or whose map is damaged) leaves it open without
// resources.
//
// AppleDouble keeps the data fork apart: an AppleDouble header file given
// by its own name ("._NAME") takes the file NAME beside it as its data fork
// when there is one (else the data fork is empty); a plain file with such a
// header file beside it is the data fork of the pair.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "format/apple_single.hpp"
#include "frame/internal.hpp"
#include "reader/container_openers.hpp"
#include "reader/messages.hpp"
#include "reader/open_steps.hpp"
#include "stream/internal.hpp"

namespace {

namespace format = varnel::format;

constexpr int64_t kFixedHeaderBytes = sizeof(format::AppleSingleHeader);
constexpr int64_t kEntryBytes = sizeof(format::AppleSingleEntry);
// Room for the name, Finder info and dates entries after the table; real
// files need a few hundred bytes.
constexpr int64_t kMaxEntryBytes = 64 * 1024;

const char *status_text(format::AppleParseStatus status) {
  switch (status) {
    case format::AppleParseStatus::kOk: return nullptr;
    case format::AppleParseStatus::kNotApple: return kTextAppleTooShort;
    case format::AppleParseStatus::kUnknownVersion: return kTextAppleVersion;
    case format::AppleParseStatus::kEntriesTruncated: return kTextAppleEntriesCut;
    case format::AppleParseStatus::kEntryOutsideFile:
    case format::AppleParseStatus::kEntryNotInHeader: return kTextAppleEntryOutside;
    case format::AppleParseStatus::kDuplicateEntry: return kTextAppleEntryTwice;
    case format::AppleParseStatus::kForkTooLong: return kTextAppleForkTooLong;
  }
  return kTextAppleVersion;
}

bool is_described_entry(uint32_t id) {
  return id == format::kAppleRealName || id == format::kAppleFinderInfo ||
         id == format::kAppleFileDates;
}

// The header's facts, or the text of what is wrong with it ("... header:"
// is put in front by the caller).  The forks are not checked here.
const char *read_apple_header(CheckedFile &file, format::AppleFacts &facts) {
  uint8_t fixed[kFixedHeaderBytes];
  if (file.length() < kFixedHeaderBytes) return kTextAppleTooShort;
  if (!file.read_at(0, fixed, kFixedHeaderBytes)) return kTextCannotRead;
  const int64_t count = get_be16(fixed + offsetof(format::AppleSingleHeader, entry_count));
  const int64_t table_end = kFixedHeaderBytes + kEntryBytes * count;
  if (table_end > file.length()) {
    // The version is judged first, as the parser does.
    const uint32_t version = get_be32(fixed + offsetof(format::AppleSingleHeader, version));
    if (version != format::kAppleVersion1 && version != format::kAppleVersion2) {
      return kTextAppleVersion;
    }
    return kTextAppleEntriesCut;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(table_end));
  if (!file.read_at(0, bytes.data(), table_end)) return kTextCannotRead;

  // How far the entries the parser reads reach, inside the file and the
  // limit; one that reaches further is refused by the parser.
  int64_t needed = table_end;
  for (int64_t i = 0; i < count; ++i) {
    const uint8_t *entry = bytes.data() + kFixedHeaderBytes + kEntryBytes * i;
    if (!is_described_entry(get_be32(entry))) continue;
    const int64_t end = int64_t{get_be32(entry + 4)} + get_be32(entry + 8);
    if (end <= file.length() && end <= table_end + kMaxEntryBytes) needed = std::max(needed, end);
  }
  if (needed > table_end) {
    bytes.resize(static_cast<size_t>(needed));
    if (!file.read_at(table_end, bytes.data() + table_end, needed - table_end)) {
      return kTextCannotRead;
    }
  }
  // The forks are bounded by the reader (a cut resource fork opens without
  // resources): the parser is told of no file end to hold them to.
  return status_text(
      format::parse_apple_header(bytes, std::numeric_limits<uint64_t>::max(), &facts));
}

void report_header_failure(const char *kind, const std::string &file_label, const char *text) {
  if (text == kTextCannotRead) {
    report(text, MACBIN_ERROR, MACBIN_ERR_IO);
    return;
  }
  std::string message = std::string(kind) + " header";
  if (!file_label.empty()) message += " " + file_label;
  message += ": " + std::string(text);
  report(message.c_str(), MACBIN_ERROR, text == kTextAppleVersion ? MACBIN_ERR_UNSUPPORTED : MACBIN_ERR_DAMAGED);
}

uint32_t macintosh_date(int32_t apple_date, bool known) {
  uint32_t date = 0;
  if (known && format::macintosh_date_from_apple(apple_date, &date)) return date;
  return 0;  // unknown
}

FileFacts facts_of(const format::AppleFacts &apple, std::string_view fallback_name,
                   uint32_t data_length) {
  FileFacts facts{};
  facts.format = apple.variant == format::AppleVariant::kSingle ? MACBIN_FORMAT_APPLESINGLE
                                                                : MACBIN_FORMAT_APPLEDOUBLE;
  facts.crc_state = -1;
  facts.name = apple.has_name ? std::string_view(apple.name, apple.name_length) : fallback_name;
  std::memcpy(facts.type, apple.type, 4);  // zero without a Finder info entry
  std::memcpy(facts.creator, apple.creator, 4);
  facts.finder_flags = apple.finder_flags;
  facts.finder_info = apple.finder_info;
  facts.created = macintosh_date(apple.created, apple.has_dates);
  facts.modified = macintosh_date(apple.modified, apple.has_dates);
  facts.data_length = data_length;
  facts.rsrc_length = apple.has_rsrc_fork ? apple.rsrc_length : 0;
  return facts;
}

// The resource fork's start as a channel position; one past what 32-bit
// positions reach is found cut by read_resource_fork.
int64_t rsrc_start_of(const format::AppleFacts &apple) {
  return apple.has_rsrc_fork ? std::min<int64_t>(apple.rsrc_offset, kMaxReadPosition) : 0;
}

// Opens the data file beside an AppleDouble header file "._NAME", when it
// is there; false (nothing opened) otherwise.
bool open_data_file_beside(const std::string &header_path, InputFile &data) {
  const std::string_view name = base_name(header_path);
  if (!name.starts_with(format::kAppleDoublePrefix) || name.size() == format::kAppleDoublePrefix.size()) return false;
  const std::string path = header_path.substr(0, header_path.size() - name.size()) +
                           std::string(name.substr(2));
  data.file.reset(fopenr("STREAM", path.c_str(), "", 0));
  if (data.file == nullptr) return false;
  const int64_t eof = fgeteof(data.file.get());
  if (eof < 0) {
    data.file.reset();
    return false;
  }
  data.length = std::min(eof, kMaxReadPosition);
  data.size_bytes = eof;
  data.path = path;
  return true;
}

// Finishes a channel whose facts are known: the data fork must lie whole
// in its file, the resource fork is read by the common rules.
MacBinChannel *finish(ChannelHandle channel, CheckedFile &file) {
  ReaderIndex &index = *reader_state(channel.get());
  const int64_t data_end = index.data_start + int64_t{index.header.data_length};
  if (data_end > index.data_file_length) {
    report(cut_fork_text(kTextDataForkCut, index.data_file_length, "data fork", data_end).c_str(),
           MACBIN_ERROR, MACBIN_ERR_DAMAGED);
    return nullptr;
  }
  if (!read_resource_fork(file, *channel, index)) return nullptr;
  return channel.release();
}

}  // namespace

MacBinChannel *open_apple_file(InputFile &input) {
  format::AppleFacts apple{};
  {
    CheckedFile checked(input.file.get(), input.length);
    if (const char *failure = read_apple_header(checked, apple)) {
      // The magic said which one it is.
      uint8_t magic[4] = {};
      checked.read_at(0, magic, sizeof magic);
      const bool single = get_be32(magic) == format::kAppleSingleMagic;
      report_header_failure(single ? "AppleSingle" : "AppleDouble", "", failure);
      return nullptr;
    }
  }
  const std::string own_path = input.path;
  std::string_view fallback = base_name(own_path);
  if (fallback.starts_with(format::kAppleDoublePrefix)) fallback.remove_prefix(format::kAppleDoublePrefix.size());

  // An AppleDouble header without a data fork entry of its own has its
  // data fork beside it.
  InputFile data;
  const bool data_beside = apple.variant == format::AppleVariant::kDouble && !apple.has_data_fork &&
                           open_data_file_beside(own_path, data);
  if (data_beside && data.size_bytes > kMaxReadPosition) {
    report(kTextDataFileTooLong, MACBIN_ERROR, MACBIN_ERR_LIMIT);
    return nullptr;
  }
  const uint32_t data_length = data_beside ? static_cast<uint32_t>(data.length)
                               : apple.has_data_fork ? apple.data_length
                                                     : 0;

  ChannelHandle channel = make_read_channel(input);
  if (channel == nullptr) return nullptr;
  ReaderIndex &index = *reader_state(channel.get());
  set_file_facts(*channel, index, facts_of(apple, fallback, data_length), rsrc_start_of(apple));
  if (data_beside) {
    index.data_file = data.file.release();
    index.own_data_file = true;
    index.data_start = 0;
    index.data_file_length = data.length;
  } else {
    index.data_start = apple.has_data_fork ? apple.data_offset : 0;
  }
  CheckedFile checked(channel->file, index.file_length_bytes);
  return finish(std::move(channel), checked);
}

MacBinChannel *open_apple_double_pair(InputFile &header, InputFile &data, bool &not_a_header) {
  not_a_header = true;
  format::AppleFacts apple{};
  CheckedFile header_file(header.file.get(), header.length);
  uint8_t magic[4] = {};
  if (!header_file.read_at(0, magic, sizeof magic) ||
      get_be32(magic) != format::kAppleDoubleMagic) {
    return nullptr;
  }
  not_a_header = false;
  const std::string label(base_name(header.path));
  if (const char *failure = read_apple_header(header_file, apple)) {
    report_header_failure("AppleDouble", label, failure);
    return nullptr;
  }
  if (data.size_bytes > kMaxReadPosition) {
    report(kTextDataFileTooLong, MACBIN_ERROR, MACBIN_ERR_LIMIT);
    return nullptr;
  }
  const std::string data_path = data.path;

  ChannelHandle channel = make_read_channel(header);
  if (channel == nullptr) return nullptr;
  ReaderIndex &index = *reader_state(channel.get());
  set_file_facts(*channel, index,
                 facts_of(apple, base_name(data_path), static_cast<uint32_t>(data.length)),
                 rsrc_start_of(apple));
  index.data_file_length = data.length;
  index.data_file = data.file.release();
  index.own_data_file = true;
  index.data_start = 0;
  CheckedFile checked(channel->file, index.file_length_bytes);
  return finish(std::move(channel), checked);
}
