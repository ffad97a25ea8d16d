#!/bin/sh
# Standard input and output as pictures ("-"), and PNG wherever the tool takes a format, read
# back with netpbm and ImageMagick: a JPEG piped through convert comes out as the PNG the file
# route writes; a gray PGM stays gray; "-" without --format, twice, or on a terminal is a usage
# error; a damaged picture on standard input fails with exit 1.
# Argument: the zavimage binary.
set -u
zav=$1
# shellcheck source-path=SCRIPTDIR source=checks.sh
. "$(dirname "$0")/checks.sh"

ppmpat -g2 -color=red,blue 160 90 >"$work/a.ppm" 2>/dev/null ||
    ppmmake rgb:c0/40/20 160 90 >"$work/a.ppm"
pnmtojpeg "$work/a.ppm" >"$work/a.jpg"
pgmramp -lr 64 48 >"$work/g.pgm"

# --- the example: JPEG in on standard input, PNG out on standard output
# shellcheck disable=SC2002 # a pipe on purpose: standard input that cannot seek, not a file
cat "$work/a.jpg" | "$zav" convert - - --format png >"$work/a.png" 2>"$work/err" ||
    fail "cat a.jpg | convert - - --format png: $(cat "$work/err")"
[ "$(identify -format '%m %w %h' "$work/a.png" 2>/dev/null)" = "PNG 160 90" ] ||
    fail "the piped output is not a 160 x 90 PNG"
"$zav" convert "$work/a.jpg" "$work/file.png" || fail "convert a.jpg file.png"
cmp -s "$work/a.png" "$work/file.png" || fail "the piped PNG differs from the file route's"
{ pngtopnm "$work/a.png" >"$work/back.ppm" 2>/dev/null &&
    djpeg -pnm "$work/a.jpg" >"$work/want.ppm" && cmp -s "$work/back.ppm" "$work/want.ppm"; } || fail "the PNG's pixels are not the JPEG's decode"

# --- steps on a piped picture, info on standard input, gray kept for files, --format .png
"$zav" text - "$work/t.bmp" --text "12:34" <"$work/a.jpg" || fail "text - OUT"
[ "$(identify -format '%w %h' "$work/t.bmp" 2>/dev/null)" = "160 90" ] || fail "text - OUT size"
"$zav" annotate - -o - --format png --text cam <"$work/a.jpg" >"$work/an.png" 2>"$work/err" ||
    fail "annotate - -o -: $(cat "$work/err")"
[ "$(identify -format '%m' "$work/an.png" 2>/dev/null)" = PNG ] || fail "annotate -o - wrote no PNG"
"$zav" copy - "$work/g.pgm" - --format png --to 0,0,32,24 <"$work/a.jpg" >"$work/cp.png" ||
    fail "copy - DST - --format png"
[ "$(identify -format '%m %w %h' "$work/cp.png" 2>/dev/null)" = "PNG 64 48" ] ||
    fail "copy to standard output"
out=$("$zav" info - <"$work/a.png") || fail "info -"
[ "$out" = "-: PNG, 160 x 90, colour" ] || fail "info - gave '$out'"
"$zav" convert "$work/g.pgm" "$work/g.png" || fail "convert g.pgm g.png"
[ "$(identify -format '%[channels]' "$work/g.png" 2>/dev/null)" = gray ] ||
    fail "a gray PGM gave a colour PNG"
"$zav" convert - - --format .png <"$work/g.pgm" | pngtopnm >"$work/g2.pnm" 2>/dev/null ||
    fail "convert - - --format .png"
pamfile "$work/g2.pnm" | grep -q "PGM.*64 by 48" ||
    fail "a piped gray picture: $(pamfile "$work/g2.pnm")"
pngtopnm "$work/g.png" | pamfile | grep -q PGM || fail "g.png does not read back as gray"

# --- usage errors (exit 2) and a damaged input (exit 1)
expect() {
    want=$1
    shift
    "$@" <"$work/a.jpg" >"$work/out" 2>"$work/err"
    got=$?
    [ "$got" -eq "$want" ] || fail "exit $got (wanted $want): $* ($(cat "$work/err"))"
}
expect 2 "$zav" convert - -
grep -q -- "--format" "$work/err" || fail "no --format hint: $(cat "$work/err")"
expect 2 "$zav" convert - "$work/x.bmp" --format png
expect 2 "$zav" convert - - --format gif
expect 2 "$zav" annotate - - -o "$work/y.bmp"
expect 2 "$zav" copy - - "$work/y.bmp"
expect 2 "$zav" annotate - --out-dir "$work/d"
[ -e "$work/x.bmp" ] || [ -e "$work/y.bmp" ] || [ -e "$work/d" ] && fail "a usage error wrote"
if command -v script >/dev/null; then
    script -qec "$zav convert $work/a.jpg - --format png" /dev/null >"$work/tty" 2>&1
    grep -q "terminal" "$work/tty" || fail "a picture was written to a terminal"
fi
printf 'BM not a bitmap' | "$zav" convert - "$work/z.bmp" 2>"$work/err"
[ $? -eq 1 ] || fail "a damaged picture on standard input did not exit 1"
grep -q "standard input" "$work/err" || fail "the failure does not name standard input"
: | "$zav" convert - "$work/z.bmp" 2>"$work/err"
{ [ $? -eq 1 ] && grep -q "empty" "$work/err"; } || fail "empty standard input: $(cat "$work/err")"

finish "tool stdio"
