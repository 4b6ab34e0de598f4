// varnel: write, list, extract and render Macintosh files packed in
// MacBinary.  A host of libvarnel that uses only its public headers.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "arguments.hpp"
#include "commands.hpp"
#include "cleanup_signals.hpp"
#include "tool_context.hpp"
#include "varnel.h"

namespace {

using varnel_tool::Reporter;
using varnel_tool::results;

constexpr const char *kHelp = R"(Usage: varnel [-q] COMMAND [ARGUMENTS]

Writes and reads Macintosh files packed in MacBinary, AppleSingle,
AppleDouble and BinHex 4.0, and bare resource forks.

Commands:
  pack     write a Macintosh file from a data fork and resource lines
  convert  write a Macintosh file in another container
  list     show the header, Finder information and resources of a file
  extract  copy a fork or resources out of a file
  render   draw a file's icons, cursors, patterns and pictures, or a PICT
           file, as PNG images
  ct       convert a PNG or netpbm image into a CT image
  thumbnail  the icon the Finder would show for a file, as a PNG image
  check    name each file's container and say what is wrong with it

"varnel COMMAND --help" describes a command.

Options:
  -q, --quiet  no notices, no progress line
  --version    the version
  -h, --help   this text

Results go to standard output, messages to standard error.  Exit status:
0 success, 1 an error was reported (no partial output is left; a write
error on standard output is one too), 2 usage.  Interrupted by SIGINT,
SIGTERM, SIGHUP or SIGPIPE, varnel removes its temporary files and ends by
that signal.
)";

// Success turns into failure when the results did not reach standard output.
int with_results_flushed(int status) {
  const bool flushed = varnel_tool::flush_results();
  return !flushed && status == varnel_tool::kExitSuccess ? varnel_tool::kExitFailure : status;
}

using Command = int (*)(const varnel_tool::Arguments &);

// The command of this name, or null.
Command command_named(const std::string &name) {
  static constexpr std::pair<const char *, Command> kCommands[] = {
      {"pack", varnel_tool::run_pack},       {"list", varnel_tool::run_list}, {"extract", varnel_tool::run_extract},
      {"render", varnel_tool::run_render},   {"ct", varnel_tool::run_ct},     {"convert", varnel_tool::run_convert},
      {"thumbnail", varnel_tool::run_thumbnail}, {"check", varnel_tool::run_check}};
  for (const auto &[command_name, command] : kCommands)
    if (name == command_name) return command;
  return nullptr;
}

}  // namespace

int main(int argc, char **argv) {
  varnel_tool::install_cleanup_on_signals();
  varnel_tool::route_library_output_to_stderr();
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string command;
  try {
    size_t next = 0;
    for (; next < arguments.size(); ++next) {
      const std::string &argument = arguments[next];
      if (argument == "-q" || argument == "--quiet") {
        Reporter::instance().set_quiet(true);
      } else if (argument == "--version") {
        std::fprintf(results(), "varnel %s\n", VARNEL_VERSION_STRING);
        return with_results_flushed(varnel_tool::kExitSuccess);
      } else if (argument == "--help" || argument == "-h") {
        std::fputs(kHelp, results());
        return with_results_flushed(varnel_tool::kExitSuccess);
      } else if (argument.starts_with("-")) {
        throw varnel_tool::UsageError("unknown option '" + argument + "'");
      } else {
        break;
      }
    }
    if (next >= arguments.size()) throw varnel_tool::UsageError("no command given");
    const std::string &name = arguments[next];
    const Command run = command_named(name);
    if (run == nullptr) throw varnel_tool::UsageError("unknown command '" + name + "'");
    command = name;
    const auto rest = arguments.begin() + static_cast<std::ptrdiff_t>(next) + 1;
    return with_results_flushed(run(varnel_tool::Arguments(rest, arguments.end())));
  } catch (const varnel_tool::HelpShown &) {
    return with_results_flushed(varnel_tool::kExitSuccess);
  } catch (const varnel_tool::UsageError &error) {
    std::fprintf(stderr, "varnel: %s\nTry 'varnel %s%s--help'.\n", error.what(), command.c_str(),
                 command.empty() ? "" : " ");
    return varnel_tool::kExitUsage;
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "varnel: error: out of memory\n");
    return varnel_tool::kExitFailure;
  } catch (const std::exception &error) {
    std::fprintf(stderr, "varnel: error: %s\n", error.what());
    return varnel_tool::kExitFailure;
  }
}
