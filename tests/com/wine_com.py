#!/usr/bin/env python3
"""Runs qv_VCard.dll under Wine for CTest: 32-bit and 64-bit side by side.

Every subcommand exits 0 only when its checks passed. Wine's cscript exits 0
even when a script fails, so every script ends with a sentinel line that is
checked here.

Some hosts cannot execute 32-bit x86 programs at all (the 32-bit Wine loader
fails with "Exec format error"). What the host can run is found out once, by
starting each loader, and kept next to the prefix; a check that needs a
loader the host cannot run exits with SKIP (77) and says why, so CTest shows
it as skipped. Nothing else is ever turned into a skip.
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
SKIP = 77
ARCHES = ("i686", "x86_64")


class Unavailable(Exception):
    """The host cannot run the loader a check needs."""


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
        self.host_file = self.prefix.with_name(self.prefix.name + "-host.txt")

    def probe(self, arch):
        """Whether this host can start the loader of arch: (True, '') or (False, why)."""
        try:
            p = subprocess.run([self.loaders[arch], "--version"], env=self.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL, timeout=60)
        except OSError as e:
            return False, f"{self.loaders[arch]}: {e.strerror}"
        except subprocess.TimeoutExpired:
            return False, f"{self.loaders[arch]} --version did not answer within 60 s"
        if p.returncode != 0:
            return False, f"{self.loaders[arch]} --version exited {p.returncode}"
        return True, ""

    def host(self):
        """arch -> reason it cannot run ('' when it can), probed once per prefix."""
        if not self.host_file.exists():
            lines = []
            for arch in ARCHES:
                ok, why = self.probe(arch)
                lines.append(f"{arch}\t{'' if ok else why}")
            self.host_file.write_text("\n".join(lines) + "\n")
        result = {}
        for line in self.host_file.read_text().splitlines():
            arch, _, why = line.partition("\t")
            result[arch] = why
        return result

    def runnable(self):
        return [a for a in ARCHES if not self.host().get(a)]

    def require(self, arch):
        why = self.host().get(arch, "unknown architecture")
        if why:
            raise Unavailable(f"the {arch} server was built but this host cannot run it ({why})")

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
    wine.host_file.unlink(missing_ok=True)
    for arch, why in wine.host().items():
        print(f"{arch}: {'runs on this host' if not why else 'cannot run here: ' + why}")
    wine.require("x86_64")
    rc, _ = wine.run("x86_64", "wineboot.exe", "-i", timeout=300)
    if rc != 0:
        print("wineboot failed")
        return False
    ok = True
    for arch in wine.runnable():
        rc = wine.regsvr32(arch)
        print(f"regsvr32 {arch}: exit {rc}")
        ok = ok and rc == 0
    return ok


def client(wine, args):
    wine.require(args.arch)
    rc, out = wine.run(args.arch, str(wine.bins[args.arch] / "qv_vcard_com_client.exe"),
                       wine.dll(args.arch), args.mode)
    print(out, end="")
    return rc == 0 and re.search(r"^CLIENT RESULT passed=[1-9]\d* failed=0$", out, re.M) is not None


def script(wine, args):
    wine.require(args.arch)
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
    wine.require(args.arch)
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


class Steps:
    def __init__(self):
        self.results = []

    def expect(self, what, got, want):
        self.results.append(got == want)
        print(f"{'ok  ' if got == want else 'FAIL'} {what}: {got!r} (want {want!r})")

    def passed(self):
        return all(self.results)


def client_passes(wine, arch, mode):
    rc, out = wine.run(arch, str(wine.bins[arch] / "qv_vcard_com_client.exe"), wine.dll(arch), mode)
    if rc != 0:
        print(out, end="")
    return rc == 0


def side_by_side(wine, _args):
    """Unregisters the 32-bit server while the 64-bit one stays, then registers it again."""
    wine.require("i686")
    steps = Steps()
    steps.expect("both registered: 32-bit CreateObject error", create_status(wine, "i686"), 0)
    steps.expect("both registered: 64-bit CreateObject error", create_status(wine, "x86_64"), 0)
    steps.expect("regsvr32 /u 32-bit", wine.regsvr32("i686", "/u"), 0)
    steps.expect("32-bit CreateObject after its unregistration", create_status(wine, "i686"), 429)
    steps.expect("32-bit client sees the class unregistered",
                 client_passes(wine, "i686", "unregistered"), True)
    steps.expect("shared ProgID kept for the 64-bit server", wine.progid_registered(), True)
    steps.expect("64-bit CreateObject still works", create_status(wine, "x86_64"), 0)
    steps.expect("64-bit client still passes", client_passes(wine, "x86_64", "registered"), True)
    steps.expect("regsvr32 32-bit again", wine.regsvr32("i686"), 0)
    steps.expect("32-bit CreateObject after registering again", create_status(wine, "i686"), 0)
    return steps.passed()


def unregister(wine, _args):
    """Unregisters every server setup registered, the 64-bit one last; each step checked."""
    steps = Steps()
    runnable = wine.runnable()
    for arch in [a for a in ARCHES if a in runnable]:
        last = arch == "x86_64"
        steps.expect(f"regsvr32 /u {arch}", wine.regsvr32(arch, "/u"), 0)
        steps.expect(f"{arch} CreateObject after its unregistration", create_status(wine, arch), 429)
        steps.expect(f"{arch} client sees the class unregistered",
                     client_passes(wine, arch, "unregistered"), True)
        steps.expect("ProgID removed with the last server" if last else
                     "shared ProgID kept for the 64-bit server", wine.progid_registered(), not last)
    if steps.passed():
        # The prefix is large; keep it only when something failed.
        subprocess.run([wine.wineserver, "-w"], env=wine.env, timeout=60)
        shutil.rmtree(wine.prefix, ignore_errors=True)
    return steps.passed()


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
    wine.require(args.arch)
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
    sub.add_parser("unregister")
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
               "side-by-side": side_by_side, "unregister": unregister, "cards": cards}[args.command]
    try:
        ok = command(wine, args)
    except Unavailable as e:
        print(f"SKIPPED: {e}")
        return SKIP
    print("PASSED" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
