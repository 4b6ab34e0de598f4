// What the bundle MacBin_Close builds says of icons, checked against the
// map: the bundle gives each FREF's file type the icon family of the FREF's
// icon ID, and lists those IDs as ICN# resources.  An FREF whose family has
// no ICN# shows as a generic icon in the Finder, and a family no FREF names
// is not shown at all; both are easy to get wrong in a script and
// invisible until the file reaches a Macintosh, so the close warns.
#include <array>
#include <map>
#include <string>

#include "format/mac_roman.hpp"
#include "frame/internal.hpp"
#include "writer/internal.hpp"

namespace {

constexpr std::array<const char *, 6> kIconFamily = {"ICN#", "icl8", "icl4", "ics#", "ics8", "ics4"};

bool has_resource(const MacBinChannel *channel, const char *type, int32_t id) {
  const int32_t t = find_type(channel, type);
  for (int32_t r = 0; t >= 0 && r <= channel->types[t].count; ++r)
    if (reference_at(channel, t, r).id == id) return true;
  return false;
}

void warn_about_fref(MacBinChannel *channel, int32_t local_id) {
  const int32_t icon_id = channel->frefs[local_id][0];
  if (has_resource(channel, "ICN#", icon_id)) return;
  std::string members;
  for (const char *type : kIconFamily)
    if (has_resource(channel, type, icon_id)) members += std::string(members.empty() ? "" : ", ") + type;
  const std::vector<std::string> &file_types = writer_state(channel)->fref_file_types;
  const std::string file_type = static_cast<size_t>(local_id) < file_types.size()
                                    ? varnel::format::mac_roman_to_utf8(file_types[static_cast<size_t>(local_id)], true)
                                    : "";
  const std::string text = "FREF " + std::to_string(channel->frefs[local_id][1]) + " gives '" + file_type +
                           "' files the icon family " + std::to_string(icon_id) + ", but the file has no ICN# " +
                           std::to_string(icon_id) + (members.empty() ? "" : " (only " + members + ")") +
                           ": the bundle lists ICN# resources, and the Finder shows a generic icon";
  report(text.c_str(), MACBIN_WARNING);
}

void warn_about_unnamed_families(MacBinChannel *channel) {
  std::map<int32_t, std::string> unnamed;  // icon ID -> its types
  for (const char *type : kIconFamily) {
    const int32_t t = find_type(channel, type);
    for (int32_t r = 0; t >= 0 && r <= channel->types[t].count; ++r) {
      const int32_t id = reference_at(channel, t, r).id;
      bool named = false;
      for (int32_t i = 0; i <= channel->fref_last && !named; ++i) named = channel->frefs[i][0] == id;
      if (named) continue;
      std::string &types = unnamed[id];
      if (types.find(type) == std::string::npos) types += std::string(types.empty() ? "" : ", ") + type;
    }
  }
  for (const auto &[id, types] : unnamed) {
    const std::string text = "icon family " + std::to_string(id) + " (" + types +
                             ") is not in the bundle: no FREF names icon ID " + std::to_string(id);
    report(text.c_str(), MACBIN_WARNING);
  }
}

}  // namespace

void warn_about_bundle_icons(MacBinChannel *channel) {
  // Warnings only: a failure here must not stop the close.
  try {
    for (int32_t i = 0; i <= channel->fref_last && i < kMaxFrefs; ++i) warn_about_fref(channel, i);
    warn_about_unnamed_families(channel);
  } catch (const std::bad_alloc &) {
  }
}
