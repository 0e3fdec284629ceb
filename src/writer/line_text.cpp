#include "writer/line_text.hpp"

namespace qv_VCard::writer {

void AppendValue(Text& line, std::u16string_view value) {
  const char16_t* const begin = value.data();
  const char16_t* const end = begin + value.size();
  const char16_t* run = begin;
  for (const char16_t* p = begin; p != end; ++p) {
    const char16_t c = *p;
    if (c > u'\r' || (c != u'\r' && c != u'\n')) continue;
    line.append(run, static_cast<std::size_t>(p - run));
    line.append(u"\\n");
    if (c == u'\r' && p + 1 != end && p[1] == u'\n') ++p;  // CR LF is one break
    run = p + 1;
  }
  line.append(run, static_cast<std::size_t>(end - run));
}

}  // namespace qv_VCard::writer
