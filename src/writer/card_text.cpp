#include "writer/card_text.hpp"

#include <algorithm>

namespace qv_VCard::writer {

void CardText::Grow(std::size_t n) {
  const std::size_t used = size();
  // At least double, so that a card that keeps growing is copied rarely.
  const std::size_t wanted = std::max({used + n, storage_.size() * 2, std::size_t{512}});
  storage_.resize(wanted);               // keeps the text; throws and changes nothing on failure
  storage_.resize(storage_.capacity());  // whatever was allocated is room
  begin_ = storage_.data();
  end_ = begin_ + used;
  limit_ = begin_ + storage_.size();
}

}  // namespace qv_VCard::writer
