#!/usr/bin/env bash
# Installs the Debian packages pdemu needs that are not on this machine yet.
# Usage: scripts/setup.sh [extra packages...]
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev z80asm zlib1g-dev
          nlohmann-json3-dev qt6-base-dev libxkbcommon-dev xvfb xauth xdotool imagemagick x11-utils
          desktop-file-utils libz80ex-dev
          dpkg-dev file appstream man-db groff-base "$@")  # the Debian package and its test
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
