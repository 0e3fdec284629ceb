#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz targets into fuzz/corpus/.

The seeds start the fuzzer at the cases that matter (line breaks in every
text, all type flags, the geographic limits, failing sources, hostile C
calls, quoted CSV and odd JSON) so it need not find them by chance. Inputs
the fuzzer adds later are kept next to them, minimised with -merge=1.

Usage: fuzz/make_seeds.py   (rewrites only the files named seed-*)
"""
import json
import pathlib
import re
import struct

HERE = pathlib.Path(__file__).resolve().parent
TABLE = HERE.parent / "src" / "card" / "property_table.inc"


def properties():
    """(name, kind, dispid) in interface order: descending identifier."""
    rows = re.findall(r"^QV_VCARD_PROPERTY\((\w+),\s*(\w+),\s*(0x[0-9A-Fa-f]+)", TABLE.read_text(), re.M)
    rows = [(n, k, int(d, 16)) for n, k, d in rows]
    return sorted(rows, key=lambda r: -r[2])


PROPS = properties()
INDEX = {name: i for i, (name, _, _) in enumerate(PROPS)}
DISPID = {name: d for name, _, d in PROPS}
KIND = {name: k for name, k, _ in PROPS}


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


# ---- card_ops: one operation byte, then its arguments (card_ops_fuzz.cpp)

def text_arg(text):
    units = text.encode("utf-16-le", "surrogatepass")
    n = len(units) // 2
    assert n < 64 * 16
    if n < 64:
        return bytes([0x80 | n]) + units
    return bytes([0xC0 | (n >> 4), n & 0x0F]) + units


def put_text(name, text):
    return bytes([0, INDEX[name]]) + text_arg(text)


def put_value(name, v):
    return bytes([2, INDEX[name], 0]) + u16(v)


def put_by_id(dispid, value):
    if isinstance(value, int):
        return bytes([3, 255]) + u32(dispid) + bytes([1, 0]) + u16(value)
    return bytes([3, 255]) + u32(dispid) + bytes([0]) + text_arg(value)


CLEAN = bytes([4, 1])
CARD = bytes([7])
FILE_NAME = bytes([9])
COPY = bytes([11])


def read(name):
    return bytes([5, INDEX[name]])


def read_by_id(dispid):
    return bytes([6, 255]) + u32(dispid) + bytes([0])


def clock(y, mo, d, h, mi, s):
    return bytes([10, 0]) + u16(y) + bytes([mo - 1, d - 1, h, mi, s])


def fail(source, status):
    return bytes([10, 129 if source == "clock" else 128, 0]) + u32(status)


def heal(source):
    return bytes([10, 129 if source == "clock" else 128, 1])


NASTY = "a\r\nb\rc\nd;e,f\\g:h \u00e9\u20ac\u6771\ud83d\ude00\udc00\ud800\t\x00z"


def card_ops_seeds():
    texts = [n for n, k, _ in PROPS if k == "Text"]
    flags = [n for n, k, _ in PROPS if k == "Flag"]
    seeds = {}
    seeds["empty"] = b""
    seeds["name"] = (put_text("NameFamily", "Doe") + put_text("NameGiven", "John") +
                     put_text("NamePrefix", "Dr.") + CARD + FILE_NAME +
                     put_text("FormatedName", " AC/DC: Live? ") + FILE_NAME + CARD)
    seeds["every-text"] = b"".join(put_text(n, n + NASTY) for n in texts) + CARD + FILE_NAME
    seeds["every-flag"] = (b"".join(put_value(n, -1 if i % 2 else 1) for i, n in enumerate(flags)) +
                           put_text("Tel2_Number", "+1 555") + put_text("Email1_Value", "a@b") +
                           put_text("Email2_Type", "x400") + put_text("Email2_Value", "c@d") + CARD)
    seeds["geo-examples"] = (put_text("GeoLat", "N") + put_value("GeoLatDeg", 48) +
                             put_value("GeoLatMin", 12) + put_value("GeoLatSec", 30) +
                             put_value("GeoLonDeg", 16) + put_value("GeoLonMin", 22) +
                             put_value("GeoLonSec", 23) + CARD + put_text("GeoLon", "W") +
                             put_value("GeoLatDeg", -12) + put_value("GeoLatMin", 30) +
                             put_value("GeoLatSec", 0) + CARD + put_value("GeoLonDeg", -3) +
                             put_value("GeoLonMin", 121) + put_value("GeoLonSec", 3540) + CARD +
                             put_value("GeoLatDeg", 1) + put_value("GeoLatMin", -60) + CARD +
                             put_value("GeoLatDeg", 0) + put_value("GeoLatMin", 0) + CARD)
    seeds["geo-limits"] = (put_value("GeoLatDeg", 32767) + put_value("GeoLatMin", 0) +
                           put_value("GeoLatSec", 0) + CARD + put_value("GeoLatMin", 1) + CARD +
                           put_value("GeoLatMin", -1) + put_value("GeoLatSec", 2) + CARD +
                           put_value("GeoLonDeg", -32768) + put_value("GeoLonSec", -1) + CARD +
                           put_value("GeoLonSec", 32767) + CARD + read("GeoLat") + read("GeoLon"))
    seeds["reset"] = (put_text("TimeZone", "+01:00") + put_text("Note", "x") +
                      put_value("Adr1_Home", -1) + CLEAN + CARD + bytes([4, 0, 255]) +
                      u32(0x6003021F) + CARD + read("TimeZone"))
    seeds["sources"] = (clock(2026, 12, 31, 23, 59, 59) + CARD + clock(1999, 2, 1, 9, 5, 3) +
                        fail("guid", 0x80004005) + CARD + fail("clock", 0x8007000E) + CARD +
                        put_value("GeoLatDeg", 32767) + put_value("GeoLatMin", 32767) + CARD +
                        heal("clock") + heal("guid") + put_value("GeoLatMin", 0) + CARD)
    seeds["by-identifier"] = (put_by_id(0x6803020D, "Doe") + put_by_id(0x6803020D, 5) +
                              put_by_id(0x6803021E, "card") + put_by_id(0x6803020E, "x.vcf") +
                              put_by_id(0x6003021F, 1) + put_by_id(0x6803018C, "below") +
                              put_by_id(0x7FFFFFFF, 1) + put_by_id(-0x80000000, "far") +
                              put_by_id(DISPID["Tel1_Cell"], -1) + read_by_id(0x6803021E) +
                              read_by_id(0x6803020E) + read_by_id(0x6003021F) +
                              read_by_id(0) + read_by_id(DISPID["NameFamily"]) + COPY + CARD)
    return seeds


# ---- capi: see capi_fuzz.cpp

def c_card(slot=0):
    return bytes([2 | slot])


def c_put8(name, data, slot=0, mode=2):
    return bytes([0]) + c_card(slot) + bytes([INDEX[name], mode, len(data)]) + data


def c_put16(name, units, slot=0, mode=2):
    body = b"".join(bytes([8]) + u16(u) for u in units)  # 8 to 15: any unit follows
    return bytes([1]) + c_card(slot) + bytes([INDEX[name], mode, len(units)]) + body


def c_read(name, slot=0, mode=2):
    return bytes([2]) + c_card(slot) + bytes([INDEX[name] if isinstance(name, str) else name, mode])


def c_value(name, v, slot=0):
    return bytes([3]) + c_card(slot) + bytes([INDEX[name]]) + u16(v)


def c_name(name, toggles=b"", mode=1):
    return bytes([4, mode, INDEX[name]]) + toggles


def capi_seeds():
    bad = [b"\xc0\xaf", b"\xe0\x80\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xf8\x88\x80\x80\x80",
           b"\x80", b"\xe2\x82", b"\xf0\x9f\x98", b"\xfe\xff", b"a\x00b"]
    good = "D\u00f6e \u20ac \U0001F600 \u6771".encode()
    seeds = {}
    seeds["utf8"] = (b"".join(c_put8("Note", b) for b in bad) + c_put8("NameFamily", good) +
                     c_put8("NameFamily", good, mode=1) + c_put8("Tel1_Cell", good) +
                     c_put8("NameFamily", good, mode=0) + c_read("NameFamily") + c_read("Note"))
    seeds["utf16"] = (c_put16("NameGiven", [0xD800, 0x41]) + c_read("NameGiven") +
                      c_put16("Note", [0xDC00]) + c_put16("Url", [0xD83D, 0xDE00, 0, 0x41], mode=1) +
                      c_put16("Title", [0x61, 0, 0x62]) + c_read("Title") +
                      bytes([2, 2, 255, 2]) + bytes([2, 2, 201, 2]))
    seeds["values"] = (c_value("GeoLatDeg", 32767) + c_value("GeoLatMin", 1) + bytes([2, 2, 200, 2]) +
                       c_value("NameFamily", 5) + c_value("Tel4_Video", 1) + c_read("Tel4_Video") +
                       bytes([3, 2, 202]) + u16(1) + bytes([3, 0, 0]) + u16(1))
    seeds["names"] = (c_name("NameFamily", b"\x01" * 10) + c_name("Adr2_PostalCode", b"\x01\x00" * 8) +
                      bytes([4, 0, 5]) + b"vcard" + bytes([4, 0, 7]) + b"vC\xc3\xa1rd" +
                      bytes([4, 1 | 4 | 8, 0]) + bytes([4, 1 | 4 | 16, 3]) + bytes([4, 32]) +
                      bytes([4, 64 | 1, 0]))
    seeds["nulls"] = (bytes([2, 0, 0, 2]) + bytes([2, 2, 0, 0]) + bytes([2, 0, 0, 1 | 8]) +
                      bytes([2, 2, 0, 4 | 16]) + bytes([2, 0, 0, 24 | 1]) + bytes([2, 2, 0, 24]) +
                      bytes([5, 0, 0]) + bytes([5, 2, 0]) + bytes([5, 1, 2]) + bytes([5, 3, 3, 200]) +
                      c_put8("Note", b"x", mode=0) + bytes([0, 0, 0, 2, 1]) + b"x")
    return seeds


# ---- cli_readers: the first byte picks the reader, the rest is its input

def cli_seeds():
    csv = ('NameFamily,NameGiven,Tel1_Cell,GeoLatDeg,Note\r\n'
           'Doe,John,true,48,"two\r\nlines, and ""quotes"""\r\n'
           '\r\n'
           '"open quote\n'
           'bad"quote,x\n'
           '"closed"then,text\n')
    jsonl = "\n".join([
        json.dumps({"NameFamily": "Doe", "Tel1_Cell": True, "GeoLatDeg": 48, "Note": "a\r\nb",
                    "Url": None}),
        '{"GeoLatMin": 99999999999999999999999, "GeoLatSec": -1.5, "x": [1, {"y": 2}]}',
        '[1, 2]',
        '{"unterminated": "',
        '  ',
        '{"NameFamily": "\\ud800", "NameGiven": "\\u00e9\\ud83d\\ude00"}',
        '"just a string"',
        '{"a": 1, "a": 2}\r',
    ])
    numbers_csv = ("GeoLatDeg,GeoLatMin,GeoLonSec,Tel1_Cell,Adr1_Home,Email1_Pref\n"
                   "32767,-32768,32768, +7 ,yes,No\n"
                   "-32769,+-1,0x10,1e3,\t-0\t,TRUE\n"
                   "00032767,-,+,,maybe,-1\n")
    numbers_jsonl = "\n".join([
        '{"GeoLatDeg": 32767, "GeoLatMin": -32768, "GeoLonSec": 32768, "GeoLonDeg": -32769}',
        '{"Tel1_Cell": true, "GeoLatDeg": true, "Adr1_Home": 1, "NameFamily": 5, "Note": false}',
        '{"GeoLatDeg": "32767", "GeoLatMin": " -1 ", "Tel2_Pref": "no", "GeoLonDeg": 1.0}',
        '{"GeoLatDeg": 9223372036854775807, "GeoLatMin": 18446744073709551615, "GeoLonDeg": -9223372036854775809}',
    ])
    return {
        "csv-numbers": b"\x00" + numbers_csv.encode(),
        "jsonl-numbers": b"\x01" + numbers_jsonl.encode(),
        "csv-escaped": b"\x80" + b"NameFamily,Categorie,Url\nA;B\\C,x;y,a;b\n",
        "csv": b"\x00" + b"\xef\xbb\xbf" + csv.encode(),
        "csv-invalid-utf8": b"\x00NameFamily,Note\n\xff\xfe,\xc0\xaf\xed\xa0\x80\n",
        "jsonl": b"\x01" + b"\xef\xbb\xbf" + jsonl.encode(),
        "jsonl-invalid-utf8": b"\x01{\"NameFamily\": \"\xff\"}\n{\"Note\": \"\xed\xa0\x80\"}\n",
    }


def main():
    for target, seeds in (("card_ops", card_ops_seeds()), ("capi", capi_seeds()),
                          ("cli_readers", cli_seeds())):
        folder = HERE / "corpus" / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (folder / ("seed-" + name)).write_bytes(data)


if __name__ == "__main__":
    main()
