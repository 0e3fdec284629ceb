// Runtime views of the property table: rows in interface order, lookups by
// name and by dispatch identifier.
#include <algorithm>

#include "card/ascii.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qv_VCard {
namespace {

struct Row {
  const char* name;
  Kind kind;
  DispId dispid;
  ReadRule rule;
};

// The table in record storage order, as written.
constexpr Row kStorageRows[] = {
#define QV_VCARD_PROPERTY(name, kind, dispid, rule) \
  {#name, Kind::kind, static_cast<DispId>(dispid), ReadRule::rule},
#include "card/property_table.inc"
#undef QV_VCARD_PROPERTY
};
static_assert(std::size(kStorageRows) == kPropertyCount);

using Table = std::array<PropertyInfo, kPropertyCount>;

// Rows with their field index, sorted into interface order.
constexpr Table MakeInterfaceTable() {
  Table t{};
  std::uint8_t texts = 0;
  std::uint8_t values = 0;
  for (std::size_t i = 0; i < kPropertyCount; ++i) {
    const Row& r = kStorageRows[i];
    t[i] = PropertyInfo{r.name,
                        r.kind,
                        r.dispid,
                        r.rule,
                        static_cast<Property>(i),
                        r.kind == Kind::Text ? texts++ : values++};
  }
  std::sort(t.begin(), t.end(),
            [](const PropertyInfo& a, const PropertyInfo& b) { return a.dispid > b.dispid; });
  return t;
}

constexpr Table kInterface = MakeInterfaceTable();

// Storage row -> interface position.
constexpr std::array<std::uint8_t, kPropertyCount> MakeByProperty() {
  std::array<std::uint8_t, kPropertyCount> a{};
  for (std::size_t i = 0; i < kPropertyCount; ++i) {
    a[static_cast<std::size_t>(kInterface[i].property)] = static_cast<std::uint8_t>(i);
  }
  return a;
}
constexpr auto kByProperty = MakeByProperty();

constexpr DispId kFirstPropertyId = 0x6803020D;

// The identifiers run without a gap in interface order.
constexpr bool IdentifiersAreDense() {
  for (std::size_t i = 0; i < kPropertyCount; ++i) {
    if (kInterface[i].dispid != kFirstPropertyId - static_cast<DispId>(i)) return false;
  }
  return true;
}
static_assert(IdentifiersAreDense(), "dispatch identifiers must descend without a gap");

// A name given as UTF-8 bytes or UTF-16 units equals a member's ASCII name
// when it differs only in the case of ASCII letters.
template <typename Char>
bool EqualsIgnoreAsciiCase(std::basic_string_view<Char> a, const char* b) {
  return ascii::EqualIgnoringCase(a, std::string_view(b));
}

struct Method {
  const char* name;
  DispId dispid;
  MemberKind kind;
};
constexpr Method kMethods[] = {
    {"vCardClean", kDispIdVCardClean, MemberKind::Method},
    {"vCard", kDispIdVCard, MemberKind::ReadOnlyText},
    {"vCardFileName", kDispIdVCardFileName, MemberKind::ReadOnlyText},
};

// Orders names by length, then unit by unit with ASCII case folded: a name
// read from input is told from most others by its length alone.
template <typename Char>
constexpr int CompareFolded(std::basic_string_view<Char> a, std::string_view b) noexcept {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char32_t x = ascii::Fold(static_cast<char32_t>(a[i]));
    const char32_t y = ascii::Fold(static_cast<char32_t>(static_cast<unsigned char>(b[i])));
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

// Interface positions in that order, for a binary search.
constexpr std::array<std::uint8_t, kPropertyCount> MakeByName() {
  std::array<std::uint8_t, kPropertyCount> a{};
  for (std::size_t i = 0; i < kPropertyCount; ++i) a[i] = static_cast<std::uint8_t>(i);
  std::sort(a.begin(), a.end(), [](std::uint8_t x, std::uint8_t y) {
    return CompareFolded(std::string_view(kInterface[x].name), kInterface[y].name) < 0;
  });
  return a;
}
constexpr auto kByName = MakeByName();

constexpr bool NamesDifferInMoreThanCase() {
  for (std::size_t i = 1; i < kPropertyCount; ++i) {
    if (CompareFolded(std::string_view(kInterface[kByName[i - 1]].name),
                      kInterface[kByName[i]].name) == 0) {
      return false;
    }
  }
  return true;
}
static_assert(NamesDifferInMoreThanCase(), "no two property names may differ in case alone");

template <typename Char>
const PropertyInfo* FindByName(std::basic_string_view<Char> name) noexcept {
  std::size_t lo = 0, hi = kPropertyCount;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    const PropertyInfo& p = kInterface[kByName[mid]];
    const int c = CompareFolded(name, p.name);
    if (c == 0) return &p;
    if (c < 0) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return nullptr;
}

template <typename Char>
Status FindMemberByName(std::basic_string_view<Char> name, MemberInfo& out) noexcept {
  for (const Method& m : kMethods) {
    if (EqualsIgnoreAsciiCase(name, m.name)) {
      out = MemberInfo{m.name, m.dispid, m.kind, nullptr};
      return kOk;
    }
  }
  if (const PropertyInfo* p = FindByName(name)) {
    out = MemberInfo{p->name, p->dispid, MemberKind::Property, p};
    return kOk;
  }
  out = MemberInfo{};
  return kUnknownName;
}

}  // namespace

std::span<const PropertyInfo> Properties() noexcept { return kInterface; }

const PropertyInfo& Info(Property p) noexcept {
  return kInterface[kByProperty[static_cast<std::size_t>(p)]];
}

const PropertyInfo* FindProperty(std::string_view name) noexcept { return FindByName(name); }
const PropertyInfo* FindProperty(std::u16string_view name) noexcept { return FindByName(name); }

const PropertyInfo* FindProperty(DispId dispid) noexcept {
  // In 64 bits: any 32-bit identifier, however far from the range, is a
  // valid argument, and the difference must not overflow.
  const std::int64_t offset = std::int64_t{kFirstPropertyId} - dispid;
  if (offset < 0 || offset >= static_cast<std::int64_t>(kPropertyCount)) return nullptr;
  return &kInterface[static_cast<std::size_t>(offset)];
}

Status FindMember(std::string_view name, MemberInfo& out) noexcept {
  return FindMemberByName(name, out);
}
Status FindMember(std::u16string_view name, MemberInfo& out) noexcept {
  return FindMemberByName(name, out);
}

Status FindMember(DispId dispid, MemberInfo& out) noexcept {
  for (const Method& m : kMethods) {
    if (m.dispid == dispid) {
      out = MemberInfo{m.name, m.dispid, m.kind, nullptr};
      return kOk;
    }
  }
  if (const PropertyInfo* p = FindProperty(dispid)) {
    out = MemberInfo{p->name, p->dispid, MemberKind::Property, p};
    return kOk;
  }
  out = MemberInfo{};
  return kMemberNotFound;
}

}  // namespace qv_VCard
