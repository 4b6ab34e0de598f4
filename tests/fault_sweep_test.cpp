// The file system fails at every position in turn while a representative
// MacBinary file is written: at each byte that the file layer accepts
// (tessel_fail_writes_after) and at each seek on the output file
// (tessel_fail_seeks_after).  After each failure the output file must be
// gone, the three failure messages must have come exactly once, nothing may
// be left allocated, and a later process must still write a good file.
//
// The library's failure flags are process-wide and never clear, so every
// position runs in a forked child.  The child leaves through exit() (not
// _exit) so that LeakSanitizer, in sanitizer builds, checks it for leaks and
// turns a leak into a non-zero exit status, which the parent reports.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/image_host.hpp"
#include "support/support.hpp"
#include "tessel/testing.h"

namespace {

// ---- An in-memory preview image and its mask ----------------------------
// Small on purpose: every byte of the file is one child process.  A grey
// ramp with a few repeats, so PackBits meets both run kinds; rows 1 to 4 of
// the mask hold pixels 2 to 9, a rectangle, so the region has scan lines.
// Both carry the tag-100 progress record, which the library replaces.
vt::ImageHost &image_host() {
  static MacBinAcquireProgress silent_progress{100, nullptr, nullptr, nullptr};
  static vt::ImageHost host = [] {
    vt::ImageHost made;
    vt::Bytes ramp;
    for (int32_t row = 0; row < 6; ++row)
      for (int32_t x = 0; x < 12; ++x)
        ramp.push_back(static_cast<uint8_t>(x < 6 ? 0x40 : (row * 16 + x * 9) & 0xFF));
    made.add_image("picture", 12, 6, 1, ramp).progress_record = &silent_progress;
    const std::string outside(12, '.'), inside = "..########..";
    made.add_mask("mask", 12, {outside, inside, inside, inside, inside, outside}).progress_record =
        &silent_progress;
    return made;
  }();
  return host;
}

// ---- The representative file ----------------------------------------------
struct Scenario {
  std::string output;   // the MacBinary file
  std::string icon_ct;  // a 32 x 32 CT image for the ICN# resource
};

void set_up_library() {
  vt::init_recording();
  MacBin_AddProcessor("vers", nullptr, add_vers);
  MacBin_AddProcessor("FREF", nullptr, add_FREF);
  MacBin_AddProcessor("Bndl", nullptr, close_BNDL);
  MacBin_AddProcessor("PICT", nullptr, MacBin_Add_PICT);
  MacBin_AddProcessor("ICN#", nullptr, CT_to_ICN);
  MacBin_AddProcessor("Note", nullptr, vt::write_parameter_text);
  image_host().install();
}

// Data fork, vers, two FREFs (so closing adds a bundle), an icon from a CT
// image, a preview with a mask region, two resources sharing a name, and an
// owner text.  About 3.5 KiB.
void write_representative_file(const Scenario &scenario) {
  char apple_name[32] = "Fault sweep";
  MacBinChannel *channel = MacBin_OpenW(scenario.output.c_str(), apple_name, "VARN", "TEXT");
  if (channel == nullptr) return;
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  MacBin_PutBuf(data.data(), static_cast<int32_t>(data.size()), static_cast<int32_t>(data.size()));
  MacBin_AddResource(channel, "vers 1 \"\" 1.02 B 3 0/1.0.2b3/Fault sweep 1.0.2b3");
  MacBin_AddResource(channel, "FREF 128 \"\" TEXT 128");
  MacBin_AddResource(channel, "FREF 129 \"\" APPL 129");
  MacBin_AddResource(channel, ("ICN# 128 \"\" " + scenario.icon_ct).c_str());
  MacBin_AddResource(channel, "PICT 128 \"Preview\" picture 72 mask");
  MacBin_AddResource(channel, "Note 1 shared first note");
  MacBin_AddResource(channel, "Note 2 shared second note");
  MacBin_AddResource(channel, "BNDL \"fault sweep owner\"");
  MacBin_Close(channel);
}

// ---- Child processes --------------------------------------------------------
enum class Fault { kNone, kWrite, kSeek };

// Exit statuses of a child.  Anything else (a signal, LeakSanitizer's 23,
// the sanitizers' own statuses) is a defect reported as it is.
enum ChildStatus : int {
  kFailedCleanly = 0,     // the fault fired; file removed, messages once, no leak
  kWroteGoodFile = 10,    // the fault never fired (position past the last one)
  kFileRemains = 11,      // the fault fired but the output file is still there
  kWrongMessages = 12,    // the failure messages did not come exactly once each
  kZoneLeak = 13,         // blocks of the library's zone were not given back
  kGoodFileIncomplete = 14,  // no fault, yet the file is missing or reported
};

const char *describe(int status) {
  switch (status) {
    case kFileRemains: return "the output file remains after the failure";
    case kWrongMessages: return "the failure messages did not come exactly once each";
    case kZoneLeak: return "zone blocks were not given back";
    case kGoodFileIncomplete: return "without a fault the file was not written cleanly";
    default: return "unexpected exit status (sanitizer report, crash or leak: see output)";
  }
}

void print_messages() {
  for (const vt::Message &m : vt::recorded_messages()) {
    std::fprintf(stderr, "    message: %s | %s | %d\n", m.module.c_str(), m.text.c_str(),
                 static_cast<int>(m.severity));
  }
}

size_t count_messages(std::string_view text, int32_t severity) {
  size_t n = 0;
  for (const vt::Message &m : vt::recorded_messages()) {
    if (m.text == text && m.severity == severity) ++n;
  }
  return n;
}

int write_under_fault(const Scenario &scenario, Fault fault, int64_t position) {
  set_up_library();
  const size_t zone_before = vt::zone_in_use();
  errno = 0;  // a value left over from the test harness is not a write failure
  if (fault == Fault::kWrite) vt::fail_writes_after(position, ENOSPC);
  if (fault == Fault::kSeek) vt::fail_seeks_after(position, EIO);
  write_representative_file(scenario);
  vt::clear_faults();

  const bool file_remains = vt::file_exists(scenario.output);
  const size_t write_reports = count_messages("Writing output file", MACBIN_SEVERE);
  const size_t removal_reports = count_messages("Removing output file(s)", MACBIN_SEVERE);
  const size_t check_reports = count_messages("Please check file system !", MACBIN_SEVERE);
  int status = kFailedCleanly;
  if (write_reports == 0 && removal_reports == 0 && check_reports == 0) {
    status = file_remains ? kWroteGoodFile : kGoodFileIncomplete;
  } else if (file_remains) {
    status = kFileRemains;
  } else if (write_reports != 1 || removal_reports != 1 || check_reports != 1) {
    status = kWrongMessages;
  }
  if (status == kFailedCleanly && vt::zone_in_use() != zone_before) {
    status = kZoneLeak;
  }
  if (status != kFailedCleanly && status != kWroteGoodFile) print_messages();
  return status;
}

// Runs `body` in a child process and returns its exit status, or 128 +
// signal number when it was killed.
template <typename Body>
int run_in_child(Body body) {
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int status = body();
    std::fflush(stdout);
    std::exit(status);  // exit, not _exit: LeakSanitizer runs at exit
  }
  int wait_status = 0;
  if (waitpid(pid, &wait_status, 0) != pid) return -1;
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  return 128 + WTERMSIG(wait_status);
}

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    scenario_.output = dir_.file("sweep.bin");
    scenario_.icon_ct = dir_.file("icon.ct");
    vt::Bytes pixels(32 * 32);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (i / 32 + i % 32) % 3 == 0 ? 0xFF : 0;
    vt::write_file(scenario_.icon_ct, vt::ct_file(32, 32, pixels));

    // The reference: written without a fault, and read back to make sure
    // that every part of the scenario really reached the file (a resource
    // that silently failed would leave its write paths unswept).
    const int status = run_in_child([this] {
      const int written = write_under_fault(scenario_, Fault::kNone, 0);
      if (written != kWroteGoodFile) return written;
      return check_reference(scenario_.output);
    });
    ASSERT_EQ(status, kWroteGoodFile) << describe(status);
    reference_ = vt::read_file(scenario_.output);
    std::filesystem::remove(scenario_.output);
  }

  // Types and counts of the reference file.
  static int check_reference(const std::string &path) {
    MacBinChannel *in = MacBin_OpenR(path.c_str());
    if (in == nullptr) return kGoodFileIncomplete;
    struct Expected {
      const char *type;
      int32_t count;
    };
    const Expected expected[] = {{"vers", 1}, {"FREF", 2}, {"ICN#", 1}, {"PICT", 1},
                                 {"Note", 2}, {"VARN", 1}, {"BNDL", 1}};
    bool complete = MacBin_GetNrTypes(in) == 7;
    for (const Expected &e : expected) {
      if (MacBin_GetNrResources(in, e.type) != e.count) {
        std::fprintf(stderr, "reference: %d resource(s) of type %s, expected %d\n",
                     static_cast<int>(MacBin_GetNrResources(in, e.type)), e.type,
                     static_cast<int>(e.count));
        complete = false;
      }
    }
    MacBin_Close(in);
    return complete ? kWroteGoodFile : kGoodFileIncomplete;
  }

  // Bytes of a good file, with the two header dates (offsets 91 to 98)
  // blanked: they differ from one run to the next.
  static vt::Bytes without_dates(vt::Bytes bytes) {
    for (size_t i = 91; i < 99 && i < bytes.size(); ++i) bytes[i] = 0;
    return bytes;
  }

  // Every position from 0 until the fault no longer fires (or every
  // stride-th one); returns the first position at which it did not.
  int64_t sweep(Fault fault, int64_t stride) {
    int64_t position = 0;
    int failures = 0;
    for (;; position += stride) {
      const int status = run_in_child([&] { return write_under_fault(scenario_, fault, position); });
      if (status == kWroteGoodFile) break;
      if (status != kFailedCleanly) {
        ADD_FAILURE() << "failure at position " << position << ": " << describe(status)
                      << " (child status " << status << ")";
        if (++failures == 5) break;  // the rest would say the same
      }
      const std::vector<std::string> left = leftover_files();
      if (!left.empty()) {
        ADD_FAILURE() << "failure at position " << position << " left " << left.front();
        for (const std::string &file : left) std::filesystem::remove(file);
        if (++failures == 5) break;
      }
      if (position > 100 * static_cast<int64_t>(reference_.size())) {
        ADD_FAILURE() << "the fault still fires after " << position << " positions";
        break;
      }
    }
    return position;
  }

  // Files in the test directory other than the CT image.
  std::vector<std::string> leftover_files() const {
    std::vector<std::string> files;
    for (const auto &entry : std::filesystem::directory_iterator(dir_.path())) {
      if (entry.path().string() != scenario_.icon_ct) files.push_back(entry.path().string());
    }
    return files;
  }

  // A later process, with fresh flags, writes the same file as before.
  void expect_next_process_writes_good_file() {
    const int status = run_in_child([this] { return write_under_fault(scenario_, Fault::kNone, 0); });
    ASSERT_EQ(status, kWroteGoodFile) << describe(status);
    EXPECT_EQ(without_dates(vt::read_file(scenario_.output)), without_dates(reference_));
  }

  vt::TempDir dir_;
  Scenario scenario_;
  vt::Bytes reference_;
};

TEST_F(FaultSweep, EveryByteWrittenCanFail) {
  // VARNEL_FAULT_SWEEP_STRIDE=N takes every N-th byte only: cross builds set
  // it, since there each child runs under an emulator, and the failure paths
  // are the same on every machine.
  const char *stride_text = std::getenv("VARNEL_FAULT_SWEEP_STRIDE");
  const int64_t stride = stride_text != nullptr ? std::max<int64_t>(1, std::atoll(stride_text)) : 1;
  const int64_t positions = sweep(Fault::kWrite, stride);
  if (stride > 1) std::printf("fault sweep: every %lld-th byte only\n", static_cast<long long>(stride));
  std::printf("fault sweep: byte positions 0 to %lld failed in turn (file of %zu bytes)\n",
              static_cast<long long>(positions) - 1, reference_.size());
  // Every byte of the file passes through the writes, and the patches of
  // lengths and headers come on top.
  EXPECT_GT(positions, static_cast<int64_t>(reference_.size()));
  expect_next_process_writes_good_file();
}

TEST_F(FaultSweep, EverySeekCanFail) {
  const int64_t positions = sweep(Fault::kSeek, 1);
  std::printf("fault sweep: seek positions 0 to %lld failed in turn\n",
              static_cast<long long>(positions) - 1);
  // How many seeks there are is the writer's business (it may patch what is
  // still buffered without one), but a sweep over none would prove nothing.
  EXPECT_GE(positions, 1);
  expect_next_process_writes_good_file();
}

}  // namespace
