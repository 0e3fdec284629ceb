// Access to the line builders and the reads of qvVCard for measurement and
// tests inside this project. Not part of the public interface.
#ifndef QV_VCARD_CARD_INTERNALS_HPP
#define QV_VCARD_CARD_INTERNALS_HPP

#include "card/reads.hpp"

namespace qv_VCard::detail {

struct Internals {
  using CardText = writer::CardText;
  // Each builder appends its content line (or nothing) to out.
  static Status NameLine(const qvVCard& c, CardText& out) { return writer::BuildNameLine(c, out); }
  static Status FormattedNameLine(const qvVCard& c, CardText& out) {
    return writer::BuildFormattedNameLine(c, out);
  }
  static Status BirthdayLine(const qvVCard& c, CardText& out) {
    return writer::BuildBirthdayLine(c, out);
  }
  static Status OrganizationLine(const qvVCard& c, CardText& out) {
    return writer::BuildOrganizationLine(c, out);
  }
  static Status AddressLine(const qvVCard& c, int slot, CardText& out) {
    return writer::BuildAddressLine(c, slot, out);
  }
  static Status TelephoneLine(const qvVCard& c, int slot, CardText& out) {
    return writer::BuildTelephoneLine(c, slot, out);
  }
  static Status EmailLine(const qvVCard& c, int slot, CardText& out) {
    return writer::BuildEmailLine(c, slot, out);
  }
  static Status GeoLine(const qvVCard& c, CardText& out) { return writer::BuildGeoLine(c, out); }
  static Status RevisionLine(const qvVCard& c, CardText& out) {
    return writer::BuildRevisionLine(c, out);
  }
  static Status UidLine(const qvVCard& c, CardText& out) { return writer::BuildUidLine(c, out); }
  static Status ProductIdLine(const qvVCard& c, CardText& out) {
    return writer::BuildProductIdLine(c, out);
  }
  // One of the eight line-returning properties.
  static Status TextLine(const qvVCard& c, Property p, CardText& out) {
    return writer::BuildTextLine(c, p, out);
  }
  static bool ReadIsEmpty(const qvVCard& c, Property p) { return reads::ReadIsEmpty(c, p); }
};

}  // namespace qv_VCard::detail

#endif
