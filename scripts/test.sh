#!/bin/sh
# Installs what is missing, builds, and runs every test: a plain build (with the Wine COM server
# tests), the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, the caption threads
# under ThreadSanitizer, and a short libFuzzer run of every reader.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh

jobs=$(nproc)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

echo "== release build"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAV_WERROR=ON -DZAV_BUILD_BENCH=ON \
    >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs"

echo "== sanitizer build (address, undefined)"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZAV_SANITIZE=ON -DZAV_WERROR=ON >/dev/null
cmake --build build/sanitize -j"$jobs"
ctest --test-dir build/sanitize --output-on-failure -j"$jobs"

echo "== thread sanitizer build (captions on several threads)"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DZAV_WERROR=ON \
    -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
    >/dev/null
cmake --build build/tsan -j"$jobs" --target caption_thread_test
TSAN_OPTIONS="halt_on_error=1" ./build/tsan/tests/text/caption_thread_test

echo "== fuzzing (FUZZ_SECONDS=${FUZZ_SECONDS:-30} per target)"
./scripts/fuzz.sh

echo "== all tests passed"
