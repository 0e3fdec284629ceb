// Where cards go: one file each in a folder, or all in one output. Nothing
// is reported as written that did not reach its destination.
#ifndef QVVCARD_OUTPUT_CARD_SINK_HPP
#define QVVCARD_OUTPUT_CARD_SINK_HPP

#include <cstdint>
#include <string_view>

namespace qvvcard {

class CardSink {
 public:
  virtual ~CardSink() = default;
  // Takes one complete card (UTF-8, ending in CR LF); name is the proposed
  // file name (used by folders). Throws std::system_error or Stopped.
  virtual void Put(std::string_view card, std::string_view name) = 0;
  // Makes everything taken durable (and, for a file, gives it its name).
  virtual void Finish() = 0;
  // Cards that have reached their destination so far.
  virtual std::uint64_t delivered() const = 0;
};

}  // namespace qvvcard

#endif
