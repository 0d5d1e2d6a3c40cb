#!/usr/bin/env bash
# Builds and runs the tests under sanitizers, each in its own build folder.
#   scripts/sanitize.sh asan   ASan + UBSan, every test          (build-asan/)
#   scripts/sanitize.sh tsan   TSan, the tests labelled threaded (build-tsan/)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
case "${1:-}" in
  asan) dir=build-asan; flags="address,undefined"; label=() ;;
  tsan) dir=build-tsan; flags="thread"; label=(-L threaded) ;;
  *) echo "usage: $0 asan|tsan" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
      -DPDEMU_WERROR=ON -DPDEMU_SANITIZE="$flags" >/dev/null
cmake --build "$dir" -j"$(nproc)"
# Qt and the libraries under it are not built with the sanitizers: see the .supp files.
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
       LSAN_OPTIONS="suppressions=$PWD/scripts/lsan-system.supp" \
       TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/scripts/tsan-qt.supp"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 1200 "${label[@]}"
