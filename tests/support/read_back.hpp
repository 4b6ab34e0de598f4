// What the library's reader makes of a file, through the public calls only:
// its facts, both forks and every resource in map order.  Tests of the
// writers and of the tool compare it with what went in.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace vt {

// A resource fork with one resource, 'STR ' 128 "Hi" = "abc", built by the
// tests' own MacBinary builder and cut out of its file.
inline Bytes one_string_resource_fork() {
  MacBinaryPlan plan;
  plan.types = {{"STR ", {{128, "Hi", bytes_of("abc")}}}};
  const BuiltMacBinary built = build_macbinary(plan);
  return Bytes(built.bytes.begin() + static_cast<long>(built.at.rsrc_start), built.bytes.end());
}

struct ReadResource {
  std::string type;
  int32_t id = 0;    // signed, as the Macintosh has it
  std::string name;  // MacRoman; "" for none
  int32_t attributes = 0;
  Bytes data;
  bool operator==(const ReadResource &) const = default;
};

inline void PrintTo(const ReadResource &r, std::ostream *out) {
  *out << "'" << r.type << "' " << r.id << " \"" << r.name << "\" attributes " << r.attributes << " data "
       << to_hex(r.data);
}

struct ReadFile {
  MacBinFileInfo info{};
  Bytes finder_info;  // the 32 bytes MacBin_GetFinderInfoBytes gives
  Bytes data, rsrc;
  std::vector<ReadResource> resources;  // in map order
};

// Fails the test (and returns what it has) when the file cannot be read whole.
inline ReadFile read_back(const std::string &path) {
  ReadFile read;
  MacBinChannel *ch = MacBin_OpenR(path.c_str());
  EXPECT_NE(ch, nullptr) << path;
  if (ch == nullptr) return read;
  EXPECT_EQ(MacBin_GetFileInfo(ch, &read.info), 1);
  read.finder_info.resize(32);
  EXPECT_EQ(MacBin_GetFinderInfoBytes(ch, read.finder_info.data()), 1);
  read.data.resize(read.info.data_length);
  read.rsrc.resize(read.info.rsrc_length);
  EXPECT_EQ(MacBin_ReadDataFork(ch, 0, read.data.data(), static_cast<int32_t>(read.data.size())),
            static_cast<int32_t>(read.data.size()));
  EXPECT_EQ(MacBin_ReadResourceFork(ch, 0, read.rsrc.data(), static_cast<int32_t>(read.rsrc.size())),
            static_cast<int32_t>(read.rsrc.size()));
  for (int32_t t = 0; t < MacBin_GetNrTypes(ch); ++t) {
    const MacBinTypeEntry &type = ch->types[t];
    for (int32_t r = 0; r < type.count; ++r) {
      const MacBinRefEntry &ref = type.refs[r];
      ReadResource resource;
      resource.type.assign(type.type, 4);
      resource.id = static_cast<int16_t>(static_cast<uint16_t>(ref.id));
      char name[MACBIN_MAX_FULL_NAME_LENGTH + 1];
      const int32_t name_length = MacBin_GetResourceName(ch, &ref, name, sizeof name);
      EXPECT_GE(name_length, 0);
      resource.name.assign(name, static_cast<size_t>(std::max(name_length, 0)));
      resource.attributes = ref.attributes;
      const int32_t length = MacBin_ReadResourceData(ch, &ref, nullptr, 0);
      EXPECT_GE(length, 0);
      resource.data.resize(static_cast<size_t>(std::max(length, 0)));
      EXPECT_EQ(MacBin_ReadResourceData(ch, &ref, resource.data.data(), length), length);
      read.resources.push_back(resource);
    }
  }
  MacBin_Close(ch);
  return read;
}

}  // namespace vt
