#include "input/name_uid.hpp"

#include <nettle/sha1.h>

#include "card/ascii.hpp"
#include "common/chars.hpp"
#include "common/text.hpp"

namespace qvvcard {

qv_VCard::Guid NameBasedUuid(const std::array<std::uint8_t, 16>& space, std::string_view name) {
  sha1_ctx ctx;
  sha1_init(&ctx);
  sha1_update(&ctx, space.size(), space.data());
  sha1_update(&ctx, name.size(), reinterpret_cast<const std::uint8_t*>(name.data()));
  std::uint8_t d[SHA1_DIGEST_SIZE];
  sha1_digest(&ctx, sizeof d, d);
  d[6] = static_cast<std::uint8_t>((d[6] & 0x0F) | 0x50);  // version 5
  d[8] = static_cast<std::uint8_t>((d[8] & 0x3F) | 0x80);  // RFC 4122 variant
  qv_VCard::Guid g;
  g.data1 =
      (std::uint32_t{d[0]} << 24) | (std::uint32_t{d[1]} << 16) | (std::uint32_t{d[2]} << 8) | d[3];
  g.data2 = static_cast<std::uint16_t>((d[4] << 8) | d[5]);
  g.data3 = static_cast<std::uint16_t>((d[6] << 8) | d[7]);
  for (std::size_t i = 0; i < 8; ++i) g.data4[i] = d[8 + i];
  return g;
}

std::optional<qv_VCard::Guid> ParseUuid(std::string_view text) {
  text = TrimBlanks(text);
  if (text.size() > 9 && qv_VCard::ascii::EqualIgnoringCase(text.substr(0, 9), "urn:uuid:")) {
    text.remove_prefix(9);
  }
  if (text.size() != 36) return std::nullopt;
  std::uint8_t bytes[16];
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      continue;
    }
    const int v = HexDigitValue(text[i]);
    if (v < 0) return std::nullopt;
    if (n % 2 == 0) {
      bytes[n / 2] = static_cast<std::uint8_t>(v << 4);
    } else {
      bytes[n / 2] |= static_cast<std::uint8_t>(v);
    }
    ++n;
  }
  qv_VCard::Guid g;
  g.data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
            (std::uint32_t{bytes[2]} << 8) | bytes[3];
  g.data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  g.data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (std::size_t i = 0; i < 8; ++i) g.data4[i] = bytes[8 + i];
  return g;
}

void NameBasedGuids::SetKey(std::string_view key) {
  exact_.reset();
  if (IsAscii(key)) {
    key_.assign(key);
  } else {
    key_ = ToNfc(key);
  }
}

qv_VCard::Status NameBasedGuids::Create(qv_VCard::Guid& out) noexcept {
  if (exact_) {
    out = *exact_;
    return qv_VCard::kOk;
  }
  if (key_.empty()) return qv_VCard::SystemGuidSource().Create(out);
  out = NameBasedUuid(kUidNamespace, key_);
  return qv_VCard::kOk;
}

}  // namespace qvvcard
