// A small command-line walker: long options (--name VALUE or --name=VALUE),
// short ones (-o VALUE), "-" as a positional argument, "--" ending options.
// Mistakes throw UsageError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnel_tool {

class ArgumentWalker {
 public:
  explicit ArgumentWalker(std::vector<std::string> arguments);

  // Moves to the next argument; false when there is none.
  bool next();
  bool is_positional() const { return positional_; }
  const std::string &text() const { return current_; }
  // True when the current argument is this option (either spelling).
  bool is(std::string_view long_name, std::string_view short_name = {}) const;
  // The option's value: after "=" or the next argument.
  std::string value();
  // One more value of the current option (for options with several), taken
  // as it stands even when it starts with "-" ("--resource TEXT -1 out").
  std::string extra_value();
  // For an option that takes no value: refuses "--flag=x".
  void expect_no_value() const;
  [[noreturn]] void reject() const;

 private:
  std::vector<std::string> arguments_;
  size_t next_index_ = 0;
  bool options_ended_ = false;
  bool positional_ = false;
  std::string current_;
  std::string option_name_;
  std::optional<std::string> inline_value_;
};

// Thrown once a command's -h/--help has shown its text: main() ends the
// run with success.
struct HelpShown {};

// Which of the shared options a command takes besides -h/--help.
enum SharedOptions : unsigned { kHelpOnly = 0, kQuietOption = 1, kProgressOption = 2 };

// The options commands share: -h/--help shows `help` on the results stream
// (and throws HelpShown), -q/--quiet silences notices, --progress forces
// the progress line.  True when the current argument was one of those
// `taken` allows.
bool take_shared_option(ArgumentWalker &walker, const char *help, unsigned taken);

// A resource type as the map stores it: 1 to 4 Macintosh characters,
// padded with blanks to 4; else UsageError.
std::string resource_type_argument(const std::string &text);
// A resource ID, -32768 to 32767; else UsageError.
int32_t resource_id_argument(const std::string &text);

}  // namespace varnel_tool
