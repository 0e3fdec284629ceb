// All cards in one output. A regular file is written under no name (or a
// hidden temporary one) and replaces the file of its name only when the run
// is done; anything else is written to as the cards come.
#ifndef QVVCARD_OUTPUT_OUTPUT_FILE_HPP
#define QVVCARD_OUTPUT_OUTPUT_FILE_HPP

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "output/card_sink.hpp"
#include "output/destination.hpp"
#include "output/temp_files.hpp"

namespace qvvcard {

class WriteBehind;

class OutputFile final : public CardSink {
 public:
  explicit OutputFile(Destination destination, const WriteSeams& seams = NoSeams());
  // Without Finish(), a file being replaced is left as it was.
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Put(std::string_view card, std::string_view) override { WriteCard(card); }
  // Appends a card (which brings its own line end).
  void WriteCard(std::string_view card);
  void Finish() override;
  std::uint64_t delivered() const override { return delivered_; }

  const Destination& destination() const { return dest_; }

 private:
  void Flush();
  // Writes data to the file, past the buffer.
  void Send(std::string_view data);

  Destination dest_;
  const WriteSeams& seams_;
  int dirfd_ = -1;
  int fd_ = -1;
  TempMode mode_ = TempMode::Anonymous;
  std::string temp_name_;  // TempMode::Named
  std::string buffer_;
  std::uint64_t buffered_cards_ = 0;  // cards (or their ends) in buffer_
  std::uint64_t cards_ = 0;           // cards taken
  std::uint64_t delivered_ = 0;
  std::uint64_t written_ = 0;  // bytes written to fd_ so far
  std::unique_ptr<WriteBehind> behind_;
};

}  // namespace qvvcard

#endif
