// Fuzz target: the C interface called with hostile arguments.
//
// Decodes the input into calls on two objects (or on NULL): assignments of
// arbitrary bytes as UTF-8 and arbitrary units as UTF-16 with explicit or
// terminator-given lengths, reads with and without out-parameters, name and
// identifier lookups with any bytes and any identifier, resets, destruction
// and re-creation. Checks the contract of the header:
//   - a NULL required pointer gives QV_E_POINTER; a failing call hands out
//     NULL and length 0 and stores nothing;
//   - the status is the one that the arguments call for: unknown member,
//     wrong kind, ill-formed UTF-8, a text read that UTF-8 cannot carry;
//   - what was assigned reads back (stored and separator reads exactly),
//     through both encodings, with a terminating 0 after the counted units;
//   - names resolve ignoring ASCII case only, and identifiers and names
//     round-trip.
// Every buffer handed out is released with its own function, so the
// sanitizer sees any leak or mismatch.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "qv_vcard/qvVCard.hpp"
#include "qv_vcard/qv_vcard.h"
#include "utf8_oracle.hpp"

namespace {

using qv_fuzz::Decode;
using qv_fuzz::Encode;
using qv_fuzz::Input;
using qv_fuzz::Show;
using Units = std::u16string;

constexpr qv_dispid kFirst = 0x6803020D;  // NameFamily; TimeZone is kFirst - 128
constexpr int kCount = 129;

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// ---- What a member is, asked of the interface itself.

struct Member {
  bool known = false;
  qv_member_kind kind{};
  const char* name = nullptr;
};

Member Describe(qv_dispid id) {
  Member m;
  const qv_status s = qv_vcard_member(id, &m.name, &m.kind);
  m.known = s == QV_S_OK;
  FUZZ_CHECK(m.known || (s == QV_E_MEMBERNOTFOUND && m.name == nullptr && m.kind == 0),
             std::to_string(id));
  return m;
}

// The model of one object: what each property was last given.
struct Model {
  std::array<Units, kCount> text{};
  std::array<std::int16_t, kCount> value{};
  void Clean() {
    for (int i = 0; i < kCount; ++i) {
      if (kFirst - i == 0x6803018D) continue;  // TimeZone survives a reset
      text[static_cast<std::size_t>(i)].clear();
      value[static_cast<std::size_t>(i)] = 0;
    }
  }
};

int IndexOf(qv_dispid id) { return kFirst - id; }
bool IsProperty(qv_dispid id) { return id <= kFirst && id > kFirst - kCount; }

// The read of a text property, where it follows from the stored text alone.
bool ExpectedRead(const Model& m, qv_dispid id, Units& out) {
  const qv_VCard::PropertyInfo* p = qv_VCard::FindProperty(static_cast<qv_VCard::DispId>(id));
  const Units& stored = m.text[static_cast<std::size_t>(IndexOf(id))];
  switch (p->rule) {
    case qv_VCard::ReadRule::Stored:
      out = stored;
      return true;
    case qv_VCard::ReadRule::Separator:
      out = stored + u";";
      return true;
    default:
      return false;  // built from other fields or a line: checked by the card target
  }
}

struct Run {
  std::array<qv_vcard*, 2> cards{};
  std::array<Model, 2> models{};

  Run() {
    for (qv_vcard*& c : cards) FUZZ_CHECK(qv_vcard_create(&c) == QV_S_OK && c, "create");
  }
  ~Run() {
    for (qv_vcard* c : cards) qv_vcard_destroy(c);
  }

  // A card, or NULL one time in four; which slot it came from.
  qv_vcard* PickCard(Input& in, int& slot) {
    const std::uint8_t b = in.Byte();
    slot = b & 1;
    return (b & 6) == 0 ? nullptr : cards[static_cast<std::size_t>(slot)];
  }

  static qv_dispid PickId(Input& in) {
    const std::uint8_t b = in.Byte();
    if (b < 200) return kFirst - b % kCount;
    switch (b % 6) {
      case 0:
        return QV_DISPID_VCARD;
      case 1:
        return QV_DISPID_VCARDFILENAME;
      case 2:
        return QV_DISPID_VCARDCLEAN;
      case 3:
        return kFirst + 1;
      case 4:
        return kFirst - kCount;
      default:
        return static_cast<qv_dispid>(in.U32());
    }
  }

  // The status a put of a text ought to get, apart from the text's encoding.
  static qv_status PutRefusal(qv_dispid id) {
    const Member m = Describe(id);
    if (!m.known || m.kind == QV_MEMBER_METHOD || m.kind == QV_MEMBER_READONLY_TEXT) {
      return QV_E_MEMBERNOTFOUND;
    }
    return m.kind == QV_MEMBER_TEXT ? QV_S_OK : QV_E_TYPEMISMATCH;
  }

  // Everything a caller can read of an object, as UTF-16 texts and values.
  std::vector<Units> Snapshot(const qv_vcard* c) {
    std::vector<Units> all;
    for (int i = 0; i < kCount; ++i) {
      const qv_dispid id = kFirst - i;
      if (Describe(id).kind == QV_MEMBER_TEXT) {
        qv_utf16* out = nullptr;
        std::size_t len = 0;
        FUZZ_CHECK(qv_vcard_get_utf16(c, id, &out, &len) == QV_S_OK, "snapshot");
        all.emplace_back(reinterpret_cast<const char16_t*>(out), len);
        qv_vcard_free_utf16(out);
      } else {
        std::int16_t v = 0;
        FUZZ_CHECK(qv_vcard_get_int16(c, id, &v) == QV_S_OK, "snapshot");
        all.push_back(Units(1, static_cast<char16_t>(v)));
      }
    }
    return all;
  }

  bool GeoOverflows(const Model& m) const {
    for (int axis = 0; axis < 2; ++axis) {
      // GeoLatDeg 0x68030197..Sec 0x68030195, GeoLonDeg 0x68030193..Sec 0x68030191
      const qv_dispid deg = axis == 0 ? 0x68030197 : 0x68030193;
      const int d = m.value[static_cast<std::size_t>(IndexOf(deg))];
      const int mi = m.value[static_cast<std::size_t>(IndexOf(deg - 1))];
      const int s = m.value[static_cast<std::size_t>(IndexOf(deg - 2))];
      if (d + mi < -32768 || d + mi > 32767 || d + mi + s < -32768 || d + mi + s > 32767) {
        return true;
      }
    }
    return false;
  }

  void PutUtf8(Input& in) {
    int slot = 0;
    qv_vcard* c = PickCard(in, slot);
    const qv_dispid id = PickId(in);
    const std::uint8_t mode = in.Byte();
    const std::string bytes(in.Bytes(in.Byte() % 48));
    const char* text = (mode & 3) == 0 ? nullptr : bytes.c_str();
    const bool nts = (mode & 3) == 1;
    const std::string_view given = nts ? std::string_view(bytes.c_str()) : std::string_view(bytes);
    Units decoded;
    const bool valid = Decode(given, decoded);
    const qv_status refusal = PutRefusal(id);
    const bool refused = c != nullptr && text != nullptr && (refusal != QV_S_OK || !valid);
    const auto before = refused ? Snapshot(c) : std::vector<Units>();
    const qv_status s = qv_vcard_put_utf8(c, id, text, nts ? QV_NTS : bytes.size());
    if (c == nullptr || text == nullptr) {
      FUZZ_CHECK(s == QV_E_POINTER, "put_utf8 with NULL");
      return;
    }
    if (refused) {
      FUZZ_CHECK(s == refusal || (!valid && s == QV_E_NOUNICODETRANSLATION),
                 "put_utf8 status " + std::to_string(s) + " for " + std::to_string(id));
      FUZZ_CHECK(s != QV_S_OK && Snapshot(c) == before, "a refused put stored something");
      return;
    }
    FUZZ_CHECK(s == QV_S_OK, "put_utf8 of valid UTF-8: " + std::to_string(s));
    models[static_cast<std::size_t>(slot)].text[static_cast<std::size_t>(IndexOf(id))] = decoded;
    CheckRead(slot, id);
  }

  void PutUtf16(Input& in) {
    int slot = 0;
    qv_vcard* c = PickCard(in, slot);
    const qv_dispid id = PickId(in);
    const std::uint8_t mode = in.Byte();
    Units units;
    for (int n = in.Byte() % 24; n > 0; --n) {
      const std::uint8_t b = in.Byte();
      // Mostly the troublesome units: surrogates, 0, line breaks.
      static const char16_t kUnits[] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0, u'\r', u'\n', u'a'};
      units.push_back(b < 8 ? kUnits[b] : b < 16 ? static_cast<char16_t>(in.U16()) : b);
    }
    const Units terminated = units + Units(1, 0);
    const bool nts = (mode & 3) == 1;
    const qv_utf16* text =
        (mode & 3) == 0 ? nullptr : reinterpret_cast<const qv_utf16*>(terminated.c_str());
    const qv_status s = qv_vcard_put_utf16(c, id, text, nts ? QV_NTS : units.size());
    if (c == nullptr || text == nullptr) {
      FUZZ_CHECK(s == QV_E_POINTER, "put_utf16 with NULL");
      return;
    }
    FUZZ_CHECK(s == PutRefusal(id), "put_utf16 status " + std::to_string(s));
    if (s != QV_S_OK) return;
    models[static_cast<std::size_t>(slot)].text[static_cast<std::size_t>(IndexOf(id))] =
        nts ? Units(terminated.c_str()) : units;
    CheckRead(slot, id);
  }

  // Reads a text member both ways and checks the two against each other and
  // against the model.
  void CheckRead(int slot, qv_dispid id) {
    qv_vcard* c = cards[static_cast<std::size_t>(slot)];
    const Member m = Describe(id);
    const bool readable =
        m.known && (m.kind == QV_MEMBER_TEXT || m.kind == QV_MEMBER_READONLY_TEXT);
    qv_status want = !m.known || m.kind == QV_MEMBER_METHOD ? QV_E_MEMBERNOTFOUND
                     : !readable                            ? QV_E_TYPEMISMATCH
                                                            : QV_S_OK;
    if (id == QV_DISPID_VCARD && GeoOverflows(models[static_cast<std::size_t>(slot)])) {
      want = QV_E_OVERFLOW;
    }

    qv_utf16* u = reinterpret_cast<qv_utf16*>(1);
    std::size_t ulen = 99;
    const qv_status su = qv_vcard_get_utf16(c, id, &u, &ulen);
    FUZZ_CHECK(su == want, "get_utf16 status " + std::to_string(su) + " for " + std::to_string(id));
    if (su != QV_S_OK) {
      FUZZ_CHECK(u == nullptr && ulen == 0, "a failed read handed something out");
    } else {
      FUZZ_CHECK(u != nullptr && u[ulen] == 0, "no terminating 0");
    }
    const Units read16 = u ? Units(reinterpret_cast<const char16_t*>(u), ulen) : Units();
    qv_vcard_free_utf16(u);

    char* t = reinterpret_cast<char*>(1);
    std::size_t tlen = 99;
    const qv_status s8 = qv_vcard_get_utf8(c, id, &t, &tlen);
    std::string expected8;
    const bool encodable = Encode(read16, expected8);
    if (su == QV_S_OK && !encodable) {
      FUZZ_CHECK(s8 == QV_E_NOUNICODETRANSLATION, "unpaired surrogate read as UTF-8");
    } else {
      FUZZ_CHECK(s8 == su, "the two encodings disagree on status");
    }
    if (s8 != QV_S_OK) {
      FUZZ_CHECK(t == nullptr && tlen == 0, "a failed read handed something out");
      return;
    }
    FUZZ_CHECK(t != nullptr && t[tlen] == 0, "no terminating 0");
    const std::string read8(t, tlen);
    qv_vcard_free_utf8(t);
    if (id == QV_DISPID_VCARD) {  // a fresh identifier each time
      FUZZ_CHECK(read8.starts_with("BEGIN:VCARD\r\n") && read8.ends_with("\r\nEND:VCARD"), read8);
      return;
    }
    FUZZ_CHECK(read8 == expected8, "UTF-8 and UTF-16 reads differ: " + Show(read16));
    Units want_text;
    if (IsProperty(id) && ExpectedRead(models[static_cast<std::size_t>(slot)], id, want_text)) {
      FUZZ_CHECK(read16 == want_text, "read back " + Show(read16) + " for " + Show(want_text));
    }
  }

  void Read(Input& in) {
    int slot = 0;
    qv_vcard* c = PickCard(in, slot);
    const qv_dispid id = PickId(in);
    const std::uint8_t mode = in.Byte();
    if (c != nullptr && (mode & 3) != 0) {
      CheckRead(slot, id);
      return;
    }
    // NULL object or NULL out-parameter; the length is optional.
    char* t = reinterpret_cast<char*>(1);
    std::size_t len = 99;
    std::size_t* len_arg = mode & 4 ? nullptr : &len;
    qv_status s;
    switch ((mode >> 3) % 4) {
      case 0:
        s = qv_vcard_get_utf8(c, id, (mode & 3) ? &t : nullptr, len_arg);
        break;
      case 1:
        s = qv_vcard_card_utf8(c, (mode & 3) ? &t : nullptr, len_arg);
        break;
      case 2:
        s = qv_vcard_file_name_utf16(c, (mode & 3) ? reinterpret_cast<qv_utf16**>(&t) : nullptr,
                                     len_arg);
        break;
      default: {
        std::int16_t v = 5;
        s = qv_vcard_get_int16(c, id, (mode & 3) ? &v : nullptr);
        if (c == nullptr && (mode & 3)) FUZZ_CHECK(v == 0, "get_int16 on NULL");
        FUZZ_CHECK(s == QV_E_POINTER, "get_int16 with NULL");
        return;
      }
    }
    FUZZ_CHECK(s == QV_E_POINTER, "read with NULL");
    if ((mode & 3) != 0) FUZZ_CHECK(t == nullptr, "out not cleared");
    if ((mode & 3) != 0 && len_arg) FUZZ_CHECK(len == 0, "length not cleared");
  }

  void Values(Input& in) {
    int slot = 0;
    qv_vcard* c = PickCard(in, slot);
    const qv_dispid id = PickId(in);
    const auto v = static_cast<std::int16_t>(in.U16());
    const qv_status s = qv_vcard_put_int16(c, id, v);
    const Member m = Describe(id);
    if (c == nullptr) {
      FUZZ_CHECK(s == QV_E_POINTER, "put_int16 with NULL");
      return;
    }
    const bool number = m.known && (m.kind == QV_MEMBER_FLAG || m.kind == QV_MEMBER_INT16);
    const qv_status want =
        number ? QV_S_OK
        : !m.known || m.kind == QV_MEMBER_METHOD || m.kind == QV_MEMBER_READONLY_TEXT
            ? QV_E_MEMBERNOTFOUND
            : QV_E_TYPEMISMATCH;
    FUZZ_CHECK(s == want, "put_int16 status " + std::to_string(s));
    if (number)
      models[static_cast<std::size_t>(slot)].value[static_cast<std::size_t>(IndexOf(id))] = v;
    std::int16_t back = 7;
    const qv_status g = qv_vcard_get_int16(c, id, &back);
    if (number) {
      FUZZ_CHECK(g == QV_S_OK && back == v, "value read back");
    } else {
      FUZZ_CHECK(g != QV_S_OK && back == 0, "get_int16 of a non-number");
      FUZZ_CHECK(
          g == (!m.known || m.kind == QV_MEMBER_METHOD ? QV_E_MEMBERNOTFOUND : QV_E_TYPEMISMATCH),
          "get_int16 status " + std::to_string(g));
    }
  }

  void Names(Input& in) {
    const std::uint8_t mode = in.Byte();
    std::string name;
    if (mode & 1) {  // a real name with letters in any case
      const Member m = Describe(PickId(in));
      name = m.name ? m.name : "vCard";
      for (char& ch : name) {
        const bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
        if (letter && (in.Byte() & 1)) ch = static_cast<char>(ch ^ 0x20);
      }
      if (mode & 2) name[in.Byte() % name.size()] = static_cast<char>(in.Byte());
    } else {
      name = std::string(in.Bytes(in.Byte() % 24));
    }
    qv_dispid id = 1;
    qv_status s;
    if (mode & 4) {
      Units units;
      for (char ch : name) units.push_back(static_cast<unsigned char>(ch));
      if (mode & 8) units.push_back(0x0131);  // dotless i: no ASCII letter
      const bool nts = mode & 16;
      s = qv_vcard_dispid_utf16(
          mode & 32 ? nullptr : reinterpret_cast<const qv_utf16*>(units.c_str()),
          nts ? QV_NTS : units.size(), mode & 64 ? nullptr : &id);
      if (nts) units = Units(units.c_str());
      name.clear();
      for (char16_t u : units) name.push_back(u < 0x80 ? static_cast<char>(u) : '\x80');
    } else {
      s = qv_vcard_dispid(mode & 32 ? nullptr : name.c_str(), mode & 64 ? nullptr : &id);
      name = name.c_str();
    }
    if (mode & 96) {
      FUZZ_CHECK(s == QV_E_POINTER, "dispid with NULL");
      if (!(mode & 64)) FUZZ_CHECK(id == 0, "dispid out not cleared");
      return;
    }
    if (s != QV_S_OK) {
      FUZZ_CHECK(s == QV_E_UNKNOWNNAME && id == 0, "dispid failure " + std::to_string(s));
      // A real name with only its case changed must resolve.
      const bool only_case = (mode & 1) && !(mode & 2) && !((mode & 4) && (mode & 8));
      FUZZ_CHECK(!only_case, "lost name " + name);
      return;
    }
    const Member m = Describe(id);
    FUZZ_CHECK(m.known && EqualIgnoringAsciiCase(name, m.name), name + " found " + m.name);
    const char* none = "x";
    qv_member_kind kind{};
    FUZZ_CHECK(qv_vcard_member(id, nullptr, &kind) == QV_E_POINTER, "member with NULL name");
    FUZZ_CHECK(qv_vcard_member(id, &none, nullptr) == QV_E_POINTER, "member with NULL kind");
  }

  void Lifecycle(Input& in) {
    int slot = 0;
    const std::uint8_t what = in.Byte();
    qv_vcard* c = PickCard(in, slot);
    switch (what % 4) {
      case 0: {
        const qv_status s = qv_vcard_clean(c);
        FUZZ_CHECK(s == (c ? QV_S_OK : QV_E_POINTER), "clean");
        if (c) models[static_cast<std::size_t>(slot)].Clean();
        break;
      }
      case 1:
        if (c) {
          FUZZ_CHECK(qv_vcard_destroy(c) == QV_S_OK, "destroy");
          cards[static_cast<std::size_t>(slot)] = nullptr;
          FUZZ_CHECK(qv_vcard_create(&cards[static_cast<std::size_t>(slot)]) == QV_S_OK, "create");
          models[static_cast<std::size_t>(slot)] = Model{};
        }
        break;
      case 2:
        FUZZ_CHECK(qv_vcard_create(nullptr) == QV_E_POINTER, "create(NULL)");
        FUZZ_CHECK(qv_vcard_destroy(nullptr) == QV_S_OK, "destroy(NULL)");
        FUZZ_CHECK(qv_vcard_free_utf8(nullptr) == QV_S_OK, "free_utf8(NULL)");
        FUZZ_CHECK(qv_vcard_free_utf16(nullptr) == QV_S_OK, "free_utf16(NULL)");
        break;
      default:
        if (c) CheckRead(slot, PickId(in));
        break;
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Run run;
  for (int steps = 0; !in.done() && steps < 300; ++steps) {
    switch (in.Byte() % 6) {
      case 0:
        run.PutUtf8(in);
        break;
      case 1:
        run.PutUtf16(in);
        break;
      case 2:
        run.Read(in);
        break;
      case 3:
        run.Values(in);
        break;
      case 4:
        run.Names(in);
        break;
      default:
        run.Lifecycle(in);
        break;
    }
  }
  for (int slot = 0; slot < 2; ++slot) {
    run.CheckRead(slot, QV_DISPID_VCARD);
    run.CheckRead(slot, QV_DISPID_VCARDFILENAME);
  }
  return 0;
}
