// MacBin_CheckFile: which container a file is by its content, what its
// data fork holds in turn, and every CRC, length and map fault, each told
// once with what it means and what to do.
//
// The check opens no channel and reports nothing through the message
// method: a host that checks a file wants the findings, not the open's
// complaints.  It detects the container as MacBin_OpenR does (the same
// detection), then goes through that container's own fields; the resource
// fork of every container goes through the same checks
// (reader/resource_map_check.cpp).
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/apple_single.hpp"
#include "format/binhex.hpp"
#include "format/macbinary_header.hpp"
#include "format/pict_file.hpp"
#include "frame/internal.hpp"
#include "reader/binhex_stream.hpp"
#include "reader/container_detection.hpp"
#include "reader/file_check.hpp"
#include "reader/open_steps.hpp"
#include "stream/internal.hpp"

static_assert(offsetof(MacBinFinding, severity) == 0);
static_assert(offsetof(MacBinFinding, code) == 4);
static_assert(offsetof(MacBinFinding, offset) == 8);
static_assert(offsetof(MacBinFinding, what) == 16);
static_assert(offsetof(MacBinFinding, action) > offsetof(MacBinFinding, what));
static_assert(offsetof(MacBinCheckReport, resources) == 16);
static_assert(offsetof(MacBinCheckReport, container) == 20);
static_assert(sizeof(MacBinCheckReport) == 128);

void FindingList::add(int32_t severity, int32_t code, int64_t offset, const std::string &what,
                      const std::string &action) {
  PerCode &seen = per_code_[code];
  seen.severity = std::max(seen.severity, severity);
  if (seen.told >= kFindingsToldPerCode) {
    ++seen.untold;
    return;
  }
  ++seen.told;
  hand_over(severity, code, offset, what, action);
}

void FindingList::hand_over(int32_t severity, int32_t code, int64_t offset, const std::string &what,
                            const std::string &action) {
  ++count_;
  worst_ = std::max(worst_, severity);
  if (method_ == nullptr) return;
  const MacBinFinding finding{severity, code, offset, what.c_str(), action.c_str()};
  method_(&finding, argument_);
}

void FindingList::finish() {
  for (const auto &[code, seen] : per_code_) {
    if (seen.untold == 0) continue;
    hand_over(seen.severity, MACBIN_FINDING_MORE, -1,
              std::to_string(seen.untold) + " more findings of code " + std::to_string(code) +
                  " like the " + std::to_string(kFindingsToldPerCode) + " above were not told one by one",
              "The file is badly damaged: fix or salvage what the first findings name, then check again");
  }
}

namespace {

namespace format = varnel::format;

constexpr int64_t kMacBinaryHeaderBytes = format::kMacBinaryHeaderSize;
// As the open: room for the name, Finder info and dates entries after an
// AppleSingle entry table.
constexpr int64_t kAppleEntryRoom = 64 * 1024;

const char *const kFetchAgain = "Fetch or copy the file again whole";

std::string number(int64_t value) { return std::to_string(value); }

std::string hex16(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFF);
  return text;
}

const char *container_name(int32_t format) {
  switch (format) {
    case MACBIN_FORMAT_CLASSIC: return "MacBinary I";
    case MACBIN_FORMAT_II: return "MacBinary II";
    case MACBIN_FORMAT_III: return "MacBinary III";
    case MACBIN_FORMAT_APPLESINGLE: return "AppleSingle";
    case MACBIN_FORMAT_APPLEDOUBLE: return "AppleDouble header";
    case MACBIN_FORMAT_BINHEX: return "BinHex 4.0";
    case MACBIN_FORMAT_RSRC: return "bare resource fork";
    default: return "no Macintosh container";
  }
}

bool is_macbinary_format(int32_t format) {
  return format == MACBIN_FORMAT_CLASSIC || format == MACBIN_FORMAT_II || format == MACBIN_FORMAT_III;
}

bool ends_with(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  const std::string_view tail = name.substr(name.size() - suffix.size());
  return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

// What a file's name promises, as users and programs name them; 0 for a
// name that promises nothing.  The stem is the name without what says so.
int32_t promised_format(std::string_view name, std::string_view *stem) {
  *stem = name;
  if (name.starts_with(format::kAppleDoublePrefix) && name.size() > 2) {
    *stem = name.substr(2);
    return MACBIN_FORMAT_APPLEDOUBLE;
  }
  struct Suffix {
    std::string_view text;
    int32_t format;
  };
  static constexpr Suffix kSuffixes[] = {{".hqx", MACBIN_FORMAT_BINHEX},
                                         {".bin", MACBIN_FORMAT_II},
                                         {".macbin", MACBIN_FORMAT_II},
                                         {".as", MACBIN_FORMAT_APPLESINGLE},
                                         {".rsrc", MACBIN_FORMAT_RSRC}};
  for (const Suffix &suffix : kSuffixes) {
    if (name.size() > suffix.text.size() && ends_with(name, suffix.text)) {
      *stem = name.substr(0, name.size() - suffix.text.size());
      return suffix.format;
    }
  }
  return 0;
}

std::string suggested_name(int32_t format, std::string_view stem) {
  const std::string base(stem);
  switch (format) {
    case MACBIN_FORMAT_APPLEDOUBLE: return "._" + base;
    case MACBIN_FORMAT_BINHEX: return base + ".hqx";
    case MACBIN_FORMAT_APPLESINGLE: return base + ".as";
    case MACBIN_FORMAT_RSRC: return base + ".rsrc";
    default: return base + ".bin";
  }
}

// A PICT file, by its first bytes (format/pict_file.hpp).
bool holds_pict_file(CheckedFile &file) {
  std::array<uint8_t, varnel::format::kPictFileDecidingBytes> head{};
  const int64_t length = std::min<int64_t>(file.length(), static_cast<int64_t>(head.size()));
  if (!file.read_at(0, head.data(), length)) return false;
  return varnel::format::find_picture_in_pict_file(std::span<const uint8_t>(head.data(), static_cast<size_t>(length)))
      .has_value();
}

class FileCheck {
 public:
  FileCheck(int32_t flags, FindingList &findings, MacBinCheckReport &report)
      : flags_(flags), out_(findings), report_(report) {}

  // -1 when the file cannot be read (the reason recorded), else 0.
  int32_t run(const char *path);
  // The container in words, for MacBinCheckReport.container.
  const std::string &container() const { return container_; }

 private:
  int32_t check_container(CheckedFile &file, Container container, const std::string &path);
  int32_t check_macbinary(CheckedFile &file);
  int32_t check_apple(CheckedFile &file, bool header_only);
  int32_t check_binhex(CheckedFile &file);
  void check_name(const std::string &path);
  void check_data_fork(const ForkPlace &fork, bool has_resource_fork);
  void check_fork_lengths(uint32_t data_length, uint32_t rsrc_length);
  void set_container(int32_t format, std::string words) {
    report_.format = format;
    container_ = std::move(words);
  }

  int32_t flags_;
  FindingList &out_;
  MacBinCheckReport &report_;
  std::string container_;
};

int32_t read_failure(const std::string &path) {
  record_error(MACBIN_ERR_IO, ("Could not read input file " + path).c_str());
  return -1;
}

int32_t FileCheck::run(const char *path) {
  errno = 0;
  FileHandle file(fopenr("STREAM", path, "", 0));
  if (file == nullptr) {
    record_error(MACBIN_ERR_IO, (std::string("Could not open input file ") + path).c_str());
    return -1;
  }
  const int64_t eof = fgeteof(file.get());
  if (eof < 0) return read_failure(path);
  CheckedFile checked(file.get(), std::min(eof, kMaxReadPosition));
  Container container = Container::kNone;
  if (!detect_container(checked, &container)) return read_failure(path);
  if (container != Container::kNone) return check_container(checked, container, path);

  // A plain file with an AppleDouble header file beside it: the pair.
  const std::string header_path = apple_double_header_path(path);
  FileHandle header(fopenr("STREAM", header_path.c_str(), "", 0));
  if (header != nullptr) {
    const int64_t header_eof = fgeteof(header.get());
    if (header_eof < 0) return read_failure(header_path);
    CheckedFile header_file(header.get(), std::min(header_eof, kMaxReadPosition));
    Container beside = Container::kNone;
    if (!detect_container(header_file, &beside)) return read_failure(header_path);
    if (beside == Container::kAppleDouble) {
      const int32_t status = check_apple(header_file, true);
      container_ = "AppleDouble data file (its header file is " + std::string(base_name(header_path)) + ")";
      return status < 0 ? read_failure(header_path) : 0;
    }
  }
  if (holds_pict_file(checked)) {
    // A picture alone is whole: there is no fork or Finder information that
    // could have been lost on the way.
    set_container(0, "PICT picture file (a picture alone, not a container)");
    return 0;
  }
  set_container(0, container_name(0));
  out_.add(MACBIN_ERROR, MACBIN_FINDING_NOT_A_CONTAINER, -1,
           "Not a Macintosh container: neither MacBinary, AppleSingle, AppleDouble, BinHex 4.0 "
           "nor a bare resource fork",
           "If it came from a Macintosh it lost its resource fork and Finder information on the "
           "way: fetch it again packed in a container");
  return 0;
}

int32_t FileCheck::check_container(CheckedFile &file, Container container, const std::string &path) {
  int32_t status = 0;
  switch (container) {
    case Container::kMacBinary: status = check_macbinary(file); break;
    case Container::kAppleSingle: status = check_apple(file, false); break;
    case Container::kAppleDouble: status = check_apple(file, true); break;
    case Container::kBinHex: status = check_binhex(file); break;
    case Container::kResourceFork:
      set_container(MACBIN_FORMAT_RSRC, container_name(MACBIN_FORMAT_RSRC));
      report_.resources = check_resource_fork({&file, 0, file.length(), file.length()}, flags_, out_);
      break;
    case Container::kNone: break;
  }
  if (status < 0) return read_failure(path);
  check_name(path);
  return 0;
}

// A name that promises another container than the content is: programs
// that go by the name (file managers, other tools) will misread it.
void FileCheck::check_name(const std::string &path) {
  std::string_view stem;
  const std::string_view name = base_name(path);
  const int32_t promised = promised_format(name, &stem);
  const int32_t actual = report_.format;
  if (promised == 0 || actual == 0) return;
  if (promised == actual || (is_macbinary_format(promised) && is_macbinary_format(actual))) return;
  out_.add(MACBIN_WARNING, MACBIN_FINDING_NAME_MISLEADS, -1,
           "Named like a " + std::string(container_name(promised)) + " file, but holds " +
               container_name(actual) + ": programs that go by the name misread it",
           "Rename it " + suggested_name(actual, stem));
}

// What the data fork holds in turn: a container packed into another, or a
// resource fork saved as a data fork.
void FileCheck::check_data_fork(const ForkPlace &fork, bool has_resource_fork) {
  const int64_t size = std::min(fork.declared, kBinHexSearchBytes);
  if (size <= 0 || fork.declared > fork.held) return;
  std::vector<uint8_t> head(static_cast<size_t>(size));
  if (!fork.file->read_at(fork.start, head.data(), size)) return;
  int32_t inner = 0;
  if (head.size() >= 4 && get_be32(head.data()) == format::kAppleSingleMagic) {
    inner = MACBIN_FORMAT_APPLESINGLE;
  } else if (head.size() >= 4 && get_be32(head.data()) == format::kAppleDoubleMagic) {
    inner = MACBIN_FORMAT_APPLEDOUBLE;
  } else {
    const std::string_view text(reinterpret_cast<const char *>(head.data()), head.size());
    const size_t line = text.find("(This file must be converted");
    if (line != std::string_view::npos && text.substr(0, line).find('\0') == std::string_view::npos) {
      inner = MACBIN_FORMAT_BINHEX;
    } else if (head.size() >= format::kMacBinaryHeaderSize &&
               format::macbinary_header_is_plausible(
                   std::span<const uint8_t>(head).first<format::kMacBinaryHeaderSize>())) {
      // A header alone is weak evidence: its fork lengths must also make
      // up the data fork's length (with the padding writers add).
      const format::MacBinaryFacts facts =
          format::read_macbinary_header(std::span<const uint8_t>(head).first<format::kMacBinaryHeaderSize>());
      const int64_t whole = facts.rsrc_length == 0
                                ? kMacBinaryHeaderBytes + int64_t{facts.data_length}
                                : format::macbinary_rsrc_start(facts.data_length) + int64_t{facts.rsrc_length};
      const int64_t padded = whole + format::macbinary_padding(whole);
      if (facts.secondary_header_length == 0 && fork.declared >= whole && fork.declared <= padded) {
        inner = static_cast<int32_t>(facts.variant);
      }
    }
  }
  const int64_t where = fork.start + fork.report_shift;
  if (inner != 0) {
    report_.inner_format = inner;
    container_ += std::string(" holding ") + container_name(inner);
    out_.add(MACBIN_WARNING, MACBIN_FINDING_PACKED_TWICE, where,
             "The data fork is itself a " + std::string(container_name(inner)) +
                 " file: the file was packed twice",
             "Save the data fork as a file of its own and open that: it holds the real forks");
    return;
  }
  if (!has_resource_fork && holds_resource_fork(fork)) {
    container_ += " holding a resource fork as its data fork";
    out_.add(MACBIN_WARNING, MACBIN_FINDING_FORK_IN_DATA, where,
             "The data fork is a resource fork and the resource fork is empty: the resource fork "
             "was saved as the data fork",
             "Save the data fork as a bare resource fork (NAME.rsrc) and open that, or pack it "
             "again as the resource fork");
  }
}

int32_t FileCheck::check_macbinary(CheckedFile &file) {
  uint8_t bytes[format::kMacBinaryHeaderSize];
  if (!file.read_at(0, bytes, kMacBinaryHeaderBytes)) return -1;
  const format::MacBinaryFacts facts = format::read_macbinary_header(bytes);
  const auto variant = static_cast<int32_t>(facts.variant);
  set_container(variant, container_name(variant));
  if (facts.crc_state == 0) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_HEADER_CRC, offsetof(format::MacBinaryHeader, crc),
             "The " + std::string(container_name(variant)) + " header's CRC is " + hex16(facts.crc_stored) +
                 ", its bytes give " + hex16(facts.crc_computed) +
                 ": the header was changed or damaged after it was written",
             "Check its name, type, creator and fork lengths; when they are right, "
             "convert the file to write a sound header");
  }
  const int64_t secondary = (int64_t{facts.secondary_header_length} + kMacBinaryHeaderBytes - 1) /
                            kMacBinaryHeaderBytes * kMacBinaryHeaderBytes;
  const int64_t data_start = kMacBinaryHeaderBytes + secondary;
  const int64_t data_end = data_start + int64_t{facts.data_length};
  if (data_end > file.length()) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_DATA_CUT, file.length(),
             "The file ends at " + number(file.length()) + ", inside the data fork, which ends at " +
                 number(data_end) + ": " + number(data_end - file.length()) + " bytes and the resource fork are missing",
             std::string(kFetchAgain) + "; what is there of the data fork can still be saved");
    return 0;
  }
  const int64_t rsrc_start = format::macbinary_rsrc_start(facts.data_length) + secondary;
  const int64_t rsrc_end = rsrc_start + int64_t{facts.rsrc_length};
  check_data_fork({&file, data_start, facts.data_length, facts.data_length}, facts.rsrc_length != 0);
  if (facts.rsrc_length == 0) return 0;
  if (rsrc_end > file.length()) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_RSRC_CUT, file.length(),
             "The file ends at " + number(file.length()) + ", inside the resource fork, which ends at " +
                 number(rsrc_end) + ": its resources cannot be read",
             std::string(kFetchAgain) + "; the data fork is whole and can be saved");
    return 0;
  }
  report_.resources = check_resource_fork(
      {&file, rsrc_start, facts.rsrc_length, file.length() - rsrc_start}, flags_, out_);
  return 0;
}

const char *apple_status_text(format::AppleParseStatus status) {
  switch (status) {
    case format::AppleParseStatus::kOk: return nullptr;
    case format::AppleParseStatus::kNotApple: return "the file is too short for its header";
    case format::AppleParseStatus::kUnknownVersion: return "its version is neither 1 nor 2";
    case format::AppleParseStatus::kEntriesTruncated: return "its entry table runs past the end of the file";
    case format::AppleParseStatus::kEntryOutsideFile: return "an entry runs past the end of the file";
    case format::AppleParseStatus::kEntryNotInHeader:
      return "its name, Finder info or dates entry lies too far from the entry table";
    case format::AppleParseStatus::kDuplicateEntry: return "it lists an entry twice";
    case format::AppleParseStatus::kForkTooLong: return "a fork is longer than 2147483647 bytes";
  }
  return "it is damaged";
}

int32_t FileCheck::check_apple(CheckedFile &file, bool header_only) {
  const int32_t format_code = header_only ? MACBIN_FORMAT_APPLEDOUBLE : MACBIN_FORMAT_APPLESINGLE;
  set_container(format_code, container_name(format_code));
  const std::string which = header_only ? "AppleDouble" : "AppleSingle";
  constexpr int64_t kFixed = sizeof(format::AppleSingleHeader);
  constexpr int64_t kEntry = sizeof(format::AppleSingleEntry);
  uint8_t fixed[kFixed] = {};
  int64_t table_end = kFixed;
  if (file.length() >= kFixed) {
    if (!file.read_at(0, fixed, kFixed)) return -1;
    table_end = kFixed + kEntry * get_be16(fixed + offsetof(format::AppleSingleHeader, entry_count));
  }
  const int64_t size = std::min(file.length(), table_end + kAppleEntryRoom);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!file.read_at(0, bytes.data(), size)) return -1;

  // Forks the file does not wholly hold are told as cut forks, not as a
  // damaged header.
  bool cut = false;
  if (table_end <= file.length()) {
    for (int64_t at = kFixed; at < table_end; at += kEntry) {
      const uint32_t id = get_be32(bytes.data() + at);
      const int64_t offset = get_be32(bytes.data() + at + 4);
      const int64_t length = get_be32(bytes.data() + at + 8);
      if ((id != format::kAppleDataFork && id != format::kAppleResourceFork) ||
          offset + length <= file.length()) {
        continue;
      }
      const bool data = id == format::kAppleDataFork;
      out_.add(MACBIN_ERROR, data ? MACBIN_FINDING_DATA_CUT : MACBIN_FINDING_RSRC_CUT, file.length(),
               "The file ends at " + number(file.length()) + ", inside the " +
                   (data ? "data" : "resource") + " fork, which ends at " + number(offset + length),
               std::string(kFetchAgain) + (data ? "" : "; the data fork can still be saved"));
      cut = true;
    }
  }
  format::AppleFacts facts{};
  const format::AppleParseStatus status = format::parse_apple_header(bytes, static_cast<uint64_t>(file.length()), &facts);
  if (status != format::AppleParseStatus::kOk) {
    if (!(cut && status == format::AppleParseStatus::kEntryOutsideFile)) {
      out_.add(MACBIN_ERROR, MACBIN_FINDING_HEADER_DAMAGED, 0,
               "The " + which + " header is damaged: " + apple_status_text(status),
               "The forks cannot be found with certainty; fetch the file again");
    }
    return 0;
  }
  if (facts.has_data_fork && !header_only) {
    check_data_fork({&file, facts.data_offset, facts.data_length, facts.data_length},
                    facts.has_rsrc_fork && facts.rsrc_length != 0);
  }
  if (facts.has_rsrc_fork && facts.rsrc_length != 0) {
    report_.resources = check_resource_fork(
        {&file, facts.rsrc_offset, facts.rsrc_length, file.length() - facts.rsrc_offset}, flags_, out_);
  }
  return 0;
}

int32_t FileCheck::check_binhex(CheckedFile &file) {
  set_container(MACBIN_FORMAT_BINHEX, container_name(MACBIN_FORMAT_BINHEX));
  const int64_t prefix_size = std::min(file.length(), kBinHexSearchBytes);
  std::string prefix(static_cast<size_t>(prefix_size), '\0');
  if (!file.read_at(0, prefix.data(), prefix_size)) return -1;
  const size_t start = format::find_binhex_start(prefix);
  if (start == std::string_view::npos) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_DATA_CUT, -1,
             "The BinHex text has no line starting with ':': the encoded part is missing",
             kFetchAgain);
    return 0;
  }
  DecodedForksFile decoded;
  if (!decoded.is_open()) {
    record_error(MACBIN_ERR_IO, "Could not make a temporary file for the decoded BinHex forks");
    return -2;
  }
  BinHexStreamSink sink(decoded);
  bool read_failed = false;
  const auto status = decode_binhex_text(file, static_cast<int64_t>(start), sink, read_failed);
  if (read_failed) return -1;
  const std::string stopped = binhex_stop_reason(status);
  if (!sink.header_known()) {
    switch (sink.header_status()) {
      case format::BinHexHeaderStatus::kBadName:
        out_.add(MACBIN_ERROR, MACBIN_FINDING_HEADER_DAMAGED, 0,
                 "The BinHex header names no file (a name length of 0 or over 63)",
                 std::string(kFetchAgain) + ": nothing in it can be trusted");
        break;
      case format::BinHexHeaderStatus::kBadCrc:
        out_.add(MACBIN_ERROR, MACBIN_FINDING_HEADER_CRC, -1,
                 "The BinHex header's CRC does not match: its fork lengths cannot be trusted",
                 std::string(kFetchAgain) + ": mail and editors change lines of text");
        break;
      default:
        out_.add(MACBIN_ERROR, MACBIN_FINDING_DATA_CUT, -1,
                 "The BinHex text ends inside its header" + stopped, kFetchAgain);
        break;
    }
    return 0;
  }
  const format::BinHexHeaderFacts &header = sink.header();
  if (binhex_forks_too_long(header)) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_HEADER_DAMAGED, 0,
             "The BinHex header's fork lengths (" + number(header.data_length) + " and " +
                 number(header.rsrc_length) + ") pass 2147483647 bytes together",
             std::string(kFetchAgain) + ": the header is damaged");
    return 0;
  }
  if (sink.write_failed()) {
    record_error(MACBIN_ERR_IO, "Could not write the decoded BinHex forks to a temporary file");
    return -2;
  }
  const auto shift = static_cast<int64_t>(header.header_size);
  if (sink.position() < sink.rsrc_start()) {
    const uint64_t held = sink.position() > header.header_size
                              ? std::min(sink.position(), sink.data_end()) - header.header_size
                              : 0;
    out_.add(MACBIN_ERROR, MACBIN_FINDING_DATA_CUT, static_cast<int64_t>(sink.position()),
             "The BinHex text holds " + number(static_cast<int64_t>(held)) + " of the data fork's " +
                 number(header.data_length) + " bytes" + stopped,
             std::string(kFetchAgain) + "; the data fork's first bytes can still be saved");
    return 0;
  }
  if (sink.data_crc() != sink.stored_data_crc()) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_FORK_CRC, static_cast<int64_t>(sink.data_end()),
             "The BinHex data fork's CRC is " + hex16(sink.stored_data_crc()) + ", its bytes give " +
                 hex16(sink.data_crc()) + ": the text was changed on the way",
             "Fetch the text again (mail and editors change lines); failing that, the data fork may "
             "still be usable, but some of its bytes are wrong");
  }
  const bool rsrc_whole = sink.position() >= sink.total();
  const uint64_t rsrc_held = std::min(sink.position(), sink.rsrc_end()) - sink.rsrc_start();
  CheckedFile forks(decoded.reader(), int64_t{header.data_length} + static_cast<int64_t>(rsrc_held));
  check_data_fork({&forks, 0, header.data_length, header.data_length, shift}, header.rsrc_length != 0);
  if (header.rsrc_length == 0) return 0;
  if (!rsrc_whole) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_RSRC_CUT, static_cast<int64_t>(sink.position()),
             "The BinHex text holds " + number(static_cast<int64_t>(rsrc_held)) + " of the resource fork's " +
                 number(header.rsrc_length) + " bytes" + stopped + ": its resources cannot be read",
             std::string(kFetchAgain) + "; the data fork is whole and can be saved");
    return 0;
  }
  if (sink.rsrc_crc() != sink.stored_rsrc_crc()) {
    out_.add(MACBIN_ERROR, MACBIN_FINDING_FORK_CRC, static_cast<int64_t>(sink.rsrc_end()),
             "The BinHex resource fork's CRC is " + hex16(sink.stored_rsrc_crc()) + ", its bytes give " +
                 hex16(sink.rsrc_crc()) + ": the text was changed on the way",
             "Fetch the text again (mail and editors change lines); the findings below, if any, "
             "say which resources suffered");
  }
  report_.resources = check_resource_fork(
      {&forks, header.data_length, header.rsrc_length, header.rsrc_length,
       shift + static_cast<int64_t>(format::kBinHexCrcBytes)},
      flags_, out_);
  return 0;
}

int32_t check_file(const char *path, int32_t flags, MacBinFindingMethod method, void *argument,
                   MacBinCheckReport *report) {
  MacBinCheckReport local{};
  MacBinCheckReport &result = report != nullptr ? *report : local;
  result = MacBinCheckReport{};
  if (path == nullptr || path[0] == '\0') {
    record_error(MACBIN_ERR_ARGUMENT, "No file name given to check");
    return -1;
  }
  if ((flags & ~MACBIN_CHECK_CONTENTS) != 0) {
    record_error(MACBIN_ERR_ARGUMENT, ("Unknown check flags " + hex16(static_cast<uint32_t>(flags))).c_str());
    return -1;
  }
  FindingList findings(method, argument);
  FileCheck check(flags, findings, result);
  if (check.run(path) < 0) return -1;
  findings.finish();
  const std::string &words = check.container();
  const size_t kept = std::min(words.size(), sizeof result.container - 1);
  std::memcpy(result.container, words.data(), kept);
  result.container[kept] = '\0';
  result.findings = findings.count();
  result.worst = findings.worst();
  return findings.count() == 0 ? 0 : 1;
}

}  // namespace

int32_t MacBin_CheckFile(const char *path, int32_t flags, MacBinFindingMethod method, void *argument,
                         MacBinCheckReport *report) {
  try {
    return check_file(path, flags, method, argument, report);
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, "Out of memory while checking the file");
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out of memory while checking the file");
  }
  if (report != nullptr) *report = MacBinCheckReport{};
  return -1;
}

// Hosts print these in output that scripts read: once given, a name stays.
const char *MacBin_FindingName(int32_t code) {
  static constexpr const char *kNames[] = {
      "not_a_container", "name_misleads", "packed_twice", "fork_in_data", "header_damaged",
      "header_crc",      "fork_crc",      "data_cut",     "rsrc_cut",     "fork_header",
      "map_past_fork",   "map_damaged",   "data_range",   "data_overlap", "repeated_id",
      "repeated_type",   "name_range",    "compressed",   "map_copy",     "more"};
  static_assert(std::size(kNames) == MACBIN_FINDING_MORE, "a name for every finding code");
  if (code < 1 || code > static_cast<int32_t>(std::size(kNames))) return nullptr;
  return kNames[code - 1];
}
