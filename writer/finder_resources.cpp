// The Finder resources: a version resource from a compact text, one file
// reference per document type, and the bundle that ties the owner, the file
// references and their icons together.
//
// All three read their parameter text by fixed positions and separators;
// every read is bounded by the text's end, so a short or malformed text
// yields zeros and empty strings instead of reading past it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "frame/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr char kBell = 7;

MacBinChannel *acting_channel(MacBinChannel *channel) {
  return channel != nullptr ? channel : MacChannel;
}

}  // namespace

extern "C" {

// The text's layout is read_vers_parameter's; a text out of its form is
// written as far as it goes (MacBin_CheckResourceLine refuses it).
int32_t add_vers(MacBinChannel * /*channel*/, const char *text) {
  VersParameter vers;
  try {
    vers = read_vers_parameter(text != nullptr ? text : "");
  } catch (const std::bad_alloc &) {
    return 1;  // nothing written: the resource is refused as empty
  }
  // An unknown stage letter is stored as development, with the notice the
  // processor has always printed.
  if (release_stage_of(vers.stage_letter) == 0) std::printf("ERROR     Invalid Release code %c\n", kBell);
  try {
    const std::string bytes = vers_resource_bytes(vers);
    const auto length = static_cast<int32_t>(bytes.size());
    MacBin_PutBuf(bytes.data(), length, length);
  } catch (const std::bad_alloc &) {
    return 1;
  }
  return 0;
}

int32_t add_FREF(MacBinChannel *channel, const char *text) {
  if (trace_enabled(TRACE_MSG)) std::printf("MSG--> Creation resource FREF \n");
  MacBinChannel *target = acting_channel(channel);
  if (target == nullptr || target->frefs == nullptr) return 1;
  if (target->fref_last >= kMaxFrefs - 1) {
    std::printf("ERROR     out of FREF memory %c\n", kBell);
    return 1;
  }
  FrefParameter fref;
  try {
    fref = read_fref_parameter(text != nullptr ? text : "");
  } catch (const std::bad_alloc &) {
    return 1;  // nothing written: the resource is refused as empty
  }
  if (is_writing_channel(target)) {
    // Kept for the bundle's icon warnings; without memory they only lack the type.
    std::vector<std::string> &types = writer_state(target)->fref_file_types;
    try {
      types.resize(static_cast<size_t>(target->fref_last) + 2);
      types.back().assign(fref.file_type);
    } catch (const std::bad_alloc &) {
    }
  }
  const int32_t local_id = ++target->fref_last;
  MacBin_PutBuf(fref.file_type.data(), static_cast<int32_t>(fref.file_type.size()), 4);
  MacBin_PutWord(local_id, 2);
  MacBin_PutByte(0);  // an empty file name

  target->frefs[local_id][0] = fref.icon_id;
  target->frefs[local_id][1] = fref.fref_id;
  return 0;
}

// The bundle: owner signature and ID 0, then the FREF list (local ID, FREF
// ID) and the ICN# list (local ID, icon ID), each count stored minus 1.
int32_t close_BNDL(MacBinChannel *channel, const char * /*text*/) {
  if (trace_enabled(TRACE_MSG)) std::printf("MSG--> Creation resource BNDL \n");
  MacBinChannel *target = acting_channel(channel);
  if (target == nullptr || target->frefs == nullptr) return 1;
  const int32_t last = std::min(target->fref_last, kMaxFrefs - 1);
  MacBin_PutBuf(target->finder.creator, static_cast<int32_t>(::strnlen(target->finder.creator, 4)),
                4);
  MacBin_PutWord(0, 2);  // owner resource ID
  MacBin_PutWord(1, 2);  // two types in the bundle
  MacBin_PutBuf("FREF", 4, 4);
  MacBin_PutWord(last, 2);
  for (int32_t i = 0; i <= last; ++i) {
    MacBin_PutWord(i, 2);
    MacBin_PutWord(target->frefs[i][1], 2);
  }
  MacBin_PutBuf("ICN#", 4, 4);
  MacBin_PutWord(last, 2);
  for (int32_t i = 0; i <= last; ++i) {
    MacBin_PutWord(i, 2);
    MacBin_PutWord(target->frefs[i][0], 2);
  }
  return 0;
}

}  // extern "C"
