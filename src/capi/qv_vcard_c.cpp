// The C interface: a thin shell over qvVCard's late-bound members. Every
// entry point catches whatever the body throws, so no exception reaches a C
// caller.
#include "qv_vcard/qv_vcard.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "bridge/access.hpp"
#include "bridge/status.hpp"
#include "bridge/utf.hpp"
#include "qv_vcard/qvVCard.hpp"

struct qv_vcard {
  qv_VCard::qvVCard card;
};

namespace {

using namespace qv_VCard;

// The C status codes are the core's, spelled out once more for C.
static_assert(QV_S_OK == kOk);
static_assert(QV_E_OVERFLOW == kOverflow);
static_assert(QV_E_OUTOFMEMORY == kOutOfMemory);
static_assert(QV_E_FAIL == kFail);
static_assert(QV_E_UNEXPECTED == kUnexpected);
static_assert(QV_E_POINTER == kPointer);
static_assert(QV_E_INVALIDARG == kInvalidArg);
static_assert(QV_E_MEMBERNOTFOUND == kMemberNotFound);
static_assert(QV_E_TYPEMISMATCH == kTypeMismatch);
static_assert(QV_E_UNKNOWNNAME == kUnknownName);
static_assert(QV_E_NOUNICODETRANSLATION == kNoUnicodeTranslation);
static_assert(QV_DISPID_VCARDCLEAN == kDispIdVCardClean);
static_assert(QV_DISPID_VCARD == kDispIdVCard);
static_assert(QV_DISPID_VCARDFILENAME == kDispIdVCardFileName);
static_assert(sizeof(qv_utf16) == sizeof(char16_t));
static_assert(QV_TRUE == kTrue && QV_FALSE == kFalse);

template <typename Body>
qv_status Guard(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return bridge::StatusOfCurrentException();
  }
}

// A length no text can have: refused before a single unit is read.
bool BeyondAnyText(std::size_t len) noexcept { return len != QV_NTS && len > Text().max_size(); }

template <typename Char>
std::size_t MeasureLength(const Char* text, std::size_t len) noexcept {
  if (len != QV_NTS) return len;
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

std::u16string_view View16(const qv_utf16* text, std::size_t len) noexcept {
  return {reinterpret_cast<const char16_t*>(text), MeasureLength(text, len)};
}

using bridge::Access;

// Whether member id can be used so; the status that refuses it otherwise.
// Checked before any conversion or read, so a refused call does no work.
Status CheckMember(DispId id, Access access) noexcept {
  MemberInfo member;
  return bridge::CheckAccess(id, access, member);
}

// A buffer of n code units plus a terminating 0, from the library's
// allocator; nullptr when it cannot be had.
template <typename Char>
Char* AllocateText(std::size_t n) noexcept {
  if (n >= static_cast<std::size_t>(-1) / sizeof(Char)) return nullptr;
  auto* p = static_cast<Char*>(std::malloc((n + 1) * sizeof(Char)));
  if (p != nullptr) p[n] = 0;
  return p;
}

template <typename Char>
void ClearOut(Char** out, std::size_t* out_len) noexcept {
  *out = nullptr;
  if (out_len != nullptr) *out_len = 0;
}

Status HandOut16(const Text& text, qv_utf16** out, std::size_t* out_len) noexcept {
  qv_utf16* p = AllocateText<qv_utf16>(text.size());
  if (p == nullptr) return kOutOfMemory;
  if (!text.empty()) std::memcpy(p, text.data(), text.size() * sizeof(qv_utf16));
  *out = p;
  if (out_len != nullptr) *out_len = text.size();
  return kOk;
}

Status HandOut8(const Text& text, char** out, std::size_t* out_len) {
  std::string utf8;
  if (!bridge::TextToUtf8(text, utf8)) return kNoUnicodeTranslation;  // an unpaired surrogate
  char* p = AllocateText<char>(utf8.size());
  if (p == nullptr) return kOutOfMemory;
  if (!utf8.empty()) std::memcpy(p, utf8.data(), utf8.size());
  *out = p;
  if (out_len != nullptr) *out_len = utf8.size();
  return kOk;
}

// Reads the text member id (a text property, vCard or vCardFileName).
Status ReadText(const qv_vcard* card, DispId id, Text& text) {
  if (const Status s = CheckMember(id, Access::GetText); Failed(s)) return s;
  Value value{Text()};
  if (const Status s = card->card.GetById(id, value); Failed(s)) return s;
  text = std::move(std::get<Text>(value));
  return kOk;
}

template <typename Char>
qv_status GetText(const qv_vcard* card, qv_dispid id, Char** out, size_t* out_len) noexcept {
  if (out == nullptr) return kPointer;
  ClearOut(out, out_len);
  if (card == nullptr) return kPointer;
  return Guard([&] {
    Text text;
    if (const Status s = ReadText(card, id, text); Failed(s)) return s;
    if constexpr (sizeof(Char) == 1) {
      return HandOut8(text, out, out_len);
    } else {
      return HandOut16(text, out, out_len);
    }
  });
}

// Assigns a text given as UTF-16 (stored unchanged) or UTF-8 (decoded).
template <typename View>
qv_status PutText(qv_vcard* card, qv_dispid id, View source) noexcept {
  return Guard([&] {
    if (const Status s = CheckMember(id, Access::PutText); Failed(s)) return s;
    if (BeyondAnyText(source.size())) return kOutOfMemory;
    Value value{Text()};
    Text& text = std::get<Text>(value);
    if constexpr (std::is_same_v<View, std::u16string_view>) {
      text.assign(source);
    } else if (!bridge::Utf8ToText(source, text)) {
      return kNoUnicodeTranslation;
    }
    return card->card.PutById(id, value);
  });
}

}  // namespace

extern "C" {

qv_status qv_vcard_create(qv_vcard** out) {
  if (out == nullptr) return kPointer;
  *out = nullptr;
  return Guard([&] {
    *out = new qv_vcard{};
    return kOk;
  });
}

qv_status qv_vcard_destroy(qv_vcard* card) {
  delete card;
  return kOk;
}

qv_status qv_vcard_clean(qv_vcard* card) {
  if (card == nullptr) return kPointer;
  return Guard([&] { return card->card.CallById(kDispIdVCardClean); });
}

qv_status qv_vcard_dispid(const char* name, qv_dispid* out) {
  if (out == nullptr) return kPointer;
  *out = 0;
  if (name == nullptr) return kPointer;
  return Guard([&] {
    MemberInfo member;
    const Status s = FindMember(std::string_view(name), member);
    if (Succeeded(s)) *out = member.dispid;
    return s;
  });
}

qv_status qv_vcard_dispid_utf16(const qv_utf16* name, size_t len, qv_dispid* out) {
  if (out == nullptr) return kPointer;
  *out = 0;
  if (name == nullptr) return kPointer;
  if (BeyondAnyText(len)) return kUnknownName;
  return Guard([&] {
    MemberInfo member;
    const Status s = FindMember(View16(name, len), member);
    if (Succeeded(s)) *out = member.dispid;
    return s;
  });
}

qv_status qv_vcard_member(qv_dispid id, const char** name, qv_member_kind* kind) {
  if (name == nullptr || kind == nullptr) return kPointer;
  *name = nullptr;
  *kind = static_cast<qv_member_kind>(0);
  MemberInfo member;
  if (const Status s = FindMember(id, member); Failed(s)) return s;
  *name = member.name;
  switch (member.kind) {
    case MemberKind::Method:
      *kind = QV_MEMBER_METHOD;
      break;
    case MemberKind::ReadOnlyText:
      *kind = QV_MEMBER_READONLY_TEXT;
      break;
    case MemberKind::Property:
      *kind = member.property->kind == Kind::Text   ? QV_MEMBER_TEXT
              : member.property->kind == Kind::Flag ? QV_MEMBER_FLAG
                                                    : QV_MEMBER_INT16;
      break;
  }
  return kOk;
}

qv_status qv_vcard_put_utf8(qv_vcard* card, qv_dispid id, const char* text, size_t len) {
  if (card == nullptr || text == nullptr) return kPointer;
  return PutText(card, id, std::string_view(text, MeasureLength(text, len)));
}

qv_status qv_vcard_put_utf16(qv_vcard* card, qv_dispid id, const qv_utf16* text, size_t len) {
  if (card == nullptr || text == nullptr) return kPointer;
  return PutText(card, id, View16(text, len));
}

qv_status qv_vcard_get_utf8(const qv_vcard* card, qv_dispid id, char** out, size_t* out_len) {
  return GetText(card, id, out, out_len);
}

qv_status qv_vcard_get_utf16(const qv_vcard* card, qv_dispid id, qv_utf16** out, size_t* out_len) {
  return GetText(card, id, out, out_len);
}

qv_status qv_vcard_card_utf8(const qv_vcard* card, char** out, size_t* out_len) {
  return GetText(card, kDispIdVCard, out, out_len);
}

qv_status qv_vcard_card_utf16(const qv_vcard* card, qv_utf16** out, size_t* out_len) {
  return GetText(card, kDispIdVCard, out, out_len);
}

qv_status qv_vcard_file_name_utf8(const qv_vcard* card, char** out, size_t* out_len) {
  return GetText(card, kDispIdVCardFileName, out, out_len);
}

qv_status qv_vcard_file_name_utf16(const qv_vcard* card, qv_utf16** out, size_t* out_len) {
  return GetText(card, kDispIdVCardFileName, out, out_len);
}

const char* qv_vcard_status_text(qv_status status) { return bridge::StatusText(status); }

qv_status qv_vcard_free_utf8(char* text) {
  std::free(text);
  return kOk;
}

qv_status qv_vcard_free_utf16(qv_utf16* text) {
  std::free(text);
  return kOk;
}

qv_status qv_vcard_put_int16(qv_vcard* card, qv_dispid id, int16_t value) {
  if (card == nullptr) return kPointer;
  return Guard([&] {
    if (const Status s = CheckMember(id, Access::PutValue); Failed(s)) return s;
    return card->card.PutById(id, Value{value});
  });
}

qv_status qv_vcard_get_int16(const qv_vcard* card, qv_dispid id, int16_t* out) {
  if (out == nullptr) return kPointer;
  *out = 0;
  if (card == nullptr) return kPointer;
  return Guard([&] {
    if (const Status s = CheckMember(id, Access::GetValue); Failed(s)) return s;
    Value value{std::int16_t{0}};
    if (const Status s = card->card.GetById(id, value); Failed(s)) return s;
    *out = std::get<std::int16_t>(value);
    return kOk;
  });
}

}  // extern "C"
