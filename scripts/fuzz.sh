#!/usr/bin/env bash
# Builds the fuzzers with clang's libFuzzer (ASan and UBSan on) into
# build-fuzz/ and runs them for the given number of seconds in all (default
# 60, shared evenly), each on a fresh copy of its checked-in seeds in
# fuzz/corpus/: the symbol file fuzzer on *.map and *.sym, the point syntax
# fuzzer on points-*.txt, the state file fuzzer on state-*.bin (a state and
# a session file of the demo firmware, and the start of their payloads, each
# behind the fuzzer's mode byte), the GDB protocol fuzzer on gdb-*.txt (client
# byte streams behind a byte that sets the size of the pieces). Crashing inputs are left in
# build-fuzz/crashes/; add them to fuzz/corpus/ once fixed.
# Usage: scripts/fuzz.sh [seconds] [symbol-file|point-syntax|state-file|gdb-protocol ...]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift $(( $# > 0 ? 1 : 0 ))
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(symbol-file point-syntax state-file gdb-protocol)
out=build-fuzz
mkdir -p "$out/crashes"

flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -Isrc)
share=$(( seconds / ${#targets[@]} ))
[ "$share" -lt 1 ] && share=1

for target in "${targets[@]}"; do
    libs=()
    case "$target" in
        symbol-file)
            sources=(fuzz/SymbolFileFuzzer.cpp src/debugger/SymbolTable.cpp src/host/HostFiles.cpp)
            seeds=(fuzz/corpus/*.map fuzz/corpus/*.sym)
            max_len=65536 ;;
        point-syntax)
            sources=(fuzz/PointSyntaxFuzzer.cpp src/debugger/PointSyntax.cpp src/debugger/Expression.cpp
                     src/debugger/SymbolTable.cpp src/host/HostFiles.cpp)
            seeds=(fuzz/corpus/points-*.txt)
            max_len=8192 ;;  # lines are refused beyond 4096 characters
        state-file)
            sources=(fuzz/StateFileFuzzer.cpp src/machine/StateFile.cpp src/machine/MachineState.cpp
                     src/host/HostFiles.cpp)
            libs=(-lz)
            seeds=(fuzz/corpus/state-*.bin)
            max_len=65536 ;;  # the seeds are files of about 10 KB
        gdb-protocol)
            sources=(fuzz/GdbProtocolFuzzer.cpp src/debugger/GdbProtocol.cpp)
            seeds=(fuzz/corpus/gdb-*.txt)
            max_len=40000 ;;  # a few packets of the largest size
        *) echo "fuzz.sh: unknown target '$target' (symbol-file, point-syntax, state-file or gdb-protocol)" >&2; exit 2 ;;
    esac
    clang++-14 "${flags[@]}" "${sources[@]}" "${libs[@]}" -o "$out/$target-fuzzer"
    # Each run starts from a fresh copy of the seeds; the fuzzer's own finds
    # stay out of the source tree.
    rm -rf "$out/corpus-$target"
    mkdir -p "$out/corpus-$target"
    cp "${seeds[@]}" "$out/corpus-$target/"
    echo "fuzz.sh: $target for ${share}s" >&2
    "$out/$target-fuzzer" -max_total_time="$share" -max_len="$max_len" -print_final_stats=1 \
        -artifact_prefix="$out/crashes/$target-" "$out/corpus-$target"
done
