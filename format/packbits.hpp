// Private to the library: never installed.
//
// PackBits, the run-length packing of QuickDraw's packed pixel rows.  A
// packed stream is a sequence of runs, each led by a signed header byte h:
//
//   h =    0 ..  127   literal run: the next h + 1 bytes are copied as they are
//   h =   -1 .. -127   repeat run:  the next byte is written 1 - h times (2..128)
//   h = -128 (0x80)    no operation: the header alone, nothing produced
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace varnel::format {

// Bytes that always suffice for the packed form of `count` bytes: one header
// for every 127 source bytes on top of the bytes themselves.
inline constexpr size_t packbits_worst_case(size_t count) { return count + (count + 126) / 127; }

// Packs `source` into `destination`, which must hold
// packbits_worst_case(source.size()) bytes (checked: a smaller destination
// packs nothing and returns 0).  Returns the packed length.  The packer's
// choice between literal and repeat runs is fixed byte for byte (see
// packbits.cpp): packed rows are part of a picture's bytes, so two builds of
// one picture must agree.
size_t pack_bits(std::span<const uint8_t> source, std::span<uint8_t> destination);

enum class UnpackStatus : int32_t {
  kComplete,     // exactly unpacked.size() bytes were produced
  kSourceEnded,  // the packed bytes ended before the destination was full
  kRunPastEnd,   // a run would have crossed the end of the destination
};

struct Unpacked {
  UnpackStatus status;
  size_t consumed;  // packed bytes read, including every run header
  size_t produced;  // bytes written to the destination
};

// For everything that unpacks bytes read from a file: takes runs from
// `packed` until `unpacked` is exactly full, and never reads or writes
// outside either span.  A run that would cross the end of `unpacked` is not
// written at all (kRunPastEnd; `consumed` and `produced` then stop before
// its header).  A no-operation header is consumed only while bytes are
// still wanted.
Unpacked unpack_bits(std::span<const uint8_t> packed, std::span<uint8_t> unpacked);

// For trusted data only: takes runs from `packed` until at least `count`
// bytes are produced; the run that crosses `count` is written whole, so
// `unpacked` needs count + 127 bytes, and the source has no bound.  Returns
// the packed bytes consumed.  The same run decoding as unpack_bits.
size_t unpack_bits_unchecked(const uint8_t *packed, uint8_t *unpacked, size_t count);

}  // namespace varnel::format
