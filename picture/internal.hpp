// Private to the library: never installed.
//
// The picture subsystem's internal interface: the preview's colour tables
// and row conversion, the pixel writer and the mask region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "varnel.h"

// ---- Colour tables and row conversion -----------------------------------------

inline constexpr int32_t kClutGrey = 1;        // 256-level grey ramp, index 0 white
inline constexpr int32_t kClutColourCube = 2;  // 7 x 7 x 5 cube, index r + 7g + 49b

// Writes the colour table flags, the table size minus 1 and the entries to
// `outfile`.  Any other kind writes the flags word only.
void put_pict_clut(int32_t kind);

// Converts `count` pixels of a planar row in place:
//   from 3, to 1, method 2: red, green, blue to cube indices (error
//                           diffusion along the row) over the first plane;
//   from 4, to 3, any method: cyan, magenta, yellow, black to red, green,
//                           blue over the first three planes.
// Every other combination, and count <= 0, leaves the row unchanged.
void convert_row(uint8_t *row, int32_t count, int32_t from, int32_t to, int32_t method);

// The error diffusion works in integers: the carried error of red and green
// in halves of a level, that of blue in quarters, so that every value the
// single-precision definition can reach is held exactly.  These are the steps
// convert_row takes, exposed for the test that proves them equal to the
// floating-point definition over every reachable state.
// The carried error stays below half a step: within 21 levels (42 halves)
// for red and green, 31.75 levels (127 quarters) for blue.
inline constexpr int32_t kRedGreenErrorLimitHalves = 42;
inline constexpr int32_t kBlueErrorLimitQuarters = 127;

struct DiffusionStep {
  int32_t step;   // cube step: 0..6 red and green, 0..4 blue
  int32_t error;  // carried error after the pixel, in halves or quarters
};
// Precondition: |error| within the limit above, sample 0..255.
DiffusionStep diffuse_red_green(int32_t error_halves, int32_t sample);
DiffusionStep diffuse_blue(int32_t error_quarters, int32_t sample);

// ---- The picture ----------------------------------------------------------------

enum class PictureKind : int32_t {
  kGrey,            // one channel: a sample is its own index
  kColourFromRgb,   // three channels, error-diffused into the cube
  kColourFromCmyk,  // four channels, to red, green, blue first
};

// Writes the pixel rows of `image` (which must be open and have passed the
// preview's checks), the pad byte and the end opcode.  The pad byte keeps the
// end opcode word-aligned relative to `picture_start`, the file position of
// the picture's size word.  Returns 1 when every row was written and every
// method reported success, else 0.
int32_t put_pict_pixels(MacBinImage *image, const MacBinImageRequest &request, int32_t w,
                        PictureKind kind, int64_t picture_start);

// QuickDraw keeps a region's size in a signed 16-bit word.
inline constexpr size_t kMaxRegionBytes = 32767;

// Reads the mask image named `file_name` through the mask methods and writes
// its region, scaled to `w` x `picture_height`, at the current position of
// `outfile`.  Returns 1 when the region was written and every mask method
// succeeded, else 0.
int32_t put_mask_region(const char *file_name, const MacBinImageRequest &request, int32_t w,
                        int32_t picture_height);

// The library's own image-access methods (picture/file_image_methods.cpp),
// which read the files a PICT line names through the image-file readers:
// installed by MacBin_SetImageFileReader, and by a PICT line that finds no
// image-access method installed at all.
void install_file_image_methods();
// Whether no image-access method (ids 1 to 10, 15, 16) is installed.
bool no_image_methods_installed();
