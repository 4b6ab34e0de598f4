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
#include "tessel/testing.h"
#include "varnel.h"

namespace {

using vt::Bytes;

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

// ---- Initialisation and method slots ------------------------------------------

TEST(FrameInit, FirstInitClearsSlotsAndInstallsTheDefaults) {
  // Slots filled before the first MacBin_Init are cleared by it.
  ASSERT_EQ(MacBin_Setmethod(as_method(write_one), MACBIN_METHOD_OPEN), 1);
  ASSERT_EQ(MacBin_Setmethod(as_method(vt::record_message), MACBIN_METHOD_MESSAGE), 1);
  EXPECT_EQ(MacBin_Init(), 1);
  EXPECT_NE(MacIOControl.zone, nullptr);
  EXPECT_EQ(MacIOControl.processors, nullptr);
  for (int32_t id = 1; id <= 16; ++id) {
    const bool is_default = id >= MACBIN_METHOD_MESSAGE && id <= MACBIN_METHOD_END_NOTICE;
    EXPECT_EQ(MacIOControl.methods[id - 1] != nullptr, is_default) << "method id " << id;
  }
  EXPECT_NE(MacIOControl.methods[MACBIN_METHOD_MESSAGE - 1], as_method(vt::record_message));
}

TEST(FrameInit, SecondInitKeepsTheHostsMethodsAndProcessors) {
  ASSERT_EQ(MacBin_Init(), 1);
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

TEST(FrameInit, MethodIdsOutside1To16ChangeNothingAndNullUninstalls) {
  ASSERT_EQ(MacBin_Init(), 1);
  const MacBinControl before = MacIOControl;
  for (int32_t id : {0, 17, -1}) EXPECT_EQ(MacBin_Setmethod(as_method(write_one), id), 0) << id;
  EXPECT_EQ(std::memcmp(&before, &MacIOControl, sizeof before), 0);
  EXPECT_EQ(MacBin_Setmethod(as_method(write_one), 1), 1);
  EXPECT_EQ(MacBin_Setmethod(as_method(write_two), 16), 1);
  EXPECT_EQ(MacIOControl.methods[0], as_method(write_one));
  EXPECT_EQ(MacIOControl.methods[15], as_method(write_two));
  EXPECT_EQ(MacBin_Setmethod(nullptr, 16), 1);
  EXPECT_EQ(MacIOControl.methods[15], nullptr);
}

// ---- Default methods ----------------------------------------------------------------

// Start notice, a progress notice with and without a name, a percentage, end.
void give_every_notice(const char *name) {
  EXPECT_EQ(call_start("Macintosh Resources"), 1);
  MacBinProgress unnamed{-1, "out", "vers", 1, nullptr};
  call_progress(&unnamed);
  MacBinProgress named{-1, "out", "ICN#", 128, name};
  call_progress(&named);
  MacBinProgress percentage{40, nullptr, "PICT", 128, nullptr};
  call_progress(&percentage);
  call_end();
}

TEST(FrameDefaultMethods, EachMessageAndNoticeIsOnePrintedLine) {
  ASSERT_EQ(MacBin_Init(), 1);
  vt::CaptureStdout out;
  report("Out Of Memory (in function table)", MACBIN_ERROR);
  report("one", MACBIN_INFO);
  report("two", MACBIN_WARNING);
  report("Writing output file", MACBIN_SEVERE);
  report("low", 0);  // outside 1 to 4: the number
  report("negative", -3);
  give_every_notice("x");
  // The composed notice is held to 255 characters and a NUL.
  const std::string long_name(1000, 'n');
  MacBinProgress long_notice{-1, "out", "PICT", 128, long_name.c_str()};
  call_progress(&long_notice);
  EXPECT_EQ(out.text(),
            "MacBin : ERROR : Out Of Memory (in function table)\n"
            "MacBin : INFO : one\n"
            "MacBin : WARNING : two\n"
            "MacBin : SEVERE : Writing output file\n"
            "MacBin : 0 : low\n"
            "MacBin : -3 : negative\n"
            "MacBin : INFO : Start Macintosh Resources\n"
            "MacBin : INFO : Starting Resource vers number 1\n"
            "MacBin : INFO : Starting Resource ICN# number 128 (x)\n"
            "MacBin : INFO : Percentage 40\n"
            "MacBin : INFO : End Macintosh Resources\n"
            "MacBin : INFO : " +
                ("Starting Resource PICT number 128 (" + long_name).substr(0, 255) + "\n");
}

TEST(FrameDefaultMethods, NoticesGoThroughTheMessageSlot) {
  // A host that replaces only the message method receives every notice,
  // and nothing is printed.
  ASSERT_EQ(MacBin_Init(), 1);
  vt::CaptureStdout out;
  ASSERT_EQ(MacBin_Setmethod(as_method(vt::record_message), MACBIN_METHOD_MESSAGE), 1);
  give_every_notice("icon");
  std::vector<std::string> texts;
  for (const vt::Message &m : vt::recorded_messages()) {
    EXPECT_EQ(m.severity, MACBIN_INFO);
    texts.push_back(m.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Start Macintosh Resources",
                                             "Starting Resource vers number 1",
                                             "Starting Resource ICN# number 128 (icon)",
                                             "Percentage 40", "End Macintosh Resources"}));
  EXPECT_EQ(out.text(), "");
}

TEST(FrameDefaultMethods, EmptySlotsFallBackToThePrinterOrToNothing) {
  // Without a message method the printer stands in; without a progress
  // method there is no notice (and no crash).
  ASSERT_EQ(MacBin_Init(), 1);
  vt::CaptureStdout out;
  ASSERT_EQ(MacBin_Setmethod(nullptr, MACBIN_METHOD_MESSAGE), 1);
  ASSERT_EQ(MacBin_Setmethod(nullptr, MACBIN_METHOD_PROGRESS), 1);
  report("Writing output file", MACBIN_SEVERE);
  MacBinProgress notice{-1, "out", "PICT", 128, "p"};
  call_progress(&notice);
  EXPECT_EQ(out.text(), "MacBin : SEVERE : Writing output file\n");
}

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

TEST(FrameChannel, ZeroedFromTheZoneAndGivenBack) {
  vt::init_recording();  // zone blocks come filled with a pattern
  const size_t before = vt::zone_in_use();
  MacBinChannel *channel = MacBin_NewChannel();
  ASSERT_NE(channel, nullptr);
  EXPECT_GE(vt::zone_in_use(), before + sizeof(MacBinChannel));
  const auto *record = reinterpret_cast<const uint8_t *>(channel);
  EXPECT_EQ(Bytes(record, record + sizeof(MacBinChannel)), vt::repeat(0, sizeof(MacBinChannel)));
  release_channel_record(channel);
  EXPECT_EQ(vt::zone_in_use(), before);
}

TEST(FrameChannel, FullZoneIsReportedAndRegistrationFailsSilently) {
  vt::init_recording();
  vt::limit_zone(vt::zone_in_use() + 1);
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

TEST(FrameProcessors, SecondRegistrationAddsTheOtherHandlerAndNullNeverResets) {
  ASSERT_EQ(MacBin_Init(), 1);
  EXPECT_EQ(MacBin_FindProcessor("vers"), nullptr);
  ASSERT_EQ(MacBin_AddProcessor("vers", nullptr, write_one), 0);
  ASSERT_EQ(MacBin_AddProcessor("vers", read_one, nullptr), 0);
  ASSERT_EQ(MacBin_AddProcessor("vers", read_two, nullptr), 0);
  ASSERT_EQ(processor_count(), 1u);
  MacBinProcessor *vers = MacBin_FindProcessor("vers");
  ASSERT_NE(vers, nullptr);
  EXPECT_STREQ(vers->type, "vers");
  EXPECT_EQ(vers->read_handler, read_two);
  EXPECT_EQ(vers->write_handler, write_one);
}

TEST(FrameProcessors, TypeIsItsFirstFourCharactersNulPadded) {
  ASSERT_EQ(MacBin_Init(), 1);
  ASSERT_EQ(MacBin_AddProcessor("PICTURE", nullptr, write_one), 0);
  ASSERT_EQ(MacBin_AddProcessor("ab", nullptr, write_two), 0);
  MacBinProcessor *pict = MacBin_FindProcessor("PICT");
  ASSERT_NE(pict, nullptr);
  EXPECT_EQ(std::memcmp(pict->type, "PICT", 5), 0);
  ASSERT_NE(MacBin_FindProcessor("ab"), nullptr);
  EXPECT_EQ(std::memcmp(MacBin_FindProcessor("ab")->type, "ab\0\0", 5), 0);
  EXPECT_EQ(MacBin_FindProcessor("ab  "), nullptr);  // blank-padded is another type
}

TEST(FrameProcessors, WildcardServesOtherTypesAndAbsorbsNewOnes) {
  // A later wildcard stands first in the list and serves every other type;
  // a type registered before it keeps its own record.
  ASSERT_EQ(MacBin_Init(), 1);
  ASSERT_EQ(MacBin_AddProcessor("PICT", nullptr, write_one), 0);
  ASSERT_EQ(MacBin_AddProcessor("****", nullptr, write_two), 0);
  ASSERT_EQ(processor_count(), 2u);
  MacBinProcessor *wildcard = MacIOControl.processors;
  ASSERT_STREQ(wildcard->type, "****");
  MacBinProcessor *pict = MacBin_FindProcessor("PICT");
  ASSERT_NE(pict, wildcard);
  EXPECT_EQ(MacBin_FindProcessor("icl8"), wildcard);
  ASSERT_EQ(MacBin_AddProcessor("PICT", read_one, nullptr), 0);
  EXPECT_EQ(pict->read_handler, read_one);
  EXPECT_EQ(wildcard->read_handler, nullptr);
  // A new type is absorbed: it changes the wildcard and adds no record.
  ASSERT_EQ(MacBin_AddProcessor("ICN#", read_two, write_one), 0);
  EXPECT_EQ(processor_count(), 2u);
  EXPECT_STREQ(wildcard->type, "****");
  EXPECT_EQ(wildcard->read_handler, read_two);
  EXPECT_EQ(wildcard->write_handler, write_one);
}

TEST(FrameProcessors, RegistrationTraceOnlyWithTheInsertBit) {
  ASSERT_EQ(MacBin_Init(), 1);
  debug_values.trace_flags = TRACE_CONDITION | TRACE_MSG;
  vt::CaptureStdout quiet;
  ASSERT_EQ(MacBin_AddProcessor("BNDL", read_one, nullptr), 0);
  EXPECT_EQ(quiet.text(), "");
  debug_values.trace_flags = TRACE_INSERT;
  vt::CaptureStdout out;
  ASSERT_EQ(MacBin_AddProcessor("vers", nullptr, write_one), 0);
  ASSERT_EQ(MacBin_AddProcessor("vers", read_one, nullptr), 0);
  ASSERT_EQ(MacBin_AddProcessor("PICTURE", nullptr, write_one), 0);
  ASSERT_EQ(MacBin_AddProcessor("****", nullptr, write_two), 0);
  ASSERT_EQ(MacBin_AddProcessor("PICT", read_one, nullptr), 0);
  ASSERT_EQ(MacBin_AddProcessor("ICN#", read_two, write_one), 0);  // absorbed by the wildcard
  debug_values.trace_flags = 0;
  EXPECT_EQ(out.text(),
            "INSERT--> inserting resourcetype vers\n"
            "INSERT--> modifying resourcetype vers\n"
            "INSERT--> inserting resourcetype PICTURE\n"  // the type as given
            "INSERT--> inserting resourcetype ****\n"
            "INSERT--> modifying resourcetype PICT\n"
            "INSERT--> modifying resourcetype ICN#\n");
}

// ---- Argument splitter -----------------------------------------------------------------

// Lines of the table are written with _ for a blank, Q for a double quote and
// B for a backslash; the arguments are joined with |.
std::string decode(std::string_view written) {
  std::string line;
  for (char c : written) line += c == '_' ? ' ' : c == 'Q' ? '"' : c == 'B' ? '\\' : c;
  return line;
}

TEST(ArgumentSplitter, Table) {
  struct Case {
    const char *line;
    int32_t max;
    const char *arguments;  // argv[0 .. result - 1], joined
    const char *remainder;  // argv[max], or null
  };
  const Case table[] = {
      {"", 3, "", nullptr},  // one empty argument
      {"__\t_\t", 3, "", nullptr},
      {"a_b", 3, "a|b", nullptr},
      {"a__b__", 3, "a|b", nullptr},
      {"__a_b", 3, "a|b", nullptr},
      {"a_Qb_cQ_d", 3, "a|b_c|d", nullptr},
      {"PICT_128_Qx_yQ_data__with_QzQ", 3, "PICT|128|x_y", "data__with_QzQ"},
      {"say_BQhiBQ", 3, "say|QhiQ", nullptr},
      {"a_QQ_b", 3, "a||b", nullptr},
      {"abQc_dQe", 3, "abc_de", nullptr},
      // Exactly max arguments: no remainder, also when separators trail.
      {"vers_1_name_\t_", 3, "vers|1|name", nullptr},
      // More: the remainder starts after the separator run and keeps everything.
      {"vers_1_QQ_\t_1.00_F__Q0Q_BQ_x\t", 3, "vers|1|", "1.00_F__Q0Q_BQ_x\t"},
      {"__BNDL_owner_text_", 1, "BNDL", "owner_text_"},
      // An unclosed quote swallows the rest of the line.
      {"a_Qb_c\td_e", 3, "a|b_c\td_e", nullptr},
      // An escaped quote inside quotes is a character; a lone backslash too.
      {"Qx_BQ_yQ_z", 3, "x_Q_y|z", nullptr},
      {"aBb_B", 3, "aBb|B", nullptr},
  };
  for (const Case &c : table) {
    SCOPED_TRACE(c.line);
    // A buffer of exactly the contracted size (strlen + 1) on the heap, so
    // the sanitizer build catches any write past it; entries left unset
    // point at `unset`, outside it, and fail the checks.
    const std::string line = decode(c.line);
    std::vector<char> buffer(line.size() + 1, '#');
    char unset = '#';
    std::vector<char *> argv(static_cast<size_t>(c.max) + 1, &unset);
    const int32_t count = MacBin_GetArguments(line.c_str(), buffer.data(), argv.data(), c.max);
    ASSERT_TRUE(count >= 1 && count <= c.max) << count;
    const auto text_at = [&buffer](const char *p) -> std::string {
      const bool inside = std::less_equal<const char *>()(buffer.data(), p) &&
                          std::less<const char *>()(p, buffer.data() + buffer.size());
      return inside ? p : "<outside the buffer>";
    };
    std::string arguments = text_at(argv[0]);
    for (size_t i = 1; i < static_cast<size_t>(count); ++i) arguments += "|" + text_at(argv[i]);
    EXPECT_EQ(arguments, decode(c.arguments));
    const char *rest = argv[static_cast<size_t>(c.max)];
    EXPECT_EQ(rest == nullptr ? "<none>" : text_at(rest),
              c.remainder == nullptr ? "<none>" : decode(c.remainder));
  }
}

}  // namespace
