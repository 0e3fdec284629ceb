"""qvvcard serve's API, through a real HTTP client: the same cards and file
names as the tool, the headers, every error, the log and stopping."""
import json
import re
import signal
import os
import socket
import time
import urllib.parse

from conftest import EXAMPLES, Server, run_tool, split_cards, without_stamps

PERSON = {"NameFamily": "Müller, Jr.", "NameGiven": "Zoë", "Tel1_Number": "+49 30 5550",
          "Tel1_Cell": "true", "Note": "a,b;c\\d", "Adr1_PostalCode": "01067", "Adr1_Home": "1"}


def tool_card(*args):
    r = run_tool(*args)
    assert r.returncode == 0, r.stderr
    return r.stdout.decode()


def problem(body):
    return json.loads(body.decode())


def test_get_and_post_give_the_tools_card_and_file_name(server):
    assignments = [f"{k}={v}" for k, v in PERSON.items()]
    expected = without_stamps(tool_card(*assignments))
    name = run_tool(*assignments, "--get", "vCardFileName").stdout.decode().rstrip("\n")

    status, headers, body = server.request("GET", "/v1/card?" + urllib.parse.urlencode(PERSON))
    assert status == 200
    card = body.decode()
    assert card.endswith("END:VCARD\r\n") and without_stamps(card) == expected
    assert headers["content-type"] == "text/vcard; charset=utf-8"
    assert headers["cache-control"] == "no-store"
    assert headers["x-content-type-options"] == "nosniff"
    disposition = headers["content-disposition"]
    assert disposition.startswith('attachment; filename="')
    encoded = disposition.split("filename*=UTF-8''", 1)[1]
    assert urllib.parse.unquote(encoded, errors="strict") == name
    assert all(c.isalnum() or c in "%-._" for c in encoded), encoded
    fallback = disposition.split('"')[1]
    assert fallback.isascii() and fallback == "Muller, Jr. Zoe.vcf"

    # JSON brings its own types: a flag as a boolean, a number for a text
    # as written.
    values = dict(PERSON, Tel1_Cell=True, Adr1_Home=1)
    status, headers, body = server.post_json("/v1/card", values)
    assert status == 200 and without_stamps(body.decode()) == expected
    status, _, body = server.post_json("/v1/card", b'{"Adr1_PostalCode": 1067.50, "Adr1_Work": true,'
                                                   b' "Tel1_Number": 123456789012345678901234, "Tel1_Voice": 1}')
    assert status == 200
    assert "ADR;TYPE=WORK:;;;;;1067.50;" in body.decode()
    assert "TEL;TYPE=VOICE:123456789012345678901234" in body.decode()


def test_raw_values_pass_unescaped(server):
    expected = without_stamps(tool_card("--no-rfc-escape", *[f"{k}={v}" for k, v in PERSON.items()]))
    status, _, body = server.request("GET", "/v1/card?raw=1&" + urllib.parse.urlencode(PERSON))
    assert status == 200 and without_stamps(body.decode()) == expected
    status, _, body = server.post_json("/v1/card", PERSON, {"X-Raw-Values": "1"})
    assert status == 200 and without_stamps(body.decode()) == expected
    status, _, body = server.post_json("/v1/card", PERSON, {"X-Raw-Values": "maybe"})
    assert status == 400 and problem(body)["field"] == "X-Raw-Values"


def test_file_names_are_those_batch_gives(server, tmp_path):
    shown = ["Q/A: Notes?", 'Say "hi"', "CON", "日本 語", "Łódź", "a\\b;c%20", "😀 emoji",
             "García López Ana 😀", "Ana ?", ".hidden"]
    folder = tmp_path / "cards"
    # One name per card in a folder of its own, so that no name is numbered.
    names = []
    for n, name in enumerate(shown):
        one = tmp_path / f"one{n}.csv"
        one.write_text('FormatedName\n"' + name.replace('"', '""') + '"\n', encoding="utf-8")
        out = folder / str(n)
        assert run_tool("batch", str(one), "--out-dir", str(out), "-q").returncode == 0
        (made,) = os.listdir(out)
        names.append(made)
    # Every letter stays; only what file systems refuse goes, with the
    # blanks it leaves before ".vcf".
    assert names[3:6] == ["日本 語.vcf", "Łódź.vcf", "ab;c%20.vcf"]
    assert names[7:9] == ["García López Ana 😀.vcf", "Ana.vcf"]
    for name, expected in zip(shown, names):
        status, headers, _ = server.post_json("/v1/card", {"FormatedName": name})
        assert status == 200, name
        disposition = headers["content-disposition"]
        assert urllib.parse.unquote(disposition.split("filename*=UTF-8''", 1)[1]) == expected
        fallback = disposition.split("; filename*=")[0]
        assert fallback.count('"') == 2 and "\\" not in fallback and fallback.isascii(), disposition


def test_value_errors_name_the_field(server):
    status, _, body = server.post_json("/v1/card", {"NameFamly": "Doe"})
    p = problem(body)
    assert status == 400 and p["field"] == "NameFamly" and "NameFamily" in p["error"]
    assert p["status"] == "0x80020006"
    status, _, body = server.request("GET", "/v1/card?Tel1_Cell=maybe")
    assert status == 400 and problem(body)["field"] == "Tel1_Cell"
    status, _, body = server.post_json("/v1/card", {"GeoLatDeg": 40000, "Note": ["a"]})
    p = problem(body)
    assert status == 400 and [q["field"] for q in p["problems"]] == ["GeoLatDeg", "Note"]
    status, _, body = server.post_json("/v1/card", {"NameFamily": "a", "namefamily": "b"})
    assert status == 400 and "twice" in problem(body)["error"]


def test_malformed_bodies_and_text(server):
    for body in [b"{bad", b"[1]", b'"text"', b'{"NameFamily": "a"} {}', b""]:
        status, _, answer = server.post_json("/v1/card", body)
        assert status == 400 and "error" in problem(answer), body
    status, _, answer = server.post_json("/v1/card", b'{"NameFamily": "M\xfcller"}')
    p = problem(answer)
    assert status == 400 and p["status"] == "0x80070459" and "byte 18" in p["error"]
    status, _, answer = server.request("GET", "/v1/card?NameFamily=M%FCller")
    p = problem(answer)
    assert status == 400 and p["field"] == "NameFamily" and p["status"] == "0x80070459"
    status, _, _ = server.request("POST", "/v1/card", b"{}", {"Content-Type": "text/plain"})
    assert status == 415
    status, _, _ = server.request("POST", "/v1/card", b"{}",
                                  {"Content-Type": "application/json; charset=latin1"})
    assert status == 415


def test_what_the_card_leaves_out_is_said_and_queries_read_as_sent(server):
    status, headers, body = server.request("GET", "/v1/card?NameFamily=X&Tel1_Number=1&Adr2_Street=s")
    assert status == 200 and b"TEL" not in body and headers["x-slots-left-out"] == "Adr2, Tel1"
    status, headers, _ = server.request("GET", "/v1/card?NameFamily=X&Tel1_Number=1&Tel1_Home=1")
    assert status == 200 and "x-slots-left-out" not in headers
    csv = b"NameFamily,Tel1_Number,Tel1_Cell\r\nA,1,\r\nB,2,\r\nC,3,1\r\n"
    status, headers, _ = server.request("POST", "/v1/cards", csv, {"Content-Type": "text/csv"})
    assert status == 200 and headers["x-cards"] == "3"
    assert headers["x-slots-left-out"] == "Tel1 (2 cards)"
    # A pair is split at its first "=" only; the empty name is a name.
    status, _, body = server.request("GET", "/v1/card?Note=key=value&FormatedName=a;%20filename=e")
    assert status == 200 and b"\r\nNOTE:key=value\r\n" in body and b"\r\nFN:a\\; filename=e\r\n" in body
    status, _, body = server.request("GET", "/v1/card?=x")
    assert status == 400 and problem(body)["field"] == ""
    status, _, body = server.request("GET", "/v1/card?NameFamily=a&NameFamily=a")
    assert status == 400 and problem(body)["error"] == "given twice"
    # Geo, and a position without its hemisphere.
    status, _, body = server.request("GET", "/v1/card?Geo=40.4168,-3.7038")
    assert status == 200 and b"\r\nGEO:+40.41667;-3.703889\r\n" in body
    status, _, body = server.request("GET", "/v1/card?GeoLatDeg=40")
    assert status == 400 and problem(body) == {"error": "GeoLat is empty: give N or S",
                                               "field": "GeoLat", "status": "0x80070057"}
    # Nothing may follow the body's object, a NUL no more than anything else.
    status, _, body = server.post_json("/v1/card", b'{"NameFamily":"a"}\0{"broken')
    assert status == 400, body


def test_a_failing_card_read_is_422_with_its_status(server):
    status, _, body = server.request("GET", "/v1/card?GeoLonDeg=32767&GeoLonMin=1&GeoLon=E")
    assert status == 422
    assert problem(body) == {"error": "16-bit overflow (0x800A0006)", "field": "vCard",
                             "status": "0x800A0006"}


def test_cards_from_csv_and_json_lines_match_batch(server):
    for name, media in [("contacts.csv", "text/csv"), ("google-contacts.csv", "text/csv"),
                        ("outlook-contacts.csv", "text/csv"), ("contacts.jsonl", "application/x-ndjson"),
                        ("contacts.jsonl", "application/jsonl")]:
        path = os.path.join(EXAMPLES, name)
        expected = [without_stamps(c) for c in split_cards(tool_card("batch", path, "-q"))]
        with open(path, "rb") as f:
            status, headers, body = server.request("POST", "/v1/cards", f.read(),
                                                   {"Content-Type": media})
        assert status == 200 and headers["content-type"] == "text/vcard; charset=utf-8"
        assert [without_stamps(c) for c in split_cards(body.decode())] == expected, name


VCF = os.path.join(os.path.dirname(__file__), "..", "cli", "vcf")


def test_vcards_in_and_tables_out_match_batch(server):
    path = os.path.join(VCF, "item-groups-3.0.vcf")
    data = open(path, "rb").read()
    expected = [without_stamps(c) for c in split_cards(tool_card("batch", path, "-q"))]
    status, headers, body = server.request("POST", "/v1/cards", data, {"Content-Type": "text/vcard"})
    assert status == 200 and [without_stamps(c) for c in split_cards(body.decode())] == expected
    # What had no place is said as batch says it.
    assert "PHOTO: 1 record had a value with no place on the card" in headers["x-values-left-out"]
    for to, media in [("jsonl", "application/x-ndjson"), ("csv", "text/csv; charset=utf-8")]:
        status, headers, body = server.request("POST", "/v1/cards?to=" + to, data,
                                               {"Content-Type": "text/vcard"})
        assert status == 200 and headers["content-type"] == media and headers["x-cards"] == "2"
        assert body.decode() == tool_card("batch", path, "-q", "--to", to)
    # A body in another charset, as its Content-Type says; a bad word for to.
    latin = b"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Jos\xe9\r\nEND:VCARD\r\n"
    status, _, body = server.request("POST", "/v1/cards?to=jsonl", latin,
                                     {"Content-Type": "text/vcard; charset=iso-8859-1"})
    assert status == 200 and json.loads(body) == {"FormatedName": "José"}
    status, _, body = server.request("POST", "/v1/cards?to=xml", latin, {"Content-Type": "text/vcard"})
    assert status == 400 and problem(body)["field"] == "to"
    status, _, body = server.request("POST", "/v1/cards", b"NameFamily\r\n", {"Content-Type": "text/vcard"})
    assert status == 422 and "text outside a card" in problem(body)["problems"][0]["error"]


def test_one_bad_record_refuses_all_cards(server):
    csv = "NameFamily,GeoLatDeg,GeoLat,Tel1_Cell\r\nA,1,N,\r\nB,99999,N,\r\nC,,,maybe\r\nD,32767,N,\r\n"
    status, _, body = server.request("POST", "/v1/cards", csv.encode(), {"Content-Type": "text/csv"})
    p = problem(body)
    assert status == 422 and p["bad_records"] == 2 and b"BEGIN:VCARD" not in body
    assert [(r["record"], r["field"]) for r in p["problems"]] == [(2, "GeoLatDeg"), (3, "Tel1_Cell")]
    # Every problem says the card's status for it, as /v1/card does.
    assert [r["status"] for r in p["problems"]] == ["0x800A0006", "0x80020005"]
    status, _, body = server.request("POST", "/v1/cards", b"NameFamily\r\nM\xfcller\r\n",
                                     {"Content-Type": "text/csv"})
    p = problem(body)
    assert status == 422 and p["problems"][0]["status"] == "0x80070459", p
    lines = b'{"NameFamily": "A"}\n{"GeoLonDeg": 32767, "GeoLonMin": 1, "GeoLon": "E"}\nnot json\n'
    status, _, body = server.request("POST", "/v1/cards", lines, {"Content-Type": "application/x-ndjson"})
    p = problem(body)
    assert status == 422 and [r["record"] for r in p["problems"]] == [2, 3]
    assert p["problems"][0]["status"] == "0x800A0006"
    status, _, body = server.request("POST", "/v1/cards", b"NameFamly\r\nA\r\n", {"Content-Type": "text/csv"})
    assert status == 400 and "NameFamily" in problem(body)["error"]
    status, _, _ = server.request("POST", "/v1/cards", b"{}", {"Content-Type": "application/json"})
    assert status == 415


def test_paths_methods_and_sizes(server):
    status, headers, body = server.request("GET", "/healthz")
    assert (status, body) == (200, b"ok\n")
    for path in ["/nope", "/v1/card/", "/../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/tools/serve/page/page.js"]:
        status, headers, body = server.request("GET", path)
        assert status == 404 and headers["content-type"] == "application/json", path
    status, headers, body = server.request("DELETE", "/v1/card")
    assert status == 405 and "POST" in headers["allow"] and "error" in problem(body)
    status, headers, _ = server.request("POST", "/healthz", b"x", {"Content-Type": "text/plain"})
    assert status == 405 and headers["allow"] == "GET, HEAD, OPTIONS"
    status, headers, body = server.post_json("/v1/card", b'{"Note": "' + b"x" * 70000 + b'"}')
    assert status == 413 and "65536" in problem(body)["error"]
    status, headers, body = server.request("HEAD", "/")
    assert status == 200 and body == b"" and int(headers["content-length"]) > 1000


def test_a_refused_body_is_not_run_as_a_request(server):
    # The API's own refusals (a media type it does not take, a method, a
    # path) never leave their body to be read as the next request.
    smuggled = b"GET /v1/card?NameFamily=SMUGGLED HTTP/1.1\r\nHost: t\r\n\r\n"
    for head in [b"POST /v1/cards HTTP/1.1\r\nHost: t\r\nContent-Type: application/json\r\n",
                 b"POST /healthz HTTP/1.1\r\nHost: t\r\nContent-Type: text/plain\r\n",
                 b"POST /nowhere HTTP/1.1\r\nHost: t\r\nContent-Type: text/csv\r\n"]:
        with socket.create_connection(("127.0.0.1", server.port), timeout=10) as s:
            s.sendall(head + b"Content-Length: %d\r\n\r\n" % len(smuggled) + smuggled)
            s.shutdown(socket.SHUT_WR)
            answer = b""
            while chunk := s.recv(65536):
                answer += chunk
        assert answer.count(b"HTTP/1.1 ") == 1 and b"SMUGGLED" not in answer, answer[:200]


def test_body_sent_in_chunks_is_bounded(server):
    def chunks(total):
        for _ in range(total // 8192):
            yield b"x" * 8192
    conn = server.connect()
    conn.request("POST", "/v1/card", body=chunks(200000), encode_chunked=True,
                 headers={"Content-Type": "application/json", "Transfer-Encoding": "chunked"})
    res = conn.getresponse()
    assert res.status == 413 and "error" in problem(res.read())
    conn.close()


def test_log_has_one_line_per_request_and_no_values():
    s = Server("--threads", "4")
    try:
        secret = "Zyxwvut"
        s.request("GET", f"/v1/card?NameFamily={secret}")
        s.post_json("/v1/card", {"NameGiven": secret})
        s.request("GET", f"/v1/qr.png?Note={secret}")
        s.request("GET", "/nope")
    finally:
        assert s.stop() == 0
    log = s.log_text()
    lines = [l for l in log.splitlines() if "/v1/" in l or "/nope" in l]
    assert secret not in log
    # Each line is written once its answer is sent, by the thread that sent
    # it: the order of the lines is not that of the requests.
    assert len(lines) == 4, log
    shown = sorted(re.fullmatch(r"qvvcard serve: (\S+ \S+ \d+) \d+ bytes [\d.]+ ms", l).group(1) for l in lines)
    assert shown == ["GET /nope 404", "GET /v1/card 200", "GET /v1/qr.png 200", "POST /v1/card 200"]


def test_stop_lets_the_request_in_hand_finish():
    s = Server()
    body = json.dumps({"NameFamily": "Doe"}).encode()
    sock = socket.create_connection(("127.0.0.1", s.port))
    try:
        sock.sendall(b"POST /v1/card HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                     b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body[:5])
        time.sleep(0.3)
        s.proc.send_signal(signal.SIGTERM)
        time.sleep(0.3)
        assert s.proc.poll() is None  # the request is still in hand
        sock.sendall(body[5:])
        answer = b""
        sock.settimeout(10)
        while chunk := sock.recv(65536):
            answer += chunk
    finally:
        sock.close()
    assert answer.startswith(b"HTTP/1.1 200") and answer.endswith(b"END:VCARD\r\n")
    assert s.stop(signalled=True) == 0
    assert "stopped by SIGTERM" in s.log_text()
    # Nothing new is taken once stopped.
    try:
        socket.create_connection(("127.0.0.1", s.port), timeout=2).close()
        refused = False
    except OSError:
        refused = True
    assert refused


def test_options_and_cors():
    s = Server("--cors", "https://example.org")
    try:
        status, headers, _ = s.request("OPTIONS", "/v1/card", headers={
            "Origin": "https://example.org", "Access-Control-Request-Method": "POST"})
        assert status == 204 and "POST" in headers["access-control-allow-methods"]
        assert headers["access-control-allow-origin"] == "https://example.org"
        status, headers, _ = s.request("GET", "/healthz", headers={"Origin": "https://other.example"})
        assert status == 200 and "access-control-allow-origin" not in headers
    finally:
        assert s.stop() == 0
    r = run_tool("serve", "--cors", "https://example.org/path")
    assert r.returncode == 2
    r = run_tool("serve", "--port", "70000")
    assert r.returncode == 2


def test_a_taken_port_is_a_usage_error(server):
    r = run_tool("serve", "--port", str(server.port))
    assert r.returncode == 2 and b"cannot listen" in r.stderr


def test_more_cards_than_the_answer_holds_come_in_pieces(server):
    # 60 KB of records (under --max-body) give about 4 MB of cards, more
    # than the eight times --max-body held at once: they are made again as
    # they are sent, each still exactly once.
    csv = b"NameFamily\r\n" + b"".join(b"N%d\r\n" % i for i in range(9000))
    assert len(csv) < 65536
    status, headers, body = server.request("POST", "/v1/cards", csv, {"Content-Type": "text/csv"})
    assert status == 200 and headers.get("transfer-encoding") == "chunked"
    cards = split_cards(body.decode())
    assert len(cards) == 9000 and len(body) > 8 * 65536
    assert [c.split("\r\n")[3] for c in cards] == [f"N:N{i};;;;" for i in range(9000)]
