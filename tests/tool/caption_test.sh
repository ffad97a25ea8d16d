#!/bin/sh
# Captions through the tool, read back with netpbm: the typographic caption stands on the baseline
# (a hyphen at mid-height, a descender below), takes any colour and opacity, an outline and a box,
# keeps to the anchored corner of pictures of any size; --classic gives the very bytes the C
# interface's classic caption gives; bad caption options are usage errors that write nothing.
# Arguments: the zavimage binary, the classic_caption helper.
# ink prints five numbers, which `set -- $(ink FILE)` splits into $1 to $5 on purpose.
# shellcheck disable=SC2046
set -u
zav=$1
classic=$2
# shellcheck source-path=SCRIPTDIR source=checks.sh
. "$(dirname "$0")/checks.sh"
run() {  # run CMD...: expects exit 0
    "$@" >"$work/out" 2>&1 || fail "exit $?: $* ($(cat "$work/out"))"
}

# ink FILE: "minx miny maxx maxy count" of the pixels darker than mid-gray
ink() {
    pnmtoplainpnm "$1" 2>/dev/null | ppmtopgm | pnmtoplainpnm | awk '
        NR == 1 { next } NR == 2 { w = $1; next } NR == 3 { next }
        { for (i = 1; i <= NF; i++) { if ($i < 128) { x = n % w; y = int(n / w); c++
              if (c == 1 || x < x0) x0 = x; if (c == 1 || y < y0) y0 = y
              if (x > x1) x1 = x; if (y > y1) y1 = y }
            n++ } }
        END { if (c == 0) print "none"; else print x0, y0, x1, y1, c }'
}
# within VALUE LOW HIGH WHAT
within() {
    if [ "$1" -lt "$2" ] || [ "$1" -gt "$3" ]; then
        fail "$4 is $1, not within $2..$3"
    fi
}

ppmmake white 200 100 >"$work/white.ppm"
ppmmake white 300 150 >"$work/big.ppm"
text() {  # text OUT.ppm [options]: a black caption on the white picture
    out=$1
    shift
    run "$zav" text "$work/white.ppm" "$work/$out" --text-color black --size 40 "$@"
}

# --- the baseline at row 60: hyphen well above it, the tail of g below it; classic: on the floor
text hyphen.ppm --text "-" --at 10,60
set -- $(ink "$work/hyphen.ppm")
within "$4" 40 55 "the hyphen's lowest ink row (baseline 60)"
within "$2" 36 55 "the hyphen's highest ink row"
text g.ppm --text "g" --at 10,60
set -- $(ink "$work/g.ppm")
within "$4" 64 75 "the descender of g (baseline 60)"
run "$zav" text "$work/white.ppm" "$work/classic.ppm" --text "-" --at 10,60 --size 40 --classic \
    --text-color blue
set -- $(ink "$work/classic.ppm")
[ "$4" = 60 ] || [ "$4" = 59 ] || fail "the classic hyphen's bottom is row $4, not on row 60"

# --- colour, opacity, outline and background box
text colour.ppm --text "I" --size 80 --text-color "#2050C0"
n=$(pnmtoplainpnm "$work/colour.ppm" | awk 'NR > 3 { for (i = 1; i <= NF; i++) v[k++] = $i }
    END { for (j = 0; j + 2 < k; j += 3) if (v[j] == 32 && v[j+1] == 80 && v[j+2] == 192) c++
          print c + 0 }')
[ "$n" -ge 50 ] || fail "only $n pixels of #2050C0 in a bold stroke"
text half.ppm --text "I" --size 80 --opacity 50%
darkest=$(pnmtoplainpnm "$work/half.ppm" | ppmtopgm | pnmtoplainpnm |
    awk 'NR > 3 { for (i = 1; i <= NF; i++) if (m == "" || $i < m) m = $i } END { print m }')
within "$darkest" 126 129 "black at 50% on white"
run "$zav" text "$work/white.ppm" "$work/boxed.ppm" --text "Hg" --size 30 --text-color white \
    --outline 2 --background black --anchor top-left
set -- $(ink "$work/boxed.ppm")
within "$1" 10 10 "the box's left edge (margin 10)"
within "$2" 10 10 "the box's top edge"
area=$((($3 - $1 + 1) * ($4 - $2 + 1)))
{ [ "$5" -lt "$area" ] && [ "$5" -gt $((area / 2)) ]; } ||
    fail "the box ($area pixels) holds $5 dark ones: no white text in a black box"

# --- anchors: the same corner of pictures of different sizes, with the margin or --at
mkdir "$work/in"
cp "$work/white.ppm" "$work/in/a.ppm"
cp "$work/big.ppm" "$work/in/b.ppm"
run "$zav" annotate "$work/in" --out-dir "$work/anchored" --text "HH" --size 30 \
    --text-color black --anchor bottom-right -q
set -- $(ink "$work/anchored/a.ppm")
within "$3" 180 190 "bottom-right ink's right edge on 200 x 100"
within "$4" 75 90 "bottom-right ink's bottom on 200 x 100"
set -- $(ink "$work/anchored/b.ppm")
within "$3" 280 290 "bottom-right ink's right edge on 300 x 150"
within "$4" 125 140 "bottom-right ink's bottom on 300 x 150"
text moved.ppm --text "HH" --size 30 --anchor bottom-right --at 40,30
set -- $(ink "$work/moved.ppm")
within "$3" 150 160 "bottom-right at 40,30: the right edge"
text centre.ppm --text "HH" --size 30 --anchor center
set -- $(ink "$work/centre.ppm")
within $((($1 + $3) / 2)) 97 103 "the centred ink's middle column"
within $((($2 + $4) / 2)) 40 60 "the centred ink's middle row"

# --- --classic: the bytes the C interface gives, with the defaults and with every value given
"$classic" "$work/white.ppm" "$work/want1.bmp" "视频 2024-05-01 gjpqy" 10 40 2 24 0.1 ||
    fail "classic_caption"
run "$zav" text "$work/white.ppm" "$work/got1.bmp" --classic --text "视频 2024-05-01 gjpqy"
cmp -s "$work/want1.bmp" "$work/got1.bmp" || fail "--classic with defaults differs"
"$classic" "$work/white.ppm" "$work/want2.bmp" "前门-东 Cam" 5 70 1 30 0.25 || fail "classic_caption"
run "$zav" text "$work/white.ppm" "$work/got2.bmp" --classic --text "前门-东 Cam" --at 5,70 \
    --text-color green --size 30 --space 0.25
cmp -s "$work/want2.bmp" "$work/got2.bmp" || fail "--classic green at 5,70 differs"

# --- usage errors: exit 2, nothing written
for bad in "--text-color purple" "--text-color #12345" "--opacity 1.5" "--opacity 101%" \
    "--outline 65" "--outline 2,pink" "--background black,2" "--anchor middle" \
    "--font $work/none.ttf" "--font $work/white.ppm" "--classic --outline 1" \
    "--classic --text-color white" "--size 2000" "--color red"; do
    # shellcheck disable=SC2086 # the options are split on purpose
    "$zav" text "$work/white.ppm" "$work/bad.ppm" --text x $bad >"$work/out" 2>&1
    status=$?
    [ "$status" = 2 ] || fail "exit $status (wanted 2): text --text x $bad"
    [ -e "$work/bad.ppm" ] && fail "$bad wrote an output" && rm -f "$work/bad.ppm"
done
grep -q -- "--text-color" "$work/out" || fail "--color red does not point to --text-color"
run "$zav" text "$work/white.ppm" "$work/font.ppm" --text x --font "DejaVu Sans:bold"
if [ -r /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ]; then
    run "$zav" text "$work/white.ppm" "$work/font.ppm" --text x \
        --font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
fi

finish "tool caption"
