// Resource scripts through the public calls: the script of a small file
// (its text and the files beside it, byte for byte), what a script cannot
// carry, header lines with each refusal, container names both ways, the
// default Macintosh name, resource file names and quoted words, which the
// library's own line splitter must give back unchanged.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/macbinary.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

// A file written through the library, then opened for reading; closed
// when the test ends.
class ReadChannel {
 public:
  ReadChannel(const std::string &path) : channel_(MacBin_OpenR(path.c_str())) {}
  ~ReadChannel() {
    if (channel_ != nullptr) MacBin_Close(channel_);
  }
  ReadChannel(const ReadChannel &) = delete;
  ReadChannel &operator=(const ReadChannel &) = delete;
  MacBinChannel *get() const { return channel_; }

 private:
  MacBinChannel *channel_;
};

struct Added {
  const char *type;
  int32_t id;
  const char *name;
  int32_t attributes;
  Bytes data;
};

// A MacBinary II file "name" of VARN/TEXT with flags 0x0100, fixed dates,
// the data fork "hi" and exactly these resources.
void write_file(const std::string &path, const char *mac_name, const std::vector<Added> &resources) {
  ASSERT_EQ(MacBin_SetFormat(MACBIN_FORMAT_II), 1);
  char name[64] = {};
  std::strncpy(name, mac_name, sizeof name - 1);
  MacBinChannel *ch = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  ASSERT_EQ(MacBin_SetFinderResources(ch, 0), 0);
  ch->finder.flags = 0x0100;
  MacBin_PutBuf("hi", 2, 2);
  ASSERT_EQ(MacBin_SetDates(ch, 3029529600u, 3029529700u), 0);
  for (const Added &r : resources)
    ASSERT_EQ(MacBin_AddResourceData(ch, r.type, r.id, r.name, r.attributes, r.data.data(),
                                     static_cast<int32_t>(r.data.size())),
              0)
        << r.type << " " << r.id;
  MacBin_Close(ch);
}

struct Script {
  std::string text;
  std::vector<std::pair<std::string, Bytes>> files;
  std::vector<std::pair<int32_t, std::string>> notes;
};

// Everything a script holds, read through the calls; the script is freed.
Script read_script(MacBinScript *script) {
  Script out;
  const char *text = nullptr;
  const int64_t length = MacBin_GetScriptText(script, &text);
  EXPECT_EQ(length, static_cast<int64_t>(std::strlen(text)));
  out.text = text;
  const char *name = nullptr;
  const uint8_t *bytes = nullptr;
  int64_t size = 0;
  for (int32_t i = 0; MacBin_GetScriptFile(script, i, &name, &bytes, &size) == 1; ++i)
    out.files.emplace_back(name, Bytes(bytes, bytes + size));
  for (int32_t i = 0, severity; (severity = MacBin_GetScriptNote(script, i, &text)) != 0; ++i)
    out.notes.emplace_back(severity, text);
  EXPECT_EQ(MacBin_GetScriptFile(script, -1, &name, &bytes, &size), 0);
  EXPECT_EQ(MacBin_GetScriptNote(script, -1, &text), 0);
  MacBin_FreeScript(script);
  return out;
}

Script script_of(const std::string &path, const char *source) {
  ReadChannel in(path);
  EXPECT_NE(in.get(), nullptr);
  MacBinScript *script = MacBin_NewScript(in.get(), source);
  EXPECT_NE(script, nullptr);
  return script == nullptr ? Script{} : read_script(script);
}

std::string last_error() {
  const char *text = "";
  MacBin_LastError(&text);
  return text;
}

// ---- The script of a file ----------------------------------------------------

TEST(ScriptOfAFile, TextFilesAndFormsOfEveryKind) {
  vt::init_recording();
  ASSERT_EQ(MacBin_AddProcessor("vers", nullptr, add_vers), 0);
  vt::TempDir dir;
  write_file(dir.file("tiny.bin"), "Tiny \"one\"",
             {{"STR ", 128, "Greeting", 0x20, hex("05 48 65 6C 6C 6F")},
              // A blank at the end, and the same ID again: bytes in a file.
              {"STR ", 128, nullptr, 0x0C, hex("02 41 20")},
              {"TEXT", 5, nullptr, 0x20, hex("61 0D 62")},
              {"vers", 1, nullptr, 0x20, hex("01 00 80 00 00 00 03 31 2E 30 0B 56 65 72 73 69 6F 6E 20 31 2E 30")},
              {"a.b/", -2, "two words", 0x00, hex("FF 00")},
              {"ICN#", 128, nullptr, 0x81, hex("01 02 03")}});
  MacBin_ClearError();
  const Script script = script_of(dir.file("tiny.bin"), "in/tiny.bin");
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_NONE) << "the checks' refusals are no failure";
  EXPECT_EQ(script.text,
            "; Resource script of in/tiny.bin, written by varnel extract --script.\n"
            "; \"varnel pack -o OUT resources.txt\" rebuilds the file; lines are\n"
            "; TYPE ID(ATTRIBUTES) NAME PARAMETERS, see varnel pack --help.\n"
            "%name \"Tiny \\\"one\\\"\"\n"
            "%creator VARN\n"
            "%type TEXT\n"
            "%flags 0x0100\n"
            "%created 2000-01-01T00:00:00Z\n"
            "%modified 2000-01-01T00:01:40Z\n"
            "%data data\n"
            "%format ii\n"
            "%finder-resources off\n"
            "STR 128 Greeting ~Hello\n"
            "STR 128(protected,preload) \"\" --raw STR%20.128.2\n"
            "TEXT 5 \"\" --text TEXT.5.txt\n"
            "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0\n"
            "a.b/ -2(0x00) \"two words\" --raw a%2Eb%2F.-2\n"
            "; stored with the compressed attribute, but not in a form the library reads\n"
            "ICN# 128(0x81) \"\" --raw ICN#.128\n");
  const std::vector<std::pair<std::string, Bytes>> files = {{"data", hex("68 69")},
                                                            {"STR%20.128.2", hex("02 41 20")},
                                                            {"TEXT.5.txt", hex("61 0A 62")},
                                                            {"a%2Eb%2F.-2", hex("FF 00")},
                                                            {"ICN#.128", hex("01 02 03")}};
  EXPECT_EQ(script.files, files);
  EXPECT_TRUE(script.notes.empty());
}

TEST(ScriptOfAFile, WithoutTheVersProcessorAVersKeepsItsBytesInAFile) {
  vt::init_recording();
  vt::TempDir dir;
  write_file(dir.file("v.bin"), "V", {{"vers", 1, nullptr, 0x20, hex("01 00 80 00 00 00 01 31 01 32")}});
  const Script script = script_of(dir.file("v.bin"), "v.bin");
  EXPECT_NE(script.text.find("\nvers 1 \"\" --raw vers.1\n"), std::string::npos) << script.text;
  EXPECT_EQ(script.files.back(), (std::pair<std::string, Bytes>{"vers.1", hex("01 00 80 00 00 00 01 31 01 32")}));
}

TEST(ScriptOfAFile, TheSourceStaysOnTheCommentLine) {
  vt::init_recording();
  vt::TempDir dir;
  write_file(dir.file("s.bin"), "S", {});
  const Script script = script_of(dir.file("s.bin"), "odd\nname\r\x01\xFF.bin");
  EXPECT_EQ(script.text.substr(0, script.text.find('\n') + 1),
            "; Resource script of odd\uFFFDname\uFFFD\uFFFD\uFFFD.bin, written by varnel extract --script.\n");
  EXPECT_EQ(script.text.rfind("; \"varnel pack", 100), script.text.find('\n') + 1);
  // No source at all.
  EXPECT_EQ(script_of(dir.file("s.bin"), nullptr).text.rfind("; Resource script of , written", 0), 0u);
}

TEST(ScriptOfAFile, WhatAScriptCannotCarryIsNoted) {
  vt::init_recording();
  vt::TempDir dir;
  // A name pack refuses (a ':'), a type and a name holding control
  // characters: those resources are left out, the rest written.
  write_file(dir.file("n.bin"), "0123456789:12345678901234567890",
             {{"ST\x01R", 1, nullptr, 0x20, hex("00")},
              {"TEXT", 2, "line\nend", 0x20, hex("00")},
              {"TEXT", 3, nullptr, 0x20, hex("41")}});
  const Script script = script_of(dir.file("n.bin"), "n.bin");
  EXPECT_NE(script.text.find("%name 0123456789-12345678901234567890\n"), std::string::npos) << script.text;
  EXPECT_NE(script.text.find("\nTEXT 3 \"\" --text TEXT.3.txt\n"), std::string::npos) << script.text;
  EXPECT_EQ(script.text.find("TEXT 2"), std::string::npos) << script.text;
  const std::vector<std::pair<int32_t, std::string>> notes = {
      {MACBIN_WARNING,
       "the name's ':' (the Macintosh path separator) is written '-': \"0123456789-12345678901234567890\""},
      {MACBIN_ERROR, "ST\uFFFDR 1: its type or name holds control characters, which a script cannot carry"},
      {MACBIN_ERROR, "TEXT 2: its type or name holds control characters, which a script cannot carry"}};
  EXPECT_EQ(script.notes, notes);

  // A name longer than the Finder's (a MacBinary header holds 63), in a
  // container no script names.
  vt::MacBinaryPlan plan;
  plan.name = std::string(30, 'x') + "\x8E" + "yz";
  plan.format = vt::MbFormat::kIII;
  plan.resource_fork = false;
  vt::write_file(dir.file("long.bin"), vt::build_macbinary(plan).bytes);
  const Script long_name = script_of(dir.file("long.bin"), "long.bin");
  EXPECT_NE(long_name.text.find("\n%name " + std::string(30, 'x') + "\u00E9\n"), std::string::npos) << long_name.text;
  EXPECT_EQ(long_name.text.find("%format"), std::string::npos) << long_name.text;
  const std::vector<std::pair<int32_t, std::string>> long_notes = {
      {MACBIN_WARNING, "the name is cut to 31 characters: \"" + std::string(30, 'x') + "\u00E9\""},
      {MACBIN_WARNING, "pack writes MacBinary III as MacBinary II (unless --format says otherwise)"}};
  EXPECT_EQ(long_name.notes, long_notes);
}

TEST(ScriptOfAFile, RefusedWithoutAReadingChannelOrACarriableName) {
  vt::init_recording();
  vt::TempDir dir;
  write_file(dir.file("c.bin"), "tab\there", {});
  ReadChannel in(dir.file("c.bin"));
  ASSERT_NE(in.get(), nullptr);
  EXPECT_EQ(MacBin_NewScript(in.get(), "c.bin"), nullptr);
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(last_error(), "the file name holds control characters, which a script cannot carry");
  EXPECT_EQ(MacBin_NewScript(nullptr, "x"), nullptr);
  EXPECT_EQ(last_error(), "MacBin_NewScript: not a channel open for reading");
  EXPECT_EQ(MacBin_GetScriptText(nullptr, nullptr), -1);
  EXPECT_EQ(MacBin_GetScriptFile(nullptr, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(MacBin_GetScriptNote(nullptr, 0, nullptr), 0);
  MacBin_FreeScript(nullptr);
}

// ---- Header lines ---------------------------------------------------------------

TEST(ScriptHeader, EachLineSetsItsFieldAndBit) {
  MacBinScriptHeader header{};
  const std::string lines[] = {"%creator VARN",
                               "  %type \"TX T\"",
                               "%name \"Gr\u00FC\u00DFe\"",
                               "%flags 0x2500",
                               "%created 2001-02-03T04:05:06Z",
                               "%modified 4",
                               "\t%data \"my data\"",
                               "%format binhex",
                               "%finder-resources off",
                               "%map-attributes 0100",
                               "%finder-info " + std::string(62, '0') + "aB"};
  uint32_t bits = 0;
  for (const std::string &line : lines) {
    ASSERT_EQ(MacBin_ReadScriptHeader(line.c_str(), &header), MACBIN_ERR_NONE) << line << ": " << last_error();
    EXPECT_EQ(__builtin_popcount(header.given & ~bits), 1) << line << ": one new bit";
    bits = header.given;
  }
  EXPECT_EQ(header.given, 0x07FFu);
  EXPECT_STREQ(header.creator, "VARN");
  EXPECT_STREQ(header.type, "TX T");
  EXPECT_STREQ(header.name, "Gr\u00FC\u00DFe");
  EXPECT_EQ(header.flags, 0x2500);
  EXPECT_EQ(header.created, 3064017906u);
  EXPECT_EQ(header.modified, 4u);
  EXPECT_STREQ(header.data, "my data");
  EXPECT_EQ(header.format, MACBIN_FORMAT_BINHEX);
  EXPECT_EQ(header.finder_resources, 0);
  EXPECT_EQ(header.map_attributes, 100) << "decimal, never octal";
  EXPECT_EQ(header.finder_info[31], 0xAB);
  EXPECT_EQ(header.finder_info[0], 0x00);
  // A later line wins; "on" turns the Finder resources back on.
  ASSERT_EQ(MacBin_ReadScriptHeader("%finder-resources on", &header), MACBIN_ERR_NONE);
  ASSERT_EQ(MacBin_ReadScriptHeader("%format II", &header), MACBIN_ERR_NONE);
  EXPECT_EQ(header.finder_resources, 1);
  EXPECT_EQ(header.format, MACBIN_FORMAT_II);
}

TEST(ScriptHeader, RefusalsSayWhyAndLeaveTheRecordAsItWas) {
  const std::string known =
      ": %creator, %type, %name, %flags, %created, %modified, %data, %format, %finder-resources, %map-attributes "
      "and %finder-info are known";
  const std::pair<std::string, std::string> refused[] = {
      {"%name", "a header line is '%KEYWORD VALUE' (quote a value with blanks): '%name'"},
      {"  %name a b", "a header line is '%KEYWORD VALUE' (quote a value with blanks): '  %name a b'"},
      {"STR 1 x ~y", "a header line is '%KEYWORD VALUE' (quote a value with blanks): 'STR 1 x ~y'"},
      {"", "a header line is '%KEYWORD VALUE' (quote a value with blanks): ''"},
      {"%colour blue", "unknown header line '%colour'" + known},
      {"%flags 0x10000", "%flags '0x10000' must be a number from 0 to 0xFFFF"},
      {"%flags 0x", "%flags '0x' must be a number from 0 to 0xFFFF"},
      {"%flags -1", "%flags '-1' must be a number from 0 to 0xFFFF"},
      {"%map-attributes +5", "%map-attributes '+5' must be a number from 0 to 0xFFFF"},
      {"%created yesterday",
       "%created 'yesterday' must be a date like 2026-12-07T01:43:29Z (UTC) or seconds since 1904"},
      {"%modified 2001-02-30T00:00:00Z",
       "%modified '2001-02-30T00:00:00Z' must be a date like 2026-12-07T01:43:29Z (UTC) or seconds since 1904"},
      {"%data -", "%data names a file; standard input is for --data -"},
      {"%data " + std::string(4096, 'd'), "%data names a file of more than 4095 bytes"},
      {"%creator ABCDEFGHIJKLMNOP", "%creator 'ABCDEFGHIJKLMNOP' must be 1 to 4 Macintosh characters"},
      {"%type ABCDEFGHIJKLMNOP", "%type 'ABCDEFGHIJKLMNOP' must be 1 to 4 Macintosh characters"},
      {"%name " + std::string(128, 'n'), "%name '" + std::string(128, 'n') + "' must be 1 to 31 Macintosh characters"},
      {"%format rsrc", "%format must be one of " MACBIN_CONTAINER_NAMES "; not 'rsrc'"},
      {"%format iii", "%format must be one of ii (or macbinary), classic, applesingle, appledouble, binhex; not 'iii'"},
      {"%finder-resources maybe",
       "%finder-resources is 'off' (no owner resource or bundle added) or 'on'; not 'maybe'"},
      {"%finder-info 00", "%finder-info '00' must be 64 hexadecimal digits (32 bytes)"},
      {"%finder-info " + std::string(63, '0') + "g",
       "%finder-info '" + std::string(63, '0') + "g' must be 64 hexadecimal digits (32 bytes)"},
  };
  for (const auto &[line, reason] : refused) {
    MacBinScriptHeader header{};
    header.flags = 7;
    ASSERT_EQ(MacBin_ReadScriptHeader("%creator KEEP", &header), MACBIN_ERR_NONE);
    EXPECT_EQ(MacBin_ReadScriptHeader(line.c_str(), &header), MACBIN_ERR_ARGUMENT) << line;
    EXPECT_EQ(last_error(), reason.substr(0, 511)) << line;
    EXPECT_EQ(header.given, static_cast<uint32_t>(MACBIN_SCRIPT_CREATOR)) << line;
    EXPECT_EQ(header.flags, 7) << line;
    EXPECT_STREQ(header.creator, "KEEP") << line;
  }
  MacBinScriptHeader header{};
  EXPECT_EQ(MacBin_ReadScriptHeader(nullptr, &header), MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(MacBin_ReadScriptHeader("%type TEXT", nullptr), MACBIN_ERR_ARGUMENT);
}

// ---- Names --------------------------------------------------------------------------

TEST(ScriptNames, ContainersBothWays) {
  const int32_t written[] = {MACBIN_FORMAT_CLASSIC, MACBIN_FORMAT_II, MACBIN_FORMAT_APPLESINGLE,
                             MACBIN_FORMAT_APPLEDOUBLE, MACBIN_FORMAT_BINHEX};
  for (const int32_t format : written) {
    const char *keyword = MacBin_ContainerName(format, MACBIN_CONTAINER_KEYWORD);
    ASSERT_NE(keyword, nullptr) << format;
    EXPECT_EQ(MacBin_ContainerNamed(keyword), format) << keyword;
  }
  EXPECT_EQ(MacBin_ContainerNamed("II"), MACBIN_FORMAT_II);
  EXPECT_EQ(MacBin_ContainerNamed("macbinary"), MACBIN_FORMAT_II);
  EXPECT_EQ(MacBin_ContainerNamed("rsrc"), MACBIN_FORMAT_RSRC);
  for (const char *unknown : {"", "iii", "Binhex", "ii ", "MacBinary II"}) EXPECT_EQ(MacBin_ContainerNamed(unknown), 0);
  EXPECT_EQ(MacBin_ContainerNamed(nullptr), 0);
  EXPECT_EQ(MacBin_ContainerName(MACBIN_FORMAT_III, MACBIN_CONTAINER_KEYWORD), nullptr);
  EXPECT_EQ(MacBin_ContainerName(MACBIN_FORMAT_RSRC, MACBIN_CONTAINER_KEYWORD), nullptr);
  EXPECT_STREQ(MacBin_ContainerName(MACBIN_FORMAT_II, MACBIN_CONTAINER_TITLE), "MacBinary II");
  EXPECT_STREQ(MacBin_ContainerName(MACBIN_FORMAT_CLASSIC, MACBIN_CONTAINER_TITLE), "classic MacBinary");
  EXPECT_STREQ(MacBin_ContainerName(MACBIN_FORMAT_RSRC, MACBIN_CONTAINER_TITLE), "a bare resource fork");
  EXPECT_STREQ(MacBin_ContainerName(MACBIN_FORMAT_BINHEX, MACBIN_CONTAINER_TITLE), "BinHex 4.0");
  EXPECT_STREQ(MacBin_ContainerName(MACBIN_FORMAT_RSRC, MACBIN_CONTAINER_LISTED), "resource fork");
  EXPECT_STREQ(MacBin_ContainerName(MACBIN_FORMAT_CLASSIC, MACBIN_CONTAINER_LISTED), "classic");
  EXPECT_STREQ(MacBin_ContainerName(MACBIN_FORMAT_III, MACBIN_CONTAINER_LISTED), "MacBinary III");
  EXPECT_EQ(MacBin_ContainerName(0, MACBIN_CONTAINER_TITLE), nullptr);
  EXPECT_EQ(MacBin_ContainerName(8, MACBIN_CONTAINER_LISTED), nullptr);
  EXPECT_EQ(MacBin_ContainerName(MACBIN_FORMAT_II, 4), nullptr);
}

std::string default_name(const char *path) {
  char name[32];
  const int32_t length = MacBin_DefaultMacName(path, name, sizeof name);
  EXPECT_EQ(length, static_cast<int32_t>(std::strlen(name))) << path;
  return name;
}

TEST(ScriptNames, DefaultMacintoshNameFromAPath) {
  EXPECT_EQ(default_name("out/Report.BIN"), "Report");
  EXPECT_EQ(default_name("a.hqx"), "a");
  EXPECT_EQ(default_name("b.As"), "b");
  EXPECT_EQ(default_name("c.txt"), "c.txt");
  EXPECT_EQ(default_name(".bin"), ".bin");
  EXPECT_EQ(default_name("x/a:b.bin"), "a-b");
  EXPECT_EQ(default_name("Caf\u00E9.bin"), "Caf\x8E");
  EXPECT_EQ(default_name("Cafe\u0301.bin"), "Caf\x8E") << "decomposed text is composed";
  // What MacRoman lacks becomes one '_' a character (a byte that is no
  // UTF-8 one too), and a decomposed letter beside it still converts.
  EXPECT_EQ(default_name("\u2713 Cafe\u0301 \xFF.bin"), "_ Caf\x8E _");
  EXPECT_EQ(default_name(std::string(40, 'x').c_str()), std::string(31, 'x'));
  EXPECT_EQ(default_name(""), "Untitled");
  EXPECT_EQ(default_name("dir/"), "Untitled");
  EXPECT_EQ(MacBin_DefaultMacName("Long.bin", nullptr, 0), 4);
  EXPECT_EQ(MacBin_DefaultMacName(nullptr, nullptr, 0), -1);
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_ARGUMENT);
}

std::string file_name(const char type[4], int32_t id, int32_t occurrence) {
  char name[64];
  EXPECT_GE(MacBin_ResourceFileName(type, id, occurrence, name, sizeof name), 0);
  return name;
}

TEST(ScriptNames, ResourceFileNamesEscapeAndCountRepeats) {
  EXPECT_EQ(file_name("ICN#", 128, 1), "ICN#.128");
  EXPECT_EQ(file_name("STR ", -16455, 1), "STR%20.-16455");
  EXPECT_EQ(file_name("STR ", 128, 2), "STR%20.128.2");
  EXPECT_EQ(file_name("TEXT", 128, 12), "TEXT.128.12");
  EXPECT_EQ(file_name("a.b/", 0, 1), "a%2Eb%2F.0") << "no name leaves its folder or looks like another";
  EXPECT_EQ(file_name("\x00\x00\x01\xA5", 1, 1), "%00%00%01%A5.1");
  EXPECT_EQ(file_name("-_!@", 1, 1), "-_!@.1");
  EXPECT_EQ(file_name("+zZ9", 1, 1), "+zZ9.1");
  char small[4];
  EXPECT_EQ(MacBin_ResourceFileName("ICN#", 128, 1, small, sizeof small), 8);
  EXPECT_STREQ(small, "ICN");
  EXPECT_EQ(MacBin_ResourceFileName("ICN#", 128, 0, small, sizeof small), -1);
  EXPECT_EQ(MacBin_ResourceFileName(nullptr, 128, 1, small, sizeof small), -1);
  EXPECT_EQ(MacBin_ResourceFileName("ICN#", 128, 1, nullptr, 4), -1);
}

std::string quoted(const std::string &word) {
  std::vector<char> out(2 * word.size() + 3);
  const int32_t length = MacBin_QuoteWord(word.c_str(), out.data(), static_cast<int32_t>(out.size()));
  EXPECT_EQ(length, static_cast<int32_t>(std::strlen(out.data())));
  return out.data();
}

TEST(ScriptNames, QuotedWordsComeBackFromTheLineSplitter) {
  EXPECT_EQ(quoted("plain"), "plain");
  EXPECT_EQ(quoted(""), "\"\"");
  EXPECT_EQ(quoted("two words"), "\"two words\"");
  EXPECT_EQ(quoted("say \"hi\""), "\"say \\\"hi\\\"\"");
  EXPECT_EQ(quoted("end \\\\"), "\"end \"\\\\");
  EXPECT_EQ(quoted(";x"), "\";x\"");
  EXPECT_EQ(quoted("%x"), "\"%x\"");
  EXPECT_EQ(quoted("a;b%"), "a;b%");
  const std::string words[] = {"plain",    "",   "two words", "tab\there",  "say \"hi\"", "end\\",
                               "end \\\\", ";x", "%x",        "\"",         "\\\"",       "a\\b c",
                               "\"\"",     " ",  "line\nend", "\u00FC ber", "back\\ \\"};
  for (const std::string &word : words) {
    // Where scripts put words: after the type, before the parameters.
    const std::string line = "TYPE " + quoted(word) + " next";
    std::vector<char> buffer(line.size() + 1);
    char *argv[4] = {};
    ASSERT_EQ(MacBin_GetArguments(line.c_str(), buffer.data(), argv, 3), 3) << line;
    EXPECT_EQ(std::string(argv[1]), word) << line;
    EXPECT_STREQ(argv[2], "next") << line;
  }
  EXPECT_EQ(MacBin_QuoteWord(nullptr, nullptr, 0), -1);
  EXPECT_EQ(MacBin_QuoteWord("a b", nullptr, 0), 5) << "measures";
}

}  // namespace
