// Decompressors 0 and 1, the byte-oriented ones of the classic system
// software.  Both read one code byte at a time: literals (some of which are
// remembered, to be used again by a one-byte reference), references to
// those, words from a constant table, extended codes (runs, tables of
// entries that differ by a constant or a small delta), and 0xFF at the end.
// They differ in how the code space is split:
//
//   decompressor 0                           decompressor 1
//   00      literal of N words (N: number)   00-0F  literal of code+1 bytes
//   01-0F   literal of code words            10-1F  the same, remembered
//   10      remembered literal, N words      20-CF  remembered literal code-0x20
//   11-1F   remembered, code-0x10 words      D0     literal of N bytes (N: number)
//   20 b    remembered literal 0x28+b        D1     the same, remembered
//   21 b    remembered literal 0x128+b       D2 b   remembered literal 0xB0+b
//   22 w    remembered literal 0x28+w        D3 b   remembered literal 0x1B0+b
//   23-4A   remembered literal code-0x23     D4 w   remembered literal 0xB0+w
//   4B-FD   constant word code-0x4B          D5-FD  constant word code-0xD5
//   FE x    extended code x                  FE x   extended code x
//   FF      end                              FF     end
//
// A "number" is one byte 00-7F (its value), FF and a 32-bit word, or a
// byte 80-FE and the next byte: the 16-bit signed value (first - 0xC0) << 8
// | next.  Counts of the extended codes use their low 16 bits, as the
// system's decompressors (which count with 16-bit loop registers) do.
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

#include "reader/decompression.hpp"
#include "reader/stream_cursors.hpp"

namespace varnel::reader {
namespace {

// The constant words of decompressor 0, for codes 0x4B to 0xFD.
constexpr uint16_t kConstantWords0[] = {
    0x0000, 0x4EBA, 0x0008, 0x4E75, 0x000C, 0x4EAD, 0x2053, 0x2F0B,  // 0x4B
    0x6100, 0x0010, 0x7000, 0x2F00, 0x486E, 0x2050, 0x206E, 0x2F2E,  // 0x53
    0xFFFC, 0x48E7, 0x3F3C, 0x0004, 0xFFF8, 0x2F0C, 0x2006, 0x4EED,  // 0x5B
    0x4E56, 0x2068, 0x4E5E, 0x0001, 0x588F, 0x4FEF, 0x0002, 0x0018,  // 0x63
    0x6000, 0xFFFF, 0x508F, 0x4E90, 0x0006, 0x266E, 0x0014, 0xFFF4,  // 0x6B
    0x4CEE, 0x000A, 0x000E, 0x41EE, 0x4CDF, 0x48C0, 0xFFF0, 0x2D40,  // 0x73
    0x0012, 0x302E, 0x7001, 0x2F28, 0x2054, 0x6700, 0x0020, 0x001C,  // 0x7B
    0x205F, 0x1800, 0x266F, 0x4878, 0x0016, 0x41FA, 0x303C, 0x2840,  // 0x83
    0x7200, 0x286E, 0x200C, 0x6600, 0x206B, 0x2F07, 0x558F, 0x0028,  // 0x8B
    0xFFFE, 0xFFEC, 0x22D8, 0x200B, 0x000F, 0x598F, 0x2F3C, 0xFF00,  // 0x93
    0x0118, 0x81E1, 0x4A00, 0x4EB0, 0xFFE8, 0x48C7, 0x0003, 0x0022,  // 0x9B
    0x0007, 0x001A, 0x6706, 0x6708, 0x4EF9, 0x0024, 0x2078, 0x0800,  // 0xA3
    0x6604, 0x002A, 0x4ED0, 0x3028, 0x265F, 0x6704, 0x0030, 0x43EE,  // 0xAB
    0x3F00, 0x201F, 0x001E, 0xFFF6, 0x202E, 0x42A7, 0x2007, 0xFFFA,  // 0xB3
    0x6002, 0x3D40, 0x0C40, 0x6606, 0x0026, 0x2D48, 0x2F01, 0x70FF,  // 0xBB
    0x6004, 0x1880, 0x4A40, 0x0040, 0x002C, 0x2F08, 0x0011, 0xFFE4,  // 0xC3
    0x2140, 0x2640, 0xFFF2, 0x426E, 0x4EB9, 0x3D7C, 0x0038, 0x000D,  // 0xCB
    0x6006, 0x422E, 0x203C, 0x670C, 0x2D68, 0x6608, 0x4A2E, 0x4AAE,  // 0xD3
    0x002E, 0x4840, 0x225F, 0x2200, 0x670A, 0x3007, 0x4267, 0x0032,  // 0xDB
    0x2028, 0x0009, 0x487A, 0x0200, 0x2F2B, 0x0005, 0x226E, 0x6602,  // 0xE3
    0xE580, 0x670E, 0x660A, 0x0050, 0x3E00, 0x660C, 0x2E00, 0xFFEE,  // 0xEB
    0x206D, 0x2040, 0xFFE0, 0x5340, 0x6008, 0x0480, 0x0068, 0x0B7C,  // 0xF3
    0x4400, 0x41E8, 0x4841,  // 0xFB
};
static_assert(std::size(kConstantWords0) == 0xFE - 0x4B);

// The constant words of decompressor 1, for codes 0xD5 to 0xFD.
constexpr uint16_t kConstantWords1[] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x2E01, 0x3E01, 0x0101, 0x1E01,  // 0xD5
    0xFFFF, 0x0E01, 0x3100, 0x1112, 0x0107, 0x3332, 0x1239, 0xED10,  // 0xDD
    0x0127, 0x2322, 0x0137, 0x0706, 0x0117, 0x0123, 0x00FF, 0x002F,  // 0xE5
    0x070E, 0xFD3C, 0x0135, 0x0115, 0x0102, 0x0007, 0x003E, 0x05D5,  // 0xED
    0x0201, 0x0607, 0x0708, 0x3001, 0x0133, 0x0010, 0x1716, 0x373E,  // 0xF5
    0x3637,  // 0xFD
};
static_assert(std::size(kConstantWords1) == 0xFE - 0xD5);

constexpr uint32_t kEndCode = 0xFF;
constexpr uint32_t kExtendedCode = 0xFE;
// The words of a segment's entry in an export table ("MOVE.W #seg,-(SP);
// _LoadSeg") and of a jump table entry ("BSR.W; JMP off(A5)").
constexpr uint32_t kPushWord = 0x3F3C;
constexpr uint32_t kLoadSegTrap = 0xA9F0;
constexpr uint32_t kBranchToSubroutine = 0x6100;
constexpr uint32_t kJumpA5Relative = 0x4EED;
// Export table entries lie 6 bytes apart and are stored as distances + 6,
// so the first entry's offset is stored as itself.
constexpr uint32_t kEntrySpacing = 6;
// Jump table targets move back 8 bytes an entry (the entry's own length).
constexpr uint32_t kJumpEntryBytes = 8;

class ByteDecompressor {
 public:
  ByteDecompressor(std::span<const uint8_t> stream, std::span<uint8_t> output)
      : source_(stream), sink_(output) {}

  const char *run(bool second_form) {
    for (;;) {
      uint32_t code = 0;
      if (!source_.byte(code)) return kTextStreamEndsEarly;
      if (code == kEndCode) return sink_.full() ? nullptr : kTextShortOfLength;
      const char *failure = second_form ? step1(code) : step0(code);
      if (failure != nullptr) return failure;
    }
  }

 private:
  struct Remembered {
    size_t offset;  // in the output
    size_t length;
  };

  bool number(int32_t &value) {
    uint32_t first = 0;
    if (!source_.byte(first)) return false;
    if (first < 0x80) {
      value = static_cast<int32_t>(first);
      return true;
    }
    uint32_t rest = 0;
    if (first == 0xFF) {
      uint32_t high = 0, low = 0;
      if (!source_.word(high) || !source_.word(low)) return false;
      value = static_cast<int32_t>(high << 16 | low);
      return true;
    }
    if (!source_.byte(rest)) return false;
    value = static_cast<int16_t>(static_cast<uint16_t>(((first - 0xC0) & 0xFF) << 8 | rest));
    return true;
  }

  const char *literal(uint64_t length, bool remember) {
    std::span<const uint8_t> bytes;
    if (!source_.take(length, bytes)) return kTextStreamEndsEarly;
    if (remember) remembered_.push_back({sink_.position(), bytes.size()});
    return sink_.put(bytes.data(), bytes.size()) ? nullptr : kTextPastLength;
  }

  const char *literal_of_number(uint64_t unit, bool remember) {
    int32_t count = 0;
    if (!number(count)) return kTextStreamEndsEarly;
    if (count < 0) return "negative literal length";
    return literal(static_cast<uint64_t>(count) * unit, remember);
  }

  const char *again(size_t index) {
    if (index >= remembered_.size()) return "reference to a literal not yet stored";
    const Remembered &entry = remembered_[index];
    return sink_.put_again(entry.offset, entry.length) ? nullptr : kTextPastLength;
  }

  const char *again_after_byte(size_t base) {
    uint32_t index = 0;
    if (!source_.byte(index)) return kTextStreamEndsEarly;
    return again(base + index);
  }

  const char *again_after_word(size_t base) {
    uint32_t index = 0;
    if (!source_.word(index)) return kTextStreamEndsEarly;
    return again(base + index);
  }

  const char *word(uint32_t value) { return sink_.put_word(value) ? nullptr : kTextPastLength; }

  const char *step0(uint32_t code) {
    if (code == 0x00) return literal_of_number(2, false);
    if (code < 0x10) return literal(uint64_t{code} * 2, false);
    if (code == 0x10) return literal_of_number(2, true);
    if (code < 0x20) return literal(uint64_t{code - 0x10} * 2, true);
    if (code == 0x20) return again_after_byte(0x28);
    if (code == 0x21) return again_after_byte(0x128);
    if (code == 0x22) return again_after_word(0x28);
    if (code < 0x4B) return again(code - 0x23);
    if (code < kExtendedCode) return word(kConstantWords0[code - 0x4B]);
    return extended();
  }

  const char *step1(uint32_t code) {
    if (code < 0x10) return literal(code + 1, false);
    if (code < 0x20) return literal(code - 0x0F, true);
    if (code < 0xD0) return again(code - 0x20);
    if (code == 0xD0) return literal_of_number(1, false);
    if (code == 0xD1) return literal_of_number(1, true);
    if (code == 0xD2) return again_after_byte(0xB0);
    if (code == 0xD3) return again_after_byte(0x1B0);
    if (code == 0xD4) return again_after_word(0xB0);
    if (code < kExtendedCode) return word(kConstantWords1[code - 0xD5]);
    return extended();
  }

  // Reads a number for a field; the caller keeps the bits it needs.
  bool field(uint32_t &value) {
    int32_t number_value = 0;
    if (!number(number_value)) return false;
    value = static_cast<uint32_t>(number_value);
    return true;
  }

  const char *extended() {
    uint32_t kind = 0;
    if (!source_.byte(kind)) return kTextStreamEndsEarly;
    switch (kind) {
      case 0x00: return export_table();
      case 0x01: return jump_table();
      case 0x02: return repeat(1);
      case 0x03: return repeat(2);
      case 0x04: return deltas(2, true);
      case 0x05: return deltas(2, false);
      case 0x06: return deltas(4, false);
      default: return "unknown extended code";
    }
  }

  // Segment, count, then each entry's offset: "seg" words, each entry's
  // offset after them, and the words once more at the end.
  const char *export_table() {
    uint32_t segment = 0, count = 0;
    if (!field(segment) || !field(count)) return kTextStreamEndsEarly;
    segment &= 0xFFFF;
    count &= 0xFFFF;
    uint32_t offset = kEntrySpacing;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t distance = 0;
      if (!field(distance)) return kTextStreamEndsEarly;
      offset = (offset + distance - kEntrySpacing) & 0xFFFF;
      if (!sink_.put_word(kPushWord) || !sink_.put_word(segment) || !sink_.put_word(kLoadSegTrap) ||
          !sink_.put_word(offset))
        return kTextPastLength;
    }
    if (!sink_.put_word(kPushWord) || !sink_.put_word(segment) || !sink_.put_word(kLoadSegTrap))
      return kTextPastLength;
    return nullptr;
  }

  // Target, A5 step, count - 1, first A5 offset; with a step of 0 each
  // further entry's A5 offset follows in the stream.
  const char *jump_table() {
    uint32_t target = 0, step = 0, count = 0, a5_offset = 0;
    if (!field(target) || !field(step) || !field(count) || !field(a5_offset))
      return kTextStreamEndsEarly;
    step &= 0xFFFF;
    count = (count & 0xFFFF) + 1;
    for (uint32_t i = 0; i < count; ++i) {
      if (i > 0) {
        target -= kJumpEntryBytes;
        if (step == 0) {
          if (!field(a5_offset)) return kTextStreamEndsEarly;
        } else {
          a5_offset += step;
        }
      }
      if (!sink_.put_word(kBranchToSubroutine) || !sink_.put_word(target & 0xFFFF) ||
          !sink_.put_word(kJumpA5Relative) || !sink_.put_word(a5_offset & 0xFFFF))
        return kTextPastLength;
    }
    return nullptr;
  }

  // A value of `unit_bytes` (its low bits) and count - 1.
  const char *repeat(size_t unit_bytes) {
    uint32_t value = 0, count = 0;
    if (!field(value) || !field(count)) return kTextStreamEndsEarly;
    const uint8_t unit[2] = {static_cast<uint8_t>(unit_bytes == 1 ? value : value >> 8),
                             static_cast<uint8_t>(value)};
    return sink_.put_repeated(unit, unit_bytes, uint64_t{count & 0xFFFF} + 1) ? nullptr
                                                                             : kTextPastLength;
  }

  // A first value, count - 1, then each further value as a difference to
  // the one before: a signed byte (small_steps) or a number.
  const char *deltas(size_t unit_bytes, bool small_steps) {
    uint32_t value = 0, count = 0;
    if (!field(value) || !field(count)) return kTextStreamEndsEarly;
    const uint32_t total = (count & 0xFFFF) + 1;
    for (uint32_t i = 0; i < total; ++i) {
      if (i > 0) {
        uint32_t step = 0;
        if (small_steps) {
          if (!source_.byte(step)) return kTextStreamEndsEarly;
          step = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(step)));
        } else if (!field(step)) {
          return kTextStreamEndsEarly;
        }
        value += step;
      }
      const bool written = unit_bytes == 2 ? sink_.put_word(value & 0xFFFF) : sink_.put_long(value);
      if (!written) return kTextPastLength;
    }
    return nullptr;
  }

  StreamSource source_;
  OutputSink sink_;
  std::vector<Remembered> remembered_;
};

}  // namespace

const char *decompress_bytes0(std::span<const uint8_t> stream, std::span<uint8_t> output) {
  return ByteDecompressor(stream, output).run(false);
}

const char *decompress_bytes1(std::span<const uint8_t> stream, std::span<uint8_t> output) {
  return ByteDecompressor(stream, output).run(true);
}

}  // namespace varnel::reader
