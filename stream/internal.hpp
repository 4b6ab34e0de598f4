// Private to the library: never installed.
//
// The byte-stream primitives' internal interface: the process-wide failure
// flags and big-endian helpers built by composition (never by the host's
// byte order).
#pragma once

#include <cstdint>
#include <span>

#include "varnel.h"

// Process-wide failure flags: 0 at load, set once, never cleared.
// write_failed: set by MacBin_PutBuf at the first failing byte; turns every
//   later primitive into a no-op returning 1.
// output_error: set when the failure is reported; MacBin_Close then removes
//   the output file instead of keeping it.
extern int32_t write_failed;
extern int32_t output_error;

// True when the primitives store into the stand-in's put area and the
// writer patches bytes still in its buffer (VARNEL_TESSEL_FAST_PATH); then
// fewer bytes and seeks reach the file layer, which tests that count them
// must know.
bool output_uses_tessel_extension();

// Reports and returns 1 when errno is set (a failed write), else 0.
int32_t MacBin_PutInError();

// Records a write failure detected outside the primitives (a failed flush,
// seek or close of the output file): reports "Writing output file" once and
// sets both flags, exactly as a failing byte does.
void record_write_failure();

inline void put_be16(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void put_be24(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
inline void put_be32(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline uint32_t get_be16(const uint8_t *p) {
  return (static_cast<uint32_t>(p[0]) << 8) | p[1];
}
inline uint32_t get_be24(const uint8_t *p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
inline uint32_t get_be32(const uint8_t *p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
