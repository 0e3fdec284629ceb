// The GEO line: sums, conversion, signs and the overflow failure.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using namespace qv_VCard;
using qv_test::TestCard;

struct Geo {
  std::int16_t lat[3];
  std::int16_t lon[3];
  const char16_t* lat_hemisphere;
  const char16_t* lon_hemisphere;
};

// The GEO line of a card with just this position, or "" for none.
Text GeoLine(const Geo& g) {
  TestCard tc;
  qvVCard& c = tc.card;
  EXPECT_EQ(c.put_GeoLatDeg(g.lat[0]), kOk);
  EXPECT_EQ(c.put_GeoLatMin(g.lat[1]), kOk);
  EXPECT_EQ(c.put_GeoLatSec(g.lat[2]), kOk);
  EXPECT_EQ(c.put_GeoLonDeg(g.lon[0]), kOk);
  EXPECT_EQ(c.put_GeoLonMin(g.lon[1]), kOk);
  EXPECT_EQ(c.put_GeoLonSec(g.lon[2]), kOk);
  EXPECT_EQ(c.put_GeoLat(g.lat_hemisphere), kOk);
  EXPECT_EQ(c.put_GeoLon(g.lon_hemisphere), kOk);
  for (const Text& l : qv_test::Body(tc.Card())) {
    if (l.starts_with(u"GEO:")) return l;
  }
  return u"";
}

TEST(GeoLine, Examples) {
  EXPECT_EQ(GeoLine({{48, 12, 30}, {16, 22, 23}, u"N", u""}), u"GEO:+48.20833;+16.37306");
  EXPECT_EQ(GeoLine({{90, 0, 0}, {0, 0, 1}, u"S", u"E"}), u"GEO:-90;+0.0002777778");
  EXPECT_EQ(GeoLine({{0, 0, 0}, {-180, 0, 0}, u"N", u"W"}), u"GEO:+0;+180");
}

TEST(GeoLine, AbsentWhenBothIntegerSumsAreZero) {
  EXPECT_EQ(GeoLine({{0, 0, 0}, {0, 0, 0}, u"N", u"W"}), u"");
  // The decimal value would be 0.98333..., but the test is the 16-bit sum.
  EXPECT_EQ(GeoLine({{1, -1, 0}, {1, -1, 0}, u"N", u"W"}), u"");
}

TEST(GeoLine, ZeroValuesAndOneMissingAxis) {
  EXPECT_EQ(GeoLine({{1, -60, 0}, {1, -60, 0}, u"N", u""}), u"GEO:+0;+0");
  EXPECT_EQ(GeoLine({{48, 12, 30}, {0, 0, 0}, u"N", u""}), u"GEO:+48.20833;+0");
  EXPECT_EQ(GeoLine({{0, 0, 0}, {16, 22, 23}, u"", u"W"}), u"GEO:-0;-16.37306");
}

TEST(GeoLine, NegativeValuesFlipTheHemisphereSign) {
  EXPECT_EQ(GeoLine({{-12, 30, 0}, {0, 0, 0}, u"N", u""}), u"GEO:-11.5;+0");
  EXPECT_EQ(GeoLine({{-12, 30, 0}, {-1, 0, 0}, u"S", u"W"}), u"GEO:+11.5;+1");
  // The exact value is zero; the double residue is written as 0, unflipped.
  EXPECT_EQ(GeoLine({{-3, 121, 3540}, {-3, 121, 3540}, u"N", u"W"}), u"GEO:+0;-0");
}

TEST(GeoLine, NumbersHaveAtMostSevenSignificantDigitsAndNoExponent) {
  EXPECT_EQ(GeoLine({{0, 0, 1}, {0, 0, -1}, u"N", u"E"}), u"GEO:+0.0002777778;-0.0002777778");
  EXPECT_EQ(GeoLine({{32767, 0, 0}, {-32768, 0, 0}, u"N", u"E"}), u"GEO:+32767;-32768");
  EXPECT_EQ(GeoLine({{1000, 0, 1}, {0, 1, 0}, u"N", u"E"}), u"GEO:+1000;+0.01666667");
  EXPECT_EQ(GeoLine({{10, 59, 59}, {0, 0, 0}, u"N", u"E"}), u"GEO:+10.99972;+0");
}

TEST(GeoLine, OverflowOfEitherAdditionFailsTheCard) {
  const Geo overflows[] = {
      {{32767, 1, 0}, {0, 0, 0}, u"N", u""},   {{0, 0, 0}, {32767, 1, 0}, u"N", u""},
      {{32767, 0, 1}, {0, 0, 0}, u"N", u""},   {{-32768, -1, 0}, {0, 0, 0}, u"N", u""},
      {{-32768, 0, -1}, {0, 0, 0}, u"N", u""},
  };
  for (const Geo& g : overflows) {
    TestCard tc;
    ASSERT_EQ(tc.card.put_GeoLatDeg(g.lat[0]), kOk);
    ASSERT_EQ(tc.card.put_GeoLatMin(g.lat[1]), kOk);
    ASSERT_EQ(tc.card.put_GeoLatSec(g.lat[2]), kOk);
    ASSERT_EQ(tc.card.put_GeoLonDeg(g.lon[0]), kOk);
    ASSERT_EQ(tc.card.put_GeoLonMin(g.lon[1]), kOk);
    Text out = u"x";
    EXPECT_EQ(tc.card.get_vCard(out), kOverflow);
    EXPECT_EQ(out, u"");
  }
  // An intermediate sum that comes back into range still overflowed.
  TestCard tc;
  ASSERT_EQ(tc.card.put_GeoLatDeg(32767), kOk);
  ASSERT_EQ(tc.card.put_GeoLatMin(1), kOk);
  ASSERT_EQ(tc.card.put_GeoLatSec(-1), kOk);
  Text out;
  EXPECT_EQ(tc.card.get_vCard(out), kOverflow);
  // Largest sums that fit.
  EXPECT_EQ(GeoLine({{32766, 1, 0}, {-32767, -1, 0}, u"N", u"E"}), u"GEO:+32766.02;-32767.02");
}

}  // namespace
