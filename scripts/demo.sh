#!/usr/bin/env bash
# The main job in one command on a fresh machine: installs what the build
# needs when it is missing, builds the library, the tova tool and the tests
# (CMake preset "default"), writes a sample recording, shows what it holds,
# dumps the entries of one frame and exports that frame as a false-colour PNG.
#
#   scripts/demo.sh            everything, output under build/demo/
#
# Installing needs root (or sudo) and a Debian-like system with apt-get;
# elsewhere the script names what to install and stops.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

say() { printf '\n==== %s\n' "$*"; }

# ---- what the build needs --------------------------------------------------
# Debian package names; each is installed only when it is missing.
packages=(cmake make g++ libpng-dev libgtest-dev)
missing=()
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
if command -v dpkg-query >/dev/null 2>&1; then
  for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
else
  for tool in cmake make g++; do command -v "$tool" >/dev/null 2>&1 || missing+=("$tool"); done
fi

if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "demo: please install ${missing[*]} (and libpng, GoogleTest) with your package manager" >&2
    exit 1
  fi
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      as_root=(sudo)
    else
      echo "demo: ${missing[*]} missing and not root; run as root or install them first" >&2
      exit 1
    fi
  fi
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# ---- build -------------------------------------------------------------------
say "building (cmake --preset default)"
cmake --preset default
cmake --build --preset default -j2

tova="$root/build/default/cli/tova"
if [ ! -x "$tova" ]; then
  echo "demo: the build made no $tova" >&2
  exit 1
fi

# ---- the tool at work --------------------------------------------------------
out="$root/build/demo"
mkdir -p "$out"
recording="$out/sample.tova"
png="$out/frame-10.png"

say "tova sample: a hot spot circling over a warm background"
"$tova" sample "$recording" --frames 50 --size 160x120 --force

say "tova info"
"$tova" info "$recording"

say "tova dump: the entries stored with frame 10"
"$tova" dump "$recording" --frame 10 --section dh,im

say "tova export: frame 10 as a false-colour PNG"
"$tova" export "$recording" --frame 10 -o "$png"

say "done"
echo "recording: $recording"
echo "picture:   $png"
echo "the tool:  $tova --help"
