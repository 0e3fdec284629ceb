// The system clock and GUID source on Windows: GetSystemTime (coordinated
// universal time) and CoCreateGuid.
#include <objbase.h>
#include <windows.h>

#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard {

namespace {

class WindowsClock final : public Clock {
 public:
  Status Now(CalendarTime& out) noexcept override {
    SYSTEMTIME t{};
    GetSystemTime(&t);
    out.year = t.wYear;
    out.month = t.wMonth;
    out.day = t.wDay;
    out.hour = t.wHour;
    out.minute = t.wMinute;
    out.second = t.wSecond;
    return kOk;
  }
};

class WindowsGuidSource final : public GuidSource {
 public:
  // A failing CoCreateGuid ends the card with its status; an all-zero
  // identifier is never handed out.
  Status Create(Guid& out) noexcept override {
    GUID guid{};
    const HRESULT hr = CoCreateGuid(&guid);
    if (FAILED(hr)) return static_cast<Status>(hr);
    out.data1 = guid.Data1;
    out.data2 = guid.Data2;
    out.data3 = guid.Data3;
    for (std::size_t i = 0; i < out.data4.size(); ++i) out.data4[i] = guid.Data4[i];
    return kOk;
  }
};

}  // namespace

Clock& SystemClock() noexcept {
  static WindowsClock clock;
  return clock;
}

GuidSource& SystemGuidSource() noexcept {
  static WindowsGuidSource source;
  return source;
}

}  // namespace qv_VCard
