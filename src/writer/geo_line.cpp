// The GEO line: degrees, minutes and seconds of each axis as one signed
// decimal number.
#include <cmath>
#include <limits>

#include "card/reads.hpp"
#include "writer/decimal_text.hpp"

namespace qv_VCard::writer {

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

// Completes one axis whose hemisphere sign has just been read onto the
// card: an unsigned fixed-point number of at most seven significant digits
// follows, and the sign is flipped for a negative value, so the result is
// always a valid number.
QV_VCARD_WRITE_INLINE void FinishAxis(Cursor& card, const Axis& axis) {
  const float magnitude = std::fabs(axis.value);
  if (!axis.present || magnitude < kZeroResidue) {
    card.push_back(u'0');
    return;
  }
  if (axis.value < 0.0f) {
    char16_t& sign = card.back();
    sign = (sign == u'+') ? u'-' : u'+';
  }
  // The 16-bit sums keep magnitudes below 40000.
  const Room room = card.Reserve(kSignificant7Room);
  card.Advance(room, WriteSignificant7(magnitude, room.at));
}

}  // namespace

Status BuildGeoLine(const qvVCard& c, CardText& card) {
  using reads::ReadValue;
  Axis lat;
  Axis lon;
  Status s = ComputeAxis(ReadValue(c, Property::GeoLatDeg), ReadValue(c, Property::GeoLatMin),
                         ReadValue(c, Property::GeoLatSec), lat);
  if (Failed(s)) return s;
  s = ComputeAxis(ReadValue(c, Property::GeoLonDeg), ReadValue(c, Property::GeoLonMin),
                  ReadValue(c, Property::GeoLonSec), lon);
  if (Failed(s)) return s;
  if (!lat.present && !lon.present) return kOk;

  // Each axis begins with the read of its hemisphere sign, one character.
  Cursor line(card);
  line.append(lines::kGeo);
  reads::AppendRead(c, Property::GeoLat, line);
  FinishAxis(line, lat);
  line.push_back(u';');
  reads::AppendRead(c, Property::GeoLon, line);
  FinishAxis(line, lon);
  line.append(kLineEnd);
  line.Commit();
  return kOk;
}

}  // namespace qv_VCard::writer
