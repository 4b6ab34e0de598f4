// Name nodes of a read channel, made once per distinct text.
#include "reader/name_nodes.hpp"

bool NameNodeMaker::reserve(size_t max_names) {
  // Name offsets are 16-bit and 0xFFFF is none, so node numbers + 1 fit
  // the low half of a slot.
  if (max_names > 0xFFFF) return false;
  slots_.assign(table_size_for(static_cast<uint32_t>(max_names)), 0);
  if (max_names == 0) return true;
  index_.name_block =
      static_cast<MacBinNameNode *>(zalloc(MacIOControl.zone, max_names * sizeof(MacBinNameNode)));
  if (index_.name_block == nullptr) return false;
  index_.name_capacity = max_names;
  index_.node_facts = std::make_unique_for_overwrite<NameNodeFacts[]>(max_names);
  return true;
}
