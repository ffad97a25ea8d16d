#!/bin/sh
# One version throughout: the project's (the top CMakeLists.txt) is what the tool's --version
# prints, what ZAVVersion returns (through the tool and through Python's LIBRARY_VERSION), the
# Python package's __version__ and the version of its pyproject.toml, and the manual page's.
# Arguments: the project version, the tool, the library, the python/ folder, the manual page.
set -eu
version=$1
tool=$2
library=$3
python_dir=$4
man=$5
failed=0
fail() {
    echo "version: $*"
    failed=1
}

said=$("$tool" --version)
[ "$said" = "zavimage $version" ] || fail "zavimage --version says '$said', the project is $version"

grep -q "^\.TH .* \"ZAVImage $version\" " "$man" ||
    fail "the manual page's title line does not name ZAVImage $version: $(grep '^\.TH' "$man")"

# the package and the library it loads, and the metadata pip would build from pyproject.toml
# shellcheck disable=SC2016
said=$(cd "$python_dir" && env ZAVIMAGE_LIBRARY="$library" PYTHONPATH="$python_dir" \
    PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -W ignore -c '
import zavimage
from setuptools.config.pyprojecttoml import read_configuration
print(zavimage.__version__, zavimage.LIBRARY_VERSION,
      read_configuration("pyproject.toml")["project"]["version"])') || said="(Python failed)"
[ "$said" = "$version $version $version" ] ||
    fail "Python's __version__, LIBRARY_VERSION and pyproject.toml's version: $said; the project: $version"

[ "$failed" = 0 ] && echo "version: $version everywhere"
exit "$failed"
