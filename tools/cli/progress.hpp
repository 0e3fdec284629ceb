// A one-line progress display on standard error: share of the input read,
// records, records per second and the time left.
#ifndef QVVCARD_PROGRESS_HPP
#define QVVCARD_PROGRESS_HPP

#include <chrono>
#include <cstdint>
#include <string>

namespace qvvcard {

class Progress {
 public:
  // Draws nothing unless enabled; total_bytes is the input's size, 0 when
  // it is not known (records and their rate are shown then).
  Progress(bool enabled, std::uint64_t total_bytes);
  ~Progress() { Clear(); }

  // Called once per record; redraws a few times a second.
  void Update(std::uint64_t records, std::uint64_t bytes_read) {
    if (enabled_ && (records & 255) == 0) MaybeDraw(records, bytes_read);
  }
  // Removes the line, so that a message can be printed in its place; the
  // next update draws it again.
  void Clear();

  // The line for the given state, without the leading carriage return.
  static std::string Line(std::uint64_t records, std::uint64_t bytes_read, std::uint64_t total,
                          double seconds);

 private:
  void MaybeDraw(std::uint64_t records, std::uint64_t bytes_read);
  static void Draw(std::string line);

  bool enabled_;
  bool shown_ = false;
  std::uint64_t total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace qvvcard

#endif
