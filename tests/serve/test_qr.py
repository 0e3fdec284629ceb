"""QR codes of cards, decoded back with zbarimg and compared with the card."""
import json
import re
import shutil
import struct
import subprocess
import tempfile
import urllib.parse
import zlib

import pytest


ZBARIMG = shutil.which("zbarimg")
needs_zbarimg = pytest.mark.skipif(ZBARIMG is None, reason="zbarimg (Debian zbar-tools) is not installed")

PERSON = {"NameFamily": "Müller", "NameGiven": "Zoë", "OrgName": "Café; Ltd", "Tel1_Number": "+49 30 5550",
          "Tel1_Cell": "true", "Email1_Value": "zoe@example.org", "Note": "Grüße\naus Köln"}


def decode(image: bytes, suffix: str) -> bytes:
    with tempfile.NamedTemporaryFile(suffix=suffix) as f:
        f.write(image)
        f.flush()
        r = subprocess.run([ZBARIMG, "--quiet", "--raw", "-Sbinary", f.name], capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr
    return r.stdout


def png_modules(png: bytes):
    """The dark modules of a greyscale PNG of a code: a set of (x, y), and
    the side in modules, the quiet zone included."""
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    pos, data = 8, b""
    while pos < len(png):
        n, kind = struct.unpack(">I4s", png[pos:pos + 8])
        chunk = png[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", chunk[:10])
            assert (depth, colour) == (8, 0) and width == height
        elif kind == b"IDAT":
            data += chunk
        pos += 12 + n
    raw, rows, prev = zlib.decompress(data), [], bytearray(width)
    for y in range(height):
        line = raw[y * (width + 1):(y + 1) * (width + 1)]
        kind, row = line[0], bytearray(line[1:])
        for x in range(width):
            a = row[x - 1] if x else 0
            b, c = prev[x], (prev[x - 1] if x else 0)
            p = a + b - c
            predictor = {0: 0, 1: a, 2: b, 3: (a + b) // 2,
                         4: a if abs(p - a) <= min(abs(p - b), abs(p - c)) else (b if abs(p - b) <= abs(p - c) else c)}[kind]
            row[x] = (row[x] + predictor) & 0xFF
        rows.append(row)
        prev = row
    # The first dark pixel is the finder pattern's corner, at (4, 4) modules.
    first = next(x for x in range(width) if rows[x][x] < 128)
    scale = first // 4
    side = width // scale
    dark = {(x, y) for y in range(side) for x in range(side)
            if rows[y * scale + scale // 2][x * scale + scale // 2] < 128}
    return dark, side


def svg_modules(svg: bytes):
    text = svg.decode()
    side = int(re.search(r'viewBox="0 0 (\d+) \1"', text).group(1))
    path = re.findall(r'<path fill="#000" d="([^"]*)"', text)[0]
    dark = set()
    for x, y, w in re.findall(r"M(\d+) (\d+)h(\d+)v1h-\3z", path):
        dark.update((int(x) + i, int(y)) for i in range(int(w)))
    assert re.sub(r"M(\d+) (\d+)h(\d+)v1h-\3z", "", path) == ""
    return dark, side


def modules_png(dark, side, scale=4):
    """A greyscale PNG of the modules, scale pixels each."""
    rows = b"".join(b"\0" + bytes(0 if (x // scale, y // scale) in dark else 255 for x in range(side * scale))
                    for y in range(side * scale))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side * scale, side * scale, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def compact(card):
    """The card as a QR code holds it: without PRODID, REV and UID."""
    return "".join(l for l in card.splitlines(keepends=True) if not l.startswith(("PRODID:", "REV:", "UID:")))


@needs_zbarimg
def test_the_code_of_a_card_scans_back_to_that_card(server):
    status, _, card = server.request("GET", "/v1/card?" + urllib.parse.urlencode(PERSON))
    assert status == 200
    # The card as text: its QR code holds exactly these bytes.
    images = {}
    for kind in ("png", "svg"):
        status, headers, images[kind] = server.request("POST", f"/v1/qr.{kind}?full=1", card,
                                                       {"Content-Type": "text/vcard; charset=utf-8"})
        assert status == 200 and headers["cache-control"] == "no-store"
        assert headers["content-type"] == ("image/png" if kind == "png" else "image/svg+xml")
    assert decode(images["png"], ".png") == card
    # The SVG draws the same modules as the PNG.
    dark, side = png_modules(images["png"])
    assert len(dark) > side * side // 4 and svg_modules(images["svg"]) == (dark, side)


@needs_zbarimg
def test_values_give_a_code_of_their_card(server):
    _, _, card = server.request("GET", "/v1/card?" + urllib.parse.urlencode(PERSON))
    status, headers, image = server.request("GET", "/v1/qr.png?" + urllib.parse.urlencode(PERSON))
    assert status == 200 and image.startswith(b"\x89PNG\r\n\x1a\n")
    assert headers["x-qr-error-correction"] in "LMQH"
    assert decode(image, ".png").decode() == compact(card.decode())
    # The SVG's modules, drawn here as a PNG (ImageMagick's SVG reader
    # renders them unreliably).
    status, _, image = server.post_json("/v1/qr.svg", PERSON)
    assert status == 200 and image.startswith(b"<svg ")
    assert decode(modules_png(*svg_modules(image)), ".png").decode() == compact(card.decode())


def test_codes_are_small_and_hold_a_compact_card(server):
    # A name, one phone and one e-mail address: version 7 at most.
    person = {"NameGiven": "John", "NameFamily": "Doe", "Tel1_Number": "+1-555-0100",
              "Tel1_Cell": "1", "Email1_Value": "john.doe@example.org"}
    status, headers, _ = server.post_json("/v1/qr.png", person)
    assert status == 200 and int(headers["x-qr-version"]) <= 7
    full = server.request("GET", "/v1/qr.png?full=1&" + urllib.parse.urlencode(person))[1]
    assert int(full["x-qr-version"]) > int(headers["x-qr-version"])
    # The level is the highest the smallest symbol has room for: more than
    # the lowest for a short card, the lowest for one that needs the largest.
    levels = [server.post_json("/v1/qr.png", {"NameFamily": "Doe", "Note": "n" * size})[1]
              ["x-qr-error-correction"] for size in (1, 2800)]
    assert levels[0] in "MQH" and levels[1] == "L"
    status, _, body = server.request("GET", "/v1/qr.png?full=maybe&NameFamily=Doe")
    assert status == 400 and json.loads(body)["field"] == "full"


@needs_zbarimg
def test_the_compact_code_leaves_out_only_the_stamps(server):
    card = ("BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//x//y\r\nN:Doe;;;;\r\nFN:Doe\r\n"
            "uid:abc\r\n def\r\nREV:2026-01-01T00:00:00Z\r\nNOTE:UID: stays\r\nEND:VCARD\r\n")
    status, _, image = server.request("POST", "/v1/qr.png", card.encode(), {"Content-Type": "text/vcard"})
    assert status == 200
    assert decode(image, ".png").decode() == ("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Doe;;;;\r\nFN:Doe\r\n"
                                              "NOTE:UID: stays\r\nEND:VCARD\r\n")
    status, _, image = server.request("POST", "/v1/qr.png?full=1", card.encode(), {"Content-Type": "text/vcard"})
    assert decode(image, ".png").decode() == card


def test_a_card_too_long_for_a_code_is_422(server):
    status, _, body = server.post_json("/v1/qr.svg", {"NameFamily": "Doe", "Note": "n" * 3000})
    p = json.loads(body)
    assert status == 422 and p["field"] == "vCard" and "too long for a QR code" in p["error"]
    status, _, body = server.request("GET", "/v1/qr.png?GeoLatDeg=32767&GeoLatMin=9&GeoLat=N")
    assert status == 422 and json.loads(body)["status"] == "0x800A0006"
    status, _, body = server.request("POST", "/v1/qr.png", b"not a card", {"Content-Type": "text/vcard"})
    assert status == 400 and json.loads(body)["field"] == "vCard"
    # Two cards in one, or a NUL a scanner would cut the text at.
    one = b"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nEND:VCARD\r\n"
    for body_sent, words in [(one + one, "more than one"), (one.replace(b"FN:A", b"FN:A\0B"), "NUL")]:
        status, _, body = server.request("POST", "/v1/qr.svg", body_sent, {"Content-Type": "text/vcard"})
        assert status == 400 and words in json.loads(body)["error"]
