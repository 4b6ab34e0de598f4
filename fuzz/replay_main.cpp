// Replays inputs through a fuzz target without libFuzzer: every file named on
// the command line, and every file under every directory named there, goes
// once to LLVMFuzzerTestOneInput.  Ordinary builds link each target with this
// main and run it as a test over the target's corpus and every crash file
// ever found, so the sanitizers of the build (ASan + UBSan in build-asan)
// check them on every `make test`, with gcc as well as clang.
//
// A path that does not exist is noted and skipped (a target may have no
// crash files yet), but replaying nothing at all is a failure: a target
// without a corpus proves nothing.  Everything goes to standard error:
// several targets send standard output to /dev/null.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

namespace fs = std::filesystem;

// Files in a stable order, so that a failure repeats the same way.
std::vector<fs::path> collect_inputs(const fs::path &root) {
  std::vector<fs::path> files;
  std::error_code error;
  if (fs::is_regular_file(root, error)) {
    files.push_back(root);
    return files;
  }
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool replay_file(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // An empty vector's data() may be null; hand the target a valid pointer.
  static const uint8_t kNoBytes[1] = {0};
  const uint8_t *data = bytes.empty() ? kNoBytes : bytes.data();
  LLVMFuzzerTestOneInput(data, bytes.size());
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE-OR-DIRECTORY...\n", argv[0]);
    return 2;
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);

  size_t replayed = 0;
  bool all_read = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path root(argv[i]);
    std::error_code error;
    if (!fs::exists(root, error)) {
      std::fprintf(stderr, "replay: %s does not exist, skipped\n", argv[i]);
      continue;
    }
    const std::vector<fs::path> files = collect_inputs(root);
    for (const fs::path &file : files) {
      // Written before the input runs, so a crash names its input.
      std::fprintf(stderr, "replay: %s\n", file.c_str());
      if (replay_file(file)) {
        ++replayed;
      } else {
        all_read = false;
      }
    }
    std::fprintf(stderr, "replay: %zu input(s) from %s\n", files.size(), argv[i]);
  }
  if (replayed == 0) {
    std::fprintf(stderr, "replay: no input found: the target needs a seed corpus\n");
    return 1;
  }
  std::fprintf(stderr, "replay: %zu input(s) in all, no failure\n", replayed);
  return all_read ? 0 : 1;
}
