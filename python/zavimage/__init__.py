"""zavimage: ZAVImage's picture operations for Python, with zero-copy numpy views.

>>> import zavimage
>>> im = zavimage.load("frame.jpg")           # 8-bit blue-green-red, in a block of the library
>>> im.array[:10] = 0                          # a numpy view: writes go to the picture
>>> im.caption("cam 1", at=(10, 40)).draw_box((200, 120, 64, 48))
>>> im.text("cam 1", (10, 10), size=28, color="#FFD000", anchor="bottom-right")  # 10 px in
>>> im.resize((640, 360)).save("small.jpg", quality=2.0)

Batches, locally or on a Dask cluster: :func:`zavimage.batch.annotate`.
"""

from ._lib import HAS_MEMORY, HAS_TEXT, LIBRARY_PATH
from .errors import (
    AccessError,
    BufferFormatError,
    CorruptFileError,
    Error,
    FontError,
    FormatError,
    MissingFeatureError,
    NameRefusedError,
    NotFoundError,
    OutputClashError,
    OutsideError,
    OverwriteError,
    ReadWriteError,
    TooLargeError,
    UsageError,
)
from .image import Image, ImageInfo, formats, load, probe
from .text import TextMetrics, measure_text

__version__ = "1.0.0"

__all__ = [
    "AccessError",
    "BufferFormatError",
    "CorruptFileError",
    "Error",
    "FontError",
    "FormatError",
    "HAS_MEMORY",
    "HAS_TEXT",
    "Image",
    "ImageInfo",
    "LIBRARY_PATH",
    "MissingFeatureError",
    "NameRefusedError",
    "NotFoundError",
    "OutputClashError",
    "OutsideError",
    "OverwriteError",
    "ReadWriteError",
    "TextMetrics",
    "TooLargeError",
    "UsageError",
    "formats",
    "load",
    "measure_text",
    "probe",
]
