// The name list hanging on a channel.  The writer and the reader both build
// it; hosts and processors walk it from MacBinChannel::names.
#include <cstring>

#include "format/limits.hpp"
#include "frame/internal.hpp"

namespace {
constexpr size_t kMaxNameLength = varnel::format::kMaxNameLength;
}

MacBinNameNode *MacBin_FindName(MacBinChannel *channel, const char *name) {
  if (channel == nullptr || name == nullptr) return nullptr;
  // Stored names are cut to 127 characters, so a longer one never matches.
  if (::strnlen(name, kMaxNameLength + 1) > kMaxNameLength) return nullptr;
  for (MacBinNameNode *node = channel->names; node != nullptr; node = node->next) {
    if (std::strcmp(node->text, name) == 0) return node;
  }
  return nullptr;
}

MacBinNameNode *MacBin_InsertName(MacBinChannel *channel, const char *name) {
  if (channel == nullptr || name == nullptr || MacIOControl.zone == nullptr) return nullptr;
  auto *node = static_cast<MacBinNameNode *>(zalloc(MacIOControl.zone, sizeof(MacBinNameNode)));
  if (node == nullptr) return nullptr;
  const size_t length = ::strnlen(name, kMaxNameLength);
  std::memcpy(node->text, name, length);
  node->text[length] = '\0';
  node->length = static_cast<uint8_t>(length);
  node->next = channel->names;
  channel->names = node;
  return node;
}

void release_names(MacBinChannel *channel) {
  if (channel == nullptr) return;
  MacBinNameNode *node = channel->names;
  while (node != nullptr) {
    MacBinNameNode *next = node->next;
    zfree(MacIOControl.zone, node, sizeof(MacBinNameNode));
    node = next;
  }
  channel->names = nullptr;
}
