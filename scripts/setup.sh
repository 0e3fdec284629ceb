#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/apt-packages.txt that are
# missing. Safe to run again: it does nothing when everything is there.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t wanted < <(grep -v -e '^#' -e '^[[:space:]]*$' scripts/apt-packages.txt)
missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo=()
if [[ $(id -u) != 0 ]]; then sudo=(sudo); fi
echo "setup: installing ${missing[*]}" >&2
for p in "${missing[@]}"; do
  if [[ $p == *:i386 || $p == wine32 ]]; then
    "${sudo[@]}" dpkg --add-architecture i386
    break
  fi
done
export DEBIAN_FRONTEND=noninteractive
apt=("${sudo[@]}" apt-get -o DPkg::Lock::Timeout=900)

# A mirror being synchronised serves some index files with the wrong size
# for a while: the update is tried again after a pause, and at worst the
# lists it did get are used.
for try in 1 2 3; do
  if "${apt[@]}" update -qq; then break; fi
  if ((try == 3)); then
    echo "setup: apt-get update failed three times; going on with the package lists it got" >&2
  else
    echo "setup: apt-get update failed; trying again in 30 seconds" >&2
    sleep 30
  fi
done

if ! "${apt[@]}" install -y -q "${missing[@]}"; then
  # The 32-bit Wine needs the mirror's i386 lists; when they cannot be had
  # (the update above gave up on them, say), everything else is installed
  # without it, and the build reports the tests of the 32-bit server as
  # skipped. Any other package that cannot be installed is a failure.
  rest=()
  for p in "${missing[@]}"; do
    [[ $p == *:i386 || $p == wine32 ]] || rest+=("$p")
  done
  if ((${#rest[@]} == ${#missing[@]})) || ! "${apt[@]}" install -y -q "${rest[@]}"; then
    echo "setup: could not install the packages the build needs" >&2
    exit 1
  fi
  echo "setup: could not install the 32-bit Wine; its tests will be reported as skipped" >&2
fi
