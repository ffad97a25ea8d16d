#!/bin/sh
# Installs every Debian package the build, the tests and the benchmarks need.
# Quiet, installs only what is missing, safe to run any number of times.
set -eu

PACKAGES="
build-essential g++ cmake make pkg-config ca-certificates file
clang libclang-rt-14-dev clang-format
libopencv-dev libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-contrib-dev
libfreetype-dev libfontconfig-dev libjpeg62-turbo-dev libtiff-dev
libgtest-dev libgmock-dev libbenchmark-dev
fonts-wqy-zenhei fonts-dejavu-core
netpbm libtiff-tools libjpeg-turbo-progs imagemagick
locales
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

# A UTF-8 Chinese locale for the Wine tests: under LANG=zh_CN.UTF-8 Wine's ANSI code page is 936.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
    # localedef exits non-zero for mere warnings: check the result rather than the exit code
    $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 >/dev/null 2>&1 || true
    if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
        echo "setup: could not generate the zh_CN.UTF-8 locale" >&2
    fi
fi

# A GBK locale for the caption tests (text in a double-byte code page); they skip without it.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.gbk'; then
    # localedef exits non-zero for mere warnings: check the result rather than the exit code
    $SUDO localedef -i zh_CN -f GBK zh_CN.GBK >/dev/null 2>&1 || true
    if ! locale -a 2>/dev/null | grep -qix 'zh_CN.gbk'; then
        echo "setup: could not generate the zh_CN.GBK locale" >&2
    fi
fi
