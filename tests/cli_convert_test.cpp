// varnel convert and pack --format, run as a user runs them: every pair of
// containers round trip (forks byte for byte, type, creator, flags, name
// and dates where both ends hold them), what a container cannot hold is
// named, a failed conversion leaves nothing behind, and the peers accept
// what convert writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "support/macbinary.hpp"
#include "support/read_back.hpp"
#include "support/support.hpp"
#include "support/tool_run.hpp"
#include "varnel.h"

namespace {

using cli::expect_failure;
using cli::files_in;
using cli::quoted;
using cli::ToolRun;
using cli::varnel;
using vt::Bytes;
using vt::hex;
namespace fs = std::filesystem;

constexpr uint32_t k2000 = 3029529600u;  // 1904 to 2000, in seconds
constexpr uint32_t kCreated = k2000 + 0x01020304u;
constexpr uint32_t kModified = k2000 + 0x11223344u;

struct Sample {
  std::string name;  // MacRoman
  Bytes data;
  Bytes rsrc;
  uint16_t flags;
};

struct Container {
  const char *to;      // convert's name
  int32_t format;      // as read back
  const char *suffix;  // of the file convert writes
  bool dates, flags_low, finder_info;
};
const Container kContainers[] = {
    {"ii", MACBIN_FORMAT_II, ".bin", true, true, true},
    {"classic", MACBIN_FORMAT_CLASSIC, ".bin", true, false, true},
    {"applesingle", MACBIN_FORMAT_APPLESINGLE, ".as", true, true, true},
    {"appledouble", MACBIN_FORMAT_APPLEDOUBLE, ".txt", true, true, true},
    {"binhex", MACBIN_FORMAT_BINHEX, ".hqx", false, true, true},
    {"rsrc", MACBIN_FORMAT_RSRC, ".rsrc", false, false, false},
};

// The sample as the library writes it in `c`, or as a bare fork.
void write_source(const Container &c, const std::string &path, const Sample &sample) {
  if (c.format == MACBIN_FORMAT_RSRC) {
    vt::write_file(path, sample.rsrc);
    return;
  }
  ASSERT_EQ(MacBin_SetFormat(c.format), 1);
  std::vector<char> name(sample.name.begin(), sample.name.end());
  name.resize(64, '\0');
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name.data(), "ttxt", "TEXT");
  ASSERT_NE(ch, nullptr);
  ch->finder.flags = static_cast<int16_t>(sample.flags);
  MacBin_PutBuf(sample.data.data(), static_cast<int32_t>(sample.data.size()),
                static_cast<int32_t>(sample.data.size()));
  EXPECT_EQ(MacBin_SetDates(ch, kCreated, kModified), 0);
  EXPECT_EQ(MacBin_SetResourceFork(ch, sample.rsrc.data(), static_cast<int32_t>(sample.rsrc.size())), 0);
  MacBin_Close(ch);
}

// Every container into every other, four samples each: forks byte for
// byte, and the rest wherever both ends hold it.
TEST(CliConvert, EveryPairOfContainersRoundTrips) {
  vt::init_recording();
  const Bytes fork = vt::one_string_resource_fork();
  const std::vector<Sample> samples = {
      {"A", {}, {}, 0x0100},                                         // no forks
      {"\xA5", hex("00"), hex("7F"), 0x2140},                         // 1-byte forks (no map to read)
      {"R\x8Esum\x8E of 31 MacRoman chars \x80\x81\x82", vt::bytes_of("hello"), fork, 0xFFFF},
      {"Runs", vt::concat({vt::repeat(0x90, 700), hex("00 90 01")}), fork, 0x0000},
  };
  ASSERT_EQ(samples[2].name.size(), 31u);
  // The time now in Macintosh seconds (from 1904), read around each run: a
  // loaded machine takes minutes over all the pairs.
  const auto mac_now = [] { return static_cast<uint32_t>(std::time(nullptr)) + 2082844800u; };
  for (const Container &from : kContainers) {
    for (size_t s = 0; s < samples.size(); ++s) {
      const Sample &sample = samples[s];
      if (from.format == MACBIN_FORMAT_RSRC && sample.rsrc.size() <= 1) continue;  // no bare fork to find
      vt::TempDir dir;
      const std::string source = dir.file(std::string("in") + from.suffix);
      write_source(from, source, sample);
      for (const Container &to : kContainers) {
        SCOPED_TRACE(std::string(from.to) + " -> " + to.to + ", sample " + std::to_string(s));
        const std::string target = std::string("out_") + to.to + to.suffix;
        const uint32_t before = mac_now();
        const ToolRun run = varnel(dir.path(), "convert " + quoted(source) + " " + target + " --to " + to.to);
        const uint32_t after = mac_now();
        ASSERT_EQ(run.status, 0) << run;
        if (to.format == MACBIN_FORMAT_RSRC && !sample.rsrc.empty()) {
          // The fork's bytes, which need not be a fork with a map.
          EXPECT_EQ(vt::read_file(dir.file(target)), sample.rsrc);
          continue;
        }
        if (to.format == MACBIN_FORMAT_RSRC) {  // no fork: one with an empty map, which reads back
          const vt::ReadFile empty = vt::read_back(dir.file(target));
          EXPECT_EQ(empty.info.format, MACBIN_FORMAT_RSRC);
          EXPECT_EQ(empty.info.rsrc_state, 1);
          EXPECT_EQ(vt::to_hex(empty.rsrc).substr(0, 47), "00 00 01 00 00 00 01 00 00 00 00 00 00 00 00 1E");
          EXPECT_TRUE(empty.resources.empty());
          continue;
        }
        const vt::ReadFile out = vt::read_back(dir.file(target));
        EXPECT_EQ(out.info.format, to.format);
        EXPECT_EQ(out.rsrc, sample.rsrc);
        const bool source_has_data = from.format != MACBIN_FORMAT_RSRC;
        EXPECT_EQ(out.data, source_has_data ? sample.data : Bytes{});
        if (from.finder_info) {
          EXPECT_EQ(std::string(out.info.name), sample.name);
          EXPECT_STREQ(out.info.type, "TEXT");
          EXPECT_STREQ(out.info.creator, "ttxt");
          uint16_t flags = sample.flags;
          if (!from.flags_low || !to.flags_low) flags &= 0xFF00;
          EXPECT_EQ(out.info.finder_flags, flags);
        } else {
          EXPECT_STREQ(out.info.name, "in");  // named after the bare fork's file
          EXPECT_EQ(std::string(out.info.type, 4), std::string(4, '\0'));
          EXPECT_EQ(out.info.finder_flags, 0);
        }
        if (!to.dates) {
          EXPECT_EQ(out.info.created, 0u);
        } else if (from.dates) {
          EXPECT_EQ(out.info.created, kCreated);
          EXPECT_EQ(out.info.modified, kModified);
        } else {  // the time of the conversion
          EXPECT_GE(out.info.created, before - 1);
          EXPECT_LE(out.info.created, after + 1);
          EXPECT_EQ(out.info.modified, out.info.created);
        }
      }
    }
  }
}

// What the new container cannot hold is named, once, in a warning; and
// the conversion still succeeds.
TEST(CliConvert, WhatAContainerCannotHoldIsNamed) {
  vt::init_recording();
  vt::TempDir dir;
  // A 40-character name and a low Finder flag byte, as MacBinary II holds them.
  vt::MacBinaryPlan plan;
  plan.name = "A name of forty characters, all of them.";
  ASSERT_EQ(plan.name.size(), 40u);
  plan.flags = 0x0140;
  plan.created = 1000;  // 1904: before AppleSingle's earliest date
  plan.modified = kModified;
  plan.data_fork = vt::bytes_of("data");
  plan.format = vt::MbFormat::kII;
  vt::write_file(dir.file("long.bin"), vt::build_macbinary(plan).bytes);

  struct Case {
    std::string to, out;
    std::vector<std::string> warnings;
  } cases[] = {
      {"binhex", "o.hqx",
       {"o.hqx: BinHex holds no dates: the creation and modification dates are lost",
        "o.hqx: the name is cut to 31 characters: \"A name of forty characters, all\""}},
      {"classic", "o.bin",
       {"o.bin: the classic MacBinary header holds only the high byte of the Finder flags: 0x0140 becomes "
        "0x0100"}},
      {"applesingle", "o.as",
       {"o.as: AppleSingle cannot hold dates before December 1931: the creation date is stored as unknown"}},
      {"rsrc", "o.rsrc",
       {"long.bin: the data fork (4 bytes) is not written: a bare resource fork holds none",
        "o.rsrc: a bare resource fork holds no type, creator, Finder flags or dates"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.to);
    const ToolRun run = varnel(dir.path(), "convert long.bin " + c.out + " --to " + c.to);
    EXPECT_EQ(run.status, 0) << run;
    for (const std::string &warning : c.warnings)
      EXPECT_NE(run.err.find("varnel: warning: " + warning + "\n"), std::string::npos) << run;
    size_t warnings = 0;
    for (size_t at = run.err.find("warning:"); at != std::string::npos; at = run.err.find("warning:", at + 1))
      ++warnings;
    EXPECT_EQ(warnings, c.warnings.size() + (c.to == "rsrc" ? 0 : c.to == "binhex" ? 0 : 1)) << run;
  }
  const vt::ReadFile single = vt::read_back(dir.file("o.as"));
  EXPECT_EQ(single.info.created, 0u);
  EXPECT_EQ(single.info.modified, kModified);
  EXPECT_STREQ(single.info.name, "A name of forty characters, all");
  EXPECT_EQ(vt::read_back(dir.file("o.bin")).info.finder_flags, 0x0100);
}

TEST(CliConvert, UsageErrors) {
  vt::TempDir dir;
  const struct {
    std::string arguments, message;
  } cases[] = {
      {"convert a.bin b.rsrc", "convert needs --to FORMAT"},
      {"convert a.bin --to ii", "convert needs a file to read and a file to write"},
      {"convert a.bin b.zip --to zip", "--to must be one of ii (or macbinary), classic, applesingle, "
                                       "appledouble, binhex, rsrc; not 'zip'"},
      {"convert a.bin b.bin --to rsrc", "--to rsrc writes a bare resource fork, whose name must end in "
                                        "\".rsrc\"; not 'b.bin'"},
      {"convert a.bin - --to ii", "convert writes a file; '-' is not one"},
      {"pack -o x.bin --format rsrc", "--format must be one of ii (or macbinary), classic, applesingle, "
                                      "appledouble, binhex; not 'rsrc'"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.arguments);
    expect_failure(varnel(dir.path(), c.arguments), 2, "varnel: " + c.message + "\n");
  }
  EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{});
}

// A file that cannot be carried across whole is not converted, and leaves
// nothing behind: a resource fork cut short, a BinHex fork whose CRC does
// not match, a file that is no container.
TEST(CliConvert, DamagedInputLeavesNothingBehind) {
  vt::init_recording();
  vt::TempDir dir;
  const Sample sample{"Cut", vt::bytes_of("data"), vt::one_string_resource_fork(), 0x0100};
  write_source(kContainers[2], dir.file("cut.as"), sample);
  Bytes cut = vt::read_file(dir.file("cut.as"));
  cut.resize(cut.size() - 10);
  vt::write_file(dir.file("cut.as"), cut);
  write_source(kContainers[4], dir.file("bad.hqx"), sample);
  std::string text = cli::text_of(dir.file("bad.hqx"));
  const size_t colon = text.rfind(':');
  text[colon - 3] = text[colon - 3] == 'A' ? 'B' : 'A';  // inside the resource fork's CRC
  vt::write_file(dir.file("bad.hqx"), Bytes(text.begin(), text.end()));
  std::string plain;
  while (plain.size() < 200) plain += "just text\n";
  vt::write_file(dir.file("plain.txt"), vt::bytes_of(plain));
  const std::vector<std::string> inputs = files_in(dir.path());

  const struct {
    std::string arguments, message;
  } cases[] = {
      {"convert cut.as out.bin --to ii", "cut.as: the resource fork is cut short (the file holds "},
      {"convert cut.as out.txt --to appledouble", "cut.as: the resource fork is cut short"},
      {"convert cut.as out.rsrc --to rsrc", "cut.as: the resource fork is cut short"},
      {"convert bad.hqx out.bin --to ii", "bad.hqx: not converted: a fork's CRC does not match"},
      {"convert plain.txt out.bin --to ii",
       "plain.txt: not a Macintosh file (not MacBinary: its first byte is not zero; nor an AppleSingle, "
       "AppleDouble or BinHex file or a resource fork)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun run = varnel(dir.path(), c.arguments);
    expect_failure(run, 1, "varnel: error: " + c.message);
    EXPECT_EQ(files_in(dir.path()), inputs);
  }
  // The data fork of the cut file is still there for extract.
  ASSERT_EQ(varnel(dir.path(), "extract cut.as --data data.out").status, 1);
  EXPECT_EQ(vt::read_file(dir.file("data.out")), sample.data);
}

// AppleDouble is two files: on a full file system neither appears, and no
// temporary file of either stays.
TEST(CliConvert, AppleDoubleOnAFullFileSystemLeavesNeitherFile) {
  vt::init_recording();
  vt::TempDir dir;
  Bytes big(40 * 1024);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 13 + i / 256);
  // A resource fork too large for what is left beside the data fork.
  const Bytes rsrc = vt::concat({vt::one_string_resource_fork(), big});
  write_source(kContainers[2], dir.file("big.as"), Sample{"Big", big, rsrc, 0x0100});
  fs::create_directory(dir.file("full"));
  const std::string in_dir = "cd " + quoted(dir.path().string()) + " && ";
  std::string output;
  if (vt::run_command(in_dir + "unshare -m sh -c 'mount -t tmpfs -o size=64k none full' && echo ok", &output) != 0 ||
      output != "ok\n")
    GTEST_SKIP() << "cannot mount a tmpfs in a private mount namespace: " << output;
  const std::string tool = fs::absolute(vt::binary_dir() + "/tools/varnel").string();
  ASSERT_NE(vt::run_command(in_dir + "VARNEL=" + quoted(tool) +
                                " unshare -m sh -c 'mount -t tmpfs -o size=64k none full && "
                                "$VARNEL convert big.as full/out.txt --to appledouble; status=$?; "
                                "ls -A full | sed \"s/^/left: /\"; exit $status'",
                            &output),
            0);
  EXPECT_NE(output.find("varnel: error: full/out.txt: write error: " + std::string(std::strerror(ENOSPC))),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("left: "), std::string::npos) << output;
  EXPECT_EQ(files_in(dir.file("full")), std::vector<std::string>{});
}

// Both files of an AppleDouble pair appear under their names, and an
// existing pair is replaced whole.
TEST(CliConvert, AppleDoublePairReplacesBothFiles) {
  vt::init_recording();
  vt::TempDir dir;
  write_source(kContainers[0], dir.file("one.bin"), Sample{"One", vt::bytes_of("first"), vt::one_string_resource_fork(), 0});
  write_source(kContainers[0], dir.file("two.bin"), Sample{"Two", vt::bytes_of("second"), {}, 0});
  ASSERT_EQ(varnel(dir.path(), "convert one.bin doc --to appledouble").status, 0);
  EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"._doc", "doc", "one.bin", "two.bin"}));
  ASSERT_EQ(varnel(dir.path(), "convert two.bin doc --to appledouble").status, 0);
  EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"._doc", "doc", "one.bin", "two.bin"}));
  const vt::ReadFile pair = vt::read_back(dir.file("doc"));
  EXPECT_STREQ(pair.info.name, "Two");
  EXPECT_EQ(pair.data, vt::bytes_of("second"));
  EXPECT_EQ(pair.rsrc, Bytes{});
  // The pair reads the same by its header file's name, and converts back.
  ASSERT_EQ(varnel(dir.path(), "convert ._doc back.bin --to ii").status, 0);
  EXPECT_EQ(vt::read_back(dir.file("back.bin")).data, vt::bytes_of("second"));
}

// pack writes every container the library writes, with its resources.
TEST(CliConvert, PackWritesEveryContainer) {
  vt::init_recording();
  vt::TempDir dir;
  vt::write_file(dir.file("d.txt"), vt::bytes_of("data fork\n"));
  for (const Container &c : kContainers) {
    if (c.format == MACBIN_FORMAT_RSRC) continue;
    SCOPED_TRACE(c.to);
    const std::string out = std::string("p_") + c.to + c.suffix;
    const ToolRun run =
        cli::pack(dir.path(), "-o " + out + " --format " + c.to + " --data d.txt -e 'STR  128 \"\" ~Hi'");
    ASSERT_EQ(run.status, 0) << run;
    MacBinChannel *ch = MacBin_OpenR(dir.file(out).c_str());
    ASSERT_NE(ch, nullptr);
    MacBinFileInfo info;
    ASSERT_EQ(MacBin_GetFileInfo(ch, &info), 1);
    EXPECT_EQ(info.format, c.format);
    EXPECT_EQ(std::string(info.name), "p_" + std::string(c.to) + (c.format == MACBIN_FORMAT_APPLEDOUBLE ? ".txt" : ""));
    EXPECT_EQ(MacBin_CheckResource2(ch, "STR ", 128, nullptr), 1);
    MacBin_Close(ch);
    const ToolRun listed = varnel(dir.path(), "list " + out);
    EXPECT_EQ(listed.status, 0) << listed;
  }
  EXPECT_NE(varnel(dir.path(), "list p_applesingle.as").out.find("Format:        AppleSingle, CRC none\n"),
            std::string::npos);
  EXPECT_NE(varnel(dir.path(), "list p_binhex.hqx").out.find("Format:        BinHex 4.0, CRC valid\n"),
            std::string::npos);
  for (const std::string &name : files_in(dir.path()))
    EXPECT_TRUE(!name.starts_with(".") || name == "._p_appledouble.txt") << name;
}

// ---- Peers ---------------------------------------------------------------------------------

// What convert writes, read by the peers: MacBinary by macunpack, hcopy
// and unar; AppleSingle and AppleDouble by unar; BinHex by hexbin.
TEST(CliConvertPeers, PeersReadWhatConvertWrites) {
  vt::init_recording();
  vt::TempDir dir;
  const Sample sample{"PeerFile", vt::concat({vt::repeat(0x90, 300), vt::bytes_of("tail")}), vt::one_string_resource_fork(),
                      0x0100};
  write_source(kContainers[4], dir.file("in.hqx"), sample);
  for (const char *to : {"ii", "applesingle", "appledouble", "binhex"}) {
    const std::string out = std::string("c_") + to;
    ASSERT_EQ(varnel(dir.path(), "convert in.hqx " + out + " --to " + to).status, 0) << to;
  }
  const std::string in_dir = "cd " + quoted(dir.path().string()) + " && ";
  std::string output;
  int ran = 0;
  if (const std::string macunpack = vt::require_peer("macunpack", "macutils"); !macunpack.empty()) {
    ASSERT_EQ(vt::run_command(in_dir + "mkdir mu && cd mu && " + quoted(macunpack) + " -3 ../c_ii", &output), 0)
        << output;
    EXPECT_EQ(vt::read_file(dir.file("mu/PeerFile.data")), sample.data);
    EXPECT_EQ(vt::read_file(dir.file("mu/PeerFile.rsrc")), sample.rsrc);
    ++ran;
  }
  if (const std::string hexbin = vt::require_peer("hexbin", "macutils"); !hexbin.empty()) {
    ASSERT_EQ(vt::run_command(in_dir + "mkdir hb && cd hb && " + quoted(hexbin) + " -3 ../c_binhex", &output), 0)
        << output;
    EXPECT_EQ(vt::read_file(dir.file("hb/PeerFile.data")), sample.data);
    EXPECT_EQ(vt::read_file(dir.file("hb/PeerFile.rsrc")), sample.rsrc);
    EXPECT_EQ(vt::slice(vt::read_file(dir.file("hb/PeerFile.info")), 65, 8), vt::bytes_of("TEXTttxt"));
    ++ran;
  }
  if (const std::string hcopy = vt::require_peer("hcopy", "hfsutils"); !hcopy.empty()) {
    // hcopy -m reads MacBinary into an HFS volume; hdir shows what it holds.
    const std::string hformat = vt::require_peer("hformat", "hfsutils");
    const std::string hdir = vt::require_peer("hdir", "hfsutils");
    const std::string humount = vt::require_peer("humount", "hfsutils");
    ASSERT_EQ(vt::run_command(in_dir + "dd if=/dev/zero of=v.hfs bs=1k count=800 2>/dev/null && " +
                                  "HOME=. " + quoted(hformat) + " -l Peer v.hfs >/dev/null && HOME=. " +
                                  quoted(hcopy) + " -m c_ii : && HOME=. " + quoted(hdir) + " -l && HOME=. " +
                                  quoted(humount),
                              &output),
              0)
        << output;
    EXPECT_NE(output.find("TEXT/ttxt"), std::string::npos) << output;
    EXPECT_NE(output.find("PeerFile"), std::string::npos) << output;
    ++ran;
  }
  const std::string unar = vt::require_peer("unar", "unar");
  if (!unar.empty()) {
    for (const char *file : {"c_ii", "c_applesingle", "._c_appledouble"}) {
      SCOPED_TRACE(file);
      const std::string into = std::string("u_") + (file[0] == '.' ? "ad" : file);
      ASSERT_EQ(vt::run_command(in_dir + quoted(unar) + " -q -k visible -o " + into + " " + file, &output), 0)
          << output;
      // unar keeps the resource fork in an AppleDouble file NAME.rsrc beside the data.
      const vt::ReadFile kept = vt::read_back(dir.file(into + "/PeerFile.rsrc"));
      EXPECT_EQ(kept.rsrc, sample.rsrc);
      EXPECT_STREQ(kept.info.type, "TEXT");
      if (file[0] != '.') {
        EXPECT_EQ(vt::read_file(dir.file(into + "/PeerFile")), sample.data);
      }
    }
    ++ran;
  }
  if (ran < 4) GTEST_SKIP() << "peers missing: " << ran << " of macutils (2), hfsutils and unar ran";
}

}  // namespace
