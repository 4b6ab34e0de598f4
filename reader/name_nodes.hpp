// Private to the reader.
//
// The channel's name list as MacBin_OpenR builds it: one node per distinct
// name text of the map, found again by its text while the references are
// read, and linked into the channel's list newest first (the order
// MacBin_InsertName gives).
//
// All nodes come from one zone block, recorded in the reader's index so
// that MacBin_Close gives it back whole: one allocation per node would cost
// more than everything else the reader does for a file of many names.  The
// block is taken before the names are read, so it is sized for the most
// names the map can hold (never more than one per reference): a map whose
// references repeat a few names leaves most of it unused and never
// touched (the zone does not clear its blocks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "reader/lookup_index.hpp"

class NameNodeMaker {
 public:
  NameNodeMaker(MacBinChannel &channel, ReaderIndex &index) : channel_(channel), index_(index) {}

  // Takes room for max_names nodes from the zone; false when it has none.
  bool reserve(size_t max_names);

  // The node holding `text` (at most 127 characters, no NUL), whose
  // name_hash is `hash`: the one made for an equal text before, or a new
  // one, first naming reference `ref` of the ref block.  Null when the
  // reserved nodes are used up (never for a checked map: each distinct text
  // has an offset of its own).
  MacBinNameNode *node_for(std::string_view text, uint32_t hash, size_t ref) {
    // A slot holds the node number + 1 in its low half and the high half of
    // the hash above it: texts are compared only when those agree, and the
    // table stays small enough for the nearest cache.
    const uint32_t tag = hash & 0xFFFF0000U;
    const size_t mask = slots_.size() - 1;
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const uint32_t found = slots_[slot];
      if (found == 0) {
        MacBinNameNode *node = make_node(text, hash, ref);
        if (node != nullptr) slots_[slot] = tag | static_cast<uint32_t>(index_.node_count);
        return node;
      }
      if ((found & 0xFFFF0000U) == tag) {
        MacBinNameNode &node = index_.name_block[(found & 0xFFFFU) - 1];
        if (node_holds(node, text)) return &node;
      }
    }
  }

 private:
  MacBinNameNode *make_node(std::string_view text, uint32_t hash, size_t ref) {
    const size_t number = index_.node_count;
    if (number >= index_.name_capacity) return nullptr;
    MacBinNameNode &node = index_.name_block[number];
    // Short texts go in as two overlapping words (node.text has room).  The
    // rest of node.text past the NUL is left as the zone gave it.
    const size_t size = text.size();
    if (size >= 8 && size <= 16) {
      const uint64_t first = load_word(text.data());
      const uint64_t last = load_word(text.data() + size - 8);
      std::memcpy(node.text, &first, 8);
      std::memcpy(node.text + size - 8, &last, 8);
    } else {
      std::memcpy(node.text, text.data(), size);
    }
    node.text[size] = '\0';
    node.length = static_cast<uint8_t>(size);
    node.next = channel_.names;
    channel_.names = &node;
    index_.node_facts[number] = NameNodeFacts{hash, static_cast<uint32_t>(ref)};
    index_.node_count = number + 1;
    return &node;
  }

  MacBinChannel &channel_;
  ReaderIndex &index_;
  std::vector<uint32_t> slots_;  // hash tag | node number + 1; 0 = empty
};
