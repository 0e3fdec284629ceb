// REV, UID and PRODID: the lines that do not come from the record.
#include <array>
#include <cstring>

#include "card/reads.hpp"
#include "modules/modCreateGUID.hpp"
#include "writer/decimal_text.hpp"

namespace qv_VCard::writer {

namespace {

constexpr std::u16string_view kProductIdText =
    u"qv_vCard.dll, Version 1.0.0 (qv_VCard project, https://qv-vcard.invalid)  ";

// Whether a clock reading is a date and a time of day the stamp can show:
// a year that is a number of digits, the other fields in their calendar
// ranges (a leap second included).
bool IsStampable(const CalendarTime& t) {
  return t.year >= 0 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour >= 0 &&
         t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 60;
}

// The stamp of a reading IsStampable accepted: "REV:" year "-" MM "-" DD
// "T" hh ":" mm ":" ss "Z" CR LF, at most 32 units (a ten-digit year), in a
// block of that size.
class Stamp {
 public:
  explicit Stamp(const CalendarTime& t) {
    char16_t* p = units_.data();
    p = Put(p, lines::kRevision);
    p = PutYear(p, t.year);
    // The rest has a fixed width: "-MM-DDThh:mm:ssZ" and CR LF.
    char16_t rest[] = u"-MM-DDThh:mm:ssZ\r\n";
    PutTwoDigits(rest + 1, t.month);
    PutTwoDigits(rest + 4, t.day);
    PutTwoDigits(rest + 7, t.hour);
    PutTwoDigits(rest + 10, t.minute);
    PutTwoDigits(rest + 13, t.second);
    p = Put(p, std::u16string_view(rest, std::size(rest) - 1));
    size_ = static_cast<std::size_t>(p - units_.data());
  }
  std::u16string_view text() const { return {units_.data(), size_}; }

 private:
  static char16_t* Put(char16_t* p, std::u16string_view s) {
    std::memcpy(p, s.data(), s.size() * sizeof(char16_t));
    return p + s.size();
  }
  // v is 0 to 99.
  static void PutTwoDigits(char16_t* p, int v) {
    std::memcpy(p, &kTwoDigits[static_cast<std::size_t>(2 * v)], 2 * sizeof(char16_t));
  }
  // Without leading zeros, any year from 0 on (at most ten digits).
  static char16_t* PutYear(char16_t* p, int year) {
    if (year >= 1000 && year <= 9999) {
      PutTwoDigits(p, year / 100);
      PutTwoDigits(p + 2, year % 100);
      return p + 4;
    }
    char16_t digits[10];
    int n = 0;
    do {
      digits[n++] = static_cast<char16_t>(u'0' + year % 10);
      year /= 10;
    } while (year != 0);
    while (n > 0) *p++ = digits[--n];
    return p;
  }

  std::array<char16_t, 4 + 10 + 16 + 2> units_{};
  std::size_t size_ = 0;
};

}  // namespace

Status BuildRevisionLine(const qvVCard& c, CardText& card) {
  CalendarTime t;
  const Status s = detail::Access::ClockOf(c).Now(t);
  if (Failed(s)) return s;
  // A reading outside the calendar would write other characters than
  // digits: the card fails instead.
  if (!IsStampable(t)) return kInvalidArg;
  const Stamp stamp(t);
  Cursor line(card);
  line.append(stamp.text());
  line.Commit();
  return kOk;
}

Status BuildUidLine(const qvVCard& c, CardText& card) {
  char16_t text[modules::kGuidTextLength];
  const Status s = modules::CreateGUID(detail::Access::GuidsOf(c), text);
  if (Failed(s)) return s;
  Cursor line(card);
  line.append(lines::kUid);
  line.append(std::u16string_view(text + 1, modules::kGuidTextLength - 2));  // without the braces
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

Status BuildProductIdLine(const qvVCard&, CardText& card) {
  Cursor line(card);
  line.append(lines::kProductId);
  line.append(kProductIdText);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

}  // namespace qv_VCard::writer
