// Resource scripts both ways, run as a user runs them: resource lines that
// take a file's bytes as they are (--raw), attributes after the ID, text
// files and string lists; pack --resources-from copying another file's
// resources; extract --script writing a script that pack turns back into
// the same file.  Results are read back through the library's reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "support/read_back.hpp"
#include "support/resource_compression.hpp"
#include "support/tool_run.hpp"
#include "varnel.h"

namespace {

using cli::expect_failure;
using cli::quoted;
using cli::ToolRun;
using cli::varnel;
using vt::Bytes;
using vt::hex;
namespace fs = std::filesystem;

using Resource = vt::ReadResource;
using vt::ReadFile;
using vt::read_back;

// The resources of `file` with this type and ID, in map order.
std::vector<Resource> find_all(const ReadFile &file, const std::string &type, int32_t id) {
  std::vector<Resource> found;
  for (const Resource &r : file.resources)
    if (r.type == type && r.id == id) found.push_back(r);
  return found;
}

struct Library {
  Library() { vt::init_recording(); }
};

// ---- Raw resources and attributes ---------------------------------------------

TEST(CliScriptLines, RawBytesForEveryTypeWithAttributesAndRepeatedIds) {
  Library library;
  vt::TempDir dir;
  // Bytes no builder could take: not an image, not a version text.
  vt::write_file(dir.file("bytes"), hex("00 FF 0D 0A 7E 22"));
  vt::write_file(dir.file("pascal"), hex("05 48 65 6C 6C 6F"));
  vt::write_text(dir.file("script"),
                 "ICN# 128 \"\" --raw bytes\n"
                 "vers 1 \"\" --raw bytes\n"
                 "FREF 128 \"\" --raw bytes\n"
                 "PICT 128 pic --raw bytes\n"
                 "STR  130(protected,preload) \"\" --raw pascal\n"
                 "STR  130(0x58) \"Zwei\" --raw bytes\n"
                 "STR  131(0) \"\" --raw pascal\n"
                 "TEXT 5(sysHeap,purgeable,locked,protected,preload,changed) \"\" --raw \"bytes\"\n");
  const ToolRun run = cli::pack(dir.path(), "-q -o out.bin script");
  ASSERT_EQ(run.status, 0) << run;
  const ReadFile f = read_back(dir.file("out.bin"));
  const Bytes bytes = hex("00 FF 0D 0A 7E 22");
  EXPECT_EQ(find_all(f, "ICN#", 128), (std::vector<Resource>{{"ICN#", 128, "", 0x20, bytes}}));
  EXPECT_EQ(find_all(f, "vers", 1), (std::vector<Resource>{{"vers", 1, "", 0x20, bytes}}));
  EXPECT_EQ(find_all(f, "FREF", 128), (std::vector<Resource>{{"FREF", 128, "", 0x20, bytes}}));
  EXPECT_EQ(find_all(f, "PICT", 128), (std::vector<Resource>{{"PICT", 128, "pic", 0x20, bytes}}));
  EXPECT_EQ(find_all(f, "STR ", 130), (std::vector<Resource>{{"STR ", 130, "", 0x0C, hex("05 48 65 6C 6C 6F")},
                                                            {"STR ", 130, "Zwei", 0x58, bytes}}));
  EXPECT_EQ(find_all(f, "STR ", 131), (std::vector<Resource>{{"STR ", 131, "", 0x00, hex("05 48 65 6C 6C 6F")}}));
  EXPECT_EQ(find_all(f, "TEXT", 5), (std::vector<Resource>{{"TEXT", 5, "", 0x7E, bytes}}));
  // A raw FREF builds no bundle entry: no bundle at all, and the owner resource.
  EXPECT_TRUE(find_all(f, "BNDL", 128).empty());
  EXPECT_EQ(find_all(f, "VARN", 0).size(), 1u);
  EXPECT_EQ(f.info.finder_flags, 0x0100);
}

TEST(CliScriptLines, MistakesInRawLinesAndAttributesAreRefused) {
  vt::TempDir dir;
  vt::write_file(dir.file("bytes"), hex("01"));
  vt::write_file(dir.file("empty"), {});
  const std::pair<std::string, std::string> cases[] = {
      {"STR 1(bogus) \"\" --raw bytes", "resource attributes 'bogus' must be names joined by ','"},
      {"STR 1(0x100) \"\" --raw bytes", "resource attributes '0x100'"},
      {"STR 1(locked \"\" --raw bytes", "resource attributes go in parentheses right after the ID"},
      {"STR 1 \"\" --raw", "'--raw': a resource from a file is '--raw FILE'"},
      {"STR 1 \"\" --raw a b", "'--raw a b': a resource from a file is '--raw FILE'"},
      {"STR 1 \"\" --rare bytes", "'--rare bytes': a resource from a file is '--raw FILE'"},
      {"STR 1 \"\" --raw missing", "missing: no such file"},
  };
  for (const auto &[line, message] : cases)
    expect_failure(cli::pack(dir.path(), "-o out.bin" + cli::lines_option({line})), 1, "-e #1: error: " + message);
  EXPECT_FALSE(fs::exists(dir.file("out.bin")));
}

TEST(CliScriptLines, OwnerResourceFromTheScriptReplacesTheWritersOwn) {
  Library library;
  vt::TempDir dir;
  vt::write_file(dir.file("owner"), hex("03 4F 77 6E"));
  const ToolRun run = cli::pack(dir.path(), "-q -o out.bin -e 'BNDL ignored' -e 'VARN 0(locked) Mine --raw owner'");
  ASSERT_EQ(run.status, 0) << run;
  const ReadFile f = read_back(dir.file("out.bin"));
  EXPECT_EQ(f.resources, (std::vector<Resource>{{"VARN", 0, "Mine", 0x10, hex("03 4F 77 6E")}}));
}

// ---- Copying another file's resources -----------------------------------------

// A file with repeated IDs, attributes, MacRoman names and its own owner
// resource, as another writer made it.
Bytes foreign_file() {
  vt::MacBinaryPlan plan;
  plan.creator = "ttxt";
  plan.data_fork = vt::bytes_of("data fork");
  plan.types = {
      {"STR ", {{128, "Gr\x9A\xA7" "e", vt::concat({hex("05"), vt::bytes_of("Hello")}), 0x00},
                {128, std::nullopt, hex("01 41"), 0x58},
                {129, "Old", hex("03 4F 6C 64"), 0x20}}},
      {"ttxt", {{0, std::nullopt, hex("00"), 0x20}}},
      {"ICN#", {{128, std::nullopt, vt::repeat(0xA5, 256), 0x30}}},
  };
  plan.order = vt::MapOrder::kForeignOrder;
  return vt::build_macbinary(plan).bytes;
}

TEST(CliScriptCopy, ResourcesFromAFileAreCopiedWhole) {
  Library library;
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), foreign_file());
  const ToolRun run =
      varnel(dir.path(), "pack -q -o out.bin --creator ttxt --type TEXT --resources-from in.bin");
  ASSERT_EQ(run.status, 0) << run;
  const ReadFile in = read_back(dir.file("in.bin"));
  const ReadFile out = read_back(dir.file("out.bin"));
  ASSERT_EQ(in.resources.size(), 5u);
  // The same resources, the owner resource included and not doubled;
  // the writer lists each type's resources together.
  std::vector<Resource> expected = in.resources, got = out.resources;
  const auto by_key = [](const Resource &a, const Resource &b) {
    return std::tie(a.type, a.id, a.name) < std::tie(b.type, b.id, b.name);
  };
  std::sort(expected.begin(), expected.end(), by_key);
  std::sort(got.begin(), got.end(), by_key);
  EXPECT_EQ(got, expected);
}

TEST(CliScriptCopy, AScriptLineReplacesTheCopiedResource) {
  Library library;
  vt::TempDir dir;
  vt::write_file(dir.file("in.bin"), foreign_file());
  vt::write_file(dir.file("data"), vt::bytes_of("data fork"));
  const ToolRun run = varnel(dir.path(), "pack -q -o out.bin --creator ttxt --type TEXT --data data --resources-from in.bin "
                                         "-e 'STR  129 \"\" ~New'");
  ASSERT_EQ(run.status, 0) << run;
  const ReadFile in = read_back(dir.file("in.bin"));
  const ReadFile out = read_back(dir.file("out.bin"));
  ASSERT_EQ(out.resources.size(), in.resources.size());
  for (const Resource &r : in.resources) {
    if (r.type == "STR " && r.id == 129) continue;
    EXPECT_EQ(find_all(out, r.type, r.id), find_all(in, r.type, r.id)) << r.type << " " << r.id;
  }
  EXPECT_EQ(find_all(out, "STR ", 129), (std::vector<Resource>{{"STR ", 129, "", 0x20, hex("03 4E 65 77")}}));
  EXPECT_EQ(out.data, in.data);
}

// Forks past the writer's first tables (a System file has over 64 types,
// an installer hundreds of resources of one type) are carried whole; one
// whose map the 16-bit offsets cannot address is refused by name, and no
// file appears.
TEST(CliScriptCopy, ForksPastTheFirstTablesAreCarriedAndThePastTheMapRefused) {
  Library library;
  vt::TempDir dir;
  vt::MacBinaryPlan many_types;
  for (int t = 0; t < MACBIN_MAX_TYPES + 36; ++t)
    many_types.types.push_back({"T" + std::to_string(100 + t), {{1, std::nullopt, hex("01"), 0x20}}});
  many_types.types.push_back({"STR ", {}});
  for (uint32_t id = 0; id < 815; ++id)
    many_types.types.back().resources.push_back({id, std::nullopt, hex("00"), 0x20});
  vt::write_file(dir.file("large.bin"), vt::build_macbinary(many_types).bytes);
  const ReadFile in = read_back(dir.file("large.bin"));
  ASSERT_EQ(varnel(dir.path(), "pack -q -o out.bin --creator VARN --type TEXT --resources-from large.bin").status, 0);
  EXPECT_EQ(read_back(dir.file("out.bin")).resources, in.resources);
  ASSERT_EQ(varnel(dir.path(), "extract -q large.bin --script large.script").status, 0);
  ASSERT_EQ(varnel(dir.path(), "pack -q -o again.bin large.script/resources.txt").status, 0);
  EXPECT_EQ(read_back(dir.file("again.bin")).resources, in.resources);

  // 5,500 resources of one type: 30 + 8 + 12 x 5,500 bytes of lists.
  vt::MacBinaryPlan too_many;
  too_many.types.push_back({"STR ", {}});
  for (uint32_t id = 0; id < 5500; ++id) too_many.types[0].resources.push_back({id, std::nullopt, hex("00"), 0x20});
  vt::write_file(dir.file("huge.rsrc"), vt::build_macbinary(too_many).bytes);
  const std::string message = "STR  5458: error: the resource map is full at 5458 resources: its type and "
                              "reference lists must lie within 65535 bytes (MACBIN_MAX_MAP_LISTS_BYTES)";
  expect_failure(cli::pack(dir.path(), "-o out2.bin --resources-from huge.rsrc"), 1, message);
  EXPECT_FALSE(fs::exists(dir.file("out2.bin")));
}

TEST(CliScriptCopy, UnreadableSourceIsNamed) {
  vt::TempDir dir;
  vt::write_text(dir.file("plain.txt"), "not a Macintosh file");
  const ToolRun run = cli::pack(dir.path(), "-o out.bin --resources-from plain.txt");
  EXPECT_EQ(run.status, 1) << run;
  EXPECT_NE(run.err.find("plain.txt"), std::string::npos) << run;
  EXPECT_FALSE(fs::exists(dir.file("out.bin")));
}

// ---- extract --script and back ---------------------------------------------------

// A file holding a resource of each kind the writer builds (version, file
// reference and bundle, the six icon types, a picture, a Pascal string, a
// file's bytes, the owner resource) and what only raw lines give: a string
// list, a repeated ID, attributes other than purgeable, MacRoman names.
void write_sample(const vt::TempDir &dir) {
  vt::write_file(dir.file("icon32.png"), cli::png(32, 32, 0, Bytes(32 * 32, 0x40)));
  vt::write_file(dir.file("icon16.png"), cli::png(16, 16, 0, Bytes(16 * 16, 0xC0)));
  vt::write_file(dir.file("pic.png"), cli::png(8, 8, 2, Bytes(8 * 8 * 3, 0x80)));
  vt::write_file(dir.file("readme"), vt::concat({vt::bytes_of("Line one\rZeile zwei "), hex("8E")}));
  vt::write_file(dir.file("list"), hex("00 03 03 61 62 63 02 8A 9A 00"));
  vt::write_file(dir.file("trailing"), hex("02 41 20"));
  vt::write_file(dir.file("odd-vers"), hex("01 00 80 0C 00 00 01 31 01 32"));  // pre-release 12
  vt::write_file(dir.file("data"), vt::bytes_of("the data fork"));
  vt::write_text(dir.file("script"),
                 "%flags 0x2500\n"
                 "%created 2001-02-03T04:05:06Z\n"
                 "%modified 2002-03-04T05:06:07Z\n"
                 "%name \"Gr\u00FC\u00DFe\"\n"
                 "BNDL \"Made by me\"\n"
                 "vers 1 \"\" 1.02 B 3 0/1.0.2/Version 1.0.2 \u00A9 Me\n"
                 "vers 2 \"\" --raw odd-vers\n"
                 "FREF 128 \"\" TEXT 128\n"
                 "ICN# 128 \"\" icon32.png\n"
                 "icl8 128 \"\" icon32.png\n"
                 "icl4 128 \"\" icon32.png\n"
                 "ics# 128 \"\" icon16.png\n"
                 "ics8 128 \"\" icon16.png\n"
                 "ics4 128 \"\" icon16.png\n"
                 "PICT 128 Vorschau pic.png 72\n"
                 "STR  128(protected) \"S\u00FC\u00DF\" ~Hello World\n"
                 "STR  128(0x58) \"\" --raw trailing\n"
                 "STR# 128 \"\" --raw list\n"
                 "TEXT 128 \"Read Me\" readme\n");
  const ToolRun run = varnel(dir.path(), "pack -q -o orig.bin --creator VARN --type APPL --data data script");
  ASSERT_EQ(run.status, 0) << run;
}

TEST(CliScriptRoundTrip, ExtractThenPackGivesTheSameFile) {
  Library library;
  vt::TempDir dir;
  write_sample(dir);
  ToolRun run = varnel(dir.path(), "extract orig.bin --script out");
  ASSERT_EQ(run.status, 0) << run;
  const std::string script = cli::text_of(dir.file("out/resources.txt"));
  // Readable where the text gives the same bytes back, raw elsewhere.
  for (const std::string &line : std::vector<std::string>{
           "%name Gr\u00FC\u00DFe\n", "%creator VARN\n", "%type APPL\n", "%flags 0x2500\n",
           "%created 2001-02-03T04:05:06Z\n", "%modified 2002-03-04T05:06:07Z\n", "%data data\n",
           "vers 1 \"\" 1.02 B 3 0/1.0.2/Version 1.0.2 \u00A9 Me\n", "vers 2 \"\" --raw vers.2\n",
           "STR 128(protected) S\u00FC\u00DF ~Hello World\n",
           "STR 128(sysHeap,locked,protected) \"\" --raw STR%20.128.2\n",
           "STR# 128 \"\" --strings STR#.128.txt\n", "TEXT 128 \"Read Me\" --text TEXT.128.txt\n",
           "FREF 128 \"\" --raw FREF.128\n", "BNDL 128 Bundle --raw BNDL.128\n",
           "VARN 0 \"Owner resource\" --raw VARN.0\n", "PICT 128 Vorschau --raw PICT.128\n",
           "ICN# 128 \"\" --raw ICN#.128\n"})
    EXPECT_NE(script.find(line), std::string::npos) << line << "\n" << script;
  EXPECT_EQ(cli::text_of(dir.file("out/TEXT.128.txt")), "Line one\nZeile zwei \u00E9");
  EXPECT_EQ(cli::text_of(dir.file("out/STR#.128.txt")), "abc\n\u00E4\u00F6\n\n");
  EXPECT_EQ(vt::read_file(dir.file("out/STR%20.128.2")), hex("02 41 20"));

  // Rebuilt from the script alone, in another directory.
  run = varnel(dir.path(), "pack -q -o again.bin out/resources.txt");
  ASSERT_EQ(run.status, 0) << run;
  const ReadFile orig = read_back(dir.file("orig.bin"));
  const ReadFile again = read_back(dir.file("again.bin"));
  ASSERT_EQ(orig.resources.size(), 16u);
  EXPECT_EQ(again.resources, orig.resources);
  EXPECT_EQ(again.data, orig.data);
  EXPECT_EQ(std::string(again.info.name), "Gr\x9F\xA7" "e");
  EXPECT_EQ(std::string(again.info.name), std::string(orig.info.name));
  EXPECT_EQ(std::string(again.info.type), "APPL");
  EXPECT_EQ(std::string(again.info.creator), "VARN");
  EXPECT_EQ(again.info.finder_flags, 0x2500);
  EXPECT_EQ(again.info.created, orig.info.created);
  EXPECT_EQ(again.info.modified, orig.info.modified);
  EXPECT_EQ(orig.info.created, 3029529600u + 399 * 86400 + 4 * 3600 + 5 * 60 + 6);  // 2000 (a leap year), January, 2 days
  // Byte for byte, even: the same writer, the same order.
  EXPECT_EQ(vt::to_hex(vt::read_file(dir.file("again.bin"))), vt::to_hex(vt::read_file(dir.file("orig.bin"))));
}

// A path may hold any byte but NUL and '/': a line end in it must not end
// the script's first comment line early (the rest would be read as a
// resource line, and pack would refuse its own script).
TEST(CliScriptRoundTrip, AnInputPathWithALineEndStaysInTheComment) {
  Library library;
  vt::TempDir dir;
  write_sample(dir);
  fs::rename(dir.file("orig.bin"), dir.file("odd\nname.bin"));
  ToolRun run = varnel(dir.path(), "extract " + quoted("odd\nname.bin") + " --script out");
  ASSERT_EQ(run.status, 0) << run;
  const std::string script = cli::text_of(dir.file("out/resources.txt"));
  EXPECT_EQ(script.substr(0, script.find('\n') + 1),
            "; Resource script of odd\uFFFDname.bin, written by varnel extract --script.\n");
  run = varnel(dir.path(), "pack -q -o again.bin out/resources.txt");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(read_back(dir.file("again.bin")).resources, read_back(dir.file("odd\nname.bin")).resources);
}

// "Bndl" names the library's bundle processor, but a map may hold a
// resource of that type like any other: its bytes come back as they are.
TEST(CliScriptRoundTrip, AResourceOfTheBundleProcessorsTypeComesBack) {
  Library library;
  vt::TempDir dir;
  ASSERT_EQ(MacBin_SetFormat(MACBIN_FORMAT_II), 1);
  char name[32] = "Odd";
  MacBinChannel *ch = MacBin_OpenW(dir.file("orig.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  ASSERT_EQ(MacBin_SetFinderResources(ch, 0), 0);
  ASSERT_EQ(MacBin_AddResourceData(ch, "Bndl", 5, nullptr, 0x20, "\x01\x02", 2), 0);
  MacBin_Close(ch);
  MacBin_SetFormat(MACBIN_FORMAT_CLASSIC);
  ASSERT_EQ(varnel(dir.path(), "extract orig.bin --script out").status, 0);
  const ToolRun run = varnel(dir.path(), "pack -q -o again.bin out/resources.txt");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(read_back(dir.file("again.bin")).resources,
            (std::vector<Resource>{{"Bndl", 5, "", 0x20, hex("01 02")}}));
}

// The sample file in every container pack writes: its script rebuilds the
// same resources, data fork, Finder info and dates (where the container
// holds them) in that container.
TEST(CliScriptRoundTrip, EveryContainerComesBackFromItsScript) {
  Library library;
  vt::TempDir dir;
  write_sample(dir);
  const struct {
    const char *format, *file;
    bool dates;
  } containers[] = {{"ii", "c.bin", true},         {"classic", "c.old.bin", true}, {"applesingle", "c.as", true},
                    {"appledouble", "c.txt", true}, {"binhex", "c.hqx", false}};
  const ReadFile orig = read_back(dir.file("orig.bin"));
  for (const auto &c : containers) {
    SCOPED_TRACE(c.format);
    ASSERT_EQ(varnel(dir.path(), std::string("convert -q orig.bin ") + c.file + " --to " + c.format).status, 0);
    const std::string script_dir = std::string("s_") + c.format;
    ToolRun run = varnel(dir.path(), "extract " + std::string(c.file) + " --script " + script_dir);
    ASSERT_EQ(run.status, 0) << run;
    const std::string rebuilt = std::string("r_") + c.file;
    run = varnel(dir.path(), "pack -q -o " + rebuilt + " --format " + c.format + " " + script_dir + "/resources.txt");
    ASSERT_EQ(run.status, 0) << run;
    const ReadFile again = read_back(dir.file(rebuilt));
    EXPECT_EQ(again.info.format, read_back(dir.file(c.file)).info.format);
    EXPECT_EQ(again.resources, orig.resources);
    EXPECT_EQ(again.data, orig.data);
    EXPECT_EQ(std::string(again.info.name), std::string(orig.info.name));
    EXPECT_EQ(std::string(again.info.type), "APPL");
    EXPECT_EQ(std::string(again.info.creator), "VARN");
    EXPECT_EQ(again.info.finder_flags, std::string(c.format) == "classic" ? 0x2500 & 0xFF00 : 0x2500);
    EXPECT_EQ(again.info.created, c.dates ? orig.info.created : 0u);
    EXPECT_EQ(again.info.modified, c.dates ? orig.info.modified : 0u);
  }
}

// What real files hold and a script must give back: a resource with
// attribute byte 0, one stored compressed (kept as stored), an empty one, a
// name of 200 characters, a signed ID, no owner resource, the map's
// attributes and the Finder information past type, creator and flags; and
// a file with no resource fork at all.  Each in every container pack
// writes, rebuilt from its script in that container without --format.
void write_real_file(const std::string &path, int32_t format, bool resources) {
  ASSERT_EQ(MacBin_SetFormat(format), 1);
  char name[32] = "Real";
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "MACS", "ZSYS");
  ASSERT_NE(ch, nullptr);
  ASSERT_EQ(MacBin_SetFinderResources(ch, 0), 0);
  const Bytes finder = hex("5A 53 59 53 4D 41 43 53 41 00 00 10 00 20 00 07"
                           "00 80 00 00 00 00 00 00 01 02 00 00 00 00 00 05");
  ASSERT_EQ(MacBin_SetFinderInfoBytes(ch, finder.data()), 0);
  MacBin_PutBuf("payload", 7, 7);
  EXPECT_EQ(MacBin_SetDates(ch, 3029529600u, 3029529700u), 0);
  if (resources) {
    ASSERT_EQ(MacBin_SetMapAttributes(ch, 0x0180), 0);
    const std::string long_name(200, 'n');
    const Bytes compressed = vt::compressed_resource(9, 2, vt::repeat(0x42, 300));
    EXPECT_EQ(MacBin_AddResourceData(ch, "STR ", 128, long_name.c_str(), 0x00, "\x02hi", 3), 0);
    EXPECT_EQ(MacBin_AddResourceData(ch, "ICN#", -3980, nullptr, 0x21, compressed.data(),
                                     static_cast<int32_t>(compressed.size())), 0);
    EXPECT_EQ(MacBin_AddResourceData(ch, "zero", 0, "", 0x58, nullptr, 0), 0);
    EXPECT_EQ(MacBin_AddResourceData(ch, "STR ", 127, "\xA5 Caf\x8E", 0x20, "\x00", 1), 0);
  }
  MacBin_Close(ch);
  MacBin_SetFormat(MACBIN_FORMAT_CLASSIC);
}

TEST(CliScriptRoundTrip, RealFilesComeBackExactly) {
  Library library;
  const struct {
    int32_t format;
    const char *file;
  } containers[] = {{MACBIN_FORMAT_II, "real.bin"},
                    {MACBIN_FORMAT_CLASSIC, "real.old.bin"},
                    {MACBIN_FORMAT_APPLESINGLE, "real.as"},
                    {MACBIN_FORMAT_APPLEDOUBLE, "real.txt"},
                    {MACBIN_FORMAT_BINHEX, "real.hqx"}};
  for (const auto &c : containers) {
    for (const bool resources : {true, false}) {
      SCOPED_TRACE(std::string(c.file) + (resources ? " with resources" : " without a resource fork"));
      vt::TempDir dir;
      write_real_file(dir.file(c.file), c.format, resources);
      const ReadFile orig = read_back(dir.file(c.file));
      ASSERT_EQ(orig.resources.size(), resources ? 4u : 0u);
      ToolRun run = varnel(dir.path(), std::string("extract ") + c.file + " --script s");
      ASSERT_EQ(run.status, 0) << run;
      EXPECT_EQ(run.err.find("warning"), std::string::npos) << run;  // nothing it could not carry
      const std::string script = cli::text_of(dir.file("s/resources.txt"));
      if (resources) {
        EXPECT_NE(script.find("; stored compressed: decompressor 2, 300 bytes uncompressed (kept as stored)\n"
                              "ICN# -3980(0x21) \"\" --raw"),
                  std::string::npos) << script;
        EXPECT_NE(script.find("STR 128(0x00) "), std::string::npos) << script;
        EXPECT_NE(script.find("%map-attributes 0x0180\n"), std::string::npos) << script;
      }
      EXPECT_NE(script.find("%finder-resources off\n"), std::string::npos) << script;
      std::string finder_line = "%finder-info " + vt::to_hex(orig.finder_info) + "\n";
      std::erase_if(finder_line, [](char each) { return each == ' ' || each == '\n'; });
      finder_line.insert(12, " ");
      if (c.format == MACBIN_FORMAT_BINHEX) {  // nothing past type, creator and flags
        EXPECT_EQ(script.find("%finder-info"), std::string::npos) << script;
      } else {
        EXPECT_NE(script.find(finder_line + "\n"), std::string::npos) << finder_line << "\n" << script;
      }
      const std::string rebuilt = std::string("r_") + c.file;
      run = varnel(dir.path(), "pack -q -o " + rebuilt + " s/resources.txt");
      ASSERT_EQ(run.status, 0) << run;
      const ReadFile again = read_back(dir.file(rebuilt));
      EXPECT_EQ(again.info.format, orig.info.format);
      EXPECT_EQ(again.resources, orig.resources);
      EXPECT_EQ(again.data, orig.data);
      EXPECT_EQ(again.info.rsrc_length, orig.info.rsrc_length);
      EXPECT_EQ(again.info.map_attributes, orig.info.map_attributes);
      EXPECT_EQ(vt::to_hex(again.finder_info), vt::to_hex(orig.finder_info));
      EXPECT_EQ(again.info.created, orig.info.created);
      EXPECT_EQ(again.info.modified, orig.info.modified);
      EXPECT_EQ(std::string(again.info.name), "Real");
      EXPECT_EQ(again.info.rsrc_state, resources ? 1 : 0);
    }
  }
}

TEST(CliScriptRoundTrip, BareResourceForkNeedsItsCodesGiven) {
  Library library;
  vt::TempDir dir;
  write_sample(dir);
  ASSERT_EQ(varnel(dir.path(), "extract orig.bin --rsrc fork.rsrc").status, 0);
  ToolRun run = varnel(dir.path(), "extract fork.rsrc --script out");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_NE(run.err.find("fork.rsrc: no creator code a script can carry; pack will need --creator"),
            std::string::npos) << run;
  const std::string script = cli::text_of(dir.file("out/resources.txt"));
  EXPECT_EQ(script.find("%creator"), std::string::npos) << script;
  expect_failure(varnel(dir.path(), "pack -o again.bin out/resources.txt"), 2, "pack needs a creator code");
  run = varnel(dir.path(), "pack -q -o again.bin --creator VARN --type APPL out/resources.txt");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(read_back(dir.file("again.bin")).resources, read_back(dir.file("orig.bin")).resources);
}

TEST(CliScriptRoundTrip, EditedTextsAndMistakesInTheHeader) {
  Library library;
  vt::TempDir dir;
  write_sample(dir);
  ASSERT_EQ(varnel(dir.path(), "extract orig.bin --script out").status, 0);
  // The user edits the string list and the text: UTF-8 in, MacRoman out.
  vt::write_text(dir.file("out/STR#.128.txt"), "eins\nzw\u00F6lf\n");
  vt::write_text(dir.file("out/TEXT.128.txt"), "\u00FCber\nalles");
  ToolRun run = varnel(dir.path(), "pack -q -o edited.bin out/resources.txt");
  ASSERT_EQ(run.status, 0) << run;
  const ReadFile edited = read_back(dir.file("edited.bin"));
  EXPECT_EQ(find_all(edited, "STR#", 128).at(0).data, hex("00 02 04 65 69 6E 73 05 7A 77 9A 6C 66"));
  EXPECT_EQ(find_all(edited, "TEXT", 128).at(0).data, hex("9F 62 65 72 0D 61 6C 6C 65 73"));

  vt::write_text(dir.file("out/STR#.128.txt"), "\u2713\n");
  expect_failure(varnel(dir.path(), "pack -o bad.bin out/resources.txt"), 1,
                 "STR#.128.txt: '\u2713' (U+2713) is not a Macintosh (MacRoman) character");
  const std::pair<std::string, std::string> headers[] = {
      {"%flags 0x10000", "%flags '0x10000' must be a number from 0 to 0xFFFF"},
      {"%flags 0x", "%flags '0x' must be a number"},
      {"%data -", "%data names a file; standard input is for --data -"},
      {"%created yesterday", "%created 'yesterday' must be a date like 2026-12-07T01:43:29Z"},
      {"%created 2001-02-30T00:00:00Z", "%created '2001-02-30T00:00:00Z' must be a date"},
      {"%colour blue", "unknown header line '%colour'"},
      {"%name", "a header line is '%KEYWORD VALUE'"},
  };
  for (const auto &[line, message] : headers) {
    vt::write_text(dir.file("bad-header"), line + "\n");
    expect_failure(varnel(dir.path(), "pack -o bad.bin --creator VARN --type TEXT bad-header"), 1,
                   "bad-header:1: error: " + message);
  }
  // Flags in decimal are decimal, not octal.
  vt::write_text(dir.file("decimal"), "%flags 0100\n");
  run = varnel(dir.path(), "pack -q -o decimal.bin --creator VARN --type TEXT decimal");
  ASSERT_EQ(run.status, 0) << run;
  EXPECT_EQ(read_back(dir.file("decimal.bin")).info.finder_flags, 100);
  // Options win over the header.
  vt::write_text(dir.file("out/STR#.128.txt"), "eins\n");
  run = varnel(dir.path(), "pack -q -o opt.bin --type TEXT --name Other out/resources.txt");
  ASSERT_EQ(run.status, 0) << run;
  const ReadFile opt = read_back(dir.file("opt.bin"));
  EXPECT_EQ(std::string(opt.info.type), "TEXT");
  EXPECT_EQ(std::string(opt.info.name), "Other");
  EXPECT_FALSE(fs::exists(dir.file("bad.bin")));
}

}  // namespace
