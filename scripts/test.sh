#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
# the normal build (which also cross-builds the Windows server when the
# mingw-w64 compilers are present) and a second build under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh

echo "== format check" >&2
git ls-files -co --exclude-standard '*.cpp' '*.hpp' '*.h' '*.c' |
  xargs -r clang-format-14 --dry-run --Werror

echo "== build" >&2
cmake -S . -B build -G Ninja
cmake --build build -j "$jobs"
echo "== tests" >&2
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== benchmark smoke run" >&2
build/bench/qv_vcard_bench --benchmark_min_time=0.01 >/dev/null

echo "== sanitizer build and tests" >&2
cmake -S . -B build-asan -G Ninja -DQV_VCARD_SANITIZE=ON -DQV_VCARD_COM=OFF -DQV_VCARD_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== fuzzing (libFuzzer, ASan+UBSan)" >&2
fuzz/run.sh  # QV_FUZZ_SECONDS per target, 60 by default
