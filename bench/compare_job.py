#!/usr/bin/python3
"""The main job side by side: camera-like JPEGs shrunk with an area (box) filter, a caption and a
box, saved as JPEG at libjpeg's quality 75 on every side (our default, --quality 2), by

  ours     zavimage annotate --jobs 2 (one process, two threads)
  pillow   a pool of two processes: Image.open, resize(BOX), ImageDraw text and rectangle, save(75)
  opencv   a pool of two processes: imread, resize(INTER_AREA), putText, rectangle, imwrite(75)

on 1920x1080 frames to 1280x720 (no reduced decode: 720p is more than half) and on 3840x2160
frames to 960x540 (ours decodes at 1/4; Pillow is also shown with Image.draft, its own reduced
decode; OpenCV with IMREAD_REDUCED_COLOR_4). Each side runs in fresh processes; the figure is the
CPU time of all its processes (user + system), and the output bytes. The best of two runs each.

Usage: bench/compare_job.py ZAVIMAGE [FRAMES]   (FRAMES defaults to 100 of each size)
"""
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

CAPTION = "cam 1 2024-05-01 12:34:56"
FONT = subprocess.run(["fc-match", "-f", "%{file}", "DejaVu Sans"], capture_output=True,
                      text=True).stdout or "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
BOX = (200, 120, 64, 48)


def camera_frame(path, width, height, seed):
    """A camera-like frame: soft shapes and gradients with sensor noise, at JPEG quality 90."""
    import cv2
    import numpy as np
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width].astype(np.float32)
    frame = np.dstack([60 + x * 120 / width, 90 + y * 100 / height, 140 - y * 60 / height])
    frame = frame.astype(np.uint8)
    for _ in range(60):
        centre = (int(rng.integers(0, width)), int(rng.integers(0, height)))
        colour = tuple(int(c) for c in rng.integers(0, 255, 3))
        cv2.circle(frame, centre, int(rng.integers(10, height // 6)), colour, -1, cv2.LINE_AA)
    frame = cv2.GaussianBlur(frame, (0, 0), 1.2)
    noise = rng.normal(0, 3, frame.shape)
    frame = np.clip(frame + noise, 0, 255).astype(np.uint8)
    cv2.imwrite(path, frame, [cv2.IMWRITE_JPEG_QUALITY, 90])


def pillow_one(job):
    from PIL import Image, ImageDraw, ImageFont
    src, dst, size, draft = job
    with Image.open(src) as im:
        full = im.size
        if draft:
            im.draft("RGB", size)  # libjpeg's reduced decode, the smallest that covers size
        out = im.convert("RGB").resize(size, Image.BOX)
    d = ImageDraw.Draw(out)
    d.text((10, 10), CAPTION, font=ImageFont.truetype(FONT, 24), fill=(255, 255, 255))
    x, y, w, h = BOX
    sx, sy = size[0] / full[0], size[1] / full[1]
    d.rectangle([x * sx, y * sy, (x + w) * sx, (y + h) * sy], outline=(255, 0, 0), width=2)
    out.save(dst, quality=75)


def opencv_one(job):
    import cv2
    src, dst, size, draft = job
    cv2.setNumThreads(1)
    im = cv2.imread(src, cv2.IMREAD_REDUCED_COLOR_4 if draft else cv2.IMREAD_COLOR)
    scale_x = size[0] / (im.shape[1] * (4 if draft else 1))
    scale_y = size[1] / (im.shape[0] * (4 if draft else 1))
    out = cv2.resize(im, size, interpolation=cv2.INTER_AREA)
    cv2.putText(out, CAPTION, (10, 34), cv2.FONT_HERSHEY_SIMPLEX, 0.8, (255, 255, 255), 1,
                cv2.LINE_AA)
    x, y, w, h = BOX
    cv2.rectangle(out, (int(x * scale_x), int(y * scale_y)),
                  (int((x + w) * scale_x), int((y + h) * scale_y)), (0, 0, 255), 2)
    cv2.imwrite(dst, out, [cv2.IMWRITE_JPEG_QUALITY, 75])


def pool_worker(args):
    """Runs in a fresh interpreter: a two-process pool over the frames."""
    kind, frames, out_dir, width, height, draft = args
    import multiprocessing
    work = pillow_one if kind == "pillow" else opencv_one
    jobs = [(f, os.path.join(out_dir, os.path.basename(f)), (width, height), draft)
            for f in frames]
    with multiprocessing.get_context("fork").Pool(2) as pool:
        pool.map(work, jobs, chunksize=4)


def cpu_of(command):
    """CPU seconds (user + system) of a command and its children, and its wall seconds."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), wall


def folder_bytes(folder):
    return sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder))


def main():
    if len(sys.argv) >= 2 and sys.argv[1] == "--pool":
        kind, out_dir, width, height, draft = sys.argv[2:7]
        pool_worker((kind, sys.argv[7:], out_dir, int(width), int(height), draft == "1"))
        return
    zav = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    work = tempfile.mkdtemp(prefix="zavjob.")
    try:
        for width, height, to in ((1920, 1080, (1280, 720)), (3840, 2160, (960, 540))):
            frames_dir = os.path.join(work, f"in{width}")
            os.mkdir(frames_dir)
            for i in range(4):
                camera_frame(os.path.join(frames_dir, f"f{i:04d}.jpg"), width, height, i)
            for i in range(4, count):
                shutil.copy(os.path.join(frames_dir, f"f{i % 4:04d}.jpg"),
                            os.path.join(frames_dir, f"f{i:04d}.jpg"))
            frames = sorted(os.path.join(frames_dir, n) for n in os.listdir(frames_dir))
            sides = {
                "ours": lambda out: [zav, "annotate", frames_dir, "--out-dir", out, "--format",
                                     "jpg", "--resize", f"{to[0]}x{to[1]}", "--text", CAPTION,
                                     "--font", FONT, "--anchor", "top-left", "--box",
                                     ",".join(map(str, BOX)), "--jobs", "2", "--quiet"],
                "pillow": lambda out: [sys.executable, __file__, "--pool", "pillow", out,
                                       str(to[0]), str(to[1]), "0"] + frames,
                "opencv": lambda out: [sys.executable, __file__, "--pool", "opencv", out,
                                       str(to[0]), str(to[1]), "0"] + frames,
            }
            if width > 2 * to[0]:
                sides["pillow-draft"] = lambda out: [sys.executable, __file__, "--pool", "pillow",
                                                     out, str(to[0]), str(to[1]), "1"] + frames
                sides["opencv-reduced"] = lambda out: [sys.executable, __file__, "--pool",
                                                       "opencv", out, str(to[0]), str(to[1]),
                                                       "1"] + frames
            results = {}
            for run in range(2):
                for name, command in sides.items():
                    out = os.path.join(work, f"out-{name}-{width}-{run}")
                    os.mkdir(out)
                    cpu, wall = cpu_of(command(out))
                    best = results.get(name)
                    if best is None or cpu < best[0]:
                        results[name] = (cpu, wall, folder_bytes(out))
                    shutil.rmtree(out)
            print(f"\n{count} frames {width}x{height} -> {to[0]}x{to[1]}, JPEG 75, two at a time "
                  "(best of two runs)")
            ours = results["ours"][0]
            for name, (cpu, wall, size) in results.items():
                print(f"  {name:15s} CPU {cpu:7.2f} s  wall {wall:6.2f} s  {size / count / 1024:7.1f}"
                      f" KiB a frame   ours/this CPU {ours / cpu:5.2f}")
            shutil.rmtree(frames_dir)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
