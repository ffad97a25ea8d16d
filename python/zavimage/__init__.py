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
from ._lib import lib as _native
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

# The package's version, which is the library's it is made for: the project's version (the top
# CMakeLists.txt; a test holds them equal). pyproject.toml reads it from here.
__version__ = "1.0.0"
#: The version of the library in use (ZAVVersion), "1.0.0".
LIBRARY_VERSION: str = _native.ZAVVersion().decode("ascii")

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
    "LIBRARY_VERSION",
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
