"""python3 -m zavimage annotate: the command-line tool's batch job, locally or on a Dask cluster.

Prints what ``zavimage annotate`` prints: progress on standard error, the summary on standard
output; exit status 0 when every file succeeded, 1 when some failed, 2 for a usage error.
"""

from __future__ import annotations

import argparse
import os
import sys
import threading
from typing import List, NoReturn, Optional, Sequence

from . import batch
from .errors import Error
from .image import BOX_COLORS, TEXT_COLORS

EXAMPLE = """example:
  python3 -m zavimage annotate cam1/ --out-dir marked --format jpg --text "cam 1" \\
      --at 10,40 --box 200,120,64,48 --scheduler tcp://10.0.0.5:8786
"""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        sys.stderr.write(f"zavimage: {message}\nRun 'python3 -m zavimage annotate --help' for "
                         "usage.\n")
        sys.exit(2)


def _ints(text: str, sep: str, count: int, what: str) -> List[int]:
    parts = text.split(sep)
    try:
        values = [int(p) for p in parts]
    except ValueError:
        values = []
    if len(values) != count:
        raise argparse.ArgumentTypeError(f"'{text}' is not {what}")
    return values


def _point(text: str) -> tuple:
    return tuple(_ints(text, ",", 2, "a position X,Y"))


def _rect(text: str) -> tuple:
    return tuple(_ints(text, ",", 4, "a rectangle X,Y,W,H"))


def _size(text: str) -> tuple:
    w, h = _ints(text, "x", 2, "a size WxH of at least 1x1")
    if w < 1 or h < 1:
        raise argparse.ArgumentTypeError(f"'{text}' is not a size WxH of at least 1x1")
    return (w, h)


def _color(table: dict):
    def parse(text: str):
        if text in table:
            return text
        try:
            return int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(
                f"'{text}' is not one of {', '.join(table)} or a code") from None

    return parse


def _parser() -> argparse.ArgumentParser:
    p = _Parser(
        prog="python3 -m zavimage annotate",
        description="Loads each picture, then flips, resizes, captions, marks and saves it, in "
        "that order. IN may be a folder: its pictures (by extension) are taken, sorted by name.",
        epilog=EXAMPLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("inputs", nargs="+", metavar="IN", help="pictures or folders of pictures")
    out = p.add_mutually_exclusive_group(required=True)
    out.add_argument("-o", "--output", metavar="OUT", help="output file (one input only)")
    out.add_argument("--out-dir", metavar="DIR", help="output folder (created when missing)")
    p.add_argument("--format", metavar="EXT", help="extension of the files written to --out-dir")
    p.add_argument("--text", help="caption (UTF-8, Chinese included)")
    p.add_argument("--at", type=_point, default=(10, 40), metavar="X,Y",
                   help="caption start: left edge X, bottom row Y (default 10,40)")
    p.add_argument("--size", type=float, default=24.0, metavar="PX",
                   help="caption font size in pixels (default 24)")
    p.add_argument("--space", type=float, default=0.1, metavar="RATIO",
                   help="gap between characters as a fraction of the size (default 0.1)")
    p.add_argument("--text-color", type=_color(TEXT_COLORS), default="red", metavar="COLOR",
                   help="blue, green or red (default red)")
    p.add_argument("--box", type=_rect, action="append", default=[], metavar="X,Y,W,H",
                   help="mark a found region (repeatable); drawn grown around it")
    p.add_argument("--box-color", type=_color(BOX_COLORS), default="red", metavar="COLOR",
                   help="red, green, blue, yellow, white, black or a code (default red)")
    p.add_argument("--resize", type=_size, metavar="WxH",
                   help="scale to this size (nearest neighbour) before captioning")
    p.add_argument("--flip", action="store_true", help="turn the picture upside down first")
    p.add_argument("--quality", type=float, default=2.0, metavar="Q",
                   help="JPEG quality: 1 = standard tables, 2 = half the steps (default 2)")
    p.add_argument("-j", "--jobs", type=int, metavar="N", help="local threads (default: cores)")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="run on a Dask cluster, e.g. tcp://HOST:8786 (files on shared storage)")
    p.add_argument("--chunk", type=int, metavar="N", help="files per cluster task")
    p.add_argument("--keep-worker-malloc", action="store_true",
                   help="leave the workers' malloc settings as Dask made them (slower: see "
                   "zavimage.batch.tune_worker_malloc)")
    return p


class _Progress:
    """Progress lines (or a bar on a terminal) on standard error, as the tool shows them."""

    def __init__(self, total: int) -> None:
        self.total = total
        self.done = 0
        self.failed = 0
        self.terminal = sys.stderr.isatty()
        self.lock = threading.Lock()

    def __call__(self, r: batch.FileResult) -> None:
        with self.lock:
            self.done += 1
            self.failed += 0 if r.ok else 1
            err = sys.stderr
            if self.terminal:
                if not r.ok:
                    err.write(f"\r\033[Kzavimage: {r.describe()}\n")
                filled = self.done * 30 // self.total if self.total else 30
                bar = ("#" * filled).ljust(30, ".")
                shown = r.input if len(r.input) <= 40 else "..." + r.input[-37:]
                extra = f", {self.failed} failed" if self.failed else ""
                err.write(f"\r\033[K[{bar}] {self.done}/{self.total}{extra}  {shown}")
            elif r.ok:
                err.write(f"[{self.done}/{self.total}] ok {r.input} -> {r.output}\n")
            else:
                err.write(f"[{self.done}/{self.total}] FAILED {r.describe()}\n")
            err.flush()

    def end(self) -> None:
        if self.terminal:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()


def annotate(argv: Sequence[str]) -> int:
    args = _parser().parse_args(argv)
    caption_options = {"--at", "--size", "--space", "--text-color"}
    if not args.text and any(a.split("=")[0] in caption_options for a in argv):
        _parser().error("caption options need --text")
    if args.jobs is not None and args.jobs < 1:
        _parser().error("--jobs must be at least 1")
    steps = batch.Steps(flip=args.flip, resize=args.resize, text=args.text, at=args.at,
                        size=args.size, space=args.space, text_color=args.text_color,
                        boxes=tuple(args.box), box_color=args.box_color, quality=args.quality)
    fmt = args.format[1:] if args.format and args.format.startswith(".") else args.format
    if args.output is not None:
        files = batch._expand(args.inputs)
        if len(files) != 1 or len(args.inputs) != 1:
            _parser().error("-o takes one input; use --out-dir for many")
        result = batch.process(files[0][1], args.output, steps, files[0][0])
        if not result.ok:
            sys.stderr.write(f"zavimage: {result.describe()}\n")
        return 0 if result.ok else 1
    try:
        jobs = batch.plan(args.inputs, args.out_dir, fmt)
    except (batch.OutputClashError, ValueError) as e:
        _parser().error(str(e))
    if not jobs:
        _parser().error("no pictures found in the given folders")
    try:
        os.makedirs(args.out_dir, exist_ok=True)
    except OSError as e:
        sys.stderr.write(f"zavimage: {args.out_dir}: cannot create the folder: {e.strerror}\n")
        return 1
    client = None
    if args.scheduler:
        from distributed import Client

        client = Client(args.scheduler)
    single = len(jobs) == 1
    progress = None if single else _Progress(len(jobs))
    try:
        summary = batch.run(jobs, steps, client=client, workers=args.jobs, chunk_size=args.chunk,
                            progress=progress, tune_malloc=not args.keep_worker_malloc)
    finally:
        if progress is not None:
            progress.end()
        if client is not None:
            client.close()
    if single:  # one picture: no summary, as the tool does
        if summary.failed:
            sys.stderr.write(f"zavimage: {summary.results[0].describe()}\n")
        return summary.exit_status
    sys.stdout.write(summary.report())
    return summary.exit_status


def main(argv: Optional[Sequence[str]] = None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    if not argv or argv[0] in ("-h", "--help"):
        print("usage: python3 -m zavimage annotate IN... (-o OUT | --out-dir DIR) [options]\n"
              "Run 'python3 -m zavimage annotate --help' for the options.")
        return 0 if argv else 2
    if argv[0] != "annotate":
        sys.stderr.write(f"zavimage: unknown command '{argv[0]}' (only 'annotate')\n")
        return 2
    try:
        return annotate(argv[1:])
    except Error as e:
        sys.stderr.write(f"zavimage: {e}\n")
        return 1


if __name__ == "__main__":
    sys.exit(main())
