#!/usr/bin/env bash
# Builds the Debian package build/pdemu_VERSION_ARCH.deb (CPack's DEB
# generator; settings in the top CMakeLists.txt) from build/, the build that
# scripts/build.sh makes, so nothing is compiled twice. The package installs
# under /usr; build/ is configured with that prefix too, so the data folder the
# programs fall back on is the package's.
# Install it with: sudo apt-get install ./build/pdemu_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
cmake -S . -B build -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build -j"$(nproc)"
rm -f build/pdemu_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/pdemu_*.deb)
echo "package.sh: $deb"
