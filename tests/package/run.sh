#!/bin/sh
# Installs the build tree into a temporary prefix and builds a small consumer against it, once with
# CMake's find_package and once with pkg-config. Arguments: the build directory, this folder.
set -eu
build=$1
here=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
if [ "${ZAV_WITH_TOOL:-0}" = 1 ]; then
    test -x "$work/prefix/bin/zavimage"
    "$work/prefix/bin/zavimage" --version
fi
# the Python package finds the library installed with it, without ZAVIMAGE_LIBRARY (where the
# interpreter and the library have the same word size: the ELF class is byte 4, 1 or 2)
library_bits=$(($(od -An -j4 -N1 -tu1 "$work/prefix/lib/libzavimage.so.1") * 32))
if /usr/bin/python3 -c 'import numpy, struct, sys; sys.exit(struct.calcsize("P") * 8 != int(sys.argv[1]))' \
    "$library_bits" 2>/dev/null; then
    env -u ZAVIMAGE_LIBRARY PYTHONPATH="$work/prefix/lib/python3/dist-packages" /usr/bin/python3 \
        -c 'import sys, zavimage; sys.exit(zavimage.LIBRARY_PATH != sys.argv[1])' \
        "$work/prefix/lib/libzavimage.so.1"
fi

# CMake package configuration (with the build's toolchain file, if it has one)
cmake -S "$here" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" \
    ${ZAV_TOOLCHAIN:+-DCMAKE_TOOLCHAIN_FILE="$ZAV_TOOLCHAIN"} >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib" "$work/cmake-build/consumer"

# pkg-config
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
test "$(pkg-config --modversion zavimage)" = "1.0.0"
# shellcheck disable=SC2046,SC2086
cc ${ZAV_CFLAGS:-} -std=c11 -o "$work/consumer-pc" "$here/consumer.c" \
    $(pkg-config --cflags --libs zavimage)
LD_LIBRARY_PATH="$work/prefix/lib" "$work/consumer-pc"

# the soname is versioned
objdump -p "$work/prefix/lib/libzavimage.so.1" | grep -q 'SONAME *libzavimage.so.1'
echo "package: ok"
