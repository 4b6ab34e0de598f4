// One line on standard error that follows long work: bytes done against
// the total, the rate and the time left, redrawn in place ("\r") a few
// times a second, e.g.
//   convert  412.0 MiB / 1.0 GiB  38%  220 MiB/s  3 s left
// By default a line is drawn only when standard error is a terminal, the
// run is not quiet, and the work is long: 64 MiB or more to move, or still
// going after a second.  --progress draws it whatever standard error is
// (a log, a test) and however short the work.  Only one line is on the
// terminal at a time; a message clears it first (clear_progress_line), and
// the next update draws it again.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace varnel_tool {

// --progress: lines are drawn for all work, on any standard error.
void request_progress_lines();
// -q: no lines (unless requested).
void silence_progress_lines(bool silenced);

// Clears the line on the terminal, if one is drawn, so that a message
// starts at the left margin.  Writes with fputc alone: safe where memory
// may have run out.
void clear_progress_line() noexcept;

enum class ProgressUnit {
  kBytes,   // done and total are bytes: sizes and a rate are shown
  kPercent  // done of a total of 100, as the library's picture writer counts
};

inline constexpr int64_t kUnknownTotal = -1;

// What a line shows; progress_text turns it into the line's text.
struct ProgressFigures {
  int64_t done = 0;
  int64_t total = kUnknownTotal;
  double elapsed_seconds = 0;
  bool finished = false;
  ProgressUnit unit = ProgressUnit::kBytes;
};
// "LABEL  DONE / TOTAL  PERCENT  RATE  TIME", the parts that make sense:
// no rate or time left before there is enough work to measure, no total,
// percent or time left when the total is unknown, and when finished the
// time the work took instead of the time left.
std::string progress_text(const std::string &label, const ProgressFigures &figures);

// "512 B", "12.0 KiB", "65.0 MiB", "1.0 GiB".
std::string byte_size_text(int64_t bytes);

class ProgressLine {
 public:
  // `label` heads the line ("convert", "PICT 128"); `total` is the work to
  // do in `unit`, or kUnknownTotal.  The clock starts here.
  ProgressLine(std::string label, int64_t total, ProgressUnit unit = ProgressUnit::kBytes);
  // A line still drawn (the work stopped early, on an error) is cleared.
  ~ProgressLine();
  ProgressLine(const ProgressLine &) = delete;
  ProgressLine &operator=(const ProgressLine &) = delete;

  // `count` more done; redraws when due.  Never throws: it is called from
  // inside libpng and from the library's callbacks.
  void add(int64_t count) noexcept;
  // Sets what is done so far (for counts that are given whole).
  void set_done(int64_t done) noexcept;
  // The work is complete: a line that is drawn (or requested) shows its
  // final state and ends with a newline.
  void finish() noexcept;

  // Counts each piece `write` takes: a ByteWriter that feeds the line.
  template <typename Writer>
  auto counting(const Writer &write) {
    return [this, &write](std::span<const uint8_t> bytes) {
      const bool written = write(bytes);
      if (written) add(static_cast<int64_t>(bytes.size()));
      return written;
    };
  }

 private:
  void update(bool finished);
  double seconds_since(std::chrono::steady_clock::time_point from) const;

  std::string label_;
  int64_t total_;
  ProgressUnit unit_;
  int64_t done_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  bool shown_ = false;     // past the threshold: drawn on each due update
  bool finished_ = false;
};

}  // namespace varnel_tool
