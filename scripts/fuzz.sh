#!/usr/bin/env bash
# Builds the symbol file fuzzer with clang's libFuzzer (ASan and UBSan on) into
# build-fuzz/ and runs it for the given number of seconds (default 60) on a
# copy of the checked-in seeds in fuzz/corpus/. Crashing inputs are left in
# build-fuzz/crashes/; add them to fuzz/corpus/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
out=build-fuzz
rm -rf "$out/corpus"
mkdir -p "$out/corpus" "$out/crashes"

clang++-14 -std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined \
    -fno-sanitize-recover=undefined -Isrc \
    fuzz/SymbolFileFuzzer.cpp src/debugger/SymbolTable.cpp src/host/HostFiles.cpp -o "$out/symbol-file-fuzzer"

# Each run starts from a fresh copy of the seeds; the fuzzer's own finds stay
# out of the source tree.
cp fuzz/corpus/*.map fuzz/corpus/*.sym "$out/corpus/"
"$out/symbol-file-fuzzer" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$out/crashes/" "$out/corpus"
