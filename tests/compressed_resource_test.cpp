// Compressed resources read as their contents: MacBin_GetResourceCompression,
// MacBin_ReadResourceUncompressed and MacBin_DecodeResource on files built
// by the tests' own MacBinary builder, whose resources are streams of each
// decompressor (0, 1, 2 in all its forms) under both header versions,
// written as hex from the format's description or made by the test
// encoders (support/resource_compression.hpp), and damaged ones.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/macbinary.hpp"
#include "support/resource_compression.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

constexpr uint8_t kCompressed = 0x01;  // the attribute bit
constexpr uint8_t kPurgeable = MACBIN_ATTR_PURGEABLE;

// A header for `contents` and the stream after it.
Bytes with_header(uint8_t version, int32_t decompressor, const Bytes &contents, const Bytes &stream,
                  uint8_t byte16 = 0, uint8_t byte17 = 0) {
  return vt::concat({vt::compressed_header(version, decompressor, static_cast<uint32_t>(contents.size()),
                                           byte16, byte17),
                     stream});
}

// A file of resources of one type (IDs 128, 129, ...), each with its data
// and attributes, opened for reading.
class CompressedFile {
 public:
  struct Item {
    Bytes data;
    uint8_t attributes = kCompressed | kPurgeable;
  };

  CompressedFile(const std::string &type, const std::vector<Item> &items) : type_(type) {
    vt::init_recording();
    vt::MacBinaryPlan plan;
    vt::MbType resources{type, {}};
    uint32_t id = 128;
    for (const Item &item : items) resources.resources.push_back({id++, std::nullopt, item.data, item.attributes});
    plan.types = {resources};
    path_ = dir_.file("compressed.bin");
    vt::write_file(path_, vt::build_macbinary(plan).bytes);
    channel_ = MacBin_OpenR(path_.c_str());
    EXPECT_NE(channel_, nullptr);
  }
  ~CompressedFile() {
    if (channel_ != nullptr) MacBin_Close(channel_);
  }

  MacBinChannel *channel() const { return channel_; }
  const MacBinRefEntry *ref(int32_t id) const { return &channel_->types[0].refs[id - 128]; }

  // The contents through the length call and then the bytes call; -1 and
  // nothing when either refuses.
  int32_t read(int32_t id, Bytes &contents) const {
    contents.clear();
    const int32_t length = MacBin_ReadResourceUncompressed(channel_, ref(id), nullptr, 0);
    if (length < 0) return length;
    Bytes buffer(static_cast<size_t>(length) + 8, 0xEE);  // room to see a write past the length
    const int32_t again = MacBin_ReadResourceUncompressed(channel_, ref(id), buffer.data(), length);
    EXPECT_EQ(again, length);
    for (size_t i = static_cast<size_t>(length); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE);
    buffer.resize(static_cast<size_t>(length));
    contents = buffer;
    return length;
  }
  Bytes contents(int32_t id) const {
    Bytes out;
    EXPECT_GE(read(id, out), 0) << "resource " << id;
    return out;
  }

 private:
  std::string type_;
  vt::TempDir dir_;
  std::string path_;
  MacBinChannel *channel_ = nullptr;
};

Bytes one_resource(const Bytes &data, uint8_t attributes, const std::string &type, Bytes *contents_out) {
  CompressedFile file(type, {{data, attributes}});
  Bytes contents;
  const int32_t length = file.read(128, contents);
  if (contents_out != nullptr) *contents_out = contents;
  return length < 0 ? Bytes{} : contents;
}

// ---- Decompressor 0 ---------------------------------------------------------

TEST(Decompressor0, EveryKindOfCode) {
  const Bytes stream = hex(
      "02 11 22 33 44"                          // literal of 2 words
      "11 AB CD  23"                            // remembered literal 0, then it again
      "4B 4C FD"                                // constant words 0x4B, 0x4C, 0xFD
      "FE 02 07 02"                             // byte 07, 3 times
      "FE 03 C1 23 01"                          // word 0123 (two-byte number), 2 times
      "FE 04 10 02 01 FF"                       // words from 0010 by +1, -1
      "FE 06 FF 00 01 00 00 01 05"              // longs from 00010000 (4-byte number) by +5
      "FE 00 05 02 0A 0E"                       // export table: segment 5, offsets 0A, 12
      "FE 01 40 04 01 10"                       // jump table: target 40, A5 10 step 4, 2 entries
      "FE 01 40 00 01 10 20"                    // jump table with A5 offsets given: 10, 20
      "FE 05 C0 80 01 C1 00"                    // words from 0080 by +0100
      "00 02 55 66 77 88"                       // literal of N = 2 words
      "10 01 99 AA  23 24"                      // remembered literal 1 (N = 1 word); 0 and 1 again
      "FF");
  const Bytes expected = hex(
      "11 22 33 44  AB CD  AB CD  00 00 4E BA 48 41  07 07 07  01 23 01 23"
      "00 10 00 11 00 10  00 01 00 00 00 01 00 05"
      "3F 3C 00 05 A9 F0 00 0A  3F 3C 00 05 A9 F0 00 12  3F 3C 00 05 A9 F0"
      "61 00 00 40 4E ED 00 10  61 00 00 38 4E ED 00 14"
      "61 00 00 40 4E ED 00 10  61 00 00 38 4E ED 00 20"
      "00 80 01 80  55 66 77 88  99 AA  AB CD 99 AA");
  for (uint8_t version : {uint8_t{8}, uint8_t{9}}) {
    Bytes contents;
    one_resource(with_header(version, 0, expected, stream), kCompressed, "CODE", &contents);
    EXPECT_EQ(vt::to_hex(contents), vt::to_hex(expected)) << "header version " << int(version);
  }
}

TEST(Decompressor0, ReferencesPastTheFirstForty) {
  // 0x130 remembered one-word literals (word i), then the three longer
  // reference forms and the last one-byte form.
  Bytes stream, expected;
  for (uint32_t i = 0; i < 0x130; ++i) {
    stream.push_back(0x11);
    vt::append_be16(stream, i);
    vt::append_be16(expected, i);
  }
  stream = vt::concat({stream, hex("20 00  21 05  22 01 00  22 00 03  4A  FF")});
  expected = vt::concat({expected, hex("00 28  01 2D  01 28  00 2B  00 27")});
  Bytes contents;
  one_resource(with_header(8, 0, expected, stream), kCompressed, "CODE", &contents);
  EXPECT_EQ(contents, expected);
}

TEST(Decompressor0, OddLengthDropsTheLastWordsSecondByte) {
  Bytes contents;
  one_resource(vt::concat({vt::compressed_header(8, 0, 3), hex("02 61 62 63 00 FF")}), kCompressed,
               "STR ", &contents);
  EXPECT_EQ(contents, hex("61 62 63"));
  // With an even length the extra byte is a stream that overruns.
  EXPECT_TRUE(one_resource(vt::concat({vt::compressed_header(8, 0, 2), hex("01 61 62  01 63 00 FF")}),
                           kCompressed, "STR ", nullptr)
                  .empty());
}

// ---- Decompressor 1 ---------------------------------------------------------

TEST(Decompressor1, EveryKindOfCode) {
  const Bytes stream = hex(
      "02 61 62 63"           // literal of 3 bytes
      "11 64 65  20"          // remembered literal 0 "de", then it again
      "D0 03 78 79 7A"        // literal of N = 3 bytes
      "D1 02 6B 6C  21"       // remembered literal 1 "kl" (N = 2), again
      "D5 D6 FD"              // constant words 0xD5, 0xD6, 0xFD
      "FE 02 2E 04"           // byte 2E, 5 times
      "FE 05 10 01 C1 00"     // words from 0010 by +0100
      "FE 03 C0 FF 00"        // word 00FF once
      "FF");
  const Bytes expected = hex(
      "61 62 63  64 65 64 65  78 79 7A  6B 6C 6B 6C  00 00 00 01 36 37  2E 2E 2E 2E 2E"
      "00 10 01 10  00 FF");
  for (uint8_t version : {uint8_t{8}, uint8_t{9}}) {
    Bytes contents;
    one_resource(with_header(version, 1, expected, stream), kCompressed, "STR#", &contents);
    EXPECT_EQ(vt::to_hex(contents), vt::to_hex(expected)) << "header version " << int(version);
  }
}

TEST(Decompressor1, ReferencesPastTheFirst176) {
  Bytes stream, expected;
  for (uint32_t i = 0; i < 0x1B5; ++i) {
    stream.insert(stream.end(), {0x10, static_cast<uint8_t>(i)});
    expected.push_back(static_cast<uint8_t>(i));
  }
  stream = vt::concat({stream, hex("D2 00  D3 04  D4 00 10  D4 01 02  CF  FF")});
  expected = vt::concat({expected, hex("B0  B4  C0  B2  AF")});
  Bytes contents;
  one_resource(with_header(8, 1, expected, stream), kCompressed, "STR#", &contents);
  EXPECT_EQ(contents, expected);
}

// ---- Decompressor 2 ---------------------------------------------------------

TEST(Decompressor2, DefaultTableUntaggedAndTagged) {
  struct Case {
    const char *what;
    uint8_t flags;
    Bytes stream;
    Bytes expected;
  };
  const Case cases[] = {
      {"untagged, odd length", 0x00, hex("02 B1 FF 41"), hex("4E BA A9 F0 02 20 41")},
      {"tagged", 0x02, hex("A0 02 12 34 01 56 78 9A BC"), hex("4E BA 12 34 00 08 56 78 9A BC")},
      {"tagged, a second tag after 8 words", 0x02, hex("FF 00 00 00 00 00 00 00 00  00 CA FE  41"),
       vt::concat({vt::repeat(0, 16), hex("CA FE 41")})},
  };
  for (const Case &c : cases) {
    for (uint8_t version : {uint8_t{8}, uint8_t{9}}) {
      if (version == 8 && c.flags != 0) continue;  // version 8's byte 17 is reserved (zero)
      Bytes contents;
      one_resource(with_header(version, 2, c.expected, c.stream, 0, c.flags), kCompressed, "snd ", &contents);
      EXPECT_EQ(vt::to_hex(contents), vt::to_hex(c.expected)) << c.what << ", version " << int(version);
    }
  }
}

TEST(Decompressor2, OwnTableUntaggedAndTagged) {
  Bytes contents;
  one_resource(with_header(9, 2, hex("BE EF CA FE BE EF"), hex("CA FE BE EF  01 00 01"), 0x01, 0x01),
               kCompressed, "snd ", &contents);
  EXPECT_EQ(contents, hex("BE EF CA FE BE EF"));
  one_resource(with_header(9, 2, hex("11 11 AB CD 22 22"), hex("AB CD  40 11 11 00 22 22"), 0x00, 0x03),
               kCompressed, "snd ", &contents);
  EXPECT_EQ(contents, hex("11 11 AB CD 22 22"));
}

// ---- The encoders' streams, both header versions --------------------------

Bytes text_like(size_t size) {
  const char *words[] = {"resource ", "fork ", "the ", "map ", "Finder ", "icon ", "of ", "a ",
                         "\r", "data ", "type ", "creator ", "MacBinary ", "0123 "};
  Bytes out;
  for (size_t i = 0; out.size() < size; ++i) {
    const char *word = words[(i * 7 + i / 5) % 14];
    out.insert(out.end(), word, word + std::strlen(word));
    if (i % 50 == 0) out.insert(out.end(), 20, ' ');
  }
  out.resize(size);
  return out;
}

TEST(CompressedResources, EncodedStreamsOfEveryDecompressorAndVersion) {
  for (size_t size : {0u, 1u, 2u, 33u, 4096u, 70001u}) {
    const Bytes contents = text_like(size);
    std::vector<CompressedFile::Item> items;
    for (uint8_t version : {uint8_t{8}, uint8_t{9}}) {
      for (int32_t decompressor : {0, 1, 2}) items.push_back({vt::compressed_resource(version, decompressor, contents)});
      const uint32_t length = static_cast<uint32_t>(size);
      items.push_back({vt::concat({vt::compressed_header(version, 0, length), vt::encode_bytes0_literals(contents)})});
      items.push_back({vt::concat({vt::compressed_header(version, 1, length), vt::encode_bytes1_literals(contents)})});
    }
    CompressedFile file("TEXT", items);
    for (int32_t id = 128; id < 128 + static_cast<int32_t>(items.size()); ++id) {
      EXPECT_EQ(file.contents(id), contents) << "size " << size << ", resource " << id;
      MacBinCompressionInfo info;
      ASSERT_EQ(MacBin_GetResourceCompression(file.channel(), file.ref(id), &info), 1);
      EXPECT_EQ(info.uncompressed_length, static_cast<int32_t>(size));
      EXPECT_EQ(info.stored_length, static_cast<int32_t>(items[static_cast<size_t>(id - 128)].data.size()));
      EXPECT_EQ(info.header_version, id - 128 < 5 ? 8 : 9);
    }
  }
}

// ---- Facts, plain resources, the host's two calls ---------------------------

TEST(CompressedResources, CompressionFactsAndPlainResources) {
  const Bytes stream = hex("02 61 62 63 FF");
  const Bytes compressed = vt::concat({vt::compressed_header(8, 1, 3), stream});
  CompressedFile file("STR ", {{compressed, kCompressed},               // 128
                               {hex("00 01 02 03"), kCompressed},       // 129: bit set, no signature
                               {compressed, kPurgeable},                // 130: signature, bit clear
                               {hex("A8 9F"), kCompressed},             // 131: too short for a signature
                               {vt::concat({vt::compressed_header(9, 1, 3), stream}), kCompressed}});
  MacBinCompressionInfo info;
  ASSERT_EQ(MacBin_GetResourceCompression(file.channel(), file.ref(128), &info), 1);
  EXPECT_EQ(info.decompressor, 1);
  EXPECT_EQ(info.header_version, 8);
  EXPECT_EQ(info.uncompressed_length, 3);
  EXPECT_EQ(info.stored_length, 23);
  ASSERT_EQ(MacBin_GetResourceCompression(file.channel(), file.ref(132), &info), 1);
  EXPECT_EQ(info.header_version, 9);
  for (int32_t id : {129, 130, 131}) {
    const Bytes stored = id == 129 ? hex("00 01 02 03") : id == 130 ? compressed : hex("A8 9F");
    ASSERT_EQ(MacBin_GetResourceCompression(file.channel(), file.ref(id), &info), 0) << id;
    EXPECT_EQ(info.decompressor, -1);
    EXPECT_EQ(info.header_version, 0);
    EXPECT_EQ(info.uncompressed_length, static_cast<int32_t>(stored.size()));
    EXPECT_EQ(info.stored_length, static_cast<int32_t>(stored.size()));
    EXPECT_EQ(file.contents(id), stored) << id;
  }
  EXPECT_EQ(file.contents(128), vt::bytes_of("abc"));
  // The stored bytes stay what MacBin_ReadResourceData gives.
  Bytes stored(64);
  EXPECT_EQ(MacBin_ReadResourceData(file.channel(), file.ref(128), stored.data(), 64), 23);
  stored.resize(23);
  EXPECT_EQ(stored, compressed);
  EXPECT_TRUE(vt::recorded_messages().empty());
}

TEST(CompressedResources, LengthThenBytesAcrossResourcesAndShortBuffers) {
  const Bytes a = text_like(5000), b = text_like(3001);
  CompressedFile file("TEXT", {{vt::compressed_resource(8, 0, a)}, {vt::compressed_resource(9, 2, b)}});
  MacBinChannel *ch = file.channel();
  // Interleaved: the length of one, then the other's, then the bytes.
  EXPECT_EQ(MacBin_ReadResourceUncompressed(ch, file.ref(128), nullptr, 0), 5000);
  EXPECT_EQ(MacBin_ReadResourceUncompressed(ch, file.ref(129), nullptr, 0), 3001);
  Bytes buffer(5000);
  EXPECT_EQ(MacBin_ReadResourceUncompressed(ch, file.ref(128), buffer.data(), 5000), 5000);
  EXPECT_EQ(buffer, a);
  // A short buffer gets the first bytes and the whole length.
  Bytes part(10, 0xEE);
  EXPECT_EQ(MacBin_ReadResourceUncompressed(ch, file.ref(129), part.data(), 7), 3001);
  EXPECT_EQ(Bytes(part.begin(), part.begin() + 7), Bytes(b.begin(), b.begin() + 7));
  EXPECT_EQ(part[7], 0xEE);
  EXPECT_EQ(file.contents(129), b);
  EXPECT_EQ(file.contents(128), a);
  // Capacity 0 with a buffer gives the length alone.
  EXPECT_EQ(MacBin_ReadResourceUncompressed(ch, file.ref(128), part.data(), 0), 5000);
  EXPECT_EQ(part[0], b[0]);
  EXPECT_TRUE(vt::recorded_messages().empty());
}

// ---- Damaged and hostile ----------------------------------------------------

struct Damage {
  const char *what;
  Bytes data;
  int32_t compression;  // what MacBin_GetResourceCompression says
  const char *reason;   // the end of the reported text
};

std::vector<Damage> damages() {
  using vt::compressed_header;
  return {
      {"stream ends without its end code", vt::concat({compressed_header(8, 0, 4), hex("02 61 62 63 64")}), 1,
       "compressed data ends early"},
      {"literal cut short", vt::concat({compressed_header(8, 1, 4), hex("03 61 62")}), 1,
       "compressed data ends early"},
      {"runs past the length", vt::concat({compressed_header(8, 1, 2), hex("02 61 62 63 FF")}), 1,
       "compressed data runs past the uncompressed length"},
      {"ends short of the length", vt::concat({compressed_header(8, 1, 9), hex("02 61 62 63 FF")}), 1,
       "compressed data ends short of the uncompressed length"},
      {"a literal not yet stored", vt::concat({compressed_header(8, 0, 2), hex("23 FF")}), 1,
       "reference to a literal not yet stored"},
      {"a remembered literal past those stored", vt::concat({compressed_header(8, 1, 2), hex("10 61 D4 FF FF FF")}),
       1, "reference to a literal not yet stored"},
      {"unknown extended code", vt::concat({compressed_header(8, 0, 2), hex("FE 07 00 FF")}), 1,
       "unknown extended code"},
      {"negative literal length", vt::concat({compressed_header(8, 0, 2), hex("00 BF FF 61 62 FF")}), 1,
       "negative literal length"},
      {"a run of 65536 bytes", vt::concat({compressed_header(8, 0, 100), hex("FE 02 00 FF 7F FF FF FF FF")}), 1,
       "compressed data runs past the uncompressed length"},
      {"an index past the own table", vt::concat({compressed_header(9, 2, 2, 0x00, 0x01), hex("CA FE 01")}), 1,
       "table index past the resource's own table"},
      {"a table size without a table", vt::concat({compressed_header(9, 2, 2, 0x05, 0x00), hex("00")}), 1,
       "table size given without a table of its own"},
      {"unknown flags", vt::concat({compressed_header(9, 2, 2, 0x00, 0x04), hex("00")}), 1,
       "unknown flags for decompressor 2"},
      {"own table cut short", vt::concat({compressed_header(9, 2, 2, 0x03, 0x01), hex("CA FE 01")}), 1,
       "compressed data ends early"},
      {"tagged words cut short", vt::concat({compressed_header(9, 2, 4, 0x00, 0x02), hex("00 12 34 56")}), 1,
       "compressed data ends early"},
      {"unknown decompressor", vt::concat({compressed_header(9, 3, 2), hex("00")}), 1, "unknown decompressor 3"},
      {"negative decompressor", vt::concat({compressed_header(8, -1, 2), hex("00")}), 1, "unknown decompressor -1"},
      {"length past the limit", vt::concat({compressed_header(8, 0, 0x1000000), hex("FF")}), -1,
       "uncompressed length past 16777215 bytes"},
      {"header length 19", vt::patched(vt::concat({compressed_header(8, 1, 1), hex("00 61 FF")}), 4, hex("00 13")),
       -1, "compression header length is neither 18 nor 0"},
      {"version 7", vt::patched(vt::concat({compressed_header(8, 1, 1), hex("00 61 FF")}), 6, hex("07")), -1,
       "compression header version is neither 8 nor 9"},
      {"header's compressed bit clear", vt::patched(vt::concat({compressed_header(8, 1, 1), hex("00 61 FF")}), 7,
                                                    hex("00")),
       -1, "compression header does not mark the data compressed"},
      {"header cut short", hex("A8 9F 65 72 00 12 08 01 00 00"), -1, "compression header cut short"},
  };
}

TEST(CompressedResources, DamagedOnesAreRefusedWithOneReasonOnEveryPath) {
  const std::vector<Damage> cases = damages();
  std::vector<CompressedFile::Item> items;
  for (const Damage &d : cases) items.push_back({d.data});
  CompressedFile file("ICN#", items);
  for (size_t i = 0; i < cases.size(); ++i) {
    const Damage &d = cases[i];
    const int32_t id = 128 + static_cast<int32_t>(i);
    SCOPED_TRACE(d.what);
    MacBinCompressionInfo info;
    vt::recorded_messages().clear();
    EXPECT_EQ(MacBin_GetResourceCompression(file.channel(), file.ref(id), &info), d.compression);
    if (d.compression == -1) {
      EXPECT_EQ(info.stored_length, 0);
    }
    EXPECT_TRUE(vt::recorded_messages().empty());

    Bytes buffer(64, 0xEE);
    EXPECT_EQ(MacBin_ReadResourceUncompressed(file.channel(), file.ref(id), nullptr, 0), -1);
    EXPECT_EQ(MacBin_ReadResourceUncompressed(file.channel(), file.ref(id), buffer.data(), 64), -1);
    ASSERT_EQ(vt::recorded_messages().size(), 2u);
    const vt::Message &m = vt::recorded_messages()[0];
    EXPECT_EQ(m.severity, MACBIN_ERROR);
    const std::string head = "Resource ICN# " + std::to_string(id) + " cannot be read: ";
    EXPECT_EQ(m.text.substr(0, head.size()), head) << m.text;
    EXPECT_NE(m.text.find(d.reason), std::string::npos) << m.text;
    EXPECT_EQ(m.text.find('\n'), std::string::npos);

    MacBinPixels pixels{};
    char error[128] = "";
    vt::recorded_messages().clear();
    EXPECT_EQ(MacBin_DecodeResource(file.channel(), file.ref(id), &pixels, error), 0);
    EXPECT_EQ(pixels.rgba, nullptr);
    const std::string decode_head = "ICN# " + std::to_string(id) + ": ";
    EXPECT_EQ(std::string(error).substr(0, decode_head.size()), decode_head) << error;
    if (std::string(d.reason).rfind("unknown decompressor", 0) == 0) {
      EXPECT_NE(std::string(error).find(d.reason), std::string::npos) << error;
    }
  }
}

TEST(CompressedResources, RefusedReferencesAndBuffers) {
  CompressedFile file("STR ", {{vt::concat({vt::compressed_header(8, 1, 3), hex("02 61 62 63 FF")})}});
  const MacBinRefEntry foreign = *file.ref(128);
  MacBinCompressionInfo info;
  EXPECT_EQ(MacBin_GetResourceCompression(file.channel(), &foreign, &info), -1);
  EXPECT_EQ(MacBin_GetResourceCompression(file.channel(), file.ref(128), nullptr), -1);
  EXPECT_TRUE(vt::recorded_messages().empty());
  EXPECT_EQ(MacBin_ReadResourceUncompressed(file.channel(), &foreign, nullptr, 0), -1);
  EXPECT_EQ(MacBin_ReadResourceUncompressed(file.channel(), file.ref(128), nullptr, 5), -1);
  char byte = 0;
  EXPECT_EQ(MacBin_ReadResourceUncompressed(file.channel(), file.ref(128), &byte, -1), -1);
  ASSERT_EQ(vt::recorded_messages().size(), 3u);
  EXPECT_EQ(vt::recorded_messages()[0].text, "Resource cannot be read: not one of the channel's resources");
  EXPECT_EQ(vt::recorded_messages()[1].text, "Resource STR  128 cannot be read: no buffer for its bytes");
}

TEST(CompressedResources, DataOutsideTheForkIsRefusedAsReadResourceDataRefusesIt) {
  vt::init_recording();
  vt::MacBinaryPlan plan;
  plan.types = {{"STR ", {{128, std::nullopt, vt::concat({vt::compressed_header(8, 1, 3), hex("02 61 62 63 FF")}),
                           kCompressed}}}};
  vt::BuiltMacBinary built = vt::build_macbinary(plan);
  built.patch(built.at.data[0][0], hex("00 00 FF 00"));  // a length word past the fork
  vt::TempDir dir;
  const std::string path = dir.file("cut.bin");
  vt::write_file(path, built.bytes);
  MacBinChannel *ch = MacBin_OpenR(path.c_str());
  ASSERT_NE(ch, nullptr);
  MacBinCompressionInfo info;
  EXPECT_EQ(MacBin_GetResourceCompression(ch, &ch->types[0].refs[0], &info), -1);
  EXPECT_EQ(MacBin_ReadResourceUncompressed(ch, &ch->types[0].refs[0], nullptr, 0), -1);
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].text,
            "Resource STR  128 cannot be read: its data lies outside the resource fork or cannot be read");
  MacBin_Close(ch);
}

// ---- Decoding ---------------------------------------------------------------

TEST(CompressedResources, CompressedIconsDecodeAsTheirUncompressedTwins) {
  // ICN#: a diagonal over a mask of the top half; icl4 128 takes its mask
  // from ICN# 128.
  Bytes icn;
  for (int y = 0; y < 32; ++y) {
    Bytes row(4, 0);
    row[static_cast<size_t>(y / 8)] = static_cast<uint8_t>(0x80 >> (y % 8));
    icn.insert(icn.end(), row.begin(), row.end());
  }
  for (int y = 0; y < 32; ++y) {
    const uint8_t fill = y < 16 ? 0xFF : 0x00;
    icn.insert(icn.end(), 4, fill);
  }
  Bytes icl4;
  for (int i = 0; i < 512; ++i) icl4.push_back(static_cast<uint8_t>((i * 37) & 0xFF));

  struct Twin {
    const char *type;
    int32_t decompressor;
    uint8_t version;
  };
  for (const Twin &t : {Twin{"ICN#", 0, 8}, Twin{"ICN#", 2, 9}, Twin{"icl4", 1, 8}, Twin{"icl4", 2, 9}}) {
    SCOPED_TRACE(std::string(t.type) + " by decompressor " + std::to_string(t.decompressor));
    vt::init_recording();
    const Bytes &plain = std::string(t.type) == "ICN#" ? icn : icl4;
    vt::MacBinaryPlan plan;
    // 128: compressed (and its mask compressed too), 129: plain.
    plan.types = {{"ICN#", {{128, std::nullopt, vt::compressed_resource(t.version, t.decompressor, icn), kCompressed},
                            {129, std::nullopt, icn, kPurgeable}}}};
    if (std::string(t.type) == "icl4")
      plan.types.push_back({"icl4", {{128, std::nullopt, vt::compressed_resource(t.version, t.decompressor, plain),
                                      kCompressed},
                                     {129, std::nullopt, plain, kPurgeable}}});
    vt::TempDir dir;
    const std::string path = dir.file("icons.bin");
    vt::write_file(path, vt::build_macbinary(plan).bytes);
    MacBinChannel *ch = MacBin_OpenR(path.c_str());
    ASSERT_NE(ch, nullptr);
    const MacBinTypeEntry &entry = ch->types[std::string(t.type) == "ICN#" ? 0 : 1];
    MacBinPixels compressed{}, twin{};
    char error[128] = "";
    ASSERT_EQ(MacBin_DecodeResource(ch, &entry.refs[0], &compressed, error), 1) << error;
    ASSERT_EQ(MacBin_DecodeResource(ch, &entry.refs[1], &twin, error), 1) << error;
    ASSERT_EQ(compressed.width, 32);
    ASSERT_EQ(twin.width, 32);
    ASSERT_EQ(compressed.height, twin.height);
    EXPECT_EQ(std::memcmp(compressed.rgba, twin.rgba, 32 * 32 * 4), 0);
    // The mask was applied: bottom rows clear, the top ones opaque.
    EXPECT_EQ(compressed.rgba[3], 255);
    EXPECT_EQ(compressed.rgba[(31 * 32) * 4 + 3], 0);
    MacBin_FreePixels(&compressed);
    MacBin_FreePixels(&twin);
    EXPECT_TRUE(vt::recorded_messages().empty());
    MacBin_Close(ch);
  }
}

TEST(CompressedResources, DamagedCompressedMaskRefusesTheIcon) {
  Bytes icl4(512, 0x11);
  vt::init_recording();
  vt::MacBinaryPlan plan;
  plan.types = {{"ICN#", {{128, std::nullopt, vt::concat({vt::compressed_header(8, 1, 256), hex("00 FF FF")}),
                           kCompressed}}},
                {"icl4", {{128, std::nullopt, icl4, kPurgeable}}}};
  vt::TempDir dir;
  const std::string path = dir.file("icons.bin");
  vt::write_file(path, vt::build_macbinary(plan).bytes);
  MacBinChannel *ch = MacBin_OpenR(path.c_str());
  ASSERT_NE(ch, nullptr);
  MacBinPixels pixels{};
  char error[128] = "";
  EXPECT_EQ(MacBin_DecodeResource(ch, &ch->types[1].refs[0], &pixels, error), 0);
  EXPECT_STREQ(error, "icl4 128: its mask ICN# 128: its compressed data is damaged");
  MacBin_Close(ch);
}

}  // namespace
