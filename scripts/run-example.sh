#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the shipped
# example.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
./build/examples/sample_card
