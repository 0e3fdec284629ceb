#!/usr/bin/env python3
"""Runs qv_VCard.dll under Wine for CTest: 32-bit and 64-bit side by side.

Every subcommand exits 0 only when its checks passed. Wine's cscript exits 0
even when a script fails, so every script ends with a sentinel line that is
checked here.
"""
import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

PROGID_KEY = r"HKCR\qv_VCard.qvVCard"


class Wine:
    def __init__(self, args):
        self.prefix = pathlib.Path(args.prefix)
        self.bins = {"i686": pathlib.Path(args.bin32), "x86_64": pathlib.Path(args.bin64)}
        self.loaders = {
            "i686": args.wine32,
            "x86_64": args.wine64,
        }
        self.create_script = args.create_script
        self.wineserver = str(pathlib.Path(args.wine64).with_name("wineserver"))
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all", LC_ALL="en_US.UTF-8",
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    @staticmethod
    def path(p):
        return "Z:" + str(pathlib.Path(p).resolve()).replace("/", "\\")

    def dll(self, arch):
        return self.path(self.bins[arch] / "qv_VCard.dll")

    def run(self, arch, *argv, locale=None, timeout=180):
        env = dict(self.env)
        if locale:
            env["LC_ALL"] = locale
        # Output goes through a file, not a pipe: Wine's helper processes
        # inherit it and would hold a pipe open until the wineserver exits.
        with tempfile.TemporaryFile() as out:
            p = subprocess.run([self.loaders[arch], *argv], env=env, stdout=out,
                               stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            return p.returncode, out.read().decode("latin-1").replace("\r\n", "\n")

    def cscript(self, arch, script, *args, locale=None):
        return self.run(arch, "cscript.exe", "//nologo", self.path(script), *args, locale=locale)[1]

    def regsvr32(self, arch, *flags):
        return self.run(arch, "regsvr32.exe", "/s", *flags, self.dll(arch))[0]

    def progid_registered(self):
        return self.run("x86_64", "reg.exe", "query", PROGID_KEY)[0] == 0


def sentinel_ok(out, name):
    """Prints the script's output; passes when it has no FAIL line and ends in DONE failed=0."""
    print(out, end="")
    lines = [l for l in out.split("\n") if l]
    ok = bool(lines) and lines[-1] == "DONE failed=0" and not any(l.startswith("FAIL") for l in lines)
    if not ok:
        print(f"{name}: script did not finish cleanly")
    return ok


def setup(wine, _args):
    shutil.rmtree(wine.prefix, ignore_errors=True)
    rc, _ = wine.run("x86_64", "wineboot.exe", "-i", timeout=300)
    if rc != 0:
        print("wineboot failed")
        return False
    ok = True
    for arch in ("i686", "x86_64"):
        rc = wine.regsvr32(arch)
        print(f"regsvr32 {arch}: exit {rc}")
        ok = ok and rc == 0
    return ok


def client(wine, args):
    rc, out = wine.run(args.arch, str(wine.bins[args.arch] / "qv_vcard_com_client.exe"),
                       wine.dll(args.arch), args.mode)
    print(out, end="")
    return rc == 0 and re.search(r"^CLIENT RESULT passed=[1-9]\d* failed=0$", out, re.M) is not None


def script(wine, args):
    return sentinel_ok(wine.cscript(args.arch, args.script, *args.script_args, locale=args.locale),
                       args.script)


def example(wine, args):
    """The README example, run as written: it prints the card and its file name.

    When the README shows a ```vbscript block, it must be this very script.
    """
    readme = pathlib.Path(args.readme).read_text(encoding="utf-8") if args.readme else ""
    shown = re.search(r"^```vbscript\n(.*?)^```", readme, re.M | re.S)
    if shown and shown.group(1) != pathlib.Path(args.script).read_text():
        print(f"the example in {args.readme} differs from {args.script}")
        return False
    out = wine.cscript(args.arch, args.script)
    print(out, end="")
    lines = out.split("\n")
    wanted = ["BEGIN:VCARD", "N:Doe;John;;;", "FN:Doe John  ", "TEL;TYPE=CELL:+1-555-0100",
              "END:VCARD", "Doe John.vcf"]
    return all(w in lines for w in wanted) and lines[-2:] == ["Doe John.vcf", ""]


def create_status(wine, arch):
    out = wine.cscript(arch, wine.create_script)
    m = re.search(r"^CREATE (-?\d+)$", out, re.M)
    return int(m.group(1)) if m else None


def side_by_side(wine, args):
    """Unregisters one bitness, then the other; each step checked from both."""
    steps = []

    def expect(what, got, want):
        steps.append(got == want)
        print(f"{'ok  ' if got == want else 'FAIL'} {what}: {got!r} (want {want!r})")

    def client_passes(arch, mode):
        rc, out = wine.run(arch, str(wine.bins[arch] / "qv_vcard_com_client.exe"), wine.dll(arch), mode)
        if rc != 0:
            print(out, end="")
        return rc == 0

    expect("both registered: 32-bit CreateObject error", create_status(wine, "i686"), 0)
    expect("both registered: 64-bit CreateObject error", create_status(wine, "x86_64"), 0)
    expect("regsvr32 /u 32-bit", wine.regsvr32("i686", "/u"), 0)
    expect("32-bit CreateObject after its unregistration", create_status(wine, "i686"), 429)
    expect("32-bit client sees the class unregistered", client_passes("i686", "unregistered"), True)
    expect("shared ProgID kept for the 64-bit server", wine.progid_registered(), True)
    expect("64-bit CreateObject still works", create_status(wine, "x86_64"), 0)
    expect("64-bit client still passes", client_passes("x86_64", "registered"), True)
    expect("regsvr32 /u 64-bit", wine.regsvr32("x86_64", "/u"), 0)
    expect("64-bit CreateObject after its unregistration", create_status(wine, "x86_64"), 429)
    expect("64-bit client sees the class unregistered", client_passes("x86_64", "unregistered"), True)
    expect("ProgID removed with the last server", wine.progid_registered(), False)
    if all(steps):
        # The prefix is large; keep it only when something failed.
        subprocess.run([wine.wineserver, "-w"], env=wine.env, timeout=60)
        shutil.rmtree(wine.prefix, ignore_errors=True)
    return all(steps)


# ---- cards: the shared corpus and every property, compared with the core ----

def load_cases(args):
    import json
    with open(args.corpus, encoding="utf-8") as f:
        corpus = json.load(f)["cases"]
    props = [l.split() for l in subprocess.run([args.expect, "--properties"], capture_output=True,
                                               text=True, check=True).stdout.splitlines()]
    # One card with every property assigned, and one with texts beyond ASCII.
    every = {"name": "every property assigned", "set": []}
    accents = {"name": "every text with Western European letters", "set": []}
    for i, (name, kind) in enumerate(props):
        if kind == "Text":
            every["set"].append([name, f"{name} {i};x"])
            accents["set"].append([name, f"\u00c4\u00e9\u00df {i} \u20ac"])
        else:
            every["set"].append([name, -1 if kind == "Flag" else i % 60])
    return corpus + [every, accents], props


def units(text):
    data = text.encode("utf-16-le", "surrogatepass")
    return [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]


def in_ansi(case):
    try:
        for _, v in case["set"]:
            if isinstance(v, str):
                v.encode("cp1252")
        return True
    except UnicodeEncodeError:
        return False


def vbs_literal(text):
    parts, run = [], ""
    for ch in text:
        if 32 <= ord(ch) < 127:
            run += '""' if ch == '"' else ch
            continue
        if run:
            parts.append(f'"{run}"')
            run = ""
        parts.append(f"Chr({ch.encode('cp1252')[0]})")
    if run or not parts:
        parts.append(f'"{run}"')
    return " & ".join(parts)


def js_literal(text):
    return '"' + "".join(chr(u) if 32 <= u < 127 and chr(u) not in '"\\' else f"\\u{u:04X}"
                         for u in units(text)) + '"'


def value_literal(v, lang):
    if isinstance(v, str):
        return vbs_literal(v) if lang == "vbs" else js_literal(v)
    return str(int(v))


def vbs_script(cases, props, header):
    lines = [header]
    for i, case in enumerate(cases):
        lines.append('Set o = CreateObject("qv_VCard.qvVCard")')
        lines.append(f'Out "CASE {i}"')
        lines += [f"o.{name} = {value_literal(v, 'vbs')}" for name, v in case["set"]]
        lines += [f'Rd "{name}", o.{name}' for name, _ in props]
        lines += ["Card o", 'Out "END"']
    lines.append('Out "DONE failed=0"')
    return "\r\n".join(lines) + "\r\n"


def js_script(cases, props, header):
    data = ",\n".join(
        "{set: [%s]}" % ", ".join(f"[\"{n}\", {value_literal(v, 'js')}]" for n, v in c["set"])
        for c in cases)
    plist = ", ".join(f'["{n}", "{k}"]' for n, k in props)
    return header + f"\nvar props = [{plist}];\nvar cases = [\n{data}];\nrun(cases, props);\n"


def parse(out, ansi):
    """Case name -> lines, with the script's escapes brought to the core's form."""
    def unescape_ansi(m):
        code = int(m.group(1), 16)
        try:
            ch = bytes([code]).decode("cp1252")
        except UnicodeDecodeError:
            ch = chr(code)
        return "".join(c if 32 <= ord(c) < 127 and c != "\\" else f"\\u{ord(c):04X}" for c in ch)

    result, current = {}, None
    for line in out.split("\n"):
        if ansi:
            line = re.sub(r"\\x([0-9A-F]{4})", unescape_ansi, line)
        if line.startswith("CASE "):
            current = result.setdefault(line[5:], [])
        elif current is not None and line and not line.startswith("END") and not line.startswith("DONE"):
            current.append(line)
    return result


def stable(lines):
    """The lines with the values of REV and UID, which change on every read, masked."""
    out = []
    for l in lines:
        if l.startswith("CARD "):
            body = [x[:4] + "*" if x.startswith(("REV:", "UID:")) else x
                    for x in l[5:].split("\\u000D\\u000A")]
            l = "CARD " + "|".join(body)
        out.append(l)
    return out


def cards(wine, args):
    cases, props = load_cases(args)
    lang = args.lang
    skipped = []
    if lang == "vbs":
        # Wine's VBScript has no ChrW: texts outside the ANSI code page go
        # through JScript only.
        skipped = [c["name"] for c in cases if not in_ansi(c)]
        cases = [c for c in cases if in_ansi(c)]
    helper_input = []
    for i, c in enumerate(cases):
        helper_input.append(f"CASE {i}")
        for name, v in c["set"]:
            if isinstance(v, str):
                helper_input.append(f"SET {name} T " + " ".join(f"{u:04X}" for u in units(v)))
            else:
                helper_input.append(f"SET {name} I {int(v)}")
        helper_input.append("END")
    expected = parse(subprocess.run([args.expect], input="\n".join(helper_input) + "\n",
                                    capture_output=True, text=True, check=True).stdout, False)

    header = pathlib.Path(args.header).read_text()
    work = pathlib.Path(args.workdir)
    work.mkdir(parents=True, exist_ok=True)
    path = work / f"cards_{args.arch}.{lang}"
    text = vbs_script(cases, props, header) if lang == "vbs" else js_script(cases, props, header)
    path.write_text(text, encoding="ascii")
    out = wine.cscript(args.arch, path)
    if not out.rstrip("\n").endswith("DONE failed=0"):
        print(out)
        print("script did not finish")
        return False
    got = parse(out, lang == "vbs")

    failures = 0
    for i, c in enumerate(cases):
        name = c["name"]
        have, want = got.get(str(i), []), expected.get(str(i))
        if stable(have) != stable(want):
            failures += 1
            diff = [f"  server: {h}\n  core:   {w}" for h, w in zip(stable(have), stable(want)) if h != w]
            print(f"FAIL {name}: differs from the core\n" + "\n".join(diff or ["  (line count)"]))
    print(f"{len(cases) - failures} of {len(cases)} cases match ({lang}, {args.arch})"
          + (f"; {len(skipped)} left to JScript: {skipped}" if skipped else ""))
    return failures == 0 and len(cases) > 0


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--prefix", required=True)
    p.add_argument("--bin32", required=True)
    p.add_argument("--bin64", required=True)
    p.add_argument("--wine32", required=True)
    p.add_argument("--wine64", required=True)
    p.add_argument("--create-script", dest="create_script")
    sub = p.add_subparsers(dest="command", required=True)
    sub.add_parser("setup")
    s = sub.add_parser("client")
    s.add_argument("arch")
    s.add_argument("mode")
    s = sub.add_parser("script")
    s.add_argument("arch")
    s.add_argument("script")
    s.add_argument("script_args", nargs="*")
    s.add_argument("--locale")
    s = sub.add_parser("example")
    s.add_argument("arch")
    s.add_argument("script")
    s.add_argument("--readme")
    sub.add_parser("side-by-side")
    s = sub.add_parser("cards")
    s.add_argument("arch")
    s.add_argument("lang", choices=["vbs", "js"])
    s.add_argument("--corpus", required=True)
    s.add_argument("--expect", required=True)
    s.add_argument("--header", required=True)
    s.add_argument("--workdir", required=True)
    args = p.parse_args()
    wine = Wine(args)
    command = {"setup": setup, "client": client, "script": script, "example": example,
               "side-by-side": side_by_side, "cards": cards}[args.command]
    ok = command(wine, args)
    print("PASSED" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
