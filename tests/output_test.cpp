// Outputs that appear only when complete (MacBin_OpenOutput and the
// writer's use of it): what an older file keeps, where the bytes of
// devices, FIFOs and descriptors go, the refusals and their reasons, write
// errors, long names, and the temporaries a signal handler removes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/support.hpp"
#include "varnel.h"

namespace {

namespace fs = std::filesystem;
using vt::Bytes;

std::vector<std::string> entries_in(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string last_reason() {
  const char *why = nullptr;
  MacBin_LastError(&why);
  return why != nullptr ? why : "";
}

// Opens, writes `text` and commits; the last error's text when any step failed, else "".
std::string write_whole(const std::string &path, std::string_view text) {
  MacBinOutput *out = MacBin_OpenOutput(path.c_str(), MACBIN_OUTPUT_BYTES);
  if (out == nullptr) return "open: " + last_reason();
  if (MacBin_WriteOutput(out, text.data(), static_cast<int32_t>(text.size())) != 0) {
    const std::string why = last_reason();
    // The commit after it fails with the same reason, leaving nothing.
    if (MacBin_CommitOutput(out) != 1 || last_reason() != why) return "commit after the write: " + last_reason();
    return "write: " + why;
  }
  return MacBin_CommitOutput(out) == 0 ? "" : "commit: " + last_reason();
}

std::string refusal(const std::string &path, int32_t kind) {
  MacBin_ClearError();
  MacBinOutput *out = MacBin_OpenOutput(path.c_str(), kind);
  if (out != nullptr) {
    MacBin_DiscardOutput(out);
    return "opened";
  }
  return last_reason();
}

// ---- Replaced files --------------------------------------------------------------

TEST(Output, OlderFileStaysUntilTheCommitAndKeepsItsMode) {
  vt::TempDir dir;
  const std::string path = dir.file("out.txt");
  vt::write_text(path, "older");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  MacBinOutput *out = MacBin_OpenOutput(path.c_str(), MACBIN_OUTPUT_BYTES);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(MacBin_OutputWrittenInto(out), 0);
  EXPECT_EQ(MacBin_OutputPath(out), nullptr);  // bytes are handed over, not made by name
  ASSERT_EQ(MacBin_WriteOutput(out, "newer", 5), 0);
  EXPECT_EQ(vt::read_file(path), vt::bytes_of("older"));
  EXPECT_EQ(entries_in(dir.path()).size(), 2u);  // the file and the hidden temporary beside it
  ASSERT_EQ(MacBin_CommitOutput(out), 0);
  EXPECT_EQ(vt::read_file(path), vt::bytes_of("newer"));
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
  EXPECT_EQ(entries_in(dir.path()), std::vector<std::string>{"out.txt"});
}

TEST(Output, DiscardLeavesTheOlderFileAsItWas) {
  vt::TempDir dir;
  const std::string path = dir.file("keep");
  vt::write_text(path, "older");
  for (const int32_t kind : std::initializer_list<int32_t>{MACBIN_OUTPUT_BYTES, MACBIN_OUTPUT_FILE,
                                                           MACBIN_FORMAT_APPLEDOUBLE, MACBIN_FORMAT_BINHEX}) {
    MacBinOutput *out = MacBin_OpenOutput(path.c_str(), kind);
    ASSERT_NE(out, nullptr) << kind;
    if (kind != MACBIN_OUTPUT_BYTES) vt::write_text(MacBin_OutputPath(out), "half");
    MacBin_DiscardOutput(out);
    EXPECT_EQ(vt::read_file(path), vt::bytes_of("older")) << kind;
    EXPECT_EQ(entries_in(dir.path()), std::vector<std::string>{"keep"}) << kind;
  }
}

TEST(Output, SymbolicLinkLeadsToTheFileReplaced) {
  vt::TempDir dir;
  fs::create_directory(dir.file("real"));
  vt::write_text(dir.file("real/target"), "older");
  fs::create_symlink("real/target", dir.file("link"));
  fs::create_symlink("real/new", dir.file("dangling"));
  EXPECT_EQ(write_whole(dir.file("link"), "via link"), "");
  EXPECT_TRUE(fs::is_symlink(dir.file("link")));
  EXPECT_EQ(vt::read_file(dir.file("real/target")), vt::bytes_of("via link"));
  EXPECT_EQ(write_whole(dir.file("dangling"), "made"), "");
  EXPECT_TRUE(fs::is_symlink(dir.file("dangling")));
  EXPECT_EQ(vt::read_file(dir.file("real/new")), vt::bytes_of("made"));
}

TEST(Output, RefusalsNameTheReason) {
  vt::TempDir dir;
  fs::create_directory(dir.file("folder"));
  fs::create_symlink("loop", dir.file("loop"));
  const std::string socket_path = dir.file("sock");
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  EXPECT_EQ(refusal(dir.file("folder"), MACBIN_OUTPUT_BYTES), "Is a directory");
  EXPECT_EQ(refusal(socket_path, MACBIN_FORMAT_II), "it is a socket, which cannot be written as a file");
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_IO);
  EXPECT_EQ(refusal(dir.file("loop"), MACBIN_OUTPUT_BYTES), "Too many levels of symbolic links");
  EXPECT_EQ(refusal(dir.file("missing/out"), MACBIN_FORMAT_BINHEX), "No such file or directory");
  EXPECT_EQ(refusal(dir.file("x"), MACBIN_FORMAT_III), "output kind 3 is none the library writes");
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_ARGUMENT);
  EXPECT_EQ(MacBin_OpenOutput(nullptr, MACBIN_OUTPUT_BYTES), nullptr);
  close(listener);
  EXPECT_TRUE(fs::is_socket(socket_path));  // refused, and left alone
  if (geteuid() != 0) {
    fs::create_directory(dir.file("locked"));
    vt::write_text(dir.file("locked/out"), "older");
    fs::permissions(dir.file("locked"), fs::perms(0555));
    EXPECT_EQ(refusal(dir.file("locked/out"), MACBIN_OUTPUT_BYTES), "Permission denied");
    fs::permissions(dir.file("locked"), fs::perms(0755));
    EXPECT_EQ(vt::read_file(dir.file("locked/out")), vt::bytes_of("older"));
  }
}

// ---- Written into ------------------------------------------------------------------

TEST(Output, DevicesAreWrittenIntoAndStayDevices) {
  MacBinOutput *out = MacBin_OpenOutput("/dev/null", MACBIN_OUTPUT_FILE);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(MacBin_OutputWrittenInto(out), 1);
  // A file made by name goes to $TMPDIR first; /dev takes no new files.
  const std::string temporary = MacBin_OutputPath(out);
  EXPECT_EQ(temporary.find("/dev/"), std::string::npos);
  vt::write_text(temporary, "bytes");
  ASSERT_EQ(MacBin_CommitOutput(out), 0);
  EXPECT_FALSE(vt::file_exists(temporary));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_EQ(write_whole("/dev/null", "x"), "");
  // A full disk is a failed write, said with the system's reason.
  EXPECT_EQ(write_whole("/dev/full", std::string(100000, 'x')), "write: write error: No space left on device");
  out = MacBin_OpenOutput("/dev/full", MACBIN_OUTPUT_FILE);
  ASSERT_NE(out, nullptr);
  vt::write_text(MacBin_OutputPath(out), "x");
  EXPECT_EQ(MacBin_CommitOutput(out), 1);
  EXPECT_EQ(last_reason(), "write error: No space left on device");
}

TEST(Output, FifoGetsTheWholeFile) {
  vt::TempDir dir;
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] {
    const int fd = open(fifo.c_str(), O_RDONLY);
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) received.append(buffer, static_cast<size_t>(n));
    close(fd);
  });
  const std::string text(200000, 'f');
  EXPECT_EQ(write_whole(fifo, text), "");
  reader.join();
  EXPECT_EQ(received, text);
  EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
}

TEST(Output, StandardOutputIsTheDescriptorTheHostNamed) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  ASSERT_EQ(MacBin_SetStandardOutput(pipe_ends[1]), 0);
  EXPECT_EQ(MacBin_SetStandardOutput(-1), 1);
  EXPECT_EQ(write_whole("/dev/stdout", "one "), "");
  EXPECT_EQ(write_whole("/proc/self/fd/1", "two "), "");
  MacBinOutput *out = MacBin_OpenOutput("/dev/fd/1", MACBIN_OUTPUT_FILE);
  ASSERT_NE(out, nullptr);
  vt::write_text(MacBin_OutputPath(out), "three");
  EXPECT_EQ(MacBin_CommitOutput(out), 0);
  EXPECT_EQ(refusal("/dev/stdout", MACBIN_FORMAT_APPLEDOUBLE),
            "AppleDouble is two files, and its header file \"._stdout\" cannot go beside standard output; "
            "MacBinary or AppleSingle keep both forks in one file");
  close(pipe_ends[1]);
  char buffer[64] = {};
  EXPECT_EQ(read(pipe_ends[0], buffer, sizeof buffer - 1), 13);
  EXPECT_STREQ(buffer, "one two three");
  close(pipe_ends[0]);
  MacBin_Reset();  // descriptor 1 again
}

// ---- Write errors and limits ---------------------------------------------------------

TEST(Output, FileSizeLimitIsAWriteErrorAndLeavesTheOlderFile) {
  vt::TempDir dir;
  const std::string path = dir.file("big");
  vt::write_text(path, "older");
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &previous);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 10000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string result = write_whole(path, std::string(100000, 'b'));
  setrlimit(RLIMIT_FSIZE, &saved);
  sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_TRUE(result == "write: write error: File too large" || result == "commit: write error: File too large")
      << result;
  EXPECT_EQ(vt::read_file(path), vt::bytes_of("older"));
  EXPECT_EQ(entries_in(dir.path()), std::vector<std::string>{"big"});
}

TEST(Output, LongestNamesFitAndAppleDoubleSaysWhenItsHeaderCannot) {
  vt::init_recording();
  vt::TempDir dir;
  const long name_max = pathconf(dir.path().c_str(), _PC_NAME_MAX);
  ASSERT_GT(name_max, 16);
  const std::string longest(static_cast<size_t>(name_max), 'n');
  EXPECT_EQ(write_whole(dir.file(longest), "long"), "");
  EXPECT_EQ(vt::read_file(dir.file(longest)), vt::bytes_of("long"));
  const std::string name(static_cast<size_t>(name_max) - 1, 'd');
  EXPECT_EQ(refusal(dir.file(name), MACBIN_FORMAT_APPLEDOUBLE),
            "its AppleDouble header file \"._" + name + "\" would need a name of " + std::to_string(name_max + 1) +
                " bytes, and the file system allows " + std::to_string(name_max));
  // Two bytes shorter, both names fit: written through the writer.
  const std::string fits(static_cast<size_t>(name_max) - 2, 'e');
  ASSERT_EQ(MacBin_SetFormat(MACBIN_FORMAT_APPLEDOUBLE), 1);
  char mac_name[] = "Long";
  MacBinChannel *ch = MacBin_OpenW(dir.file(fits).c_str(), mac_name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  MacBin_PutBuf("data", 4, 4);
  MacBin_Close(ch);
  EXPECT_EQ(vt::read_file(dir.file(fits)), vt::bytes_of("data"));
  EXPECT_TRUE(vt::file_exists(dir.file("._" + fits)));
}

// ---- The writer's containers --------------------------------------------------------

MacBinChannel *open_writer(int32_t format, const std::string &path) {
  EXPECT_EQ(MacBin_SetFormat(format), 1);
  static char name[] = "Sample";
  return MacBin_OpenW(path.c_str(), name, "VARN", "TEXT");
}

// Until the close the named files are the older ones; a failed write keeps
// them as they were, AppleDouble's two alike.
TEST(OutputWriter, FailedWriteKeepsTheOlderFiles) {
  for (const int32_t format :
       {MACBIN_FORMAT_II, MACBIN_FORMAT_APPLESINGLE, MACBIN_FORMAT_APPLEDOUBLE, MACBIN_FORMAT_BINHEX}) {
    vt::init_recording();
    vt::TempDir dir;
    vt::write_text(dir.file("f"), "older data");
    vt::write_text(dir.file("._f"), "older header");
    MacBinChannel *ch = open_writer(format, dir.file("f"));
    ASSERT_NE(ch, nullptr);
    const Bytes data(200000, 0x33);
    vt::fail_writes_after(1000, ENOSPC);
    MacBin_PutBuf(data.data(), static_cast<int32_t>(data.size()), static_cast<int32_t>(data.size()));
    EXPECT_EQ(vt::read_file(dir.file("f")), vt::bytes_of("older data"));
    MacBin_Close(ch);
    vt::clear_faults();
    EXPECT_EQ(vt::count_messages("Removing output file(s)"), 1u) << format;
    EXPECT_EQ(vt::read_file(dir.file("f")), vt::bytes_of("older data")) << format;
    EXPECT_EQ(vt::read_file(dir.file("._f")), vt::bytes_of("older header")) << format;
    EXPECT_EQ(entries_in(dir.path()), (std::vector<std::string>{"._f", "f"})) << format;
    MacBin_Reset();  // the failure stops all later output of the process
  }
}

TEST(OutputWriter, AppleDoubleAppearsBothFilesAtTheClose) {
  vt::init_recording();
  vt::TempDir dir;
  vt::write_text(dir.file("d"), "older");
  MacBinChannel *ch = open_writer(MACBIN_FORMAT_APPLEDOUBLE, dir.file("d"));
  ASSERT_NE(ch, nullptr);
  MacBin_PutBuf("new data", 8, 8);
  MacBin_CompleteDataFork(ch);
  EXPECT_EQ(vt::read_file(dir.file("d")), vt::bytes_of("older"));
  EXPECT_FALSE(vt::file_exists(dir.file("._d")));
  MacBin_Close(ch);
  EXPECT_EQ(vt::read_file(dir.file("d")), vt::bytes_of("new data"));
  // AppleDouble's magic number and version 2 open the header file.
  EXPECT_EQ(vt::slice(vt::read_file(dir.file("._d")), 0, 8), vt::hex("00 05 16 07 00 02 00 00"));
  EXPECT_EQ(entries_in(dir.path()), (std::vector<std::string>{"._d", "d"}));
}

// The host's output: the close leaves the files for the host to commit,
// or to discard when it counts the run as failed.
TEST(OutputWriter, HostOutputIsCommittedOrDiscardedByTheHost) {
  vt::init_recording();
  vt::TempDir dir;
  vt::write_text(dir.file("h.hqx"), "older");
  char name[] = "Sample";
  for (const bool keep : {false, true}) {
    MacBinOutput *out = MacBin_OpenOutput(dir.file("h.hqx").c_str(), MACBIN_FORMAT_BINHEX);
    ASSERT_NE(out, nullptr);
    MacBinChannel *ch = MacBin_OpenWOutput(out, name, "VARN", "TEXT");
    ASSERT_NE(ch, nullptr);
    MacBin_PutBuf("hello", 5, 5);
    MacBin_Close(ch);
    EXPECT_EQ(vt::read_file(dir.file("h.hqx")), vt::bytes_of("older"));
    if (keep) {
      ASSERT_EQ(MacBin_CommitOutput(out), 0);
    } else {
      MacBin_DiscardOutput(out);
    }
    EXPECT_EQ(entries_in(dir.path()), std::vector<std::string>{"h.hqx"});
  }
  const Bytes text = vt::read_file(dir.file("h.hqx"));
  EXPECT_EQ(vt::slice(text, 0, 45), vt::bytes_of("(This file must be converted with BinHex 4.0)"));
  MacBinOutput *bytes = MacBin_OpenOutput(dir.file("b").c_str(), MACBIN_OUTPUT_BYTES);
  EXPECT_EQ(MacBin_OpenWOutput(bytes, name, "VARN", "TEXT"), nullptr);
  EXPECT_EQ(vt::count_messages("No output opened for a format to write into"), 1u);
  MacBin_DiscardOutput(bytes);
}

// The data file cannot follow its header (a folder took its name meanwhile):
// the new header goes again and the older one comes back.
TEST(OutputWriter, AppleDoubleCommitIsBothOrNeither) {
  vt::init_recording();
  vt::TempDir dir;
  vt::write_text(dir.file("p"), "older data");
  vt::write_text(dir.file("._p"), "older header");
  MacBinOutput *out = MacBin_OpenOutput(dir.file("p").c_str(), MACBIN_FORMAT_APPLEDOUBLE);
  ASSERT_NE(out, nullptr);
  char name[] = "Pair";
  MacBinChannel *ch = MacBin_OpenWOutput(out, name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  MacBin_PutBuf("new", 3, 3);
  MacBin_Close(ch);
  fs::remove(dir.file("p"));
  fs::create_directory(dir.file("p"));
  EXPECT_EQ(MacBin_CommitOutput(out), 1);
  EXPECT_TRUE(last_reason().starts_with("cannot rename ")) << last_reason();
  EXPECT_TRUE(last_reason().ends_with(" into place: Is a directory")) << last_reason();
  EXPECT_EQ(MacBin_LastSystemError(), EISDIR);
  EXPECT_EQ(vt::read_file(dir.file("._p")), vt::bytes_of("older header"));
  EXPECT_EQ(entries_in(dir.path()), (std::vector<std::string>{"._p", "p"}));

  // Without an older header, none is left.
  fs::remove(dir.file("._p"));
  out = MacBin_OpenOutput(dir.file("p2").c_str(), MACBIN_FORMAT_APPLEDOUBLE);
  ASSERT_NE(out, nullptr);
  ch = MacBin_OpenWOutput(out, name, "VARN", "TEXT");
  ASSERT_NE(ch, nullptr);
  MacBin_Close(ch);
  fs::create_directory(dir.file("p2"));
  EXPECT_EQ(MacBin_CommitOutput(out), 1);
  EXPECT_EQ(entries_in(dir.path()), (std::vector<std::string>{"p", "p2"}));
}

// ---- Temporaries a signal handler removes ------------------------------------------

// In a child: opens outputs of each kind, a BinHex channel with its
// hidden forks file, and a scratch file, then ends by SIGTERM through a
// handler that asks the library to remove its temporaries.
extern "C" void remove_and_end(int signal_number) {
  MacBin_RemoveTemporaries();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// What the child leaves open when it ends, kept reachable so that a leak
// checker at exit does not count it.
// (Plain pointers: a vector would be destroyed before the checker runs.)
MacBinOutput *outputs_left_open[3] = {};
MacBinChannel *channel_left_open = nullptr;

[[noreturn]] void leave_temporaries_and_end(const vt::TempDir &dir, bool by_signal) {
  signal(SIGTERM, remove_and_end);
  size_t opened = 0;
  for (const int32_t kind :
       std::initializer_list<int32_t>{MACBIN_OUTPUT_BYTES, MACBIN_OUTPUT_FILE, MACBIN_FORMAT_APPLEDOUBLE}) {
    MacBinOutput *out = MacBin_OpenOutput(dir.file("o" + std::to_string(kind)).c_str(), kind);
    if (out == nullptr) _exit(3);
    outputs_left_open[opened++] = out;
    if (kind == MACBIN_FORMAT_APPLEDOUBLE) vt::write_text(MacBin_OutputPath(out), "half");
  }
  MacBin_Init();
  channel_left_open = open_writer(MACBIN_FORMAT_BINHEX, dir.file("b.hqx"));
  if (channel_left_open == nullptr) _exit(4);
  MacBin_PutBuf(std::string(100000, 'x').data(), 100000, 100000);
  std::string scratch = dir.file("scratch-XXXXXX");
  if (MacBin_MakeTemporaryFile(scratch.data()) < 0) _exit(5);
  if (by_signal) raise(SIGTERM);
  std::exit(0);
}

TEST(OutputTemporaries, SignalAndExitLeaveNothingBehind) {
  for (const bool by_signal : {true, false}) {
    vt::TempDir dir;
    vt::write_text(dir.file("o100"), "older");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) leave_temporaries_and_end(dir, by_signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (by_signal) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(entries_in(dir.path()), std::vector<std::string>{"o100"});
    EXPECT_EQ(vt::read_file(dir.file("o100")), vt::bytes_of("older"));
  }
}

bool has_message_starting(const std::string &start) {
  return std::any_of(vt::recorded_messages().begin(), vt::recorded_messages().end(),
                     [&](const vt::Message &m) { return m.text.starts_with(start); });
}

// Removed under a writer's feet (a host's handler that did not end the
// process): nothing comes back, and the close says the file did not.
TEST(OutputTemporaries, RemovedOutputsDoNotComeBack) {
  vt::init_recording();
  vt::TempDir dir;
  MacBinChannel *ch = open_writer(MACBIN_FORMAT_II, dir.file("g.bin"));
  ASSERT_NE(ch, nullptr);
  MacBin_PutBuf("hello", 5, 5);
  MacBin_RemoveTemporaries();
  EXPECT_TRUE(fs::is_empty(dir.path()));
  MacBin_Close(ch);
  EXPECT_TRUE(has_message_starting("Could not put output file " + dir.file("g.bin") + " in place: cannot rename "));
  EXPECT_EQ(MacBin_LastError(nullptr), MACBIN_ERR_IO);
  EXPECT_TRUE(fs::is_empty(dir.path()));

  // BinHex's hidden forks file is among the temporaries.
  ch = open_writer(MACBIN_FORMAT_BINHEX, dir.file("g.hqx"));
  ASSERT_NE(ch, nullptr);
  MacBin_PutBuf("hello", 5, 5);
  EXPECT_EQ(entries_in(dir.path()).size(), 1u);  // the private directory
  MacBin_RemoveTemporaries();
  EXPECT_TRUE(fs::is_empty(dir.path()));
  MacBin_Close(ch);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(OutputTemporaries, ScratchFilesAreListedUntilRemoved) {
  vt::TempDir dir;
  std::string path = dir.file("copy-XXXXXX");
  const int fd = MacBin_MakeTemporaryFile(path.data());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(path.find("XXXXXX"), std::string::npos);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  close(fd);
  EXPECT_EQ(MacBin_RemoveTemporaryFile(path.c_str()), 0);
  EXPECT_FALSE(vt::file_exists(path));
  EXPECT_EQ(MacBin_RemoveTemporaryFile(path.c_str()), 1);  // no longer listed
  std::string bad = dir.file("no-pattern");
  EXPECT_EQ(MacBin_MakeTemporaryFile(bad.data()), -1);
  EXPECT_EQ(errno, EINVAL);
}

}  // namespace
