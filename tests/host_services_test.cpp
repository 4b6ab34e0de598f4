// The calls that give hosts the library's own facts: the calling thread's
// last error and its codes, the version, MacRoman text, the descriptions of
// the Finder resources and the check of a resource line.  All through the
// public API.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/macbinary.hpp"
#include "support/resource_compression.hpp"
#include "support/support.hpp"

namespace {

using vt::Bytes;
using vt::hex;
using vt::to_hex;

std::string text_of(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

struct LastError {
  int32_t code;
  std::string text;
};

LastError last_error() {
  const char *text = nullptr;
  const int32_t code = MacBin_LastError(&text);
  return {code, text != nullptr ? text : "(null)"};
}

// ---- The last error ---------------------------------------------------------------

TEST(HostErrors, StartsEmptyStaysUntilClearedAndVersionMatchesHeader) {
  vt::init_recording();
  EXPECT_EQ(last_error().code, MACBIN_ERR_NONE);
  EXPECT_EQ(last_error().text, "");
  EXPECT_STREQ(MacBin_Version(), VARNEL_VERSION_STRING);
  EXPECT_STREQ(MacBin_Version(), "1.7.0");

  MacBin_AddResource(nullptr, "STR  128 \"\" ~x");
  EXPECT_EQ(last_error().code, MACBIN_ERR_STATE);
  EXPECT_EQ(last_error().text, "No open output channel");
  EXPECT_EQ(MacBin_LastSystemError(), 0);
  // A call that succeeds leaves the record, as errno is left.
  char mac[8];
  EXPECT_EQ(MacBin_UTF8ToMacRoman("ok", mac, sizeof mac), 2);
  EXPECT_EQ(last_error().code, MACBIN_ERR_STATE);
  MacBin_ClearError();
  EXPECT_EQ(last_error().code, MACBIN_ERR_NONE);
  EXPECT_EQ(last_error().text, "");
  const char **no_text = nullptr;
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_NONE) << no_text;
}

// The message method may ask for the code of the message it is given: the
// record is made first.
std::vector<std::string> codes_seen;
void record_with_code(const char *module, const char *text, int32_t severity) {
  vt::record_message(module, text, severity);
  if (severity < MACBIN_WARNING) return;  // the start and end notices
  const char *last = nullptr;
  const int32_t code = MacBin_LastError(&last);
  codes_seen.push_back(std::to_string(code) + " " + last + " | " + text);
}

TEST(HostErrors, FullDiskGivesIoCodeWithSystemReasonKept) {
  vt::init_recording();
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(record_with_code), MACBIN_METHOD_MESSAGE);
  // A link to a device: the file is made aside and copied into the device
  // at the close, where the full disk shows; neither the device nor the
  // link is removed.
  vt::TempDir dir;
  const std::string link = dir.file("full.bin");
  std::filesystem::create_symlink("/dev/full", link);
  char name[32] = "";
  MacBinChannel *channel = MacBin_OpenW(link.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(channel, nullptr);
  const Bytes data(4096, 0x41);
  MacBin_PutBuf(data.data(), static_cast<int32_t>(data.size()), static_cast<int32_t>(data.size()));
  MacBin_Close(channel);

  const std::string text =
      "Could not put output file " + link + " in place: write error: " + std::strerror(ENOSPC);
  EXPECT_EQ(last_error().code, MACBIN_ERR_IO);
  EXPECT_EQ(last_error().text, text);
  EXPECT_EQ(MacBin_LastSystemError(), ENOSPC);
  EXPECT_EQ(codes_seen, (std::vector<std::string>{"1 " + text + " | " + text}));
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
}

TEST(HostErrors, ResourcesRefusedAfterAFailedWriteKeepItsReason) {
  vt::init_recording();
  MacBin_AddProcessor("TEXT", nullptr, vt::write_parameter_text);
  vt::TempDir dir;
  char name[32] = "";
  MacBinChannel *channel = MacBin_OpenW(dir.file("out.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(channel, nullptr);
  vt::fail_writes_after(0, EIO);
  MacBin_AddResource(channel, "TEXT 128 \"\" some text that cannot reach the file");
  vt::clear_faults();
  MacBin_Close(channel);
  EXPECT_EQ(vt::count_messages("Writing output file"), 1u);
  EXPECT_EQ(last_error().code, MACBIN_ERR_IO);
  EXPECT_EQ(last_error().text, std::string("Writing output file: ") + std::strerror(EIO));
  EXPECT_EQ(MacBin_LastSystemError(), EIO);
}

TEST(HostErrors, InputThatCannotBeOpenedNamesTheSystemReasonOnce) {
  vt::init_recording();
  vt::TempDir dir;
  EXPECT_EQ(MacBin_OpenR(dir.file("missing.bin").c_str()), nullptr);
  EXPECT_EQ(last_error().code, MACBIN_ERR_IO);
  EXPECT_EQ(last_error().text, std::string("Could not open input file (") + std::strerror(ENOENT) + ")");
  EXPECT_EQ(MacBin_LastSystemError(), ENOENT);
}

TEST(HostErrors, DamagedInputGivesDamagedAlsoWhenTheFileStillOpens) {
  vt::init_recording();
  vt::TempDir dir;
  vt::MacBinaryPlan plan;
  plan.data_fork = vt::bytes_of("data");
  plan.types = {{"STR ", {{128, std::nullopt, hex("02 68 69")}}}};
  vt::BuiltMacBinary built = vt::build_macbinary(plan);
  // A type count far past what the map holds.
  built.patch(built.at.type_list, hex("7F FF"));
  vt::write_file(dir.file("damaged.bin"), built.bytes);
  MacBinChannel *channel = MacBin_OpenR(dir.file("damaged.bin").c_str());
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(last_error().code, MACBIN_ERR_DAMAGED);
  EXPECT_EQ(last_error().text, "Type count does not fit the resource map; no resources read");
  MacBin_Close(channel);

  // A header cut short refuses the file.
  MacBin_ClearError();
  vt::write_file(dir.file("short.bin"), Bytes(100, 0));
  EXPECT_EQ(MacBin_OpenR(dir.file("short.bin").c_str()), nullptr);
  EXPECT_EQ(last_error().code, MACBIN_ERR_DAMAGED);
  EXPECT_EQ(last_error().text, "File too short for a MacBinary header (100 of 128 bytes)");
  EXPECT_EQ(MacBin_LastSystemError(), 0);
}

TEST(HostErrors, FullMapIsALimitAndLinesAreArgumentsOrState) {
  vt::init_recording();
  vt::TempDir dir;
  char name[32] = "";
  MacBinChannel *channel = MacBin_OpenW(dir.file("many.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(channel, nullptr);
  int32_t refused_at = -1;
  for (int32_t id = 0; id < 6000 && refused_at < 0; ++id) {
    if (MacBin_AddResourceData(channel, "STR ", id, nullptr, MACBIN_ATTR_PURGEABLE, "\x01x", 2) != 0)
      refused_at = id;
  }
  // The map header (30 bytes), one type item (8) and 12 bytes a reference
  // within 0xFFFF: the resource after that many is refused.
  EXPECT_EQ(refused_at, (0xFFFF - 30 - 8) / 12);
  EXPECT_EQ(last_error().code, MACBIN_ERR_LIMIT);
  EXPECT_EQ(last_error().text, "Resource map full (its lists must lie within 64 KB): resource <STR >, ID " +
                                   std::to_string(refused_at) + " not inserted");

  MacBin_AddResource(channel, "STR  1");
  EXPECT_EQ(last_error().code, MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(last_error().text, "Syntax error in line ?");
  MacBin_AddResource(channel, "STR ");
  EXPECT_EQ(last_error().code, MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(last_error().text, "ERROR in line ?");
  MacBin_AddResource(channel, std::string(600, 'x').c_str());
  EXPECT_EQ(last_error().code, MACBIN_ERR_LIMIT);
  EXPECT_EQ(MacBin_SetFinderResources(channel, 0), 1);  // the data fork is complete
  EXPECT_EQ(last_error().code, MACBIN_ERR_STATE);
  MacBin_Close(channel);
}

TEST(HostErrors, OutOfMemoryIsMemory) {
  vt::init_recording();
  vt::TempDir dir;
  vt::limit_zone(vt::zone_in_use() + 1);
  char name[32] = "";
  EXPECT_EQ(MacBin_OpenW(dir.file("none.bin").c_str(), name, "VARN", "TEXT"), nullptr);
  vt::limit_zone(0);
  EXPECT_EQ(last_error().code, MACBIN_ERR_MEMORY);
  EXPECT_EQ(last_error().text.rfind("Out Of Memory", 0), 0u) << last_error().text;
}

// Each thread sees its own failures only, also while another fails at the
// same time.
TEST(HostErrors, EachThreadKeepsItsOwnLastError) {
  vt::init_recording();
  MacBin_ClearError();
  std::atomic<int> mismatches{0};
  const auto fail_repeatedly = [&mismatches](const char *utf8, const std::string &expected) {
    char mac[16];
    for (int i = 0; i < 2000; ++i) {
      if (MacBin_UTF8ToMacRoman(utf8, mac, sizeof mac) != -1) ++mismatches;
      const char *text = nullptr;
      if (MacBin_LastError(&text) != MACBIN_ERR_ARGUMENT || expected != text) ++mismatches;
    }
  };
  std::thread first(fail_repeatedly, "\xE2\x9C\x93", "'\xE2\x9C\x93' (U+2713) is not a Macintosh (MacRoman) character");
  std::thread second(fail_repeatedly, "A\xFF", "byte 0xFF at position 2 is not UTF-8");
  first.join();
  second.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(last_error().code, MACBIN_ERR_NONE);

  // A failure reported through the message method on one thread.
  std::string seen_there;
  std::thread reader([&seen_there] {
    vt::TempDir dir;
    MacBin_OpenR(dir.file("absent").c_str());
    seen_there = last_error().text;
  });
  reader.join();
  EXPECT_EQ(seen_there, std::string("Could not open input file (") + std::strerror(ENOENT) + ")");
  EXPECT_EQ(last_error().code, MACBIN_ERR_NONE);
}

// ---- MacRoman ----------------------------------------------------------------

// The characters of the bytes 0x80 to 0xFF as UTF-8, from an independent
// table (Python's mac_roman codec), one character a token.
constexpr const char *kIndependentMacRoman[] = {
    "C384 C385 C387 C389 C391 C396 C39C C3A1",              // 0x80
    "C3A0 C3A2 C3A4 C3A3 C3A5 C3A7 C3A9 C3A8",              // 0x88
    "C3AA C3AB C3AD C3AC C3AE C3AF C3B1 C3B3",              // 0x90
    "C3B2 C3B4 C3B6 C3B5 C3BA C3B9 C3BB C3BC",              // 0x98
    "E280A0 C2B0 C2A2 C2A3 C2A7 E280A2 C2B6 C39F",          // 0xA0
    "C2AE C2A9 E284A2 C2B4 C2A8 E289A0 C386 C398",          // 0xA8
    "E2889E C2B1 E289A4 E289A5 C2A5 C2B5 E28882 E28891",    // 0xB0
    "E2888F CF80 E288AB C2AA C2BA CEA9 C3A6 C3B8",          // 0xB8
    "C2BF C2A1 C2AC E2889A C692 E28988 E28886 C2AB",        // 0xC0
    "C2BB E280A6 C2A0 C380 C383 C395 C592 C593",            // 0xC8
    "E28093 E28094 E2809C E2809D E28098 E28099 C3B7 E2978A",  // 0xD0
    "C3BF C5B8 E28184 E282AC E280B9 E280BA EFAC81 EFAC82",  // 0xD8
    "E280A1 C2B7 E2809A E2809E E280B0 C382 C38A C381",      // 0xE0
    "C38B C388 C38D C38E C38F C38C C393 C394",              // 0xE8
    "EFA3BF C392 C39A C39B C399 C4B1 CB86 CB9C",            // 0xF0
    "C2AF CB98 CB99 CB9A C2B8 CB9D CB9B CB87",              // 0xF8
};

std::string to_utf8(const std::string &mac, int32_t replace_controls = 0) {
  const int32_t length = MacBin_MacRomanToUTF8(mac.data(), static_cast<int32_t>(mac.size()), replace_controls,
                                               nullptr, 0);
  EXPECT_GE(length, 0);
  std::string out(static_cast<size_t>(length) + 1, '\0');
  EXPECT_EQ(MacBin_MacRomanToUTF8(mac.data(), static_cast<int32_t>(mac.size()), replace_controls, out.data(),
                                  static_cast<int32_t>(out.size())),
            length);
  out.resize(static_cast<size_t>(length));
  return out;
}

// The MacRoman bytes, or "REFUSED: reason".
std::string to_mac(const std::string &utf8) {
  char mac[512];
  const int32_t length = MacBin_UTF8ToMacRoman(utf8.c_str(), mac, sizeof mac);
  if (length < 0) return "REFUSED: " + last_error().text;
  return std::string(mac, static_cast<size_t>(length));
}

TEST(HostMacRoman, EveryHighCharacterMatchesAnIndependentTable) {
  int byte = 0x80;
  for (const char *row : kIndependentMacRoman) {
    std::istringstream tokens(row);
    std::string token;
    while (tokens >> token) {
      const std::string mac(1, static_cast<char>(byte));
      const std::string utf8 = text_of(hex(token));
      EXPECT_EQ(vt::bytes_of(to_utf8(mac)), hex(token)) << "byte " << byte;
      EXPECT_EQ(to_mac(utf8), mac) << "character " << token;
      ++byte;
    }
  }
  EXPECT_EQ(byte, 0x100);
  // ASCII, control characters included, is itself.
  for (int ascii = 1; ascii < 0x80; ++ascii) {
    const std::string one(1, static_cast<char>(ascii));
    EXPECT_EQ(to_utf8(one), one);
    EXPECT_EQ(to_mac(one), one);
  }
}

TEST(HostMacRoman, DecomposedLettersComposeToTheirMacRomanCharacter) {
  const std::pair<const char *, const char *> cases[] = {
      {"43 61 66 65 CC81", "43 61 66 8E"},  // "Cafe" + combining acute: é
      {"43 61 66 C3A9", "43 61 66 8E"},     // the precomposed é
      {"41 CC8A 61 CC88", "81 8A"},         // Å ä
      {"4E CC83 79 CC88 59 CC88", "84 D8 D9"},  // Ñ ÿ Ÿ
      {"63 CCA7 3D CCB8", "8D AD"},         // ç, and "=" with a long solidus overlay: ≠
      {"E284A6 E284AB", "BD 81"},           // the ohm and angstrom signs: Ω Å
  };
  for (const auto &[utf8, mac] : cases)
    EXPECT_EQ(vt::bytes_of(to_mac(text_of(hex(utf8)))), hex(mac)) << utf8;
  // A mark without a MacRoman letter to join is refused by its own name.
  EXPECT_EQ(to_mac(text_of(hex("78 CC81"))),
            "REFUSED: '\xCC\x81' (U+0301) is not a Macintosh (MacRoman) character");
  EXPECT_EQ(to_mac(text_of(hex("65 CC81 CC81"))),
            "REFUSED: '\xCC\x81' (U+0301) is not a Macintosh (MacRoman) character");
}

TEST(HostMacRoman, RefusalsNameTheCharacterOrTheByte) {
  const std::pair<const char *, const char *> cases[] = {
      {"43 61 66 C3A9 20 E29C93", "'\xE2\x9C\x93' (U+2713) is not a Macintosh (MacRoman) character"},
      {"F0 9F 98 80", "'\xF0\x9F\x98\x80' (U+1F600) is not a Macintosh (MacRoman) character"},
      {"41 42 E9 43", "byte 0xE9 at position 3 is not UTF-8"},
      {"41 C0 AF", "byte 0xC0 at position 2 is not UTF-8"},   // overlong '/'
      {"ED A0 80", "byte 0xED at position 1 is not UTF-8"},   // a surrogate
      {"F4 90 80 80", "byte 0xF4 at position 1 is not UTF-8"},  // past U+10FFFF
      {"C3", "byte 0xC3 at position 1 is not UTF-8"},         // cut short
  };
  for (const auto &[utf8, why] : cases) {
    EXPECT_EQ(to_mac(text_of(hex(utf8))), std::string("REFUSED: ") + why) << utf8;
    EXPECT_EQ(last_error().code, MACBIN_ERR_ARGUMENT);
  }
}

TEST(HostMacRoman, ControlsAppleLogoAndBuffers) {
  const std::string mac = text_of(hex("01 41 7F 0A F0"));
  EXPECT_EQ(vt::bytes_of(to_utf8(mac)), hex("01 41 7F 0A EFA3BF"));
  EXPECT_EQ(vt::bytes_of(to_utf8(mac, 1)), hex("EFBFBD 41 EFBFBD EFBFBD EFA3BF"));
  EXPECT_EQ(to_mac(text_of(hex("EFA3BF"))), "\xF0");
  // NULs inside the MacRoman text are characters like any other.
  EXPECT_EQ(to_utf8(std::string("a\0b", 3)), std::string("a\0b", 3));

  // A short buffer takes what fits and a NUL; the result is the whole length.
  char small[3] = {'x', 'x', 'x'};
  EXPECT_EQ(MacBin_UTF8ToMacRoman("Caf\xC3\xA9s", small, sizeof small), 5);
  EXPECT_EQ(std::string(small), "Ca");
  EXPECT_EQ(MacBin_UTF8ToMacRoman("Caf\xC3\xA9s", nullptr, 0), 5);
  EXPECT_EQ(MacBin_MacRomanToUTF8("\x8E\x8E", 2, 0, small, sizeof small), 4);
  EXPECT_EQ(vt::bytes_of(small), hex("C3 A9"));
  MacBin_ClearError();
  EXPECT_EQ(MacBin_UTF8ToMacRoman("x", small, -1), -1);
  EXPECT_EQ(last_error().code, MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(MacBin_UTF8ToMacRoman(nullptr, small, sizeof small), -1);
  EXPECT_EQ(MacBin_UTF8ToMacRoman("x", nullptr, 4), -1);
  EXPECT_EQ(MacBin_MacRomanToUTF8(nullptr, 1, 0, small, sizeof small), -1);
  EXPECT_EQ(MacBin_MacRomanToUTF8("x", -1, 0, small, sizeof small), -1);
  EXPECT_EQ(MacBin_MacRomanToUTF8(nullptr, 0, 0, small, sizeof small), 0);
  EXPECT_EQ(std::string(small), "");
}

// ---- Resource descriptions ---------------------------------------------------------

// A file holding each form a listing describes, plain and compressed, and
// resources it does not describe.
vt::MacBinaryPlan described_resources() {
  vt::MacBinaryPlan plan;
  plan.creator = "VARN";
  const Bytes vers_beta = hex(
      "01 23 60 04 00 00"                                    // 1.2.3, beta, revision 4, region 0
      "05 31 2E 32 2E 33"                                    // "1.2.3"
      "11 56 65 72 73 69 6F 6E 20 22 31 2E 32 2E 33 22 09 5C");  // Version "1.2.3" TAB backslash
  plan.types = {
      {"vers", {{1, std::nullopt, hex("01 00 80 00 00 01  03 31 2E 30  00")},  // 1.0 final, region 1
                {2, std::nullopt, vers_beta},
                {3, std::nullopt, hex("01 00")},                                 // cut short
                {4, std::nullopt, vt::compressed_resource(8, 0, vers_beta), 0x21}}},
      {"FREF", {{128, std::nullopt, hex("41 50 50 4C 00 00 00")},                // APPL, icon 0, no name
                {129, std::nullopt, hex("54 45 58 54 00 01 04 4E 6F 74 8A")},  // TEXT, icon 1, "Notä"
                {130, std::nullopt, hex("54 45 58 54 FF FF")},                   // icon -1, no name byte
                {131, std::nullopt, hex("54 45 58")}}},                          // cut short
      {"BNDL", {{128, std::nullopt, hex("56 41 52 4E 00 00 00 01"                // VARN 0, two types
                                        "49 43 4E 23 00 01 00 00 00 80 00 01 00 81"   // ICN#: 0=128 1=129
                                        "46 52 45 46 00 00 00 00 FF 80")},       // FREF: 0=-128
                {129, std::nullopt, hex("56 41 52 4E 00 00 00 05 49 43 4E 23 00 00")}}},  // types past the end
      {"VARN", {{0, std::nullopt, hex("0B 4D 61 64 65 20 22 62 79 22 20 8E")},   // Made "by" é
                {1, std::nullopt, hex("02 68 69")}}},                            // not the owner resource
      {"STR ", {{128, std::nullopt, hex("02 68 69")}}},
  };
  return plan;
}

using DescribeCall = int32_t (*)(MacBinChannel *, const MacBinRefEntry *, char *, int32_t);

std::string describe(MacBinChannel *channel, const char *type, int32_t id,
                     DescribeCall call = MacBin_DescribeResource) {
  const int32_t count = MacBin_GetNrTypes(channel);
  for (int32_t t = 0; t < count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    if (std::string(entry.type, 4) != type) continue;
    for (int32_t r = 0; r < entry.count; ++r) {
      if (static_cast<int16_t>(entry.refs[r].id) != id) continue;
      const int32_t length = call(channel, &entry.refs[r], nullptr, 0);
      if (length <= 0) return "RESULT " + std::to_string(length);
      std::string text(static_cast<size_t>(length) + 1, '\0');
      EXPECT_EQ(call(channel, &entry.refs[r], text.data(), length + 1), length);
      text.resize(static_cast<size_t>(length));
      return text;
    }
  }
  return "NOT FOUND";
}

// The file of described_resources, opened for reading in `dir`.
MacBinChannel *open_described(vt::TempDir &dir) {
  vt::write_file(dir.file("finder.bin"), vt::build_macbinary(described_resources()).bytes);
  return MacBin_OpenR(dir.file("finder.bin").c_str());
}

TEST(HostDescriptions, FinderResourcesAsAListingShowsThem) {
  vt::init_recording();
  vt::TempDir dir;
  MacBinChannel *channel = open_described(dir);
  ASSERT_NE(channel, nullptr);
  const std::string beta =
      "version 1.2.3b4 (beta), region 0, short \"1.2.3\", long \"Version \\\"1.2.3\\\"\\t\\\\\"";
  const std::pair<const char *, int32_t> resources[] = {
      {"vers", 1}, {"vers", 2}, {"vers", 3}, {"vers", 4}, {"FREF", 128}, {"FREF", 129}, {"FREF", 130},
      {"FREF", 131}, {"BNDL", 128}, {"BNDL", 129}, {"VARN", 0}, {"VARN", 1}, {"STR ", 128}};
  const std::vector<std::string> expected = {
      "version 1.0 (final), region 1, short \"1.0\", long \"\"",
      beta,
      "(damaged vers data)",
      beta,  // read from its contents
      "file type \"APPL\", local icon 0",
      "file type \"TEXT\", local icon 1, file name \"Not\xC3\xA4\"",
      "file type \"TEXT\", local icon -1",
      "(damaged FREF data)",
      "owner \"VARN\" 0; ICN#: 0=128 1=129; FREF: 0=-128",
      "(damaged BNDL data)",
      "owner resource \"Made \\\"by\\\" \xC3\xA9\"",
      "RESULT 0",
      "RESULT 0",
  };
  std::vector<std::string> described;
  for (const auto &[type, id] : resources) described.push_back(describe(channel, type, id));
  EXPECT_EQ(described, expected);
  EXPECT_EQ(vt::recorded_messages().size(), 0u);

  // A short buffer: what fits and a NUL, and the whole length.
  const MacBinRefEntry *owner = &channel->types[3].refs[0];
  ASSERT_EQ(std::string(channel->types[3].type, 4), "VARN");
  char small[6] = "xxxxx";
  EXPECT_EQ(MacBin_DescribeResource(channel, owner, small, sizeof small), 31);
  EXPECT_STREQ(small, "owner");
  MacBin_ClearError();
  EXPECT_EQ(MacBin_DescribeResource(channel, owner, small, -1), -1);
  EXPECT_EQ(last_error().code, MACBIN_ERR_ARGUMENT);
  const MacBinRefEntry stranger = *owner;
  EXPECT_EQ(MacBin_DescribeResource(channel, &stranger, small, sizeof small), -1);
  EXPECT_EQ(last_error().text, "MacBin_DescribeResource: not one of the reading channel's resources");
  EXPECT_EQ(MacBin_DescribeResource(nullptr, owner, small, sizeof small), -1);
  MacBin_Close(channel);
}

TEST(HostDescriptions, FieldsAsJsonForMachineReadListings) {
  vt::init_recording();
  vt::TempDir dir;
  MacBinChannel *channel = open_described(dir);
  ASSERT_NE(channel, nullptr);
  const auto fields = [channel](const char *type, int32_t id) {
    return describe(channel, type, id, MacBin_DescribeResourceFields);
  };
  EXPECT_EQ(fields("vers", 1), R"({"version":"1.0","major":1,"minor":0,"bugfix":0,"stage":"final","revision":0,)"
                               R"("region":1,"short":"1.0","long":""})");
  EXPECT_EQ(fields("vers", 2), R"({"version":"1.2.3b4","major":1,"minor":2,"bugfix":3,"stage":"beta",)"
                               R"("revision":4,"region":0,"short":"1.2.3","long":"Version \"1.2.3\"\t\\"})");
  EXPECT_EQ(fields("vers", 3), R"({"error":"damaged vers data"})");
  EXPECT_EQ(fields("FREF", 128), R"({"file_type":"APPL","local_icon":0,"file_name":""})");
  EXPECT_EQ(fields("FREF", 129), "{\"file_type\":\"TEXT\",\"local_icon\":1,\"file_name\":\"Not\xC3\xA4\"}");
  EXPECT_EQ(fields("FREF", 130), R"({"file_type":"TEXT","local_icon":-1,"file_name":""})");
  EXPECT_EQ(fields("FREF", 131), R"({"error":"damaged FREF data"})");
  EXPECT_EQ(fields("BNDL", 128), R"({"owner":"VARN","owner_id":0,"types":[)"
                                 R"({"type":"ICN#","entries":[{"local_id":0,"id":128},{"local_id":1,"id":129}]},)"
                                 R"({"type":"FREF","entries":[{"local_id":0,"id":-128}]}]})");
  EXPECT_EQ(fields("BNDL", 129), R"({"error":"damaged BNDL data"})");
  EXPECT_EQ(fields("VARN", 0), "{\"owner_text\":\"Made \\\"by\\\" \xC3\xA9\"}");
  EXPECT_EQ(fields("VARN", 1), "RESULT 0");
  EXPECT_EQ(fields("STR ", 128), "RESULT 0");
  const MacBinRefEntry stranger = channel->types[0].refs[0];
  char text[8];
  EXPECT_EQ(MacBin_DescribeResourceFields(channel, &stranger, text, sizeof text), -1);
  EXPECT_EQ(last_error().text, "MacBin_DescribeResourceFields: not one of the reading channel's resources");
  EXPECT_EQ(vt::recorded_messages().size(), 0u);
  MacBin_Close(channel);
}

TEST(HostDescriptions, DamagedCompressedContentsAreRefusedWithTheirReason) {
  vt::init_recording();
  vt::TempDir dir;
  vt::MacBinaryPlan plan;
  Bytes broken = vt::compressed_resource(8, 0, hex("01 00 80 00 00 01 03 31 2E 30 00"));
  broken.resize(broken.size() - 3);  // the stream ends early
  plan.types = {{"vers", {{1, std::nullopt, broken, 0x21}}}};
  vt::write_file(dir.file("broken.bin"), vt::build_macbinary(plan).bytes);
  MacBinChannel *channel = MacBin_OpenR(dir.file("broken.bin").c_str());
  ASSERT_NE(channel, nullptr);
  char text[64];
  EXPECT_EQ(MacBin_DescribeResource(channel, &channel->types[0].refs[0], text, sizeof text), -1);
  EXPECT_EQ(last_error().code, MACBIN_ERR_DAMAGED);
  EXPECT_EQ(last_error().text.rfind("Resource vers 1 cannot be read: damaged compressed resource: ", 0), 0u)
      << last_error().text;
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].text, last_error().text);
  MacBin_Close(channel);
}

// ---- Resource-line checks ------------------------------------------------------------

struct Checked {
  int32_t code;
  std::string reason;
  bool operator==(const Checked &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Checked &checked) {
  return out << checked.code << " \"" << checked.reason << "\"";
}

Checked check(MacBinChannel *channel, const std::string &line) {
  MacBin_ClearError();
  const int32_t code = MacBin_CheckResourceLine(channel, line.c_str());
  EXPECT_EQ(code, last_error().code) << line;
  return {code, last_error().text};
}

void register_library_processors() {
  MacBin_AddProcessor("vers", nullptr, add_vers);
  MacBin_AddProcessor("FREF", nullptr, add_FREF);
  MacBin_AddProcessor("Bndl", nullptr, close_BNDL);
  MacBin_AddProcessor("PICT", nullptr, MacBin_Add_PICT);
}

TEST(HostLineChecks, LinesTheWriterTakes) {
  vt::init_recording();
  register_library_processors();
  const char *lines[] = {
      "", "; a comment \" with a quote",
      "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0",
      "vers 2 Version 2.13 B 5 65535/2.1.3b5/Version \"2\"/more",
      "FREF 128 \"\" TEXT 128",
      "FREF -1 \"a name\" APPL -16455  ",
      "BNDL \"Made by me\"",
      "STR  +5 \"\" ~Hello \"there\"",
      "PICT 128 \"Preview \\\"one\\\"\" image.ct 72",
      "TEXT -32768 x ~",
  };
  for (const char *line : lines) EXPECT_EQ(check(nullptr, line), (Checked{0, ""})) << line;
  EXPECT_EQ(vt::recorded_messages().size(), 0u);
}

TEST(HostLineChecks, RefusalsGiveTheirCodeAndReason) {
  vt::init_recording();
  register_library_processors();
  const std::string long_name(250, 'n');
  const std::pair<std::string, Checked> cases[] = {
      {std::string(512, 'x'), {MACBIN_ERR_LIMIT, "line longer than 511 characters"}},
      {"STR  128 " + long_name + " ~x",
       {MACBIN_ERR_LIMIT, "line too long: the library holds at most 256 bytes of a line's words and parameters "
                          "(one more for each), this line needs 262; shorten the name or the file names"}},
      {"STR  128", {MACBIN_ERR_ARGUMENT, "missing name: a resource line is 'TYPE ID NAME PARAMETERS' (\"\" for no name)"}},
      {"STR ", {MACBIN_ERR_ARGUMENT, "not a resource line: 'TYPE ID NAME PARAMETERS' or 'BNDL OWNER-TEXT' expected"}},
      {"FREF 128 \"\"", {MACBIN_ERR_ARGUMENT, "missing parameter: FREF wants 'TYPE ICON-ID', e.g. 'TEXT 128'"}},
      {"STR  128 \"abc ~x",
       {MACBIN_ERR_ARGUMENT,
        "unclosed quote: the '\"' at character 10 has no closing '\"', so the rest of the line would become one word"}},
      {"STRING 1 \"\" ~x", {MACBIN_ERR_ARGUMENT, "resource type 'STRING' must be 1 to 4 characters"}},
      // An empty first word starts nothing: "1" is the type, "" the ID.
      {"\"\" 1 \"\" ~x", {MACBIN_ERR_ARGUMENT, "resource ID '' must be a whole number from -32768 to 32767"}},
      {"STR  70000 \"\" ~x", {MACBIN_ERR_ARGUMENT, "resource ID '70000' must be a whole number from -32768 to 32767"}},
      {"STR  12ab \"\" ~x", {MACBIN_ERR_ARGUMENT, "resource ID '12ab' must be a whole number from -32768 to 32767"}},
      {"BNDL " + std::string(100, 'o'), {MACBIN_ERR_LIMIT, "the owner text must be at most 99 Macintosh characters (this one has 100)"}},
      {"FREF 128 \"\" ~TEXT", {MACBIN_ERR_ARGUMENT, "FREF builds its data from 'TYPE ICON-ID'; a ~ text is not an FREF"}},
      {"snd  1 \"\" beep.snd",
       {MACBIN_ERR_ARGUMENT, "no processor for resource type 'snd ' (MacBin_AddProcessor), and its parameter is not a ~ text"}},
      {"vers 1 \"\" 1.00 X 0 0/1.0/V",
       {MACBIN_ERR_ARGUMENT, "vers release stage 'X' must be D (development), A (alpha), B (beta) or F (final)"}},
      {"vers 1 \"\" 1.00 F 0 70000/1.0/V", {MACBIN_ERR_ARGUMENT, "vers region code 70000 does not fit in 16 bits"}},
      {"vers 1 \"\" 1.00 F 0 0/1.0",
       {MACBIN_ERR_ARGUMENT, "vers wants 'M.mb S R REGION/short/long', e.g. '1.00 F 0 0/1.0/Version 1.0'"}},
      {"vers 1 \"\" 1.x0 F 0 0/1.0/V",
       {MACBIN_ERR_ARGUMENT, "vers wants 'M.mb S R REGION/short/long', e.g. '1.00 F 0 0/1.0/Version 1.0'"}},
      {"FREF 128 \"\" TEXT",
       {MACBIN_ERR_ARGUMENT, "FREF wants 'TYPE ICON-ID' (a 4-character file type, a blank, the icon ID), e.g. 'TEXT 128'"}},
      {"FREF 128 \"\" TEXT 12x",
       {MACBIN_ERR_ARGUMENT, "FREF wants 'TYPE ICON-ID' (a 4-character file type, a blank, the icon ID), e.g. 'TEXT 128'"}},
      {"FREF 128 \"\" TEXTS 128",
       {MACBIN_ERR_ARGUMENT, "FREF wants 'TYPE ICON-ID' (a 4-character file type, a blank, the icon ID), e.g. 'TEXT 128'"}},
      {"FREF 128 \"\" TEXT 1/2",
       {MACBIN_ERR_ARGUMENT, "FREF wants 'TYPE ICON-ID' (a 4-character file type, a blank, the icon ID), e.g. 'TEXT 128'"}},
      {"\x8E\x8E\x8E\x8E\x8E 1 \"\" ~x",
       {MACBIN_ERR_ARGUMENT, "resource type '\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9' must be 1 to 4 characters"}},
  };
  for (const auto &[line, expected] : cases) EXPECT_EQ(check(nullptr, line), expected) << line;
  EXPECT_EQ(check(nullptr, std::string("STR  \x8E" "9 \"\" ~x")),
            (Checked{MACBIN_ERR_ARGUMENT, "resource ID '\xC3\xA9" "9' must be a whole number from -32768 to 32767"}));
  MacBin_ClearError();
  EXPECT_EQ(MacBin_CheckResourceLine(nullptr, nullptr), MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(vt::recorded_messages().size(), 0u);
}

// The check and the writer split lines with the same code: a line the
// check refuses for its form is one the writer refuses, and one it passes
// the writer inserts.
TEST(HostLineChecks, CheckAndWriterAgree) {
  vt::init_recording();
  register_library_processors();
  vt::TempDir dir;
  char name[32] = "";
  MacBinChannel *channel = MacBin_OpenW(dir.file("agree.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(channel, nullptr);
  const std::string words_too_long = "STR  1 " + std::string(247, 'n') + " ~x";
  const char *refused[] = {"STR  128", "STR ", "FREF 128 \"\"", "x y z w", words_too_long.c_str()};
  for (const char *line : refused) {
    EXPECT_NE(MacBin_CheckResourceLine(channel, line), MACBIN_ERR_NONE) << line;
    const size_t before = vt::recorded_messages().size();
    MacBin_AddResource(channel, line);
    EXPECT_EQ(vt::recorded_messages().size(), before + 1) << line;
  }
  const char *taken[] = {"STR  1 \"\" ~one", "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0", "FREF 128 \"\" TEXT 128",
                         "BNDL \"Made by me\""};
  vt::recorded_messages().clear();
  for (const char *line : taken) {
    EXPECT_EQ(MacBin_CheckResourceLine(channel, line), MACBIN_ERR_NONE) << line;
    MacBin_AddResource(channel, line);
  }
  for (const auto &message : vt::recorded_messages()) EXPECT_LT(message.severity, MACBIN_WARNING) << message.text;
  EXPECT_EQ(channel->type_count, 2);  // STR , vers, FREF (the last used index)
  EXPECT_STREQ(channel->owner_text, "Made by me");
  MacBin_Close(channel);
}

// The FREF's own ID is the one the line gives, also when the parameter
// holds a '/' of its own (which the check refuses).
TEST(HostLineChecks, FileReferenceTakesTheLinesIdWhateverItsParameterHolds) {
  vt::init_recording();
  register_library_processors();
  vt::TempDir dir;
  char name[32] = "";
  MacBinChannel *channel = MacBin_OpenW(dir.file("fref.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(MacBin_CheckResourceLine(channel, "FREF 128 \"\" TEXT 1/2"), MACBIN_ERR_ARGUMENT);
  MacBin_AddResource(channel, "FREF 128 \"\" TEXT 1/2");
  MacBin_Close(channel);
  MacBinChannel *reading = MacBin_OpenR(dir.file("fref.bin").c_str());
  ASSERT_NE(reading, nullptr);
  EXPECT_EQ(describe(reading, "BNDL", 128), "owner \"VARN\" 0; FREF: 0=128; ICN#: 0=1");
  MacBin_Close(reading);
}

TEST(HostLineChecks, WhatTheChannelDecides) {
  vt::init_recording();
  register_library_processors();
  vt::TempDir dir;
  vt::MacBinaryPlan plan;
  vt::write_file(dir.file("in.bin"), vt::build_macbinary(plan).bytes);
  MacBinChannel *reading = MacBin_OpenR(dir.file("in.bin").c_str());
  ASSERT_NE(reading, nullptr);
  EXPECT_EQ(check(reading, "STR  1 \"\" ~x"), (Checked{MACBIN_ERR_STATE, "not a channel open for writing"}));
  MacBin_Close(reading);

  char name[32] = "";
  MacBinChannel *whole = MacBin_OpenW(dir.file("whole.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(whole, nullptr);
  ASSERT_EQ(MacBin_SetResourceFork(whole, nullptr, 0), 0);
  EXPECT_EQ(check(whole, "STR  1 \"\" ~x"),
            (Checked{MACBIN_ERR_STATE, "the resource fork was set whole: no resource lines are taken"}));
  MacBin_Close(whole);

  name[0] = '\0';
  MacBinChannel *channel = MacBin_OpenW(dir.file("full.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(channel, nullptr);
  // 64 file references fill the bundle.
  for (int32_t id = 0; id < 64; ++id)
    MacBin_AddResource(channel, ("FREF " + std::to_string(id) + " \"\" TEXT 128").c_str());
  EXPECT_EQ(check(channel, "FREF 64 \"\" TEXT 128"),
            (Checked{MACBIN_ERR_LIMIT, "too many FREF resources: the bundle takes 64"}));
  EXPECT_EQ(check(nullptr, "FREF 64 \"\" TEXT 128"), (Checked{0, ""}));
  // 63 file references leave room for one more.
  name[0] = '\0';
  MacBinChannel *almost = MacBin_OpenW(dir.file("almost.bin").c_str(), name, "VARN", "TEXT");
  ASSERT_NE(almost, nullptr);
  for (int32_t id = 0; id < 63; ++id)
    MacBin_AddResource(almost, ("FREF " + std::to_string(id) + " \"\" TEXT 128").c_str());
  EXPECT_EQ(check(almost, "FREF 63 \"\" TEXT 128"), (Checked{0, ""}));
  MacBin_Close(almost);
  MacBin_Close(channel);
}


// ---- Names of bits, dates as text -------------------------------------------------

std::string flag_names(int32_t flags) {
  char text[256];
  EXPECT_GE(MacBin_FinderFlagNames(flags, text, sizeof text), 0) << flags;
  return text;
}

std::string attribute_names(int32_t attributes) {
  char text[128];
  EXPECT_GE(MacBin_AttributeNames(attributes, text, sizeof text), 0) << attributes;
  return text;
}

TEST(HostNames, EachFinderFlagBitHasItsName) {
  const std::vector<std::pair<int32_t, std::string>> bits = {
      {0x8000, "isAlias"},       {0x4000, "isInvisible"},   {0x2000, "hasBundle"},
      {0x1000, "nameLocked"},    {0x0800, "isStationery"},  {0x0400, "hasCustomIcon"},
      {0x0200, "reserved=512"},  {0x0100, "hasBeenInited"}, {0x0080, "hasNoINITs"},
      {0x0040, "isShared"},      {0x0020, "requiresSwitchLaunch"}, {0x0010, "reserved=16"},
      {0x0008, "color=4"},       {0x0004, "color=2"},       {0x0002, "color=1"},
      {0x0001, "isOnDesk"}};
  for (const auto &[bit, name] : bits) EXPECT_EQ(flag_names(bit), name) << std::hex << bit;
  EXPECT_EQ(flag_names(0), "");
  EXPECT_EQ(flag_names(0xFFFF),
            "isAlias,isInvisible,hasBundle,nameLocked,isStationery,hasCustomIcon,hasBeenInited,hasNoINITs,"
            "isShared,requiresSwitchLaunch,color=7,reserved=528,isOnDesk");
  EXPECT_EQ(flag_names(0x2400 | 0x000A), "hasBundle,hasCustomIcon,color=5");
}

TEST(HostNames, AttributeNamesReadBackForEveryByte) {
  EXPECT_EQ(attribute_names(0), "");
  EXPECT_EQ(attribute_names(0x80), "");  // no name
  EXPECT_EQ(attribute_names(0xFF), "sysHeap,purgeable,locked,protected,preload,changed,compressed");
  EXPECT_EQ(attribute_names(MACBIN_ATTR_PROTECTED | MACBIN_ATTR_PRELOAD), "protected,preload");
  EXPECT_EQ(attribute_names(0x01), "compressed");
  for (int32_t byte = 0; byte <= 0xFF; ++byte) {
    int32_t read = -1;
    const std::string names = attribute_names(byte);
    if (!names.empty()) {
      ASSERT_EQ(MacBin_ParseAttributes(names.c_str(), &read), MACBIN_ERR_NONE) << names;
      EXPECT_EQ(read, byte & 0x7F) << names;
    }
    char number[8];
    std::snprintf(number, sizeof number, byte % 2 == 0 ? "0x%02X" : "%d", static_cast<unsigned>(byte));
    ASSERT_EQ(MacBin_ParseAttributes(number, &read), MACBIN_ERR_NONE) << number;
    EXPECT_EQ(read, byte) << number;
  }
  int32_t read = -1;
  EXPECT_EQ(MacBin_ParseAttributes("preload,protected,preload", &read), MACBIN_ERR_NONE);
  EXPECT_EQ(read, 0x0C);
  EXPECT_EQ(MacBin_ParseAttributes("0x5a", &read), MACBIN_ERR_NONE);
  EXPECT_EQ(read, 0x5A);
  EXPECT_EQ(MacBin_ParseAttributes("0088", &read), MACBIN_ERR_NONE);
  EXPECT_EQ(read, 88);
}

TEST(HostNames, RefusalsLeaveTheirOutputAndSayWhy) {
  for (const char *text : {"", "bogus", "protected,", ",locked", "Locked", "protected preload", "256", "0x100",
                           "0x", "-1", "+5", "00255", "0x1G"}) {
    int32_t read = 77;
    EXPECT_EQ(MacBin_ParseAttributes(text, &read), MACBIN_ERR_ARGUMENT) << text;
    EXPECT_EQ(read, 77) << text;
  }
  int32_t read = 0;
  MacBin_ParseAttributes("hidden", &read);
  EXPECT_EQ(last_error().text.rfind("resource attributes 'hidden' must be names joined by ','", 0), 0u)
      << last_error().text;
  EXPECT_EQ(MacBin_ParseAttributes(nullptr, &read), MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(MacBin_ParseAttributes("locked", nullptr), MACBIN_ERR_ARGUMENT);

  char text[4] = "xyz";
  EXPECT_EQ(MacBin_FinderFlagNames(0x10000, text, sizeof text), -1);
  EXPECT_EQ(MacBin_FinderFlagNames(-1, text, sizeof text), -1);
  EXPECT_EQ(MacBin_AttributeNames(0x100, text, sizeof text), -1);
  EXPECT_EQ(last_error().code, MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(MacBin_AttributeNames(0x20, nullptr, 4), -1);
  EXPECT_STREQ(text, "xyz");
  // Measuring, and a short buffer cut at its end.
  EXPECT_EQ(MacBin_AttributeNames(0x20, nullptr, 0), 9);
  EXPECT_EQ(MacBin_AttributeNames(0x20, text, sizeof text), 9);
  EXPECT_STREQ(text, "pur");
}

TEST(HostDates, TextBothWaysAtTheEdgesOf32Bits) {
  const std::vector<std::pair<uint32_t, std::string>> dates = {
      {1, "1904-01-01T00:00:01Z"},
      {86400 * 59, "1904-02-29T00:00:00Z"},  // a leap day
      {2082844800, "1970-01-01T00:00:00Z"},
      {3029529600, "2000-01-01T00:00:00Z"},
      {0xFFFFFFFF, "2040-02-06T06:28:15Z"}};
  for (const auto &[seconds, text] : dates) {
    char written[MACBIN_DATE_TEXT_BYTES];
    EXPECT_EQ(MacBin_FormatDate(seconds, written), 20) << seconds;
    EXPECT_EQ(std::string(written), text);
    uint32_t read = 0;
    ASSERT_EQ(MacBin_ParseDate(text.c_str(), &read), MACBIN_ERR_NONE) << text;
    EXPECT_EQ(read, seconds) << text;
    ASSERT_EQ(MacBin_ParseDate(std::to_string(seconds).c_str(), &read), MACBIN_ERR_NONE);
    EXPECT_EQ(read, seconds);
  }
  char written[MACBIN_DATE_TEXT_BYTES] = "x";
  EXPECT_EQ(MacBin_FormatDate(0, written), 0);  // not known
  EXPECT_STREQ(written, "");
  uint32_t read = 9;
  EXPECT_EQ(MacBin_ParseDate("0", &read), MACBIN_ERR_NONE);
  EXPECT_EQ(read, 0u);
  for (uint64_t seconds = 1; seconds <= UINT32_MAX; seconds += 99'991'999) {
    ASSERT_EQ(MacBin_FormatDate(static_cast<uint32_t>(seconds), written), 20);
    ASSERT_EQ(MacBin_ParseDate(written, &read), MACBIN_ERR_NONE) << written;
    EXPECT_EQ(read, seconds) << written;
  }
}

TEST(HostDates, DatesThatDoNotExistOrDoNotFitAreRefused) {
  for (const char *text : {"", "yesterday", "4294967296", "12345678901", "-1", "2026-02-30T00:00:00Z",
                           "2026-12-07T24:00:00Z", "2026-12-07T01:60:00Z", "1903-12-31T23:59:59Z",
                           "2040-02-06T06:28:16Z", "2026-12-07T01:43:29+01:00", "2026-12-07 01:43:29Z",
                           "2026-12-07T01:43:29", "2026-12-07T01:43:29z", "2026-12-07T01:43:29ZZ"}) {
    uint32_t read = 77;
    EXPECT_EQ(MacBin_ParseDate(text, &read), MACBIN_ERR_ARGUMENT) << text;
    EXPECT_EQ(read, 77u) << text;
  }
  uint32_t read = 0;
  MacBin_ParseDate("2026-02-30T00:00:00Z", &read);
  EXPECT_EQ(last_error().text, "date '2026-02-30T00:00:00Z' must be like 2026-12-07T01:43:29Z (UTC, 1904 to 2040) "
                               "or seconds since 1904");
  EXPECT_EQ(MacBin_ParseDate(nullptr, &read), MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(MacBin_FormatDate(5, nullptr), -1);
}

TEST(HostDates, NowIsTheClockSince1904) {
  constexpr int64_t kUnixEpochSince1904 = 2082844800;
  const auto before = static_cast<uint32_t>(static_cast<int64_t>(std::time(nullptr)) + kUnixEpochSince1904);
  const uint32_t now = MacBin_DateNow();
  const auto after = static_cast<uint32_t>(static_cast<int64_t>(std::time(nullptr)) + kUnixEpochSince1904);
  EXPECT_GE(now, before);
  EXPECT_LE(now, after);
}

// ---- Resources as texts -----------------------------------------------------------

// The text form of `data`, or "refused: REASON".
std::string text_form(int32_t form, const Bytes &data) {
  const auto length = static_cast<int32_t>(data.size());
  const int32_t needed = MacBin_ResourceToText(form, data.data(), length, nullptr, 0);
  if (needed < 0) return "refused: " + last_error().text;
  std::string text(static_cast<size_t>(needed) + 1, 'x');
  EXPECT_EQ(MacBin_ResourceToText(form, data.data(), length, text.data(), needed + 1), needed);
  EXPECT_EQ(text.back(), '\0');
  text.pop_back();
  return text;
}

// The resource a text makes; empty with `reason` set when refused.
Bytes resource_form(int32_t form, const std::string &text, std::string *reason = nullptr) {
  const auto length = static_cast<int32_t>(text.size());
  const int32_t needed = MacBin_TextToResource(form, text.data(), length, nullptr, 0);
  if (needed < 0) {
    if (reason != nullptr) *reason = last_error().text;
    return {};
  }
  Bytes data(static_cast<size_t>(needed));
  EXPECT_EQ(MacBin_TextToResource(form, text.data(), length, data.data(), needed), needed);
  return data;
}

TEST(HostTextForms, TextResourcesKeepEveryByteOrHaveNoText) {
  const Bytes text = hex("4c696e6520310d4c696e6520320d a5 00 41");  // CR line ends, a bullet, a NUL
  const std::string shown = text_form(MACBIN_TEXT_FORM_TEXT, text);
  EXPECT_EQ(shown, std::string("Line 1\nLine 2\n\u2022\0A", 19));
  EXPECT_EQ(to_hex(resource_form(MACBIN_TEXT_FORM_TEXT, shown)), to_hex(text));
  // An LF byte would come back as CR: such a resource has no text.
  EXPECT_EQ(text_form(MACBIN_TEXT_FORM_TEXT, hex("410a42")).rfind("refused: its text would not give back", 0), 0u);
  EXPECT_EQ(text_form(MACBIN_TEXT_FORM_TEXT, {}), "");
  std::string reason;
  EXPECT_TRUE(resource_form(MACBIN_TEXT_FORM_TEXT, "done \u2713", &reason).empty());
  EXPECT_NE(reason.find("(U+2713)"), std::string::npos) << reason;
}

TEST(HostTextForms, StringListsLineByLine) {
  const Bytes list = hex("0003 05 48656c6c6f 00 03 8a6e64");  // "Hello", "", "\u00e4nd"
  EXPECT_EQ(text_form(MACBIN_TEXT_FORM_STRING_LIST, list), "Hello\n\n\u00e4nd\n");
  EXPECT_EQ(to_hex(resource_form(MACBIN_TEXT_FORM_STRING_LIST, "Hello\n\n\u00e4nd\n")), to_hex(list));
  EXPECT_EQ(to_hex(resource_form(MACBIN_TEXT_FORM_STRING_LIST, "Hello\r\n\r\n\u00e4nd")), to_hex(list));
  EXPECT_EQ(to_hex(resource_form(MACBIN_TEXT_FORM_STRING_LIST, "")), to_hex(hex("0000")));
  EXPECT_EQ(text_form(MACBIN_TEXT_FORM_STRING_LIST, hex("0000")), "");
  for (const char *damaged : {"", "00", "0002 0141", "0001 0141 42", "0001 03 410d42", "0001 05 41"}) {
    EXPECT_EQ(text_form(MACBIN_TEXT_FORM_STRING_LIST, hex(damaged)).rfind("refused: not a string list", 0), 0u)
        << damaged;
  }
  // A Pascal string holds 255 characters, a list 65535 strings.
  std::string reason;
  EXPECT_EQ(resource_form(MACBIN_TEXT_FORM_STRING_LIST, std::string(255, 'a')).size(), 2u + 256u);
  EXPECT_TRUE(resource_form(MACBIN_TEXT_FORM_STRING_LIST, "ok\n" + std::string(256, 'a'), &reason).empty());
  EXPECT_EQ(reason, "string 2 has 256 Macintosh characters, a Pascal string at most 255");
  std::string lines;
  for (int i = 0; i < 65535; ++i) lines += "s\n";
  const Bytes most = resource_form(MACBIN_TEXT_FORM_STRING_LIST, lines);
  ASSERT_EQ(most.size(), 2u + 2u * 65535u);
  EXPECT_EQ(to_hex(Bytes(most.begin(), most.begin() + 4)), to_hex(hex("ffff0173")));
  EXPECT_TRUE(resource_form(MACBIN_TEXT_FORM_STRING_LIST, lines + "s", &reason).empty());
  EXPECT_EQ(reason, "more than 65535 strings");
}

TEST(HostTextForms, VersionsAsTheirLine) {
  // 1.2.3 beta 4, region 1, "1.2.3b4", "Version 1.2.3 \u00a9 me"
  const Bytes vers = hex("0123 60 04 0001 07 312e322e336234 12 56657273696f6e20312e322e3320a9206d65");
  const std::string line = text_form(MACBIN_TEXT_FORM_VERSION, vers);
  EXPECT_EQ(line, "1.23 B 4 1/1.2.3b4/Version 1.2.3 \u00a9 me");
  EXPECT_EQ(to_hex(resource_form(MACBIN_TEXT_FORM_VERSION, line)), to_hex(vers));
  EXPECT_EQ(to_hex(resource_form(MACBIN_TEXT_FORM_VERSION, "1.00 F 0 65535//")),
            to_hex(hex("0100 80 00 ffff 00 00")));
  // Numbers the line shows as one digit, a stage it has no letter for,
  // texts holding its '/', a blank it would lose, a length that lies.
  for (const char *unshown : {"0a00 80 00 0000 00 00", "0100 30 00 0000 00 00", "0100 80 0a 0000 00 00",
                              "01a0 80 00 0000 00 00", "0100 80 00 0000 01 2f 00", "0100 80 00 0000 00 02 6120",
                              "0100 80 00 0000 00 05 41", "0100 80 00 0000 00", "0100 80 00 0000 01 0d 00"}) {
    EXPECT_EQ(text_form(MACBIN_TEXT_FORM_VERSION, hex(unshown)).rfind("refused: ", 0), 0u) << unshown;
  }
  std::string reason;
  EXPECT_TRUE(resource_form(MACBIN_TEXT_FORM_VERSION, "1.00 X 0 0/a/b", &reason).empty());
  EXPECT_EQ(reason, "vers release stage 'X' must be D (development), A (alpha), B (beta) or F (final)");
  EXPECT_TRUE(resource_form(MACBIN_TEXT_FORM_VERSION, "1.00 F 0 65536/a/b", &reason).empty());
  EXPECT_EQ(reason, "vers region code 65536 does not fit in 16 bits");
}

TEST(HostTextForms, BuffersAndRefusedArguments) {
  const Bytes list = hex("0001 05 48656c6c6f");
  char text[4] = "xyz";
  EXPECT_EQ(MacBin_ResourceToText(MACBIN_TEXT_FORM_STRING_LIST, list.data(), 8, text, sizeof text), 6);
  EXPECT_STREQ(text, "Hel");
  uint8_t data[3] = {9, 9, 9};
  EXPECT_EQ(MacBin_TextToResource(MACBIN_TEXT_FORM_TEXT, "abcd", 4, data, 2), 4);
  EXPECT_EQ(to_hex(Bytes(data, data + 3)), to_hex(hex("616209")));
  EXPECT_EQ(MacBin_TextToResource(MACBIN_TEXT_FORM_TEXT, "abcd", -1, data, 2), -1);
  EXPECT_EQ(MacBin_TextToResource(MACBIN_TEXT_FORM_TEXT, nullptr, 1, data, 2), -1);
  EXPECT_EQ(MacBin_TextToResource(MACBIN_TEXT_FORM_TEXT, "abcd", 4, nullptr, 2), -1);
  EXPECT_EQ(MacBin_ResourceToText(MACBIN_TEXT_FORM_TEXT, list.data(), 8, text, -1), -1);
  EXPECT_EQ(last_error().code, MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(MacBin_ResourceToText(9, list.data(), 8, text, sizeof text), -1);
  EXPECT_EQ(last_error().text, "unknown text form 9");
  EXPECT_EQ(MacBin_TextToResource(0, "a", 1, data, 2), -1);
  EXPECT_EQ(last_error().text, "unknown text form 0");
}

// ---- The map's room, kept for what the close adds ------------------------------

Checked check_data(MacBinChannel *channel, const char *type, int32_t id, const std::string &name, int32_t length) {
  MacBin_ClearError();
  const int32_t code = MacBin_CheckResourceData(channel, type, id, name.c_str(), length);
  EXPECT_EQ(code, last_error().code) << type << " " << id;
  return {code, last_error().text};
}

Checked check_close(MacBinChannel *channel) {
  MacBin_ClearError();
  const int32_t code = MacBin_CheckClose(channel);
  EXPECT_EQ(code, last_error().code);
  return {code, last_error().text};
}

// A writer on `path` for creator VARN; `finder_resources` as
// MacBin_SetFinderResources takes it.
MacBinChannel *open_writer(const std::string &path, int32_t finder_resources) {
  char name[32] = "";
  MacBinChannel *channel = MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
  if (channel != nullptr) {
    EXPECT_EQ(MacBin_SetFinderResources(channel, finder_resources), 0);
  }
  return channel;
}

void add_strings(MacBinChannel *channel, int32_t count) {
  for (int32_t id = 0; id < count; ++id)
    ASSERT_EQ(MacBin_AddResourceData(channel, "STR ", id, nullptr, MACBIN_ATTR_PURGEABLE, "\x01x", 2), 0) << id;
}

TEST(HostRoomChecks, ArgumentsAloneWithoutAChannel) {
  vt::init_recording();
  const std::string long_name(256, 'n');
  EXPECT_EQ(check_data(nullptr, "STR ", 1, long_name.substr(0, 255), 0), (Checked{0, ""}));
  EXPECT_EQ(check_data(nullptr, "STR ", 1, long_name, 0),
            (Checked{MACBIN_ERR_ARGUMENT, "the name must be at most 255 characters"}));
  EXPECT_EQ(check_data(nullptr, "TEXTS", 1, "", 0), (Checked{MACBIN_ERR_ARGUMENT, "the type must be 1 to 4 characters"}));
  EXPECT_EQ(check_data(nullptr, "TEXT", 32768, "", 0), (Checked{MACBIN_ERR_ARGUMENT, "the ID must be -32768 to 32767"}));
  EXPECT_EQ(check_data(nullptr, "TEXT", -32768, "", 0), (Checked{0, ""}));
  EXPECT_EQ(check_data(nullptr, "TEXT", 1, "", -1).code, MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(check_close(nullptr), (Checked{MACBIN_ERR_STATE, "not a channel open for writing"}));
  EXPECT_TRUE(vt::recorded_messages().empty());  // checks never report
}

// 30 + 8 x types + 12 x resources within 65535 bytes: 5458 resources of
// one type fit (65534 bytes), a second type does not beside 5457 (65542).
TEST(HostRoomChecks, MapListsFullAtTheLastResourceThatFits) {
  vt::init_recording();
  vt::TempDir dir;
  MacBinChannel *channel = open_writer(dir.file("lists.bin"), 0);
  ASSERT_NE(channel, nullptr);
  add_strings(channel, 5457);
  EXPECT_EQ(check_data(channel, "STR ", 9999, "", 1), (Checked{0, ""}));
  EXPECT_EQ(check(channel, "STR  9999 \"\" ~x"), (Checked{0, ""}));
  const std::string full_at_5458 =
      "the resource map is full at 5458 resources: its type and reference lists must lie within 65535 bytes "
      "(MACBIN_MAX_MAP_LISTS_BYTES)";
  EXPECT_EQ(check_data(channel, "TEXT", 1, "", 1),
            (Checked{MACBIN_ERR_LIMIT, "the resource map is full at 5457 resources: its type and reference lists "
                                       "must lie within 65535 bytes (MACBIN_MAX_MAP_LISTS_BYTES)"}));
  ASSERT_EQ(MacBin_AddResourceData(channel, "STR ", 9999, nullptr, MACBIN_ATTR_PURGEABLE, "\x01x", 2), 0);
  EXPECT_EQ(check_data(channel, "STR ", 1, "", 1), (Checked{MACBIN_ERR_LIMIT, full_at_5458}));
  EXPECT_EQ(check(channel, "STR  1 \"\" ~x"), (Checked{MACBIN_ERR_LIMIT, full_at_5458}));
  EXPECT_EQ(check_close(channel), (Checked{0, ""}));  // nothing to add
  // The writer agrees.
  EXPECT_EQ(MacBin_AddResourceData(channel, "STR ", 1, nullptr, MACBIN_ATTR_PURGEABLE, "\x01x", 2), 1);
  MacBin_Close(channel);
}

// With the owner resource to come (a second type, one more resource) the
// last string that fits is the 5456th; the insertion itself keeps no room,
// so the close check then names the map as full.
TEST(HostRoomChecks, MapListsKeepRoomForTheOwnerResource) {
  vt::init_recording();
  vt::TempDir dir;
  MacBinChannel *channel = open_writer(dir.file("owner.bin"), 1);
  ASSERT_NE(channel, nullptr);
  add_strings(channel, 5455);
  EXPECT_EQ(check_data(channel, "STR ", 9999, "", 1), (Checked{0, ""}));
  // The owner resource itself needs no room beyond its own.
  EXPECT_EQ(check_data(channel, "VARN", 0, "", 1), (Checked{0, ""}));
  ASSERT_EQ(MacBin_AddResourceData(channel, "STR ", 9999, nullptr, MACBIN_ATTR_PURGEABLE, "\x01x", 2), 0);
  EXPECT_EQ(check_close(channel), (Checked{0, ""}));
  EXPECT_EQ(check_data(channel, "STR ", 1, "", 1),
            (Checked{MACBIN_ERR_LIMIT, "the resource map is full at 5457 resources (with the owner resource that "
                                       "closing the file adds): its type and reference lists must lie within "
                                       "65535 bytes (MACBIN_MAX_MAP_LISTS_BYTES)"}));
  ASSERT_EQ(MacBin_AddResourceData(channel, "STR ", 1, nullptr, MACBIN_ATTR_PURGEABLE, "\x01x", 2), 0);
  EXPECT_EQ(check_close(channel).code, MACBIN_ERR_LIMIT);
  EXPECT_NE(check_close(channel).reason.find("the resource map is full at 5457 resources"), std::string::npos);
  MacBin_Close(channel);
}

// The name list: 255 names of 255 characters take 65280 bytes; the 255
// left hold a name of 254 characters, less the names of what the close
// adds ("Owner resource" 15 bytes, "Bundle" 7).
TEST(HostRoomChecks, NameListFullWithAndWithoutTheCloseNames) {
  vt::init_recording();
  register_library_processors();
  vt::TempDir dir;
  const std::string n255(255, 'n');
  struct Case {
    int32_t finder_resources;
    bool fref;
    size_t longest;  // the longest name that still fits
    const char *held;
  };
  for (const Case &c : {Case{0, false, 254, ""}, Case{1, false, 239, ", and the names that closing the file adds 15"},
                        Case{1, true, 232, ", and the names that closing the file adds 22"}}) {
    SCOPED_TRACE(c.longest);
    MacBinChannel *channel = open_writer(dir.file("names.bin"), c.finder_resources);
    ASSERT_NE(channel, nullptr);
    if (c.fref) MacBin_AddResource(channel, "FREF 128 \"\" TEXT 128");
    for (int32_t id = 0; id < 255; ++id)
      ASSERT_EQ(MacBin_AddResourceData(channel, "STR ", id, n255.c_str(), MACBIN_ATTR_PURGEABLE, "\x01x", 2), 0);
    EXPECT_EQ(check_data(channel, "STR ", 1, std::string(c.longest, 'n'), 1), (Checked{0, ""}));
    EXPECT_EQ(check_data(channel, "STR ", 1, "", 1), (Checked{0, ""}));
    EXPECT_EQ(check_data(channel, "STR ", 1, std::string(c.longest + 1, 'n'), 1),
              (Checked{MACBIN_ERR_LIMIT, "the resource names exceed the map's 65535 bytes of name list "
                                         "(MACBIN_MAX_NAME_LIST_BYTES): 65280 are taken, this name needs " +
                                             std::to_string(c.longest + 2) + c.held}));
    // A line's name counts the same: with 11 bytes left, 10 characters fit.
    const std::string filler(c.longest - 11, 'n');
    ASSERT_EQ(MacBin_AddResourceData(channel, "STR ", 1, filler.c_str(), MACBIN_ATTR_PURGEABLE, "\x01x", 2), 0);
    EXPECT_EQ(check(channel, "STR  1 nnnnnnnnnn ~x"), (Checked{0, ""}));
    EXPECT_EQ(check(channel, "STR  1 nnnnnnnnnnn ~x").code, MACBIN_ERR_LIMIT);
    MacBin_Close(channel);
  }
}

// Resource data offsets are 24-bit: a resource must start within 16777215
// bytes, and what the close adds too.  Without Finder resources the last
// resource may end past it; the next cannot start there.
TEST(HostRoomChecks, DataPastTheOffsetsWithAndWithoutTheCloseResources) {
  vt::init_recording();
  register_library_processors();
  vt::TempDir dir;
  constexpr int32_t kMax = MACBIN_MAX_DATA_OFFSET;
  const Bytes big(static_cast<size_t>(kMax) - 104, 0x55);  // with its length word: 100 short of the limit

  MacBinChannel *plain = open_writer(dir.file("plain.bin"), 0);
  ASSERT_NE(plain, nullptr);
  ASSERT_EQ(MacBin_AddResourceData(plain, "DATA", 1, nullptr, 0, big.data(), static_cast<int32_t>(big.size())), 0);
  EXPECT_EQ(check_data(plain, "STR ", 2, "", 1000), (Checked{0, ""}));  // nothing follows it
  ASSERT_EQ(MacBin_AddResourceData(plain, "STR ", 2, nullptr, 0, big.data(), 96), 0);  // ends at the limit
  EXPECT_EQ(check_data(plain, "STR ", 3, "", 1), (Checked{0, ""}));
  ASSERT_EQ(MacBin_AddResourceData(plain, "STR ", 3, nullptr, 0, big.data(), 1), 0);  // one past it
  EXPECT_EQ(check_close(plain), (Checked{0, ""}));
  EXPECT_EQ(check_data(plain, "STR ", 4, "", 1),
            (Checked{MACBIN_ERR_LIMIT, "the resources exceed the 16777215 bytes of resource data a MacBinary map "
                                       "can address (they end at 16777220)"}));
  EXPECT_EQ(check(plain, "STR  4 \"\" ~x").code, MACBIN_ERR_LIMIT);
  MacBin_Close(plain);

  // The owner resource (4 + 1 + 3 bytes for "abc") must start within
  // reach, and the bundle after it.
  MacBinChannel *owned = open_writer(dir.file("owned.bin"), 1);
  ASSERT_NE(owned, nullptr);
  MacBin_AddResource(owned, "BNDL abc");
  ASSERT_EQ(MacBin_AddResourceData(owned, "DATA", 1, nullptr, 0, big.data(), static_cast<int32_t>(big.size())), 0);
  EXPECT_EQ(check_data(owned, "STR ", 2, "", 96), (Checked{0, ""}));
  EXPECT_EQ(check_data(owned, "STR ", 2, "", 97),
            (Checked{MACBIN_ERR_LIMIT, "STR 2 takes 97 bytes, which brings the resource data to 16777216 bytes; "
                                       "a MacBinary resource map addresses at most 16777215"}));
  MacBin_Close(owned);

  // With a bundle (FREF 128 takes 4 + 7 bytes before the data) the owner
  // resource's 8 bytes lie between the data's end and the bundle's start.
  MacBinChannel *bundled = open_writer(dir.file("bundled.bin"), 1);
  ASSERT_NE(bundled, nullptr);
  MacBin_AddResource(bundled, "BNDL abc");
  MacBin_AddResource(bundled, "FREF 128 \"\" TEXT 128");
  ASSERT_EQ(MacBin_AddResourceData(bundled, "DATA", 1, nullptr, 0, big.data(), static_cast<int32_t>(big.size()) - 11),
            0);
  EXPECT_EQ(check_data(bundled, "STR ", 2, "", 88), (Checked{0, ""}));
  const std::string past_by_one =
      "STR 2 takes 89 bytes, which brings the resource data to 16777208 bytes; a MacBinary resource map "
      "addresses at most 16777215 (with the owner resource and the bundle that closing the file adds), whose "
      "data must start within it";
  EXPECT_EQ(check_data(bundled, "STR ", 2, "", 89), (Checked{MACBIN_ERR_LIMIT, past_by_one}));
  EXPECT_EQ(check(bundled, "STR  2 \"\" ~" + std::string(88, 'x')).code, MACBIN_ERR_LIMIT);  // 89 bytes
  EXPECT_EQ(check(bundled, "STR  2 \"\" ~" + std::string(87, 'x')), (Checked{0, ""}));
  EXPECT_EQ(check_close(bundled), (Checked{0, ""}));
  ASSERT_EQ(MacBin_AddResourceData(bundled, "STR ", 2, nullptr, 0, big.data(), 89), 0);
  EXPECT_EQ(check_close(bundled), (Checked{MACBIN_ERR_LIMIT, past_by_one}));
  MacBin_Close(bundled);
}

TEST(HostRoomChecks, UnclosedQuotesAtTheirCharacter) {
  vt::init_recording();
  EXPECT_EQ(MacBin_FindUnclosedQuote("TEXT 1 \"unclosed a.txt", 3, 0), 8);
  EXPECT_EQ(MacBin_FindUnclosedQuote("\"", 3, 0), 1);
  EXPECT_EQ(MacBin_FindUnclosedQuote("TEXT 1 \"closed\" a.txt", 3, 0), 0);
  // UTF-8: é is two bytes, one character.
  EXPECT_EQ(MacBin_FindUnclosedQuote("TEXT 1 \xC3\xA9\"x a.txt", 3, 1), 9);
  EXPECT_EQ(MacBin_FindUnclosedQuote("TEXT 1 \xC3\xA9\"x a.txt", 3, 0), 10);
  // Past the words asked for, a quote is the rest's own.
  EXPECT_EQ(MacBin_FindUnclosedQuote("a b c \"d", 3, 0), 0);
  EXPECT_EQ(MacBin_FindUnclosedQuote("a b c \"d", 4, 0), 7);
  EXPECT_EQ(MacBin_FindUnclosedQuote("  \"a b", 1, 0), 3);
  // \" is a quote inside a word, not an opening one.
  EXPECT_EQ(MacBin_FindUnclosedQuote("a\\\"b c", 3, 0), 0);
  EXPECT_EQ(MacBin_FindUnclosedQuote(nullptr, 3, 0), -1);
  EXPECT_EQ(last_error().code, MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(MacBin_FindUnclosedQuote("a", 0, 0), -1);
  EXPECT_EQ(MacBin_FindUnclosedQuote("a", 1, 2), -1);
  EXPECT_EQ(check(nullptr, "TEXT 1 \"unclosed a.txt"),
            (Checked{MACBIN_ERR_ARGUMENT, "unclosed quote: the '\"' at character 8 has no closing '\"', so the rest "
                                          "of the line would become one word"}));
}

// The close warns of what the bundle it builds lacks; without a bundle to
// build it says nothing.
TEST(HostRoomChecks, BundleIconsTheFileLacksAreWarnedAboutOnClose) {
  vt::TempDir dir;
  const Bytes icon(256, 0);
  struct Case {
    int32_t finder_resources;
    std::vector<std::string> lines;
    std::vector<std::pair<const char *, int32_t>> icons;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {1, {"FREF 128 \"\" TEXT 128", "FREF 129 \"\" APPL 130"}, {{"icl8", 130}, {"ICN#", 131}, {"ics#", 131}},
       {"FREF 128 gives 'TEXT' files the icon family 128, but the file has no ICN# 128: the bundle lists ICN# "
        "resources, and the Finder shows a generic icon",
        "FREF 129 gives 'APPL' files the icon family 130, but the file has no ICN# 130 (only icl8): the bundle "
        "lists ICN# resources, and the Finder shows a generic icon",
        "icon family 131 (ICN#, ics#) is not in the bundle: no FREF names icon ID 131"}},
      {1, {"FREF 128 \"\" TEXT 128"}, {{"ICN#", 128}, {"icl8", 128}}, {}},
      {1, {}, {{"ICN#", 129}}, {}},
      {0, {"FREF 128 \"\" TEXT 128"}, {{"ICN#", 129}}, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.warnings.size());
    vt::init_recording();
    register_library_processors();
    MacBinChannel *channel = open_writer(dir.file("bundle.bin"), c.finder_resources);
    ASSERT_NE(channel, nullptr);
    for (const std::string &line : c.lines) MacBin_AddResource(channel, line.c_str());
    for (const auto &[type, id] : c.icons)
      ASSERT_EQ(MacBin_AddResourceData(channel, type, id, nullptr, 0, icon.data(), 256), 0);
    MacBin_Close(channel);
    std::vector<std::string> warnings;
    for (const vt::Message &m : vt::recorded_messages())
      if (m.severity == MACBIN_WARNING) warnings.push_back(m.text);
    EXPECT_EQ(warnings, c.warnings);
    EXPECT_TRUE(vt::file_exists(dir.file("bundle.bin")));  // warnings only
  }
}

}  // namespace
