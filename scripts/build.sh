#!/usr/bin/env bash
# Configures (once) and builds pdemu into build/ with warnings as errors.
# Usage: scripts/build.sh [TARGET...]   (default: everything)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPDEMU_WERROR=ON >/dev/null
fi
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build build -j"$(nproc)" "${targets[@]}"
