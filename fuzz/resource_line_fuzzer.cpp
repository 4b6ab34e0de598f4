// Arbitrary bytes as resource lines and Finder parameter texts.
//
// The first byte chooses: bit 0 the format (classic or MacBinary II), bit 1
// whether the rest is resource lines (one per '\n', through
// MacBin_AddResource) or two parameter texts (split at the first '\n')
// handed straight to the vers and FREF processors through insert_resource.
// Each line is also checked first (MacBin_CheckResourceLine): one the check
// passes must not be malformed to the writer.  Either way a scratch file is
// written and closed.  Besides the sanitizers,
// the closed file is checked against its own header: the forks it declares
// lie inside the file, and a MacBinary II file is a multiple of 128 bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tessel.h"
#include "fuzz_session.hpp"
#include "tessel/testing.h"
#include "varnel.h"

namespace {

int32_t write_parameter(MacBinChannel *, const char *param) {
  std::string text(param);
  if (text.size() > 4096) text.resize(4096);
  return MacBin_PutBuf(text.data(), static_cast<int32_t>(text.size()),
                       static_cast<int32_t>(text.size()));
}

// The session, the file each input's lines are written into, and the
// processors the lines name.
struct Scratch {
  varnel_fuzz::Session session{"resource-line"};
  std::string path = session.file("output.bin");
  Scratch() {
    varnel_fuzz::silence_messages();
    MacBin_Setmethod(reinterpret_cast<MacBinMethod>(+[](MacBinProgress *) {}),
                     MACBIN_METHOD_PROGRESS);
    MacBin_AddProcessor("vers", nullptr, add_vers);
    MacBin_AddProcessor("FREF", nullptr, add_FREF);
    MacBin_AddProcessor("Bndl", nullptr, close_BNDL);
    MacBin_AddProcessor("TEXT", nullptr, write_parameter);
  }
};

Scratch &scratch() {
  static Scratch instance;
  return instance;
}

uint32_t be32(const std::vector<uint8_t> &b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
         b[at + 3];
}

void check_file(const std::string &path, int32_t format) {
  std::ifstream in(path, std::ios::binary);
  if (!in) std::abort();  // a sound run never removes its file
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (file.size() < 128 + 256) std::abort();
  const uint64_t data_length = be32(file, 83);
  const uint64_t rsrc_length = be32(file, 87);
  const uint64_t rsrc_start = 128 + (data_length + 127) / 128 * 128;
  if (rsrc_start + rsrc_length > file.size()) std::abort();
  if (format == MACBIN_FORMAT_II && file.size() % 128 != 0) std::abort();
  if (format == MACBIN_FORMAT_CLASSIC && rsrc_start + rsrc_length != file.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0 || size > 64 * 1024) return 0;
  Scratch &s = scratch();
  const int32_t format = (data[0] & 1) != 0 ? MACBIN_FORMAT_II : MACBIN_FORMAT_CLASSIC;
  const bool lines = (data[0] & 2) == 0;
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

  MacBin_SetFormat(format);
  char name[32] = "";
  MacBinChannel *channel = MacBin_OpenW(s.path.c_str(), name, "FUZZ", "TEXT");
  if (channel == nullptr) std::abort();
  if (lines) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      const int32_t verdict = MacBin_CheckResourceLine(channel, line.c_str());
      MacBin_ClearError();
      MacBin_AddResource(channel, line.c_str());
      // The check splits lines with the writer's code: a line it passes is
      // never one the writer finds malformed.
      const char *why = nullptr;
      const int32_t code = MacBin_LastError(&why);
      if (verdict == MACBIN_ERR_NONE && code != MACBIN_ERR_NONE &&
          (std::string(why) == "ERROR in line ?" || std::string(why) == "Syntax error in line ?"))
        std::abort();
      start = end + 1;
    }
  } else {
    MacBin_CompleteDataFork(channel);  // makes the channel current
    const size_t split = text.find('\n');
    const std::string vers_text = text.substr(0, split);
    const std::string fref_text = split == std::string::npos ? "" : text.substr(split + 1);
    insert_resource("vers", 1, "Version", vers_text.c_str());
    insert_resource("FREF", 128, "", fref_text.c_str());
  }
  MacBin_Close(channel);
  check_file(s.path, format);
  return 0;
}
