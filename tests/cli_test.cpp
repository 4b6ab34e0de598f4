// The varnel tool, run as a user runs it: a separate process with arguments,
// standard input, output and error, an exit status and files.  Images are
// made here byte by byte (PNG with stored deflate blocks, netpbm) so every
// expected pixel is known; PNG results are decoded by netpbm's pngtopnm.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/support.hpp"

namespace {

using vt::Bytes;
using Json = nlohmann::json;

// ---- Running the tool -------------------------------------------------------

std::string quoted(const std::string &text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The tool in the build tree this test belongs to.
std::string tool_path() {
  return std::filesystem::absolute(vt::binary_dir() + "/tools/varnel").string();
}

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `varnel ARGUMENTS` (shell words, quote them) in `directory`, with
// standard input from `input` (a file path) or empty.
ToolRun varnel(const std::filesystem::path &directory, const std::string &arguments,
           const std::string &input = "/dev/null") {
  vt::TempDir capture;
  const std::string out = capture.file("out");
  const std::string err = capture.file("err");
  const std::string command = "cd " + quoted(directory.string()) + " && " + quoted(tool_path()) + " " +
                              arguments + " <" + quoted(input) + " >" + quoted(out) + " 2>" + quoted(err);
  const int raw = std::system(command.c_str());
  ToolRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  const Bytes out_bytes = vt::read_file(out);
  const Bytes err_bytes = vt::read_file(err);
  run.out.assign(out_bytes.begin(), out_bytes.end());
  run.err.assign(err_bytes.begin(), err_bytes.end());
  return run;
}

std::string describe(const ToolRun &run) {
  return "status " + std::to_string(run.status) + "\nstdout:\n" + run.out + "\nstderr:\n" + run.err;
}

// Files in `directory` (names), to prove nothing half-written stays behind.
std::vector<std::string> files_in(const std::filesystem::path &directory) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// ---- Making images ----------------------------------------------------------

void put16(Bytes &out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}
void put32(Bytes &out, uint32_t value) {
  put16(out, value >> 16);
  put16(out, value & 0xFFFF);
}
void append(Bytes &out, const Bytes &more) { out.insert(out.end(), more.begin(), more.end()); }

uint32_t crc32_of(const Bytes &bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

// A zlib stream of stored (uncompressed) deflate blocks.
Bytes zlib_stored(const Bytes &raw) {
  Bytes out = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t length = std::min<size_t>(raw.size() - at, 65535);
    out.push_back(at + length == raw.size() ? 1 : 0);
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(~length));
    out.push_back(static_cast<uint8_t>(~length >> 8));
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
               raw.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  } while (at < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  put32(out, (b << 16) | a);
  return out;
}

void put_chunk(Bytes &png, const char *type, const Bytes &data) {
  put32(png, static_cast<uint32_t>(data.size()));
  Bytes body = vt::bytes_of(std::string_view(type, 4));
  append(body, data);
  append(png, body);
  put32(png, crc32_of(body));
}

struct PngLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t bit_depth = 8;
  uint8_t colour_type = 2;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
  Bytes rows;               // packed rows, without filter bytes
  std::optional<uint32_t> pixels_per_metre;
  Bytes palette;      // PLTE
  Bytes transparency; // tRNS
};

Bytes encode_png(const PngLayout &layout) {
  Bytes png = vt::hex("89 50 4E 47 0D 0A 1A 0A");
  Bytes header;
  put32(header, layout.width);
  put32(header, layout.height);
  append(header, {layout.bit_depth, layout.colour_type, 0, 0, 0});
  put_chunk(png, "IHDR", header);
  if (layout.pixels_per_metre) {
    Bytes phys;
    put32(phys, *layout.pixels_per_metre);
    put32(phys, *layout.pixels_per_metre);
    phys.push_back(1);
    put_chunk(png, "pHYs", phys);
  }
  if (!layout.palette.empty()) put_chunk(png, "PLTE", layout.palette);
  if (!layout.transparency.empty()) put_chunk(png, "tRNS", layout.transparency);
  const size_t row_bytes = layout.rows.size() / layout.height;
  Bytes raw;
  for (uint32_t y = 0; y < layout.height; ++y) {
    raw.push_back(0);  // filter: none
    raw.insert(raw.end(), layout.rows.begin() + static_cast<std::ptrdiff_t>(y * row_bytes),
               layout.rows.begin() + static_cast<std::ptrdiff_t>((y + 1) * row_bytes));
  }
  put_chunk(png, "IDAT", zlib_stored(raw));
  put_chunk(png, "IEND", {});
  return png;
}

Bytes png_of(uint32_t width, uint32_t height, uint8_t colour_type, const Bytes &rows,
             std::optional<uint32_t> pixels_per_metre = std::nullopt) {
  PngLayout layout;
  layout.width = width;
  layout.height = height;
  layout.colour_type = colour_type;
  layout.rows = rows;
  layout.pixels_per_metre = pixels_per_metre;
  return encode_png(layout);
}

// ---- Reading results ----------------------------------------------------------

struct Raster {
  int width = 0;
  int height = 0;
  int channels = 0;  // 1 (P5) or 3 (P6)
  Bytes samples;
  std::array<uint8_t, 3> rgb(int x, int y) const {
    const size_t at = (static_cast<size_t>(y) * width + x) * channels;
    if (channels == 1) return {samples[at], samples[at], samples[at]};
    return {samples[at], samples[at + 1], samples[at + 2]};
  }
  uint8_t grey(int x, int y) const { return samples[static_cast<size_t>(y) * width + x]; }
};

Raster parse_pnm(const Bytes &bytes) {
  Raster raster;
  size_t at = 0;
  auto number = [&] {
    while (at < bytes.size() && std::isspace(bytes[at])) ++at;
    int value = 0;
    while (at < bytes.size() && std::isdigit(bytes[at])) value = value * 10 + (bytes[at++] - '0');
    return value;
  };
  if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) return raster;
  raster.channels = bytes[1] == '6' ? 3 : 1;
  at = 2;
  raster.width = number();
  raster.height = number();
  number();  // maxval 255
  ++at;
  raster.samples.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
  return raster;
}

// Decodes a PNG with pngtopnm; `alpha` asks for its alpha channel instead.
std::optional<Raster> decode_png(const std::string &path, bool alpha = false) {
  const std::string program = vt::require_peer("pngtopnm", "netpbm");
  if (program.empty()) return std::nullopt;
  vt::TempDir scratch;
  const std::string out = scratch.file("out.pnm");
  const std::string command = quoted(program) + (alpha ? " -alpha " : " ") + quoted(path) + " >" +
                              quoted(out) + " 2>/dev/null";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  Raster raster = parse_pnm(vt::read_file(out));
  if (raster.width == 0) return std::nullopt;
  return raster;
}

std::string text_of(const std::string &path) {
  const Bytes bytes = vt::read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

// ---- Hand-made MacBinary files (for foreign and damaged ones) -----------------

uint16_t crc16_xmodem(const Bytes &bytes, size_t count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < count; ++i) {
    crc = static_cast<uint16_t>(crc ^ (bytes[i] << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

struct FakeResource {
  std::string type;
  int16_t id;
  std::string name;  // empty: none
  Bytes data;
};

// A resource fork laid out as the Macintosh keeps one: fork header, data,
// map with type list, reference lists and name list.
Bytes resource_fork_of(const std::vector<FakeResource> &resources) {
  Bytes data_area;
  std::vector<uint32_t> data_offsets;
  for (const FakeResource &resource : resources) {
    data_offsets.push_back(static_cast<uint32_t>(data_area.size()));
    put32(data_area, static_cast<uint32_t>(resource.data.size()));
    append(data_area, resource.data);
  }
  std::vector<std::string> types;
  std::map<std::string, std::vector<size_t>> by_type;
  for (size_t i = 0; i < resources.size(); ++i) {
    if (by_type[resources[i].type].empty()) types.push_back(resources[i].type);
    by_type[resources[i].type].push_back(i);
  }
  Bytes type_list, references, names;
  put16(type_list, static_cast<uint32_t>(types.size() - 1) & 0xFFFF);
  size_t reference_offset = 2 + 8 * types.size();
  for (const std::string &type : types) {
    append(type_list, vt::bytes_of(type));
    put16(type_list, static_cast<uint32_t>(by_type[type].size() - 1));
    put16(type_list, static_cast<uint32_t>(reference_offset));
    reference_offset += 12 * by_type[type].size();
    for (size_t index : by_type[type]) {
      const FakeResource &resource = resources[index];
      put16(references, static_cast<uint16_t>(resource.id));
      if (resource.name.empty()) {
        put16(references, 0xFFFF);
      } else {
        put16(references, static_cast<uint32_t>(names.size()));
        names.push_back(static_cast<uint8_t>(resource.name.size()));
        append(names, vt::bytes_of(resource.name));
      }
      put32(references, 0x20000000u | data_offsets[index]);  // attributes: purgeable
      put32(references, 0);
    }
  }
  Bytes map(24, 0);
  put16(map, 28);
  put16(map, static_cast<uint32_t>(28 + type_list.size() + references.size()));
  append(map, type_list);
  append(map, references);
  append(map, names);
  Bytes header;
  put32(header, 256);
  put32(header, static_cast<uint32_t>(256 + data_area.size()));
  put32(header, static_cast<uint32_t>(data_area.size()));
  put32(header, static_cast<uint32_t>(map.size()));
  std::copy(header.begin(), header.end(), map.begin());
  Bytes fork = header;
  fork.resize(256, 0);
  append(fork, data_area);
  append(fork, map);
  return fork;
}

Bytes macbinary_ii_of(const std::string &name, const std::string &type, const std::string &creator,
                      const Bytes &data_fork, const Bytes &resource_fork) {
  Bytes file(128, 0);
  file[1] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), file.begin() + 2);
  std::copy(type.begin(), type.end(), file.begin() + 65);
  std::copy(creator.begin(), creator.end(), file.begin() + 69);
  for (int i = 0; i < 4; ++i) {
    file[83 + i] = static_cast<uint8_t>(data_fork.size() >> (24 - 8 * i));
    file[87 + i] = static_cast<uint8_t>(resource_fork.size() >> (24 - 8 * i));
  }
  file[122] = 129;
  file[123] = 129;
  const uint16_t crc = crc16_xmodem(file, 124);
  file[124] = static_cast<uint8_t>(crc >> 8);
  file[125] = static_cast<uint8_t>(crc);
  for (const Bytes *fork : {&data_fork, &resource_fork}) {
    append(file, *fork);
    file.resize((file.size() + 127) / 128 * 128, 0);
  }
  return file;
}

void refresh_crc(Bytes &file) {
  const uint16_t crc = crc16_xmodem(file, 124);
  file[124] = static_cast<uint8_t>(crc >> 8);
  file[125] = static_cast<uint8_t>(crc);
}

// ---- The sample document --------------------------------------------------

std::filesystem::path sample_dir() { return std::filesystem::path(vt::source_dir()) / "examples/sample"; }

// Packs the sample as the demo does, into `directory`/Sample.bin.
ToolRun pack_sample(const std::filesystem::path &directory) {
  return varnel(directory, "pack -o Sample.bin --creator VARN --type TEXT --name Sample --data " +
                               quoted((sample_dir() / "document.txt").string()) + " " +
                               quoted((sample_dir() / "sample.rsrc").string()));
}

const Json *find_resource(const Json &listing, const std::string &type, int id) {
  for (const Json &resource : listing["resources"])
    if (resource["type"] == type && resource["id"] == id) return &resource;
  return nullptr;
}

// ============================================================================

TEST(CliUsage, VersionAndHelpGoToStandardOutput) {
  vt::TempDir dir;
  const ToolRun version = varnel(dir.path(), "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("varnel ") + VARNEL_VERSION_STRING + "\n");
  EXPECT_EQ(version.err, "");
  for (const char *command : {"pack", "list", "extract", "render", "ct"}) {
    const ToolRun help = varnel(dir.path(), std::string(command) + " --help");
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_NE(help.out.find(std::string("Usage: varnel ") + command), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Exit status"), std::string::npos) << command;
    EXPECT_EQ(help.err, "") << command;
  }
  const ToolRun overall = varnel(dir.path(), "--help");
  EXPECT_EQ(overall.status, 0);
  EXPECT_NE(overall.out.find("render"), std::string::npos);
}

TEST(CliUsage, MistakesExitWithStatus2AndWriteNothing) {
  vt::TempDir dir;
  vt::write_text(dir.file("script"), "");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "no command given"},
      {"frobnicate", "unknown command 'frobnicate'"},
      {"--frob", "unknown option '--frob'"},
      {"pack --creator VARN --type TEXT script", "pack needs an output file (-o OUT)"},
      {"pack -o out.bin --type TEXT script", "pack needs a creator code"},
      {"pack -o out.bin --creator VARN script", "pack needs a file type"},
      {"pack -o out.bin --creator TOOLONG --type TEXT script", "creator 'TOOLONG' must be 1 to 4"},
      {"pack -o out.bin --creator VARN --type TEXT --format iii script", "--format must be 'ii' or 'classic'"},
      {"pack -o out.bin --creator VARN --type TEXT --name 'a:b' script", "must not contain ':'"},
      {"pack -o out.bin --creator VARN --type TEXT --name " + std::string(32, 'n') + " script",
       "must be 1 to 31 characters"},
      {"pack -o out.bin --creator VARN --type TEXT --data - -", "cannot both come from standard input"},
      {"pack -o out.bin --creator VARN --type TEXT -o", "option -o needs a value"},
      {"pack -o out.bin --creator VARN --type TEXT script extra", "unexpected argument 'extra'"},
      {"list", "list needs a MacBinary file"},
      {"list --json=yes x.bin", "option --json takes no value"},
      {"extract x.bin", "extract needs one of"},
      {"extract x.bin --data a --rsrc b", "extract does one of"},
      {"extract x.bin --resource TEXT", "--resource needs TYPE ID OUT"},
      {"extract x.bin --resource TEXT 99999 out", "resource ID '99999' must be"},
      {"render x.bin", "render needs a MacBinary file and a directory"},
      {"ct in.png", "ct needs an input image and an output CT file"},
      {"ct in.png out.ct --palette rainbow", "--palette must be mac256, mac16, grey or mono"},
  };
  for (const auto &[arguments, message] : cases) {
    const ToolRun run = varnel(dir.path(), arguments);
    EXPECT_EQ(run.status, 2) << arguments << "\n" << describe(run);
    EXPECT_NE(run.err.find(message), std::string::npos) << arguments << "\n" << run.err;
    EXPECT_NE(run.err.find("--help"), std::string::npos) << arguments;
    EXPECT_EQ(run.out, "") << arguments;
  }
  EXPECT_EQ(files_in(dir.path()), std::vector<std::string>{"script"});
}

// ---- pack and list ------------------------------------------------------------

TEST(CliPack, SampleDocumentListsBackAsJson) {
  vt::TempDir dir;
  const ToolRun pack = pack_sample(dir.path());
  ASSERT_EQ(pack.status, 0) << describe(pack);
  EXPECT_EQ(pack.out, "");
  EXPECT_NE(pack.err.find("wrote Sample.bin"), std::string::npos);

  const ToolRun list = varnel(dir.path(), "list --json Sample.bin");
  ASSERT_EQ(list.status, 0) << describe(list);
  const Json listing = Json::parse(list.out);  // standard output holds the JSON and nothing else
  EXPECT_EQ(listing["format"], "MacBinary II");
  EXPECT_TRUE(listing["crc"]["valid"]);
  EXPECT_EQ(listing["name"], "Sample");
  EXPECT_EQ(listing["type"], "TEXT");
  EXPECT_EQ(listing["creator"], "VARN");
  EXPECT_EQ(listing["finder_flags"]["value"], 0x2100);
  EXPECT_EQ(listing["finder_flags"]["names"], Json({"hasBundle", "hasBeenInited"}));
  EXPECT_EQ(listing["data_fork_length"], vt::read_file((sample_dir() / "document.txt").string()).size());

  // Type, ID, size of every resource, in map order.
  const std::vector<std::tuple<std::string, int, size_t>> expected = {
      {"vers", 1, 39},   {"vers", 2, 24},   {"FREF", 128, 7},  {"FREF", 129, 7},
      {"ICN#", 128, 256}, {"icl8", 128, 1024}, {"icl4", 128, 512}, {"ics#", 128, 64},
      {"ics8", 128, 256}, {"ics4", 128, 128}, {"PICT", 128, 0},  {"TEXT", 128, 0},
      {"VARN", 0, 34},   {"BNDL", 128, 36}};
  ASSERT_EQ(listing["resources"].size(), expected.size()) << list.out;
  for (size_t i = 0; i < expected.size(); ++i) {
    const Json &resource = listing["resources"][i];
    EXPECT_EQ(resource["type"], std::get<0>(expected[i])) << i;
    EXPECT_EQ(resource["id"], std::get<1>(expected[i])) << i;
    if (std::get<2>(expected[i]) != 0) {
      EXPECT_EQ(resource["size"], std::get<2>(expected[i])) << i;
    }
    EXPECT_EQ(resource["attribute_names"], Json({"purgeable"})) << i;
  }
  EXPECT_EQ((*find_resource(listing, "TEXT", 128))["size"],
            vt::read_file((sample_dir() / "readme.txt").string()).size());
  EXPECT_EQ((*find_resource(listing, "TEXT", 128))["name"], "Read Me");
  EXPECT_EQ((*find_resource(listing, "PICT", 128))["name"], "Preview");
  EXPECT_TRUE((*find_resource(listing, "vers", 1))["name"].is_null());

  const Json &version = (*find_resource(listing, "vers", 1))["decoded"];
  EXPECT_EQ(version["version"], "1.0");
  EXPECT_EQ(version["stage"], "final");
  EXPECT_EQ(version["short"], "1.0");
  EXPECT_EQ(version["long"], "Sample 1.0 written by varnel");
  EXPECT_EQ((*find_resource(listing, "FREF", 129))["decoded"]["file_type"], "VDOC");
  EXPECT_EQ((*find_resource(listing, "FREF", 129))["decoded"]["local_icon"], 1);
  EXPECT_EQ((*find_resource(listing, "VARN", 0))["decoded"]["owner_text"], "Sample document written by varnel");
  const Json &bundle = (*find_resource(listing, "BNDL", 128))["decoded"];
  EXPECT_EQ(bundle["owner"], "VARN");
  EXPECT_EQ(bundle["types"][0]["type"], "FREF");
  EXPECT_EQ(bundle["types"][0]["entries"],
            Json::parse(R"([{"local_id":0,"id":128},{"local_id":1,"id":129}])"));
  EXPECT_EQ(bundle["types"][1]["type"], "ICN#");
}

TEST(CliPack, SampleDocumentListsAsText) {
  vt::TempDir dir;
  ASSERT_EQ(pack_sample(dir.path()).status, 0);
  const ToolRun list = varnel(dir.path(), "list Sample.bin");
  ASSERT_EQ(list.status, 0) << describe(list);
  for (const char *line :
       {"Format:        MacBinary II, CRC 0x", "Name:          Sample\n", "Creator:       VARN\n",
        "Finder flags:  0x2100 hasBundle hasBeenInited\n", "Data fork:     38 bytes\n", "Resources:     14\n",
        "  vers       1        39  purgeable\n",
        "        version 1.0 (final), region 0, short \"1.0\", long \"Sample 1.0 written by varnel\"\n",
        "  TEXT     128       164  purgeable   \"Read Me\"\n",
        "        owner \"VARN\" 0; FREF: 0=128 1=129; ICN#: 0=128 1=128\n"})
    EXPECT_NE(list.out.find(line), std::string::npos) << line << "\n" << list.out;
  EXPECT_EQ(list.err, "");
}

TEST(CliPack, ClassicFormatAndQuietRun) {
  vt::TempDir dir;
  vt::write_text(dir.file("notes.txt"), "notes");
  const ToolRun pack = varnel(dir.path(),
                          "-q pack -o Notes.bin --creator ttxt --type TEXT --format classic --data notes.txt "
                          "-e 'TEXT 128 \"Read Me\" notes.txt'");
  ASSERT_EQ(pack.status, 0) << describe(pack);
  EXPECT_EQ(pack.err, "");  // -q: no notices
  const Bytes file = vt::read_file(dir.file("Notes.bin"));
  ASSERT_GE(file.size(), 128u);
  EXPECT_EQ(Bytes(file.begin() + 99, file.begin() + 103), vt::hex("00 00 00 4C"));  // the classic marker
  const Json listing = Json::parse(varnel(dir.path(), "list --json Notes.bin").out);
  EXPECT_EQ(listing["format"], "classic");
  EXPECT_FALSE(listing["crc"]["valid"]);
  EXPECT_EQ(listing["name"], "Notes");  // OUT without ".bin"
  EXPECT_EQ(listing["creator"], "ttxt");
  EXPECT_EQ(listing["finder_flags"]["names"], Json({"hasBeenInited"}));  // no FREF, no bundle
}

TEST(CliPack, ScriptAndDataForkFromStandardInput) {
  vt::TempDir dir;
  vt::write_text(dir.file("a.txt"), "alpha");
  vt::write_text(dir.file("script"), "; from standard input\nTEXT 1 first a.txt\r\n\n  TEXT 2 \"\" a.txt\n");
  ToolRun pack = varnel(dir.path(), "pack -o one.bin --creator VARN --type TEXT --name 'Café' -e 'TEXT 3 x a.txt' -",
                    dir.file("script"));
  ASSERT_EQ(pack.status, 0) << describe(pack);
  Json listing = Json::parse(varnel(dir.path(), "list --json one.bin").out);
  EXPECT_EQ(listing["name"], "Café");  // written in MacRoman, listed in UTF-8
  ASSERT_EQ(listing["resources"].size(), 4u);
  EXPECT_EQ(listing["resources"][0]["name"], "first");
  EXPECT_EQ(listing["resources"][1]["id"], 2);
  EXPECT_EQ(listing["resources"][2]["id"], 3);
  const Bytes one = vt::read_file(dir.file("one.bin"));
  EXPECT_EQ(Bytes(one.begin() + 1, one.begin() + 6), vt::hex("04 43 61 66 8E"));  // "Café" in MacRoman

  vt::write_text(dir.file("data"), std::string(300, 'd'));
  pack = varnel(dir.path(), "pack -o two.bin --creator VARN --type TEXT --data -", dir.file("data"));
  ASSERT_EQ(pack.status, 0) << describe(pack);
  listing = Json::parse(varnel(dir.path(), "list --json two.bin").out);
  EXPECT_EQ(listing["data_fork_length"], 300);
}

TEST(CliPack, BadResourceLinesNameTheLineAndWriteNothing) {
  vt::TempDir dir;
  vt::write_text(dir.file("a.txt"), "alpha");
  vt::write_text(dir.file("empty.txt"), "");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"vers 1 \"\" 1.0", "vers wants 'M.mb S R REGION/short/long'"},
      {"vers 1 \"\" 1.00 f 0 0/1.0/x", "vers release stage 'f' must be D"},
      {"vers 1 \"\" 1.00 F 0 0/1.0", "vers wants"},
      {"FREF 128 \"\" TEXT", "FREF wants 'TYPE ICON-ID'"},
      {"TEXT abc x a.txt", "resource ID 'abc' must be a whole number"},
      {"TEXT 40000 x a.txt", "resource ID '40000'"},
      {"TOOLONG 1 x a.txt", "resource type 'TOOLONG' must be 1 to 4 characters"},
      {"TEXT 1 " + std::string(128, 'n') + " a.txt", "resource name longer than 127"},
      {"TEXT 1 x", "TEXT needs a file whose contents become the resource"},
      {"TEXT 1 x missing.txt", "missing.txt: no such file"},
      {"TEXT 1 x empty.txt", "empty.txt: the file is empty"},
      {"VARN 0 x a.txt", "VARN 0 is the owner resource"},
      {"BNDL owner text with blanks", "BNDL takes one word"},
      {"BNDL " + std::string(100, 'o'), "the owner text must be at most 99"},
      {"TEXT 1", "Syntax error in line ?"},
      {"JUNK", "ERROR in line ?"},
      {"PICT 1 p a.txt", "PICT wants 'IMAGE RESOLUTION [MASK]'"},
      {"PICT 1 p a.txt 0", "PICT resolution '0' must be a whole number"},
      {"TEXT 1 " + std::string(520, 'x'), "line longer than 511 characters"},
  };
  for (const auto &[line, message] : cases) {
    vt::write_text(dir.file("bad.rsrc"), "; a comment\nTEXT 100 ok a.txt\n" + line + "\n");
    const ToolRun run = varnel(dir.path(), "pack -o out.bin --creator VARN --type TEXT bad.rsrc");
    EXPECT_EQ(run.status, 1) << line << "\n" << describe(run);
    EXPECT_NE(run.err.find("bad.rsrc:3: error: " + message), std::string::npos) << line << "\n" << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(vt::file_exists(dir.file("out.bin"))) << line;
  }
  // A duplicate names where the first one stands.
  vt::write_text(dir.file("bad.rsrc"), "TEXT 1 x a.txt\nTEXT 1 y a.txt\n");
  const ToolRun duplicate = varnel(dir.path(), "pack -o out.bin --creator VARN --type TEXT bad.rsrc");
  EXPECT_EQ(duplicate.status, 1);
  EXPECT_NE(duplicate.err.find("bad.rsrc:2: error: duplicate resource TEXT 1 (first at bad.rsrc:1)"),
            std::string::npos)
      << duplicate.err;
  EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"a.txt", "bad.rsrc", "empty.txt"}));
}

TEST(CliPack, FailureKeepsAnOlderOutputAndMissingInputsAreErrors) {
  vt::TempDir dir;
  vt::write_text(dir.file("out.bin"), "older file");
  vt::write_text(dir.file("ok.rsrc"), "");
  ToolRun run = varnel(dir.path(), "pack -o out.bin --creator VARN --type TEXT missing.rsrc");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("missing.rsrc: cannot read the script"), std::string::npos) << run.err;
  run = varnel(dir.path(), "pack -o out.bin --creator VARN --type TEXT --data nodata ok.rsrc");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("nodata: no such data file"), std::string::npos) << run.err;
  run = varnel(dir.path(), "pack -o out.bin --creator VARN --type TEXT -e 'JUNK'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("-e #1: error: ERROR in line ?"), std::string::npos) << run.err;
  EXPECT_EQ(text_of(dir.file("out.bin")), "older file");
  run = varnel(dir.path(), "pack -o nodir/out.bin --creator VARN --type TEXT ok.rsrc");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("nodir/out.bin: cannot create"), std::string::npos) << run.err;
  EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"ok.rsrc", "out.bin"}));
}

// ---- pictures -------------------------------------------------------------------

struct PackedPicture {
  ToolRun pack;
  ToolRun render;
  std::optional<Raster> colour;
  std::optional<Raster> alpha;
};

// Packs one PICT line in `dir`, renders it, decodes PICT.128.png.
PackedPicture pack_and_render_picture(const vt::TempDir &dir, const std::string &parameters) {
  PackedPicture result;
  result.pack = varnel(dir.path(), "pack -o pic.bin --creator VARN --type TEXT -e 'PICT 128 p " + parameters + "'");
  if (result.pack.status != 0) return result;
  result.render = varnel(dir.path(), "render pic.bin out");
  if (result.render.status != 0) return result;
  result.colour = decode_png(dir.file("out/PICT.128.png"));
  result.alpha = decode_png(dir.file("out/PICT.128.png"), true);
  return result;
}

TEST(CliPicture, GreyLevelsSurviveAndRgbPrimariesStayExact) {
  vt::TempDir dir;
  // Grey: 4 x 2, each level its own ink index, back to the same level.
  const Bytes grey = {0, 85, 170, 255, 17, 34, 51, 68};
  vt::write_file(dir.file("grey.png"), png_of(4, 2, 0, grey));
  PackedPicture picture = pack_and_render_picture(dir, "grey.png 72");
  ASSERT_EQ(picture.pack.status, 0) << describe(picture.pack);
  ASSERT_EQ(picture.render.status, 0) << describe(picture.render);
  if (!picture.colour) GTEST_SKIP() << "pngtopnm (netpbm) is not available";
  ASSERT_EQ(picture.colour->width, 4);
  ASSERT_EQ(picture.colour->height, 2);
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(picture.colour->rgb(i % 4, i / 4), (std::array<uint8_t, 3>{grey[i], grey[i], grey[i]})) << i;
  EXPECT_EQ(picture.alpha->channels, 1);
  EXPECT_EQ(picture.alpha->grey(0, 0), 255);  // no mask: opaque

  // RGB with 16 bits per sample: corners of the colour cube come through exactly.
  const std::vector<std::array<uint8_t, 3>> colours = {
      {255, 255, 255}, {0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
  Bytes rows;
  for (const auto &colour : colours)
    for (uint8_t sample : colour) append(rows, {sample, sample});
  PngLayout layout;
  layout.width = 6;
  layout.height = 1;
  layout.bit_depth = 16;
  layout.rows = rows;
  vt::write_file(dir.file("rgb.png"), encode_png(layout));
  picture = pack_and_render_picture(dir, "rgb.png 72");
  ASSERT_EQ(picture.render.status, 0) << describe(picture.pack) << describe(picture.render);
  ASSERT_TRUE(picture.colour);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(picture.colour->rgb(x, 0), colours[static_cast<size_t>(x)]) << x;
}

TEST(CliPicture, EveryInputFormatGivesTheSamePixels) {
  vt::TempDir dir;
  // Black then white, in every format the tool reads.
  PngLayout palette;
  palette.width = 2;
  palette.height = 1;
  palette.colour_type = 3;
  palette.palette = vt::hex("FF FF FF 00 00 00");
  palette.rows = {1, 0};
  PngLayout one_bit;
  one_bit.width = 2;
  one_bit.height = 1;
  one_bit.colour_type = 0;
  one_bit.bit_depth = 1;
  one_bit.rows = {0x40};  // 0 black, 1 white
  const std::vector<std::pair<std::string, Bytes>> inputs = {
      {"p1.pbm", vt::bytes_of("P1\n# plain\n2 1\n1 0\n")},
      {"p4.pbm", vt::concat({vt::bytes_of("P4 2 1\n"), vt::hex("80")})},
      {"p2.pgm", vt::bytes_of("P2 2 1 15 0 15\n")},
      {"p5.pgm", vt::concat({vt::bytes_of("P5 2 1 65535\n"), vt::hex("0000 FFFF")})},
      {"p3.ppm", vt::bytes_of("P3 2 1 255 0 0 0 255 255 255\n")},
      {"p6.ppm", vt::concat({vt::bytes_of("P6 2 1 255\n"), vt::hex("000000 FFFFFF")})},
      {"palette.png", encode_png(palette)},
      {"onebit.png", encode_png(one_bit)},
      {"greyalpha.png", png_of(2, 1, 4, vt::hex("00FF FF00"))},  // transparent counts as white
      {"rgba.png", png_of(2, 1, 6, vt::hex("000000FF 12345600"))},
  };
  for (const auto &[name, bytes] : inputs) {
    vt::write_file(dir.file(name), bytes);
    const PackedPicture picture = pack_and_render_picture(dir, name + " 72");
    ASSERT_EQ(picture.render.status, 0) << name << describe(picture.pack) << describe(picture.render);
    if (!picture.colour) GTEST_SKIP() << "pngtopnm (netpbm) is not available";
    EXPECT_EQ(picture.colour->rgb(0, 0), (std::array<uint8_t, 3>{0, 0, 0})) << name;
    EXPECT_EQ(picture.colour->rgb(1, 0), (std::array<uint8_t, 3>{255, 255, 255})) << name;
  }
}

TEST(CliPicture, ResampledToTheResolutionAsked) {
  vt::TempDir dir;
  // 8 x 8 at 144 pixels per inch (5669 per metre), wanted at 72: each 2 x 2
  // block becomes one pixel, the mean of its ink.
  Bytes grey(64, 255);
  for (int y = 0; y < 8; y += 2)
    for (int x = 0; x < 8; x += 2) grey[static_cast<size_t>(y * 8 + x)] = 0;  // one black in four
  vt::write_file(dir.file("fine.png"), png_of(8, 8, 0, grey, 5669));
  const PackedPicture picture = pack_and_render_picture(dir, "fine.png 72");
  ASSERT_EQ(picture.render.status, 0) << describe(picture.pack) << describe(picture.render);
  if (!picture.colour) GTEST_SKIP() << "pngtopnm (netpbm) is not available";
  ASSERT_EQ(picture.colour->width, 4);
  ASSERT_EQ(picture.colour->height, 4);
  // Ink 255 once and 0 three times: 63.75, rounded to 64, shown as 255 - 64.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(picture.colour->rgb(x, y), (std::array<uint8_t, 3>{191, 191, 191}));
}

TEST(CliPicture, MaskBecomesTransparency) {
  vt::TempDir dir;
  vt::write_file(dir.file("pic.png"), png_of(8, 4, 0, Bytes(32, 128)));
  // Rows 1 and 2, columns 2 to 5 inside (black in a PBM is inside).
  vt::write_file(dir.file("mask.pbm"), vt::concat({vt::bytes_of("P4\n8 4\n"), vt::hex("00 3C 3C 00")}));
  PackedPicture picture = pack_and_render_picture(dir, "pic.png 72 mask.pbm");
  ASSERT_EQ(picture.render.status, 0) << describe(picture.pack) << describe(picture.render);
  if (!picture.alpha) GTEST_SKIP() << "pngtopnm (netpbm) is not available";
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool inside = (y == 1 || y == 2) && x >= 2 && x <= 5;
      EXPECT_EQ(picture.alpha->grey(x, y), inside ? 255 : 0) << x << "," << y;
      EXPECT_EQ(picture.colour->rgb(x, y), (std::array<uint8_t, 3>{128, 128, 128}));
    }

  // A PNG's alpha is its own mask: opaque is inside; odd sizes close at the edge.
  Bytes rgba;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) append(rgba, {255, 0, 0, static_cast<uint8_t>(x >= 2 ? 255 : 0)});
  vt::write_file(dir.file("alpha.png"), png_of(5, 3, 6, rgba));
  picture = pack_and_render_picture(dir, "alpha.png 72 alpha.png");
  ASSERT_EQ(picture.render.status, 0) << describe(picture.pack) << describe(picture.render);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(picture.alpha->grey(x, y), x >= 2 ? 255 : 0) << x << "," << y;
  EXPECT_EQ(picture.colour->rgb(4, 2), (std::array<uint8_t, 3>{255, 0, 0}));
}

TEST(CliPicture, BadImagesFailCleanly) {
  vt::TempDir dir;
  const Bytes good = png_of(4, 40, 0, Bytes(160, 9));
  Bytes truncated(good.begin(), good.begin() + 120);  // rows end inside IDAT
  vt::write_file(dir.file("truncated.png"), truncated);
  vt::write_text(dir.file("text.png"), "not an image at all");
  vt::write_text(dir.file("short.pgm"), "P5 4 4 255\nab");
  vt::write_file(dir.file("huge.png"), png_of(10, 10, 0, Bytes(100, 0), 1));  // 1 pixel per metre: 394 inches
  vt::write_file(dir.file("good.png"), good);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"truncated.png 72", "truncated.png: damaged PNG data"},
      {"text.png 72", "text.png: not a PNG or netpbm"},
      {"short.pgm 72", "short.pgm: damaged PGM data: netpbm data ends early"},
      {"missing.png 72", "missing.png: cannot open image file"},
      {"huge.png 72", "a picture holds at most 16382x32767"},
      {"good.png 72 missing-mask.pbm", "missing-mask.pbm: cannot open image file"},
  };
  for (const auto &[parameters, message] : cases) {
    const ToolRun run = varnel(dir.path(), "pack -o out.bin --creator VARN --type TEXT -e 'PICT 128 p " + parameters + "'");
    EXPECT_EQ(run.status, 1) << parameters << "\n" << describe(run);
    EXPECT_NE(run.err.find(message), std::string::npos) << parameters << "\n" << run.err;
    EXPECT_FALSE(vt::file_exists(dir.file("out.bin"))) << parameters;
  }
  EXPECT_EQ(files_in(dir.path()).size(), 5u);  // only the inputs
}

// ---- icons and CT ------------------------------------------------------------

TEST(CliIcon, PalettesOfRenderedIcons) {
  vt::TempDir dir;
  // A CT of 32 x 32 whose first 256 pixels are the indices 0 to 255,
  // made through `ct --palette grey` (ink = 255 - light).
  Bytes grey(32 * 32, 255);
  for (int i = 0; i < 256; ++i) grey[static_cast<size_t>(i)] = static_cast<uint8_t>(255 - i);
  vt::write_file(dir.file("ramp.png"), png_of(32, 32, 0, grey));
  ToolRun run = varnel(dir.path(), "ct ramp.png ramp.ct --palette grey");
  ASSERT_EQ(run.status, 0) << describe(run);
  run = varnel(dir.path(), "pack -o icons.bin --creator VARN --type TEXT -e 'icl8 128 \"\" ramp.ct'");
  ASSERT_EQ(run.status, 0) << describe(run);
  run = varnel(dir.path(), "render icons.bin out");
  ASSERT_EQ(run.status, 0) << describe(run);
  const std::optional<Raster> icon = decode_png(dir.file("out/icl8.128.png"));
  if (!icon) GTEST_SKIP() << "pngtopnm (netpbm) is not available";
  // The 6x6x6 cube without black (0 to 214), the red, green, blue and grey
  // ramps (215 to 254), and black.
  const std::map<int, std::array<uint8_t, 3>> known = {
      {0, {0xFF, 0xFF, 0xFF}},   {1, {0xFF, 0xFF, 0xCC}},   {35, {0xFF, 0x00, 0x00}},
      {43, {0xCC, 0xCC, 0xCC}},  {185, {0x00, 0xFF, 0x00}}, {210, {0x00, 0x00, 0xFF}},
      {214, {0x00, 0x00, 0x33}}, {215, {0xEE, 0x00, 0x00}}, {224, {0x11, 0x00, 0x00}},
      {225, {0x00, 0xEE, 0x00}}, {235, {0x00, 0x00, 0xEE}}, {245, {0xEE, 0xEE, 0xEE}},
      {254, {0x11, 0x11, 0x11}}, {255, {0x00, 0x00, 0x00}}};
  for (const auto &[index, colour] : known) EXPECT_EQ(icon->rgb(index % 32, index / 32), colour) << index;
}

TEST(CliIcon, PngIconsMapToTheSystemPalettes) {
  vt::TempDir dir;
  // Stripes of the sixteen colours of the 16-colour palette, two columns each.
  const std::vector<std::array<uint8_t, 3>> colours16 = {
      {0xFF, 0xFF, 0xFF}, {0xFC, 0xF3, 0x05}, {0xFF, 0x64, 0x02}, {0xDD, 0x08, 0x06},
      {0xF2, 0x08, 0x84}, {0x46, 0x00, 0xA5}, {0x00, 0x00, 0xD4}, {0x02, 0xAB, 0xEA},
      {0x1F, 0xB7, 0x14}, {0x00, 0x64, 0x11}, {0x56, 0x2C, 0x05}, {0x90, 0x71, 0x3A},
      {0xC0, 0xC0, 0xC0}, {0x80, 0x80, 0x80}, {0x40, 0x40, 0x40}, {0x00, 0x00, 0x00}};
  Bytes rows;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const auto &colour = colours16[static_cast<size_t>(x / 2)];
      append(rows, {colour[0], colour[1], colour[2], static_cast<uint8_t>(y == 31 ? 0 : 255)});
    }
  vt::write_file(dir.file("stripes.png"), png_of(32, 32, 6, rows));
  ToolRun run = varnel(dir.path(), "pack -o icons.bin --creator VARN --type TEXT -e 'icl4 128 \"\" stripes.png' "
                               "-e 'icl8 128 \"\" stripes.png' -e 'ICN# 128 \"\" stripes.png'");
  ASSERT_EQ(run.status, 0) << describe(run);
  run = varnel(dir.path(), "render icons.bin out");
  ASSERT_EQ(run.status, 0) << describe(run);
  const std::optional<Raster> four = decode_png(dir.file("out/icl4.128.png"));
  if (!four) GTEST_SKIP() << "pngtopnm (netpbm) is not available";
  for (int x = 0; x < 32; ++x) {
    EXPECT_EQ(four->rgb(x, 0), colours16[static_cast<size_t>(x / 2)]) << x;
    EXPECT_EQ(four->rgb(x, 31), (std::array<uint8_t, 3>{255, 255, 255})) << "transparent is white";
  }
  const std::optional<Raster> eight = decode_png(dir.file("out/icl8.128.png"));
  EXPECT_EQ(eight->rgb(0, 0), (std::array<uint8_t, 3>{255, 255, 255}));
  EXPECT_EQ(eight->rgb(30, 0), (std::array<uint8_t, 3>{0, 0, 0}));
  EXPECT_EQ(eight->rgb(24, 0), (std::array<uint8_t, 3>{0xBB, 0xBB, 0xBB}));  // C0C0C0 is nearest to BBBBBB
  const std::optional<Raster> one = decode_png(dir.file("out/ICN#.128.png"));
  EXPECT_EQ(one->rgb(0, 0), (std::array<uint8_t, 3>{255, 255, 255}));   // white is clear
  EXPECT_EQ(one->rgb(12, 0), (std::array<uint8_t, 3>{0, 0, 0}));        // blue is dark
  EXPECT_EQ(one->rgb(26, 0), (std::array<uint8_t, 3>{255, 255, 255}));  // light grey is light
}

TEST(CliIcon, WrongSizesAndUnreadableImagesAreRefused) {
  vt::TempDir dir;
  vt::write_file(dir.file("small.png"), png_of(16, 16, 0, Bytes(256, 0)));
  vt::write_text(dir.file("junk.ct"), "junk");
  Bytes two_channels(512 + 32 * 32 * 2, 0);
  two_channels[4] = 2;
  vt::write_file(dir.file("two.ct"), two_channels);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"icl8 128 \"\" small.png", "small.png: the icon must be 32x32 pixels, the image is 16x16"},
      {"ics4 128 \"\" junk.ct", "junk.ct: not a PNG, netpbm or CT image"},
      {"ICN# 128 \"\" two.ct", "two.ct: a CT icon must have one channel, this one has 2"},
      {"icl4 128 \"\" nothing.png", "nothing.png: no such image file"},
  };
  for (const auto &[line, message] : cases) {
    const ToolRun run = varnel(dir.path(), "pack -o out.bin --creator VARN --type TEXT -e '" + line + "'");
    EXPECT_EQ(run.status, 1) << line << "\n" << describe(run);
    EXPECT_NE(run.err.find(message), std::string::npos) << line << "\n" << run.err;
    EXPECT_FALSE(vt::file_exists(dir.file("out.bin")));
  }
}

TEST(CliCt, WritesOneSamplePerPixelInTheChosenPalette) {
  vt::TempDir dir;
  // White, black, pure red, mid grey.
  vt::write_file(dir.file("in.png"), png_of(4, 1, 2, vt::hex("FFFFFF 000000 FF0000 808080")));
  const std::vector<std::pair<std::string, Bytes>> cases = {
      {"mac256", vt::hex("00 FF 23 F9")},  // 808080 is nearest to the ramp's 888888
      {"mac16", vt::hex("00 F0 30 D0")},   // indices in the high nibble
      {"grey", vt::hex("00 FF B3 7F")},    // ink: 255 - luminance
      {"mono", vt::hex("00 FF FF 00")},
  };
  for (const auto &[palette, samples] : cases) {
    const ToolRun run = varnel(dir.path(), "ct in.png out.ct --palette " + palette);
    ASSERT_EQ(run.status, 0) << describe(run);
    const Bytes ct = vt::read_file(dir.file("out.ct"));
    ASSERT_EQ(ct.size(), 512u + 4u);
    EXPECT_EQ(Bytes(ct.begin() + 4, ct.begin() + 6), vt::hex("01 00"));           // channels
    EXPECT_EQ(Bytes(ct.begin() + 32, ct.begin() + 40), vt::hex("01000000 04000000"));  // rows, width
    EXPECT_EQ(Bytes(ct.begin() + 68, ct.begin() + 72), vt::hex("00020000"));      // data at 512
    EXPECT_EQ(Bytes(ct.begin() + 512, ct.end()), samples) << palette;
  }
  vt::write_text(dir.file("bad.png"), "\x89PNG but not really");
  const ToolRun bad = varnel(dir.path(), "ct bad.png bad.ct");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("bad.png: damaged PNG file"), std::string::npos) << bad.err;
  EXPECT_FALSE(vt::file_exists(dir.file("bad.ct")));
  const ToolRun missing = varnel(dir.path(), "ct none.png none.ct");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.png: cannot open"), std::string::npos) << missing.err;
}

// ---- list, extract, render of other files -------------------------------------------

TEST(CliList, ForeignFilesAndTheirHeaders) {
  vt::TempDir dir;
  // No resource fork: the library's "no resources" line goes to standard
  // error, so the JSON on standard output stays valid.
  Bytes plain = macbinary_ii_of("Caf\x8E", "TEXT", "ttxt", vt::bytes_of("hello"), {});
  vt::write_file(dir.file("plain.bin"), plain);
  ToolRun run = varnel(dir.path(), "list --json plain.bin");
  ASSERT_EQ(run.status, 0) << describe(run);
  Json listing = Json::parse(run.out);
  EXPECT_EQ(listing["name"], "Café");
  EXPECT_TRUE(listing["crc"]["valid"]);
  EXPECT_EQ(listing["resources"], Json::array());
  EXPECT_NE(run.err.find("INFO : no resources in file"), std::string::npos) << run.err;

  Bytes damaged_crc = plain;
  damaged_crc[75] = 1;  // inside the CRC's range
  vt::write_file(dir.file("crc.bin"), damaged_crc);
  run = varnel(dir.path(), "list crc.bin");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("MacBinary II, CRC 0x"), std::string::npos);
  EXPECT_NE(run.out.find("INVALID (computed 0x"), std::string::npos) << run.out;

  Bytes third = plain;
  std::copy_n("mBIN", 4, third.begin() + 102);
  third[122] = 130;
  refresh_crc(third);
  vt::write_file(dir.file("third.bin"), third);
  listing = Json::parse(varnel(dir.path(), "list --json third.bin").out);
  EXPECT_EQ(listing["format"], "MacBinary III");

  vt::write_text(dir.file("text.txt"), std::string(200, 'x'));
  run = varnel(dir.path(), "list text.txt");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("text.txt: not a MacBinary file"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  vt::write_file(dir.file("cut.bin"), Bytes(plain.begin(), plain.begin() + 130));
  run = varnel(dir.path(), "list cut.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cut.bin: truncated MacBinary file"), std::string::npos) << run.err;
  run = varnel(dir.path(), "list none.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("none.bin: no such file"), std::string::npos) << run.err;
}

TEST(CliExtract, ForksAndResourcesAreByteIdentical) {
  vt::TempDir dir;
  ASSERT_EQ(pack_sample(dir.path()).status, 0);
  const Bytes document = vt::read_file((sample_dir() / "document.txt").string());
  const Bytes readme = vt::read_file((sample_dir() / "readme.txt").string());
  const Bytes file = vt::read_file(dir.file("Sample.bin"));

  ToolRun run = varnel(dir.path(), "extract Sample.bin --data data.out");
  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_EQ(vt::read_file(dir.file("data.out")), document);
  run = varnel(dir.path(), "extract Sample.bin --data -");
  EXPECT_EQ(vt::bytes_of(run.out), document);
  run = varnel(dir.path(), "extract Sample.bin --resource TEXT 128 readme.out");
  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_EQ(vt::read_file(dir.file("readme.out")), readme);
  run = varnel(dir.path(), "extract Sample.bin --rsrc rsrc.out");
  ASSERT_EQ(run.status, 0) << describe(run);
  const Bytes fork = vt::read_file(dir.file("rsrc.out"));
  const size_t fork_start = 128 + (document.size() + 127) / 128 * 128;
  const size_t fork_length = static_cast<size_t>(file[87]) << 24 | static_cast<size_t>(file[88]) << 16 |
                             static_cast<size_t>(file[89]) << 8 | file[90];
  ASSERT_EQ(fork.size(), fork_length);
  EXPECT_EQ(fork, Bytes(file.begin() + static_cast<std::ptrdiff_t>(fork_start),
                        file.begin() + static_cast<std::ptrdiff_t>(fork_start + fork.size())));
  EXPECT_EQ(Bytes(fork.begin(), fork.begin() + 4), vt::hex("00 00 01 00"));  // resource data at 256

  run = varnel(dir.path(), "extract Sample.bin --all all");
  ASSERT_EQ(run.status, 0) << describe(run);
  EXPECT_EQ(vt::read_file(dir.file("all/data")), document);
  EXPECT_EQ(vt::read_file(dir.file("all/rsrc")), fork);
  EXPECT_EQ(vt::read_file(dir.file("all/TEXT.128")), readme);
  EXPECT_EQ(vt::read_file(dir.file("all/ICN#.128")).size(), 256u);
  EXPECT_EQ(vt::read_file(dir.file("all/VARN.0")), vt::concat({{33}, vt::bytes_of("Sample document written by varnel")}));
  EXPECT_EQ(files_in(dir.file("all")).size(), 2u + 14u);

  // IDs are signed 16-bit: -1 is stored as FFFF and asked for as -1.
  vt::write_text(dir.file("one.txt"), "1");
  ASSERT_EQ(varnel(dir.path(), "pack -o neg.bin --creator VARN --type TEXT -e 'TEXT -1 neg one.txt'").status, 0);
  run = varnel(dir.path(), "extract neg.bin --resource TEXT -1 -");
  EXPECT_EQ(run.status, 0) << describe(run);
  EXPECT_EQ(run.out, "1");

  run = varnel(dir.path(), "extract Sample.bin --resource TEXT 999 nothing.out");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("no resource TEXT 999"), std::string::npos) << run.err;
  EXPECT_FALSE(vt::file_exists(dir.file("nothing.out")));
}

TEST(CliRender, DamagedPicturesAndIconsGiveErrorsNotCrashes) {
  vt::TempDir dir;
  // A real picture to damage: 16 x 4 grey, each row packed after a count byte.
  vt::write_file(dir.file("pic.png"), png_of(16, 4, 0, Bytes(64, 200)));
  ASSERT_EQ(varnel(dir.path(), "pack -o pic.bin --creator VARN --type TEXT -e 'PICT 1 p pic.png 72'").status, 0);
  ASSERT_EQ(varnel(dir.path(), "extract pic.bin --resource PICT 1 pict.raw").status, 0);
  const Bytes pict = vt::read_file(dir.file("pict.raw"));
  ASSERT_GT(pict.size(), 200u);
  // The pixel data: after 108 bytes of header, 256 x 8 colour table entries, 18 bytes.
  const size_t pixel_data = 108 + 256 * 8 + 18;
  ASSERT_LT(pixel_data, pict.size());

  Bytes bad_count = pict;
  bad_count[pixel_data] = 0xF0;  // the first row's byte count reaches far beyond its data
  Bytes bad_run = pict;
  bad_run[pixel_data + 1] = 0x90;  // a repeat run of 113 bytes in a 16-byte row
  // Bounds of 16382 x 32767 with row bytes to match: rows then get word
  // counts, and the first one reaches past the data.
  Bytes huge = pict;
  huge[54] = 0xBF;  // row bytes 0x3FFE, pixel map flag
  huge[55] = 0xFE;
  huge[60] = 0x7F;  // bottom 32767
  huge[61] = 0xFF;
  huge[62] = 0x3F;  // right 16382
  huge[63] = 0xFE;
  Bytes version_one = vt::hex("0010 0000 0000 0001 0001 1101 A000 00FF");
  std::vector<FakeResource> resources = {
      {"PICT", 1, "", Bytes(pict.begin(), pict.begin() + 200)},
      {"PICT", 2, "", bad_count},
      {"PICT", 3, "", bad_run},
      {"PICT", 4, "", huge},
      {"PICT", 5, "", version_one},
      {"PICT", 6, "", {}},
      {"PICT", 7, "", pict},
      {"icl8", 8, "", Bytes(100, 1)},
      {"ICN#", 9, "", Bytes(256, 0xFF)},
  };
  vt::write_file(dir.file("damaged.bin"),
                 macbinary_ii_of("Damaged", "TEXT", "VARN", {}, resource_fork_of(resources)));
  const ToolRun run = varnel(dir.path(), "render damaged.bin out");
  EXPECT_EQ(run.status, 1) << describe(run);
  for (const char *message :
       {"PICT 1: colour table is cut short", "PICT 2: row 0: pixel data is cut short",
        "PICT 3: row 0: a packed run goes past the end of the row", "PICT 4: row 0: pixel data is cut short",
        "PICT 5: not a version 2 picture", "PICT 6: picture shorter than its header",
        "icl8 8: icl8 data is 100 bytes, expected 1024"})
    EXPECT_NE(run.err.find(message), std::string::npos) << message << "\n" << run.err;
  // The good ones are still written; the bad ones leave nothing.
  EXPECT_EQ(files_in(dir.file("out")), (std::vector<std::string>{"ICN#.9.png", "PICT.7.png"}));
  // A resource whose length word points past the fork is refused too.
  Bytes past_end = macbinary_ii_of("Damaged", "TEXT", "VARN", {}, resource_fork_of({{"PICT", 1, "", pict}}));
  past_end[128 + 256 + 1] = 0x7F;  // the resource's length word
  vt::write_file(dir.file("past.bin"), past_end);
  const ToolRun past = varnel(dir.path(), "render past.bin out2");
  EXPECT_EQ(past.status, 1);
  EXPECT_NE(past.err.find("the data of resource PICT 1 lies outside the resource fork"), std::string::npos)
      << past.err;
}

// ---- peers read the demo's output ---------------------------------------------------

class CliInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    const ToolRun pack = pack_sample(dir_.path());
    ASSERT_EQ(pack.status, 0) << describe(pack);
    ASSERT_EQ(varnel(dir_.path(), "extract Sample.bin --rsrc sample.rsrc").status, 0);
    document_ = vt::read_file((sample_dir() / "document.txt").string());
    resource_fork_ = vt::read_file(dir_.file("sample.rsrc"));
  }
  vt::TempDir dir_;
  Bytes document_;
  Bytes resource_fork_;
};

TEST_F(CliInterop, MacunpackSplitsTheForks) {
  const std::string macunpack = vt::require_peer("macunpack", "macutils");
  if (macunpack.empty()) GTEST_SKIP() << "macunpack (macutils) is not available";
  std::filesystem::create_directory(dir_.path() / "unpacked");
  std::string output;
  ASSERT_EQ(vt::run_command("cd " + quoted(dir_.file("unpacked")) + " && " + quoted(macunpack) +
                                " -3 ../Sample.bin",
                            &output),
            0)
      << output;
  EXPECT_EQ(vt::read_file(dir_.file("unpacked/Sample.data")), document_);
  EXPECT_EQ(vt::read_file(dir_.file("unpacked/Sample.rsrc")), resource_fork_);
  const Bytes info = vt::read_file(dir_.file("unpacked/Sample.info"));
  ASSERT_GE(info.size(), 73u);
  EXPECT_EQ(Bytes(info.begin() + 65, info.begin() + 73), vt::bytes_of("TEXTVARN"));
}

TEST_F(CliInterop, HfsCopyRoundTrip) {
  const std::string hcopy = vt::require_peer("hcopy", "hfsutils");
  if (hcopy.empty()) GTEST_SKIP() << "hcopy (hfsutils) is not available";
  // hfsutils keeps its current volume in $HOME/.hcwd: give it a home of its own.
  const std::string home = "HOME=" + quoted(dir_.path().string()) + " ";
  const std::string in = "cd " + quoted(dir_.path().string()) + " && ";
  std::string output;
  ASSERT_EQ(vt::run_command(in + "dd if=/dev/zero of=disk.hfs bs=1024 count=1440 2>/dev/null && " + home +
                                "hformat -l Test disk.hfs && " + home + "hmount disk.hfs && " + home +
                                "hcopy -m Sample.bin : && " + home + "hls -l && " + home +
                                "hcopy -m :Sample back.bin && " + home + "humount",
                            &output),
            0)
      << output;
  EXPECT_NE(output.find("TEXT/VARN"), std::string::npos) << output;
  ASSERT_EQ(varnel(dir_.path(), "extract back.bin --data back.data").status, 0);
  ASSERT_EQ(varnel(dir_.path(), "extract back.bin --rsrc back.rsrc").status, 0);
  EXPECT_EQ(vt::read_file(dir_.file("back.data")), document_);
  EXPECT_EQ(vt::read_file(dir_.file("back.rsrc")), resource_fork_);
  const Json listing = Json::parse(varnel(dir_.path(), "list --json back.bin").out);
  EXPECT_EQ(listing["type"], "TEXT");
  EXPECT_EQ(listing["creator"], "VARN");
  EXPECT_EQ(listing["resources"].size(), 14u);
}

TEST_F(CliInterop, UnarExtractsDataAndResourceFork) {
  const std::string unar = vt::require_peer("unar", "unar");
  const std::string lsar = vt::require_peer("lsar", "unar");
  if (unar.empty() || lsar.empty()) GTEST_SKIP() << "unar is not available";
  std::string output;
  ASSERT_EQ(vt::run_command(quoted(lsar) + " -j " + quoted(dir_.file("Sample.bin")), &output), 0) << output;
  const Json listing = Json::parse(output.substr(output.find('{')));
  EXPECT_EQ(listing["lsarFormatName"], "MacBinary");
  ASSERT_EQ(vt::run_command(quoted(unar) + " -q -k visible -o " + quoted(dir_.file("unar")) + " " +
                                quoted(dir_.file("Sample.bin")),
                            &output),
            0)
      << output;
  EXPECT_EQ(vt::read_file(dir_.file("unar/Sample")), document_);
  // The resource fork comes as an AppleDouble file: find entry 2.
  const Bytes double_file = vt::read_file(dir_.file("unar/Sample.rsrc"));
  ASSERT_GE(double_file.size(), 26u);
  EXPECT_EQ(Bytes(double_file.begin(), double_file.begin() + 4), vt::hex("00 05 16 07"));
  const size_t entries = static_cast<size_t>(double_file[24] << 8 | double_file[25]);
  bool found = false;
  for (size_t i = 0; i < entries; ++i) {
    const size_t at = 26 + 12 * i;
    auto word = [&](size_t offset) {
      return static_cast<size_t>(double_file[at + offset]) << 24 | static_cast<size_t>(double_file[at + offset + 1]) << 16 |
             static_cast<size_t>(double_file[at + offset + 2]) << 8 | double_file[at + offset + 3];
    };
    if (word(0) != 2) continue;
    found = true;
    ASSERT_LE(word(4) + word(8), double_file.size());
    EXPECT_EQ(Bytes(double_file.begin() + static_cast<std::ptrdiff_t>(word(4)),
                    double_file.begin() + static_cast<std::ptrdiff_t>(word(4) + word(8))),
              resource_fork_);
  }
  EXPECT_TRUE(found) << "no resource fork entry in the AppleDouble file";
}

TEST_F(CliInterop, ImageMagickDecodesThePictureAsRenderDoes) {
  const std::string convert = vt::require_peer("convert-im6.q16", "imagemagick-6.q16");
  if (convert.empty()) GTEST_SKIP() << "ImageMagick is not available";
  ASSERT_EQ(varnel(dir_.path(), "extract Sample.bin --resource PICT 128 preview.raw").status, 0);
  ASSERT_EQ(varnel(dir_.path(), "render Sample.bin out").status, 0);
  // A PICT file is the resource's data after a 512-byte header.
  vt::write_file(dir_.file("preview.pict"), vt::concat({Bytes(512, 0), vt::read_file(dir_.file("preview.raw"))}));
  std::string output;
  ASSERT_EQ(vt::run_command(quoted(convert) + " pict:" + quoted(dir_.file("preview.pict")) + " ppm:" +
                                quoted(dir_.file("magick.ppm")),
                            &output),
            0)
      << output;
  const Raster magick = parse_pnm(vt::read_file(dir_.file("magick.ppm")));
  const std::optional<Raster> ours = decode_png(dir_.file("out/PICT.128.png"));
  if (!ours) GTEST_SKIP() << "pngtopnm (netpbm) is not available";
  ASSERT_EQ(magick.width, 128);
  ASSERT_EQ(magick.height, 96);
  EXPECT_EQ(magick.samples, ours->samples);  // the same colour for every pixel
}

}  // namespace
