"""The typical job on many pictures: load, flip, resize, caption, mark, save, in that order, with
the rules of ``zavimage annotate``.

Every output is worked out before any work (:mod:`zavimage.plan`); every value is checked before
any work; a gray or bilevel input is saved gray where the output format has gray unless
``color=True``. Runs on a local thread pool, or as tasks on the workers of a Dask cluster
(``dask.distributed.Client``): the files are cut into chunks, each task works on one chunk with
the library on its worker and returns one result per file. The summary reads as the one
``zavimage annotate`` prints.

>>> from zavimage import batch
>>> summary = batch.annotate(["cam1/"], "marked", format="jpg", text="cam 1",
...                          box=(200, 120, 64, 48), resize=(1280, 720))
>>> print(summary.report(), end="")
annotate: 300 succeeded, 0 failed
"""

from __future__ import annotations

import ctypes
import math
import os
import sys
import threading
from collections import Counter
from concurrent.futures import ThreadPoolExecutor, as_completed
from ctypes import byref, c_char_p, c_int32
from dataclasses import dataclass, field
from typing import Any, Callable, Iterable, List, Optional, Sequence, Tuple, Union

import numpy as np

from . import _lib
from ._lib import ImageStruct, component, lib
from .errors import FILE_NOT_FOUND, FILE_READ_FAILED, FILE_TRUNCATED, FILE_UNKNOWN_FORMAT
from .errors import Error, PathName
from .caption import Caption
from .caption import Color as CaptionColor
from .image import BOX_COLORS, BytesLike, Image, _Bytes, _own
from .plan import (
    GRAY_EXTENSIONS,
    PICTURE_EXTENSIONS,
    STANDARD_OUTPUT,
    Input,
    Job,
    OutputClashError,
    OverwriteError,
    Plan,
    UsageError,
    make_plan,
    name_extension,
    path_problem,
    printable,
)

__all__ = ["FileResult", "Input", "OutputClashError", "OverwriteError", "PICTURE_EXTENSIONS",
           "Steps", "Summary", "UsageError", "annotate", "make_plan", "parse_resize", "run"]

Rect = Tuple[int, int, int, int]
_MAX_BLOCK_BYTES = 1 << 30
_INT32_MAX = 2**31 - 1


# ---- the steps, checked before any work ----

@dataclass(frozen=True)
class Resize:
    """A resize: width and height (0: kept in proportion to the other), or a percentage."""

    width: int = 0
    height: int = 0
    percent: float = 0.0

    def size_for(self, width: int, height: int) -> Optional[Tuple[int, int]]:
        """The size for a picture of width x height; None when it would exceed 1 GiB."""
        w, h = self.width, self.height
        if self.percent > 0:
            fw, fh = round(width * self.percent / 100), round(height * self.percent / 100)
            if fw > _INT32_MAX or fh > _INT32_MAX:
                return None
            w, h = max(fw, 1), max(fh, 1)
        elif w == 0:
            w = max((2 * h * width + height) // (2 * height), 1)
        elif h == 0:
            h = max((2 * w * height + width) // (2 * width), 1)
        if w > _INT32_MAX or h > _INT32_MAX or ((w * 3 + 3) & ~3) > _MAX_BLOCK_BYTES // h:
            return None
        return w, h


def parse_resize(value: Union[str, Sequence[int], Resize]) -> Resize:
    """A resize from (width, height) or text: "640x360", "640x", "x360" or "50%"."""
    if isinstance(value, Resize):
        return value
    bad = UsageError(f"resize {value!r} is not a size WxH, Wx, xH or P% (sides at least 1, P "
                     "above 0)")
    if not isinstance(value, str):
        if len(value) != 2 or not all(isinstance(v, int) and 1 <= v <= 999_999_999
                                      for v in value):
            raise bad
        return Resize(int(value[0]), int(value[1]))
    if value.endswith("%"):
        try:
            percent = float(value[:-1])
        except ValueError:
            raise bad from None
        if not (math.isfinite(percent) and 0 < percent <= 1e6) or not value[:-1].strip():
            raise bad
        return Resize(percent=percent)
    sides = value.split("x")
    if len(sides) != 2 or sides == ["", ""] or not all(
            s == "" or (s.isdigit() and s.isascii() and len(s) <= 9 and int(s) >= 1)
            for s in sides):
        raise bad
    return Resize(int(sides[0] or 0), int(sides[1] or 0))


def _code(value: Union[str, int], table: dict, codes: range, what: str) -> int:
    if isinstance(value, str) and value in table:
        return table[value]
    try:
        code = int(value)
    except (TypeError, ValueError):
        code = -1
    if isinstance(value, bool) or code not in codes:
        raise UsageError(f"{what} {value!r} is not one of {', '.join(table)} (or a code "
                         f"{codes.start} to {codes.stop - 1})")
    return code


def _in_range(value: float, low: float, high: float, what: str) -> float:
    try:
        v = float(value)
    except (TypeError, ValueError):
        v = math.nan
    if not (math.isfinite(v) and low <= v <= high):
        raise UsageError(f"{what} {value!r} is not a number from {low:g} to {high:g}")
    return v


def quality_from_percent(percent: int) -> float:
    """The quality (tables divided by it) that gives libjpeg's tables for a percentage."""
    if isinstance(percent, bool) or not isinstance(percent, int) or not (
            1 <= percent <= 95 or percent == 100):
        raise UsageError(f"jpeg_quality {percent!r} is not a whole number from 1 to 95, or 100")
    scale = 5000 // percent if percent < 50 else 200 - 2 * percent
    if scale == 0:
        return 0.0  # every step 1
    exact = 100.0 / scale
    q = np.float32(exact)
    if float(q) > exact:  # at or just below 100 / S, so that halves round up as libjpeg's do
        q = np.nextafter(q, np.float32(0))
    return float(q)


def _rects(box: Union[None, Rect, Sequence[Rect]]) -> Tuple[Rect, ...]:
    if box is None:
        return ()
    boxes = [box] if len(box) == 4 and all(isinstance(v, int) for v in box) else list(box)
    for b in boxes:
        if (not isinstance(b, (tuple, list)) or len(b) != 4
                or not all(isinstance(v, int) and -2**31 <= v <= _INT32_MAX for v in b)
                or b[2] < 1 or b[3] < 1):
            raise UsageError(f"box {b!r} is not a region (x, y, width, height) with width and "
                             "height at least 1")
    return tuple(tuple(b) for b in boxes)  # type: ignore[misc]


@dataclass(frozen=True)
class Steps:
    """What is done to each picture between its load and its save, in this order. Made with
    :meth:`checked` every value is checked (UsageError)."""

    flip: bool = False
    resize: Optional[Resize] = None
    caption: Optional[Caption] = None
    boxes: Tuple[Rect, ...] = ()
    box_color: int = 1  # red
    quality: Optional[float] = None  # JPEG; None: the library's own (2)
    color: bool = False  # save colour even when the input is gray

    @classmethod
    def checked(cls, *, flip: bool = False, resize: Any = None, text: Optional[str] = None,
                at: Optional[Sequence[int]] = None, size: Optional[float] = None,
                space: Optional[float] = None, text_color: Optional[CaptionColor] = None,
                classic: Optional[bool] = None, opacity: Union[None, str, float] = None,
                outline: Any = None, background: Any = None, font: Optional[str] = None,
                anchor: Optional[str] = None, box: Any = None,
                box_color: Union[str, int] = "red", quality: Optional[float] = None,
                jpeg_quality: Optional[int] = None, color: bool = False) -> "Steps":
        caption = None
        if text is not None:
            caption = Caption.checked(
                text, at=None if at is None else tuple(at), size=24.0 if size is None else size,
                space=space, color=text_color, classic=classic, opacity=opacity,
                outline=outline, background=background, font=font, anchor=anchor)
        elif any(v is not None for v in (at, size, space, text_color, classic, opacity, outline,
                                         background, font, anchor)):
            raise UsageError("caption options need text")
        if quality is not None and jpeg_quality is not None:
            raise UsageError("give quality or jpeg_quality once")
        if quality is not None:
            quality = _in_range(quality, 0, 10, "quality")
        elif jpeg_quality is not None:
            quality = quality_from_percent(jpeg_quality)
        return cls(flip=bool(flip), resize=None if resize is None else parse_resize(resize),
                   caption=caption, boxes=_rects(box),
                   box_color=_code(box_color, BOX_COLORS, range(0, 7), "box colour"),
                   quality=quality, color=bool(color))

    def misses(self, width: int, height: int) -> Tuple[Optional[str], Tuple[int, int]]:
        """Why the steps do not fit a picture of this size (the caption start and every box
        must lie on it after resizing), and the size after resizing."""
        final = (width, height)
        if self.resize is not None:
            resized = self.resize.size_for(width, height)
            if resized is None:
                return "the resized picture would exceed 1 GiB", final
            final = resized
        fw, fh = final
        shown = f"{fw} x {fh} picture"
        if self.caption is not None:
            miss = self.caption.misses(fw, fh)
            if miss:
                return miss, final
        for x, y, w, h in self.boxes:
            if not (x < fw and x + w > 0 and y < fh and y + h > 0):
                return f"the box {x},{y},{w},{h} lies outside the {shown}", final
        return None, final

    def apply(self, image: Image,
              final: Optional[Tuple[int, int]] = None) -> Tuple[Image, Optional[str]]:
        """Applies the steps to a loaded image; returns the image to save, and why the caption
        failed, if it did (the boxes are not drawn then)."""
        if self.flip:
            image.flip()
        if final is None and self.resize is not None:
            final = self.resize.size_for(image.width, image.height)
        if final is not None and tuple(final) != (image.width, image.height):
            scaled = image.resize(final)
            image.close()
            image = scaled
        if self.caption is not None:
            failure = self.caption.draw(image)
            if failure:
                return image, failure
        for box in self.boxes:
            image.draw_box(box, self.box_color)
        return image, None


# ---- one file ----

@dataclass(frozen=True)
class FileResult:
    """How one picture went: ``ok``; else ``reason`` (as the tool words it), ``status`` (the
    library's code, -1 when the failure is not a file's) and whether the reason concerns the
    output file rather than the input."""

    input: str
    output: str
    ok: bool
    reason: str = ""
    status: int = 0
    about_output: bool = False
    discarded: bool = False  # worked on, but a stop came before the save: nothing written

    def describe(self) -> str:
        """"IN: reason", or "OUT: reason" when the reason concerns the output (names escaped
        as the tool prints them, "-" as standard input or output)."""
        name = self.output if self.about_output else self.input
        if name == STANDARD_OUTPUT:
            return ("standard output" if self.about_output else "standard input") + ": " + \
                self.reason
        return f"{printable(name)}: {self.reason}"


def _read_failure(obj: Any, path: Optional[str]) -> Tuple[str, int]:
    status = lib.ZAVGetFileStatus(obj)
    if path is not None and status in (FILE_NOT_FOUND, FILE_READ_FAILED, FILE_UNKNOWN_FORMAT,
                                       FILE_TRUNCATED):
        problem = path_problem(path)
        if problem is not None:
            return problem, status
    return _lib.status_text(status), status


def _write_failure(obj: Any, path: str) -> Tuple[str, int]:
    status = lib.ZAVGetFileStatus(obj)
    if status == FILE_NOT_FOUND:
        return "folder not found", status
    if os.path.isdir(path):
        return "is a folder", status
    return _lib.status_text(status), status


def _to_gray(image: Image) -> Image:
    a = image.array.astype(np.uint32)
    # blue, green, red weights summing to 256
    gray = (29 * a[..., 0] + 150 * a[..., 1] + 77 * a[..., 2] + 128) >> 8
    result = Image.from_array(gray.astype(np.uint8))
    image.close()
    return result


def process(source: Union[PathName, BytesLike], output: PathName, steps: Steps,
            name: Optional[str] = None, stop: Optional[Callable[[], bool]] = None,
            stdout_format: str = "") -> FileResult:
    """Loads one picture, applies the steps and saves it, as the tool does one file: the header
    first (a step that misses the picture fails it before its pixels are decoded), a gray input
    saved gray where the output's format has gray (unless steps.color). Paths are opened as
    given. Failures become the result's reason. When ``stop`` answers true before the save
    begins, the work is discarded. An output "-" with ``stdout_format`` writes the picture's
    bytes in that format to standard output."""
    in_bytes = isinstance(source, (bytes, bytearray, memoryview))
    path = None if in_bytes else os.fsdecode(os.fspath(source))  # type: ignore[arg-type]
    shown = name if name is not None else "<bytes>" if in_bytes else path
    out = os.fsdecode(output)
    obj = component()
    fmt, width, height, channels = c_char_p(), c_int32(), c_int32(), c_int32(3)
    record = ImageStruct()
    if in_bytes and shown == "-" and not len(source):  # type: ignore[arg-type]
        return FileResult(shown, out, False, "empty (nothing was piped in)")
    if in_bytes:
        _lib.need_memory()
        data = _Bytes(source)  # type: ignore[arg-type]
        ok = lib.ZAVProbeImageMemory(obj, data.pointer, data.size, byref(fmt), byref(width),
                                     byref(height), byref(channels)) == 0
    else:
        raw = os.fsencode(path)  # type: ignore[arg-type]
        ok = lib.ZAVProbeImagePath(obj, raw, byref(fmt), byref(width), byref(height),
                                   byref(channels)) == 0
    if not ok:
        return FileResult(shown, out, False, *_read_failure(obj, path))
    miss, final = steps.misses(width.value, height.value)
    if miss:
        return FileResult(shown, out, False, miss)
    if in_bytes:
        ok = lib.ZAVLoadImageMemory(obj, data.pointer, data.size, byref(record)) == 0
    else:
        ok = lib.ZAVLoadImagePath(obj, raw, byref(record)) == 0
    if not ok:
        return FileResult(shown, out, False, *_read_failure(obj, path))
    image = _own(record)
    try:
        image, failure = steps.apply(image, final)
        if failure:
            return FileResult(shown, out, False, failure)
        to_stdout = out == STANDARD_OUTPUT and stdout_format
        ext = stdout_format if to_stdout else name_extension(out)
        if channels.value == 1 and not steps.color and ext in GRAY_EXTENSIONS:
            image = _to_gray(image)
        if steps.quality is not None:
            lib.ZAVSetImageQuality(obj, steps.quality)
        else:
            lib.ZAVSetImageQuality(obj, 2.0)
        if stop is not None and stop():
            return FileResult(shown, out, False, discarded=True)
        if to_stdout:
            try:
                data = image.encode(stdout_format, 2.0 if steps.quality is None else steps.quality)
                sys.stdout.buffer.write(data)
                sys.stdout.buffer.flush()
            except OSError as e:
                return FileResult(shown, out, False, f"write failed: {e.strerror}",
                                  about_output=True)
            return FileResult(shown, out, True)
        r = image._buf().record
        if lib.ZAVSaveImagePath(obj, os.fsencode(out), r.data, r.width, r.height, r.depth,
                                r.channels) != 0:
            return FileResult(shown, out, False, *_write_failure(obj, out), about_output=True)
    except Error as e:
        return FileResult(shown, out, False, e.text, e.status)
    finally:
        image.close()
    return FileResult(shown, out, True)


# ---- the summary ----

@dataclass
class Summary:
    """The results of a batch: first the inputs found unworkable before the work, then one
    result per file worked on, in the order of the inputs."""

    results: List[FileResult] = field(default_factory=list)
    skipped: List[str] = field(default_factory=list)  # outputs that exist (no_clobber)
    subfolders: int = 0  # passed over in the folders (not recursive)
    other_files: int = 0  # files in the folders that are not pictures by their names
    stopped_by: Optional[str] = None  # "SIGINT" when a stop ended the batch early
    not_done: int = 0  # stopped: files not started or discarded

    @property
    def succeeded(self) -> int:
        return sum(1 for r in self.results if r.ok)

    @property
    def failed(self) -> int:
        return sum(1 for r in self.results if not r.ok and not r.discarded)

    @property
    def reasons(self) -> List[Tuple[str, int]]:
        """(reason, count) of the failures, sorted by reason."""
        counts = Counter(r.reason for r in self.results if not r.ok and not r.discarded)
        return sorted(counts.items(), key=lambda rc: rc[0].encode("utf-8", "surrogateescape"))

    def report(self, command: str = "annotate") -> str:
        """The summary as ``zavimage annotate`` prints it."""
        line = f"{command}: "
        if self.stopped_by:
            line += f"stopped by {self.stopped_by}: "
        line += f"{self.succeeded} succeeded, {self.failed} failed"
        if self.skipped:
            line += f", {len(self.skipped)} skipped (output exists)"
        if self.stopped_by:
            line += f", {self.not_done} not done"
        lines = [line]
        if self.subfolders or self.other_files:
            passed = "  passed over in the folders:"
            if self.subfolders:
                passed += (f" {self.subfolders} subfolder{'s' if self.subfolders != 1 else ''}"
                           " (--recursive walks them)")
            if self.other_files:
                passed += ("," if self.subfolders else "") + (
                    " 1 file that is not a picture by its name" if self.other_files == 1 else
                    f" {self.other_files} files that are not pictures by their names")
            lines.append(passed)
        lines += [f"  {count} x {reason}" for reason, count in self.reasons]
        lines += [f"  failed: {r.describe()}" for r in self.results
                  if not r.ok and not r.discarded]
        return "\n".join(lines) + "\n"

    @property
    def exit_status(self) -> int:
        """0 when every file was written or skipped, else 1 (the tool's exit status)."""
        return 0 if self.failed == 0 else 1


# ---- running ----

# glibc's mallopt parameters, and what the workers of a picture batch get.
_M_TRIM_THRESHOLD = -1
_M_MMAP_THRESHOLD = -3
_WORKER_MMAP_THRESHOLD = 32 << 20  # glibc's upper limit on 64-bit systems
_WORKER_TRIM_THRESHOLD = 64 << 20
_malloc_lock = threading.Lock()
_malloc_tuned = False


def tune_worker_malloc() -> bool:
    """Lets this process keep freed picture buffers for reuse (glibc only; once per process).

    Dask starts its workers with MALLOC_TRIM_THRESHOLD_=65536, which also pins glibc's mmap
    threshold at 128 KiB: every frame buffer is then mapped, faulted in page by page and given
    back, about twice the CPU of the work itself. Blocks up to 32 MiB come from the heap instead,
    and up to 64 MiB of free heap is kept. Returns whether the setting was applied.
    """
    global _malloc_tuned
    with _malloc_lock:
        if not _malloc_tuned:
            mallopt = getattr(ctypes.CDLL(None), "mallopt", None)
            if mallopt is None:
                return False
            _malloc_tuned = bool(mallopt(_M_MMAP_THRESHOLD, _WORKER_MMAP_THRESHOLD)) and bool(
                mallopt(_M_TRIM_THRESHOLD, _WORKER_TRIM_THRESHOLD))
        return _malloc_tuned


def _run_chunk(jobs: Sequence[Job], steps: Steps, out_dirs: Sequence[str],
               tune_malloc: bool = True) -> List[Tuple[int, FileResult]]:
    """One task: the files of a chunk, one after another, on the worker it runs on."""
    if tune_malloc:
        tune_worker_malloc()
    for d in out_dirs:  # a worker of a cluster may be the first to see the folder
        os.makedirs(d, exist_ok=True)
    return [(j.index, process(j.source, j.output, steps, j.name, None, j.format)) for j in jobs]


def _worker_threads(client: Any) -> int:
    try:
        return max(1, sum(client.nthreads().values()))
    except Exception:
        return 1


def run(plan: Union[Plan, Sequence[Job]], steps: Steps, *, client: Any = None,
        workers: Optional[int] = None, chunk_size: Optional[int] = None,
        progress: Optional[Callable[[FileResult], None]] = None,
        tune_malloc: bool = True, stop: Optional[threading.Event] = None,
        stop_name: str = "a stop") -> Summary:
    """Runs a plan locally (``workers`` threads, default one per core) or on a Dask client's
    cluster (chunks of ``chunk_size`` files, default four chunks per worker thread;
    ``tune_malloc``: see :func:`tune_worker_malloc`). The output folders are made first, when
    there is work.

    Setting ``stop`` (from a signal handler, say) starts no further file: locally the files in
    progress finish unless their save has not begun (they are discarded, nothing written); on a
    cluster the chunks not yet done are cancelled. The summary then tells ``stop_name``.
    """
    if not isinstance(plan, Plan):
        jobs = list(plan)
        plan = Plan(jobs=jobs, folders=sorted({os.path.dirname(j.output) or "." for j in jobs}))
    jobs = plan.jobs
    results: List[Optional[FileResult]] = [None] * len(jobs)
    if jobs:
        for d in plan.folders:
            os.makedirs(d, exist_ok=True)

    def done(index: int, result: FileResult) -> None:
        results[index] = result
        if progress is not None and not result.discarded:
            progress(result)

    stopped = stop.is_set if stop is not None else None

    def one(j: Job) -> Optional[FileResult]:
        if stopped is not None and stopped():
            return None
        return process(j.source, j.output, steps, j.name, stopped, j.format)

    if client is None and jobs and not (stopped and stopped()):
        threads = max(1, min(workers or os.cpu_count() or 1, len(jobs)))
        with ThreadPoolExecutor(threads, thread_name_prefix="zavimage") as pool:
            futures = {pool.submit(one, j): j for j in jobs}
            for f in as_completed(futures):
                result = f.result()
                if result is not None:
                    done(futures[f].index, result)
    elif jobs and not (stopped and stopped()):
        from distributed import as_completed as dask_completed

        if chunk_size is None:
            chunk_size = math.ceil(len(jobs) / (4 * _worker_threads(client)))
        chunks = [jobs[i:i + chunk_size] for i in range(0, len(jobs), chunk_size)]
        work: List[Any] = chunks
        if any(isinstance(j.source, bytes) for j in jobs):
            # pictures go straight to the workers, not through the scheduler
            work = client.scatter(chunks)
        futures = client.map(_run_chunk, work, steps=steps, out_dirs=plan.folders,
                             tune_malloc=tune_malloc, pure=False)
        try:
            for f in dask_completed(futures):
                for index, result in f.result():
                    done(index, result)
                if stopped is not None and stopped():
                    break
        finally:
            client.cancel(futures)
    is_stopped = stopped is not None and stopped()
    missing = [j.name for j, r in zip(jobs, results) if r is None]
    if missing and not is_stopped:
        raise RuntimeError(f"no result came back for {', '.join(missing)}")
    worked = [r for r in results if r is not None]
    failed_first = [FileResult(f.name, "", False, f.reason, f.status) for f in plan.failures]
    return Summary(failed_first + worked, [j.output for j in plan.skipped], plan.subfolders,
                   plan.other_files, stop_name if is_stopped else None,
                   len(missing) + sum(1 for r in worked if r.discarded))


def annotate(
    inputs: Iterable[Input],
    out_dir: Optional[PathName] = None,
    *,
    output: Optional[PathName] = None,
    format: Optional[str] = None,
    recursive: bool = False,
    in_place: bool = False,
    no_clobber: bool = False,
    color: bool = False,
    resize: Union[None, str, Tuple[int, int]] = None,
    text: Optional[str] = None,
    at: Optional[Tuple[int, int]] = None,
    size: Optional[float] = None,
    space: Optional[float] = None,
    text_color: Optional[CaptionColor] = None,
    classic: Optional[bool] = None,
    opacity: Union[None, str, float] = None,
    outline: Any = None,
    background: Any = None,
    font: Optional[str] = None,
    anchor: Optional[str] = None,
    box: Union[None, Rect, Sequence[Rect]] = None,
    box_color: Union[str, int] = "red",
    flip: bool = False,
    quality: Optional[float] = None,
    jpeg_quality: Optional[int] = None,
    client: Any = None,
    workers: Optional[int] = None,
    chunk_size: Optional[int] = None,
    progress: Optional[Callable[[FileResult], None]] = None,
    tune_malloc: bool = True,
) -> Summary:
    """Loads each input, flips, resizes, captions, marks and saves it into out_dir (or the one
    ``output`` file), as ``zavimage annotate`` does with the same options.

    inputs: file names (a folder stands for its pictures, sorted by name; ``recursive`` walks
    its subfolders, whose places are kept under out_dir; on a cluster the names must reach the
    same files on every worker), picture bytes, or (name, bytes) pairs. Outputs are named after
    the inputs, with the extension ``format`` when given.

    Before any work, and without writing anything, raises :class:`UsageError` (a ValueError)
    for a value out of range (size 1 to 4096, space 0 to 10, quality 0 to 10 or jpeg_quality 1
    to 95 or 100, colours, boxes of at least 1x1, resize as (w, h), "WxH", "Wx", "xH" or "P%"),
    :class:`OutputClashError` when two inputs would write one output, :class:`OverwriteError`
    when an output is one of the inputs (same device and inode) unless ``in_place``. With
    ``no_clobber`` outputs that exist are skipped. A gray or bilevel picture file is saved gray
    where the format has gray (all but .ppm) unless ``color``. A caption start or box that
    lies outside a picture (after resizing) fails that picture.

    The caption (``text``) is the one the tool draws by default (see
    :data:`zavimage.caption.CLASSIC_BY_DEFAULT`), or the classic one with ``classic=True``, the
    typographic one with ``classic=False``: at (x, y; default 10, 40, or with an ``anchor`` on
    the picture - top-left, top, top-right, left, center, right, bottom-left, bottom,
    bottom-right - the offset inward from it), size in pixels (default 24), space between
    characters as a fraction of the size, text_color (classic: blue, green, red or 0 to 2;
    typographic: also a colour name, "#RRGGBB" or (blue, green, red)); the typographic caption
    also takes opacity (0 to 1 or "50%"), outline (width or (width, colour)), background
    (colour or (colour, opacity)) and font (a file or a fontconfig pattern).

    client: a ``dask.distributed.Client``; without one the pictures are worked on by a local
    pool of ``workers`` threads. On a cluster each worker process first lets glibc keep freed
    picture buffers (:func:`tune_worker_malloc`; ``tune_malloc=False`` leaves the workers'
    allocator as Dask set it). Returns the per-file results; ``summary.report()`` is the text
    ``zavimage annotate`` prints.
    """
    steps = Steps.checked(flip=flip, resize=resize, text=text, at=at, size=size, space=space,
                          text_color=text_color, classic=classic, opacity=opacity,
                          outline=outline, background=background, font=font, anchor=anchor,
                          box=box, box_color=box_color, quality=quality,
                          jpeg_quality=jpeg_quality, color=color)
    plan = make_plan(inputs, out_dir, output=output, format=format, recursive=recursive,
                     in_place=in_place, no_clobber=no_clobber)
    return run(plan, steps, client=client, workers=workers, chunk_size=chunk_size,
               progress=progress, tune_malloc=tune_malloc)
