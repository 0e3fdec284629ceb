#!/usr/bin/env python3
"""Reads the library's cards back with a real vCard reader, vobject.

Seeded random contacts go through the card maker (a small program around the
library) and vobject must read every card back with the same name
components, formatted name, organisation, title, role, note, URL, addresses
with their types, telephone numbers with their types, e-mail addresses with
their types, GEO numbers and categories. Values hold no ";", "," or
backslash, so there is exactly one right reading; they do hold non-ASCII
text (outside the Basic Multilingual Plane too), blanks at either end, tabs
and line breaks of every kind. Any disagreement fails the test.

What a reader may legitimately do differently is listed in QUIRKS below and
allowed for in exactly one place each.

Usage: vobject_oracle.py MAKER [--count N] [--seed S]
"""
import argparse
import json
import random
import re
import struct
import subprocess
import sys

import vobject

# Reader quirks, each allowed for where noted:
#   ORG_TRAILING_EMPTY: vobject drops empty components at the end of a
#     structured ORG value: "ORG:Acme;" reads as ["Acme"], not ["Acme", ""].
#     The card is right (RFC 2426 writes the unit position even when empty);
#     expected_org() drops trailing empty parts before comparing.
QUIRKS = ("ORG_TRAILING_EMPTY",)

PLAIN = ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
         " .-'!?()/:@&#+_=~*%$\"<>|{}[]^`")
NON_ASCII = ["\u00e9", "\u00fc", "\u00df", "\u00f1", "\u00c5", "\u03a9", "\u0416", "\u6771\u4eac",
             "\ud55c", "\U0001F642", "\U0001D11E", "e\u0301", "\u00a0", "\u200b", "\u2028", "\u20ac"]
BREAKS = ["\r\n", "\n", "\r"]


def text(rng, breaks=True, max_len=16, empty=0.15):
    if rng.random() < empty:
        return ""
    parts = []
    for _ in range(rng.randint(1, max_len)):
        r = rng.random()
        if r < 0.70:
            parts.append(rng.choice(PLAIN))
        elif r < 0.85:
            parts.append(rng.choice(NON_ASCII))
        elif r < 0.92:
            parts.append("\t")
        elif breaks:
            parts.append(rng.choice(BREAKS))
    return "".join(parts)


def word(rng, alphabet="abcdefghijklmnopqrstuvwxyz0123456789"):
    return "".join(rng.choice(alphabet) for _ in range(rng.randint(1, 8)))


ADR_PARTS = ["PostOffice", "Extended", "Street", "Locality", "Region", "PostalCode", "Country"]
ADR_TYPES = ["Dom", "Intl", "Postal", "Parcel", "Home", "Work"]
TEL_TYPES = ["Pref", "Work", "Home", "Voice", "Fax", "Msg", "Cell", "Pager", "BBS", "Modem", "Car",
             "Isdn", "Video"]


def flag(rng):
    return rng.choice([-1, -1, 1, 7])


def contact(rng):
    c = {}
    for part in ["NameFamily", "NameGiven", "NameAdditional", "NamePrefix", "NameSuffix"]:
        c[part] = text(rng)
    if rng.random() < 0.5:
        c["FormatedName"] = text(rng, empty=0.0)
    for field in ["OrgName", "OrgUnit", "Title", "Role", "Note"]:
        c[field] = text(rng, max_len=40 if field == "Note" else 16, empty=0.3)
    for slot in (1, 2, 3):
        for part in ADR_PARTS:
            c["Adr%d_%s" % (slot, part)] = text(rng, empty=0.4)
        for t in ADR_TYPES:
            if rng.random() < 0.25:
                c["Adr%d_%s" % (slot, t)] = flag(rng)
    for slot in (1, 2, 3, 4):
        c["Tel%d_Number" % slot] = rng.choice(["+43 1 234567", "(555) 010-0199 ext. 7",
                                                "+1-555-0100", "0800 \u00e9t\u00e9", ""])
        for t in TEL_TYPES:
            if rng.random() < 0.15:
                c["Tel%d_%s" % (slot, t)] = flag(rng)
    for slot in (1, 2, 3):
        if rng.random() < 0.6:
            c["Email%d_Value" % slot] = word(rng) + "@" + word(rng) + ".example"
            c["Email%d_Type" % slot] = rng.choice(["", "INTERNET", "x400", "home", "Work",
                                                   "x-\u00fcn\u00efcode"])
            if rng.random() < 0.3:
                c["Email%d_Pref" % slot] = flag(rng)
    if rng.random() < 0.7:
        c["Categorie"] = ",".join(text(rng, breaks=False, max_len=8, empty=0.0).strip() or "x"
                                  for _ in range(rng.randint(1, 4)))
    if rng.random() < 0.8:
        c["GeoLat"] = rng.choice(["N", "S", "", "n", "North"])
        c["GeoLon"] = rng.choice(["W", "E", "", "w"])
        for axis in ("Lat", "Lon"):
            if rng.random() < 0.85:
                c["Geo%sDeg" % axis] = rng.randint(-180, 180)
                c["Geo%sMin" % axis] = rng.randint(-90, 120)
                c["Geo%sSec" % axis] = rng.randint(-100, 3700)
    if rng.random() < 0.5:
        c["Url"] = "https://" + word(rng) + ".example/" + word(rng) + "?q=" + word(rng)
    # Fields the checks do not look at, so cards carry every kind of line.
    c["Nickname"] = text(rng, breaks=False, empty=0.5)
    c["Birthdate"] = rng.choice(["", "1970-01-01", "2000-02-29"])
    c["TimeZone"] = rng.choice(["", "+01:00", "-05:00"])
    return c


# ---- What the card should say, derived from the contact alone.

def unbroken(s):
    """A value as read back: every line break is one LF."""
    return re.sub(r"\r\n|\r|\n", "\n", s)


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def geo_axis(c, axis, hemisphere):
    """(present, the number the GEO line should carry) for one axis."""
    deg, mn, sec = (c.get("Geo%s%s" % (axis, k), 0) for k in ("Deg", "Min", "Sec"))
    value = f32(mn / 60.0 + deg + sec / 3600.0)
    present = deg + mn + sec != 0
    if not present or abs(value) < 1e-4:  # absent, or the residue of an exact zero
        return present, 0.0
    return present, hemisphere * value


def expected_org(c):
    parts = [unbroken(c["OrgName"]), unbroken(c["OrgUnit"])]
    while parts and parts[-1] == "":  # ORG_TRAILING_EMPTY
        parts.pop()
    return parts


def expected_fn(c):
    if c.get("FormatedName"):
        return unbroken(c["FormatedName"])
    return unbroken(" ".join([c["NameFamily"], c["NameGiven"], c["NameAdditional"],
                              c["NameSuffix"]]))


def lines_of(card, name):
    return card.contents.get(name, [])


def check(c, card_text):
    """The disagreements between the contact and vobject's reading."""
    problems = []

    def same(what, got, want):
        if got != want:
            problems.append("%s: read %r, expected %r" % (what, got, want))

    cards = list(vobject.readComponents(card_text))
    if len(cards) != 1:
        return ["%d components read" % len(cards)]
    v = cards[0]
    same("name", v.name, "VCARD")
    same("version", v.version.value, "3.0")
    n = v.n.value
    same("N", [n.family, n.given, n.additional, n.prefix, n.suffix],
         [unbroken(c[k]) for k in ("NameFamily", "NameGiven", "NameAdditional", "NamePrefix",
                                   "NameSuffix")])
    same("FN", v.fn.value, expected_fn(c))

    for field, line in (("Title", "title"), ("Role", "role"), ("Note", "note"), ("Url", "url")):
        want = [unbroken(c[field])] if c.get(field) else []
        same(line.upper(), [x.value for x in lines_of(v, line)], want)
    orgs = lines_of(v, "org")
    if c["OrgName"] or c["OrgUnit"]:
        same("ORG", [o.value for o in orgs], [expected_org(c)])
    else:
        same("ORG lines", len(orgs), 0)

    want_adr = []
    for slot in (1, 2, 3):
        types = [t.upper() for t in ADR_TYPES if c.get("Adr%d_%s" % (slot, t))]
        if types:
            want_adr.append(([unbroken(c["Adr%d_%s" % (slot, p)]) for p in ADR_PARTS], types))
    got_adr = []
    for a in lines_of(v, "adr"):
        x = a.value
        got_adr.append(([x.box, x.extended, x.street, x.city, x.region, x.code, x.country],
                        a.params.get("TYPE", [])))
    same("ADR", got_adr, want_adr)

    want_tel = []
    for slot in (1, 2, 3, 4):
        types = [t.upper() for t in TEL_TYPES if c.get("Tel%d_%s" % (slot, t))]
        if types:
            want_tel.append((c["Tel%d_Number" % slot], types))
    same("TEL", [(t.value, t.params.get("TYPE", [])) for t in lines_of(v, "tel")], want_tel)

    want_email = []
    for slot in (1, 2, 3):
        if c.get("Email%d_Value" % slot):
            types = [c["Email%d_Type" % slot] or "INTERNET"]
            if c.get("Email%d_Pref" % slot):
                types.append("PREF")
            want_email.append((c["Email%d_Value" % slot], types))
    same("EMAIL", [(e.value, e.params.get("TYPE", [])) for e in lines_of(v, "email")],
         want_email)

    cats = lines_of(v, "categories")
    same("CATEGORIES", [x.value for x in cats],
         [c["Categorie"].split(",")] if c.get("Categorie") else [])

    lat_present, lat = geo_axis(c, "Lat", 1.0 if c.get("GeoLat") == "N" else -1.0)
    lon_present, lon = geo_axis(c, "Lon", -1.0 if c.get("GeoLon") == "W" else 1.0)
    geos = lines_of(v, "geo")
    if not lat_present and not lon_present:
        same("GEO lines", len(geos), 0)
    elif len(geos) != 1:
        problems.append("GEO: %d lines" % len(geos))
    else:
        numbers = geos[0].value.split(";")
        ok = len(numbers) == 2 and all(re.fullmatch(r"[+-][0-9]+(\.[0-9]+)?", x) for x in numbers)
        if not ok:
            problems.append("GEO: not two signed decimals: %r" % geos[0].value)
        else:
            for got, want in zip(map(float, numbers), (lat, lon)):
                if abs(got - want) > 5.0000001e-7 * abs(want):
                    problems.append("GEO: read %r, expected %r;%r" % (geos[0].value, lat, lon))
                    break
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("maker")
    ap.add_argument("--count", type=int, default=500)
    ap.add_argument("--seed", type=int, default=20261207)
    args = ap.parse_args()

    rng = random.Random(args.seed)
    contacts = [contact(rng) for _ in range(args.count)]
    stdin = "".join(json.dumps(c) + "\n" for c in contacts)
    run = subprocess.run([args.maker], input=stdin.encode(), capture_output=True, check=True)
    # split at LF only: str.splitlines() would also split at U+2028 inside a text
    results = [json.loads(line) for line in run.stdout.decode().split("\n") if line]
    if len(results) != len(contacts):
        sys.exit("the maker answered %d of %d contacts" % (len(results), len(contacts)))

    failed = 0
    for i, (c, r) in enumerate(zip(contacts, results)):
        try:
            problems = ["status %#x" % (r["status"] & 0xFFFFFFFF)] if r["status"] else check(c, r["card"])
        except Exception as e:  # a reader that cannot read the card disagrees with it
            problems = ["vobject failed: %s: %s" % (type(e).__name__, e)]
        if problems:
            failed += 1
            if failed <= 10:
                print("card %d disagrees:\n  %s\n  card: %r\n" % (i, "\n  ".join(problems), r["card"]))
    print("vobject read %d cards: %d disagreements" % (len(contacts), failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
