// varnel check, run as a user runs it: a clean file of each container the
// tool writes is "ok" with exit status 0; a damaged one gets exactly the
// library's finding as one line and exit status 1; --json lists it once;
// a file that cannot be read is named and exits with 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/read_back.hpp"
#include "support/support.hpp"
#include "support/tool_run.hpp"
#include "varnel.h"

namespace {

using cli::quoted;
using cli::ToolRun;
using cli::varnel;
using vt::Bytes;
namespace fs = std::filesystem;

struct LibraryFinding {
  int32_t severity, code;
  int64_t offset;
  std::string what, action;
};

void collect(const MacBinFinding *finding, void *argument) {
  static_cast<std::vector<LibraryFinding> *>(argument)->push_back(
      {finding->severity, finding->code, finding->offset, finding->what, finding->action});
}

class CliCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::init_recording();
    ASSERT_EQ(cli::pack_sample(dir_.path()).status, 0);
    for (const char *to : {"classic", "applesingle", "appledouble", "binhex", "rsrc"}) {
      const std::string out = std::string("Sample.") + to;
      ASSERT_EQ(varnel(dir_.path(), "convert -q Sample.bin " + out + " --to " + to).status, 0) << to;
    }
  }
  std::string file(std::string_view name) const { return dir_.file(name); }
  ToolRun check(const std::string &arguments) const { return varnel(dir_.path(), "check " + arguments); }

  // What the library finds in `name`, which must be exactly one finding of `code`.
  LibraryFinding only_finding(const std::string &name, int32_t code) const {
    std::vector<LibraryFinding> found;
    EXPECT_EQ(MacBin_CheckFile(file(name).c_str(), 0, collect, &found, nullptr), 1) << name;
    EXPECT_EQ(found.size(), 1u) << name;
    if (found.empty()) return {};
    EXPECT_EQ(found[0].code, code) << name;
    return found[0];
  }
  vt::TempDir dir_;
};

TEST_F(CliCheck, CleanFileOfEachContainerIsOk) {
  const std::string expected =
      "Sample.bin: MacBinary II\n  ok\n"
      "Sample.classic: MacBinary I\n  ok\n"
      "Sample.applesingle: AppleSingle\n  ok\n"
      "Sample.appledouble: AppleDouble data file (its header file is ._Sample.appledouble)\n  ok\n"
      "._Sample.appledouble: AppleDouble header\n  ok\n"
      "Sample.binhex: BinHex 4.0\n  ok\n"
      "Sample.rsrc: bare resource fork\n  ok\n";
  const std::string files =
      "Sample.bin Sample.classic Sample.applesingle Sample.appledouble ._Sample.appledouble Sample.binhex "
      "Sample.rsrc";
  for (const std::string options : {"", "--contents "}) {
    const ToolRun run = check(options + files);
    EXPECT_EQ(run.status, 0) << run;
    EXPECT_EQ(run.out, expected) << run;
    EXPECT_EQ(run.err, "") << run;
  }
  // Standard input is checked by its content like any file.
  const ToolRun piped = varnel(dir_.path(), "check -", file("Sample.bin"));
  EXPECT_EQ(piped.status, 0) << piped;
  EXPECT_EQ(piped.out, "-: MacBinary II\n  ok\n") << piped;
}

TEST_F(CliCheck, DamagedFileGivesExactlyItsFindingLine) {
  const Bytes clean = vt::read_file(file("Sample.bin"));
  // The header's CRC (bytes 124 and 125), one byte flipped.
  Bytes crc = clean;
  crc[125] ^= 0xFF;
  vt::write_file(file("Crc.bin"), crc);
  // The file ends 10 bytes into its resource fork.
  const size_t rsrc_start = 128 + (vt::be32(clean, 83) + 127) / 128 * 128;
  vt::write_file(file("Cut.bin"), vt::slice(clean, 0, rsrc_start + 10));
  // An AppleDouble header file named as a bare resource fork.
  fs::copy_file(file("._Sample.appledouble"), file("x.rsrc"));

  struct Case {
    const char *name, *container;
    int32_t code;
    const char *severity;
  };
  const Case cases[] = {{"Crc.bin", "MacBinary II", MACBIN_FINDING_HEADER_CRC, "error"},
                        {"Cut.bin", "MacBinary II", MACBIN_FINDING_RSRC_CUT, "error"},
                        {"x.rsrc", "AppleDouble header", MACBIN_FINDING_NAME_MISLEADS, "warning"}};
  for (const Case &c : cases) {
    const LibraryFinding found = only_finding(c.name, c.code);
    const std::string at = found.offset < 0 ? "" : " at byte " + std::to_string(found.offset);
    const ToolRun run = check(c.name);
    EXPECT_EQ(run.status, 1) << run;
    EXPECT_EQ(run.out, std::string(c.name) + ": " + c.container + "\n  " + c.severity + at + ": " + found.what +
                           ". " + found.action + ".\n")
        << run;
    EXPECT_EQ(run.err, "") << run;
  }
  EXPECT_EQ(only_finding("Crc.bin", MACBIN_FINDING_HEADER_CRC).offset, 124);
  // One damaged file among clean ones makes the whole run 1.
  EXPECT_EQ(check("Sample.bin Crc.bin Sample.binhex").status, 1);
}

TEST_F(CliCheck, BinHexPlacesAreInTheDecodedStream) {
  std::string text = cli::text_of(file("Sample.binhex"));
  // A character of the encoded forks changed to another of the alphabet:
  // a byte differs, and a CRC no longer holds.
  const size_t at = text.find('\n', text.find(':') + 1) + 5;
  text[at] = text[at] == 'A' ? 'B' : 'A';
  vt::write_text(file("Bad.hqx"), text);
  std::vector<LibraryFinding> found;
  ASSERT_EQ(MacBin_CheckFile(file("Bad.hqx").c_str(), 0, collect, &found, nullptr), 1);
  ASSERT_FALSE(found.empty());
  const ToolRun run = check("Bad.hqx");
  EXPECT_EQ(run.status, 1) << run;
  ASSERT_GE(found[0].offset, 0);
  EXPECT_NE(run.out.find(" at decoded byte " + std::to_string(found[0].offset) + ": " + found[0].what),
            std::string::npos)
      << run;
}

TEST_F(CliCheck, JsonListsEachFileAndFindingOnce) {
  Bytes crc = vt::read_file(file("Sample.bin"));
  crc[124] ^= 0x01;
  vt::write_file(file("Crc.bin"), crc);
  const LibraryFinding found = only_finding("Crc.bin", MACBIN_FINDING_HEADER_CRC);
  const ToolRun run = check("--json Sample.bin Crc.bin");
  EXPECT_EQ(run.status, 1) << run;
  const nlohmann::json report = nlohmann::json::parse(run.out);
  ASSERT_TRUE(report.is_array());
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0], nlohmann::json::parse(
                           R"({"file": "Sample.bin", "container": "MacBinary II", "findings": []})"));
  EXPECT_EQ(report[1]["file"], "Crc.bin");
  EXPECT_EQ(report[1]["container"], "MacBinary II");
  ASSERT_EQ(report[1]["findings"].size(), 1u);
  const nlohmann::json expected = {{"code", "header_crc"}, {"severity", "error"}, {"offset", 124},
                                   {"what", found.what},   {"action", found.action}};
  EXPECT_EQ(report[1]["findings"][0], expected);
  // A finding without a place has a null offset.
  fs::copy_file(file("._Sample.appledouble"), file("x.rsrc"));
  const LibraryFinding misleads = only_finding("x.rsrc", MACBIN_FINDING_NAME_MISLEADS);
  const nlohmann::json named = nlohmann::json::parse(check("--json x.rsrc").out);
  EXPECT_EQ(named[0]["findings"][0]["code"], "name_misleads");
  if (misleads.offset < 0) {
    EXPECT_TRUE(named[0]["findings"][0]["offset"].is_null()) << named;
  } else {
    EXPECT_EQ(named[0]["findings"][0]["offset"], misleads.offset);
  }
}

TEST_F(CliCheck, UnreadableFileIsNamedAndExitsWith2) {
  const ToolRun run = check("missing.bin Sample.bin");
  EXPECT_EQ(run.status, 2) << run;
  EXPECT_NE(run.err.find("varnel: error: missing.bin: cannot check: "), std::string::npos) << run;
  EXPECT_NE(run.err.find("No such file"), std::string::npos) << run;
  EXPECT_EQ(run.out, "Sample.bin: MacBinary II\n  ok\n") << run;  // the others are still checked
  const nlohmann::json report = nlohmann::json::parse(check("--json missing.bin").out);
  EXPECT_EQ(report[0]["file"], "missing.bin");
  EXPECT_TRUE(report[0]["error"].is_string()) << report;
  const ToolRun help = check("--help");
  EXPECT_EQ(help.status, 0) << help;
  EXPECT_EQ(help.out.rfind("Usage: varnel check", 0), 0u) << help;
  cli::expect_failure(check(""), 2, "check needs a file");
  cli::expect_failure(check("--json=yes Sample.bin"), 2, "option --json takes no value");
  cli::expect_failure(check("- -"), 2, "standard input can be checked only once");
}

// ---- Salvage ------------------------------------------------------------------

// Sample.bin with its first resource's data offset moved past the data.
Bytes with_first_resource_out_of_range(Bytes bytes) {
  const size_t rsrc = 128 + (vt::be32(bytes, 83) + 127) / 128 * 128;
  const size_t map = rsrc + vt::be32(bytes, rsrc + 4);
  const size_t types = map + vt::be16(bytes, map + 24);
  const size_t first_ref = types + vt::be16(bytes, types + 2 + 6);
  return vt::patched(bytes, first_ref + 5, vt::hex("FF FF F0"));
}

// The sizes of the forks as lsar, a peer reader, lists them: data, resource.
std::pair<int64_t, int64_t> peer_fork_sizes(const std::string &lsar, const std::string &path) {
  std::string text;
  if (vt::run_command(quoted(lsar) + " -j " + quoted(path) + " 2>/dev/null", &text) != 0) return {-1, -1};
  std::pair<int64_t, int64_t> sizes{0, 0};  // a fork it does not list is empty
  const nlohmann::json listing = nlohmann::json::parse(text);
  for (const nlohmann::json &entry : listing["lsarContents"])
    (entry.value("XADIsResourceFork", 0) == 1 ? sizes.second : sizes.first) = entry.value("XADFileSize", 0);
  return sizes;
}

TEST_F(CliCheck, SalvageKeepsEveryResourceThatReads) {
  vt::write_file(file("Range.bin"), with_first_resource_out_of_range(vt::read_file(file("Sample.bin"))));
  const vt::ReadFile original = vt::read_back(file("Sample.bin"));
  ASSERT_GE(original.resources.size(), 2u);
  const ToolRun run = check("--salvage Saved.bin Range.bin");
  EXPECT_EQ(run.status, 1) << run;
  const std::string lost = original.resources[0].type + " " + std::to_string(original.resources[0].id);
  EXPECT_NE(run.err.find("Range.bin: the data of resource " + lost + " lies outside"), std::string::npos) << run;
  const size_t count = original.resources.size();
  EXPECT_NE(run.err.find(std::to_string(count - 1) + " of " + std::to_string(count) + " resources"),
            std::string::npos)
      << run;
  // Read back: the same data fork and Finder information, every other resource as it was.
  const vt::ReadFile saved = vt::read_back(file("Saved.bin"));
  EXPECT_EQ(saved.info.format, MACBIN_FORMAT_II);
  EXPECT_EQ(saved.data, original.data);
  EXPECT_EQ(saved.finder_info, original.finder_info);
  EXPECT_EQ(saved.resources, std::vector<vt::ReadResource>(original.resources.begin() + 1, original.resources.end()));
  EXPECT_EQ(check("Saved.bin").status, 0);
  const std::string lsar = vt::require_peer("lsar", "unar");
  if (!lsar.empty()) {
    EXPECT_EQ(peer_fork_sizes(lsar, file("Saved.bin")),
              std::make_pair(static_cast<int64_t>(saved.data.size()), static_cast<int64_t>(saved.rsrc.size())));
  }
}

// A PICT file that another program wrote (netpbm's ppmtopict: a header of
// zeros, then a version 2 picture) is named and clean.
TEST_F(CliCheck, PeerPictFileIsNamedAndClean) {
  const std::string ppmtopict = vt::require_peer("ppmtopict", "netpbm");
  if (ppmtopict.empty()) GTEST_SKIP() << "ppmtopict (netpbm) is not installed";
  vt::write_file(file("red.ppm"), vt::concat({vt::bytes_of("P6 8 2 255\n"), vt::repeat(0x80, 8 * 2 * 3)}));
  // In parentheses: run_command sends standard error to its own output.
  ASSERT_EQ(vt::run_command("(" + quoted(ppmtopict) + " " + quoted(file("red.ppm")) + " > " +
                            quoted(file("Red.pict")) + " 2>/dev/null)"),
            0);
  const ToolRun run = check("Red.pict");
  EXPECT_EQ(run.status, 0) << run;
  EXPECT_EQ(run.out, "Red.pict: PICT picture file (a picture alone, not a container)\n  ok\n") << run;
}

TEST_F(CliCheck, SalvageSaysWhatIsLostAndKeepsTheContainer) {
  // A resource fork cut short: the data fork is all there is left.
  const Bytes clean = vt::read_file(file("Sample.bin"));
  const size_t rsrc_start = 128 + (vt::be32(clean, 83) + 127) / 128 * 128;
  vt::write_file(file("Cut.bin"), vt::slice(clean, 0, rsrc_start + 10));
  const ToolRun cut = check("--salvage Saved.bin Cut.bin");
  EXPECT_EQ(cut.status, 1) << cut;
  EXPECT_NE(cut.err.find("Cut.bin: lost: the resource fork"), std::string::npos) << cut;
  const vt::ReadFile saved = vt::read_back(file("Saved.bin"));
  EXPECT_EQ(saved.data, vt::read_back(file("Sample.bin")).data);
  EXPECT_TRUE(saved.resources.empty());
  EXPECT_EQ(check("Saved.bin").status, 0);

  // A clean file comes out as it went in, byte for byte.
  const ToolRun same = check("--salvage Copy.as Sample.applesingle");
  EXPECT_EQ(same.status, 0) << same;
  EXPECT_EQ(vt::read_file(file("Copy.as")), vt::read_file(file("Sample.applesingle")));

  // A BinHex fork whose CRC fails is kept as read, and said to be wrong.
  std::string text = cli::text_of(file("Sample.binhex"));
  const size_t at = text.find('\n', text.find(':') + 1) + 5;
  text[at] = text[at] == 'A' ? 'B' : 'A';
  vt::write_text(file("Bad.hqx"), text);
  const ToolRun binhex = check("--salvage Saved.hqx Bad.hqx");
  EXPECT_EQ(binhex.status, 1) << binhex;
  EXPECT_NE(binhex.err.find("some are wrong"), std::string::npos) << binhex;
  EXPECT_EQ(vt::read_back(file("Saved.hqx")).info.format, MACBIN_FORMAT_BINHEX);

  // Nothing is written when the file is no container at all, or the command line is wrong.
  vt::write_text(file("Plain.txt"), "not a Macintosh file\n");
  EXPECT_EQ(check("--salvage Out.bin Plain.txt").status, 1);
  EXPECT_FALSE(vt::file_exists(file("Out.bin")));
  cli::expect_failure(check("--salvage Out.bin Sample.bin Cut.bin"), 2, "--salvage OUT takes one FILE");
  cli::expect_failure(check("--salvage - Sample.bin"), 2, "OUT cannot be standard output");
}

}  // namespace
