#include "cli/progress.hpp"

#include <unistd.h>

#include <cstdio>

namespace qvvcard {

Progress::Progress(bool enabled, std::uint64_t total_bytes)
    : enabled_(enabled), total_(total_bytes), start_(std::chrono::steady_clock::now()) {
  if (enabled_) {
    Draw(Line(0, 0, total_, 0));
    shown_ = true;
    last_ = start_;
  }
}

void Progress::MaybeDraw(std::uint64_t records, std::uint64_t bytes_read) {
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_ < std::chrono::milliseconds(200)) return;
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  Draw(Line(records, bytes_read, total_, seconds));
  shown_ = true;
}

void Progress::Draw(std::string line) {
  // Back to the start of the line, the new text, and the rest of the old
  // one erased.
  line.insert(line.begin(), '\r');
  line.append("\x1b[K");
  (void)!write(STDERR_FILENO, line.data(), line.size());
}

void Progress::Clear() {
  if (!shown_) return;
  static constexpr char kClear[] = "\r\x1b[K";
  (void)!write(STDERR_FILENO, kClear, sizeof kClear - 1);
  shown_ = false;
}

std::string Progress::Line(std::uint64_t records, std::uint64_t bytes_read, std::uint64_t total,
                           double seconds) {
  char rate[32] = "";
  if (seconds > 0.2 && records > 0) {
    std::snprintf(rate, sizeof rate, ", %.0f/s", static_cast<double>(records) / seconds);
  }
  if (total == 0) {
    // An input of unknown size (a pipe): no share, no time left.
    char buf[96];
    std::snprintf(buf, sizeof buf, "%llu records%s", static_cast<unsigned long long>(records),
                  rate);
    return buf;
  }
  constexpr int kWidth = 24;
  const double share =
      total == 0 ? 1.0 : static_cast<double>(bytes_read) / static_cast<double>(total);
  const int filled = static_cast<int>(share * kWidth + 0.5);
  std::string bar(static_cast<std::size_t>(filled < kWidth ? filled : kWidth), '#');
  bar.resize(kWidth, '.');

  char left[32] = "";
  if (seconds > 0.2 && records > 0) {
    if (bytes_read > 0 && bytes_read < total) {
      const double remaining =
          seconds * static_cast<double>(total - bytes_read) / static_cast<double>(bytes_read);
      const auto s = static_cast<unsigned long>(remaining + 0.5);
      std::snprintf(left, sizeof left, ", %lu:%02lu:%02lu left", s / 3600, s / 60 % 60, s % 60);
    }
  }
  char buf[160];
  std::snprintf(buf, sizeof buf, "[%s] %3.0f%% %llu records%s%s", bar.c_str(), share * 100.0,
                static_cast<unsigned long long>(records), rate, left);
  return buf;
}

}  // namespace qvvcard
