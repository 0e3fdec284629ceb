"""qvvcard batch with files as spreadsheets save them: other separators and
encodings, several inputs, option values in any case."""
import pytest

from conftest import SEE_HELP, card_lines, run, split_cards

vobject = pytest.importorskip("vobject")

ROWS = [("Müller", "Jürgen", "Café € 5, Straße"), ("Ærø", "Søren", "naïve; “quoted”")]


def read_back(data):
    """The cards as a standard reader sees them: (family, given, note)."""
    return [(c.n.value.family, c.n.value.given, c.note.value)
            for c in vobject.readComponents(data.decode())]


def table(sep, rows=ROWS):
    lines = [sep.join(["NameFamily", "NameGiven", "Note"])]
    lines += [sep.join(f'"{v}"' if sep in v or '"' in v else v for v in row) for row in rows]
    return "\r\n".join(lines) + "\r\n"


@pytest.mark.parametrize("name,data,options", [
    ("windows.csv", table(";").encode("cp1252"), ["--encoding", "CP1252"]),
    ("latin.csv", table(",", ROWS[:1]).replace("€", "E").encode("latin1"), ["--encoding", "latin1"]),
    ("unicode.txt", b"\xff\xfe" + table("\t").encode("utf-16-le"), []),
    ("unicode-be.txt", b"\xfe\xff" + table("\t").encode("utf-16-be"), []),
    ("plain.csv", table(";").encode(), ["--delimiter", "Semicolon"]),
    ("tabs.csv", table("\t").encode(), ["--delimiter", "tab", "--encoding", "UTF-8"]),
    # Excel's first line that names the separator is no header.
    ("hinted.csv", ("sep=;\r\n" + table(";")).encode(), []),
    ("hinted-quoted.csv", ('\ufeff"sep=,"\r\n' + table(",")).encode(), []),
])
def test_each_dialect_gives_every_value_in_its_place(tmp_path, name, data, options):
    src = tmp_path / name
    src.write_bytes(data)
    r = run("batch", str(src), "-q", *options)
    assert r.returncode == 0 and r.stderr == b"", r.stderr
    rows = ROWS[:1] if name == "latin.csv" else ROWS
    if name == "latin.csv":
        rows = [(f, g, n.replace("€", "E")) for f, g, n in rows]
    assert read_back(r.stdout) == rows


def test_utf16_characters_across_the_reads_of_a_large_file(tmp_path):
    # The input is read 64 KiB at a time: the note's surrogate pairs start
    # at byte 42 + 4k, so one of them is split between the first two reads.
    note = "x" + "\U0001F600" * 40000
    text = "NameFamily\tNote\r\nN\t" + note + "\r\nM\tafter\r\n"
    src = tmp_path / "big.txt"
    src.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
    r = run("batch", str(src), "-q", "--max-record-bytes", str(1 << 20))
    assert r.returncode == 0, r.stderr
    assert [c.note.value for c in vobject.readComponents(r.stdout.decode())] == [note, "after"]


def test_bytes_that_are_not_of_the_encoding(tmp_path):
    out = tmp_path / "out.vcf"
    src = tmp_path / "in.csv"
    # 0x81 is no character of Windows-1252.
    src.write_bytes(b"NameFamily,Note\nx,\x81\n")
    r = run("batch", str(src), "--encoding", "cp1252", "-o", str(out))
    assert r.returncode == 2 and not out.exists()
    assert r.stderr.decode() == f"qvvcard: {src}: not valid Windows-1252 at byte 19; nothing was written.\n" + SEE_HELP + "\n"
    # A lone half of a surrogate pair, and a file cut inside a character.
    for data, why in [(b"\xff\xfeN\x00\x00\xd8\n\x00", "not valid UTF-16LE at byte 5"),
                      (b"\xff\xfeN\x00a", "ends inside a character of UTF-16LE at byte 5")]:
        src.write_bytes(data)
        r = run("batch", str(src), "-o", str(out))
        assert r.returncode == 2 and why in r.stderr.decode(), r.stderr
    # Without --encoding, Windows-1252 bytes are invalid UTF-8, with a hint.
    src.write_bytes("NameFamily\nMüller\n".encode("cp1252"))
    r = run("batch", str(src), "-o", str(out))
    assert r.returncode == 1
    assert r.stderr.decode().splitlines() == [
        "record 1: NameFamily: invalid UTF-8 at byte 2",
        f"qvvcard: 0 cards written to {out}, 1 record skipped",
        "qvvcard: the input is not UTF-8 throughout; for a file saved by Excel on Windows,"
        " try --encoding cp1252"]


def test_the_separator_is_taken_from_the_header(tmp_path):
    src = tmp_path / "in.csv"
    # Commas inside the values do not make a semicolon header a comma one.
    src.write_text("NameFamily;Note\r\nDoe;a, b\r\n")
    r = run("batch", str(src), "-q", "--no-rfc-escape")
    assert r.returncode == 0, r.stderr
    assert "NOTE:a, b" in card_lines(split_cards(r.stdout)[0])
    # A header no separator splits into known names is reported as split by
    # the separator that gives the most fields.
    src.write_text("Family;Given;Note\r\nDoe;J;n\r\n")
    r = run("batch", str(src))
    assert r.returncode == 2
    assert r.stderr.decode().startswith('qvvcard: unknown columns in the header of')
    assert '"Family" (column 1)' in r.stderr.decode() and '"Given" (column 2)' in r.stderr.decode()
    r = run("batch", str(src), "--delimiter", ":")
    assert r.returncode == 2 and b"expects comma, semicolon or tab" in r.stderr


def test_several_inputs_one_after_the_other(tmp_path):
    a = tmp_path / "a.csv"
    a.write_text("NameFamily\nA1\nA2\n")
    b = tmp_path / "b.jsonl"
    b.write_text('{"NameFamily": "B1", "GeoLat": "x"}\n{"NameFamily": "B2", "GeoLat": "s"}\n')
    out = tmp_path / "all.vcf"
    r = run("batch", str(a), str(b), "-", "-o", str(out), stdin=b"NameFamily\nC1\n")
    assert r.returncode == 1
    assert r.stderr.decode().splitlines() == [
        f'{b}: record 1: GeoLat: expects N or S, not "x"',
        f"qvvcard: 4 cards written to {out}, 1 record skipped"]
    names = [card_lines(c)[3] for c in split_cards(out.read_bytes())]
    assert names == ["N:A1;;;;", "N:A2;;;;", "N:B2;;;;", "N:C1;;;;"]
    # One refused input refuses the run before any card is written.
    out.write_text("before")
    b.write_text('{"NameFamily": "B1", "Phone": "1"}\n')
    r = run("batch", str(a), str(b), "-o", str(out))
    assert r.returncode == 2 and out.read_text() == "before"
    assert b'unknown key "Phone"' in r.stderr
    r = run("batch", "-", str(a), "-", stdin=b"")
    assert r.returncode == 2 and b"standard input is named twice" in r.stderr


def test_an_export_saved_with_semicolons_in_windows_1252(tmp_path, examples):
    import csv
    import os
    with open(os.path.join(examples, "outlook-contacts.csv"), encoding="utf-8-sig") as f:
        rows = list(csv.reader(f))
    src = tmp_path / "outlook.csv"
    with open(src, "w", encoding="cp1252", newline="") as f:
        csv.writer(f, delimiter=";").writerows(rows)
    plain = run("batch", os.path.join(examples, "outlook-contacts.csv"), "-q")
    r = run("batch", str(src), "--encoding", "cp1252")
    assert r.returncode == 0, r.stderr
    assert r.stderr.decode().startswith(f"qvvcard: reading {src} as an Outlook CSV export\n")
    strip = lambda data: [l for l in data.decode().split("\r\n") if not l.startswith(("REV:", "UID:"))]
    assert strip(r.stdout) == strip(plain.stdout)


def test_a_byte_order_mark_is_dropped_only_where_it_is_a_mark(tmp_path):
    bom = "\ufeff"
    src = tmp_path / "in.csv"
    # At the start of the file: a mark, dropped.
    src.write_text(bom + "NameFamily,Note\r\nDoe,n\r\nRoe," + bom + "x\r\n", encoding="utf-8")
    r = run("batch", str(src))
    assert r.returncode == 1 and len(split_cards(r.stdout)) == 1
    assert r.stderr.decode().splitlines()[0] == (
        "record 2: Note: starts with a byte-order mark (U+FEFF), which belongs at the start of a "
        "file only")
    # Anywhere else it is named, not silently kept or failing to match.
    src.write_text("NameFamily," + bom + "Note\r\nDoe,n\r\n", encoding="utf-8")
    r = run("batch", str(src))
    assert r.returncode == 2
    assert "(it starts with a byte-order mark (U+FEFF) before Note)" in r.stderr.decode()
    (tmp_path / "m.map").write_text(bom + "A = NameFamily\n" + bom + "B = Note\n", encoding="utf-8")
    src.write_text("A,B\r\nDoe,n\r\n")
    r = run("batch", str(src), "--columns", str(tmp_path / "m.map"))
    assert r.returncode == 2
    assert "line 2: starts with a byte-order mark (U+FEFF)" in r.stderr.decode()
