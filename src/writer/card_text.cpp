#include "writer/card_text.hpp"

#include <algorithm>
#include <new>

namespace qv_VCard::writer {

namespace {

// The least room a card starts with, and the window handed to a sink.
constexpr std::size_t kFirstRoom = 512;
constexpr std::size_t kWindow = 4 * kPiece;

}  // namespace

// The storage is kept at its full length: the units beyond the text written
// are room, not content.
CardText::CardText(Text& storage) noexcept
    : storage_(storage),
      sink_(nullptr),
      begin_(storage.data()),
      end_(storage.data()),
      limit_(storage.data() + storage.size()) {}

CardText::CardText(Text& storage, TextSink& sink) noexcept : CardText(storage) { sink_ = &sink; }

void CardText::Deliver() noexcept {
  if (end_ != begin_ && Succeeded(failure_)) {
    Fail(sink_->Write(view()));
  }
  end_ = begin_;
}

CardText::Ends CardText::MakeRoom(char16_t* end, std::size_t n) {
  end_ = end;
  if (sink_ != nullptr) {
    Deliver();
    if (n <= static_cast<std::size_t>(limit_ - end_)) return {end_, limit_};
  }
  const std::size_t used = static_cast<std::size_t>(end_ - begin_);
  if (n > storage_.max_size() - used) throw std::bad_alloc();
  // At least double, so that a card that keeps growing is copied rarely;
  // a window only as large as a piece needs.
  const std::size_t floor = sink_ != nullptr ? kWindow : kFirstRoom;
  const std::size_t wanted = std::max({used + n, storage_.size() * 2, floor});
  storage_.resize(wanted);  // keeps the text; throws and changes nothing on failure
  begin_ = storage_.data();
  end_ = begin_ + used;
  limit_ = begin_ + storage_.size();
  return {end_, limit_};
}

CardText::Ends CardText::AppendCleaned(char16_t* end, std::u16string_view value, bool quoted) {
  end_ = end;
  Cursor line(*this);
  AppendCleanedRuns(line, value, quoted);
  line.Commit();
  return {end_, limit_};
}

Status CardText::Finish() noexcept {
  if (sink_ != nullptr) Deliver();
  return failure_;
}

}  // namespace qv_VCard::writer
