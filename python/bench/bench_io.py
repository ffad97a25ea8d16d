"""Load and save through Python against the same calls from C, on 1920x1080 JPEG and BMP files.

usage: /usr/bin/python3 python/bench/bench_io.py [BUILD_DIR] [--rounds R] [--calls N]

Builds the C side (load_save.c) against BUILD_DIR's library (default build/release), then
alternates C and Python runs of N calls each, R rounds, and prints the median seconds per call of
each side and their ratio (the goal: Python at most 1.1 x C).

Both sides run as fresh processes with the same malloc settings (the heap kept up to 256 MiB,
blocks below 32 MiB from the heap): with glibc's defaults a 6 MB block is given back to the system and faulted
in again on some calls and not on others, depending on what else the process has allocated, which
swamps the cost of the call itself. --default-malloc measures with the defaults instead.
"""

from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def child(op: str, path: str, calls: int) -> int:
    """The Python side: the calls of load_save.c, timed the same way."""
    sys.path.insert(0, os.path.join(ROOT, "python"))
    import zavimage

    image = zavimage.load(path)
    target = path + ".py." + path[-3:]
    for _ in range(calls):
        start = time.perf_counter()
        if op == "load":
            zavimage.load(path).close()
        else:
            image.save(target, quality=2.0)
        print(f"{time.perf_counter() - start:.9f}")
    return 0


def main() -> int:
    if len(sys.argv) == 5 and sys.argv[1] == "--child":
        return child(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "release"))
    p.add_argument("--rounds", type=int, default=6)
    p.add_argument("--calls", type=int, default=30)
    p.add_argument("--default-malloc", action="store_true")
    args = p.parse_args()
    if not args.default_malloc:
        os.environ["GLIBC_TUNABLES"] = ("glibc.malloc.trim_threshold=268435456:"
                                        "glibc.malloc.mmap_threshold=33554432")
    build = os.path.abspath(args.build)
    os.environ.setdefault("ZAVIMAGE_LIBRARY", os.path.join(build, "libzavimage.so.1"))
    sys.path.insert(0, os.path.join(ROOT, "python"))
    with tempfile.TemporaryDirectory(prefix="zav-bench-io-") as work:
        return run(args, build, work)


def run(args: argparse.Namespace, build: str, work: str) -> int:
    import numpy as np

    import zavimage

    helper = os.path.join(work, "load_save")
    subprocess.run(["cc", "-O2", "-std=c11", "-I", os.path.join(ROOT, "include"),
                    os.path.join(HERE, "load_save.c"), "-o", helper, "-L", build, "-lzavimage",
                    f"-Wl,-rpath,{build}"], check=True)

    # A camera-like frame: smooth gradients with a little noise.
    y, x = np.mgrid[0:1080, 0:1920]
    frame = np.stack([x * 255 // 1919, y * 255 // 1079, (x + y) % 256], axis=-1).astype(np.uint8)
    frame ^= np.random.default_rng(0).integers(0, 8, frame.shape, dtype=np.uint8)
    files = {}
    for ext in ("jpg", "bmp"):
        files[ext] = os.path.join(work, f"frame.{ext}")
        zavimage.Image.from_array(frame).save(files[ext])
    # 8x8: what a call costs apart from the work, on either side
    files["8x8 bmp"] = os.path.join(work, "tiny.bmp")
    zavimage.Image.from_array(frame[:8, :8]).save(files["8x8 bmp"])

    def c_side(op: str, path: str) -> list:
        out = subprocess.run([helper, op, path, str(args.calls), path + ".c." + path[-3:]],
                             check=True, capture_output=True, text=True).stdout
        return [float(v) for v in out.split()]

    def py_side(op: str, path: str) -> list:
        # A fresh process, like the C side: both start with the same allocator state.
        out = subprocess.run([sys.executable, __file__, "--child", op, path, str(args.calls)],
                             check=True, capture_output=True, text=True).stdout
        return [float(v) for v in out.split()]

    print(f"library: {zavimage.LIBRARY_PATH}; {args.rounds} rounds of {args.calls} calls, "
          f"median per call; malloc: {os.environ.get('GLIBC_TUNABLES', 'defaults')}")
    print(f"{'':12} {'C median':>12} {'Py median':>12} {'ratio':>6}   {'C min':>10} "
          f"{'Py min':>10} {'ratio':>6}")
    worst = 0.0
    for ext, path in files.items():
        for op in ("load", "save"):
            c, py = [], []
            for _ in range(args.rounds):  # alternated, so that load on the machine hits both
                c += c_side(op, path)
                py += py_side(op, path)
            ratio = statistics.median(py) / statistics.median(c)
            if "8x8" not in ext:
                worst = max(worst, ratio)
            print(f"{op + ' ' + ext:12} {statistics.median(c) * 1e3:9.3f} ms "
                  f"{statistics.median(py) * 1e3:9.3f} ms {ratio:6.3f}   "
                  f"{min(c) * 1e3:7.3f} ms {min(py) * 1e3:7.3f} ms {min(py) / min(c):6.3f}")
    print(f"worst median ratio on 1920x1080 {worst:.3f} (goal: at most 1.1)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
