#!/bin/sh
# Installs the Debian packages the project needs: `setup.sh main` only what building the library and
# the tool and running the demonstration take; `setup.sh` (or `setup.sh all`) also everything the
# tests, the Wine COM server, the i386 tree and the benchmarks need.
# Quiet, installs only what is missing, safe to run any number of times. Waits (up to ten minutes)
# for another apt or dpkg to finish instead of failing.
set -eu

case "${1:-all}" in
main | all) scope=${1:-all} ;;
*)
    echo "usage: $0 [main|all]" >&2
    exit 2
    ;;
esac

# The library and the tool: the compilers and build tools, the libraries they build against
# (libopencv-dev carries OpenCV's CMake package, through which the core and imgproc modules are
# found), the caption fonts (WenQuanYi Zen Hei for the Chinese letters, DejaVu for the rest) and the
# locale definitions, from which the user's locale (multibyte captions are decoded in it) is made.
PACKAGES_MAIN="
build-essential g++ cmake make pkg-config
libopencv-dev libopencv-core-dev libopencv-imgproc-dev
libfreetype-dev libfontconfig-dev libjpeg62-turbo-dev libtiff-dev
libharfbuzz-dev libfribidi-dev
libspng-dev libdeflate-dev zlib1g-dev
nlohmann-json3-dev
fonts-wqy-zenhei fonts-dejavu-core
locales
"

# The tests and the checks: GoogleTest, clang (fuzzing, clang-tidy, clang-format), the test
# command's checks of Python and shell scripts (pyflakes, shellcheck), the fonts of the scripts the
# captions are tested in, the other programs that read and write the test images, and Python with
# the packages the Python tests use. The tool's test formats its manual page (man-db); the
# benchmarks (Google Benchmark, OpenCV's own codecs) time and measure with time and bc; their
# Python peers are Pillow and OpenCV's Python module.
PACKAGES_TESTS="
ca-certificates file
clang libclang-rt-14-dev clang-format clang-tidy pyflakes3 shellcheck
libgtest-dev libgmock-dev libbenchmark-dev
libopencv-imgcodecs-dev libopencv-contrib-dev
fonts-noto-core fonts-noto-color-emoji
netpbm libtiff-tools libjpeg-turbo-progs imagemagick
python3 python3-numpy python3-pytest python3-dask python3-distributed
python3-pip python3-setuptools python3-wheel python3-venv
python3-pil python3-opencv
man-db time bc
"

# The COM server for 64-bit Windows programs under Wine, and mingw-w64 for its test host. Wine's
# 64-bit development files are named with their architecture: wine64-tools is content with the
# i386 ones, with which the 64-bit server does not link.
PACKAGES_WINE="
wine wine64 wine64-tools g++-mingw-w64-x86-64
libwine-dev:$(dpkg --print-architecture)
"

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

PACKAGES=$PACKAGES_MAIN
if [ "$scope" = all ]; then
    PACKAGES="$PACKAGES $PACKAGES_TESTS $PACKAGES_WINE $PACKAGES_I386"
fi

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

# Seconds to wait for another apt or dpkg (an unattended upgrade, a second setup) to let go of its
# lock.
lock_wait=600

# apt_get ARGS...: apt-get without questions, in English (apt_update reads its messages), waiting
# for dpkg's locks. The environment is passed through env: sudo would drop it.
apt_get() {
    $SUDO env DEBIAN_FRONTEND=noninteractive LC_ALL=C \
        apt-get -o DPkg::Lock::Timeout="$lock_wait" "$@"
}

# apt_update: apt-get update, retried while another process holds the lock of the package lists
# (DPkg::Lock::Timeout covers dpkg's locks only; apt-get update gives up on its own lock at once).
apt_update() {
    waited=0
    while ! output=$(apt_get update -qq 2>&1); do
        case $output in
        *"Could not get lock"*) ;;
        *)
            printf '%s\n' "$output"
            return 1
            ;;
        esac
        if [ "$waited" -ge "$lock_wait" ]; then
            printf '%s\n' "$output"
            return 1
        fi
        sleep 5
        waited=$((waited + 5))
    done
    printf '%s' "$output"
}

# The i386 packages need Debian's i386 architecture enabled (apt-get update below then reads it).
add_i386=""
if [ "$scope" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
    log=$(mktemp)
    # shellcheck disable=SC2086
    if ! { { [ -z "$add_i386" ] || $SUDO dpkg --add-architecture i386; } && \
           apt_update && \
           apt_get install -y -qq --no-install-recommends $missing; } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "setup: package installation failed" >&2
        exit 1
    fi
    rm -f "$log"
fi

# ensure_locale NAME SOURCE CHARSET LOCALE: generates LOCALE (e.g. zh_CN.UTF-8) from the locale
# source SOURCE (zh_CN) when `locale -a` lacks it.
ensure_locale() {
    if ! locale -a 2>/dev/null | grep -qix "$1"; then
        # localedef exits non-zero for mere warnings: check the result rather than the exit code
        $SUDO localedef -i "$2" -f "$3" "$4" >/dev/null 2>&1 || true
        if ! locale -a 2>/dev/null | grep -qix "$1"; then
            echo "setup: could not generate the $4 locale" >&2
        fi
    fi
}

if [ "$scope" = all ]; then
    # Under LANG=zh_CN.UTF-8 Wine's ANSI code page is 936: the Wine tests use it.
    ensure_locale zh_CN.utf8 zh_CN UTF-8 zh_CN.UTF-8
    # Text in a double-byte code page for the caption tests (they skip without it).
    ensure_locale zh_CN.gbk zh_CN GBK zh_CN.GBK
    # A decimal comma: the job tests read numbers under it (they skip without it).
    ensure_locale de_DE.utf8 de_DE UTF-8 de_DE.UTF-8
fi
