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

// The one character the read of a hemisphere gives.
struct SignRead {
  char16_t sign = u'+';
  void append(std::u16string_view s) { sign = s.front(); }
  void append(const Text&) {}
};

// The sign an axis begins with: the read of its hemisphere, flipped for a
// negative value, so that the number after it is unsigned and the result
// always a valid number.
QV_VCARD_READ_INLINE char16_t SignOf(const qvVCard& c, Property hemisphere, const Axis& axis) {
  SignRead read;
  reads::AppendRead(c, hemisphere, read);
  if (axis.present && std::fabs(axis.value) >= kZeroResidue && axis.value < 0.0f) {
    return read.sign == u'+' ? u'-' : u'+';
  }
  return read.sign;
}

// One axis after its sign: a fixed-point number of at most seven
// significant digits.
template <typename Line>
QV_VCARD_WRITE_INLINE void AppendAxis(Line& line, const Axis& axis) {
  const float magnitude = std::fabs(axis.value);
  if (!axis.present || magnitude < kZeroResidue) {
    line.push_back(u'0');
    return;
  }
  // The 16-bit sums keep magnitudes below 40000.
  line.Write(kSignificant7Room, [magnitude](char16_t* at) QV_VCARD_LINE_INLINE {
    return WriteSignificant7(magnitude, at);
  });
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
  const char16_t lat_sign = SignOf(c, Property::GeoLat, lat);
  const char16_t lon_sign = SignOf(c, Property::GeoLon, lon);
  WriteLine(card, [&](auto& line) QV_VCARD_LINE_INLINE {
    line.append(lines::kGeo);
    line.push_back(lat_sign);
    AppendAxis(line, lat);
    line.push_back(u';');
    line.push_back(lon_sign);
    AppendAxis(line, lon);
    line.append(kLineEnd);
  });
  return kOk;
}

}  // namespace qv_VCard::writer
