// Running the varnel tool as a user runs it (a separate process with
// arguments, standard input, output and error, an exit status and files),
// and the images its tests feed it and read back: PNGs made here with
// stored deflate blocks so every pixel is known, PNG results decoded by
// netpbm's pngtopnm.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <zlib.h>

#include "support/support.hpp"

namespace cli {

using vt::Bytes;
using vt::hex;
using vt::slice;
namespace fs = std::filesystem;

// ---- Running the tool -------------------------------------------------------

inline std::string quoted(const std::string &text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

inline std::string text_of(const std::string &path) {
  const Bytes bytes = vt::read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

struct ToolRun {
  int status = -1;
  std::string out, err;
};

inline std::ostream &operator<<(std::ostream &stream, const ToolRun &run) {
  return stream << "status " << run.status << "\nstdout:\n" << run.out << "\nstderr:\n" << run.err;
}

inline std::string tool_path() { return fs::absolute(vt::binary_dir() + "/tools/varnel").string(); }

// Runs `varnel ARGUMENTS` (shell words, quoted by the caller) of this build
// tree in `directory`, with standard input from the file `input`.
inline ToolRun varnel(const fs::path &directory, const std::string &arguments,
               const std::string &input = "/dev/null") {
  vt::TempDir capture;
  const std::string command = "cd " + quoted(directory.string()) + " && " + quoted(tool_path()) + " " + arguments +
                              " <" + quoted(input) + " >" + quoted(capture.file("out")) + " 2>" +
                              quoted(capture.file("err"));
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), text_of(capture.file("out")),
          text_of(capture.file("err"))};
}

// Runs a shell script in `directory` with $VARNEL naming the tool.
inline ToolRun shell(const fs::path &directory, const std::string &script) {
  vt::TempDir capture;
  const std::string command = "cd " + quoted(directory.string()) + " && VARNEL=" + quoted(tool_path()) +
                              " sh -c " + quoted(script) + " >" + quoted(capture.file("out")) + " 2>" +
                              quoted(capture.file("err"));
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), text_of(capture.file("out")),
          text_of(capture.file("err"))};
}

// Expects a failed run: `status`, `message` on standard error and nothing
// on standard output (which is for results only).
inline void expect_failure(const ToolRun &run, int status, const std::string &message) {
  EXPECT_EQ(run.status, status) << run;
  EXPECT_NE(run.err.find(message), std::string::npos) << "expected: " << message << "\n" << run;
  EXPECT_EQ(run.out, "") << run;
}

// `varnel pack` with creator VARN and type TEXT.
inline ToolRun pack(const fs::path &directory, const std::string &arguments,
             const std::string &input = "/dev/null") {
  return varnel(directory, "pack --creator VARN --type TEXT " + arguments, input);
}

// " -e 'LINE'" for each line.
inline std::string lines_option(const std::vector<std::string> &lines) {
  std::string out;
  for (const std::string &line : lines) out += " -e " + quoted(line);
  return out;
}

// File names in `directory`, to prove nothing half-written stays behind.
inline std::vector<std::string> files_in(const fs::path &directory) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// ---- Bytes ------------------------------------------------------------------

// `unit` `count` times over.
inline Bytes times(const Bytes &unit, size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

// ---- Making PNG images ------------------------------------------------------

inline void put_chunk(Bytes &png, const char *type, const Bytes &data) {
  vt::append_be32(png, static_cast<uint32_t>(data.size()));
  const Bytes body = vt::concat({vt::bytes_of(type), data});
  png.insert(png.end(), body.begin(), body.end());
  vt::append_be32(png, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// A PNG of `rows` (packed, without filter bytes) with its data in stored
// (uncompressed) deflate blocks.  Colour types: 0 grey, 2 RGB, 3 palette,
// 4 grey + alpha, 6 RGBA.  pHYs when `pixels_per_metre` is not 0.
inline Bytes png(uint32_t width, uint32_t height, uint8_t colour_type, const Bytes &rows, uint8_t bit_depth = 8,
          uint32_t pixels_per_metre = 0, const Bytes &palette = {}) {
  Bytes out = hex("89 50 4E 47 0D 0A 1A 0A");
  Bytes header;
  vt::append_be32(header, width);
  vt::append_be32(header, height);
  put_chunk(out, "IHDR", vt::concat({header, {bit_depth, colour_type, 0, 0, 0}}));
  Bytes phys;
  vt::append_be32(phys, pixels_per_metre);
  vt::append_be32(phys, pixels_per_metre);
  if (pixels_per_metre != 0) put_chunk(out, "pHYs", vt::concat({phys, {1}}));
  if (!palette.empty()) put_chunk(out, "PLTE", palette);
  const size_t row_bytes = rows.size() / height;
  Bytes raw;
  for (uint32_t y = 0; y < height; ++y) raw = vt::concat({raw, {0}, slice(rows, y * row_bytes, row_bytes)});
  Bytes zlib(compressBound(raw.size()));
  uLongf length = zlib.size();
  if (compress2(zlib.data(), &length, raw.data(), raw.size(), Z_NO_COMPRESSION) != Z_OK)
    throw std::runtime_error("compress2 failed");
  zlib.resize(length);
  put_chunk(out, "IDAT", zlib);
  put_chunk(out, "IEND", {});
  return out;
}

// ---- Reading rendered PNGs ----------------------------------------------------

// An image as a peer decodes it: RGB samples, or grey ones for an alpha channel.
struct Raster {
  int width = 0;
  int height = 0;
  Bytes samples;
  Bytes pixel(int x, int y) const {
    const size_t channels = samples.empty() ? 0 : samples.size() / static_cast<size_t>(width * height);
    return slice(samples, static_cast<size_t>(y * width + x) * channels, channels);
  }
};

// Runs `command`, which writes a plain (text) PNM to standard output, and
// gives its samples scaled to 0..255 (a bitmap's 1, black, is 0); an empty
// raster when it fails.
inline Raster plain_pnm_from(const std::string &command) {
  std::string text;
  Raster raster;
  if (vt::run_command("(" + command + " 2>/dev/null)", &text) != 0) return raster;
  std::istringstream in(text);
  std::string magic;
  in >> magic >> raster.width >> raster.height;
  if (magic == "P1") {
    // Bits may follow each other without blanks.
    for (char bit = 0; in >> bit;) raster.samples.push_back(bit == '1' ? 0 : 255);
    return raster;
  }
  int maxval = 255;
  int sample = 0;
  in >> maxval;
  while (in >> sample) raster.samples.push_back(static_cast<uint8_t>(maxval > 0 ? sample * 255 / maxval : 0));
  return raster;
}

inline std::string pngtopnm() { return vt::require_peer("pngtopnm", "netpbm"); }

// Decodes a PNG with pngtopnm as RGB samples; `alpha` asks for its alpha
// channel instead, one sample a pixel.  pngtopnm writes the smallest form
// that holds the image (a grey palette as PGM, an opaque alpha as PBM), so
// grey is widened to RGB here.
inline Raster decode_png(const std::string &path, bool alpha = false) {
  Raster raster = plain_pnm_from(quoted(pngtopnm()) + " -plain " + (alpha ? "-alpha " : "") + quoted(path));
  if (!alpha && raster.samples.size() == static_cast<size_t>(raster.width) * static_cast<size_t>(raster.height)) {
    Bytes rgb;
    for (const uint8_t grey : raster.samples) rgb.insert(rgb.end(), {grey, grey, grey});
    raster.samples = std::move(rgb);
  }
  return raster;
}

// ---- MacBinary files --------------------------------------------------------

inline fs::path sample_dir() { return fs::path(vt::source_dir()) / "examples/sample"; }

// Packs the sample as the demo does, into `directory`/Sample.bin.
inline ToolRun pack_sample(const fs::path &directory) {
  return pack(directory, "-o Sample.bin --name Sample --data " +
                             quoted((sample_dir() / "document.txt").string()) + " " +
                             quoted((sample_dir() / "sample.rsrc").string()));
}

}  // namespace cli
