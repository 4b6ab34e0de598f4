#include "support/resource_compression.hpp"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>

namespace vt {

Bytes compressed_header(uint8_t version, int32_t decompressor, uint32_t uncompressed_length,
                        uint8_t byte16, uint8_t byte17) {
  Bytes header = hex("A8 9F 65 72 00 12");
  header.push_back(version);
  header.push_back(0x01);
  append_be32(header, uncompressed_length);
  if (version == 8) {
    header.push_back(0x80);  // working-buffer fraction: a half
    header.push_back(0x00);  // expansion bytes
    append_be16(header, static_cast<uint32_t>(decompressor) & 0xFFFF);
  } else {
    append_be16(header, static_cast<uint32_t>(decompressor) & 0xFFFF);
    header.push_back(0);
    header.push_back(0);
  }
  header.push_back(byte16);
  header.push_back(byte17);
  return header;
}

namespace {

// The contents, padded to whole words with one zero byte.
Bytes padded_to_words(const Bytes &contents) {
  Bytes words = contents;
  if (words.size() % 2 != 0) words.push_back(0);
  return words;
}

// A number of decompressors 0 and 1: one byte below 0x80, two bytes up to
// 0x3EFF, else FF and 32 bits.
void append_number(Bytes &out, uint32_t value) {
  if (value < 0x80) {
    out.push_back(static_cast<uint8_t>(value));
  } else if (value <= 0x3EFF) {
    out.push_back(static_cast<uint8_t>(0xC0 + (value >> 8)));
    out.push_back(static_cast<uint8_t>(value));
  } else {
    out.push_back(0xFF);
    append_be32(out, value);
  }
}

// The length of the run of equal bytes at `at`.
size_t run_length(const Bytes &bytes, size_t at) {
  size_t end = at;
  while (end < bytes.size() && bytes[end] == bytes[at]) ++end;
  return end - at;
}

}  // namespace

Bytes encode_bytes0_literals(const Bytes &contents) {
  const Bytes words = padded_to_words(contents);
  Bytes out;
  for (size_t at = 0; at < words.size();) {
    const size_t count = std::min<size_t>(15, (words.size() - at) / 2);
    out.push_back(static_cast<uint8_t>(count));
    out.insert(out.end(), words.begin() + static_cast<long>(at),
               words.begin() + static_cast<long>(at + count * 2));
    at += count * 2;
  }
  out.push_back(0xFF);
  return out;
}

Bytes encode_bytes1_literals(const Bytes &contents) {
  Bytes out;
  for (size_t at = 0; at < contents.size();) {
    const size_t count = std::min<size_t>(16, contents.size() - at);
    out.push_back(static_cast<uint8_t>(count - 1));
    out.insert(out.end(), contents.begin() + static_cast<long>(at),
               contents.begin() + static_cast<long>(at + count));
    at += count;
  }
  out.push_back(0xFF);
  return out;
}

Bytes encode_bytes0_remembering(const Bytes &contents) {
  const Bytes words = padded_to_words(contents);
  Bytes out;
  std::map<Bytes, uint32_t> remembered;
  for (size_t at = 0; at < words.size();) {
    const size_t run = run_length(words, at);
    if (run >= 8 && run % 2 == 0) {
      out.insert(out.end(), {0xFE, 0x02});
      append_number(out, words[at]);
      append_number(out, static_cast<uint32_t>(std::min<size_t>(run, 0x10000) - 1));
      at += std::min<size_t>(run, 0x10000);
      continue;
    }
    const size_t size = std::min<size_t>(4, words.size() - at);
    const Bytes piece(words.begin() + static_cast<long>(at), words.begin() + static_cast<long>(at + size));
    at += size;
    const auto found = remembered.find(piece);
    if (found == remembered.end()) {
      if (remembered.size() < 0x10028) remembered.emplace(piece, static_cast<uint32_t>(remembered.size()));
      out.push_back(static_cast<uint8_t>(0x10 + size / 2));
      out.insert(out.end(), piece.begin(), piece.end());
    } else if (const uint32_t index = found->second; index < 0x28) {
      out.push_back(static_cast<uint8_t>(0x23 + index));
    } else if (index < 0x128) {
      out.insert(out.end(), {0x20, static_cast<uint8_t>(index - 0x28)});
    } else if (index < 0x228) {
      out.insert(out.end(), {0x21, static_cast<uint8_t>(index - 0x128)});
    } else {
      out.push_back(0x22);
      append_be16(out, index - 0x28);
    }
  }
  out.push_back(0xFF);
  return out;
}

Bytes encode_bytes1_remembering(const Bytes &contents) {
  Bytes out;
  std::map<Bytes, uint32_t> remembered;
  for (size_t at = 0; at < contents.size();) {
    const size_t run = run_length(contents, at);
    if (run >= 8) {
      out.insert(out.end(), {0xFE, 0x02});
      append_number(out, contents[at]);
      append_number(out, static_cast<uint32_t>(std::min<size_t>(run, 0x10000) - 1));
      at += std::min<size_t>(run, 0x10000);
      continue;
    }
    size_t end = at;
    while (end < contents.size() && end - at < 16 && contents[end] != ' ') ++end;
    if (end < contents.size() && end - at < 16) ++end;  // the space with the word
    const Bytes piece(contents.begin() + static_cast<long>(at), contents.begin() + static_cast<long>(end));
    at = end;
    const auto found = remembered.find(piece);
    if (found == remembered.end()) {
      if (remembered.size() < 0x100B0) remembered.emplace(piece, static_cast<uint32_t>(remembered.size()));
      out.push_back(static_cast<uint8_t>(0x10 + piece.size() - 1));
      out.insert(out.end(), piece.begin(), piece.end());
    } else if (const uint32_t index = found->second; index < 0xB0) {
      out.push_back(static_cast<uint8_t>(0x20 + index));
    } else if (index < 0x1B0) {
      out.insert(out.end(), {0xD2, static_cast<uint8_t>(index - 0xB0)});
    } else if (index < 0x2B0) {
      out.insert(out.end(), {0xD3, static_cast<uint8_t>(index - 0x1B0)});
    } else {
      out.push_back(0xD4);
      append_be16(out, index - 0xB0);
    }
  }
  out.push_back(0xFF);
  return out;
}

namespace {

// The default table of decompressor 2, in the order of its indexes.
const uint16_t kDefaultTable[256] = {
    0x0000, 0x0008, 0x4EBA, 0x206E, 0x4E75, 0x000C, 0x0004, 0x7000, 0x0010, 0x0002, 0x486E, 0xFFFC,
    0x6000, 0x0001, 0x48E7, 0x2F2E, 0x4E56, 0x0006, 0x4E5E, 0x2F00, 0x6100, 0xFFF8, 0x2F0B, 0xFFFF,
    0x0014, 0x000A, 0x0018, 0x205F, 0x000E, 0x2050, 0x3F3C, 0xFFF4, 0x4CEE, 0x302E, 0x6700, 0x4CDF,
    0x266E, 0x0012, 0x001C, 0x4267, 0xFFF0, 0x303C, 0x2F0C, 0x0003, 0x4ED0, 0x0020, 0x7001, 0x0016,
    0x2D40, 0x48C0, 0x2078, 0x7200, 0x588F, 0x6600, 0x4FEF, 0x42A7, 0x6706, 0xFFFA, 0x558F, 0x286E,
    0x3F00, 0xFFFE, 0x2F3C, 0x6704, 0x598F, 0x206B, 0x0024, 0x201F, 0x41FA, 0x81E1, 0x6604, 0x6708,
    0x001A, 0x4EB9, 0x508F, 0x202E, 0x0007, 0x4EB0, 0xFFF2, 0x3D40, 0x001E, 0x2068, 0x6606, 0xFFF6,
    0x4EF9, 0x0800, 0x0C40, 0x3D7C, 0xFFEC, 0x0005, 0x203C, 0xFFE8, 0xDEFC, 0x4A2E, 0x0030, 0x0028,
    0x2F08, 0x200B, 0x6002, 0x426E, 0x2D48, 0x2053, 0x2040, 0x1800, 0x6004, 0x41EE, 0x2F28, 0x2F01,
    0x670A, 0x4840, 0x2007, 0x6608, 0x0118, 0x2F07, 0x3028, 0x3F2E, 0x302B, 0x226E, 0x2F2B, 0x002C,
    0x670C, 0x225F, 0x6006, 0x00FF, 0x3007, 0xFFEE, 0x5340, 0x0040, 0xFFE4, 0x4A40, 0x660A, 0x000F,
    0x4EAD, 0x70FF, 0x22D8, 0x486B, 0x0022, 0x204B, 0x670E, 0x4AAE, 0x4E90, 0xFFE0, 0xFFC0, 0x002A,
    0x2740, 0x6702, 0x51C8, 0x02B6, 0x487A, 0x2278, 0xB06E, 0xFFE6, 0x0009, 0x322E, 0x3E00, 0x4841,
    0xFFEA, 0x43EE, 0x4E71, 0x7400, 0x2F2C, 0x206C, 0x003C, 0x0026, 0x0050, 0x1880, 0x301F, 0x2200,
    0x660C, 0xFFDA, 0x0038, 0x6602, 0x302C, 0x200C, 0x2D6E, 0x4240, 0xFFE2, 0xA9F0, 0xFF00, 0x377C,
    0xE580, 0xFFDC, 0x4868, 0x594F, 0x0034, 0x3E1F, 0x6008, 0x2F06, 0xFFDE, 0x600A, 0x7002, 0x0032,
    0xFFCC, 0x0080, 0x2251, 0x101F, 0x317C, 0xA029, 0xFFD8, 0x5240, 0x0100, 0x6710, 0xA023, 0xFFCE,
    0xFFD4, 0x2006, 0x4878, 0x002E, 0x504F, 0x43FA, 0x6712, 0x7600, 0x41E8, 0x4A6E, 0x20D9, 0x005A,
    0x7FFF, 0x51CA, 0x005C, 0x2E00, 0x0240, 0x48C7, 0x6714, 0x0C80, 0x2E9F, 0xFFD6, 0x8000, 0x1000,
    0x4842, 0x4A6B, 0xFFD2, 0x0048, 0x4A47, 0x4ED1, 0x206F, 0x0041, 0x600C, 0x2A78, 0x422E, 0x3200,
    0x6574, 0x6716, 0x0044, 0x486D, 0x2008, 0x486C, 0x0B7C, 0x2640, 0x0400, 0x0068, 0x206D, 0x000D,
    0x2A40, 0x000B, 0x003E, 0x0220};

}  // namespace

WordStream encode_words(const Bytes &contents, const std::vector<uint16_t> &table, bool tagged) {
  if (table.size() > 256) throw std::invalid_argument("a table holds at most 256 words");
  const bool own = !table.empty();
  std::map<uint16_t, uint8_t> index_of;
  if (own) {
    for (size_t i = table.size(); i-- > 0;) index_of[table[i]] = static_cast<uint8_t>(i);
  } else {
    for (size_t i = 256; i-- > 0;) index_of[kDefaultTable[i]] = static_cast<uint8_t>(i);
  }
  WordStream result;
  result.flags = static_cast<uint8_t>((own ? 0x01 : 0) | (tagged ? 0x02 : 0));
  result.table_count_minus_one = own ? static_cast<uint8_t>(table.size() - 1) : 0;
  Bytes &out = result.stream;
  for (uint16_t word : table) append_be16(out, word);
  const size_t words = contents.size() / 2;
  size_t tag_at = 0;
  for (size_t i = 0; i < words; ++i) {
    const auto word = static_cast<uint16_t>(contents[2 * i] << 8 | contents[2 * i + 1]);
    const auto found = index_of.find(word);
    if (!tagged) {
      if (found == index_of.end()) throw std::invalid_argument("an untagged stream needs every word in the table");
      out.push_back(found->second);
      continue;
    }
    if (i % 8 == 0) {
      tag_at = out.size();
      out.push_back(0);
    }
    if (found != index_of.end()) {
      out[tag_at] = static_cast<uint8_t>(out[tag_at] | (0x80 >> (i % 8)));
      out.push_back(found->second);
    } else {
      append_be16(out, word);
    }
  }
  if (contents.size() % 2 != 0) out.push_back(contents.back());
  return result;
}

std::vector<uint16_t> most_frequent_words(const Bytes &contents, size_t count) {
  std::map<uint16_t, size_t> seen;
  for (size_t i = 0; i + 1 < contents.size(); i += 2) ++seen[static_cast<uint16_t>(contents[i] << 8 | contents[i + 1])];
  std::vector<std::pair<size_t, uint16_t>> order;
  for (const auto &[word, times] : seen) order.emplace_back(times, word);
  std::sort(order.begin(), order.end(), [](const auto &a, const auto &b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  });
  std::vector<uint16_t> table;
  for (size_t i = 0; i < order.size() && i < count; ++i) table.push_back(order[i].second);
  return table;
}

Bytes compressed_resource(uint8_t version, int32_t decompressor, const Bytes &contents) {
  const auto length = static_cast<uint32_t>(contents.size());
  if (decompressor == 2) {
    const WordStream words = encode_words(contents, most_frequent_words(contents, 256), true);
    return concat({compressed_header(version, 2, length, words.table_count_minus_one, words.flags),
                   words.stream});
  }
  const Bytes stream = decompressor == 0 ? encode_bytes0_remembering(contents) : encode_bytes1_remembering(contents);
  return concat({compressed_header(version, decompressor, length), stream});
}

}  // namespace vt
