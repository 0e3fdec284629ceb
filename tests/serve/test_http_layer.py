"""The HTTP layer under qvvcard serve, driven over raw sockets on loopback
through a small application on it (http_layer_server): framing, bodies,
pipelining, limits, slow clients, floods and stopping."""
import os
import select
import signal
import socket
import subprocess
import tempfile
import threading
import time
import zlib

import pytest

SERVER = os.environ.get("HTTP_LAYER_SERVER", "http_layer_server")
MEASURE_MEMORY = os.environ.get("QVVCARD_MEASURE_MEMORY") == "1"
MAX_BODY = 65536


class Layer:
    """One running http_layer_server; its log goes to a file."""

    def __init__(self, *options):
        self.log = tempfile.NamedTemporaryFile(prefix="http-layer-", suffix=".log", delete=False)
        self.proc = subprocess.Popen([SERVER, "--max-body", str(MAX_BODY), *options],
                                     stdout=subprocess.PIPE, stderr=self.log)
        ready, _, _ = select.select([self.proc.stdout], [], [], 20)
        line = self.proc.stdout.readline().decode() if ready else ""
        if not line.startswith("port "):
            self.proc.kill()
            raise RuntimeError("http_layer_server did not start: " + self.log_text())
        self.port = int(line.split()[1])

    def log_text(self):
        with open(self.log.name, encoding="utf-8", errors="replace") as f:
            return f.read()

    def connect(self, timeout=5):
        return socket.create_connection(("127.0.0.1", self.port), timeout=timeout)

    def rss_kib(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise RuntimeError("no VmRSS")

    def stop(self, timeout=20):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout=timeout)
        finally:
            self.log.close()
            os.unlink(self.log.name)


@pytest.fixture(scope="module")
def layer():
    s = Layer()
    yield s
    assert s.stop() == 0


class Reader:
    """Reads answers off one socket as a client would, strictly."""

    def __init__(self, sock):
        self.sock = sock
        self.data = b""
        self.eof = False

    def _more(self):
        try:
            chunk = self.sock.recv(65536)
        except ConnectionResetError:
            chunk = b""
        if not chunk:
            self.eof = True
        self.data += chunk
        return bool(chunk)

    def _until(self, marker):
        while marker not in self.data:
            if not self._more():
                return None
        i = self.data.index(marker) + len(marker)
        part, self.data = self.data[:i], self.data[i:]
        return part

    def _exactly(self, n):
        while len(self.data) < n:
            if not self._more():
                return None
        part, self.data = self.data[:n], self.data[n:]
        return part

    def answer(self, head_only=False):
        """(status, [(name, value)], body, complete), or None at end of stream.
        complete is False when a chunked or sized body was cut short."""
        head = self._until(b"\r\n\r\n")
        if head is None:
            return None
        lines = head[:-4].split(b"\r\n")
        status = int(lines[0].split(b" ")[1])
        headers = [(n.decode(), v.strip().decode()) for n, v in
                   (line.split(b":", 1) for line in lines[1:])]
        if status < 200:
            return status, headers, b"", True
        fields = {n.lower(): v for n, v in headers}
        if head_only or status in (204, 304):
            return status, headers, b"", True
        if fields.get("transfer-encoding") == "chunked":
            body = b""
            while True:
                size_line = self._until(b"\r\n")
                if size_line is None:
                    return status, headers, body, False
                size = int(size_line.strip(), 16)
                if size == 0:
                    return status, headers, body, self._until(b"\r\n") is not None
                piece = self._exactly(size + 2)
                if piece is None:
                    return status, headers, body + self.data, False
                body += piece[:-2]
        if "content-length" in fields:
            body = self._exactly(int(fields["content-length"]))
            return status, headers, body if body is not None else self.data, body is not None
        while self._more():
            pass
        return status, headers, self.data, True

    def closed(self, within=3):
        """True when the server closes the connection within `within` seconds."""
        self.sock.settimeout(within)
        try:
            while not self.eof:
                self._more()
        except socket.timeout:
            return False
        return True


def fields(headers):
    return {n.lower(): v for n, v in headers}


def count(headers, name):
    return sum(1 for n, _ in headers if n.lower() == name.lower())


def exchange(layer, raw, timeout=5):
    sock = layer.connect(timeout)
    try:
        sock.sendall(raw)
        reader = Reader(sock)
        return reader.answer(), reader
    except BaseException:
        sock.close()
        raise


def get(path, extra=b""):
    return b"GET " + path.encode() + b" HTTP/1.1\r\nHost: t\r\n" + extra + b"\r\n"


def post(path, body, extra=b""):
    return (b"POST " + path.encode() + b" HTTP/1.1\r\nHost: t\r\nContent-Length: " +
            str(len(body)).encode() + b"\r\n" + extra + b"\r\n" + body)


H = b"POST /echo HTTP/1.1\r\nHost: t\r\n"
MALFORMED = [
    ("two lengths", H + b"Content-Length: 3\r\nContent-Length: 3\r\n\r\nabc", 400),
    ("length list", H + b"Content-Length: 3, 3\r\n\r\nabc", 400),
    ("length 2abc", H + b"Content-Length: 2abc\r\n\r\nab", 400),
    ("negative length", H + b"Content-Length: -1\r\n\r\n", 400),
    ("length and chunked", H + b"Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n"
     b"3\r\nabc\r\n0\r\n\r\n", 400),
    ("coding not chunked", H + b"Transfer-Encoding: gzip\r\n\r\nabc", 400),
    ("chunked not last", H + b"Transfer-Encoding: chunked, identity\r\n\r\n", 400),
    ("unknown coding", H + b"Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", 501),
    ("chunked in HTTP/1.0", b"POST /echo HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n"
     b"0\r\n\r\n", 400),
    ("blank before colon", b"GET /healthz HTTP/1.1\r\nHost : t\r\n\r\n", 400),
    ("tab before colon", b"GET /healthz HTTP/1.1\r\nHost\t: t\r\n\r\n", 400),
    ("obs-fold", b"GET /healthz HTTP/1.1\r\nHost: t\r\nX-A: 1\r\n 2\r\n\r\n", 400),
    ("bare CR", b"GET /healthz HTTP/1.1\r\nHost: t\rX-A: 1\r\n\r\n", 400),
    ("bare LF", b"GET /healthz HTTP/1.1\nHost: t\n\n", 400),
    ("NUL in header", b"GET /healthz HTTP/1.1\r\nHost: t\r\nX-A: a\x00b\r\n\r\n", 400),
    ("control in header", b"GET /healthz HTTP/1.1\r\nHost: t\r\nX-A: a\x1bb\r\n\r\n", 400),
    ("no Host", b"GET /healthz HTTP/1.1\r\n\r\n", 400),
    ("two Hosts", b"GET /healthz HTTP/1.1\r\nHost: t\r\nHost: u\r\n\r\n", 400),
    ("no version", b"GET /healthz\r\nHost: t\r\n\r\n", 400),
    ("two blanks", b"GET  /healthz HTTP/1.1\r\nHost: t\r\n\r\n", 400),
    ("lower-case version", b"GET /healthz http/1.1\r\nHost: t\r\n\r\n", 400),
    ("TLS on the plain port", b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + b"\x00" * 40, 400),
    ("HTTP/2.0", b"GET /healthz HTTP/2.0\r\nHost: t\r\n\r\n", 505),
    ("other expectation", H + b"Content-Length: 3\r\nExpect: 200-ok\r\n\r\nabc", 417),
    ("content coding br", H + b"Content-Length: 3\r\nContent-Encoding: br\r\n\r\nabc", 415),
    ("body too large", H + b"Content-Length: %d\r\n\r\n" % (MAX_BODY + 1), 413),
    ("head too large", b"GET /healthz HTTP/1.1\r\nHost: t\r\nX-Big: " + b"b" * 70000 + b"\r\n\r\n",
     431),
    ("too many lines", b"GET /healthz HTTP/1.1\r\nHost: t\r\n" + b"X-A: 1\r\n" * 100 + b"\r\n",
     431),
    ("bad chunk size", H + b"Transfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n", 400),
]


@pytest.mark.parametrize("raw,status", [c[1:] for c in MALFORMED], ids=[c[0] for c in MALFORMED])
def test_malformed_requests_are_refused_at_once_and_closed(layer, raw, status):
    started = time.monotonic()
    answer, reader = exchange(layer, raw)
    try:
        assert answer is not None, "no answer"
        got, headers, body, complete = answer
        assert got == status
        assert complete
        assert b'"status": %d' % status in body  # the application's shape
        assert count(headers, "Connection") == 1 and fields(headers)["connection"] == "close"
        assert reader.closed(), "the connection stays open"
        assert reader.data == b"", "more than one answer"
        assert time.monotonic() - started < 3  # not after a timeout
    finally:
        reader.sock.close()


SMUGGLED = b"GET /healthz?NameFamily=SMUGGLED HTTP/1.1\r\nHost: t\r\n\r\n"


@pytest.mark.parametrize("raw,status", [
    (post("/refuse", SMUGGLED), 415),
    (post("/nowhere", SMUGGLED), 404),
    (post("/healthz", SMUGGLED), 405),
    (post("/refuse", SMUGGLED, b"Expect: 100-continue\r\n"), 415),
    (b"POST /refuse HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n" +
     b"%x\r\n" % len(SMUGGLED) + SMUGGLED + b"\r\n0\r\n\r\n", 415),
    # A chunked body past the limit: the rest is never read as requests.
    (b"POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n" +
     b"%x\r\n" % MAX_BODY + b"a" * MAX_BODY + b"\r\n" + b"%x\r\n" % len(SMUGGLED) + SMUGGLED +
     b"\r\n0\r\n\r\n" + SMUGGLED, 413),
    # A head refused: nothing after it is read either.
    (b"GET /healthz HTTP/1.1\r\nHost: t\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n" +
     SMUGGLED, 400),
    # No tunnels: after an answer to CONNECT the connection closes.
    (b"CONNECT t:443 HTTP/1.1\r\nHost: t:443\r\n\r\n" + SMUGGLED, 404),
], ids=["415", "404", "405", "415 expecting 100", "415 chunked", "413 chunked", "400", "CONNECT"])
def test_a_refused_body_is_never_run_as_a_request(layer, raw, status):
    answer, reader = exchange(layer, raw)
    try:
        assert answer[0] == status
        assert fields(answer[1])["connection"] == "close"
        assert reader.closed()
        assert reader.data == b"", "a second answer"
    finally:
        reader.sock.close()
    # Whatever came after the refused body was never answered.
    answer, reader = exchange(layer, get("/healthz"))
    reader.sock.close()
    assert answer[0] == 200
    assert "SMUGGLED" not in layer.log_text()


def test_pipelined_requests_are_answered_in_order(layer):
    requests = []
    for i in range(100):
        if i % 2:
            requests.append(post("/echo", b"request %d" % i))
        else:
            requests.append(get("/healthz"))
    sock = layer.connect()
    try:
        sock.sendall(b"".join(requests))
        reader = Reader(sock)
        for i in range(100):
            status, headers, body, complete = reader.answer()
            assert status == 200 and complete
            assert body == (b"request %d" % i if i % 2 else b"ok\n")
            # 100 requests a connection: the last closes it.
            assert fields(headers).get("connection") == ("close" if i == 99 else None)
        assert reader.closed()
    finally:
        sock.close()


def test_expect_100_continue(layer):
    # Wanted: 100 first, then the answer once the body is sent.
    sock = layer.connect()
    try:
        sock.sendall(b"POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\n"
                     b"Expect: 100-continue\r\n\r\n")
        reader = Reader(sock)
        assert reader.answer()[0] == 100
        sock.sendall(b"hello")
        status, _, body, _ = reader.answer()
        assert (status, body) == (200, b"hello")
    finally:
        sock.close()
    # Not wanted, or too large: the answer at once, no 100, and the
    # connection closes without waiting for the body.
    for raw, status in ((b"POST /refuse HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\n"
                         b"Expect: 100-continue\r\n\r\n", 415),
                        (b"POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length: %d\r\n"
                         b"Expect: 100-continue\r\n\r\n" % (MAX_BODY + 1), 413)):
        answer, reader = exchange(layer, raw)
        try:
            assert answer[0] == status
            assert reader.closed(within=2)
        finally:
            reader.sock.close()


def test_head_and_other_tidy_answers(layer):
    sock = layer.connect()
    try:
        reader = Reader(sock)
        # HEAD: the length of the body, and no body (the next answer follows
        # at once on the same connection).
        sock.sendall(b"HEAD /healthz HTTP/1.1\r\nHost: t\r\n\r\n" + get("/healthz"))
        status, headers, _, _ = reader.answer(head_only=True)
        assert status == 200 and fields(headers)["content-length"] == "3"
        status, headers, body, _ = reader.answer()
        assert (status, body) == (200, b"ok\n")
        # Ranges are never served; one Date; no Accept-Ranges.
        sock.sendall(get("/healthz", b"Range: bytes=0-0\r\n"))
        status, headers, body, _ = reader.answer()
        assert (status, body) == (200, b"ok\n")
        assert count(headers, "Date") == 1 and count(headers, "Accept-Ranges") == 0
        # A target in absolute form has its path after the host.
        sock.sendall(b"POST HTTP://t:80/echo?x HTTP/1.1\r\nHost: t\r\nContent-Length: 0\r\n\r\n")
        status, headers, _, _ = reader.answer()
        assert status == 200 and fields(headers)["x-target"] == "HTTP://t:80/echo?x"
        # The head as sent reaches the application.
        sock.sendall(post("/echo?a=1&b", b"x", b"x-echo: \t kept as sent\t\r\n"))
        status, headers, body, _ = reader.answer()
        f = fields(headers)
        assert (f["x-target"], f["x-query"], f["x-echo"], f["x-headers"]) == \
            ("/echo?a=1&b", "a=1&b", "kept as sent", "3")
        # Asked to close: Connection: close once, and closed; by the client
        # or by the application.
        sock.sendall(get("/healthz", b"Connection: close\r\n"))
        status, headers, body, _ = reader.answer()
        assert count(headers, "Connection") == 1 and fields(headers)["connection"] == "close"
        assert reader.closed()
    finally:
        sock.close()
    answer, reader = exchange(layer, post("/echo", b"", b"X-Answer-Close: 1\r\n"))
    try:
        assert count(answer[1], "Connection") == 1 and fields(answer[1])["connection"] == "close"
        assert reader.closed()
    finally:
        reader.sock.close()


def test_answers_the_application_cannot_give(layer):
    # A header that would split the answer, a handler that throws: a 500,
    # nothing of the broken answer, and the connection closes.
    for path in ("/split", "/throw"):
        answer, reader = exchange(layer, get(path))
        try:
            status, headers, body, _ = answer
            assert status == 500 and b'"status": 500' in body
            assert count(headers, "Set-Cookie") == 0 and b"split" not in body
            assert reader.closed()
        finally:
            reader.sock.close()


def test_http_1_0(layer):
    answer, reader = exchange(layer, b"GET /healthz HTTP/1.0\r\n\r\n")
    reader.sock.close()
    assert answer[0] == 200 and fields(answer[1])["connection"] == "close"
    sock = layer.connect()
    try:
        reader = Reader(sock)
        for _ in range(2):
            sock.sendall(b"GET /healthz HTTP/1.0\r\nConnection: keep-alive\r\n\r\n")
            status, headers, body, _ = reader.answer()
            assert (status, body) == (200, b"ok\n")
            assert fields(headers)["connection"] == "keep-alive"
        # A streamed answer is gathered and sent with its length.
        sock.sendall(b"GET /stream?n=3 HTTP/1.0\r\nConnection: keep-alive\r\n\r\n")
        status, headers, body, _ = reader.answer()
        assert "transfer-encoding" not in fields(headers)
        assert body == b"piece 0\npiece 1\npiece 2\n"
        # HEAD of one: no length can be told, and there are no chunks.
        sock.sendall(b"HEAD /stream HTTP/1.0\r\nConnection: keep-alive\r\n\r\n")
        status, headers, _, _ = reader.answer(head_only=True)
        assert status == 200 and "transfer-encoding" not in fields(headers)
    finally:
        sock.close()


def gzip_of(data):
    c = zlib.compressobj(9, zlib.DEFLATED, 31)
    return c.compress(data) + c.flush()


def test_request_bodies(layer):
    text = b"BEGIN:VCARD\r\n" * 200
    raw_deflate = zlib.compressobj(9, zlib.DEFLATED, -15)
    cases = [
        # chunked, with an extension and a trailer
        (b"POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n"
         b"3;note=x\r\nabc\r\n2\r\nde\r\n0\r\nX-Trailer: 1\r\n\r\n", 200, b"abcde"),
        (post("/echo", gzip_of(text), b"Content-Encoding: gzip\r\n"), 200, text),
        (post("/echo", gzip_of(b"ab") + gzip_of(b"cd"), b"Content-Encoding: x-gzip\r\n"), 200,
         b"abcd"),
        (post("/echo", zlib.compress(text), b"Content-Encoding: deflate\r\n"), 200, text),
        (post("/echo", raw_deflate.compress(text) + raw_deflate.flush(),
              b"Content-Encoding: deflate\r\n"), 200, text),
        (post("/echo", gzip_of(zlib.compress(text)), b"Content-Encoding: deflate, gzip\r\n"), 200,
         text),
        (post("/echo", text, b"Content-Encoding: identity\r\n"), 200, text),
        (post("/echo", b"", b"Content-Encoding: gzip\r\n"), 200, b""),
        (post("/echo", b"a" * MAX_BODY), 200, b"a" * MAX_BODY),
        # A decompression bomb stops at the limit.
        (post("/echo", gzip_of(b"\0" * (64 * MAX_BODY)), b"Content-Encoding: gzip\r\n"), 413, None),
        (post("/echo", gzip_of(b"a" * (MAX_BODY + 1)), b"Content-Encoding: gzip\r\n"), 413, None),
        (post("/echo", gzip_of(text)[:-12], b"Content-Encoding: gzip\r\n"), 400, None),
        (post("/echo", b"not compressed", b"Content-Encoding: gzip\r\n"), 400, None),
        (post("/echo", gzip_of(text) + b"junk", b"Content-Encoding: gzip\r\n"), 400, None),
    ]
    for raw, status, want in cases:
        before = layer.rss_kib()
        answer, reader = exchange(layer, raw)
        reader.sock.close()
        assert answer[0] == status, raw[:120]
        if want is not None:
            assert answer[2] == want
        if MEASURE_MEMORY:
            assert layer.rss_kib() - before < 16 * 1024  # never a big allocation


def test_keep_alive_is_bounded_in_requests_and_idle_time():
    s = Layer("--idle-timeout-ms", "400", "--max-requests", "5")
    try:
        sock = s.connect()
        reader = Reader(sock)
        for i in range(5):
            sock.sendall(get("/healthz"))
            status, headers, _, _ = reader.answer()
            assert status == 200
            assert ("connection" in fields(headers)) == (i == 4)
        assert reader.closed()
        sock.close()
        sock = s.connect()
        reader = Reader(sock)
        sock.sendall(get("/healthz"))
        assert reader.answer()[0] == 200
        started = time.monotonic()
        assert reader.closed(within=3)
        assert 0.3 < time.monotonic() - started < 2
        sock.close()
    finally:
        assert s.stop() == 0


def test_slow_heads_and_bodies_get_408():
    s = Layer("--head-timeout-ms", "800", "--body-timeout-ms", "800")
    try:
        for first, later in ((b"GET /healthz HTTP/1.1\r\n", b"Host: t\r\n"),
                             (post("/echo", b"12345")[:-3], b"")):
            sock = s.connect()
            started = time.monotonic()
            sock.sendall(first)
            time.sleep(0.5)
            if later:
                sock.sendall(later)  # bytes keep coming, the head still has its deadline
            reader = Reader(sock)
            answer = reader.answer()
            assert answer[0] == 408
            assert 0.7 < time.monotonic() - started < 2
            assert reader.closed()
            sock.close()
    finally:
        assert s.stop() == 0


def healthz_seconds(layer):
    started = time.monotonic()
    answer, reader = exchange(layer, get("/healthz", b"Connection: close\r\n"), timeout=5)
    reader.sock.close()
    assert answer[0] == 200
    return time.monotonic() - started


def test_a_flood_of_header_lines_keeps_memory_bounded_and_healthz_answering():
    s = Layer("--threads", "2")
    line = b"X-Flood: " + b"f" * (8192 - 11) + b"\r\n"
    lines_each = 25000 if MEASURE_MEMORY else 2500
    # Each flooding client goes on for 3 s at least (with new connections
    # once one is refused), at most 15 s.
    least, deadline = time.monotonic() + 3, time.monotonic() + 15
    stop = threading.Event()
    sent_lines = [0] * 4

    def going(k):
        now = time.monotonic()
        return (sent_lines[k] < lines_each or now < least) and now < deadline and not stop.is_set()

    def flood(k):
        batch = line * 16
        while going(k):
            try:
                with s.connect() as sock:
                    sock.sendall(b"GET /healthz HTTP/1.1\r\nHost: t\r\n")
                    while going(k):
                        sock.sendall(batch)
                        sent_lines[k] += 16
            except OSError:
                pass  # closed after the 431: on with a new connection

    threads = [threading.Thread(target=flood, args=(k,)) for k in range(4)]
    try:
        for t in threads:
            t.start()
        slowest, peak, polls = 0.0, 0, 0
        while any(t.is_alive() for t in threads):
            slowest = max(slowest, healthz_seconds(s))
            peak = max(peak, s.rss_kib())
            polls += 1
            time.sleep(0.05)
        stop.set()
        print(f"flood: {sum(sent_lines)} header lines of 8 KiB on 4 clients; {polls} GET /healthz,"
              f" slowest {slowest * 1000:.0f} ms; peak resident {peak} KiB")
        assert polls >= 20
        assert "431" in s.log_text()
        assert slowest < 1.0
        if MEASURE_MEMORY:
            assert peak < 64 * 1024, f"resident {peak} KiB"
        assert min(sent_lines) >= lines_each, "the flood did not finish in time"
    finally:
        stop.set()
        for t in threads:
            t.join()
        assert s.stop() == 0


def open_slow_clients(layer, idle, trickling):
    idle_socks = [layer.connect() for _ in range(idle)]
    trickle_socks = [layer.connect() for _ in range(trickling)]
    for sock in trickle_socks:
        sock.sendall(b"G")
    return idle_socks, trickle_socks


def test_slow_clients_do_not_hold_up_others():
    s = Layer()
    idle, trickle = open_slow_clients(s, 400, 16)
    try:
        started = time.monotonic()
        slowest = 0.0
        next_byte = started + 8
        while time.monotonic() - started < 12:
            slowest = max(slowest, healthz_seconds(s))
            if time.monotonic() >= next_byte:
                for sock in trickle:
                    sock.sendall(b"E")
                next_byte += 8
            time.sleep(0.2)
        print(f"slow clients: 400 idle, 16 trickling; slowest GET /healthz {slowest * 1000:.0f} ms")
        assert slowest < 1.0
        # The idle ones were closed after 5 s, the trickling ones got a 408
        # at 10 s.
        for sock in idle[:20]:
            assert Reader(sock).closed(within=0.5)
        for sock in trickle:
            assert Reader(sock).answer()[0] == 408
    finally:
        for sock in idle + trickle:
            sock.close()
        assert s.stop() == 0


def test_sigterm_ends_the_server_whatever_clients_do():
    s = Layer()
    idle, trickle = open_slow_clients(s, 400, 16)
    busy = s.connect()
    try:
        busy.sendall(post("/echo", b"12345")[:-2])  # a body that never ends
        time.sleep(0.3)
        started = time.monotonic()
        s.proc.send_signal(signal.SIGTERM)
        assert s.proc.wait(timeout=5) == 0
        print(f"stopped with 417 slow clients in {time.monotonic() - started:.2f} s")
        assert time.monotonic() - started < 5
    finally:
        for sock in idle + trickle + [busy]:
            sock.close()
        s.stop()


def test_stopping_lets_a_stream_finish_or_cuts_it_without_its_last_chunk():
    s = Layer("--grace-ms", "1500")
    try:
        short, long_ = s.connect(), s.connect()
        idle = s.connect()
        short.sendall(get("/stream?n=8&ms=100"))
        long_.sendall(get("/stream?n=100&ms=100"))
        time.sleep(0.3)
        started = time.monotonic()
        s.proc.send_signal(signal.SIGTERM)
        assert Reader(idle).closed(within=1), "an idle connection is kept at stop"
        status, headers, body, complete = Reader(short).answer()
        assert status == 200 and complete and body.count(b"piece") == 8
        assert fields(headers).get("transfer-encoding") == "chunked"
        status, _, body, complete = Reader(long_).answer()
        assert status == 200 and not complete, "a cut stream looks complete"
        assert 5 < body.count(b"piece") < 100
        assert s.proc.wait(timeout=5) == 0
        assert time.monotonic() - started < 3
        with pytest.raises(OSError):
            s.connect(timeout=1)
    finally:
        s.stop()


def test_a_failing_stream_ends_without_its_last_chunk(layer):
    answer, reader = exchange(layer, get("/broken?n=3"))
    reader.sock.close()
    status, _, body, complete = answer
    assert status == 200 and body == b"piece 0\npiece 1\npiece 2\n" and not complete


def test_the_connection_cap_closes_idle_connections_first():
    s = Layer("--max-connections", "20")
    socks = [s.connect() for _ in range(30)]
    try:
        time.sleep(0.2)
        assert healthz_seconds(s) < 1.0
        # The oldest idle ones made room.
        assert all(Reader(sock).closed(within=1) for sock in socks[:10])
    finally:
        for sock in socks:
            sock.close()
        assert s.stop() == 0


def has_ipv6_loopback():
    try:
        with open("/proc/net/if_inet6") as f:
            return any(line.split()[0] == "0" * 31 + "1" for line in f)
    except OSError:
        return False


def test_a_taken_port_stays_taken(layer):
    taken = subprocess.run([SERVER, "--port", str(layer.port)], capture_output=True, text=True,
                           timeout=10)
    assert taken.returncode == 2 and "in use" in taken.stderr


def test_listening_on_ipv6():
    if not has_ipv6_loopback():
        pytest.skip("this host has no IPv6 loopback (::1)")
    s = Layer("--bind", "::1")
    try:
        with socket.create_connection(("::1", s.port), timeout=5) as sock:
            sock.sendall(get("/healthz"))
            assert Reader(sock).answer()[0] == 200
    finally:
        assert s.stop() == 0
