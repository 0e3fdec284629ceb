"""The shared corpus of assignments and cards, through the command line.

The corpus holds values as the card stores them, so the tool takes them
unescaped (--no-rfc-escape)."""
import json

import pytest

from conftest import CORPUS, matches, run, split_cards

with open(CORPUS, encoding="utf-8") as f:
    CASES = json.load(f)["cases"]


def assignments(case):
    """The case's assignments, with the hemisphere the card reads for an empty
    one (south, east) where degrees, minutes or seconds come without it: the
    tool refuses a position without its hemispheres."""
    pairs = list(case["set"])
    given = {name for name, _ in pairs}
    for axis, empty in (("GeoLat", "S"), ("GeoLon", "E")):
        if axis not in given and any(name.startswith(axis) and str(value).strip("0 ") not in ("", "-")
                                     for name, value in pairs):
            pairs.append((axis, empty))
    return pairs


def arguments(case):
    # "--" ends the options, so a case without assignments prints the new card.
    return ["--no-rfc-escape", "--"] + [f"{name}={value}" for name, value in assignments(case)]


@pytest.mark.parametrize("case", CASES, ids=[c["name"] for c in CASES])
def test_case_as_arguments(case):
    r = run(*arguments(case))
    if "status" in case:
        assert r.returncode == 1 and r.stdout == b""
        assert f"vCard: 16-bit overflow ({case['status']})" in r.stderr.decode()
    else:
        assert r.returncode == 0, r.stderr
        assert r.stdout.endswith(b"\r\n")
        assert matches(r.stdout.decode()[:-2], case["card"]), r.stdout
    r = run("--get", "vCardFileName", *arguments(case))
    assert r.returncode == 0
    assert r.stdout.decode() == case["vCardFileName"] + "\n"


def test_all_cases_as_json_lines():
    lines = "".join(json.dumps(dict(assignments(c))) + "\n" for c in CASES)
    r = run("batch", "-", "--format", "jsonl", "--no-rfc-escape", stdin=lines.encode())
    # A case that assigns nothing, or only empty values, is no record.
    records = [c for c in CASES if any(v not in ("", None) for _, v in c["set"])]
    failing = [i + 1 for i, c in enumerate(records) if "status" in c]
    assert r.returncode == (1 if failing else 0)
    for n in failing:
        assert f"record {n}: vCard: 16-bit overflow".encode() in r.stderr
    expected = [c["card"] for c in records if "status" not in c]
    cards = split_cards(r.stdout)
    assert len(cards) == len(expected)
    for card, lines in zip(cards, expected):
        assert matches(card, lines), card
