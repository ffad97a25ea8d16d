#!/bin/sh
# The COM server's tests under Wine, run by ctest (label "wine") from a build directory that holds
# server/ZAVImage.dll, tests/wine/zav_com_host.exe and tests/wine/zav_com_reference:
#   scripts/wine_test.sh BUILD_DIR
# A fresh prefix under BUILD_DIR/wine-test, the ANSI code page 936 (LANG=zh_CN.UTF-8),
# registration with regsvr32, every group of the Windows test host (the host's worker threads
# among them), the typical job compared byte for byte with the native library's files, and
# unregistration, after which the registry is as before. The prefix and its wineserver are this
# test's own, so it may run beside other tests.
#
# The build's architecture decides the server's: a 64-bit server is registered and tested by the
# 64-bit programs, a 32-bit one (an i386 build) by the 32-bit programs, in a 64-bit prefix (the
# syswow64 side), or in a 32-bit one with ZAV_WINEARCH=win32.
set -eu

# shellcheck source-path=SCRIPTDIR source=wine_env.sh
. "$(dirname "$0")/wine_env.sh"
build=$(cd "$1" && pwd)
server=$build/server
host=$build/tests/wine/zav_com_host.exe
reference=$build/tests/wine/zav_com_reference
work=$build/wine-test

for f in "$server/ZAVImage.dll" "$server/ZAVImage.tlb" "$host" "$reference"; do
    if [ ! -f "$f" ]; then
        echo "wine_test: $f is missing (build with -DZAV_BUILD_SERVER=ON)" >&2
        exit 1
    fi
done
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
    echo "wine_test: the zh_CN.UTF-8 locale is missing (scripts/setup.sh generates it)" >&2
    exit 1
fi

bits=$(zav_dll_bits "$server/ZAVImage.dll")
loader=$(zav_wine_loader "$bits")
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEARCH="${ZAV_WINEARCH:-win64}"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
unset LANGUAGE 2>/dev/null || true

cleanup() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
}
trap cleanup EXIT INT TERM

failures=0
pass() { echo "ok    $1"; }
fail() {
    echo "FAIL  $1"
    failures=$((failures + 1))
}
# check NAME COMMAND...: runs a command (wine calls within a time limit) and records the outcome
check() {
    name=$1
    shift
    if "$@" >"$work/last.log" 2>&1; then
        pass "$name"
    else
        sed 's/^/      /' "$work/last.log"
        fail "$name"
    fi
}
wine_run() { timeout 120 "$loader" "$@"; }
winpath() { timeout 60 "$loader" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
host() { wine_run "$host" "$@"; }

echo "== wine: fresh $WINEARCH prefix, $bits-bit server"
zav_new_prefix "$WINEPREFIX" "$WINEARCH"

dll=$(winpath "$server/ZAVImage.dll")
tlb=$(winpath "$server/ZAVImage.tlb")
drive_c=$WINEPREFIX/drive_c

# Input files under Windows paths, a Chinese folder and file name among them.
mkdir -p "$drive_c/zavtest/in" "$drive_c/zavtest/out" "$drive_c/zavtest/中文"
convert -size 201x120 gradient:navy-yellow -type TrueColor BMP3:"$drive_c/zavtest/in/a.bmp"
cp "$drive_c/zavtest/in/a.bmp" "$drive_c/zavtest/中文/图片.bmp"

echo "== wine: before registration"
check "exports, class object, lock count, GetClassInfo unregistered" host exports "$dll"

# The registry's classes, to compare with after unregistration.
snapshot() { zav_classes_export "$loader" "$work/$1.reg"; }
registry_is() { zav_classes_are "$loader" "$work/$1.reg"; }

echo "== wine: registration"
check "the registry before registration" snapshot before
check "regsvr32 registers" wine_run regsvr32 /s "$dll"
check "registry tree, registering again" host registry "$dll" "$tlb"
check "creation through COM, aggregation, GetClassInfo" host creation "$dll"
check "type library read back, resources" host typelib "$dll" "$tlb"
check "the eleven operations through COM" host operations
check "file names under code page 936" host names 'c:\zavtest'

echo "== wine: the host's threads"
# A worker thread draws a caption and ends after its apartment, the last to have loaded the
# server, unloaded it; COM stays uninitialised on the main thread. Several processes, each twice
# over, then many workers ending at once.
for run in 1 2 3; do
    check "a worker's caption, the thread ending after the server is unloaded ($run)" \
        host threads 1 2
done
check "32 workers' captions, all ending at once after the server is unloaded" host threads 32 2
check "creation from a multithreaded apartment: E_NOINTERFACE" host multithreaded

echo "== wine: the typical job, compared with the native library"
# Without SimHei in the prefix the core picks its own stand-in.
check "job through COM, no SimHei in the prefix" \
    host sequence 'c:\zavtest\in\a.bmp' 'c:\zavtest\out\a.jpg' 'c:\zavtest\out\a.bmp'
check "same job natively" "$reference" "$drive_c/zavtest/in/a.bmp" "$work/native_a.jpg" \
    "$work/native_a.bmp" -
check "JPEG identical" cmp "$drive_c/zavtest/out/a.jpg" "$work/native_a.jpg"
check "bitmap identical" cmp "$drive_c/zavtest/out/a.bmp" "$work/native_a.bmp"
# A font installed as c:\windows\fonts\SIMHEI.TTF is the one used (here a Latin font, so that the
# result differs visibly from the stand-in's).
cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$drive_c/windows/Fonts/SIMHEI.TTF"
check "job through COM with SimHei in the prefix, Chinese names" \
    host sequence 'c:\zavtest\中文\图片.bmp' 'c:\zavtest\中文\标题.jpg' 'c:\zavtest\中文\标题.bmp'
check "same job natively with that font" "$reference" "$drive_c/zavtest/中文/图片.bmp" \
    "$work/native_font.jpg" "$work/native_font.bmp" "$drive_c/windows/Fonts/SIMHEI.TTF"
check "JPEG identical" cmp "$drive_c/zavtest/中文/标题.jpg" "$work/native_font.jpg"
check "bitmap identical" cmp "$drive_c/zavtest/中文/标题.bmp" "$work/native_font.bmp"
check "the prefix's font made a difference" \
    sh -c "! cmp -s '$drive_c/zavtest/out/a.bmp' '$drive_c/zavtest/中文/标题.bmp'"

echo "== wine: unregistration"
check "regsvr32 /u unregisters" wine_run regsvr32 /s /u "$dll"
check "keys removed, CLSID kept, type library unregistered" host unregistered "$dll"
check "regsvr32 /u with nothing registered" wine_run regsvr32 /s /u "$dll"
check "the registry as before registration" registry_is before
check "unregistering a partial tree" host partial-unregister "$dll"

# Without ZAVImage.tlb beside it (only the native library, found through the run path), the DLL
# registers the type library from its own resource.
mkdir -p "$work/bare"
cp "$server/ZAVImage.dll" "$server/libzavimage.so.1" "$work/bare/"
bare=$(winpath "$work/bare/ZAVImage.dll")
check "regsvr32 without ZAVImage.tlb" wine_run regsvr32 /s "$bare"
typelib_key="HKCR\\TypeLib\\{85FC9E0C-04B2-46F5-AA9A-81D3F4074EA6}\\1.0\\0\\win$bits"
check "type library registered from the DLL itself" \
    sh -c "timeout 60 $loader reg query '$typelib_key' /ve 2>/dev/null | tr -d '\r' | grep -qF '$bare'"
check "regsvr32 /u without ZAVImage.tlb" wine_run regsvr32 /s /u "$bare"
check "nothing left registered" host unregistered "$bare"

if [ "$failures" -ne 0 ]; then
    echo "== wine: $failures failed"
    exit 1
fi
echo "== wine: all passed"
