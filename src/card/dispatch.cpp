// Late-bound access by dispatch identifier.
#include "card/failure.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard {

Status qvVCard::PutById(DispId dispid, const Value& vData) noexcept {
  const PropertyInfo* p = FindProperty(dispid);
  if (p == nullptr) return kMemberNotFound;  // also vCard, vCardFileName, vCardClean
  if (const auto* text = std::get_if<Text>(&vData)) return Put(p->property, *text);
  if (const auto* value = std::get_if<std::int16_t>(&vData)) return Put(p->property, *value);
  return kTypeMismatch;  // a value left empty by a failed assignment
}

Status qvVCard::GetById(DispId dispid, Value& out) const noexcept {
  try {
    Text* text = std::get_if<Text>(&out);
    if (text == nullptr) text = &out.emplace<Text>();
    text->clear();
    if (dispid == kDispIdVCard) return get_vCard(*text);
    if (dispid == kDispIdVCardFileName) return get_vCardFileName(*text);
    const PropertyInfo* p = FindProperty(dispid);
    if (p == nullptr) return kMemberNotFound;
    if (p->kind == Kind::Text) return Get(p->property, *text);
    std::int16_t v = 0;
    const Status s = Get(p->property, v);
    out = v;
    return s;
  } catch (...) {
    out = Text();
    return detail::StatusOfCurrentException();
  }
}

Status qvVCard::CallById(DispId dispid) noexcept {
  if (dispid != kDispIdVCardClean) return kMemberNotFound;
  return vCardClean();
}

}  // namespace qv_VCard
