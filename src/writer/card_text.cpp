#include "writer/card_text.hpp"

#include "writer/line_text.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace qv_VCard::writer {

void CardText::Grow(std::size_t n) {
  const std::size_t used = size();
  if (n > storage_.max_size() - used) throw std::bad_alloc();
  // At least double, so that a card that keeps growing is copied rarely.
  const std::size_t wanted = std::max({used + n, storage_.size() * 2, std::size_t{512}});
  storage_.resize(wanted);               // keeps the text; throws and changes nothing on failure
  storage_.resize(storage_.capacity());  // whatever was allocated is room
  begin_ = storage_.data();
  end_ = begin_ + used;
  limit_ = begin_ + storage_.size();
}

namespace {

// The value being escaped, as the text EscapeLineBreaks works on; it may
// lengthen into the room that follows it.
struct ValueSpan {
  char16_t* begin;
  std::size_t length;
  char16_t* data() const noexcept { return begin; }
  std::size_t size() const noexcept { return length; }
  void resize(std::size_t n) noexcept { length = n; }
};

}  // namespace

char16_t* EscapeLineBreaksIn(char16_t* value, char16_t* end) noexcept {
  ValueSpan span{value, static_cast<std::size_t>(end - value)};
  EscapeLineBreaks(span, 0);
  return span.begin + span.length;
}

#if defined(QV_VCARD_CHECK_ROOM)
void CardText::RoomExceeded(std::size_t n) const noexcept {
  std::fprintf(stderr, "qv_vcard: card text written past its room (%zu more units, %zu left)\n", n,
               static_cast<std::size_t>(limit_ - end_));
  std::abort();
}
#endif

}  // namespace qv_VCard::writer
