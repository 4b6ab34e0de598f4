// MacBin_DrawThumbnail and MacBin_DrawPictFileThumbnail: the Finder's icon
// of a file, or a PICT file's picture, as one image of at most size x size
// pixels, so that the tool, a file manager's plug-in and a binding all show
// the same.  The choice is MacBin_FindFinderIcon's and the drawing the
// decoders'; this adds the scaling and the library's own icon for files
// whose icon cannot be drawn.  Nothing thrown inside crosses the C boundary.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "format/pict_file.hpp"
#include "frame/internal.hpp"
#include "thumbnail/internal.hpp"

// The record hosts read, the same on 32- and 64-bit machines.
static_assert(sizeof(MacBinThumbnail) == 148);
static_assert(offsetof(MacBinThumbnail, id) == 8 && offsetof(MacBinThumbnail, type) == 12 &&
              offsetof(MacBinThumbnail, note) == 20);

namespace varnel::thumbnail {
namespace {

// A refusal, with its code for the last error.
class Refusal : public std::runtime_error {
 public:
  Refusal(int32_t code, const std::string &reason) : std::runtime_error(reason), code_(code) {}
  int32_t code() const { return code_; }

 private:
  int32_t code_;
};

void copy_note(char (&note)[128], std::string_view text) {
  const size_t length = std::min<size_t>(text.size(), sizeof note - 1);
  std::memcpy(note, text.data(), length);
  note[length] = '\0';
}

void check_size(int32_t size) {
  if (size < MACBIN_THUMBNAIL_MIN_SIZE || size > MACBIN_THUMBNAIL_MAX_SIZE)
    throw Refusal(MACBIN_ERR_ARGUMENT, "thumbnail size " + std::to_string(size) + " is not from " +
                                           std::to_string(MACBIN_THUMBNAIL_MIN_SIZE) + " to " +
                                           std::to_string(MACBIN_THUMBNAIL_MAX_SIZE));
}

// An image handed to the caller: allocated with malloc, as the decoders'
// pixels are, so that MacBin_FreePixels gives it back.
MacBinPixels hand_out(const Image &image) {
  auto *rgba = static_cast<uint8_t *>(std::malloc(image.rgba.size()));
  if (rgba == nullptr) throw std::bad_alloc();
  std::memcpy(rgba, image.rgba.data(), image.rgba.size());
  return MacBinPixels{image.width, image.height, 0, 0, rgba};
}

// A picture that fits is handed out as drawn; else it is reduced.
MacBinPixels picture_thumbnail(DecodedPixels &picture, int32_t size) {
  const auto [width, height] = fitting_size(picture.pixels().width, picture.pixels().height, size);
  if (width == picture.pixels().width && height == picture.pixels().height) return picture.release();
  return hand_out(reduce(picture.pixels(), width, height));
}

// The decoder's reason may name the resource again, by either form of its
// ID; the thumbnail's caller names it already.
std::string without_resource_name(std::string reason, const char type[5], int32_t id) {
  for (const uint32_t form : {static_cast<uint32_t>(id), static_cast<uint32_t>(static_cast<uint16_t>(id))}) {
    const std::string prefix = std::string(type, 4) + " " + std::to_string(static_cast<int32_t>(form)) + ": ";
    if (reason.starts_with(prefix)) reason.erase(0, prefix.size());
  }
  return reason;
}

int32_t draw_thumbnail(MacBinChannel *channel, int32_t size, MacBinPixels &pixels, MacBinThumbnail &about) {
  check_size(size);
  MacBinFileInfo info{};
  if (MacBin_GetFileInfo(channel, &info) != 1)
    throw Refusal(MACBIN_ERR_STATE, "a thumbnail needs a channel opened for reading");
  const MacBinRefEntry *ref = nullptr;
  about.rule = MacBin_FindFinderIcon(channel, about.type, &about.id, &ref);
  if (about.rule < 0) return -1;  // out of memory, recorded
  if (about.rule > 0) {
    DecodedPixels decoded;
    char reason[128] = "";
    if (MacBin_DecodeResource(channel, ref, decoded.record(), reason) == 1) {
      copy_note(about.note, reason);
      pixels = about.rule == MACBIN_FINDER_ICON_PICTURE ? picture_thumbnail(decoded, size)
                                                        : hand_out(icon_thumbnail(Image(decoded.pixels()), size));
      return about.drawn = about.rule;
    }
    copy_note(about.note, without_resource_name(reason, about.type, about.id));
  }
  const bool application = std::memcmp(info.type, "APPL", 4) == 0;
  pixels = hand_out(generic_icon(std::string_view(info.type, 4), application, size));
  return about.drawn = application ? MACBIN_THUMBNAIL_APPLICATION : MACBIN_THUMBNAIL_DOCUMENT;
}

int32_t draw_pict_file_thumbnail(const void *bytes, int32_t length, int32_t size, MacBinPixels &pixels,
                                 MacBinThumbnail &about) {
  check_size(size);
  const int32_t start = length > 0 ? MacBin_FindPictFilePicture(bytes, length) : -1;
  if (start < 0) throw Refusal(MACBIN_ERR_ARGUMENT, "not a PICT file");
  DecodedPixels decoded;
  char reason[128] = "";
  if (MacBin_DecodePicture(static_cast<const uint8_t *>(bytes) + start, length - start, decoded.record(), reason) !=
      1)
    throw Refusal(MACBIN_ERR_DAMAGED, reason);
  copy_note(about.note, reason);
  pixels = picture_thumbnail(decoded, size);
  return about.drawn = MACBIN_THUMBNAIL_PICT_FILE;
}

// Runs `draw` for a C entry point: the caller's records start zeroed, and
// a failure leaves them so, with its reason as the last error (and, for
// PICT files, in the note).
template <typename Draw>
int32_t guarded(MacBinPixels *pixels, MacBinThumbnail *thumbnail, bool note_failure, Draw draw) {
  MacBinThumbnail about{};
  int32_t result = -1;
  std::string failure;
  if (pixels != nullptr) *pixels = MacBinPixels{};
  try {
    if (pixels == nullptr) throw Refusal(MACBIN_ERR_ARGUMENT, "a thumbnail needs a pixels record");
    result = draw(*pixels, about);
  } catch (const Refusal &refusal) {
    record_error(refusal.code(), refusal.what());
    failure = refusal.what();
  } catch (...) {
    // Only memory can run out: the images, or a vector's size past its limit.
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (drawing a thumbnail)");
    failure = "Out Of Memory (drawing a thumbnail)";
  }
  if (result < 0) {
    MacBin_FreePixels(pixels);
    about = MacBinThumbnail{};
    if (note_failure) copy_note(about.note, failure);
  }
  if (thumbnail != nullptr) *thumbnail = about;
  return result;
}

}  // namespace
}  // namespace varnel::thumbnail

extern "C" int32_t MacBin_DrawThumbnail(MacBinChannel *channel, int32_t size, MacBinPixels *pixels,
                                        MacBinThumbnail *thumbnail) {
  using namespace varnel::thumbnail;
  return guarded(pixels, thumbnail, false, [&](MacBinPixels &out, MacBinThumbnail &about) {
    return draw_thumbnail(channel, size, out, about);
  });
}

extern "C" int32_t MacBin_DrawPictFileThumbnail(const void *bytes, int32_t length, int32_t size,
                                                MacBinPixels *pixels, MacBinThumbnail *thumbnail) {
  using namespace varnel::thumbnail;
  return guarded(pixels, thumbnail, true, [&](MacBinPixels &out, MacBinThumbnail &about) {
    return draw_pict_file_thumbnail(bytes, length, size, out, about);
  });
}
