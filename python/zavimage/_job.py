"""Jobs of the library (zavimage/job.h): a JSON document checked, planned and worked on by the
library, item by item. Every rule of the job (the values, the outputs' names, the steps, the gray
rule, the summary's wording) is the library's; this module only carries documents and results
across ctypes.
"""

from __future__ import annotations

import ctypes
import functools
import json
import os
from ctypes import byref, c_char_p, c_float, c_int32, c_uint32
from dataclasses import dataclass
from typing import Any, Dict, List, Optional

from . import _lib
from ._lib import JobCounts, JobItem, lib
from .errors import OutputClashError, OverwriteError, UsageError

# Results of the job calls and the states of items (ZAV_JOB_*, ZAV_ITEM_*).
JOB_OK = 0
JOB_REFUSED = 2
JOB_BAD_CALL = 3
JOB_NO_MEMORY = 4
JOB_FAILED = 5
JOB_MISSES = 6
PENDING, WRITTEN, FAILED, SKIPPED, DISCARDED = range(5)
_REFUSED_CLASH = 2
_REFUSED_OVERWRITE = 3


def name_value(name: Any) -> Any:
    """A file or folder name as a job document holds it: a string, or {"hex": ...} for a name
    whose bytes are not UTF-8."""
    raw = os.fsencode(name)
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return {"hex": raw.hex()}


def _text(value: bytes) -> str:
    return value.decode("utf-8", "replace") if value else ""


def _name(address: Optional[int]) -> str:
    return os.fsdecode(ctypes.string_at(address)) if address else ""


def dumps(document: Dict[str, Any]) -> bytes:
    """The document as the library reads it (UTF-8; text that cannot be UTF-8 replaced)."""
    return json.dumps(document, ensure_ascii=False).encode("utf-8", "replace")


@dataclass(frozen=True)
class Item:
    """One item of a planned job: its input and output and how its work went."""

    index: int
    state: int
    status: int
    about_output: bool
    planned: bool
    input: str
    output: str
    reason: str
    message: str
    source: int  # the input it comes from: its place among the inputs given
    data: bytes = b""  # the picture written to standard output


class Job:
    """A job of the library. Made from a document: refused values raise :class:`UsageError`."""

    def __init__(self, document: Any, *, exported: bool = False) -> None:
        """``exported``: the document is a planned job's :meth:`export`, taken back with its plan
        (checked against its description) in a worker process."""
        text = document if isinstance(document, bytes) else dumps(document)
        handle = (lib.ZAVJobImport if exported else lib.ZAVJobCreate)(text)
        if not handle:
            raise MemoryError("zavimage: no memory for a job")
        self._handle = ctypes.c_void_p(handle)
        self._destroy = lib.ZAVJobDestroy
        self._memory: Dict[int, Any] = {}  # bytes given for inputs, kept while the job lives
        self.memory: Dict[int, Any] = {}  # the same as given, for the workers of a cluster
        if lib.ZAVJobStatus(self._handle) != JOB_OK:
            raise self._refusal()

    def __del__(self) -> None:
        handle = getattr(self, "_handle", None)
        if handle:
            self._destroy(handle)

    def _refusal(self) -> UsageError:
        kind = lib.ZAVJobRefusal(self._handle)
        cls = {_REFUSED_CLASH: OutputClashError, _REFUSED_OVERWRITE: OverwriteError}.get(
            kind, UsageError)
        error = cls(_text(lib.ZAVJobMessage(self._handle)))
        # the same with the fields named as the command line's options ("--text-color")
        error.option_message = _text(lib.ZAVJobOptionMessage(self._handle))
        return error

    def plan(self) -> "Job":
        """Works out every output; raises :class:`OutputClashError`, :class:`OverwriteError` or
        :class:`UsageError` before anything is written."""
        if lib.ZAVJobPlan(self._handle) != JOB_OK:
            raise self._refusal()
        return self

    @property
    def handle(self) -> ctypes.c_void_p:
        return self._handle

    def needs_standard_input(self) -> bool:
        return lib.ZAVJobNeedsStandardInput(self._handle) != 0

    def set_standard_input(self, data: bytes) -> None:
        lib.ZAVJobSetStandardInput(self._handle, data, len(data))

    def set_input_bytes(self, source: int, data: Any) -> None:
        """The bytes of input number `source` (given as {"memory": true}); kept with the job."""
        view = memoryview(data).cast("B")
        buffer = (ctypes.c_uint8 * len(view)).from_buffer_copy(view) if len(view) else None
        self._memory[source] = buffer
        lib.ZAVJobSetInputBytes(self._handle, source, buffer, len(view))

    def make_folders(self) -> None:
        if lib.ZAVJobMakeFolders(self._handle) != JOB_OK:
            raise OSError(_text(lib.ZAVJobMessage(self._handle)))

    def __len__(self) -> int:
        return lib.ZAVJobItemCount(self._handle)

    def item(self, index: int) -> Item:
        raw = JobItem()
        if lib.ZAVJobGetItem(self._handle, index, byref(raw)) != JOB_OK:
            raise IndexError(index)
        data = ctypes.string_at(raw.bytes, raw.size) if raw.bytes else b""
        return Item(index, raw.state, raw.status, bool(raw.aboutOutput), bool(raw.planned),
                    _name(raw.input), _name(raw.output), _text(raw.reason), _text(raw.message),
                    raw.source, data)

    def items(self) -> List[Item]:
        return [self.item(i) for i in range(len(self))]

    def run_item(self, index: int, stop: Optional[c_int32] = None) -> Item:
        """Works on one item with this thread's component object."""
        lib.ZAVJobRunItem(self._handle, _lib.component(), index,
                          byref(stop) if stop is not None else None)
        return self.item(index)

    def record(self, index: int, state: int, status: int, about_output: bool,
               reason: str) -> None:
        """Records how an item went elsewhere (on a worker of a cluster)."""
        lib.ZAVJobRecordItem(self._handle, index, state, status, int(about_output),
                             reason.encode("utf-8", "replace"))

    def export(self) -> bytes:
        """The planned job as a document that a worker takes back already planned."""
        address = lib.ZAVJobExport(self._handle)
        if not address:
            raise MemoryError("zavimage: the job could not be exported")
        try:
            return ctypes.string_at(address)
        finally:
            lib.ZAVFreeMemory(address)

    def counts(self) -> JobCounts:
        counts = JobCounts()
        lib.ZAVJobGetCounts(self._handle, byref(counts))
        return counts

    def summary(self, command: str = "annotate", stopped_by: Optional[str] = None) -> str:
        text = lib.ZAVJobSummary(self._handle, command.encode("utf-8"),
                                 stopped_by.encode("utf-8") if stopped_by else None)
        return _text(text)

    def quality(self) -> float:
        q = c_float()
        lib.ZAVJobQuality(self._handle, byref(q))
        return q.value


@functools.lru_cache(maxsize=64)
def steps_job(text: bytes) -> Job:
    """A job of steps only, from its document's text: made once, then shared (read-only)."""
    return Job(text)


def color(name: str) -> Optional[int]:
    """The 0xRRGGBB value of a colour name or "#RRGGBB" as captions take it; None otherwise."""
    rgb = c_uint32()
    if lib.ZAVJobColor(name.encode("utf-8", "replace"), byref(rgb)) != JOB_OK:
        return None
    return rgb.value


def failure_text(obj: Any, path: bytes, writing: bool) -> str:
    return _text(lib.ZAVFileFailureText(obj, c_char_p(path), 1 if writing else 0))
