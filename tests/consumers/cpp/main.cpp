// A C++ host built against an installed libvarnel, using only <varnel.h>:
// writes a MacBinary II file holding several resources of one type through a
// wildcard processor, lists the types back and fetches every resource.
// Usage: consumer_cpp OUTPUT-FILE.  Exit status 0 when everything read back.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <varnel.h>

namespace {

struct ChannelCloser {
  void operator()(MacBinChannel *channel) const { MacBin_Close(channel); }
};
using Channel = std::unique_ptr<MacBinChannel, ChannelCloser>;

std::vector<std::string> fetched;  // what the read handler saw, in order

int32_t write_param(MacBinChannel *, const char *param) {
  const auto length = static_cast<int32_t>(std::strlen(param));
  return MacBin_PutBuf(param, length, length);
}

int32_t read_text(MacBinChannel *channel, int32_t, int32_t data_length) {
  std::string text(static_cast<size_t>(data_length), '\0');
  if (fgetm(channel->file, text.data(), data_length) != 1) return 0;
  fetched.push_back(std::string(channel->cur_type) + " " + std::to_string(channel->cur_id) +
                    " " + channel->cur_name + " " + text);
  return 1;
}

int failures = 0;

void check(bool condition, const char *what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    ++failures;
  }
}

}  // namespace

int main(int argc, char **argv) {
  const std::string path = argc > 1 ? argv[1] : "consumer_cpp.bin";
  check(MacBin_Init() == 1, "MacBin_Init");
  check(MacBin_SetFormat(MACBIN_FORMAT_II) == 1, "MacBin_SetFormat");
  check(MacBin_AddProcessor("****", read_text, write_param) == 0, "wildcard processor");

  char apple_name[32] = "Consumer C++";
  {
    Channel out(MacBin_OpenW(path.c_str(), apple_name, "VARN", "BINA"));
    check(out != nullptr, "MacBin_OpenW");
    if (!out) return 1;
    const std::string data(300, 'x');  // spans more than two 128-byte blocks
    check(MacBin_PutBuf(data.data(), 300, 300) == 0, "data fork");
    MacBin_AddResource(out.get(), "STR  5 first one");
    MacBin_AddResource(out.get(), "STR  7 \"second\" two");
    MacBin_AddResource(out.get(), "STR  9 \"\" three");
    MacBin_AddResource(out.get(), "BNDL \"owner text\"");
  }

  Channel in(MacBin_OpenR(path.c_str()));
  check(in != nullptr, "MacBin_OpenR");
  if (!in) return 1;
  int32_t offset = 0;
  int32_t length = 0;
  MacBin_GetResourceBlockParams(in.get(), &offset, &length);
  check(offset == 512, "resource fork after a 300-byte data fork padded to 384");
  check(length > 256, "resource fork holds a map");

  std::vector<std::string> types;
  for (int32_t i = 0; i < MacBin_GetNrTypes(in.get()); ++i) {
    char type[4];
    MacBin_GetIndType(in.get(), type, i);
    types.emplace_back(type, 4);
  }
  check((types == std::vector<std::string>{"STR ", "VARN"}), "types in order of first insertion");
  check(MacBin_GetResourceCount(in.get(), "STR ", 0, 0) == 3, "three STR resources");
  check(MacBin_GetResourceCount(in.get(), "STR ", 6, 9) == 2, "two with IDs 6 to 9");

  for (int32_t i = 0; i < 3; ++i)
    check(MacBin_GetIndResource(in.get(), "STR ", i) == 1, "MacBin_GetIndResource");
  check(MacBin_GetResource2(in.get(), "VARN", 0, "Owner resource") == 1, "owner resource");
  const std::vector<std::string> expected{"STR  5 first one", "STR  7 second two",
                                          "STR  9  three",
                                          std::string("VARN 0 Owner resource \x0aowner text")};
  check(fetched == expected, "resource data read back");
  for (const std::string &line : fetched) {
    std::string shown;
    for (char c : line) {
      if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
        shown += escaped;
      } else {
        shown += c;
      }
    }
    std::printf("  %s\n", shown.c_str());
  }

  if (failures != 0) return 1;
  std::printf("consumer (C++, libvarnel %s): ok\n", VARNEL_VERSION_STRING);
  return 0;
}
