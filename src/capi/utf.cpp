// UTF conversion at the C interface, by utfcpp.
#include "capi/utf.hpp"

#include <utf8.h>

#include <iterator>

namespace qv_VCard::capi {
namespace {

// An output iterator that only counts what is written through it.
class CountingIterator {
 public:
  using iterator_category = std::output_iterator_tag;
  using value_type = void;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = void;

  explicit CountingIterator(std::size_t& count) : count_(&count) {}
  CountingIterator& operator*() { return *this; }
  template <typename T>
  CountingIterator& operator=(T) {
    ++*count_;
    return *this;
  }
  CountingIterator& operator++() { return *this; }
  CountingIterator operator++(int) { return *this; }

 private:
  std::size_t* count_;
};

}  // namespace

bool DecodeUtf8(std::string_view in, std::u16string& out) {
  out.clear();
  // find_invalid refuses overlong forms, encoded surrogates, code points
  // above U+10FFFF and truncated or stray sequences.
  if (utf8::find_invalid(in.begin(), in.end()) != in.end()) return false;
  out.reserve(in.size());
  utf8::unchecked::utf8to16(in.begin(), in.end(), std::back_inserter(out));
  return true;
}

std::size_t Utf8Length(std::u16string_view in) noexcept {
  std::size_t n = 0;
  try {
    utf8::utf16to8(in.begin(), in.end(), CountingIterator(n));
  } catch (const utf8::exception&) {
    return kNotEncodable;  // an unpaired surrogate
  }
  return n;
}

void EncodeUtf8(std::u16string_view in, char* dst) noexcept {
  utf8::unchecked::utf16to8(in.begin(), in.end(), dst);
}

}  // namespace qv_VCard::capi
