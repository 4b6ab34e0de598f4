// Private to the library: never installed.
//
// CT image input for the icon builders.  One image is open at a time, held
// in this folder's own state (not in a channel): open_CT opens it, the
// builder reads its rows and close_CT gives everything back.
#pragma once

#include <cstdint>
#include <span>

#include "varnel.h"

// The image sizes a builder accepts.  open_CT refuses any other image before
// it allocates anything for it: a CT header is untrusted input.
struct IconSizeLimits {
  int32_t max_rows;            // rows: 1 to max_rows
  int32_t max_row_width;       // pixels per row: at most this ...
  int32_t row_width_multiple;  // ... and a positive multiple of this
  const char *accepted_sizes;  // how the refusal says what would fit
};

// True when an image of `rows` rows of `row_width` pixels fits `limits`.
bool fits_icon_limits(const IconSizeLimits &limits, int64_t rows, int64_t row_width);

// Opens the CT file at `path`, checks that it is single-channel and fits
// `limits`, and positions it at its first row.  Returns 1 when the image is
// open, 0 when it is not (the reason has been printed to standard output and
// nothing stays open).  A previous image still open is released first.
int32_t open_CT(const char *path, const IconSizeLimits &limits);

// Rows and pixels per row of the open image (both within its limits).
int32_t CT_row_count();
int32_t CT_row_width();

// Reads the next row into `row` (CT_row_width() bytes).  False when it could
// not be read, for example because the file ends before its last row.
bool read_CT_row(std::span<uint8_t> row);

// Releases the row reader, closes the file and releases its description.
// Does nothing when no image is open; leaves errno as it was.
void close_CT();
