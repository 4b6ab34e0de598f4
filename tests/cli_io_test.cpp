// The varnel tool's files and streams under real use: interruption by
// signals, file-size limits, a full file system, unreadable files,
// standard output that cannot be written, pipes, symbolic links, kept
// permissions, several files in one listing, and dates.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/macbinary.hpp"
#include "support/damaged_files.hpp"
#include "support/support.hpp"
#include "support/tool_run.hpp"

namespace {

using namespace cli;

using vt::Bytes;
using vt::hex;
using Json = nlohmann::json;
namespace fs = std::filesystem;

// ---- Running the tool as a child process we control ---------------------------

// A running tool: its process, and where its output and messages go.
class Child {
 public:
  // Starts `varnel ARGUMENTS` in `directory` with standard input from
  // `stdin_fd` (-1: /dev/null), TMPDIR set to `temp`, after `in_child`
  // (which runs in the child between fork and exec; it returns false to
  // make the child exit with 126).
  // `program` replaces the built tool (a copy of it elsewhere).
  Child(const fs::path &directory, const std::vector<std::string> &arguments, int stdin_fd = -1,
        const std::string &temp = "", const std::function<bool()> &in_child = nullptr,
        const std::string &program = "")
      : out_(capture_.file("out")), err_(capture_.file("err")) {
    std::vector<std::string> words = {program.empty() ? tool_path() : program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    // Readable by another user the child may become.
    fchmod(out, 0666);
    fchmod(err, 0666);
    chmod(capture_.path().c_str(), 0755);
    const std::string dir = directory.string();
    pid_ = fork();
    if (pid_ == 0) {
      if (!temp.empty()) setenv("TMPDIR", temp.c_str(), 1);
      dup2(stdin_fd >= 0 ? stdin_fd : null, STDIN_FILENO);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      signal(SIGPIPE, SIG_DFL);
      if (chdir(dir.c_str()) != 0 || (in_child && !in_child())) _exit(126);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out);
    close(err);
    close(null);
  }
  ~Child() {
    if (pid_ > 0 && raw_status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  // Waits for the end; the raw wait status.
  int wait() {
    if (raw_status_ < 0) {
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      raw_status_ = status;
    }
    return raw_status_;
  }
  ToolRun result() {
    const int raw = wait();
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), text_of(out_), text_of(err_)};
  }

 private:
  vt::TempDir capture_;
  std::string out_, err_;
  pid_t pid_ = -1;
  int raw_status_ = -1;
};

// Waits until `ready` holds; false when it has not after a generous while
// (a hung tool must fail the test, not stop the suite).
bool eventually(const std::function<bool()> &ready) {
  for (int i = 0; i < 3000; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

bool has_file_starting_with(const fs::path &directory, const std::string &prefix) {
  for (const std::string &name : files_in(directory))
    if (name.starts_with(prefix)) return true;
  return false;
}

size_t count_of(const std::string &text, const std::string &what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// A failed write is one error line naming the file and the reason, and
// none of the library's own lines about it.
void expect_one_write_error(const ToolRun &run, const std::string &file, const std::string &reason) {
  EXPECT_EQ(run.status, 1) << run;
  EXPECT_NE(run.err.find("varnel: error: " + file + ": write error: " + reason + "\n"), std::string::npos)
      << run;
  EXPECT_EQ(count_of(run.err, "varnel: error:"), 1u) << run;
  for (const char *library_line : {"Writing output file", "not inserted", "Removing output", "Please check"})
    EXPECT_EQ(run.err.find(library_line), std::string::npos) << library_line << "\n" << run;
}

Bytes pseudo_random(size_t count) {
  Bytes bytes(count);
  uint32_t state = 12345;
  for (uint8_t &byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

// A file of the demo's sample and its data fork, in `dir`.
struct SampleFiles {
  SampleFiles() {
    const ToolRun packed = pack_sample(dir.path());
    if (packed.status != 0) throw std::runtime_error("pack failed: " + packed.err);
  }
  vt::TempDir dir;
  const Bytes document = vt::read_file((sample_dir() / "document.txt").string());
  std::string bin() const { return dir.file("Sample.bin"); }
};

// ---- Signals ------------------------------------------------------------------------

// pack is stopped while it copies a data fork from a FIFO that never ends:
// the temporary output and the scratch directory go, and the tool ends by
// the signal itself.  For BinHex and AppleDouble the library's files (the
// hidden fork file, the header file) sit in a private directory beside the
// output, which goes with all in it.
TEST(CliIoSignals, InterruptedPackLeavesNoFile) {
  const std::pair<int, const char *> runs[] = {{SIGINT, "ii"},          {SIGTERM, "ii"},     {SIGHUP, "ii"},
                                               {SIGPIPE, "ii"},         {SIGINT, "binhex"},  {SIGTERM, "binhex"},
                                               {SIGINT, "appledouble"}, {SIGHUP, "appledouble"}};
  for (const auto &run : runs) {
    const int signal_number = run.first;
    const std::string format = run.second;
    SCOPED_TRACE(std::string(strsignal(signal_number)) + ", " + format);
    vt::TempDir dir;
    vt::TempDir temp;
    const std::string fifo = dir.file("data.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Held open for reading and writing: the tool never sees the end.
    const int feed = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(feed, 0);
    const Bytes chunk(32 * 1024, 'x');
    ASSERT_EQ(write(feed, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
    Child child(dir.path(),
                {"pack", "-o", "out.bin", "--format", format, "--creator", "VARN", "--type", "TEXT", "--data",
                 "data.fifo"},
                -1, temp.path().string());
    const bool writing = eventually([&] {
      if (!has_file_starting_with(dir.path(), ".out.bin.")) return false;
      if (format == "ii") return true;
      // The library has made its files in the private directory.
      for (const std::string &name : files_in(dir.path()))
        if (name.starts_with(".out.bin.") && fs::is_directory(dir.file(name)))
          return files_in(dir.file(name)).size() == 2;
      return false;
    });
    EXPECT_TRUE(writing) << "the tool did not start its output";
    ASSERT_EQ(kill(child.pid(), signal_number), 0);
    const int status = child.wait();
    close(feed);
    EXPECT_TRUE(WIFSIGNALED(status)) << status;
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), signal_number);
    }
    EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"data.fifo"});
    EXPECT_EQ(files_in(temp.path()), std::vector<std::string>{});  // nothing left in TMPDIR either
  }
}

// render reading standard input from a pipe that stays open: its private
// copy of the input is removed when it is interrupted.
TEST(CliIoSignals, InterruptedReadOfStandardInputLeavesNoCopy) {
  SampleFiles sample;
  vt::TempDir temp;
  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
  const Bytes bytes = vt::read_file(sample.bin());
  Child child(sample.dir.path(), {"render", "-", "out"}, pipe_fds[0], temp.path().string());
  close(pipe_fds[0]);
  ASSERT_EQ(write(pipe_fds[1], bytes.data(), 4096), 4096);
  EXPECT_TRUE(eventually([&] { return has_file_starting_with(temp.path(), "varnel-input-"); }));
  ASSERT_EQ(kill(child.pid(), SIGTERM), 0);
  const int status = child.wait();
  close(pipe_fds[1]);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(files_in(temp.path()), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(sample.dir.file("out")));
}

// ---- Write failures -------------------------------------------------------------------

// A file-size limit fails the write (EFBIG) instead of killing the tool
// with SIGXFSZ and leaving its temporary file.
// A data fork longer than a container can hold is refused before anything
// is written, in one line naming the limit (a sparse file: no disk used).
TEST(CliIoWriteFailure, DataForkOverTheLimitIsRefusedUpFront) {
  vt::TempDir dir;
  const uint64_t length = uint64_t{2130706432} + 1;
  vt::write_file(dir.file("huge.dat"), {});
  fs::resize_file(dir.file("huge.dat"), length);
  const ToolRun run = pack(dir.path(), "-o out.bin --data huge.dat");
  expect_failure(run, 1,
                 "varnel: error: huge.dat: a data fork of more than 2130706432 bytes cannot be stored (this one "
                 "has 2130706433)\n");
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run;  // that line alone
  EXPECT_FALSE(fs::exists(dir.file("out.bin")));
}

TEST(CliIoWriteFailure, FileSizeLimitIsAWriteError) {
  vt::TempDir dir;
  vt::write_file(dir.file("big.dat"), pseudo_random(300 * 1024));
  const std::vector<std::string> inputs = files_in(dir.path());
  const auto limit_to_64k = [] {
    const rlimit limit{64 * 1024, 64 * 1024};
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
  };
  Child packing(dir.path(),
                {"pack", "-o", "out.bin", "--creator", "VARN", "--type", "TEXT", "--data", "big.dat", "-e",
                 "TEXT 128 x big.dat"},
                -1, "", limit_to_64k);
  expect_one_write_error(packing.result(), "out.bin", std::strerror(EFBIG));
  EXPECT_EQ(files_in(dir.path()), inputs);

  ASSERT_EQ(pack(dir.path(), "-o whole.bin --data big.dat").status, 0);
  Child extracting(dir.path(), {"extract", "whole.bin", "--data", "fork.out"}, -1, "", limit_to_64k);
  expect_one_write_error(extracting.result(), "fork.out", std::strerror(EFBIG));
  EXPECT_FALSE(fs::exists(dir.file("fork.out")));
  for (const std::string &name : files_in(dir.path())) EXPECT_FALSE(name.starts_with(".")) << name;
}

// A full file system, as a 64 KiB tmpfs mounted in a private mount
// namespace: pack, extract and render each say so in one line and leave
// nothing in it.
TEST(CliIoWriteFailure, FullFileSystemIsOneLineNamingTheFile) {
  vt::TempDir dir;
  vt::write_file(dir.file("big.dat"), pseudo_random(200 * 1024));
  ASSERT_EQ(pack(dir.path(), "-o whole.bin --data big.dat -e 'TEXT 128 x big.dat'").status, 0);
  ASSERT_EQ(pack_sample(dir.path()).status, 0);
  vt::write_file(dir.file("noise.png"), png(400, 400, 2, pseudo_random(400 * 400 * 3)));  // a PICT over 64 KiB
  fs::create_directory(dir.file("full"));
  const ToolRun probe = shell(dir.path(), "unshare -m sh -c 'mount -t tmpfs -o size=64k none full' && echo ok");
  if (probe.out != "ok\n") GTEST_SKIP() << "cannot mount a tmpfs in a private mount namespace: " << probe.err;
  const struct {
    std::string command, file;
  } cases[] = {
      {"$VARNEL pack -o full/out.bin --creator VARN --type TEXT --data big.dat -e \"TEXT 128 x big.dat\"",
       "full/out.bin"},
      {"$VARNEL pack -o full/pict.bin --creator VARN --type TEXT -e \"PICT 128 p noise.png 72\"", "full/pict.bin"},
      {"$VARNEL extract whole.bin --data full/fork", "full/fork"},
      {"$VARNEL extract whole.bin --resource TEXT 128 full/text", "full/text"},
      // Full before it starts: every picture fails, the first one first.
      {"head -c 70000 big.dat >full/filler 2>/dev/null; $VARNEL render Sample.bin full", "full/ICN#.128.png"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.command);
    const ToolRun run = shell(dir.path(), "unshare -m sh -c 'mount -t tmpfs -o size=64k none full && " +
                                              c.command + "; status=$?; rm -f full/filler; " +
                                              "ls -A full | sed \"s/^/left: /\" >&2; exit $status'");
    EXPECT_EQ(run.status, 1) << run;
    EXPECT_NE(run.err.find("varnel: error: " + c.file + ": write error: " + std::strerror(ENOSPC) + "\n"),
              std::string::npos)
        << run;
    // The picture was cut short by the failed write, which is the news.
    EXPECT_EQ(run.err.find("could not be written completely"), std::string::npos) << run;
    for (const char *library_line : {"Writing output file", "not inserted", "Removing output", "Please check"})
      EXPECT_EQ(run.err.find(library_line), std::string::npos) << run;
    EXPECT_EQ(run.err.find("left: "), std::string::npos) << run;  // the tmpfs is empty
    if (c.file != "full/ICN#.128.png") {
      EXPECT_EQ(count_of(run.err, "varnel: error:"), 1u) << run;
    }
  }
  if (::testing::Test::HasFailure()) return;
  EXPECT_EQ(files_in(dir.file("full")), std::vector<std::string>{});
}

// Results that cannot reach standard output are an error.
TEST(CliIoWriteFailure, StandardOutputThatCannotBeWritten) {
  SampleFiles sample;
  const std::string enospc = std::strerror(ENOSPC);
  for (const char *arguments : {"list Sample.bin", "list --json Sample.bin", "extract Sample.bin --data -",
                                       "extract Sample.bin --resource TEXT 128 -", "--help"}) {
    const ToolRun run = shell(sample.dir.path(), std::string("$VARNEL ") + arguments + " >/dev/full");
    expect_failure(run, 1, "varnel: error: standard output: write error: " + enospc);
  }
  // A reader that goes away ends the tool by SIGPIPE, as for any filter.
  vt::write_file(sample.dir.file("big.dat"), pseudo_random(1 << 20));
  ASSERT_EQ(pack(sample.dir.path(), "-o big.bin --data big.dat").status, 0);
  const ToolRun piped = shell(sample.dir.path(),
                              "bash -c '$VARNEL extract big.bin --data - | head -c 1 >/dev/null; "
                              "echo ${PIPESTATUS[0]}'");
  EXPECT_EQ(piped.out, std::to_string(128 + SIGPIPE) + "\n") << piped;
}

// ---- Truthful errors -------------------------------------------------------------------------

TEST(CliIoErrors, OpenAndReadErrorsSayWhy) {
  SampleFiles sample;
  const fs::path dir = sample.dir.path();
  fs::create_directory(dir / "sub");
  vt::write_text(sample.dir.file("plain"), "x");
  const std::pair<std::string, std::string> cases[] = {
      {"list /dev/null", "/dev/null: not a Macintosh file (not MacBinary: 0 bytes, shorter than the 128-byte header; nor an AppleSingle, AppleDouble or BinHex file or a resource fork)"},
      {"list .", ".: cannot read: " + std::string(std::strerror(EISDIR))},
      {"list sub", "sub: cannot read: " + std::string(std::strerror(EISDIR))},
      {"list none.bin", "none.bin: cannot open: " + std::string(std::strerror(ENOENT))},
      {"list plain/x.bin", "plain/x.bin: cannot open: " + std::string(std::strerror(ENOTDIR))},
      {"extract Sample.bin --all plain/all", "plain/all: cannot create the directory: "},
      {"render Sample.bin plain", "plain: cannot create the directory: "},
      {"extract Sample.bin --data sub", "sub: cannot create: " + std::string(std::strerror(EISDIR))},
      {"pack --creator VARN --type TEXT -o out.bin --data sub", "sub: cannot read the data fork: " +
                                                                    std::string(std::strerror(EISDIR))},
      {"pack --creator VARN --type TEXT -o out.bin nothing.rsrc",
       "nothing.rsrc: cannot read the script: " + std::string(std::strerror(ENOENT))},
      {"ct none.png none.ct", "none.png: cannot open: " + std::string(std::strerror(ENOENT))},
  };
  for (const auto &[arguments, message] : cases) expect_failure(varnel(dir, arguments), 1, message);
  EXPECT_EQ(files_in(dir), (std::vector<std::string>{"Sample.bin", "plain", "sub"}));
}

// A file the user may not read, and a directory the user may not write,
// as an ordinary user (uid 65534 when the tests run as root, who may
// read anything).
// True when a user who is neither owner nor in the group may enter `path`
// and every folder above it.
bool others_may_enter(const fs::path &path) {
  for (fs::path at = fs::absolute(path); ; at = at.parent_path()) {
    struct stat info {};
    if (stat(at.c_str(), &info) != 0 || (info.st_mode & S_IXOTH) == 0) return false;
    if (at == at.root_path()) return true;
  }
}

// The tool and the two libraries it loads, copied to a folder of their own
// (mode 0755) that another user can reach when the build folder is one only
// its owner may enter (as mktemp -d makes them).  The copy finds its
// libraries through LD_LIBRARY_PATH, which the child sets.
class ReachableTool {
 public:
  ReachableTool() {
    chmod(dir_.path().c_str(), 0755);
    const fs::path build = vt::binary_dir();
    fs::copy_file(tool_path(), dir_.path() / "varnel");
    for (const char *library : {"libvarnel.so.1", "libtessel.so.1"}) {
      // the soname links point at the versioned files: copy what they name
      fs::copy_file(fs::canonical(build / library), dir_.path() / library);
      chmod((dir_.path() / library).c_str(), 0755);
    }
    chmod((dir_.path() / "varnel").c_str(), 0755);
  }
  std::string program() const { return (dir_.path() / "varnel").string(); }
  std::string library_dir() const { return dir_.path().string(); }

 private:
  vt::TempDir dir_;
};

TEST(CliIoErrors, PermissionDeniedIsSaidSo) {
  SampleFiles sample;
  const fs::path dir = sample.dir.path();
  const bool root = geteuid() == 0;
  if (root && !others_may_enter(dir.parent_path())) {
    GTEST_SKIP() << "uid 65534 cannot enter the temporary folder " << dir.parent_path()
                 << " (set TMPDIR to a folder every user may enter)";
  }
  // The build folder may be closed to other users: run a reachable copy.
  std::optional<ReachableTool> copy;
  if (root && !others_may_enter(vt::binary_dir())) copy.emplace();
  const std::string program = copy ? copy->program() : "";
  const std::string library_dir = copy ? copy->library_dir() : "";
  fs::copy_file(sample.bin(), sample.dir.file("secret.bin"));
  fs::create_directory(dir / "locked");
  chmod(sample.dir.file("secret.bin").c_str(), 0);
  chmod(sample.dir.file("locked").c_str(), 0555);
  chmod(dir.c_str(), 0755);  // the other user must enter it
  const auto as_ordinary_user = [root, library_dir] {
    if (!root) return true;
    if (!library_dir.empty()) setenv("LD_LIBRARY_PATH", library_dir.c_str(), 1);
    return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
  };
  {
    Child probe(dir, {"--version"}, -1, "", as_ordinary_user, program);
    if (probe.result().status == 126) GTEST_SKIP() << "cannot run the tool as uid 65534";
    ASSERT_EQ(probe.result().status, 0) << "the tool does not run as uid 65534";
  }
  const std::string denied = std::strerror(EACCES);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"list", "secret.bin"}, "secret.bin: cannot open: " + denied},
      {{"extract", "secret.bin", "--data", "-"}, "secret.bin: cannot open: " + denied},
      {{"extract", "Sample.bin", "--data", "locked/out"}, "locked/out: cannot create: " + denied},
      {{"extract", "Sample.bin", "--all", "locked/all"}, "locked/all: cannot create the directory: " + denied},
      {{"render", "Sample.bin", "locked"}, "locked/ICN#.128.png: cannot create: " + denied},
      {{"pack", "-o", "locked/out.bin", "--creator", "VARN", "--type", "TEXT"},
       "locked/out.bin: cannot create: " + denied},
  };
  for (const auto &[arguments, message] : cases) {
    Child child(dir, arguments, -1, "", as_ordinary_user, program);
    expect_failure(child.result(), 1, message);
  }
  EXPECT_EQ(files_in(dir / "locked"), std::vector<std::string>{});
}

// ---- Pipes and standard input ------------------------------------------------------------------

TEST(CliIoInput, StandardInputAndPipesAreReadOnce) {
  SampleFiles sample;
  const fs::path dir = sample.dir.path();
  const Json from_file = Json::parse(varnel(dir, "list --json Sample.bin").out);
  const auto without_file = [](Json json) {
    json.erase("file");
    return json;
  };
  // Standard input as a pipe, as a file, and named /dev/stdin.
  for (const char *script : {"cat Sample.bin | $VARNEL list --json -", "$VARNEL list --json - <Sample.bin",
                                     "cat Sample.bin | $VARNEL list --json /dev/stdin"}) {
    const ToolRun run = shell(dir, script);
    ASSERT_EQ(run.status, 0) << script << "\n" << run;
    EXPECT_EQ(without_file(Json::parse(run.out)), without_file(from_file)) << script;
  }
  EXPECT_EQ(Json::parse(shell(dir, "cat Sample.bin | $VARNEL list --json -").out)["file"], "-");
  // A process substitution (a pipe named /dev/fd/N).
  const ToolRun substituted = shell(dir, "bash -c '$VARNEL list <(cat Sample.bin)'");
  EXPECT_EQ(substituted.status, 0) << substituted;
  EXPECT_NE(substituted.out.find("Name:          Sample\n"), std::string::npos) << substituted;
  // A FIFO.
  ASSERT_EQ(mkfifo(sample.dir.file("fifo").c_str(), 0600), 0);
  const ToolRun fifo = shell(dir, "cat Sample.bin >fifo & $VARNEL extract fifo --data data.out; wait");
  EXPECT_EQ(fifo.status, 0) << fifo;
  EXPECT_EQ(vt::read_file(sample.dir.file("data.out")), sample.document);
  // extract to standard output from standard input; render from a pipe.
  const ToolRun through = shell(dir, "cat Sample.bin | $VARNEL extract - --data -");
  EXPECT_EQ(through.status, 0) << through;
  EXPECT_EQ(vt::bytes_of(through.out), sample.document);
  ASSERT_EQ(varnel(dir, "render Sample.bin direct").status, 0);
  const ToolRun rendered = shell(dir, "cat Sample.bin | $VARNEL render - piped");
  ASSERT_EQ(rendered.status, 0) << rendered;
  const std::vector<std::string> pictures = files_in(dir / "direct");
  EXPECT_EQ(files_in(dir / "piped"), pictures);
  for (const std::string &name : pictures)
    EXPECT_EQ(vt::read_file(sample.dir.file("piped/" + name)), vt::read_file(sample.dir.file("direct/" + name)));
  // Damaged input from a pipe is refused like a damaged file.
  expect_failure(shell(dir, "head -c 100 Sample.bin | $VARNEL list -"), 1,
                 "<stdin>: not a Macintosh file (not MacBinary: 100 bytes, shorter than the 128-byte header; nor an AppleSingle, AppleDouble or BinHex file or a resource fork)");
}

TEST(CliIoInput, RenderToStandardOutputIsAUsageError) {
  SampleFiles sample;
  expect_failure(varnel(sample.dir.path(), "render Sample.bin -"), 2, "'-' is not one");
  EXPECT_FALSE(fs::exists(sample.dir.file("-")));
}

// ---- Replacing files -----------------------------------------------------------------------------

TEST(CliIoReplace, PermissionsStayAndLinksAreFollowed) {
  SampleFiles sample;
  const fs::path dir = sample.dir.path();
  const auto mode_of = [](const std::string &path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return status.st_mode & 07777;
  };
  vt::write_text(sample.dir.file("private.bin"), "older");
  chmod(sample.dir.file("private.bin").c_str(), 0600);
  vt::write_text(sample.dir.file("shared.out"), "older");
  chmod(sample.dir.file("shared.out").c_str(), 0664);
  fs::create_directory(dir / "real");
  vt::write_text(sample.dir.file("real/target.bin"), "older");
  chmod(sample.dir.file("real/target.bin").c_str(), 0640);
  fs::create_symlink("real/target.bin", dir / "link.bin");
  fs::create_symlink("link.bin", dir / "chain.out");       // a link to a link
  fs::create_symlink("real/new.out", dir / "dangling.out");  // to a file not there yet
  const std::string pack_to = "$VARNEL pack --creator VARN --type TEXT --data Sample.bin -o ";
  for (const std::string &script : std::vector<std::string>
       {pack_to + "private.bin", "$VARNEL extract Sample.bin --data shared.out", pack_to + "link.bin",
        "umask 027 && $VARNEL extract Sample.bin --data dangling.out", pack_to + "fresh.bin",
        "umask 077 && $VARNEL extract Sample.bin --data private.out"}) {
    const ToolRun run = shell(dir, "umask 022 && " + script);
    ASSERT_EQ(run.status, 0) << script << "\n" << run;
  }
  EXPECT_EQ(mode_of(sample.dir.file("private.bin")), 0600u);
  EXPECT_EQ(mode_of(sample.dir.file("shared.out")), 0664u);
  EXPECT_EQ(vt::read_file(sample.dir.file("shared.out")), sample.document);
  EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
  EXPECT_EQ(mode_of(sample.dir.file("real/target.bin")), 0640u);
  EXPECT_EQ(vt::parse_macbinary_file(sample.dir.file("real/target.bin")).data_fork(),
            vt::read_file(sample.bin()));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.out"));
  EXPECT_EQ(vt::read_file(sample.dir.file("real/new.out")), sample.document);
  EXPECT_EQ(mode_of(sample.dir.file("real/new.out")), 0640u);   // 0666 less umask 027
  EXPECT_EQ(mode_of(sample.dir.file("fresh.bin")), 0644u);
  EXPECT_EQ(mode_of(sample.dir.file("private.out")), 0600u);
  // Through two links; the links stay links.
  ASSERT_EQ(shell(dir, "$VARNEL extract Sample.bin --resource TEXT 128 chain.out").status, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "chain.out"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
  EXPECT_EQ(vt::read_file(sample.dir.file("real/target.bin")),
            vt::read_file((sample_dir() / "readme.txt").string()));
  EXPECT_EQ(files_in(dir / "real"), (std::vector<std::string>{"new.out", "target.bin"}));
}

// ---- Listing several files; dates -------------------------------------------------------------------

TEST(CliIoList, SeveralFilesInArgumentOrder) {
  SampleFiles sample;
  const fs::path dir = sample.dir.path();
  vt::MacBinaryPlan plan;
  plan.name = "Other";
  plan.data_fork = vt::bytes_of("hello");
  plan.resource_fork = false;
  plan.format = vt::MbFormat::kII;
  vt::write_file(sample.dir.file("other.bin"), vt::build_macbinary(plan).bytes);

  const ToolRun json = varnel(dir, "list --json other.bin missing.bin Sample.bin");
  EXPECT_EQ(json.status, 1) << json;
  EXPECT_NE(json.err.find("missing.bin: cannot open"), std::string::npos) << json;
  const Json listing = Json::parse(json.out);
  ASSERT_TRUE(listing.is_array()) << json.out;
  ASSERT_EQ(listing.size(), 3u);
  EXPECT_EQ(listing[0]["file"], "other.bin");
  EXPECT_EQ(listing[0]["name"], "Other");
  EXPECT_EQ(listing[1], Json::parse(R"({"file": "missing.bin", "error": "missing.bin: cannot open: )" +
                                    std::string(std::strerror(ENOENT)) + "\"}"));
  EXPECT_EQ(listing[2]["name"], "Sample");
  EXPECT_EQ(listing[2]["resources"].size(), 14u);
  // Each object is what the file alone lists.
  EXPECT_EQ(listing[2], Json::parse(varnel(dir, "list --json Sample.bin").out));
  const ToolRun both = varnel(dir, "list --json Sample.bin other.bin");
  EXPECT_EQ(both.status, 0) << both;
  EXPECT_EQ(Json::parse(both.out).size(), 2u);

  const ToolRun text = varnel(dir, "list other.bin missing.bin Sample.bin");
  EXPECT_EQ(text.status, 1);
  const size_t second = text.out.find("\n\nFile:          Sample.bin\n");
  ASSERT_NE(second, std::string::npos) << text;
  EXPECT_EQ(text.out.substr(0, second + 1), varnel(dir, "list other.bin").out);
  EXPECT_EQ(text.out.substr(second + 2), varnel(dir, "list Sample.bin").out);
}

TEST(CliIoList, DatesInUtc) {
  vt::TempDir dir;
  const struct {
    uint32_t created, modified;
    const char *created_text, *modified_text;
    Json created_json, modified_json;
  } cases[] = {
      {3879452609, 0, "2026-12-07T01:43:29Z", "unknown", "2026-12-07T01:43:29Z", nullptr},
      {1, 0xFFFFFFFF, "1904-01-01T00:00:01Z", "2040-02-06T06:28:15Z", "1904-01-01T00:00:01Z",
       "2040-02-06T06:28:15Z"},
      {0x7C25B080, 86400 * 59, "1970-01-01T00:00:00Z", "1904-02-29T00:00:00Z", "1970-01-01T00:00:00Z",
       "1904-02-29T00:00:00Z"},
  };
  for (const auto &c : cases) {
    vt::MacBinaryPlan plan;
    plan.name = "Dated";
    plan.data_fork = vt::bytes_of("x");
    plan.resource_fork = false;
    plan.format = vt::MbFormat::kII;
    plan.created = c.created;
    plan.modified = c.modified;
    const Bytes file = vt::build_macbinary(plan).bytes;
    Bytes dates;
    vt::append_be32(dates, c.created);
    vt::append_be32(dates, c.modified);
    ASSERT_EQ(vt::slice(file, 91, 8), dates);
    vt::write_file(dir.file("dated.bin"), file);
    const ToolRun text = varnel(dir.path(), "list dated.bin");
    EXPECT_NE(text.out.find(std::string("Created:       ") + c.created_text + "\nModified:      " +
                            c.modified_text + "\n"),
              std::string::npos)
        << text;
    const Json json = Json::parse(varnel(dir.path(), "list --json dated.bin").out);
    EXPECT_EQ(json["created"], c.created_json);
    EXPECT_EQ(json["modified"], c.modified_json);
  }
}

}  // namespace

// ---- Damaged files --------------------------------------------------------------------------------

namespace {

// A file whose resource fork is cut short: its header is listed and its
// data fork extracted, with a warning and exit status 1; the cut fork is
// not passed off as whole.
TEST(CliIoDamaged, CutResourceForkStillGivesHeaderAndDataFork) {
  SampleFiles sample;
  const fs::path dir = sample.dir.path();
  const Bytes whole = vt::read_file(sample.bin());
  vt::write_file(sample.dir.file("cut.bin"), vt::slice(whole, 0, 1000));  // data fork ends at 166
  // The map's type list offset pointing far outside the map.
  const vt::ParsedMacBinary parsed = vt::parse_macbinary(whole);
  vt::write_file(sample.dir.file("badmap.bin"), vt::patched(whole, parsed.map_start + 24, hex("7F F0")));

  for (const std::string name : {"cut.bin", "badmap.bin"}) {
    SCOPED_TRACE(name);
    const ToolRun text = varnel(dir, "list " + name);
    EXPECT_EQ(text.status, 1) << text;
    EXPECT_NE(text.out.find("Name:          Sample\n"), std::string::npos) << text;
    EXPECT_NE(text.out.find("Data fork:     38 bytes\n"), std::string::npos) << text;
    EXPECT_NE(text.out.find("Resources:     not read (the resource fork is cut short or damaged)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.err.find("varnel: " + name + ": warning: "), std::string::npos) << text;
    EXPECT_NE(text.err.find("no resources read"), std::string::npos) << text;
    const ToolRun json = varnel(dir, "list --json " + name);
    EXPECT_EQ(json.status, 1);
    const Json listing = Json::parse(json.out);
    EXPECT_EQ(listing["resource_fork_read"], false);
    EXPECT_EQ(listing["resources"], Json::array());
    EXPECT_EQ(listing["data_fork_length"], 38);

    const ToolRun data = varnel(dir, "extract " + name + " --data -");
    EXPECT_EQ(data.status, 1) << data;
    EXPECT_EQ(vt::bytes_of(data.out), sample.document);
  }
  // The whole fork of the damaged map is there and is copied; the cut one is not.
  const ToolRun fork = varnel(dir, "extract badmap.bin --rsrc badmap.rsrc");
  EXPECT_EQ(fork.status, 1) << fork;
  EXPECT_EQ(vt::read_file(sample.dir.file("badmap.rsrc")),
            vt::patched(parsed.resource_fork(), parsed.map_start + 24 - parsed.rsrc_start, hex("7F F0")));
  expect_failure(varnel(dir, "extract cut.bin --rsrc cut.rsrc"), 1,
                 "cut.bin: the resource fork is cut short (the file holds 744 of its ");
  EXPECT_FALSE(fs::exists(sample.dir.file("cut.rsrc")));
  const ToolRun all = varnel(dir, "extract cut.bin --all all");
  EXPECT_EQ(all.status, 1) << all;
  EXPECT_EQ(files_in(dir / "all"), std::vector<std::string>{"data"});
  // Cut inside the data fork: refused, as before.
  vt::write_file(sample.dir.file("short.bin"), vt::slice(whole, 0, 150));
  expect_failure(varnel(dir, "list short.bin"), 1, "short.bin: error: Data fork cut short");
}

const Bytes kForkPastItsLength = vt::fork_past_its_length();

// The resources are listed with a warning naming the file and the lengths;
// the fork is not copied whole (the copy would lose its map), while its
// resources and the data fork still are.
TEST(CliIoDamaged, MapRunningPastTheForkIsListedButTheForkIsNotCopied) {
  vt::TempDir dir;
  vt::write_file(dir.file("padded.bin"), kForkPastItsLength);
  const std::string warning =
      "varnel: padded.bin: warning: Resource fork runs past its length: its map ends 73 bytes after its start, "
      "its length is 70 bytes\n";
  const ToolRun listing = varnel(dir.path(), "list padded.bin");
  EXPECT_EQ(listing.status, 0) << listing;
  EXPECT_NE(listing.err.find(warning), std::string::npos) << listing;
  EXPECT_NE(listing.out.find("Resources:     1\n"), std::string::npos) << listing;

  const ToolRun extracted = varnel(dir.path(), "extract padded.bin --rsrc padded.rsrc");
  expect_failure(extracted, 1,
                 "varnel: error: padded.bin: the resource fork is not copied: its data and map end 73 bytes after its "
                 "start, past its length of 70 bytes");
  EXPECT_FALSE(fs::exists(dir.file("padded.rsrc")));
  const ToolRun converted = varnel(dir.path(), "convert padded.bin padded.as --to applesingle");
  EXPECT_EQ(converted.status, 1) << converted;
  EXPECT_FALSE(fs::exists(dir.file("padded.as")));

  const ToolRun all = varnel(dir.path(), "extract padded.bin --all out");
  EXPECT_EQ(all.status, 1) << all;
  EXPECT_EQ(vt::read_file(dir.file("out/STR%20.128")), vt::bytes_of("abc"));
  EXPECT_TRUE(fs::exists(dir.file("out/data")));
  EXPECT_FALSE(fs::exists(dir.file("out/rsrc")));
}

// A header claiming a resource fork of nearly 4 GiB in a 256-byte file: the
// fork is cut short, said with the length the header gives (not the most a
// fork can be read as), and nothing is set aside for the claimed length.
TEST(CliIoDamaged, AHugeClaimedForkIsCutShortWithTheHeadersLength) {
  vt::TempDir dir;
  vt::write_file(dir.file("huge.bin"), vt::patched(kForkPastItsLength, 0x57, hex("FF FF FF F0")));
  const ToolRun converted = varnel(dir.path(), "convert huge.bin huge.as --to applesingle");
  expect_failure(converted, 1, "huge.bin: the resource fork is cut short (the file holds 128 of its 4294967280 bytes)");
  EXPECT_FALSE(fs::exists(dir.file("huge.as")));
}

TEST(CliIoDamaged, HeaderCrcMismatchIsListedWithAWarning) {
  vt::TempDir dir;
  vt::MacBinaryPlan plan;
  plan.name = "Checked";
  plan.data_fork = vt::bytes_of("hello");
  plan.resource_fork = false;
  plan.format = vt::MbFormat::kII;
  vt::write_file(dir.file("crc.bin"), vt::build_macbinary(plan).patch(124, hex("00 00")).bytes);
  const ToolRun run = varnel(dir.path(), "list crc.bin");
  EXPECT_EQ(run.status, 0) << run;
  EXPECT_NE(run.out.find("CRC INVALID"), std::string::npos) << run;
  EXPECT_NE(run.err.find("varnel: warning: crc.bin: the header's CRC does not match"), std::string::npos) << run;
  const ToolRun json = varnel(dir.path(), "list --json crc.bin");
  EXPECT_EQ(Json::parse(json.out)["crc"], Json::parse(R"({"valid": false})"));
}

}  // namespace
