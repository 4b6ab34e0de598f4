// The tool's resource lines, run as a user runs them (support/tool_run.hpp):
// refusals that name their cause and quote their line once, texts stored
// in MacRoman, resources that do not fit, icon masks from alpha channels
// and mask images, and the bundle's icon check.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "support/tool_run.hpp"

namespace {

using namespace cli;

using vt::Bytes;
using vt::hex;
namespace fs = std::filesystem;

std::string repeated(const std::string &text, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += text;
  return out;
}

size_t count_of(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// How a refusal quotes its line: whole, or its first 80 bytes (whole UTF-8
// characters) and its length in characters.
std::string quote_of(const std::string &line) {
  if (line.size() <= 100) return "(in '" + line + "')\n";
  size_t cut = 80;
  while ((static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
  size_t characters = 0;
  for (const char c : line) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return "(in '" + line.substr(0, cut) + "...', " + std::to_string(characters) + " characters)\n";
}

// One error line on standard error, starting at "ORIGIN: error: MESSAGE"
// and ending with the quoted line; none of the library's own texts.
void expect_one_refusal(const ToolRun &run, const std::string &origin, const std::string &message,
                        const std::string &line) {
  expect_failure(run, 1, origin + ": error: " + message);
  EXPECT_EQ(count_of(run.err, "error:"), 1u) << run;
  EXPECT_NE(run.err.find(quote_of(line)), std::string::npos) << quote_of(line) << run;
  for (const char *library_text : {"ERROR in line", "Syntax error in line", "not inserted", "unknown)"})
    EXPECT_EQ(run.err.find(library_text), std::string::npos) << library_text << "\n" << run;
}

// ---- Refusals -----------------------------------------------------------------

TEST(CliLines, EachMalformedLineIsRefusedOnceAndQuoted) {
  vt::TempDir dir;
  vt::write_text(dir.file("a.txt"), "alpha");
  vt::write_file(dir.file("small.png"), png(16, 16, 0, Bytes(256, 0)));
  const std::string long_name(300, 'f');
  const std::pair<std::string, std::string> cases[] = {
      {"garbage", "not a resource line: 'TYPE ID NAME PARAMETERS' or 'BNDL OWNER-TEXT' expected"},
      {"TEXT 1", "missing name: a resource line is 'TYPE ID NAME PARAMETERS' (\"\" for no name)"},
      {"TEXT 1 \"unclosed a.txt",
       "unclosed quote: the '\"' at character 8 has no closing '\"', so the rest of the line would become one "
       "word"},
      // Characters, not bytes: the é before the quote is one.
      {"TEXT 1 é\"x a.txt", "unclosed quote: the '\"' at character 9"},
      {"PICT 1 p \"my picture.png 72", "unclosed quote in the parameters: the '\"' at character 1"},
      {"TEXT 1 x", "missing parameter: after its name, TEXT wants a file whose contents become the resource "
                   "(or ~TEXT for a Pascal string)"},
      {"ICN# 128 \"\"", "missing parameter: after its name, ICN# wants an image file (PNG, netpbm or CT) and an "
                        "optional mask image"},
      {"PICT 1 p", "missing parameter: after its name, PICT wants 'IMAGE RESOLUTION [MASK]'"},
      {"TEXT one x a.txt", "resource ID 'one' must be a whole number from -32768 to 32767"},
      {"TEXTS 1 x a.txt", "resource type 'TEXTS' must be 1 to 4 characters"},
      {"TEXT 1 x " + long_name,
       "line too long: the library holds at most 256 bytes of a line's words and parameters (one more for "
       "each), this line needs 310; shorten the name or the file names"},
      {"FREF 128 \"\" ~TEXT 128", "FREF builds its data from 'TYPE ICON-ID'"},
      // Failed images: the handler's reason, and not the library's "not inserted" after it.
      {"ICN# 128 \"\" missing.png", "missing.png: no such image file"},
      {"icl8 128 \"\" small.png", "small.png: the icon must be 32x32 pixels, the image is 16x16"},
      {"icl8 128 \"\" small.png small.png", "icl8 takes one image file (only ICN# and ics# take a mask image)"},
      {"ics# 128 \"\" small.png small.png small.png", "ics# takes an image file and at most one mask image"},
      {"PICT 1 p missing.png 72", "missing.png: cannot open image file"},
      {"TEXT 1 x missing.txt", "missing.txt: no such file"},
  };
  for (const auto &[line, message] : cases) {
    SCOPED_TRACE(line);
    const ToolRun run = pack(dir.path(), "-o out.bin" + lines_option({"TEXT 100 ok a.txt", line}));
    expect_one_refusal(run, "-e #2", message, line);
    EXPECT_FALSE(fs::exists(dir.file("out.bin")));
  }
  // A line past 511 characters: quoted shortened, with its length.
  const std::string very_long = "TEXT 1 " + std::string(520, 'x');
  const ToolRun run = pack(dir.path(), "-o out.bin" + lines_option({very_long}));
  expect_failure(run, 1, "-e #1: error: line longer than 511 characters (in 'TEXT 1 " + std::string(73, 'x') +
                             "...', 527 characters)\n");
  EXPECT_EQ(count_of(run.err, "error:"), 1u) << run;
  // A script line is named by its file and number.
  vt::write_text(dir.file("script.rsrc"), "; comment\n\nTEXT 1 x a.txt\n  JUNK\n");
  expect_one_refusal(pack(dir.path(), "-o out.bin script.rsrc"), "script.rsrc:4", "not a resource line", "JUNK");
}

// The words go to the library quoted as it splits them: blanks, quotes and
// backslashes in names come through unchanged.
TEST(CliLines, NamesWithBlanksQuotesAndBackslashesAreKept) {
  vt::TempDir dir;
  vt::write_text(dir.file("a.txt"), "alpha");
  const ToolRun run = pack(dir.path(), "-o out.bin" + lines_option({"TEXT 1 \"a \\\"b\\\" c\" a.txt",
                                                                     "TEXT 2 back\\ a.txt", "TEXT 3 \"\" a.txt"}));
  ASSERT_EQ(run.status, 0) << run;
  const vt::ParsedMacBinary file = vt::parse_macbinary_file(dir.file("out.bin"));
  EXPECT_EQ(file.get("TEXT", 1).name, "a \"b\" c");
  EXPECT_EQ(file.get("TEXT", 2).name, "back\\");
  EXPECT_FALSE(file.get("TEXT", 3).name.has_value());
}

// ---- Resources that do not fit ----------------------------------------------

// The resource data a map can address ends at 16 MB: the resource that
// crosses it is named with its size and the limit, and a picture is told
// how to shrink; the owner resource that cannot follow adds nothing.
TEST(CliLines, ResourceThatOverflowsTheForkIsNamed) {
  vt::TempDir dir;
  constexpr size_t kLimit = 16777215;
  vt::write_file(dir.file("big.dat"), Bytes(kLimit - 1000, 0x55));
  Bytes noise(64 * 64);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>((i * 7919u) >> 3);
  vt::write_file(dir.file("noise.png"), png(64, 64, 0, noise));
  vt::write_file(dir.file("small.dat"), Bytes(2000, 1));

  ToolRun run = pack(dir.path(), "-o out.bin" + lines_option({"TEXT 1 x big.dat", "PICT 2 p noise.png 72",
                                                              "TEXT 3 x small.dat"}));
  expect_failure(run, 1, "-e #2: error: PICT 2 takes ");
  EXPECT_NE(run.err.find("bytes; a MacBinary resource map addresses at most 16777215: a lower resolution (the "
                         "number after the image file) makes the picture smaller (in 'PICT 2 p noise.png 72')"),
            std::string::npos)
      << run;
  EXPECT_EQ(count_of(run.err, "error:"), 1u) << run;  // nothing about line 3 or the owner resource
  EXPECT_EQ(run.err.find("not inserted"), std::string::npos) << run;
  EXPECT_FALSE(fs::exists(dir.file("out.bin")));

  // Any other type: its size and the limit, no resolution hint.
  run = pack(dir.path(), "-o out.bin" + lines_option({"TEXT 1 x big.dat", "TEXT 2 x small.dat"}));
  expect_failure(run, 1,
                 "-e #2: error: TEXT 2 takes 2000 bytes, which brings the resource data to " +
                     std::to_string(kLimit - 1000 + 4 + 2000 + 4) +
                     " bytes; a MacBinary resource map addresses at most 16777215 (in 'TEXT 2 x small.dat')\n");
  EXPECT_EQ(run.err.find("resolution"), std::string::npos) << run;
  EXPECT_EQ(run.err.find("not inserted"), std::string::npos) << run;

  // Bytes given as they are: refused before they go in, in the same words,
  // and the lines after them are not tried.
  run = pack(dir.path(), "-o out.bin" + lines_option({"TEXT 1 x big.dat", "DATA 2 \"\" --raw small.dat",
                                                      "TEXT 3 x small.dat"}));
  expect_failure(run, 1,
                 "-e #2: error: DATA 2 takes 2000 bytes, which brings the resource data to " +
                     std::to_string(kLimit - 1000 + 4 + 2000 + 4) +
                     " bytes; a MacBinary resource map addresses at most 16777215 (in 'DATA 2 \"\" --raw small.dat')\n");
  EXPECT_EQ(count_of(run.err, "error:"), 1u) << run;
  EXPECT_EQ(run.err.find("not inserted"), std::string::npos) << run;

  // Exactly at the limit the owner resource still starts within reach.
  vt::write_file(dir.file("fits.dat"), Bytes(kLimit - 4, 0));
  run = pack(dir.path(), "-o out.bin -q" + lines_option({"TEXT 1 x fits.dat"}));
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(vt::parse_macbinary_file(dir.file("out.bin")).get("VARN", 0).data_offset, kLimit);
}

// ---- Texts in MacRoman --------------------------------------------------------

TEST(CliLines, TextsAreStoredInMacRomanAndListedAsUtf8) {
  vt::TempDir dir;
  vt::write_text(dir.file("résumé.txt"), "Résumé");  // a data file keeps its bytes
  const ToolRun run = pack(dir.path(), "-o out.bin" + lines_option({
                                                         "TEXT 128 \"Résumé – 1\" résumé.txt",
                                                         "vers 1 \"\" 1.00 F 0 0/1.0ß/Version 1.0 © Café",
                                                         "STR 2 ∞ ~Grüße • €",
                                                         "BNDL \"Fait à Paris\"",
                                                     }));
  ASSERT_EQ(run.status, 0) << run;
  const vt::ParsedMacBinary file = vt::parse_macbinary_file(dir.file("out.bin"));
  const vt::ParsedResource &text = file.get("TEXT", 128);
  EXPECT_EQ(vt::to_hex(vt::bytes_of(text.name.value_or(""))), vt::to_hex(hex("52 8E 73 75 6D 8E 20 D0 20 31")));
  EXPECT_EQ(vt::to_hex(text.data), vt::to_hex(hex("52 C3A9 73 75 6D C3A9")));
  EXPECT_EQ(vt::to_hex(file.get("vers", 1).data),
            vt::to_hex(hex("01 00 80 00 0000  04 312E30A7  12 56657273696F6E 20 312E30 20 A9 20 4361668E")));
  const vt::ParsedResource &string = file.get("STR ", 2);
  EXPECT_EQ(vt::to_hex(vt::bytes_of(string.name.value_or(""))), vt::to_hex(hex("B0")));
  EXPECT_EQ(vt::to_hex(string.data), vt::to_hex(hex("09 47 72 9F A7 65 20 A5 20 DB")));
  EXPECT_EQ(vt::to_hex(file.get("VARN", 0).data), vt::to_hex(hex("0C 46616974 20 88 20 5061726973")));

  const ToolRun listed = varnel(dir.path(), "list out.bin");
  ASSERT_EQ(listed.status, 0) << listed;
  for (const char *shown : {"\"Résumé – 1\"", "short \"1.0ß\", long \"Version 1.0 © Café\"", "\"∞\"",
                            "owner resource \"Fait à Paris\""})
    EXPECT_NE(listed.out.find(shown), std::string::npos) << shown << "\n" << listed;
}

// What MacRoman cannot hold is refused, naming the character and the line;
// the limits count the Macintosh characters stored, not UTF-8 bytes.
TEST(CliLines, TextsMacRomanLacksAreRefused) {
  vt::TempDir dir;
  vt::write_text(dir.file("a.txt"), "alpha");
  const std::pair<std::string, std::string> cases[] = {
      {"TEXT 1 \"Tick ✓\" a.txt", "resource name 'Tick ✓': '✓' (U+2713) is not a Macintosh (MacRoman) character"},
      {"vers 1 \"\" 1.00 F 0 0/1.0/Version β",
       "vers text '1.00 F 0 0/1.0/Version β': 'β' (U+03B2) is not a Macintosh (MacRoman) character"},
      {"BNDL Pfeil→", "owner text 'Pfeil→': '→' (U+2192) is not a Macintosh (MacRoman) character"},
      {"STR 1 x ~日本", "text '日本': '日' (U+65E5) is not a Macintosh (MacRoman) character"},
      {"TEXT 1 \"Caf\xE9\" a.txt", "resource name 'Caf\xE9': byte 0xE9 at position 4 is not UTF-8"},
      {"TEXT 1 \"" + repeated("é", 128) + "\" a.txt", "resource name longer than 127 Macintosh characters (128)"},
      {"BNDL " + repeated("é", 100), "the owner text must be at most 99 Macintosh characters (this one has 100)"},
  };
  for (const auto &[line, message] : cases) {
    SCOPED_TRACE(line);
    const ToolRun run = pack(dir.path(), "-o out.bin" + lines_option({line}));
    expect_one_refusal(run, "-e #1", message, line);
  }
  // At the limits, in Macintosh characters: 127 for a name, 99 for the owner text.
  const ToolRun run = pack(dir.path(), "-o out.bin" + lines_option({"TEXT 1 \"" + repeated("é", 127) +
                                                                     "\" a.txt",
                                                                 "BNDL " + repeated("é", 99)}));
  ASSERT_EQ(run.status, 0) << run;
  const vt::ParsedMacBinary file = vt::parse_macbinary_file(dir.file("out.bin"));
  EXPECT_EQ(file.get("TEXT", 1).name, std::string(127, '\x8E'));
  EXPECT_EQ(vt::to_hex(file.get("VARN", 0).data), vt::to_hex(vt::concat({{99}, vt::repeat(0x8E, 99)})));
}

// ---- Icon masks -----------------------------------------------------------------

// ICN# data: the icon's rows, then the mask's, 4 bytes (32 pixels) a row.
std::string icn_rows(const char *first, const char *second, const char *third, const char *rest) {
  std::string out = std::string(first) + std::string(second) + std::string(third);
  for (int row = 3; row < 32; ++row) out += rest;
  return out;
}

TEST(CliLines, IconMasksComeFromTheAlphaChannel) {
  vt::TempDir dir;
  // 32 x 32 RGBA, black on the left half, white on the right.  Alpha: row 0
  // opaque, row 1 transparent, row 2 alternating 127 (outside: below one
  // half) and 128 (inside), the other rows opaque in the first 8 columns.
  Bytes rgba;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const uint8_t level = x < 16 ? 0 : 255;
      const uint8_t alpha = y == 0 ? 255 : y == 1 ? 0 : y == 2 ? (x % 2 == 0 ? 127 : 128) : (x < 8 ? 255 : 0);
      rgba = vt::concat({rgba, {level, level, level, alpha}});
    }
  }
  vt::write_file(dir.file("icon.png"), png(32, 32, 6, rgba));
  // 16 x 16 grey + alpha: black, opaque from column 4 on in the lower half.
  Bytes grey_alpha;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) grey_alpha = vt::concat({grey_alpha, {0, static_cast<uint8_t>(y >= 8 && x >= 4 ? 255 : 0)}});
  vt::write_file(dir.file("small.png"), png(16, 16, 4, grey_alpha));
  // No alpha: the whole square stays the icon.
  vt::write_file(dir.file("opaque.png"), png(32, 32, 0, Bytes(32 * 32, 0)));

  const ToolRun run = pack(dir.path(), "-o icons.bin" + lines_option({"ICN# 128 \"\" icon.png", "ics# 128 \"\" small.png",
                                                                      "ICN# 129 \"\" opaque.png"}));
  ASSERT_EQ(run.status, 0) << run;
  const vt::ParsedMacBinary file = vt::parse_macbinary_file(dir.file("icons.bin"));
  // Transparent pixels count as white in the icon bits, as they always did.
  EXPECT_EQ(vt::to_hex(file.get("ICN#", 128).data),
            vt::to_hex(vt::concat({hex(icn_rows("FFFF0000", "00000000", "55550000", "FF000000")),
                                   hex(icn_rows("FFFFFFFF", "00000000", "55555555", "FF000000"))})));
  const Bytes small_rows = vt::concat({times(hex("0000"), 8), times(hex("0FFF"), 8)});
  EXPECT_EQ(vt::to_hex(file.get("ics#", 128).data), vt::to_hex(vt::concat({small_rows, small_rows})));
  EXPECT_EQ(vt::to_hex(file.get("ICN#", 129).data), vt::to_hex(vt::repeat(0xFF, 256)));
}

TEST(CliLines, IconMasksFromASeparateImage) {
  vt::TempDir dir;
  vt::write_file(dir.file("black.png"), png(32, 32, 0, Bytes(32 * 32, 0)));
  // PBM: black is inside; the upper half here.
  vt::write_file(dir.file("mask.pbm"),
                 vt::concat({vt::bytes_of("P4\n32 32\n"), vt::repeat(0xFF, 64), vt::repeat(0x00, 64)}));
  // With alpha, opaque is inside whatever the colour: the left half, white.
  Bytes rgba;
  for (int i = 0; i < 32 * 32; ++i) rgba = vt::concat({rgba, {255, 255, 255, static_cast<uint8_t>(i % 32 < 16 ? 255 : 0)}});
  vt::write_file(dir.file("mask-alpha.png"), png(32, 32, 6, rgba));
  // Grey without alpha: dark is inside; columns 0 to 7, in every row.
  Bytes grey(32 * 32, 200);
  for (size_t i = 0; i < grey.size(); ++i)
    if (i % 32 < 8) grey[i] = 100;
  vt::write_file(dir.file("mask-grey.png"), png(32, 32, 0, grey));
  // The same mask as a CT made by `varnel ct --palette mono` (dark = non-zero).
  ToolRun run = varnel(dir.path(), "ct mask-grey.png mask.ct --palette mono");
  ASSERT_EQ(run.status, 0) << run;
  vt::write_file(dir.file("small.pbm"), vt::concat({vt::bytes_of("P4\n16 16\n"), vt::repeat(0xFF, 32)}));

  run = pack(dir.path(), "-o icons.bin" + lines_option({"ICN# 1 \"\" black.png mask.pbm",
                                                        "ICN# 2 \"\" black.png mask-alpha.png",
                                                        "ICN# 3 \"\" black.png mask-grey.png",
                                                        "ICN# 4 \"\" black.png \"mask.ct\""}));
  ASSERT_EQ(run.status, 0) << run;
  const vt::ParsedMacBinary file = vt::parse_macbinary_file(dir.file("icons.bin"));
  const Bytes icon = vt::repeat(0xFF, 128);
  EXPECT_EQ(vt::to_hex(file.get("ICN#", 1).data),
            vt::to_hex(vt::concat({icon, vt::repeat(0xFF, 64), vt::repeat(0x00, 64)})));
  EXPECT_EQ(vt::to_hex(file.get("ICN#", 2).data), vt::to_hex(vt::concat({icon, times(hex("FFFF0000"), 32)})));
  EXPECT_EQ(vt::to_hex(file.get("ICN#", 3).data), vt::to_hex(vt::concat({icon, times(hex("FF000000"), 32)})));
  EXPECT_EQ(vt::to_hex(file.get("ICN#", 4).data), vt::to_hex(file.get("ICN#", 3).data));

  // A mask of the wrong size is refused as the icon is.
  run = pack(dir.path(), "-o bad.bin" + lines_option({"ICN# 1 \"\" black.png small.pbm"}));
  expect_one_refusal(run, "-e #1", "small.pbm: the mask must be 32x32 pixels, the image is 16x16",
                     "ICN# 1 \"\" black.png small.pbm");
  run = pack(dir.path(), "-o bad.bin" + lines_option({"ICN# 1 \"\" black.png nomask.png"}));
  expect_one_refusal(run, "-e #1", "nomask.png: no such image file", "ICN# 1 \"\" black.png nomask.png");
}

// Icons of every family type from one image whose alpha is partial and
// whose transparent pixels have colours of their own, and an ICN# with a
// separate mask image: colour folded over white by alpha, the nearest
// system colour, the mask from alpha 128 and up or from a dark mask pixel.
// The bytes are those the tool has always written for these images.
TEST(CliLines, IconBytesFromPartialAlphaAndMaskImage) {
  vt::TempDir dir;
  const auto pattern = [](int side) {
    Bytes rgba;
    constexpr uint8_t kAlphas[] = {0, 60, 127, 128, 200, 255};
    for (int i = 0; i < side * side; ++i)
      rgba = vt::concat({rgba, {static_cast<uint8_t>(i * 37), static_cast<uint8_t>(i * 91),
                                static_cast<uint8_t>(i * 13 + 40), kAlphas[i % 6]}});
    return rgba;
  };
  vt::write_file(dir.file("icon16.png"), png(16, 16, 6, pattern(16)));
  vt::write_file(dir.file("icon32.png"), png(32, 32, 6, pattern(32)));
  Bytes grey(32 * 32);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i * 53);
  vt::write_file(dir.file("mask32.png"), png(32, 32, 0, grey));
  const ToolRun run = pack(dir.path(), "-o icons.bin" + lines_option({"ics# 1 \"\" icon16.png",
      "ics8 1 \"\" icon16.png", "ics4 1 \"\" icon16.png", "ICN# 2 \"\" icon32.png mask32.png",
      "icl8 2 \"\" icon32.png"}));
  ASSERT_EQ(run.status, 0) << run;
  const vt::ParsedMacBinary file = vt::parse_macbinary_file(dir.file("icons.bin"));
  struct Golden {
    const char *type;
    int id;
    const char *data;
  };
  const Golden goldens[] = {
      {"ics#", 1,
       "00 00 41 04 10 00 00 00 41 0C 00 00 00 10 41 04 00 00 00 10 41 04 00 00 04 10 43 00 00 00 04 10 "
       "1C 71 C7 1C 71 C7 1C 71 C7 1C 71 C7 1C 71 C7 1C 71 C7 1C 71 C7 1C 71 C7 1C 71 C7 1C 71 C7 1C 71"},
      {"ics8", 1,
       "00 2B 50 32 57 2D 00 F6 49 55 55 49 00 F5 48 54 72 DC 00 01 0E 50 75 87 00 F5 31 07 92 A4 00 2A "
       "31 F6 18 C6 00 2B 2C 26 39 10 00 2B F7 25 38 2C 00 F6 4F 55 55 4F 00 F5 4A 56 52 4C 00 01 0E F8 "
       "74 87 00 F5 0D 07 6D A9 00 F5 30 06 1C A7 00 2B 2C 2C 39 0F 00 F6 F7 25 37 32 00 2A 4E 30 54 2A "
       "00 2B 4A 56 57 4C 00 F5 49 55 74 8C 00 F5 0D 4F 73 85 00 F5 32 08 93 A6 00 2B F7 2B 1A C8 00 F6 "
       "2B F6 37 0D 00 2A 4E 26 3A 2E 00 2B 50 F8 56 51 00 F5 49 55 55 49 00 F5 0C 54 72 8F 00 01 0E 08 "
       "6F FC 00 F5 31 07 1A A4 00 2A 2B F6 36 C6 00 2B 2C 26 39 34 00 2B 4F 31 56 2C 00 F6 49 55 55 4F "
       "00 F5 4A 56 75 8E 00 01 0E 50 74 87 00 F5 31 07 91 A9 00 2A 30 F5 1C CB 00 2B 2C 26 39 0F 00 F6 "
       "4F 25 37 F7 00 2A 4E 54 54 4E 00 07 4A 56 57 4C 00 F5 0D 55 74 8C 00 F5 0D 06 73 A8 00 25 32 08"},
      {"ics4", 1,
       "0C CC DC 0C CC CC 00 CC CA 00 CD DE 00 CC 75 0C C0 47 0C CC B2 0C CC DC 0C CC CC 00 CD B1 00 CC "
       "D5 00 CC 75 00 C0 29 0C CC 42 0C CC CC 0C CC CC 0C CD DB 00 CC D5 00 CC 75 00 CC 8E 0C CC 4E 0C "
       "CC CC 0C CC B1 0C CC DC 00 CC CC 00 CC CA 00 CC 8E 00 CC 45 0C C0 C7 0C CC B2 0C CC DC 0C CC CC "
       "00 CD DA 00 CC DE 00 CC 75 0C C0 29 0C CC 42 0C CC CC 0C CC CC 00 CD DD 00 CC D5 00 C0 75 00 CC"},
      {"ICN#", 2,
       "00 00 41 04 10 00 00 00 41 0C 00 00 00 10 41 04 00 00 00 10 41 04 00 00 04 10 43 00 00 00 04 10 "
       "C1 00 00 01 04 10 40 00 00 01 04 10 C0 00 00 41 04 30 00 00 00 41 04 10 00 00 10 41 04 20 00 00 "
       "10 41 0C 00 00 00 10 43 00 00 00 04 10 41 00 00 00 04 10 40 00 00 01 04 10 40 00 00 01 04 30 00 "
       "00 00 41 04 10 00 00 00 41 0C 00 00 00 10 41 04 00 00 00 10 41 04 00 00 04 10 43 00 00 00 04 10 "
       "E7 39 8C 67 39 CC 63 39 CE 63 19 CE 73 18 CE 73 18 C6 73 98 C6 33 9C C6 31 9C E6 31 8C E7 31 8C "
       "E7 39 8C 67 39 CC 63 39 CE 63 19 CE 73 18 CE 73 18 C6 73 98 C6 33 9C C6 31 9C E6 31 8C E7 31 8C "
       "E7 39 8C 67 39 CC 63 39 CE 63 19 CE 73 18 CE 73 18 C6 73 98 C6 33 9C C6 31 9C E6 31 8C E7 31 8C "
       "E7 39 8C 67 39 CC 63 39 CE 63 19 CE 73 18 CE 73 18 C6 73 98 C6 33 9C C6 31 9C E6 31 8C E7 31 8C"},
  };
  for (const Golden &golden : goldens)
    EXPECT_EQ(vt::to_hex(file.get(golden.type, golden.id).data), vt::to_hex(hex(golden.data))) << golden.type;
  // The 32-pixel colour icons of the same pattern map each pixel alike.
  EXPECT_EQ(file.get("icl8", 2).data.size(), 1024u);
  EXPECT_EQ(vt::to_hex(Bytes(file.get("icl8", 2).data.begin(), file.get("icl8", 2).data.begin() + 16)),
            vt::to_hex(hex("00 2B 50 32 57 2D 00 F6 49 55 55 49 00 F5 48 54")));
}

// CT images hold the samples as stored: 8-bit indices as they are, 4-bit
// ones from the high nibbles two to a byte, and for ICN# non-zero black.
TEST(CliLines, IconBytesFromCtImages) {
  vt::TempDir dir;
  Bytes ct(512 + 16 * 16, 0);
  ct[4] = 1;     // one channel
  ct[32] = 16;   // rows
  ct[36] = 16;   // width
  ct[69] = 2;    // data at 512
  for (size_t i = 0; i < 256; ++i) ct[512 + i] = static_cast<uint8_t>(i * 7);
  vt::write_file(dir.file("icon.ct"), ct);
  const ToolRun run = pack(dir.path(), "-o icons.bin" + lines_option({"ics8 1 \"\" icon.ct", "ics4 1 \"\" icon.ct",
                                                                      "ics# 1 \"\" icon.ct"}));
  ASSERT_EQ(run.status, 0) << run;
  const vt::ParsedMacBinary file = vt::parse_macbinary_file(dir.file("icons.bin"));
  EXPECT_EQ(file.get("ics8", 1).data, Bytes(ct.begin() + 512, ct.end()));
  // Samples 00 07 0E 15 23 2A: high nibbles 0 0 0 1 1 2 ...
  EXPECT_EQ(vt::to_hex(Bytes(file.get("ics4", 1).data.begin(), file.get("ics4", 1).data.begin() + 4)),
            vt::to_hex(hex("00 01 12 23")));
  // Only sample 0 is white: the first pixel clear, all others black; the mask full.
  EXPECT_EQ(vt::to_hex(file.get("ics#", 1).data),
            vt::to_hex(vt::concat({hex("7FFF"), vt::repeat(0xFF, 30), vt::repeat(0xFF, 32)})));
}

// ---- The bundle's icons ---------------------------------------------------------

TEST(CliLines, BundleIconsTheFileLacksAreWarnedAbout) {
  vt::TempDir dir;
  vt::write_file(dir.file("icon.png"), png(32, 32, 0, Bytes(32 * 32, 0)));
  struct Case {
    std::vector<std::string> lines;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      // The library gives them as it builds the bundle, naming the FREF.
      {{"FREF 128 \"\" TEXT 128"},
       {"varnel: warning: FREF 128 gives 'TEXT' files the icon family 128, but the file has no ICN# 128: the "
        "bundle lists ICN# resources, and the Finder shows a generic icon\n"}},
      {{"icl8 130 \"\" icon.png", "FREF 129 \"\" APPL 130"},
       {"varnel: warning: FREF 129 gives 'APPL' files the icon family 130, but the file has no ICN# 130 (only "
        "icl8)"}},
      {{"FREF 128 \"\" TEXT 128", "ICN# 128 \"\" icon.png", "ICN# 129 \"\" icon.png", "icl8 129 \"\" icon.png"},
       {"varnel: warning: icon family 129 (ICN#, icl8) is not in the bundle: no FREF names icon ID 129"}},
      // Complete, or without a bundle: nothing to say.
      {{"FREF 128 \"\" TEXT 128", "ICN# 128 \"\" icon.png", "icl8 128 \"\" icon.png"}, {}},
      {{"ICN# 129 \"\" icon.png"}, {}},
      // Without Finder resources no bundle is built, and nothing is said.
      {{"%finder-resources off", "FREF 128 \"\" TEXT 128"}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.lines.front());
    const ToolRun run = pack(dir.path(), "-o out.bin" + lines_option(c.lines));
    ASSERT_EQ(run.status, 0) << run;  // warnings only: the file is written
    EXPECT_EQ(count_of(run.err, "warning:"), c.warnings.size()) << run;
    for (const std::string &warning : c.warnings) EXPECT_NE(run.err.find(warning), std::string::npos) << warning << "\n" << run;
  }
}

}  // namespace
