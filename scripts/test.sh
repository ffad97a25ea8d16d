#!/bin/sh
# Installs what is missing, builds, and runs every test: a release build (the tests over the
# library: the tool's, Python's, the Wine COM server's, the installed package's), every unit test
# and the tool's under AddressSanitizer and UndefinedBehaviorSanitizer, the unit tests again
# optimized in the i386 tree (with the 32-bit COM server, alone and beside the 64-bit one), the
# caption threads under ThreadSanitizer, the member-naming rule with clang-tidy, and the sources'
# checks: the C and C++ format (clang-format), Python (pyflakes) and shell (shellcheck). The release
# and sanitizer runs replay every reader's fuzz seeds and kept regressions; open-ended fuzzing is
# scripts/fuzz.sh, benchmarks scripts/bench.sh. The phases overlap; the seconds each took are
# printed.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh

jobs=$(nproc)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan_suppressions.txt"
export LSAN_OPTIONS

# Wine prefixes are booted once per architecture and Wine version into the user's cache (part of
# setting the machine up, like the packages), then copied by every Wine test.
wine_version=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' _ || true)
export ZAV_WINE_TEMPLATES="${ZAV_WINE_TEMPLATES:-${XDG_CACHE_HOME:-$HOME/.cache}/zavimage/wine-templates/${wine_version:-none}}"
. ./scripts/wine_env.sh
zav_wine_template win64 >/dev/null &
zav_wine_template win32 >/dev/null
wait

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
release_pid=""
tsan_pid=""
names_pid=""
sources_pid=""
i386_pid=""
finish() {
    # A failed phase leaves nothing running behind it.
    [ -z "$release_pid" ] || wait "$release_pid" || true
    [ -z "$tsan_pid" ] || wait "$tsan_pid" || true
    [ -z "$names_pid" ] || wait "$names_pid" || true
    [ -z "$sources_pid" ] || wait "$sources_pid" || true
    [ -z "$i386_pid" ] || wait "$i386_pid" || true
    if [ -n "$laps" ]; then
        echo "== phase times"
        printf '%s' "$laps"
        printf '%-18s %5ds\n' "total after setup" $(($(date +%s) - started))
    fi
}
trap finish EXIT

# await VAR LOG WHAT: waits for the background phase whose process is in $VAR (then clears VAR, so
# that finish does not wait again); if it failed, prints LOG and WHAT and stops.
await() {
    eval "pid=\$$1"
    eval "$1=''"
    # shellcheck disable=SC2154 # pid is assigned by the eval above: sh has no indirect names
    if ! wait "$pid"; then
        cat "$2"
        echo "$3"
        exit 1
    fi
}


echo "== release build"
# The library, the tool, the COM server and the tests over them (the tool's, Python's, the COM
# server's under Wine, the installed package's, the fuzz replays). The unit tests run in the
# sanitizer tree and, optimized, in the i386 tree. Line tables only (-g1): backtraces keep their
# lines.
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAV_WERROR=ON -DZAV_BUILD_BENCH=OFF \
    -DZAV_BUILD_UNIT_TESTS=OFF \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null

# The phases overlap, so that the processors never wait for Wine, for a test that sleeps or for
# the one step a build is waiting on: the tests that mostly wait (the release tests with their
# Wine prefixes, then the i386 tests and both servers side by side) run at normal priority beside
# the builds, which run a little lower, and the thread sanitizer build, the naming check and the
# sources' checks fill what is left at the lowest from the start. Each background phase's output
# is shown if it fails.

# The naming check (clang-tidy over the release build's commands).
(
    nice -n 10 ./scripts/check_names.sh build/release
) >build/release/check-names.log 2>&1 &
names_pid=$!

# The sources' checks over the tracked files, each run whole so that one log shows every finding:
# the format as .clang-format has it (checked, never rewritten), Python with pyflakes (unused
# imports and names, undefined names), shell with shellcheck (following what the scripts source).
(
    status=0
    git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 -r nice -n 10 clang-format --dry-run -Werror ||
        status=1
    git ls-files -z '*.py' | xargs -0 -r nice -n 10 pyflakes3 || status=1
    git ls-files -z '*.sh' | xargs -0 -r nice -n 10 shellcheck -x || status=1
    exit $status
) >build/release/check-sources.log 2>&1 &
sources_pid=$!

# The thread sanitizer build needs nothing from the others: the component alone (no job layer,
# no tool), for the captions on several threads.
mkdir -p build/tsan
(
    from=$(date +%s)
    cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DZAV_WERROR=ON -DZAV_BUILD_SERVER=OFF \
        -DZAV_BUILD_JOB=OFF -DZAV_BUILD_TOOL=OFF \
        -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
        -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
        -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
    nice -n 10 cmake --build build/tsan -j"$jobs" --target caption_thread_test
    echo $(($(date +%s) - from)) >build/tsan/build-seconds
) >build/tsan/build.log 2>&1 &
tsan_pid=$!

cmake --build build/release -j"$jobs"
lap "release build"

# The release tree's tests, beside the i386 build.
(
    from=$(date +%s)
    ctest --test-dir build/release --output-on-failure -j"$jobs"
    echo "release ctest: $(($(date +%s) - from))s"
) >build/release/ctest.log 2>&1 &
release_pid=$!

# --- i386 ---
# The i386 tree (cmake/toolchain-i386.cmake): built lightly (-O1, no debug information; without the
# tool, which is the same code over the same C interface, tested in the release tree), then its
# unit tests, the 32-bit COM server under Wine, both servers in one prefix and the 32-bit one in a
# 32-bit prefix, in the background beside the sanitizer build.
echo "== i386 build (the release tests run beside it)"
cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386.cmake \
    -DCMAKE_BUILD_TYPE=Release -DZAV_WERROR=ON -DZAV_BUILD_TOOL=OFF \
    -DCMAKE_C_FLAGS_RELEASE="-O1 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" >/dev/null
nice -n 5 cmake --build build/i386 -j"$jobs"
lap "i386 build"
(
    from=$(date +%s)
    ctest --test-dir build/i386 --output-on-failure -j"$jobs"
    echo "i386 ctest: $(($(date +%s) - from))s"
    ./scripts/wine_side_by_side_test.sh build/release build/i386
    echo "i386 side by side: $(($(date +%s) - from))s"
) >build/i386/test.log 2>&1 &
i386_pid=$!
# --- end i386 ---

echo "== release tests (run beside the i386 build)"
await release_pid build/release/ctest.log "release tests failed"
grep -E 'tests passed|^Total Test time|^release ctest' build/release/ctest.log
lap "release ctest" "(waited for)"

echo "== sanitizer build (address, undefined)"
# Line tables only here too: the sanitizers' reports keep their file and line.
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZAV_SANITIZE=ON -DZAV_WERROR=ON \
    -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 >/dev/null
nice -n 5 cmake --build build/sanitize -j"$jobs"
lap "sanitizer build"
ctest --test-dir build/sanitize --output-on-failure -j"$jobs"
lap "sanitizer ctest"

echo "== thread sanitizer (captions on several threads)"
await tsan_pid build/tsan/build.log "thread sanitizer build failed"
caption_threads=$(find build/tsan/tests -name caption_thread_test -type f)
TSAN_OPTIONS="halt_on_error=1" "$caption_threads"
lap "tsan" "(its build: $(cat build/tsan/build-seconds)s in the background from the start)"

echo "== member names (clang-tidy)"
await names_pid build/release/check-names.log "member names do not follow .clang-tidy"
lap "names" "(checked in the background from the start)"

echo "== sources: format (clang-format), Python (pyflakes), shell (shellcheck)"
await sources_pid build/release/check-sources.log "sources fail their checks (see above)"
lap "source checks" "(checked in the background from the start)"

echo "== i386: unit tests, the 32-bit COM server, both servers in one prefix"
await i386_pid build/i386/test.log "i386 tests failed"
grep '^i386 ' build/i386/test.log
lap "i386 tests" "(in the background since the i386 build)"

echo "== all tests passed"
