#!/bin/sh
# The progress bar on a terminal (a pseudo-terminal made by script(1)): it fits the width, follows
# a change of size (SIGWINCH), redraws in place and cuts long names between characters.
# Argument: the zavimage binary.
set -u
zav=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$zav" demo "$work/demo" >/dev/null || exit 1
mkdir "$work/frames"
# frames large enough that the batch outlasts the wait below on a busy machine
"$zav" resize "$work/demo/input.bmp" "$work/frames/a.bmp" 640x360 || exit 1
for i in $(seq 1 300); do
    ln "$work/frames/a.bmp" "$work/frames/视频监控摄像头第一号通道的画面_$(printf %03d "$i").bmp"
done
rm "$work/frames/a.bmp"
cat >"$work/run.sh" <<RUN
stty cols 40 rows 20
"$zav" annotate "$work/frames" --out-dir "$work/out" --format jpg --text x -j 1 &
pid=\$!
while [ "\$(ls "$work/out" 2>/dev/null | wc -l)" -lt 60 ]; do sleep 0.01; done
# The terminal widens while the batch is held, so that files remain to draw at the new width.
kill -STOP \$pid
ls "$work/out" | wc -l >"$work/held_at"
stty cols 70
kill -CONT \$pid
wait \$pid
RUN
# A machine busy enough that the batch ended before the wait above saw it is told apart by the
# count when held, and the run made again.
for _ in 1 2 3 4 5; do
    rm -rf "$work/out"
    script -qec "sh $work/run.sh" /dev/null >"$work/typescript" </dev/null
    [ "$(cat "$work/held_at")" -lt 300 ] && break
done
/usr/bin/python3 - "$work/typescript" <<'PY'
import re, sys, unicodedata
raw = open(sys.argv[1], "rb").read()
text = raw.decode("utf-8")  # a cut inside a character would fail here
segments = [s.replace("\x1b[K", "") for s in re.split(r"[\r\n]", text)]
bars = [s for s in segments if s.startswith("[")]
width = lambda s: sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in s)
assert len(bars) >= 100, f"{len(bars)} bar drawings"
narrow = [b for b in bars if "/300" in b and int(b.split("]")[1].split("/")[0]) < 50]
assert narrow and all(width(b) <= 39 for b in narrow), [b for b in narrow if width(b) > 39]
assert all(width(b) <= 69 for b in bars), [b for b in bars if width(b) > 69]
assert any(width(b) > 39 for b in bars), "the bar did not follow the wider terminal"
assert any("..." in b and "视频" not in b.split("...")[0] for b in bars), "no name was cut"
assert "annotate: 300 succeeded, 0 failed" in text, text[-300:]
PY
status=$?
[ $status -eq 0 ] && echo "tool progress: all checks passed"
exit $status
