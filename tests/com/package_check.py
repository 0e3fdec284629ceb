#!/usr/bin/env python3
"""Checks of the Windows release that need no Wine.

    package_check.py zip MAKE_ZIP MANIFEST ZIP WORKDIR
        The zip holds exactly the release's entries, with one fixed time
        stamp, CR LF line ends in its text files and the built DLLs; made
        again from the same manifest it has the same bytes.

    package_check.py examples VBS BAS EXPECT
        The VBScript and the VBA example share their procedures letter for
        letter, name the same members of the object, and the VBScript's
        property list is the property table (EXPECT --properties).
"""
import pathlib
import re
import subprocess
import sys
import zipfile

ENTRIES = ["LICENSE.txt", "README.txt", "examples/ExportContacts.bas", "examples/contacts.csv",
           "examples/csv-to-vcards.vbs", "install.cmd", "uninstall.cmd", "x64/qv_VCard.dll",
           "x86/qv_VCard.dll"]


class Steps:
    def __init__(self):
        self.failed = 0

    def expect(self, what, got, want):
        ok = got == want
        self.failed += not ok
        print(f"{'ok  ' if ok else 'FAIL'} {what}" + ("" if ok else f": {got!r} (want {want!r})"))


def check_zip(make_zip, manifest, zip_path, workdir):
    steps = Steps()
    sources = dict(l.split("\t") for l in pathlib.Path(manifest).read_text().splitlines() if l)
    with zipfile.ZipFile(zip_path) as z:
        infos = z.infolist()
        steps.expect("entries, in sorted order", [i.filename for i in infos], ENTRIES)
        steps.expect("one fixed time stamp", sorted({i.date_time for i in infos}),
                     [(1980, 1, 1, 0, 0, 0)])
        for info in infos:
            data = z.read(info)
            if info.filename.endswith(".dll"):
                steps.expect(f"{info.filename} is the built DLL",
                             data == pathlib.Path(sources[info.filename]).read_bytes(), True)
                steps.expect(f"{info.filename} is a PE file", data[:2], b"MZ")
            else:
                steps.expect(f"{info.filename}: CR LF line ends only",
                             data.count(b"\n") == data.count(b"\r\n") > 0, True)
    again = pathlib.Path(workdir) / "again.zip"
    again.parent.mkdir(parents=True, exist_ok=True)
    again.unlink(missing_ok=True)
    subprocess.run([sys.executable, make_zip, manifest, str(again)], check=True)
    steps.expect("made again: the same bytes",
                 again.read_bytes() == pathlib.Path(zip_path).read_bytes(), True)
    return steps.failed == 0


def procedures(text):
    """Name -> text of each Sub or Function."""
    found = re.findall(r"^((?:Sub|Function) (\w+)\(.*?^End (?:Sub|Function)$)", text, re.M | re.S)
    return {name: body for body, name in found}


def members(text):
    """Members of the object the code names (after "card.")."""
    return set(re.findall(r"\bcard\.(\w+)", text))


def check_examples(vbs_path, bas_path, expect):
    steps = Steps()
    vbs = pathlib.Path(vbs_path).read_text(encoding="ascii")
    bas = pathlib.Path(bas_path).read_text(encoding="ascii")
    marker = "' ---- From here on, the procedures are the same"
    steps.expect("both mark where the shared part starts", (marker in vbs, marker in bas),
                 (True, True))
    shared_vbs = procedures(vbs[vbs.find(marker):])
    shared_bas = procedures(bas[bas.find(marker):])
    steps.expect("the same shared procedures", sorted(shared_vbs), sorted(shared_bas))
    for name in sorted(set(shared_vbs) & set(shared_bas)):
        steps.expect(f"{name} is the same in both", shared_vbs[name] == shared_bas[name], True)
    steps.expect("the shared part is the same text",
                 vbs[vbs.find(marker):] == bas[bas.find(marker):], True)
    for name in ("Report", "Assign"):
        steps.expect(f"both define {name}", (name in procedures(vbs), name in procedures(bas)),
                     (True, True))

    props = [l.split() for l in subprocess.run([expect, "--properties"], capture_output=True,
                                               text=True, check=True).stdout.splitlines()]
    convert = {"Text": "v", "Flag": "Flag(v)", "Int16": "Int16(v)"}
    wanted = [f'Case "{n.lower()}": card.{n} = {convert[k]}' for n, k in props]
    assign = procedures(vbs).get("Assign", "")
    cases = [l.strip() for l in assign.splitlines() if l.strip().startswith('Case "')]
    steps.expect("csv-to-vcards.vbs assigns every property, by its name in lower case, "
                 "converted to its kind", cases, wanted)
    steps.expect("the VBA module names no member the VBScript does not",
                 sorted(members(bas) - members(vbs)), [])
    steps.expect("both read the card and its file name", {"vCard", "vCardFileName"} <=
                 (members(vbs) & members(bas)), True)
    return steps.failed == 0


def main(argv):
    if len(argv) == 6 and argv[1] == "zip":
        ok = check_zip(*argv[2:])
    elif len(argv) == 5 and argv[1] == "examples":
        ok = check_examples(*argv[2:])
    else:
        raise SystemExit(__doc__)
    print("PASSED" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
