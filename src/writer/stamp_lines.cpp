// REV, UID and PRODID: the lines that do not come from the record.
#include <array>
#include <cstring>

#include "card/reads.hpp"
#include "modules/modCreateGUID.hpp"
#include "writer/decimal_text.hpp"

namespace qv_VCard {

namespace {

constexpr std::u16string_view kProductId =
    u"PRODID:qv_vCard.dll, Version 1.0.0 (qv_VCard project, https://qv-vcard.invalid)  \r\n";

// Writes v as two digits: the tens and the units of v, each modulo 10.
char16_t* PutTwoDigits(char16_t* p, int v) {
  if (v >= 0 && v < 100) {
    std::memcpy(p, &writer::kTwoDigits[2 * v], 2 * sizeof(char16_t));
  } else {
    p[0] = static_cast<char16_t>(u'0' + (v / 10) % 10);
    p[1] = static_cast<char16_t>(u'0' + v % 10);
  }
  return p + 2;
}

// Writes a year as its decimal digits, without leading zeros.
char16_t* PutYear(char16_t* p, int year) {
  if (year >= 1000 && year <= 9999) {
    p = PutTwoDigits(p, year / 100);
    return PutTwoDigits(p, year % 100);
  }
  unsigned v = static_cast<unsigned>(year);
  if (year < 0) {
    *p++ = u'-';
    v = 0U - v;
  }
  char16_t digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) *p++ = digits[--n];
  return p;
}

}  // namespace

Status qvVCard::BuildRevisionLine(CardText& card) const {
  CalendarTime t;
  const Status s = clock_->Now(t);
  if (Failed(s)) return s;
  // "REV:" year "-" MM "-" DD "T" hh ":" mm ":" ss "Z" CR LF; a year has at
  // most 11 characters.
  char16_t* const start = card.Reserve(4 + 11 + 15 + 2);
  char16_t* p = start;
  std::memcpy(p, u"REV:", 4 * sizeof(char16_t));
  p += 4;
  p = PutYear(p, t.year);
  *p++ = u'-';
  p = PutTwoDigits(p, t.month);
  *p++ = u'-';
  p = PutTwoDigits(p, t.day);
  *p++ = u'T';
  p = PutTwoDigits(p, t.hour);
  *p++ = u':';
  p = PutTwoDigits(p, t.minute);
  *p++ = u':';
  p = PutTwoDigits(p, t.second);
  *p++ = u'Z';
  *p++ = u'\r';
  *p++ = u'\n';
  card.advance(static_cast<std::size_t>(p - start));
  return kOk;
}

Status qvVCard::BuildUidLine(CardText& card) const {
  char16_t text[modules::kGuidTextLength];
  const Status s = modules::CreateGUID(*guids_, text);
  if (Failed(s)) return s;
  card.append(u"UID:");
  card.append(text + 1, modules::kGuidTextLength - 2);  // without the braces
  card.append(writer::kLineEnd);
  return kOk;
}

Status qvVCard::BuildProductIdLine(CardText& card) const {
  card.append(kProductId);
  return kOk;
}

}  // namespace qv_VCard
