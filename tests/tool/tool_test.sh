#!/bin/sh
# The zavimage tool on real files: every command, the messages and exit statuses, a batch with a
# bad file in it, and the demonstration. Independent tools (netpbm, ImageMagick) check the output.
# Argument: the zavimage binary.
set -u
zav=$1
# shellcheck source-path=SCRIPTDIR source=checks.sh
. "$(dirname "$0")/checks.sh"

size_of() {  # size_of FILE -> "W H" as ImageMagick reads it
    identify -format '%w %h' "$1" 2>/dev/null
}

# --- help and usage errors
expect 0 "$zav" --help
contains "$work/out" "annotate"
for c in annotate convert info resize flip copy text box demo; do
    expect 0 "$zav" "$c" --help
    contains "$work/out" "example"
    expect 0 "$zav" help "$c"
    contains "$work/out" "usage: zavimage $c"
done
expect 2 "$zav"
expect 2 "$zav" frobnicate
contains "$work/err" "unknown command 'frobnicate'"
expect 2 "$zav" convert onlyone.bmp
expect 2 "$zav" convert a.bmp b.bmp --bogus
contains "$work/err" "unknown option --bogus"
expect 2 "$zav" text a.bmp b.bmp --text hi --at 10
contains "$work/err" "--at: '10' is not a position X,Y"
expect 2 "$zav" resize a.bmp b.bmp 0x10
expect 2 "$zav" annotate a.bmp b.bmp -o c.bmp
expect 2 "$zav" annotate a.bmp

# --- the demonstration
expect 0 "$zav" demo "$work/demo"
contains "$work/out" "output.jpg"
for f in input.bmp output.jpg output.bmp output.ras output.ppm output.tif; do
    [ -s "$work/demo/$f" ] || fail "demo did not write $f"
done
[ "$(size_of "$work/demo/output.jpg")" = "640 360" ] || fail "demo JPEG is not 640 x 360"
[ "$(identify -format '%m' "$work/demo/output.jpg")" = "JPEG" ] || fail "demo JPEG is not a JPEG"
# the caption and the box changed the picture
bmptopnm "$work/demo/input.bmp" >"$work/in.ppm" 2>/dev/null
bmptopnm "$work/demo/output.bmp" >"$work/out.ppm" 2>/dev/null
cmp -s "$work/in.ppm" "$work/out.ppm" && fail "demo output equals its input"
in=$work/demo/input.bmp

# --- convert and info
expect 0 "$zav" convert "$in" "$work/c.ppm"
[ "$(pamfile "$work/c.ppm" 2>/dev/null | grep -o '640 by 360')" = "640 by 360" ] || fail "convert to PPM"
expect 0 "$zav" convert "$in" "$work/C.TIF"
tifftopnm "$work/C.TIF" 2>/dev/null | cmp -s - "$work/in.ppm" || fail "TIFF pixels differ"
expect 0 "$zav" info "$in" "$work/C.TIF"
contains "$work/out" "input.bmp: BMP, 640 x 360, colour"
contains "$work/out" "C.TIF: TIFF, 640 x 360, colour"
expect 1 "$zav" info "$work/missing.bmp"
contains "$work/out" "file not found"
printf 'BM this is not a bitmap' >"$work/bad.bmp"
expect 1 "$zav" info "$work/bad.bmp"
printf 'GIF89a' >"$work/pic.gif"
expect 1 "$zav" info "$work/pic.gif"
contains "$work/out" "unsupported format"

# --- names are native paths; unknown formats and missing folders leave no file
expect 0 "$zav" convert "$in" "$work/what?.jpg"
[ -s "$work/what?.jpg" ] || fail "a Linux name with '?' was not written"
expect 2 "$zav" convert "$in" "$work/x.gif"
contains "$work/err" "'gif' is not a format written"
[ -e "$work/x.gif" ] && fail "an unknown format was written"
expect 1 "$zav" convert "$in" "$work/no/such/folder/x.bmp"
contains "$work/err" "folder not found"
expect 1 "$zav" convert "$work/missing.bmp" "$work/y.bmp"
contains "$work/err" "missing.bmp: file not found"
[ -e "$work/y.bmp" ] && fail "a failed load wrote an output"

# --- resize, flip, text, box, copy
expect 0 "$zav" resize "$in" "$work/r.bmp" 320x200
[ "$(size_of "$work/r.bmp")" = "320 200" ] || fail "resize size"
expect 0 "$zav" flip "$in" "$work/f.bmp"
expect 0 "$zav" flip "$work/f.bmp" "$work/ff.bmp"
bmptopnm "$work/ff.bmp" 2>/dev/null | cmp -s - "$work/in.ppm" || fail "flip twice is not the original"
bmptopnm "$work/f.bmp" 2>/dev/null | pamflip -tb | cmp -s - "$work/in.ppm" || fail "flip differs from pamflip -tb"
expect 0 "$zav" text "$in" "$work/t.bmp" --text "视频 ABC" --at 10,40 --text-color green
bmptopnm "$work/t.bmp" 2>/dev/null | cmp -s - "$work/in.ppm" && fail "text drew nothing"
expect 0 "$zav" box "$in" "$work/b.bmp" --box 100,100,50,30 --box-color blue
# the grown box's top-left corner (100 - 10, 100 - 10) is blue
px=$(convert "$work/b.bmp" -format '%[pixel:p{90,90}]' info: 2>/dev/null)
case "$px" in
    *"0,0,255"* | blue) ;;
    *) fail "box corner is $px, not blue" ;;
esac
expect 0 "$zav" copy "$in" "$in" "$work/p.bmp" --from 0,0,640,360 --to 0,0,320,180
[ "$(size_of "$work/p.bmp")" = "640 360" ] || fail "copy output size"

# --- a batch with one bad file in it
mkdir "$work/batch"
for i in 1 2 3; do cp "$in" "$work/batch/frame$i.bmp"; done
cp "$work/bad.bmp" "$work/batch/frame4.bmp"
echo "not a picture" >"$work/batch/notes.txt"
expect 1 "$zav" annotate "$work/batch" --out-dir "$work/marked" --format jpg --text "cam 1" \
    --box 190,87,60,37 --resize 320x180 -j 2
contains "$work/out" "3 succeeded, 1 failed"
contains "$work/out" "frame4.bmp"
contains "$work/err" "frame4.bmp: "
for i in 1 2 3; do
    [ "$(size_of "$work/marked/frame$i.jpg")" = "320 180" ] || fail "batch output frame$i.jpg"
done
[ -e "$work/marked/frame4.jpg" ] && fail "the bad file left an output"
[ -e "$work/marked/notes.jpg" ] && fail "a text file was taken as a picture"
expect 0 "$zav" annotate "$in" -o "$work/one.jpg" --quality 1
[ -s "$work/one.jpg" ] || fail "annotate -o"

finish "tool"
