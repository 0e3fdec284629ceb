// The cards the benchmarks measure: a new card, a typical contact and a
// card with every property set.
#ifndef QV_VCARD_BENCH_SAMPLE_CARDS_HPP
#define QV_VCARD_BENCH_SAMPLE_CARDS_HPP

#include <cstdlib>

#include "qv_vcard/qvVCard.hpp"

namespace qv_bench {

using qv_VCard::Property;
using qv_VCard::qvVCard;
using qv_VCard::Text;

inline void Put(qvVCard& c, Property p, const Text& v) {
  if (qv_VCard::Failed(c.Put(p, v))) std::abort();
}
inline void Put(qvVCard& c, Property p, std::int16_t v) {
  if (qv_VCard::Failed(c.Put(p, v))) std::abort();
}

// Name, organisation, title, two typed addresses, three telephones, two
// e-mail addresses, a note, a URL and a geographic position.
inline void FillTypical(qvVCard& c) {
  using P = Property;
  Put(c, P::NameFamily, u"Lindqvist");
  Put(c, P::NameGiven, u"Maria");
  Put(c, P::NamePrefix, u"Dr.");
  Put(c, P::OrgName, u"Northwind Instruments");
  Put(c, P::OrgUnit, u"Research");
  Put(c, P::Title, u"Senior Engineer");
  Put(c, P::Adr1_Street, u"Storgatan 12");
  Put(c, P::Adr1_Locality, u"Uppsala");
  Put(c, P::Adr1_PostalCode, u"753 20");
  Put(c, P::Adr1_Country, u"Sweden");
  Put(c, P::Adr1_Work, qv_VCard::kTrue);
  Put(c, P::Adr1_Postal, qv_VCard::kTrue);
  Put(c, P::Adr2_Street, u"Linnégatan 4");
  Put(c, P::Adr2_Locality, u"Stockholm");
  Put(c, P::Adr2_PostalCode, u"114 47");
  Put(c, P::Adr2_Country, u"Sweden");
  Put(c, P::Adr2_Home, qv_VCard::kTrue);
  Put(c, P::Tel1_Number, u"+46 18 555 01 00");
  Put(c, P::Tel1_Work, qv_VCard::kTrue);
  Put(c, P::Tel1_Voice, qv_VCard::kTrue);
  Put(c, P::Tel2_Number, u"+46 70 555 02 00");
  Put(c, P::Tel2_Cell, qv_VCard::kTrue);
  Put(c, P::Tel2_Pref, qv_VCard::kTrue);
  Put(c, P::Tel3_Number, u"+46 8 555 03 00");
  Put(c, P::Tel3_Home, qv_VCard::kTrue);
  Put(c, P::Email1_Value, u"maria.lindqvist@northwind.example");
  Put(c, P::Email1_Pref, qv_VCard::kTrue);
  Put(c, P::Email2_Value, u"maria@home.example");
  Put(c, P::Note, u"Met at the spring fair; prefers e-mail.");
  Put(c, P::Url, u"https://northwind.example/people/mlindqvist");
  Put(c, P::GeoLat, u"N");
  Put(c, P::GeoLon, u"E");
  Put(c, P::GeoLatDeg, std::int16_t{59});
  Put(c, P::GeoLatMin, std::int16_t{51});
  Put(c, P::GeoLatSec, std::int16_t{29});
  Put(c, P::GeoLonDeg, std::int16_t{17});
  Put(c, P::GeoLonMin, std::int16_t{38});
  Put(c, P::GeoLonSec, std::int16_t{20});
}

// Every text 40 characters long (distinct per property), every flag set,
// every geographic integer non-zero.
inline void FillFull(qvVCard& c) {
  int n = 0;
  for (const qv_VCard::PropertyInfo& info : qv_VCard::Properties()) {
    switch (info.kind) {
      case qv_VCard::Kind::Text: {
        Text t(40, u'a');
        for (std::size_t i = 0; i < t.size(); ++i) {
          t[i] = static_cast<char16_t>(u'a' + (n + static_cast<int>(i)) % 26);
        }
        Put(c, info.property, t);
        break;
      }
      case qv_VCard::Kind::Flag:
        Put(c, info.property, qv_VCard::kTrue);
        break;
      case qv_VCard::Kind::Int16:
        Put(c, info.property, static_cast<std::int16_t>(10 + n % 40));
        break;
    }
    ++n;
  }
}

}  // namespace qv_bench

#endif
