// A Macintosh file opened for reading (MacBinary, AppleSingle, AppleDouble,
// BinHex or a bare resource fork), through the library's public calls
// alone: MacBin_IdentifyFile tells whether the file is any container at
// all, MacBin_OpenR reads its facts and resource map, MacBin_GetFileInfo
// tells what they are, and MacBin_ReadDataFork, MacBin_ReadResourceFork and
// MacBin_ReadResourceData deliver the bytes.  The tool judges only what the
// library leaves to its host: whether a file read as MacBinary names a file
// and holds its data fork.  A file whose resource fork the library could not
// read opens without resources, with a warning, and makes the run fail
// where the resources were wanted.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/input_copy.hpp"
#include "tool_context.hpp"
#include "varnel.h"

namespace varnel_tool {

struct ResourceEntry {
  std::string type;  // 4 bytes, MacRoman
  int32_t id = 0;    // as stored, 0 to 65535; see signed_id()
  bool named = false;
  std::string name;  // MacRoman, whole (up to 255 bytes)
  int32_t attributes = 0;
  // 1 for the first resource of its type and ID in map order, 2 for the
  // next one with the same pair, and so on: a damaged or hand-made map may
  // repeat an ID, and each such resource keeps its own data.
  int32_t occurrence = 1;
  const MacBinRefEntry *reference = nullptr;  // the library's record, for MacBin_ReadResourceData
  // Resource IDs are signed 16-bit on the Macintosh.
  int32_t signed_id() const { return static_cast<int16_t>(static_cast<uint16_t>(id)); }
  // "PICT 128", or "PICT 128 #2" for the second resource with that type and ID.
  std::string label() const;
  // "PICT.128", "STR%20.128.2": the name of a file holding it alone
  // (MacBin_ResourceFileName).
  std::string file_name() const;
};

// The largest input read into a copy: the library's file positions are
// 32-bit, so no MacBinary file it reads is longer.
inline constexpr int64_t kMaxInputCopyBytes = INT32_MAX;

class MacBinaryInput {
 public:
  MacBinaryInput() = default;
  ~MacBinaryInput();
  MacBinaryInput(const MacBinaryInput &) = delete;
  MacBinaryInput &operator=(const MacBinaryInput &) = delete;

  // Whether a run that could not read the resources has failed: commands
  // that carry the resource fork whole lose nothing by it.
  enum class ResourceNeed { kResources, kForkOnly };

  // False after an error message naming `path`.  "-" is standard input;
  // it and any other input that is not a regular file (a pipe, a device)
  // are read once into a private copy of at most kMaxInputCopyBytes.
  bool open(const std::string &path, ResourceNeed need = ResourceNeed::kResources);

  // The input as the user named it ("-" for standard input) ...
  const std::string &argument() const { return argument_; }
  // ... and as messages name it ("<stdin>" for standard input).
  const std::string &path() const { return path_; }
  const MacBinFileInfo &info() const { return info_; }
  // The header's texts as stored (MacRoman): the name, and the four bytes
  // of the type and the creator.
  std::string name() const;
  std::string type() const;
  std::string creator() const;
  // The whole Finder information (32 bytes, as the library gives it).
  std::array<uint8_t, 32> finder_info() const;
  // Hands the file's facts to a channel opened for writing: the whole
  // Finder information (as far as its container holds it), the type and
  // creator as the four bytes they are (NULs included, which a C string
  // could not carry), the Finder flags and the dates.
  void give_facts_to(MacBinChannel *channel) const;
  const std::vector<ResourceEntry> &resources() const { return resources_; }
  // The library's reading channel, for its calls that take one (the decoders).
  MacBinChannel *channel() const { return channel_; }

  // The resource's data (or only its length when `data` is null); false
  // after an error message when it lies outside the resource fork.
  bool read_resource(const ResourceEntry &entry, std::vector<uint8_t> *data, int64_t &length);
  // The resource's contents: decompressed when it is stored compressed,
  // else as stored.  False when it cannot be read or decompressed (the
  // library said why).
  bool read_contents(const ResourceEntry &entry, std::vector<uint8_t> &data);
  // How a resource is stored compressed; nothing for one stored plain (or
  // with a compression header the library cannot read).
  std::optional<MacBinCompressionInfo> compression(const ResourceEntry &entry) const;
  // The first resource of this type and ID, or null.
  const ResourceEntry *find(const std::string &type, int32_t id) const;

  // The data fork, and the whole resource fork as bytes of the file, handed
  // to `write` piece by piece; false after an error message (a read error
  // here, a write error from `write`, which reports its own).
  bool copy_data_fork(const ByteWriter &write) const;
  // A fork whose map runs past its length is refused (the copy would not
  // hold its map).
  bool copy_resource_fork(const ByteWriter &write) const;
  // The whole resource fork in memory (empty without one); false after an
  // error message.
  bool read_resource_fork(std::vector<uint8_t> &fork) const;

  // The library could not read the resource fork (cut short, or its map
  // damaged): the file opened without resources, and open() warned.
  bool resource_fork_unread() const;
  // Where the resource fork's data and map end, from its start (0 when the
  // map was not read): past info().rsrc_length when the map runs on into
  // the bytes after the fork.
  int64_t resource_parts_end() const;

 private:
  bool find_library_path(int fd, const std::string &path);
  bool open_channel(ResourceNeed need);
  void warn_of_damage(ResourceNeed need, bool library_warned) const;
  bool looks_like_a_header() const;
  bool forks_fit_the_file();
  std::string cut_resource_fork_text() const;
  void collect_resources();

  std::string argument_;
  std::string path_;
  std::string library_path_;  // what the library opens: the file or its copy
  std::unique_ptr<InputCopy> copy_;
  int64_t file_size_ = 0;
  MacBinChannel *channel_ = nullptr;
  MacBinFileInfo info_{};
  int32_t container_ = 0;  // MacBin_IdentifyFile's answer
  int64_t rsrc_offset_ = 0;
  std::vector<ResourceEntry> resources_;
};

}  // namespace varnel_tool
