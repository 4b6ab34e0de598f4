// The calls that hand a file's resource script to hosts: built whole in
// memory, then read piece by piece (the text, the files, the notes).
#include <new>
#include <string>

#include "frame/internal.hpp"
#include "script/internal.hpp"

struct MacBinScript {
  varnel::script::BuiltScript built;
};

extern "C" {

MacBinScript *MacBin_NewScript(MacBinChannel *channel, const char *source) {
  MacBinFileInfo info{};
  if (MacBin_GetFileInfo(channel, &info) != 1) {
    record_error(MACBIN_ERR_ARGUMENT, "MacBin_NewScript: not a channel open for reading");
    return nullptr;
  }
  std::string reason;
  try {
    MacBinScript *script = nullptr;
    {
      // The checks that choose each resource's form refuse as answers: a
      // script built leaves the thread's last error as it was.
      LastErrorKept kept;
      std::optional<varnel::script::BuiltScript> built =
          varnel::script::build_script(channel, source != nullptr ? source : "", reason);
      if (built) script = new MacBinScript{std::move(*built)};
    }
    if (script == nullptr) record_error(MACBIN_ERR_ARGUMENT, reason.c_str());
    return script;
  } catch (...) {
    record_error(MACBIN_ERR_MEMORY, "Out Of Memory (building a resource script)");
    return nullptr;
  }
}

int64_t MacBin_GetScriptText(const MacBinScript *script, const char **text) {
  if (script == nullptr) return -1;
  if (text != nullptr) *text = script->built.text.c_str();
  return static_cast<int64_t>(script->built.text.size());
}

int32_t MacBin_GetScriptFile(const MacBinScript *script, int32_t index, const char **name, const uint8_t **bytes,
                             int64_t *length) {
  if (script == nullptr || index < 0 || static_cast<size_t>(index) >= script->built.files.size()) return 0;
  const varnel::script::ScriptFile &file = script->built.files[static_cast<size_t>(index)];
  if (name != nullptr) *name = file.name.c_str();
  if (bytes != nullptr) *bytes = file.bytes.data();
  if (length != nullptr) *length = static_cast<int64_t>(file.bytes.size());
  return 1;
}

int32_t MacBin_GetScriptNote(const MacBinScript *script, int32_t index, const char **text) {
  if (script == nullptr || index < 0 || static_cast<size_t>(index) >= script->built.notes.size()) return 0;
  const varnel::script::ScriptNote &note = script->built.notes[static_cast<size_t>(index)];
  if (text != nullptr) *text = note.text.c_str();
  return note.severity;
}

void MacBin_FreeScript(MacBinScript *script) { delete script; }

}  // extern "C"
