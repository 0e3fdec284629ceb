#!/usr/bin/env bash
# Measures `qvvcard serve` on loopback with wrk: requests per second for
# POST /v1/card (a typical card from JSON) against GET /healthz (the
# server's floor: HTTP and nothing else) on the same server in the same run,
# and their ratio, which is the card's own cost. The server's resident
# memory is shown after a warm-up and after each run.
#
# Usage: bench/serve.sh [--seconds S] [--connections C] [--threads T]
#                       [--qvvcard PATH] [--port N]
#   --seconds S      length of each run (default 5)
#   --connections C  open connections (default 32); the server gets as many
#                    threads, since each open connection holds one
#   --threads T      wrk's threads (default 2)
#   --qvvcard PATH   the program (default build/tools/qvvcard)
#   --port N         the port (default 0: a free one)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=5
connections=32
threads=2
qvvcard=build/tools/qvvcard
port=0
while (($#)); do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --connections) connections=$2; shift 2 ;;
    --threads) threads=$2; shift 2 ;;
    --qvvcard) qvvcard=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    *) echo "serve.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [[ ! -x $qvvcard ]]; then
  echo "serve.sh: $qvvcard not found; build first (cmake --build build)" >&2
  exit 2
fi
if ! command -v wrk >/dev/null; then
  echo "serve.sh: wrk not found (Debian package wrk)" >&2
  exit 2
fi

work=$(mktemp -d /tmp/qvvcard-serve-bench.XXXXXX)
server=""
cleanup() {
  if [[ -n $server ]] && kill -0 "$server" 2>/dev/null; then
    kill -TERM "$server"
    wait "$server" || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$qvvcard" serve --port "$port" --threads "$connections" --quiet 2>"$work/log" &
server=$!
for _ in $(seq 100); do
  url=$(sed -n 's|.*listening on \(http://[^ ]*\)/$|\1|p' "$work/log")
  [[ -n $url ]] && break
  sleep 0.05
done
if [[ -z ${url:-} ]]; then
  echo "serve.sh: the server did not start:" >&2
  cat "$work/log" >&2
  exit 1
fi

cat >"$work/card.lua" <<'LUA'
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/json"
wrk.body = '{"NameFamily": "Doe", "NameGiven": "John", "OrgName": "Example, Inc.",'
  .. ' "Title": "Engineer", "Tel1_Number": "+1-555-0100", "Tel1_Cell": true,'
  .. ' "Tel2_Number": "+1-555-0199", "Tel2_Work": true, "Email1_Value": "john.doe@example.org",'
  .. ' "Adr1_Street": "12 Birch Lane", "Adr1_Locality": "Springfield", "Adr1_Region": "IL",'
  .. ' "Adr1_PostalCode": "62704", "Adr1_Country": "USA", "Adr1_Home": true,'
  .. ' "Note": "Met at the conference; likes tea, not coffee."}'
-- Every answer must be a success.
function response(status, headers, body)
  if status ~= 200 then
    io.stderr:write("unexpected status " .. status .. "\n")
    os.exit(1)
  end
end
LUA
cat >"$work/health.lua" <<'LUA'
function response(status, headers, body)
  if status ~= 200 then
    io.stderr:write("unexpected status " .. status .. "\n")
    os.exit(1)
  end
end
LUA

rss() { awk '/^VmRSS:/ {printf "%.1f MiB", $2 / 1024}' "/proc/$server/status"; }
# wrk's "Requests/sec:" line, and a failure when any request failed.
rate() {
  local out
  out=$(wrk --latency -t "$threads" -c "$connections" -d "${seconds}s" -s "$2" "$url$1")
  echo "$out" >"$work/last"
  if grep -q -e "Non-2xx" -e "Socket errors" <<<"$out"; then
    echo "serve.sh: failures in the run of $1:" >&2
    echo "$out" >&2
    exit 1
  fi
  awk '/^Requests\/sec:/ {print $2}' <<<"$out"
}

echo "qvvcard serve at $url, $connections connections, $threads wrk threads, ${seconds}s a run"
wrk -t "$threads" -c "$connections" -d 1s -s "$work/card.lua" "$url/v1/card" >/dev/null
echo "memory after a warm-up: $(rss)"
health=$(rate /healthz "$work/health.lua")
echo "GET /healthz:   $health requests/s (memory $(rss))"
card=$(rate /v1/card "$work/card.lua")
echo "POST /v1/card:  $card requests/s (memory $(rss))"
grep -E '^ +99%' "$work/last" | awk '{print "POST /v1/card latency, 99th percentile: " $2}'
awk -v c="$card" -v h="$health" 'BEGIN {printf "ratio POST /v1/card / GET /healthz: %.3f\n", c / h}'
