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
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=900 update -qq
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y -q "${missing[@]}"
