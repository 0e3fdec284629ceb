"""Starting qvvcard serve on a free loopback port and talking to it."""
import http.client
import json
import os
import re
import signal
import subprocess
import tempfile
import time

import pytest

QVVCARD = os.environ.get("QVVCARD", "qvvcard")
EXAMPLES = os.environ.get("QVVCARD_EXAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
STAMPS = ("REV:", "UID:")


class Server:
    """One running server; its log goes to a file that the tests read."""

    def __init__(self, *options):
        self.log = tempfile.NamedTemporaryFile(prefix="qvvcard-serve-", suffix=".log", delete=False)
        self.proc = subprocess.Popen([QVVCARD, "serve", "--port", "0", *options],
                                     stdout=subprocess.DEVNULL, stderr=self.log)
        deadline = time.monotonic() + 20
        while True:
            found = re.search(r"listening on http://127\.0\.0\.1:(\d+)/", self.log_text())
            if found:
                self.port = int(found.group(1))
                break
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.proc.kill()
                raise RuntimeError("qvvcard serve did not start: " + self.log_text())
            time.sleep(0.02)

    def log_text(self):
        with open(self.log.name, encoding="utf-8", errors="replace") as f:
            return f.read()

    def connect(self, timeout=30):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)

    def request(self, method, path, body=None, headers=None):
        """(status, headers as a dict with lower-case names, body bytes)."""
        conn = self.connect()
        try:
            conn.request(method, path, body=body, headers=headers or {})
            res = conn.getresponse()
            data = res.read()
            return res.status, {k.lower(): v for k, v in res.getheaders()}, data
        finally:
            conn.close()

    def post_json(self, path, value, headers=None):
        body = value if isinstance(value, bytes) else json.dumps(value).encode()
        return self.request("POST", path, body, {"Content-Type": "application/json", **(headers or {})})

    def stop(self, sig=signal.SIGTERM, signalled=False):
        """Stops the server (signalled: the signal was sent already) and
        returns its exit status; the log stays readable."""
        if not signalled and self.proc.poll() is None:
            self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=20)
        finally:
            self.log.close()

    def __del__(self):
        if getattr(self, "log", None) is not None and os.path.exists(self.log.name):
            os.unlink(self.log.name)


@pytest.fixture(scope="module")
def server():
    s = Server("--max-body", "65536")
    yield s
    assert s.stop() == 0


def run_tool(*args, stdin=None):
    return subprocess.run([QVVCARD, *args], input=stdin, capture_output=True, timeout=60)


def without_stamps(card: str):
    lines = card.removesuffix("\r\n").split("\r\n")
    assert lines[0] == "BEGIN:VCARD" and lines[-1] == "END:VCARD", lines
    return [l for l in lines if not l.startswith(STAMPS)]


def split_cards(text: str):
    assert text.endswith("END:VCARD\r\n"), repr(text[-40:])
    return [c + "END:VCARD" for c in text.split("END:VCARD\r\n")[:-1]]
