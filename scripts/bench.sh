#!/bin/sh
# Builds and runs every benchmark (ours against OpenCV, in one run). Extra arguments go to each one.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAV_BUILD_BENCH=ON >/dev/null
cmake --build build/release -j"$(nproc)"
for b in build/release/bench/bench_*; do
    [ -x "$b" ] || continue
    echo "== $b"
    "$b" "$@"
done
