#!/bin/sh
# Installs what is missing, builds, and runs every test: a plain build (with the Wine COM server
# tests), the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and the caption
# threads under ThreadSanitizer, and the member-naming rule with clang-tidy. Both ctest runs replay every reader's fuzz seeds and kept
# regressions; open-ended fuzzing is scripts/fuzz.sh, benchmarks scripts/bench.sh. Prints the
# seconds each phase took.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh

jobs=$(nproc)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan_suppressions.txt"

# Seconds per phase, printed at the end (also when a phase fails).
started=$(date +%s)
lap_start=$started
laps=""
lap() {
    now=$(date +%s)
    laps="$laps$(printf '%-18s %5ds %s' "$1" $((now - lap_start)) "${2:-}")
"
    lap_start=$now
}
tsan_pid=""
names_pid=""
finish() {
    # A failed phase leaves nothing running behind it.
    [ -z "$tsan_pid" ] || wait "$tsan_pid" || true
    [ -z "$names_pid" ] || wait "$names_pid" || true
    if [ -n "$laps" ]; then
        echo "== phase times"
        printf '%s' "$laps"
        printf '%-18s %5ds\n' "total after setup" $(($(date +%s) - started))
    fi
}
trap finish EXIT

echo "== release build"
# Line tables only (-g1): backtraces keep their lines, and the tests build a quarter faster than
# with full debug information.
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAV_WERROR=ON -DZAV_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
cmake --build build/release -j"$jobs"
lap "release build"

# The thread sanitizer build needs nothing from the others: it runs at low priority in the
# background from here on, on what the tests and the sanitizer build leave of the processors (much:
# the longest tests run alone at the end of each ctest run). Its output is shown if it fails.
mkdir -p build/tsan
(
    from=$(date +%s)
    cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DZAV_WERROR=ON -DZAV_BUILD_SERVER=OFF \
        -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
        -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
    nice -n 10 cmake --build build/tsan -j"$jobs" --target caption_thread_test
    echo $(($(date +%s) - from)) >build/tsan/build-seconds
) >build/tsan/build.log 2>&1 &
tsan_pid=$!

# The naming check (clang-tidy over the release build's commands), likewise in the background.
(
    nice -n 10 ./scripts/check_names.sh build/release
) >build/release/check-names.log 2>&1 &
names_pid=$!

ctest --test-dir build/release --output-on-failure -j"$jobs"
lap "release ctest"

echo "== sanitizer build (address, undefined)"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZAV_SANITIZE=ON -DZAV_WERROR=ON >/dev/null
cmake --build build/sanitize -j"$jobs"
lap "sanitizer build"
ctest --test-dir build/sanitize --output-on-failure -j"$jobs"
lap "sanitizer ctest"

echo "== thread sanitizer (captions on several threads)"
pid=$tsan_pid
tsan_pid=""
if ! wait "$pid"; then
    cat build/tsan/build.log
    echo "thread sanitizer build failed"
    exit 1
fi
caption_threads=$(find build/tsan/tests -name caption_thread_test -type f)
TSAN_OPTIONS="halt_on_error=1" "$caption_threads"
lap "tsan" "(its build: $(cat build/tsan/build-seconds)s in the background since the release build)"

echo "== member names (clang-tidy)"
pid=$names_pid
names_pid=""
if ! wait "$pid"; then
    cat build/release/check-names.log
    echo "member names do not follow .clang-tidy"
    exit 1
fi
lap "names" "(checked in the background since the release build)"

echo "== all tests passed"
