"""python3 -m zavimage annotate: the command-line tool's batch job, locally or on a Dask cluster.

Takes the options of ``zavimage annotate`` (they become the same job document, which the library
checks, plans and works on) and prints what it prints: failures and progress on standard error,
the summary on standard output; exit status 0 when every file was written or skipped, 1 when some
failed, 2 for a usage error (nothing was done), 128 + the signal when SIGINT or SIGTERM stopped it.
"""

from __future__ import annotations

import ctypes
import os
import shutil
import signal
import sys
import threading
from typing import Any, Dict, List, Optional, Sequence

from . import _job, batch
from ._lib import lib, printable
from .errors import Error, UsageError

USAGE = "usage: python3 -m zavimage annotate IN... (-o OUT | --out-dir DIR) [options]"
HELP = USAGE + """

Loads each picture, then flips, resizes, captions, marks and saves it, in that order, as
`zavimage annotate` does with the same options (see `zavimage annotate --help` and
`man zavimage`): -o/--output, --out-dir, --format, -r/--recursive, --in-place, -n/--no-clobber,
--text (again for a further caption), --at, --anchor, --size, --space, --text-color, --opacity,
--outline, --background, --font, --classic, --box, --boxes, --min-score, --box-color,
--box-style, --box-width, --label, --no-label, --resize, --resize-filter, --auto-orient, --name,
--flip, --color, --quality, --jpeg-quality, -j/--jobs, -q/--quiet, -v/--verbose, --print-job.

cluster options:
  --scheduler ADDRESS    run on a Dask cluster, e.g. tcp://HOST:8786 (files on shared storage;
                         see the README on keeping a scheduler private), or "local" (or
                         local:N): N worker processes on this machine, on 127.0.0.1 alone
  --chunk N              files per cluster task
  --keep-worker-malloc   leave the workers' malloc settings as Dask made them (slower: see
                         zavimage.batch.tune_worker_malloc)

example:
  python3 -m zavimage annotate cam1/ --out-dir marked --format jpg --text "cam 1" \\
      --at 10,40 --box 200,120,64,48 --scheduler tcp://10.0.0.5:8786
"""

# Options whose value is a field of the job, of the current caption; flags of the job.
_JOB_VALUES = {"--resize": "resize", "--box-color": "box_color", "--quality": "quality",
               "--jpeg-quality": "jpeg_quality", "--format": "format",
               "--min-score": "min_score", "--box-style": "box_style",
               "--box-width": "box_width", "--resize-filter": "resize_filter", "--name": "name"}
_CAPTION_VALUES = {"--at": "at", "--size": "size", "--space": "space",
                   "--text-color": "text_color", "--opacity": "opacity", "--outline": "outline",
                   "--background": "background", "--font": "font", "--anchor": "anchor"}
_FLAGS = {"--flip": "flip", "--color": "color", "--in-place": "in_place",
          "--no-clobber": "no_clobber", "-n": "no_clobber", "--recursive": "recursive",
          "-r": "recursive", "--auto-orient": "auto_orient", "--label": "label"}


class _Usage(Exception):
    """A mistake on the command line."""


class _Options:
    def __init__(self) -> None:
        self.job: Dict[str, Any] = {"version": 1, "inputs": []}
        self.quiet = False
        self.verbose = False
        self.jobs: Optional[int] = None
        self.scheduler: Optional[str] = None
        self.chunk: Optional[int] = None
        self.keep_malloc = False
        self.print_job = False

    def caption(self) -> Dict[str, Any]:
        captions = self.job.setdefault("captions", [{}])
        return captions[-1]


def _parse(argv: Sequence[str]) -> _Options:
    o = _Options()
    args = list(argv)
    i = 0
    options_ended = False

    def value(option: str, inline: Optional[str]) -> str:
        nonlocal i
        if inline is not None:
            return inline
        if i >= len(args):
            raise _Usage(f"{option} needs a value")
        i += 1
        return args[i - 1]

    while i < len(args):
        arg = args[i]
        i += 1
        if options_ended or arg == "-" or not arg.startswith("-"):
            o.job["inputs"].append(_job.name_value(arg))
            continue
        if arg == "--":
            options_ended = True
            continue
        inline = None
        if arg.startswith("--") and "=" in arg:
            arg, inline = arg.split("=", 1)
        if arg in ("-h", "--help"):
            sys.stdout.write(HELP)
            sys.exit(0)
        elif arg in ("-o", "--output"):
            o.job["output"] = _job.name_value(value(arg, inline))
        elif arg == "--out-dir":
            o.job["out_dir"] = _job.name_value(value(arg, inline))
        elif arg in _JOB_VALUES:
            o.job[_JOB_VALUES[arg]] = value(arg, inline)
        elif arg in _CAPTION_VALUES:
            v = value(arg, inline)
            o.caption()[_CAPTION_VALUES[arg]] = _job.name_value(v) if arg == "--font" else v
        elif arg in _FLAGS or arg in ("--classic", "-q", "--quiet", "-v", "--verbose",
                                      "--keep-worker-malloc", "--print-job"):
            if inline is not None:
                raise _Usage(f"{arg} takes no value")
            if arg in _FLAGS:
                o.job[_FLAGS[arg]] = True
            elif arg == "--classic":
                o.caption()["classic"] = True
            elif arg in ("-q", "--quiet"):
                o.quiet = True
            elif arg in ("-v", "--verbose"):
                o.verbose = True
            elif arg == "--keep-worker-malloc":
                o.keep_malloc = True
            else:
                o.print_job = True
        elif arg == "--text":
            if "text" in o.caption():
                o.job["captions"].append({})
            o.caption()["text"] = value(arg, inline)
        elif arg == "--box":
            o.job.setdefault("boxes", []).append(value(arg, inline))
        elif arg == "--boxes":
            o.job["detections"] = _job.name_value(value(arg, inline))
        elif arg == "--no-label":
            if inline is not None:
                raise _Usage(f"{arg} takes no value")
            o.job["label"] = False
        elif arg in ("-j", "--jobs", "--chunk"):
            text = value(arg, inline)
            if not text.isdigit() or not 1 <= int(text) <= (256 if arg != "--chunk" else 10**9):
                raise _Usage(f"{arg}: '{printable(text)}' is not a whole number from 1 to "
                             f"{256 if arg != '--chunk' else 10**9}")
            if arg == "--chunk":
                o.chunk = int(text)
            else:
                o.jobs = int(text)
        elif arg == "--scheduler":
            o.scheduler = value(arg, inline)
        else:
            raise _Usage(f"unknown option {printable(arg)}")
    return o


class _Progress:
    """As the tool shows progress on standard error: failures always, a bar on a terminal that
    fits its width, one line per file written with --verbose."""

    def __init__(self, total: int, quiet: bool, verbose: bool) -> None:
        self.total = total
        self.done = 0
        self.failed = 0
        self.verbose = verbose
        self.bar = not quiet and sys.stderr.isatty()
        self.lock = threading.Lock()
        # A note from the signal handler, written with the next line: the handler runs on the
        # main thread, which may be in the middle of writing (its lock held, standard error's too).
        self.pending_note = ""

    def note(self, line: str) -> None:
        """Writes the line with the next file's (safe from a signal handler)."""
        self.pending_note = line

    def __call__(self, r: batch.FileResult) -> None:
        with self.lock:
            self.done += 1
            line = ""
            if not r.ok:
                self.failed += 1
                line = f"zavimage: {r.describe()}"
            elif self.verbose:
                line = f"[{self.done}/{self.total}] {printable(r.input)} -> {printable(r.output)}"
            self._write(line, r.input)

    def _write(self, line: str, current: str = "") -> None:
        err = sys.stderr
        if self.bar:
            err.write("\r\033[K")
        note, self.pending_note = self.pending_note, ""
        if note:
            err.write(note + "\n")
        if line:
            err.write(line + "\n")
        if self.bar:
            columns = shutil.get_terminal_size().columns
            out = ctypes.create_string_buffer(columns * 4 + 64)
            lib.ZAVJobProgressLine(self.done, self.total, self.failed,
                                   current.encode("utf-8", "surrogateescape"), columns, out,
                                   len(out))
            err.write(out.value.decode("utf-8", "replace"))
        err.flush()

    def end(self) -> None:
        if self.bar:
            sys.stderr.write("\r\033[K")
        if self.pending_note:
            sys.stderr.write(self.pending_note + "\n")
            self.pending_note = ""
        sys.stderr.flush()


def annotate(argv: Sequence[str]) -> int:
    try:
        o = _parse(argv)
        try:
            job = _job.Job(o.job)
        except UsageError as e:
            raise _Usage(e.option_message) from None
        if o.print_job:
            import json

            print(json.dumps(o.job, ensure_ascii=False, indent=2))
            return 0
        try:
            job.plan()
        except UsageError as e:
            raise _Usage(e.option_message) from None
    except _Usage as e:
        sys.stderr.write(f"zavimage: {e}\nRun 'python3 -m zavimage annotate --help' for "
                         "usage.\n")
        return 2
    items = job.items()
    for item in items:
        if item.planned and item.state == _job.FAILED:
            sys.stderr.write(f"zavimage: {item.message}\n")
    work = [it for it in items if not it.planned]
    if job.needs_standard_input() and work:
        job.set_standard_input(sys.stdin.buffer.read())
    to_stdout = o.job.get("output") == "-"
    client = None
    if o.scheduler and work and not to_stdout:
        if o.scheduler == "local" or o.scheduler.startswith("local:"):
            count = o.scheduler.partition(":")[2]
            if count and not (count.isdigit() and int(count) > 0):
                sys.stderr.write(f"zavimage: --scheduler {o.scheduler}: 'local:N' needs a "
                                 "number of workers N >= 1\n")
                return 2
            client = batch.local_client(int(count) if count else None)
        else:
            from distributed import Client

            client = Client(o.scheduler)
    progress = _Progress(len(work), o.quiet or to_stdout, o.verbose and not to_stdout)
    stop = threading.Event()
    caught: List[int] = []

    def on_signal(signum: int, frame: object) -> None:
        if not caught and not o.quiet:
            progress.note(f"zavimage: {signal.Signals(signum).name}: no new files are started; "
                          "finishing the files in progress")
        caught.append(signum)
        stop.set()

    for signum in (signal.SIGINT, signal.SIGTERM):
        signal.signal(signum, on_signal)
    try:
        summary = batch.run(job, client=client, workers=o.jobs, chunk_size=o.chunk,
                            progress=progress, tune_malloc=not o.keep_malloc, stop=stop)
    except OSError as e:
        sys.stderr.write(f"zavimage: {e}\n")
        return 1
    finally:
        progress.end()
        if client is not None:
            client.close()
    if caught:
        summary.stopped_by = signal.Signals(caught[0]).name
    elif summary.stopped_by is not None:  # a KeyboardInterrupt raised while a handler was not set
        caught.append(signal.SIGINT)
    if to_stdout:  # standard output holds the picture: failures went to standard error
        if caught:
            sys.stderr.write(f"zavimage: stopped by {summary.stopped_by}"
                             f"{'' if summary.succeeded else '; nothing was written'}\n")
    elif not o.quiet or summary.failed:
        sys.stdout.write(summary.report())
    return 128 + caught[0] if caught else summary.exit_status


def main(argv: Optional[Sequence[str]] = None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    if not argv or argv[0] in ("-h", "--help"):
        print(USAGE + "\nRun 'python3 -m zavimage annotate --help' for the options.")
        return 0 if argv else 2
    if argv[0] != "annotate":
        sys.stderr.write(f"zavimage: unknown command '{printable(argv[0])}' (only 'annotate')\n")
        return 2
    try:
        return annotate(argv[1:])
    except Error as e:
        sys.stderr.write(f"zavimage: {e}\n")
        return 1
    except BrokenPipeError:  # the reader of standard output went away (| head)
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 128 + signal.SIGPIPE


if __name__ == "__main__":
    sys.exit(main())
