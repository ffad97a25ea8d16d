#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each fuzz_* target (the readers', the captions', the job layer's) for FUZZ_SECONDS seconds (30 by
# default), two targets at a time, starting from a copy of its seeds in fuzz/seeds/<name>/ and of
# its regressions in fuzz/regressions/<name>/. FUZZ_TARGETS, names separated by spaces ("exif job"),
# picks some of them; every target by default. Fails
# when a target finds a crash, a leak or undefined behaviour; the input is kept in
# build/fuzz/artifacts/. Not part of scripts/test.sh: the tests replay the seeds and regressions
# (ctest tests fuzz_replay_<name>), this explores beyond them.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh

seconds=${FUZZ_SECONDS:-30}
LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan_suppressions.txt"
export LSAN_OPTIONS
jobs=$(nproc)
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAV_BUILD_FUZZ=ON \
    >/dev/null
# Only the fuzz targets: the library's C programs would need the C++ part of the sanitizer runtime.
targets=$(cmake --build build/fuzz --target help | grep -o 'fuzz_[a-z0-9_]*' | sort -u)
if [ -n "${FUZZ_TARGETS:-}" ]; then
    picked=""
    for name in $FUZZ_TARGETS; do
        if ! echo "$targets" | grep -qx "fuzz_$name"; then
            echo "fuzz.sh: no target fuzz_$name (FUZZ_TARGETS)" >&2
            exit 2
        fi
        picked="$picked fuzz_$name"
    done
    targets=$picked
fi
# shellcheck disable=SC2086
cmake --build build/fuzz -j"$jobs" --target $targets

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# fuzz NAME: runs build/fuzz/fuzz/fuzz_NAME; its log goes to $work/NAME.log, its exit status to
# $work/NAME.status.
fuzz() {
    corpus="$work/$1"
    mkdir -p "$corpus"
    for kept in fuzz/seeds/"$1" fuzz/regressions/"$1"; do
        if [ -d "$kept" ]; then
            cp "$kept"/* "$corpus"/ 2>/dev/null || true
        fi
    done
    rc=0
    build/fuzz/fuzz/fuzz_"$1" -max_total_time="$seconds" -max_len=16384 -timeout=20 \
        -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$work/$1-" "$corpus" \
        >"$work/$1.log" 2>&1 || rc=$?
    echo "$rc" >"$work/$1.status"
}

# report NAME: prints how the run went; fails when it found something.
report() {
    if [ "$(cat "$work/$1.status")" -eq 0 ]; then
        echo "== fuzz_$1: no fault"
        grep -E "^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+.*DONE" "$work/$1.log" || true
        return 0
    fi
    echo "== fuzz_$1: FAILED"
    tail -n 60 "$work/$1.log"
    for found in "$work/$1"-crash-* "$work/$1"-leak-* "$work/$1"-timeout-* "$work/$1"-oom-*; do
        [ -e "$found" ] || continue
        mkdir -p build/fuzz/artifacts
        cp "$found" build/fuzz/artifacts/
        echo "fuzz_$1: input kept in build/fuzz/artifacts/${found##*/}" \
            "(once fixed, add it to fuzz/regressions/$1/)"
    done
    return 1
}

names=""
for target in $targets; do
    names="$names ${target#fuzz_}"
done
status=0
# Two at a time: each target is one process, so two keep both cores of a small machine busy.
# shellcheck disable=SC2086
set -- $names
while [ $# -gt 0 ]; do
    if [ $# -ge 2 ]; then
        echo "== fuzz_$1 and fuzz_$2 for ${seconds}s"
        fuzz "$1" &
        fuzz "$2" &
        wait
        report "$1" || status=1
        report "$2" || status=1
        shift 2
    else
        echo "== fuzz_$1 for ${seconds}s"
        fuzz "$1"
        report "$1" || status=1
        shift
    fi
done
exit $status
