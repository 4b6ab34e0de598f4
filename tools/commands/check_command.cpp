// varnel check: what the library finds wrong with files, as text or JSON.
// Every check is the library's (MacBin_CheckFile); this is presentation.
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "common/input_copy.hpp"
#include "common/json_value.hpp"
#include "library_session.hpp"
#include "salvage.hpp"
#include "tool_context.hpp"
#include "varnel.h"

namespace varnel_tool {
namespace {

constexpr const char *kCheckHelp = R"(Usage: varnel check [--json] [--contents] FILE...
       varnel check --salvage OUT FILE

Names each file's container by its content, whatever the file is called
(and what its data fork holds in turn), and checks every CRC and length
and the resource map.  Prints a line naming the container, then "ok" or
one line per finding: its severity, its place (in BinHex, in the decoded
stream), what it means and what to do.  FILE may be "-" for standard
input.  Nothing is written or changed.

Options:
  --json       a JSON array, an object per file: {"file", "container",
               "findings": [{"code", "severity", "offset", "what",
               "action"}]}, or {"file", "error"} when it cannot be read
  --contents   also decompress every compressed resource whole (slower)
  --salvage OUT  write OUT in FILE's container (MacBinary III as II) with
               its Finder information, data fork and every resource that
               reads whole; each part lost is named, and makes the status 1
  -h, --help   this text

Exit status: 0 when every file is clean, 1 when any has a finding, 2 for
a usage error or a file that cannot be read.
)";

struct Finding {
  int32_t severity, code;
  int64_t offset;  // -1: no one place
  std::string what, action;
};

// Stable names for the codes, for scripts that read the JSON; a code newer
// than the library is still told apart.
std::string code_name(int32_t code) {
  const char *name = MacBin_FindingName(code);
  return name != nullptr ? name : "finding_" + std::to_string(code);
}

const char *severity_name(int32_t severity) { return severity >= MACBIN_ERROR ? "error" : "warning"; }

void collect(const MacBinFinding *finding, void *findings) {
  guard_callback(0, [&] {
    static_cast<std::vector<Finding> *>(findings)->push_back(
        {finding->severity, finding->code, finding->offset, finding->what, finding->action});
    return 0;
  });
}

// The library's texts are clauses without a final stop; on one line they read as two sentences.
std::string sentence(const std::string &text) {
  return text.empty() || std::string_view(".!?").find(text.back()) != std::string_view::npos ? text : text + ".";
}

void print_text(const std::string &path, const MacBinCheckReport &report, const std::vector<Finding> &findings) {
  FILE *out = results();
  std::fprintf(out, "%s: %s\n", path.c_str(), report.container);
  if (findings.empty()) std::fputs("  ok\n", out);
  const char *place = report.format == MACBIN_FORMAT_BINHEX ? " at decoded byte " : " at byte ";
  for (const Finding &f : findings) {
    const std::string at = f.offset < 0 ? "" : place + std::to_string(f.offset);
    std::fprintf(out, "  %s%s: %s %s\n", severity_name(f.severity), at.c_str(), sentence(f.what).c_str(),
                 sentence(f.action).c_str());
  }
}

JsonValue report_json(const std::string &path, const MacBinCheckReport &report, const std::vector<Finding> &findings) {
  JsonValue items = JsonValue::array();
  for (const Finding &f : findings)
    items.push_back({{"code", code_name(f.code)}, {"severity", severity_name(f.severity)},
                     {"offset", f.offset < 0 ? JsonValue(nullptr) : JsonValue(f.offset)},
                     {"what", f.what}, {"action", f.action}});
  return {{"file", path}, {"container", report.container}, {"findings", std::move(items)}};
}

// Checks one file: 0 clean, 1 findings, -1 not read (after an error message).
int check_one(const std::string &path, int32_t flags, JsonValue *json) {
  InputCopy copy;  // standard input, read once into a file the library opens by name
  std::string error;
  std::vector<Finding> findings;
  MacBinCheckReport report{};
  int32_t status = -1;
  const int errors_before = Reporter::instance().error_count();
  if (path != "-" || copy.copy_from(STDIN_FILENO, 2147483647, error)) {
    status = MacBin_CheckFile((path == "-" ? copy.path() : path).c_str(), flags, collect, &findings, &report);
    const char *why = nullptr;
    if (status < 0) error = MacBin_LastError(&why) != MACBIN_ERR_NONE && why != nullptr ? why : "cannot be read";
  }
  // A finding that could not be kept (no memory) leaves the report incomplete.
  if (status >= 0 && Reporter::instance().error_count() != errors_before) {
    status = -1;
    error = "findings lost";
  }
  if (status < 0) {
    Reporter::instance().error(path + ": cannot check: " + error);
    if (json) json->push_back({{"file", path}, {"error", error}});
    return -1;
  }
  if (json) json->push_back(report_json(path, report, findings));
  else print_text(path, report, findings);
  flush_results();  // each report as soon as it is known
  return status == 0 ? 0 : 1;
}

}  // namespace

int run_check(const Arguments &arguments) {
  ArgumentWalker walker(arguments);
  std::vector<std::string> paths;
  bool json = false;
  std::string salvage_to;
  int32_t flags = 0;
  while (walker.next()) {
    if (take_shared_option(walker, kCheckHelp, kHelpOnly)) continue;
    if (walker.is("--json")) {
      walker.expect_no_value();
      json = true;
    } else if (walker.is("--contents")) {
      walker.expect_no_value();
      flags |= MACBIN_CHECK_CONTENTS;
    } else if (walker.is("--salvage")) {
      salvage_to = walker.value();
    } else if (walker.is_positional()) {
      paths.push_back(walker.text());
    } else {
      walker.reject();
    }
  }
  if (paths.empty()) throw UsageError("check needs a file");
  if (!salvage_to.empty()) {
    if (paths.size() != 1 || json) throw UsageError("--salvage OUT takes one FILE and no --json");
    if (salvage_to == "-") throw UsageError("--salvage writes a file: OUT cannot be standard output");
    return salvage_file(paths[0], salvage_to);
  }
  if (std::count(paths.begin(), paths.end(), "-") > 1) throw UsageError("standard input can be checked only once");
  if (!start_library()) return kExitFailure;
  JsonValue documents = JsonValue::array();
  int worst = 0;
  for (const std::string &path : paths) {
    const int result = check_one(path, flags, json ? &documents : nullptr);
    worst = result < 0 ? 2 : std::max(worst, result);
  }
  // Names from the command line need not be UTF-8: such bytes are replaced.
  if (json) std::fprintf(results(), "%s\n", documents.dump(2, ' ', false, JsonValue::error_handler_t::replace).c_str());
  return worst == 2 ? kExitUsage : worst == 1 ? kExitFailure : kExitSuccess;
}

}  // namespace varnel_tool
