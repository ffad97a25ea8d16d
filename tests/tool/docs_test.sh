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
    for opt in $(grep -o -- '--[a-z][a-z-]*' "$work/one" | sort -u); do
        grep -qF -- "$(echo "$opt" | sed 's/-/\\-/g')" "$man" || fail "man page lacks $c $opt"
        [ "$opt" = --help ] || grep -qF -- "$opt" "$completion" || fail "completion lacks $c $opt"
    done
done
# every option of the manual page is in some --help
for opt in $(grep -o -- '\\-\\-[a-z][a-z\\-]*' "$man" | sed 's/\\-/-/g' | sort -u); do
    grep -qF -- "$opt" "$work/help" || fail "the manual page has $opt, which no --help knows"
done
man -l "$man" >/dev/null 2>&1 || fail "the manual page does not format"
bash -n "$completion" || fail "the completion is not valid bash"

cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install"
[ -s "$work/prefix/share/man/man1/zavimage.1" ] || fail "the manual page is not installed"
[ -s "$work/prefix/share/bash-completion/completions/zavimage" ] || fail "completion not installed"
"$work/prefix/bin/zavimage" --version >/dev/null || fail "the installed tool does not run"

finish "tool docs"
