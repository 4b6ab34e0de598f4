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

void prepare_type_tables(ReaderIndex &index, size_t type_count, const uint32_t *counts,
                         const uint32_t *named) {
  size_t id_slots = 0;
  size_t name_slots = 0;
  for (size_t t = 0; t < type_count; ++t) {
    id_slots += table_size_for(counts[t]);
    name_slots += table_size_for(named[t]);
  }
  index.type_codes.reserve(type_count);
  index.tables.reserve(type_count);
  index.first_entry_of_type.reserve_for(type_count);
  index.last_entry_of_type.reserve_for(type_count);
  index.id_slots.assign(id_slots, 0);
  index.name_slots.assign(name_slots, NameSlot{0, 0});
  index.id_slots_used = 0;
  index.name_slots_used = 0;
}

void index_type_entry(ReaderIndex &index, int32_t entry, const MacBinTypeEntry &type,
                      uint32_t named, const uint32_t *name_hashes) {
  const uint32_t code = type_code(type.type);
  index.type_codes.push_back(code);
  index.first_entry_of_type.insert_first(code, entry);
  index.last_entry_of_type.insert_last(code, entry);

  const auto count = static_cast<uint32_t>(type.count);
  const uint32_t id_size = table_size_for(count);
  const uint32_t name_size = table_size_for(named);
  uint32_t id_low = 0xFFFF;
  uint32_t id_high = 0;
  for (uint32_t r = 0; r < count; ++r) {
    const auto id = static_cast<uint32_t>(type.refs[r].id);
    id_low = std::min(id_low, id);
    id_high = std::max(id_high, id);
  }
  // count >= 1, so id_low <= id_high.
  const uint32_t id_span = id_high - id_low + 1 <= id_size ? id_high - id_low + 1 : 0;
  const TypeTables tables{static_cast<uint32_t>(index.id_slots_used),
                          id_size - 1,
                          static_cast<uint32_t>(index.name_slots_used),
                          name_size - 1,
                          id_low,
                          id_span};
  index.tables.push_back(tables);
  index.id_slots_used += id_size;
  index.name_slots_used += name_size;
  uint32_t *ids = index.id_slots.data() + tables.id_first;
  NameSlot *names = index.name_slots.data() + tables.name_first;

  // Insertion in reference order, keeping the first of equal keys: lookups
  // answer with the first matching reference.
  for (uint32_t r = 0; r < count; ++r) {
    const MacBinRefEntry &ref = type.refs[r];
    if (id_span != 0) {
      uint32_t &slot = ids[static_cast<uint32_t>(ref.id) - id_low];
      if (slot == 0) slot = r + 1;
    } else {
      for (uint32_t slot = mix_id(static_cast<uint32_t>(ref.id)) & tables.id_mask;;
           slot = (slot + 1) & tables.id_mask) {
        if (ids[slot] == 0) {
          ids[slot] = r + 1;
          break;
        }
        if (type.refs[ids[slot] - 1].id == ref.id) break;
      }
    }
    if (ref.name_offset == -1) continue;
    // Equal texts share one node, so the node tells equal names apart.
    const uint32_t hash = name_hashes[r];
    for (uint32_t slot = hash & tables.name_mask;; slot = (slot + 1) & tables.name_mask) {
      if (names[slot].ref_plus_one == 0) {
        names[slot] = NameSlot{hash, r + 1};
        break;
      }
      if (names[slot].hash == hash && type.refs[names[slot].ref_plus_one - 1].name == ref.name)
        break;
    }
  }
}

void destroy_reader_index(ReaderIndex *index) noexcept { delete index; }
