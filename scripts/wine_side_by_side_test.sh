#!/bin/sh
# Both COM servers in one prefix, and the 32-bit one in a 32-bit prefix:
#   scripts/wine_side_by_side_test.sh BUILD64 BUILD32
# BUILD64 is an x86_64 build and BUILD32 an i386 build (cmake/toolchain-i386.cmake), each with its
# server, test host and native reference program. The servers are used as `cmake --install` lays
# them out (lib/zavimage/win64/ and win32/, each with its type library and native library). In a
# 64-bit prefix the 64-bit server is registered by the 64-bit regsvr32 and the 32-bit one by the
# 32-bit regsvr32 (syswow64); each host finds the server of its own bitness in its own registry
# view under the same program identifiers, and the typical job gives the same bytes through either
# server and through either native library. Unregistering either server beside the other, twice,
# in every order, answers 0 and leaves the registry exactly as it was with the other server alone.
# Then the 32-bit server alone in a WINEARCH=win32 prefix.
set -eu

# shellcheck source-path=SCRIPTDIR source=wine_env.sh
. "$(dirname "$0")/wine_env.sh"
b64=$(cd "$1" && pwd)
b32=$(cd "$2" && pwd)
work=$b32/wine-side-by-side
for f in "$b64/server/ZAVImage.dll" "$b32/server/ZAVImage.dll" "$b64/tests/wine/zav_com_host.exe" \
    "$b32/tests/wine/zav_com_host.exe" "$b64/tests/wine/zav_com_reference" \
    "$b32/tests/wine/zav_com_reference"; do
    if [ ! -f "$f" ]; then
        echo "wine_side_by_side_test: $f is missing" >&2
        exit 1
    fi
done
if [ "$(zav_dll_bits "$b64/server/ZAVImage.dll")$(zav_dll_bits "$b32/server/ZAVImage.dll")" != 6432 ]; then
    echo "wine_side_by_side_test: $1 must hold the 64-bit server and $2 the 32-bit one" >&2
    exit 1
fi

rm -rf "$work"
mkdir -p "$work"
# The component "windows" of each tree: lib/zavimage/win64/ and lib/zavimage/win32/.
cmake --install "$b64" --prefix "$work/installed" --component windows >/dev/null
cmake --install "$b32" --prefix "$work/installed" --component windows >/dev/null
s64=$work/installed/lib/zavimage/win64
s32=$work/installed/lib/zavimage/win32
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
unset LANGUAGE 2>/dev/null || true
cleanup() {
    for p in "$work"/win64 "$work"/win32; do
        [ ! -d "$p" ] || WINEPREFIX=$p timeout 30 wineserver -k >/dev/null 2>&1 || true
    done
}
trap cleanup EXIT INT TERM

failures=0
check() {
    name=$1
    shift
    if "$@" >"$work/last.log" 2>&1; then
        echo "ok    $name"
    else
        sed 's/^/      /' "$work/last.log"
        echo "FAIL  $name"
        failures=$((failures + 1))
    fi
}
# run BITS PROGRAM ARGS...: a Windows program through the loader of that bitness
run() {
    bits=$1
    shift
    timeout 120 "$(zav_wine_loader "$bits")" "$@"
}
winpath() { timeout 60 wine winepath -w "$1" 2>/dev/null | tr -d '\r'; }
# pick BITS VALUE64 VALUE32: the value for that bitness (printf: the values are Windows paths,
# whose backslashes dash's echo would take for escapes)
pick() { if [ "$1" = 64 ]; then printf '%s\n' "$2"; else printf '%s\n' "$3"; fi; }

# The typical job through the server of each bitness, on a Chinese file name, against the native
# library of each architecture: every JPEG and every bitmap the same.
job() {
    bits=$1
    label=$2
    drive_c=$WINEPREFIX/drive_c
    mkdir -p "$drive_c/zavtest/中文"
    cp "$work/in.bmp" "$drive_c/zavtest/中文/图片.bmp"
    host=$(pick "$bits" "$host64" "$host32")
    check "$label: job through the $bits-bit server" run "$bits" "$host" \
        sequence 'c:\zavtest\中文\图片.bmp' "c:\\zavtest\\中文\\$label-$bits.jpg" \
        "c:\\zavtest\\中文\\$label-$bits.bmp"
    for ext in jpg bmp; do
        check "$label: $ext through the $bits-bit server as natively on x86_64 and i386" sh -c "
            cmp '$drive_c/zavtest/中文/$label-$bits.$ext' '$work/native64.$ext' &&
            cmp '$drive_c/zavtest/中文/$label-$bits.$ext' '$work/native32.$ext'"
    done
}

convert -size 201x120 gradient:navy-yellow -type TrueColor BMP3:"$work/in.bmp"
check "native job, x86_64" "$b64/tests/wine/zav_com_reference" "$work/in.bmp" "$work/native64.jpg" \
    "$work/native64.bmp" -
check "native job, i386" "$b32/tests/wine/zav_com_reference" "$work/in.bmp" "$work/native32.jpg" \
    "$work/native32.bmp" -

echo "== wine: one 64-bit prefix, both servers"
export WINEPREFIX="$work/win64" WINEARCH=win64
zav_new_prefix "$WINEPREFIX" win64
dll64=$(winpath "$s64/ZAVImage.dll")
tlb64=$(winpath "$s64/ZAVImage.tlb")
dll32=$(winpath "$s32/ZAVImage.dll")
tlb32=$(winpath "$s32/ZAVImage.tlb")
host64=$b64/tests/wine/zav_com_host.exe
host32=$b32/tests/wine/zav_com_host.exe

# The registry's classes of both views (the program identifiers and the type library's key are
# one for both), to compare with after unregistration.
snapshot() { zav_classes_export "$ZAV_WINE64" "$work/$1.reg"; }
registry_is() { zav_classes_are "$ZAV_WINE64" "$work/$1.reg"; }
# register BITS, unregister_twice BITS: regsvr32 of that bitness with its server; /u twice, each
# answering 0.
register() {
    dll=$(pick "$1" "$dll64" "$dll32")
    run "$1" regsvr32 /s "$dll"
}
unregister_twice() {
    dll=$(pick "$1" "$dll64" "$dll32")
    run "$1" regsvr32 /s /u "$dll" && run "$1" regsvr32 /s /u "$dll"
}

check "the registry before registration" snapshot none
check "64-bit regsvr32 registers the 64-bit server" register 64
check "the registry with the 64-bit server alone" snapshot only64
check "the 64-bit server alone: /u twice" unregister_twice 64
check "the 64-bit server alone: the registry as before" registry_is none
check "32-bit regsvr32 (syswow64) registers the 32-bit server" register 32
check "the registry with the 32-bit server alone" snapshot only32
check "64-bit regsvr32 registers the 64-bit server beside it" register 64
# Each registry view names its own server and type library. (The type library's HELPDIR key is one
# for both views, as on Windows, so the full registry group runs in single-server prefixes only.)
class_key='HKCR\CLSID\{2E1CAF41-7450-4FBF-9A62-F3D8EDAB91B6}\InprocServer32'
typelib_key='HKCR\TypeLib\{85FC9E0C-04B2-46F5-AA9A-81D3F4074EA6}\1.0\0'
for bits in 64 32; do
    dll=$(pick "$bits" "$dll64" "$dll32")
    tlb=$(pick "$bits" "$tlb64" "$tlb32")
    loader=$(zav_wine_loader "$bits")
    check "$bits-bit view: InprocServer32 is the $bits-bit server" sh -c \
        "timeout 60 '$loader' reg query '$class_key' /ve | tr -d '\r' | grep -qF '$dll'"
    check "$bits-bit view: the type library registered under win$bits" sh -c \
        "timeout 60 '$loader' reg query '$typelib_key\\win$bits' /ve | tr -d '\r' | grep -qF '$tlb'"
done
check "64-bit view: creation by both program identifiers, the 64-bit server" \
    run 64 "$host64" creation "$dll64"
check "32-bit view: creation by both program identifiers, the 32-bit server" \
    run 32 "$host32" creation "$dll32"
check "64-bit view: the 64-bit type library, the 24-byte record" \
    run 64 "$host64" typelib "$dll64" "$tlb64"
check "32-bit view: the 32-bit type library, the 20-byte record" \
    run 32 "$host32" typelib "$dll32" "$tlb32"
job 64 both
job 32 both

echo "== wine: unregistering one server beside the other"
# Each server is unregistered twice beside the other, registered after it and before it; the
# other's keys (the shared program identifiers and type library entries among them) stay.
check "64-bit /u twice, registered after the 32-bit server" unregister_twice 64
check "the registry as with the 32-bit server alone" registry_is only32
check "32-bit view: creation by both program identifiers still" run 32 "$host32" creation "$dll32"
check "64-bit server registered again, after the 32-bit one" register 64
check "32-bit /u twice, registered before the 64-bit server" unregister_twice 32
check "the registry as with the 64-bit server alone" registry_is only64
check "64-bit view: creation by both program identifiers still" run 64 "$host64" creation "$dll64"
check "32-bit server registered again, after the 64-bit one" register 32
check "32-bit /u twice, registered after the 64-bit server" unregister_twice 32
check "the registry as with the 64-bit server alone" registry_is only64
check "32-bit server registered again, after the 64-bit one" register 32
check "64-bit /u twice, registered before the 32-bit server" unregister_twice 64
check "the registry as with the 32-bit server alone" registry_is only32
check "32-bit /u twice, the last one" unregister_twice 32
check "the registry as before registration" registry_is none
WINEPREFIX=$work/win64 timeout 30 wineserver -k >/dev/null 2>&1 || true

echo "== wine: a 32-bit prefix"
export WINEPREFIX="$work/win32" WINEARCH=win32
zav_new_prefix "$WINEPREFIX" win32
dll32=$(winpath "$s32/ZAVImage.dll")
tlb32=$(winpath "$s32/ZAVImage.tlb")
check "regsvr32 registers" run 32 regsvr32 /s "$dll32"
check "registry tree" run 32 "$host32" registry "$dll32" "$tlb32"
check "creation by both program identifiers" run 32 "$host32" creation "$dll32"
check "the type library, the 20-byte record" run 32 "$host32" typelib "$dll32" "$tlb32"
job 32 win32
check "regsvr32 /u unregisters, twice" unregister_twice 32
check "nothing left registered" run 32 "$host32" unregistered "$dll32"

if [ "$failures" -ne 0 ]; then
    echo "== wine side by side: $failures failed"
    exit 1
fi
echo "== wine side by side: all passed"
