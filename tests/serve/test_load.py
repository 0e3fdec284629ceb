"""A bounded load on loopback: every request succeeds and memory stays flat."""
import json
import os
import threading
import urllib.parse

from conftest import Server

REQUESTS = int(os.environ.get("QVVCARD_LOAD_REQUESTS", "20000"))
CONNECTIONS = 32
MEASURE_MEMORY = os.environ.get("QVVCARD_MEASURE_MEMORY") == "1"
# What the resident size may grow between the warm-up and the end (the
# allocator's arenas settle in the warm-up; it grows by well under 1 MiB): a
# leak of 160 bytes a request would pass it over 20,000 requests.
TOLERANCE = 3 << 20


def rss(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmRSS")


def load(server, total, failures, counts):
    """total requests, over CONNECTIONS kept-alive connections at once."""
    person = {"NameFamily": "Doe", "NameGiven": "Jöhn", "Tel1_Number": "+1-555-0100", "Tel1_Cell": True,
              "Note": "x" * 200}
    body = json.dumps(person).encode()
    query = urllib.parse.urlencode({k: str(v) for k, v in person.items()})
    csv = b"NameFamily,Email1_Value\r\n" + b"".join(b"P%d,p%d@example.org\r\n" % (i, i) for i in range(20))
    asks = [("POST", "/v1/card", body, {"Content-Type": "application/json"}, b"END:VCARD\r\n"),
            ("GET", "/v1/card?" + query, None, {}, b"END:VCARD\r\n"),
            ("POST", "/v1/cards", csv, {"Content-Type": "text/csv"}, b"END:VCARD\r\n"),
            ("GET", "/healthz", None, {}, b"ok\n"),
            ("GET", "/v1/qr.svg?" + query, None, {}, b"</svg>\n")]

    def worker(n, first):
        conn = server.connect()
        done = 0
        try:
            for i in range(first, first + n):
                # Mostly single cards; every tenth request one of the others.
                method, path, data, headers, end = asks[2 + i // 10 % 3] if i % 10 == 0 else asks[i % 2]
                conn.request(method, path, body=data, headers=headers)
                res = conn.getresponse()
                answer = res.read()
                if res.status != 200 or not answer.endswith(end):
                    failures.append((path, res.status, answer[:200]))
                done += 1
                if res.will_close:
                    conn.close()
                    conn = server.connect()
        except Exception as e:  # a refused or cut connection is a failure too
            failures.append(("exception", repr(e)))
        finally:
            conn.close()
            counts.append(done)

    share = total // CONNECTIONS
    threads = [threading.Thread(target=worker, args=(share + (1 if i < total % CONNECTIONS else 0), i * share))
               for i in range(CONNECTIONS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def test_every_request_of_a_bounded_load_succeeds_with_flat_memory():
    server = Server("--threads", str(CONNECTIONS), "--quiet")
    try:
        failures, counts = [], []
        load(server, 2000, failures, counts)  # the warm-up
        before = rss(server.proc.pid)
        failures, counts = [], []
        load(server, REQUESTS, failures, counts)
        after = rss(server.proc.pid)
        assert failures == [] and sum(counts) == REQUESTS, failures[:5]
        status, _, _ = server.request("GET", "/healthz")
        assert status == 200
        print(f"resident size {before / 2**20:.1f} MiB after the warm-up, {after / 2**20:.1f} MiB after "
              f"{REQUESTS} requests")
        if MEASURE_MEMORY:
            assert after - before <= TOLERANCE, (before, after)
    finally:
        assert server.stop() == 0
