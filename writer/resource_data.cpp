// Inserting a resource from bytes in memory: a host that has the resource's
// bytes (a file carried across, an icon it encoded, a string it built)
// hands them over with the resource's type, ID, name and attribute byte,
// through the same checks and into the same map as a resource line.
#include <cstdio>
#include <cstring>
#include <new>

#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr size_t kTypeBytes = 4;
constexpr size_t kMaxNameBytes = 255;

int32_t refuse(const char *reason, const char *type, int32_t id, int32_t code = MACBIN_ERR_ARGUMENT) {
  char text[200];
  std::snprintf(text, sizeof text, "Resource <%s>, ID %d not inserted: %s", type, id, reason);
  report(text, MACBIN_ERROR, code);
  return 1;
}

}  // namespace

const char *resource_argument_fault(const char *type, int32_t id, const char *name, int32_t attributes,
                                    const void *data, int32_t length) {
  if (type == nullptr || type[0] == '\0' || ::strnlen(type, kTypeBytes + 1) > kTypeBytes) {
    return "the type must be 1 to 4 characters";
  }
  if (id < -0x8000 || id > 0x7FFF) return "the ID must be -32768 to 32767";
  if (name != nullptr && ::strnlen(name, kMaxNameBytes + 1) > kMaxNameBytes) {
    return "the name must be at most 255 characters";
  }
  if (attributes < 0 || attributes > 0xFF) return "the attributes must be 0 to 255";
  if (length < 0 || (data == nullptr && length > 0)) return "no data given";
  return nullptr;
}

namespace {

int32_t insert_data(MacBinChannel *channel, const char *type, int32_t id, const char *name,
                    int32_t attributes, const void *data, int32_t length) {
  PendingResource pending;
  // The length is known: the length word is written as it stays.
  if (!begin_resource(channel, type, id, name, pending, length)) return 1;
  announce_resource(channel, type, id, name);
  MacBin_PutBuf(data, length, length);
  return end_resource(channel, pending, true, static_cast<uint8_t>(attributes));
}

}  // namespace

extern "C" int32_t MacBin_AddResourceData(MacBinChannel *channel, const char *type, int32_t id,
                                          const char *name, int32_t attributes, const void *data,
                                          int32_t length) {
  if (!is_writing_channel(channel)) {
    report("No open output channel", MACBIN_ERROR, MACBIN_ERR_STATE);
    return 1;
  }
  // A type shorter than four characters is padded with blanks, as resource
  // lines pad theirs.
  char padded[kTypeBytes + 1] = "    ";
  const char *shown = type != nullptr ? type : "";
  if (const char *fault = resource_argument_fault(type, id, name, attributes, data, length)) {
    return refuse(fault, shown, id);
  }
  std::memcpy(padded, type, ::strnlen(type, kTypeBytes));
  if (writer_state(channel)->fork_given != 0) return refuse("the resource fork was set whole", padded, id, MACBIN_ERR_STATE);

  MacChannel = channel;
  TesselFile *host_output = enter_channel(channel);
  int32_t result = 1;
  try {
    result = insert_data(channel, padded, id, name, attributes, data, length);
  } catch (const std::bad_alloc &) {
    report("Out Of Memory (inserting a resource)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
  }
  // Attributes set for the next resource line are not this resource's,
  // and do not wait past it either.
  writer_state(channel)->next_attributes_set = 0;
  outfile = host_output;
  return result;
}
