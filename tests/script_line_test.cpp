// MacBin_AddScriptLine: resource lines as a person writes them, in UTF-8,
// with the forms that carry their bytes, through the public API and read
// back from the file written.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/macbinary.hpp"
#include "support/support.hpp"

namespace {

using vt::Bytes;
using vt::hex;

struct Result {
  int32_t code;
  std::string reason;
  int32_t full;
  bool operator==(const Result &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Result &result) {
  return out << result.code << " \"" << result.reason << "\" full " << result.full;
}

// A writer without the Finder resources, so the map holds what the lines
// make and nothing else.
class ScriptLines : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::init_recording();
    MacBin_AddProcessor("vers", nullptr, add_vers);
    MacBin_AddProcessor("FREF", nullptr, add_FREF);
    char name[32] = "Lines";
    channel_ = MacBin_OpenW(out_.c_str(), name, "VARN", "TEXT");
    ASSERT_NE(channel_, nullptr);
    ASSERT_EQ(MacBin_SetFinderResources(channel_, 0), 0);
  }
  void TearDown() override {
    if (channel_ != nullptr) MacBin_Close(channel_);
  }

  Result add(const std::string &line) {
    MacBin_ClearError();
    int32_t full = -1;
    const int32_t code = MacBin_AddScriptLine(channel_, line.c_str(), dir_.path().c_str(), &full);
    const char *reason = "";
    const int32_t recorded = MacBin_LastError(&reason);
    if (code > 0) {
      EXPECT_EQ(recorded, code) << line;
    }
    return {code, code > 0 ? reason : "", full};
  }

  vt::ParsedMacBinary close() {
    MacBin_Close(channel_);
    channel_ = nullptr;
    return vt::parse_macbinary_file(out_);
  }

  vt::TempDir dir_;
  std::string out_ = dir_.file("out.bin");
  MacBinChannel *channel_ = nullptr;
};

TEST_F(ScriptLines, BytesFormsAttributesAndNamesGoInAsWritten) {
  vt::write_file(dir_.file("raw.bin"), hex("00 FF 7F 80"));
  vt::write_text(dir_.file("note.txt"), "Café\nline 2\n");
  vt::write_text(dir_.file("list.txt"), "one\nzwei\n");
  const std::string long_name(255, 'n');
  const std::pair<std::string, int32_t> lines[] = {
      {"  ; a comment", 0},
      {"", 0},
      {"STR  128(protected,preload) \"Grüße\" ~Hello \"there\"", 0},
      {"DATA -1 \"\" --raw raw.bin", 0},
      {"TEXT 128 " + long_name + " --text note.txt", 0},
      {"STR# 130(0x00) \"\" --strings \"list.txt\"", 0},
      {"vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0", 0},
  };
  for (const auto &[line, code] : lines) EXPECT_EQ(add(line), (Result{code, "", 0})) << line;
  const vt::ParsedMacBinary file = close();
  ASSERT_EQ(file.resources.size(), 5u);
  const vt::ParsedResource &greeting = file.get("STR ", 128);
  EXPECT_EQ(greeting.data, hex("0D 48 65 6C 6C 6F 20 22 74 68 65 72 65 22"));  // ~ keeps what follows, quotes too
  EXPECT_EQ(greeting.name, std::optional<std::string>("Gr\x9F\xA7"
                                                      "e"));
  EXPECT_EQ(greeting.attributes, 0x0C);
  const vt::ParsedResource &raw = file.get("DATA", 0xFFFF);
  EXPECT_EQ(raw.data, hex("00 FF 7F 80"));
  EXPECT_EQ(raw.attributes, 0x20);  // the default: purgeable
  EXPECT_EQ(raw.name, std::nullopt);
  const vt::ParsedResource &text = file.get("TEXT", 128);
  EXPECT_EQ(text.data, hex("43 61 66 8E 0D 6C 69 6E 65 20 32 0D"));
  EXPECT_EQ(text.name, std::optional<std::string>(long_name));
  const vt::ParsedResource &list = file.get("STR#", 130);
  EXPECT_EQ(list.data, hex("00 02 03 6F 6E 65 04 7A 77 65 69"));
  EXPECT_EQ(list.attributes, 0x00);
  EXPECT_EQ(vt::slice(file.get("vers", 1).data, 0, 6), hex("01 00 80 00 00 00"));
  for (const vt::Message &message : vt::recorded_messages())
    if (message.severity >= MACBIN_WARNING) ADD_FAILURE() << message.text;
}

TEST_F(ScriptLines, RefusalsNameTheirReasonAndWriteNothing) {
  const std::string long_name(128, 'n');
  const std::string long_text(256, 't');
  const std::pair<std::string, Result> cases[] = {
      {"STR  128 \"open ~x",
       {MACBIN_ERR_ARGUMENT,
        "unclosed quote: the '\"' at character 10 has no closing '\"', so the rest of the line "
        "would become one word",
        0}},
      {"STR", {MACBIN_ERR_ARGUMENT, "not a resource line: 'TYPE ID NAME PARAMETERS' or 'BNDL OWNER-TEXT' expected", 0}},
      {"STR  128",
       {MACBIN_ERR_ARGUMENT, "missing name: a resource line is 'TYPE ID NAME PARAMETERS' (\"\" for no name)", 0}},
      {"STR  128(protected \"\" ~x",
       {MACBIN_ERR_ARGUMENT, "resource attributes go in parentheses right after the ID, e.g. '130(protected,preload)'",
        0}},
      {"ST\u2713 128 \"\" ~x",
       {MACBIN_ERR_ARGUMENT, "resource type 'ST\u2713': '\u2713' (U+2713) is not a Macintosh (MacRoman) character", 0}},
      {"STR  70000 \"\" ~x",
       {MACBIN_ERR_ARGUMENT, "resource ID '70000' must be a whole number from -32768 to 32767", 0}},
      {"TEXT 1 \"\"",
       {MACBIN_ERR_ARGUMENT,
        "missing parameter: after its name, TEXT wants a file whose contents become the resource (or "
        "~TEXT for a Pascal string)",
        0}},
      {"FREF 128 \"\" ~TEXT",
       {MACBIN_ERR_ARGUMENT, "FREF builds its data from 'TYPE ICON-ID'; a ~ text is not an FREF", 0}},
      {"STR  1 \"\" ~" + long_text,
       {MACBIN_ERR_ARGUMENT, "a ~ text is a Pascal string of at most 255 Macintosh characters, this one has 256", 0}},
      {"vers 1 " + long_name + " 1.00 F 0 0/1.0/Version 1.0",
       {MACBIN_ERR_LIMIT,
        "resource name longer than 127 Macintosh characters (128), the most a resource line takes; --raw, "
        "--text, --strings and ~ resources take 255",
        0}},
      {"STR  1 " + std::string(256, 'n') + " ~x",
       {MACBIN_ERR_LIMIT, "resource name longer than 255 Macintosh characters (256)", 0}},
      {"DATA 1 \"\" --raw missing.bin", {MACBIN_ERR_IO, "missing.bin: no such file", 0}},
      {"DATA 1 \"\" --copy x",
       {MACBIN_ERR_ARGUMENT,
        "'--copy x': a resource from a file is '--raw FILE' (its bytes), '--text FILE' (UTF-8 text stored in "
        "MacRoman) or '--strings FILE' (a string list, one UTF-8 line each)",
        0}},
      {"Bndl 128 \"\" x",
       {MACBIN_ERR_ARGUMENT,
        "BNDL takes one word, the owner text: quote it when it has blanks (BNDL \"Made by me\"); the bundle itself "
        "is built from the FREF lines",
        0}},
      {"ICN# 128 \"\" \"icon.png",
       {MACBIN_ERR_ARGUMENT,
        "unclosed quote in the parameters: the '\"' at character 1 of "
        "'\"icon.png' has no closing '\"'",
        0}},
      {"vers 1 \"\" 1.00 X", {MACBIN_ERR_ARGUMENT, "", 0}},  // the writer's own reason, checked below
  };
  for (const auto &[line, expected] : cases) {
    const Result result = add(line);
    EXPECT_EQ(result.code, expected.code) << line;
    if (!expected.reason.empty()) {
      EXPECT_EQ(result.reason, expected.reason) << line;
    } else {
      EXPECT_FALSE(result.reason.empty()) << line;
    }
    EXPECT_EQ(result.full, 0) << line;
  }
  const Result long_line = add("STR  1 \"\" x" + std::string(520, ' ') + "y");
  EXPECT_EQ(long_line, (Result{MACBIN_ERR_LIMIT, "line longer than 511 characters", 0}));
  MacBin_ClearError();
  ASSERT_EQ(MacBin_CheckResourceLine(nullptr, "vers 1 \"\" 1.00 X"), MACBIN_ERR_ARGUMENT);
  const char *writer_reason = "";
  MacBin_LastError(&writer_reason);
  EXPECT_EQ(add("vers 1 \"\" 1.00 X").reason, writer_reason);
  // Refusals are the caller's to say.
  for (const vt::Message &message : vt::recorded_messages())
    if (message.severity >= MACBIN_WARNING) ADD_FAILURE() << message.text;
  EXPECT_TRUE(close().resources.empty());
}

int32_t failing_processor(MacBinChannel *, const char *) { return 0; }

TEST_F(ScriptLines, AProcessorsFailureIsReportedAndGivesMinusOne) {
  MacBin_AddProcessor("FAIL", nullptr, failing_processor);
  EXPECT_EQ(add("FAIL 128 \"\" anything").code, -1);
  EXPECT_FALSE(vt::recorded_messages().empty());
  EXPECT_EQ(add("STR  2 \"\" ~kept").code, 0);
  const vt::ParsedMacBinary file = close();
  ASSERT_EQ(file.resources.size(), 1u);
  EXPECT_EQ(file.resources[0].type, "STR ");
}

// Writes all the resource data the offsets reach but its length word, in
// pieces: the next resource would start past them.
int32_t big_processor(MacBinChannel *, const char *) {
  const Bytes piece(0x10000, 0x5A);
  for (int i = 0; i < 0xFF; ++i)
    if (MacBin_PutBuf(piece.data(), 0x10000, 0x10000) != 0) return 0;
  return MacBin_PutBuf(piece.data(), 0xFFFC, 0xFFFC) == 0 ? 1 : 0;
}

TEST_F(ScriptLines, ResourcesThatLeaveNoRoomForTheCloseFillTheData) {
  ASSERT_EQ(MacBin_SetFinderResources(channel_, 1), 0);
  // Bytes known beforehand: refused whole, and nothing after it can fit.
  vt::write_file(dir_.file("big.bin"), Bytes(0xFFFFFE, 0xA5));
  const Result bytes = add("DATA 1 \"\" --raw big.bin");
  EXPECT_EQ(bytes.code, MACBIN_ERR_LIMIT);
  EXPECT_EQ(bytes.full, 1);
  EXPECT_NE(bytes.reason.find("DATA 1 takes 16777214 bytes"), std::string::npos) << bytes.reason;
  // Bytes a processor makes are known once written: the resource goes in,
  // and the reason names it.
  MacBin_AddProcessor("BIGG", nullptr, big_processor);
  const Result made = add("BIGG 1 \"\" x");
  EXPECT_EQ(made.code, MACBIN_ERR_LIMIT);
  EXPECT_EQ(made.full, 1);
  EXPECT_NE(made.reason.find("BIGG 1 takes 16777212 bytes"), std::string::npos) << made.reason;
  EXPECT_EQ(MacBin_CheckClose(channel_), MACBIN_ERR_LIMIT);
}

TEST(ScriptLinesWithoutAWriter, ArgumentsAndChannelAreChecked) {
  vt::init_recording();
  int32_t full = 7;
  EXPECT_EQ(MacBin_AddScriptLine(nullptr, nullptr, nullptr, &full), MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(full, 0);
  EXPECT_EQ(MacBin_AddScriptLine(nullptr, "; only a comment", nullptr, nullptr), MACBIN_ERR_NONE);
  EXPECT_EQ(MacBin_AddScriptLine(nullptr, "STR  1 \"\" ~x", nullptr, nullptr), MACBIN_ERR_STATE);
  const char *reason = "";
  MacBin_LastError(&reason);
  EXPECT_STREQ(reason, "not a channel open for writing");
}

}  // namespace
