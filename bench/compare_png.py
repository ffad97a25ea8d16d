#!/usr/bin/python3
"""PNG writing of three kinds of 1920x1080 picture (a camera photo with sensor noise, a smooth
synthetic picture, screen graphics with flat areas and text) by commands in fresh processes, each
at its default settings: ImageMagick's convert, our zavimage convert; the cost of the PNG is the
command's CPU time less the same command writing BMP (raw rows, for both: reading and starting up
cancel out). Beside
them, in this process, Pillow's save and OpenCV's imwrite at their defaults. CPU seconds (best of
five) and bytes.

Usage: bench/compare_png.py ZAVIMAGE
"""
import io
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import cv2
import numpy as np
from PIL import Image


def pictures():
    rng = np.random.default_rng(7)
    h, w = 1080, 1920
    y, x = np.mgrid[0:h, 0:w].astype(np.float32)
    photo = np.dstack([60 + x * 120 / w, 90 + y * 100 / h, 140 - y * 60 / h]).astype(np.uint8)
    for _ in range(60):
        centre = (int(rng.integers(0, w)), int(rng.integers(0, h)))
        colour = tuple(int(c) for c in rng.integers(0, 255, 3))
        cv2.circle(photo, centre, int(rng.integers(20, 200)), colour, -1, cv2.LINE_AA)
    photo = cv2.GaussianBlur(photo, (0, 0), 3.0)
    photo = np.clip(photo + rng.normal(0, 3, photo.shape), 0, 255).astype(np.uint8)
    d = (x - 900) ** 2 + (y - 500) ** 2
    smooth = np.dstack([x * 255 / w, y * 255 / h, 255 - (d.astype(np.int64) >> 12) % 256])
    smooth = cv2.GaussianBlur(smooth.astype(np.uint8), (0, 0), 1.5)
    screen = np.full((h, w, 3), (48, 40, 32), np.uint8)
    for panel in range(6):
        x0, y0 = 40 + (panel % 3) * 620, 80 + (panel // 3) * 480
        cv2.rectangle(screen, (x0, y0), (x0 + 580, y0 + 440), (20 + panel * 20, 60, 90), -1)
        cv2.rectangle(screen, (x0, y0), (x0 + 580, y0 + 440), (200, 200, 200), 2)
        for line in range(12):
            cv2.putText(screen, f"CAM {panel} 2024-05-01 12:34:{10 + line} motion {line * 37}",
                        (x0 + 12, y0 + 30 + line * 34), cv2.FONT_HERSHEY_SIMPLEX, 0.7,
                        (255, 255, 255), 1, cv2.LINE_AA)
    return {"photo": photo, "smooth": smooth, "screen": screen}


def command_cpu(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def best(f, runs=5):
    return min(f() for _ in range(runs))


def in_process(f):
    start = time.process_time()
    f()
    return time.process_time() - start


def main():
    zav = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="zavpng.")
    try:
        print("PNG writing, 1920x1080 RGB, defaults: CPU ms (best of five), bytes")
        for kind, bgr in pictures().items():
            ppm = os.path.join(work, f"{kind}.ppm")
            cv2.imwrite(ppm, bgr)
            rows = {}
            for name, tool in (("imagemagick", ["convert", ppm]), ("zavimage", [zav, "convert",
                                                                                   ppm])):
                png = os.path.join(work, f"{kind}-{name}.png")
                base = best(lambda: command_cpu(tool + [os.path.join(work, "same.bmp")]))
                with_png = best(lambda: command_cpu(tool + [png]))
                rows[name] = (max(with_png - base, 0.0), os.path.getsize(png))
            buffer = io.BytesIO()
            rgb = Image.fromarray(bgr[:, :, ::-1])

            def pillow():
                buffer.seek(0)
                buffer.truncate()
                rgb.save(buffer, "PNG")

            rows["pillow"] = (best(lambda: in_process(pillow)), len(buffer.getvalue()))
            encoded = []
            rows["opencv"] = (best(lambda: in_process(lambda: encoded.append(
                cv2.imencode(".png", bgr)[1]))), len(encoded[-1]))
            ours = rows["zavimage"]
            for name, (cpu, size) in rows.items():
                ratio = f"   ours/this time {ours[0] / cpu:5.2f} size {ours[1] / size:5.3f}" \
                    if name != "zavimage" and cpu > 0 else ""
                print(f"  {kind:7s} {name:12s} {cpu * 1000:8.1f} ms {size:10d} bytes{ratio}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
