// What the benchmarks that time whole processes share: their settings from
// the environment, the peak memory a child reports of itself, spawning and
// timing a child, and the median of the rounds.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace varnel_bench {

// ---- Settings ------------------------------------------------------------

inline int64_t env_number(const char *name, int64_t fallback, int64_t low, int64_t high) {
  const char *text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char *end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (*end != '\0' || value < low || value > high) {
    std::fprintf(stderr, "%s=%s ignored: a whole number from %lld to %lld is wanted\n", name, text,
                 static_cast<long long>(low), static_cast<long long>(high));
    return fallback;
  }
  return value;
}

// ---- Peak memory ---------------------------------------------------------------
//
// A process started with posix_spawn shares this one's memory until it
// executes, and the kernel keeps the larger of the two peaks in its
// ru_maxrss: wait4 gives an upper bound, not the child's own figure.  Our
// children therefore write their own peak (VmHWM, which belongs to the
// memory they execute in) to the file named by kPeakFileVariable.

constexpr const char *kPeakFileVariable = "VARNEL_BENCH_PEAK_FILE";

// This process's peak resident size in KiB, or -1.
inline long own_peak_kib() {
  std::FILE *status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  std::fclose(status);
  return kib;
}

inline void report_own_peak() {
  const char *path = std::getenv(kPeakFileVariable);
  if (path == nullptr) return;
  if (std::FILE *f = std::fopen(path, "w")) {
    std::fprintf(f, "%ld\n", own_peak_kib());
    std::fclose(f);
  }
}

// What the last child wrote there, in MiB; -1 when it wrote nothing.
inline double child_peak_mib() {
  const char *path = std::getenv(kPeakFileVariable);
  long kib = -1;
  if (path == nullptr) return -1;
  if (std::FILE *f = std::fopen(path, "r")) {
    if (std::fscanf(f, "%ld", &kib) != 1) kib = -1;
    std::fclose(f);
    std::remove(path);
  }
  return kib < 0 ? -1 : static_cast<double>(kib) / 1024.0;
}

// ---- Timing processes ----------------------------------------------------------

struct ProcessRun {
  bool ok = false;
  double seconds = 0;
  double peak_mib = 0;     // the child's own report, else -1
  double wait4_peak_mib = 0;  // an upper bound (see above)
};

// Runs `argv` (stdout to `stdout_path` when not empty) and waits for it.
inline ProcessRun run_process(const std::vector<std::string> &args, const std::string &stdout_path = "") {
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!stdout_path.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  ProcessRun result;
  pid_t pid = 0;
  const auto start = std::chrono::steady_clock::now();
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(spawned));
    return result;
  }
  int status = 0;
  struct rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.wait4_peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
  result.peak_mib = child_peak_mib();
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!result.ok) std::fprintf(stderr, "%s failed (status %d)\n", argv[0], status);
  return result;
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// The running benchmark program, for starting it again as a child.
inline std::string self_path() {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

}  // namespace varnel_bench
