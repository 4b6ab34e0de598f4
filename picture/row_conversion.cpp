// Row conversion for the preview: cyan, magenta, yellow, black to red, green,
// blue; and red, green, blue to colour cube indices by error diffusion along
// the row (the whole error of a pixel goes to its right-hand neighbour).
//
// The diffusion is defined in single precision: q = nint((S + e) / step),
// e += S - q * step, with step 42.5 (255/6) for red and green and 63.75
// (255/4) for blue.  Every value it reaches is a multiple of 1/2 (red, green)
// or 1/4 (blue) of a level, small enough to be exact in a float, and no
// quotient ever lies halfway between two integers.  So the same steps are
// taken here in integers: m = 2S + e (halves) or 4S + e (quarters), the
// nearest step of m / 85 or m / 255, the remainder carried.  The picture test
// proves this equal to the floating-point steps over every reachable state.
//
// The integer steps come from two small tables indexed by m, so a pixel
// costs three loads; the error chains of the three colours run side by side.
#include <algorithm>
#include <array>
#include <cstdint>

#include "picture/internal.hpp"

namespace {

struct TableEntry {
  uint8_t step;
  int8_t error;
};

// m = 2 * sample + error_halves: from -42 to 2 * 255 + 42.
constexpr int32_t kRedGreenSpan = 2 * 255 + 2 * kRedGreenErrorLimitHalves + 1;
// m = 4 * sample + error_quarters: from -127 to 4 * 255 + 127.
constexpr int32_t kBlueSpan = 4 * 255 + 2 * kBlueErrorLimitQuarters + 1;

// Nearest integer to m / divisor for m > -divisor / 2; never a tie, since
// divisor is odd.
constexpr int32_t nearest_step(int32_t m, int32_t divisor) {
  return (2 * m + divisor) / (2 * divisor);
}

template <int32_t Span, int32_t Limit, int32_t Divisor>
constexpr std::array<TableEntry, Span> make_step_table() {
  std::array<TableEntry, Span> table{};
  for (int32_t index = 0; index < Span; ++index) {
    const int32_t m = index - Limit;
    const int32_t step = nearest_step(m, Divisor);
    table[static_cast<size_t>(index)] = {static_cast<uint8_t>(step),
                                         static_cast<int8_t>(m - step * Divisor)};
  }
  return table;
}

constexpr auto kRedGreenSteps = make_step_table<kRedGreenSpan, kRedGreenErrorLimitHalves, 85>();
constexpr auto kBlueSteps = make_step_table<kBlueSpan, kBlueErrorLimitQuarters, 255>();

// The carried error never leaves the range the tables are built for.
constexpr bool errors_stay_in_range() {
  for (const TableEntry &e : kRedGreenSteps) {
    if (e.error < -kRedGreenErrorLimitHalves || e.error > kRedGreenErrorLimitHalves) return false;
    if (e.step > 6) return false;
  }
  for (const TableEntry &e : kBlueSteps) {
    if (e.error < -kBlueErrorLimitQuarters || e.error > kBlueErrorLimitQuarters) return false;
    if (e.step > 4) return false;
  }
  return true;
}
static_assert(errors_stay_in_range());

inline const TableEntry &red_green_entry(int32_t error_halves, uint8_t sample) {
  return kRedGreenSteps[static_cast<size_t>(2 * sample + error_halves + kRedGreenErrorLimitHalves)];
}
inline const TableEntry &blue_entry(int32_t error_quarters, uint8_t sample) {
  return kBlueSteps[static_cast<size_t>(4 * sample + error_quarters + kBlueErrorLimitQuarters)];
}

void rgb_to_cube_indices(uint8_t *row, size_t count) {
  const uint8_t *red = row;
  const uint8_t *green = row + count;
  const uint8_t *blue = row + 2 * count;
  int32_t red_error = 0;
  int32_t green_error = 0;
  int32_t blue_error = 0;
  for (size_t i = 0; i < count; ++i) {
    const TableEntry r = red_green_entry(red_error, red[i]);
    const TableEntry g = red_green_entry(green_error, green[i]);
    const TableEntry b = blue_entry(blue_error, blue[i]);
    red_error = r.error;
    green_error = g.error;
    blue_error = b.error;
    row[i] = static_cast<uint8_t>(r.step + 7 * g.step + 49 * b.step);
  }
}

void cmyk_to_rgb(uint8_t *row, size_t count) {
  uint8_t *cyan = row;
  uint8_t *magenta = row + count;
  uint8_t *yellow = row + 2 * count;
  const uint8_t *black = row + 3 * count;
  for (size_t i = 0; i < count; ++i) {
    const int32_t k = black[i];
    cyan[i] = static_cast<uint8_t>(255 - std::min(255, cyan[i] + k));
    magenta[i] = static_cast<uint8_t>(255 - std::min(255, magenta[i] + k));
    yellow[i] = static_cast<uint8_t>(255 - std::min(255, yellow[i] + k));
  }
}

}  // namespace

DiffusionStep diffuse_red_green(int32_t error_halves, int32_t sample) {
  const TableEntry &e = red_green_entry(error_halves, static_cast<uint8_t>(sample));
  return {e.step, e.error};
}

DiffusionStep diffuse_blue(int32_t error_quarters, int32_t sample) {
  const TableEntry &e = blue_entry(error_quarters, static_cast<uint8_t>(sample));
  return {e.step, e.error};
}

void convert_row(uint8_t *row, int32_t count, int32_t from, int32_t to, int32_t method) {
  if (row == nullptr || count <= 0) return;
  const auto pixels = static_cast<size_t>(count);
  if (from == 3 && to == 1 && method == 2) {
    rgb_to_cube_indices(row, pixels);
  } else if (from == 4 && to == 3) {
    cmyk_to_rgb(row, pixels);
  }
}
