// REV, UID and PRODID: the lines that do not come from the record.
#include <charconv>

#include "card/record.hpp"
#include "modules/modCreateGUID.hpp"
#include "writer/line_text.hpp"

namespace qv_VCard {

namespace {

constexpr std::u16string_view kProductId =
    u"PRODID:qv_vCard.dll, Version 1.0.0 (qv_VCard project, https://qv-vcard.invalid)  \r\n";

void AppendTwoDigits(Text& card, int v) {
  card.push_back(static_cast<char16_t>(u'0' + (v / 10) % 10));
  card.push_back(static_cast<char16_t>(u'0' + v % 10));
}

}  // namespace

Status qvVCard::BuildRevisionLine(Text& card) const {
  CalendarTime t;
  const Status s = clock_->Now(t);
  if (Failed(s)) return s;
  char year[16];
  const auto r = std::to_chars(year, year + sizeof year, t.year);
  card.append(u"REV:");
  for (const char* p = year; p != r.ptr; ++p) card.push_back(static_cast<char16_t>(*p));
  card.push_back(u'-');
  AppendTwoDigits(card, t.month);
  card.push_back(u'-');
  AppendTwoDigits(card, t.day);
  card.push_back(u'T');
  AppendTwoDigits(card, t.hour);
  card.push_back(u':');
  AppendTwoDigits(card, t.minute);
  card.push_back(u':');
  AppendTwoDigits(card, t.second);
  card.push_back(u'Z');
  card.append(writer::kLineEnd);
  return kOk;
}

Status qvVCard::BuildUidLine(Text& card) const {
  char16_t text[modules::kGuidTextLength];
  const Status s = modules::CreateGUID(*guids_, text);
  if (Failed(s)) return s;
  card.append(u"UID:");
  card.append(text + 1, modules::kGuidTextLength - 2);  // without the braces
  card.append(writer::kLineEnd);
  return kOk;
}

Status qvVCard::BuildProductIdLine(Text& card) const {
  card.append(kProductId);
  return kOk;
}

}  // namespace qv_VCard
