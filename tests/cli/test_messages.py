"""Messages that say how to fix the mistake: the nearest name for a typo,
hints for the usual slips, sentences for file-system errors, a clean
--help, and the properties command."""
import re
import subprocess

import pytest

from conftest import SEE_HELP, run, write_csv


@pytest.mark.parametrize("args, said", [
    (["NameGivn=Ana"], 'unknown property "NameGivn" (did you mean NameGiven?)'),
    (["batch", "in.csv", "--outdir", "x"], "--outdir (did you mean --out-dir?)"),
    (["batch", "in.csv", "--columns", "outlok"], "(did you mean outlook?)"),
    (["serve", "--prot", "1"], "--prot (did you mean --port?)"),
])
def test_a_typo_gets_the_nearest_name_and_not_every_name(tmp_path, args, said):
    write_csv(tmp_path / "in.csv", ["NameFamily"], ["Doe"])
    r = run(*args, cwd=tmp_path)
    err = r.stderr.decode()
    assert r.returncode == 2 and said in err, err
    assert "Tel4_Video" not in err and len(err.splitlines()) <= 3
    sub = args[0] if args[0] in ("batch", "serve") else None
    if sub:
        assert err.splitlines()[-1] == f'Run "qvvcard {sub} --help" for more information.'
    else:
        assert "qvvcard properties" in err


def test_the_usual_slips_are_explained(tmp_path):
    src = write_csv(tmp_path / "in.csv", ["NameFamily", "NameGiven"], ["Doe", "Jo"])
    r = run("batch", str(src), "out.vcf", cwd=tmp_path)
    assert r.returncode == 2 and "use -o out.vcf" in r.stderr.decode()
    assert not (tmp_path / "out.vcf").exists()
    r = run("batch", "-", stdin=b'{"NameFamily": "Doe"}\n')
    assert r.returncode == 2 and "add --format jsonl" in r.stderr.decode()
    r = run("batch", str(src), "--delimiter", ";")
    assert r.returncode == 2
    assert ('does not split into known columns with the separator ";"; it does with ","'
            in r.stderr.decode())
    assert r.stderr.decode().splitlines()[-1] == SEE_HELP
    # A folder that cannot be made: a sentence with the path and the reason.
    r = run("batch", str(src), "--out-dir", "/proc/no-such/x")
    assert r.returncode == 2
    assert r.stderr.decode().splitlines()[0] == \
        "qvvcard: cannot make the folder /proc/no-such/x: No such file or directory"


def test_help_is_clean_and_lists_every_option():
    for sub in ([], ["batch"], ["serve"], ["properties"]):
        text = run(*sub, "--help").stdout.decode()
        assert not re.search(r"\{\w*\}|:POSITIVE|:NUMBER|:\{", text), text
    batch = run("batch", "--help").stdout.decode()
    for option in ("--no-rfc-escape", "--strict", "--to", "--replace", "--dry-run", "--keep-uid"):
        assert option in batch


def test_properties_lists_each_with_its_kind_and_what_it_holds(tmp_path):
    r = run("properties")
    rows = [l.split(None, 2) for l in r.stdout.decode().splitlines()[1:131]]
    assert r.returncode == 0 and len(rows) == 130
    kinds = {name: kind for name, kind, _ in rows}
    assert (kinds["NameFamily"], kinds["Tel2_Cell"], kinds["GeoLatDeg"], kinds["Geo"]) == \
        ("text", "flag", "number", "text")
    holds = {name: what for name, _, what in rows}
    assert holds["Tel2_Cell"] == "telephone 2 has the type CELL"
    assert holds["Adr3_PostalCode"] == "address 3: postal code (ADR)"
    # The column map it prints is one batch reads as it stands.
    cmap = tmp_path / "start.map"
    cmap.write_bytes(run("properties", "--column-map").stdout)
    src = write_csv(tmp_path / "in.csv", ["First Name", "Last Name", "Mobile", "Photo"],
                    ["Ana", "Li", "+1 555", "x.jpg"])
    r = run("batch", str(src), "--columns", str(cmap))
    assert r.returncode == 0, r.stderr
    assert b"TEL;TYPE=CELL:+1 555\r\n" in r.stdout and b"N:Li;Ana;;;\r\n" in r.stdout


def test_bash_completion_knows_subcommands_options_values_and_properties(tmp_path):
    script = tmp_path / "qvvcard.bash"
    script.write_bytes(run("completion").stdout)
    driver = (f'source {script}\n'
              'for line in "qvvcard batch --dr" "qvvcard batch x --encoding lat" '
              '"qvvcard Tel2_Ce" "qvvcard pro" "qvvcard batch x --columns outl" '
              '"qvvcard serve --thr"; do\n'
              '  COMP_WORDS=($line); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _qvvcard\n'
              '  echo "${COMPREPLY[*]}"\n'
              'done\n')
    r = subprocess.run(["bash", "-c", driver], capture_output=True, timeout=30)
    assert r.stdout.decode().splitlines() == [
        "--dry-run", "latin1 latin-1", "Tel2_Cell=", "properties ", "outlook", "--threads"]
