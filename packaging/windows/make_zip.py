#!/usr/bin/env python3
"""Writes the Windows release zip from a manifest of its entries.

    make_zip.py MANIFEST OUTPUT.zip

Each line of MANIFEST is "NAME<TAB>SOURCE": the entry's name in the zip and
the file it is made from. Text entries (.cmd, .txt, .vbs, .bas, .csv) get
CR LF line ends, which cmd.exe and the VBA editor need.

The same inputs give the same bytes: entries in sorted order, one fixed
time stamp (SOURCE_DATE_EPOCH when set, otherwise 1980-01-01 00:00), fixed
attributes and compression. The zip is written under a temporary name and
renamed when complete.
"""
import os
import pathlib
import sys
import time
import zipfile

TEXT = (".cmd", ".txt", ".vbs", ".bas", ".csv")


def timestamp():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        return (1980, 1, 1, 0, 0, 0)
    t = time.gmtime(max(int(epoch), 315532800))  # zip times start in 1980
    return (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec - t.tm_sec % 2)


def content(name, source):
    data = pathlib.Path(source).read_bytes()
    if name.lower().endswith(TEXT):
        data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    return data


def main(manifest, output):
    entries = {}
    for line in pathlib.Path(manifest).read_text(encoding="utf-8").splitlines():
        if not line.strip():
            continue
        name, source = line.split("\t")
        if name in entries:
            raise SystemExit(f"{manifest}: {name} is listed twice")
        entries[name] = source
    date_time = timestamp()
    out = pathlib.Path(output)
    partial = out.with_name(out.name + ".part")
    with zipfile.ZipFile(partial, "w") as z:
        for name in sorted(entries):
            info = zipfile.ZipInfo(name, date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS attributes
            info.external_attr = 0x20  # archive
            z.writestr(info, content(name, entries[name]), compresslevel=9)
    partial.replace(out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    main(sys.argv[1], sys.argv[2])
