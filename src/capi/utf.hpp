// Conversions between the UTF-8 of C callers and the UTF-16 the card stores.
#ifndef QV_VCARD_CAPI_UTF_HPP
#define QV_VCARD_CAPI_UTF_HPP

#include <cstddef>
#include <string>
#include <string_view>

namespace qv_VCard::capi {

// Decodes well-formed UTF-8 (no overlong forms, no encoded surrogates,
// nothing above U+10FFFF, no truncated sequence) into out. Returns false and
// leaves out empty for anything else. Throws std::bad_alloc.
bool DecodeUtf8(std::string_view in, std::u16string& out);

// The number of UTF-8 bytes that in encodes to, or kNotEncodable when it
// holds an unpaired surrogate.
inline constexpr std::size_t kNotEncodable = static_cast<std::size_t>(-1);
std::size_t Utf8Length(std::u16string_view in) noexcept;

// Writes the UTF-8 of in to dst, which holds Utf8Length(in) bytes; in must
// be encodable.
void EncodeUtf8(std::u16string_view in, char* dst) noexcept;

}  // namespace qv_VCard::capi

#endif
