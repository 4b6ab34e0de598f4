// MacBin_DecodePicture next to two independent readers, ImageMagick and
// netpbm's picttoppm, on pictures that ImageMagick, netpbm's ppmtopict and
// this library's own preview writer make at test time.  Where the two
// readers see exactly the same RGB pixels, ours must see them too (and an
// opaque canvas; for an image drawn through a mask region, which both
// readers ignore, ours inside the region and white outside); where they
// differ from each other, the pixels that differ are printed and recorded
// as a test property, with whose result ours matches, and nothing is
// asserted about ours.  Last, pictures built here byte by byte check the
// size of the count before each packed row without the peers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/image_host.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;

// An RGB image at 8 bits a sample.
struct Rgb {
  int width = 0;
  int height = 0;
  Bytes samples;  // width * height * 3, rows top first
  bool operator==(const Rgb &) const = default;
  std::string pixel(int x, int y) const {
    const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", samples[at], samples[at + 1], samples[at + 2]);
    return text;
  }
};

Bytes ppm_of(const Rgb &image) {
  Bytes ppm = vt::bytes_of("P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n");
  ppm.insert(ppm.end(), image.samples.begin(), image.samples.end());
  return ppm;
}

// A binary PPM as the readers write it (any maxval; samples of more than
// 8 bits brought to 8 by rounding).  Nothing when it is not one.
std::optional<Rgb> parse_ppm(const Bytes &ppm) {
  size_t at = 0;
  const auto number = [&]() -> long {
    while (at < ppm.size()) {
      if (ppm[at] == '#') {
        while (at < ppm.size() && ppm[at] != '\n') ++at;
      } else if (ppm[at] == ' ' || ppm[at] == '\n' || ppm[at] == '\r' || ppm[at] == '\t') {
        ++at;
      } else {
        break;
      }
    }
    long value = -1;
    while (at < ppm.size() && ppm[at] >= '0' && ppm[at] <= '9') {
      value = (value < 0 ? 0 : value * 10) + (ppm[at] - '0');
      if (value > 1000000) return -1;
      ++at;
    }
    return value;
  };
  if (ppm.size() < 2 || ppm[0] != 'P' || ppm[1] != '6') return std::nullopt;
  at = 2;
  const long width = number(), height = number(), maxval = number();
  if (width <= 0 || height <= 0 || maxval <= 0 || maxval > 65535 || at >= ppm.size()) return std::nullopt;
  ++at;  // the one white space byte before the samples
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
  const size_t bytes_per_sample = maxval > 255 ? 2 : 1;
  if (ppm.size() - at < count * bytes_per_sample) return std::nullopt;
  Rgb image{static_cast<int>(width), static_cast<int>(height), Bytes(count)};
  const auto max = static_cast<unsigned long>(maxval);
  for (size_t i = 0; i < count; ++i) {
    unsigned long value = ppm[at + i * bytes_per_sample];
    if (bytes_per_sample == 2) value = value << 8 | ppm[at + i * 2 + 1];
    image.samples[i] = static_cast<uint8_t>(max == 255 ? value : (value * 255 + max / 2) / max);
  }
  return image;
}

// What MacBin_DecodePicture makes of a PICT file (after its 512-byte
// header): RGB, plus whether every pixel was opaque.
struct Ours {
  bool decoded = false;
  std::string error;
  Rgb image;
  bool opaque = true;
};
Ours decode_ours(const Bytes &pict_file) {
  Ours ours;
  if (pict_file.size() <= 512) {
    ours.error = "shorter than a PICT file's header";
    return ours;
  }
  MacBinPixels pixels{};
  char error[128] = "unset";
  ours.decoded = MacBin_DecodePicture(pict_file.data() + 512, static_cast<int32_t>(pict_file.size() - 512),
                                      &pixels, error) == 1;
  ours.error = error;
  if (ours.decoded) {
    ours.image.width = pixels.width;
    ours.image.height = pixels.height;
    const size_t count = static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height);
    for (size_t i = 0; i < count; ++i) {
      ours.image.samples.insert(ours.image.samples.end(), pixels.rgba + i * 4, pixels.rgba + i * 4 + 3);
      if (pixels.rgba[i * 4 + 3] != 255) ours.opaque = false;
    }
  }
  MacBin_FreePixels(&pixels);
  return ours;
}

std::string quoted(const std::string &path) { return "'" + path + "'"; }

// One ImageMagick conversion: an input with its options, and the output.
struct Step {
  std::string input_path;
  std::string options;
  std::string output_path;  // written as `output_format` (e.g. "ppm:"; empty: by its name)
  std::string output_format = "";
};

// Runs ImageMagick over several conversions in one process, as each start
// costs a good part of a test's time.  An input it cannot read stops the
// run, and what it wrote by then is not to be trusted: the inputs its
// messages name are left out (their outputs removed) and the rest run
// again; when it names none, each conversion runs on its own.  Returns
// false when some conversion failed.
bool convert_all(const std::string &convert, const std::vector<Step> &steps, std::string *output) {
  const auto command = [&](const std::vector<const Step *> &list) {
    std::string text = quoted(convert);
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string target = quoted(list[i]->output_format + list[i]->output_path);
      text += " " + quoted(list[i]->input_path) + " " + list[i]->options +
              (i + 1 < list.size() ? " -write " + target + " +delete" : " " + target);
    }
    return text;
  };
  std::vector<const Step *> pending;
  for (const Step &step : steps) pending.push_back(&step);
  output->clear();
  bool complete = true;
  while (!pending.empty()) {
    std::string run_output;
    if (vt::run_command(command(pending), &run_output) == 0) break;
    *output += run_output;
    complete = false;
    std::vector<const Step *> rest;
    for (const Step *step : pending) {
      std::filesystem::remove(step->output_path);
      if (run_output.find(step->input_path) == std::string::npos) rest.push_back(step);
    }
    if (rest.size() == pending.size()) {  // no input named: one by one
      for (const Step *step : pending)
        if (vt::run_command(command({step}), &run_output) != 0) {
          std::filesystem::remove(step->output_path);
          *output += run_output;
        }
      break;
    }
    pending = rest;
  }
  return complete;
}

// Differences between two images of the same size: how many pixels, and
// the first few.
std::string differences(const Rgb &a, const char *a_name, const Rgb &b, const char *b_name) {
  if (a.width != b.width || a.height != b.height)
    return std::string(a_name) + " " + std::to_string(a.width) + "x" + std::to_string(a.height) + ", " + b_name +
           " " + std::to_string(b.width) + "x" + std::to_string(b.height);
  std::ostringstream text;
  size_t count = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      if (a.pixel(x, y) != b.pixel(x, y) && ++count <= 4)
        text << " (" << x << "," << y << ") " << a_name << " " << a.pixel(x, y) << " " << b_name << " "
             << b.pixel(x, y) << ";";
  return std::to_string(count) + " of " + std::to_string(a.width * a.height) + " pixels differ:" + text.str();
}

struct Peers {
  std::string convert, picttoppm;
};
// Both readers, or nothing (the test is then skipped or failed by
// require_peer).
std::optional<Peers> peers() {
  Peers p{vt::require_peer("convert-im6.q16", "imagemagick"),
          vt::require_peer("picttoppm", "netpbm-free source, built by .ci/install-deps.sh")};
  if (p.convert.empty() || p.picttoppm.empty()) return std::nullopt;
  return p;
}

struct Picture {
  std::string name;
  std::string path;  // a PICT file, with its 512-byte header
  // The pixel image's mask region, as rows ('#' inside), when it has one.
  // Both readers draw such an image whole; ours draws it inside the region
  // only, as the region form asks, and leaves the white canvas elsewhere.
  std::vector<std::string> region = {};
  // The image the picture was made from, when the writer keeps every colour.
  std::optional<Rgb> source = std::nullopt;
  bool outside_region(int x, int y) const {
    if (region.empty()) return false;
    const auto row = static_cast<size_t>(y), column = static_cast<size_t>(x);
    return row >= region.size() || column >= region[row].size() || region[row][column] != '#';
  }
};

// Decodes every picture with both readers and with ours, and compares as
// the head of this file says.
void compare_with_readers(const Peers &peers, const vt::TempDir &dir, const std::vector<Picture> &pictures) {
  std::vector<Step> steps;
  for (const Picture &picture : pictures)
    steps.push_back({picture.path, "-depth 8", dir.file(picture.name + ".im.ppm"), "ppm:"});
  std::string output;
  convert_all(peers.convert, steps, &output);

  size_t agreed = 0;
  for (const Picture &picture : pictures) {
    const std::string &name = picture.name, &path = picture.path;
    SCOPED_TRACE(name);
    const Bytes file = vt::read_file(path);
    const Ours ours = decode_ours(file);
    std::string picttoppm_output;
    // Its standard error stays out of the image: run_command adds 2>&1 after the subshell.
    const bool picttoppm_ran = vt::run_command("(" + quoted(peers.picttoppm) + " " + quoted(path) + " > " +
                                                   quoted(dir.file(name + ".pt.ppm")) + ")",
                                               &picttoppm_output) == 0;
    const std::string im_path = dir.file(name + ".im.ppm"), pt_path = dir.file(name + ".pt.ppm");
    const std::optional<Rgb> im = vt::file_exists(im_path) ? parse_ppm(vt::read_file(im_path)) : std::nullopt;
    const std::optional<Rgb> pt = picttoppm_ran ? parse_ppm(vt::read_file(pt_path)) : std::nullopt;

    if (im && pt && *im == *pt) {
      ++agreed;
      ASSERT_TRUE(ours.decoded) << ours.error;
      EXPECT_EQ(ours.error, "");
      EXPECT_TRUE(ours.opaque);
      Rgb expected = *im;
      for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
          if (picture.outside_region(x, y)) {
            const size_t at =
                (static_cast<size_t>(y) * static_cast<size_t>(expected.width) + static_cast<size_t>(x)) * 3;
            std::fill_n(expected.samples.begin() + static_cast<std::ptrdiff_t>(at), 3, uint8_t{255});
          }
      EXPECT_TRUE(ours.image == expected) << "ours against both readers: "
                                          << differences(ours.image, "ours", expected, "readers");
      continue;
    }
    // The readers disagree (or one could not read it): say how, and whose
    // result ours matches.
    std::string report;
    if (!im) report += "ImageMagick could not read it: " + output + " ";
    if (!pt) report += "picttoppm could not read it: " + picttoppm_output + " ";
    if (im && pt) report = differences(*im, "ImageMagick", *pt, "picttoppm");
    if (!ours.decoded) {
      report += "; ours refused it: " + ours.error;
    } else {
      if (im && ours.image == *im) {
        report += "; ours matches ImageMagick";
      } else if (pt && ours.image == *pt) {
        report += "; ours matches picttoppm";
      } else {
        report += "; ours matches neither";
        if (im) report += "; against ImageMagick " + differences(ours.image, "ours", *im, "ImageMagick");
        if (pt) report += "; against picttoppm " + differences(ours.image, "ours", *pt, "picttoppm");
      }
      if (picture.source)
        report += ours.image == *picture.source ? "; ours is the image it was made from"
                                                : "; ours differs from the image it was made from";
      if (!ours.error.empty()) report += " (" + ours.error + ")";
    }
    std::printf("readers disagree on %s: %s\n", name.c_str(), report.c_str());
    ::testing::Test::RecordProperty("disagreement_" + name, report);
  }
  ::testing::Test::RecordProperty("pictures_both_readers_agree_on", static_cast<int>(agreed));
}

// Test images.  Few colours: at most six, in runs and single pixels, so
// that the writers pack both.  Many colours: every pixel its own.
Rgb few_colours(int width, int height) {
  const uint8_t palette[6][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {0, 0, 0}, {0x12, 0x34, 0x56}};
  Rgb image{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int index = x % 11 < 6 ? (x / 11 + y) % 6 : (x * 5 + y * 3 + x * y) % 6;
      image.samples.insert(image.samples.end(), palette[index], palette[index] + 3);
    }
  return image;
}
Rgb many_colours(int width, int height) {
  Rgb image{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.samples.insert(image.samples.end(), {static_cast<uint8_t>(x * 255 / std::max(width - 1, 1)),
                                                 static_cast<uint8_t>((y * 97 + x * 13) % 256),
                                                 static_cast<uint8_t>((x * 31 + y * 7) % 256 | 1)});
  return image;
}
Rgb grey_levels(int width, int height) {
  Rgb image{width, height, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const auto level = static_cast<uint8_t>((x / 4 * 40 + y * 25) % 256);
      image.samples.insert(image.samples.end(), {level, level, level});
    }
  return image;
}

struct Source {
  std::string name;
  Rgb image;
  bool exact = true;  // false: more colours than the picture can hold
};

// Writes each source as a PPM and has ImageMagick write it as a PICT file
// with `options`.
std::vector<Picture> imagemagick_pictures(const Peers &peers, const vt::TempDir &dir,
                                          const std::vector<Source> &sources, const std::string &options) {
  std::vector<Step> steps;
  std::vector<Picture> pictures;
  for (const Source &s : sources) {
    vt::write_file(dir.file(s.name + ".ppm"), ppm_of(s.image));
    steps.push_back({dir.file(s.name + ".ppm"), options, dir.file(s.name + ".pict")});
    pictures.push_back({s.name, dir.file(s.name + ".pict"), {}, s.exact ? std::optional<Rgb>(s.image) : std::nullopt});
  }
  std::string output;
  EXPECT_TRUE(convert_all(peers.convert, steps, &output)) << output;
  return pictures;
}

TEST(DecodePeers, ImageMagickEightBitPictures) {
  const std::optional<Peers> p = peers();
  if (!p) GTEST_SKIP() << "a reader is missing";
  vt::TempDir dir;
  // Packed rows up to 250 bytes have one count byte, beyond two; the range
  // from 201 bytes is where writers differ.
  const std::vector<Source> sources = {
      {"few_9x4", few_colours(9, 4)},     {"few_33x3", few_colours(33, 3)},
      {"few_201x2", few_colours(201, 2)}, {"few_202x2", few_colours(202, 2)},
      {"few_250x2", few_colours(250, 2)}, {"few_251x2", few_colours(251, 2)}, {"few_300x3", few_colours(300, 3)},
      {"grey_13x4", grey_levels(13, 4)},  {"many_40x9", many_colours(40, 9), false}};  // reduced to 256 colours
  // A PPM is read as direct colour: without -type Palette the pictures
  // would be 32-bit.  Dithering the reduction takes ImageMagick a third of
  // a second a picture.
  compare_with_readers(*p, dir, imagemagick_pictures(*p, dir, sources, "+dither -type Palette"));
}

TEST(DecodePeers, ImageMagickDirectPictures) {
  const std::optional<Peers> p = peers();
  if (!p) GTEST_SKIP() << "a reader is missing";
  vt::TempDir dir;
  // 32-bit pixels: 4 bytes a pixel, so row bytes over 200 from 51 pixels
  // on, over 250 from 63.
  const std::vector<Source> sources = {
      {"many_3x3", many_colours(3, 3)},   {"many_17x4", many_colours(17, 4)},
      {"many_50x2", many_colours(50, 2)}, {"many_51x2", many_colours(51, 2)}, {"many_62x2", many_colours(62, 2)},
      {"many_63x2", many_colours(63, 2)}, {"many_84x2", many_colours(84, 2)}, {"many_101x3", many_colours(101, 3)},
      {"few_9x4", few_colours(9, 4)}};
  compare_with_readers(*p, dir, imagemagick_pictures(*p, dir, sources, "-type TrueColor"));
}

TEST(DecodePeers, ImageMagickRowsUnderEightBytes) {
  const std::optional<Peers> p = peers();
  if (!p) GTEST_SKIP() << "a reader is missing";
  vt::TempDir dir;
  // Rows under 8 bytes are stored unpacked.  Kept apart: ImageMagick cannot
  // read some of its own, and a failure makes it run once per picture.
  std::vector<Picture> pictures = imagemagick_pictures(
      *p, dir, {{"few_1x3", few_colours(1, 3)}, {"few_7x3", few_colours(7, 3)}}, "+dither -type Palette");
  for (Picture &picture : imagemagick_pictures(*p, dir, {{"many_1x2", many_colours(1, 2)}}, "-type TrueColor"))
    pictures.push_back(std::move(picture));
  compare_with_readers(*p, dir, pictures);
}

TEST(DecodePeers, NetpbmPictures) {
  const std::optional<Peers> p = peers();
  if (!p) GTEST_SKIP() << "a reader is missing";
  const std::string ppmtopict = vt::require_peer("ppmtopict", "netpbm");
  if (ppmtopict.empty()) GTEST_SKIP() << "netpbm is not installed";
  vt::TempDir dir;
  // ppmtopict takes 8 pixels a row or more, and 256 colours at most.
  const std::vector<Source> sources = {{"few_8x3", few_colours(8, 3)},     {"few_9x4", few_colours(9, 4)},
                                       {"few_33x3", few_colours(33, 3)},   {"few_201x2", few_colours(201, 2)},
                                       {"few_202x2", few_colours(202, 2)}, {"few_250x2", few_colours(250, 2)},
                                       {"few_251x2", few_colours(251, 2)},
                                       {"few_300x3", few_colours(300, 3)}, {"grey_13x4", grey_levels(13, 4)},
                                       {"many_15x15", many_colours(15, 15)}};
  std::vector<Picture> pictures;
  for (const Source &s : sources) {
    vt::write_file(dir.file(s.name + ".ppm"), ppm_of(s.image));
    std::string output;
    ASSERT_EQ(vt::run_command("(" + quoted(ppmtopict) + " " + quoted(dir.file(s.name + ".ppm")) + " > " +
                                  quoted(dir.file(s.name + ".pict")) + ")",
                              &output),
              0)
        << s.name << ": " << output;
    pictures.push_back({s.name, dir.file(s.name + ".pict"), {}, s.image});
  }
  compare_with_readers(*p, dir, pictures);
}

TEST(DecodePeers, OwnPreviewPictures) {
  const std::optional<Peers> p = peers();
  if (!p) GTEST_SKIP() << "a reader is missing";
  vt::init_recording();
  vt::ImageHost host;
  host.install();
  host.add_grey("grey", 37, 5, 1);
  host.add_grey("grey_wide", 301, 3, 1);
  host.add_grey("rgb", 13, 4, 3);
  host.add_grey("cmyk", 7, 2, 4);
  host.add_grey("masked", 24, 6, 1);
  const std::vector<std::string> mask = {"........................", "...#######.....####.....",
                                         "...#######..............", "########################",
                                         "..........#####.........", "........................"};
  host.add_mask("mask", 24, mask);
  vt::TempDir dir;
  std::vector<Picture> pictures;
  for (const std::string &param : std::vector<std::string>{"grey 72", "grey_wide 72", "rgb 72", "cmyk 72",
                                                          "masked 72 mask"}) {
    vt::ScratchOutput out;
    MacBinChannel *channel = out.open_channel("PICT", 128, "preview");
    ASSERT_EQ(MacBin_Add_PICT(channel, param.c_str()), 1) << param;
    const std::string name = param.substr(0, param.find(' '));
    vt::write_file(dir.file(name + ".pict"), vt::concat({vt::repeat(0, 512), out.bytes()}));
    pictures.push_back({name, dir.file(name + ".pict"), name == "masked" ? mask : std::vector<std::string>{}});
  }
  compare_with_readers(*p, dir, pictures);
}

// ---- The count before a packed row: a byte or a word ------------------------
// Pictures built here byte by byte, as the writers above store them, so
// that the rule is checked without the peers too.

void append_rect(Bytes &out, int top, int left, int bottom, int right) {
  for (const int v : {top, left, bottom, right}) vt::append_be16(out, static_cast<uint32_t>(v));
}

// PackBits as literal runs of at most 128 bytes.
Bytes literal_runs(const Bytes &row) {
  Bytes packed;
  for (size_t at = 0; at < row.size(); at += 128) {
    const size_t n = std::min<size_t>(128, row.size() - at);
    packed.push_back(static_cast<uint8_t>(n - 1));
    packed.insert(packed.end(), row.begin() + static_cast<std::ptrdiff_t>(at),
                  row.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  return packed;
}

// A version 2 picture of one packed pixel image, `width` x `rows.size()`:
// 8-bit indexed with `table` (entries of 16-bit red, green, blue), or
// 32-bit direct packed by component when the table is empty.  Each row's
// bytes are packed and preceded by a count word or a count byte.
Bytes packed_picture(int width, int row_bytes, const std::vector<Bytes> &rows,
                     const std::vector<std::array<uint16_t, 3>> &table, bool word_counts) {
  const int height = static_cast<int>(rows.size());
  const bool direct = table.empty();
  Bytes p(2, 0);  // picture size: unused
  append_rect(p, 0, 0, height, width);
  p = vt::concat({p, vt::hex("00 11 02 FF  0C 00 FF FF FF FF"), Bytes(16, 0), vt::hex("00 00 00 00")});
  vt::append_be16(p, direct ? 0x9Au : 0x98u);
  if (direct) vt::append_be32(p, 0xFF);  // base address
  vt::append_be16(p, 0x8000u | static_cast<uint32_t>(row_bytes));
  append_rect(p, 0, 0, height, width);
  vt::append_be16(p, 0);                 // version
  vt::append_be16(p, direct ? 4u : 0u);  // packing type
  p = vt::concat({p, vt::hex("00 00 00 00  00 48 00 00  00 48 00 00")});
  p = vt::concat({p, direct ? vt::hex("00 10 00 20 00 03 00 08") : vt::hex("00 00 00 08 00 01 00 08")});
  p = vt::concat({p, Bytes(12, 0)});
  if (!direct) {
    p = vt::concat({p, vt::hex("00 00 00 00 00 00")});
    vt::append_be16(p, static_cast<uint32_t>(table.size() - 1));
    for (size_t i = 0; i < table.size(); ++i) {
      vt::append_be16(p, static_cast<uint32_t>(i));
      for (const uint16_t v : table[i]) vt::append_be16(p, v);
    }
  }
  append_rect(p, 0, 0, height, width);
  append_rect(p, 0, 0, height, width);
  vt::append_be16(p, 0);  // srcCopy
  for (const Bytes &row : rows) {
    const Bytes packed = literal_runs(row);
    if (word_counts)
      vt::append_be16(p, static_cast<uint32_t>(packed.size()));
    else
      p.push_back(static_cast<uint8_t>(packed.size()));
    p = vt::concat({p, packed});
  }
  if (p.size() % 2) p.push_back(0);
  return vt::concat({p, vt::hex("00 FF")});
}

Rgb decoded_rgb(const Bytes &picture, std::string *error) {
  MacBinPixels pixels{};
  char text[128] = "unset";
  Rgb image;
  if (MacBin_DecodePicture(picture.data(), static_cast<int32_t>(picture.size()), &pixels, text) == 1) {
    image.width = pixels.width;
    image.height = pixels.height;
    const size_t count = static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height);
    for (size_t i = 0; i < count; ++i)
      image.samples.insert(image.samples.end(), pixels.rgba + i * 4, pixels.rgba + i * 4 + 3);
  }
  MacBin_FreePixels(&pixels);
  *error = text;
  return image;
}

TEST(DecodePictureCounts, IndexedRowsOfWidthsAroundTheLimitsWithEitherCount) {
  const std::vector<std::array<uint16_t, 3>> table = {
      {0xFFFF, 0xFFFF, 0xFFFF}, {0xFFFF, 0, 0}, {0, 0xFFFF, 0}, {0, 0, 0xFFFF}, {0, 0, 0}};
  // Row bytes 201 to 250, where writers differ on the count's size, and 251,
  // past the limit: the count the row bytes call for, then the other size.
  for (const int width : {201, 202, 230, 250, 251}) {
    std::vector<Bytes> rows;
    Rgb expected{width, 2, {}};
    for (int y = 0; y < 2; ++y) {
      Bytes row;
      for (int x = 0; x < width; ++x) {
        const auto index = static_cast<uint8_t>((x * 3 + y) % 5);
        row.push_back(index);
        for (const uint16_t v : table[index]) expected.samples.push_back(static_cast<uint8_t>(v >> 8));
      }
      rows.push_back(row);
    }
    for (const bool word_counts : {width > 250, width <= 250}) {
      SCOPED_TRACE(std::to_string(width) + (word_counts ? " pixels, count words" : " pixels, count bytes"));
      std::string error;
      const Rgb decoded = decoded_rgb(packed_picture(width, width, rows, table, word_counts), &error);
      EXPECT_EQ(error, "");
      EXPECT_TRUE(decoded == expected) << differences(decoded, "decoded", expected, "expected");
    }
  }
}

TEST(DecodePictureCounts, DirectRowsWithEitherCount) {
  // 32 bits a pixel: row bytes 4 x width; the packed planes hold 3 x width.
  for (const int width : {51, 62, 63, 83, 84}) {
    std::vector<Bytes> rows;
    Rgb expected{width, 3, {}};  // the planes are red, green, blue
    for (int y = 0; y < 3; ++y) {
      Bytes planes(static_cast<size_t>(width) * 3);
      for (int x = 0; x < width; ++x) {
        const std::array<uint8_t, 3> rgb = {static_cast<uint8_t>(x * 3), static_cast<uint8_t>(255 - x),
                                            static_cast<uint8_t>(y * 80 + x % 7)};
        for (size_t c = 0; c < 3; ++c) planes[c * static_cast<size_t>(width) + static_cast<size_t>(x)] = rgb[c];
        expected.samples.insert(expected.samples.end(), rgb.begin(), rgb.end());
      }
      rows.push_back(planes);
    }
    for (const bool word_counts : {width * 4 > 250, width * 4 <= 250}) {
      SCOPED_TRACE(std::to_string(width) + (word_counts ? " pixels, count words" : " pixels, count bytes"));
      std::string error;
      const Rgb decoded = decoded_rgb(packed_picture(width, width * 4, rows, {}, word_counts), &error);
      EXPECT_EQ(error, "");
      EXPECT_TRUE(decoded == expected) << differences(decoded, "decoded", expected, "expected");
    }
  }
}

}  // namespace
