#!/usr/bin/env python3
"""Gives a type library written by widl a fixed creation time, in place.

    tlb_fixed_time.py LIBRARY.tlb

widl records when it wrote the library twice: as the text "Created by WIDL
version V at DATE" (DATE as asctime writes it) and as a 32-bit count of
seconds. Both become SOURCE_DATE_EPOCH when it is set, 1970-01-01 00:00:00
otherwise, so that the same sources give the same library. A library that
does not hold both exactly once is refused: it would not be reproducible.
"""
import calendar
import os
import re
import sys
import time

DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def asctime(seconds):
    t = time.gmtime(seconds)
    return (f"{DAYS[t.tm_wday]} {MONTHS[t.tm_mon - 1]} {t.tm_mday:2d} "
            f"{t.tm_hour:02d}:{t.tm_min:02d}:{t.tm_sec:02d} {t.tm_year}").encode("ascii")


def main(path):
    data = open(path, "rb").read()
    stamps = re.findall(rb"Created by WIDL version [^ ]+ at (\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4})",
                        data)
    if len(stamps) != 1:
        raise SystemExit(f"{path}: {len(stamps)} creation texts of widl, expected 1")
    written = time.strptime(stamps[0].decode("ascii"), "%a %b %d %H:%M:%S %Y")
    # widl writes its local time; the count of seconds is the same moment.
    candidates = {calendar.timegm(written), int(time.mktime(written))}
    counts = [c for c in candidates if data.count(c.to_bytes(4, "little")) == 1]
    if len(counts) != 1:
        raise SystemExit(f"{path}: the creation time {stamps[0].decode()} is not stored once as seconds")
    fixed = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    data = data.replace(counts[0].to_bytes(4, "little"), fixed.to_bytes(4, "little"))
    data = data.replace(b" at " + stamps[0], b" at " + asctime(fixed))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    main(sys.argv[1])
