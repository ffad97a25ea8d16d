#!/bin/sh
# Installs the build tree into a temporary prefix as a packager would and uses it: a small consumer
# and the README's job program (ZAV_JOB_EXAMPLE) built once with CMake's find_package and once with
# pkg-config, the Python package with its metadata, and ldconfig run after an install into one of
# the dynamic linker's folders only. Arguments: the build directory, this folder. The environment
# (tests/CMakeLists.txt): ZAV_VERSION, ZAV_INSTALL_PREFIX and ZAV_PYTHON_DIR (empty: no Python
# package) of the tree, ZAV_PYTHON_DIR_IS_DEFAULT, ZAV_WITH_TOOL, ZAV_JOB_EXAMPLE, ZAV_TOOLCHAIN
# and ZAV_CFLAGS.
set -eu
build=$1
here=$2
version=$ZAV_VERSION
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() {
    echo "package: $*"
    exit 1
}

# cmake --install runs ldconfig as root for a folder that ldconfig searches: here fakes of id and
# ldconfig (first on PATH) say root and list the folders in $searched, and note each refresh.
mkdir "$work/fake"
cat >"$work/fake/id" <<'FAKE'
#!/bin/sh
echo 0
FAKE
cat >"$work/fake/ldconfig" <<'FAKE'
#!/bin/sh
if [ "$*" = "-N -X -v" ]; then
    for folder in $ZAV_SEARCHED; do echo "$folder: (from the test)"; done
else
    echo "ldconfig $*" >>"$ZAV_REFRESHES"
fi
FAKE
chmod +x "$work/fake/id" "$work/fake/ldconfig"
install_tree() {  # install_tree FOLDERS_LDCONFIG_SEARCHES [DESTDIR]
    : >"$work/refreshes"
    env PATH="$work/fake:$PATH" ZAV_SEARCHED="$1" ZAV_REFRESHES="$work/refreshes" \
        DESTDIR="${2:-}" cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
        fail "cmake --install: $(cat "$work/install.log")"
}
refreshed() { [ -s "$work/refreshes" ]; }

install_tree "/lib $prefix/lib"
refreshed || fail "no ldconfig after installing into a folder it searches"
[ "$(cat "$work/refreshes")" = "ldconfig " ] || fail "ldconfig ran as: $(cat "$work/refreshes")"
if [ "${ZAV_WITH_TOOL:-0}" = 1 ]; then
    test -x "$prefix/bin/zavimage"
    "$prefix/bin/zavimage" --version
fi

# the Python package, by default where Debian's python3 reads packages under the tree's prefix
if [ -n "${ZAV_PYTHON_DIR:-}" ]; then
    pydir=$prefix/$ZAV_PYTHON_DIR
    [ -f "$pydir/zavimage/__init__.py" ] || fail "no Python package in $pydir"
    [ "${ZAV_PYTHON_DIR_IS_DEFAULT:-0}" = 0 ] || /usr/bin/python3 -I -c '
import os, sys
prefix, folder = os.path.normpath(sys.argv[1]), os.path.join(sys.argv[1], sys.argv[2])
under = [p for p in sys.path if p.startswith(prefix + "/lib/") and p.endswith("-packages")]
sys.exit(f"python3 reads {under}, not {folder}" if under and folder not in sys.path else None)' \
        "$ZAV_INSTALL_PREFIX" "$ZAV_PYTHON_DIR"
    # its metadata: importlib.metadata's version, without loading the library
    said=$(PYTHONPATH="$pydir" /usr/bin/python3 -c '
import importlib.metadata as m
print(m.version("zavimage"), m.metadata("zavimage")["Name"], m.requires("zavimage"))')
    [ "$said" = "$version zavimage ['numpy']" ] || fail "importlib.metadata says: $said"
    # the package finds the library installed with it, without ZAVIMAGE_LIBRARY (where the
    # interpreter and the library have the same word size: the ELF class is byte 4, 1 or 2)
    library_bits=$(($(od -An -j4 -N1 -tu1 "$prefix/lib/libzavimage.so.1") * 32))
    if /usr/bin/python3 -c 'import numpy, struct, sys; sys.exit(struct.calcsize("P") * 8 != int(sys.argv[1]))' \
        "$library_bits" 2>/dev/null; then
        env -u ZAVIMAGE_LIBRARY PYTHONPATH="$pydir" /usr/bin/python3 \
            -c 'import sys, zavimage; sys.exit(zavimage.LIBRARY_PATH != sys.argv[1])' \
            "$prefix/lib/libzavimage.so.1"
    fi
    # an earlier version's metadata goes when this one is installed
    mkdir "$pydir/zavimage-0.9.0.dist-info"
    echo "Name: zavimage" >"$pydir/zavimage-0.9.0.dist-info/METADATA"
fi

# installed again where ldconfig does not search, and staged under DESTDIR: no ldconfig
install_tree "/lib /usr/lib"
! refreshed || fail "ldconfig ran for a folder it does not search"
[ -z "${ZAV_PYTHON_DIR:-}" ] || [ ! -e "$pydir/zavimage-0.9.0.dist-info" ] ||
    fail "the earlier version's dist-info is left"
install_tree "/lib $work/stage$prefix/lib $prefix/lib" "$work/stage"
! refreshed || fail "ldconfig ran for an install staged under DESTDIR"
[ -f "$work/stage$prefix/lib/libzavimage.so.1" ] || fail "nothing staged under DESTDIR"

# the programs, with CMake's package configuration (and the build's toolchain file, if any) and
# with pkg-config
cmake -S "$here" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
    ${ZAV_JOB_EXAMPLE:+-DZAV_JOB_EXAMPLE="$ZAV_JOB_EXAMPLE"} \
    ${ZAV_TOOLCHAIN:+-DCMAKE_TOOLCHAIN_FILE="$ZAV_TOOLCHAIN"} >/dev/null
cmake --build "$work/cmake-build" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
test "$(pkg-config --modversion zavimage)" = "$version"
mkdir "$work/pc"
for program in consumer ${ZAV_JOB_EXAMPLE:+job_example}; do
    source=$here/consumer.c
    [ "$program" = consumer ] || source=$ZAV_JOB_EXAMPLE
    # shellcheck disable=SC2046,SC2086
    cc ${ZAV_CFLAGS:-} -std=c11 -o "$work/pc/$program" "$source" \
        $(pkg-config --cflags --libs zavimage)
done
export LD_LIBRARY_PATH="$prefix/lib"
"$work/cmake-build/consumer"
"$work/pc/consumer"

# the job program, each build in a folder with one picture (320 x 240: the box at 200,120 lies on
# it): the same summary and the same file
if [ -n "${ZAV_JOB_EXAMPLE:-}" ]; then
    for build_kind in cmake-build pc; do
        mkdir -p "$work/run-$build_kind/shots"
        {
            printf 'P6\n320 240\n255\n'
            head -c 230400 /dev/zero | tr '\0' '\200'
        } >"$work/run-$build_kind/shots/street.ppm"
        (cd "$work/run-$build_kind" && "$work/$build_kind/job_example" >summary) ||
            fail "the job program ($build_kind) failed"
        grep -q "annotate: 1 succeeded, 0 failed" "$work/run-$build_kind/summary" ||
            fail "the job program ($build_kind) said: $(cat "$work/run-$build_kind/summary")"
    done
    cmp "$work/run-cmake-build/summary" "$work/run-pc/summary"
    cmp "$work/run-cmake-build/marked/street.jpg" "$work/run-pc/marked/street.jpg"
fi

# the soname is versioned
objdump -p "$prefix/lib/libzavimage.so.1" | grep -q 'SONAME *libzavimage.so.1'
echo "package: ok"
