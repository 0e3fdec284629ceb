// The GEO line: degrees, minutes and seconds of each axis as one signed
// decimal number.
#include <charconv>
#include <cmath>
#include <limits>

#include "card/record.hpp"
#include "writer/line_text.hpp"

namespace qv_VCard {

namespace {

struct Axis {
  bool present = false;  // the 16-bit sum of its integers is not 0
  float value = 0.0f;
};

// Adds in signed 16-bit arithmetic, reporting overflow.
bool AddInt16(std::int16_t a, std::int16_t b, std::int16_t& sum) {
  const int s = int{a} + int{b};
  if (s < std::numeric_limits<std::int16_t>::min() ||
      s > std::numeric_limits<std::int16_t>::max()) {
    return false;
  }
  sum = static_cast<std::int16_t>(s);
  return true;
}

Status ComputeAxis(std::int16_t deg, std::int16_t min, std::int16_t sec, Axis& axis) {
  std::int16_t sum = 0;
  if (!AddInt16(deg, min, sum) || !AddInt16(sum, sec, sum)) return kOverflow;
  axis.present = sum != 0;
  if (!axis.present) return kOk;
  double v = static_cast<double>(min) / 60.0 + static_cast<double>(deg);
  v = v + static_cast<double>(sec) / 3600.0;
  axis.value = static_cast<float>(v);  // nearest single, ties to even
  return kOk;
}

// Below this a magnitude can only be the rounding residue of an exact zero.
constexpr float kZeroResidue = 0.0001f;

// One axis as a sign and an unsigned fixed-point number of at most seven
// significant digits. The sign is the hemisphere sign, flipped for a
// negative value, so the result is always a valid number.
void AppendAxis(Text& card, char16_t hemisphere_sign, const Axis& axis) {
  const float magnitude = std::fabs(axis.value);
  if (!axis.present || magnitude < kZeroResidue) {
    card.push_back(hemisphere_sign);
    card.push_back(u'0');
    return;
  }
  char16_t sign = hemisphere_sign;
  if (axis.value < 0.0f) sign = (sign == u'+') ? u'-' : u'+';
  card.push_back(sign);
  // Magnitudes from 0.0001 to below 40000 never take an exponent in the
  // general form.
  char digits[32];
  const auto r = std::to_chars(digits, digits + sizeof digits, static_cast<double>(magnitude),
                               std::chars_format::general, 7);
  for (const char* p = digits; p != r.ptr; ++p) card.push_back(static_cast<char16_t>(*p));
}

}  // namespace

Status qvVCard::BuildGeoLine(Text& card) const {
  Axis lat;
  Axis lon;
  Status s = ComputeAxis(ReadValue(Property::GeoLatDeg), ReadValue(Property::GeoLatMin),
                         ReadValue(Property::GeoLatSec), lat);
  if (Failed(s)) return s;
  s = ComputeAxis(ReadValue(Property::GeoLonDeg), ReadValue(Property::GeoLonMin),
                  ReadValue(Property::GeoLonSec), lon);
  if (Failed(s)) return s;
  if (!lat.present && !lon.present) return kOk;

  card.append(u"GEO:");
  AppendAxis(card, ReadText(Property::GeoLat).front(), lat);
  card.push_back(u';');
  AppendAxis(card, ReadText(Property::GeoLon).front(), lon);
  card.append(writer::kLineEnd);
  return kOk;
}

}  // namespace qv_VCard
