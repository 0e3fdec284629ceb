#include "modules/modCreateGUID.hpp"

#include <algorithm>

namespace qv_VCard::modules {

namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

char16_t* PutHex(char16_t* p, std::uint32_t v, int digits) {
  for (int i = digits - 1; i >= 0; --i) *p++ = kHexDigits[(v >> (4 * i)) & 0xF];
  return p;
}

}  // namespace

int StringFromGUID2(const Guid& guid, char16_t* buffer, int capacity) noexcept {
  constexpr int kNeeded = static_cast<int>(kGuidTextLength) + 1;
  if (buffer == nullptr || capacity < kNeeded) return 0;
  char16_t* p = buffer;
  *p++ = u'{';
  p = PutHex(p, guid.data1, 8);
  *p++ = u'-';
  p = PutHex(p, guid.data2, 4);
  *p++ = u'-';
  p = PutHex(p, guid.data3, 4);
  *p++ = u'-';
  p = PutHex(p, guid.data4[0], 2);
  p = PutHex(p, guid.data4[1], 2);
  *p++ = u'-';
  for (int i = 2; i < 8; ++i) p = PutHex(p, guid.data4[static_cast<std::size_t>(i)], 2);
  *p++ = u'}';
  *p = u'\0';
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
