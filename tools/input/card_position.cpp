// The card builder's position: the decimal Geo field turned into degrees,
// minutes, seconds and hemispheres, and the check that a position given in
// its parts has its hemispheres.
#include <cmath>
#include <cstdlib>

#include "common/text.hpp"
#include "input/card_builder.hpp"

namespace qvvcard {

using qv_VCard::Property;

namespace {

// A decimal number: an optional sign, digits, and a fraction after a dot;
// nothing else (no exponent, no blanks inside).
bool ParseDecimalDegrees(std::string_view s, double& out) {
  s = TrimBlanks(s);
  std::size_t i = (s.starts_with('-') || s.starts_with('+')) ? 1 : 0;
  const std::size_t digits = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  bool any = i > digits;
  if (i < s.size() && s[i] == '.') {
    const std::size_t fraction = ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    any = any || i > fraction;
  }
  if (!any || i != s.size()) return false;
  const std::string text(s.starts_with('+') ? s.substr(1) : s);
  out = std::strtod(text.c_str(), nullptr);
  return true;
}

}  // namespace

void CardBuilder::SetGeo(const FieldValue& value) {
  if (value.type == FieldValue::Type::Null) {
    if (geo_) Fail(MakeProblem(ProblemKind::GivenTwice, std::string(kGeoField)));
    geo_ = true;
    return;
  }
  if (value.type != FieldValue::Type::Text) {
    geo_ = true;
    return Fail(MakeProblem(ProblemKind::NotAPosition, std::string(kGeoField), Shown(value)));
  }
  SetGeo(value.view());
}

void CardBuilder::SetGeo(std::string_view raw, std::string_view column) {
  const std::string field = column.empty()
                                ? std::string(kGeoField)
                                : std::string(column) + " (" + std::string(kGeoField) + ")";
  if (geo_) return Fail(MakeProblem(ProblemKind::GivenTwice, field));
  geo_ = true;
  if (TrimBlanks(raw).empty()) return;
  // The position's own properties: given already, they refuse Geo.
  const Property parts[] = {Property::GeoLatDeg, Property::GeoLatMin, Property::GeoLatSec,
                            Property::GeoLat,    Property::GeoLonDeg, Property::GeoLonMin,
                            Property::GeoLonSec, Property::GeoLon};
  for (const Property p : parts) {
    if (assigned_.TestAndSet(p)) {
      return Fail(MakeProblem(ProblemKind::PositionTwice, field, qv_VCard::Info(p).name));
    }
  }
  const std::size_t comma = raw.find(',');
  const std::string_view lat_text = TrimBlanks(raw.substr(0, comma));
  const std::string_view lon_text =
      comma == std::string_view::npos ? std::string_view() : TrimBlanks(raw.substr(comma + 1));
  double lat = 0, lon = 0;
  if (comma == std::string_view::npos || !ParseDecimalDegrees(lat_text, lat) ||
      !ParseDecimalDegrees(lon_text, lon)) {
    return Fail(MakeProblem(ProblemKind::NotAPosition, field, Quoted(raw)));
  }
  if (lat < -90 || lat > 90) {
    return Fail(MakeProblem(ProblemKind::PositionOutOfRange, field,
                            "the latitude " + std::string(lat_text) + " is outside -90 to 90"));
  }
  if (lon < -180 || lon > 180) {
    return Fail(MakeProblem(ProblemKind::PositionOutOfRange, field,
                            "the longitude " + std::string(lon_text) + " is outside -180 to 180"));
  }
  // Degrees, minutes and seconds, rounded to the nearest second.
  const auto put_axis = [&](double v, const Property(&ints)[3], Property hemisphere,
                            char16_t positive, char16_t negative) {
    const auto seconds = static_cast<long>(std::llround(std::fabs(v) * 3600.0));
    const std::int16_t dms[3] = {static_cast<std::int16_t>(seconds / 3600),
                                 static_cast<std::int16_t>(seconds / 60 % 60),
                                 static_cast<std::int16_t>(seconds % 60)};
    for (int k = 0; k < 3; ++k) {
      stale_.Reset(ints[k]);
      card_.Put(ints[k], dms[k]);
      if (recording_ && dms[k] != 0) values_.push_back({ints[k], {}, false, dms[k]});
    }
    stale_.Reset(hemisphere);
    const char16_t letter = v < 0 && seconds > 0 ? negative : positive;
    if (recording_)
      values_.push_back({hemisphere, std::string(1, static_cast<char>(letter)), false});
    const qv_VCard::Status s = card_.Put(hemisphere, std::u16string(1, letter));
    if (qv_VCard::Failed(s)) Fail(MakeProblem(ProblemKind::NotAssigned, field, {}, s));
  };
  put_axis(lat, kLatitudeParts, Property::GeoLat, u'N', u'S');
  put_axis(lon, kLongitudeParts, Property::GeoLon, u'E', u'W');
}

void CardBuilder::CheckPosition() {
  const std::uint8_t missing = axes_ & static_cast<std::uint8_t>(~hemispheres_);
  if (missing & 1) {
    Fail(MakeProblem(ProblemKind::MissingHemisphere, qv_VCard::Info(Property::GeoLat).name,
                     "N or S"));
  }
  if (missing & 2) {
    Fail(MakeProblem(ProblemKind::MissingHemisphere, qv_VCard::Info(Property::GeoLon).name,
                     "E or W"));
  }
}

}  // namespace qvvcard
