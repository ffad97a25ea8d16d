#!/bin/sh
# Installs every Debian package the build, the tests and the benchmarks need.
# Quiet, installs only what is missing, safe to run any number of times.
set -eu

PACKAGES="
build-essential g++ cmake make pkg-config ca-certificates file
clang libclang-rt-14-dev clang-format clang-tidy
libopencv-dev libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-contrib-dev
libfreetype-dev libfontconfig-dev libjpeg62-turbo-dev libtiff-dev
libharfbuzz-dev libfribidi-dev
libgtest-dev libgmock-dev libbenchmark-dev
fonts-wqy-zenhei fonts-dejavu-core
fonts-noto-core
netpbm libtiff-tools libjpeg-turbo-progs imagemagick
locales
libspng-dev libdeflate-dev zlib1g-dev
wine wine64 wine64-tools g++-mingw-w64-x86-64
python3 python3-numpy python3-pytest python3-dask python3-distributed
python3-pip python3-setuptools python3-wheel python3-venv
"
# Wine's 64-bit development files, named with their architecture: wine64-tools is content with
# the i386 ones, with which the 64-bit server does not link.
PACKAGES="$PACKAGES libwine-dev:$(dpkg --print-architecture)"
# The tool's test formats its manual page; its benchmark times and measures with time and bc.
PACKAGES="$PACKAGES man-db"
PACKAGES="$PACKAGES time bc"

# The i386 tree (cmake/toolchain-i386.cmake) and the COM server for 32-bit Windows programs: the
# core's development packages for i386 beside the native ones, -m32, Wine's 32-bit side and the
# i686 mingw-w64 compiler for the test host. Multiarch names carry their :i386 suffix.
PACKAGES_I386="
gcc-multilib g++-multilib
libopencv-core-dev:i386 libopencv-imgproc-dev:i386
libfreetype-dev:i386 libfontconfig-dev:i386 libjpeg62-turbo-dev:i386 libtiff-dev:i386
libspng-dev:i386 libdeflate-dev:i386 zlib1g-dev:i386 libharfbuzz-dev:i386 libfribidi-dev:i386
libgtest-dev:i386 libgmock-dev:i386
wine32:i386 libwine-dev:i386 g++-mingw-w64-i686
"
PACKAGES="$PACKAGES $PACKAGES_I386"

if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO=sudo
    else
        echo "setup: run as root (or install sudo) to install packages" >&2
        exit 1
    fi
else
    SUDO=
fi

# The i386 packages need Debian's i386 architecture enabled (apt-get update below then reads it).
add_i386=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    add_i386=yes
fi

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    export DEBIAN_FRONTEND=noninteractive
    log=$(mktemp)
    # shellcheck disable=SC2086
    if ! { { [ -z "$add_i386" ] || $SUDO dpkg --add-architecture i386; } && \
           $SUDO apt-get update -qq && \
           $SUDO apt-get install -y -qq --no-install-recommends $missing; } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "setup: package installation failed" >&2
        exit 1
    fi
    rm -f "$log"
fi

# ensure_locale NAME CHARSET LOCALE: generates LOCALE (e.g. zh_CN.UTF-8) when `locale -a` lacks it.
ensure_locale() {
    if ! locale -a 2>/dev/null | grep -qix "$1"; then
        # localedef exits non-zero for mere warnings: check the result rather than the exit code
        $SUDO localedef -i zh_CN -f "$2" "$3" >/dev/null 2>&1 || true
        if ! locale -a 2>/dev/null | grep -qix "$1"; then
            echo "setup: could not generate the $3 locale" >&2
        fi
    fi
}

# Under LANG=zh_CN.UTF-8 Wine's ANSI code page is 936: the Wine tests use it.
ensure_locale zh_CN.utf8 UTF-8 zh_CN.UTF-8
# Text in a double-byte code page for the caption tests (they skip without it).
ensure_locale zh_CN.gbk GBK zh_CN.GBK
