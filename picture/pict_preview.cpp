// The PICT preview: a version 2 QuickDraw picture, 8-bit indexed, PackBits-
// packed, of an image that the host's image-access methods deliver row by
// row.  W x H is the image, w is W rounded up to even (the row bytes).
//
//   offset  size
//        0     2  picture size, modulo 65536 (written last)
//        2     8  picture frame 0, 0, H * 72 / v_res, W * 72 / h_res (points)
//       10     2  0x0011 version opcode          12  2  0x02FF version 2
//       14     2  0x0C00 header opcode           16  4  FF FE 00 00
//       20     4  h_res (Fixed)                  24  4  v_res (Fixed)
//       28     8  source rectangle 0, 0, H, W    36  4  reserved
//       40     2  0x0001 clip region             42 10  size 10, box 0, 0, H, W
//       52     2  0x0098 packed pixels, or 0x0099 packed pixels in a region (mask)
//       54     2  row bytes w + 0x8000
//       56     8  bounds 0, 0, H, W
//       64    36  pixel map: version 0, pack type 0, pack size 0, h_res, v_res,
//                 pixel type 0, pixel size 8, 1 component of 8 bits, plane
//                 bytes 0, colour table handle 0, reserved 0
//      100     4  colour table seed: 00 43 26 0E for grey without mask, else 0
//      104        colour table flags, size - 1, entries (256 grey, 245 colour)
//    then     18  source and destination rectangles 0, 0, H, W, mode 0 (copy)
//    then         the mask region (with a mask only)
//    then         H rows; a zero byte if needed to keep the next opcode at an
//                 even offset from the picture's start; 0x00FF end
//
// A row is w indices (a final 0 when W is odd): written as they are when
// w < 8, else packed, with the packed length before it as a byte (w <= 250)
// or a word.
//
// Method order for the picture image: prepare, open, then only when the
// picture goes ahead (and the mask region succeeded) begin, next_row H times,
// end; always close and release once open was called.  Everything that can
// refuse a picture is decided before its first byte is written.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "format/packbits.hpp"
#include "format/pict_opcodes.hpp"
#include "frame/internal.hpp"
#include "picture/internal.hpp"
#include "stream/internal.hpp"
#include "varnel.h"

namespace {

namespace format = varnel::format;

constexpr int32_t kRequestKinds = 0x22;
constexpr int32_t kPictureKinds = 0x22;  // a picture image has 0x02 or 0x20
constexpr int32_t kHasMaskWords = 3;
constexpr size_t kParameterBufferBytes = 256;
// Pixels per inch a PICT line may ask for.
constexpr int kMaxResolution = 9600;

// Row bytes carry the pixel-map flag 0x8000, so w (W rounded up to even) must
// stay below 0x4000; rectangles are signed 16-bit.
constexpr int32_t kMaxWidthPixels = 0x3FFE;
constexpr int32_t kMaxCoordinate = 32767;
constexpr float kFixedLimit = 65536.0f;  // a Fixed holds 0 <= value < 65536
constexpr double kPointsPerInch = 72.0;


constexpr int32_t kGreySeed = 0x0043260E;
// FF FE 00 00 as a fixed-point number: version -2, reserved 0.
constexpr float kExtendedHeaderVersion = float{format::kPictExtendedHeaderVersion};
// The header's data: that version, both resolutions, the source rectangle
// and a reserved long, as the opcode table measures it.
static_assert(format::pict_data_length(format::kPictHeaderOp).bytes == 4 + 4 + 4 + 8 + 4);

struct FreeDeleter {
  void operator()(uint8_t *p) const { std::free(p); }
};

// The picture's measurements, all checked to fit their fields.
struct PictureGeometry {
  int32_t width;         // W
  int32_t height;        // H
  int32_t row_bytes;     // w
  float h_res;           // pixels per inch
  float v_res;
  int32_t frame_bottom;  // points
  int32_t frame_right;
};

void put_rectangle(int32_t top, int32_t left, int32_t bottom, int32_t right) {
  MacBin_PutWord(top, 2);
  MacBin_PutWord(left, 2);
  MacBin_PutWord(bottom, 2);
  MacBin_PutWord(right, 2);
}

// A frame edge in points: nint(pixels * 72 / resolution), or -1 when it does
// not fit a rectangle's field.
int32_t frame_edge(int32_t pixels, float resolution) {
  const double points = static_cast<double>(pixels) * kPointsPerInch / static_cast<double>(resolution);
  if (!(points >= 0.0 && points < kMaxCoordinate + 0.5)) return -1;
  return nint(points);
}

// Checks what the open method delivered.  Reports why and returns false when
// the picture cannot be written correctly.
bool measure_picture(const MacBinImage &image, PictureGeometry &geometry) {
  char text[160];
  if (image.channels != 1 && image.channels != 3 && image.channels != 4) {
    std::snprintf(text, sizeof text,
                  "PICT image has %d channels; only 1 (grey), 3 (RGB) or 4 (CMYK) can be shown",
                  static_cast<int>(image.channels));
    report(text, MACBIN_ERROR, MACBIN_ERR_UNSUPPORTED);
    return false;
  }
  const int32_t W = image.width;
  const int32_t H = image.height;
  if (W <= 0 || H <= 0 || W > kMaxWidthPixels || H > kMaxCoordinate) {
    std::snprintf(text, sizeof text,
                  "PICT image of %d x %d pixels cannot be written (1 to %d across, 1 to %d down)",
                  static_cast<int>(W), static_cast<int>(H), static_cast<int>(kMaxWidthPixels),
                  static_cast<int>(kMaxCoordinate));
    report(text, MACBIN_ERROR, MACBIN_ERR_LIMIT);
    return false;
  }
  geometry.width = W;
  geometry.height = H;
  geometry.row_bytes = W + (W & 1);
  // Sizes that are 0, negative or not numbers give no resolution at all.
  bool fits = image.h_size > 0.0f && image.v_size > 0.0f;
  if (fits) {
    geometry.h_res = static_cast<float>(W) / image.h_size;
    geometry.v_res = static_cast<float>(H) / image.v_size;
    fits = geometry.h_res > 0.0f && geometry.h_res < kFixedLimit && geometry.v_res > 0.0f &&
           geometry.v_res < kFixedLimit;
  }
  if (fits) {
    geometry.frame_bottom = frame_edge(H, geometry.v_res);
    geometry.frame_right = frame_edge(W, geometry.h_res);
    fits = geometry.frame_bottom >= 0 && geometry.frame_right >= 0;
  }
  if (!fits) {
    std::snprintf(text, sizeof text,
                  "PICT image size %g x %g inches gives a resolution or frame out of range",
                  static_cast<double>(image.h_size), static_cast<double>(image.v_size));
    report(text, MACBIN_ERROR);
    return false;
  }
  return true;
}

// Everything from the size word up to and including the transfer mode.
void put_picture_head(const PictureGeometry &g, PictureKind kind, bool with_mask) {
  const int32_t H = g.height;
  const int32_t W = g.width;
  MacBin_PutWord(0, 2);  // picture size, patched when the picture is complete
  put_rectangle(0, 0, g.frame_bottom, g.frame_right);
  MacBin_PutWord(format::kPictVersion, 2);
  MacBin_PutWord(format::kPictVersion2, 2);
  MacBin_PutWord(format::kPictHeaderOp, 2);
  MacBin_PutFixed(kExtendedHeaderVersion, 4);
  MacBin_PutFixed(g.h_res, 4);
  MacBin_PutFixed(g.v_res, 4);
  put_rectangle(0, 0, H, W);  // source rectangle
  MacBin_PutInt(0, 4);        // reserved
  MacBin_PutWord(format::kPictClipRegion, 2);
  MacBin_PutWord(format::kPictRectangularRegionBytes, 2);
  put_rectangle(0, 0, H, W);
  MacBin_PutWord(with_mask ? format::kPictPackBitsRegion : format::kPictPackBitsRect, 2);
  MacBin_PutWord(g.row_bytes + format::kPictPixelMapFlag, 2);
  put_rectangle(0, 0, H, W);  // bounds
  MacBin_PutWord(0, 2);       // pixel map version
  MacBin_PutWord(0, 2);       // pack type
  MacBin_PutInt(0, 4);        // pack size
  MacBin_PutFixed(g.h_res, 4);
  MacBin_PutFixed(g.v_res, 4);
  MacBin_PutWord(0, 2);       // pixel type: indexed
  MacBin_PutWord(8, 2);       // pixel size
  MacBin_PutWord(1, 2);       // component count
  MacBin_PutWord(8, 2);       // component size
  MacBin_PutInt(0, 4);        // plane bytes
  MacBin_PutInt(0, 4);        // colour table handle
  MacBin_PutInt(0, 4);        // reserved
  const bool grey = kind == PictureKind::kGrey;
  MacBin_PutInt(grey && !with_mask ? kGreySeed : 0, 4);
  put_pict_clut(grey ? kClutGrey : kClutColourCube);
  put_rectangle(0, 0, H, W);  // source
  put_rectangle(0, 0, H, W);  // destination
  MacBin_PutWord(0, 2);       // transfer mode: copy
}

void send_progress(int32_t percent) {
  MacBinChannel *channel = MacChannel;
  MacBinProgress progress{percent, nullptr, channel != nullptr ? channel->cur_type : "PICT",
                          channel != nullptr ? channel->cur_id : 0,
                          channel != nullptr ? channel->cur_name : nullptr};
  call_progress(&progress);
}

bool image_methods_installed(bool with_mask) {
  const int32_t needed[] = {MACBIN_METHOD_PREPARE, MACBIN_METHOD_OPEN,  MACBIN_METHOD_BEGIN,
                            MACBIN_METHOD_NEXT_ROW, MACBIN_METHOD_END,  MACBIN_METHOD_CLOSE,
                            MACBIN_METHOD_RELEASE};
  const int32_t needed_for_mask[] = {MACBIN_METHOD_MASK_OPEN, MACBIN_METHOD_MASK_BEGIN,
                                     MACBIN_METHOD_MASK_NEXT_ROW, MACBIN_METHOD_MASK_END,
                                     MACBIN_METHOD_MASK_CLOSE};
  for (int32_t id : needed) {
    if (MacIOControl.methods[id - 1] == nullptr) return false;
  }
  if (with_mask) {
    for (int32_t id : needed_for_mask) {
      if (MacIOControl.methods[id - 1] == nullptr) return false;
    }
  }
  return true;
}

// Why "IMAGE RESOLUTION [MASK]" cannot make a picture, or "" when it can:
// said before anything is asked of the host, so that a mistake gets its
// reason instead of a resource that is only "not inserted".
std::string parameter_fault(const char *param) {
  const char *kForm = "PICT wants 'IMAGE RESOLUTION [MASK]', e.g. 'preview.png 72 mask.pbm'";
  const std::string text(trim_blanks(param));
  if (text.empty()) return kForm;
  std::vector<char> buffer(text.size() + 1);
  char *words[kHasMaskWords + 1] = {};
  if (MacBin_GetArguments(text.c_str(), buffer.data(), words, kHasMaskWords) < 2 || words[0][0] == '\0' ||
      words[kHasMaskWords] != nullptr) {
    return kForm;
  }
  const std::string resolution = words[1];
  const bool digits_only = !resolution.empty() && resolution.size() <= 5 &&
                           resolution.find_first_not_of("0123456789") == std::string::npos;
  const int value = digits_only ? std::atoi(resolution.c_str()) : 0;
  if (value < 1 || value > kMaxResolution) {
    return "PICT resolution '" + resolution + "' must be a whole number of pixels per inch (1 to 9600)";
  }
  return "";
}

int32_t add_pict(MacBinChannel *channel, const char *param) {
  if (channel == nullptr || channel->file == nullptr) return 0;
  outfile = channel->file;
  if (param == nullptr) param = "";
  if (const std::string fault = parameter_fault(param); !fault.empty()) {
    report(fault.c_str(), MACBIN_ERROR, MACBIN_ERR_ARGUMENT);
    return 0;
  }
  if (std::strlen(param) >= kParameterBufferBytes) {
    report("PICT parameter text longer than 255 characters", MACBIN_ERROR, MACBIN_ERR_LIMIT);
    return 0;
  }
  char buffer[kParameterBufferBytes];
  char *words[kHasMaskWords + 1] = {};
  const int32_t word_count = MacBin_GetArguments(param, buffer, words, kHasMaskWords);
  // No image name, or no resolution: nothing to ask the host for.
  if (words[0] == nullptr || words[0][0] == '\0' || word_count < 2) return 0;
  const bool with_mask = word_count == kHasMaskWords;
  // A host that installed no image method at all gets the library's own,
  // which read image files through the readers; one that installed some
  // keeps them, and must install them all.
  if (no_image_methods_installed()) install_file_image_methods();
  if (!image_methods_installed(with_mask)) {
    report("PICT preview needs the image-access methods installed", MACBIN_ERROR, MACBIN_ERR_STATE);
    return 0;
  }

  const auto wanted_resolution = static_cast<float>(std::atoi(words[1]));
  MacBinImageRequest request{wanted_resolution, wanted_resolution, kRequestKinds};

  MacBinImage image{};
  method_slot<MacBinImagePrepareMethod>(MACBIN_METHOD_PREPARE)(&image, words[0]);
  image.acquire_progress = MacBin_ReplaceAcquireProgress(image.acquire_progress);

  bool ok = method_slot<MacBinImageOpenMethod>(MACBIN_METHOD_OPEN)(&image, &request) == 0 &&
            (image.kinds & kPictureKinds) != 0;
  PictureGeometry geometry{};
  if (ok) ok = measure_picture(image, geometry);

  std::unique_ptr<uint8_t, FreeDeleter> row_buffer;
  if (ok) {
    row_buffer.reset(static_cast<uint8_t *>(
        std::malloc(static_cast<size_t>(image.channels) * static_cast<size_t>(geometry.width))));
    if (row_buffer == nullptr) {
      report("Out Of Memory (in PICT processor)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
      ok = false;
    }
    image.row_buffer = row_buffer.get();
  }

  if (ok) {
    const int64_t picture_start = fgetp(outfile);
    const PictureKind kind = image.channels == 1   ? PictureKind::kGrey
                             : image.channels == 3 ? PictureKind::kColourFromRgb
                                                   : PictureKind::kColourFromCmyk;
    image.planes = 1;
    put_picture_head(geometry, kind, with_mask);
    if (with_mask) {
      request.h_res = geometry.h_res;
      request.v_res = geometry.v_res;
      ok = put_mask_region(words[2], request, geometry.row_bytes, geometry.height) == 1;
    }
    if (ok) ok = put_pict_pixels(&image, request, geometry.row_bytes, kind, picture_start) == 1;
    if (ok) {
      const int64_t picture_end = fgetp(outfile);
      ok = MacBin_SetPtrPos(static_cast<int32_t>(picture_start), 0) >= 0 &&
           MacBin_PutWord(static_cast<int32_t>((picture_end - picture_start) & 0xFFFF), 2) == 0 &&
           MacBin_SetPtrPos(static_cast<int32_t>(picture_end), 0) >= 0;
    }
  }

  if (method_slot<MacBinImageStatusMethod>(MACBIN_METHOD_CLOSE)(&image) != 0) ok = false;
  method_slot<MacBinImageStatusMethod>(MACBIN_METHOD_RELEASE)(&image);
  return ok ? 1 : 0;
}

}  // namespace

int32_t put_pict_pixels(MacBinImage *image, const MacBinImageRequest &request, int32_t w,
                        PictureKind kind, int64_t picture_start) {
  const int32_t W = image->width;
  const int32_t H = image->height;
  const auto row_bytes = static_cast<size_t>(w);
  // The packed row, sized for the packer's worst case so that packing never
  // checks for room; and, for an odd width, the row with its final 0.
  std::vector<uint8_t> packed;
  std::vector<uint8_t> padded_row;
  try {
    packed.resize(format::packbits_worst_case(row_bytes));
    if (W != w) padded_row.assign(row_bytes, 0);
  } catch (const std::bad_alloc &) {
    report("Out Of Memory (in PICT data inserting)", MACBIN_ERROR, MACBIN_ERR_MEMORY);
    return 0;
  }

  MacBinReadRequest read_request{request.kinds, {0, 0, 0, 0}};
  if (method_slot<MacBinImageBeginMethod>(MACBIN_METHOD_BEGIN)(image, &read_request) != 0) {
    return 0;
  }
  const auto next_row = method_slot<MacBinImageNextRowMethod>(MACBIN_METHOD_NEXT_ROW);

  send_progress(0);
  int32_t next_notice_percent = 5;
  bool ok = true;
  for (int32_t r = 0; r < H; ++r) {
    const int32_t percent = nint(static_cast<double>(r + 1) * 100.0 / static_cast<double>(H));
    if (percent >= next_notice_percent) {
      next_notice_percent += 5;
      send_progress(percent);
    }
    uint8_t *row = next_row(image);
    if (row == nullptr) {  // the host has no row to give: the picture is not complete
      ok = false;
      break;
    }
    switch (kind) {
      case PictureKind::kGrey:
        break;
      case PictureKind::kColourFromRgb:
        convert_row(row, W, 3, 1, 2);
        break;
      case PictureKind::kColourFromCmyk:
        convert_row(row, W, 4, 3, 0);
        convert_row(row, W, 3, 1, 2);
        break;
    }
    const uint8_t *indices = row;
    if (!padded_row.empty()) {
      std::memcpy(padded_row.data(), row, static_cast<size_t>(W));
      indices = padded_row.data();
    }
    const uint8_t *data = indices;
    int32_t length = w;
    if (w >= format::kPictMinPackedRowBytes) {
      length = static_cast<int32_t>(
          format::pack_bits({indices, row_bytes}, {packed.data(), packed.size()}));
      data = packed.data();
      if (w <= format::kPictOneByteCountLimit) {
        MacBin_PutByte(length);
      } else {
        MacBin_PutWord(length, 2);
      }
    }
    if (MacBin_PutBuf(data, length, length) != 0) {
      ok = false;
      break;
    }
  }

  // Opcodes are word-aligned relative to the picture's start, wherever the
  // picture lies in the file.
  if (((fgetp(outfile) - picture_start) & 1) != 0 && MacBin_PutByte(0) != 0) ok = false;
  if (MacBin_PutWord(format::kPictOpEndPic, 2) != 0) ok = false;

  if (method_slot<MacBinImageStatusMethod>(MACBIN_METHOD_END)(image) != 0) ok = false;
  return ok ? 1 : 0;
}

extern "C" int32_t MacBin_Add_PICT(MacBinChannel *channel, const char *param) {
  try {
    return add_pict(channel, param);
  } catch (...) {
    // Nothing may cross into C; every allocation above is already handled, so
    // this is a last guard only.
    return 0;
  }
}
