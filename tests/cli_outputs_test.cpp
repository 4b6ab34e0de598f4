// Where the varnel tool's outputs go when OUT is not a plain file name:
// devices, FIFOs and /dev/stdout are written into, never replaced; names
// as long as the file system allows still work.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/support.hpp"
#include "support/tool_run.hpp"

namespace {

using namespace cli;

using vt::Bytes;
using vt::hex;
namespace fs = std::filesystem;

// The sample packed as Sample.bin, and a PICT file (pic.pict: a 512-byte
// header, then a picture of 16 x 4 grey pixels) with its PNG (pic.png).
struct Inputs {
  Inputs() {
    if (pack_sample(dir.path()).status != 0) throw std::runtime_error("pack of the sample failed");
    Bytes rows;
    for (int i = 0; i < 16 * 4; ++i) rows.push_back(static_cast<uint8_t>(i * 4));
    vt::write_file(dir.file("pic.png"), png(16, 4, 0, rows));
    if (pack(dir.path(), "-o pic.bin -e 'PICT 1 p pic.png 72'").status != 0 ||
        varnel(dir.path(), "extract pic.bin --resource PICT 1 pict.raw").status != 0)
      throw std::runtime_error("cannot make the picture");
    vt::write_file(dir.file("pic.pict"), vt::concat({Bytes(512, 0), vt::read_file(dir.file("pict.raw"))}));
    vt::write_file(dir.file("document.txt"), vt::read_file((sample_dir() / "document.txt").string()));
  }
  vt::TempDir dir;
};

// Commands that write one file, OUT standing for it.  pack gets fixed dates
// so that two runs give the same bytes.
const std::vector<std::string> kOneFileCommands = {
    "render --picture pic.pict OUT",
    "thumbnail Sample.bin OUT",
    "convert Sample.bin OUT --to ii",
    "convert Sample.bin OUT --to applesingle",
    "convert Sample.bin OUT --to binhex",
    "extract Sample.bin --data OUT",
    "extract Sample.bin --resource TEXT 128 OUT",
    "pack --creator VARN --type TEXT --name Doc -e '%created 0' -e '%modified 0' --data document.txt -o OUT",
    "ct pic.png OUT",
};

std::string with_output(std::string command, const std::string &out) {
  return command.replace(command.find("OUT"), 3, quoted(out));
}

// What a command writes to a plain file, the reference for the others.
Bytes written_to_a_file(const Inputs &in, const std::string &command) {
  const std::string out = in.dir.file("reference.out");
  const ToolRun run = varnel(in.dir.path(), with_output(command, out));
  EXPECT_EQ(run.status, 0) << command << "\n" << run;
  Bytes bytes = vt::read_file(out);
  fs::remove(out);
  return bytes;
}

// True when this process may make a private mount namespace; else the
// test is skipped with the reason, or fails when CI=true.
bool can_mount_privately(const fs::path &directory) {
  const char *ci = std::getenv("CI");
  const bool in_ci = ci != nullptr && std::string(ci) == "true";
  std::string reason;
  if (geteuid() != 0) {
    reason = "not root: cannot mount a private /dev";
  } else {
    const ToolRun probe = shell(directory, "unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs /mnt' "
                                           "&& echo ok");
    if (probe.out == "ok\n") return true;
    reason = "cannot mount a tmpfs in a private mount namespace: " + probe.err;
  }
  if (in_ci) {
    ADD_FAILURE() << reason << ", and CI=true makes that a failure";
  } else {
    std::printf("SKIPPED: %s\n", reason.c_str());
  }
  return false;
}

// Runs `command` as root in a mount namespace of its own, with a fresh
// /dev holding only null and full, and TMPDIR set to `temp`/tmp; then
// prints "status N", the file type of the device DEVICE and what /dev holds.
ToolRun run_with_private_dev(const fs::path &directory, const vt::TempDir &temp, const std::string &command,
                             const std::string &device) {
  fs::create_directories(temp.file("tmp"));
  // A script file: the command's own quotes would end a quoted sh -c.
  vt::write_text(temp.file("inside.sh"),
                 "mount -t tmpfs tmpfs /dev && mknod -m 666 /dev/null c 1 3 && mknod -m 666 /dev/full c 1 7 && "
                 "TMPDIR=" + quoted(temp.file("tmp")) + " $VARNEL " + with_output(command, device) +
                     "; echo status $?; stat -c %F " + device + "; ls -A /dev\n");
  return shell(directory, "unshare --mount --propagation private sh " + quoted(temp.file("inside.sh")));
}

// The output goes into /dev/null, which stays a device, and nothing is
// left in /dev or in TMPDIR.  /dev/full refuses the bytes: a write error
// naming it, and the device stays too.
TEST(CliOutputsDevice, DevicesStayDevices) {
  Inputs in;
  if (!can_mount_privately(in.dir.path())) GTEST_SKIP() << "no private mount namespace";
  vt::TempDir temp;
  for (const std::string &command : kOneFileCommands) {
    SCOPED_TRACE(command);
    const ToolRun to_null = run_with_private_dev(in.dir.path(), temp, command, "/dev/null");
    EXPECT_EQ(to_null.out, "status 0\ncharacter special file\nfull\nnull\n") << to_null;
    EXPECT_EQ(files_in(temp.file("tmp")), std::vector<std::string>{}) << to_null;
    const ToolRun to_full = run_with_private_dev(in.dir.path(), temp, command, "/dev/full");
    EXPECT_EQ(to_full.out, "status 1\ncharacter special file\nfull\nnull\n") << to_full;
    EXPECT_NE(to_full.err.find("varnel: error: /dev/full: write error: " + std::string(std::strerror(ENOSPC))),
              std::string::npos)
        << to_full;
    EXPECT_EQ(files_in(temp.file("tmp")), std::vector<std::string>{}) << to_full;
  }
}

// The reader of a FIFO gets the same bytes as a plain file would; the FIFO
// stays a FIFO.
TEST(CliOutputsFifo, FifoGetsTheWholeFile) {
  Inputs in;
  for (const std::string &command : kOneFileCommands) {
    SCOPED_TRACE(command);
    const Bytes expected = written_to_a_file(in, command);
    ASSERT_FALSE(expected.empty());
    // The reader gives up after a while, so that a tool that never opens
    // the FIFO fails the test rather than hanging it.
    const ToolRun run = shell(in.dir.path(), "mkfifo out.fifo && { timeout 60 cat out.fifo >got & } ; $VARNEL " +
                                                 with_output(command, "out.fifo") +
                                                 "; status=$?; wait; test -p out.fifo && echo fifo; echo status $status");
    EXPECT_EQ(run.out, "fifo\nstatus 0\n") << run;
    EXPECT_EQ(vt::to_hex(vt::read_file(in.dir.file("got"))), vt::to_hex(expected));
    fs::remove(in.dir.file("out.fifo"));
    fs::remove(in.dir.file("got"));
  }
}

// /dev/stdout and its other names mean the tool's own standard output,
// whatever the tool does with descriptor 1 inside; messages stay apart.
TEST(CliOutputsStandardOutput, DevStdoutIsTheOriginalStandardOutput) {
  Inputs in;
  for (const std::string &command : kOneFileCommands) {
    const Bytes expected = written_to_a_file(in, command);
    for (const char *name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
      SCOPED_TRACE(command + " to " + name);
      const ToolRun run = shell(in.dir.path(), "$VARNEL " + with_output(command, name) + " >out.bin 2>log; echo $?");
      EXPECT_EQ(run.out, "0\n") << run << text_of(in.dir.file("log"));
      EXPECT_EQ(vt::to_hex(vt::read_file(in.dir.file("out.bin"))), vt::to_hex(expected));
      // Messages only, none an error, and nothing of the file.
      std::istringstream log(text_of(in.dir.file("log")));
      for (std::string line; std::getline(log, line);) {
        EXPECT_TRUE(line.starts_with("varnel: ")) << line;
        EXPECT_FALSE(line.starts_with("varnel: error")) << line;
      }
    }
  }
  // A link to /dev/stdout is standard output too.
  fs::create_symlink("/dev/stdout", in.dir.path() / "link");
  const ToolRun linked = shell(in.dir.path(), "$VARNEL extract Sample.bin --data link >out.bin 2>log");
  EXPECT_EQ(linked.status, 0) << linked;
  EXPECT_EQ(vt::read_file(in.dir.file("out.bin")), vt::read_file((sample_dir() / "document.txt").string()));
  EXPECT_TRUE(fs::is_symlink(in.dir.path() / "link"));
}

// AppleDouble is two files: a device, FIFO or standard output takes only
// one, so it is refused there, naming the output and why; nothing is
// written or left.
TEST(CliOutputsStandardOutput, AppleDoubleIsRefusedWhereItsHeaderCannotGo) {
  Inputs in;
  const ToolRun to_stdout = varnel(in.dir.path(), "convert Sample.bin /dev/stdout --to appledouble");
  expect_failure(to_stdout, 1,
                 "varnel: error: /dev/stdout: cannot create: AppleDouble is two files, and its header file "
                 "\"._stdout\" cannot go beside standard output; MacBinary or AppleSingle keep both forks in "
                 "one file\n");
  const ToolRun to_fifo = shell(in.dir.path(), "mkfifo out.fifo && $VARNEL convert Sample.bin out.fifo "
                                               "--to appledouble");
  expect_failure(to_fifo, 1, "out.fifo: cannot create: AppleDouble is two files, and its header file "
                             "\"._out.fifo\" cannot go beside a FIFO");
  EXPECT_TRUE(vt::file_exists(in.dir.file("out.fifo")));
  EXPECT_FALSE(vt::file_exists(in.dir.file("._out.fifo")));
}

// A socket cannot be opened as a file: refused, and left in place.
TEST(CliOutputsStandardOutput, SocketIsRefusedAndKept) {
  Inputs in;
  const ToolRun run = shell(in.dir.path(), "python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind(\"s\")' "
                                           "&& $VARNEL extract Sample.bin --data s");
  if (run.status == 127) GTEST_SKIP() << "python3 cannot make a socket: " << run;
  expect_failure(run, 1, "varnel: error: s: cannot create: it is a socket, which cannot be written as a file\n");
  EXPECT_TRUE(fs::is_socket(in.dir.path() / "s"));
}

// ---- Long names -----------------------------------------------------------------------------

size_t longest_name_in(const fs::path &directory) {
  return static_cast<size_t>(pathconf(directory.c_str(), _PC_NAME_MAX));
}

// A name of `length` bytes: "long", then x's, ending in ".out".
std::string name_of_length(size_t length) { return "long" + std::string(length - 8, 'x') + ".out"; }

// An output name as long as the file system allows works like a short one
// (the temporary name beside it is shortened to fit, not the output's).
TEST(CliOutputsLongNames, LongestNameIsWritten) {
  Inputs in;
  const std::string longest = name_of_length(longest_name_in(in.dir.path()));
  const std::vector<std::string> commands = {"pack --creator VARN --type TEXT --name Doc -e '%created 0' -e '%modified 0' "
                                             "--data document.txt -o OUT",
                                             "convert Sample.bin OUT --to binhex", "render --picture pic.pict OUT",
                                             "thumbnail Sample.bin OUT"};
  for (const std::string &command : commands) {
    SCOPED_TRACE(command);
    const Bytes expected = written_to_a_file(in, command);
    const ToolRun run = varnel(in.dir.path(), with_output(command, longest));
    EXPECT_EQ(run.status, 0) << run;
    EXPECT_EQ(vt::to_hex(vt::read_file(in.dir.file(longest))), vt::to_hex(expected));
    fs::remove(in.dir.file(longest));
    const std::vector<std::string> expected_files = {"Sample.bin", "document.txt", "pic.bin", "pic.pict",
                                                     "pic.png",    "pict.raw"};
    EXPECT_EQ(files_in(in.dir.path()), expected_files);
  }
}

// AppleDouble's header "._NAME" is two bytes longer than NAME: up to two
// bytes short of the limit it is written, beyond that refused with the
// header's name and the limit, and nothing is left.
TEST(CliOutputsLongNames, AppleDoubleHeaderNameOverTheLimit) {
  Inputs in;
  const size_t limit = longest_name_in(in.dir.path());
  const std::string fits = name_of_length(limit - 2);
  ASSERT_EQ(varnel(in.dir.path(), "convert Sample.bin " + fits + " --to appledouble").status, 0);
  EXPECT_TRUE(vt::file_exists(in.dir.file(fits)));
  EXPECT_TRUE(vt::file_exists(in.dir.file("._" + fits)));
  const std::vector<std::string> before = files_in(in.dir.path());
  for (const size_t length : {limit - 1, limit}) {
    const std::string name = name_of_length(length);
    expect_failure(varnel(in.dir.path(), "convert Sample.bin " + name + " --to appledouble"), 1,
                   "varnel: error: " + name + ": cannot create: its AppleDouble header file \"._" + name +
                       "\" would need a name of " + std::to_string(length + 2) +
                       " bytes, and the file system allows " + std::to_string(limit) + "\n");
    EXPECT_EQ(files_in(in.dir.path()), before);
  }
}

}  // namespace
