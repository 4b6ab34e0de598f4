#include "arguments.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "common/mac_text.hpp"
#include "common/progress_line.hpp"
#include "tool_context.hpp"

namespace varnel_tool {

ArgumentWalker::ArgumentWalker(std::vector<std::string> arguments)
    : arguments_(std::move(arguments)) {}

bool ArgumentWalker::next() {
  for (;;) {
    if (next_index_ >= arguments_.size()) return false;
    current_ = arguments_[next_index_++];
    inline_value_.reset();
    option_name_.clear();
    if (!options_ended_ && current_ == "--") {
      options_ended_ = true;
      continue;
    }
    positional_ = options_ended_ || current_.size() < 2 || current_[0] != '-';
    if (!positional_) {
      const size_t equals = current_.find('=');
      if (current_.starts_with("--") && equals != std::string::npos) {
        option_name_ = current_.substr(0, equals);
        inline_value_ = current_.substr(equals + 1);
      } else {
        option_name_ = current_;
      }
    }
    return true;
  }
}

bool ArgumentWalker::is(std::string_view long_name, std::string_view short_name) const {
  if (positional_) return false;
  return option_name_ == long_name || (!short_name.empty() && option_name_ == short_name);
}

std::string ArgumentWalker::value() {
  if (inline_value_) return *inline_value_;
  if (next_index_ >= arguments_.size()) throw UsageError("option " + option_name_ + " needs a value");
  return arguments_[next_index_++];
}

std::string ArgumentWalker::extra_value() {
  if (next_index_ >= arguments_.size()) throw UsageError("option " + option_name_ + " needs more values");
  return arguments_[next_index_++];
}

void ArgumentWalker::expect_no_value() const {
  if (inline_value_) throw UsageError("option " + option_name_ + " takes no value");
}

void ArgumentWalker::reject() const {
  if (positional_) throw UsageError("unexpected argument '" + current_ + "'");
  throw UsageError("unknown option '" + option_name_ + "'");
}

std::string resource_type_argument(const std::string &text) {
  std::string type = utf8_to_mac_roman(text).value_or("");
  if (type.empty() || type.size() > 4)
    throw UsageError("resource type '" + text + "' must be 1 to 4 Macintosh characters");
  type.resize(4, ' ');
  return type;
}

int32_t resource_id_argument(const std::string &text) {
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < -32768 || value > 32767)
    throw UsageError("resource ID '" + text + "' must be a whole number from -32768 to 32767");
  return static_cast<int32_t>(value);
}

bool take_shared_option(ArgumentWalker &walker, const char *help, unsigned taken) {
  if (walker.is("--help", "-h")) {
    std::fputs(help, results());
    throw HelpShown{};
  }
  if ((taken & kQuietOption) != 0 && walker.is("--quiet", "-q")) {
    walker.expect_no_value();
    Reporter::instance().set_quiet(true);
    return true;
  }
  if ((taken & kProgressOption) != 0 && walker.is("--progress")) {
    walker.expect_no_value();
    request_progress_lines();
    return true;
  }
  return false;
}

}  // namespace varnel_tool
