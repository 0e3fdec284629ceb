"""Running an import again into the same folder: numbered names counted,
--replace, and --dry-run."""
import os

import vobject

from conftest import entries, run, write_csv


def people(tmp_path, *rows):
    return write_csv(tmp_path / "in.csv", ["FormatedName", "Note", "Key"], *rows)


def notes(folder):
    return {n: vobject.readOne(open(folder / n, encoding="utf-8")).note.value
            for n in entries(folder) if n.startswith("Ana")}


def test_a_second_run_says_how_many_names_were_numbered(tmp_path):
    src = people(tmp_path, ["Priya Raman", "a", "1"], ["Ken Ito", "b", "2"])
    out = tmp_path / "cards"
    assert run("batch", str(src), "--out-dir", str(out), "--uid-from", "Key").returncode == 0
    r = run("batch", str(src), "--out-dir", str(out), "--uid-from", "Key")
    assert r.returncode == 0
    assert (f"2 cards written to {out} (2 of them with a numbered name, as the name was taken "
            "before the run; --replace replaces such files)") in r.stderr.decode()
    assert entries(out) == ["Ken Ito (2).vcf", "Ken Ito.vcf", "Priya Raman (2).vcf", "Priya Raman.vcf"]


def test_replace_updates_the_files_of_before_and_numbers_names_met_twice(tmp_path):
    out = tmp_path / "cards"
    out.mkdir()
    (out / "Other.vcf").write_text("kept")
    first = people(tmp_path, ["Ana Li", "old", "k1"], ["Ana Li", "old twin", "k2"])
    assert run("batch", str(first), "--uid-from", "Key", "--out-dir", str(out)).returncode == 0
    uids = {n: vobject.readOne(open(out / n)).uid.value for n in ("Ana Li.vcf", "Ana Li (2).vcf")}
    again = people(tmp_path, ["ana li", "new", "k1"], ["Ana Li", "new twin", "k2"], ["Ana Li", "third", "k3"])
    r = run("batch", str(again), "--uid-from", "Key", "--out-dir", str(out), "--replace")
    assert r.returncode == 0
    assert "3 cards written to" in r.stderr.decode() and "2 of them replacing" in r.stderr.decode()
    # The files keep their names (as they were spelt), get the new cards,
    # and with --uid-from keep their UIDs: an address book updates them.
    assert notes(out) == {"Ana Li.vcf": "new", "Ana Li (2).vcf": "new twin", "Ana Li (3).vcf": "third"}
    assert {n: vobject.readOne(open(out / n)).uid.value for n in uids} == uids
    assert (out / "Other.vcf").read_text() == "kept"


def test_replace_needs_a_folder(tmp_path):
    src = people(tmp_path, ["A", "", ""])
    r = run("batch", str(src), "--replace", "-o", str(tmp_path / "x.vcf"))
    assert r.returncode == 2 and b"--out-dir" in r.stderr


def test_dry_run_checks_everything_and_writes_nothing(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["FormatedName", "GeoLatDeg", "Tel1_Number"],
                    ["A", "1", ""], ["B", "", "+1 555"], ["C", "", ""])
    out = tmp_path / "cards"
    r = run("batch", str(src), "--out-dir", str(out), "--dry-run")
    real_status = 1  # record 1 has a latitude without its hemisphere
    assert r.returncode == real_status
    err = r.stderr.decode().splitlines()
    assert err[0] == "record 1: GeoLat: GeoLat is empty: give N or S"
    assert err[1].startswith("Tel1_*: 1 card left the telephone number out")
    assert err[-1] == f"qvvcard: dry run: 2 cards would be written to {out}, 1 record skipped"
    assert not out.exists()
    # Into an existing folder, names taken are counted as a real run counts them.
    out.mkdir()
    (out / "C.vcf").write_text("old")
    r = run("batch", str(src), "--out-dir", str(out), "--dry-run")
    assert "(1 of them with a numbered name" in r.stderr.decode()
    assert entries(out) == ["C.vcf"]
    # A file output stays as it was; standard output gets nothing.
    target = tmp_path / "all.vcf"
    target.write_text("old")
    r = run("batch", str(src), "-o", str(target), "--dry-run")
    assert target.read_text() == "old" and entries(tmp_path) == ["all.vcf", "cards", "in.csv"]
    r = run("batch", str(src), "--dry-run", "--to", "jsonl")
    assert r.stdout == b"" and b"dry run: 2 records would be written" in r.stderr
