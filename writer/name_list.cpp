// The writer's hash index over the channel's name list: every named resource
// looks its name up, and a file may carry thousands of distinct names.
#include <cstring>

#include "frame/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr size_t kIndexMask = kNameIndexSlots - 1;
static_assert((kNameIndexSlots & kIndexMask) == 0, "a power of two");
// Only names of recorded references are entered, at most one per reference,
// so the index never passes half its slots; probing stops there regardless.
constexpr size_t kMaxProbes = kNameIndexSlots / 2;

size_t slot_of(const char *text, size_t length) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < length; ++i) {
    hash = (hash ^ static_cast<uint8_t>(text[i])) * 16777619u;
  }
  return hash & kIndexMask;
}

}  // namespace

MacBinNameNode *find_name_fast(MacBinChannel *channel, const char *name) {
  const WriterState *state = writer_state(channel);
  MacBinNameNode **index = state != nullptr ? state->name_index : nullptr;
  if (index == nullptr) return MacBin_FindName(channel, name);
  const size_t length = ::strnlen(name, kMaxNameLength + 1);
  if (length > static_cast<size_t>(kMaxNameLength)) return nullptr;  // as MacBin_FindName
  size_t slot = slot_of(name, length);
  for (size_t probes = 0; probes < kMaxProbes && index[slot] != nullptr; ++probes) {
    MacBinNameNode *node = index[slot];
    if (node->length == length && std::memcmp(node->text, name, length) == 0) return node;
    slot = (slot + 1) & kIndexMask;
  }
  return nullptr;
}

void index_name(MacBinChannel *channel, MacBinNameNode *node) {
  const WriterState *state = writer_state(channel);
  MacBinNameNode **index = state != nullptr ? state->name_index : nullptr;
  if (index == nullptr || node == nullptr) return;
  size_t slot = slot_of(node->text, node->length);
  size_t probes = 0;
  while (index[slot] != nullptr) {
    if (index[slot] == node) return;
    if (++probes >= kMaxProbes) return;  // crowded: the list still has it
    slot = (slot + 1) & kIndexMask;
  }
  index[slot] = node;
}

void drop_newest_name(MacBinChannel *channel, MacBinNameNode *node) {
  if (channel == nullptr || node == nullptr || channel->names != node) return;
  channel->names = node->next;
  zfree(MacIOControl.zone, node, sizeof(MacBinNameNode));
}
