// Private to the reader.
//
// The lookup structures a read channel keeps beside its public type table
// (ChannelExtension::reader_index): finding a type, and within a type a
// reference by ID or by name, costs one probe into a small table instead of
// a walk over lists.  The public records (type table, reference arrays, the
// channel's name list) are still filled completely: processors and hosts
// read them directly.
//
// The tables are open-addressed arrays of 32-bit slots, one pair per type
// entry, laid end to end in two vectors: a host walks one type's resources
// after another, and that type's tables then stay in the nearest cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "frame/internal.hpp"

// A map from 64-bit keys to non-negative int32 values (type codes to entry
// numbers).
class KeyTable {
 public:
  // Makes room for `count` keys without further growth.
  void reserve_for(size_t count);
  // Stores value under key unless the key is present already.
  void insert_first(uint64_t key, int32_t value);
  // Stores value under key, replacing what was there.
  void insert_last(uint64_t key, int32_t value);
  // The value stored under key, or -1.
  int32_t find(uint64_t key) const;

 private:
  struct Slot {
    uint64_t key;
    int32_t value;  // -1 = empty slot
  };
  void grow();
  Slot &slot_for(uint64_t key);
  std::vector<Slot> slots_;
  size_t used_ = 0;
};

// Where one type entry's two tables lie.  Slots hold a reference index + 1
// (0 = empty); name slots also hold the name's hash.
//
// IDs of one type are nearly always a run (128, 129, ...).  When the span
// from the lowest to the highest ID fits the slots the ID table has anyway,
// the table is indexed by ID - id_low directly: no hashing, no probing.
// Otherwise (id_span 0) it is open-addressed under id_mask.
struct TypeTables {
  uint32_t id_first;
  uint32_t id_mask;
  uint32_t name_first;
  uint32_t name_mask;
  uint32_t id_low;
  uint32_t id_span;  // slots of the direct table, 0 = hashed
};

struct NameSlot {
  uint32_t hash;
  uint32_t ref_plus_one;
};

struct ReaderIndex {
  int64_t file_length_bytes = 0;

  // The channel's name nodes: one zone block of name_count nodes, linked
  // into the channel's name list (see build_name_nodes in open.cpp).
  MacBinNameNode *name_block = nullptr;
  size_t name_count = 0;

  std::vector<uint32_t> type_codes;  // per type entry, see type_code()
  KeyTable first_entry_of_type;
  KeyTable last_entry_of_type;
  std::vector<TypeTables> tables;  // per type entry
  std::vector<uint32_t> id_slots;  // sized once for all entries (prepare_type_tables)
  std::vector<NameSlot> name_slots;
  size_t id_slots_used = 0;
  size_t name_slots_used = 0;

  // Hosts ask about one type many times in a row.
  uint32_t cached_code = 0;
  int32_t cached_first_entry = -1;
};

// Type texts match as strncmp(a, b, 4) == 0 does: the first four characters,
// ending early at a NUL.  The code holds exactly those characters, zero after
// the first NUL, so two texts match exactly when their codes are equal.
// Written out rather than looped: it runs once per query.  No byte past the
// first NUL is read.
inline uint32_t type_code(const char *text) {
  const auto byte = [text](int i) { return static_cast<uint32_t>(static_cast<uint8_t>(text[i])); };
  const uint32_t b0 = byte(0);
  if (b0 == 0) return 0;
  const uint32_t b1 = byte(1);
  if (b1 == 0) return b0 << 24;
  const uint32_t b2 = byte(2);
  if (b2 == 0) return (b0 << 24) | (b1 << 16);
  return (b0 << 24) | (b1 << 16) | (b2 << 8) | byte(3);
}

// IDs are often runs or multiples of a round number: every bit is mixed
// into the low bits that pick the slot (the 32-bit finaliser of MurmurHash3).
inline uint32_t mix_id(uint32_t id) {
  id ^= id >> 16;
  id *= 0x85ebca6bU;
  id ^= id >> 13;
  id *= 0xc2b2ae35U;
  id ^= id >> 16;
  return id;
}

// Hash of a name's text, as the name tables key it.  Inline and eight
// bytes at a time: it runs once per reference and once per lookup by name.
// The value never leaves memory, so reading words in the machine's own
// byte order does no harm.
inline uint32_t name_hash(std::string_view text) {
  const char *data = text.data();
  const size_t size = text.size();
  uint64_t hash = 0x9e3779b97f4a7c15ULL ^ size;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    hash = (hash ^ word) * 0xbf58476d1ce4e5b9ULL;
    hash ^= hash >> 29;
  }
  // The last 0 to 7 bytes, read without a loop: two overlapping words of
  // four, or three single bytes, which together cover every byte.
  const size_t rest = size - i;
  const char *tail_bytes = data + i;
  uint64_t tail = 0;
  if (rest >= 4) {
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, tail_bytes, 4);
    std::memcpy(&last, tail_bytes + rest - 4, 4);
    tail = (static_cast<uint64_t>(first) << 32) | last;
  } else if (rest > 0) {
    tail = (static_cast<uint64_t>(static_cast<uint8_t>(tail_bytes[0])) << 16) |
           (static_cast<uint64_t>(static_cast<uint8_t>(tail_bytes[rest / 2])) << 8) |
           static_cast<uint8_t>(tail_bytes[rest - 1]);
  }
  hash = (hash ^ tail) * 0x94d049bb133111ebULL;
  hash ^= hash >> 31;
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// Slots of a table for `count` keys: a power of two of at least twice the
// count (at least one), so a probe always ends at an empty slot.
uint32_t table_size_for(uint32_t count);

// Sizes the tables for `type_count` entries; counts[t] and named[t] are the
// references and the named references of entry t.
void prepare_type_tables(ReaderIndex &index, size_t type_count, const uint32_t *counts,
                         const uint32_t *named);

// Records type entry `entry` (appended in entry order): its code and the
// tables of its references, `named` of which have a name.  name_hashes[r]
// is the hash of reference r's name (ignored for references without one).
void index_type_entry(ReaderIndex &index, int32_t entry, const MacBinTypeEntry &type,
                      uint32_t named, const uint32_t *name_hashes);

// The first type entry matching `type`, or -1.
inline int32_t find_first_type_entry(ReaderIndex &index, const char *type) {
  const uint32_t code = type_code(type);
  if (index.cached_first_entry >= 0 && index.cached_code == code) return index.cached_first_entry;
  const int32_t entry = index.first_entry_of_type.find(code);
  if (entry >= 0) {
    index.cached_code = code;
    index.cached_first_entry = entry;
  }
  return entry;
}

// The last type entry matching `type`, or -1.
inline int32_t find_last_type_entry(const ReaderIndex &index, const char *type) {
  return index.last_entry_of_type.find(type_code(type));
}

// The index of the first reference of type entry `entry` with this ID, or -1.
inline int32_t find_ref_by_id(const ReaderIndex &index, const MacBinTypeEntry &type, int32_t entry,
                              uint32_t id) {
  const TypeTables &tables = index.tables[static_cast<size_t>(entry)];
  const uint32_t *ids = index.id_slots.data() + tables.id_first;
  if (tables.id_span != 0) {
    const uint32_t slot = id - tables.id_low;  // wraps to a large value below id_low
    return slot < tables.id_span ? static_cast<int32_t>(ids[slot]) - 1 : -1;
  }
  for (uint32_t slot = mix_id(id) & tables.id_mask;; slot = (slot + 1) & tables.id_mask) {
    const uint32_t found = ids[slot];
    if (found == 0) return -1;
    if (static_cast<uint32_t>(type.refs[found - 1].id) == id)
      return static_cast<int32_t>(found - 1);
  }
}

// The index of the first reference of type entry `entry` whose name is
// `name` (whole text, case-sensitive), or -1.
inline int32_t find_ref_by_name(const ReaderIndex &index, const MacBinTypeEntry &type,
                                int32_t entry, std::string_view name) {
  const TypeTables &tables = index.tables[static_cast<size_t>(entry)];
  const NameSlot *names = index.name_slots.data() + tables.name_first;
  const uint32_t hash = name_hash(name);
  for (uint32_t slot = hash & tables.name_mask;; slot = (slot + 1) & tables.name_mask) {
    const NameSlot &found = names[slot];
    if (found.ref_plus_one == 0) return -1;
    if (found.hash != hash) continue;
    const MacBinNameNode *node = type.refs[found.ref_plus_one - 1].name;
    if (node->length == name.size() && std::memcmp(node->text, name.data(), name.size()) == 0) {
      return static_cast<int32_t>(found.ref_plus_one - 1);
    }
  }
}

// Releases the index of a read channel (null is ignored).  The name block
// is the channel's to give back (close_read_channel).
void destroy_reader_index(ReaderIndex *index) noexcept;
