// What a file loses when it is written into another container: each
// container holds its own part of the Finder's facts, and a host converting
// a file says beforehand which of them the new container cannot keep.
// The writers below store what they can and drop the rest silently; the
// notes here name what they drop, in the words every host shows.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "format/apple_single.hpp"
#include "format/mac_roman.hpp"
#include "frame/internal.hpp"

namespace varnel::writer {
namespace {

struct Note {
  int32_t severity;
  int32_t about;
  std::string line;
  size_t text_at;  // where the line's text starts, past the path it names
};

class Notes {
 public:
  Notes(const char *source, const char *target) : source_(source ? source : ""), target_(target ? target : "") {}

  const std::string &source() const { return source_; }
  const std::string &target() const { return target_; }

  // A note whose line reads "PATH: text".
  void add(int32_t severity, int32_t about, const std::string &text) {
    const std::string &path = about == MACBIN_NOTE_SOURCE ? source_ : target_;
    notes_.push_back({severity, about, path + ": " + text, path.size() + 2});
  }
  // A note about the source whose line reads "SOURCE text".
  void add_sentence(int32_t severity, const std::string &text) {
    notes_.push_back({severity, MACBIN_NOTE_SOURCE, source_ + " " + text, source_.size() + 1});
  }
  const std::vector<Note> &all() const { return notes_; }

 private:
  std::string source_;
  std::string target_;
  std::vector<Note> notes_;
};

std::string hex_word(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
  return text;
}

std::string title_of(int32_t format) { return MacBin_ContainerName(format, MACBIN_CONTAINER_TITLE); }

bool has_dates(const MacBinFileInfo &info) { return info.created != 0 || info.modified != 0; }

// What only one container lacks: BinHex its dates, the classic header the
// low byte of the flags, AppleSingle and AppleDouble early dates, a bare
// fork everything but itself.
void note_container_losses(const MacBinFileInfo &info, int32_t target, Notes &notes) {
  switch (target) {
    case MACBIN_FORMAT_BINHEX:
      if (has_dates(info))
        notes.add(MACBIN_WARNING, MACBIN_NOTE_TARGET,
                  "BinHex holds no dates: the creation and modification dates are lost");
      break;
    case MACBIN_FORMAT_CLASSIC:
      if ((info.finder_flags & 0xFF) != 0)
        notes.add(MACBIN_WARNING, MACBIN_NOTE_TARGET,
                  "the classic MacBinary header holds only the high byte of the Finder flags: " +
                      hex_word(info.finder_flags) + " becomes " + hex_word(info.finder_flags & 0xFF00u));
      break;
    case MACBIN_FORMAT_APPLESINGLE:
    case MACBIN_FORMAT_APPLEDOUBLE:
      // The very test the writer stores "unknown" by.
      for (const auto &[date, what] : {std::pair{info.created, "creation"}, std::pair{info.modified, "modification"}})
        if (date != 0 && format::apple_date_from_macintosh(date) == static_cast<int32_t>(format::kAppleUnknownDate))
          notes.add(
              MACBIN_WARNING, MACBIN_NOTE_TARGET,
              title_of(target) + " cannot hold dates before December 1931: the " + what + " date is stored as unknown");
      break;
    case MACBIN_FORMAT_RSRC:
      if (info.data_length != 0)
        notes.add(MACBIN_WARNING, MACBIN_NOTE_SOURCE,
                  "the data fork (" + std::to_string(info.data_length) +
                      " bytes) is not written: a bare resource fork holds none");
      if (info.type[0] != '\0' || info.creator[0] != '\0' || info.finder_flags != 0 || has_dates(info))
        notes.add(MACBIN_WARNING, MACBIN_NOTE_TARGET,
                  "a bare resource fork holds no type, creator, Finder flags or dates");
      if (info.rsrc_length == 0)
        notes.add_sentence(MACBIN_INFO, "has no resource fork: " + notes.target() + " holds an empty resource map");
      break;
    default:
      break;
  }
}

// The Finder information past type, creator and flags: the icon's place
// and folder (bytes 10 to 15), which BinHex and a bare fork lack, and the
// extended information (16 to 31), which only AppleSingle and AppleDouble
// hold.
void note_finder_losses(const uint8_t *finder, int32_t target, Notes &notes) {
  if (finder == nullptr) return;
  const auto any_set = [finder](int from, int to) {
    return std::any_of(finder + from, finder + to, [](uint8_t byte) { return byte != 0; });
  };
  const bool keeps_place = target != MACBIN_FORMAT_BINHEX && target != MACBIN_FORMAT_RSRC;
  const bool keeps_extended = target == MACBIN_FORMAT_APPLESINGLE || target == MACBIN_FORMAT_APPLEDOUBLE;
  if (!keeps_place && any_set(10, 16))
    notes.add(MACBIN_WARNING, MACBIN_NOTE_TARGET,
              title_of(target) + " holds no window place or folder of the icon: they are lost");
  if (!keeps_extended && any_set(16, 32))
    notes.add(
        MACBIN_WARNING, MACBIN_NOTE_TARGET,
        title_of(target) +
            " holds no extended Finder information (script, extended flags, comment, put-away folder): it is lost");
}

// What every container but a bare fork does alike: the time of the
// conversion for a file without dates, the name cut to what the Finder shows.
void note_name_and_dates(const MacBinFileInfo &info, int32_t target, Notes &notes) {
  if (target == MACBIN_FORMAT_RSRC) return;
  if (!has_dates(info) && target != MACBIN_FORMAT_BINHEX)
    notes.add_sentence(MACBIN_INFO, "holds no dates: " + notes.target() + " gets the time of the conversion");
  const size_t length = strnlen(info.name, sizeof info.name);
  if (length > MACBIN_MAX_FILE_NAME_LENGTH)
    notes.add(MACBIN_WARNING, MACBIN_NOTE_TARGET,
              "the name is cut to 31 characters: \"" +
                  format::mac_roman_to_utf8(std::string_view(info.name, MACBIN_MAX_FILE_NAME_LENGTH), false) + "\"");
}

bool is_written_container(int32_t target) {
  return target == MACBIN_FORMAT_RSRC || MacBin_ContainerName(target, MACBIN_CONTAINER_KEYWORD) != nullptr;
}

}  // namespace
}  // namespace varnel::writer

extern "C" int32_t MacBin_ConversionNotes(const MacBinFileInfo *info, const uint8_t *finder_info, int32_t target,
                                          const char *source_path, const char *target_path,
                                          MacBinConversionNoteMethod method, void *argument) {
  using namespace varnel::writer;
  if (info == nullptr || !is_written_container(target)) {
    record_error(MACBIN_ERR_ARGUMENT,
                 "MacBin_ConversionNotes: no file information, or a container that is not written");
    return -1;
  }
  try {
    Notes notes(source_path, target_path);
    note_container_losses(*info, target, notes);
    note_finder_losses(finder_info, target, notes);
    note_name_and_dates(*info, target, notes);
    for (const Note &note : notes.all()) {
      const MacBinConversionNote given{note.severity, note.about, note.line.c_str(), note.line.c_str() + note.text_at};
      if (method != nullptr) method(&given, argument);
    }
    return static_cast<int32_t>(notes.all().size());
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out of memory while naming what a conversion loses");
    return -1;
  }
}
