// A MacBinary file opened for reading: the header checked by the tool, the
// resource map read by the library (MacBin_OpenR and its queries), resource
// data fetched through a read handler and checked against the file's bounds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/macbinary_header.hpp"
#include "varnel.h"

namespace varnel_tool {

struct ResourceEntry {
  std::string type;  // 4 bytes, MacRoman
  int32_t id = 0;    // as stored, 0 to 65535; see signed_id()
  bool named = false;
  std::string name;  // MacRoman
  int32_t attributes = 0;
  int32_t type_index = 0;       // position in the map's type list
  int32_t reference_index = 0;  // position in that type's reference list
  // Resource IDs are signed 16-bit on the Macintosh.
  int32_t signed_id() const { return static_cast<int16_t>(static_cast<uint16_t>(id)); }
};

class MacBinaryInput {
 public:
  MacBinaryInput() = default;
  ~MacBinaryInput();
  MacBinaryInput(const MacBinaryInput &) = delete;
  MacBinaryInput &operator=(const MacBinaryInput &) = delete;

  // False after an error message naming `path`.
  bool open(const std::string &path);

  const std::string &path() const { return path_; }
  const MacBinaryHeader &header() const { return header_; }
  const std::vector<ResourceEntry> &resources() const { return resources_; }

  // The resource's data (or only its length when `data` is null); false
  // after an error message when it lies outside the resource fork.
  bool read_resource(const ResourceEntry &entry, std::vector<uint8_t> *data, int64_t &length);
  // The first resource of this type and ID, or null.
  const ResourceEntry *find(const std::string &type, int32_t id) const;

  // Copies `length` bytes at `offset` of the file to `out`; false after an
  // error message.
  bool copy_bytes(int64_t offset, int64_t length, FILE *out) const;
  // Where the forks lie, as the library reports them.
  void data_fork(int64_t &offset, int64_t &length) const;
  void resource_fork(int64_t &offset, int64_t &length) const;

 private:
  bool fetched_by_library(const ResourceEntry &entry) const;
  bool read_at_reference(const ResourceEntry &entry, std::vector<uint8_t> *data, int64_t &length);

  std::string path_;
  MacBinaryHeader header_;
  uint64_t file_size_ = 0;
  MacBinChannel *channel_ = nullptr;
  std::vector<ResourceEntry> resources_;
};

// Registers the read handler that serves every type ("****").
bool register_read_handler();

}  // namespace varnel_tool
