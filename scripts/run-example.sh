#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the shipped
# example: every contact of examples/contacts.csv becomes a card file in a
# fresh folder; one of them is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target qvvcard
out=$(mktemp -d "${TMPDIR:-/tmp}/cards-XXXXXX")
build/tools/qvvcard batch examples/contacts.csv --out-dir "$out"
echo "== $out" >&2
ls "$out" >&2
echo "== $out/Doe John.vcf" >&2
cat "$out/Doe John.vcf"
