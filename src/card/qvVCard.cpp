// The card record: creation, reset, assignments and the read rules.
#include <new>
#include <stdexcept>

#include "card/record.hpp"
#include "writer/line_text.hpp"

namespace qv_VCard {

qvVCard::qvVCard() : qvVCard(SystemClock(), SystemGuidSource()) {}

qvVCard::qvVCard(Clock& clock, GuidSource& guids) : clock_(&clock), guids_(&guids) {
  // Creation runs the public reset, as any caller would.
  const Status s = vCardClean();
  if (Failed(s)) throw std::bad_alloc();
}

Status qvVCard::vCardClean() noexcept {
  // Emptying a text needs no memory, so the reset cannot fail.
  for (std::size_t i = 0; i < kPropertyCount; ++i) {
    const auto p = static_cast<Property>(i);
    if (p == Property::TimeZone) continue;  // TimeZone survives a reset
    if (record::IsText(p)) {
      texts_[record::FieldOf(p)].clear();
    } else {
      values_[record::FieldOf(p)] = 0;
    }
  }
  return kOk;
}

Status qvVCard::Put(Property p, const Text& vData) noexcept {
  if (!record::IsText(p)) return kTypeMismatch;
  try {
    texts_[record::FieldOf(p)] = vData;  // strong guarantee: unchanged on failure
    return kOk;
  } catch (...) {
    return kOutOfMemory;
  }
}

Status qvVCard::Put(Property p, std::int16_t vData) noexcept {
  if (record::IsText(p)) return kTypeMismatch;
  values_[record::FieldOf(p)] = vData;
  return kOk;
}

Status qvVCard::Get(Property p, Text& out) const noexcept {
  out.clear();
  if (!record::IsText(p)) return kTypeMismatch;
  try {
    AppendRead(p, out);
    return kOk;
  } catch (...) {
    out.clear();
    return kOutOfMemory;
  }
}

Status qvVCard::Get(Property p, std::int16_t& out) const noexcept {
  if (record::IsText(p)) {
    out = 0;
    return kTypeMismatch;
  }
  out = values_[record::FieldOf(p)];
  return kOk;
}

void qvVCard::AppendRead(Property p, Text& out) const {
  const Text& stored = texts_[record::FieldOf(p)];
  switch (record::Of(p).rule) {
    case ReadRule::Stored:
      out.append(stored);
      return;
    case ReadRule::Separator:
      out.append(stored);
      out.push_back(u';');
      return;
    case ReadRule::FormattedName:
      if (!stored.empty()) {
        out.append(stored);
        return;
      }
      // Composed from the stored name parts; the prefix takes no part.
      out.append(texts_[record::FieldOf(Property::NameFamily)]);
      out.push_back(u' ');
      out.append(texts_[record::FieldOf(Property::NameGiven)]);
      out.push_back(u' ');
      out.append(texts_[record::FieldOf(Property::NameAdditional)]);
      out.push_back(u' ');
      out.append(texts_[record::FieldOf(Property::NameSuffix)]);
      return;
    case ReadRule::ContentLine:
      (void)BuildTextLine(p, out);  // cannot fail other than by bad_alloc
      return;
    case ReadRule::GeoLatSign:
      out.push_back(stored == u"N" ? u'+' : u'-');
      return;
    case ReadRule::GeoLonSign:
      out.push_back(stored == u"W" ? u'-' : u'+');
      return;
  }
}

std::u16string_view qvVCard::ReadText(Property p) const {
  scratch_.clear();
  AppendRead(p, scratch_);
  return scratch_;
}

std::int16_t qvVCard::ReadValue(Property p) const noexcept {
  std::int16_t v = 0;
  (void)Get(p, v);  // a 16-bit read cannot fail
  return v;
}

}  // namespace qv_VCard
