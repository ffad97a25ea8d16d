#!/usr/bin/python3
"""Crafted PNG files of under 10 MB against the reader's bounds: each is loaded by `zavimage info
--verify` (a sanitizer build's tool, for instance) under AddressSanitizer's allocation limit, and
its time, peak memory and result are printed.

    ASAN_OPTIONS=allocator_may_return_null=0:max_allocation_size_mb=1100 \\
        bench/png_limits.py build/sanitize/tools/zavimage

The files: a header far wider than its stream can fill (77 bytes), zlib bombs of 18900 x 18900
whose stream is whole (gray, RGB, RGBA: the RGBA one inflates to 1.43 GB) or cut short, an RGB
picture of that size whose every row differs from the one above, 16-bit
RGBA interlaced, and 200,000 text chunks. A file must not reach the allocation limit (the tool
would die), and each should take at most two seconds.
"""

import os
import struct
import subprocess
import sys
import tempfile
import time
import zlib


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, color, depth, stream, interlaced=0, extra=b""):
    head = struct.pack(">IIBBBBB", width, height, depth, color, 0, 0, interlaced)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + extra + chunk(b"IDAT", stream) +
            chunk(b"IEND", b""))


def zeros_stream(total, level=9):
    """A zlib stream of `total` zero bytes, compressed piece by piece (no 1 GB buffer)."""
    z = zlib.compressobj(level)
    piece = b"\0" * (16 << 20)
    out = []
    while total > 0:
        n = min(total, len(piece))
        out.append(z.compress(piece[:n]))
        total -= n
    out.append(z.flush())
    return b"".join(out)


def adam7_bytes(width, height, bytes_per_pixel):
    x0, dx, y0, dy = (0, 4, 0, 2, 0, 1, 0), (8, 8, 4, 4, 2, 2, 1), (0, 0, 4, 0, 2, 0, 1), \
        (8, 8, 8, 4, 4, 2, 2)
    total = 0
    for p in range(7):
        w = (width - x0[p] + dx[p] - 1) // dx[p] if width > x0[p] else 0
        h = (height - y0[p] + dy[p] - 1) // dy[p] if height > y0[p] else 0
        total += h * (w * bytes_per_pixel + 1) if w else 0
    return total


def row_patterns_stream(side):
    """RGB rows each repeating a pixel of its own (no row equals the one above), unfiltered."""
    z = zlib.compressobj(6)
    out = []
    for y in range(side):
        pixel = bytes(((y * 7) & 255, (y * 13 + 1) & 255, (y * 29 + 2) & 255))
        out.append(z.compress(b"\0" + pixel * side))
    out.append(z.flush())
    return b"".join(out)


def files():
    side = 18900
    yield "wide 357913941 x 1, 77 bytes", png(357913941, 1, 2, 8, zlib.compress(b"\0" * 1000))
    yield "bomb 18900^2 gray, whole", png(side, side, 0, 8, zeros_stream(side * (side + 1)))
    yield "bomb 18900^2 RGB, whole", png(side, side, 2, 8, zeros_stream(side * (3 * side + 1)))
    yield "bomb 18900^2 RGBA, whole", png(side, side, 6, 8, zeros_stream(side * (4 * side + 1)))
    yield "18900^2 RGB, rows differ", png(side, side, 2, 8, row_patterns_stream(side))
    yield "bomb 18900^2 gray, cut", png(side, side, 0, 8, zeros_stream(2_000_000))
    yield "RGBA16 interlaced 8000^2", png(8000, 8000, 6, 16, zeros_stream(adam7_bytes(8000, 8000, 8)),
                                          1)
    texts = b"".join(chunk(b"tEXt", b"k\0v") for _ in range(200000))
    yield "200,000 text chunks", png(4, 4, 0, 8, zlib.compress(b"\0" * 20), extra=texts)


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else "zavimage"
    worst = 0.0
    with tempfile.TemporaryDirectory() as folder:
        for name, data in files():
            assert len(data) < 10 << 20, name
            path = os.path.join(folder, "crafted.png")
            with open(path, "wb") as f:
                f.write(data)
            start = time.monotonic()
            done = subprocess.run(["/usr/bin/time", "-f", "%M", tool, "info", "--verify", path],
                                  capture_output=True, text=True)
            took = time.monotonic() - start
            lines = done.stderr.strip().splitlines()
            peak = int(lines.pop()) / 1024 if lines and lines[-1].isdigit() else float("nan")
            worst = max(worst, took)
            said = (done.stdout.strip().splitlines() + lines)
            print(f"{name:32} {len(data) / 1e6:7.3f} MB  {took:6.2f} s  peak {peak:7.0f} MB  "
                  f"exit {done.returncode}: {said[-1][-60:] if said else ''}")
    print(f"slowest: {worst:.2f} s")


if __name__ == "__main__":
    main()
