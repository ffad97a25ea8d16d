"""The typical job on many pictures: load, flip, resize, caption, mark, save, in that order.

Runs on a local thread pool, or as tasks on the workers of a Dask cluster
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
import threading
from collections import Counter
from concurrent.futures import ThreadPoolExecutor, as_completed
from dataclasses import dataclass, field
from typing import Any, Callable, Iterable, List, Optional, Sequence, Tuple, Union

from .errors import Error, PathName
from .image import BytesLike, Image, load

#: Extensions of the pictures taken from a folder given as input (as the command-line tool does).
PICTURE_EXTENSIONS = ("bmp", "dib", "jpeg", "jpg", "jpe", "sr", "ras", "pbm", "pgm", "ppm",
                      "tiff", "tif")

#: An input: a file name (a folder stands for the pictures in it), a picture's bytes, or a
#: (name, bytes) pair whose name gives the output its name.
Input = Union[PathName, BytesLike, Tuple[str, BytesLike]]
Rect = Tuple[int, int, int, int]


class OutputClashError(Error, ValueError):
    """Two inputs would be written to one output file; nothing was done."""


@dataclass(frozen=True)
class Steps:
    """What is done to each picture between its load and its save, in this order."""

    flip: bool = False
    resize: Optional[Tuple[int, int]] = None
    text: Optional[str] = None
    at: Tuple[int, int] = (10, 40)
    size: float = 24.0
    space: float = 0.1
    text_color: Union[str, int] = "red"
    boxes: Tuple[Rect, ...] = ()
    box_color: Union[str, int] = "red"
    quality: float = 2.0

    def apply(self, image: Image) -> Image:
        """Applies the steps to a loaded image; returns the image to save."""
        if self.flip:
            image.flip()
        if self.resize is not None and tuple(self.resize) != (image.width, image.height):
            scaled = image.resize(self.resize)
            image.close()
            image = scaled
        if self.text:
            image.caption(self.text, self.at, self.size, self.space, self.text_color)
        for box in self.boxes:
            image.draw_box(box, self.box_color)
        return image


@dataclass(frozen=True)
class FileResult:
    """How one picture went: ``ok``; else ``reason`` (the library's text), ``status`` (the
    library's code, -1 when the failure is not a file's) and whether the reason concerns the
    output file rather than the input."""

    input: str
    output: str
    ok: bool
    reason: str = ""
    status: int = 0
    about_output: bool = False

    def describe(self) -> str:
        """"IN: reason", or "OUT: reason" when the reason concerns the output."""
        return f"{self.output if self.about_output else self.input}: {self.reason}"


@dataclass
class Summary:
    """The results of a batch, in the order of the inputs."""

    results: List[FileResult] = field(default_factory=list)

    @property
    def succeeded(self) -> int:
        return sum(1 for r in self.results if r.ok)

    @property
    def failed(self) -> int:
        return len(self.results) - self.succeeded

    @property
    def reasons(self) -> List[Tuple[str, int]]:
        """(reason, count) of the failures, sorted by reason."""
        return sorted(Counter(r.reason for r in self.results if not r.ok).items())

    def report(self) -> str:
        """The summary as ``zavimage annotate`` prints it for many files."""
        lines = [f"annotate: {self.succeeded} succeeded, {self.failed} failed"]
        lines += [f"  {count} x {reason}" for reason, count in self.reasons]
        lines += [f"  failed: {r.describe()}" for r in self.results if not r.ok]
        return "\n".join(lines) + "\n"

    @property
    def exit_status(self) -> int:
        """0 when every file succeeded, else 1 (the tool's exit status)."""
        return 0 if self.failed == 0 else 1


@dataclass(frozen=True)
class _Job:
    index: int
    name: str  # the input as messages show it
    source: Union[str, bytes]  # a path, or the picture's bytes
    output: str


def process(source: Union[PathName, BytesLike], output: PathName, steps: Steps,
            name: Optional[str] = None) -> FileResult:
    """Loads one picture, applies the steps and saves it; failures become the result's reason."""
    if name is not None:
        shown = name
    elif isinstance(source, (bytes, bytearray, memoryview)):
        shown = "<bytes>"
    else:
        shown = os.fsdecode(os.fspath(source))
    out = os.fsdecode(output)
    try:
        image = load(source)
    except Error as e:
        return FileResult(shown, out, False, e.text, e.status)
    try:
        image = steps.apply(image)
    except Error as e:
        image.close()
        return FileResult(shown, out, False, e.text, e.status)
    try:
        image.save(out, steps.quality)
    except Error as e:
        return FileResult(shown, out, False, e.text, e.status, about_output=True)
    finally:
        image.close()
    return FileResult(shown, out, True)


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


def _run_chunk(jobs: Sequence[_Job], steps: Steps, out_dirs: Sequence[str],
               tune_malloc: bool = True) -> List[Tuple[int, FileResult]]:
    """One task: the files of a chunk, one after another, on the worker it runs on."""
    if tune_malloc:
        tune_worker_malloc()
    for d in out_dirs:  # a worker of a cluster may be the first to see the folder
        os.makedirs(d, exist_ok=True)
    return [(j.index, process(j.source, j.output, steps, j.name)) for j in jobs]


def _has_picture_extension(name: str) -> bool:
    ext = os.path.splitext(name)[1]
    return ext[1:].lower() in PICTURE_EXTENSIONS if ext else False


def output_name(input_name: str, out_dir: PathName, format: Optional[str] = None) -> str:
    """out_dir/name of the input, its extension replaced by format when one is given."""
    name = os.path.basename(input_name)
    if format:
        stem, ext = os.path.splitext(name)
        name = stem + "." + format
    return os.path.join(os.fsdecode(out_dir), name)


def _expand(inputs: Iterable[Input]) -> List[Tuple[str, Union[str, bytes]]]:
    """(shown name, path or bytes) per picture, folders expanded to their pictures by name."""
    found: List[Tuple[str, Union[str, bytes]]] = []
    for i, item in enumerate(inputs):
        if isinstance(item, tuple):
            name, data = item
            found.append((str(name), bytes(data)))
        elif isinstance(item, (bytes, bytearray, memoryview)):
            found.append((f"frame{i:06d}", bytes(item)))
        else:
            path = os.fsdecode(os.fspath(item))
            if os.path.isdir(path):
                names = sorted(
                    os.path.join(path, e.name)
                    for e in os.scandir(path)
                    if e.is_file() and _has_picture_extension(e.name)
                )
                found += [(n, n) for n in names]
            else:
                found.append((path, path))
    return found


def plan(inputs: Iterable[Input], out_dir: PathName, format: Optional[str] = None) -> List[_Job]:
    """The jobs of a batch. Raises OutputClashError when two inputs would share an output and
    ValueError for unnamed bytes without a format."""
    if format and format.startswith("."):
        format = format[1:]
    jobs = []
    for index, (name, source) in enumerate(_expand(inputs)):
        if isinstance(source, bytes) and not format and not os.path.splitext(name)[1]:
            raise ValueError(f"{name}: bytes without a file name need a format for the output")
        jobs.append(_Job(index, name, source, output_name(name, out_dir, format)))
    seen = {}
    for job in jobs:
        key = os.path.normpath(job.output)
        if key in seen:
            raise OutputClashError(
                f"{seen[key]} and {job.name} would both be written to {job.output}")
        seen[key] = job.name
    return jobs


def _rects(box: Union[None, Rect, Sequence[Rect]]) -> Tuple[Rect, ...]:
    if box is None:
        return ()
    if len(box) == 4 and all(isinstance(v, int) for v in box):
        return (tuple(box),)  # type: ignore[return-value]
    return tuple(tuple(b) for b in box)  # type: ignore[misc]


def _worker_threads(client: Any) -> int:
    try:
        return max(1, sum(client.nthreads().values()))
    except Exception:
        return 1


def run(jobs: Sequence[_Job], steps: Steps, *, client: Any = None, workers: Optional[int] = None,
        chunk_size: Optional[int] = None,
        progress: Optional[Callable[[FileResult], None]] = None,
        tune_malloc: bool = True) -> Summary:
    """Runs planned jobs locally (``workers`` threads, default one per core) or on a Dask
    client's cluster (chunks of ``chunk_size`` files, default four chunks per worker thread;
    ``tune_malloc``: see :func:`tune_worker_malloc`)."""
    results: List[Optional[FileResult]] = [None] * len(jobs)
    out_dirs = sorted({os.path.dirname(j.output) or "." for j in jobs})
    for d in out_dirs:
        os.makedirs(d, exist_ok=True)

    def done(index: int, result: FileResult) -> None:
        results[index] = result
        if progress is not None:
            progress(result)

    if client is None:
        threads = max(1, min(workers or os.cpu_count() or 1, len(jobs) or 1))
        with ThreadPoolExecutor(threads, thread_name_prefix="zavimage") as pool:
            futures = {pool.submit(process, j.source, j.output, steps, j.name): j for j in jobs}
            for f in as_completed(futures):
                done(futures[f].index, f.result())
    elif jobs:
        from distributed import as_completed as dask_completed

        if chunk_size is None:
            chunk_size = math.ceil(len(jobs) / (4 * _worker_threads(client)))
        chunks = [jobs[i:i + chunk_size] for i in range(0, len(jobs), chunk_size)]
        work: List[Any] = chunks
        if any(isinstance(j.source, bytes) for j in jobs):
            # pictures go straight to the workers, not through the scheduler
            work = client.scatter(chunks)
        futures = client.map(_run_chunk, work, steps=steps, out_dirs=out_dirs,
                             tune_malloc=tune_malloc, pure=False)
        try:
            for f in dask_completed(futures):
                for index, result in f.result():
                    done(index, result)
        finally:
            client.cancel(futures)
    missing = [j.name for j, r in zip(jobs, results) if r is None]
    if missing:
        raise RuntimeError(f"no result came back for {', '.join(missing)}")
    return Summary(results)  # type: ignore[arg-type]


def annotate(
    inputs: Iterable[Input],
    out_dir: PathName,
    *,
    format: Optional[str] = None,
    resize: Optional[Tuple[int, int]] = None,
    text: Optional[str] = None,
    at: Tuple[int, int] = (10, 40),
    size: float = 24.0,
    space: float = 0.1,
    text_color: Union[str, int] = "red",
    box: Union[None, Rect, Sequence[Rect]] = None,
    box_color: Union[str, int] = "red",
    flip: bool = False,
    quality: float = 2.0,
    client: Any = None,
    workers: Optional[int] = None,
    chunk_size: Optional[int] = None,
    progress: Optional[Callable[[FileResult], None]] = None,
    tune_malloc: bool = True,
) -> Summary:
    """Loads each input, flips, resizes, captions, marks and saves it into out_dir.

    inputs: file names (a folder stands for its pictures, sorted by name; on a cluster the
    names must reach the same files on every worker), picture bytes, or (name, bytes) pairs.
    Outputs are named after the inputs, with the extension ``format`` when given. Two inputs
    that would share an output name raise :class:`OutputClashError` before any work.

    client: a ``dask.distributed.Client``; without one the pictures are worked on by a local
    pool of ``workers`` threads. On a cluster each worker process first lets glibc keep freed
    picture buffers (:func:`tune_worker_malloc`; ``tune_malloc=False`` leaves the workers'
    allocator as Dask set it). Returns the per-file results; ``summary.report()`` is the text
    ``zavimage annotate`` prints.
    """
    steps = Steps(flip=flip, resize=tuple(resize) if resize else None, text=text, at=tuple(at),
                  size=size, space=space, text_color=text_color, boxes=_rects(box),
                  box_color=box_color, quality=quality)
    jobs = plan(inputs, out_dir, format)
    return run(jobs, steps, client=client, workers=workers, chunk_size=chunk_size,
               progress=progress, tune_malloc=tune_malloc)
