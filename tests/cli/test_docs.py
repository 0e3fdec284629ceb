"""The manual page (made from the README's command-line section) describes
every option and subcommand that qvvcard's own help lists."""
import os
import re

import pytest

from conftest import run

README = os.path.join(os.path.dirname(__file__), "..", "..", "README.md")
MAN = os.environ.get("QVVCARD_MAN", "")


def help_words(*args):
    """The options and subcommands a help text lists."""
    text = run(*args, "--help").stdout.decode()
    options = set(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", text))
    options -= {"--help"}
    subcommands = set()
    if "Subcommands:" in text:
        block = text.split("Subcommands:", 1)[1].split("\n\n", 1)[0]
        subcommands = {line.split()[0] for line in block.splitlines() if line.strip()}
    return options, subcommands


def manual_section():
    text = open(README, encoding="utf-8").read()
    begin, end = text.index("<!-- qvvcard(1) -->"), text.index("<!-- end of qvvcard(1) -->")
    return text[begin:end]


def test_manual_describes_every_option_and_subcommand():
    manual = manual_section()
    options, subcommands = help_words()
    for sub in sorted(subcommands):
        sub_options, _ = help_words(sub)
        options |= sub_options
        assert re.search(rf"^qvvcard {sub}\b", manual, re.M), f"subcommand {sub} not in the manual"
    assert options, "the help lists no options"
    missing = sorted(o for o in options if f"`{o}" not in manual)
    assert not missing, f"options the manual does not describe: {missing}"


def test_manual_page_is_made_from_the_readme():
    if not MAN:
        pytest.skip("no manual page made (go-md2man is not installed)")
    page = open(MAN, encoding="utf-8").read()
    assert page.startswith(".nh\n.TH qvvcard 1"), page[:40]
    for heading in ("NAME", "SYNOPSIS", "OPTIONS", "EXIT STATUS"):
        assert f".SH {heading}" in page
