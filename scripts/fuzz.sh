#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each fuzz_* target for FUZZ_SECONDS seconds (30 by default), starting from a copy of its seeds in
# fuzz/seeds/<name>/. Fails when a target finds a crash, a leak or undefined behaviour.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh

seconds=${FUZZ_SECONDS:-30}
jobs=$(nproc)
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAV_BUILD_FUZZ=ON \
    >/dev/null
# Only the fuzz targets: the library's C programs would need the C++ part of the sanitizer runtime.
targets=$(cmake --build build/fuzz --target help | grep -o 'fuzz_[a-z0-9_]*' | sort -u)
# shellcheck disable=SC2086
cmake --build build/fuzz -j"$jobs" --target $targets

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
status=0
for target in build/fuzz/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=${target##*/fuzz_}
    corpus="$work/$name"
    mkdir -p "$corpus"
    if [ -d "fuzz/seeds/$name" ]; then
        cp fuzz/seeds/"$name"/* "$corpus"/ 2>/dev/null || true
    fi
    echo "== fuzz_$name for ${seconds}s"
    if ! "$target" -max_total_time="$seconds" -max_len=16384 -timeout=20 -rss_limit_mb=4096 \
            -print_final_stats=1 -artifact_prefix="$work/" "$corpus" >"$work/$name.log" 2>&1; then
        tail -n 60 "$work/$name.log"
        for crash in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
            [ -e "$crash" ] || continue
            mkdir -p build/fuzz/artifacts
            cp "$crash" build/fuzz/artifacts/
            echo "fuzz_$name: input kept in build/fuzz/artifacts/${crash##*/}"
        done
        status=1
    else
        grep -E "^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+.*DONE" "$work/$name.log" || true
    fi
done
exit $status
