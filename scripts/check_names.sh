#!/bin/sh
# Checks the naming rule of .clang-tidy (readability-identifier-naming) over the tree's C++ code,
# with the compile commands of a configured build folder: every header once, through the build's
# generated all_headers.cpp (the tests' shared helpers included), and every source file of the
# library, the tool and the fuzz harnesses that declares a class or struct of its own. The tests'
# own sources are left out: each costs clang two seconds to parse (GoogleTest's macros), which
# was a quarter of the test command's processor time.
# The COM shell and the Windows test host are compiled with Wine's and mingw-w64's headers, which
# clang-tidy cannot take from the build's commands; they follow the same rule by review.
# Usage: scripts/check_names.sh BUILD_DIR
set -eu
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/check_names.sh BUILD_DIR}
[ -f "$build/compile_commands.json" ] || { echo "check_names: no $build/compile_commands.json" >&2; exit 2; }

# GCC's precompiled headers mean nothing to clang: the commands are taken without them.
db="$build/clang-tidy"
mkdir -p "$db"
sed -e 's# -Winvalid-pch##g' -e 's# -include [^ ]*cmake_pch\.hxx##g' \
    "$build/compile_commands.json" >"$db/compile_commands.json"

files=$(git ls-files 'imaging/*.cpp' 'text/*.cpp' 'job/*.cpp' 'tools/*.cpp' 'fuzz/*.cpp' |
        xargs grep -lE '^[[:space:]]*(class|struct) [A-Za-z_][A-Za-z0-9_]*( final)?( :[^;{]*)? *\{' || true)
# shellcheck disable=SC2086
printf '%s\n' "$PWD/$build/tests/all_headers.cpp" $files |
    xargs -P "$(nproc)" -n 4 clang-tidy -p "$db" --quiet 2>/dev/null
