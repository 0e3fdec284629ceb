"""The Python module qv_vcard: attributes, late-bound access, errors, texts
and the card corpus."""
import json
import os
import pickle
import re

import pytest

import qv_vcard


def signed(status):
    """A status as the library gives it on every surface: signed 32 bits."""
    return status - (1 << 32) if status >= 1 << 31 else status

CORPUS = os.environ.get(
    "QV_VCARD_CORPUS",
    os.path.join(os.path.dirname(__file__), "..", "corpus", "cards.json"),
)

# ---------------------------------------------------------------------------
# The interface written out from its layout: (name, kind, read rule, line
# prefix) in interface order, identifiers descending from 0x6803020D.

S, SEP, FN, LINE, LAT, LON, FLAG, INT = "S", ";", "F", "L", "N", "W", "flag", "int16"


def _members():
    rows = [
        ("NameFamily", SEP), ("NameGiven", SEP), ("NameAdditional", SEP),
        ("NamePrefix", SEP), ("NameSuffix", S), ("FormatedName", FN),
        ("SortString", LINE, "SORT-STRING:"), ("Nickname", LINE, "NICKNAME:"),
        ("Birthdate", S), ("OrgName", S), ("OrgUnit", S),
        ("Title", LINE, "TITLE:"), ("Role", LINE, "ROLE:"),
    ]
    for slot in range(1, 4):
        rows += [("Adr%d_%s" % (slot, f), SEP) for f in
                 ("PostOffice", "Extended", "Street", "Locality", "Region", "PostalCode")]
        rows.append(("Adr%d_Country" % slot, S))
        rows += [("Adr%d_%s" % (slot, f), FLAG) for f in
                 ("Dom", "Intl", "Postal", "Parcel", "Home", "Work")]
    for slot in range(1, 5):
        rows.append(("Tel%d_Number" % slot, S))
        rows += [("Tel%d_%s" % (slot, f), FLAG) for f in
                 ("Pref", "Work", "Home", "Voice", "Fax", "Msg", "Cell", "Pager",
                  "BBS", "Modem", "Car", "Isdn", "Video")]
    for slot in range(1, 4):
        rows += [("Email%d_Value" % slot, S), ("Email%d_Type" % slot, S),
                 ("Email%d_Pref" % slot, FLAG)]
    rows += [("GeoLat", LAT), ("GeoLatDeg", INT), ("GeoLatMin", INT), ("GeoLatSec", INT),
             ("GeoLon", LON), ("GeoLonDeg", INT), ("GeoLonMin", INT), ("GeoLonSec", INT),
             ("Note", LINE, "NOTE:"), ("Url", LINE, "URL:"),
             ("Categorie", LINE, "CATEGORIES:"), ("TimeZone", LINE, "TZ:")]
    return [(r[0], r[1], r[2] if len(r) > 2 else None, 0x6803020D - i)
            for i, r in enumerate(rows)]


MEMBERS = _members()
TEXTS = [m for m in MEMBERS if m[1] not in (FLAG, INT)]
VALUES = [m for m in MEMBERS if m[1] in (FLAG, INT)]


def expected_read(rule, prefix, value):
    if rule == SEP:
        return value + ";"
    if rule == LINE:
        return prefix + value + "\r\n" if value else ""
    if rule in (LAT, LON):
        return {LAT: "-+", LON: "+-"}[rule][value == rule]
    return value


# ---------------------------------------------------------------------------
# Identifiers


def test_identifier_table():
    assert len(MEMBERS) == 129
    assert [(p[0], p[1]) for p in qv_vcard.PROPERTIES] == [
        (name, dispid) for name, _, _, dispid in MEMBERS]
    kinds = {name: ("text" if rule not in (FLAG, INT) else rule) for name, rule, _, _ in MEMBERS}
    assert {p[0]: p[2] for p in qv_vcard.PROPERTIES} == kinds
    for name, _, _, dispid in MEMBERS:
        assert qv_vcard.dispid(name) == dispid
        assert qv_vcard.dispid(name.lower()) == dispid
        assert qv_vcard.dispid(name.swapcase()) == dispid
        assert "0x%08X" % dispid in getattr(qv_vcard.qvVCard, name).__doc__
    assert qv_vcard.dispid("NameFamily") == 0x6803020D
    assert qv_vcard.dispid("TimeZone") == 0x6803018D
    assert qv_vcard.dispid("VCARD") == 0x6803021E
    assert qv_vcard.dispid("vCardFileName") == 0x6803020E
    assert qv_vcard.dispid("vcardclean") == 0x6003021F


@pytest.mark.parametrize("name", ["", "Name", " NameFamily", "NameFamily\0", "Tel5_Number",
                                  "Näme", "\ud800"])
def test_unknown_names_raise_lookup_error(name):
    card = qv_vcard.qvVCard()
    with pytest.raises(LookupError):
        qv_vcard.dispid(name)
    with pytest.raises(LookupError):
        card.get(name)
    with pytest.raises(LookupError):
        card.put(name, "x")


def test_names_are_str_and_identifiers_int():
    card = qv_vcard.qvVCard()
    for bad in (b"NameFamily", 1.5, None):
        with pytest.raises(TypeError):
            card.get(bad)
    with pytest.raises(TypeError):
        qv_vcard.dispid(0x6803020D)


# ---------------------------------------------------------------------------
# Every property, by attribute, by name and by identifier


def test_every_property_by_attribute():
    card = qv_vcard.qvVCard()
    for i, (name, rule, _, _) in enumerate(MEMBERS):
        setattr(card, name, "v%d ü 😀 %s" % (i, name) if rule not in (FLAG, INT) else i * 257 - 20000)
    # read only after all are set, so a member wired to another's field shows
    for i, (name, rule, prefix, _) in enumerate(MEMBERS):
        got = getattr(card, name)
        if rule in (FLAG, INT):
            assert got == i * 257 - 20000 and type(got) is int, name
        else:
            assert got == expected_read(rule, prefix, "v%d ü 😀 %s" % (i, name)), name
    card.GeoLat, card.GeoLon = "N", "W"
    assert (card.GeoLat, card.GeoLon) == ("+", "-")


@pytest.mark.parametrize("key", ["name", "lower", "dispid"])
def test_every_property_late_bound(key):
    card = qv_vcard.qvVCard()

    def k(name, dispid):
        return {"name": name, "lower": name.lower(), "dispid": dispid}[key]

    for i, (name, rule, _, dispid) in enumerate(MEMBERS):
        card.put(k(name, dispid), "t%d" % i if rule not in (FLAG, INT) else -i)
    for i, (name, rule, prefix, dispid) in enumerate(MEMBERS):
        want = -i if rule in (FLAG, INT) else expected_read(rule, prefix, "t%d" % i)
        assert card.get(k(name, dispid)) == want == getattr(card, name), name
    assert card.get(k("vCardFileName", 0x6803020E)) == card.vCardFileName
    assert card.get(k("vCard", 0x6803021E)).startswith("BEGIN:VCARD\r\n")


def test_flags_store_automation_booleans_and_any_int():
    card = qv_vcard.qvVCard()
    card.Tel1_Cell = True
    card.Tel2_Fax = False
    card.Tel3_Fax = 1
    card.put("adr2_home", True)
    assert (card.Tel1_Cell, card.Tel2_Fax, card.Tel3_Fax, card.Adr2_Home) == (-1, 0, 1, -1)
    card.GeoLatMin, card.GeoLonSec = -32768, 32767
    assert (card.GeoLatMin, card.GeoLonSec) == (-32768, 32767)

    class Index:
        def __index__(self):
            return 75

    card.GeoLatSec = Index()
    assert card.GeoLatSec == 75


@pytest.mark.parametrize("name", ["Tel4_Video", "GeoLonDeg"])
@pytest.mark.parametrize("value", [32768, -32769, 2**15 * 3, -(2**70), 2**64])
def test_values_outside_16_bits_raise_overflow_error(name, value):
    card = qv_vcard.qvVCard()
    setattr(card, name, 5)
    with pytest.raises(OverflowError):
        setattr(card, name, value)
    with pytest.raises(OverflowError):
        card.put(name, value)
    with pytest.raises(OverflowError):
        qv_vcard.qvVCard(**{name: value})
    assert getattr(card, name) == 5


@pytest.mark.parametrize("name,value", [
    ("NameFamily", 1), ("NameFamily", None), ("NameFamily", b"Doe"), ("Note", True),
    ("Tel1_Cell", "1"), ("Tel1_Cell", 1.0), ("GeoLatDeg", None), ("GeoLatDeg", 12.5),
])
def test_values_of_the_wrong_type_raise_type_error(name, value):
    card = qv_vcard.qvVCard()
    before = getattr(card, name)
    with pytest.raises(TypeError):
        setattr(card, name, value)
    with pytest.raises(TypeError):
        card.put(qv_vcard.dispid(name), value)
    assert getattr(card, name) == before


def test_results_are_read_only():
    card = qv_vcard.qvVCard(NameFamily="Doe")
    for name in ("vCard", "vCardFileName"):
        with pytest.raises(AttributeError):
            setattr(card, name, "x")
        for key in (name, name.upper(), qv_vcard.dispid(name)):
            with pytest.raises(qv_vcard.Error) as err:
                card.put(key, "x")
            assert err.value.status == signed(0x80020003)
        with pytest.raises(AttributeError):
            qv_vcard.qvVCard(**{name: "x"})
    assert card.vCardFileName == "Doe.vcf"


def test_methods_and_unknown_identifiers_are_not_properties():
    card = qv_vcard.qvVCard()
    for key in ("vCardClean", 0x6003021F, 0, -1, 0x6803018C, 0x6803020F, 2**31, 2**40):
        with pytest.raises(qv_vcard.Error) as err:
            card.get(key)
        assert err.value.status == signed(0x80020003)
        with pytest.raises(qv_vcard.Error):
            card.put(key, 1)
    with pytest.raises(AttributeError):
        card.NoSuchProperty = 1
    # A misspelt name, read or assigned, names the property meant.
    for act in (lambda: card.NameGivn, lambda: setattr(card, "namegiven", "x")):
        with pytest.raises(AttributeError, match="did you mean NameGiven"):
            act()
    card.NameGiven = "Ann"  # assignments of properties go their usual way
    assert card.NameGiven == "Ann;"
    with pytest.raises(TypeError):
        qv_vcard.qvVCard(namefamily="Doe")  # keywords are exact names


def test_clean_keeps_time_zone_only():
    card = qv_vcard.qvVCard(NameGiven="Ann", TimeZone="+01:00", Email3_Pref=True, GeoLatDeg=7)
    other = qv_vcard.qvVCard()
    assert other.NameGiven == ";"
    assert card.vCardClean() is None
    assert (card.NameGiven, card.Email3_Pref, card.GeoLatDeg) == (";", 0, 0)
    assert card.TimeZone == "TZ:+01:00\r\n"


# ---------------------------------------------------------------------------
# Failures


@pytest.mark.parametrize("axis", ["Lat", "Lon"])
def test_geo_overflow_raises_error_with_signed_status(axis):
    card = qv_vcard.qvVCard(NameFamily="Doe")
    setattr(card, "Geo%sDeg" % axis, 32767)
    setattr(card, "Geo%sMin" % axis, 1)
    with pytest.raises(qv_vcard.Error) as err:
        card.vCard
    assert err.value.status == signed(0x800A0006)
    assert "0x800A0006" in str(err.value)
    with pytest.raises(qv_vcard.Error):
        card.get("vcard")
    assert card.vCardFileName == "Doe.vcf"  # the file name does not need the position
    copy = pickle.loads(pickle.dumps(err.value))
    assert (copy.status, str(copy)) == (err.value.status, str(err.value))
    assert issubclass(qv_vcard.Error, Exception)


# ---------------------------------------------------------------------------
# Texts


@pytest.mark.parametrize("text", [
    "", " ", "plain", "Müller Zoë", "日本語", "😀", "a😀b\U0010FFFF", "\ufeffleading BOM",
    "a\0b", "\r\n;,\\", "\ud800", "\udfff", "x\udc00\ud800y", "\ud83d", "😀\ude00",
])
def test_texts_round_trip(text):
    card = qv_vcard.qvVCard()
    card.NameSuffix = text
    assert card.NameSuffix == text
    card.put("Email2_Type", text)
    assert card.get(qv_vcard.dispid("Email2_Type")) == text
    card.Adr3_Street = text
    assert card.Adr3_Street == text + ";"


def test_surrogate_halves_that_form_a_pair_read_back_joined():
    # Stored as UTF-16, a high and a low surrogate next to each other are one
    # character outside the Basic Multilingual Plane.
    card = qv_vcard.qvVCard(Note="\ud83d" + "\ude00")
    assert card.Note == "NOTE:😀\r\n"


def test_constructor_and_repr():
    card = qv_vcard.qvVCard(NameFamily="Doe", NameGiven="John", Tel1_Cell=True)
    assert (card.NameFamily, card.FormatedName, card.Tel1_Cell) == ("Doe;", "Doe John  ", -1)
    assert repr(card) == "<qv_vcard.qvVCard FormatedName='Doe John  '>"
    assert "vCardClean" in qv_vcard.qvVCard.__doc__ and qv_vcard.qvVCard.vCard.__doc__


class _Subclass(qv_vcard.qvVCard):
    pass


def test_every_way_into_the_class_is_safe():
    # Made without __init__: every member refuses instead of reading storage
    # that was never a card.
    bare = qv_vcard.qvVCard.__new__(qv_vcard.qvVCard)
    for use in (lambda: bare.vCard, lambda: setattr(bare, "NameFamily", "x"), bare.vCardClean,
                lambda: bare.get("Note"), lambda: bare.put("Note", "x"), lambda: repr(bare),
                lambda: qv_vcard.qvVCard.vCard.fget(42)):
        with pytest.raises(TypeError):
            use()
    del bare
    card = qv_vcard.qvVCard(NameFamily="Doe")
    card.__init__(NameFamily="Again")  # a second __init__ leaves the card as it was
    assert card.NameFamily == "Doe;"
    sub = _Subclass(NameFamily="Sub")
    assert (sub.NameFamily, sub.vCardFileName) == ("Sub;", "Sub.vcf")
    with pytest.raises(TypeError):
        pickle.dumps(card)

# ---------------------------------------------------------------------------
# The card corpus, assigned by attribute and by dispatch identifier

with open(CORPUS, encoding="utf-8") as _f:
    CASES = json.load(_f)["cases"]

STAMP = re.compile(r"REV:\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")
GUID = re.compile(r"UID:[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")


def test_corpus_is_not_empty():
    assert len(CASES) >= 8


@pytest.mark.parametrize("by", ["attribute", "dispid"])
@pytest.mark.parametrize("case", CASES, ids=[c["name"] for c in CASES])
def test_corpus(case, by):
    card = qv_vcard.qvVCard()
    for name, value in case["set"]:
        if by == "attribute":
            setattr(card, name, value)
        else:
            card.put(qv_vcard.dispid(name), value)
    if "status" in case:
        with pytest.raises(qv_vcard.Error) as err:
            card.vCard
        assert err.value.status == signed(int(case["status"], 16))
    else:
        lines = card.vCard.split("\r\n")
        assert len(lines) == len(case["card"])
        for got, want in zip(lines, case["card"]):
            pattern = {"REV:*": STAMP, "UID:*": GUID}.get(want)
            assert pattern.fullmatch(got) if pattern else got == want
    assert card.vCardFileName == case["vCardFileName"]
