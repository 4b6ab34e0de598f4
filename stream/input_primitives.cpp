// Readers of Macintosh values (most significant byte first) from a host file
// or from a byte source.  Pascal strings go into the caller's 256-byte
// buffer: at most 255 characters and a NUL, whatever the input says.
#include "stream/internal.hpp"
#include "varnel.h"

namespace {

constexpr int32_t kMaxPascalLength = 255;

float fixed_to_float(uint32_t integer_half, uint32_t fraction_half) {
  return static_cast<float>(integer_half) + static_cast<float>(fraction_half) / 65536.0f;
}

}  // namespace

extern "C" {

float MacBin_FGetFixed(TesselFile *file) {
  const uint32_t integer_half = swapwtow(fgetw(file));
  const uint32_t fraction_half = swapwtow(fgetw(file));
  return fixed_to_float(integer_half, fraction_half);
}

int32_t MacBin_FGetPascalString(TesselFile *file, char *buffer) {
  const int32_t length = fgetb(file);
  if (length <= 0) {
    buffer[0] = '\0';  // end of file: an empty text, and the value passes through
    return length;
  }
  // fgetb gives at most 255; the bound keeps the buffer safe regardless.
  const int32_t stored = length < kMaxPascalLength ? length : kMaxPascalLength;
  fgetm(file, buffer, stored);
  buffer[stored] = '\0';
  return length;
}

int32_t MacBin_CGetBuffer(MacBinByteSource source, uint8_t *buffer, int32_t count) {
  for (int32_t i = 0; i < count; ++i) buffer[i] = static_cast<uint8_t>(source());
  return count;
}

int32_t MacBin_CGetByte(MacBinByteSource source) {
  return static_cast<int32_t>(static_cast<uint8_t>(source()));
}

uint16_t MacBin_CGetWord(MacBinByteSource source) {
  uint8_t bytes[2];
  MacBin_CGetBuffer(source, bytes, 2);
  return static_cast<uint16_t>(get_be16(bytes));
}

float MacBin_CGetFixed(MacBinByteSource source) {
  const uint32_t integer_half = MacBin_CGetWord(source);
  const uint32_t fraction_half = MacBin_CGetWord(source);
  return fixed_to_float(integer_half, fraction_half);
}

int32_t MacBin_CGetPascalString(MacBinByteSource source, char *buffer) {
  int32_t length = source();
  if (length <= 0) {
    buffer[0] = '\0';  // exhausted source: an empty text, the value passes through
    return length;
  }
  // A source that breaks its contract with a value above 255 gets it read as
  // the length byte it stands for (its low 8 bits, as MacBin_CGetByte reads a
  // byte), so the buffer and the count of bytes consumed stay consistent.
  if (length > kMaxPascalLength) length &= 0xFF;
  MacBin_CGetBuffer(source, reinterpret_cast<uint8_t *>(buffer), length);
  buffer[length] = '\0';
  return length;
}

}  // extern "C"
