// qv_VCard: one person's contact data, rendered as a vCard 3.0 card and a
// safe file name for it.
//
// Every member returns a Status (HRESULT-compatible: 0 is success, negative
// values are failures). A member that fails leaves no partial result: a text
// read delivers the empty text, an assignment leaves the record unchanged.
// No exception leaves a member.
//
// Objects are not synchronised: use one object from one thread at a time
// (reads of vCard reuse room held by the object).
#ifndef QV_VCARD_QVVCARD_HPP
#define QV_VCARD_QVVCARD_HPP

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace qv_VCard {

using Text = std::u16string;
using Status = std::int32_t;
using DispId = std::int32_t;

// Status codes.
inline constexpr Status kOk = 0;
inline constexpr Status kOverflow = static_cast<Status>(0x800A0006);  // 16-bit overflow
inline constexpr Status kOutOfMemory = static_cast<Status>(0x8007000E);
inline constexpr Status kFail = static_cast<Status>(0x80004005);  // unspecified failure
// An internal fault: an exception of no known kind, or a card written past
// the room made for it. The same value on every surface.
inline constexpr Status kUnexpected = static_cast<Status>(0x8000FFFF);
inline constexpr Status kInvalidArg = static_cast<Status>(0x80070057);
inline constexpr Status kPointer = static_cast<Status>(0x80004003);  // null pointer
inline constexpr Status kMemberNotFound = static_cast<Status>(0x80020003);
inline constexpr Status kTypeMismatch = static_cast<Status>(0x80020005);
inline constexpr Status kUnknownName = static_cast<Status>(0x80020006);
inline constexpr Status kNoNamedArgs = static_cast<Status>(0x80020007);
inline constexpr Status kBadParamCount = static_cast<Status>(0x8002000E);
// A text that is not valid UTF-8 (or UTF-16) where one was required.
inline constexpr Status kNoUnicodeTranslation = static_cast<Status>(0x80070459);

inline constexpr bool Succeeded(Status s) { return s >= 0; }
inline constexpr bool Failed(Status s) { return s < 0; }

// Automation Booleans.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

// Dispatch identifiers of the members that are not properties.
inline constexpr DispId kDispIdVCardClean = 0x6003021F;
inline constexpr DispId kDispIdVCard = 0x6803021E;
inline constexpr DispId kDispIdVCardFileName = 0x6803020E;

// ---------------------------------------------------------------------------
// The property table, expanded.

enum class Kind : std::uint8_t { Text, Flag, Int16 };

enum class ReadRule : std::uint8_t {
  Stored,         // the stored value
  Separator,      // the stored text followed by ";"
  FormattedName,  // stored, or composed from the name parts when empty
  ContentLine,    // the property's whole content line, or empty
  GeoLatSign,     // "+" when the stored text is exactly "N", else "-"
  GeoLonSign,     // "-" when the stored text is exactly "W", else "+"
};

// One enumerator per property, in record storage order.
enum class Property : std::uint8_t {
#define QV_VCARD_PROPERTY(name, kind, dispid, rule) name,
#include <qv_vcard/property_table.inc>
#undef QV_VCARD_PROPERTY
};

inline constexpr std::size_t kPropertyCount = 0
#define QV_VCARD_PROPERTY(name, kind, dispid, rule) +1
#include <qv_vcard/property_table.inc>
#undef QV_VCARD_PROPERTY
    ;

struct PropertyInfo {
  const char* name;
  Kind kind;
  DispId dispid;
  ReadRule rule;
  Property property;   // the record field (row of the table)
  std::uint8_t field;  // index among the fields of the same storage (texts or 16-bit values)
};

// All properties in interface order (descending dispatch identifier).
std::span<const PropertyInfo> Properties() noexcept;
// The row of a property.
const PropertyInfo& Info(Property p) noexcept;
// Lookup by name, ignoring ASCII case as automation clients do; nullptr when unknown.
const PropertyInfo* FindProperty(std::string_view name) noexcept;
const PropertyInfo* FindProperty(std::u16string_view name) noexcept;
// Lookup by dispatch identifier; nullptr when no property has it.
const PropertyInfo* FindProperty(DispId dispid) noexcept;

// Any member of the interface: the 129 properties and vCardClean, vCard,
// vCardFileName.
enum class MemberKind : std::uint8_t { Property, Method, ReadOnlyText };
struct MemberInfo {
  const char* name;  // exact spelling
  DispId dispid;
  MemberKind kind;
  const PropertyInfo* property;  // for MemberKind::Property
};
// Name to member, ignoring ASCII case; status kUnknownName when unknown.
Status FindMember(std::string_view name, MemberInfo& out) noexcept;
Status FindMember(std::u16string_view name, MemberInfo& out) noexcept;
// Identifier to member; status kMemberNotFound when unknown.
Status FindMember(DispId dispid, MemberInfo& out) noexcept;

// A value crossing a late-bound call: a text or a 16-bit integer (flags and
// the geographic integers).
using Value = std::variant<Text, std::int16_t>;

// ---------------------------------------------------------------------------
// Injectable sources of the revision stamp and the unique identifier.

// A calendar reading in coordinated universal time.
struct CalendarTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual Status Now(CalendarTime& out) noexcept = 0;
};

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
};

class GuidSource {
 public:
  virtual ~GuidSource() = default;
  virtual Status Create(Guid& out) noexcept = 0;
};

// The system clock (UTC) and the system's random version-4 GUIDs. Both are
// process-wide, safe to use from any thread and after fork.
Clock& SystemClock() noexcept;
GuidSource& SystemGuidSource() noexcept;

// Receives a card's text in pieces, in order, as the card is written: a
// card of any size then needs little memory besides its record.
class TextSink {
 public:
  virtual ~TextSink() = default;
  // The next piece of the text; a failure status ends the read with it.
  virtual Status Write(std::u16string_view piece) noexcept = 0;
};

namespace detail {
struct Access;
}

// ---------------------------------------------------------------------------

#define QV_VCARD_ARG_Text const Text&
#define QV_VCARD_ARG_Flag std::int16_t
#define QV_VCARD_ARG_Int16 std::int16_t
#define QV_VCARD_OUT_Text Text&
#define QV_VCARD_OUT_Flag std::int16_t&
#define QV_VCARD_OUT_Int16 std::int16_t&

class qvVCard {
 public:
  // A new card with every text empty and every flag and integer 0. Uses the
  // system clock and GUID source. Throws std::bad_alloc when it cannot be
  // created.
  qvVCard();
  // The same, with the given sources; they must outlive the object.
  qvVCard(Clock& clock, GuidSource& guids);

  qvVCard(const qvVCard&) = default;
  qvVCard& operator=(const qvVCard&) = default;
  qvVCard(qvVCard&&) noexcept = default;
  qvVCard& operator=(qvVCard&&) noexcept = default;
  ~qvVCard() = default;

  // Resets every field except TimeZone.
  Status vCardClean() noexcept;

  // The complete card text.
  Status get_vCard(Text& out) const noexcept;
  // The same text, handed to sink in pieces of a few thousand units as it is
  // written. When the read fails (the status says why), pieces may have
  // been handed over already: the receiver discards them.
  Status get_vCard(TextSink& sink) const noexcept;
  // A file name for the card, derived from the formatted name.
  Status get_vCardFileName(Text& out) const noexcept;

  // put_P and get_P for every property P of the table.
#define QV_VCARD_PROPERTY(name, kind, dispid, rule)                                            \
  Status put_##name(QV_VCARD_ARG_##kind vData) noexcept { return Put(Property::name, vData); } \
  Status get_##name(QV_VCARD_OUT_##kind out) const noexcept { return Get(Property::name, out); }
#include <qv_vcard/property_table.inc>
#undef QV_VCARD_PROPERTY

  // Generic access by property. A Text put to a flag or integer property, or
  // the reverse, returns kTypeMismatch and stores nothing.
  Status Put(Property p, const Text& vData) noexcept;
  // The same, taking over vData's storage instead of copying it.
  Status Put(Property p, Text&& vData) noexcept;
  // The same from a view of units, copied: for a caller that builds its
  // texts in storage of its own and reuses it.
  Status PutView(Property p, std::u16string_view vData) noexcept;
  Status Put(Property p, std::int16_t vData) noexcept;
  Status Get(Property p, Text& out) const noexcept;
  Status Get(Property p, std::int16_t& out) const noexcept;

  // Late-bound access by dispatch identifier, as IDispatch::Invoke offers it.
  // Put: kMemberNotFound for vCard, vCardFileName, vCardClean or an unknown
  // identifier; kTypeMismatch for a value of the wrong kind.
  Status PutById(DispId dispid, const Value& vData) noexcept;
  // Get also serves vCard and vCardFileName; kMemberNotFound for vCardClean
  // and unknown identifiers. On failure out holds the empty text.
  Status GetById(DispId dispid, Value& out) const noexcept;
  // Invokes the method vCardClean by identifier; kMemberNotFound otherwise.
  Status CallById(DispId dispid) noexcept;

 private:
  // The reads and the writer reach the record through detail::Access.
  friend struct detail::Access;

  static constexpr std::size_t kTextFields = 0
#define QV_VCARD_PROPERTY(name, kind, dispid, rule) +(Kind::kind == Kind::Text ? 1 : 0)
#include <qv_vcard/property_table.inc>
#undef QV_VCARD_PROPERTY
      ;
  static constexpr std::size_t kValueFields = kPropertyCount - kTextFields;

  // Where cards are written when the caller's text has too little room for
  // them; its room is kept from read to read (up to 1 MiB), with the length
  // of the last card. It is the object's own: a copy starts without it, and
  // an assignment keeps what the object had.
  struct ScratchRoom {
    ScratchRoom() = default;
    ScratchRoom(const ScratchRoom&) noexcept {}
    ScratchRoom& operator=(const ScratchRoom&) noexcept { return *this; }
    ScratchRoom(ScratchRoom&&) noexcept = default;
    ScratchRoom& operator=(ScratchRoom&&) noexcept = default;
    ~ScratchRoom() = default;
    Text text;
    std::size_t last = 0;
  };

  std::array<Text, kTextFields> texts_{};
  std::array<std::int16_t, kValueFields> values_{};
  // Bit i (of the 64 in word i / 64) is set exactly when values_[i] is not
  // 0, kept so by every assignment: the writer reads all type flags of a
  // slot at once.
  std::array<std::uint64_t, (kValueFields + 63) / 64> set_values_{};
  Clock* clock_;
  GuidSource* guids_;
  mutable ScratchRoom room_;
};

#undef QV_VCARD_ARG_Text
#undef QV_VCARD_ARG_Flag
#undef QV_VCARD_ARG_Int16
#undef QV_VCARD_OUT_Text
#undef QV_VCARD_OUT_Flag
#undef QV_VCARD_OUT_Int16

}  // namespace qv_VCard

#endif
