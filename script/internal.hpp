// Private to the library: never installed, never included by hosts.
//
// Resource scripts: the words, names and texts a script is written in,
// shared by the builder of a script and the calls that offer them to hosts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "varnel.h"

namespace varnel::script {

// A word written so that the line splitter (MacBin_GetArguments) gives it
// back unchanged.
std::string quote_word(std::string_view word);

// "ICN#.128", "STR%20.128.2": see MacBin_ResourceFileName.
std::string resource_file_name(std::string_view type, int32_t id, int32_t occurrence);

// The container's name in a MACBIN_CONTAINER_* style; null when it has none.
const char *container_name(int32_t format, int32_t style);

// UTF-8 shown on one line: control characters, and bytes that are not
// UTF-8, become U+FFFD.
std::string one_line(std::string_view text);

// A script as MacBin_NewScript builds it.
struct ScriptFile {
  std::string name;
  std::vector<uint8_t> bytes;
};
struct ScriptNote {
  int32_t severity;  // MACBIN_WARNING or MACBIN_ERROR
  std::string text;
};
struct BuiltScript {
  std::string text;
  std::vector<ScriptFile> files;
  std::vector<ScriptNote> notes;
};

// The script of the file open on a reading channel; nothing, with `reason`
// set, when the file's name cannot be carried.  Throws std::bad_alloc.
std::optional<BuiltScript> build_script(MacBinChannel *channel, std::string_view source, std::string &reason);

}  // namespace varnel::script
