// Typed access to the members by identifier, as every late-bound adapter
// offers it: whether a member may be read or assigned with a kind of value
// is decided here, once, before any conversion or read.
#ifndef QV_VCARD_BRIDGE_ACCESS_HPP
#define QV_VCARD_BRIDGE_ACCESS_HPP

#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard::bridge {

// How a member is used: assigned or read, as a text or as a 16-bit value.
enum class Access { PutText, PutValue, GetText, GetValue };

// kOk when member id can be used so (out then describes it); the status
// that refuses it otherwise: kMemberNotFound for an unknown identifier, a
// method (vCardClean is called, never assigned or read) and an assignment
// to vCard or vCardFileName; kTypeMismatch for the wrong kind of value.
inline Status CheckAccess(DispId id, Access access, MemberInfo& out) noexcept {
  if (const Status s = FindMember(id, out); Failed(s)) return s;
  const bool put = access == Access::PutText || access == Access::PutValue;
  const bool text = access == Access::PutText || access == Access::GetText;
  switch (out.kind) {
    case MemberKind::Method:
      return kMemberNotFound;
    case MemberKind::ReadOnlyText:
      if (put) return kMemberNotFound;
      return text ? kOk : kTypeMismatch;
    case MemberKind::Property:
      return (out.property->kind == Kind::Text) == text ? kOk : kTypeMismatch;
  }
  return kMemberNotFound;
}

// The kind of access a value asks for.
inline Access PutAccessOf(const Value& v) noexcept {
  return std::holds_alternative<Text>(v) ? Access::PutText : Access::PutValue;
}

// Assigns value to member id, refusing what CheckAccess refuses.
inline Status Put(qvVCard& card, DispId id, const Value& value) noexcept {
  MemberInfo member;
  if (const Status s = CheckAccess(id, PutAccessOf(value), member); Failed(s)) return s;
  return card.PutById(id, value);
}

// Reads member id as the kind asked for; on success out holds that kind.
inline Status Get(const qvVCard& card, DispId id, Access access, Value& out) noexcept {
  MemberInfo member;
  if (const Status s = CheckAccess(id, access, member); Failed(s)) return s;
  return card.GetById(id, out);
}

}  // namespace qv_VCard::bridge

#endif
