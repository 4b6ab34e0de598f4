// The facts hosts share with the library rather than keep their own copies
// of: what each container loses of a file written into it, the stable
// names of the check's finding codes, and which resource types are drawn.
// All through the public API.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "varnel.h"

namespace {

// A note as a host sees it: severity, subject, whole line, and its text.
struct Seen {
  int32_t severity;
  int32_t about;
  std::string line;
  std::string text;
  bool operator==(const Seen &) const = default;
};

void collect(const MacBinConversionNote *note, void *seen) {
  static_cast<std::vector<Seen> *>(seen)->push_back({note->severity, note->about, note->line, note->text});
}

// A file that every container but BinHex and a bare fork keeps whole:
// codes, the high byte of the flags, dates from 1995, a short name, both
// forks, nothing in the Finder information past type, creator and flags.
struct Source {
  MacBinFileInfo info{};
  uint8_t finder[32] = {};

  Source() {
    info.format = MACBIN_FORMAT_II;
    info.data_length = 16;
    info.rsrc_length = 286;
    info.created = 2898000000u;
    info.modified = 2898000100u;
    info.finder_flags = 0x0100;
    std::strcpy(info.name, "Read Me");
    std::strcpy(info.type, "TEXT");
    std::strcpy(info.creator, "ttxt");
    std::memcpy(finder, "TEXTttxt\x01\x00", 10);
  }

  std::vector<Seen> notes(int32_t target, const char *in = "in.bin", const char *out = "out") const {
    std::vector<Seen> seen;
    const int32_t count = MacBin_ConversionNotes(&info, finder, target, in, out, collect, &seen);
    EXPECT_EQ(count, static_cast<int32_t>(seen.size()));
    return seen;
  }
};

constexpr int32_t kWarning = MACBIN_WARNING;
constexpr int32_t kNotice = MACBIN_INFO;
constexpr int32_t kIn = MACBIN_NOTE_SOURCE;
constexpr int32_t kOut = MACBIN_NOTE_TARGET;

TEST(ConversionNotes, NoneWhenTheContainerHoldsAllTheFileHas) {
  const Source source;
  for (int32_t target : {MACBIN_FORMAT_II, MACBIN_FORMAT_CLASSIC, MACBIN_FORMAT_APPLESINGLE, MACBIN_FORMAT_APPLEDOUBLE})
    EXPECT_EQ(source.notes(target), std::vector<Seen>{}) << target;
  // A bare fork of a file that is nothing but its fork.
  Source fork_only;
  fork_only.info = MacBinFileInfo{};
  fork_only.info.format = MACBIN_FORMAT_RSRC;
  fork_only.info.rsrc_length = 286;
  std::memset(fork_only.finder, 0, sizeof fork_only.finder);
  EXPECT_EQ(fork_only.notes(MACBIN_FORMAT_RSRC), std::vector<Seen>{});
  // BinHex holds no dates, so a file without any loses none and gets no notice.
  Source undated;
  undated.info.created = undated.info.modified = 0;
  EXPECT_EQ(undated.notes(MACBIN_FORMAT_BINHEX), std::vector<Seen>{});
  // A null method only counts.
  EXPECT_EQ(MacBin_ConversionNotes(&source.info, source.finder, MACBIN_FORMAT_BINHEX, "a", "b", nullptr, nullptr), 1);
}

TEST(ConversionNotes, EachContainerNamesWhatItCannotHold) {
  Source source;
  EXPECT_EQ(source.notes(MACBIN_FORMAT_BINHEX, "in.bin", "out.hqx"),
            (std::vector<Seen>{{kWarning, kOut,
                                "out.hqx: BinHex holds no dates: the creation and modification dates are lost",
                                "BinHex holds no dates: the creation and modification dates are lost"}}));
  source.info.finder_flags = 0x0123;
  const std::string flags =
      "the classic MacBinary header holds only the high byte of the Finder flags: "
      "0x0123 becomes 0x0100";
  EXPECT_EQ(source.notes(MACBIN_FORMAT_CLASSIC), (std::vector<Seen>{{kWarning, kOut, "out: " + flags, flags}}));
  // The low byte survives MacBinary II.
  EXPECT_EQ(source.notes(MACBIN_FORMAT_II), std::vector<Seen>{});
}

TEST(ConversionNotes, AppleSingleAndAppleDoubleLoseDatesBeforeDecember1931) {
  Source source;
  // 882045952 is the earliest second that does not fit: the writer stores
  // it as unknown, and so the note must say; one second later fits.
  source.info.created = 882045952u;
  source.info.modified = 882045951u;
  for (int32_t target : {MACBIN_FORMAT_APPLESINGLE, MACBIN_FORMAT_APPLEDOUBLE}) {
    const std::string title = target == MACBIN_FORMAT_APPLESINGLE ? "AppleSingle" : "AppleDouble";
    const std::string early = title + " cannot hold dates before December 1931: the ";
    EXPECT_EQ(source.notes(target),
              (std::vector<Seen>{{kWarning, kOut, "out: " + early + "creation date is stored as unknown",
                                  early + "creation date is stored as unknown"},
                                 {kWarning, kOut, "out: " + early + "modification date is stored as unknown",
                                  early + "modification date is stored as unknown"}}));
  }
  source.info.created = 882045953u;
  source.info.modified = 0;  // unknown stays unknown: nothing lost
  EXPECT_EQ(source.notes(MACBIN_FORMAT_APPLESINGLE), std::vector<Seen>{});
}

TEST(ConversionNotes, ABareForkHoldsNothingButItself) {
  Source source;
  source.info.rsrc_length = 0;
  const std::string facts = "a bare resource fork holds no type, creator, Finder flags or dates";
  EXPECT_EQ(source.notes(MACBIN_FORMAT_RSRC, "in.bin", "out.rsrc"),
            (std::vector<Seen>{
                {kWarning, kIn, "in.bin: the data fork (16 bytes) is not written: a bare resource fork holds none",
                 "the data fork (16 bytes) is not written: a bare resource fork holds none"},
                {kWarning, kOut, "out.rsrc: " + facts, facts},
                {kNotice, kIn, "in.bin has no resource fork: out.rsrc holds an empty resource map",
                 "has no resource fork: out.rsrc holds an empty resource map"}}));
  // Any one of the facts is enough for the warning.
  Source flags_only;
  flags_only.info = MacBinFileInfo{};
  flags_only.info.rsrc_length = 286;
  flags_only.info.finder_flags = 0x0001;
  EXPECT_EQ(flags_only.notes(MACBIN_FORMAT_RSRC), (std::vector<Seen>{{kWarning, kOut, "out: " + facts, facts}}));
}

TEST(ConversionNotes, FinderInformationPastTheFlags) {
  Source source;
  source.finder[12] = 0x40;  // the icon's place
  source.finder[31] = 0x01;  // the put-away folder
  const std::string place = " holds no window place or folder of the icon: they are lost";
  const std::string extended =
      " holds no extended Finder information (script, extended flags, comment, put-away folder): it is lost";
  const auto warned = [](const std::string &text) { return Seen{kWarning, kOut, "out: " + text, text}; };
  EXPECT_EQ(source.notes(MACBIN_FORMAT_II), std::vector<Seen>{warned("MacBinary II" + extended)});
  EXPECT_EQ(source.notes(MACBIN_FORMAT_CLASSIC), std::vector<Seen>{warned("classic MacBinary" + extended)});
  EXPECT_EQ(source.notes(MACBIN_FORMAT_APPLEDOUBLE), std::vector<Seen>{});
  const std::vector<Seen> binhex = source.notes(MACBIN_FORMAT_BINHEX);
  ASSERT_EQ(binhex.size(), 3u);
  EXPECT_EQ(binhex[1], warned("BinHex 4.0" + place));
  EXPECT_EQ(binhex[2], warned("BinHex 4.0" + extended));
  // Only the extended part set: MacBinary keeps the place.
  source.finder[12] = 0;
  EXPECT_EQ(source.notes(MACBIN_FORMAT_BINHEX).back(), warned("BinHex 4.0" + extended));
  source.finder[31] = 0;
  source.finder[15] = 1;
  EXPECT_EQ(source.notes(MACBIN_FORMAT_II), std::vector<Seen>{});
  EXPECT_EQ(source.notes(MACBIN_FORMAT_BINHEX).back(), warned("BinHex 4.0" + place));
  // Without the Finder information nothing is said of it.
  std::vector<Seen> seen;
  EXPECT_EQ(MacBin_ConversionNotes(&source.info, nullptr, MACBIN_FORMAT_II, "in", "out", collect, &seen), 0);
}

TEST(ConversionNotes, UndatedFilesAndLongNames) {
  Source source;
  source.info.created = source.info.modified = 0;
  // 40 characters, MacRoman: 0x8E is an accented e, shown in UTF-8.
  std::strcpy(source.info.name, "Caf\x8E notes for the whole of the year 1996");
  const std::string cut = "the name is cut to 31 characters: \"Caf\xC3\xA9 notes for the whole of the\"";
  EXPECT_EQ(source.notes(MACBIN_FORMAT_APPLESINGLE, "in.hqx", "out.as"),
            (std::vector<Seen>{{kNotice, kIn, "in.hqx holds no dates: out.as gets the time of the conversion",
                                "holds no dates: out.as gets the time of the conversion"},
                               {kWarning, kOut, "out.as: " + cut, cut}}));
  EXPECT_EQ(source.notes(MACBIN_FORMAT_BINHEX, "in", "out"), (std::vector<Seen>{{kWarning, kOut, "out: " + cut, cut}}));
  // A bare fork holds no name to cut; 31 characters are kept whole.
  EXPECT_EQ(source.notes(MACBIN_FORMAT_RSRC).size(), 2u);
  source.info.name[31] = '\0';
  EXPECT_EQ(source.notes(MACBIN_FORMAT_BINHEX), std::vector<Seen>{});
  // Null paths are empty ones.
  std::vector<Seen> seen;
  MacBin_ConversionNotes(&source.info, source.finder, MACBIN_FORMAT_II, nullptr, nullptr, collect, &seen);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].line, " holds no dates:  gets the time of the conversion");
}

TEST(ConversionNotes, RefusesWhatItCannotAnswer) {
  const Source source;
  for (int32_t target : {int32_t{0}, int32_t{MACBIN_FORMAT_III}, int32_t{8}, int32_t{-1}}) {
    MacBin_ClearError();
    EXPECT_EQ(MacBin_ConversionNotes(&source.info, source.finder, target, "in", "out", collect, nullptr), -1);
    EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_ARGUMENT) << target;
  }
  EXPECT_EQ(MacBin_ConversionNotes(nullptr, source.finder, MACBIN_FORMAT_II, "in", "out", collect, nullptr), -1);
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_ARGUMENT);
}

TEST(FindingName, EveryCodeHasItsStableName) {
  const char *const expected[] = {"not_a_container", "name_misleads", "packed_twice", "fork_in_data", "header_damaged",
                                  "header_crc",      "fork_crc",      "data_cut",     "rsrc_cut",     "fork_header",
                                  "map_past_fork",   "map_damaged",   "data_range",   "data_overlap", "repeated_id",
                                  "repeated_type",   "name_range",    "compressed",   "map_copy",     "more"};
  ASSERT_EQ(std::size(expected), static_cast<size_t>(MACBIN_FINDING_MORE));
  for (int32_t code = 1; code <= MACBIN_FINDING_MORE; ++code) {
    ASSERT_NE(MacBin_FindingName(code), nullptr) << code;
    EXPECT_STREQ(MacBin_FindingName(code), expected[code - 1]);
  }
  EXPECT_STREQ(MacBin_FindingName(MACBIN_FINDING_FORK_CRC), "fork_crc");
  for (int32_t code : {0, -1, MACBIN_FINDING_MORE + 1, INT32_MAX, INT32_MIN})
    EXPECT_EQ(MacBin_FindingName(code), nullptr);
}

TEST(DecodesType, TheDrawnTypesAndNoOthers) {
  for (const char *type :
       {"ICN#", "ICON", "SICN", "ics#", "icm#", "kcs#", "icl4", "icl8", "ics4", "ics8", "icm4", "icm8", "kcs4",
        "kcs8", "cicn", "CURS", "crsr", "PAT ", "PAT#", "ppat", "ppt#", "clut", "pltt", "PICT", "FONT", "NFNT"})
    EXPECT_EQ(MacBin_DecodesType(type), 1) << type;
  for (const char *type : {"icn#", "Icon", "sicn", "ICS#", "pict", "pat ", "font", "TEXT", "STR#", "snd ", "icns",
                           "PAT\0", "\0\0\0\0", "PIC"})
    EXPECT_EQ(MacBin_DecodesType(type), 0) << type;
  EXPECT_EQ(MacBin_DecodesType(nullptr), 0);
}

}  // namespace
