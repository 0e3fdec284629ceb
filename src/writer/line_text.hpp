// Writing values into content lines.
#ifndef QV_VCARD_WRITER_LINE_TEXT_HPP
#define QV_VCARD_WRITER_LINE_TEXT_HPP

#include <string_view>

#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard::writer {

inline constexpr std::u16string_view kLineEnd = u"\r\n";

// Appends a value to a content line. Values are written as stored, except
// that a line break inside them (CR LF, a lone CR or a lone LF) becomes the
// two characters "\n", so no value can end its line or start another.
void AppendValue(Text& line, std::u16string_view value);

// True when a 16-bit flag counts as set.
constexpr bool IsSet(std::int16_t flag) { return flag != 0; }

}  // namespace qv_VCard::writer

#endif
