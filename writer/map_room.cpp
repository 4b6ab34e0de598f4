// The room a channel's map has left, asked before a resource goes in: its
// type and reference items within the map's 16-bit offsets, its name in the
// 16-bit name list, its data within the 24-bit data offsets - and after it,
// still room for what MacBin_Close adds (the owner resource and the
// bundle), which a host cannot see coming.  MacBin_CheckResourceLine,
// MacBin_CheckResourceData and MacBin_CheckClose give hosts these answers
// with their reasons, so that no host keeps its own copy of the map's
// arithmetic.
//
// The insertion itself takes a resource whenever it fits alone, as it
// always has; only the checks hold room for the close.
#include <cstring>
#include <new>
#include <string>

#include "format/mac_roman.hpp"
#include "format/resource_fork.hpp"
#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

namespace format = varnel::format;

constexpr int64_t kMapListsStart = sizeof(format::ResourceMapHeader) + sizeof(format::TypeCountField);
constexpr int64_t kTypeItemBytes = sizeof(format::ResourceTypeItem);
constexpr int64_t kReferenceItemBytes = sizeof(format::ResourceReferenceItem);
constexpr int64_t kLengthWordBytes = 4;
constexpr size_t kTypeBytes = 4;

// What MacBin_Close will add, were `request` inserted now.
struct CloseAdditions {
  bool owner = false;
  bool bundle = false;
  int64_t owner_bytes = 0;  // the owner resource's length word and Pascal string
};

bool is_type(const char *a, const char *b) { return std::strncmp(a, b, kMaxTypeLength) == 0; }

bool has_owner_resource(const MacBinChannel *channel) {
  const int32_t t = find_type(channel, channel->finder.creator);
  for (int32_t r = 0; t >= 0 && r <= channel->types[t].count; ++r)
    if (reference_at(channel, t, r).id == 0) return true;
  return false;
}

CloseAdditions close_additions(MacBinChannel *channel, const RoomRequest *request) {
  const WriterState &state = *writer_state(channel);
  CloseAdditions adds;
  if (!state.finder_resources || state.fork_given != 0) return adds;
  const bool is_owner = request != nullptr && request->id == 0 && is_type(request->type, channel->finder.creator);
  adds.owner = !is_owner && !has_owner_resource(channel);
  const bool frefs = channel->fref_last != -1 || (request != nullptr && request->builds_fref);
  const bool given_bundle = request != nullptr && is_type(request->type, "BNDL");
  adds.bundle = frefs && !given_bundle && find_type(channel, "BNDL") < 0;
  adds.owner_bytes = kLengthWordBytes + 1 + static_cast<int64_t>(::strnlen(channel->owner_text, kOwnerTextBytes - 1));
  return adds;
}

// " (with the owner resource and the bundle that closing the file adds)".
std::string with_additions(const CloseAdditions &adds) {
  if (!adds.owner && !adds.bundle) return "";
  const char *what = adds.owner && adds.bundle ? "the owner resource and the bundle"
                     : adds.owner              ? "the owner resource"
                                               : "the bundle";
  return std::string(" (with ") + what + " that closing the file adds)";
}

int32_t map_lists_fault(MacBinChannel *channel, const RoomRequest *request, const CloseAdditions &adds,
                        std::string &reason) {
  const WriterState &state = *writer_state(channel);
  int64_t types = channel->type_count + 1;
  const bool new_request_type = request != nullptr && find_type(channel, request->type) < 0;
  types += new_request_type ? 1 : 0;
  const bool creator_is_request = request != nullptr && is_type(request->type, channel->finder.creator);
  if (adds.owner && find_type(channel, channel->finder.creator) < 0 && !creator_is_request) ++types;
  if (adds.bundle) ++types;  // no BNDL yet, or the close would add none
  const int64_t references = state.reference_total + (request != nullptr ? 1 : 0) + (adds.owner ? 1 : 0) +
                             (adds.bundle ? 1 : 0);
  if (types > int64_t{format::kNoTypes}) {
    reason = "too many resource types: a map holds at most " + std::to_string(format::kNoTypes);
    return MACBIN_ERR_LIMIT;
  }
  if (kMapListsStart + kTypeItemBytes * types + kReferenceItemBytes * references <= MACBIN_MAX_MAP_LISTS_BYTES)
    return MACBIN_ERR_NONE;
  reason = "the resource map is full at " + std::to_string(references - 1) + " resources" + with_additions(adds) +
           ": its type and reference lists must lie within " + std::to_string(MACBIN_MAX_MAP_LISTS_BYTES) +
           " bytes (MACBIN_MAX_MAP_LISTS_BYTES)";
  return MACBIN_ERR_LIMIT;
}

int32_t name_list_fault(MacBinChannel *channel, const RoomRequest *request, const CloseAdditions &adds,
                        std::string &reason) {
  const int64_t taken = writer_state(channel)->name_list_length;
  const size_t name_length = request != nullptr ? request->name_length : 0;
  const int64_t needed = name_length > 0 ? 1 + static_cast<int64_t>(name_length) : 0;
  const int64_t held = (adds.owner ? 1 + static_cast<int64_t>(std::strlen(kOwnerResourceName)) : 0) +
                       (adds.bundle ? 1 + static_cast<int64_t>(std::strlen(kBundleName)) : 0);
  if (taken + needed + held <= MACBIN_MAX_NAME_LIST_BYTES) return MACBIN_ERR_NONE;
  reason = "the resource names exceed the map's " + std::to_string(MACBIN_MAX_NAME_LIST_BYTES) +
           " bytes of name list (MACBIN_MAX_NAME_LIST_BYTES): " + std::to_string(taken) + " are taken";
  if (needed > 0) reason += ", this name needs " + std::to_string(needed);
  if (held > 0) reason += ", and the names that closing the file adds " + std::to_string(held);
  return MACBIN_ERR_LIMIT;
}

// Where the resource data ends so far, from its start (where the first
// resource's length word goes).
int64_t resource_data_end(MacBinChannel *channel) {
  if (channel->data_length == -1 || writer_state(channel)->fork_head_pending) return 0;
  return fgetp(channel->file) - channel->rsrc_start - kResourceForkHeadSize;
}

// A type for a reason: UTF-8, without the blanks that pad it.
std::string shown_type(const char *type) {
  std::string text = format::mac_roman_to_utf8(std::string_view(type, ::strnlen(type, kMaxTypeLength)), true);
  while (text.size() > 1 && text.back() == ' ') text.pop_back();
  return text;
}

std::string takes_bytes(const char *type, int32_t id, int64_t length, int64_t end) {
  return shown_type(type) + " " + std::to_string(id) + " takes " + std::to_string(length) +
         " bytes, which brings the resource data to " + std::to_string(end) +
         " bytes; a MacBinary resource map addresses at most " + std::to_string(MACBIN_MAX_DATA_OFFSET);
}

int32_t data_fault(MacBinChannel *channel, const RoomRequest *request, const CloseAdditions &adds,
                   std::string &reason) {
  const int64_t start = resource_data_end(channel);
  if (request != nullptr && start > MACBIN_MAX_DATA_OFFSET) {
    reason = "the resources exceed the " + std::to_string(MACBIN_MAX_DATA_OFFSET) +
             " bytes of resource data a MacBinary map can address (they end at " + std::to_string(start) + ")";
    return MACBIN_ERR_LIMIT;
  }
  if (!adds.owner && !adds.bundle) return MACBIN_ERR_NONE;
  const bool sized = request != nullptr && request->data_length >= 0;
  const int64_t end = sized ? start + kLengthWordBytes + request->data_length : start;
  // The last resource the close adds must start within reach.
  const int64_t last_start = end + (adds.owner && adds.bundle ? adds.owner_bytes : 0);
  if (last_start <= MACBIN_MAX_DATA_OFFSET) return MACBIN_ERR_NONE;
  const WriterState &state = *writer_state(channel);
  if (sized) {
    reason = takes_bytes(request->type, request->id, request->data_length, end);
  } else if (state.last_length >= 0) {
    reason = takes_bytes(state.last_type, state.last_id, state.last_length, end);
  } else {
    reason = "the resource data ends at " + std::to_string(end) + " bytes; a MacBinary resource map addresses at most " +
             std::to_string(MACBIN_MAX_DATA_OFFSET);
  }
  if (end <= MACBIN_MAX_DATA_OFFSET) reason += with_additions(adds) + ", whose data must start within it";
  return MACBIN_ERR_LIMIT;
}

int32_t check_data(MacBinChannel *channel, const char *type, int32_t id, const char *name, int32_t length,
                   std::string &reason) {
  // No bytes are given yet: any address stands for them.
  if (const char *fault = resource_argument_fault(type, id, name, 0, "", length)) {
    reason = fault;
    return MACBIN_ERR_ARGUMENT;
  }
  if (channel == nullptr) return MACBIN_ERR_NONE;
  if (!is_writing_channel(channel)) {
    reason = "not a channel open for writing";
    return MACBIN_ERR_STATE;
  }
  if (writer_state(channel)->fork_given != 0) {
    reason = "the resource fork was set whole: no resources are taken";
    return MACBIN_ERR_STATE;
  }
  char padded[kTypeBytes + 1] = "    ";
  std::memcpy(padded, type, ::strnlen(type, kTypeBytes));
  RoomRequest request;
  request.type = padded;
  request.id = id;
  request.name_length = name != nullptr ? std::strlen(name) : 0;
  request.data_length = length;
  return room_fault(channel, &request, reason);
}

}  // namespace

int32_t room_fault(MacBinChannel *channel, const RoomRequest *request, std::string &reason) {
  const CloseAdditions adds = close_additions(channel, request);
  if (const int32_t code = map_lists_fault(channel, request, adds, reason)) return code;
  if (const int32_t code = name_list_fault(channel, request, adds, reason)) return code;
  return data_fault(channel, request, adds, reason);
}

extern "C" int32_t MacBin_CheckResourceData(MacBinChannel *channel, const char *type, int32_t id,
                                            const char *name, int32_t length) {
  try {
    std::string reason;
    const int32_t code = check_data(channel, type, id, name, length, reason);
    if (code != MACBIN_ERR_NONE) record_error(code, reason.c_str());
    return code;
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (checking a resource)");
    return MACBIN_ERR_MEMORY;
  }
}

extern "C" int32_t MacBin_CheckClose(MacBinChannel *channel) {
  try {
    std::string reason;
    int32_t code = MACBIN_ERR_NONE;
    if (!is_writing_channel(channel)) {
      code = MACBIN_ERR_STATE;
      reason = "not a channel open for writing";
    } else {
      code = room_fault(channel, nullptr, reason);
    }
    if (code != MACBIN_ERR_NONE) record_error(code, reason.c_str());
    return code;
  } catch (const std::bad_alloc &) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (checking the close)");
    return MACBIN_ERR_MEMORY;
  }
}
