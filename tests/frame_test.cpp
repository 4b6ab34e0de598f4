// The library frame: initialisation, method slots, default reporting,
// channel allocation, the processor registry and the argument splitter.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frame/internal.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

MacBinMethod as_method(auto function) { return reinterpret_cast<MacBinMethod>(function); }

int32_t write_one(MacBinChannel *, const char *) { return 1; }
int32_t write_two(MacBinChannel *, const char *) { return 2; }
int32_t read_one(MacBinChannel *, int32_t, int32_t) { return 1; }
int32_t read_two(MacBinChannel *, int32_t, int32_t) { return 2; }

size_t processor_count() {
  size_t n = 0;
  for (MacBinProcessor *p = MacIOControl.processors; p != nullptr; p = p->next) ++n;
  return n;
}

MacBinProgress start_notice(const char *type, int32_t id, const char *name) {
  return MacBinProgress{-1, "out", type, id, name};
}

// ---- Initialisation and method slots ------------------------------------------

TEST(FrameInit, FirstCallInitialisesSecondChangesNothing) {
  EXPECT_EQ(MacBin_Init(), 1);
  EXPECT_NE(MacIOControl.zone, nullptr);
  EXPECT_EQ(MacIOControl.processors, nullptr);
  for (int32_t id = 1; id <= 16; ++id) {
    const bool is_default = id >= MACBIN_METHOD_MESSAGE && id <= MACBIN_METHOD_END_NOTICE;
    EXPECT_EQ(MacIOControl.methods[id - 1] != nullptr, is_default) << "method id " << id;
  }

  // A host's own method and processors survive a second MacBin_Init.
  ASSERT_EQ(MacBin_AddProcessor("vers", nullptr, write_one), 0);
  ASSERT_EQ(MacBin_Setmethod(as_method(vt::record_message), MACBIN_METHOD_MESSAGE), 1);
  EXPECT_EQ(MacBin_Init(), 2);
  EXPECT_EQ(processor_count(), 1u);
  report("still mine", MACBIN_WARNING);
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].module, "MacBin");
  EXPECT_EQ(vt::recorded_messages()[0].text, "still mine");
  EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_WARNING);
}

TEST(FrameInit, MethodsInstalledBeforeInitAreCleared) {
  ASSERT_EQ(MacBin_Setmethod(as_method(write_one), MACBIN_METHOD_OPEN), 1);
  ASSERT_EQ(MacBin_Setmethod(as_method(vt::record_message), MACBIN_METHOD_MESSAGE), 1);
  ASSERT_EQ(MacBin_Init(), 1);
  EXPECT_EQ(MacIOControl.methods[MACBIN_METHOD_OPEN - 1], nullptr);
  EXPECT_NE(MacIOControl.methods[MACBIN_METHOD_MESSAGE - 1], as_method(vt::record_message));
}

TEST(FrameMethods, SetmethodAcceptsOnlyIdsOneToSixteen) {
  ASSERT_EQ(MacBin_Init(), 1);
  MacBinControl before = MacIOControl;
  EXPECT_EQ(MacBin_Setmethod(as_method(write_one), 0), 0);
  EXPECT_EQ(MacBin_Setmethod(as_method(write_one), 17), 0);
  EXPECT_EQ(MacBin_Setmethod(as_method(write_one), -1), 0);
  EXPECT_EQ(std::memcmp(&before, &MacIOControl, sizeof before), 0);

  EXPECT_EQ(MacBin_Setmethod(as_method(write_one), 1), 1);
  EXPECT_EQ(MacBin_Setmethod(as_method(write_two), 16), 1);
  EXPECT_EQ(MacIOControl.methods[0], as_method(write_one));
  EXPECT_EQ(MacIOControl.methods[15], as_method(write_two));
  EXPECT_EQ(MacBin_Setmethod(nullptr, 16), 1);  // null uninstalls
  EXPECT_EQ(MacIOControl.methods[15], nullptr);
}

// ---- Default methods ----------------------------------------------------------------

TEST(FrameDefaultMethods, MessageLinesNameTheSeverity) {
  ASSERT_EQ(MacBin_Init(), 1);
  vt::CaptureStdout out;
  report("Out Of Memory (in function table)", MACBIN_ERROR);
  report("one", MACBIN_INFO);
  report("two", MACBIN_WARNING);
  report("Writing output file", MACBIN_SEVERE);
  report("low", 0);  // outside 1 to 4: the number
  report("negative", -3);
  EXPECT_EQ(out.text(),
            "MacBin : ERROR : Out Of Memory (in function table)\n"
            "MacBin : INFO : one\n"
            "MacBin : WARNING : two\n"
            "MacBin : SEVERE : Writing output file\n"
            "MacBin : 0 : low\n"
            "MacBin : -3 : negative\n");
}

TEST(FrameDefaultMethods, StartProgressAndEndNotices) {
  ASSERT_EQ(MacBin_Init(), 1);
  vt::CaptureStdout out;
  EXPECT_EQ(call_start("Macintosh Resources"), 1);
  MacBinProgress unnamed = start_notice("vers", 1, nullptr);
  call_progress(&unnamed);
  MacBinProgress named = start_notice("vers", 1, "x");
  call_progress(&named);
  MacBinProgress percentage{40, nullptr, "PICT", 128, nullptr};
  call_progress(&percentage);
  call_end();
  EXPECT_EQ(out.text(),
            "MacBin : INFO : Start Macintosh Resources\n"
            "MacBin : INFO : Starting Resource vers number 1\n"
            "MacBin : INFO : Starting Resource vers number 1 (x)\n"
            "MacBin : INFO : Percentage 40\n"
            "MacBin : INFO : End Macintosh Resources\n");
}

TEST(FrameDefaultMethods, LongResourceNameIsCutNotOverrun) {
  ASSERT_EQ(MacBin_Init(), 1);
  const std::string name(1000, 'n');
  MacBinProgress notice = start_notice("PICT", 128, name.c_str());
  vt::CaptureStdout out;
  call_progress(&notice);
  // The composed text is held to 255 characters and a NUL.
  const std::string composed = "Starting Resource PICT number 128 (" + name + ")";
  EXPECT_EQ(out.text(), "MacBin : INFO : " + composed.substr(0, 255) + "\n");
}

TEST(FrameDefaultMethods, ReplacingOnlyTheMessageMethodStillGetsNotices) {
  vt::init_recording();
  vt::CaptureStdout out;
  call_start("Macintosh Resources");
  MacBinProgress named = start_notice("ICN#", 128, "icon");
  call_progress(&named);
  MacBinProgress percentage{100, nullptr, "ICN#", 128, nullptr};
  call_progress(&percentage);
  call_end();
  EXPECT_EQ(out.text(), "");  // nothing went to the default printer

  std::vector<std::string> texts;
  for (const vt::Message &m : vt::recorded_messages()) {
    EXPECT_EQ(m.severity, MACBIN_INFO);
    texts.push_back(m.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Start Macintosh Resources",
                                             "Starting Resource ICN# number 128 (icon)",
                                             "Percentage 100", "End Macintosh Resources"}));
}

TEST(FrameDefaultMethods, EmptyMessageSlotFallsBackToThePrinter) {
  ASSERT_EQ(MacBin_Init(), 1);
  ASSERT_EQ(MacBin_Setmethod(nullptr, MACBIN_METHOD_MESSAGE), 1);
  ASSERT_EQ(MacBin_Setmethod(nullptr, MACBIN_METHOD_PROGRESS), 1);
  vt::CaptureStdout out;
  report("Writing output file", MACBIN_SEVERE);
  MacBinProgress notice = start_notice("vers", 1, nullptr);
  call_progress(&notice);  // no progress method: no notice, no crash
  EXPECT_EQ(out.text(), "MacBin : SEVERE : Writing output file\n");
}

// ---- Acquire progress --------------------------------------------------------------

int32_t host_start(void *) { return 7; }

TEST(FrameAcquireProgress, Tag100IsReplacedByTheSilentRecord) {
  MacBinAcquireProgress host{100, host_start, nullptr, nullptr};
  MacBinAcquireProgress *replaced = MacBin_ReplaceAcquireProgress(&host);
  ASSERT_NE(replaced, &host);
  EXPECT_EQ(replaced, &debug_values.default_progress);
  EXPECT_EQ(replaced->tag, 100);
  EXPECT_EQ(replaced->start(nullptr), 1);
  replaced->progress(nullptr);  // silent callbacks, callable
  replaced->end();

  MacBinAcquireProgress other{101, host_start, nullptr, nullptr};
  EXPECT_EQ(MacBin_ReplaceAcquireProgress(&other), &other);
  EXPECT_EQ(MacBin_ReplaceAcquireProgress(nullptr), &debug_values.default_progress);
}

// ---- Channels ----------------------------------------------------------------------

TEST(FrameChannel, NewChannelIsZeroedAndGoesBackToTheZone) {
  ASSERT_EQ(MacBin_Init(), 1);
  const size_t before = tessel_zone_in_use(MacIOControl.zone);
  MacBinChannel *channel = MacBin_NewChannel();
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(tessel_zone_in_use(MacIOControl.zone), before + sizeof(ChannelExtension));
  const ChannelExtension zero{};
  EXPECT_EQ(std::memcmp(extension_of(channel), &zero, sizeof zero), 0);
  EXPECT_EQ(channel->names, nullptr);
  EXPECT_EQ(extension_of(channel)->reader_index, nullptr);
  release_channel_record(channel);
  EXPECT_EQ(tessel_zone_in_use(MacIOControl.zone), before);
}

TEST(FrameChannel, ExhaustedZoneReportsOutOfMemory) {
  vt::init_recording();
  tessel_zone_set_limit(MacIOControl.zone, tessel_zone_in_use(MacIOControl.zone) + 1);
  EXPECT_EQ(MacBin_NewChannel(), nullptr);
  ASSERT_EQ(vt::recorded_messages().size(), 1u);
  EXPECT_EQ(vt::recorded_messages()[0].text, "Out Of Memory (in initialisation)");
  EXPECT_EQ(vt::recorded_messages()[0].severity, MACBIN_ERROR);

  // Registration fails silently, leaving the list as it was.
  EXPECT_EQ(MacBin_AddProcessor("vers", nullptr, write_one), 1);
  EXPECT_EQ(MacIOControl.processors, nullptr);
  EXPECT_EQ(vt::recorded_messages().size(), 1u);
}

// ---- Processor registry -----------------------------------------------------------------

TEST(FrameProcessors, SecondRegistrationAddsTheOtherHandler) {
  ASSERT_EQ(MacBin_Init(), 1);
  ASSERT_EQ(MacBin_AddProcessor("vers", nullptr, write_one), 0);
  ASSERT_EQ(MacBin_AddProcessor("vers", read_one, nullptr), 0);
  ASSERT_EQ(processor_count(), 1u);
  MacBinProcessor *vers = MacBin_FindProcessor("vers");
  ASSERT_NE(vers, nullptr);
  EXPECT_STREQ(vers->type, "vers");
  EXPECT_EQ(vers->read_handler, read_one);
  EXPECT_EQ(vers->write_handler, write_one);

  // A handler can be replaced, never reset by a null.
  ASSERT_EQ(MacBin_AddProcessor("vers", read_two, nullptr), 0);
  EXPECT_EQ(vers->read_handler, read_two);
  EXPECT_EQ(vers->write_handler, write_one);

  // The type is its first four characters, NUL-padded; blank-padded is another type.
  ASSERT_EQ(MacBin_AddProcessor("PICTURE", nullptr, write_one), 0);
  ASSERT_EQ(MacBin_AddProcessor("ab", nullptr, write_two), 0);
  ASSERT_NE(MacBin_FindProcessor("PICT"), nullptr);
  EXPECT_EQ(std::memcmp(MacBin_FindProcessor("PICT")->type, "PICT", 5), 0);
  ASSERT_NE(MacBin_FindProcessor("ab"), nullptr);
  EXPECT_EQ(std::memcmp(MacBin_FindProcessor("ab")->type, "ab\0\0", 5), 0);
  EXPECT_EQ(MacBin_FindProcessor("ab  "), nullptr);
}

TEST(FrameProcessors, ExactTypeBeatsALaterWildcard) {
  ASSERT_EQ(MacBin_Init(), 1);
  ASSERT_EQ(MacBin_AddProcessor("PICT", nullptr, write_one), 0);
  ASSERT_EQ(MacBin_AddProcessor("****", nullptr, write_two), 0);
  ASSERT_EQ(processor_count(), 2u);  // the wildcard stands first in the list
  ASSERT_STREQ(MacIOControl.processors->type, "****");

  MacBinProcessor *pict = MacBin_FindProcessor("PICT");
  ASSERT_NE(pict, nullptr);
  EXPECT_EQ(pict->write_handler, write_one);
  MacBinProcessor *other = MacBin_FindProcessor("icl8");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->write_handler, write_two);

  // PICT was registered before the wildcard: it keeps its own record.
  ASSERT_EQ(MacBin_AddProcessor("PICT", read_one, nullptr), 0);
  EXPECT_EQ(pict->read_handler, read_one);
  EXPECT_EQ(MacIOControl.processors->read_handler, nullptr);
}

TEST(FrameProcessors, WildcardAloneServesAndAbsorbsNewTypes) {
  ASSERT_EQ(MacBin_Init(), 1);
  EXPECT_EQ(MacBin_FindProcessor("ICN#"), nullptr);
  ASSERT_EQ(MacBin_AddProcessor("****", read_one, write_one), 0);
  MacBinProcessor *wildcard = MacBin_FindProcessor("ICN#");
  ASSERT_NE(wildcard, nullptr);
  EXPECT_STREQ(wildcard->type, "****");

  ASSERT_EQ(MacBin_AddProcessor("ICN#", read_two, write_two), 0);
  EXPECT_EQ(processor_count(), 1u);
  EXPECT_STREQ(wildcard->type, "****");
  EXPECT_EQ(wildcard->read_handler, read_two);
  EXPECT_EQ(wildcard->write_handler, write_two);
}

TEST(FrameProcessors, TraceLinesOnlyWithTheInsertBit) {
  ASSERT_EQ(MacBin_Init(), 1);
  {
    vt::CaptureStdout quiet;
    ASSERT_EQ(MacBin_AddProcessor("FREF", nullptr, write_one), 0);
    EXPECT_EQ(quiet.text(), "");
  }
  debug_values.trace_flags = TRACE_CONDITION | TRACE_MSG;
  {
    vt::CaptureStdout other_bits;
    ASSERT_EQ(MacBin_AddProcessor("BNDL", nullptr, write_one), 0);
    EXPECT_EQ(other_bits.text(), "");
  }
  debug_values.trace_flags = TRACE_INSERT;
  vt::CaptureStdout out;
  ASSERT_EQ(MacBin_AddProcessor("vers", nullptr, write_one), 0);
  ASSERT_EQ(MacBin_AddProcessor("vers", read_one, nullptr), 0);
  ASSERT_EQ(MacBin_AddProcessor("****", read_one, nullptr), 0);
  ASSERT_EQ(MacBin_AddProcessor("ICN#", read_two, nullptr), 0);  // absorbed by the wildcard
  EXPECT_EQ(out.text(),
            "INSERT--> inserting resourcetype vers\n"
            "INSERT--> modifying resourcetype vers\n"
            "INSERT--> inserting resourcetype ****\n"
            "INSERT--> modifying resourcetype ICN#\n");
}

// ---- Argument splitter -----------------------------------------------------------------

struct Split {
  int32_t count;
  std::vector<std::string> arguments;  // argv[0 .. count-1]
  std::optional<std::string> remainder;  // argv[max]
};

// Lines of the table are written with _ for a blank, Q for a double quote and
// B for a backslash.
std::string decode(std::string_view written) {
  std::string line;
  for (char c : written) line += c == '_' ? ' ' : c == 'Q' ? '"' : c == 'B' ? '\\' : c;
  return line;
}

// Splits with a buffer of exactly the contracted size (strlen + 1) on the
// heap, so the sanitizer build catches any write past it.
Split split(const std::string &line, int32_t max) {
  std::vector<char> buffer(line.size() + 1, '#');
  static char unset = '#';  // any entry left unset points here and fails the checks
  std::vector<char *> argv(static_cast<size_t>(max) + 1, &unset);
  Split result{MacBin_GetArguments(line.c_str(), buffer.data(), argv.data(), max), {}, {}};
  const auto inside = [&buffer](const char *p) {
    return std::less_equal<const char *>()(buffer.data(), p) &&
           std::less<const char *>()(p, buffer.data() + buffer.size());
  };
  for (int32_t i = 0; i < result.count && i < max; ++i) {
    const char *argument = argv[static_cast<size_t>(i)];
    EXPECT_TRUE(inside(argument)) << "argv[" << i << "] outside the buffer";
    if (inside(argument)) result.arguments.emplace_back(argument);
  }
  if (const char *rest = argv[static_cast<size_t>(max)]; rest != nullptr) {
    EXPECT_TRUE(inside(rest)) << "argv[max] outside the buffer";
    if (inside(rest)) result.remainder = rest;
  }
  return result;
}

TEST(ArgumentSplitter, Table) {
  struct Case {
    const char *line;
    int32_t max;
    int32_t count;
    std::vector<std::string> arguments;
    std::optional<std::string> remainder;
  };
  const std::vector<Case> table = {
      {"", 3, 1, {""}, std::nullopt},
      {"__\t_\t", 3, 1, {""}, std::nullopt},
      {"a_b", 3, 2, {"a", "b"}, std::nullopt},
      {"a__b__", 3, 2, {"a", "b"}, std::nullopt},
      {"__a_b", 3, 2, {"a", "b"}, std::nullopt},
      {"a_Qb_cQ_d", 3, 3, {"a", "b_c", "d"}, std::nullopt},
      {"PICT_128_Qx_yQ_data__with_QzQ", 3, 3, {"PICT", "128", "x_y"}, "data__with_QzQ"},
      {"say_BQhiBQ", 3, 2, {"say", "QhiQ"}, std::nullopt},
      {"a_QQ_b", 3, 3, {"a", "", "b"}, std::nullopt},
      {"abQc_dQe", 3, 1, {"abc_de"}, std::nullopt},
      // Exactly max arguments: no remainder, also when separators trail.
      {"vers_1_name_\t_", 3, 3, {"vers", "1", "name"}, std::nullopt},
      // More: the remainder starts after the separator run and keeps everything.
      {"vers_1_QQ_\t_1.00_F__Q0Q_BQ_x\t", 3, 3, {"vers", "1", ""}, "1.00_F__Q0Q_BQ_x\t"},
      {"__BNDL_owner_text_", 1, 1, {"BNDL"}, "owner_text_"},
      // An unclosed quote swallows the rest of the line.
      {"a_Qb_c\td_e", 3, 2, {"a", "b_c\td_e"}, std::nullopt},
      // An escaped quote inside quotes is a character; a lone backslash too.
      {"Qx_BQ_yQ_z", 3, 2, {"x_Q_y", "z"}, std::nullopt},
      {"aBb_B", 3, 2, {"aBb", "B"}, std::nullopt},
  };
  for (const Case &c : table) {
    SCOPED_TRACE(c.line);
    const Split got = split(decode(c.line), c.max);
    EXPECT_EQ(got.count, c.count);
    std::vector<std::string> expected;
    for (const std::string &a : c.arguments) expected.push_back(decode(a));
    EXPECT_EQ(got.arguments, expected);
    EXPECT_EQ(got.remainder, c.remainder ? std::optional(decode(*c.remainder)) : std::nullopt);
  }
}

}  // namespace
