#!/usr/bin/env bash
# Builds every build type with GCC and with clang, warnings as errors, to
# prove that no configuration breaks: Debug, RelWithDebInfo, Release and
# MinSizeRel, each with both compilers (8 builds, in build-matrix/). The
# Windows cross builds are left out (scripts/test.sh builds them).
#
#   scripts/build-matrix.sh [BUILD_TYPE...]
set -euo pipefail
cd "$(dirname "$0")/.."
types=("$@")
[[ ${#types[@]} -eq 0 ]] && types=(Debug RelWithDebInfo Release MinSizeRel)
failed=()
for compiler in gcc clang; do
  if [[ $compiler == gcc ]]; then cc=gcc cxx=g++; else cc=clang-14 cxx=clang++-14; fi
  for type in "${types[@]}"; do
    dir=build-matrix/$compiler-$type
    echo "== $compiler $type" >&2
    if CC=$cc CXX=$cxx cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
      -DQV_VCARD_WERROR=ON -DQV_VCARD_COM=OFF >/dev/null && cmake --build "$dir" -j "$(nproc)" >"$dir.log" 2>&1; then
      echo "   built" >&2
    else
      echo "   FAILED (see $dir.log)" >&2
      failed+=("$compiler-$type")
    fi
  done
done
if ((${#failed[@]})); then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
echo "all ${#types[@]} build types built with gcc and clang" >&2
