// The preview's mask region: a one-bit mask image, scaled to the picture's
// pixel size, turned into a QuickDraw region in inversion-point form.
//
//   size          word   bytes of the whole region, this word included
//   box           4 words top (first row that differs from the one above),
//                        0, picture height, w
//   scan lines    for each row y that differs from the row above it:
//                        y, the inversion points (ascending x), 0x7FFF
//   end           word   0x7FFF
//
// An inversion point is an x where (this row XOR the row above) switches
// between 0 and 1.  An extra all-clear row at y = height closes every run.
// A mask without any set pixel is the empty region: size 10, box 0, 0, 0, 0.
//
// The region is built in memory, never more than QuickDraw's 32767 bytes, and
// written only when it is whole: a mask that fails while its rows are read
// leaves nothing behind, and the size never wraps.
//
// Mask rows: (Wm + 7) / 8 bytes, leftmost pixel in the top bit.  Vertically,
// each output row advances by Hm / H mask rows (the last one read serves
// again while none is due, all clear before the first); horizontally, a mask
// up to about 9/8 of w wide is compacted by dropping one pixel whenever the
// accumulated excess passes 1.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "format/pict_opcodes.hpp"
#include "frame/internal.hpp"
#include "picture/internal.hpp"
#include "varnel.h"

namespace {

constexpr int32_t kOneBitImage = 0x02;
constexpr uint32_t kEndOfScanLine = varnel::format::kPictRegionEnd;
constexpr size_t kEmptyRegionBytes = 10;

// Region bytes, held until the region is complete; refuses to grow past what
// a region's size word can say.
class RegionBytes {
 public:
  void put_word(uint32_t value) {
    if (too_large_) return;
    if (bytes_.size() + 2 > kMaxRegionBytes) {
      too_large_ = true;
      return;
    }
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
    bytes_.push_back(static_cast<uint8_t>(value));
  }
  bool too_large() const { return too_large_; }
  bool empty() const { return bytes_.empty(); }
  std::vector<uint8_t> &bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  bool too_large_ = false;
};

// Drops mask pixels so that a mask wider than the picture fits it: each time
// the accumulated excess passes 1, the shift grows by one pixel.  Works in
// place; reads past the row's end give 0, and bytes after the last one
// written keep their values.
void compact_row(uint8_t *row, size_t row_bytes, float excess_per_byte) {
  auto byte_at = [&](size_t position) -> uint32_t {
    return position < row_bytes ? row[position] : 0u;
  };
  float accumulated = 0.0f;
  uint32_t current = row[0];
  size_t read = 1;
  size_t used = 0;
  uint32_t shift = 0;
  for (size_t k = 0; used < row_bytes; ++k) {
    accumulated += excess_per_byte;
    uint32_t next = 0;
    if (accumulated >= 1.0f) {
      if (++shift == 8) {
        current = byte_at(read++);
        ++used;
        shift = 0;
      }
      accumulated -= 1.0f;
    }
    if (used + 1 < row_bytes) next = byte_at(read++);
    row[k] = static_cast<uint8_t>((current << shift) | (next >> (8 - shift)));
    ++used;
    current = next;
  }
}

// One scan line: y, the x where (current XOR previous) switches, 0x7FFF.
// Whole bytes without a switch are passed eight pixels at a time.
void put_scan_line(RegionBytes &region, int32_t y, const uint8_t *current,
                   const uint8_t *previous, size_t row_bytes, int32_t w) {
  region.put_word(static_cast<uint32_t>(y));
  int32_t x = 0;
  bool inside = false;
  for (size_t i = 0; i < row_bytes && x < w; ++i) {
    const auto changed = static_cast<uint8_t>(current[i] ^ previous[i]);
    if ((!inside && changed == 0) || (inside && changed == 0xFF)) {
      x += 8;
      continue;
    }
    for (int32_t bit = 7; bit >= 0 && x < w; --bit) {
      const bool set = ((changed >> bit) & 1) != 0;
      if (set != inside) {
        region.put_word(static_cast<uint32_t>(x));
        inside = set;
      }
      ++x;
    }
  }
  if (inside) region.put_word(static_cast<uint32_t>(std::min(x, w)));
  region.put_word(kEndOfScanLine);
}

// Reads the mask rows and builds the region; false when a row is missing or
// the region would be too large.  `storage` holds three rows: the previous
// scaled row, the host's row_buffer and the row being scaled.  The host's
// row is copied before it is scaled, so a row that serves again is scaled
// from the host's bytes each time, never twice over.
bool build_region(MacBinImage &mask, std::vector<uint8_t> &storage, size_t row_bytes, int32_t w,
                  int32_t picture_height, RegionBytes &region) {
  const int32_t mask_width = mask.width;
  const int32_t mask_height = mask.height;
  uint8_t *previous = storage.data();
  uint8_t *host_row = previous + row_bytes;
  uint8_t *scaled = host_row + row_bytes;

  const uint32_t partial_bits = static_cast<uint32_t>(mask_width) % 8;
  const auto last_byte_mask =
      static_cast<uint8_t>(partial_bits == 0 ? 0xFF : 0xFF << (8 - partial_bits));
  const float rows_per_row = static_cast<float>(mask_height) / static_cast<float>(picture_height);
  const auto excess_per_byte = static_cast<float>(
      (static_cast<double>(static_cast<float>(mask_width) / static_cast<float>(w)) - 1.0) * 8.0);

  const auto next_row = method_slot<MacBinImageNextRowMethod>(MACBIN_METHOD_MASK_NEXT_ROW);
  const uint8_t *last_row = nullptr;  // none read yet: the row is all clear
  int32_t rows_read = 0;
  float rows_due = 0.0f;
  bool first_difference = true;

  for (int32_t y = 0; y <= picture_height; ++y) {
    if (y == picture_height) {
      last_row = nullptr;
    } else {
      rows_due += rows_per_row;
      while (rows_due >= 1.0f) {
        // Never ask for more rows than the mask has, whatever the rounding
        // of the running sum: the last row then serves again.
        if (rows_read < mask_height) {
          host_row[row_bytes - 1] = 0;
          const uint8_t *row = next_row(&mask);
          if (row == nullptr) return false;
          last_row = row;
          ++rows_read;
        }
        rows_due -= 1.0f;
      }
    }
    if (last_row != nullptr) {
      std::memcpy(scaled, last_row, row_bytes);
    } else {
      std::memset(scaled, 0, row_bytes);
    }
    scaled[row_bytes - 1] &= last_byte_mask;
    if (excess_per_byte > 0.0f) compact_row(scaled, row_bytes, excess_per_byte);

    if (std::memcmp(scaled, previous, row_bytes) == 0) continue;
    if (first_difference) {
      region.put_word(0);  // the size, filled in below
      region.put_word(static_cast<uint32_t>(y));
      region.put_word(0);
      region.put_word(static_cast<uint32_t>(picture_height));
      region.put_word(static_cast<uint32_t>(w));
      first_difference = false;
    }
    put_scan_line(region, y, scaled, previous, row_bytes, w);
    if (region.too_large()) return false;
    std::memcpy(previous, scaled, row_bytes);
  }

  if (region.empty()) {
    region.put_word(kEmptyRegionBytes);
    for (int i = 0; i < 4; ++i) region.put_word(0);
  } else {
    region.put_word(kEndOfScanLine);
    if (region.too_large()) return false;
    const size_t size = region.bytes().size();
    region.bytes()[0] = static_cast<uint8_t>(size >> 8);
    region.bytes()[1] = static_cast<uint8_t>(size);
  }
  return true;
}

}  // namespace

int32_t put_mask_region(const char *file_name, const MacBinImageRequest &request, int32_t w,
                        int32_t picture_height) {
  MacBinImage mask{};
  method_slot<MacBinImagePrepareMethod>(MACBIN_METHOD_PREPARE)(&mask, file_name);
  mask.acquire_progress = MacBin_ReplaceAcquireProgress(mask.acquire_progress);

  MacBinImageRequest open_request = request;
  bool ok = method_slot<MacBinImageOpenMethod>(MACBIN_METHOD_MASK_OPEN)(&mask, &open_request) == 0 &&
            (mask.kinds & kOneBitImage) != 0;
  // The mask's begin method is called even when opening failed, so that the
  // host sees the same sequence either way.
  MacBinReadRequest read_request{request.kinds, {0, 0, 0, 0}};
  if (method_slot<MacBinImageBeginMethod>(MACBIN_METHOD_MASK_BEGIN)(&mask, &read_request) != 0) {
    ok = false;
  }
  // A mask without pixels has no rows to scale.
  if (mask.width <= 0 || mask.height <= 0 || w <= 0 || picture_height <= 0) ok = false;

  // The row storage lives until the host has released the mask.
  std::vector<uint8_t> storage;
  if (ok) {
    try {
      const auto row_bytes = static_cast<size_t>((static_cast<int64_t>(mask.width) + 7) / 8);
      storage.assign(3 * row_bytes, 0);
      mask.row_buffer = storage.data() + row_bytes;
      RegionBytes region;
      ok = build_region(mask, storage, row_bytes, w, picture_height, region);
      if (ok) {
        const auto size = static_cast<int32_t>(region.bytes().size());
        MacBin_PutBuf(region.bytes().data(), size, size);
      }
    } catch (const std::bad_alloc &) {
      ok = false;  // as the other failures of the mask: no message
    }
  }

  if (method_slot<MacBinImageStatusMethod>(MACBIN_METHOD_MASK_END)(&mask) != 0) ok = false;
  if (method_slot<MacBinImageStatusMethod>(MACBIN_METHOD_MASK_CLOSE)(&mask) != 0) ok = false;
  method_slot<MacBinImageStatusMethod>(MACBIN_METHOD_RELEASE)(&mask);
  return ok ? 1 : 0;
}
