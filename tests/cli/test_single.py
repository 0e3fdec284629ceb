"""One card from Name=value arguments."""
import re

import pytest

from conftest import matches, run

PRODID = "PRODID:qv_vCard.dll, Version 1.0.0 (qv_VCard project, https://qv-vcard.invalid)  "


def test_prints_the_card_with_a_line_end():
    r = run("NameFamily=Doe", "NameGiven=John", "Tel1_Number=+1-555-0100", "Tel1_Cell=true")
    assert r.returncode == 0 and r.stderr == b""
    assert r.stdout.endswith(b"END:VCARD\r\n")
    assert matches(r.stdout.decode()[:-2], [
        "BEGIN:VCARD", "VERSION:3.0", "PROFILE:VCARD", "N:Doe;John;;;", "FN:Doe John  ",
        "TEL;TYPE=CELL:+1-555-0100", "REV:*", "UID:*", PRODID, "END:VCARD"])


@pytest.mark.parametrize("word,stored", [("Yes", -1), ("1", 1), ("no", 0)])
def test_flag_words_and_integers(word, stored):
    # Names ignore case; the flag is stored as given and set when not 0.
    r = run("tel1_number=1", f"TEL1_CELL={word}", "--get", "Tel1_Cell", "--get", "vCard")
    assert r.returncode == 0, r.stderr
    out = r.stdout.decode()
    assert out.startswith(f"{stored}\n")
    assert ("TEL;TYPE=CELL:1" in out) == (stored != 0)


def test_reads_in_the_order_asked():
    r = run("FormatedName=Q/A: Notes?", "NameFamily=Doe", "GeoLatDeg=-12",
            "--get", "vCardFileName", "--get", "namefamily", "--get", "GeoLatDeg")
    assert r.returncode == 0, r.stderr
    assert r.stdout == b"QA Notes.vcf\nDoe;\n-12\n"


@pytest.mark.parametrize("args,message", [
    (["Tel1_Cell=maybe"], 'Tel1_Cell: expects true, false, yes, no or a 16-bit integer, not "maybe"'),
    (["GeoLatDeg=32768"], 'GeoLatDeg: "32768" is outside the 16-bit range -32768 to 32767'),
    (["GeoLatDeg=1.5"], 'GeoLatDeg: expects a 16-bit integer, not "1.5"'),
    (["Tel1_Pref=99999999999999999999999"], "Tel1_Pref: \"99999999999999999999999\" is outside"),
    (["NameFamily=a", "namefamily=b"], "NameFamily: given twice"),
    ([b"NameFamily=ab\xffc"], "NameFamily: invalid UTF-8 at byte 3"),
    (["NameFamily"], "expected Name=value"),
    (["--get", "vCardClean"], "vCardClean is a method"),
])
def test_refused_arguments(args, message):
    r = run(*args)
    assert r.returncode == 2
    assert r.stdout == b""
    assert message in r.stderr.decode("utf-8", "replace")


@pytest.mark.parametrize("args, near", [(["Phone=1"], None), (["--get", "Phone"], None),
                                        (["Tel1_Numbr=1"], "Tel1_Number"),
                                        (["--get", "vcardfilenam"], "vCardFileName")])
def test_unknown_names_point_to_the_list_with_the_nearest(args, near):
    r = run("NameFamily=Doe", *args)
    assert r.returncode == 2 and r.stdout == b""
    err = r.stderr.decode()
    assert err.startswith("qvvcard: ") and err.endswith(
        'Run "qvvcard properties" for every name and what it holds.\n')
    assert (f"(did you mean {near}?)" in err) if near else "did you mean" not in err


def test_what_the_card_leaves_out_or_reads_otherwise_is_never_silent():
    # A number without a type stands on no card: said, and with --strict exit 1.
    r = run("Tel1_Number=123", "Adr2_Locality=Graz", "NameFamily=X")
    assert r.returncode == 0 and b"TEL" not in r.stdout and b"ADR" not in r.stdout
    assert r.stderr.decode().splitlines() == [
        "qvvcard: Adr2_*: the card left the address out: it had no type flag (set Adr2_Postal, say)",
        "qvvcard: Tel1_*: the card left the telephone number out: it had no type flag (set "
        "Tel1_Voice, say)"]
    assert run("--strict", "Tel1_Number=123").returncode == 1
    assert run("--strict", "Tel1_Number=123", "Tel1_Voice=1").returncode == 0
    # Degrees without a hemisphere would read as south; Geo takes decimal
    # degrees.
    r = run("GeoLatDeg=40", "GeoLonDeg=3", "GeoLon=W")
    assert r.returncode == 2 and r.stdout == b""
    assert r.stderr == b"qvvcard: GeoLat: GeoLat is empty: give N or S\n"
    r = run("geo=40.4168,-3.7038")
    assert r.returncode == 0 and b"\r\nGEO:+40.41667;-3.703889\r\n" in r.stdout
    r = run("Geo=40.4168,-3.7038", "GeoLat=N")
    assert r.returncode == 2 and b"GeoLat: cannot be given together with Geo" in r.stderr


@pytest.mark.parametrize("args,message", [
    (["serve", "--port", "0x5209"], '--port expects a decimal number from 0 to 65535, not "0x5209"'),
    (["serve", "--port", "99999999999999999999999"], "--port expects a decimal number from 0 to"),
    (["serve", "--threads", "-1"], '--threads expects a decimal number from 1 to 1024, not "-1"'),
    (["batch", "in.csv", "--max-record-bytes", "0"], "--max-record-bytes expects a decimal number "
                                                      "from 1 to 1099511627776"),
])
def test_numbers_of_options_are_plain_decimals_in_their_range(args, message):
    r = run(*args)
    assert r.returncode == 2 and message in r.stderr.decode()


def test_a_failing_card_read_exits_1():
    r = run("NameFamily=Doe", "GeoLonDeg=32767", "GeoLonMin=1", "GeoLon=E")
    assert r.returncode == 1 and r.stdout == b""
    assert "vCard: 16-bit overflow (0x800A0006)" in r.stderr.decode()
    # The file name does not depend on the position.
    r = run("NameFamily=Doe", "GeoLonDeg=32767", "GeoLonMin=1", "--get", "vCardFileName")
    assert r.returncode == 0 and r.stdout == b"Doe.vcf\n"


def test_escaping_is_the_default():
    args = ["NameFamily=Doe, Jr.", "Note=a,b;c\\d", "Categorie=work,home;office",
            "Nickname=Jo;Joe,JD", "Url=https://example.org/a,b;c", "Tel1_Number=1,2;3", "Tel1_Home=1",
            "Adr1_Street=1 Main St, Apt 2", "Adr1_Home=1", "Title=A;B", "OrgName=X, Inc.", "Birthdate=a,b"]
    plain = run("--no-rfc-escape", *args).stdout.decode().split("\r\n")
    escaped = run(*args).stdout.decode().split("\r\n")
    stamps = ("REV:", "UID:")
    assert ([l for l in run("--rfc-escape", *args).stdout.decode().split("\r\n")
             if not l.startswith(stamps)] == [l for l in escaped if not l.startswith(stamps)])
    assert "NOTE:a,b;c\\d" in plain and "N:Doe, Jr.;;;;" in plain
    for line in ["N:Doe\\, Jr.;;;;", "NOTE:a\\,b\\;c\\\\d", "CATEGORIES:work,home\\;office",
                 "NICKNAME:Jo\\;Joe,JD", "URL:https://example.org/a,b;c", "TEL;TYPE=HOME:1\\,2\\;3",
                 "ADR;TYPE=HOME:;;1 Main St\\, Apt 2;;;;", "TITLE:A\\;B", "ORG:X\\, Inc.;", "BDAY:a,b"]:
        assert line in escaped, line


@pytest.mark.parametrize("name", ["Doe, John; Jr.\\", " ,a\\ ", "a;b\\,c"])
def test_rfc_escape_keeps_the_file_name(name):
    plain = run("--no-rfc-escape", f"FormatedName={name}", "--get", "vCardFileName")
    escaped = run(f"FormatedName={name}", "--get", "vCardFileName")
    assert plain.returncode == escaped.returncode == 0
    assert escaped.stdout == plain.stdout


def test_help_version_and_bare_call():
    r = run("--help")
    assert r.returncode == 0
    out = r.stdout.decode()
    assert "Examples:" in out and "qvvcard batch contacts.csv --out-dir cards" in out
    r = run("batch", "--help")
    assert r.returncode == 0 and "--out-dir" in r.stdout.decode()
    r = run("--version")
    assert r.returncode == 0 and re.fullmatch(rb"qvvcard \d+\.\d+\.\d+\n", r.stdout)
    r = run()
    assert r.returncode == 2 and b"Usage" in r.stderr


def test_rfc_escaped_cards_read_back_as_typed():
    vobject = pytest.importorskip("vobject")
    typed = {"NameFamily": "Doe, Jr.", "NameGiven": "A;B", "FormatedName": "Doe, A;B \\x",
             "Note": "a,b;c\\d", "Categorie": "work,home;office", "Adr1_Street": "1 Main St, Apt 2",
             "Adr1_Locality": "Town;X", "Adr1_Home": "1", "OrgName": "X, Inc.", "OrgUnit": "R;D",
             "Title": "A,B", "Role": "R\\1"}

    def read_back(*flags):
        r = run(*flags, *[f"{k}={v}" for k, v in typed.items()])
        assert r.returncode == 0
        c = vobject.readOne(r.stdout.decode())
        return {"NameFamily": c.n.value.family, "NameGiven": c.n.value.given,
                "FormatedName": c.fn.value, "Note": c.note.value,
                "Categorie": ",".join(c.categories.value), "Adr1_Street": c.adr.value.street,
                "Adr1_Locality": c.adr.value.city, "Adr1_Home": "1",
                "OrgName": c.org.value[0], "OrgUnit": c.org.value[1],
                "Title": c.title.value, "Role": c.role.value}

    assert read_back() == typed
    assert read_back("--no-rfc-escape") != typed
