"""The typical job on many pictures (load, flip, resize, caption, mark, save), run by the
library's job layer: the same job, outputs and summary as ``zavimage annotate``.

The options become a job document that the library checks and plans (every output worked out
before any work); the files are worked on by local threads, or as tasks on the workers of a Dask
cluster (``dask.distributed.Client``), each worker process with its own library and component
objects working on the items of the planned job it was sent.

>>> from zavimage import batch
>>> summary = batch.annotate(["cam1/"], "marked", format="jpg", text="cam 1",
...                          box=(200, 120, 64, 48), resize=(1280, 720))
>>> print(summary.report(), end="")
annotate: 300 succeeded, 0 failed
"""

from __future__ import annotations

import concurrent.futures
import ctypes
import math
import os
import sys
import threading
import uuid
from ctypes import c_int32
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, Iterable, List, Optional, Sequence, Tuple, Union

from . import _job
from .text import color_value, with_color
from ._job import DISCARDED, FAILED, PENDING, WRITTEN, Job
from .errors import OutputClashError, OverwriteError, PathName, UsageError

__all__ = ["FileResult", "Job", "OutputClashError", "OverwriteError", "Summary", "UsageError",
           "annotate", "document", "plan", "run", "tune_worker_malloc"]

BytesLike = Union[bytes, bytearray, memoryview]
#: An input: a file name (a folder stands for the pictures in it), a picture's bytes, or a
#: (name, bytes) pair whose name gives the output its name.
Input = Union[PathName, BytesLike, Tuple[str, BytesLike]]
Rect = Tuple[int, int, int, int]

# The caption's fields, as annotate() and the command line take them.
_CAPTION_FIELDS = ("at", "size", "space", "text_color", "classic", "opacity", "outline",
                   "background", "font", "anchor")


# ---- the document ----

def caption(text: Optional[str], **options: Any) -> Optional[Dict[str, Any]]:
    """A caption of the document from annotate()'s arguments (None: not given)."""
    given = {k: v for k, v in options.items() if v is not None}
    if text is None and not given:
        return None
    c: Dict[str, Any] = {} if text is None else {"text": text}
    for key, value in given.items():
        if key in ("at", "resize") and isinstance(value, tuple):
            value = list(value)
        elif key == "text_color":  # ints are the classic colour codes here
            value = color_value(value, codes=True)
        elif key == "outline":
            value = with_color(value, 1, codes=True)
        elif key == "background":
            value = with_color(value, 0, codes=True)
        elif key == "font":
            value = _job.name_value(value)
        c[key] = value
    return c


def _inputs(inputs: Union[Input, Iterable[Input]]) -> Tuple[List[Any], Dict[int, Any]]:
    """The inputs as the document names them, and the bytes of those given as bytes."""
    if isinstance(inputs, (str, bytes, bytearray, memoryview, os.PathLike)):
        inputs = [inputs]  # one input, not its letters
    named: List[Any] = []
    memory: Dict[int, Any] = {}
    for i, item in enumerate(inputs):
        if isinstance(item, tuple):
            name, data = item
            named.append({"name": _job.name_value(name), "memory": True})
            memory[i] = data
        elif isinstance(item, (bytes, bytearray, memoryview)):
            named.append({"name": f"frame{i:06d}", "memory": True})
            memory[i] = item
        else:
            named.append(_job.name_value(item))
    return named, memory


def _boxes(box: Any) -> List[Any]:
    if box is None:
        return []
    if isinstance(box, str) or (isinstance(box, (tuple, list)) and len(box) == 4 and
                                all(isinstance(v, int) for v in box)):
        box = [box]
    return [list(b) if isinstance(b, tuple) else b for b in box]


def document(inputs: Union[Input, Iterable[Input]] = (), out_dir: Optional[PathName] = None, *,
             output: Optional[PathName] = None, format: Optional[str] = None,
             recursive: bool = False, in_place: bool = False, no_clobber: bool = False,
             color: bool = False, resize: Any = None, resize_filter: Optional[str] = None,
             auto_orient: bool = False, name: Optional[str] = None, text: Optional[str] = None,
             captions: Optional[Sequence[Dict[str, Any]]] = None, box: Any = None,
             box_color: Any = None, boxes: Optional[PathName] = None,
             min_score: Optional[float] = None, box_style: Optional[str] = None,
             box_width: Optional[int] = None, label: Optional[bool] = None, flip: bool = False,
             quality: Optional[float] = None, jpeg_quality: Optional[int] = None,
             **caption_options: Any) -> Tuple[Dict[str, Any], Dict[int, Any]]:
    """The job document for annotate()'s arguments, and the bytes of inputs given as bytes."""
    unknown = set(caption_options) - set(_CAPTION_FIELDS)
    if unknown:
        raise TypeError(f"unexpected argument {sorted(unknown)[0]!r}")
    named, memory = _inputs(inputs)
    doc: Dict[str, Any] = {"version": 1, "inputs": named}
    for key, value in (("recursive", recursive), ("in_place", in_place),
                       ("no_clobber", no_clobber), ("color", color), ("flip", flip),
                       ("auto_orient", auto_orient)):
        if value:
            doc[key] = bool(value)
    if out_dir is not None:
        doc["out_dir"] = _job.name_value(out_dir)
    if output is not None:
        doc["output"] = _job.name_value(output)
    for key, value in (("format", format), ("quality", quality),
                       ("jpeg_quality", jpeg_quality), ("box_color", box_color),
                       ("resize_filter", resize_filter), ("name", name),
                       ("min_score", min_score), ("box_style", box_style),
                       ("box_width", box_width), ("label", label)):
        if value is not None:
            doc[key] = value
    if resize is not None:
        doc["resize"] = list(resize) if isinstance(resize, tuple) else resize
    c = caption(text, **caption_options)
    listed = [caption(**dict(given)) for given in captions or ()]
    if c is not None or listed:
        doc["captions"] = ([c] if c is not None else []) + listed
    if boxes is not None:
        doc["detections"] = _job.name_value(boxes)
    boxes = _boxes(box)
    if boxes:
        doc["boxes"] = boxes
    return doc, memory


def plan(inputs: Union[Input, Iterable[Input]], out_dir: Optional[PathName] = None,
         **options: Any) -> Job:
    """The planned job for annotate()'s arguments (nothing done yet): raises
    :class:`UsageError`, :class:`OutputClashError` or :class:`OverwriteError`."""
    doc, memory = document(inputs, out_dir, **options)
    job = Job(doc).plan()
    for source, data in memory.items():
        job.set_input_bytes(source, data)
    job.memory = memory  # sent to the workers of a cluster with their items
    return job


# ---- results ----

@dataclass(frozen=True)
class FileResult:
    """How one picture went: ``ok``; else ``reason`` (as the tool words it), ``status`` (the
    library's code, -1 when the failure is not a file's), whether the reason concerns the
    output, and whether a stop discarded the work."""

    input: str
    output: str
    ok: bool
    reason: str = ""
    status: int = 0
    about_output: bool = False
    discarded: bool = False
    message: str = ""  # "NAME: reason" as the tool prints it

    def describe(self) -> str:
        return self.message

    @classmethod
    def of(cls, item: _job.Item) -> "FileResult":
        return cls(item.input, item.output, item.state == WRITTEN, item.reason, item.status,
                   item.about_output, item.state == DISCARDED, item.message)


@dataclass
class Summary:
    """The results of a batch: first the inputs found unworkable before the work, then one
    result per file worked on, in the order of the inputs."""

    job: Job
    results: List[FileResult] = field(default_factory=list)
    stopped_by: Optional[str] = None  # "SIGINT" when a stop ended the batch early

    def _counts(self):
        return self.job.counts()

    @property
    def succeeded(self) -> int:
        return self._counts().written

    @property
    def failed(self) -> int:
        return self._counts().failed

    @property
    def skipped(self) -> int:
        return self._counts().skipped

    @property
    def not_done(self) -> int:
        return self._counts().notDone

    @property
    def subfolders(self) -> int:
        return self._counts().subfolders

    @property
    def other_files(self) -> int:
        return self._counts().otherFiles

    def report(self, command: str = "annotate") -> str:
        """The summary as ``zavimage annotate`` prints it."""
        return self.job.summary(command, self.stopped_by)

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


# The planned jobs a worker process was sent, by key (a batch's chunks share one).
_worker_jobs: Dict[str, Job] = {}
_worker_jobs_lock = threading.Lock()


def _worker_job(key: str, exported: bytes) -> Job:
    with _worker_jobs_lock:
        job = _worker_jobs.get(key)
        if job is None:
            while len(_worker_jobs) >= 4:  # keep the latest few batches
                _worker_jobs.pop(next(iter(_worker_jobs)))
            job = _worker_jobs[key] = Job(exported, exported=True)
            job.make_folders()  # a worker may be the first to see the folder
        return job


def _run_chunk(chunk: Sequence[Tuple[int, int, Any]], exported: bytes, batch_key: str,
               stop_name: str, tune_malloc: bool = True) -> List[Tuple[int, int, int, bool, str]]:
    """One task: the items of a chunk, one after another, on the worker it runs on; none is
    started once the batch's stop event is set."""
    if tune_malloc:
        tune_worker_malloc()
    from distributed import Event

    job = _worker_job(batch_key, exported)
    stop = Event(stop_name)
    results = []
    for index, source, data in chunk:
        if stop.is_set():
            results.append((index, PENDING, 0, False, ""))
            continue
        if data is not None:
            job.set_input_bytes(source, data)
        item = job.run_item(index)
        results.append((index, item.state, item.status, item.about_output, item.reason))
    return results


def _stopped(stop: Optional[threading.Event]) -> bool:
    return stop is not None and stop.is_set()


def _run_local(job: Job, work: List[int], workers: Optional[int],
               done: Callable[[_job.Item], None],
               stopping: Callable[[], Optional[str]]) -> Optional[str]:
    """Local threads, one component object each. Returns what stopped the run, if anything."""
    flag = c_int32(0)
    threads = max(1, min(workers or os.cpu_count() or 1, len(work)))
    stopped_by: Optional[str] = None
    def one(index: int) -> Optional[_job.Item]:
        # a stop seen by any thread starts no further file and discards the work before a save
        if flag.value or stopping():
            flag.value = 1
            return None
        return job.run_item(index, flag)

    with concurrent.futures.ThreadPoolExecutor(threads, thread_name_prefix="zavimage") as pool:
        pending = {pool.submit(one, index) for index in work}
        try:
            while pending:
                finished, pending = concurrent.futures.wait(
                    pending, timeout=0.05, return_when=concurrent.futures.FIRST_COMPLETED)
                for f in finished:
                    if not f.cancelled() and f.result() is not None:
                        done(f.result())
                if stopped_by is None and stopping():
                    stopped_by = stopping()
                    flag.value = 1  # no save begins; the items not started are discarded
        except KeyboardInterrupt:
            stopped_by = "SIGINT"
            flag.value = 1
        if stopped_by is not None:
            for f in pending:
                f.cancel()
            for f in concurrent.futures.as_completed([f for f in pending if not f.cancelled()]):
                if f.result() is not None:
                    done(f.result())
    return stopped_by


def _worker_threads(client: Any) -> int:
    try:
        return max(1, sum(client.nthreads().values()))
    except Exception:
        return 1


def _run_cluster(job: Job, work: List[int], client: Any, chunk_size: Optional[int],
                 tune_malloc: bool, done: Callable[[_job.Item], None],
                 stopping: Callable[[], Optional[str]], memory: Dict[int, Any]) -> Optional[str]:
    """Tasks on a Dask cluster. A stop sets the batch's event: the workers start no further
    file and every task comes back, so every file written is counted."""
    from distributed import Event
    from distributed import as_completed as dask_completed

    key = uuid.uuid4().hex
    stop_name = f"zavimage-stop-{key}"
    event = Event(stop_name, client=client)
    if chunk_size is None:
        chunk_size = math.ceil(len(work) / (4 * _worker_threads(client)))
    chunks = []
    for i in range(0, len(work), chunk_size):
        chunk = []
        for index in work[i:i + chunk_size]:
            source = job.item(index).source
            chunk.append((index, source, memory.get(source)))
        chunks.append(chunk)
    exported = client.scatter(job.export(), broadcast=True)
    payload: List[Any] = chunks
    if memory:  # pictures go straight to the workers, not through the scheduler
        payload = client.scatter(chunks)
    futures = client.map(_run_chunk, payload, exported=exported, batch_key=key, stop_name=stop_name,
                         tune_malloc=tune_malloc, pure=False)
    stopped_by: Optional[str] = None
    remaining = dask_completed(futures, with_results=False)
    try:
        while True:
            try:
                for f in remaining:
                    try:
                        results = f.result()
                    except concurrent.futures.CancelledError:
                        if stopped_by is None:
                            stopped_by = "a cancelled task"
                            event.set()
                        continue
                    recorded = []
                    for index, state, status, about_output, reason in results:
                        if state != PENDING:
                            job.record(index, state, status, about_output, reason)
                            recorded.append(index)
                    for index in recorded:
                        done(job.item(index))
                    if stopped_by is None and stopping():
                        stopped_by = stopping()
                        event.set()
                break
            except KeyboardInterrupt:
                stopped_by = "SIGINT"
                event.set()  # and wait for every task: each ends at its next file
    finally:
        if stopped_by is None:
            event.clear()
    return stopped_by


def run(job: Job, *, client: Any = None, workers: Optional[int] = None,
        chunk_size: Optional[int] = None, progress: Optional[Callable[[FileResult], None]] = None,
        tune_malloc: bool = True, stop: Optional[threading.Event] = None,
        stop_name: Optional[str] = None) -> Summary:
    """Runs a planned job locally (``workers`` threads, default one per core) or on a Dask
    client's cluster (chunks of ``chunk_size`` files, default four chunks per worker thread;
    ``tune_malloc``: see :func:`tune_worker_malloc`). The output folders are made first, when
    there is work. A picture for standard output ("-") is written to ``sys.stdout``.

    Setting ``stop`` (from a signal handler, say), a KeyboardInterrupt or a cancelled task
    starts no further file; the files in progress finish unless their save has not begun, and
    the summary counts exactly the files written. It tells ``stop_name`` (default "SIGINT" for a
    KeyboardInterrupt).
    """
    items = job.items()
    work = [it.index for it in items if not it.planned]
    results: Dict[int, FileResult] = {it.index: FileResult.of(it) for it in items if it.planned}

    interrupted: List[bool] = []

    def stopping() -> Optional[str]:
        """What asks the run to stop: a KeyboardInterrupt in the progress callback, or `stop`."""
        if interrupted:
            return "SIGINT"
        return "request" if _stopped(stop) else None

    def done(item: _job.Item) -> None:
        if item.state == WRITTEN and item.output == "-":
            try:
                sys.stdout.buffer.write(item.data)
                sys.stdout.buffer.flush()
            except OSError as e:
                job.record(item.index, FAILED, -1, True, f"write failed: {e.strerror}")
                item = job.item(item.index)
        result = FileResult.of(item)
        results[item.index] = result
        if progress is not None and item.state in (WRITTEN, FAILED):
            try:
                progress(result)
            except KeyboardInterrupt:  # recorded; the run stops as for Ctrl-C
                interrupted.append(True)

    stopped_by: Optional[str] = None
    if work and _stopped(stop):
        stopped_by = "request"
    elif work:
        job.make_folders()
        if client is None:
            stopped_by = _run_local(job, work, workers, done, stopping)
        else:
            stopped_by = _run_cluster(job, work, client, chunk_size, tune_malloc, done, stopping,
                                      getattr(job, "memory", {}))
    if stopped_by is not None and stop_name is not None:
        stopped_by = stop_name
    ordered = [results[i] for i in sorted(results)]
    return Summary(job, ordered, stopped_by)


def local_client(workers: Optional[int] = None, *, dashboard: bool = False,
                 **cluster_options: Any) -> Any:
    """A ``dask.distributed.Client`` over a cluster of worker processes on this machine that
    listens on 127.0.0.1 alone: scheduler, workers and dashboard are not reachable from the
    network (a Dask scheduler runs whatever code a client sends it). ``workers`` processes of one
    thread each (default: one per core); the dashboard is off unless ``dashboard`` is true, and
    the scheduler's HTTP server is on 127.0.0.1 at a free port either way
    (``client.dashboard_link``). Closing the client (``with``, or
    ``close()``) ends the cluster. Further keyword arguments go to ``LocalCluster``; ``host``,
    ``dashboard_address`` and ``worker_dashboard_address`` are this function's.
    """
    from distributed import Client

    for name in ("host", "dashboard_address", "worker_dashboard_address", "ip"):
        if name in cluster_options:
            raise TypeError(f"local_client() sets {name} itself (127.0.0.1 only)")
    cluster_options.setdefault("threads_per_worker", 1)
    cluster_options.setdefault("processes", True)
    # The scheduler's HTTP server (the dashboard, and its health and metrics pages) binds to the
    # address given here: without one it would listen on every interface at 8787, even with the
    # dashboard off.
    scheduler = dict(cluster_options.pop("scheduler_kwargs", None) or {}, dashboard=dashboard)
    # Each worker has an HTTP server of its own (its status pages), which listens on every
    # interface unless given an address too.
    return Client(n_workers=workers or os.cpu_count() or 1, host="127.0.0.1",
                  dashboard_address="127.0.0.1:0", worker_dashboard_address="127.0.0.1:0",
                  scheduler_kwargs=scheduler, **cluster_options)


def annotate(
    inputs: Union[Input, Iterable[Input]],
    out_dir: Optional[PathName] = None,
    *,
    client: Any = None,
    workers: Optional[int] = None,
    chunk_size: Optional[int] = None,
    progress: Optional[Callable[[FileResult], None]] = None,
    tune_malloc: bool = True,
    stop: Optional[threading.Event] = None,
    **options: Any,
) -> Summary:
    """Loads each input, flips, resizes, captions, marks and saves it into out_dir (or the one
    ``output`` file), as ``zavimage annotate`` does with the same options: output, format,
    recursive, in_place, no_clobber, color, resize, resize_filter, auto_orient, name, text, at,
    size, space, text_color, classic, opacity, outline, background, font, anchor, box, box_color,
    boxes (a detector's CSV or JSON Lines file, as --boxes), min_score, box_style, box_width,
    label, flip, quality, jpeg_quality; ``captions``: further captions, each a dict of text and
    the caption's options. Captions and ``name`` may hold fields ({stem}, {index},
    {mtime:%F %T}, {exif:Model}, ...).

    inputs: a file name (a folder stands for its pictures, sorted by name; ``recursive`` walks
    its subfolders, whose places are kept under out_dir; on a cluster the names must reach the
    same files on every worker), picture bytes, (name, bytes) pairs, or a list of them. Values
    take the tool's forms ("640x360", "10,40", "50%") or Python's ((640, 360), (10, 40)).

    Before any work, and without writing anything, raises :class:`UsageError` (a ValueError
    naming the field and the value), :class:`OutputClashError` when two inputs would write one
    output, :class:`OverwriteError` when an output is one of the inputs (same device and inode)
    unless ``in_place``. A caption start or box that lies outside a picture (after resizing)
    fails that picture.

    client: a ``dask.distributed.Client``; without one the pictures are worked on by a local pool
    of ``workers`` threads. Returns the per-file results; ``summary.report()`` is the text
    ``zavimage annotate`` prints.
    """
    return run(plan(inputs, out_dir, **options), client=client, workers=workers,
               chunk_size=chunk_size, progress=progress, tune_malloc=tune_malloc, stop=stop)
