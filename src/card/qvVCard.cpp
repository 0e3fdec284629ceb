// The card record: creation, reset, assignments and the read rules.
#include <new>

#include "card/failure.hpp"
#include "card/reads.hpp"

namespace qv_VCard {

using detail::Access;

qvVCard::qvVCard() : qvVCard(SystemClock(), SystemGuidSource()) {}

qvVCard::qvVCard(Clock& clock, GuidSource& guids) : clock_(&clock), guids_(&guids) {
  // Creation runs the public reset, as any caller would.
  const Status s = vCardClean();
  if (Failed(s)) throw std::bad_alloc();
}

Status qvVCard::vCardClean() noexcept {
  // Every text emptied except TimeZone's, which survives a reset; every flag
  // and integer 0. Emptying a text needs no memory, so the reset cannot fail.
  static_assert(record::IsText(Property::TimeZone));
  constexpr std::size_t kTimeZone = record::FieldOf(Property::TimeZone);
  for (std::size_t i = 0; i < texts_.size(); ++i) {
    if (i != kTimeZone) texts_[i].clear();
  }
  values_.fill(0);
  set_values_.fill(0);
  return kOk;
}

Status qvVCard::Put(Property p, const Text& vData) noexcept {
  if (!record::IsText(p)) return kTypeMismatch;
  try {
    texts_[record::FieldOf(p)] = vData;  // strong guarantee: unchanged on failure
    return kOk;
  } catch (...) {
    return detail::StatusOfCurrentException();
  }
}

Status qvVCard::PutView(Property p, std::u16string_view vData) noexcept {
  if (!record::IsText(p)) return kTypeMismatch;
  try {
    texts_[record::FieldOf(p)].assign(vData);  // strong guarantee: unchanged on failure
    return kOk;
  } catch (...) {
    return detail::StatusOfCurrentException();
  }
}

Status qvVCard::Put(Property p, Text&& vData) noexcept {
  if (!record::IsText(p)) return kTypeMismatch;
  texts_[record::FieldOf(p)] = std::move(vData);  // cannot fail
  return kOk;
}

Status qvVCard::Put(Property p, std::int16_t vData) noexcept {
  if (record::IsText(p)) return kTypeMismatch;
  const std::size_t field = record::FieldOf(p);
  values_[field] = vData;
  std::uint64_t& word = set_values_[field / 64];
  const std::uint64_t bit = std::uint64_t{1} << (field % 64);
  word = vData != 0 ? word | bit : word & ~bit;
  return kOk;
}

Status qvVCard::Get(Property p, Text& out) const noexcept {
  out.clear();
  if (!record::IsText(p)) return kTypeMismatch;
  try {
    reads::AppendRead(*this, p, out);
    return kOk;
  } catch (...) {
    out.clear();
    return detail::StatusOfCurrentException();
  }
}

Status qvVCard::Get(Property p, std::int16_t& out) const noexcept {
  if (record::IsText(p)) {
    out = 0;
    return kTypeMismatch;
  }
  out = reads::ReadValue(*this, p);
  return kOk;
}

}  // namespace qv_VCard
