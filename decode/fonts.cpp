// Bitmap fonts: strikes read and checked, font sets of files, the fonts
// hosts add, and strikes as sample images.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "decode/fonts.hpp"
#include "frame/internal.hpp"

namespace varnel::decode {
namespace {

constexpr size_t kFontHeaderBytes = 26;
constexpr size_t kFamilyHeaderBytes = 52;
constexpr uint32_t kNoGlyph = 0xFFFF;

std::string type_of(const MacBinTypeEntry &entry) { return std::string(entry.type, strnlen(entry.type, 4)); }

// A resource's contents (decompressed when stored compressed, as System
// files store some fonts); empty when they cannot be read.
std::vector<uint8_t> data_of(MacBinChannel *channel, const MacBinRefEntry &ref) {
  const int32_t length = MacBin_ReadResourceUncompressed(channel, &ref, nullptr, 0);
  if (length <= 0) return {};
  std::vector<uint8_t> data(static_cast<size_t>(length));
  if (MacBin_ReadResourceUncompressed(channel, &ref, data.data(), length) != length) return {};
  return data;
}

std::string name_of(const MacBinRefEntry &ref) {
  if (ref.name_offset == -1 || ref.name == nullptr) return {};
  return std::string(ref.name->text, strnlen(ref.name->text, sizeof ref.name->text));
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Set by MacBin_AddFontFile and MacBin_ClearFonts, read by each picture
// that draws text: replaced whole under the lock, never changed in place.
std::mutex host_fonts_lock;
std::shared_ptr<const FontSet> host_font_set = std::make_shared<const FontSet>();

// MacBin_Reset: no host fonts.
void forget_host_fonts() {
  const std::lock_guard<std::mutex> guard(host_fonts_lock);
  host_font_set = std::make_shared<const FontSet>();
}
ResetStep host_fonts_reset{forget_host_fonts, nullptr};
const bool host_fonts_reset_registered = register_reset_step(host_fonts_reset);

}  // namespace

FontStrike::FontStrike(std::vector<uint8_t> data) : data_(std::move(data)) {
  Reader reader(data_, "the font");
  reader.need(kFontHeaderBytes);
  reader.skip(2);  // fontType
  first_ = static_cast<int32_t>(reader.u16());
  last_ = static_cast<int32_t>(reader.u16());
  reader.skip(2);  // widMax
  kern_max_ = reader.s16();
  const int32_t n_descent = reader.s16();
  reader.skip(2);  // fRectWidth
  height_ = reader.s16();
  const uint32_t ow_location = reader.u16();
  ascent_ = reader.s16();
  descent_ = reader.s16();
  reader.skip(2);  // leading
  const uint32_t row_words = reader.u16();
  if (first_ > last_ || last_ > 255 || height_ <= 0 || height_ > 255 || row_words == 0)
    throw DecodeError("font with characters " + std::to_string(first_) + " to " + std::to_string(last_) +
                      ", " + std::to_string(height_) + " rows");
  row_bytes_ = size_t{row_words} * 2;
  image_offset_ = kFontHeaderBytes;
  image_width_ = static_cast<int32_t>(row_bytes_ * 8);
  locations_ = image_offset_ + row_bytes_ * static_cast<size_t>(height_);
  const size_t entries = static_cast<size_t>(last_ - first_ + 3);
  // owTLoc counts words from its own field; in NFNT resources a positive
  // nDescent holds its high word.
  size_t ow_words = ow_location;
  if (n_descent > 0) ow_words |= static_cast<size_t>(n_descent) << 16;
  offsets_widths_ = 16 + ow_words * 2;
  if (locations_ + entries * 2 > data_.size() || offsets_widths_ + entries * 2 > data_.size())
    throw DecodeError("the font's tables lie outside its data");
}

FontStrike::Glyph FontStrike::glyph(uint8_t c) const {
  const auto word = [this](size_t at) { return (uint32_t{data_[at]} << 8) | data_[at + 1]; };
  int32_t index = c - first_;
  const int32_t missing = last_ - first_ + 1;
  if (index < 0 || index > last_ - first_ || word(offsets_widths_ + static_cast<size_t>(index) * 2) == kNoGlyph)
    index = missing;
  const auto i = static_cast<size_t>(index);
  const uint32_t offset_width = word(offsets_widths_ + i * 2);
  if (offset_width == kNoGlyph) return Glyph{};
  const auto left = static_cast<int32_t>(word(locations_ + i * 2));
  const auto right = static_cast<int32_t>(word(locations_ + i * 2 + 2));
  Glyph glyph;
  glyph.image_left = std::min(left, image_width_);
  glyph.image_width = std::clamp(right - glyph.image_left, 0, image_width_ - glyph.image_left);
  glyph.offset = static_cast<int32_t>(offset_width >> 8) + kern_max_;
  glyph.advance = static_cast<int32_t>(offset_width & 0xFF);
  return glyph;
}

int32_t FontSet::add_from(MacBinChannel *channel) {
  if (channel == nullptr || channel->mode != 1 || channel->types == nullptr) return 0;
  struct Association {
    int32_t family;
    std::string name;
    int32_t size;
    uint32_t style;
    int32_t id;
  };
  std::vector<Association> associations;
  std::vector<std::pair<int32_t, std::string>> family_names;
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    if (type_of(entry) != "FOND" || entry.refs == nullptr) continue;
    for (int32_t r = 0; r < entry.count; ++r) {
      const std::vector<uint8_t> data = data_of(channel, entry.refs[r]);
      if (data.size() < kFamilyHeaderBytes + 2) continue;
      Reader reader(data, "FOND");
      reader.seek(kFamilyHeaderBytes);
      const uint32_t count = reader.u16() + 1;
      const std::string name = name_of(entry.refs[r]);
      family_names.emplace_back(entry.refs[r].id, name);
      for (uint32_t i = 0; i < count && reader.remaining() >= 6; ++i) {
        const int32_t size = static_cast<int32_t>(reader.u16());
        const uint32_t style = reader.u16();
        const int32_t id = static_cast<int32_t>(reader.u16());
        associations.push_back({entry.refs[r].id, name, size, style, id});
      }
    }
  }
  int32_t taken = 0;
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    const std::string type = type_of(entry);
    if ((type != "FONT" && type != "NFNT") || entry.refs == nullptr) continue;
    // Old FONT IDs say their family and size: family * 128 + size; the
    // size-0 one only names the family.
    for (int32_t r = 0; r < entry.count; ++r) {
      const int32_t id = entry.refs[r].id;
      if (type == "FONT" && id % 128 == 0) {
        family_names.emplace_back(id / 128, name_of(entry.refs[r]));
        continue;
      }
    }
    for (int32_t r = 0; r < entry.count; ++r) {
      const int32_t id = entry.refs[r].id;
      std::vector<uint8_t> data = data_of(channel, entry.refs[r]);
      if (data.empty()) continue;
      std::shared_ptr<const FontStrike> strike;
      try {
        strike = std::make_shared<const FontStrike>(std::move(data));
      } catch (const DecodeError &) {
        continue;
      }
      bool associated = false;
      for (const Association &a : associations)
        if (a.id == id) {
          faces_.push_back(FontFace{a.family, a.name, a.size, a.style, strike});
          associated = true;
        }
      if (!associated && type == "FONT" && id % 128 != 0) {
        std::string name;
        for (const auto &[family, family_name] : family_names)
          if (family == id / 128) name = family_name;
        faces_.push_back(FontFace{id / 128, name, id % 128, 0, strike});
        associated = true;
      }
      if (associated) ++taken;
    }
  }
  return taken;
}

const FontFace *FontSet::find(int32_t family, std::string_view name, int32_t size, uint32_t style) const {
  const FontFace *best = nullptr;
  int64_t best_score = INT64_MAX;
  for (const FontFace &face : faces_) {
    const bool family_matches = name.empty() ? face.family == family : same_name(face.family_name, name);
    if (!family_matches) continue;
    // Nearest size first; at a size, the exact style, then plain (which
    // the style is drawn from), then any other.
    const int64_t style_rank = face.style == style ? 0 : face.style == 0 ? 1 : 2;
    const int64_t score = int64_t{std::abs(face.size - size)} * 4 + style_rank;
    if (score < best_score) best = &face, best_score = score;
  }
  return best;
}

std::shared_ptr<const FontSet> host_fonts() {
  const std::lock_guard<std::mutex> guard(host_fonts_lock);
  return host_font_set;
}

Canvas decode_font_sample(std::span<const uint8_t> data) {
  const FontStrike strike(std::vector<uint8_t>(data.begin(), data.end()));
  int64_t width = 0;
  for (int c = '!'; c <= '~'; ++c) width += std::max(strike.glyph(static_cast<uint8_t>(c)).advance, 1);
  const int32_t height = strike.height();
  if (width > kMaxSidePixels) throw DecodeError("font too wide to show");
  Canvas canvas(static_cast<int32_t>(std::max<int64_t>(width, 1)) + 2, height + 2, kWhite);
  int32_t pen = 1;
  for (int c = '!'; c <= '~'; ++c) {
    const FontStrike::Glyph glyph = strike.glyph(static_cast<uint8_t>(c));
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < glyph.image_width; ++x) {
        const int32_t cx = pen + glyph.offset + x;
        if (cx >= 0 && cx < canvas.width() && strike.pixel(glyph.image_left + x, y)) canvas.set(cx, y + 1, kBlack);
      }
    pen += std::max(glyph.advance, 1);
  }
  return canvas;
}

}  // namespace varnel::decode

using namespace varnel::decode;

extern "C" int32_t MacBin_AddFontFile(MacBinChannel *channel) {
  if (channel == nullptr || channel->mode != 1) return -1;
  try {
    const std::lock_guard<std::mutex> guard(host_fonts_lock);
    auto fonts = std::make_shared<FontSet>(*host_font_set);
    const int32_t taken = fonts->add_from(channel);
    host_font_set = std::move(fonts);
    return taken;
  } catch (...) {
    return -1;
  }
}

extern "C" void MacBin_ClearFonts(void) {
  const std::lock_guard<std::mutex> guard(host_fonts_lock);
  host_font_set = std::make_shared<const FontSet>();
}
