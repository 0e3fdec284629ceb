#!/usr/bin/env bash
# Measures `qvvcard batch` on a generated CSV of typical contacts: once into
# one output file and once into an output folder, reporting records per
# second and peak memory (maximum resident set size); then the same records
# as JSON Lines into one file, with their rate as a share of the CSV rate. Memory is also measured
# on the first 10,000 records, to show whether it stays flat as the input
# grows.
#
# Usage: bench/batch.sh [--records N] [--qvvcard PATH] [--work DIR]
#                       [--no-folder] [--keep]
#   --records N    records in the generated CSV (default 1000000)
#   --qvvcard PATH the program (default build/tools/qvvcard)
#   --work DIR     where the CSV and the output go (default: a new folder
#                  under /tmp, removed afterwards unless --keep)
#   --no-folder    skip the run into an output folder (one file per card)
set -euo pipefail
cd "$(dirname "$0")/.."

records=1000000
qvvcard=build/tools/qvvcard
work=""
folder=1
keep=0
while (($#)); do
  case $1 in
    --records) records=$2; shift 2 ;;
    --qvvcard) qvvcard=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --no-folder) folder=0; shift ;;
    --keep) keep=1; shift ;;
    *) echo "batch.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [[ ! -x $qvvcard ]]; then
  echo "batch.sh: $qvvcard not found; build first (cmake --build build)" >&2
  exit 2
fi
if [[ -z $work ]]; then
  work=$(mktemp -d /tmp/qvvcard-batch.XXXXXX)
else
  mkdir -p "$work"
fi
if ((!keep)); then trap 'rm -rf "$work"' EXIT; fi

csv=$work/contacts.csv
small=$work/contacts-10000.csv
echo "== generating $records records into $csv" >&2
python3 - "$records" "$csv" <<'PY'
import sys

count, path = int(sys.argv[1]), sys.argv[2]
columns = [
    "NameFamily", "NameGiven", "NamePrefix", "OrgName", "OrgUnit", "Title",
    "Adr1_Street", "Adr1_Locality", "Adr1_PostalCode", "Adr1_Country", "Adr1_Work", "Adr1_Postal",
    "Adr2_Street", "Adr2_Locality", "Adr2_PostalCode", "Adr2_Country", "Adr2_Home",
    "Tel1_Number", "Tel1_Work", "Tel1_Voice", "Tel2_Number", "Tel2_Cell", "Tel2_Pref",
    "Tel3_Number", "Tel3_Home", "Email1_Value", "Email1_Pref", "Email2_Value",
    "Note", "Url", "GeoLat", "GeoLon", "GeoLatDeg", "GeoLatMin", "GeoLatSec",
    "GeoLonDeg", "GeoLonMin", "GeoLonSec",
]
families = ["Lindqvist", "Okafor", "Nakamura", "García", "Müller", "O'Brien", "Novák", "Dubois"]
givens = ["Maria", "Chidi", "Yui", "José", "Lena", "Siobhán", "Tomáš", "Élise"]
cities = ["Uppsala", "Lagos", "Sapporo", "Sevilla", "Graz", "Cork", "Brno", "Lyon"]
row = ('{fam}{n},{giv},Dr.,Northwind Instruments,Research,Senior Engineer,'
       'Storgatan {s},{city},753 {z:02d},Sweden,1,1,'
       '"Linnégatan {s}, 4 tr",Stockholm,114 47,Sweden,1,'
       '+46 18 555 {t:04d},1,1,+46 70 555 {t:04d},1,1,+46 8 555 {t:04d},1,'
       '{giv_l}.{fam_l}{n}@northwind.example,1,{giv_l}{n}@home.example,'
       '"Met at the spring fair; prefers e-mail, not ""calls"".",'
       'https://northwind.example/people/{n},N,E,{lat},{latm},{lats},{lon},{lonm},{lons}\n')
with open(path, "w", encoding="utf-8", newline="") as out:
    out.write(",".join(columns) + "\n")
    for n in range(count):
        fam, giv = families[n % 8], givens[(n // 8) % 8]
        out.write(row.format(
            fam=fam, giv=giv, n=n, city=cities[(n // 64) % 8], s=n % 97 + 1, z=n % 100,
            t=n % 10000, giv_l=giv.lower(), fam_l=fam.lower().replace("'", ""),
            lat=n % 90, latm=n % 60, lats=(n * 7) % 60, lon=n % 180, lonm=(n * 3) % 60,
            lons=(n * 11) % 60))
PY
head -n 10001 "$csv" > "$small"
jsonl=$work/contacts.jsonl
python3 - "$csv" "$jsonl" <<'PY'
import csv, json, sys

with open(sys.argv[1], encoding="utf-8", newline="") as src, \
        open(sys.argv[2], "w", encoding="utf-8") as out:
    for row in csv.DictReader(src):
        out.write(json.dumps({k: v for k, v in row.items() if v != ""}, ensure_ascii=False) + "\n")
PY

# Runs qvvcard with /usr/bin/time; prints "seconds peak_kib user sys".
measure() {
  /usr/bin/time -f '%e %M %U %S' -o "$work/time.txt" "$qvvcard" "$@" --quiet
  cat "$work/time.txt"
}

report() {  # label records seconds peak_kib user sys
  awk -v label="$1" -v n="$2" -v s="$3" -v kib="$4" -v u="$5" -v y="$6" 'BEGIN {
    rate = s > 0 ? n / s : 0
    printf "%-26s %9d records %8.2f s %11.0f records/s %8.1f MiB peak RSS (user %.2f s, sys %.2f s)\n",
           label, n, s, rate, kib / 1024, u, y }'
}

count_cards() { grep -c '^END:VCARD' "$1" || true; }

echo "== qvvcard batch, records per second and peak memory" >&2
read -r s kib u y < <(measure batch "$small" --output "$work/small.vcf")
[[ $(count_cards "$work/small.vcf") == 10000 ]] || { echo "batch.sh: wrong card count" >&2; exit 1; }
report "one file, 10000" 10000 "$s" "$kib" "$u" "$y"
rm -f "$work/small.vcf"

read -r s kib u y < <(measure batch "$csv" --output "$work/all.vcf")
cards=$(count_cards "$work/all.vcf")
[[ $cards == "$records" ]] || { echo "batch.sh: $cards cards for $records records" >&2; exit 1; }
report "one file, $records" "$records" "$s" "$kib" "$u" "$y"
csv_seconds=$s
csv_cards=$(grep -v '^\(REV\|UID\):' "$work/all.vcf" | md5sum)
rm -f "$work/all.vcf"

read -r s kib u y < <(measure batch "$jsonl" --output "$work/all.vcf")
cards=$(count_cards "$work/all.vcf")
[[ $cards == "$records" ]] || { echo "batch.sh: $cards cards for $records JSON lines" >&2; exit 1; }
[[ $(grep -v '^\(REV\|UID\):' "$work/all.vcf" | md5sum) == "$csv_cards" ]] ||
  { echo "batch.sh: the JSON Lines gave other cards than the CSV" >&2; exit 1; }
report "JSON Lines, $records" "$records" "$s" "$kib" "$u" "$y"
awk -v c="$csv_seconds" -v j="$s" 'BEGIN { printf "JSON Lines rate: %.0f%% of the CSV rate\n", 100 * c / j }'
rm -f "$work/all.vcf"

if ((folder)); then
  read -r s kib u y < <(measure batch "$small" --out-dir "$work/small-cards")
  report "folder, 10000" 10000 "$s" "$kib" "$u" "$y"
  rm -rf "$work/small-cards"

  read -r s kib u y < <(measure batch "$csv" --out-dir "$work/cards")
  files=$(find "$work/cards" -type f -name '*.vcf' | wc -l)
  [[ $files == "$records" ]] || { echo "batch.sh: $files files for $records records" >&2; exit 1; }
  report "folder, $records" "$records" "$s" "$kib" "$u" "$y"
  rm -rf "$work/cards"
fi
