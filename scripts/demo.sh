#!/bin/sh
# Installs what is missing, builds, and runs the demonstration.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$(nproc)" --target zavimage_cli >/dev/null
if [ $# -eq 0 ]; then
    set -- out/demo
fi
exec build/release/tools/zavimage demo "$@"
