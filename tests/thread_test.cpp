// Reading and decoding from several threads at once, each on a channel of
// its own: every thread must see exactly what one thread alone sees.  Run
// under ThreadSanitizer (VARNEL_SANITIZE=thread, the CTest label "threads")
// it also proves that no two threads touch the same memory unguarded.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/macbinary.hpp"
#include "support/pict_builder.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::hex;

constexpr int kThreads = 4;
constexpr int kRoundsPerThread = 25;

// The data each read handler call saw, kept per thread.
thread_local std::vector<Bytes> handled;

int32_t keep_data(MacBinChannel *channel, int32_t, int32_t data_length) {
  Bytes data(static_cast<size_t>(data_length));
  if (data_length > 0 && fgetm(channel->file, data.data(), data_length) != 1) data.clear();
  handled.push_back(std::move(data));
  return 0;
}

// A file of its own for thread `n`: an icon and its mask, a picture, some
// text, all differing between threads.
Bytes file_for_thread(int n) {
  Bytes icon(128), mask(128, 0xFF);
  for (size_t i = 0; i < icon.size(); ++i) icon[i] = static_cast<uint8_t>(i * 7 + static_cast<size_t>(n) * 31);
  vt::PictBuilder picture(24, 32);
  picture.op(0x0031, vt::rect(2 + n, 3, 12 + n, 20));  // paintRect, black
  picture.op(0x0030, vt::rect(14, 1 + n, 20, 30));     // frameRect
  vt::MacBinaryPlan plan;
  plan.data_fork = hex("44 41 54 41");
  plan.data_fork.push_back(static_cast<uint8_t>(n));
  plan.types = {
      {"ICN#", {{128, "icon", vt::concat({icon, mask})}}},
      {"PICT", {{128, "picture", picture.finish()}, {129, std::nullopt, picture.finish()}}},
      {"TEXT", {{128, "text " + std::to_string(n), Bytes(100 + static_cast<size_t>(n), 'a')}}}};
  return vt::build_macbinary(plan).bytes;
}

// Everything a host learns from the file: each resource's type, ID and
// data, and the pixels of the icon and pictures, as one text.
std::string read_everything(const std::string &path) {
  std::string seen;
  MacBinChannel *channel = MacBin_OpenR(path.c_str());
  if (channel == nullptr) return "not opened";
  handled.clear();
  for (int32_t t = 1; t <= MacBin_GetNrTypes(channel); ++t) {
    char type[5] = "";
    MacBin_GetIndType(channel, type, t);
    for (int32_t r = 1; r <= MacBin_GetNrResources(channel, type); ++r) {
      seen += std::string(type) + " " + std::to_string(r) + ":" +
              std::to_string(MacBin_GetIndResource(channel, type, r)) + ";";
    }
  }
  for (const Bytes &data : handled) seen += vt::to_hex(data) + "|";
  for (int32_t e = 0; e < channel->type_count; ++e) {
    const MacBinTypeEntry &entry = channel->types[e];
    if (std::strncmp(entry.type, "ICN#", 4) != 0 && std::strncmp(entry.type, "PICT", 4) != 0) continue;
    for (int32_t r = 0; r < entry.count; ++r) {
      MacBinPixels pixels{};
      char error[128] = "";
      const int32_t result = MacBin_DecodeResource(channel, &entry.refs[r], &pixels, error);
      seen += std::to_string(result) + " " + error + " " + std::to_string(pixels.width) + "x" +
              std::to_string(pixels.height) + " ";
      if (pixels.rgba != nullptr) {
        seen += vt::to_hex(Bytes(pixels.rgba, pixels.rgba + size_t(pixels.width) * size_t(pixels.height) * 4));
      }
      MacBin_FreePixels(&pixels);
    }
  }
  uint8_t data[16];
  const int32_t data_length = MacBin_ReadDataFork(channel, 0, data, sizeof data);
  seen += "data " + vt::to_hex(Bytes(data, data + std::max(data_length, 0)));
  MacBin_Close(channel);
  return seen;
}

TEST(Threads, ReadingAndDecodingOnSeparateChannelsAgreeWithOneThread) {
  vt::init_recording();
  // Processors and methods are set up before the threads start.
  ASSERT_EQ(MacBin_AddProcessor("****", keep_data, nullptr), 0);
  vt::TempDir dir;
  std::vector<std::string> paths;
  std::vector<std::string> expected;
  for (int n = 0; n < kThreads; ++n) {
    paths.push_back(dir.file("file" + std::to_string(n) + ".bin"));
    vt::write_file(paths.back(), file_for_thread(n));
    expected.push_back(read_everything(paths.back()));
    ASSERT_NE(expected.back(), "not opened");
    ASSERT_NE(expected.back().find("1  32x32 "), std::string::npos) << "the icon was not decoded";
    ASSERT_NE(expected.back().find("1  32x24 "), std::string::npos) << "the picture was not decoded";
  }
  ASSERT_NE(expected[0], expected[1]);

  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int n = 0; n < kThreads; ++n) {
    threads.emplace_back([&, n] {
      for (int round = 0; round < kRoundsPerThread; ++round) {
        // Each thread reads its own file, and every other round a
        // neighbour's, so that files are shared between threads too.
        const int file = round % 2 == 0 ? n : (n + 1) % kThreads;
        if (read_everything(paths[static_cast<size_t>(file)]) != expected[static_cast<size_t>(file)]) ++mismatches;
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_TRUE(vt::recorded_messages().empty());
}

}  // namespace
