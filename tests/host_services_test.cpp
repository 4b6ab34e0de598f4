// The calls that give hosts the library's own facts: the calling thread's
// last error and its codes, the version, MacRoman text, the descriptions of
// the Finder resources and the check of a resource line.  All through the
// public API.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
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
  EXPECT_STREQ(MacBin_Version(), "1.4.0");

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

TEST(HostErrors, FullDiskGivesIoCodeWithSystemReasonKeptThroughTheRemoval) {
  vt::init_recording();
  MacBin_Setmethod(reinterpret_cast<MacBinMethod>(record_with_code), MACBIN_METHOD_MESSAGE);
  // A link, so that the removal of the failed output removes the link and
  // never the device.
  vt::TempDir dir;
  const std::string link = dir.file("full.bin");
  std::filesystem::create_symlink("/dev/full", link);
  char name[32] = "";
  MacBinChannel *channel = MacBin_OpenW(link.c_str(), name, "VARN", "TEXT");
  ASSERT_NE(channel, nullptr);
  const Bytes data(4096, 0x41);
  MacBin_PutBuf(data.data(), static_cast<int32_t>(data.size()), static_cast<int32_t>(data.size()));
  MacBin_Close(channel);

  EXPECT_EQ(last_error().code, MACBIN_ERR_IO);
  EXPECT_EQ(last_error().text, std::string("Writing output file: ") + std::strerror(ENOSPC));
  EXPECT_EQ(MacBin_LastSystemError(), ENOSPC);
  const std::string cause = "1 Writing output file: " + std::string(std::strerror(ENOSPC));
  EXPECT_EQ(codes_seen, (std::vector<std::string>{cause + " | Writing output file",
                                                  cause + " | Removing output file(s)",
                                                  cause + " | Please check file system !"}));
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
  EXPECT_FALSE(std::filesystem::is_symlink(link));
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

}  // namespace
