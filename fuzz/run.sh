#!/usr/bin/env bash
# Builds the fuzz targets with clang-14's libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer, then fuzzes each one for a bounded time. The
# fuzzing programs belong to the project's clang sanitizer build
# (QV_VCARD_SANITIZE and QV_VCARD_FUZZ): scripts/test.sh makes that build
# and this script only adds the programs to it.
#
#   fuzz/run.sh [target...]          fuzz the named targets (default: all)
#   fuzz/run.sh --merge [target...]  fold what the last runs found into
#                                    fuzz/corpus/<target>, minimised
#
# Environment:
#   QV_FUZZ_SECONDS  seconds per target (default 60)
#   QV_FUZZ_BUILD    the sanitizer build directory (default build-asan); it
#                    is configured here when it is not one already
#
# New inputs go to the build directory, never into the repository. A crash,
# leak, timeout or broken invariant stops the run with a failure; the input
# that caused it is left in <build>/artifacts/<target>/. Keep it as a
# regression test by copying it into fuzz/regressions/<target>/ under a name
# that says what it broke: CTest replays that folder in every build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_FUZZ_BUILD:-$root/build-asan}
seconds=${QV_FUZZ_SECONDS:-60}
merge=0
if [[ ${1:-} == --merge ]]; then
  merge=1
  shift
fi

echo "== fuzz: building in $build" >&2
if ! grep -qs '^QV_VCARD_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQV_VCARD_SANITIZE=ON -DQV_VCARD_FUZZ=ON -DQV_VCARD_COM=OFF -DQV_VCARD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target qv_vcard_fuzzers
programs=$build/tests/fuzz

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for program in "$programs"/*_fuzz; do
    name=$(basename "$program")
    targets+=("${name%_fuzz}")
  done
fi

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

for target in "${targets[@]}"; do
  program=$programs/${target}_fuzz
  found=$build/fuzz-corpus/$target
  kept=$root/fuzz/corpus/$target
  regressions=$root/fuzz/regressions/$target
  mkdir -p "$found" "$kept" "$build/artifacts/$target"
  if [[ $merge -eq 1 ]]; then
    # Edges only (no hit counts), so the kept corpus stays small.
    "$program" -merge=1 -use_counters=0 "$kept" "$found" 2>&1 | grep -E "MERGE-OUTER: [0-9]+ new files" || true
    continue
  fi
  inputs=("$found" "$kept")
  [[ -d $regressions ]] && inputs+=("$regressions")
  echo "== fuzz: $target for ${seconds}s" >&2
  log=$build/fuzz-$target.log
  if ! "$program" -max_total_time="$seconds" -timeout=10 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target/" \
    "${inputs[@]}" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "== fuzz: $target FAILED; reproducer in $build/artifacts/$target/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "== fuzz: $target passed: $runs executions ($rate/s)" >&2
done
