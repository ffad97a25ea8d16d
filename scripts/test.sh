#!/bin/sh
# Installs what is missing, builds, and runs every test: a plain build (with the Wine COM server
# tests), the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and the caption
# threads under ThreadSanitizer. Both ctest runs replay every reader's fuzz seeds and kept
# regressions; open-ended fuzzing is scripts/fuzz.sh, benchmarks scripts/bench.sh. Prints the
# seconds each phase took.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh

jobs=$(nproc)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Seconds per phase, printed at the end (also when a phase fails).
started=$(date +%s)
lap_start=$started
laps=""
lap() {
    now=$(date +%s)
    laps="$laps$(printf '%-18s %5ds' "$1" $((now - lap_start)))
"
    lap_start=$now
}
summary() {
    [ -z "$laps" ] && return
    echo "== phase times"
    printf '%s' "$laps"
    printf '%-18s %5ds\n' 'total after setup' $(($(date +%s) - started))
}
trap summary EXIT

echo "== release build"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAV_WERROR=ON -DZAV_BUILD_BENCH=OFF \
    >/dev/null
cmake --build build/release -j"$jobs"
lap "release build"
ctest --test-dir build/release --output-on-failure -j"$jobs"
lap "release ctest"

echo "== sanitizer build (address, undefined)"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZAV_SANITIZE=ON -DZAV_WERROR=ON >/dev/null
cmake --build build/sanitize -j"$jobs"
lap "sanitizer build"
ctest --test-dir build/sanitize --output-on-failure -j"$jobs"
lap "sanitizer ctest"

echo "== thread sanitizer build (captions on several threads)"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DZAV_WERROR=ON \
    -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
    >/dev/null
cmake --build build/tsan -j"$jobs" --target caption_thread_test
caption_threads=$(find build/tsan/tests -name caption_thread_test -type f)
TSAN_OPTIONS="halt_on_error=1" "$caption_threads"
lap "tsan"

echo "== all tests passed"
