#!/bin/sh
# Configures and builds the benchmarks (in build/release, next to the test script's plain build),
# then runs every one (ours against OpenCV, in one run; extra arguments go to each one), and the
# tool's annotate job against ImageMagick's mogrify, and the Python comparisons with Pillow and
# OpenCV (bench/compare_*.py, on Debian's interpreter, which has them).
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAV_BUILD_BENCH=ON >/dev/null
# Only the benchmarks and what they link: the tests and the COM server are not needed here.
benchmarks=$(cmake --build build/release --target help | grep -o 'bench_[a-z0-9_]*' | sort -u)
# shellcheck disable=SC2086
cmake --build build/release -j"$(nproc)" --target $benchmarks zavimage_cli
for name in $benchmarks; do
    echo "== $name"
    build/release/bench/"$name" "$@"
done
# The tool's batch job against ImageMagick's mogrify (about two minutes, mostly mogrify's).
echo "== tool_annotate"
sh bench/tool_annotate.sh build/release/tools/zavimage
# The main job against pools of Pillow and OpenCV processes, and PNG writing against ImageMagick,
# Pillow and OpenCV at their defaults.
echo "== compare_job"
/usr/bin/python3 bench/compare_job.py build/release/tools/zavimage "${ZAV_BENCH_FRAMES:-100}"
echo "== compare_png"
/usr/bin/python3 bench/compare_png.py build/release/tools/zavimage
# The first caption of a fresh Python process against Pillow's, the same font file.
echo "== compare_text"
/usr/bin/python3 bench/compare_text.py build/release/libzavimage.so
