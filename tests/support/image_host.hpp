// Images for the tests: an in-memory host behind the image-access methods,
// serving named synthetic images and recording every call, and CT files
// for the icon builders.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/support.hpp"

namespace vt {

struct HostImage {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 1;  // picture images; masks have 0
  int32_t kinds = 0x20;
  float h_size = 0;  // inches
  float v_size = 0;
  Bytes rows = {};  // height rows: planar samples, or packed mask bits
  // 1: that method fails for this image.
  int32_t fail_open = 0, fail_begin = 0, fail_end = 0, fail_close = 0;
  int32_t null_row_at = -1;      // the row for which next_row gives null
  bool into_row_buffer = true;   // else rows come from the host's own memory
  MacBinAcquireProgress *progress_record = nullptr;  // what prepare hands over
  // Seen by the host.
  int32_t rows_delivered = 0;
  MacBinAcquireProgress *progress_seen_at_open = nullptr;

  size_t row_size() const;
};

// The host behind the image-access methods (ids 1 to 10, 15, 16) and the
// progress method (13).  Image names are the file names the library asks
// prepare for.  Calls are recorded as "prepare NAME", "open", "mask_open",
// "begin", "next_row", "end", "close" (and the mask_ ones), "release NAME".
class ImageHost {
 public:
  // Installs the methods (after MacBin_Init, which clears them), served by
  // this host until another is installed or this one goes.
  void install();
  ~ImageHost();

  // An image at 72 pixels per inch, so that frame and bounds agree.
  HostImage &add_image(const std::string &name, int32_t width, int32_t height, int32_t channels,
                       const Bytes &rows);
  // Grey (or colour) samples that make every row different, with runs and literals.
  HostImage &add_grey(const std::string &name, int32_t width, int32_t height, int32_t channels = 1);
  // A one-bit mask from text rows, '#' set: "..###...".
  HostImage &add_mask(const std::string &name, int32_t width, const std::vector<std::string> &rows);

  std::string joined_calls() const;  // "prepare pic, open, ..."
  long count_calls(const std::string &call) const;

  std::map<std::string, HostImage> images;
  std::vector<std::string> calls;
  std::vector<std::string> progress;  // "TYPE ID NAME PERCENT" per progress notice
  MacBinImageRequest last_request{};
  MacBinReadRequest last_read_request{};
};

// The samples add_grey serves.
Bytes grey_rows(int32_t width, int32_t height, int32_t channels = 1);

// A CT file: a 512-byte header (fields least significant byte first:
// channels at 4, rows at 32, width at 36, data offset 512 at 68), then the
// pixels.
Bytes ct_file(int32_t rows, int32_t width, const Bytes &pixels, uint16_t channels = 1);
// Stores a 32-bit field of a CT header, least significant byte first.
void set_le32(Bytes &bytes, size_t offset, uint32_t value);

}  // namespace vt
