#!/bin/sh
# --help, the manual page, the bash completion and the README agree on the commands and options,
# and cmake --install puts the manual page and the completion where man and bash look.
# Arguments: the zavimage binary, the source tree, the build tree.
set -u
zav=$1
src=$2
build=$3
man=$src/tools/zavimage/zavimage.1
completion=$src/tools/zavimage/zavimage.bash
# shellcheck source-path=SCRIPTDIR source=checks.sh
. "$(dirname "$0")/checks.sh"

commands=$("$zav" --help | awk '/^commands:/ {on = 1; next} /^$/ {on = 0} on {print $1}')
[ -n "$commands" ] || fail "no commands in --help"
: >"$work/help"
for c in $commands; do
    "$zav" "$c" --help >"$work/one" || fail "$c --help"
    cat "$work/one" >>"$work/help"
    grep -q "^\.B $c\$" "$man" || fail "the manual page lacks the command $c"
    grep -q "zavimage $c" "$src/README.md" || fail "README shows no 'zavimage $c'"
    grep -q "\b$c\b" "$completion" || fail "the completion lacks the command $c"
    # options are single words; a `while read` loop in a pipe would count its failures in a
    # subshell, lost to finish
    # shellcheck disable=SC2013
    for opt in $(grep -o -- '--[a-z][a-z-]*' "$work/one" | sort -u); do
        grep -qF -- "$(echo "$opt" | sed 's/-/\\-/g')" "$man" || fail "man page lacks $c $opt"
        [ "$opt" = --help ] || grep -qF -- "$opt" "$completion" || fail "completion lacks $c $opt"
    done
done
# every option of the manual page is in some --help (single words, as above)
# shellcheck disable=SC2013
for opt in $(grep -o -- '\\-\\-[a-z][a-z\\-]*' "$man" | sed 's/\\-/-/g' | sort -u); do
    grep -qF -- "$opt" "$work/help" || fail "the manual page has $opt, which no --help knows"
done
# The format lists of the manual page, the completion and the README are the library's table.
"$zav" formats --json >"$work/formats.json" || fail "formats --json"
table() {  # table FIELD: the table's words of that field, one a line, sorted
    /usr/bin/python3 -c 'import json, sys
for f in json.load(open(sys.argv[1])):
    v = f[sys.argv[2]]
    print("\n".join(v.split()) if isinstance(v, str) else "")' "$work/formats.json" "$1" |
        grep . | sort -u
}
table extensions >"$work/written"
[ "$(wc -l <"$work/written")" -ge 6 ] || fail "the table lists few extensions: $(cat "$work/written")"
# the manual page: the .BR lines after "chosen by its extension"
sed -n '/chosen by its extension/,/^Names are/p' "$man" | grep '^\.BR' | tr -d '",.' |
    sed 's/^BR//' | tr ' ' '\n' | grep . | sort -u >"$work/man-ext"
cmp -s "$work/written" "$work/man-ext" ||
    fail "the manual page's extensions differ from the table: $(diff "$work/written" "$work/man-ext" | tr '\n' ' ')"
# the completion's --format words
sed -n '/--format)/,/return/p' "$completion" | tr -c 'a-z0-9\n' ' ' | tr ' ' '\n' |
    grep -vx 'format\|compgen\|w\|cur\|return' | grep . | sort -u >"$work/completion-ext"
cmp -s "$work/written" "$work/completion-ext" ||
    fail "the completion's formats differ from the table: $(diff "$work/written" "$work/completion-ext" | tr '\n' ' ')"
# the README's table: the extensions in the first column
grep '^| .*(\.' "$src/README.md" | cut -d'|' -f2 | grep -o '\.[a-z0-9]*' | tr -d . | sort -u \
    >"$work/readme-ext"
cmp -s "$work/written" "$work/readme-ext" ||
    fail "the README's formats differ from the table: $(diff "$work/written" "$work/readme-ext" | tr '\n' ' ')"
# the formats read, as --help names them, in the manual page and the README
names=$("$zav" --help | sed -n 's/^Loads \(.*\) pictures.*/\1/p')
[ -n "$names" ] || fail "--help names no formats"
tr '\n' ' ' <"$man" | grep -qF "$names" ||
    fail "the manual page does not name the formats as the table does ($names)"
tr '\n' ' ' <"$src/README.md" | grep -qF "$names" ||
    fail "the README does not name the formats as the table does ($names)"
# the extensions that do not keep a gray picture gray are the ones the manual page names
table extensions >"$work/all-ext"
table gray >"$work/gray-ext"
for ext in $(comm -23 "$work/all-ext" "$work/gray-ext"); do
    grep -q "^\.B \.$ext\$" "$man" || fail "the manual page does not say .$ext saves colour"
done

man -l "$man" >/dev/null 2>&1 || fail "the manual page does not format"
bash -n "$completion" || fail "the completion is not valid bash"

cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
[ -s "$work/prefix/share/man/man1/zavimage.1" ] || fail "the manual page is not installed"
[ -s "$work/prefix/share/bash-completion/completions/zavimage" ] || fail "completion not installed"
"$work/prefix/bin/zavimage" --version >/dev/null || fail "the installed tool does not run"

finish "tool docs"
