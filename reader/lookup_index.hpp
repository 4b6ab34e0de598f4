// Private to the reader.
//
// The lookup structures a read channel keeps beside its public type table
// (ChannelExtension::state): finding a type, and within a type a
// reference by ID or by name, costs one probe into a small table instead of
// a walk over lists.  The public records (type table, reference arrays, the
// channel's name list) are still filled completely: processors and hosts
// read them directly.
//
// The tables are open-addressed arrays, one pair per type entry, laid end to
// end in two vectors: a host walks one type's resources after another, and
// that type's tables then stay in the nearest cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "format/macbinary_header.hpp"
#include "frame/internal.hpp"
#include "reader/decompression.hpp"

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
//
// The name table is cleared and filled on the first lookup that needs it
// (its slots are taken at open, so a lookup never allocates): hosts ask by
// name mostly with the text of a name node, which finds its first
// reference without the table (find_ref_by_node).
struct TypeTables {
  uint32_t id_first;
  uint32_t id_mask;
  uint32_t name_first;
  uint32_t name_mask;
  uint32_t id_low;
  uint32_t id_span;    // slots of the direct table, 0 = hashed
  uint32_t ref_first;  // the entry's first reference, in ReaderIndex::ref_block
  bool names_indexed;
};

struct NameSlot {
  uint32_t hash;
  uint32_t number_plus_one;  // the reference's index + 1; 0 = empty
};

// What the index keeps of each name node: its name_hash, and the first
// reference in the map that it names (an index into ref_block).  A file
// whose resources have names of their own is asked about each name in the
// type that holds it, and the answer is then that reference, without a
// probe.
struct NameNodeFacts {
  uint32_t hash;
  uint32_t first_ref;
};

// What a read channel keeps beyond its public record
// (ChannelExtension::state): the lookup tables, and what the header said.
struct ReaderIndex {
  int64_t file_length_bytes = 0;

  // The reference arrays of every type entry, end to end in one zone block.
  MacBinRefEntry *ref_block = nullptr;
  size_t ref_count = 0;

  // Every name node of the channel, in one zone block of name_capacity
  // nodes (see NameNodeMaker), linked into its name list as well.
  MacBinNameNode *name_block = nullptr;
  size_t name_capacity = 0;
  std::unique_ptr<NameNodeFacts[]> node_facts;  // name_capacity of them, by node number
  size_t node_count = 0;                         // nodes made

  std::vector<uint32_t> type_codes;  // per type entry, see type_code()
  KeyTable first_entry_of_type;
  KeyTable last_entry_of_type;
  std::vector<TypeTables> tables;  // per type entry
  // Sized once for all entries (prepare_type_tables); an entry's slots are
  // cleared when its table is first filled, so the arrays are never cleared
  // as a whole.
  std::unique_ptr<uint32_t[]> id_slots;
  std::unique_ptr<NameSlot[]> name_slots;

  // Hosts ask about one type many times in a row.  The key is a type code,
  // or a value no code has while nothing is cached.
  uint64_t cached_key = kNoCachedType;
  int32_t cached_first_entry = -1;
  static constexpr uint64_t kNoCachedType = uint64_t{1} << 32;

  // Kept for hosts (MacBin_GetFileInfo); the queries never look at it.
  // Every container fills it (its variant is MacBinary's own detail).
  varnel::format::MacBinaryFacts header{};
  // MacBinFileInfo.format: the container the file was read as.
  int32_t format = MACBIN_FORMAT_CLASSIC;
  // Where the data fork lies: from data_start of data_file, a file of
  // data_file_length bytes.  data_file is the channel's own file, or the
  // data file beside an AppleDouble header file, which the channel then
  // owns (own_data_file).
  TesselFile *data_file = nullptr;
  bool own_data_file = false;
  int64_t data_start = 0;
  int64_t data_file_length = 0;
  // MacBinFileInfo.rsrc_state: 1 = the resource map was read, 0 = no
  // resource fork, -1 = a resource fork the file does not wholly hold or
  // whose map failed a check (the channel then has no types).
  int32_t rsrc_state = 0;
  // The resource map's own attributes (read-only, compact, ...).
  uint16_t map_attributes = 0;
  // Names longer than the 127 characters a name node holds, whole, by the
  // reference's number in ref_block.
  std::unordered_map<size_t, std::string> long_names;
  // The last resource MacBin_ReadResourceUncompressed decompressed, so that
  // asking for its length and then for its bytes decompresses it once.
  varnel::reader::DecompressedCache decompressed;
};

// The number of `ref` in index.ref_block when it is one of the references
// MacBin_OpenR made for the channel (compared as addresses, so a pointer
// from elsewhere is never used to index anything), else -1.
inline int64_t reference_number(const ReaderIndex &index, const MacBinRefEntry *ref) {
  if (index.ref_block == nullptr || ref == nullptr) return -1;
  const auto first = reinterpret_cast<uintptr_t>(index.ref_block);
  const auto at = reinterpret_cast<uintptr_t>(ref);
  if (at < first) return -1;
  const uintptr_t offset = at - first;
  if (offset % sizeof(MacBinRefEntry) != 0 || offset / sizeof(MacBinRefEntry) >= index.ref_count) return -1;
  return static_cast<int64_t>(offset / sizeof(MacBinRefEntry));
}

// The state of a read channel, or null for any other channel.
inline ReaderIndex *reader_state(MacBinChannel *channel) {
  if (channel == nullptr || channel->mode != kChannelReading) return nullptr;
  return static_cast<ReaderIndex *>(extension_of(channel)->state);
}

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

// Word loads of name bytes.  Hash values never leave memory, so the
// machine's own byte order does no harm.
inline uint64_t load_word(const char *bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, 8);
  return word;
}
inline uint32_t load_half(const char *bytes) {
  uint32_t half;
  std::memcpy(&half, bytes, 4);
  return half;
}

// Hash of a name's text, as the name tables key it: every byte counts, so
// names differing anywhere rarely collide.  Names of 4 to 16 bytes (most of
// them) take two overlapping loads and two multiplications.
inline uint32_t name_hash(std::string_view text) {
  const char *data = text.data();
  const size_t size = text.size();
  uint64_t first;
  uint64_t last;
  uint64_t hash = 0x9e3779b97f4a7c15ULL ^ size;
  if (size >= 8) {
    size_t i = 0;
    for (; i + 16 < size; i += 8) {
      hash = (hash ^ load_word(data + i)) * 0xbf58476d1ce4e5b9ULL;
      hash ^= hash >> 29;
    }
    first = load_word(data + i);         // the last 9 to 16 bytes, as two
    last = load_word(data + size - 8);   // words overlapping unless 16
  } else if (size >= 4) {
    first = load_half(data);
    last = load_half(data + size - 4);
  } else if (size > 0) {
    first = static_cast<uint8_t>(data[0]);
    last = (static_cast<uint64_t>(static_cast<uint8_t>(data[size / 2])) << 8) |
           static_cast<uint8_t>(data[size - 1]);
  } else {
    first = 0;
    last = 0;
  }
  // Bytes at either end of the words reach the low bits that pick slots.
  hash = (hash ^ first) * 0xbf58476d1ce4e5b9ULL;
  hash ^= last;
  hash ^= hash >> 29;
  hash *= 0x94d049bb133111ebULL;
  hash ^= hash >> 32;
  return static_cast<uint32_t>(hash);
}

// True when the 8 bytes of `word` include a zero byte (exact, no false
// answers either way).
inline bool word_has_zero_byte(uint64_t word) {
  return ((word - 0x0101010101010101ULL) & ~word & 0x8080808080808080ULL) != 0;
}
inline bool half_has_zero_byte(uint32_t half) {
  return ((half - 0x01010101U) & ~half & 0x80808080U) != 0;
}

// The length of a stored name of `size` bytes as a C text: up to its first
// NUL.  Names of 4 to 16 bytes are checked with the loads name_hash makes
// of them anyway.
inline size_t text_length(const char *bytes, size_t size) {
  if (size >= 8 && size <= 16) {
    if (!word_has_zero_byte(load_word(bytes)) && !word_has_zero_byte(load_word(bytes + size - 8)))
      return size;
  } else if (size >= 4 && size < 8) {
    if (!half_has_zero_byte(load_half(bytes)) && !half_has_zero_byte(load_half(bytes + size - 4)))
      return size;
  }
  return strnlen(bytes, size);
}

// True when node holds exactly `text`.  Short names are compared with the
// same overlapping loads as name_hash uses; node->text has room for them.
inline bool node_holds(const MacBinNameNode &node, std::string_view text) {
  const size_t size = text.size();
  if (node.length != size) return false;
  const char *a = node.text;
  const char *b = text.data();
  if (size >= 8 && size <= 16) {
    return load_word(a) == load_word(b) && load_word(a + size - 8) == load_word(b + size - 8);
  }
  if (size >= 4 && size < 8) {
    return load_half(a) == load_half(b) && load_half(a + size - 4) == load_half(b + size - 4);
  }
  return std::memcmp(a, b, size) == 0;
}

// Slots of a table for `count` keys: a power of two of at least twice the
// count (at least one), so a probe always ends at an empty slot.
uint32_t table_size_for(uint32_t count);

// Sizes the tables for `type_count` entries of counts[t] references each.
void prepare_type_tables(ReaderIndex &index, size_t type_count, const uint32_t *counts);

// Starts the tables of type entry `entry` (entries come in order), whose
// `count` references have IDs from id_low to id_high and start at ref_first
// in the ref block.
TypeTables begin_type_entry(ReaderIndex &index, int32_t entry, const char *type, uint32_t count,
                             uint32_t id_low, uint32_t id_high, uint32_t ref_first);

// Records reference r of a type entry under its ID, unless an earlier
// reference has the same ID: lookups answer with the first.
inline void index_reference_id(ReaderIndex &index, const TypeTables &tables,
                               const MacBinRefEntry *refs, uint32_t r) {
  uint32_t *ids = index.id_slots.get() + tables.id_first;
  const auto id = static_cast<uint32_t>(refs[r].id);
  if (tables.id_span != 0) {
    uint32_t &slot = ids[id - tables.id_low];
    if (slot == 0) slot = r + 1;
    return;
  }
  for (uint32_t slot = mix_id(id) & tables.id_mask;; slot = (slot + 1) & tables.id_mask) {
    if (ids[slot] == 0) {
      ids[slot] = r + 1;
      return;
    }
    if (static_cast<uint32_t>(refs[ids[slot] - 1].id) == id) return;
  }
}

// Fills the name table of type entry `entry` (see name_table).
void fill_name_table(ReaderIndex &index, const MacBinTypeEntry &type, TypeTables &tables);

// The name table of type entry `entry`, filled on first use: each named
// reference under its name's hash, unless an earlier reference has the same
// name (equal texts share one node, so the node tells equal names apart).
inline const NameSlot *name_table(ReaderIndex &index, const MacBinTypeEntry &type,
                                  TypeTables &tables) {
  if (!tables.names_indexed) fill_name_table(index, type, tables);
  return index.name_slots.get() + tables.name_first;
}

// The first type entry matching `type`, or -1.
inline int32_t find_first_type_entry(ReaderIndex &index, const char *type) {
  const uint32_t code = type_code(type);
  if (index.cached_key == code) return index.cached_first_entry;
  const int32_t entry = index.first_entry_of_type.find(code);
  if (entry >= 0) {
    index.cached_key = code;
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
  const uint32_t *ids = index.id_slots.get() + tables.id_first;
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
inline int32_t find_ref_by_name(ReaderIndex &index, const MacBinTypeEntry &type, int32_t entry,
                                std::string_view name) {
  TypeTables &tables = index.tables[static_cast<size_t>(entry)];
  const NameSlot *names = name_table(index, type, tables);
  const uint32_t hash = name_hash(name);
  for (uint32_t slot = hash & tables.name_mask;; slot = (slot + 1) & tables.name_mask) {
    const NameSlot &found = names[slot];
    if (found.number_plus_one == 0) return -1;
    if (found.hash == hash && node_holds(*type.refs[found.number_plus_one - 1].name, name)) {
      return static_cast<int32_t>(found.number_plus_one - 1);
    }
  }
}

// The number of the name node whose text starts at `text`, or -1.  Hosts
// learn resource names from the records (ref->name->text, cur_name), so a
// lookup by name is nearly always given the text of one of the channel's
// own nodes; that node then stands for its text, which no other node holds.
inline int32_t own_node_number(const ReaderIndex &index, const char *text) {
  // A text below the block wraps to a number past every node made; so does
  // any text when there is no block (no nodes made).
  const uintptr_t distance = reinterpret_cast<uintptr_t>(text) -
                             reinterpret_cast<uintptr_t>(index.name_block) -
                             offsetof(MacBinNameNode, text);
  const uintptr_t number = distance / sizeof(MacBinNameNode);
  if (number >= index.node_count) return -1;
  if (index.name_block[number].text != text) return -1;  // inside a node, not at its text
  return static_cast<int32_t>(number);
}

// The index of the first reference named by node `number` of the name
// block, in a type entry whose name table is filled, or -1.
inline int32_t probe_names_for_node(const ReaderIndex &index, const MacBinTypeEntry &type,
                                    const TypeTables &tables, int32_t number) {
  const NameSlot *names = index.name_slots.get() + tables.name_first;
  const uint32_t hash = index.node_facts[static_cast<size_t>(number)].hash;
  const MacBinNameNode *node = &index.name_block[number];
  for (uint32_t slot = hash & tables.name_mask;; slot = (slot + 1) & tables.name_mask) {
    const NameSlot &found = names[slot];
    if (found.number_plus_one == 0) return -1;
    if (found.hash == hash && type.refs[found.number_plus_one - 1].name == node) {
      return static_cast<int32_t>(found.number_plus_one - 1);
    }
  }
}

// The first reference in the map named by node `number`, counted from the
// first reference of the type entry with these tables: the answer when it
// is below the entry's count, since no earlier reference of the entry can
// carry the name.  A reference before the entry wraps to a large value.
inline uint32_t first_naming_offset(const ReaderIndex &index, const TypeTables &tables,
                                    int32_t number) {
  return index.node_facts[static_cast<size_t>(number)].first_ref - tables.ref_first;
}

// The index of the first reference of type entry `entry` named by node
// `number` of the name block, or -1.
inline int32_t find_ref_by_node(ReaderIndex &index, const MacBinTypeEntry &type, int32_t entry,
                                int32_t number) {
  TypeTables &tables = index.tables[static_cast<size_t>(entry)];
  const uint32_t offset = first_naming_offset(index, tables, number);
  if (offset < static_cast<uint32_t>(type.count)) return static_cast<int32_t>(offset);

  name_table(index, type, tables);
  return probe_names_for_node(index, type, tables, number);
}

// Releases the index of a read channel (null is ignored).  The name block
// is the channel's to give back (close_read_channel).
void destroy_reader_index(ReaderIndex *index) noexcept;
