#include "modules/modCreateGUID.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace qv_VCard::modules {

namespace {

// The two hexadecimal digits of every byte value, upper case.
struct HexPair {
  char16_t digits[2];
};
constexpr auto kHexPairs = [] {
  constexpr char16_t digits[] = u"0123456789ABCDEF";
  std::array<HexPair, 256> t{};
  for (int b = 0; b < 256; ++b)
    t[static_cast<std::size_t>(b)] = {{digits[b >> 4], digits[b & 0xF]}};
  return t;
}();

char16_t* PutByte(char16_t* p, unsigned byte) {
  std::memcpy(p, kHexPairs[byte].digits, sizeof(HexPair));
  return p + 2;
}

// The bytes of v, most significant first.
char16_t* PutHex(char16_t* p, std::uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) p = PutByte(p, (v >> (8 * i)) & 0xFF);
  return p;
}

}  // namespace

void WriteGuidDigits(const Guid& guid, char16_t* out) noexcept {
  char16_t* p = PutHex(out, guid.data1, 4);
  *p++ = u'-';
  p = PutHex(p, guid.data2, 2);
  *p++ = u'-';
  p = PutHex(p, guid.data3, 2);
  *p++ = u'-';
  p = PutByte(p, guid.data4[0]);
  p = PutByte(p, guid.data4[1]);
  *p++ = u'-';
  for (std::size_t i = 2; i < 8; ++i) p = PutByte(p, guid.data4[i]);
}

int StringFromGUID2(const Guid& guid, char16_t* buffer, int capacity) noexcept {
  constexpr int kNeeded = static_cast<int>(kGuidTextLength) + 1;
  if (buffer == nullptr || capacity < kNeeded) return 0;
  buffer[0] = u'{';
  WriteGuidDigits(guid, buffer + 1);
  buffer[kGuidTextLength - 1] = u'}';
  buffer[kGuidTextLength] = u'\0';
  return kNeeded;
}

Status CreateGUID(GuidSource& source, char16_t (&text)[kGuidTextLength]) noexcept {
  Guid guid{};
  const Status s = source.Create(guid);
  if (Failed(s)) return s;
  char16_t buffer[kGuidTextLength + 1];
  const int n = StringFromGUID2(guid, buffer, static_cast<int>(std::size(buffer)));
  std::copy_n(buffer, n - 1, text);
  return kOk;
}

}  // namespace qv_VCard::modules
