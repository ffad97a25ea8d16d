#!/bin/sh
# The zavimage tool does not lose files: outputs worked out before any work (collisions, outputs
# that are inputs, --no-clobber), values checked before work (exit 2, nothing written), gray kept
# gray, clean stops on SIGINT and SIGTERM, nothing left behind by SIGKILL, escaped
# names, clear messages, and JPEG percentages giving libjpeg's own tables.
# Argument: the zavimage binary.
set -u
zav=$1
# shellcheck source-path=SCRIPTDIR source=checks.sh
. "$(dirname "$0")/checks.sh"
colorspace() { identify -format '%[colorspace] %[type]' "$1" 2>/dev/null; }

# --- pictures: a colour frame in three formats, a gray one, a text file and a subfolder
"$zav" demo "$work/demo" >/dev/null || fail "demo"
in=$work/in
mkdir -p "$in/sub"
cp "$work/demo/input.bmp" "$in/cam1.bmp"
"$zav" convert "$in/cam1.bmp" "$in/cam1.tif" && "$zav" convert "$in/cam1.bmp" "$in/cam1.jpg"
bmptopnm "$in/cam1.bmp" 2>/dev/null | ppmtopgm | pnmtopnm >"$in/gray.pgm"
cp "$in/gray.pgm" "$in/sub/deep.pgm"
echo notes >"$in/notes.txt"
(cd "$in" && md5sum cam1.bmp cam1.tif cam1.jpg gray.pgm) >"$work/sums"
unchanged() { (cd "$in" && md5sum -c --quiet "$work/sums") >/dev/null 2>&1 || fail "$1 changed an input"; }

# --- an output folder that is the input folder: refused, nothing touched, unless --in-place
expect 2 "$zav" annotate "$in" --out-dir "$in" --text x
contains "$work/err" "cam1.bmp is the input"
contains "$work/err" "--in-place"
unchanged "annotate into its own folder"
expect 2 "$zav" convert "$in/gray.pgm" "$in/../in/gray.pgm"
unchanged "convert onto itself"
ln -s "$in/cam1.bmp" "$work/link.bmp"
expect 2 "$zav" flip "$in/cam1.bmp" "$work/link.bmp"
unchanged "flip onto a link to its input"

# --- three inputs that would write one output: listed, exit 2, no output folder made
expect 2 "$zav" annotate "$in" --out-dir "$work/o1" --format jpg --text x
contains "$work/err" "cam1.jpg <- $in/cam1.bmp, $in/cam1.jpg, $in/cam1.tif"
[ -e "$work/o1" ] && fail "a refused run made its output folder"

# --- values checked before any work: exit 2, no output folder
for bad in "--format gif" "--quality 90" "--quality -1" "--jpeg-quality 0" "--jpeg-quality 97" \
    "--box-color 9" "--text-color 3" "--size 0" "--box 1,1,0,5" "--at 10" "--resize 0x10" \
    "--resize x" "--resize 0%" "--jobs 0" "--flip=yes"; do
    # shellcheck disable=SC2086
    expect 2 "$zav" annotate "$in/cam1.bmp" --out-dir "$work/o2" --text x $bad
done
contains "$work/err" "--flip takes no value"
expect 2 "$zav" annotate "$in/cam1.bmp" --out-dir "$work/o2" --quality 90
contains "$work/err" "--jpeg-quality 90"
[ -e "$work/o2" ] && fail "a usage error made the output folder"
expect 2 "$zav" annotate "$in/gray.pgm" -o "$work/noext"
contains "$work/err" "is not a format written"

# --- a box or caption start outside one picture fails that picture only
mkdir "$work/sizes"
cp "$in/cam1.bmp" "$work/sizes/big.bmp"
"$zav" resize "$in/cam1.bmp" "$work/sizes/small.bmp" 100x50
expect 1 "$zav" annotate "$work/sizes" --out-dir "$work/o3" --box 200,100,10,10
contains "$work/out" "1 succeeded, 1 failed"
contains "$work/out" "small.bmp: the box 200,100,10,10 lies outside the 100 x 50 picture"
[ -e "$work/o3/small.bmp" ] && fail "a picture whose box missed it was written"
expect 1 "$zav" text "$in/cam1.bmp" "$work/t.bmp" --text x --at 10,400
contains "$work/err" "caption start 10,400 lies outside the 640 x 360 picture"

# --- --no-clobber skips and counts; the kept file is untouched
set=$work/set
mkdir -p "$set/sub"
cp "$in/cam1.bmp" "$in/gray.pgm" "$in/notes.txt" "$set/" && cp "$in/gray.pgm" "$set/sub/deep.pgm"
expect 0 "$zav" annotate "$set" --out-dir "$work/o4" --format ppm -j 2 --jpeg-quality 75
contains "$work/out" "2 succeeded, 0 failed"
contains "$work/out" "1 subfolder (--recursive walks them), 1 file that is not a picture"
touch -d '2000-01-01' "$work/o4/gray.ppm"
rm "$work/o4/cam1.ppm" 2>/dev/null
expect 0 "$zav" annotate "$in/gray.pgm" "$in/cam1.bmp" --out-dir "$work/o4" --format ppm -n
contains "$work/out" "1 succeeded, 0 failed, 1 skipped (output exists)"
[ "$(stat -c %Y "$work/o4/gray.ppm")" -lt 1000000000 ] || fail "--no-clobber replaced a file"
expect 0 "$zav" convert "$in/gray.pgm" "$work/o4/gray.ppm" --no-clobber
contains "$work/out" "skipped"
expect 0 "$zav" convert "$in/gray.pgm" "$in/gray.pgm" -n
unchanged "convert -n onto itself"

# --- gray stays gray where the format has gray; --color and .ppm give colour
for ext in jpg bmp tif ras pgm; do
    expect 0 "$zav" convert "$in/gray.pgm" "$work/g.$ext"
done
[ "$(identify -format '%[channels]' "$work/g.jpg" 2>/dev/null)" = "gray" ] ||
    djpeg -verbose "$work/g.jpg" 2>&1 >/dev/null | grep -q "components=1" || fail "gray JPEG has colour"
[ "$(od -An -tu2 -j28 -N2 "$work/g.bmp" | tr -d ' ')" = 8 ] || fail "gray BMP is not 8-bit"
tiffinfo "$work/g.tif" 2>/dev/null | grep -q "min-is-black" || fail "gray TIFF is not gray"
[ "$(od -An -tu1 -j15 -N1 "$work/g.ras" | tr -d ' ')" = 8 ] || fail "gray Sun raster is not depth 8"
[ "$(head -c 2 "$work/g.pgm")" = P2 ] || fail "gray PGM is not a gray map"
pgmtopgm <"$work/g.pgm" | cmp -s - "$in/gray.pgm" || fail "gray PGM pixels differ"
expect 0 "$zav" convert "$in/gray.pgm" "$work/c.bmp" --color
[ "$(od -An -tu2 -j28 -N2 "$work/c.bmp" | tr -d ' ')" = 24 ] || fail "--color gave no colour BMP"
[ "$(head -c 2 "$work/o4/gray.ppm")" = P3 ] || fail "a .ppm output is not a pixmap"
expect 0 "$zav" annotate "$in/gray.pgm" --in-place -o "$in/gray.pgm" --text x
[ "$(head -c 2 "$in/gray.pgm")" = P2 ] || fail "--in-place lost the gray"
cp "$work/g.pgm" "$in/gray.pgm"

# --- names: control characters escaped, -- ends the options, native Linux names
cp "$in/cam1.jpg" "$work/x
forged.jpg"
cp "$in/cam1.jpg" "$work/$(printf '\033[31mred.jpg')"
cp "$in/cam1.bmp" "$work/-dash.bmp"
long=$work/$(printf 'n%.0s' $(seq 1 250))/$(printf 'm%.0s' $(seq 1 40)).bmp
mkdir -p "$(dirname "$long")"
expect 0 "$zav" info "$work/x
forged.jpg" "$work/$(printf '\033[31mred.jpg')"
[ "$(wc -l <"$work/out")" = 2 ] || fail "a name with a line feed forged a line: $(cat "$work/out")"
contains "$work/out" 'x\nforged.jpg: JPEG, 640 x 360, colour'
contains "$work/out" '\x1B[31mred.jpg: JPEG'
cp "$in/cam1.jpg" "$work/$(printf 'cam\342\200\256gpj.exe')"
expect 0 "$zav" info "$work/$(printf 'cam\342\200\256gpj.exe')"
contains "$work/out" 'cam\xE2\x80\xAEgpj.exe: JPEG'
grep -q "$(printf '\342\200\256')" "$work/out" && fail "a right-to-left override reached the output"
grep -q "$(printf '\033')" "$work/out" && fail "an escape sequence reached the output"
expect 2 "$zav" convert a.bmp b.bmp "--$(printf '\033')[31m"
grep -q "$(printf '\033')" "$work/err" && fail "an escape sequence in an option reached the terminal"
expect 0 "$zav" convert "$in/gray.pgm" "$work/what?*.pgm"
expect 0 "$zav" info "$work/what?*.pgm"
contains "$work/out" "what?*.pgm: PGM, 640 x 360, gray"
expect 0 "$zav" convert -- "$work/-dash.bmp" "$long"
[ -s "$long" ] || fail "a name longer than 259 bytes was not written"
expect 0 "$zav" info -- "$long"

# --- messages: folder not found, is a folder, empty file, empty and missing input folders
: >"$work/empty.jpg"
mkdir "$work/nothing"
expect 1 "$zav" info "$work/nope/a.jpg" "$work/nothing" "$work/empty.jpg" "$work/missing.jpg"
contains "$work/out" "nope/a.jpg: does not load: folder not found"
contains "$work/out" "nothing: does not load: is a folder"
contains "$work/out" "empty.jpg: does not load: empty file"
contains "$work/out" "missing.jpg: does not load: file not found"
expect 1 "$zav" annotate "$work/nothing" --out-dir "$work/o5"
contains "$work/err" "nothing: no pictures in this folder (it is empty)"
expect 1 "$zav" annotate "$work/gone/" --out-dir "$work/o5"
contains "$work/err" "gone/: folder not found"
expect 1 "$zav" convert "$work/nothing" "$work/o5.jpg"
contains "$work/err" "nothing: is a folder"

# --- info: one format name from the header, --verify decodes, --json
head -c 3000 "$in/cam1.jpg" >"$work/cut.jpg"
expect 0 "$zav" info "$work/cut.jpg" "$in/gray.pgm" "$work/g.ras"
contains "$work/out" "cut.jpg: JPEG, 640 x 360, colour"
contains "$work/out" "gray.pgm: PGM, 640 x 360, gray"
contains "$work/out" "g.ras: Sun raster, 640 x 360, gray"
expect 1 "$zav" info --verify "$work/cut.jpg"
contains "$work/out" "does not load: data end early"
expect 1 "$zav" info --json --verify "$work/cut.jpg" "$in/gray.pgm" "$work/x
forged.jpg" "$work/missing.jpg"
/usr/bin/python3 - "$work/out" <<'PY' || fail "info --json"
import json, sys
d = json.load(open(sys.argv[1]))
assert [x.get("format") for x in d] == ["JPEG", "PGM", "JPEG", None], d
assert d[0]["verified"] is False and d[0]["error"] == "data end early", d[0]
assert d[1]["gray"] is True and d[1]["width"] == 640 and d[1]["verified"] is True, d[1]
assert d[2]["file"].endswith("x\nforged.jpg"), d[2]
assert d[3]["error"] == "file not found", d[3]
PY

# --- resize geometry, --recursive, --quiet and --verbose
expect 0 "$zav" resize "$in/cam1.bmp" "$work/r1.bmp" 320x
expect 0 "$zav" resize "$in/cam1.bmp" "$work/r2.bmp" x90
expect 0 "$zav" resize "$in/cam1.bmp" "$work/r3.bmp" 50%
resized() {  # resized NAME W H
    [ "$(identify -format '%w %h' "$work/$1.bmp")" = "$2 $3" ] || fail "resize $1"
}
resized r1 320 180
resized r2 160 90
resized r3 320 180
expect 0 "$zav" annotate "$set" --out-dir "$work/o6" -r --format tif -q
[ -s "$work/o6/sub/deep.tif" ] || fail "--recursive did not keep the subfolder"
[ -s "$work/out" ] && fail "--quiet printed: $(cat "$work/out")"
expect 0 "$zav" annotate "$in/gray.pgm" "$in/cam1.bmp" --out-dir "$work/o7" -v
[ "$(grep -c ' -> ' "$work/err")" = 2 ] || fail "--verbose: one line per file"
expect 0 "$zav" annotate "$in/gray.pgm" "$in/cam1.bmp" --out-dir "$work/o8"
grep -q ' -> ' "$work/err" && fail "lines per file without --verbose"

# --- JPEG percentages give the tables libjpeg gives (cjpeg -baseline: entries of at most 255)
pnmcut 0 0 16 16 <"$in/gray.pgm" | pgmtoppm red >"$work/q.ppm"
tables() { djpeg -verbose -verbose "$1" 2>&1 >/dev/null | grep -A8 'Define Quantization' | tr -s ' '; }
for p in 1 2 5 10 23 24 25 30 33 49 50 51 60 70 75 80 85 90 94 95 100; do
    cjpeg -baseline -quality "$p" "$work/q.ppm" >"$work/lib.jpg"
    "$zav" convert "$work/q.ppm" "$work/zav.jpg" --jpeg-quality "$p" || fail "--jpeg-quality $p"
    [ "$(tables "$work/lib.jpg")" = "$(tables "$work/zav.jpg")" ] || fail "--jpeg-quality $p tables"
done
"$zav" convert "$work/q.ppm" "$work/zav.jpg" --quality 2
cjpeg -baseline -quality 75 "$work/q.ppm" >"$work/lib.jpg"
[ "$(tables "$work/lib.jpg")" = "$(tables "$work/zav.jpg")" ] || fail "--quality 2 is not libjpeg's 75"

# --- stops: SIGINT and SIGTERM in a 300-file batch finish what is in progress, leave no
# temporary file, print the summary and exit 130 / 143; SIGKILL leaves none either (the library
# names a save's file only when it is complete)
mkdir "$work/frames"
"$zav" resize "$in/cam1.bmp" "$work/frames/f000.bmp" 320x180
for i in $(seq 1 299); do ln "$work/frames/f000.bmp" "$work/frames/f$(printf %03d "$i").bmp"; done
files_in() {  # files_in FOLDER: how many files it shows (the hidden staging copies left out)
    find "$1" -mindepth 1 -maxdepth 1 ! -name '.*' 2>/dev/null | wc -l
}
stop_run() {  # stop_run SIGNAL OUTDIR: starts a batch, signals it once 20 files are written
    env --default-signal=INT "$zav" annotate "$work/frames" --out-dir "$2" --format jpg -j 2 \
        --text "视频监控" --box 10,10,40,40 >"$work/out" 2>"$work/err" &
    pid=$!
    n=0
    while [ "$(files_in "$2")" -lt 20 ] && [ $n -lt 2000 ]; do
        n=$((n + 1))
        sleep 0.005
    done
    kill -s "$1" $pid
    wait $pid 2>/dev/null
    status=$?
    left=$(find "$2" -name '*.tmp' | wc -l)
    made=$(files_in "$2")
}
stop_run INT "$work/s1"
[ "$status" = 130 ] || fail "SIGINT: exit $status"
[ "$left" = 0 ] || fail "SIGINT left $left temporary files"
[ "$made" -lt 300 ] || fail "SIGINT did not stop the batch"
contains "$work/out" "stopped by SIGINT"
"$zav" info --verify "$work"/s1/*.jpg >/dev/null || fail "SIGINT left a damaged output"
stop_run TERM "$work/s2"
[ "$status" = 143 ] || fail "SIGTERM: exit $status"
[ "$left" = 0 ] || fail "SIGTERM left $left temporary files"
contains "$work/out" "not done"
stop_run KILL "$work/s3"
[ "$left" = 0 ] || fail "SIGKILL left $left temporary files"
"$zav" info --verify "$work"/s3/*.jpg >/dev/null || fail "SIGKILL left a damaged output"

# --- a link planted at an output name is refused with its own reason; the file it points at (in
# another folder) stays as it was, and a dangling link makes nothing elsewhere
mkdir -p "$work/victim" "$work/planted"
echo notes >"$work/victim/notes.txt"
ln -s ../victim/notes.txt "$work/planted/cam1.jpg"
ln -s ../victim/made.jpg "$work/planted/gray.jpg"
expect 1 "$zav" annotate "$in/cam1.bmp" "$in/gray.pgm" --out-dir "$work/planted" --format jpg
contains "$work/out" "0 succeeded, 2 failed"
contains "$work/err" "cam1.jpg: is a symbolic link"
[ "$(cat "$work/victim/notes.txt")" = notes ] || fail "a save wrote through a planted link"
[ "$(ls "$work/victim")" = notes.txt ] || fail "a dangling link made a file in another folder"

# --- two --no-clobber runs into one folder at the same time: no output of either is replaced
# (each file is whole and was written once: the runs differ in their caption)
mkdir "$work/race"
for i in $(seq 1 40); do cp "$work/demo/input.bmp" "$work/race/f$i.bmp"; done
"$zav" annotate "$work/race" --out-dir "$work/raced" --format ppm -n -j 2 --text one \
    >"$work/out1" 2>&1 &
first=$!
"$zav" annotate "$work/race" --out-dir "$work/raced" --format ppm -n -j 2 --text two \
    >"$work/out2" 2>&1
wait $first
written=$(($(sed -n 's/^annotate: \([0-9]*\) succeeded.*/\1/p' "$work/out1") + \
    $(sed -n 's/^annotate: \([0-9]*\) succeeded.*/\1/p' "$work/out2")))
[ "$written" = 40 ] || fail "two --no-clobber runs wrote $written files for 40 outputs"
[ "$(files_in "$work/raced")" = 40 ] || fail "two --no-clobber runs left $(ls "$work/raced")"

# --- under a file size limit (ulimit -f) the tool reports "file too large" for that file and
# prints its summary; no partial file is left
mkdir "$work/limited" "$work/small"
"$zav" resize "$in/gray.pgm" "$work/small/tiny.pgm" 8x8 >/dev/null || fail "resize to 8x8"
(ulimit -f 64 && exec "$zav" annotate "$in/cam1.bmp" "$work/small/tiny.pgm" \
    --out-dir "$work/limited" --format ppm) >"$work/out" 2>"$work/err"
status=$?
[ "$status" = 1 ] || fail "under ulimit -f: exit $status"
contains "$work/err" "cam1.ppm: file too large"
contains "$work/out" "annotate: 1 succeeded, 1 failed"
[ "$(ls -A "$work/limited")" = tiny.ppm ] || fail "under ulimit -f: left $(ls -a "$work/limited")"

# --- reading a job document: a stop ends the tool at once (a FIFO without a writer, a pipe that
# stays open), a document carrying its own plan or above 16 MiB is refused
mkfifo "$work/job.fifo"
for stop in INT:130 TERM:143; do
    timeout -s KILL 20 "$zav" run "$work/job.fifo" >"$work/out" 2>"$work/err" &
    reader=$!
    sleep 0.3
    kill -"${stop%%:*}" $reader
    wait $reader
    status=$?
    [ "$status" = "${stop##*:}" ] || fail "SIG${stop%%:*} while run waits for a FIFO: exit $status"
    contains "$work/err" "while reading the job; nothing was done"
done
(sleep 30 | "$zav" run - >"$work/out" 2>"$work/err") &
piped=$!
sleep 0.3
pkill -INT -f "^$zav run -\$" || fail "no run - to stop"
wait $piped
status=$?
pkill -f "^sleep 30\$" 2>/dev/null
[ "$status" = 130 ] || fail "SIGINT while run reads a pipe: exit $status"
printf '{"version": 1, "inputs": ["%s"], "out_dir": "%s", "plan": {"items": [],
  "subfolders": 0, "other_files": 0}}' "$in/cam1.bmp" "$work/planned" >"$work/planned.json"
expect 2 "$zav" run "$work/planned.json"
contains "$work/err" "plan: a planned job is taken only from the process that planned it"
[ -e "$work/planned" ] && fail "a job carrying a plan made its output folder"
head -c 17000000 /dev/zero | tr '\0' ' ' >"$work/huge.json"
expect 1 "$zav" run "$work/huge.json"
contains "$work/err" "larger than 16 MiB"

# --- an output that appears after the plan, before the save (--no-clobber): kept, and -v says it
# was skipped, not written
mkfifo "$work/late.fifo"
"$zav" annotate - -o "$work/late.png" --no-clobber -v <"$work/late.fifo" >"$work/out" \
    2>"$work/err" &
late=$!
exec 3>"$work/late.fifo"
sleep 0.5
cp "$in/gray.pgm" "$work/late.png"
cat "$in/gray.pgm" >&3
exec 3>&-
wait $late
contains "$work/err" "skipped, $work/late.png exists (--no-clobber)"
grep -q -- "->" "$work/err" && fail "-v printed an output skipped by --no-clobber as written"
cmp -s "$in/gray.pgm" "$work/late.png" || fail "--no-clobber replaced an output made meanwhile"

finish "tool safety"
