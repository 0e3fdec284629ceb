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

    def run(self, arch, *argv, locale=None, timeout=180, cwd=None):
        env = dict(self.env)
        if locale:
            env["LC_ALL"] = locale
        # Output goes through a file, not a pipe: Wine's helper processes
        # inherit it and would hold a pipe open until the wineserver exits.
        with tempfile.TemporaryFile() as out:
            p = subprocess.run([self.loaders[arch], *argv], env=env, stdout=out, cwd=cwd,
                               stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            return p.returncode, out.read().decode("latin-1").replace("\r\n", "\n")

    def settle(self):
        """Waits until the prefix's programs have ended and its server has saved the registry.

        wineboot returns while programs it started may still be writing the new
        prefix's registry; checks that begin meanwhile (on a busy host, say) can
        meet a registry that is not yet whole.
        """
        subprocess.run([self.wineserver, "-w"], env=self.env, timeout=120)

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
    wine.settle()
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
        wine.settle()
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


# ---- the release zip, unzipped, installed, used and removed ----------------
#
# These checks run in a prefix of their own (not the one of the com_wine
# fixture): every registration they make is their own.

CLSID = "{AE0DD753-1145-4963-8093-F1489A4EBC87}"
LIBID = "{AE972F38-F3C2-43D2-B48D-F37ABAC12DCF}"
IID = "{92784E96-63B0-461A-8EE4-DB844DDE3F1E}"
AUTOMATION_PROXY = "{00020424-0000-0000-C000-000000000046}"
USER = "HKCU\\Software\\Classes"
MACHINE = "HKLM\\Software\\Classes"
# The keys of a registration, below a scope's classes key, with the
# registry views they are looked for in (None: a key shared by both).
KEYS = [("CLSID\\" + CLSID, "64"), ("CLSID\\" + CLSID, "32"), ("qv_VCard.qvVCard", None),
        ("TypeLib\\" + LIBID, None), ("Interface\\" + IID, "64"), ("Interface\\" + IID, "32")]


def reg(wine, *argv):
    return wine.run("x86_64", "reg.exe", *argv)


def key_exists(wine, key, view=None):
    return reg(wine, "query", key, *([f"/reg:{view}"] if view else []))[0] == 0


def reg_value(wine, key, name=None, view=None):
    """A string value of key (name None: the default value); None when missing."""
    argv = ["query", key] + (["/ve"] if name is None else ["/v", name])
    rc, out = reg(wine, *argv, *([f"/reg:{view}"] if view else []))
    if rc != 0:
        return None
    for line in out.split("\n"):
        m = re.match(r"^ {4}(.+?) {4}REG_[A-Z_]+(?: {4}(.*))?$", line)
        if m and m.group(1) == (name or "(Default)"):
            return m.group(2) or ""
    return None


def keys_left(wine, root):
    """The keys of a registration that exist under root."""
    return [f"{root}\\{k}" + (f" /reg:{v}" if v else "") for k, v in KEYS
            if key_exists(wine, f"{root}\\{k}", v)]


def lower(text):
    return text.lower() if isinstance(text, str) else text


def utf8_locale():
    """A UTF-8 locale this host has, so that Wine can name files in any script."""
    have = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    have = {h.lower().replace("-", ""): h for h in have}
    for want in ("en_US.UTF-8", "C.UTF-8"):
        if want.lower().replace("-", "") in have:
            return have[want.lower().replace("-", "")]
    return "en_US.UTF-8"


def package_folder(args):
    return pathlib.Path(args.workdir) / "unzipped"


def run_cmd(wine, folder, *argv):
    """cmd /c SCRIPT ARGS in the unzipped folder: (exit code, output lines)."""
    rc, out = wine.run("x86_64", "cmd.exe", "/c", *argv, cwd=folder)
    print(f"> cmd /c {' '.join(argv)}: exit {rc}\n" + "".join(f"  {l}\n" for l in out.split("\n") if l))
    return rc, [l for l in out.split("\n") if l]


def install(wine, steps, folder, *options, again=False):
    rc, lines = run_cmd(wine, folder, "install.cmd", *options)
    scope = "for all users of this computer" if options else "for the current user"
    bits = "64-bit and 32-bit" if "i686" in wine.runnable() else "64-bit"
    what = f"install.cmd {' '.join(options)}".strip() + (" again" if again else "")
    steps.expect(f"{what}: exit code", rc, 0)
    if rc == 5:  # refused for want of rights: what the probes answer now
        for probe in (("net.exe", "session"), ("reg.exe", "query", "HKLM\\Software\\Classes")):
            print(f"  now '{' '.join(probe)}' exits {wine.run('x86_64', *probe)[0]}")
    steps.expect(f"{what}: says in one line what it did",
                 len(lines) == 1 and lines[0].startswith(f"qv_VCard is registered {scope}")
                 and f"({bits})" in lines[0], True)


def uninstall(wine, steps, folder, *options, again=False):
    rc, lines = run_cmd(wine, folder, "uninstall.cmd", *options)
    scope = "for all users of this computer" if options else "for the current user"
    what = f"uninstall.cmd {' '.join(options)}".strip() + (" again" if again else "")
    steps.expect(f"{what}: exit code", rc, 0)
    steps.expect(f"{what}: says so", len(lines) == 1 and
                 lines[0].startswith(f"qv_VCard is no longer registered {scope}"), True)


def check_registration(wine, steps, root, folder):
    """The keys install.cmd leaves under root: the class served from the unzipped folder."""
    dll64 = lower(wine.path(folder / "x64" / "qv_VCard.dll"))
    dll32 = lower(wine.path(folder / "x86" / "qv_VCard.dll"))
    clsid, version = f"{root}\\CLSID\\{CLSID}", f"{root}\\TypeLib\\{LIBID}\\7.0"
    steps.expect(f"{root}: 64-bit server", lower(reg_value(wine, clsid + "\\InprocServer32", view="64")),
                 dll64)
    steps.expect(f"{root}: threading model", reg_value(wine, clsid + "\\InprocServer32",
                                                       "ThreadingModel", view="64"), "Apartment")
    steps.expect(f"{root}: ProgID", reg_value(wine, f"{root}\\qv_VCard.qvVCard\\Clsid"), CLSID)
    steps.expect(f"{root}: 64-bit type library", lower(reg_value(wine, version + "\\0\\win64")), dll64)
    for view in ("64", "32"):
        steps.expect(f"{root}: interface in the {view}-bit view",
                     (reg_value(wine, f"{root}\\Interface\\{IID}\\TypeLib", view=view),
                      reg_value(wine, f"{root}\\Interface\\{IID}\\ProxyStubClsid32", view=view)),
                     (LIBID, AUTOMATION_PROXY))
    if "i686" in wine.runnable():
        steps.expect(f"{root}: 32-bit type library", lower(reg_value(wine, version + "\\0\\win32")),
                     dll32)
        if root == MACHINE:
            # (Wine keeps one CLSID key for both bitnesses of the user; only
            # the machine's keys show the 32-bit view.)
            steps.expect(f"{root}: 32-bit server",
                         lower(reg_value(wine, clsid + "\\InprocServer32", view="32")), dll32)


class UserClassesVisible:
    """Lets COM find the current user's registration while the block runs.

    Windows shows HKCU\\Software\\Classes inside HKEY_CLASSES_ROOT, where COM
    looks; Wine 8 shows only the machine's classes there. When the user's
    keys do not show through HKEY_CLASSES_ROOT, they are copied, exactly as
    install.cmd wrote them, to the machine's classes for the time of the
    block and removed afterwards, so that COM runs the server recorded for
    the user.
    """

    def __init__(self, wine, work):
        self.wine, self.work, self.copied = wine, pathlib.Path(work), []

    def __enter__(self):
        merged = key_exists(self.wine, "HKCR\\qv_VCard.qvVCard")
        print(f"this Wine {'shows' if merged else 'does not show'} the user's classes in "
              f"HKEY_CLASSES_ROOT{'' if merged else ': copying them to the machine for now'}")
        if merged:
            return self
        for key, view in KEYS:
            if view == "32" or not key_exists(self.wine, f"{USER}\\{key}"):
                continue
            exported = self.work / "user-key.reg"
            reg(self.wine, "export", f"{USER}\\{key}", self.wine.path(exported), "/y")
            text = exported.read_bytes().decode("utf-16").replace(
                "[HKEY_CURRENT_USER\\Software\\Classes\\", "[HKEY_LOCAL_MACHINE\\Software\\Classes\\")
            exported.write_bytes(text.encode("utf-16"))
            if reg(self.wine, "import", self.wine.path(exported))[0] != 0:
                raise RuntimeError(f"could not copy {key} to the machine's classes")
            self.copied.append(key)
        return self

    def __exit__(self, *_):
        for key in self.copied:
            reg(self.wine, "delete", f"{MACHINE}\\{key}", "/f")


def drive(wine, steps, what, arch="x86_64"):
    """The late-bound checks of the object, through whatever COM finds registered."""
    out = wine.cscript(arch, pathlib.Path(wine.create_script).with_name("checks.vbs"))
    steps.expect(what, sentinel_ok(out, "checks.vbs"), True)


def csv_rows():
    """The example's input: (raw record, expected outcome) pairs.

    Outcomes: ("card", FN) for a record that becomes a card, ("report", text)
    for one reported and skipped (text: the start of the report after the
    row number), ("blank", None) for a blank line.
    """
    return [
        ('namefamily,NAMEGIVEN,FormatedName,Tel1_Number,Tel1_Cell,Tel1_Work,Note,GeoLatDeg,'
         'GeoLatMin,GeoLonDeg', ("header", None)),
        ('M\u00fcller,Zo\u00eb,Zo\u00eb M\u00fcller,+49 30 5550 1234,True,0,'
         '"Likes ""tea"", and cake",,,', ("card", "Zo\u00eb M\u00fcller")),
        ('\u00c1lvarez N\u00fa\u00f1ez,Jos\u00e9,Jos\u00e9 \u00c1lvarez N\u00fa\u00f1ez,'
         '+34 91 555 0142,1,false,"Calls after 18:00,\r\nnot before",,,',
         ("card", "Jos\u00e9 \u00c1lvarez N\u00fa\u00f1ez")),
        ('', ("blank", None)),
        ('Over,Flow,Over Flow,,,,,32767,1,', ("report", "vCard: 16-bit overflow (error 6)")),
        ('Short,Row,Short Row', ("report", "3 fields where the header has 10")),
        ('M\u00fcller,Zo\u00eb,Zo\u00eb M\u00fcller,,-1,yes,,,,', ("card", "Zo\u00eb M\u00fcller")),
        (',,CON,,,,,,,', ("card", "CON")),
        ('Bad,Flag,Bad Flag,,maybe,,,,,', ("report", "Tel1_Cell: ")),
        ('Far,East,Far East,,,,,,,40000', ("report", "GeoLonDeg: ")),
        ('"Quote"d,X,,,,,,,,', ("report", "text after the closing quote of field 1")),
        ('\u03a0\u03b1\u03c0\u03b1\u03b4\u03cc\u03c0\u03bf\u03c5\u03bb\u03bf\u03c2,'
         '\u0395\u03bb\u03ad\u03bd\u03b7,\u0395\u03bb\u03ad\u03bd\u03b7 '
         '\u03a0\u03b1\u03c0\u03b1\u03b4\u03cc\u03c0\u03bf\u03c5\u03bb\u03bf\u03c2,,,,,,,',
         ("card", "\u0395\u03bb\u03ad\u03bd\u03b7 "
                  "\u03a0\u03b1\u03c0\u03b1\u03b4\u03cc\u03c0\u03bf\u03c5\u03bb\u03bf\u03c2")),
        ('Lindqvist,\u00c5sa,\u00c5sa Lindqvist,,,,,67,51,', ("card", "\u00c5sa Lindqvist")),
    ]


def csv_example(wine, steps, folder, work):
    """examples\\csv-to-vcards.vbs on a UTF-16 CSV: cards a standard reader reads back."""
    import vobject
    rows = csv_rows()
    work = pathlib.Path(work)
    source = work / "contacts-utf16.csv"
    source.write_bytes("\r\n".join(r for r, _ in rows).encode("utf-16") + "\r\n".encode("utf-16-le"))
    out_dir = work / "cards"
    shutil.rmtree(out_dir, ignore_errors=True)
    out_dir.mkdir(parents=True)
    # A file of the first card's name is there already and must stay as it is.
    kept = out_dir / "Zo\u00eb M\u00fcller.vcf"
    kept.write_bytes(b"kept\r\n")
    rc, out = wine.run("x86_64", "cscript.exe", "//nologo",
                       wine.path(folder / "examples" / "csv-to-vcards.vbs"), wine.path(source),
                       wine.path(out_dir))
    out = out.encode("latin-1").decode("cp1252", "replace")
    print("".join(f"  {l}\n" for l in out.split("\n") if l))
    lines = [l for l in out.split("\n") if l]
    utf16 = bool(lines) and lines[0].startswith("ADODB.Stream cannot write text here")
    steps.expect("where ADODB.Stream cannot write text, it says so in one line and writes UTF-16",
                 utf16 or not any("ADODB" in l for l in lines), True)
    reports = [l for l in lines if l.startswith("row ")]
    wanted, line, cards = [], 1, []
    for raw, (kind, detail) in rows:
        if kind == "report":
            wanted.append((f"row {line}: ", detail))
        elif kind == "card":
            cards.append(detail)
        line += 1 + raw.count("\n")
    steps.expect("one report per bad row, with its row number",
                 [next((w for w in wanted if r.startswith(w[0] + w[1])), None) for r in reports],
                 wanted)
    steps.expect("summary line", lines[-1] if lines else None,
                 f"cards written to {wine.path(out_dir)}: {len(cards)}; rows skipped: {len(wanted)}")
    steps.expect("exit code (rows were skipped)", rc, 1)
    steps.expect("the file that was there is unchanged", kept.read_bytes(), b"kept\r\n")
    names = sorted(p.name for p in out_dir.iterdir() if p != kept)
    steps.expect("taken names get (2), (3); a device name gets _", all(n in names for n in [
        "Zo\u00eb M\u00fcller (2).vcf", "Zo\u00eb M\u00fcller (3).vcf", "CON_.vcf",
        "Jos\u00e9 \u00c1lvarez N\u00fa\u00f1ez.vcf", "\u00c5sa Lindqvist.vcf"]) and
        len(names) == len(cards), True)
    read = []
    for name in names:
        data = (out_dir / name).read_bytes()
        if utf16:
            ok = data.startswith(b"\xff\xfe")
            text = data.decode("utf-16")
        else:
            ok = not data.startswith(b"\xef\xbb\xbf")
            text = data.decode("utf-8")
        steps.expect(f"{name}: {'UTF-16 with a byte-order mark' if utf16 else 'UTF-8'}, one card",
                     ok and text.startswith("BEGIN:VCARD\r\n") and text.endswith("END:VCARD\r\n"),
                     True)
        card = vobject.readOne(text)
        read.append(card.fn.value)
        # (The card writes commas in texts as they are, so the reader's view
        # of a NOTE with a comma is a list: its line is compared instead.)
        body = text.split("\r\n")
        if name.startswith("Zo\u00eb M\u00fcller (2)"):
            steps.expect("quoted field with a comma and doubled quotes",
                         'NOTE:Likes "tea", and cake' in body, True)
            steps.expect("N read back", (card.n.value.family, card.n.value.given),
                         ("M\u00fcller", "Zo\u00eb"))
            steps.expect("True and 0 flags", card.tel.params.get("TYPE"), ["CELL"])
        if name.startswith("Jos\u00e9"):
            steps.expect("quoted field over two lines", "NOTE:Calls after 18:00,\\nnot before" in body,
                         True)
            steps.expect("1 and false flags", card.tel.params.get("TYPE"), ["CELL"])
        if name.startswith("\u00c5sa"):
            steps.expect("position", "67.85" in card.geo.value, True)
    steps.expect("a standard reader reads every card back with its name", sorted(read),
                 sorted(cards))


def package_setup(wine, args):
    """A fresh prefix of their own for the package checks, and the zip unzipped."""
    shutil.rmtree(wine.prefix, ignore_errors=True)
    wine.host_file.unlink(missing_ok=True)
    for arch, why in wine.host().items():
        print(f"{arch}: {'runs on this host' if not why else 'cannot run here: ' + why}")
    wine.require("x86_64")
    if wine.run("x86_64", "wineboot.exe", "-i", timeout=300)[0] != 0:
        print("wineboot failed")
        return False
    wine.settle()
    import zipfile
    folder = package_folder(args)
    shutil.rmtree(folder, ignore_errors=True)
    with zipfile.ZipFile(args.zip) as z:
        z.extractall(folder)
    print(f"unzipped {args.zip}: {', '.join(sorted(z.namelist()))}")
    return True


def package_user(wine, args):
    """install.cmd for the user: keys under HKCU only, the object at work, uninstall.cmd."""
    wine.require("x86_64")
    steps, folder = Steps(), package_folder(args)
    install(wine, steps, folder)
    check_registration(wine, steps, USER, folder)
    steps.expect("nothing under HKLM", keys_left(wine, MACHINE), [])
    install(wine, steps, folder, again=True)
    check_registration(wine, steps, USER, folder)
    with UserClassesVisible(wine, args.workdir):
        steps.expect("the object is created", create_status(wine, "x86_64"), 0)
        drive(wine, steps, "the object behaves (checks.vbs)")
        csv_example(wine, steps, folder, args.workdir)
    steps.expect("nothing left under HKLM", keys_left(wine, MACHINE), [])
    uninstall(wine, steps, folder)
    steps.expect("no key left under HKCU", keys_left(wine, USER), [])
    uninstall(wine, steps, folder, again=True)
    steps.expect("still no key under HKCU or HKLM", keys_left(wine, USER) + keys_left(wine, MACHINE),
                 [])
    return steps.passed()


def package_machine(wine, args):
    """install.cmd /machine: what Wine reports, keys under HKLM only, uninstall.cmd /machine."""
    wine.require("x86_64")
    steps, folder = Steps(), package_folder(args)
    rc, out = wine.run("x86_64", "net.exe", "session")
    print(f"'net session' exits {rc} here (on Windows 0 only in an elevated prompt)"
          + ("; this net.exe has no such command and prints its usage" if "NET command" in out else "")
          + ". Wine lets every program write the machine's keys, so /machine goes ahead.")
    install(wine, steps, folder, "/machine")
    check_registration(wine, steps, MACHINE, folder)
    steps.expect("nothing under HKCU", keys_left(wine, USER), [])
    install(wine, steps, folder, "/machine", again=True)
    steps.expect("the object is created", create_status(wine, "x86_64"), 0)
    drive(wine, steps, "the object behaves (checks.vbs)")
    uninstall(wine, steps, folder, "/machine")
    steps.expect("no key left under HKLM", keys_left(wine, MACHINE), [])
    steps.expect("the class is gone", create_status(wine, "x86_64"), 429)
    uninstall(wine, steps, folder, "/machine", again=True)
    # Where the check for administrator rights fails (here: the command it
    # runs cannot be found), /machine stops, says why, and registers nothing.
    rc, lines = run_cmd(wine, folder, "set SystemRoot=C:\\nonexistent&& install.cmd /machine")
    steps.expect("/machine without administrator rights: exit code", rc, 5)
    steps.expect("/machine without administrator rights: says so",
                 len(lines) == 1 and "needs administrator rights" in lines[0], True)
    steps.expect("/machine without administrator rights: nothing registered",
                 keys_left(wine, MACHINE) + keys_left(wine, USER), [])
    rc, _ = wine.run("x86_64", "regsvr32.exe", "/s", "/n", "/i:everyone",
                     wine.path(folder / "x64" / "qv_VCard.dll"))
    steps.expect("regsvr32 /n /i: with an unknown scope fails and registers nothing",
                 (rc != 0, keys_left(wine, MACHINE) + keys_left(wine, USER)), (True, []))
    rc, lines = run_cmd(wine, folder, "install.cmd", "/everyone")
    steps.expect("unknown option: exit code 2 and usage", (rc, lines), (2, ["usage: install.cmd [/machine]"]))
    # Where 'net session' fails although the prompt is elevated (the Server
    # service stopped), writing the machine's classes decides.
    for name in ("install", "uninstall"):
        text = (folder / f"{name}.cmd").read_bytes().replace(b"\\net.exe", b"\\no-net.exe")
        (folder / f"{name}-no-net.cmd").write_bytes(text)
    try:
        rc, lines = run_cmd(wine, folder, "install-no-net.cmd", "/machine")
        steps.expect("'net session' failing: /machine still registers", (rc, keys_left(wine, MACHINE) != []),
                     (0, True))
        steps.expect("the key written to find that out is gone",
                     key_exists(wine, f"{MACHINE}\\qv_VCard.RightsCheck", None), False)
        rc, lines = run_cmd(wine, folder, "uninstall-no-net.cmd", "/machine")
        steps.expect("'net session' failing: /machine still unregisters", (rc, keys_left(wine, MACHINE)), (0, []))
    finally:
        for name in ("install", "uninstall"):
            (folder / f"{name}-no-net.cmd").unlink(missing_ok=True)
    return steps.passed()


def package_side_by_side(wine, args):
    """Registered for the user and for the machine; removing one leaves the other working."""
    wine.require("x86_64")
    steps, folder = Steps(), package_folder(args)
    install(wine, steps, folder)
    install(wine, steps, folder, "/machine")
    uninstall(wine, steps, folder)
    steps.expect("user's keys removed", keys_left(wine, USER), [])
    check_registration(wine, steps, MACHINE, folder)
    drive(wine, steps, "machine-wide object still works")
    install(wine, steps, folder)
    uninstall(wine, steps, folder, "/machine")
    steps.expect("machine's keys removed", keys_left(wine, MACHINE), [])
    check_registration(wine, steps, USER, folder)
    with UserClassesVisible(wine, args.workdir):
        drive(wine, steps, "user's object still works")
    uninstall(wine, steps, folder)
    steps.expect("no key left", keys_left(wine, USER) + keys_left(wine, MACHINE), [])
    return steps.passed()


def package_i686(wine, args):
    """The 32-bit server from the zip: registered by install.cmd and used by 32-bit scripts."""
    wine.require("x86_64")
    wine.require("i686")
    steps, folder = Steps(), package_folder(args)
    install(wine, steps, folder)
    check_registration(wine, steps, USER, folder)
    uninstall(wine, steps, folder)
    install(wine, steps, folder, "/machine")
    check_registration(wine, steps, MACHINE, folder)
    steps.expect("32-bit object created", create_status(wine, "i686"), 0)
    drive(wine, steps, "32-bit object behaves (checks.vbs)", "i686")
    uninstall(wine, steps, folder, "/machine")
    steps.expect("32-bit class gone", create_status(wine, "i686"), 429)
    steps.expect("no key left", keys_left(wine, USER) + keys_left(wine, MACHINE), [])
    return steps.passed()


def package_cleanup(wine, args):
    """Nothing registered is left; the prefix is removed unless something was."""
    wine.require("x86_64")
    steps = Steps()
    steps.expect("no key left under HKCU or HKLM", keys_left(wine, USER) + keys_left(wine, MACHINE),
                 [])
    if steps.passed():
        wine.settle()
        shutil.rmtree(wine.prefix, ignore_errors=True)
        shutil.rmtree(package_folder(args), ignore_errors=True)
    return steps.passed()


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
    s = sub.add_parser("package-setup")
    s.add_argument("--zip", required=True)
    s.add_argument("--workdir", required=True)
    for name in ("package-user", "package-machine", "package-side-by-side", "package-i686",
                 "package-cleanup"):
        sub.add_parser(name).add_argument("--workdir", required=True)
    args = p.parse_args()
    wine = Wine(args)
    if args.command.startswith("package-"):
        # Unix file names in UTF-8 (the cards are named after the people).
        wine.env["LC_ALL"] = utf8_locale()
    command = {"setup": setup, "client": client, "script": script, "example": example,
               "side-by-side": side_by_side, "unregister": unregister, "cards": cards,
               "package-setup": package_setup, "package-user": package_user,
               "package-machine": package_machine, "package-side-by-side": package_side_by_side,
               "package-i686": package_i686, "package-cleanup": package_cleanup}[args.command]
    try:
        ok = command(wine, args)
    except Unavailable as e:
        print(f"SKIPPED: {e}")
        return SKIP
    print("PASSED" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
