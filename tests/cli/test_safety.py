"""An interrupted run leaves complete cards only, and no temporary files.

SIGKILL ends the tool in the middle of a card: anonymous files vanish with
the process. SIGINT and SIGTERM let it finish the card in hand, clean up,
report what reached its destination and exit 128 + the signal; where
anonymous files are not available, the tool's hidden names are removed."""
import os
import signal
import subprocess
import time

import pytest

from conftest import SEAMED, entries, run, split_cards, write_csv

MODES = {"anonymous": ({}, signal.SIGKILL, ""),
         "named": ({"QVVCARD_TEST_NAMED_TEMP": "1"}, signal.SIGTERM, ":TERM")}


def exit_status(sig):
    """How the run ends: killed outright, or stopping on its own."""
    return -sig if sig == signal.SIGKILL else 128 + sig


def contacts(tmp_path, n):
    rows = [[f"Family{i}", f"Given{i}", f'"Note {i}, with a comma"'] for i in range(n)]
    return write_csv(tmp_path / "in.csv", ["NameFamily", "NameGiven", "Note"], *rows)


def assert_only_complete_cards(folder):
    for name in entries(folder):
        assert name.endswith(".vcf") and not name.startswith("."), name
        (card,) = split_cards((folder / name).read_bytes())
        assert card.startswith("BEGIN:VCARD\r\n")


@pytest.mark.parametrize("mode", MODES)
def test_interrupted_while_writing_a_card_into_a_folder(tmp_path, mode):
    env, sig, suffix = MODES[mode]
    out = tmp_path / "cards"
    r = run("batch", str(contacts(tmp_path, 10)), "--out-dir", str(out),
            env={**env, "QVVCARD_TEST_INTERRUPT": "5" + suffix}, program=SEAMED)
    assert r.returncode == exit_status(sig)
    assert_only_complete_cards(out)
    # Killed while writing card 5, or stopping once card 5 is complete.
    done = 4 if sig == signal.SIGKILL else 5
    assert len(entries(out)) == done
    if sig != signal.SIGKILL:
        assert r.stderr.decode().endswith(
            f"qvvcard: interrupted by SIGTERM: {done} cards written to {out}, 0 records skipped\n")


@pytest.mark.parametrize("mode", MODES)
def test_interrupted_while_writing_one_file(tmp_path, mode):
    env, sig, suffix = MODES[mode]
    src = contacts(tmp_path, 10)
    out = tmp_path / "out"
    out.mkdir()
    (out / "all.vcf").write_bytes(b"old")
    r = run("batch", str(src), "--output", str(out / "all.vcf"),
            env={**env, "QVVCARD_TEST_INTERRUPT": "5" + suffix}, program=SEAMED)
    assert r.returncode == exit_status(sig)
    assert entries(out) == ["all.vcf"]
    assert (out / "all.vcf").read_bytes() == b"old"
    if sig != signal.SIGKILL:
        assert "interrupted by SIGTERM: 0 cards written to" in r.stderr.decode()
        assert "(left as it was)" in r.stderr.decode()
    # Without the interruption the same run replaces the file.
    r = run("batch", str(src), "--output", str(out / "all.vcf"), env=env, program=SEAMED)
    assert r.returncode == 0 and len(split_cards((out / "all.vcf").read_bytes())) == 10
    assert entries(out) == ["all.vcf"]


def cards_in(folder):
    return sum(n.endswith(".vcf") for n in os.listdir(folder)) if folder.exists() else 0


@pytest.mark.parametrize("mode", MODES)
def test_stopped_from_outside_mid_run(tmp_path, mode):
    env, sig, _ = MODES[mode]
    src = contacts(tmp_path, 200_000)
    out = tmp_path / "cards"
    full_env = {**os.environ, **env}
    p = subprocess.Popen([SEAMED, "batch", str(src), "--out-dir", str(out)], env=full_env,
                         stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and cards_in(out) < 200:
            time.sleep(0.01)
        assert p.poll() is None, "the run ended before it could be stopped"
        p.send_signal(sig)
        p.wait(timeout=60)
    finally:
        if p.poll() is None:
            p.kill()
            p.wait()
    assert p.returncode == exit_status(sig)
    assert_only_complete_cards(out)
    assert 200 <= len(entries(out)) < 200_000
    if sig != signal.SIGKILL:
        # The summary counts exactly the cards on disk.
        summary = p.stderr.read().decode().splitlines()[-1]
        assert summary == (f"qvvcard: interrupted by SIGTERM: {len(entries(out))} cards written "
                           f"to {out}, 0 records skipped"), summary


def test_a_column_map_is_read_bounded_and_a_waiting_one_stops(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["Surname"], ["Doe"])
    # A map that never ends is refused at its size bound.
    r = run("batch", str(src), "--columns", "/dev/zero", timeout=30)
    assert r.returncode == 2 and b"is larger than 1048576 bytes" in r.stderr
    # A FIFO without a writer: the first SIGTERM ends the wait.
    fifo = tmp_path / "map.fifo"
    os.mkfifo(fifo)
    p = subprocess.Popen([SEAMED, "batch", str(src), "--columns", str(fifo)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(0.3)
    p.send_signal(signal.SIGTERM)
    out, err = p.communicate(timeout=10)
    assert p.returncode == 128 + signal.SIGTERM, err
    assert b"interrupted by SIGTERM" in err and out == b""
    # A large map is read in one pass (each line against the ones before it
    # would take quadratic time).
    lines = "".join(f"Column {i} =\n" for i in range(40000)) + "Surname = NameFamily\n"
    (tmp_path / "big.map").write_text(lines)
    r = run("batch", str(src), "--columns", str(tmp_path / "big.map"), "-q")
    assert r.returncode == 0 and b"N:Doe;" in r.stdout, r.stderr
