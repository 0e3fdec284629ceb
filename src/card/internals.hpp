// Access to the private line builders of qvVCard for measurement and tests
// inside this project. Not part of the public interface.
#ifndef QV_VCARD_CARD_INTERNALS_HPP
#define QV_VCARD_CARD_INTERNALS_HPP

#include "card/reads.hpp"

namespace qv_VCard::detail {

struct Internals {
  using CardText = writer::CardText;
  // Each builder appends its content line (or nothing) to out.
  static Status NameLine(const qvVCard& c, CardText& out) { return c.BuildNameLine(out); }
  static Status FormattedNameLine(const qvVCard& c, CardText& out) {
    return c.BuildFormattedNameLine(out);
  }
  static Status BirthdayLine(const qvVCard& c, CardText& out) { return c.BuildBirthdayLine(out); }
  static Status OrganizationLine(const qvVCard& c, CardText& out) {
    return c.BuildOrganizationLine(out);
  }
  static Status AddressLine(const qvVCard& c, int slot, CardText& out) {
    return c.BuildAddressLine(slot, out);
  }
  static Status TelephoneLine(const qvVCard& c, int slot, CardText& out) {
    return c.BuildTelephoneLine(slot, out);
  }
  static Status EmailLine(const qvVCard& c, int slot, CardText& out) {
    return c.BuildEmailLine(slot, out);
  }
  static Status GeoLine(const qvVCard& c, CardText& out) { return c.BuildGeoLine(out); }
  static Status RevisionLine(const qvVCard& c, CardText& out) { return c.BuildRevisionLine(out); }
  static Status UidLine(const qvVCard& c, CardText& out) { return c.BuildUidLine(out); }
  static Status ProductIdLine(const qvVCard& c, CardText& out) { return c.BuildProductIdLine(out); }
  // One of the eight line-returning properties.
  static Status TextLine(const qvVCard& c, Property p, CardText& out) {
    return c.BuildTextLine(p, out);
  }
  static bool ReadIsEmpty(const qvVCard& c, Property p) { return c.ReadIsEmpty(p); }
  // The room a builder's output must be given before it is called.
  static std::size_t CardRoom(const qvVCard& c) { return c.CardRoom(); }
};

}  // namespace qv_VCard::detail

#endif
