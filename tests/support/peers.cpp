#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "support/support.hpp"

namespace vt {

int run_command(const std::string &command, std::string *output) {
  std::string full = command + " 2>&1";
  FILE *pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> buf;
  std::string out;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  int status = pclose(pipe);
  if (output) *output = out;
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

static std::string find_program(const std::string &program) {
  std::string out;
  if (run_command("command -v " + program, &out) != 0) return "";
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string require_peer(const std::string &program, const std::string &package) {
  // Cross builds run their tests under an emulator, where the host's peer
  // programs are not what is being tested: VARNEL_NO_PEERS=1 skips them even
  // when CI=true.
  const char *no_peers = std::getenv("VARNEL_NO_PEERS");
  if (no_peers != nullptr && std::string(no_peers) == "1") {
    std::printf("SKIPPED: %s (Debian package %s): VARNEL_NO_PEERS=1\n", program.c_str(),
                package.c_str());
    return "";
  }
  // Peers are installed by `make test` (.ci/install-deps.sh), never by a
  // test: a test that installs software changes the machine it reports on.
  const std::string path = find_program(program);
  if (path.empty()) {
    const char *ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") {
      ADD_FAILURE() << program << " (Debian package " << package
                    << ") is missing, and CI=true makes a missing peer a failure";
    } else {
      std::printf("SKIPPED: %s (Debian package %s) is not installed; `make test` installs it\n",
                  program.c_str(), package.c_str());
    }
  }
  return path;
}

}  // namespace vt
