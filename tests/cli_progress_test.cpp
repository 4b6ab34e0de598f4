// The progress line of long work: pack, convert, extract and render run
// with standard error on a pseudo-terminal (where the line shows by
// itself for 64 MiB of work), on a pipe (where it shows only with
// --progress), and with -q; a write that fails half-way clears the line
// before the error.  The inputs are 65 MiB, made sparse so that they cost
// nothing to write.  Then the line's text itself, for figures given by
// hand: rate and time left only once they mean something.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "common/progress_line.hpp"
#include "support/support.hpp"

namespace {

namespace fs = std::filesystem;
using varnel_tool::byte_size_text;
using varnel_tool::kUnknownTotal;
using varnel_tool::progress_text;
using varnel_tool::ProgressFigures;
using varnel_tool::ProgressUnit;

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kBigBytes = 65 * kMiB;

enum class ErrorTo { kTerminal, kPipe };

struct ToolRun {
  int status = -1;
  std::string err;  // standard error as it arrived, "\r" and all
};

std::ostream &operator<<(std::ostream &stream, const ToolRun &run) {
  return stream << "status " << run.status << ", stderr:\n" << run.err;
}

// In the child: standard input and output to /dev/null (standard error
// alone carries the line), the file-size limit, then the tool.
[[noreturn]] void exec_tool(const fs::path &directory, const std::vector<std::string> &arguments,
                            rlim_t file_size_limit) {
  const int null = open("/dev/null", O_RDWR);
  if (null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(null, STDOUT_FILENO) < 0 || chdir(directory.c_str()) != 0)
    _exit(126);
  const rlimit limit{file_size_limit, file_size_limit};
  if (file_size_limit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  const std::string tool = vt::binary_dir() + "/tools/varnel";
  std::vector<char *> argv{const_cast<char *>(tool.c_str())};
  for (const std::string &argument : arguments) argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  execv(tool.c_str(), argv.data());
  _exit(127);
}

// Everything `fd` gives until its writer is gone (a pseudo-terminal's
// master then fails with EIO).
std::string read_to_end(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
      text.append(buffer, static_cast<size_t>(count));
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else {
      return text;
    }
  }
}

// Runs `varnel ARGUMENTS` in `directory` with standard error on a
// pseudo-terminal in raw mode (no "\r" added to line ends) or on a pipe.
ToolRun run_tool(const fs::path &directory, const std::vector<std::string> &arguments, ErrorTo to,
             rlim_t file_size_limit = RLIM_INFINITY) {
  int reader = -1;
  pid_t child = -1;
  if (to == ErrorTo::kTerminal) {
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B38400);
    child = forkpty(&reader, nullptr, &raw, nullptr);
  } else {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return {};
    child = fork();
    if (child == 0) {
      if (dup2(ends[1], STDERR_FILENO) < 0) _exit(126);
      exec_tool(directory, arguments, file_size_limit);
    }
    close(ends[1]);
    reader = ends[0];
  }
  if (child == 0) exec_tool(directory, arguments, file_size_limit);
  ToolRun run;
  if (child < 0) return run;
  run.err = read_to_end(reader);
  close(reader);
  int raw_status = 0;
  waitpid(child, &raw_status, 0);
  run.status = WIFEXITED(raw_status) ? WEXITSTATUS(raw_status) : 128 + WTERMSIG(raw_status);
  return run;
}

// The states a line showed: the texts after each "\r" up to the next "\r"
// or "\n", trailing blanks (which cover a longer state before) removed.
std::vector<std::string> line_states(const std::string &err) {
  std::vector<std::string> states;
  for (size_t at = err.find('\r'); at != std::string::npos; at = err.find('\r', at + 1)) {
    const size_t end = err.find_first_of("\r\n", at + 1);
    std::string state = err.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
    state.erase(state.find_last_not_of(' ') + 1);
    if (!state.empty()) states.push_back(state);
  }
  return states;
}

// Whether `err` ends in one line, the notice that starts with `notice`.
bool ends_in_notice(const std::string &err, size_t from, const std::string &notice) {
  const std::string tail = err.substr(from);
  return tail.starts_with("varnel: " + notice) && tail.find('\n') == tail.size() - 1;
}

// The line of `label` over 65 MiB: first drawn at the start, at 0 of the
// total; every state done / total, percent, then rate and time left or
// the time taken; the last one complete and ended with a newline, before
// the notice that follows.
void expect_whole_line(const ToolRun &run, const std::string &label, const std::string &notice) {
  ASSERT_EQ(run.status, 0) << run;
  const std::vector<std::string> states = line_states(run.err);
  ASSERT_GE(states.size(), 2u) << run;
  EXPECT_EQ(states.front(), label + "  0 B / 65.0 MiB  0%") << run;
  const std::regex state(label + R"(  [0-9.]+ (B|KiB|MiB) / 65\.0 MiB  [0-9]{1,3}%)"
                                 R"((  [0-9.]+ (B|KiB|MiB|GiB)/s)?(  [0-9]+ (s|min [0-9]+ s|h [0-9]+ min) left|  done( in [0-9.]+ s)?)?)");
  for (const std::string &text : states) EXPECT_TRUE(std::regex_match(text, state)) << text << "\n" << run;
  const std::regex last(label + R"(  65\.0 MiB / 65\.0 MiB  100%(  [0-9.]+ (B|KiB|MiB|GiB)/s)?  done( in [0-9.]+ s)?)");
  EXPECT_TRUE(std::regex_match(states.back(), last)) << states.back() << "\n" << run;
  // The final state ends its line; the notice starts the next one.
  const size_t final_state = run.err.rfind("\r" + states.back());
  ASSERT_NE(final_state, std::string::npos) << run;
  EXPECT_TRUE(ends_in_notice(run.err, run.err.find('\n', final_state) + 1, notice)) << run;
}

// One directory for the whole suite: the 65 MiB data fork, and a
// MacBinary file that holds it, made once.
class CliProgress : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = new vt::TempDir();
    const std::string big = directory_->file("big.data");
    vt::write_file(big, {});
    ASSERT_EQ(truncate(big.c_str(), kBigBytes), 0) << std::strerror(errno);
    const ToolRun packed = run_tool(dir(), {"pack", "-q", "--creator", "VARN", "--type", "TEXT", "--data", "big.data",
                                        "-o", "big.bin"}, ErrorTo::kPipe);
    ASSERT_EQ(packed.status, 0) << packed;
    // A white version 1 picture 4096 pixels wide and 4160 high: 65 MiB of
    // RGBA rows for the PNG writer.
    vt::write_file(directory_->file("big.pict"),
                   vt::concat({vt::repeat(0, 512),
                               vt::hex("000A | size\n"
                                       "0000 0000 1040 1000 | frame: 4160 x 4096\n"
                                       "11 01 | version 1\n"
                                       "FF | end of picture")}));
  }
  static void TearDownTestSuite() {
    delete directory_;
    directory_ = nullptr;
  }
  static fs::path dir() { return directory_->path(); }

 private:
  static vt::TempDir *directory_;
};
vt::TempDir *CliProgress::directory_ = nullptr;

struct Command {
  std::vector<std::string> arguments;
  std::string label;
  std::string notice;  // how the last line, after the progress line, starts
};

std::vector<Command> big_commands() {
  return {
      {{"pack", "--creator", "VARN", "--type", "TEXT", "--data", "big.data", "-o", "out.bin"},
       "pack",
       "wrote out.bin ("},
      {{"convert", "big.bin", "out.as", "--to", "applesingle"}, "convert", "wrote out.as (AppleSingle, "},
      {{"extract", "big.bin", "--data", "out.data"}, "extract", ""},
      {{"render", "--picture", "big.pict", "out.png"}, "render", "wrote out.png"},
  };
}

// On a terminal, 65 MiB of work shows its line without being asked.
TEST_F(CliProgress, LongWorkShowsOnATerminal) {
  for (const Command &command : big_commands()) {
    SCOPED_TRACE(command.label);
    const ToolRun run = run_tool(dir(), command.arguments, ErrorTo::kTerminal);
    if (command.notice.empty()) {
      // extract says nothing when it succeeds: the line ends the output.
      ASSERT_EQ(run.status, 0) << run;
      ASSERT_FALSE(run.err.empty());
      EXPECT_EQ(run.err.back(), '\n') << run;
      EXPECT_EQ(run.err.find("varnel"), std::string::npos) << run;
      const std::vector<std::string> states = line_states(run.err);
      ASSERT_FALSE(states.empty());
      EXPECT_EQ(states.front(), "extract  0 B / 65.0 MiB  0%");
      EXPECT_TRUE(states.back().starts_with("extract  65.0 MiB / 65.0 MiB  100%")) << run;
    } else {
      expect_whole_line(run, command.label, command.notice);
    }
  }
  EXPECT_EQ(fs::file_size(dir() / "out.data"), static_cast<uintmax_t>(kBigBytes));
}

// Into a pipe nothing of it, unless --progress asks; -q keeps it off a
// terminal.
TEST_F(CliProgress, PipesAndQuietShowNoneUnlessAsked) {
  for (const Command &command : big_commands()) {
    SCOPED_TRACE(command.label);
    const ToolRun piped = run_tool(dir(), command.arguments, ErrorTo::kPipe);
    EXPECT_EQ(piped.status, 0) << piped;
    EXPECT_EQ(piped.err.find('\r'), std::string::npos) << piped;
    EXPECT_EQ(piped.err.find("MiB"), std::string::npos) << piped;
    if (command.notice.empty())
      EXPECT_EQ(piped.err, "");
    else
      EXPECT_TRUE(ends_in_notice(piped.err, 0, command.notice)) << piped;

    std::vector<std::string> quiet = command.arguments;
    quiet.insert(quiet.begin() + 1, "-q");
    const ToolRun silenced = run_tool(dir(), quiet, ErrorTo::kTerminal);
    EXPECT_EQ(silenced.status, 0) << silenced;
    EXPECT_EQ(silenced.err, "") << silenced;

    std::vector<std::string> asked = command.arguments;
    asked.push_back("--progress");
    const ToolRun logged = run_tool(dir(), asked, ErrorTo::kPipe);
    if (command.notice.empty()) {
      EXPECT_EQ(line_states(logged.err).front(), "extract  0 B / 65.0 MiB  0%") << logged;
      EXPECT_NE(logged.err.find("extract  65.0 MiB / 65.0 MiB  100%"), std::string::npos) << logged;
    } else {
      expect_whole_line(logged, command.label, command.notice);
    }
  }
}

// Short work ends before a line is due: none on a terminal; --progress
// still shows its final state (with no rate or time measured from nothing).
TEST_F(CliProgress, ShortWorkShowsOnlyWhenAsked) {
  vt::write_file((dir() / "small.data").string(), vt::repeat('x', 1000));
  const std::vector<std::string> pack = {"pack", "--creator", "VARN", "--type", "TEXT", "--data",
                                         "small.data", "-o", "small.bin"};
  const ToolRun run = run_tool(dir(), pack, ErrorTo::kTerminal);
  EXPECT_EQ(run.status, 0) << run;
  EXPECT_TRUE(ends_in_notice(run.err, 0, "wrote small.bin (")) << run;

  std::vector<std::string> asked = pack;
  asked.push_back("--progress");
  const ToolRun logged = run_tool(dir(), asked, ErrorTo::kTerminal);
  const std::vector<std::string> states = line_states(logged.err);
  ASSERT_EQ(states.size(), 2u) << logged;
  EXPECT_EQ(states[0], "pack  0 B / 1000 B  0%");
  EXPECT_TRUE(states[1].starts_with("pack  1000 B / 1000 B  100%")) << logged;
  EXPECT_NE(states[1].find("  done"), std::string::npos) << logged;
}

// A write that fails half-way (the file-size limit stops the output at 8
// MiB): the line is cleared before the error, which starts its own line,
// and no final state claims the work done.
TEST_F(CliProgress, AnErrorClearsTheLineFirst) {
  const ToolRun run = run_tool(dir(), {"convert", "big.bin", "cut.bin", "--to", "ii"}, ErrorTo::kTerminal, 8 * kMiB);
  EXPECT_EQ(run.status, 1) << run;
  const size_t error = run.err.find("varnel: error: cut.bin: write error: File too large\n");
  ASSERT_NE(error, std::string::npos) << run;
  // "\r", blanks over the whole line, "\r": nothing of it stays beside
  // the message.
  const size_t cleared = run.err.rfind('\r', error - 2);
  ASSERT_NE(cleared, std::string::npos) << run;
  EXPECT_EQ(error - 1, run.err.find('\r', cleared + 1)) << run;
  EXPECT_EQ(run.err.substr(cleared + 1, error - cleared - 2).find_first_not_of(' '), std::string::npos) << run;
  EXPECT_GE(error - cleared - 2, std::string("convert  0 B / 65.0 MiB  0%").size()) << run;
  EXPECT_EQ(run.err.find("100%"), std::string::npos) << run;
  EXPECT_EQ(run.err.back(), '\n') << run;
  EXPECT_FALSE(fs::exists(dir() / "cut.bin"));
}

// ---- The line's text ----------------------------------------------------

std::string text(const char *label, int64_t done, int64_t total, double seconds, bool finished = false,
                 ProgressUnit unit = ProgressUnit::kBytes) {
  return progress_text(label, ProgressFigures{done, total, seconds, finished, unit});
}

TEST(ProgressText, SizesInBinaryUnits) {
  EXPECT_EQ(byte_size_text(0), "0 B");
  EXPECT_EQ(byte_size_text(1023), "1023 B");
  EXPECT_EQ(byte_size_text(1024), "1.0 KiB");
  EXPECT_EQ(byte_size_text(1536), "1.5 KiB");
  EXPECT_EQ(byte_size_text(65 * kMiB), "65.0 MiB");
  EXPECT_EQ(byte_size_text(int64_t{3} * 1024 * kMiB / 2), "1.5 GiB");
  EXPECT_EQ(byte_size_text(int64_t{2} * 1024 * 1024 * kMiB), "2.0 TiB");
}

TEST(ProgressText, RateAndTimeLeftOnceMeasurable) {
  // 412 MiB of 1 GiB in 1.873 s: 220 MiB/s, 2.8 s to go.
  EXPECT_EQ(text("convert", 412 * kMiB, 1024 * kMiB, 1.873), "convert  412.0 MiB / 1.0 GiB  40%  220 MiB/s  3 s left");
  EXPECT_EQ(text("convert", 5 * kMiB, 100 * kMiB, 1.0), "convert  5.0 MiB / 100.0 MiB  5%  5.0 MiB/s  19 s left");
  EXPECT_EQ(text("x", kMiB, 200 * kMiB, 1.0), "x  1.0 MiB / 200.0 MiB  0%  1.0 MiB/s  3 min 19 s left");
  EXPECT_EQ(text("x", kMiB, 20000 * kMiB, 1.0), "x  1.0 MiB / 19.5 GiB  0%  1.0 MiB/s  5 h 33 min left");
  EXPECT_EQ(text("x", 1, 1024 * 1024 * kMiB, 1.0), "x  1 B / 1.0 TiB  0%  1 B/s  over 99 h left");
  // Not yet half a second, or nothing done: nothing to divide by.
  EXPECT_EQ(text("x", 10 * kMiB, 65 * kMiB, 0.49), "x  10.0 MiB / 65.0 MiB  15%");
  EXPECT_EQ(text("x", 0, 65 * kMiB, 0.0), "x  0 B / 65.0 MiB  0%");
  EXPECT_EQ(text("x", 0, 65 * kMiB, 30.0), "x  0 B / 65.0 MiB  0%");
}

TEST(ProgressText, FinishedGivesTheTimeTaken) {
  EXPECT_EQ(text("pack", 65 * kMiB, 65 * kMiB, 0.3, true), "pack  65.0 MiB / 65.0 MiB  100%  217 MiB/s  done in 0.3 s");
  EXPECT_EQ(text("pack", 65 * kMiB, 65 * kMiB, 75.0, true),
            "pack  65.0 MiB / 65.0 MiB  100%  887 KiB/s  done in 1 min 15 s");
  // Instant work: no rate from a zero or tiny time.
  EXPECT_EQ(text("pack", 10, 10, 0.0, true), "pack  10 B / 10 B  100%  done");
  EXPECT_EQ(text("pack", 10, 10, 0.09, true), "pack  10 B / 10 B  100%  done");
  EXPECT_EQ(text("pack", 0, 0, 0.0, true), "pack  0 B / 0 B  100%  done");
}

TEST(ProgressText, OddTotals) {
  // Unknown (a pipe): no percent, no time left.
  EXPECT_EQ(text("pack", 12 * kMiB, kUnknownTotal, 0.5), "pack  12.0 MiB  24 MiB/s");
  EXPECT_EQ(text("pack", 12 * kMiB, kUnknownTotal, 2.0, true), "pack  12.0 MiB  6.0 MiB/s  done in 2.0 s");
  // More than the header said: 100% at most, and no time left.
  EXPECT_EQ(text("x", 70 * kMiB, 65 * kMiB, 1.0), "x  70.0 MiB / 65.0 MiB  100%  70 MiB/s");
  // Nothing to do is all done.
  EXPECT_EQ(text("x", 0, 0, 0.0), "x  0 B / 0 B  100%");
  // Percents from the library's picture writer: no sizes, no rate.
  EXPECT_EQ(text("PICT 128", 38, 100, 1.0, false, ProgressUnit::kPercent), "PICT 128  38%  2 s left");
  EXPECT_EQ(text("PICT 128", 100, 100, 1.6, true, ProgressUnit::kPercent), "PICT 128  100%  done in 1.6 s");
  // A label is cut to keep the line within 80 columns.
  EXPECT_EQ(text("render 0123456789012345678901234567890123456789", 0, 0, 0.0),
            "render 01234567890123456789012  0 B / 0 B  100%");
}

}  // namespace
