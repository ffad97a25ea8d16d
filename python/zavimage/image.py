"""Images held in pixel blocks of the library, with zero-copy numpy views."""

from __future__ import annotations

import ctypes
import os
from ctypes import byref, c_char_p, c_int32, c_size_t, c_uint8
from typing import Any, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np

from . import _job, _lib
from . import text as _text
from ._lib import ImageStruct, component, last_error, lib
from .errors import (
    FILE_TOO_LARGE,
    BufferFormatError,
    FontError,
    OutsideError,
    PathName,
    TooLargeError,
)

DEPTH_8U = 8
INT32_MIN = -(2**31)
INT32_MAX = 2**31 - 1

BytesLike = Union[bytes, bytearray, memoryview]
Source = Union[PathName, BytesLike]
Rect = Tuple[int, int, int, int]


class ImageInfo(NamedTuple):
    """What a picture file holds, told from its header: format description and size."""

    format: str
    width: int
    height: int


def _int32(value: int, what: str) -> int:
    value = int(value)
    if not INT32_MIN <= value <= INT32_MAX:
        raise ValueError(f"{what} {value} does not fit in 32 bits")
    return value


def _rect(rect: Sequence[int], what: str) -> Rect:
    if len(rect) != 4:
        raise ValueError(f"{what} must be (x, y, width, height), not {rect!r}")
    x, y, w, h = (_int32(v, what) for v in rect)
    return x, y, w, h


def _save_quality(quality: Optional[float], jpeg_quality: Optional[int]) -> float:
    """The save quality the job's rules give for these arguments (2 for neither)."""
    document = {}
    if quality is not None:
        document["quality"] = quality
    if jpeg_quality is not None:
        document["jpeg_quality"] = jpeg_quality
    return _job.steps_job(_job.dumps(document)).quality()


def _path(path: PathName) -> Tuple[bytes, str]:
    """The name as the library takes it (UTF-8 bytes) and as messages show it. A NUL character
    would end the name early in C ("a.jpg\\0.png" saving a.jpg): refused, as open() does."""
    raw = os.fsencode(path)
    if b"\0" in raw:
        raise ValueError(f"embedded null byte in the name {_lib.printable(raw)!r}")
    return raw, os.fsdecode(raw)


def _stride(width: int, channels: int) -> int:
    return (width * max(channels, 1) + 3) & ~3


class _Buffer:
    """One pixel block of the library, released when the last reference to it goes.

    Numpy arrays made from it keep it as their base, so the block lives as long as any view, and
    every call into the library holds it for the call's length (the call runs without the
    interpreter lock): an image closed or dropped by another thread meanwhile gives its block back
    only when the call has returned.
    """

    __slots__ = ("record", "__weakref__")

    def __init__(self, record: ImageStruct) -> None:
        self.record = record

    @property
    def stride(self) -> int:
        return _stride(self.record.width, self.record.channels)

    @property
    def __array_interface__(self) -> dict:
        r = self.record
        return {
            "version": 3,
            "shape": (r.height, r.width, r.channels),
            "typestr": "|u1",
            "data": (r.data, False),
            "strides": (self.stride, r.channels, 1),
        }

    def __del__(self) -> None:
        if self.record.data:
            try:
                lib.ZAVReleaseImage(component(), byref(ctypes.pointer(self.record)))
            except Exception:  # interpreter shutdown: the process gives the memory back
                return
            self.record.data = None


def _own(record: ImageStruct) -> "Image":
    if not record.data:
        lib.ZAVReleaseImage(component(), byref(ctypes.pointer(record)))
        raise TooLargeError(_lib.status_text(FILE_TOO_LARGE), FILE_TOO_LARGE)
    return Image._from_buffer(_Buffer(record))


def _new(width: int, height: int, channels: int) -> "Image":
    if width < 1 or height < 1:
        raise ValueError(f"an image needs a size of at least 1x1, not {width}x{height}")
    if not 1 <= channels <= 4:
        raise ValueError(f"an image has 1 to 4 channels, not {channels}")
    record = ImageStruct()
    lib.ZAVCreateImage(component(), _int32(width, "width"), _int32(height, "height"), DEPTH_8U,
                       channels, byref(record))
    return _own(record)


class _Bytes:
    """A pointer to the bytes of a bytes-like object, kept alive as long as this object."""

    def __init__(self, data: BytesLike) -> None:
        try:
            self.array = np.frombuffer(data, dtype=np.uint8)
        except ValueError:  # not contiguous
            self.array = np.frombuffer(bytes(memoryview(data)), dtype=np.uint8)
        self.pointer = self.array.ctypes.data if self.array.size else None
        self.size = self.array.size


class Format(NamedTuple):
    """One format of the library's table."""

    name: str
    extensions: Tuple[str, ...]  # the extensions written
    gray: Tuple[str, ...]  # of those, the ones a gray picture is written gray under
    reads: bool
    writes: bool


def formats() -> Tuple[Format, ...]:
    """The formats the library reads and writes, in the order files are tried."""
    return tuple(Format(f.name.decode(), tuple(f.extensions.decode().split()),
                        tuple(f.grayExtensions.decode().split()), bool(f.reads), bool(f.writes))
                 for f in _lib.formats())


def load(source: Source) -> "Image":
    """Loads a picture from a file name (str or path object) or from the bytes of a file
    (bytes, bytearray, memoryview: always the picture's content, never a name).

    The format is told by the first bytes (see :func:`formats`). The result is always 8-bit
    blue-green-red.

    Raises FileNotFoundError (:class:`NotFoundError`) for a missing file, another
    :class:`Error` subclass for everything else that stops the load.
    """
    obj = component()
    record = ImageStruct()
    if isinstance(source, (bytes, bytearray, memoryview)):
        _lib.need_memory()
        data = _Bytes(source)
        if lib.ZAVLoadImageMemory(obj, data.pointer, data.size, byref(record)) != 0:
            raise last_error(obj, "<bytes>")
    else:
        raw, shown = _path(source)
        if lib.ZAVLoadImageUtf8(obj, raw, byref(record)) != 0:
            raise last_error(obj, shown, raw)
    return _own(record)


def probe(source: Source) -> ImageInfo:
    """Tells a picture's format and size from its header, without decoding the pixels."""
    obj = component()
    fmt = c_char_p()
    width = c_int32()
    height = c_int32()
    if isinstance(source, (bytes, bytearray, memoryview)):
        _lib.need_memory()
        data = _Bytes(source)
        channels = c_int32()
        status = lib.ZAVProbeImageMemory(obj, data.pointer, data.size, byref(fmt), byref(width),
                                         byref(height), byref(channels))
        shown = "<bytes>"
    else:
        raw, shown = _path(source)
        status = lib.ZAVProbeImageFileUtf8(obj, raw, byref(fmt), byref(width), byref(height))
    if status != 0:
        raise last_error(obj, shown, None if isinstance(source, (bytes, bytearray, memoryview))
                         else raw)
    return ImageInfo((fmt.value or b"").decode("utf-8", "replace"), width.value, height.value)


class Image:
    """An 8-bit picture in a pixel block of the library (rows padded to 4 bytes).

    Made by :func:`load`, :meth:`from_array`, :meth:`resize` or :meth:`copy`. The block is given
    back to the library when the image is closed (``close()``, ``with``) or collected, but never
    while a numpy view of it (:attr:`array`) is alive: views keep the block.

    Operations that draw (flip, copy_region, draw_box, caption, text) change the pixels in place and
    return the image itself, so they chain: ``im.flip().draw_box((10, 10, 40, 30))``.
    """

    __slots__ = ("_buffer", "__weakref__")

    _buffer: Optional[_Buffer]

    def __init__(self) -> None:
        raise TypeError("use zavimage.load(), Image.from_array() or Image.blank()")

    @classmethod
    def _from_buffer(cls, buffer: _Buffer) -> "Image":
        self = object.__new__(cls)
        self._buffer = buffer
        return self

    # ---- making images ----

    @classmethod
    def from_array(cls, array: np.ndarray) -> "Image":
        """A new image holding a copy of a uint8 array of shape (h, w) or (h, w, c), c in 1..4.

        Any strides are accepted (slices, transposes, negative steps). Channels are taken as
        they are: the library's colour images are blue, green, red.
        """
        a = np.asarray(array)
        if a.dtype != np.uint8:
            raise TypeError(f"from_array needs a uint8 array, not {a.dtype}")
        if a.ndim == 2:
            a = a[:, :, np.newaxis]
        if a.ndim != 3:
            raise ValueError(f"from_array needs shape (h, w) or (h, w, c), not {a.shape}")
        height, width, channels = a.shape
        image = _new(width, height, channels)
        image.array[...] = a
        return image

    @classmethod
    def blank(cls, width: int, height: int, channels: int = 3, value: int = 0) -> "Image":
        """A new image of the given size filled with one byte value."""
        image = _new(width, height, channels)
        image.array[...] = value
        return image

    def copy(self) -> "Image":
        """A new image with the same pixels (row padding included)."""
        record = ImageStruct()
        buf = self._buf()  # held for the call
        lib.ZAVCloneImage(component(), byref(buf.record), byref(record))
        return _own(record)

    def resize(self, size: Tuple[int, int]) -> "Image":
        """A new image of size (width, height), scaled by nearest neighbour."""
        width, height = size
        buf = self._buf()
        image = _new(width, height, buf.record.channels)
        lib.ZAVReSizeImage(component(), byref(buf.record), byref(image._buf().record))
        return image

    # ---- the block ----

    def _buf(self) -> _Buffer:
        """The block, to be held in a local variable for as long as a call uses its record."""
        buf = self._buffer
        if buf is None:
            raise ValueError("the image is closed")
        return buf

    @property
    def array(self) -> np.ndarray:
        """A writable numpy view (height, width, channels) of the pixels: no copy.

        Its row stride is the block's (a multiple of 4 bytes). The view keeps the block alive
        after the image is closed.
        """
        return np.asarray(self._buf())

    @property
    def width(self) -> int:
        return self._buf().record.width

    @property
    def height(self) -> int:
        return self._buf().record.height

    @property
    def channels(self) -> int:
        return self._buf().record.channels

    @property
    def depth(self) -> int:
        """Bits per channel value: always 8."""
        return self._buf().record.depth

    @property
    def stride(self) -> int:
        """Bytes from one row to the next."""
        return self._buf().stride

    @property
    def shape(self) -> Tuple[int, int, int]:
        r = self._buf().record
        return (r.height, r.width, r.channels)

    @property
    def closed(self) -> bool:
        return self._buffer is None

    def close(self) -> None:
        """Lets go of the pixel block: freed now, or when the last numpy view of it goes, or when
        a call on it running in another thread returns (never under that call)."""
        self._buffer = None

    def __enter__(self) -> "Image":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __reduce__(self):
        # Pickled (e.g. returned from a cluster task) as a copy of its pixels.
        return (Image.from_array, (self.array.copy(),))

    def __repr__(self) -> str:
        if self._buffer is None:
            return "<zavimage.Image closed>"
        return f"<zavimage.Image {self.width}x{self.height}x{self.channels}>"

    # ---- files ----

    def save(self, path: PathName, quality: Optional[float] = None,
             jpeg_quality: Optional[int] = None) -> None:
        """Saves in the format of the name's extension (see :func:`zavimage.formats`).

        JPEG quality: ``quality`` on the library's scale, 0 to 10 (the standard tables divided
        by it: 1 the standard tables, 2, the default, half their steps), or ``jpeg_quality`` as
        a percentage, 1 to 95 or 100 (the tables libjpeg gives: 75 is quality 2). Values out of
        range raise :class:`UsageError`. The file appears complete or not at all. Needs 1 or 3
        channels.
        """
        raw, shown = _path(path)
        buf = self._buf()  # held for the call
        r = buf.record
        obj = component()
        lib.ZAVSetImageQuality(obj, _save_quality(quality, jpeg_quality))
        if lib.ZAVSaveImageUtf8(obj, raw, r.data, r.width, r.height, r.depth, r.channels) != 0:
            raise last_error(obj, shown, raw, writing=True)

    def encode(self, format: str = "jpg", quality: Optional[float] = None,
               jpeg_quality: Optional[int] = None) -> bytes:
        """The bytes of the file that :meth:`save` would write for a name ending in .format."""
        _lib.need_memory()
        buf = self._buf()  # held for the call
        r = buf.record
        obj = component()
        lib.ZAVSetImageQuality(obj, _save_quality(quality, jpeg_quality))
        out = ctypes.POINTER(c_uint8)()
        size = c_size_t()
        ext = format[1:] if format.startswith(".") else format
        if lib.ZAVSaveImageMemory(obj, ext.encode("utf-8"), r.data, r.width, r.height, r.depth,
                                  r.channels, byref(out), byref(size)) != 0:
            raise last_error(obj, f"<{ext}>")
        try:
            return ctypes.string_at(out, size.value)
        finally:
            lib.ZAVFreeMemory(out)

    # ---- drawing, in place ----

    def flip(self) -> "Image":
        """Turns the picture upside down in place."""
        buf = self._buf()  # held for the call
        r = buf.record
        lib.ZAVFlipImage(component(), r.data, r.width, r.height, r.depth, r.channels)
        return self

    def copy_region(
        self,
        source: "Image",
        source_rect: Optional[Sequence[int]] = None,
        dest_rect: Optional[Sequence[int]] = None,
    ) -> "Image":
        """Copies source_rect of source into dest_rect of this image, scaled by nearest
        neighbour when the sizes differ (default: the whole of each).

        Rectangles are (x, y, width, height), kept inside their image first; an empty one
        copies nothing. Both images need 3 channels.
        """
        for image, name in ((source, "source"), (self, "destination")):
            if image.channels != 3:
                raise BufferFormatError(
                    f"copy_region needs 3-channel images; the {name} has {image.channels}"
                )
        sx, sy, sw, sh = _rect(source_rect or (0, 0, source.width, source.height), "source_rect")
        dx, dy, dw, dh = _rect(dest_rect or (0, 0, self.width, self.height), "dest_rect")
        src, dst = source._buf(), self._buf()  # both held for the call
        lib.ZAVCopyImage(component(), byref(src.record), sx, sy, sw, sh, byref(dst.record), dx, dy,
                         dw, dh)
        return self

    def _steps(self, document: dict) -> "Image":
        """Applies a job of steps (captions, boxes) as the batch job does; raises when a step
        misses the picture or cannot be drawn."""
        job = _job.steps_job(_job.dumps(document))
        message = ctypes.create_string_buffer(512)
        buf = self._buf()  # held for the call
        result = lib.ZAVJobApplySteps(job.handle, component(), byref(buf.record), message,
                                      len(message))
        reason = message.value.decode("utf-8", "replace")
        if result == _job.JOB_MISSES:
            raise OutsideError(reason)
        if result == _job.JOB_FAILED:
            raise FontError(reason)
        if result == _job.JOB_BAD_CALL:
            raise BufferFormatError(f"captions and boxes need an 8-bit image of 1, 3 or 4 "
                                    f"channels, not {self.channels}")
        return self

    def draw_box(self, rect: Sequence[int], color: Union[str, int] = "red") -> "Image":
        """Marks a found region (x, y, width, height): a 3-pixel outline around the region grown
        by a fifth of its width left and right and a third of its height above and below.

        color: red, green, blue, yellow, white, black, or a colour code 0 to 6 of the library.
        A region wholly outside the picture raises :class:`OutsideError`; bad values
        :class:`UsageError`.
        """
        return self._steps({"boxes": [list(rect)], "box_color": color})

    def caption(
        self,
        text: str,
        at: Tuple[int, int] = (10, 40),
        size: float = 24.0,
        space: float = 0.1,
        color: Union[str, int] = "red",
        font: Optional[PathName] = None,
    ) -> "Image":
        """Writes one line of text (Chinese included) with the classic caption: the left edge of
        the first glyph at x, the bottom of every glyph on row y, size in pixels, space between
        characters as a fraction of the size, colour blue, green or red.

        font names a TrueType file to use first (default: SimHei, else fontconfig's match for
        it). Raises :class:`FontError` when no font can be opened, :class:`OutsideError` when
        the start lies outside the picture.
        """
        obj = component()
        if font is not None:
            lib.ZAVSetFontPath(obj, _path(font)[0])
        try:
            return self._steps({"captions": [{"text": text, "classic": True, "at": list(at),
                                              "size": size, "space": space,
                                              "text_color": color}]})
        finally:
            if font is not None:
                lib.ZAVSetFontPath(obj, None)

    def text(self, text: str, xy: Sequence[int] = (10, 40), **style: Any) -> "Image":
        """Writes text with the typographic caption, as ``zavimage text`` does: glyphs on a
        common baseline, kerned and shaped (ligatures, Arabic, Devanagari, Thai), right-to-left
        runs in order, characters the font lacks taken from another installed font, lines split
        at line feeds.

        Without ``anchor``, xy is the left edge and the first line's baseline. With an anchor
        (top-left, top, top-right, left, center, right, bottom-left, bottom, bottom-right) that
        point of the text is put on the same point of the picture, xy being the distance inward
        from those edges (0 from a middle).

        Style: size (pixels, 1 to 1024, default 24), color (a name, "#RRGGBB", a (blue, green,
        red) tuple or a code 0 to 2; default red), opacity (0 to 1 or "50%"), outline (width or
        (width, colour[, opacity])), background (colour or (colour, opacity[, padding])), font
        (a file or a fontconfig pattern such as "DejaVu Sans:bold"), face_index, space (a
        fraction of the size) or letter_spacing (pixels), line_spacing (a multiple of the line
        height), mono (one bit per pixel).

        Raises :class:`UsageError` for values out of range, :class:`OutsideError` when the text's
        start lies outside the picture, :class:`FontError` when no font can be opened,
        :class:`BufferFormatError` for an image of 2 channels.
        """
        return self._steps({"captions": [_text.caption_of(text, xy, style)]})
