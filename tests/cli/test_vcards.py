"""vCard files read by batch: split and cleaned, turned into tables, and
read back from those tables into the same cards."""
import os

import pytest
import vobject

from conftest import SEE_HELP, run, split_cards, without_stamps

SAMPLES = os.path.join(os.path.dirname(__file__), "vcf")
GOOD = ["phone-2.1.vcf", "item-groups-3.0.vcf", "webmail-3.0.vcf", "server-4.0.vcf",
        "desktop-2.1.vcf"]


def sample(name):
    return os.path.join(SAMPLES, name)


def cards(data: bytes):
    return [without_stamps(c) for c in split_cards(data)]


@pytest.mark.parametrize("name", GOOD)
def test_every_kind_of_file_becomes_clean_3_0_cards(name):
    r = run("batch", sample(name))
    assert r.returncode == 0, r.stderr
    parsed = list(vobject.readComponents(r.stdout.decode()))
    source = open(sample(name), encoding="utf-8").read().upper().count("BEGIN:VCARD")
    assert len(parsed) == source
    assert all(p.version.value == "3.0" and p.fn.value for p in parsed)
    # Every property the card has no place for is named, with its count.
    err = r.stderr.decode()
    assert err.rstrip().endswith("0 records skipped")


def test_split_into_a_folder_with_names_of_the_people(tmp_path):
    r = run("batch", sample("phone-2.1.vcf"), "--out-dir", str(tmp_path / "cards"))
    assert r.returncode == 0
    assert sorted(os.listdir(tmp_path / "cards")) == ["Zoë Müller-Łukasik.vcf", "Åse Søndergård.vcf"]
    zoe = vobject.readOne(open(tmp_path / "cards" / "Zoë Müller-Łukasik.vcf", encoding="utf-8"))
    # Quoted-printable, folded 2.1 text arrives as the letters it encodes.
    assert zoe.note.value.startswith("Poznałyśmy się na konferencji w Gdańsku.\n")


def test_told_by_content_from_any_name_and_from_standard_input(tmp_path):
    data = open(sample("webmail-3.0.vcf"), "rb").read()
    named = tmp_path / "contacts.txt"
    named.write_bytes(b"\xef\xbb\xbf\r\n" + data)
    expected = cards(run("batch", sample("webmail-3.0.vcf")).stdout)
    assert cards(run("batch", str(named)).stdout) == expected
    assert cards(run("batch", "-", stdin=data).stdout) == expected
    # UTF-16 with its byte-order mark too.
    utf16 = tmp_path / "u16.vcf"
    utf16.write_bytes(b"\xff\xfe" + data.decode("utf-8").encode("utf-16-le"))
    assert cards(run("batch", str(utf16)).stdout) == expected


def test_a_broken_card_is_reported_with_its_line_and_the_others_written(tmp_path):
    out = tmp_path / "out.vcf"
    r = run("batch", sample("broken.vcf"), "-o", str(out))
    assert r.returncode == 1
    err = r.stderr.decode().splitlines()
    src = sample("broken.vcf")
    assert err == [
        f"record 2: {src}:6: the card has no END:VCARD before the BEGIN:VCARD on line 10",
        f'record 4: {src}:17: invalid quoted-printable: "=ZZ"',
        f'record 5: {src}:22: no property: the line has no ":"',
        f'record 6: {src}:26: bytes that are no text of the charset "UTF-8" (at byte 5 of the value)',
        f"qvvcard: 3 cards written to {out}, 4 records skipped"]
    assert [c.fn.value for c in vobject.readComponents(out.read_text())] == [
        "First Good", "Second Good", "Third Good"]


def test_what_has_no_place_is_counted_and_strict_fails(tmp_path):
    r = run("batch", sample("server-4.0.vcf"), "--strict")
    assert r.returncode == 1
    err = r.stderr.decode().splitlines()
    assert "IMPP: 1 record had a value with no place on the card" in err
    assert "TEL: 1 record had a type with no place on the card: TEXTPHONE" in err


def test_uids_are_new_unless_kept(tmp_path):
    src = sample("server-4.0.vcf")
    twice = [run("batch", src).stdout for _ in range(2)]
    assert vobject.readOne(twice[0].decode()).uid.value != vobject.readOne(twice[1].decode()).uid.value
    kept = vobject.readOne(run("batch", src, "--keep-uid").stdout.decode())
    assert kept.uid.value.lower() == "4fbe8971-0bc3-424c-9c26-36c3e1eff6b1"
    # A UID that is no UUID gives the same new one on every run.
    other = tmp_path / "x.vcf"
    other.write_text("BEGIN:VCARD\nVERSION:3.0\nFN:A\nUID:contact-17\nEND:VCARD\n")
    uids = {vobject.readOne(run("batch", str(other), "--keep-uid").stdout.decode()).uid.value
            for _ in range(2)}
    assert len(uids) == 1
    # So do many plain cards, which are read in one sweep of the buffer.
    many = tmp_path / "many.vcf"
    given = [f"4fbe8971-0bc3-424c-9c26-36c3e1eff6{i:02d}" for i in range(20)]
    many.write_text("".join(f"BEGIN:VCARD\nVERSION:3.0\nFN:P{i}\nUID:{u}\nEND:VCARD\n"
                            for i, u in enumerate(given)) + "\n" * 100)
    for keep in (True, False):
        out = run("batch", str(many), *(["--keep-uid"] if keep else [])).stdout.decode()
        got = [c.uid.value.lower() for c in vobject.readComponents(out)]
        assert (got == given) == keep
    # Asked of an input that has no UIDs to keep, it is refused.
    csv = tmp_path / "a.csv"
    csv.write_text("NameFamily\nDoe\n")
    r = run("batch", str(csv), "--keep-uid")
    assert r.returncode == 2 and b"--keep-uid" in r.stderr


@pytest.mark.parametrize("name", GOOD + ["broken.vcf"])
def test_tables_read_back_into_the_same_cards(tmp_path, name):
    src = sample(name)
    direct = cards(run("batch", src).stdout)
    for to in ("csv", "jsonl"):
        table = tmp_path / f"t.{to}"
        r = run("batch", src, "--to", to, "-o", str(table))
        assert r.returncode == run("batch", src).returncode
        assert f"written to {table}" in r.stderr.decode()
        assert cards(run("batch", str(table)).stdout) == direct, to
    # And a table into the other kind of table and back.
    csv = tmp_path / "t.csv"
    jsonl = tmp_path / "again.jsonl"
    assert run("batch", str(csv), "--to", "jsonl", "-o", str(jsonl)).returncode == 0
    assert cards(run("batch", str(jsonl)).stdout) == direct


def test_table_columns_hold_data_in_table_order_and_values_as_typed(tmp_path):
    r = run("batch", sample("webmail-3.0.vcf"), "--to", "csv")
    header, first = r.stdout.decode().split("\r\n")[:2]
    names = header.split(",")
    assert names[:4] == ["NameFamily", "NameGiven", "NamePrefix", "FormatedName"]
    assert "Adr3_Street" not in names and "Tel1_Pager" not in names
    # "14 Elm Row\, Flat 2" in the card is typed as "14 Elm Row, Flat 2".
    assert '"14 Elm Row, Flat 2"' in first
    line = run("batch", sample("webmail-3.0.vcf"), "--to", "jsonl").stdout.decode().splitlines()[0]
    assert '"Tel1_Cell":true' in line and '"Adr1_Street":"14 Elm Row, Flat 2"' in line


def test_tables_are_not_for_folders():
    r = run("batch", sample("webmail-3.0.vcf"), "--to", "csv", "--out-dir", "x")
    assert r.returncode == 2 and b"--to" in r.stderr
