// Private to the library: never installed, never included by hosts.
//
// The frame's internal interface, used by every other folder: the private
// settings record, trace flags, typed access to the method slots, the
// processor lookup, and the channel: its extension, modes, name list and
// the close dispatch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "varnel.h"

// Trace flag bits of debug_values.trace_flags.
inline constexpr uint32_t TRACE_CONDITION = 2;  // "CONDITION-->" lines
inline constexpr uint32_t TRACE_MSG = 4;        // "MSG-->" lines
inline constexpr uint32_t TRACE_INSERT = 8;     // "INSERT-->" lines

#ifndef VARNEL_TRACE_FLAGS
#define VARNEL_TRACE_FLAGS 0
#endif

// Private settings.  trace_flags is fixed at build time (VARNEL_TRACE_FLAGS);
// nothing in the library writes it (tests may, to see the trace lines).
struct MacBinDebugValues {
  uint32_t trace_flags;
  int32_t initialised;
  MacBinAcquireProgress default_progress;
  const char *severity_names[4];
};
extern MacBinDebugValues debug_values;

// ---- Returning to the state at load -----------------------------------------
// State of the process kept outside the control block (the output format,
// the sticky output failure, the host's fonts, ...) gives a step that puts
// it back as it was when the library was loaded; MacBin_Reset runs every
// step.  A folder registers its step from a static initialiser in the file
// that holds the state, so the steps of a static library are exactly those
// of the objects linked in.
struct ResetStep {
  void (*reset)();
  ResetStep *next;
};
// Adds `step` (a static object, registered once); returns true, so that the
// call can initialise a static flag.
bool register_reset_step(ResetStep &step);

inline bool trace_enabled(uint32_t flag) { return (debug_values.trace_flags & flag) != 0; }

// ---- Method slots, typed ---------------------------------------------------
// Every call goes through the slot, so a host that replaces only the message
// method also receives the default start, progress and end notices.
// Both record the failure as the calling thread's last error (see
// MacBin_LastError) before the message method hears of it, so that the
// method may ask for it.  The first takes the code from the severity
// (default_error_code); report sites the hosts tell apart pass their own.
// `text` without the blanks and tabs around it, as a line's words see it.
std::string_view trim_blanks(std::string_view text);
void report(const char *text, int32_t severity);  // message method, module "MacBin"
void report(const char *text, int32_t severity, int32_t code);

// ---- The calling thread's last error -------------------------------------------
// A report code for a consequence of a failure reported before ("Removing
// output file(s)" after a failed write): the record keeps naming the cause,
// and only when there is none does the consequence become an I/O failure.
inline constexpr int32_t kErrorFollows = -1;
// The code a report of `severity` records when its site names none.
int32_t default_error_code(int32_t severity);
// Records a failure without reporting it, for the calls that give their
// reason only through MacBin_LastError.  MACBIN_ERR_IO keeps errno's value
// and ends the text with its reason; MACBIN_ERR_NONE records nothing.
void record_error(int32_t code, const char *text);
// How many failures the calling thread has recorded: a call compares the
// count before and after a step to tell whether the step recorded one.
uint32_t recorded_failures();
// Keeps the calling thread's last error as it was over calls whose
// refusals are answers rather than failures (a check asked to choose
// between two forms), so that a call that succeeds leaves the record
// untouched.
class LastErrorKept {
 public:
  LastErrorKept();
  ~LastErrorKept();
  LastErrorKept(const LastErrorKept &) = delete;
  LastErrorKept &operator=(const LastErrorKept &) = delete;
  static constexpr size_t kTextBytes = 512;  // the record's

 private:
  int32_t code_;
  int32_t system_error_;
  char text_[kTextBytes];
};

// ---- Texts handed to hosts -------------------------------------------------------
// A caller's text buffer: a capacity of 0 or more, a buffer unless it is 0.
bool is_valid_text_buffer(const char *buffer, int32_t capacity);
// Copies min(size, capacity - 1) characters and a NUL when capacity > 0 and
// returns the text's whole length, as the host text calls do.
int32_t copy_text_out(std::string_view text, char *buffer, int32_t capacity);
int32_t call_start(const char *title);
void call_progress(MacBinProgress *progress);
void call_end();

template <typename Method>
inline Method method_slot(int32_t id) {
  return reinterpret_cast<Method>(MacIOControl.methods[id - 1]);
}

// ---- Processors -------------------------------------------------------------
// The processor serving `type`: an exact match over four characters wins,
// else the "****" wildcard, else null.
MacBinProcessor *MacBin_FindProcessor(const char *type);

// The library's silent record when `record`'s tag is 100, else `record`.
MacBinAcquireProgress *MacBin_ReplaceAcquireProgress(MacBinAcquireProgress *record);

// ---- Channels ----------------------------------------------------------------
// Who opened a channel: MacBinChannel::mode holds one of these.
enum ChannelMode : int32_t {
  kChannelUnopened = 0,  // fresh from MacBin_NewChannel
  kChannelReading = 1,   // MacBin_OpenR
  kChannelWriting = 2,   // MacBin_OpenW
};

// MacBin_NewChannel hands out a ChannelExtension whose first member is the
// public record, so per-channel private state never changes the public
// layout.  The writer and the reader each keep their own state behind
// `state` (the mode says whose) and say in `close` how MacBin_Close ends
// the channel; the frame looks into neither.
struct ChannelExtension {
  MacBinChannel channel;                 // must stay first
  void *state;                           // the opener's own, or null
  void (*close)(MacBinChannel *channel);  // set by the opener; null: nothing to close
};

inline ChannelExtension *extension_of(MacBinChannel *channel) {
  return reinterpret_cast<ChannelExtension *>(channel);
}

// Gives a channel from MacBin_NewChannel back to the zone.
void release_channel_record(MacBinChannel *channel);

// ---- The channel's name list --------------------------------------------------
// One node per distinct resource name, shared by every reference that
// carries it; nodes come from the library's zone.  Names are cut to 127
// characters.
// The node of `channel`'s name list whose text equals `name`, or null.
MacBinNameNode *MacBin_FindName(MacBinChannel *channel, const char *name);
// Adds `name` (cut to 127 characters) in front of the list; null when the
// zone has no room.
MacBinNameNode *MacBin_InsertName(MacBinChannel *channel, const char *name);
// Gives every node of the channel's name list back to the zone.  Nodes the
// reader made in one block are not in the list any more when this runs.
void release_names(MacBinChannel *channel);

// ---- Default methods ----------------------------------------------------------
// Installed by MacBin_Init under ids 11 to 14; exposed so that the library can
// fall back on the default message method when slot 11 is empty.
void default_message(const char *module, const char *text, int32_t severity);
int32_t default_start(const char *title);
void default_progress(MacBinProgress *progress);
void default_end();

// ---- Image files through the readers --------------------------------------------
// The reader MacBin_SetImageFileReader registered, the built-in one after
// it (frame/image_file_reader.cpp), and the image directory; the picture
// builder's file methods, the icon builders and MacBin_ReadImageFile read
// image files through ImageFile.

// Registers a copy of `reader` (null forgets it).  Throws std::bad_alloc.
void set_image_file_reader(const MacBinImageFileReader *reader);
// The formats messages name: the host reader's, the built-in reader's and
// CT ("PNG, netpbm or CT" without a host reader).
std::string image_formats_with_ct();
// `name` joined to the image directory unless it is absolute or the
// directory is the current one.
std::string image_path(std::string_view name);

// One image file open through a reader; closed with the object.
class ImageFile {
 public:
  ImageFile() = default;
  ImageFile(const ImageFile &) = delete;
  ImageFile &operator=(const ImageFile &) = delete;
  ~ImageFile();
  // Opens `path` (already joined to the image directory) with the host's
  // reader, then, when it has none or that says "not mine", the built-in
  // one: one of MACBIN_IMAGE_OPENED, _FAILED, _NOT_MINE (neither reader
  // takes the file), the reason in error() for the last two.  The reader's size and channels are
  // checked: a record out of range fails.
  int32_t open(const std::string &path);
  // The next row (width x channels bytes); false with error() "damaged
  // FORMAT data: REASON".
  bool read_row(uint8_t *row);
  const MacBinImageFileInfo &info() const { return info_; }
  const std::string &error() const { return error_; }

 private:
  int32_t open_with(const MacBinImageFileReader &reader, const std::string &path);
  MacBinImageFileInfo info_{};
  void *handle_ = nullptr;
  MacBinImageFileReader reader_{};  // the one that opened it
  bool open_ = false;
  std::string error_;
};
