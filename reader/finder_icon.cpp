// MacBin_FindFinderIcon: which resource of a file the Finder would show as
// its icon, so that every host (the tool's thumbnails, a binding) shows the
// same one.
//
// The order is the Finder's: the file's own custom icon, then the icon its
// application's bundle gives its type, then (our addition, for files that
// carry only a preview) the largest picture.  Of an icon family the largest
// member that can be drawn is taken.  A member that is missing, cut short or
// cannot be decompressed is passed over without a word: choosing is a
// question, and the decoder reports what it finds when the host draws.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "format/big_endian.hpp"
#include "format/compressed_resource.hpp"
#include "format/icon_family.hpp"
#include "reader/decompression.hpp"
#include "reader/lookup_index.hpp"

namespace {

namespace format = varnel::format;

// The Finder's custom-icon flag, and the ID of the family it points at.
constexpr uint16_t kHasCustomIconFlag = 0x0400;
constexpr int32_t kCustomIconFamilyId = -16455;

// Members of a family, the largest first; the Finder draws the deepest
// 32 x 32 icon it finds, and a family holding only small icons still has
// a face.
constexpr std::string_view kFamilyMembers[] = {"icl8", "icl4", "ICN#", "ics8", "ics4", "ics#"};

// A picture's size word and frame (top, left, bottom, right).
constexpr size_t kPictureFrameEnd = 10;

// Every type entry of `type`, in map order (a damaged or hand-made map may
// repeat one).
template <typename Visit>
void for_each_resource(MacBinChannel *channel, std::string_view type, Visit visit) {
  if (channel->types == nullptr) return;
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    if (entry.refs == nullptr || std::string_view(entry.type, 4) != type) continue;
    for (int32_t r = 0; r < entry.count; ++r)
      if (!visit(entry.refs[r])) return;
  }
}

// The first resource of `type` with this ID (signed or as stored), or null.
// A bundle may list thousands of file references, each looked up here: the
// reader's index answers in one probe.  Only a map that repeats the type
// (damaged, or made by hand) is walked.
const MacBinRefEntry *find_resource(MacBinChannel *channel, std::string_view type, int32_t id) {
  const auto stored = static_cast<uint16_t>(id);
  char code[5] = {};
  std::memcpy(code, type.data(), std::min<size_t>(type.size(), 4));
  ReaderIndex *index = reader_state(channel);
  if (index == nullptr || channel->types == nullptr) return nullptr;
  const int32_t entry = find_first_type_entry(*index, code);
  if (entry < 0) return nullptr;
  if (find_last_type_entry(*index, code) == entry) {
    const MacBinTypeEntry &types = channel->types[entry];
    const int32_t r = find_ref_by_id(*index, types, entry, stored);
    return r < 0 ? nullptr : &types.refs[r];
  }
  const MacBinRefEntry *found = nullptr;
  for_each_resource(channel, type, [&](const MacBinRefEntry &ref) {
    if (static_cast<uint16_t>(ref.id) != stored) return true;
    found = &ref;
    return false;
  });
  return found;
}

// The first `limit` bytes of a resource's contents (decompressed when it is
// stored compressed), or nothing when they cannot be read.  Unlike
// MacBin_ReadResourceUncompressed this reports nothing: a resource that
// fails here is simply not chosen.
std::optional<std::vector<uint8_t>> read_contents(MacBinChannel *channel, const MacBinRefEntry &ref,
                                                  size_t limit) {
  const int32_t stored_length = MacBin_ReadResourceData(channel, &ref, nullptr, 0);
  if (stored_length < 0) return std::nullopt;
  const bool maybe_compressed = (ref.attributes & format::kCompressedAttribute) != 0 &&
                                static_cast<size_t>(stored_length) >= format::kCompressedHeaderSize;
  // Plain data: only the bytes asked for are read.
  const size_t wanted = maybe_compressed ? static_cast<size_t>(stored_length)
                                         : std::min(limit, static_cast<size_t>(stored_length));
  std::vector<uint8_t> stored(wanted);
  if (MacBin_ReadResourceData(channel, &ref, stored.data(), static_cast<int32_t>(wanted)) != stored_length)
    return std::nullopt;
  if (!maybe_compressed || !format::has_compressed_signature(stored)) {
    if (stored.size() > limit) stored.resize(limit);
    return stored;
  }
  format::CompressedHeader header;
  if (format::parse_compressed_header(stored, header) != nullptr ||
      !varnel::reader::is_known_decompressor(header.decompressor))
    return std::nullopt;
  std::vector<uint8_t> contents(header.uncompressed_length);
  if (varnel::reader::decompress_resource(stored, header, contents) != nullptr) return std::nullopt;
  if (contents.size() > limit) contents.resize(limit);
  return contents;
}

// Whether the decoder can draw this member of family `id`: its contents
// read and hold the icon's pixels, and the mask it borrows, where it has
// one, reads too (a mask that is missing or short leaves the icon opaque,
// but one that cannot be decompressed makes the decoder refuse the icon).
const MacBinRefEntry *drawable_member(MacBinChannel *channel, std::string_view type, int32_t id) {
  const format::IconFormat *icon = format::find_icon_format(type);
  const MacBinRefEntry *ref = find_resource(channel, type, id);
  if (icon == nullptr || ref == nullptr) return nullptr;
  const std::optional<std::vector<uint8_t>> contents = read_contents(channel, *ref, icon->pixel_bytes());
  if (!contents || contents->size() < icon->pixel_bytes()) return nullptr;
  if (!icon->mask_type.empty()) {
    const MacBinRefEntry *mask = find_resource(channel, icon->mask_type, id);
    if (mask != nullptr && !read_contents(channel, *mask, 2 * icon->mask_bytes())) return nullptr;
  }
  return ref;
}

struct Choice {
  std::string_view type;
  int32_t id = 0;  // signed
  const MacBinRefEntry *ref = nullptr;
};

std::optional<Choice> largest_member(MacBinChannel *channel, int32_t id) {
  for (const std::string_view type : kFamilyMembers)
    if (const MacBinRefEntry *ref = drawable_member(channel, type, id)) return Choice{type, id, ref};
  return std::nullopt;
}

// Reads the bundle's lists: owner (4), owner ID (2), types - 1 (2), then for
// each type: type (4), entries - 1 (2), and entries of local ID (2) and
// resource ID (2).
struct BundleList {
  std::string_view type;
  std::vector<std::pair<int16_t, int16_t>> entries;  // local ID, resource ID
};

std::optional<std::vector<BundleList>> parse_bundle(std::span<const uint8_t> data) {
  constexpr size_t kHeaderBytes = 8;
  if (data.size() < kHeaderBytes) return std::nullopt;
  std::vector<BundleList> lists;
  size_t at = kHeaderBytes;
  const uint32_t types = format::get_be16(&data[6]) + 1;
  for (uint32_t t = 0; t < types; ++t) {
    if (data.size() - at < 6) return std::nullopt;
    BundleList list;
    list.type = std::string_view(reinterpret_cast<const char *>(&data[at]), 4);
    const uint32_t entries = format::get_be16(&data[at + 4]) + 1;
    at += 6;
    // Each entry takes 4 bytes: a hostile count ends at the data's end.
    if ((data.size() - at) / 4 < entries) return std::nullopt;
    for (uint32_t e = 0; e < entries; ++e, at += 4)
      list.entries.emplace_back(static_cast<int16_t>(format::get_be16(&data[at])),
                                static_cast<int16_t>(format::get_be16(&data[at + 2])));
    lists.push_back(std::move(list));
  }
  return lists;
}

const BundleList *list_of(const std::vector<BundleList> &lists, std::string_view type) {
  for (const BundleList &list : lists)
    if (list.type == type) return &list;
  return nullptr;
}

// The family the bundle owned by the file's creator gives the file's type:
// the FREF whose type is the file's names a local icon ID, and the ICN#
// list turns that into the family's resource ID.
std::optional<Choice> bundle_icon(MacBinChannel *channel, std::string_view file_type, std::string_view creator) {
  std::optional<Choice> choice;
  for_each_resource(channel, "BNDL", [&](const MacBinRefEntry &bundle_ref) {
    const std::optional<std::vector<uint8_t>> data = read_contents(channel, bundle_ref, SIZE_MAX);
    if (!data || data->size() < 4 || std::string_view(reinterpret_cast<const char *>(data->data()), 4) != creator)
      return true;
    const std::optional<std::vector<BundleList>> lists = parse_bundle(*data);
    if (!lists) return true;
    const BundleList *frefs = list_of(*lists, "FREF");
    const BundleList *icons = list_of(*lists, "ICN#");
    if (frefs == nullptr || icons == nullptr) return true;
    for (const auto &[local_fref, fref_id] : frefs->entries) {
      const MacBinRefEntry *fref = find_resource(channel, "FREF", fref_id);
      if (fref == nullptr) continue;
      // File type (4), local icon ID (2), then an optional name.
      const std::optional<std::vector<uint8_t>> fields = read_contents(channel, *fref, 6);
      if (!fields || fields->size() < 6 ||
          std::string_view(reinterpret_cast<const char *>(fields->data()), 4) != file_type)
        continue;
      const auto local_icon = static_cast<int16_t>(format::get_be16(&(*fields)[4]));
      for (const auto &[local_id, icon_id] : icons->entries) {
        if (local_id != local_icon) continue;
        choice = largest_member(channel, icon_id);
        if (choice) return false;
      }
    }
    return true;
  });
  return choice;
}

// The picture with the largest frame; the first of equals.
std::optional<Choice> largest_picture(MacBinChannel *channel) {
  std::optional<Choice> choice;
  int64_t best_area = 0;
  for_each_resource(channel, "PICT", [&](const MacBinRefEntry &ref) {
    const std::optional<std::vector<uint8_t>> head = read_contents(channel, ref, kPictureFrameEnd);
    if (!head || head->size() < kPictureFrameEnd) return true;
    const auto coordinate = [&](size_t at) { return static_cast<int16_t>(format::get_be16(&(*head)[at])); };
    const int64_t height = int64_t{coordinate(6)} - coordinate(2);
    const int64_t width = int64_t{coordinate(8)} - coordinate(4);
    if (height <= 0 || width <= 0 || height * width <= best_area) return true;
    best_area = height * width;
    choice = Choice{"PICT", static_cast<int16_t>(static_cast<uint16_t>(ref.id)), &ref};
    return true;
  });
  return choice;
}

int32_t find_finder_icon(MacBinChannel *channel, char type[5], int32_t *id, const MacBinRefEntry **ref) {
  if (type != nullptr) std::memset(type, 0, 5);
  if (id != nullptr) *id = 0;
  if (ref != nullptr) *ref = nullptr;
  MacBinFileInfo info;
  if (MacBin_GetFileInfo(channel, &info) != 1) return -1;
  const std::string_view file_type(info.type, 4);
  const std::string_view creator(info.creator, 4);
  int32_t rule = MACBIN_FINDER_ICON_NONE;
  std::optional<Choice> choice;
  if ((info.finder_flags & kHasCustomIconFlag) != 0 && (choice = largest_member(channel, kCustomIconFamilyId)))
    rule = MACBIN_FINDER_ICON_CUSTOM;
  else if ((choice = bundle_icon(channel, file_type, creator)))
    rule = MACBIN_FINDER_ICON_BUNDLE;
  else if ((choice = largest_picture(channel)))
    rule = MACBIN_FINDER_ICON_PICTURE;
  if (!choice) return MACBIN_FINDER_ICON_NONE;
  if (type != nullptr) std::memcpy(type, choice->type.data(), 4);
  if (id != nullptr) *id = choice->id;
  if (ref != nullptr) *ref = choice->ref;
  return rule;
}

}  // namespace

extern "C" int32_t MacBin_FindFinderIcon(MacBinChannel *channel, char type[5], int32_t *id,
                                         const MacBinRefEntry **ref) {
  try {
    return find_finder_icon(channel, type, id, ref);
  } catch (...) {
    // Only the buffers can fail: a bundle's or a compressed resource's contents.
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (finding the Finder's icon)");
  }
  if (type != nullptr) std::memset(type, 0, 5);
  if (id != nullptr) *id = 0;
  if (ref != nullptr) *ref = nullptr;
  return -1;
}
