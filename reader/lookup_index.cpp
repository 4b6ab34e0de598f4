// The reader's lookup index: small hash tables per type entry.
#include "reader/lookup_index.hpp"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kMinimumSlots = 16;

// Mixes all key bits into the low bits that pick the slot (the finaliser of
// splitmix64); keys built from small entry numbers and IDs are otherwise
// far from uniform.
uint64_t mix_bits(uint64_t key) {
  key ^= key >> 30;
  key *= 0xbf58476d1ce4e5b9ULL;
  key ^= key >> 27;
  key *= 0x94d049bb133111ebULL;
  key ^= key >> 31;
  return key;
}

// Slots for count keys at a load factor of at most one half.
size_t slots_for(size_t count) {
  size_t slots = kMinimumSlots;
  while (slots < count * 2) slots *= 2;
  return slots;
}

}  // namespace

void KeyTable::reserve_for(size_t count) {
  const size_t wanted = slots_for(count);
  if (wanted <= slots_.size()) return;
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(wanted, Slot{0, -1});
  used_ = 0;
  for (const Slot &slot : old) {
    if (slot.value >= 0) insert_first(slot.key, slot.value);
  }
}

void KeyTable::grow() { reserve_for(slots_.empty() ? kMinimumSlots / 2 : slots_.size()); }

// The slot holding key, or the empty slot where it belongs (filled in with
// the key, value still -1).
KeyTable::Slot &KeyTable::slot_for(uint64_t key) {
  if ((used_ + 1) * 2 > slots_.size()) grow();
  const size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(mix_bits(key) & mask);; i = (i + 1) & mask) {
    Slot &slot = slots_[i];
    if (slot.value < 0) {
      slot.key = key;
      ++used_;
      return slot;
    }
    if (slot.key == key) return slot;
  }
}

void KeyTable::insert_first(uint64_t key, int32_t value) {
  Slot &slot = slot_for(key);
  if (slot.value < 0) slot.value = value;
}

void KeyTable::insert_last(uint64_t key, int32_t value) { slot_for(key).value = value; }

int32_t KeyTable::find(uint64_t key) const {
  if (slots_.empty()) return -1;
  const size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(mix_bits(key) & mask);; i = (i + 1) & mask) {
    const Slot &slot = slots_[i];
    if (slot.value < 0) return -1;
    if (slot.key == key) return slot.value;
  }
}

uint32_t table_size_for(uint32_t count) {
  uint32_t size = 1;
  while (size < 2 * count) size *= 2;
  return size;
}

void prepare_type_tables(ReaderIndex &index, size_t type_count, const uint32_t *counts) {
  size_t slots = 0;
  for (size_t t = 0; t < type_count; ++t) slots += table_size_for(counts[t]);
  index.type_codes.reserve(type_count);
  index.tables.reserve(type_count);
  index.first_entry_of_type.reserve_for(type_count);
  index.last_entry_of_type.reserve_for(type_count);
  // A type's name table is sized for all its references, named or not:
  // the names are not known yet, and unnamed references are rare.
  index.id_slots = std::make_unique_for_overwrite<uint32_t[]>(slots);
  index.name_slots = std::make_unique_for_overwrite<NameSlot[]>(slots);
}

TypeTables begin_type_entry(ReaderIndex &index, int32_t entry, const char *type, uint32_t count,
                             uint32_t id_low, uint32_t id_high, uint32_t ref_first) {
  const uint32_t code = type_code(type);
  index.type_codes.push_back(code);
  index.first_entry_of_type.insert_first(code, entry);
  index.last_entry_of_type.insert_last(code, entry);

  const uint32_t size = table_size_for(count);
  const uint32_t first = index.tables.empty()
                             ? 0
                             : index.tables.back().id_first + index.tables.back().id_mask + 1;
  const uint32_t span = id_high - id_low + 1;
  const uint32_t direct_span = span <= size ? span : 0;
  index.tables.push_back(
      TypeTables{first, size - 1, first, size - 1, id_low, direct_span, ref_first, false});
  std::fill_n(index.id_slots.get() + first, direct_span != 0 ? direct_span : size, 0U);
  return index.tables.back();
}

void fill_name_table(ReaderIndex &index, const MacBinTypeEntry &type, TypeTables &tables) {
  NameSlot *names = index.name_slots.get() + tables.name_first;
  std::fill_n(names, tables.name_mask + 1, NameSlot{0, 0});
  tables.names_indexed = true;
  for (uint32_t r = 0; r < static_cast<uint32_t>(type.count); ++r) {
    const MacBinRefEntry &ref = type.refs[r];
    if (ref.name_offset == -1) continue;
    const uint32_t hash = index.node_facts[static_cast<size_t>(ref.name - index.name_block)].hash;
    for (uint32_t slot = hash & tables.name_mask;; slot = (slot + 1) & tables.name_mask) {
      NameSlot &found = names[slot];
      if (found.number_plus_one == 0) {
        found = NameSlot{hash, r + 1};
        break;
      }
      if (found.hash == hash && type.refs[found.number_plus_one - 1].name == ref.name) break;
    }
  }
}

void destroy_reader_index(ReaderIndex *index) noexcept { delete index; }
