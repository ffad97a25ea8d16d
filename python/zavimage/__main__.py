"""python3 -m zavimage annotate: the command-line tool's batch job, locally or on a Dask cluster.

Takes the options of ``zavimage annotate`` and prints what it prints: failures and progress on
standard error, the summary on standard output; exit status 0 when every file was written or
skipped, 1 when some failed, 2 for a usage error (nothing was done).
"""

from __future__ import annotations

import argparse
import shutil
import signal
import sys
import threading
from typing import List, NoReturn, Optional, Sequence

from . import batch
from .errors import Error
from .plan import printable

EXAMPLE = """example:
  python3 -m zavimage annotate cam1/ --out-dir marked --format jpg --text "cam 1" \\
      --at 10,40 --box 200,120,64,48 --scheduler tcp://10.0.0.5:8786
"""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        sys.stderr.write(f"zavimage: {message}\nRun 'python3 -m zavimage annotate --help' for "
                         "usage.\n")
        sys.exit(2)


def _ints(text: str, count: int, what: str) -> List[int]:
    parts = text.split(",")
    try:
        values = [int(p) for p in parts]
    except ValueError:
        values = []
    if len(values) != count:
        raise argparse.ArgumentTypeError(f"'{printable(text)}' is not {what}")
    return values


def _point(text: str) -> tuple:
    return tuple(_ints(text, 2, "a position X,Y"))


def _rect(text: str) -> tuple:
    return tuple(_ints(text, 4, "a region X,Y,W,H with W and H at least 1"))


def _color(text: str):
    return int(text) if text.isdigit() else text


def _parser() -> argparse.ArgumentParser:
    p = _Parser(
        prog="python3 -m zavimage annotate",
        description="Loads each picture, then flips, resizes, captions, marks and saves it, in "
        "that order. IN may be a folder: its pictures (by extension) are taken, sorted by name. "
        "Every output name is worked out first: two inputs that would write one output, or an "
        "output that is an input, stop the command before any work (exit 2). A gray or "
        "bilevel picture is saved gray where the format has gray (all but .ppm) unless --color "
        "is given.",
        epilog=EXAMPLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("inputs", nargs="+", metavar="IN", help="pictures or folders of pictures")
    out = p.add_mutually_exclusive_group(required=True)
    out.add_argument("-o", "--output", metavar="OUT", help="output file (one input only)")
    out.add_argument("--out-dir", metavar="DIR", help="output folder (made when missing)")
    p.add_argument("--format", metavar="EXT", help="extension of the files written to --out-dir")
    p.add_argument("-r", "--recursive", action="store_true",
                   help="walk the subfolders of folders (their places are kept in DIR)")
    p.add_argument("--in-place", action="store_true", help="let an output replace its input")
    p.add_argument("-n", "--no-clobber", action="store_true",
                   help="skip outputs that exist (counted in the summary)")
    p.add_argument("--text", help="caption (UTF-8, Chinese included)")
    p.add_argument("--at", type=_point, metavar="X,Y",
                   help="caption start: left edge X, bottom row Y (default 10,40)")
    p.add_argument("--size", type=float, metavar="PX",
                   help="caption font size in pixels, 1 to 4096 (default 24)")
    p.add_argument("--space", type=float, metavar="RATIO",
                   help="gap between characters as a fraction of the size, 0 to 10 (default 0.1)")
    p.add_argument("--text-color", metavar="COLOR",
                   help="black, white, red, green, blue, yellow, cyan, magenta, gray, orange or "
                   "#RRGGBB (--classic: blue, green or red; default red)")
    p.add_argument("--opacity", metavar="A", help="caption opacity, 0 to 1 or 0%% to 100%%")
    p.add_argument("--outline", metavar="W[,COLOR]", help="outline of W pixels (default black)")
    p.add_argument("--background", metavar="COLOR[,A]", help="a box behind the caption")
    p.add_argument("--font", metavar="FONT", help="a font file or a fontconfig pattern")
    p.add_argument("--anchor", metavar="WHERE",
                   help="the caption on the picture: top-left, top, top-right, left, center, "
                   "right, bottom-left, bottom, bottom-right (--at then moves it inward)")
    p.add_argument("--classic", action="store_true",
                   help="the component's own caption (the bottom of the glyphs on row Y)")
    p.add_argument("--box", type=_rect, action="append", default=[], metavar="X,Y,W,H",
                   help="mark a found region (repeatable); drawn grown around it")
    p.add_argument("--box-color", type=_color, default="red", metavar="COLOR",
                   help="red, green, blue, yellow, white, black or a code 0 to 6 (default red)")
    p.add_argument("--resize", metavar="SIZE",
                   help="scale before captioning (nearest neighbour): WxH, Wx, xH or P%%")
    p.add_argument("--flip", action="store_true", help="turn the picture upside down first")
    p.add_argument("--color", action="store_true", help="save gray pictures in colour")
    p.add_argument("--quality", type=float, metavar="Q",
                   help="JPEG quality 0 to 10: the standard tables divided by Q (default 2)")
    p.add_argument("--jpeg-quality", type=int, metavar="P",
                   help="JPEG quality as a percentage, 1 to 95 or 100 (75 = --quality 2)")
    p.add_argument("-j", "--jobs", type=int, metavar="N",
                   help="local threads, 1 to 256 (default: one per core)")
    p.add_argument("-q", "--quiet", action="store_true", help="print only failures")
    p.add_argument("-v", "--verbose", action="store_true", help="one line per file written")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="run on a Dask cluster, e.g. tcp://HOST:8786 (files on shared storage)")
    p.add_argument("--chunk", type=int, metavar="N", help="files per cluster task")
    p.add_argument("--keep-worker-malloc", action="store_true",
                   help="leave the workers' malloc settings as Dask made them (slower: see "
                   "zavimage.batch.tune_worker_malloc)")
    return p


class _Progress:
    """As the tool shows progress on standard error: failures always, a bar on a terminal,
    one line per file written with --verbose."""

    def __init__(self, total: int, quiet: bool, verbose: bool) -> None:
        self.total = total
        self.done = 0
        self.failed = 0
        self.verbose = verbose
        self.bar = not quiet and sys.stderr.isatty()
        self.lock = threading.Lock()

    def __call__(self, r: batch.FileResult) -> None:
        with self.lock:
            self.done += 1
            err = sys.stderr
            line = ""
            if not r.ok:
                self.failed += 1
                line = f"zavimage: {r.describe()}"
            elif self.verbose:
                line = (f"[{self.done}/{self.total}] {printable(r.input)} -> "
                        f"{printable(r.output)}")
            if self.bar:
                err.write("\r\033[K")
            if line:
                err.write(line + "\n")
            if self.bar:
                width = max(shutil.get_terminal_size().columns - 1, 1)
                counts = f" {self.done}/{self.total}" + (f", {self.failed} failed"
                                                        if self.failed else "")
                filled = self.done * 28 // self.total if self.total else 28
                err.write((f"[{'#' * filled}{'.' * (28 - filled)}]{counts}")[:width])
            err.flush()

    def end(self) -> None:
        if self.bar:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()


def annotate(argv: Sequence[str]) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    caption = {"at": args.at, "size": args.size, "space": args.space,
               "text_color": args.text_color, "opacity": args.opacity, "font": args.font,
               "anchor": args.anchor, "classic": True if args.classic else None,
               "outline": None if args.outline is None else tuple(args.outline.split(",", 1)),
               "background": None if args.background is None else (
                   tuple(args.background.split(",", 1)) if "," in args.background
                   else args.background)}
    if args.text is None and any(v is not None for v in caption.values()):
        parser.error("caption options need --text")
    if args.jobs is not None and not 1 <= args.jobs <= 256:
        parser.error(f"--jobs: '{args.jobs}' is not a whole number from 1 to 256")
    inputs: List[object] = list(args.inputs)
    to_stdout = args.output == "-"
    if inputs.count("-") > 1:
        parser.error("standard input (-) can be read once")
    if "-" in inputs:
        if args.output is None:
            parser.error("a picture from standard input (-) needs one output: -o OUT")
        if sys.stdin.isatty():
            parser.error("standard input (-) is a terminal: pipe a picture in")
    if to_stdout and args.format and sys.stdout.isatty():
        parser.error("standard output (-) is a terminal: redirect it to a file or a pipe")
    try:
        steps = batch.Steps.checked(
            flip=args.flip, resize=args.resize, text=args.text, **caption,
            box=args.box or None, box_color=args.box_color, quality=args.quality,
            jpeg_quality=args.jpeg_quality, color=args.color)
        if "-" in inputs:  # read once the values are known to be good
            inputs[inputs.index("-")] = ("-", sys.stdin.buffer.read())
        plan = batch.make_plan(inputs, args.out_dir, output=args.output, format=args.format,
                               recursive=args.recursive, in_place=args.in_place,
                               no_clobber=args.no_clobber)
    except batch.UsageError as e:
        parser.error(str(e))
    for f in plan.failures:
        sys.stderr.write(f"zavimage: {printable(f.name)}: {f.reason}\n")
    client = None
    if args.scheduler and plan.jobs and not to_stdout:
        from distributed import Client

        client = Client(args.scheduler)
    progress = _Progress(len(plan.jobs), args.quiet or to_stdout, args.verbose and not to_stdout)
    stop = threading.Event()
    caught: List[int] = []

    def on_signal(signum: int, frame: object) -> None:
        if not caught and not args.quiet:
            sys.stderr.write(f"\nzavimage: {signal.Signals(signum).name}: no new files are "
                             "started; finishing the files in progress\n")
        caught.append(signum)
        stop.set()

    for signum in (signal.SIGINT, signal.SIGTERM):
        signal.signal(signum, on_signal)
    try:
        summary = batch.run(plan, steps, client=client, workers=args.jobs, chunk_size=args.chunk,
                            progress=progress, tune_malloc=not args.keep_worker_malloc,
                            stop=stop)
    except OSError as e:
        sys.stderr.write(f"zavimage: {printable(e.filename or '')}: cannot make the folder: "
                         f"{e.strerror}\n")
        return 1
    finally:
        progress.end()
        if client is not None:
            client.close()
    if caught:
        summary.stopped_by = signal.Signals(caught[0]).name
    if to_stdout:  # standard output holds the picture: failures went to standard error
        if caught:
            sys.stderr.write(f"zavimage: stopped by {summary.stopped_by}\n")
    elif not args.quiet or summary.failed:
        sys.stdout.write(summary.report())
    return 128 + caught[0] if caught else summary.exit_status


def main(argv: Optional[Sequence[str]] = None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    if not argv or argv[0] in ("-h", "--help"):
        print("usage: python3 -m zavimage annotate IN... (-o OUT | --out-dir DIR) [options]\n"
              "Run 'python3 -m zavimage annotate --help' for the options.")
        return 0 if argv else 2
    if argv[0] != "annotate":
        sys.stderr.write(f"zavimage: unknown command '{printable(argv[0])}' (only 'annotate')\n")
        return 2
    try:
        return annotate(argv[1:])
    except Error as e:
        sys.stderr.write(f"zavimage: {e}\n")
        return 1


if __name__ == "__main__":
    sys.exit(main())
