// The varnel tool, run as a user runs it (support/tool_run.hpp): usage,
// packing, listing, extraction and rendering.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "support/tool_run.hpp"

namespace {

using namespace cli;

using vt::Bytes;
using vt::hex;
using vt::slice;
using Json = nlohmann::json;
namespace fs = std::filesystem;

// ---- Usage ------------------------------------------------------------------

TEST(CliUsage, VersionAndHelpGoToStandardOutput) {
  vt::TempDir dir;
  const ToolRun version = varnel(dir.path(), "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("varnel ") + VARNEL_VERSION_STRING + "\n");
  EXPECT_EQ(version.err, "");
  for (const std::string command : {"pack", "list", "extract", "render", "ct", ""}) {
    const ToolRun help = varnel(dir.path(), command + " --help");
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_EQ(help.err, "") << command;
    EXPECT_NE(help.out.find(command.empty() ? "render" : "Usage: varnel " + command), std::string::npos)
        << help;
    if (!command.empty()) {
      EXPECT_NE(help.out.find("Exit status"), std::string::npos) << help;
    }
  }
}

TEST(CliUsage, MistakesExitWithStatus2AndWriteNothing) {
  vt::TempDir dir;
  vt::write_text(dir.file("script"), "");
  const std::string packing = "pack -o out.bin --creator VARN --type TEXT ";
  const std::pair<std::string, std::string> cases[] = {
      {"", "no command given"},
      {"frobnicate", "unknown command 'frobnicate'"},
      {"--frob", "unknown option '--frob'"},
      {"pack --creator VARN --type TEXT script", "pack needs an output file (-o OUT)"},
      {"pack -o out.bin --type TEXT script", "pack needs a creator code"},
      {"pack -o out.bin --creator VARN script", "pack needs a file type"},
      {"pack -o out.bin --creator TOOLONG --type TEXT script", "creator 'TOOLONG' must be 1 to 4"},
      {packing + "--format iii script",
       "--format must be one of ii (or macbinary), classic, applesingle, appledouble, binhex; not 'iii'"},
      {packing + "--name 'a:b' script", "must not contain ':'"},
      {packing + "--name " + std::string(32, 'n') + " script", "must be 1 to 31 characters"},
      {packing + "--data - -", "cannot both come from standard input"},
      {packing + "-o", "option -o needs a value"},
      {packing + "script extra", "unexpected argument 'extra'"},
      {"list", "list needs a MacBinary file"},
      {"list --json=yes x.bin", "option --json takes no value"},
      {"extract x.bin", "extract needs one of"},
      {"extract x.bin --data a --rsrc b", "extract does one of"},
      {"extract x.bin --resource TEXT", "--resource needs TYPE ID OUT"},
      {"extract x.bin --resource TEXT 99999 out", "resource ID '99999' must be"},
      {"render x.bin", "render needs a Macintosh file and a directory"},
      {"ct in.png", "ct needs an input image and an output CT file"},
      {"ct in.png out.ct --palette rainbow", "--palette must be mac256, mac16, grey or mono"},
  };
  for (const auto &[arguments, message] : cases) {
    const ToolRun run = varnel(dir.path(), arguments);
    expect_failure(run, 2, message);
    EXPECT_NE(run.err.find("--help"), std::string::npos) << arguments;
  }
  EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"script"});
}

// ---- pack and list ------------------------------------------------------------

TEST(CliPack, SampleDocumentListsBackAsJson) {
  vt::TempDir dir;
  const ToolRun packed = pack_sample(dir.path());
  ASSERT_EQ(packed.status, 0) << packed;
  EXPECT_EQ(packed.out, "");
  EXPECT_NE(packed.err.find("wrote Sample.bin"), std::string::npos);

  const ToolRun list = varnel(dir.path(), "list --json Sample.bin");
  ASSERT_EQ(list.status, 0) << list;
  const Json listing = Json::parse(list.out);  // standard output holds the JSON and nothing else
  Json top = listing;  // all but the resources and what depends on the picture's size or the date
  for (const char *key : {"resources", "resource_fork_length", "created", "modified"}) top.erase(key);
  EXPECT_EQ(top["resource_fork_read"], true);
  top.erase("resource_fork_read");
  EXPECT_EQ(top, Json::parse(R"({"file": "Sample.bin", "format": "MacBinary II", "crc": {"valid": true},
      "name": "Sample", "type": "TEXT", "creator": "VARN", "data_fork_length": 38,
      "finder_flags": {"value": 8448, "names": ["hasBundle", "hasBeenInited"]}})"));
  // Type, ID, size (the picture's depends on resampling) and name of every
  // resource, in map order; all purgeable.
  std::string summary;
  for (const Json &resource : listing["resources"]) {
    summary += resource["type"].get<std::string>() + " " + resource["id"].dump() + " " +
               (resource["type"] == "PICT" ? "?" : resource["size"].dump()) +
               (resource["name"].is_null() ? "" : " " + resource["name"].get<std::string>()) + "; ";
    EXPECT_EQ(resource["attribute_names"], Json({"purgeable"})) << resource;
  }
  ASSERT_EQ(summary,
            "vers 1 39; vers 2 24; FREF 128 7; FREF 129 7; ICN# 128 256; icl8 128 1024; icl4 128 512; "
            "ics# 128 64; ics8 128 256; ics4 128 128; PICT 128 ? Preview; TEXT 128 164 Read Me; "
            "VARN 0 34 Owner resource; BNDL 128 36 Bundle; ");
  const Json &resources = listing["resources"];  // in the order above
  EXPECT_EQ(resources[0]["decoded"],
            Json::parse(R"({"version": "1.0", "major": 1, "minor": 0, "bugfix": 0, "stage": "final",
                "revision": 0, "region": 0, "short": "1.0", "long": "Sample 1.0 written by varnel"})"));
  EXPECT_EQ(resources[3]["decoded"],
            Json::parse(R"({"file_type": "VDOC", "local_icon": 1, "file_name": ""})"));
  EXPECT_EQ(resources[12]["decoded"], Json::parse(R"({"owner_text": "Sample document written by varnel"})"));
  EXPECT_EQ(resources[13]["decoded"], Json::parse(R"({"owner": "VARN", "owner_id": 0, "types": [
                {"type": "FREF", "entries": [{"local_id": 0, "id": 128}, {"local_id": 1, "id": 129}]},
                {"type": "ICN#", "entries": [{"local_id": 0, "id": 128}, {"local_id": 1, "id": 128}]}]})"));
}

TEST(CliPack, SampleDocumentListsBackAsText) {
  vt::TempDir dir;
  ASSERT_EQ(pack_sample(dir.path()).status, 0);
  const ToolRun text = varnel(dir.path(), "list Sample.bin");
  ASSERT_EQ(text.status, 0) << text;
  for (const char *line :
       {"Format:        MacBinary II, CRC valid\n", "Name:          Sample\n", "Creator:       VARN\n",
        "Finder flags:  0x2100 hasBundle hasBeenInited\n", "Data fork:     38 bytes\n", "Resources:     14\n",
        "  vers       1        39  purgeable\n",
        "        version 1.0 (final), region 0, short \"1.0\", long \"Sample 1.0 written by varnel\"\n",
        "  TEXT     128       164  purgeable   \"Read Me\"\n",
        "        owner \"VARN\" 0; FREF: 0=128 1=129; ICN#: 0=128 1=128\n"})
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
  EXPECT_EQ(text.err, "");
}

TEST(CliPack, ClassicFormatQuietlyWithTheOutputsNameAndCreator) {
  vt::TempDir dir;
  vt::write_text(dir.file("a.txt"), "alpha");
  ToolRun run = varnel(dir.path(),
                       "-q pack -o Notes.bin --creator ttxt --type TEXT --format classic --data a.txt "
                       "-e 'TEXT 128 \"Read Me\" a.txt'");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(run.err, "");                                                             // -q: no notices
  EXPECT_EQ(slice(vt::read_file(dir.file("Notes.bin")), 99, 4), hex("00 00 00 4C"));  // the classic marker
  Json listing = Json::parse(varnel(dir.path(), "list --json Notes.bin").out);
  EXPECT_EQ(listing["format"], "classic");
  EXPECT_TRUE(listing["crc"].is_null());  // a classic header has no CRC to fail
  EXPECT_EQ(listing["name"], "Notes");  // OUT without ".bin"
  EXPECT_EQ(listing["creator"], "ttxt");
  EXPECT_EQ(listing["finder_flags"]["names"], Json({"hasBeenInited"}));  // no FREF, no bundle
}

// Without --name the output's name stands in, converted to MacRoman: a
// character MacRoman lacks becomes one '_', the others are kept.
TEST(CliPack, NamesFromNonAsciiOutputNamesAreConverted) {
  vt::TempDir dir;
  const std::pair<const char *, const char *> cases[] = {
      {"Caf\u00e9 \u00dcber.bin", "Caf\u00e9 \u00dcber"},
      {"Caf\u00e9 \u2713 \u00dcber.bin", "Caf\u00e9 _ \u00dcber"},  // no check mark in MacRoman
  };
  for (const auto &[output, name] : cases) {
    ToolRun run = pack(dir.path(), std::string("-q -o '") + output + "' -e 'STR  128 \"\" ~Hi'");
    ASSERT_EQ(run.status, 0) << run;
    Json listing = Json::parse(varnel(dir.path(), std::string("list --json '") + output + "'").out);
    EXPECT_EQ(listing["name"], name) << output;
  }
}

TEST(CliPack, ScriptFromStandardInputThenLines) {
  // Comments, CR LF and blank lines in the script; a MacRoman name.
  vt::TempDir dir;
  vt::write_text(dir.file("a.txt"), "alpha");
  vt::write_text(dir.file("script"), "; from standard input\nTEXT 1 first a.txt\r\n\n  TEXT 2 \"\" a.txt\n");
  const ToolRun run = pack(dir.path(), "-o one.bin --name 'Café' -e 'TEXT 3 x a.txt' -", dir.file("script"));
  ASSERT_EQ(run.status, 0) << run;
  const Json listing = Json::parse(varnel(dir.path(), "list --json one.bin").out);
  EXPECT_EQ(listing["name"], "Café");  // written in MacRoman, listed in UTF-8
  EXPECT_EQ(slice(vt::read_file(dir.file("one.bin")), 1, 5), hex("04 43 61 66 8E"));
  ASSERT_EQ(listing["resources"].size(), 4u);
  EXPECT_EQ(listing["resources"][0]["name"], "first");
  EXPECT_EQ(listing["resources"][1]["id"], 2);
  EXPECT_EQ(listing["resources"][2]["id"], 3);
}

TEST(CliPack, DataForkFromStandardInput) {
  vt::TempDir dir;
  vt::write_text(dir.file("data"), std::string(300, 'd'));
  const ToolRun run = pack(dir.path(), "-o two.bin --data -", dir.file("data"));
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(Json::parse(varnel(dir.path(), "list --json two.bin").out)["data_fork_length"], 300);
}

// Every refusal exits with 1, names its cause and where it stands, and
// leaves an older output file as it was.
TEST(CliPack, RefusedInputsKeepTheOlderOutput) {
  vt::TempDir dir;
  vt::write_text(dir.file("a.txt"), "alpha");
  vt::write_text(dir.file("empty.txt"), "");
  vt::write_text(dir.file("empty.rsrc"), "");
  vt::write_text(dir.file("bad.rsrc"), "; a comment\nTEXT 100 ok a.txt\nJUNK\n");
  const Bytes good_png = png(4, 40, 0, Bytes(160, 9));
  vt::write_file(dir.file("good.png"), good_png);
  vt::write_file(dir.file("truncated.png"), slice(good_png, 0, 120));  // rows end inside IDAT
  vt::write_text(dir.file("text.png"), "not an image at all");
  vt::write_text(dir.file("short.pgm"), "P5 4 4 255\nab");
  // 1 pixel per metre: 394 inches wide.
  vt::write_file(dir.file("huge.png"), png(10, 10, 0, Bytes(100, 0), 8, 1));
  vt::write_file(dir.file("small.png"), png(16, 16, 0, Bytes(256, 0)));
  vt::write_text(dir.file("junk.ct"), "junk");
  Bytes two_channels(512 + 32 * 32 * 2, 0);
  two_channels[4] = 2;
  vt::write_file(dir.file("two.ct"), two_channels);
  const std::vector<std::string> inputs = files_in(dir.path());

  // A resource line after a good one: "-e #2".
  const std::pair<std::string, std::string> bad_lines[] = {
      {"vers 1 \"\" 1.0", "vers wants 'M.mb S R REGION/short/long'"},
      {"vers 1 \"\" 1.00 f 0 0/1.0/x", "vers release stage 'f' must be D"},
      {"vers 1 \"\" 1.00 F 0 0/1.0", "vers wants"},
      {"FREF 128 \"\" TEXT", "FREF wants 'TYPE ICON-ID'"},
      {"TEXT abc x a.txt", "resource ID 'abc' must be a whole number"},
      {"TEXT 40000 x a.txt", "resource ID '40000'"},
      {"TOOLONG 1 x a.txt", "resource type 'TOOLONG' must be 1 to 4 characters"},
      {"TEXT 1 " + std::string(128, 'n') + " a.txt", "resource name longer than 127"},
      {"TEXT 1 x", "missing parameter: after its name, TEXT wants a file whose contents become the resource"},
      {"TEXT 1 x missing.txt", "missing.txt: no such file"},
      {"TEXT 1 x empty.txt", "empty.txt: the file is empty"},
      {"BNDL owner text with blanks", "BNDL takes one word"},
      {"BNDL " + std::string(100, 'o'), "the owner text must be at most 99"},
      {"TEXT 1", "missing name: a resource line is 'TYPE ID NAME PARAMETERS'"},
      {"JUNK", "not a resource line"},
      {"TEXT 1 " + std::string(520, 'x'), "line longer than 511 characters"},
      {"PICT 1 p a.txt", "PICT wants 'IMAGE RESOLUTION [MASK]'"},
      {"PICT 1 p a.txt 0", "PICT resolution '0' must be a whole number"},
      {"PICT 1 p truncated.png 72", "truncated.png: damaged PNG data"},
      {"PICT 1 p text.png 72", "text.png: not a PNG or netpbm"},
      {"PICT 1 p short.pgm 72", "short.pgm: damaged PGM data: netpbm data ends early"},
      {"PICT 1 p missing.png 72", "missing.png: cannot open image file"},
      {"PICT 1 p huge.png 72",
       "huge.png: at 72 pixels per inch the picture would be 28346x28346 pixels; a picture holds at most "
       "16382x32767"},
      {"PICT 1 p good.png 72 missing-mask.pbm", "missing-mask.pbm: cannot open image file"},
      {"icl8 128 \"\" small.png", "small.png: the icon must be 32x32 pixels, the image is 16x16"},
      {"ics4 128 \"\" junk.ct", "junk.ct: not a PNG, netpbm or CT image"},
      {"ICN# 128 \"\" two.ct", "two.ct: a CT icon must have one channel, this one has 2"},
      {"icl4 128 \"\" nothing.png", "nothing.png: no such image file"},
  };
  std::vector<std::pair<std::string, std::string>> cases;
  for (const auto &[line, message] : bad_lines)
    cases.emplace_back(lines_option({"TEXT 100 ok a.txt", line}), "-e #2: error: " + message);
  cases.insert(cases.end(),
               {{"bad.rsrc", "bad.rsrc:3: error: not a resource line"},
                {"missing.rsrc", "missing.rsrc: cannot read the script"},
                {"--data nodata empty.rsrc", "nodata: cannot read the data fork: No such file or directory"}});
  vt::write_text(dir.file("out.bin"), "older file");
  for (const auto &[arguments, message] : cases) {
    expect_failure(pack(dir.path(), "-o out.bin " + arguments), 1, message);
    EXPECT_EQ(text_of(dir.file("out.bin")), "older file") << arguments;
  }
  // With no older file none appears; nor in a directory that is not there.
  fs::remove(dir.file("out.bin"));
  expect_failure(pack(dir.path(), "-o out.bin -e JUNK"), 1, "-e #1: error: not a resource line");
  expect_failure(pack(dir.path(), "-o nodir/out.bin empty.rsrc"), 1, "nodir/out.bin: cannot create");
  EXPECT_EQ(files_in(dir.path()), inputs);
}

// ---- pictures and icons ---------------------------------------------------------

// Packs one picture resource (PICT 1, 2, ...) per case into one file, renders
// it and compares every pixel through pngtopnm: colours, and an alpha that
// is opaque throughout (a picture is drawn on a white canvas).
TEST(CliPicture, EveryInputFormatResolutionAndMask) {
  vt::TempDir dir;
  Bytes quarter_ink(64, 255);  // one black pixel in each 2 x 2 block
  for (size_t y = 0; y < 8; y += 2)
    for (size_t x = 0; x < 8; x += 2) quarter_ink[y * 8 + x] = 0;
  Bytes alpha_rows;  // red; columns 2 to 4 opaque
  for (int i = 0; i < 15; ++i)
    alpha_rows = vt::concat({alpha_rows, hex(i % 5 >= 2 ? "FF0000FF" : "FF000000")});
  // Rows 1 and 2, columns 2 to 5 inside (black in a PBM is inside).
  vt::write_file(dir.file("mask.pbm"), vt::concat({vt::bytes_of("P4\n8 4\n"), hex("00 3C 3C 00")}));
  struct Case {
    std::string file;
    Bytes image;
    std::string parameters;
    int width, height;
    Bytes rgb;
  };
  std::vector<Case> cases = {
      // Each grey level its own ink index, back to the same level.
      {"grey.png",
       png(4, 2, 0, hex("00 55 AA FF 11 22 33 44")),
       "72",
       4,
       2,
       hex("000000 555555 AAAAAA FFFFFF 111111 222222 333333 444444")},
      // 16 bits per sample: corners of the colour cube come through exactly.
      {"rgb16.png",
       png(6, 1, 2, hex("FFFFFFFFFFFF 000000000000 FFFF00000000 0000FFFF0000 00000000FFFF FFFFFFFF0000"), 16),
       "72",
       6,
       1,
       hex("FFFFFF 000000 FF0000 00FF00 0000FF FFFF00")},
      // 144 pixels per inch (5669 per metre) wanted at 72: each 2 x 2 block
      // becomes its mean ink, 255 / 4 = 63.75, rounded to 64: 255 - 64 = BF.
      {"fine.png", png(8, 8, 0, quarter_ink, 8, 5669), "72", 4, 4, times(hex("BFBFBF"), 16)},
      // The mask region limits what is drawn: outside it the picture's
      // white canvas shows, opaque.
      {"masked.png", png(8, 4, 0, Bytes(32, 128)), "72 mask.pbm", 8, 4,
       vt::concat({times(hex("FFFFFF"), 10), times(hex("808080"), 4), times(hex("FFFFFF"), 4),
                   times(hex("808080"), 4), times(hex("FFFFFF"), 10)})},
      // A PNG's alpha is its own mask; odd sizes close at the edge.
      {"alpha.png", png(5, 3, 6, alpha_rows), "72 alpha.png", 5, 3,
       times(hex("FFFFFF FFFFFF FF0000 FF0000 FF0000"), 3)},
  };
  // Black then white in every format the tool reads; transparent counts as white.
  const std::pair<const char *, Bytes> black_white[] = {
      {"p1.pbm", vt::bytes_of("P1\n# plain\n2 1\n1 0\n")},
      {"p4.pbm", vt::concat({vt::bytes_of("P4 2 1\n"), hex("80")})},
      {"p2.pgm", vt::bytes_of("P2 2 1 15 0 15\n")},
      {"p5.pgm", vt::concat({vt::bytes_of("P5 2 1 65535\n"), hex("0000 FFFF")})},
      {"p3.ppm", vt::bytes_of("P3 2 1 255 0 0 0 255 255 255\n")},
      {"p6.ppm", vt::concat({vt::bytes_of("P6 2 1 255\n"), hex("000000 FFFFFF")})},
      {"palette.png", png(2, 1, 3, Bytes{1, 0}, 8, 0, hex("FFFFFF 000000"))},
      {"onebit.png", png(2, 1, 0, Bytes{0x40}, 1)},
      {"greyalpha.png", png(2, 1, 4, hex("00FF FF00"))},
      {"rgba.png", png(2, 1, 6, hex("000000FF 12345600"))},
  };
  for (const auto &[file, image] : black_white)
    cases.push_back({file, image, "72", 2, 1, hex("000000 FFFFFF")});
  std::vector<std::string> lines;
  for (const auto &c : cases) {
    vt::write_file(dir.file(c.file), c.image);
    lines.push_back("PICT " + std::to_string(lines.size() + 1) + " p " + c.file + " " + c.parameters);
  }
  const ToolRun packed = pack(dir.path(), "-o pic.bin" + lines_option(lines));
  ASSERT_EQ(packed.status, 0) << packed;
  const ToolRun rendered = varnel(dir.path(), "render pic.bin out");
  ASSERT_EQ(rendered.status, 0) << rendered;
  if (pngtopnm().empty()) GTEST_SKIP() << "pngtopnm (netpbm) is not available";
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto &c = cases[i];
    SCOPED_TRACE(c.file);
    const std::string png = dir.file("out/PICT." + std::to_string(i + 1) + ".png");
    const Raster colour = decode_png(png);
    EXPECT_EQ(colour.width, c.width);
    EXPECT_EQ(colour.height, c.height);
    EXPECT_EQ(vt::to_hex(colour.samples), vt::to_hex(c.rgb));
    EXPECT_EQ(vt::to_hex(decode_png(png, true).samples),
              vt::to_hex(vt::repeat(255, static_cast<size_t>(c.width * c.height))));
  }
}

TEST(CliIcon, RenderedThroughTheSystemPalettes) {
  vt::TempDir dir;
  // A CT whose first 256 pixels are the indices 0 to 255, made through
  // `ct --palette grey` (ink = 255 - light).
  Bytes ramp(32 * 32, 255);
  for (size_t i = 0; i < 256; ++i) ramp[i] = static_cast<uint8_t>(255 - i);
  vt::write_file(dir.file("ramp.png"), png(32, 32, 0, ramp));
  ToolRun run = varnel(dir.path(), "ct ramp.png ramp.ct --palette grey");
  ASSERT_EQ(run.status, 0) << run;
  // Stripes of the 16-colour palette, two columns each; the last row transparent.
  const Bytes colours16 =
      hex("FFFFFF FCF305 FF6402 DD0806 F20884 4600A5 0000D4 02ABEA"
          "1FB714 006411 562C05 90713A C0C0C0 808080 404040 000000");
  Bytes stripes;
  for (size_t y = 0; y < 32; ++y)
    for (size_t x = 0; x < 32; ++x)
      stripes =
          vt::concat({stripes, slice(colours16, x / 2 * 3, 3), {static_cast<uint8_t>(y == 31 ? 0 : 255)}});
  vt::write_file(dir.file("stripes.png"), png(32, 32, 6, stripes));
  run = pack(dir.path(),
             "-o icons.bin" + lines_option({"icl8 1 \"\" ramp.ct", "icl4 128 \"\" stripes.png",
                                            "icl8 128 \"\" stripes.png", "ICN# 128 \"\" stripes.png"}));
  ASSERT_EQ(run.status, 0) << run;
  run = varnel(dir.path(), "render icons.bin out");
  ASSERT_EQ(run.status, 0) << run;
  if (pngtopnm().empty()) GTEST_SKIP() << "pngtopnm (netpbm) is not available";
  const Raster eight_ramp = decode_png(dir.file("out/icl8.1.png"));
  // The 6x6x6 cube without black (0 to 214), the red, green, blue and grey
  // ramps (215 to 254), and black.
  const std::pair<int, const char *> known[] = {
      {0, "FFFFFF"},   {1, "FFFFCC"},   {35, "FF0000"},  {43, "CCCCCC"},  {185, "00FF00"},
      {210, "0000FF"}, {214, "000033"}, {215, "EE0000"}, {224, "110000"}, {225, "00EE00"},
      {235, "0000EE"}, {245, "EEEEEE"}, {254, "111111"}, {255, "000000"}};
  for (const auto &[index, colour] : known)
    EXPECT_EQ(eight_ramp.pixel(index % 32, index / 32), hex(colour)) << index;

  const Raster four = decode_png(dir.file("out/icl4.128.png"));
  const Raster eight = decode_png(dir.file("out/icl8.128.png"));
  const Raster one = decode_png(dir.file("out/ICN#.128.png"));
  const Raster four_alpha = decode_png(dir.file("out/icl4.128.png"), true);
  for (int x = 0; x < 32; ++x) {
    EXPECT_EQ(four.pixel(x, 0), slice(colours16, static_cast<size_t>(x / 2 * 3), 3)) << x;
    EXPECT_EQ(four_alpha.pixel(x, 0), hex("FF")) << x;
    EXPECT_EQ(four_alpha.pixel(x, 31), hex("00")) << "outside the ICN#'s mask";
  }
  EXPECT_EQ(eight.pixel(0, 0), hex("FFFFFF"));
  EXPECT_EQ(eight.pixel(30, 0), hex("000000"));
  EXPECT_EQ(eight.pixel(24, 0), hex("BBBBBB"));  // C0C0C0 is nearest to BBBBBB
  EXPECT_EQ(one.pixel(0, 0), hex("FFFFFF"));     // white is clear
  EXPECT_EQ(one.pixel(12, 0), hex("000000"));    // blue is dark
  EXPECT_EQ(one.pixel(26, 0), hex("FFFFFF"));    // light grey is light
}

TEST(CliCt, WritesOneSamplePerPixelInTheChosenPalette) {
  vt::TempDir dir;
  // White, black, pure red, mid grey.
  vt::write_file(dir.file("in.png"), png(4, 1, 2, hex("FFFFFF 000000 FF0000 808080")));
  const std::pair<std::string, const char *> cases[] = {
      {"mac256", "00 FF 23 F9"},  // 808080 is nearest to the ramp's 888888
      {"mac16", "00 F0 30 D0"},   // indices in the high nibble
      {"grey", "00 FF B3 7F"},    // ink: 255 - luminance
      {"mono", "00 FF FF 00"},
  };
  for (const auto &[palette, samples] : cases) {
    const ToolRun run = varnel(dir.path(), "ct in.png out.ct --palette " + palette);
    ASSERT_EQ(run.status, 0) << run;
    const Bytes ct = vt::read_file(dir.file("out.ct"));
    ASSERT_EQ(ct.size(), 512u + 4u);
    // Channels, rows, width and the data offset, least significant byte first.
    EXPECT_EQ(vt::concat({slice(ct, 4, 2), slice(ct, 32, 8), slice(ct, 68, 4)}),
              hex("0100 01000000 04000000 00020000"));
    EXPECT_EQ(slice(ct, 512, 4), hex(samples)) << palette;
  }
}

// Past one icon's 1024 pixels the indices go on in order: red and black
// alternate over 1100 pixels, and the 16-colour ones keep their nibble.
TEST(CliCt, LargeImagesKeepTheirPixelOrder) {
  vt::TempDir dir;
  Bytes pixels;
  for (size_t i = 0; i < 1100; ++i) pixels = vt::concat({pixels, hex(i % 2 == 0 ? "FF0000" : "000000")});
  vt::write_file(dir.file("in.png"), png(100, 11, 2, pixels));
  for (const auto &[palette, pair] : {std::pair{"mac256", "23 FF"}, std::pair{"mac16", "30 F0"}}) {
    ASSERT_EQ(varnel(dir.path(), std::string("ct in.png out.ct --palette ") + palette).status, 0);
    const Bytes ct = vt::read_file(dir.file("out.ct"));
    ASSERT_EQ(ct.size(), 512u + 1100u);
    for (size_t i = 0; i < 1100; i += 2) ASSERT_EQ(slice(ct, 512 + i, 2), hex(pair)) << palette << " " << i;
  }
}

TEST(CliCt, DamagedOrMissingImagesAreRefused) {
  vt::TempDir dir;
  vt::write_text(dir.file("bad.png"), "\x89PNG but not really");
  const std::pair<std::string, std::string> failures[] = {{"bad.png bad.ct", "bad.png: damaged PNG file"},
                                                          {"none.png none.ct", "none.png: cannot open"}};
  for (const auto &[arguments, message] : failures)
    expect_failure(varnel(dir.path(), "ct " + arguments), 1, message);
  EXPECT_FALSE(vt::file_exists(dir.file("bad.ct")));
}

// ---- list, extract, render of other files -------------------------------------------

// A MacBinary II file from elsewhere: "Café" in MacRoman, TEXT/ttxt, a data
// fork of 5 bytes and no resource fork.
vt::MacBinaryPlan foreign_plan() {
  vt::MacBinaryPlan plan;
  plan.name = "Caf\x8E";
  plan.creator = "ttxt";
  plan.flags = 0;
  plan.data_fork = vt::bytes_of("hello");
  plan.resource_fork = false;
  plan.format = vt::MbFormat::kII;
  return plan;
}

// Headers from other writers, each listed with what sets it apart.
TEST(CliList, HeadersFromOtherWritersAreRead) {
  vt::TempDir dir;
  vt::MacBinaryPlan third = foreign_plan();
  third.format = vt::MbFormat::kIII;
  // The library's writer puts the low byte of the Finder flags at 74 as well
  // as at 101: such a header is read like any other.
  vt::BuiltMacBinary flags = vt::build_macbinary(foreign_plan());
  flags.patch(74, hex("0C")).patch(101, hex("0C"));
  vt::store_header_crc(flags.bytes);
  const struct {
    const char *file;
    Bytes bytes;
    const char *key, *json;
  } cases[] = {
      {"plain.bin", vt::build_macbinary(foreign_plan()).bytes, "name", R"("Café")"},
      {"plain.bin", vt::build_macbinary(foreign_plan()).bytes, "resources", "[]"},
      {"plain.bin", vt::build_macbinary(foreign_plan()).bytes, "crc", R"({"valid": true})"},
      // Byte 75 lies inside the CRC's range: shown, not refused.
      {"crc.bin", vt::build_macbinary(foreign_plan()).patch(75, hex("01")).bytes, "crc", R"({"valid": false})"},
      {"flags.bin", flags.bytes, "finder_flags", R"({"value": 12, "names": ["color=6"]})"},
      {"third.bin", vt::build_macbinary(third).bytes, "format", R"("MacBinary III")"},
  };
  for (const auto &c : cases) {
    vt::write_file(dir.file(c.file), c.bytes);
    const ToolRun run = varnel(dir.path(), std::string("list --json ") + c.file);
    ASSERT_EQ(run.status, 0) << run;
    EXPECT_EQ(Json::parse(run.out)[c.key], Json::parse(c.json)) << c.file;  // the JSON alone on standard output
  }
  // The library's notice of a file without resources comes through its
  // message method, as a notice naming the file (on standard error), which
  // -q silences.
  EXPECT_NE(varnel(dir.path(), "list --json plain.bin").err.find("varnel: plain.bin: no resources in file\n"),
            std::string::npos);
  EXPECT_EQ(varnel(dir.path(), "-q list --json plain.bin").err.find("no resources"), std::string::npos);
  const ToolRun text = varnel(dir.path(), "list crc.bin");
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("Format:        MacBinary II, CRC INVALID\n"), std::string::npos) << text;
}

TEST(CliList, OtherFilesAreRefused) {
  vt::TempDir dir;
  vt::write_text(dir.file("text.txt"), std::string(200, 'x'));
  vt::write_file(dir.file("cut.bin"), slice(vt::build_macbinary(foreign_plan()).bytes, 0, 130));
  vt::MacBinaryPlan nameless = foreign_plan();
  nameless.name = "";
  vt::write_file(dir.file("noname.bin"), vt::build_macbinary(nameless).bytes);
  const std::pair<std::string, std::string> failures[] = {
      {"text.txt", "text.txt: not a Macintosh file (not MacBinary: its first byte is not zero; nor an AppleSingle, AppleDouble or BinHex file or a resource fork)"},
      {"noname.bin", "noname.bin: not a Macintosh file (not MacBinary: its name length is 0; nor an AppleSingle, AppleDouble or BinHex file or a resource fork)"},
      {"cut.bin", "cut.bin: error: Data fork cut short: the file ends at 130, the data fork at 133"},
      {"none.bin", "none.bin: cannot open: No such file or directory"}};
  for (const auto &[name, message] : failures) expect_failure(varnel(dir.path(), "list " + name), 1, message);
}

class CliExtract : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pack_sample(dir.path()).status, 0);
    fork = vt::parse_macbinary_file(dir.file("Sample.bin")).resource_fork();
    ASSERT_EQ(slice(fork, 0, 4), hex("00 00 01 00"));  // resource data at 256
  }
  vt::TempDir dir;
  const Bytes document = vt::read_file((sample_dir() / "document.txt").string());
  const Bytes readme = vt::read_file((sample_dir() / "readme.txt").string());
  Bytes fork;
};

TEST_F(CliExtract, ForksAndResourcesAreByteIdentical) {
  const std::pair<std::string, Bytes> cases[] = {
      {"--data data.out", document}, {"--resource TEXT 128 readme.out", readme}, {"--rsrc rsrc.out", fork}};
  for (const auto &[arguments, expected] : cases) {
    const ToolRun run = varnel(dir.path(), "extract Sample.bin " + arguments);
    ASSERT_EQ(run.status, 0) << run;
    EXPECT_EQ(vt::read_file(dir.file(arguments.substr(arguments.rfind(' ') + 1))), expected) << arguments;
  }
  EXPECT_EQ(vt::bytes_of(varnel(dir.path(), "extract Sample.bin --data -").out), document);
}

TEST_F(CliExtract, AllWritesEveryPart) {
  const ToolRun run = varnel(dir.path(), "extract Sample.bin --all all");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(vt::read_file(dir.file("all/data")), document);
  EXPECT_EQ(vt::read_file(dir.file("all/rsrc")), fork);
  EXPECT_EQ(vt::read_file(dir.file("all/TEXT.128")), readme);
  EXPECT_EQ(vt::read_file(dir.file("all/ICN#.128")).size(), 256u);
  EXPECT_EQ(vt::read_file(dir.file("all/VARN.0")),
            vt::concat({{33}, vt::bytes_of("Sample document written by varnel")}));
  EXPECT_EQ(files_in(dir.file("all")).size(), 2u + 14u);
}

// Standard output holds one file, not a directory of them: "-" is refused,
// and nothing named "-" is made; "./-" is a directory called "-".
TEST_F(CliExtract, DirectoriesAreNotStandardOutput) {
  for (const char *option : {"--all", "--script"}) {
    expect_failure(varnel(dir.path(), std::string("extract Sample.bin ") + option + " -"), 2,
                   std::string(option) + " writes a directory of files, which standard output ('-') cannot hold");
    EXPECT_FALSE(vt::file_exists(dir.file("-"))) << option;
  }
  const ToolRun run = varnel(dir.path(), "extract Sample.bin --all ./-");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(vt::read_file(dir.file("-/data")), document);
}

TEST_F(CliExtract, NegativeIdsAreStoredUnsigned) {
  // IDs are signed 16-bit: -1 is stored as FFFF and asked for as -1.
  vt::write_text(dir.file("one.txt"), "1");
  ASSERT_EQ(pack(dir.path(), "-o neg.bin -e 'TEXT -1 neg one.txt'").status, 0);
  EXPECT_EQ(vt::parse_macbinary_file(dir.file("neg.bin")).get("TEXT", 0xFFFF).data, vt::bytes_of("1"));
  const ToolRun run = varnel(dir.path(), "extract neg.bin --resource TEXT -1 -");
  EXPECT_EQ(run.status, 0) << run;
  EXPECT_EQ(run.out, "1");
}

TEST_F(CliExtract, MissingResourceWritesNothing) {
  expect_failure(varnel(dir.path(), "extract Sample.bin --resource TEXT 999 nothing.out"), 1,
                 "no resource TEXT 999");
  EXPECT_FALSE(vt::file_exists(dir.file("nothing.out")));
}

// A map may repeat a type and ID (the writer never does; a damaged or
// hand-made file may): each such resource keeps its own data and file name.
TEST(CliRepeatedIds, EachKeepsItsOwnDataAndFileName) {
  vt::TempDir dir;
  const Bytes black = vt::concat({Bytes(128, 0xFF), Bytes(128, 0xFF)});  // icon, then mask
  const Bytes white = vt::concat({Bytes(128, 0x00), Bytes(128, 0xFF)});
  vt::MacBinaryPlan plan;
  plan.types = {{"TEXT", {{1, "one", vt::bytes_of("alpha")},
                          {1, "two", vt::bytes_of("bravo-bravo")},
                          {1, std::nullopt, vt::bytes_of("charlie!")}}},
                {"ICN#", {{7, std::nullopt, black}, {7, std::nullopt, white}}}};
  vt::write_file(dir.file("dup.bin"), vt::build_macbinary(plan).bytes);

  const ToolRun list = varnel(dir.path(), "list --json dup.bin");
  ASSERT_EQ(list.status, 0) << list;
  const Json listing = Json::parse(list.out);
  std::string summary;
  for (const Json &resource : listing["resources"])
    summary += resource["type"].get<std::string>() + " " + resource["id"].dump() + " " +
               resource["size"].dump() + " " + resource["name"].dump() + "; ";
  EXPECT_EQ(summary,
            "TEXT 1 5 \"one\"; TEXT 1 11 \"two\"; TEXT 1 8 null; ICN# 7 256 null; ICN# 7 256 null; ");

  ToolRun run = varnel(dir.path(), "extract dup.bin --all all");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(files_in(dir.file("all")), (std::vector<std::string>{"ICN#.7", "ICN#.7.2", "TEXT.1", "TEXT.1.2",
                                                                 "TEXT.1.3", "data", "rsrc"}));
  const std::pair<const char *, Bytes> extracted[] = {{"TEXT.1", vt::bytes_of("alpha")},
                                                      {"TEXT.1.2", vt::bytes_of("bravo-bravo")},
                                                      {"TEXT.1.3", vt::bytes_of("charlie!")}};
  for (const auto &[name, bytes] : extracted)
    EXPECT_EQ(vt::read_file(dir.file("all/") + name), bytes) << name;
  EXPECT_EQ(vt::read_file(dir.file("all/ICN#.7")), black);
  EXPECT_EQ(vt::read_file(dir.file("all/ICN#.7.2")), white);
  run = varnel(dir.path(), "extract dup.bin --resource TEXT 1 -");  // the first of them
  EXPECT_EQ(run.status, 0) << run;
  EXPECT_EQ(run.out, "alpha");

  run = varnel(dir.path(), "render dup.bin out");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(files_in(dir.file("out")), (std::vector<std::string>{"ICN#.7.2.png", "ICN#.7.png"}));
  if (pngtopnm().empty()) GTEST_SKIP() << "pngtopnm (netpbm) is not available";
  EXPECT_EQ(decode_png(dir.file("out/ICN#.7.png")).pixel(5, 5), hex("000000"));
  EXPECT_EQ(decode_png(dir.file("out/ICN#.7.2.png")).pixel(5, 5), hex("FFFFFF"));
}

// ---- peers read the demo's output ---------------------------------------------------

class CliInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    const ToolRun packed = pack_sample(dir_.path());
    ASSERT_EQ(packed.status, 0) << packed;
    ASSERT_EQ(varnel(dir_.path(), "extract Sample.bin --rsrc sample.rsrc").status, 0);
    document_ = vt::read_file((sample_dir() / "document.txt").string());
    resource_fork_ = vt::read_file(dir_.file("sample.rsrc"));
  }
  // Runs a shell command in the test's directory; its output when it fails.
  void run_in_dir(const std::string &command, std::string *output) {
    ASSERT_EQ(vt::run_command("cd " + quoted(dir_.path().string()) + " && " + command, output), 0) << *output;
  }
  vt::TempDir dir_;
  Bytes document_;
  Bytes resource_fork_;
};

TEST_F(CliInterop, UnarExtractsDataAndResourceFork) {
  const std::string unar = vt::require_peer("unar", "unar");
  const std::string lsar = vt::require_peer("lsar", "unar");
  if (unar.empty() || lsar.empty()) GTEST_SKIP() << "unar is not available";
  std::string output;
  run_in_dir(quoted(lsar) + " -j Sample.bin", &output);
  EXPECT_EQ(Json::parse(output.substr(output.find('{')))["lsarFormatName"], "MacBinary");
  run_in_dir(quoted(unar) + " -q -k visible -o unar Sample.bin", &output);
  EXPECT_EQ(vt::read_file(dir_.file("unar/Sample")), document_);
  // The resource fork comes whole inside an AppleDouble file.
  const Bytes double_file = vt::read_file(dir_.file("unar/Sample.rsrc"));
  ASSERT_GE(double_file.size(), 26u);
  EXPECT_EQ(slice(double_file, 0, 4), hex("00 05 16 07"));
  EXPECT_NE(std::search(double_file.begin(), double_file.end(), resource_fork_.begin(), resource_fork_.end()),
            double_file.end());
}

TEST_F(CliInterop, ImageMagickDecodesThePictureAsRenderDoesInsideItsMask) {
  const std::string convert = vt::require_peer("convert-im6.q16", "imagemagick-6.q16");
  if (convert.empty()) GTEST_SKIP() << "ImageMagick is not available";
  ASSERT_EQ(varnel(dir_.path(), "extract Sample.bin --resource PICT 128 preview.raw").status, 0);
  ASSERT_EQ(varnel(dir_.path(), "render Sample.bin out").status, 0);
  // A PICT file is the resource's data after a 512-byte header.
  vt::write_file(dir_.file("preview.pict"),
                 vt::concat({Bytes(512, 0), vt::read_file(dir_.file("preview.raw"))}));
  const std::string pamdepth = vt::require_peer("pamdepth", "netpbm");
  if (pngtopnm().empty() || pamdepth.empty()) GTEST_SKIP() << "netpbm is not available";
  const Raster magick = plain_pnm_from(quoted(convert) + " pict:" + quoted(dir_.file("preview.pict")) +
                                       " -compress none ppm:-");
  const Raster rendered = decode_png(dir_.file("out/PICT.128.png"));
  // The mask as grey levels: 0 inside (black in a PBM), 255 outside.
  const Raster mask = plain_pnm_from(quoted(pamdepth) + " 255 " +
                                     quoted((sample_dir() / "preview-mask.pbm").string()) +
                                     " 2>/dev/null | pnmtoplainpnm");
  ASSERT_EQ(magick.width, 128);
  ASSERT_EQ(magick.height, 96);
  ASSERT_EQ(rendered.width, 128);
  ASSERT_EQ(rendered.height, 96);
  ASSERT_EQ(mask.samples.size(), 128u * 96u);
  // ImageMagick draws the whole pixel map; render draws it inside the mask
  // region only, on white.
  int inside = 0;
  for (int y = 0; y < 96; ++y)
    for (int x = 0; x < 128; ++x) {
      const bool in_mask = mask.pixel(x, y) == hex("00");
      inside += in_mask ? 1 : 0;
      EXPECT_EQ(rendered.pixel(x, y), in_mask ? magick.pixel(x, y) : hex("FFFFFF")) << x << "," << y;
    }
  EXPECT_GT(inside, 128 * 96 / 4);
}

}  // namespace
