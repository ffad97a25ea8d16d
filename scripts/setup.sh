#!/bin/sh
# Installs every Debian package the build, the tests and the benchmarks need.
# Quiet, installs only what is missing, safe to run any number of times.
set -eu

PACKAGES="
build-essential g++ cmake make pkg-config ca-certificates file
clang libclang-rt-14-dev clang-format clang-tidy
libopencv-dev libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-contrib-dev
libfreetype-dev libfontconfig-dev libjpeg62-turbo-dev libtiff-dev
libgtest-dev libgmock-dev libbenchmark-dev
fonts-wqy-zenhei fonts-dejavu-core
netpbm libtiff-tools libjpeg-turbo-progs imagemagick
locales
libspng-dev
wine wine64 wine64-tools g++-mingw-w64-x86-64
"

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
    if ! { $SUDO apt-get update -qq && \
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
