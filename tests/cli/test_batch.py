"""qvvcard batch: CSV and JSON Lines in, a folder of cards or one file out."""
import json
import os
import pty
import subprocess

import pytest

from conftest import (QVVCARD, card_lines, entries, run, split_cards, without_stamps,
                      write_csv)


def read_cards(folder):
    """Every file of a folder, each of which must be one complete card."""
    cards = {}
    for name in entries(folder):
        data = (folder / name).read_bytes()
        (card,) = split_cards(data)
        cards[name] = card
    return cards


def test_examples_to_a_folder(tmp_path, examples):
    out = tmp_path / "cards"
    r = run("batch", os.path.join(examples, "contacts.csv"), "--out-dir", str(out))
    assert r.returncode == 0, r.stderr
    assert r.stderr.decode() == f"qvvcard: 12 cards written to {out}, 0 records skipped\n"
    cards = read_cards(out)
    assert len(cards) == 12
    # Two people of the same name, an organisation without a person, a name
    # with "/" and ":", a name Windows reserves and one ending in a dot.
    for name in ["Anna Smith.vcf", "Anna Smith (2).vcf", "Harbour Street Clinic.vcf",
                 "Jun Park  Studio North.vcf",
                 "Con_.vcf", "Robert Jones Jr.vcf", "Zoë Müller.vcf", "Åsa Lindqvist.vcf"]:
        assert name in cards, sorted(cards)
    assert "FN:Jun Park / Studio: North" in card_lines(cards["Jun Park  Studio North.vcf"])
    assert "GEO:+67.855;+20.225" in card_lines(cards["Åsa Lindqvist.vcf"])
    # Records keep their order: the first Anna Smith is the nurse.
    assert "TITLE:Nurse" in card_lines(cards["Anna Smith.vcf"])


def test_csv_and_jsonl_examples_give_the_same_cards(tmp_path, examples):
    got = {}
    for name in ("contacts.csv", "contacts.jsonl"):
        target = tmp_path / (name + ".vcf")
        r = run("batch", os.path.join(examples, name), "--output", str(target), "--quiet")
        assert r.returncode == 0 and r.stderr == b"", r.stderr
        got[name] = [without_stamps(c) for c in split_cards(target.read_bytes())]
    assert len(got["contacts.csv"]) == 12
    assert got["contacts.csv"] == got["contacts.jsonl"]


def test_many_varied_csv_records_give_the_cards_of_their_json_lines(tmp_path):
    # Enough records to cross the reader's buffer many times and to write well
    # past the point where the output starts going to the disk during the run;
    # values of many lengths, quoted, on two lines, beyond ASCII, numbers and
    # flags in their different spellings.
    columns = ["NameFamily", "NameGiven", "Note", "Adr1_Street", "Adr1_Locality", "Tel1_Number",
               "Tel1_Cell", "Email1_Value", "GeoLatDeg", "GeoLatMin", "GeoLonDeg", "Url", "GeoLat", "GeoLon"]
    words = ["\u00c4rla", "O'Neil", "Zo\u00eb", "\u0141ukasz", "\u674e", "\U0001F600 smile", "a, b",
             'say "hi"', "two\r\nlines", "x" * 70, ""]
    flags = ["yes", "no", "1", "0", " TRUE ", ""]
    records = []
    for n in range(24000):
        def word(k):
            return words[(n * 7 + k * 3) % len(words)]
        records.append({
            "NameFamily": f"{word(0)}{n}", "NameGiven": word(1), "Note": word(2) * (n % 5),
            "Adr1_Street": f"{n % 97} {word(3)}", "Adr1_Locality": word(4),
            "Tel1_Number": f"+1 555 {n:05d}", "Tel1_Cell": flags[n % len(flags)],
            "Email1_Value": f"p{n}@example.org", "GeoLatDeg": str(n % 90 - 45),
            "GeoLatMin": str(n % 60), "GeoLat": "Nsns"[n % 4], "GeoLonDeg": f"+{n % 180}",
            "GeoLon": "E W"[n % 2 * 2],
            "Url": "https://example.org/" + "p" * (n % 40)})

    def cell(value):
        if any(c in value for c in ',"\r\n'):
            return '"' + value.replace('"', '""') + '"'
        return value
    rows = [",".join(columns)] + [",".join(cell(r[c]) for c in columns) for r in records]
    (tmp_path / "in.csv").write_bytes(("\r\n".join(rows) + "\r\n").encode())
    (tmp_path / "in.jsonl").write_text(
        "".join(json.dumps(r, ensure_ascii=False) + "\n" for r in records), encoding="utf-8")
    got = {}
    for name in ("in.csv", "in.jsonl"):
        target = tmp_path / (name + ".vcf")
        r = run("batch", str(tmp_path / name), "--output", str(target), "--quiet")
        # Numbers and addresses without a type are left off the cards, and said.
        assert r.returncode == 0, r.stderr
        assert all(b"had no type flag" in l for l in r.stderr.splitlines()), r.stderr
        assert target.stat().st_size > 8 << 20
        got[name] = [without_stamps(c) for c in split_cards(target.read_bytes())]
    assert len(got["in.csv"]) == len(records)
    assert got["in.csv"] == got["in.jsonl"]


def test_names_already_taken_are_left_alone(tmp_path):
    # Names are taken as case-insensitive, normalising file systems (NTFS,
    # APFS, exFAT) see them: "doe" is "Doe" there, and an accent written as a
    # combining mark is the same letter as the composed one.
    out = tmp_path / "cards"
    out.mkdir()
    (out / "Doe.vcf").write_bytes(b"mine")
    (out / "Doe (3).vcf").write_bytes(b"mine too")
    src = write_csv(tmp_path / "in.csv", ["NameFamily", "Note"], ["Doe", "1"], ["doe", "2"], ["Doe", "3"],
                    ["Zo\u00eb", "4"], ["ZOE\u0308", "5"])
    r = run("batch", str(src), "--out-dir", str(out))
    assert r.returncode == 0, r.stderr
    assert (out / "Doe.vcf").read_bytes() == b"mine"
    assert (out / "Doe (3).vcf").read_bytes() == b"mine too"
    notes = {n: [l for l in card_lines(c) if l.startswith("NOTE:")]
             for n, c in ((n, split_cards((out / n).read_bytes())[0]) for n in entries(out)
                          if n not in ("Doe.vcf", "Doe (3).vcf"))}
    # Both spellings of the accent keep it (the name is made from the NFC form).
    assert notes == {"Doe (2).vcf": ["NOTE:1"], "doe (4).vcf": ["NOTE:2"], "Doe (5).vcf": ["NOTE:3"],
                     "Zo\u00eb.vcf": ["NOTE:4"], "ZO\u00cb (2).vcf": ["NOTE:5"]}


def test_awkward_names_are_made_safe(tmp_path):
    names = ["CON", "nul.txt", "com1", "LPT9 ", "Trailing dot.", "...", "Q/A: Notes?",
             "x" * 300, "é" * 200, "CON." + "y" * 300, ".hidden", "conin$", "CONOUT$.x", "",
             "  ", ""]
    # Without a name the card is named after the organisation, then its first
    # e-mail address.
    orgs = [""] * 13 + ["Example Ltd", "", ""]
    mails = [""] * 14 + ["a@example.org", "b@example.org"]
    src = write_csv(tmp_path / "in.csv", ["FormatedName", "OrgName", "Email2_Value"],
                    *[[f'"{n}"', o, m] for n, o, m in zip(names, orgs, mails)])
    out = tmp_path / "cards"
    r = run("batch", str(src), "--out-dir", str(out), "--quiet")
    assert r.returncode == 0, r.stderr
    got = entries(out)
    expected = ["CON_.vcf", "nul_.txt.vcf", "com1_.vcf", "LPT9_.vcf", "Trailing dot.vcf",
                "unnamed.vcf", "QA Notes.vcf", "x" * 251 + ".vcf", "é" * 125 + ".vcf",
                "CON_." + "y" * 246 + ".vcf", "hidden.vcf", "conin$_.vcf", "CONOUT$_.x.vcf",
                "Example Ltd.vcf", "a@example.org.vcf", "b@example.org.vcf"]
    assert sorted(got) == sorted(expected)
    assert all(len(n.encode()) <= 255 for n in got)


def test_bad_records_are_reported_and_skipped(tmp_path):
    src = tmp_path / "in.csv"
    src.write_bytes(
        b"NameFamily,Tel1_Cell,GeoLonDeg,GeoLonMin,GeoLon\r\n"
        b"Good1,yes,,,\r\n"
        b"Bad2,maybe,,,\r\n"
        b"Bad3,,70000,,E\r\n"
        b"\"Bad4\"x,,,,\r\n"
        b"Bad5,1\r\n"
        b"Bad\xff6,,,,\r\n"
        b"Bad7,,32767,1,w\r\n"
        b"Good8,no,10,20,E\r\n"
        b"Bad9,no,10,20,\r\n")
    out = tmp_path / "all.vcf"
    r = run("batch", str(src), "--output", str(out))
    assert r.returncode == 1
    assert r.stderr.decode().splitlines() == [
        'record 2: Tel1_Cell: expects true, false, yes, no or a 16-bit integer, not "maybe"',
        'record 3: GeoLonDeg: "70000" is outside the 16-bit range -32768 to 32767',
        "record 4: line 5: text after the closing quote in field 1",
        "record 5: line 6: 2 fields, the header has 5",
        "record 6: NameFamily: invalid UTF-8 at byte 4",
        "record 7: vCard: 16-bit overflow (0x800A0006)",
        # Degrees without a hemisphere would read as east (south for a latitude).
        "record 9: GeoLon: GeoLon is empty: give E or W",
        f"qvvcard: 2 cards written to {out}, 7 records skipped",
        "qvvcard: the input is not UTF-8 throughout; for a file saved by Excel on Windows,"
        " try --encoding cp1252"]
    cards = split_cards(out.read_bytes())
    assert [card_lines(c)[3] for c in cards] == ["N:Good1;;;;", "N:Good8;;;;"]


def test_bad_jsonl_records_are_reported_and_skipped(tmp_path):
    src = tmp_path / "in.jsonl"
    src.write_text("\n".join([
        '{"NameFamily": "A", "Tel1_Number": "1", "Tel1_Cell": true, "GeoLatDeg": -5, "GeoLat": "N", "Note": null}',
        '',
        '{"NameFamily": "B", "GeoLatDeg": 1.5}',
        '{"NameFamily": "C", "namefamily": "D"}',
        '["NameFamily"]',
        '{"NameFamily": "E", "Note": {"nested": 1}}',
        '{"NameFamily": 7}',
        '{"NameFamily": "F",',
        '{"NameFamily": "G", "Tel1_Cell": "no", "GeoLatMin": "30", "GeoLat": "N"}',
    ]) + "\n")
    out = tmp_path / "all.vcf"
    r = run("batch", str(src), "-o", str(out))
    assert r.returncode == 1
    err = r.stderr.decode().splitlines()
    assert err[:5] == [
        "record 2: GeoLatDeg: expects a 16-bit integer, not 1.5",
        "record 3: NameFamily: given twice",
        "record 4: line 5: a line must hold one JSON object",
        "record 5: Note: expects a text, not an object",
        "record 7: line 8: not valid JSON: parse error at column 20: JSON document ended early"
        " in the middle of an object or array."]
    assert err[5] == f"qvvcard: 3 cards written to {out}, 5 records skipped"
    first, number, last = split_cards(out.read_bytes())
    # A number given for a text is that text, as written.
    assert "N:7;;;;" in card_lines(number)
    assert "TEL;TYPE=CELL:1" in card_lines(first) and "GEO:-5;+0" in card_lines(first)
    assert "N:G;;;;" in card_lines(last) and "GEO:+0.5;+0" in card_lines(last)


@pytest.mark.parametrize("target", ["dir", "file", "existing file"])
@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
def test_unknown_column_or_key_writes_nothing(tmp_path, target, fmt):
    if fmt == "csv":
        src = write_csv(tmp_path / "in.csv", ["NameFamily", "Phone"], ["Doe", "1"])
        where = '"Phone" in column 2 of the header'
    else:
        # The unknown key stands in the last record: nothing before it may
        # have been written either.
        src = tmp_path / "in.jsonl"
        src.write_text('{"NameFamily": "A"}\n{"NameFamily": "B"}\n{"Phone": "1"}\n')
        where = '"Phone" in record 3 (line 3)'
    out = tmp_path / "out"
    if target == "existing file":
        out.write_bytes(b"old")
    args = ["--out-dir", str(out)] if target == "dir" else ["--output", str(out)]
    r = run("batch", str(src), *args)
    assert r.returncode == 2
    err = r.stderr.decode()
    # The way to the names is shown, not all 129 of them.
    assert where in err and "nothing was written" in err and "qvvcard properties" in err
    assert "Tel1_Number" not in err and err.endswith('Run "qvvcard batch --help" for more information.\n')
    if target == "existing file":
        assert out.read_bytes() == b"old"
        assert entries(tmp_path) == sorted([src.name, "out"])
    else:
        assert not out.exists()


def test_duplicate_column_is_refused(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["NameFamily", "namefamily"], ["a", "b"])
    r = run("batch", str(src), "--out-dir", str(tmp_path / "out"))
    assert r.returncode == 2 and "appears twice" in r.stderr.decode()
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize("fmt,data", [
    ("csv", b"NameFamily,Note\r\nDoe,one\r\nRoe,two\r\n"),
    ("jsonl", b'{"NameFamily":"Doe","Note":"one"}\n{"NameFamily":"Roe","Note":"two"}\n')])
def test_standard_input_to_standard_output(fmt, data):
    r = run("batch", "-", "--format", fmt, stdin=data)
    assert r.returncode == 0
    cards = split_cards(r.stdout)
    assert [card_lines(c)[3] for c in cards] == ["N:Doe;;;;", "N:Roe;;;;"]
    assert r.stderr == b"qvvcard: 2 cards written, 0 records skipped\n"


def test_csv_details(tmp_path):
    # Byte-order mark, quoted separators, doubled quotes and line breaks,
    # blank lines, an unnamed empty column, values and names in any case.
    src = tmp_path / "in.csv"
    src.write_bytes(b"\xef\xbb\xbfnamefamily, Note ,,TEL1_CELL,Tel1_Number\n"
                    b"Doe,\"a, \"\"b\"\"\r\nc\",,YES,1\n\n"
                    b"\"Roe\",plain,,,\n")
    r = run("batch", str(src), "--quiet", "--no-rfc-escape")
    assert r.returncode == 0, r.stderr
    first, second = split_cards(r.stdout)
    assert card_lines(first)[3:6] == ["N:Doe;;;;", "FN:Doe   ", "TEL;TYPE=CELL:1"]
    assert 'NOTE:a, "b"\\nc' in card_lines(first)
    assert "NOTE:plain" in card_lines(second)
    # A value in the unnamed column is not silently dropped.
    src.write_bytes(b"NameFamily,\nDoe,lost?\n")
    r = run("batch", str(src))
    assert r.returncode == 1 and b"record 1: column 2: a value in a column without a name" in r.stderr


def test_time_zone_does_not_pass_to_the_next_record(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["NameFamily", "TimeZone"], ["A", "+01:00"], ["B", ""])
    r = run("batch", str(src), "--quiet")
    first, second = split_cards(r.stdout)
    assert "TZ:+01:00" in card_lines(first)
    assert not any(l.startswith("TZ:") for l in card_lines(second))


def test_rfc_escape_in_batch_keeps_file_names(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["FormatedName", "Note"], ['"Doe, John; Jr."', '"a,b"'])
    for flag, folder in ((["--no-rfc-escape"], "plain"), ([], "escaped")):
        r = run("batch", str(src), "--out-dir", str(tmp_path / folder), "--quiet", *flag)
        assert r.returncode == 0
    assert entries(tmp_path / "plain") == entries(tmp_path / "escaped") == ["Doe, John; Jr.vcf"]
    lines = card_lines(split_cards((tmp_path / "escaped" / "Doe, John; Jr.vcf").read_bytes())[0])
    assert "FN:Doe\\, John\\; Jr." in lines and "NOTE:a\\,b" in lines


def test_output_file_is_replaced(tmp_path, examples):
    out = tmp_path / "all.vcf"
    out.write_bytes(b"old")
    r = run("batch", os.path.join(examples, "contacts.jsonl"), "--output", str(out), "-q")
    assert r.returncode == 0 and len(split_cards(out.read_bytes())) == 12
    assert entries(tmp_path) == ["all.vcf"]


def test_usage_errors(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["NameFamily"], ["Doe"])
    for args in (["batch"], ["batch", str(tmp_path / "missing.csv")], ["batch", str(tmp_path)],
                 ["batch", str(src), "--out-dir", "a", "--output", "b"],
                 ["batch", str(src), "--format", "xml"], ["batch", str(src), "NameFamily=x"]):
        r = run(*args, cwd=tmp_path)
        assert r.returncode == 2, args
        assert r.stdout == b""
    assert entries(tmp_path) == ["in.csv"]


def run_on_terminal(*args, cards_too=False, stdin=None):
    """Runs qvvcard with standard error (and standard output with cards_too)
    on a pseudo-terminal."""
    master, slave = pty.openpty()
    try:
        p = subprocess.run([QVVCARD, *args], stdout=slave if cards_too else subprocess.PIPE,
                           stderr=slave, timeout=60, input=stdin)
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        return p, seen
    finally:
        os.close(master)


def test_progress_only_on_a_terminal(tmp_path, examples):
    src = os.path.join(examples, "contacts.csv")
    p, seen = run_on_terminal("batch", src, "-o", str(tmp_path / "a.vcf"))
    assert p.returncode == 0
    assert b"records" in seen and b"%" in seen and b"\r\x1b[K" in seen
    assert b"12 cards written" in seen
    p, seen = run_on_terminal("batch", src, "-o", str(tmp_path / "b.vcf"), "--quiet")
    assert p.returncode == 0 and seen == b""
    r = run("batch", src, "-o", str(tmp_path / "c.vcf"))
    assert b"\r" not in r.stderr and b"%" not in r.stderr
    # Cards into a folder from a shell whose output is that terminal too:
    # the progress is shown, as the cards go elsewhere.
    p, seen = run_on_terminal("batch", src, "--out-dir", str(tmp_path / "cards"), cards_too=True)
    assert p.returncode == 0 and b"%" in seen and b"\r\x1b[K" in seen
    # From a pipe, whose size is not known: the records alone.
    p, seen = run_on_terminal("batch", "-", "-o", str(tmp_path / "d.vcf"),
                              stdin=open(src, "rb").read())
    assert p.returncode == 0 and b"0 records" in seen and b"%" not in seen


def test_input_that_is_not_data(tmp_path):
    # Rows of separators only (Excel writes them after formatted ranges) and
    # JSON objects without a value are no records, like blank lines.
    src = tmp_path / "in.csv"
    src.write_bytes(b"NameFamily,Note\r\n,\r\nDoe,1\r\n,,\r\n,\r\nRoe,\"\r\n")
    r = run("batch", str(src))
    assert r.returncode == 1
    assert r.stderr.decode().splitlines() == [
        "record 2: line 6: a quoted value not closed before the end of the input in field 2",
        "qvvcard: 1 card written, 1 record skipped"]
    src.write_bytes(b',\r\nNameFamily,Note\r\n,\r\nDoe,1\r\n')
    r = run("batch", str(src), "-q")
    assert r.returncode == 0 and len(split_cards(r.stdout)) == 1
    jsonl = tmp_path / "in.jsonl"
    jsonl.write_text('{}\n{"NameFamily": "", "Note": null}\n{"NameFamily": "Doe"}\n')
    r = run("batch", str(jsonl))
    assert r.returncode == 0 and r.stderr == b"qvvcard: 1 card written, 0 records skipped\n"
    # Nothing at all is refused, not taken for zero cards.
    for name, data in (("empty.csv", b""), ("blank.csv", b"\r\n,,\r\n"), ("empty.jsonl", b"\n")):
        (tmp_path / name).write_bytes(data)
        r = run("batch", str(tmp_path / name), "--out-dir", str(tmp_path / "cards"))
        assert r.returncode == 2 and b"is empty" in r.stderr, r.stderr
    assert not (tmp_path / "cards").exists()
    r = run("batch", str(src), "--out-dir", "")
    assert r.returncode == 2 and b"--out-dir needs a folder name" in r.stderr


def test_every_unknown_column_is_named_at_once(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["NameFamly", "Phone", "NameGiven", "emial1_value"],
                    ["a", "b", "c", "d"])
    r = run("batch", str(src))
    assert r.returncode == 2
    first = r.stderr.decode().splitlines()[0]
    assert first == (f'qvvcard: unknown columns in the header of {src}: "NameFamly" (column 1; '
                     'did you mean NameFamily?), "Phone" (column 2), "emial1_value" (column 4; '
                     'did you mean Email1_Value?); nothing was written.')


def test_the_record_limit_is_an_option(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["NameFamily", "Note"], ["Doe", "x" * 100], ["Roe", "y"])
    r = run("batch", str(src), "--max-record-bytes", "50")
    assert r.returncode == 1
    assert r.stderr.decode().splitlines()[0] == "record 1: line 2: record longer than 50 bytes"


def test_no_progress_into_cards_on_the_same_terminal(examples):
    # Standard output and standard error on one terminal: the cards are not
    # interleaved with a progress line.
    p, seen = run_on_terminal("batch", os.path.join(examples, "contacts.csv"), cards_too=True)
    assert p.returncode == 0
    assert b"\x1b[K" not in seen and b"%" not in seen and seen.count(b"END:VCARD") == 12


@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
def test_a_large_record_needs_memory_in_proportion(tmp_path, fmt):
    if os.environ.get("QVVCARD_MEASURE_MEMORY") != "1":
        pytest.skip("memory is measured in the build without sanitizers only")
    def peak_kib(size):
        note = "x" * size
        src = tmp_path / f"big.{fmt}"
        if fmt == "csv":
            src.write_text(f'NameFamily,Note\nDoe,"{note}"\n')
        else:
            src.write_text(json.dumps({"NameFamily": "Doe", "Note": note}) + "\n")
        peak = tmp_path / "peak"
        r = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(peak), QVVCARD, "batch", str(src),
                            "-o", str(tmp_path / "out.vcf"), "-q"], capture_output=True)
        assert r.returncode == 0, r.stderr
        assert (tmp_path / "out.vcf").stat().st_size > size
        return int(peak.read_text().split()[-1])

    # The program itself (its libraries, buffers) is what a small record needs.
    size, program_kb = 12 << 20, peak_kib(16)
    peak_kb = peak_kib(size)
    # The record, its text as the card stores it (UTF-16) and the card in
    # UTF-8 come to about three times its size.
    limit = (3.5 if fmt == "csv" else 4.5) * size / 1024 + program_kb + 2048
    assert peak_kb < limit, f"{peak_kb} KiB for a record of {size >> 20} MiB ({program_kb} KiB for a small one)"


@pytest.mark.parametrize("fmt", ["csv", "jsonl"])
def test_uids_from_a_column_stay_the_same_when_cards_are_made_again(tmp_path, fmt):
    import uuid
    space = uuid.UUID("8cb1f02f-7e3c-4a61-a736-ff3b2be6e92b")
    # "Zoë 9" once with a composed ë and once with e and a combining
    # diaeresis (as macOS writes it): one identifier, one UID.
    rows = [("c-17", "Doe"), ("", "Roe"), (" c-17 ", "Doe again"), ("Zo\u00eb 9", "Moe"),
            ("Zoe\u0308 9", "Moe again")]
    src = tmp_path / f"in.{fmt}"
    if fmt == "csv":
        # The column need not be a property, and its name is matched in any case.
        src.write_text("ID;NameFamily\n" + "".join(f"{i};{n}\n" for i, n in rows))
    else:
        src.write_text("".join(json.dumps({"id": i, "NameFamily": n}) + "\n" for i, n in rows))

    def uids():
        r = run("batch", str(src), "--uid-from", "Id")
        assert r.returncode == 0, r.stderr
        assert r.stderr.decode() == ("qvvcard: 5 cards written, 0 records skipped; "
                                     "1 card got a random UID (Id was empty)\n")
        return [l[4:] for c in split_cards(r.stdout) for l in card_lines(c) if l.startswith("UID:")]

    first, again = uids(), uids()
    want = str(uuid.uuid5(space, "c-17")).upper()
    zoe = str(uuid.uuid5(space, "Zo\u00eb 9")).upper()
    assert [first[0], first[2], first[3], first[4]] == [want, want, zoe, zoe]
    assert first[1] != again[1] and uuid.UUID(first[1]).version == 4
    assert [first[0], first[2], first[3]] == [again[0], again[2], again[3]]
    if fmt == "csv":
        r = run("batch", str(src), "--uid-from", "Key")
        assert r.returncode == 2 and b'has no column "Key" for --uid-from' in r.stderr


def test_a_slot_the_card_leaves_out_for_want_of_a_type_is_reported(tmp_path):
    # The card writes a TEL or ADR line only when one of its type flags is
    # set; a number or address without one is said to be left out.
    src = write_csv(tmp_path / "in.csv", ["NameFamily", "Tel1_Number", "Tel2_Number", "Tel2_Cell",
                                          "Adr1_Street", "Adr3_Locality", "Adr3_Home"],
                    ["A", "1", "2", "yes", "Main St", "Town", "1"], ["B", "3", "", "", "", "", ""])
    r = run("batch", str(src))
    assert r.returncode == 0
    assert r.stderr.decode().splitlines() == [
        "Adr1_*: 1 card left the address out: it had no type flag (set Adr1_Postal, say)",
        "Tel1_*: 2 cards left the telephone number out: it had no type flag (set Tel1_Voice, say)",
        "qvvcard: 2 cards written, 0 records skipped"]
    assert b"TEL;TYPE=CELL:2" in r.stdout and b"ADR;TYPE=HOME:;;;Town;;;" in r.stdout
    assert run("batch", str(src), "--strict", "-q").returncode == 1
