#!/usr/bin/env bash
# The instruction counts the project tracks, all from callgrind (which counts
# the same on every run, however busy the machine is), against one build:
#
#   typical card  instructions of one read of the typical card's vCard
#                 (qv_vcard_profile typical, collected inside get_vCard)
#   CSV record    qvvcard batch of a generated CSV of N records with the
#                 columns NameFamily, NameGiven, OrgName, Tel1_Number,
#                 Tel1_Work, Email1_Value and Note into one output file
#   JSONL record  the same records as JSON Lines (the same keys, the flag
#                 as JSON true), and its ratio to the CSV figure
#   vCard card    the cards the tool writes from those records, read back
#                 as a vCard file into one output file, and its ratio
#   cards as CSV  the CSV the tool writes of those cards (batch --to csv:
#                 every value the cards hold, the formatted name and the
#                 voice flag too), read as the CSV above, and the vCard
#                 file's rate as a share of its rate
#
# With --baseline PATH, an older build of the tool is measured on the same
# inputs in the same run, and each figure is also given as a share of its.
#
# A record's figure is the whole program's instructions for N records less
# those of a run with a file of one record of the same columns, divided by
# N - 1: start-up, reading the header and the summary do not count. The
# whole program's count divided by N is printed beside it.
#
# Usage: bench/instructions.sh [--build DIR] [--qvvcard PATH] [--records N]
#                               [--baseline PATH] [--plain]
#   --build DIR      the build whose programs are measured (default build)
#   --qvvcard PATH   the tool (default DIR/tools/qvvcard)
#   --records N      records of the generated inputs (default 20000)
#   --baseline PATH  an older qvvcard to compare with (CSV and JSON Lines)
#   --plain          records with no quoted CSV field and no JSON escape
#                    (plain names and organisations, a note without quotes)
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
qvvcard=""
records=20000
baseline=""
plain=0
while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    --qvvcard) qvvcard=$2; shift 2 ;;
    --records) records=$2; shift 2 ;;
    --baseline) baseline=$2; shift 2 ;;
    --plain) plain=1; shift ;;
    *) echo "instructions.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[[ -n $qvvcard ]] || qvvcard=$build/tools/qvvcard
profile=$build/bench/qv_vcard_profile
if ! [[ $records =~ ^[0-9]+$ ]] || ((records < 2)); then
  echo "instructions.sh: --records needs a whole number of at least 2" >&2
  exit 2
fi
for program in "$profile" "$qvvcard" ${baseline:+"$baseline"}; do
  if [[ ! -x $program ]]; then
    echo "instructions.sh: $program not found; build it first (cmake --build $build --target" \
      "qv_vcard_profile qvvcard)" >&2
    exit 2
  fi
done
command -v valgrind >/dev/null || { echo "instructions.sh: needs valgrind" >&2; exit 2; }

work=$(mktemp -d /tmp/qv-instructions.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The instructions callgrind collected in one run of "$@" (its other options
# before the program).
collected() {
  local out=$work/callgrind.out
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >"$work/run.txt" 2>"$work/valgrind.txt" ||
    { cat "$work/valgrind.txt" >&2; echo "instructions.sh: the run failed: ${*}" >&2; exit 1; }
  sed -n 's/^summary: \([0-9]*\).*/\1/p' "$out"
  rm -f "$out"
}

# The same records as CSV and as JSON Lines.
python3 - "$records" "$work" "$plain" <<'PY'
import json, sys

count, work, plain = int(sys.argv[1]), sys.argv[2], sys.argv[3] == "1"
columns = ["NameFamily", "NameGiven", "OrgName", "Tel1_Number", "Tel1_Work", "Email1_Value", "Note"]
families = ["Lindqvist", "Okafor", "Nakamura", "García", "Müller", "O'Brien", "Novák", "Dubois"]
givens = ["Maria", "Chidi", "Yui", "José", "Lena", "Siobhán", "Tomáš", "Élise"]
orgs = ["Northwind Instruments", "Contoso, Ltd.", "Fabrikam Research", "Tailspin Toys"]

def plain_record(n):
    return {
        "NameFamily": f"Kowalski{n}",
        "NameGiven": "Olga",
        "OrgName": "Example Ltd",
        "Tel1_Number": f"+1-555-{n % 10000:04d}",
        "Tel1_Work": True,
        "Email1_Value": f"person{n}@example.org",
        "Note": f"Met at the fair in {2000 + n % 100}; likes tea",
    }

def record(n):
    if plain:
        return plain_record(n)
    fam, giv = families[n % 8], givens[(n // 8) % 8]
    return {
        "NameFamily": f"{fam}{n}",
        "NameGiven": giv,
        "OrgName": orgs[(n // 64) % 4],
        "Tel1_Number": f"+46 18 555 {n % 10000:04d}",
        "Tel1_Work": True,
        "Email1_Value": f"{giv.lower()}.{fam.lower().replace(chr(39), '')}{n}@northwind.example",
        "Note": 'Met at the spring fair; prefers e-mail, not "calls".',
    }

def csv_field(v):
    v = "true" if v is True else v
    return '"' + v.replace('"', '""') + '"' if any(c in v for c in ',"\r\n') else v

for name, n in (("all", count), ("one", 1)):
    with open(f"{work}/{name}.csv", "w", encoding="utf-8", newline="") as out:
        out.write(",".join(columns) + "\n")
        for i in range(n):
            r = record(i)
            out.write(",".join(csv_field(r[c]) for c in columns) + "\n")
    with open(f"{work}/{name}.jsonl", "w", encoding="utf-8") as out:
        for i in range(n):
            out.write(json.dumps(record(i), ensure_ascii=False) + "\n")
PY

typical_reads=10000
typical=$(collected --toggle-collect='qv_VCard::qvVCard::get_vCard*' "$profile" typical "$typical_reads")

# Instructions of a tool's batch run on one input; checks the cards came out.
batch() {
  local tool=$1 input=$2 n=$3
  rm -f "$work/out.vcf"
  collected "$tool" batch "$input" -o "$work/out.vcf" --quiet
  local cards
  cards=$(grep -c '^END:VCARD' "$work/out.vcf" || true)
  if [[ $cards != "$n" ]]; then
    echo "instructions.sh: $cards cards from $n records of $input" >&2
    exit 1
  fi
}

# The cards of the records, as a vCard file to read back, and as the CSV
# the tool writes of them.
for name in all one; do
  "$qvvcard" batch "$work/$name.csv" -o "$work/$name.vcf" --quiet
  "$qvvcard" batch "$work/$name.vcf" --to csv -o "$work/$name.cards.csv" --quiet
done

csv_all=$(batch "$qvvcard" "$work/all.csv" "$records")
csv_one=$(batch "$qvvcard" "$work/one.csv" 1)
jsonl_all=$(batch "$qvvcard" "$work/all.jsonl" "$records")
jsonl_one=$(batch "$qvvcard" "$work/one.jsonl" 1)
vcf_all=$(batch "$qvvcard" "$work/all.vcf" "$records")
vcf_one=$(batch "$qvvcard" "$work/one.vcf" 1)
cards_all=$(batch "$qvvcard" "$work/all.cards.csv" "$records")
cards_one=$(batch "$qvvcard" "$work/one.cards.csv" 1)
base_csv_all=0 base_csv_one=0 base_jsonl_all=0 base_jsonl_one=0
if [[ -n $baseline ]]; then
  base_csv_all=$(batch "$baseline" "$work/all.csv" "$records")
  base_csv_one=$(batch "$baseline" "$work/one.csv" 1)
  base_jsonl_all=$(batch "$baseline" "$work/all.jsonl" "$records")
  base_jsonl_one=$(batch "$baseline" "$work/one.jsonl" 1)
fi

awk -v build="$build" -v qvvcard="$qvvcard" -v baseline="$baseline" -v n="$records" \
  -v reads="$typical_reads" -v typical="$typical" \
  -v ca="$csv_all" -v c1="$csv_one" -v ja="$jsonl_all" -v j1="$jsonl_one" \
  -v va="$vcf_all" -v v1="$vcf_one" -v ka="$cards_all" -v k1="$cards_one" \
  -v bca="$base_csv_all" -v bc1="$base_csv_one" -v bja="$base_jsonl_all" -v bj1="$base_jsonl_one" '
  BEGIN {
    csv = (ca - c1) / (n - 1)
    jsonl = (ja - j1) / (n - 1)
    vcf = (va - v1) / (n - 1)
    cards = (ka - k1) / (n - 1)
    printf "instructions (callgrind) of %s, %s\n", build, qvvcard
    printf "%-32s %10.0f\n", "typical card, a read", typical / reads
    printf "%-32s %10.0f   (whole run / records: %.0f; start-up %.0f)\n", \
           "CSV, a record", csv, ca / n, c1 - csv
    printf "%-32s %10.0f   (whole run / records: %.0f; start-up %.0f)\n", \
           "JSON Lines, a record", jsonl, ja / n, j1 - jsonl
    printf "%-32s %10.0f   (whole run / records: %.0f; start-up %.0f)\n", \
           "vCard file, a card", vcf, va / n, v1 - vcf
    printf "%-32s %10.0f   (whole run / records: %.0f; start-up %.0f)\n", \
           "the cards as CSV, a record", cards, ka / n, k1 - cards
    printf "%-32s %10.2f\n", "JSON Lines / CSV", jsonl / csv
    printf "%-32s %10.2f   (the rate of the vCard file over that of the CSV)\n", \
           "CSV / vCard file", csv / vcf
    printf "%-32s %10.2f   (the same over the CSV of the same cards)\n", \
           "cards as CSV / vCard file", cards / vcf
    if (baseline != "") {
      bcsv = (bca - bc1) / (n - 1)
      bjsonl = (bja - bj1) / (n - 1)
      printf "baseline %s:\n", baseline
      printf "%-32s %10.0f   (this build: %.2f of it)\n", "CSV, a record", bcsv, csv / bcsv
      printf "%-32s %10.0f   (this build: %.2f of it)\n", "JSON Lines, a record", bjsonl, \
             jsonl / bjsonl
    }
  }'
