// The C entry points: a resource of a reading channel, or a picture's
// bytes, to pixels.  Nothing thrown inside crosses them: a DecodeError
// becomes the caller's error line, anything else a general one.
#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "decode/fonts.hpp"
#include "decode/internal.hpp"

namespace varnel::decode {
namespace {

std::string type_of(const MacBinTypeEntry &entry) { return std::string(entry.type, strnlen(entry.type, 4)); }

// The type entry that holds `ref`, or null when it is none of the channel's.
const MacBinTypeEntry *owning_type(const MacBinChannel *channel, const MacBinRefEntry *ref) {
  if (channel->mode != 1 || channel->types == nullptr) return nullptr;
  const std::less<const MacBinRefEntry *> before;
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    if (entry.refs == nullptr || entry.count <= 0) continue;
    if (!before(ref, entry.refs) && before(ref, entry.refs + entry.count)) return &entry;
  }
  return nullptr;
}

// Why the contents of `ref` could not be had, for the error line.
std::string why_unreadable(MacBinChannel *channel, const MacBinRefEntry *ref) {
  if (MacBin_ReadResourceData(channel, ref, nullptr, 0) < 0) return "its data cannot be read";
  MacBinCompressionInfo compression;
  const int32_t stored = MacBin_GetResourceCompression(channel, ref, &compression);
  if (stored < 0) return "its compression header is damaged";
  if (stored == 1 && (compression.decompressor < 0 || compression.decompressor > 2))
    return "unknown decompressor " + std::to_string(compression.decompressor);
  return stored == 1 ? "its compressed data is damaged" : "its data cannot be read";
}

// The resource's contents, decompressed when it is stored compressed.
// Plain data is read as it always was, so that a resource that is not
// compressed never leads to a report through the message method.
std::vector<uint8_t> read_data(MacBinChannel *channel, const MacBinRefEntry *ref) {
  MacBinCompressionInfo compression;
  const int32_t stored = MacBin_GetResourceCompression(channel, ref, &compression);
  const bool unreadable = stored < 0 && MacBin_ReadResourceData(channel, ref, nullptr, 0) < 0;
  const auto read = stored == 0 || unreadable ? MacBin_ReadResourceData : MacBin_ReadResourceUncompressed;
  const int32_t length = read(channel, ref, nullptr, 0);
  if (length < 0) throw DecodeError(why_unreadable(channel, ref));
  std::vector<uint8_t> data(static_cast<size_t>(length));
  if (length > 0 && read(channel, ref, data.data(), length) != length)
    throw DecodeError(why_unreadable(channel, ref));
  return data;
}

// The contents of the first resource of `type` with `id`; empty when none
// or when its data lies outside the file.  A mask stored compressed that
// cannot be decompressed refuses the icon instead of leaving it unmasked.
std::vector<uint8_t> find_data(MacBinChannel *channel, std::string_view type, int32_t id) {
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    if (type_of(entry) != type || entry.refs == nullptr) continue;
    for (int32_t r = 0; r < entry.count; ++r)
      if (entry.refs[r].id == id) {
        const int32_t length = MacBin_ReadResourceData(channel, &entry.refs[r], nullptr, 0);
        if (length < 0) return {};
        try {
          return read_data(channel, &entry.refs[r]);
        } catch (const DecodeError &failure) {
          throw DecodeError("its mask " + std::string(type) + " " + std::to_string(id) + ": " +
                            failure.what());
        }
      }
  }
  return {};
}

// The types drawn besides pictures and the icons of the icon family
// formats: the list MacBin_DecodesType gives hosts and the dispatch below
// keeps to.
constexpr std::string_view kOtherDrawnTypes[] = {"cicn", "CURS", "crsr", "PAT ", "PAT#", "ppat",
                                                 "ppt#", "FONT", "NFNT", "clut", "pltt"};

bool is_drawn_type(std::string_view type) {
  return type == "PICT" || is_icon_type(type) ||
         std::find(std::begin(kOtherDrawnTypes), std::end(kOtherDrawnTypes), type) != std::end(kOtherDrawnTypes);
}

void decode_resource(MacBinChannel *channel, const MacBinRefEntry *ref, MacBinPixels *pixels,
                     char error[128]) {
  const MacBinTypeEntry *entry = owning_type(channel, ref);
  if (entry == nullptr) throw DecodeError("not a resource of this reading channel");
  const std::string type = type_of(*entry);
  const std::string label = type + " " + std::to_string(ref->id) + ": ";
  try {
    if (!is_drawn_type(type)) throw DecodeError("type not supported");
    const std::vector<uint8_t> data = read_data(channel, ref);
    if (type == "PICT") {
      // The file's own fonts come first for its pictures' text.
      std::string notes;
      Canvas canvas = decode_picture(data, notes, channel);
      canvas.hand_over(pixels);
      set_error(error, notes);
      return;
    }
    Canvas canvas;
    CursorImage cursor;
    bool is_cursor = false;
    if (is_icon_type(type)) {
      const std::string_view mask_type = icon_mask_type(type);
      const std::vector<uint8_t> mask =
          mask_type.empty() ? std::vector<uint8_t>() : find_data(channel, mask_type, ref->id);
      canvas = decode_icon(type, data, mask);
    } else if (type == "cicn") {
      canvas = decode_color_icon(data);
    } else if (type == "CURS" || type == "crsr") {
      cursor = type == "CURS" ? decode_cursor(data) : decode_color_cursor(data);
      is_cursor = true;
    } else if (type == "PAT ") {
      canvas = decode_pattern(data);
    } else if (type == "PAT#") {
      canvas = decode_pattern_list(data);
    } else if (type == "ppat") {
      canvas = decode_pixel_pattern(data);
    } else if (type == "ppt#") {
      canvas = decode_pixel_pattern_list(data);
    } else if (type == "FONT" || type == "NFNT") {
      canvas = decode_font_sample(data);
    } else if (type == "clut" || type == "pltt") {
      canvas = decode_color_swatch(type, data);
    } else {
      throw DecodeError("type not supported");
    }
    if (is_cursor)
      cursor.canvas.hand_over(pixels, cursor.hot_x, cursor.hot_y);
    else
      canvas.hand_over(pixels);
    set_error(error, "");
  } catch (const DecodeError &failure) {
    throw DecodeError(label + failure.what());
  }
}

// Runs `work`; 1 when it filled `pixels`, else 0 with `pixels` zeroed and
// the reason in `error`.
template <typename Work>
int32_t guarded(MacBinPixels *pixels, char error[128], Work work) {
  try {
    work();
    return 1;
  } catch (const DecodeError &failure) {
    MacBin_FreePixels(pixels);
    set_error(error, failure.what());
  } catch (const std::bad_alloc &) {
    MacBin_FreePixels(pixels);
    set_error(error, "out of memory");
  } catch (...) {
    MacBin_FreePixels(pixels);
    set_error(error, "internal failure while decoding");
  }
  return 0;
}

}  // namespace
}  // namespace varnel::decode

using namespace varnel::decode;

extern "C" int32_t MacBin_DecodeResource(MacBinChannel *channel, const MacBinRefEntry *ref,
                                         MacBinPixels *pixels, char error[128]) {
  if (pixels == nullptr) {
    set_error(error, "no pixel record");
    return 0;
  }
  *pixels = MacBinPixels{};
  if (channel == nullptr || ref == nullptr) {
    set_error(error, "no channel or no resource");
    return 0;
  }
  return guarded(pixels, error, [&] { decode_resource(channel, ref, pixels, error); });
}

extern "C" int32_t MacBin_DecodesType(const char type[4]) {
  return type != nullptr && is_drawn_type(std::string_view(type, 4)) ? 1 : 0;
}

extern "C" int32_t MacBin_DecodePicture(const void *data, int32_t length, MacBinPixels *pixels,
                                        char error[128]) {
  if (pixels == nullptr) {
    set_error(error, "no pixel record");
    return 0;
  }
  *pixels = MacBinPixels{};
  if ((data == nullptr && length != 0) || length < 0) {
    set_error(error, "no picture data");
    return 0;
  }
  return guarded(pixels, error, [&] {
    std::string notes;
    Canvas canvas = decode_picture(
        std::span<const uint8_t>(static_cast<const uint8_t *>(data), static_cast<size_t>(length)), notes);
    canvas.hand_over(pixels);
    set_error(error, notes);
  });
}
