#!/bin/sh
# The shared library exports the C interface and nothing else: every defined dynamic symbol is a
# ZAV* function or the version script's node, and every function the public headers declare is
# exported under that node. Arguments: the library, the version script, the headers.
set -eu
library=$1
script=$2
shift 2
node=$(sed -n 's/^\(ZAV[A-Za-z0-9_.]*\) {$/\1/p' "$script")
[ -n "$node" ] || { echo "exports: no version node in $script"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

nm -D --defined-only --with-symbol-versions "$library" | awk '{print $NF}' >"$work/defined"
[ -s "$work/defined" ] || { echo "exports: nm lists nothing defined in $library"; exit 1; }
if grep -v '^ZAV' "$work/defined" >"$work/stray"; then
    echo "exports: $library exports $(wc -l <"$work/stray") symbols outside the C interface:"
    cat "$work/stray"
    exit 1
fi

# the headers' functions, each with the node's version (nm writes NAME@@NODE for the default)
grep -ho '^ZAV_API [^(]*(' "$@" | sed 's/.*[ *]\(ZAV[A-Za-z0-9_]*\)($/\1/' | sort -u >"$work/declared"
[ -s "$work/declared" ] || { echo "exports: no ZAV_API function in $*"; exit 1; }
sort "$work/defined" >"$work/sorted"
missing=$(sed "s/\$/@@$node/" "$work/declared" | sort | comm -23 - "$work/sorted")
if [ -n "$missing" ]; then
    echo "exports: declared but not exported as $node:"
    echo "$missing"
    exit 1
fi
echo "exports: $(wc -l <"$work/declared") functions, all under $node, nothing else"
