#!/bin/sh
# The README's annotate job (resize to 1280x720, a Chinese caption, a box, JPEG at the default
# quality) on generated 1920x1080 frames, by zavimage and by ImageMagick's mogrify doing the same,
# one run each: wall time, the ratio and the peak memory. Then the cost of working out every output
# before the work: the same command again with --no-clobber over the finished outputs, which does
# all those checks and no picture work.
# Usage: bench/tool_annotate.sh ZAVIMAGE [FRAMES]   (FRAMES defaults to 300)
set -eu
zav=$1
frames=${2:-300}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/frames"
ppmpat -camo -randomseed=1 1920 1080 2>/dev/null | cjpeg -quality 90 >"$work/frames/f0000.jpg"
i=1
while [ "$i" -lt "$frames" ]; do
    cp "$work/frames/f0000.jpg" "$work/frames/f$(printf %04d "$i").jpg"
    i=$((i + 1))
done
caption="视频监控 cam 1"
font=$(fc-match -f '%{file}' 'SimHei:lang=zh-cn')

# run NAME CMD...: wall seconds in $secs, peak resident kilobytes in $peak
run() {
    name=$1
    shift
    if [ -x /usr/bin/time ]; then
        /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
            cat "$work/err" >&2
            exit 1
        }
        read -r secs peak <"$work/time"
    else
        start=$(date +%s.%N)
        "$@" >/dev/null
        secs=$(echo "$(date +%s.%N) - $start" | bc)
        peak="?"
    fi
    printf '%-34s %7.2f s  %8s KB peak\n' "$name" "$secs" "$peak"
}

echo "$frames frames of 1920 x 1080 (JPEG), $(nproc) cores"
run "zavimage annotate" "$zav" annotate "$work/frames" --out-dir "$work/zav" --format jpg \
    --text "$caption" --at 10,40 --box 200,120,64,48 --resize 1280x720 -q
zav_secs=$secs
# The box: the region grown by a fifth of its width and a third of its height, 3 pixels thick.
mkdir "$work/magick"
run "mogrify (the same job)" mogrify -path "$work/magick" -format jpg -resize '1280x720!' \
    -font "$font" -pointsize 24 -fill red -annotate +10+40 "$caption" \
    -fill none -stroke red -strokewidth 3 -draw 'rectangle 187,104 276,183' -quality 75 \
    "$work/frames/*.jpg"
magick_secs=$secs
echo "zavimage is $(echo "scale=1; $magick_secs / $zav_secs" | bc) x as fast as mogrify"
run "zavimage checks only (-n, all exist)" "$zav" annotate "$work/frames" --out-dir "$work/zav" \
    --format jpg --text "$caption" --at 10,40 --box 200,120,64,48 --resize 1280x720 -q -n
echo "working out the outputs costs $(echo "scale=1; 100 * $secs / $zav_secs" | bc) % of the job" \
    "(process start included)"
