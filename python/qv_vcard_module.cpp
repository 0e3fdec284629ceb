// The Python module qv_vcard: the class qvVCard with its 129 properties as
// attributes, late-bound access by name or dispatch identifier, and failures
// as exceptions. The attributes are generated from the property table at
// import time, so the module always offers exactly the properties the
// library has.
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/access.hpp"
#include "bridge/names.hpp"
#include "bridge/status.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace py = pybind11;
using namespace qv_VCard;

namespace {

constexpr const char* kModuleDoc = R"doc(One person's contact data as a vCard 3.0 card.

    import qv_vcard
    card = qv_vcard.qvVCard(NameFamily="Doe", NameGiven="John")
    card.Tel1_Number, card.Tel1_Cell = "+1-555-0100", True
    print(card.vCardFileName)   # Doe John.vcf
    print(card.vCard)           # BEGIN:VCARD ... END:VCARD

Every property of the card is an attribute of qvVCard with its exact name.
Texts are str; flags and the geographic integers are int (16-bit). Late-bound
callers use dispid(name), qvVCard.get(name_or_dispid) and
qvVCard.put(name_or_dispid, value). A failing member raises Error, whose
`status` is the member's status code. PROPERTIES lists the properties in
interface order as (name, dispatch identifier, kind) with kind 'text',
'flag' or 'int16'.

Texts are stored as UTF-16. Every str round-trips, characters outside the
Basic Multilingual Plane included (they are stored as surrogate pairs). A
str holding lone surrogates is stored code unit for code unit (the
'surrogatepass' error handler); the one str that does not come back
unchanged is a lone high surrogate directly followed by a lone low
surrogate, which as UTF-16 is a pair and reads back as the one character it
encodes.)doc";

constexpr const char* kErrorSource = R"py(
class Error(Exception):
    """A member of qvVCard failed.

    status -- the member's status code, a signed 32-bit integer as on every
              surface of the library (negative for a failure): for example
              -2146828282, 0x800A0006 as an unsigned number, when the
              geographic position of the card overflows 16 bits, or
              -2147352573 (0x80020003) for a member that cannot be used so
              (a put to vCard, a get of vCardClean, an unknown dispatch
              identifier). status & 0xFFFFFFFF gives the unsigned form.
    """

    def __init__(self, status, message=None):
        super().__init__(status, message)
        self.status = status
        self.message = message if message is not None else "status 0x%08X" % (status & 0xFFFFFFFF)

    def __str__(self):
        return self.message
)py";

py::handle g_error;  // qv_vcard.Error, owned by the module
py::handle g_class;  // qv_vcard.qvVCard, owned by the module

// The card behind self. Every member goes through here rather than through
// pybind11's own conversion of self, which hands out uninitialised storage
// for an object made by qvVCard.__new__ without __init__ (and for self of
// another type when a member's function is called unbound).
qvVCard& CardOf(py::handle self) {
  if (!PyObject_TypeCheck(self.ptr(), reinterpret_cast<PyTypeObject*>(g_class.ptr()))) {
    throw py::type_error("a qvVCard member was called on " +
                         std::string(Py_TYPE(self.ptr())->tp_name) + ", not on a qvVCard");
  }
  auto* inst = reinterpret_cast<py::detail::instance*>(self.ptr());
  static py::detail::type_info* const type = py::detail::get_type_info(typeid(qvVCard));
  auto value_and_holder = inst->get_value_and_holder(type, false);
  if (!value_and_holder || !value_and_holder.holder_constructed()) {
    throw py::type_error(
        "this qvVCard was never initialised (made by __new__ without __init__); "
        "create cards with qvVCard()");
  }
  return *static_cast<qvVCard*>(value_and_holder.value_ptr());
}

[[noreturn]] void RaiseStatus(Status s, const std::string& member) {
  const std::string message = member + ": " + bridge::StatusMessage(s);
  py::object error = py::reinterpret_borrow<py::object>(g_error)(s, message);
  PyErr_SetObject(g_error.ptr(), error.ptr());
  throw py::error_already_set();
}

// str <-> UTF-16, code unit for code unit (see the module documentation).
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

Text ToText(py::handle str) {
  py::object bytes = py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(
      str.ptr(), kLittleEndian ? "utf-16-le" : "utf-16-be", "surrogatepass"));
  if (!bytes) throw py::error_already_set();
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes.ptr(), &data, &size) != 0) throw py::error_already_set();
  Text text(static_cast<std::size_t>(size) / 2, u'\0');
  if (size > 0) std::memcpy(text.data(), data, static_cast<std::size_t>(size));
  return text;
}

py::str FromText(const Text& text) {
  // An explicit byte order keeps a leading U+FEFF as a character.
  int byteorder = kLittleEndian ? -1 : 1;
  PyObject* s =
      PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text.data()),
                            static_cast<Py_ssize_t>(text.size() * 2), "surrogatepass", &byteorder);
  if (s == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

std::string TypeName(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

// The value a Python object stands for in a property of the given row.
// TypeError for the wrong type, OverflowError outside 16 bits.
Value ToValue(const PropertyInfo& p, py::handle value) {
  if (p.kind == Kind::Text) {
    if (!PyUnicode_Check(value.ptr())) {
      throw py::type_error(std::string(p.name) + " takes a str, not " + TypeName(value));
    }
    return ToText(value);
  }
  if (PyBool_Check(value.ptr())) return value.ptr() == Py_True ? kTrue : kFalse;
  if (!PyIndex_Check(value.ptr())) {
    throw py::type_error(std::string(p.name) + " takes an int, not " + TypeName(value));
  }
  py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow != 0 || v < -32768 || v > 32767) {
    PyErr_Format(PyExc_OverflowError, "%s takes an int in -32768..32767, not %R", p.name,
                 index.ptr());
    throw py::error_already_set();
  }
  return static_cast<std::int16_t>(v);
}

// How a member is read: as a text, or as a 16-bit value.
bridge::Access ReadAccessOf(DispId id) {
  MemberInfo member;
  const bool value = Succeeded(FindMember(id, member)) && member.kind == MemberKind::Property &&
                     member.property->kind != Kind::Text;
  return value ? bridge::Access::GetValue : bridge::Access::GetText;
}

py::object Read(const qvVCard& card, const char* name, DispId id) {
  Value value;
  const Status s = bridge::Get(card, id, ReadAccessOf(id), value);
  if (Failed(s)) RaiseStatus(s, name);
  if (const auto* text = std::get_if<Text>(&value)) return FromText(*text);
  return py::int_(*std::get_if<std::int16_t>(&value));
}

void Write(qvVCard& card, const PropertyInfo& p, py::handle value) {
  const Value v = ToValue(p, value);  // nothing is stored when this throws
  const Status s = bridge::Put(card, p.dispid, v);
  if (Failed(s)) RaiseStatus(s, p.name);
}

// The member a name or dispatch identifier stands for. A name not found
// raises LookupError, an identifier not found Error(member not found).
MemberInfo Resolve(py::handle key) {
  MemberInfo member;
  if (PyUnicode_Check(key.ptr())) {
    if (Failed(FindMember(std::u16string_view(ToText(key)), member))) {
      PyErr_Format(PyExc_LookupError, "qvVCard has no member named %R", key.ptr());
      throw py::error_already_set();
    }
    return member;
  }
  if (PyLong_Check(key.ptr()) && !PyBool_Check(key.ptr())) {
    int overflow = 0;
    const long long id = PyLong_AsLongLongAndOverflow(key.ptr(), &overflow);
    const bool fits = overflow == 0 && id >= INT32_MIN && id <= INT32_MAX;
    // Identifiers above 0x7FFFFFFF are accepted in their unsigned spelling.
    const bool fits_unsigned = overflow == 0 && id > INT32_MAX && id <= UINT32_MAX;
    if (fits || fits_unsigned) {
      const auto dispid = static_cast<DispId>(static_cast<std::uint32_t>(id));
      if (Succeeded(FindMember(dispid, member))) return member;
    }
    RaiseStatus(kMemberNotFound, "dispatch identifier " + std::string(py::str(key)));
  }
  throw py::type_error("a member is named by a str or a dispatch identifier (int), not " +
                       TypeName(key));
}

std::string PropertyDoc(const PropertyInfo& p) {
  std::string doc =
      std::string(p.name) + " (dispatch identifier " + bridge::Hex32(p.dispid) + "): ";
  switch (p.kind) {
    case Kind::Flag:
      return doc +
             "flag, int. True stores -1 and False 0; any 16-bit int is stored as given "
             "and read back unchanged. Any value but 0 counts as set.";
    case Kind::Int16:
      return doc + "int in -32768..32767, stored as given.";
    case Kind::Text:
      break;
  }
  doc += "str. ";
  switch (p.rule) {
    case ReadRule::Stored:
      return doc + "Reads back as assigned.";
    case ReadRule::Separator:
      return doc + "Reads back followed by ';' (';' alone when empty), as the card uses it.";
    case ReadRule::FormattedName:
      return doc +
             "Reads back as assigned; when empty, reads as NameFamily, NameGiven, "
             "NameAdditional and NameSuffix joined by single blanks.";
    case ReadRule::ContentLine:
      return doc +
             "Reads back as its whole line of the card, ending in CR LF, or '' when "
             "empty.";
    case ReadRule::GeoLatSign:
      return doc + "Reads '+' when set to exactly 'N', else '-'.";
    case ReadRule::GeoLonSign:
      return doc + "Reads '-' when set to exactly 'W', else '+'.";
  }
  return doc;
}

const char* KindName(Kind k) {
  switch (k) {
    case Kind::Text:
      return "text";
    case Kind::Flag:
      return "flag";
    case Kind::Int16:
      return "int16";
  }
  return "?";
}

// "'qvVCard' object has no attribute 'NameGivn'; did you mean NameGiven?"
std::string NoAttributeText(py::handle self, const std::string& name) {
  std::string text = "'" + std::string(py::str(py::type::of(self).attr("__name__"))) +
                     "' object has no attribute '" + name + "'";
  std::vector<std::string_view> names = {"vCard", "vCardFileName", "vCardClean", "get", "put"};
  for (const PropertyInfo& p : Properties()) names.emplace_back(p.name);
  if (const std::string near = bridge::Nearest(name, names); !near.empty()) {
    text += "; did you mean " + near + "?";
  }
  return text;
}

}  // namespace

PYBIND11_MODULE(qv_vcard, m) {
  m.doc() = kModuleDoc;

  py::exec(kErrorSource, m.attr("__dict__"));
  g_error = m.attr("Error");

  py::class_<qvVCard> cls(m, "qvVCard",
                          R"doc(One person's contact data and the vCard 3.0 card made from it.

qvVCard(**properties) -- a new card with every text '' and every flag and
integer 0, then the given properties assigned as by attribute assignment.

The properties are the attributes below. Reads of some of them return the
form the card needs rather than the text assigned (see each one). vCard and
vCardFileName are read-only results; vCardClean() resets the card.)doc");
  g_class = cls;

  cls.def(py::init([](const py::kwargs& properties) {
            qvVCard card;
            for (const auto& [key, value] : properties) {
              const std::string name = py::str(key);
              const PropertyInfo* p = FindProperty(std::string_view(name));
              if (p == nullptr || name != p->name) {
                MemberInfo member;
                if (Succeeded(FindMember(std::string_view(name), member)) && name == member.name) {
                  throw py::attribute_error(name + " is read-only");
                }
                throw py::type_error("qvVCard() got an unexpected keyword argument '" + name + "'");
              }
              Write(card, *p, value);
            }
            return card;
          }),
          "A new card, with the given properties assigned.");

  for (const PropertyInfo& p : Properties()) {
    const PropertyInfo* row = &p;
    const std::string doc = PropertyDoc(p);
    cls.def_property(p.name, py::cpp_function([row](py::handle self) {
                       return Read(CardOf(self), row->name, row->dispid);
                     }),
                     py::cpp_function([row](py::handle self, py::handle value) {
                       Write(CardOf(self), *row, value);
                     }),
                     doc.c_str());
  }

  cls.def_property_readonly(
      "vCard", [](py::handle self) { return Read(CardOf(self), "vCard", kDispIdVCard); },
      "The complete card (str, read-only): lines joined by CR LF, from BEGIN:VCARD to "
      "END:VCARD. Every read carries a fresh REV time stamp and UID. Raises Error when "
      "the card cannot be made (status 0x800A0006 when the geographic position overflows).");
  cls.def_property_readonly(
      "vCardFileName",
      [](py::handle self) { return Read(CardOf(self), "vCardFileName", kDispIdVCardFileName); },
      "A file name for the card (str, read-only): the formatted name, trimmed and cleaned "
      "of characters that file systems refuse, followed by '.vcf'.");
  cls.def(
      "vCardClean",
      [](py::handle self) {
        const Status s = CardOf(self).CallById(kDispIdVCardClean);
        if (Failed(s)) RaiseStatus(s, "vCardClean");
      },
      "Resets every property to '' or 0, except TimeZone, which keeps its value.");

  cls.def(
      "get",
      [](py::handle self, py::object key) -> py::object {
        const qvVCard& card = CardOf(self);
        const MemberInfo member = Resolve(key);
        return Read(card, member.name, member.dispid);
      },
      py::arg("name_or_dispid"),
      "Reads a property, vCard or vCardFileName, named case-insensitively or by its "
      "dispatch identifier. LookupError for an unknown name; Error for an unknown "
      "identifier or vCardClean.");
  cls.def(
      "put",
      [](py::handle self, py::object key, py::object value) {
        qvVCard& card = CardOf(self);
        const MemberInfo member = Resolve(key);
        if (member.property == nullptr) {
          // vCard, vCardFileName and vCardClean take no value: refused as
          // any adapter refuses them.
          MemberInfo checked;
          RaiseStatus(bridge::CheckAccess(member.dispid, bridge::Access::PutText, checked),
                      member.name);
        }
        Write(card, *member.property, value);
      },
      py::arg("name_or_dispid"), py::arg("value"),
      "Assigns a property named case-insensitively or by its dispatch identifier. "
      "LookupError for an unknown name; Error (status 0x80020003) for vCard, "
      "vCardFileName, vCardClean and unknown identifiers; TypeError and OverflowError "
      "for a value the property cannot hold, storing nothing.");
  // A misspelt attribute names the property meant. Reads come here only
  // when the name is no attribute; assignments go through the usual way
  // first.
  cls.def("__getattr__", [](py::handle self, const std::string& name) -> py::object {
    throw py::attribute_error(NoAttributeText(self, name));
  });
  cls.def("__setattr__", [](py::handle self, py::handle name, py::handle value) {
    if (PyObject_GenericSetAttr(self.ptr(), name.ptr(), value.ptr()) == 0) return;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
    PyErr_Clear();
    throw py::attribute_error(NoAttributeText(self, py::str(name)));
  });
  cls.def("__repr__", [](py::handle self) {
    return "<qv_vcard.qvVCard FormatedName=" +
           std::string(
               py::repr(Read(CardOf(self), "FormatedName", Info(Property::FormatedName).dispid))) +
           ">";
  });

  m.def(
      "dispid",
      [](py::object name) {
        if (!PyUnicode_Check(name.ptr())) {
          throw py::type_error("dispid() takes a member name (str), not " + TypeName(name));
        }
        return Resolve(name).dispid;
      },
      py::arg("name"),
      "The dispatch identifier of a member of qvVCard, its name compared ignoring ASCII "
      "case. LookupError when no member has the name.");

  py::tuple rows(Properties().size());
  for (std::size_t i = 0; i < Properties().size(); ++i) {
    const PropertyInfo& p = Properties()[i];
    rows[i] = py::make_tuple(p.name, p.dispid, KindName(p.kind));
  }
  m.attr("PROPERTIES") = rows;
}
