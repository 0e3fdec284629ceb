"""-o writes to what the user named, fails loudly, and counts only what arrived."""
import os
import resource
import stat
import subprocess
import threading

import pytest

from conftest import QVVCARD, entries, run, split_cards, write_csv


def contacts(tmp_path, n=3):
    return write_csv(tmp_path / "in.csv", ["NameFamily", "Note"],
                     *[[f"Family{i}", "x" * 200] for i in range(n)])


def test_regular_files_links_and_modes(tmp_path):
    src = contacts(tmp_path)
    target = tmp_path / "private.vcf"
    target.write_bytes(b"old")
    target.chmod(0o600)
    link = tmp_path / "link.vcf"
    link.symlink_to("private.vcf")
    r = run("batch", str(src), "-o", str(link))
    assert r.returncode == 0, r.stderr
    assert link.is_symlink() and len(split_cards(target.read_bytes())) == 3
    assert stat.S_IMODE(target.stat().st_mode) == 0o600
    assert sorted(entries(tmp_path)) == ["in.csv", "link.vcf", "private.vcf"]


@pytest.mark.parametrize("name", ["in.csv", "hard link", "standard input"])
def test_the_input_is_never_the_output(tmp_path, name):
    src = contacts(tmp_path)
    before = src.read_bytes()
    if name == "standard input":
        with open(src, "rb") as i, open(src, "ab") as o:
            p = subprocess.run([QVVCARD, "batch", "-"], stdin=i, stdout=o, stderr=subprocess.PIPE)
        assert p.returncode == 2 and b"is the input" in p.stderr
    else:
        out = src
        if name == "hard link":
            out = tmp_path / "out.vcf"
            os.link(src, out)
        r = run("batch", str(src), "-o", str(out))
        assert r.returncode == 2 and b"is the input" in r.stderr and b"nothing was written" in r.stderr
    assert src.read_bytes() == before


def test_streams_are_written_directly(tmp_path):
    src = contacts(tmp_path)
    r = run("batch", str(src), "-o", "/dev/stdout", "-q")
    assert r.returncode == 0 and len(split_cards(r.stdout)) == 3
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    got = {}
    reader = threading.Thread(target=lambda: got.setdefault("data", fifo.read_bytes()))
    reader.start()
    r = run("batch", str(src), "-o", str(fifo), timeout=30)
    reader.join(30)
    assert r.returncode == 0, r.stderr
    assert stat.S_ISFIFO(fifo.lstat().st_mode) and len(split_cards(got["data"])) == 3
    assert b"3 cards written to " + str(fifo).encode() in r.stderr


def test_a_full_device_is_an_error_not_a_success(tmp_path):
    src = contacts(tmp_path)
    r = run("batch", str(src), "-o", "/dev/full")
    assert r.returncode == 2
    err = r.stderr.decode()
    assert "cannot write /dev/full: No space left on device" in err
    assert "stopped after 0 cards written to /dev/full" in err
    with open("/dev/full", "wb") as full:
        p = subprocess.run([QVVCARD, "NameFamily=x"], stdout=full, stderr=subprocess.PIPE)
    assert p.returncode == 2 and b"cannot write standard output: No space left" in p.stderr


def test_a_private_device_node_stays_a_device(tmp_path):
    node = tmp_path / "full"
    try:
        os.mknod(node, stat.S_IFCHR | 0o666, os.makedev(1, 7))  # a /dev/full of our own
    except PermissionError:
        pytest.skip("creating a device node needs root")
    r = run("batch", str(contacts(tmp_path)), "-o", str(node))
    assert r.returncode == 2 and b"No space left on device" in r.stderr
    assert stat.S_ISCHR(node.lstat().st_mode)


def limited(size):
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))


@pytest.mark.parametrize("target", ["file", "dir"])
def test_a_file_size_limit_is_a_write_error(tmp_path, target):
    src = contacts(tmp_path, 50)
    out = tmp_path / ("all.vcf" if target == "file" else "cards")
    flag = "-o" if target == "file" else "--out-dir"
    p = subprocess.run([QVVCARD, "batch", str(src), flag, str(out)], capture_output=True,
                       preexec_fn=limited(1000 if target == "file" else 100))
    assert p.returncode == 2, p.stderr
    err = p.stderr.decode()
    assert "File too large" in err
    # Only what is on disk is counted.
    written = 0 if target == "file" else len(entries(out))
    assert f"stopped after {written} cards written to {out}" in err
    if target == "file":
        assert not out.exists()


def test_a_run_that_makes_no_card_leaves_the_file_as_it_was(tmp_path):
    old = tmp_path / "old.vcf"
    old.write_bytes(b"keep\n")
    bad = write_csv(tmp_path / "bad.csv", ["NameFamily", "GeoLatDeg"], ["A", "99999"], ["B", "x"])
    r = run("batch", str(bad), "-o", str(old))
    assert r.returncode == 1 and old.read_bytes() == b"keep\n"
    assert r.stderr.decode().splitlines()[-1] == (
        f"qvvcard: 0 cards written to {old} (it was left as it was), 2 records skipped")
    empty = write_csv(tmp_path / "empty.csv", ["NameFamily"])
    assert run("batch", str(empty), "-o", str(old), "-q").returncode == 0
    assert old.read_bytes() == b"keep\n"
    good = write_csv(tmp_path / "good.csv", ["NameFamily"], ["A"])
    assert run("batch", str(good), "-o", str(old), "-q").returncode == 0
    assert old.read_bytes().startswith(b"BEGIN:VCARD")
