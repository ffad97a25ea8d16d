"""The native library: finding libzavimage.so.1, the C prototypes, one component object per thread.

The library is looked for, in this order:

1. the file named by the environment variable ``ZAVIMAGE_LIBRARY`` (a build tree's
   ``build/release/libzavimage.so.1``);
2. the library installed beside this package by ``cmake --install`` (the relative location is
   written into ``_location.py`` at install time);
3. ``libzavimage.so.1`` through the system's dynamic loader (``LD_LIBRARY_PATH``, ``ldconfig``).

ctypes calls into the library without holding the interpreter lock, so threads that each use
their own component object run in parallel.
"""

from __future__ import annotations

import ctypes
import os
import threading
from ctypes import POINTER, c_char_p, c_float, c_int32, c_size_t, c_uint8, c_uint32, c_void_p
from typing import Optional

from .errors import Error, MissingFeatureError

LIBRARY_NAME = "libzavimage.so.1"
ENV_LIBRARY = "ZAVIMAGE_LIBRARY"


class ImageStruct(ctypes.Structure):
    """ZAVImageStruct: geometry and the address of the first byte of the top row."""

    _fields_ = [
        ("width", c_int32),
        ("height", c_int32),
        ("depth", c_int32),
        ("channels", c_int32),
        ("data", c_void_p),
    ]


class ImageRect(ctypes.Structure):
    """ZAVImageRect: origin and extent in pixels."""

    _fields_ = [("x", c_int32), ("y", c_int32), ("width", c_int32), ("height", c_int32)]


_obj = c_void_p
_rec = POINTER(ImageStruct)

# name: (result type, argument types). Every function the package uses but the memory ones.
_PROTOTYPES = {
    "ZAVCreateObject": (c_void_p, []),
    "ZAVDestroyObject": (None, [_obj]),
    "ZAVSetImageQuality": (c_int32, [_obj, c_float]),
    "ZAVCreateImage": (c_int32, [_obj, c_int32, c_int32, c_int32, c_int32, _rec]),
    "ZAVReleaseImage": (c_int32, [_obj, POINTER(_rec)]),
    "ZAVCloneImage": (c_int32, [_obj, _rec, _rec]),
    "ZAVLoadImageUtf8": (c_int32, [_obj, c_char_p, _rec]),
    "ZAVSaveImageUtf8": (
        c_int32,
        [_obj, c_char_p, c_void_p, c_int32, c_int32, c_int32, c_int32],
    ),
    "ZAVGetFileStatus": (c_int32, [_obj]),
    "ZAVFileStatusText": (c_char_p, [c_int32]),
    "ZAVFlipImage": (c_int32, [_obj, c_void_p, c_int32, c_int32, c_int32, c_int32]),
    "ZAVReSizeImage": (c_int32, [_obj, _rec, _rec]),
    "ZAVCopyImage": (
        c_int32,
        [_obj, _rec, c_int32, c_int32, c_int32, c_int32, _rec, c_int32, c_int32, c_int32, c_int32],
    ),
    "ZAVDrawRect": (c_int32, [_obj, _rec, ImageRect, c_int32]),
    "ZAVPutTextToImageUtf8": (
        c_int32,
        [_obj, _rec, c_char_p, c_int32, c_int32, c_int32, c_float, c_float, c_float],
    ),
    "ZAVSetFontPath": (c_int32, [_obj, c_char_p]),
    "ZAVProbeImageFileUtf8": (
        c_int32,
        [_obj, c_char_p, POINTER(c_char_p), POINTER(c_int32), POINTER(c_int32)],
    ),
    # Paths opened as given (no name rules), as the command-line tool opens them.
    "ZAVLoadImagePath": (c_int32, [_obj, c_char_p, _rec]),
    "ZAVSaveImagePath": (c_int32, [_obj, c_char_p, c_void_p, c_int32, c_int32, c_int32, c_int32]),
    "ZAVProbeImagePath": (
        c_int32,
        [_obj, c_char_p, POINTER(c_char_p), POINTER(c_int32), POINTER(c_int32), POINTER(c_int32)],
    ),
}

# Pictures in memory: present in libraries that have them; bound when found.
_MEMORY_PROTOTYPES = {
    "ZAVLoadImageMemory": (c_int32, [_obj, c_void_p, c_size_t, _rec]),
    "ZAVSaveImageMemory": (
        c_int32,
        [
            _obj,
            c_char_p,
            c_void_p,
            c_int32,
            c_int32,
            c_int32,
            c_int32,
            POINTER(POINTER(c_uint8)),
            POINTER(c_size_t),
        ],
    ),
    "ZAVFreeMemory": (None, [c_void_p]),
    "ZAVProbeImageMemory": (
        c_int32,
        [
            _obj,
            c_void_p,
            c_size_t,
            POINTER(c_char_p),
            POINTER(c_int32),
            POINTER(c_int32),
            POINTER(c_int32),
        ],
    ),
}



class TextStyle(ctypes.Structure):
    """ZAVTextStyle, field for field (ctypes pads the pointer after structSize as C does)."""

    _fields_ = [
        ("structSize", c_uint32),
        ("font", c_char_p),
        ("faceIndex", c_int32),
        ("pixelSize", c_float),
        ("color", c_uint32),
        ("opacity", c_float),
        ("letterSpacing", c_float),
        ("lineSpacing", c_float),
        ("hAnchor", c_int32),
        ("vAnchor", c_int32),
        ("flags", c_uint32),
        ("outlineWidth", c_float),
        ("outlineColor", c_uint32),
        ("outlineOpacity", c_float),
        ("backgroundColor", c_uint32),
        ("backgroundOpacity", c_float),
        ("backgroundPadding", c_int32),
    ]


class TextMetrics(ctypes.Structure):
    """ZAVTextMetrics."""

    _fields_ = [
        (name, c_int32)
        for name in ("inkX", "inkY", "inkWidth", "inkHeight", "boxX", "boxY", "boxWidth",
                     "boxHeight", "advanceWidth", "baseline", "lineCount")
    ]


# Typographic captions: present in libraries that have them; bound when found.
_TEXT_PROTOTYPES = {
    "ZAVInitTextStyle": (None, [POINTER(TextStyle)]),
    "ZAVDrawTextUtf8": (c_int32, [_obj, _rec, c_char_p, c_int32, c_int32, POINTER(TextStyle)]),
    "ZAVMeasureTextUtf8": (
        c_int32,
        [_obj, c_char_p, c_int32, c_int32, POINTER(TextStyle), POINTER(TextMetrics)],
    ),
}


class JobItem(ctypes.Structure):
    """ZAVJobItem: one input of a planned job and how its work went."""

    _fields_ = [
        ("state", c_int32),
        ("status", c_int32),
        ("aboutOutput", c_int32),
        ("planned", c_int32),
        ("input", ctypes.c_void_p),  # bytes of names that need not be UTF-8: read with string_at
        ("output", ctypes.c_void_p),
        ("reason", c_char_p),
        ("message", c_char_p),
        ("bytes", c_void_p),
        ("size", c_size_t),
        ("source", c_size_t),
    ]


class JobCounts(ctypes.Structure):
    """ZAVJobCounts."""

    _fields_ = [(name, c_size_t) for name in ("written", "failed", "skipped", "notDone",
                                               "subfolders", "otherFiles")]


_job = c_void_p
# Jobs (include/zavimage/job.h): present in libraries that have them; bound when found.
_JOB_PROTOTYPES = {
    "ZAVJobCreate": (_job, [c_char_p]),
    "ZAVJobImport": (_job, [c_char_p]),
    "ZAVJobDestroy": (None, [_job]),
    "ZAVJobStatus": (c_int32, [_job]),
    "ZAVJobMessage": (c_char_p, [_job]),
    "ZAVJobOptionMessage": (c_char_p, [_job]),
    "ZAVJobRefusal": (c_int32, [_job]),
    "ZAVJobPlan": (c_int32, [_job]),
    "ZAVJobNeedsStandardInput": (c_int32, [_job]),
    "ZAVJobSetStandardInput": (c_int32, [_job, c_void_p, c_size_t]),
    "ZAVJobSetInputBytes": (c_int32, [_job, c_size_t, c_void_p, c_size_t]),
    "ZAVJobMakeFolders": (c_int32, [_job]),
    "ZAVJobItemCount": (c_size_t, [_job]),
    "ZAVJobGetItem": (c_int32, [_job, c_size_t, POINTER(JobItem)]),
    "ZAVJobRunItem": (c_int32, [_job, _obj, c_size_t, POINTER(c_int32)]),
    "ZAVJobRecordItem": (c_int32, [_job, c_size_t, c_int32, c_int32, c_int32, c_char_p]),
    "ZAVJobExport": (c_void_p, [_job]),
    "ZAVJobGetCounts": (c_int32, [_job, POINTER(JobCounts)]),
    "ZAVJobSummary": (c_char_p, [_job, c_char_p, c_char_p]),
    "ZAVJobApplySteps": (c_int32, [_job, _obj, _rec, c_char_p, c_size_t]),
    "ZAVJobQuality": (c_int32, [_job, POINTER(c_float)]),
    "ZAVJobMeasureCaption": (c_int32, [_job, _obj, c_size_t, c_int32, c_int32,
                                       POINTER(TextMetrics)]),
    "ZAVJobColor": (c_int32, [c_char_p, POINTER(c_uint32)]),
    "ZAVFileFailureText": (c_char_p, [_obj, c_char_p, c_int32]),
    "ZAVPrintableName": (c_size_t, [c_char_p, c_char_p, c_size_t]),
    "ZAVFormatCount": (c_int32, []),
    "ZAVVersion": (c_char_p, []),
}


class FormatInfo(ctypes.Structure):
    """ZAVFormatInfo: one format of the library's table."""

    _fields_ = [("name", c_char_p), ("description", c_char_p), ("extensions", c_char_p),
                ("grayExtensions", c_char_p), ("reads", c_int32), ("writes", c_int32)]


def _candidates() -> list:
    found = []
    env = os.environ.get(ENV_LIBRARY)
    if env:
        found.append(env)
    try:
        from . import _location  # written by cmake --install

        here = os.path.dirname(os.path.abspath(__file__))
        found.append(os.path.normpath(os.path.join(here, _location.LIBRARY)))
    except ImportError:
        pass
    found.append(LIBRARY_NAME)
    return found


def _open() -> ctypes.CDLL:
    tried = []
    for name in _candidates():
        if os.sep in name and not os.path.exists(name):
            tried.append(f"{name} (missing)")
            continue
        try:
            return ctypes.CDLL(name)
        except OSError as e:
            tried.append(f"{name} ({e})")
    raise ImportError(
        "zavimage: cannot load the native library; tried "
        + "; ".join(tried)
        + f". Set {ENV_LIBRARY} to the path of {LIBRARY_NAME}."
    )


def _bind(lib: ctypes.CDLL, prototypes: dict, required: bool) -> bool:
    for name, (restype, argtypes) in prototypes.items():
        if not hasattr(lib, name):
            if required:
                raise ImportError(f"zavimage: {lib._name} lacks {name}")
            return False
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes
    return True


lib = _open()
_bind(lib, _PROTOTYPES, required=True)
#: True when the library can load and save pictures held in memory.
HAS_MEMORY = _bind(lib, _MEMORY_PROTOTYPES, required=False)
#: True when the library draws typographic captions (ZAVDrawTextUtf8).
HAS_TEXT = _bind(lib, _TEXT_PROTOTYPES, required=False)
# Jobs: batches, captions and boxes placed by the job's rules, the format table. The package
# needs them (a library of this version has them).
_bind(lib, _JOB_PROTOTYPES, required=True)
lib.ZAVGetFormat.restype = c_int32
lib.ZAVGetFormat.argtypes = [c_int32, POINTER(FormatInfo)]
#: The path of the library in use.
LIBRARY_PATH: str = lib._name


def need_memory() -> None:
    """Raises MissingFeatureError when the library cannot work on pictures in memory."""
    if not HAS_MEMORY:
        raise MissingFeatureError(
            f"needs a library with memory functions (ZAVLoadImageMemory); {LIBRARY_PATH} has none"
        )


def _check_text_style() -> None:
    # The library writes the size of its own struct: a layout that differs from the one above
    # would pass wrong values, so it is refused here rather than at the first caption.
    raw = (c_uint8 * (ctypes.sizeof(TextStyle) + 256))()
    lib.ZAVInitTextStyle(ctypes.cast(raw, POINTER(TextStyle)))
    told = c_uint32.from_buffer(raw).value
    if told != ctypes.sizeof(TextStyle):
        raise ImportError(f"zavimage: {lib._name} has a ZAVTextStyle of {told} bytes; this "
                          f"package knows one of {ctypes.sizeof(TextStyle)}")


if HAS_TEXT:
    _check_text_style()


def need_text() -> None:
    """Raises MissingFeatureError when the library has no typographic captions."""
    if not HAS_TEXT:
        raise MissingFeatureError(
            f"needs a library with typographic captions (ZAVDrawTextUtf8); {LIBRARY_PATH} has none"
        )


class _Component:
    """One component object, destroyed with its thread's local storage."""

    __slots__ = ("handle", "_destroy")

    def __init__(self) -> None:
        handle = lib.ZAVCreateObject()
        if not handle:
            raise MemoryError("zavimage: no memory for a component object")
        self.handle = c_void_p(handle)
        self._destroy = lib.ZAVDestroyObject

    def __del__(self) -> None:
        self._destroy(self.handle)


_local = threading.local()


def component() -> c_void_p:
    """This thread's component object (made on first use): objects are not shared by threads."""
    comp: Optional[_Component] = getattr(_local, "component", None)
    if comp is None:
        comp = _local.component = _Component()
    return comp.handle


def status_text(status: int) -> str:
    """The library's text for a file status."""
    text = lib.ZAVFileStatusText(status)
    return text.decode("utf-8", "replace") if text else "failed"


def last_error(obj: c_void_p, path: Optional[str] = None, raw: Optional[bytes] = None,
               writing: bool = False) -> Error:
    """The exception for the object's last load or save of the file named `raw` (shown as
    `path`), with the reason as the library words it ("folder not found", ...)."""
    from .errors import error_for_status

    status = lib.ZAVGetFileStatus(obj)
    if raw is not None:
        text = lib.ZAVFileFailureText(obj, raw, 1 if writing else 0)
        reason = text.decode("utf-8", "replace") if text else status_text(status)
    else:
        reason = status_text(status)
    return error_for_status(status, reason, path)


def printable(name) -> str:
    """A name as the library's messages show it: control characters and bytes that are not
    UTF-8 escaped."""
    raw = name if isinstance(name, bytes) else os.fsencode(name)
    if b"\0" in raw:
        raw = raw.replace(b"\0", b"\\x00")  # cannot reach the library: shown escaped
    size = lib.ZAVPrintableName(raw, None, 0)
    out = ctypes.create_string_buffer(size + 1)
    lib.ZAVPrintableName(raw, out, size + 1)
    return out.value.decode("utf-8", "replace")


def formats() -> list:
    """The library's format table: FormatInfo records, in the order files are tried."""
    found = []
    for i in range(lib.ZAVFormatCount()):
        info = FormatInfo()
        if lib.ZAVGetFormat(i, ctypes.byref(info)) == 0:
            found.append(info)
    return found
