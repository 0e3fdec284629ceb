// Deterministic sources and small helpers shared by the unit tests.
#ifndef QV_VCARD_TESTS_SUPPORT_HPP
#define QV_VCARD_TESTS_SUPPORT_HPP

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qv_vcard/qvVCard.hpp"

namespace qv_test {

using qv_VCard::Status;
using qv_VCard::Text;

class FixedClock final : public qv_VCard::Clock {
 public:
  qv_VCard::CalendarTime time{2026, 12, 6, 0, 56, 18};
  Status status = qv_VCard::kOk;
  int calls = 0;
  Status Now(qv_VCard::CalendarTime& out) noexcept override {
    ++calls;
    out = time;
    return status;
  }
};

// Hands out 00000001-..., 00000002-..., so each UID is predictable.
class CountingGuids final : public qv_VCard::GuidSource {
 public:
  Status status = qv_VCard::kOk;
  int calls = 0;
  Status Create(qv_VCard::Guid& out) noexcept override {
    ++calls;
    if (qv_VCard::Failed(status)) return status;
    out = qv_VCard::Guid{static_cast<std::uint32_t>(calls),
                         0xABCD,
                         0x4EF0,
                         {0x89, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD}};
    return qv_VCard::kOk;
  }
};

// A card wired to its own fixed clock and counting GUID source.
struct TestCard {
  FixedClock clock;
  CountingGuids guids;
  qv_VCard::qvVCard card{clock, guids};

  Text Card() {
    Text t;
    EXPECT_EQ(card.get_vCard(t), qv_VCard::kOk);
    return t;
  }
};

inline const Text kRevLine = u"REV:2026-12-06T00:56:18Z";
inline const Text kProdIdLine =
    u"PRODID:qv_vCard.dll, Version 1.0.0 (qv_VCard project, https://qv-vcard.invalid)  ";
inline Text UidLine(int n) {
  std::string hex = "00000000";
  for (int i = 7; n > 0; --i, n /= 16)
    hex[static_cast<std::size_t>(i)] = "0123456789ABCDEF"[n % 16];
  return u"UID:" + Text(hex.begin(), hex.end()) + u"-ABCD-4EF0-8901-23456789ABCD";
}

// Splits a card at CR LF; the last element is what follows the last line end.
inline std::vector<Text> Lines(const Text& card) {
  std::vector<Text> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = card.find(u"\r\n", start)) != Text::npos; start = at + 2) {
    lines.push_back(card.substr(start, at - start));
  }
  lines.push_back(card.substr(start));
  return lines;
}

// The body lines: between PROFILE:VCARD and the REV line.
inline std::vector<Text> Body(const Text& card) {
  std::vector<Text> all = Lines(card);
  std::vector<Text> body;
  for (std::size_t i = 3; i + 4 < all.size(); ++i) body.push_back(all[i]);
  return body;
}

inline std::string Narrow(const Text& t) {
  std::string s;
  for (char16_t c : t) s += c < 0x80 ? static_cast<char>(c) : '?';
  return s;
}

}  // namespace qv_test

#endif
