#!/bin/sh
# Installs what the library and the tool need (only that: no test, Wine or i386 packages), builds
# the tool, and runs the demonstration. Its tree, build/demo, holds the library and the tool alone:
# without the tests (whose packages may be absent) and the COM server, so that
# `cmake --install build/demo` finds everything it installs built. build/release stays the test
# command's.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh main
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAV_BUILD_TESTS=OFF \
    -DZAV_BUILD_SERVER=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" --target zavimage_cli >/dev/null
if [ $# -eq 0 ]; then
    set -- out/demo
fi
build/demo/tools/zavimage demo "$@"
sudo="sudo "
if [ "$(id -u)" -eq 0 ]; then
    sudo=""
fi
echo "zavimage is build/demo/tools/zavimage; to put it on PATH: ${sudo}cmake --install build/demo"
