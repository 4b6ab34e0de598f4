// The Finder resources: a version resource from a compact text, one file
// reference per document type, and the bundle that ties the owner, the file
// references and their icons together.
//
// All three read their parameter text by fixed positions and separators;
// every read is bounded by the text's end, so a short or malformed text
// yields zeros and empty strings instead of reading past it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "frame/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr char kBell = 7;
constexpr size_t kMaxPascalCharacters = 255;

// The character at `position`, or NUL past the end.
char char_at(std::string_view text, size_t position) {
  return position < text.size() ? text[position] : '\0';
}

// The decimal number that begins at `position` (as atoi reads it), 0 past
// the end.  Wraps to 32 bits instead of overflowing.
int32_t decimal_at(std::string_view text, size_t position) {
  if (position >= text.size()) return 0;
  return static_cast<int32_t>(std::strtoll(text.data() + position, nullptr, 10));
}

// Position of the first '/' at or after `from`, or npos.
size_t slash_from(std::string_view text, size_t from) {
  return from < text.size() ? text.find('/', from) : std::string_view::npos;
}

// A digit character's value, kept to 8 bits; a missing one counts as 0.
uint8_t digit_value(std::string_view text, size_t position) {
  const char c = char_at(text, position);
  return c == '\0' ? 0 : static_cast<uint8_t>(c - '0');
}

void put_pascal(std::string_view text) {
  if (text.size() > kMaxPascalCharacters) text = text.substr(0, kMaxPascalCharacters);
  const auto length = static_cast<int32_t>(text.size());
  MacBin_PutByte(length);
  MacBin_PutBuf(text.data(), length, length);
}

uint8_t release_stage(char letter) {
  switch (letter) {
    case 'D': return 0x20;  // development
    case 'A': return 0x40;  // alpha
    case 'B': return 0x60;  // beta
    case 'F': return 0x80;  // final
    default:
      std::printf("ERROR     Invalid Release code %c\n", kBell);
      return 0x20;
  }
}

MacBinChannel *acting_channel(MacBinChannel *channel) {
  return channel != nullptr ? channel : MacChannel;
}

}  // namespace

extern "C" {

// Text layout: 0 major digit, 2 minor digit, 3 bug-fix digit, 5 stage
// letter (D, A, B, F), 7 pre-release revision, 9 region code, then from
// position 10 "/short version/long version[/...]".
int32_t add_vers(MacBinChannel * /*channel*/, const char *text) {
  const std::string_view param = text != nullptr ? text : "";
  MacBin_PutByte(digit_value(param, 0));
  MacBin_PutByte(static_cast<uint8_t>(digit_value(param, 2) * 16 + digit_value(param, 3)));
  MacBin_PutByte(release_stage(char_at(param, 5)));
  MacBin_PutByte(decimal_at(param, 7));
  MacBin_PutWord(decimal_at(param, 9), 2);

  std::string_view short_version;
  std::string_view long_version;
  if (const size_t first = slash_from(param, 10); first != std::string_view::npos) {
    const size_t second = slash_from(param, first + 1);
    short_version = param.substr(first + 1, second == std::string_view::npos
                                                ? std::string_view::npos
                                                : second - first - 1);
    if (second != std::string_view::npos) {
      const size_t third = slash_from(param, second + 1);
      long_version = param.substr(second + 1, third == std::string_view::npos
                                                  ? std::string_view::npos
                                                  : third - second - 1);
    }
  }
  put_pascal(short_version);
  put_pascal(long_version);
  return 0;
}

// Text layout: 0..3 the document's file type, 5 the icon resource ID, and
// after the first '/' from position 6 the FREF's own ID (the line handler
// appends it).
int32_t add_FREF(MacBinChannel *channel, const char *text) {
  if (trace_enabled(TRACE_MSG)) std::printf("MSG--> Creation resource FREF \n");
  MacBinChannel *target = acting_channel(channel);
  if (target == nullptr || target->frefs == nullptr) return 1;
  if (target->fref_last >= kMaxFrefs - 1) {
    std::printf("ERROR     out of FREF memory %c\n", kBell);
    return 1;
  }
  const std::string_view param = text != nullptr ? text : "";
  const int32_t local_id = ++target->fref_last;
  MacBin_PutBuf(param.data(), static_cast<int32_t>(std::min<size_t>(param.size(), 4)), 4);
  MacBin_PutWord(local_id, 2);
  MacBin_PutByte(0);  // an empty file name

  const size_t slash = slash_from(param, 6);
  target->frefs[local_id][0] = decimal_at(param, 5);
  target->frefs[local_id][1] = slash != std::string_view::npos ? decimal_at(param, slash + 1) : 0;
  return 0;
}

// The bundle: owner signature and ID 0, then the FREF list (local ID, FREF
// ID) and the ICN# list (local ID, icon ID), each count stored minus 1.
int32_t close_BNDL(MacBinChannel *channel, const char * /*text*/) {
  if (trace_enabled(TRACE_MSG)) std::printf("MSG--> Creation resource BNDL \n");
  MacBinChannel *target = acting_channel(channel);
  if (target == nullptr || target->frefs == nullptr) return 1;
  const int32_t last = std::min(target->fref_last, kMaxFrefs - 1);
  MacBin_PutBuf(target->finder.creator, static_cast<int32_t>(::strnlen(target->finder.creator, 4)),
                4);
  MacBin_PutWord(0, 2);  // owner resource ID
  MacBin_PutWord(1, 2);  // two types in the bundle
  MacBin_PutBuf("FREF", 4, 4);
  MacBin_PutWord(last, 2);
  for (int32_t i = 0; i <= last; ++i) {
    MacBin_PutWord(i, 2);
    MacBin_PutWord(target->frefs[i][1], 2);
  }
  MacBin_PutBuf("ICN#", 4, 4);
  MacBin_PutWord(last, 2);
  for (int32_t i = 0; i <= last; ++i) {
    MacBin_PutWord(i, 2);
    MacBin_PutWord(target->frefs[i][0], 2);
  }
  return 0;
}

}  // extern "C"
