#include "common/progress_line.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace varnel_tool {
namespace {

// Work of this size is long enough to show from its start.
constexpr int64_t kLongWorkBytes = int64_t{64} * 1024 * 1024;
// Shorter work is shown once it has run this long.
constexpr double kLongWorkSeconds = 1.0;
// Redraws at most five times a second: enough to see it move, without
// spending the work's time on the terminal.
constexpr double kRedrawSeconds = 0.2;
// A rate, and the time left from it, only once there is this much work to
// measure: the first pieces come from caches and would promise nonsense.
constexpr double kMeasureSeconds = 0.5;
// A finished line gives its rate and time when they are measurable at all.
constexpr double kFinishedMeasureSeconds = 0.1;
// Labels are cut here, so that a line fits an 80-column terminal.
constexpr size_t kMaxLabelLength = 30;

bool lines_requested = false;
bool lines_silenced = false;
// Characters of the line now on standard error (0: none is drawn); a
// shorter line drawn over it is padded with blanks to cover it.
size_t width_on_screen = 0;

bool lines_allowed() {
  static const bool on_terminal = isatty(STDERR_FILENO) != 0;
  return lines_requested || (on_terminal && !lines_silenced);
}

// A size in the largest binary unit it reaches: `decimals` digits after
// the point, none for plain bytes.
std::string scaled_text(double value, int decimals) {
  static constexpr const char *kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.*f %s", unit == 0 ? 0 : decimals, value, kUnits[unit]);
  return text;
}

std::string rate_text(double bytes_per_second) {
  // Three figures at most: "220 MiB/s", "5.3 MiB/s".
  double scaled = bytes_per_second;
  while (scaled >= 1024) scaled /= 1024;
  return scaled_text(bytes_per_second, scaled >= 10 ? 0 : 1) + "/s";
}

// "45 s", "3 min 5 s", "2 h 10 min"; "0.3 s" for short finished work.
std::string duration_text(double seconds, bool with_tenths) {
  char text[40];
  if (with_tenths && seconds < 10) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
  }
  constexpr double kMostHours = 99;
  if (seconds > kMostHours * 3600) return "over 99 h";
  const auto whole = static_cast<int64_t>(std::ceil(seconds));
  if (whole < 60)
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(whole));
  else if (whole < 3600)
    std::snprintf(text, sizeof text, "%lld min %lld s", static_cast<long long>(whole / 60),
                  static_cast<long long>(whole % 60));
  else
    std::snprintf(text, sizeof text, "%lld h %lld min", static_cast<long long>(whole / 3600),
                  static_cast<long long>(whole % 3600 / 60));
  return text;
}

// The rate and time parts of a line, each when it means something.
std::string timing_text(const ProgressFigures &f) {
  const bool bytes = f.unit == ProgressUnit::kBytes;
  const double measured = f.finished ? kFinishedMeasureSeconds : kMeasureSeconds;
  const bool measurable = f.elapsed_seconds >= measured && f.done > 0;
  std::string text;
  if (bytes && measurable) text += "  " + rate_text(static_cast<double>(f.done) / f.elapsed_seconds);
  if (f.finished) {
    text += f.elapsed_seconds >= kFinishedMeasureSeconds ? "  done in " + duration_text(f.elapsed_seconds, true)
                                                         : "  done";
  } else if (measurable && f.total > f.done) {
    const double left = static_cast<double>(f.total - f.done) * f.elapsed_seconds / static_cast<double>(f.done);
    text += "  " + duration_text(left, false) + " left";
  }
  return text;
}

void draw(const std::string &text, bool end_line) {
  std::fflush(stdout);  // library texts go to the same descriptor
  std::string line = "\r" + text;
  if (text.size() < width_on_screen) line.append(width_on_screen - text.size(), ' ');
  if (end_line) line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  width_on_screen = end_line ? 0 : text.size();
}

}  // namespace

void request_progress_lines() { lines_requested = true; }
void silence_progress_lines(bool silenced) { lines_silenced = silenced; }

void clear_progress_line() noexcept {
  if (width_on_screen == 0) return;
  std::fputc('\r', stderr);
  for (size_t i = 0; i < width_on_screen; ++i) std::fputc(' ', stderr);
  std::fputc('\r', stderr);
  std::fflush(stderr);
  width_on_screen = 0;
}

std::string byte_size_text(int64_t bytes) { return scaled_text(static_cast<double>(bytes), 1); }

std::string progress_text(const std::string &label, const ProgressFigures &figures) {
  std::string text = label.substr(0, kMaxLabelLength);
  const bool known_total = figures.total >= 0;
  if (figures.unit == ProgressUnit::kBytes) {
    text += "  " + byte_size_text(figures.done);
    if (known_total) text += " / " + byte_size_text(figures.total);
  }
  if (known_total) {
    // Whole percents, rounded down: 100% only when all is done.  Nothing
    // to do is all done.
    const int64_t percent = figures.total == 0 ? 100 : std::min<int64_t>(100, figures.done * 100 / figures.total);
    text += "  " + std::to_string(percent) + "%";
  }
  return text + timing_text(figures);
}

ProgressLine::ProgressLine(std::string label, int64_t total, ProgressUnit unit)
    : label_(std::move(label)), total_(total < 0 ? kUnknownTotal : total), unit_(unit),
      start_(std::chrono::steady_clock::now()), last_draw_(start_) {
  update(false);
}

ProgressLine::~ProgressLine() {
  if (shown_ && !finished_) clear_progress_line();
}

void ProgressLine::add(int64_t count) noexcept {
  done_ += count;
  update(false);
}

void ProgressLine::set_done(int64_t done) noexcept {
  done_ = done;
  update(false);
}

void ProgressLine::finish() noexcept {
  if (finished_) return;
  update(true);
  finished_ = true;
  shown_ = false;
}

double ProgressLine::seconds_since(std::chrono::steady_clock::time_point from) const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void ProgressLine::update(bool finished) {
  if (finished_) return;
  try {
    const double elapsed = seconds_since(start_);
    if (!shown_) {
      if (!lines_allowed()) return;
      const bool big = unit_ == ProgressUnit::kBytes && std::max(done_, total_) >= kLongWorkBytes;
      if (!lines_requested && !big && elapsed < kLongWorkSeconds) return;
      shown_ = true;
    } else if (!finished && seconds_since(last_draw_) < kRedrawSeconds) {
      return;
    }
    draw(progress_text(label_, {done_, total_, elapsed, finished, unit_}), finished);
    last_draw_ = std::chrono::steady_clock::now();
  } catch (...) {
    // Out of memory for a line of text: the work goes on without it.
  }
}

}  // namespace varnel_tool
