// Fatal exits, rounding and copying.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tessel.h"

extern "C" {

void errexit(const char *text) {
  std::fflush(stdout);
  // The library's texts begin with a backspace; they are printed as given.
  std::fprintf(stderr, "tessel: fatal:%s\n", text != nullptr ? text : "");
  std::fflush(stderr);
  std::exit(1);
}

void exits(int32_t status) {
  std::fflush(stdout);
  std::exit(status);
}

int32_t nint(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::round(value);  // halves away from zero
  if (rounded >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (rounded <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<int32_t>(rounded);
}

void movb(const void *source, void *destination, int64_t count) {
  if (count <= 0 || source == nullptr || destination == nullptr) return;
  std::memmove(destination, source, static_cast<size_t>(count));
}

}  // extern "C"
