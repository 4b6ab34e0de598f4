// Decompressor 2, the word-oriented one of the classic system software.
// The output is words, each either a one-byte index into a table of words
// or, in the tagged form, a literal word:
//
//   untagged  every byte of the stream is a table index;
//   tagged    a tag byte leads each group of eight words, its bits from the
//             highest: 1 = a table index byte, 0 = a literal word (2 bytes).
//
// The table is the default one below, or the resource's own: table count
// words (header byte 16, plus one) right after the header, before the
// stream.  An odd-length resource ends in one literal byte.
#include <cstdint>
#include <iterator>
#include <span>

#include "reader/decompression.hpp"
#include "reader/stream_cursors.hpp"

namespace varnel::reader {
namespace {

// The default table (256 words).
constexpr uint16_t kDefaultWords[] = {
    0x0000, 0x0008, 0x4EBA, 0x206E, 0x4E75, 0x000C, 0x0004, 0x7000,  // 0x00
    0x0010, 0x0002, 0x486E, 0xFFFC, 0x6000, 0x0001, 0x48E7, 0x2F2E,  // 0x08
    0x4E56, 0x0006, 0x4E5E, 0x2F00, 0x6100, 0xFFF8, 0x2F0B, 0xFFFF,  // 0x10
    0x0014, 0x000A, 0x0018, 0x205F, 0x000E, 0x2050, 0x3F3C, 0xFFF4,  // 0x18
    0x4CEE, 0x302E, 0x6700, 0x4CDF, 0x266E, 0x0012, 0x001C, 0x4267,  // 0x20
    0xFFF0, 0x303C, 0x2F0C, 0x0003, 0x4ED0, 0x0020, 0x7001, 0x0016,  // 0x28
    0x2D40, 0x48C0, 0x2078, 0x7200, 0x588F, 0x6600, 0x4FEF, 0x42A7,  // 0x30
    0x6706, 0xFFFA, 0x558F, 0x286E, 0x3F00, 0xFFFE, 0x2F3C, 0x6704,  // 0x38
    0x598F, 0x206B, 0x0024, 0x201F, 0x41FA, 0x81E1, 0x6604, 0x6708,  // 0x40
    0x001A, 0x4EB9, 0x508F, 0x202E, 0x0007, 0x4EB0, 0xFFF2, 0x3D40,  // 0x48
    0x001E, 0x2068, 0x6606, 0xFFF6, 0x4EF9, 0x0800, 0x0C40, 0x3D7C,  // 0x50
    0xFFEC, 0x0005, 0x203C, 0xFFE8, 0xDEFC, 0x4A2E, 0x0030, 0x0028,  // 0x58
    0x2F08, 0x200B, 0x6002, 0x426E, 0x2D48, 0x2053, 0x2040, 0x1800,  // 0x60
    0x6004, 0x41EE, 0x2F28, 0x2F01, 0x670A, 0x4840, 0x2007, 0x6608,  // 0x68
    0x0118, 0x2F07, 0x3028, 0x3F2E, 0x302B, 0x226E, 0x2F2B, 0x002C,  // 0x70
    0x670C, 0x225F, 0x6006, 0x00FF, 0x3007, 0xFFEE, 0x5340, 0x0040,  // 0x78
    0xFFE4, 0x4A40, 0x660A, 0x000F, 0x4EAD, 0x70FF, 0x22D8, 0x486B,  // 0x80
    0x0022, 0x204B, 0x670E, 0x4AAE, 0x4E90, 0xFFE0, 0xFFC0, 0x002A,  // 0x88
    0x2740, 0x6702, 0x51C8, 0x02B6, 0x487A, 0x2278, 0xB06E, 0xFFE6,  // 0x90
    0x0009, 0x322E, 0x3E00, 0x4841, 0xFFEA, 0x43EE, 0x4E71, 0x7400,  // 0x98
    0x2F2C, 0x206C, 0x003C, 0x0026, 0x0050, 0x1880, 0x301F, 0x2200,  // 0xA0
    0x660C, 0xFFDA, 0x0038, 0x6602, 0x302C, 0x200C, 0x2D6E, 0x4240,  // 0xA8
    0xFFE2, 0xA9F0, 0xFF00, 0x377C, 0xE580, 0xFFDC, 0x4868, 0x594F,  // 0xB0
    0x0034, 0x3E1F, 0x6008, 0x2F06, 0xFFDE, 0x600A, 0x7002, 0x0032,  // 0xB8
    0xFFCC, 0x0080, 0x2251, 0x101F, 0x317C, 0xA029, 0xFFD8, 0x5240,  // 0xC0
    0x0100, 0x6710, 0xA023, 0xFFCE, 0xFFD4, 0x2006, 0x4878, 0x002E,  // 0xC8
    0x504F, 0x43FA, 0x6712, 0x7600, 0x41E8, 0x4A6E, 0x20D9, 0x005A,  // 0xD0
    0x7FFF, 0x51CA, 0x005C, 0x2E00, 0x0240, 0x48C7, 0x6714, 0x0C80,  // 0xD8
    0x2E9F, 0xFFD6, 0x8000, 0x1000, 0x4842, 0x4A6B, 0xFFD2, 0x0048,  // 0xE0
    0x4A47, 0x4ED1, 0x206F, 0x0041, 0x600C, 0x2A78, 0x422E, 0x3200,  // 0xE8
    0x6574, 0x6716, 0x0044, 0x486D, 0x2008, 0x486C, 0x0B7C, 0x2640,  // 0xF0
    0x0400, 0x0068, 0x206D, 0x000D, 0x2A40, 0x000B, 0x003E, 0x0220,  // 0xF8
};
static_assert(std::size(kDefaultWords) == 256);

constexpr size_t kGroupWords = 8;  // words a tag byte describes

// The table as 256 big-endian byte pairs; a resource's own table leaves the
// indexes past its count unusable (`count`).
struct WordTable {
  uint8_t bytes[256][2];
  uint32_t count;
};

void fill_default(WordTable &table) {
  for (size_t i = 0; i < std::size(kDefaultWords); ++i) {
    table.bytes[i][0] = static_cast<uint8_t>(kDefaultWords[i] >> 8);
    table.bytes[i][1] = static_cast<uint8_t>(kDefaultWords[i]);
  }
  table.count = 256;
}

constexpr const char *kTextIndexPastTable = "table index past the resource's own table";

}  // namespace

const char *decompress_words(const format::CompressedHeader &header,
                             std::span<const uint8_t> stream, std::span<uint8_t> output) {
  constexpr uint8_t kKnownFlags = format::kWordsOwnTable | format::kWordsTagged;
  if ((header.flags & ~kKnownFlags) != 0) return "unknown flags for decompressor 2";
  StreamSource source(stream);
  WordTable table;
  if ((header.flags & format::kWordsOwnTable) != 0) {
    table.count = uint32_t{header.table_count_minus_one} + 1;
    std::span<const uint8_t> words;
    if (!source.take(uint64_t{table.count} * 2, words)) return kTextStreamEndsEarly;
    for (uint32_t i = 0; i < table.count; ++i) {
      table.bytes[i][0] = words[2 * i];
      table.bytes[i][1] = words[2 * i + 1];
    }
  } else {
    if (header.table_count_minus_one != 0) return "table size given without a table of its own";
    fill_default(table);
  }

  const size_t words = output.size() / 2;
  uint8_t *to = output.data();
  if ((header.flags & format::kWordsTagged) == 0) {
    std::span<const uint8_t> indexes;
    if (!source.take(words, indexes)) return kTextStreamEndsEarly;
    for (size_t i = 0; i < words; ++i, to += 2) {
      const uint32_t index = indexes[i];
      if (index >= table.count) return kTextIndexPastTable;
      to[0] = table.bytes[index][0];
      to[1] = table.bytes[index][1];
    }
  } else {
    uint32_t tag = 0;
    for (size_t i = 0; i < words; ++i, to += 2) {
      if (i % kGroupWords == 0 && !source.byte(tag)) return kTextStreamEndsEarly;
      const bool from_table = (tag & 0x80) != 0;
      tag <<= 1;
      if (from_table) {
        uint32_t index = 0;
        if (!source.byte(index)) return kTextStreamEndsEarly;
        if (index >= table.count) return kTextIndexPastTable;
        to[0] = table.bytes[index][0];
        to[1] = table.bytes[index][1];
      } else {
        uint32_t literal = 0;
        if (!source.word(literal)) return kTextStreamEndsEarly;
        to[0] = static_cast<uint8_t>(literal >> 8);
        to[1] = static_cast<uint8_t>(literal);
      }
    }
  }
  if (output.size() % 2 != 0) {
    uint32_t last = 0;
    if (!source.byte(last)) return kTextStreamEndsEarly;
    output[output.size() - 1] = static_cast<uint8_t>(last);
  }
  return nullptr;
}

}  // namespace varnel::reader
