#!/usr/bin/python3
"""The first caption of a Python process, side by side: our Image.text against Pillow's
ImageDraw.text, the same text in the same font file (face 0) at 24 pixels, white on a 1920x1080
picture. Each figure is taken in a process of its own, started afresh (imports and the picture made
before the clock starts: each side's library is loaded by then); the sides take turns, and the
medians and their ratio are printed. Pillow is given the font as a file (ImageFont.truetype), so is
ours (font=...); its layout engine is its default (Raqm when installed, else its basic one).

Usage: bench/compare_text.py LIBZAVIMAGE [ROUNDS]   (the package is taken from python/ beside this
folder; ROUNDS defaults to 15)
"""
import os
import statistics
import subprocess
import sys

TEXT = "\u89c6\u9891\u76d1\u63a7\u753b\u9762 2024-05-01 12:34:56 Cam-01"
FONT = subprocess.run(["fc-match", "-f", "%{file}", "SimHei:lang=zh-cn"], capture_output=True,
                      text=True).stdout or "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"

OURS = """
import sys, time
import zavimage
im = zavimage.Image.blank(1920, 1080, 3, 40)
t0 = time.perf_counter()
im.text(sys.argv[1], (100, 100), size=24, color="white", font=sys.argv[2])
print((time.perf_counter() - t0) * 1e6)
"""

PILLOW = """
import sys, time
from PIL import Image, ImageDraw, ImageFont
im = Image.new("RGB", (1920, 1080), (40, 40, 40))
t0 = time.perf_counter()
font = ImageFont.truetype(sys.argv[2], 24, index=0)
ImageDraw.Draw(im).text((100, 100), sys.argv[1], font=font, fill=(255, 255, 255))
print((time.perf_counter() - t0) * 1e6)
"""


def first_call(script, env):
    out = subprocess.run([sys.executable, "-c", script, TEXT, FONT], env=env, check=True,
                         capture_output=True, text=True).stdout
    return float(out.strip().splitlines()[-1])


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    library = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    here = os.path.dirname(os.path.abspath(__file__))
    env = dict(os.environ, ZAVIMAGE_LIBRARY=library, PYTHONDONTWRITEBYTECODE="1",
               PYTHONPATH=os.path.join(os.path.dirname(here), "python"))
    from PIL import features
    times = {"ours": [], "pillow": []}
    for r in range(rounds):
        order = ("ours", "pillow") if r % 2 == 0 else ("pillow", "ours")
        for side in order:
            times[side].append(first_call(OURS if side == "ours" else PILLOW, env))
    print(f"first text of a fresh Python process ({rounds} rounds; font {FONT}; Pillow's layout: "
          f"{'raqm' if features.check('raqm') else 'basic'}):")
    for side, label in (("ours", "Image.text"), ("pillow", "Pillow ImageDraw.text")):
        t = times[side]
        print(f"  {label:24s} median {statistics.median(t):8.0f} us   fastest {min(t):8.0f} us")
    # Medians, and the fastest runs (on a busy machine the slower ones measure the neighbours).
    print(f"first Image.text / Pillow ImageDraw.text, median ratio: "
          f"{statistics.median(times['ours']) / statistics.median(times['pillow']):.2f} "
          f"(fastest runs: {min(times['ours']) / min(times['pillow']):.2f})")


if __name__ == "__main__":
    main()
