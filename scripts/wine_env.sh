# shellcheck shell=sh
# Sourced by the Wine test scripts: the loaders, and fresh prefixes made quickly.
#
# With wine32 installed, Debian's `wine` is the 32-bit loader: it runs 32-bit programs (regsvr32 and
# reg of the 32-bit registry view, syswow64 in a 64-bit prefix) and cannot load a 64-bit Winelib
# DLL. The 64-bit programs are run through the 64-bit loader.
if [ -x /usr/lib/wine/wine64 ]; then
    ZAV_WINE64=/usr/lib/wine/wine64
elif command -v wine64 >/dev/null 2>&1; then
    ZAV_WINE64=$(command -v wine64)
else
    ZAV_WINE64=wine
fi
ZAV_WINE32=wine
export WINEDEBUG=-all DISPLAY='' WINEDLLOVERRIDES="mscoree,mshtml="

# zav_wine_loader BITS: the loader for 32-bit or 64-bit programs.
zav_wine_loader() {
    if [ "$1" = 32 ]; then echo "$ZAV_WINE32"; else echo "$ZAV_WINE64"; fi
}

# zav_classes_export LOADER FILE: the registry's classes (HKLM\Software\Classes) as `reg export`
# writes them, through that loader's reg; the 64-bit loader's export in a 64-bit prefix holds both
# registry views, the 32-bit one under Wow6432Node.
zav_classes_export() {
    timeout 60 "$1" reg export 'HKLM\Software\Classes' "$2" /y >/dev/null 2>&1
}

# zav_classes_are LOADER FILE: the classes are exactly those exported into FILE (the differences
# are shown).
zav_classes_are() {
    zav_classes_export "$1" "$2.now" &&
        iconv -f UTF-16 -t UTF-8 "$2" >"$2.expected.txt" &&
        iconv -f UTF-16 -t UTF-8 "$2.now" >"$2.actual.txt" &&
        diff "$2.expected.txt" "$2.actual.txt"
}

# zav_dll_bits DLL: 32 or 64, the architecture of a Winelib DLL (an ELF file).
zav_dll_bits() {
    if file -L "$1" | grep -q 'ELF 32-bit'; then echo 32; else echo 64; fi
}

# zav_wine_template ARCH (win64 or win32): boots ARCH's prefix once into $ZAV_WINE_TEMPLATES (half a
# minute) and prints its folder; later calls, from any process, find it ready.
zav_wine_template() {
    mkdir -p "$ZAV_WINE_TEMPLATES"
    template=$ZAV_WINE_TEMPLATES/$1
    (
        flock 9
        if [ ! -f "$template/system.reg" ]; then
            rm -rf "$template.new"
            mkdir -p "$template.new"
            WINEPREFIX=$template.new WINEARCH=$1 timeout 300 wine wineboot -i >/dev/null 2>&1
            WINEPREFIX=$template.new timeout 60 wineserver -w
            mv "$template.new" "$template"
        fi
    ) 9>"$template.lock"
    echo "$template"
}

# zav_new_prefix DIR ARCH (win64 or win32): a booted prefix in DIR, empty of anything of ours, with
# its wineserver kept running between programs (it saves seconds per call; `wineserver -k` with
# WINEPREFIX=DIR stops it). Booting takes half a minute; with ZAV_WINE_TEMPLATES set (a folder),
# each architecture is booted once into that folder and every prefix after it is a copy: files
# hard-linked where the folders share a file system, the registry files copied (Wine rewrites
# them; it never changes the others in place).
zav_new_prefix() {
    dir=$1
    arch=$2
    rm -rf "$dir"
    if [ -z "${ZAV_WINE_TEMPLATES:-}" ]; then
        mkdir -p "$dir"
        WINEPREFIX=$dir wineserver -p 60
        WINEPREFIX=$dir WINEARCH=$arch timeout 300 wine wineboot -i >/dev/null 2>&1
        return
    fi
    template=$(zav_wine_template "$arch")
    cp -al "$template" "$dir" 2>/dev/null || { rm -rf "$dir" && cp -a "$template" "$dir"; }
    for reg in "$dir"/*.reg; do
        cp --remove-destination "$template/${reg##*/}" "$reg"
    done
    WINEPREFIX=$dir wineserver -p 60
}
