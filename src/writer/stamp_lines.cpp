// REV, UID and PRODID: the lines that do not come from the record.
#include <cstring>
#include <iterator>

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
// "T" hh ":" mm ":" ss "Z" CR LF, at most kStampMax units (a ten-digit year).
constexpr std::size_t kStampMax = 4 + 10 + 16 + 2;

// v is 0 to 99.
void PutTwoDigits(char16_t* p, int v) {
  std::memcpy(p, &kTwoDigits[static_cast<std::size_t>(2 * v)], 2 * sizeof(char16_t));
}

char16_t* Put(char16_t* p, std::u16string_view s) {
  std::memcpy(p, s.data(), s.size() * sizeof(char16_t));
  return p + s.size();
}

// Without leading zeros, any year from 0 on (at most ten digits).
char16_t* PutYear(char16_t* p, int year) {
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

// Writes the stamp at out (which has kStampMax units) and returns its length.
std::size_t WriteStampAnew(const CalendarTime& t, char16_t* out) {
  char16_t* p = Put(out, lines::kRevision);
  p = PutYear(p, t.year);
  // The rest has a fixed width: "-MM-DDThh:mm:ssZ" and CR LF.
  char16_t rest[] = u"-MM-DDThh:mm:ssZ\r\n";
  PutTwoDigits(rest + 1, t.month);
  PutTwoDigits(rest + 4, t.day);
  PutTwoDigits(rest + 7, t.hour);
  PutTwoDigits(rest + 10, t.minute);
  PutTwoDigits(rest + 13, t.second);
  p = Put(p, std::u16string_view(rest, std::size(rest) - 1));
  return static_cast<std::size_t>(p - out);
}

// The clock reads the same for a second, in which many cards are made: the
// stamp of the last reading is kept (by each thread) and copied while the
// reading stays the same.
struct LastStamp {
  CalendarTime time;
  char16_t text[kStampMax] = {};
  std::size_t size = 0;  // 0: none yet
};
thread_local LastStamp last_stamp;

bool SameTime(const CalendarTime& a, const CalendarTime& b) {
  return a.second == b.second && a.minute == b.minute && a.hour == b.hour && a.day == b.day &&
         a.month == b.month && a.year == b.year;
}

std::size_t WriteStamp(const CalendarTime& t, char16_t* out) {
  LastStamp& last = last_stamp;
  if (last.size == 0 || !SameTime(t, last.time)) {
    last.size = WriteStampAnew(t, last.text);
    last.time = t;
  }
  std::memcpy(out, last.text, sizeof last.text);  // out has room for the longest
  return last.size;
}

}  // namespace

Status BuildRevisionLine(const qvVCard& c, CardText& card) {
  CalendarTime t;
  const Status s = detail::Access::ClockOf(c).Now(t);
  if (Failed(s)) return s;
  // A reading outside the calendar would write other characters than
  // digits: the card fails instead.
  if (!IsStampable(t)) return kInvalidArg;
  WriteLine(card, [&](auto& line) QV_VCARD_LINE_INLINE {
    line.Write(kStampMax, [&t](char16_t* at) QV_VCARD_LINE_INLINE { return WriteStamp(t, at); });
  });
  return kOk;
}

Status BuildUidLine(const qvVCard& c, CardText& card) {
  // A failing source is a failing card: no identifier is made up.
  Guid guid{};
  const Status s = detail::Access::GuidsOf(c).Create(guid);
  if (Failed(s)) return s;
  WriteLine(card, [&](auto& line) QV_VCARD_LINE_INLINE {
    line.append(lines::kUid);
    line.Write(modules::kGuidDigitsLength, [&guid](char16_t* at) QV_VCARD_LINE_INLINE {
      modules::WriteGuidDigits(guid, at);
      return modules::kGuidDigitsLength;
    });
    line.append(kLineEnd);
  });
  return kOk;
}

Status BuildProductIdLine(const qvVCard&, CardText& card) {
  WriteLine(card, [](auto& line) QV_VCARD_LINE_INLINE {
    line.append(lines::kProductId);
    line.append(kProductIdText);
    line.append(kLineEnd);
  });
  return kOk;
}

}  // namespace qv_VCard::writer
