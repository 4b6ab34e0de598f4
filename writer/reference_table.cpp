// The writer's type table and references.  The channel's first tables are
// the public ones hosts and processors read: `types` and the grid `refs` of
// kMaxResourcesPerType references per type.  A file carried across may
// hold more types and more resources of a type than those first tables
// (a System file has over 64 types, an installer hundreds of resources of
// one), so the type table and the grid's rows grow with the types, and a
// type's references past its grid row live in the writer's own storage.
// What bounds a map is its 16-bit offsets: the reference lists must start,
// and the name list must begin, within 0xFFFF bytes of the map's start.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "format/resource_fork.hpp"
#include "frame/internal.hpp"
#include "writer/internal.hpp"

namespace {

namespace format = varnel::format;

constexpr size_t kMessageBytes = 256;
constexpr int64_t kMapListsStart =
    sizeof(format::ResourceMapHeader) + sizeof(format::TypeCountField);

// Where the name list would start in a map of `types` types and
// `references` references; it must stay within a 16-bit offset.
int64_t name_list_offset(int64_t types, int64_t references) {
  return kMapListsStart + types * int64_t{sizeof(format::ResourceTypeItem)} +
         references * int64_t{sizeof(format::ResourceReferenceItem)};
}

// Doubles the type table and the grid; false when memory runs out (the
// tables are then as they were).
bool grow_tables(MacBinChannel *channel, WriterState &state) {
  const int32_t old_capacity = state.type_capacity;
  const int32_t capacity = old_capacity * 2;
  auto *types = static_cast<MacBinTypeEntry *>(
      zalloc(MacIOControl.zone, static_cast<size_t>(capacity) * sizeof(MacBinTypeEntry)));
  auto *refs = static_cast<MacBinRefEntry *>(std::calloc(
      static_cast<size_t>(capacity) * kMaxResourcesPerType, sizeof(MacBinRefEntry)));
  if (types == nullptr || refs == nullptr) {
    if (types != nullptr) zfree(MacIOControl.zone, types, static_cast<size_t>(capacity) * sizeof(MacBinTypeEntry));
    std::free(refs);
    return false;
  }
  std::memset(types, 0, static_cast<size_t>(capacity) * sizeof(MacBinTypeEntry));
  std::memcpy(types, channel->types, static_cast<size_t>(old_capacity) * sizeof(MacBinTypeEntry));
  std::memcpy(refs, channel->refs,
              static_cast<size_t>(old_capacity) * kMaxResourcesPerType * sizeof(MacBinRefEntry));
  zfree(MacIOControl.zone, channel->types, static_cast<size_t>(old_capacity) * sizeof(MacBinTypeEntry));
  std::free(channel->refs);
  channel->types = types;
  channel->refs = refs;
  state.type_capacity = capacity;
  return true;
}

}  // namespace

MacBinRefEntry &reference_at(MacBinChannel *channel, int32_t t, int32_t r) {
  if (r < kMaxResourcesPerType) return channel->refs[t * kMaxResourcesPerType + r];
  return writer_state(channel)->overflow[static_cast<size_t>(t)][static_cast<size_t>(r - kMaxResourcesPerType)];
}

const MacBinRefEntry &reference_at(const MacBinChannel *channel, int32_t t, int32_t r) {
  return reference_at(const_cast<MacBinChannel *>(channel), t, r);
}

namespace {

// strcmp for an entry's type (NUL-terminated within its 8 bytes), inline:
// it is asked several times for every resource inserted.
bool is_type(const MacBinTypeEntry &entry, const char *type) {
  for (size_t i = 0; i < sizeof entry.type; ++i) {
    if (entry.type[i] != type[i]) return false;
    if (type[i] == '\0') return true;
  }
  return false;
}

}  // namespace

int32_t find_type(const MacBinChannel *channel, const char *type) {
  WriterState &state = *writer_state(const_cast<MacBinChannel *>(channel));
  const int32_t last = state.last_found_type;
  if (last >= 0 && last <= channel->type_count && is_type(channel->types[last], type)) return last;
  for (int32_t t = 0; t <= channel->type_count; ++t) {
    if (is_type(channel->types[t], type)) {
      state.last_found_type = t;
      return t;
    }
  }
  return -1;
}

void report_not_inserted(const char *reason, const char *type, int32_t id, int32_t code) {
  char text[kMessageBytes];
  std::snprintf(text, sizeof text, "%sresource <%s>, ID %d not inserted", reason, type, id);
  report(text, MACBIN_WARNING, code);
}

const char *map_room_fault(const MacBinChannel *channel, const char *type) {
  const WriterState &state = *writer_state(const_cast<MacBinChannel *>(channel));
  const int64_t types = channel->type_count + 1 + (find_type(channel, type) < 0 ? 1 : 0);
  if (types > int64_t{format::kNoTypes}) return "Too many resource types: ";  // "count - 1" of 0xFFFF means none
  if (name_list_offset(types, int64_t{state.reference_total} + 1) > int64_t{format::kNoName})
    return "Resource map full (its lists must lie within 64 KB): ";
  return nullptr;
}

bool has_room_for(const MacBinChannel *channel, const char *type, int32_t id) {
  if (const char *fault = map_room_fault(channel, type)) {
    report_not_inserted(fault, type, id, MACBIN_ERR_LIMIT);
    return false;
  }
  return true;
}

MacBinRefEntry *append_reference(MacBinChannel *channel, const char *type) {
  WriterState &state = *writer_state(channel);
  try {
    int32_t t = find_type(channel, type);
    if (t < 0) {
      if (channel->type_count + 1 >= state.type_capacity && !grow_tables(channel, state)) return nullptr;
      if (state.overflow.size() < static_cast<size_t>(channel->type_count) + 2) {
        state.overflow.resize(static_cast<size_t>(channel->type_count) + 2);
      }
      t = ++channel->type_count;
      MacBinTypeEntry &entry = channel->types[t];
      std::memset(entry.type, 0, sizeof entry.type);
      std::memcpy(entry.type, type, ::strnlen(type, kMaxTypeLength));
      entry.count = 0;
      if (trace_enabled(TRACE_CONDITION)) {
        std::printf("CONDITION--> new resourcetype (%s) added\n", type);
      }
    } else {
      const int32_t column = channel->types[t].count + 1;
      if (column >= kMaxResourcesPerType) state.overflow[static_cast<size_t>(t)].emplace_back();
      channel->types[t].count = column;
      if (trace_enabled(TRACE_CONDITION)) {
        std::printf("CONDITION--> resourcetype (%s) occurs %d times\n", type, column + 1);
      }
    }
    ++state.reference_total;
    return &reference_at(channel, t, channel->types[t].count);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}
