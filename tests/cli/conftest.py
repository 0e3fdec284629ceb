"""Helpers for driving the built qvvcard binary as a user would."""
import os
import re
import subprocess

import pytest

QVVCARD = os.environ.get("QVVCARD", "qvvcard")
# The same tool with its test seams reachable through QVVCARD_TEST_*.
SEAMED = os.environ.get("QVVCARD_SEAMED", QVVCARD)
EXAMPLES = os.environ.get("QVVCARD_EXAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
CORPUS = os.environ.get("QVVCARD_CORPUS", os.path.join(os.path.dirname(__file__), "..", "corpus", "cards.json"))

# The last line of every refusal of batch.
SEE_HELP = 'Run "qvvcard batch --help" for more information.'

# What the stamp lines of a card look like.
STAMP_PATTERNS = {
    "REV:*": re.compile(r"REV:\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z"),
    "UID:*": re.compile(r"UID:[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"),
}


def run(*args, stdin=None, env=None, cwd=None, timeout=120, program=QVVCARD):
    """Runs qvvcard with bytes in and out; args may be str or bytes."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    return subprocess.run([program, *args], input=stdin, capture_output=True, env=full_env,
                          cwd=cwd, timeout=timeout)


def split_cards(data: bytes):
    """The cards of an output file: each ends with END:VCARD and CR LF."""
    text = data.decode("utf-8")
    assert text == "" or text.endswith("END:VCARD\r\n"), repr(text[-40:])
    return [c + "END:VCARD" for c in text.split("END:VCARD\r\n")[:-1]]


def card_lines(card: str):
    lines = card.split("\r\n")
    assert lines[0] == "BEGIN:VCARD" and lines[-1] == "END:VCARD", lines
    return lines


def matches(card: str, expected_lines):
    """Whether a card has exactly the expected lines, the stamps by pattern."""
    lines = card_lines(card)
    if len(lines) != len(expected_lines):
        return False
    for got, want in zip(lines, expected_lines):
        pattern = STAMP_PATTERNS.get(want)
        if not (pattern.fullmatch(got) if pattern else got == want):
            return False
    return True


def without_stamps(card: str):
    return [l for l in card_lines(card) if not l.startswith(("REV:", "UID:"))]


def write_csv(path, header, *rows, bom=False, newline="\r\n"):
    """Writes a CSV file from already-quoted cells."""
    text = newline.join([",".join(header), *(",".join(r) for r in rows)]) + newline
    path.write_bytes((b"\xef\xbb\xbf" if bom else b"") + text.encode("utf-8"))
    return path


def entries(folder):
    """Every name in a folder, hidden ones included."""
    return sorted(os.listdir(folder))


@pytest.fixture
def examples():
    return EXAMPLES
