// The container codecs of the format layer as pure functions: the BinHex
// run-length and 6-bit coding both ways (markers, long runs, line breaks,
// damaged and truncated texts, limits), decoding what macutils' binhex
// writes, and the AppleSingle/AppleDouble header parser on hostile headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "format/apple_single.hpp"
#include "format/binhex.hpp"
#include "support/read_back.hpp"
#include "support/support.hpp"

namespace {

namespace format = varnel::format;
using format::BinHexDecoder;
using vt::Bytes;
using vt::hex;

// The text of `bytes` as the encoder writes it, without the banner.
std::string encode(const Bytes &bytes) {
  format::BinHexEncoder encoder;
  std::string text;
  text += encoder.add(bytes);
  text += encoder.finish();
  return text;
}

// The bytes of an encoded text (after the opening ':').
Bytes decode(std::string_view text, BinHexDecoder::Status expected = BinHexDecoder::Status::kEnd) {
  BinHexDecoder decoder(1 << 20);
  std::vector<uint8_t> out;
  EXPECT_EQ(decoder.add(text, out, nullptr), expected);
  return out;
}

// The 6-bit characters of coded bytes, as the tests' own table gives them.
std::string characters(const Bytes &coded) {
  static const std::string alphabet =
      "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (uint8_t byte : coded) {
    bits = (bits << 8) | byte;
    count += 8;
    while (count >= 6) {
      count -= 6;
      out += alphabet[(bits >> count) & 0x3F];
    }
  }
  if (count > 0) out += alphabet[(bits << (6 - count)) & 0x3F];
  return out;
}

// ---- Run-length coding ------------------------------------------------------------

TEST(BinHexRuns, CodedBytesOfRunsAndMarkers) {
  const struct {
    Bytes plain;
    Bytes coded;
  } cases[] = {
      {hex("41"), hex("41")},
      {hex("41 41"), hex("41 41")},                            // two: the byte twice
      {hex("41 41 41"), hex("41 90 03")},                      // three: a repeat
      {hex("90"), hex("90 00")},                               // the marker escaped
      {hex("90 90"), hex("90 00 90 00")},
      {vt::repeat(0x90, 5), hex("90 00 90 05")},               // a run of markers
      {vt::repeat(0x00, 255), hex("00 90 FF")},
      {vt::repeat(0x00, 256), hex("00 90 FF 00")},             // 255, then one more
      {vt::repeat(0x07, 600), hex("07 90 FF 07 90 FF 07 90 5A")},  // 255 + 255 + 90
      {vt::repeat(0x90, 300), hex("90 00 90 FF 90 00 90 2D")},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(vt::to_hex(c.plain).substr(0, 40));
    EXPECT_EQ(encode(c.plain), characters(c.coded) + ":\n");
    EXPECT_EQ(decode(encode(c.plain)), c.plain);
  }
}

// Bytes with no repeat and no marker, so each codes as itself: 1 to 127,
// neighbours always different.
Bytes plain_bytes(size_t count, size_t from = 0) {
  Bytes out(count);
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(1 + (from + i) * 37 % 127);
  return out;
}

// Plain bytes with a repeat or a marker spliced in at every offset: the
// encoder looks at eight bytes at a time, so each offset meets the word
// differently.  Short enough to stay on the first line.
TEST(BinHexRuns, RepeatsAndMarkersAtEveryOffset) {
  const struct {
    Bytes plain;
    Bytes coded;
  } spliced[] = {
      {hex("90"), hex("90 00")},
      {hex("90 90"), hex("90 00 90 00")},
      {hex("C3 C3"), hex("C3 C3")},
      {hex("C3 C3 C3"), hex("C3 90 03")},
      {hex("C3 C3 C3 C3 C3 C3 C3 C3 C3 C3"), hex("C3 90 0A")},
      {hex("90 90 90"), hex("90 00 90 03")},
  };
  for (const auto &s : spliced) {
    for (size_t at = 0; at <= 24; ++at) {
      SCOPED_TRACE(vt::to_hex(s.plain) + " at " + std::to_string(at));
      const Bytes before = plain_bytes(at);
      const Bytes after = plain_bytes(24 - at, 200);
      const Bytes plain = vt::concat({before, s.plain, after});
      EXPECT_EQ(encode(plain), characters(vt::concat({before, s.coded, after})) + ":\n");
      EXPECT_EQ(decode(encode(plain)), plain);
    }
  }
}

// The same characters in lines: 63 after the opening ':', then 64 a line,
// the closing ':' on a line of its own after a full one.
std::string in_lines(const std::string &characters) {
  std::string out;
  size_t column = 1;
  for (char ch : characters) {
    if (column == 64) {
      out += '\n';
      column = 0;
    }
    out += ch;
    ++column;
  }
  return out + (column == 64 ? "\n:\n" : ":\n");
}

// Runs and markers that reach across the places where a long stream is
// cut: the encoder's own blocks (16 KiB) and the pieces the writer feeds
// it (64 KiB).  Whatever the cut, the text is the stream's.
TEST(BinHexRuns, RunsAcrossCutsInTheStream) {
  const struct {
    Bytes plain;
    Bytes coded;
  } runs[] = {
      {hex("90"), hex("90 00")},
      {hex("90 90"), hex("90 00 90 00")},
      {vt::repeat(0xC3, 3), hex("C3 90 03")},
      {vt::repeat(0xC3, 255), hex("C3 90 FF")},
      {vt::repeat(0xC3, 256), hex("C3 90 FF C3")},
      {vt::repeat(0x90, 300), hex("90 00 90 FF 90 00 90 2D")},
  };
  for (const size_t cut : {size_t{16384}, size_t{65536}}) {
    for (const auto &run : runs) {
      const size_t length = run.plain.size();
      for (const size_t inside : {size_t{0}, size_t{1}, size_t{2}, length / 2, length - 1, length}) {
        SCOPED_TRACE(std::to_string(cut) + ": " + std::to_string(length) + " bytes, " +
                     std::to_string(inside) + " before the cut");
        const Bytes before = plain_bytes(cut - inside);
        const Bytes after = plain_bytes(40, 300);
        const Bytes plain = vt::concat({before, run.plain, after});
        const std::string expected = in_lines(characters(vt::concat({before, run.coded, after})));
        EXPECT_EQ(encode(plain), expected);
        // In pieces of 4096 bytes and of 1000: the cut falls inside one.
        for (const size_t piece : {size_t{4096}, size_t{1000}}) {
          format::BinHexEncoder encoder;
          std::string text;
          for (size_t at = 0; at < plain.size(); at += piece) {
            text += encoder.add(std::span<const uint8_t>(plain).subspan(at, std::min(piece, plain.size() - at)));
          }
          text += encoder.finish();
          EXPECT_EQ(text, expected) << "in pieces of " << piece;
        }
      }
    }
  }
}

TEST(BinHexRuns, RepeatCountOfOneAddsNothingAndNoByteBeforeIsRefused) {
  EXPECT_EQ(decode(characters(hex("41 90 01 42")) + ":"), hex("41 42"));
  // A repeat right after an escaped marker repeats the marker.
  EXPECT_EQ(decode(characters(hex("90 00 90 03")) + ":"), hex("90 90 90"));
  decode(characters(hex("90 05")) + ":", BinHexDecoder::Status::kBadRun);
}

// ---- Lines and characters ------------------------------------------------------------

TEST(BinHexLines, SixtyFourCharactersALineWithTheOpeningColonCounted) {
  Bytes plain(200);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 37 + 1);
  const std::string text = encode(plain);  // 267 characters in all, no runs
  ASSERT_EQ(characters(plain).size(), 267u);
  EXPECT_EQ(text.substr(0, 63), characters(plain).substr(0, 63));  // ':' comes first
  EXPECT_EQ(text[63], '\n');
  EXPECT_EQ(text.substr(64, 64), characters(plain).substr(63, 64));
  EXPECT_EQ(text[128], '\n');
  EXPECT_EQ(text.substr(text.size() - 2), ":\n");
  EXPECT_EQ(decode(text), plain);

  // A last line of exactly 64 characters: the ':' goes on a line of its own.
  Bytes varied(95);
  for (size_t i = 0; i < varied.size(); ++i) varied[i] = static_cast<uint8_t>(i * 5 + 1);
  const std::string exact = encode(varied);  // 127 characters: 63 + 64
  EXPECT_EQ(exact.substr(exact.size() - 3), "\n:\n");
}

TEST(BinHexLines, DecodingSkipsLineBreaksAndBlanks) {
  const Bytes plain = vt::bytes_of("line breaks are not data");
  std::string spread;
  for (char ch : characters(plain)) spread += std::string(1, ch) + "\r\n \t";
  EXPECT_EQ(decode(spread + ":"), plain);
  // In pieces of one character the result is the same.
  BinHexDecoder decoder(1000);
  std::vector<uint8_t> out;
  const std::string text = characters(plain) + ":";
  for (size_t i = 0; i < text.size(); ++i) decoder.add(text.substr(i, 1), out, nullptr);
  EXPECT_EQ(out, plain);
}

TEST(BinHexLines, BadCharacterAndLimit) {
  size_t consumed = 0;
  BinHexDecoder decoder(1000);
  std::vector<uint8_t> out;
  EXPECT_EQ(decoder.add("!!7!!:", out, &consumed), BinHexDecoder::Status::kBadCharacter);
  EXPECT_EQ(consumed, 2u);  // '7' is not in the alphabet
  // A run that would pass the limit stops at it.
  BinHexDecoder small(100);
  out.clear();
  EXPECT_EQ(small.add(characters(hex("41 90 FF")) + ":", out, nullptr),
            BinHexDecoder::Status::kTooLong);
  EXPECT_EQ(out.size(), 100u);
}

// ---- Whole files ---------------------------------------------------------------------

std::string binhex_text(const std::string &name, const Bytes &data, const Bytes &rsrc) {
  format::BinHexHeaderFields fields{};
  fields.name = name;
  std::memcpy(fields.type, "TEXT", 4);
  std::memcpy(fields.creator, "VARN", 4);
  fields.finder_flags = 0x0100;
  fields.data_length = static_cast<uint32_t>(data.size());
  fields.rsrc_length = static_cast<uint32_t>(rsrc.size());
  Bytes header(format::binhex_header_size(name.size()));
  EXPECT_TRUE(format::write_binhex_header(fields, header));
  const auto crc_of = [](const Bytes &bytes) {
    uint32_t crc = 0;  // CRC-16/XMODEM bit by bit: the tests' own
    for (uint8_t byte : bytes) {
      crc ^= static_cast<uint32_t>(byte) << 8;
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) & 0xFFFF : (crc << 1) & 0xFFFF;
    }
    return Bytes{static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
  };
  EXPECT_EQ(vt::slice(header, header.size() - 2, 2),
            crc_of(vt::slice(header, 0, header.size() - 2)));
  std::string text(format::BinHexEncoder::opening());
  format::BinHexEncoder encoder;
  for (const Bytes &part : {header, data, crc_of(data), rsrc, crc_of(rsrc)}) text += encoder.add(part);
  text += encoder.finish();
  return text;
}

// The reader's streaming path on text made by the format's own encoder:
// forks of every size come back whole.
TEST(BinHexFile, RoundTripWithForksOfEverySize) {
  vt::init_recording();
  vt::TempDir dir;
  for (size_t length : {0u, 1u, 2u, 3u, 255u, 70000u}) {
    SCOPED_TRACE(length);
    Bytes data(length), rsrc(length / 2 + 1, 0x90);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>((i / 300) * 0x47);
    vt::write_text(dir.file("in.hqx"), binhex_text("N", data, rsrc));
    const vt::ReadFile read = vt::read_back(dir.file("in.hqx"));
    EXPECT_EQ(read.info.format, MACBIN_FORMAT_BINHEX);
    EXPECT_EQ(read.info.crc_state, 1);
    EXPECT_EQ(read.data, data);
    EXPECT_EQ(read.rsrc, rsrc);
    EXPECT_STREQ(read.info.name, "N");
    EXPECT_STREQ(read.info.type, "TEXT");
    EXPECT_STREQ(read.info.creator, "VARN");
    EXPECT_EQ(read.info.finder_flags, 0x0100);
  }
}

// One character changed in each section of a sound text: the CRC that
// covers it is named; a damaged header refuses the file, a damaged fork
// opens it with crc_state 0.
TEST(BinHexFile, DamageIsNamed) {
  vt::init_recording();
  vt::TempDir dir;
  const std::string good = binhex_text("Sample", vt::bytes_of("hello"), vt::bytes_of("FORK"));
  const size_t start = good.find("\n:") + 2;
  const auto changed = [&](size_t at) {
    std::string text = good;
    text[start + at] = text[start + at] == '!' ? '"' : '!';
    return text;
  };
  const auto refused = [&](const std::string &text, const char *message) {
    vt::write_text(dir.file("bad.hqx"), text);
    EXPECT_EQ(MacBin_OpenR(dir.file("bad.hqx").c_str()), nullptr) << message;
    EXPECT_EQ(vt::count_messages(message), 1u) << message;
  };
  refused(changed(3), "BinHex header CRC does not match");
  refused(std::string(format::BinHexEncoder::opening()) + characters(hex("00 00 00 00")) + ":\n",
          "BinHex header names no file (name length 0 or over 63)");

  // Header: 28 bytes, 27 coded (four zeros are a run): data from character
  // 36, the resource fork from 47.
  for (const auto &[at, message] : {std::pair<size_t, const char *>{36, "BinHex data fork CRC does not match"},
                                    {47, "BinHex resource fork CRC does not match"}}) {
    vt::write_text(dir.file("fork.hqx"), changed(at));
    const vt::ReadFile read = vt::read_back(dir.file("fork.hqx"));
    EXPECT_EQ(read.info.crc_state, 0) << message;
    EXPECT_EQ(vt::count_messages(message), 1u) << message;
  }
}

// What macutils' binhex writes from a bare data file (the banner and forks
// of its own choosing).
TEST(BinHexFile, DecodesWhatMacutilsWrites) {
  const std::string binhex = vt::require_peer("binhex", "macutils");
  if (binhex.empty()) GTEST_SKIP() << "macutils not installed";
  vt::init_recording();
  vt::TempDir dir;
  Bytes data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 700 < 400 ? 0x90 : i);
  vt::write_file(dir.file("in.dat"), data);
  std::string text;
  ASSERT_EQ(vt::run_command("cd '" + dir.path().string() + "' && '" + binhex +
                                "' -d -c VARN -t TEXT in.dat > out.hqx",
                            &text),
            0)
      << text;
  const vt::ReadFile read = vt::read_back(dir.file("out.hqx"));
  EXPECT_EQ(read.info.format, MACBIN_FORMAT_BINHEX);
  EXPECT_EQ(read.data, data);
  EXPECT_TRUE(read.rsrc.empty());
  EXPECT_STREQ(read.info.name, "in.dat");
  EXPECT_STREQ(read.info.type, "TEXT");
  EXPECT_STREQ(read.info.creator, "VARN");
}

// ---- AppleSingle and AppleDouble headers ------------------------------------------------

Bytes apple_header(uint32_t magic, const std::vector<std::array<uint32_t, 3>> &entries) {
  Bytes out;
  vt::append_be32(out, magic);
  vt::append_be32(out, 0x00020000);
  out.resize(24, 0);
  vt::append_be16(out, static_cast<uint32_t>(entries.size()));
  for (const auto &e : entries)
    for (uint32_t v : e) vt::append_be32(out, v);
  return out;
}

TEST(AppleHeader, ParsesWhatTheWriterLaysOut) {
  format::AppleFields fields{};
  fields.variant = format::AppleVariant::kSingle;
  fields.name = "Sample";
  std::memcpy(fields.type, "TEXT", 4);
  std::memcpy(fields.creator, "VARN", 4);
  fields.finder_flags = 0x2100;
  fields.created = format::kSeconds1904To2000 + 5;
  fields.modified = 100;  // 1904: before what the entry holds
  fields.data_length = 5;
  fields.rsrc_length = 7;
  Bytes prefix(format::apple_prefix_size(fields.variant, 6));
  ASSERT_EQ(prefix.size(), 140u);
  ASSERT_TRUE(format::write_apple_prefix(fields, prefix));
  format::AppleFacts facts{};
  ASSERT_EQ(format::parse_apple_header(prefix, 152, &facts), format::AppleParseStatus::kOk);
  EXPECT_EQ(facts.variant, format::AppleVariant::kSingle);
  EXPECT_STREQ(facts.name, "Sample");
  EXPECT_STREQ(facts.type, "TEXT");
  EXPECT_STREQ(facts.creator, "VARN");
  EXPECT_EQ(facts.finder_flags, 0x2100);
  EXPECT_EQ(facts.created, 5);
  EXPECT_EQ(facts.modified, INT32_MIN);
  EXPECT_EQ(facts.data_offset, 140u);
  EXPECT_EQ(facts.data_length, 5u);
  EXPECT_EQ(facts.rsrc_offset, 145u);
  EXPECT_EQ(facts.rsrc_length, 7u);
  // One byte short of the resource fork's end.
  EXPECT_EQ(format::parse_apple_header(prefix, 151, &facts),
            format::AppleParseStatus::kEntryOutsideFile);

  uint32_t date = 0;
  EXPECT_TRUE(format::macintosh_date_from_apple(5, &date));
  EXPECT_EQ(date, format::kSeconds1904To2000 + 5);
  EXPECT_FALSE(format::macintosh_date_from_apple(INT32_MIN, &date));
  EXPECT_FALSE(format::macintosh_date_from_apple(0x4B6E0000, &date));  // past February 2040
}

TEST(AppleHeader, HostileHeadersAreRefused) {
  format::AppleFacts facts{};
  using S = format::AppleParseStatus;
  EXPECT_EQ(format::parse_apple_header(hex("00 05 16 00"), 4, &facts), S::kNotApple);
  EXPECT_EQ(format::parse_apple_header(apple_header(0x00051601, {}), 26, &facts), S::kNotApple);
  Bytes v3 = apple_header(0x00051600, {});
  v3[5] = 3;
  EXPECT_EQ(format::parse_apple_header(v3, 26, &facts), S::kUnknownVersion);
  // 65535 entries claimed, two present.
  Bytes many = apple_header(0x00051607, {{2, 50, 0}, {9, 50, 0}});
  many[24] = 0xFF;
  many[25] = 0xFF;
  EXPECT_EQ(format::parse_apple_header(many, 1 << 30, &facts), S::kEntriesTruncated);
  // offset + length passes 32 bits: outside a 4 GiB file, not wrapped into it.
  EXPECT_EQ(format::parse_apple_header(apple_header(0x00051600, {{1, 0xFFFFFFF0u, 0x20}}), 1ull << 32,
                                       &facts),
            S::kEntryOutsideFile);
  EXPECT_EQ(format::parse_apple_header(apple_header(0x00051600, {{2, 50, 1}, {2, 51, 1}}), 60,
                                       &facts),
            S::kDuplicateEntry);
  // A name entry beyond the bytes given (though inside the file).
  EXPECT_EQ(format::parse_apple_header(apple_header(0x00051600, {{3, 100, 5}}), 200, &facts),
            S::kEntryNotInHeader);
  // A data fork past the 31 bits the other formats can describe.
  EXPECT_EQ(format::parse_apple_header(apple_header(0x00051600, {{1, 38, 0x80000000u}}),
                                       1ull << 40, &facts),
            S::kForkTooLong);
  // Unknown entries are skipped; a 100-byte name is cut to 63.
  Bytes named = apple_header(0x00051600, {{3, 50, 100}, {42, 0, 10}});
  named.resize(150, 'n');
  ASSERT_EQ(format::parse_apple_header(named, 150, &facts), S::kOk);
  EXPECT_EQ(facts.name_length, 63);
  EXPECT_FALSE(facts.has_data_fork);
}

}  // namespace
