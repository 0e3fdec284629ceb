// Card identifiers made from a value of the record (--uid-from): a
// name-based UUID (version 5, SHA-1) of the value in the tool's own
// namespace, so that cards made again from an updated sheet keep their UID
// and import as updates. A record without the value gets a random UID.
#ifndef QVVCARD_INPUT_NAME_UID_HPP
#define QVVCARD_INPUT_NAME_UID_HPP

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

// The namespace of the tool's UIDs, 8cb1f02f-7e3c-4a61-a736-ff3b2be6e92b,
// in network byte order.
inline constexpr std::array<std::uint8_t, 16> kUidNamespace = {
    0x8c, 0xb1, 0xf0, 0x2f, 0x7e, 0x3c, 0x4a, 0x61, 0xa7, 0x36, 0xff, 0x3b, 0x2b, 0xe6, 0xe9, 0x2b};

// The version-5 UUID of name in the namespace.
qv_VCard::Guid NameBasedUuid(const std::array<std::uint8_t, 16>& space, std::string_view name);

// The UUID a text names ("6f1d9c2e-...", also with "urn:uuid:" before it),
// in any case; nullopt for any other text.
std::optional<qv_VCard::Guid> ParseUuid(std::string_view text);

// The GUID source of the cards of a run: the UUID of the record's key when
// it has one (or the record's own UUID, kept), otherwise a random one from
// the system source.
class NameBasedGuids final : public qv_VCard::GuidSource {
 public:
  // The record's own UUID, kept as it is.
  void SetExact(const qv_VCard::Guid& g) {
    key_.clear();
    exact_ = g;
  }
  // The key of the record being made; "" for none. Keys are compared in
  // their NFC form: the same letters written as composed or decomposed
  // characters (as macOS writes them) give the same UID.
  void SetKey(std::string_view key);
  bool has_key() const { return !key_.empty() || exact_.has_value(); }
  qv_VCard::Status Create(qv_VCard::Guid& out) noexcept override;

 private:
  std::string key_;
  std::optional<qv_VCard::Guid> exact_;
};

}  // namespace qvvcard

#endif
