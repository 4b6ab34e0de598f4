// MacRoman <-> UTF-8 and JSON quoting.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/mac_text.hpp"
#include "support/support.hpp"

namespace {

using vt::hex;

std::string text_of(const vt::Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(ToolMacText, MacRomanCharactersAsUtf8) {
  const std::pair<const char *, const char *> cases[] = {
      {"43 61 66 8E", "43 61 66 C3A9"},                // Café
      {"80 8A 9F", "C384 C3A4 C3BC"},                  // Ä ä ü
      {"A5 AA D0 D1", "E280A2 E284A2 E28093 E28094"},  // • ™ – —
      {"DB", "E282AC"},                                // €
      {"F0", "EFA3BF"},                                // a private-use character
      {"DE DF", "EFAC81 EFAC82"},                      // fi, fl
      {"FF", "CB87"},                                  // caron
  };
  for (const auto &[mac, utf8] : cases) {
    EXPECT_EQ(varnel_tool::mac_roman_to_utf8(text_of(hex(mac))), text_of(hex(utf8))) << mac;
    EXPECT_EQ(varnel_tool::utf8_to_mac_roman(text_of(hex(utf8))), text_of(hex(mac))) << utf8;
  }
  // Every byte comes back as it was.
  for (int byte = 0; byte < 256; ++byte) {
    const std::string mac(1, static_cast<char>(byte));
    EXPECT_EQ(varnel_tool::utf8_to_mac_roman(varnel_tool::mac_roman_to_utf8(mac)), mac) << byte;
  }
}

TEST(ToolMacText, ControlsReplacedOnlyWhenAsked) {
  const std::string mac = text_of(hex("01 41 7F 0A"));
  EXPECT_EQ(varnel_tool::mac_roman_to_utf8(mac), mac);
  EXPECT_EQ(varnel_tool::mac_roman_to_utf8(mac, true), text_of(hex("EFBFBD 41 EFBFBD EFBFBD")));
}

TEST(ToolMacText, TextsMacRomanCannotHold) {
  const char *cases[] = {
      "C3",           // cut short
      "C0 AF",        // overlong '/'
      "ED A0 80",     // a surrogate
      "F4 90 80 80",  // past U+10FFFF
      "80",           // a lone continuation byte
      "E4 B8 AD",     // a CJK character
      "F0 9F 98 80",  // an emoji
  };
  for (const char *utf8 : cases) EXPECT_FALSE(varnel_tool::utf8_to_mac_roman(text_of(hex(utf8)))) << utf8;
}

// The refusal names the first obstacle: the character with its code point,
// or the byte that is not UTF-8 (positions from 1).
TEST(ToolMacText, WhyATextCannotBeConverted) {
  const std::pair<const char *, const char *> cases[] = {
      {"43 61 66 C3A9 20 E29C93 20 CEB2", "'\xE2\x9C\x93' (U+2713) is not a Macintosh (MacRoman) character"},
      {"F0 9F 98 80", "'\xF0\x9F\x98\x80' (U+1F600) is not a Macintosh (MacRoman) character"},
      {"41 42 E9 43", "byte 0xE9 at position 3 is not UTF-8"},
      {"41 C0 AF", "byte 0xC0 at position 2 is not UTF-8"},
  };
  for (const auto &[utf8, why] : cases) {
    std::string problem;
    EXPECT_FALSE(varnel_tool::utf8_to_mac_roman(text_of(hex(utf8)), problem)) << utf8;
    EXPECT_EQ(problem, why) << utf8;
  }
  std::string problem = "untouched";
  EXPECT_EQ(varnel_tool::utf8_to_mac_roman(text_of(hex("52 C3A9 73")), problem), text_of(hex("52 8E 73")));
  EXPECT_EQ(problem, "untouched");
}

TEST(ToolMacText, JsonQuoting) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t", "\"\\n\\r\\t\""},
      {text_of(hex("01 7F")), "\"\\u0001\\u007f\""},
      {text_of(hex("43 61 66 C3A9")), text_of(hex("22 43 61 66 C3A9 22"))},
  };
  for (const auto &[text, quoted] : cases) EXPECT_EQ(varnel_tool::json_quote(text), quoted);
}

}  // namespace
