// Private to the library: never installed.
//
// The writer's internal interface: its state on a channel, its name index,
// the removal flag, the writer's limits, and the pieces the writer's files
// share (header, output positioning, closing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "format/finder_info.hpp"
#include "format/limits.hpp"
#include "format/macbinary_header.hpp"
#include "format/resource_fork.hpp"
#include "frame/internal.hpp"
#include "varnel.h"

inline constexpr int32_t kMacBinaryHeaderSize =
    static_cast<int32_t>(varnel::format::kMacBinaryHeaderSize);
inline constexpr int32_t kResourceForkHeadSize =
    static_cast<int32_t>(varnel::format::kResourceForkHeadSize);
inline constexpr int32_t kMaxResourceTypes = varnel::format::kMaxTypes;
inline constexpr int32_t kMaxResourcesPerType = varnel::format::kMaxResourcesPerType;
inline constexpr int32_t kMaxFrefs = 64;
inline constexpr int32_t kMaxNameLength = varnel::format::kMaxNameLength;
inline constexpr int64_t kMaxDataOffset = varnel::format::kMaxDataOffset;
inline constexpr int32_t kMaxNameListBytes = static_cast<int32_t>(varnel::format::kMaxNameListBytes);
// cur_type and MacBinTypeEntry::type hold seven characters and a NUL.
inline constexpr size_t kMaxTypeLength = 7;
// Resource lines: at most 511 characters; their words must fit 256 bytes.
inline constexpr size_t kMaxLineLength = varnel::format::kMaxLineLength;
inline constexpr size_t kLineWordBytes = 256;
// Room for the owner notice in MacBinChannel::owner_text, NUL included.
inline constexpr size_t kOwnerTextBytes = 100;

inline constexpr int16_t kFinderInitedFlag = 0x0100;  // has been initialised
inline constexpr int16_t kFinderBundleFlag = 0x2000;  // has a BNDL resource

// What the writer keeps of a channel beyond the public record
// (ChannelExtension::state of a writing channel).
struct WriterState {
  int32_t format = 0;            // MACBIN_FORMAT_CLASSIC, _II, _APPLESINGLE, _APPLEDOUBLE or _BINHEX
  int32_t name_list_length = 0;  // bytes the map's name list will take so far
  uint32_t created = 0;          // the file's dates: the open's time, or MacBin_SetDates
  uint32_t modified = 0;
  MacBinNameNode **name_index = nullptr;  // hash slots over the name list (kNameIndexSlots)
  int64_t data_start = 0;        // where the data fork starts in the file it goes to
  // The format's second file.  AppleDouble: the header file while the data
  // fork is written, the data file once it is complete (channel->file is
  // then the header file, which takes the resource fork).  BinHex: the text
  // file, while channel->file holds the forks until the close encodes them.
  TesselFile *companion = nullptr;
  // The output the files go to under temporary names: made by MacBin_OpenW
  // (owned: MacBin_Close commits or discards it) or given by the host to
  // MacBin_OpenWOutput (the host commits it after MacBin_Close).
  MacBinOutput *output = nullptr;
  bool owns_output = false;
  std::string shown_path;          // the output's path as the host named it, for messages
  char *file_path = nullptr;       // path of the file channel->file was opened as (allocated)
  char *companion_path = nullptr;  // path of the companion (allocated), or null
  int32_t fork_given = 0;          // MacBin_SetResourceFork wrote the whole resource fork
  // MacBin_SetNextAttributes: the attribute byte for the next resource the
  // host inserts; used (or dropped with a refused resource) once.
  int32_t next_attributes_set = 0;
  uint8_t next_attributes = 0;

  // MacBin_SetFinderResources: whether the close adds the owner resource
  // and the bundle.  Without them the fork's head waits for the first
  // resource, so that a file given none has no resource fork at all.
  bool finder_resources = true;
  bool fork_head_pending = false;
  uint16_t map_attributes = 0;  // MacBin_SetMapAttributes
  // Place, folder and extended information for the header (type, creator
  // and flags are the channel's).
  varnel::format::FinderInfoBlock finder_info{};

  // The tables grow past their first size: channel->types holds
  // type_capacity entries and channel->refs as many rows of
  // kMaxResourcesPerType; references past a row's end go to `overflow`,
  // one vector per type entry.
  int32_t type_capacity = 0;
  int32_t reference_total = 0;  // references recorded, of every type
  // The type entry find_type found last: hosts add a type's resources one
  // after another, so it is asked for first.  Checked before it is used.
  int32_t last_found_type = -1;
  std::vector<std::vector<MacBinRefEntry>> overflow;
  // The resource recorded last, for the room check's reason: the one whose
  // data used up the room (type as the map holds it, bytes after its
  // length word).
  char last_type[kMaxTypeLength + 1] = {};
  int32_t last_id = 0;
  int64_t last_length = -1;  // -1: none recorded yet
  // The file type of each FREF the processor built, by local ID, for the
  // bundle's icon warnings.
  std::vector<std::string> fref_file_types;
  // Names of more than the 127 characters a node holds, whole, by node.
  std::unordered_map<const MacBinNameNode *, std::string> long_names;
};

inline WriterState *writer_state(MacBinChannel *channel) {
  return static_cast<WriterState *>(extension_of(channel)->state);
}

// The writer's lookup of names through the channel's name index (a hash over
// the list; the list stays the record of the names).  Falls back to walking
// the list when the channel has no index.
inline constexpr size_t kNameIndexSlots = 16384;  // more than twice the references a map can hold
MacBinNameNode *find_name_fast(MacBinChannel *channel, const char *name);
// Enters a node that now belongs to a recorded resource into the index.
void index_name(MacBinChannel *channel, MacBinNameNode *node);
// Unlinks and frees `node`, the newest node of the list (a name added for a
// resource that was then not inserted).
void drop_newest_name(MacBinChannel *channel, MacBinNameNode *node);

// ---- The type table and the references (reference_table.cpp) ----------------
// The reference [t][r]: in the grid for the first kMaxResourcesPerType of a
// type, else in the overflow.
MacBinRefEntry &reference_at(MacBinChannel *channel, int32_t t, int32_t r);
const MacBinRefEntry &reference_at(const MacBinChannel *channel, int32_t t, int32_t r);
// The type entry holding `type`, or -1.
int32_t find_type(const MacBinChannel *channel, const char *type);
// Whether the map can take one more resource of `type` (a new type or not):
// its type and reference lists must end within the 16-bit offsets of the
// map.  Reports the resource as not inserted when not.
bool has_room_for(const MacBinChannel *channel, const char *type, int32_t id);
// The reason has_room_for would give ("Resource map full ...: "), or null.
const char *map_room_fault(const MacBinChannel *channel, const char *type);
// The reference for one more resource of `type`, a new type entry made
// when needed (tables grown); null when memory runs out.
MacBinRefEntry *append_reference(MacBinChannel *channel, const char *type);
// Reports "<reason>resource <type>, ID <id> not inserted" (a warning).
void report_not_inserted(const char *reason, const char *type, int32_t id, int32_t code);

// ---- The room left in the map (map_room.cpp) ---------------------------------
// The names MacBin_Close gives the resources it adds.
inline constexpr const char *kOwnerResourceName = "Owner resource";
inline constexpr const char *kBundleName = "Bundle";
// A resource a host is about to insert, as the room check sees it.
struct RoomRequest {
  const char *type = "";       // as the map holds it ("BNDL" for "Bndl")
  int32_t id = 0;
  size_t name_length = 0;      // 0: no name
  int64_t data_length = -1;    // bytes after its length word; -1: known only once written
  bool builds_fref = false;    // an FREF the processor builds: the close then adds a bundle
};
// Whether the channel's map takes `request` (null: no further resource)
// and still the owner resource and bundle that MacBin_Close adds: room in
// the type and reference lists and in the name list, and data offsets
// within 24 bits.  MACBIN_ERR_NONE, else MACBIN_ERR_LIMIT with `reason`
// naming the limit and the figures.
int32_t room_fault(MacBinChannel *channel, const RoomRequest *request, std::string &reason);
// Reports, as warnings, what the bundle the close builds lacks: an FREF's
// icon family without its ICN# (the Finder then shows a generic icon), and
// icon families no FREF names.
void warn_about_bundle_icons(MacBinChannel *channel);

// The reason MacBin_AddResourceData's arguments cannot make a resource
// (type, ID, name, attribute byte, data and length), or null.
const char *resource_argument_fault(const char *type, int32_t id, const char *name, int32_t attributes,
                                    const void *data, int32_t length);

// ---- Inserting (insert.cpp) ----------------------------------------------------
// One resource between its checks and its record.
struct PendingResource {
  const char *type = nullptr;  // as the map holds it ("BNDL" for "Bndl")
  int32_t id = 0;
  MacBinNameNode *name_node = nullptr;
  bool name_added = false;     // the node was made for this resource
  int64_t data_start = 0;      // the first data byte; the length word before it
  int64_t known_length = -1;   // the length word as written when the data's length was known
  uint32_t failures_before = 0;  // the thread's recorded failures when it began
};
// Whether the map's name list takes one more name of `name_length` characters.
bool name_list_has_room(const MacBinChannel *channel, size_t name_length);
// Checks that the resource can be recorded (room in the map, its data
// offset within 24 bits, its name), makes its name node and writes its
// length word: `known_length` when the caller knows how many bytes follow
// (then it needs no patching), else 0 until end_resource patches it.  False
// after reporting why, with nothing written.
bool begin_resource(MacBinChannel *channel, const char *type, int32_t id, const char *name,
                    PendingResource &pending, int64_t known_length = -1);
// Patches the length word and records the reference with `attributes`.  A
// resource of no bytes is refused (reported) unless `empty_allowed`.
// Returns 0 when recorded, 1 when not.
int32_t end_resource(MacBinChannel *channel, PendingResource &pending, bool empty_allowed,
                     uint8_t attributes);
// Makes the channel current for an insertion: ends the data fork, writes
// the fork's head when it waits, and points `outfile` at the channel's
// file.  Returns the host's current output file, to be given back.
TesselFile *enter_channel(MacBinChannel *channel);
// Makes the resource the channel's current one (cur_type, cur_id,
// cur_name) and tells the progress method that it starts.
void announce_resource(MacBinChannel *channel, const char *type, int32_t id, const char *name);
// The attribute byte of the resource being inserted: the one
// MacBin_SetNextAttributes gave, else the default.
uint8_t pending_attributes(MacBinChannel *channel);

// Set once the "Removing output file(s)" messages were given; never cleared.
extern int32_t removal_reported;

// Gives back the type table, the reference grid, the FREF table and the
// writer's state.
void release_writer_tables(MacBinChannel *channel);

// True for a channel opened by MacBin_OpenW and not yet closed.
bool is_writing_channel(const MacBinChannel *channel);

// Moves `outfile` to the absolute `position`.  A failed move is a failure of
// the output file: recorded (and reported once) as a failing byte would be.
bool seek_output(int64_t position);

// Writes `bytes` at the absolute `position` of `outfile`.  Bytes still in
// the file's write buffer are overwritten in place, and the position stays
// where it was; otherwise the file is moved there (seek_output) and written,
// and the position ends after them.  Returns true when the position moved.
// Nothing is written once output has stopped.
bool overwrite_output(int64_t position, std::span<const uint8_t> bytes);

// The header's bytes for the channel as it stands: name, codes, Finder
// flags, the dates it was opened with and the given fork lengths.
void compose_header(MacBinChannel *channel, uint32_t data_length, uint32_t resource_fork_length,
                    std::span<uint8_t, varnel::format::kMacBinaryHeaderSize> out);

// Writes the final header at offset 0: fork lengths and Finder flags.
void complete_header(MacBinChannel *channel, int32_t resource_fork_length);

// Ends a writing channel (ChannelExtension::close of a writing channel).
void close_write_channel(MacBinChannel *channel);

// The attribute byte of a resource inserted without MacBin_SetNextAttributes.
inline constexpr uint8_t kDefaultAttributes = varnel::format::kAttributePurgeable;

// Handles one resource line (at most 511 characters) for MacChannel.
void parse_resource_line(const char *line);

// ---- Resource lines as the writer reads them (resource_line.cpp) -------------
// One line split as the writer takes it: the words live in `words`.
struct ResourceLine {
  enum class Kind { kNothing, kOwnerText, kResource };
  Kind kind = Kind::kNothing;  // kNothing: a comment or an empty line
  int32_t word_count = 0;
  char words[kMaxLineLength + 1];
  char type[kLineWordBytes + 1];    // blank-padded to four characters
  const char *id_word = nullptr;    // the ID as written
  int32_t id = 0;                   // as the writer reads it (atoi, wrapped to 32 bits)
  const char *name = nullptr;
  const char *given_param = nullptr;  // the parameter text as written, or null
  char param[kLineWordBytes + 1];   // what the processor gets (FREF: with "/ID")
  const char *owner_text = nullptr;   // "BNDL OWNER-TEXT"
};
// Why a line is refused: the writer's own message, and the reason and code
// MacBin_CheckResourceLine gives.
struct LineFault {
  int32_t code = MACBIN_ERR_NONE;
  const char *message = "";
  std::string reason;
};
// Splits `line`; false with `fault` filled when the writer refuses it.
bool split_resource_line(const char *line, ResourceLine &out, LineFault &fault);
// Where a double quote opens that `text` never closes among its first
// `max_words` words, as MacBin_GetArguments splits them (the rest is taken
// as it stands, quotes and all): its character position from 1, a UTF-8
// sequence counting as one character when `utf8`; 0 when every quote closes.
int32_t unclosed_quote_position(std::string_view text, int32_t max_words, bool utf8);

// ---- Parameters of the Finder resources (finder_parameters.cpp) ----------------
// The version resource's compact text, as add_vers writes it: fields read by
// fixed positions (missing ones read as 0 or empty).  `problem` is empty
// when the text has the form "M.mb S R REGION/short/long" whole.
struct VersParameter {
  uint8_t major = 0;
  uint8_t minor_and_bugfix = 0;
  char stage_letter = '\0';  // D, A, B or F; anything else is stored as development
  int32_t revision = 0;
  int32_t region = 0;
  std::string_view short_version;
  std::string_view long_version;
  std::string problem;
};
VersParameter read_vers_parameter(std::string_view param);
// The resource data of a version: the numbers, an unknown stage stored as
// development, the region's low 16 bits and the texts cut to 255
// characters each.
std::string vers_resource_bytes(const VersParameter &vers);
// The release stage byte of a letter; 0 for a letter that names none.
uint8_t release_stage_of(char letter);

// A file reference's text as the line handler passes it: "TYPE ICON-ID/ID".
struct FrefParameter {
  std::string_view file_type;  // at most 4 characters
  int32_t icon_id = 0;
  int32_t fref_id = 0;
  std::string problem;  // empty when "TYPE ICON-ID" is whole
};
FrefParameter read_fref_parameter(std::string_view param);

// A resource ID as written: an optional sign and digits, -32768 to 32767.
bool is_resource_id(std::string_view text);

// Closes an output file, or removes it once any write of the process failed
// (announcing the removal once per process).
void finish_output(TesselFile *file);
// The same for files that stand or fall together: each is closed in turn
// while no write has failed; once one has, every one is removed, those
// already closed through their path.
void finish_outputs(std::span<TesselFile *const> files, std::span<const char *const> paths);

// Opens `path` for writing (created or truncated); null when it could not
// be opened (nothing reported).
TesselFile *open_output_file(const char *path);
// "Could not open output file PATH: REASON" (errno's text), as an I/O error.
void report_output_open_failure(const char *path);

// Whether the channel's format is one of the MacBinary variants, whose
// forks start on 128-byte boundaries after a 128-byte header.
bool writes_macbinary(const WriterState &state);

// The name of a file beside `path` (same folder): `prefix`, the file name,
// `suffix`.  Allocated with malloc; null when out of memory.
char *sibling_path(const char *path, const char *prefix, const char *suffix);

// ---- AppleSingle and AppleDouble (apple_single_writer.cpp) -------------------
// Opens the files of the format at `path` (AppleDouble: the data file and
// its header file), makes the data file the channel's file and writes the
// leading part (header, entries, name, Finder info, dates) with the lengths
// still zero.  False after reporting why (nothing is left behind).
// `shown` is the path messages name.
bool open_apple_files(MacBinChannel *channel, const char *path, const char *shown);
// AppleDouble, at the end of the data fork: the header file becomes the
// channel's file and `outfile`, and takes the resource fork.
void switch_to_header_file(MacBinChannel *channel);
// Writes the leading part again, with the final lengths and Finder flags.
void complete_apple_header(MacBinChannel *channel, int32_t resource_fork_length);

// ---- BinHex (binhex_writer.cpp) ----------------------------------------------
// Opens the text file at `path` and the hidden file beside it that holds the
// forks until the close; false after reporting why.
bool open_binhex_files(MacBinChannel *channel, const char *path, const char *shown);
// Encodes the forks into the text file (the header from the channel).
void encode_binhex(MacBinChannel *channel, int32_t resource_fork_length);

// Closes (or removes) the channel's files, as its format has them; then
// puts an output MacBin_OpenW made in place, or discards it after a failed
// write.
void finish_channel_outputs(MacBinChannel *channel);
