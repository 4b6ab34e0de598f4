// Private to the library: never installed.
//
// The writer's internal interface: the channel's name list (shared with the
// reader), the removal flag, the writer's limits, and the pieces the writer's
// files share (header layout, output positioning, closing).
#pragma once

#include <cstdint>
#include <span>

#include "varnel.h"

inline constexpr int32_t kMacBinaryHeaderSize = 128;
inline constexpr int32_t kResourceForkHeadSize = 256;  // 16-byte header + 240 reserved
inline constexpr int32_t kMaxResourceTypes = 64;
inline constexpr int32_t kMaxResourcesPerType = 64;
inline constexpr int32_t kMaxFrefs = 64;
inline constexpr int32_t kMaxNameLength = 127;

// Further limits of the file layout: the map stores data offsets in 24 bits
// and name offsets (and so the name list) in 16 bits.
inline constexpr int64_t kMaxDataOffset = 0xFFFFFF;
inline constexpr int32_t kMaxNameListBytes = 0xFFFF;
// cur_type and MacBinTypeEntry::type hold seven characters and a NUL.
inline constexpr size_t kMaxTypeLength = 7;
// Resource lines: at most 511 characters; their words must fit 256 bytes.
inline constexpr size_t kMaxLineLength = 511;
inline constexpr size_t kLineWordBytes = 256;
// Room for the owner notice in MacBinChannel::owner_text, NUL included.
inline constexpr size_t kOwnerTextBytes = 100;

inline constexpr int16_t kFinderInitedFlag = 0x0100;  // has been initialised
inline constexpr int16_t kFinderBundleFlag = 0x2000;  // has a BNDL resource

// The channel's name list.
// The node of `channel`'s name list whose text equals `name`, or null.
MacBinNameNode *MacBin_FindName(MacBinChannel *channel, const char *name);
// Adds `name` (cut to 127 characters) in front of the list; null when the
// zone has no room.
MacBinNameNode *MacBin_InsertName(MacBinChannel *channel, const char *name);
// Gives every node of the channel's name list back to the zone.
void release_names(MacBinChannel *channel);

// The writer's lookup of names through the channel's name index (a hash over
// the list; the list stays the record of the names).  Falls back to walking
// the list when the channel has no index.
inline constexpr size_t kNameIndexSlots = 8192;  // twice the references a file can hold
MacBinNameNode *find_name_fast(MacBinChannel *channel, const char *name);
// Enters a node that now belongs to a recorded resource into the index.
void index_name(MacBinChannel *channel, MacBinNameNode *node);
// Unlinks and frees `node`, the newest node of the list (a name added for a
// resource that was then not inserted).
void drop_newest_name(MacBinChannel *channel, MacBinNameNode *node);

// Set once the "Removing output file(s)" messages were given; never cleared.
extern int32_t removal_reported;

// Gives back the type table, the reference grid and the FREF table.
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

// Completes the header copy kept with the channel (fork lengths, Finder
// flags; in MacBinary II also byte 101 and the CRC) and writes it at offset 0.
void complete_header(MacBinChannel *channel, int32_t resource_fork_length);

// CRC-16/XMODEM (polynomial 0x1021, initial value 0, no reflection), the
// checksum of a MacBinary II header.
uint16_t crc16_xmodem(std::span<const uint8_t> bytes);

// Handles one resource line (at most 511 characters) for MacChannel.
void parse_resource_line(const char *line);

// Closes an output file, or removes it once any write of the process failed
// (announcing the removal once per process).
void finish_output(TesselFile *file);
