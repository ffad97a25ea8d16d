"""Exceptions raised by zavimage.

Every failure of the library reaches Python as an exception carrying the library's status code
(``status``) and its English text (``text``); a missing file raises a ``FileNotFoundError`` (as
:class:`NotFoundError`), every other failure a subclass of :class:`Error`.
"""

from __future__ import annotations

import errno
import os
from typing import Optional, Union

# The library's file status codes (ZAV_FILE_* in zavimage.h).
FILE_OK = 0
FILE_NO_NAME = 1
FILE_NAME_TOO_LONG = 2
FILE_NOT_FOUND = 3
FILE_NO_ACCESS = 4
FILE_READ_FAILED = 5
FILE_UNKNOWN_FORMAT = 6
FILE_UNKNOWN_EXTENSION = 7
FILE_UNSUPPORTED = 8
FILE_CORRUPT = 9
FILE_TRUNCATED = 10
FILE_TOO_LARGE = 11
FILE_NO_MEMORY = 12
FILE_WRITE_FAILED = 13
FILE_BAD_BUFFER = 14
FILE_NO_RECORD = 15
# Libraries that tell these apart from a failed write:
FILE_DISK_FULL = 16
FILE_QUOTA_EXCEEDED = 17
FILE_PATH_TOO_LONG = 18  # for the file system
FILE_IS_LINK = 19  # a save's name is a symbolic link: never written through
FILE_EXISTS = 20  # a save that must not replace found the name taken
FILE_SIZE_LIMIT = 21  # the process's file size limit (ulimit -f)
FILE_METADATA_LIMIT = 22  # more ancillary chunks than the reader keeps
FILE_BAD_PIXEL_OFFSET = 23  # corrupt: the pixels start inside the colour table (BMP)
FILE_NAME_REFUSED = 0x100

PathName = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class Error(Exception):
    """A zavimage failure: ``status`` is the library's code (or -1), ``text`` its reason.

    ``path`` names the file concerned, when there is one. ``str(error)`` reads
    ``"PATH: TEXT"`` like the command-line tool's messages.
    """

    status: int
    text: str
    path: Optional[str]

    def __init__(self, text: str, status: int = -1, path: Optional[str] = None) -> None:
        super().__init__(text)
        self.status = status
        self.text = text
        self.path = path

    def __str__(self) -> str:
        return f"{self.path}: {self.text}" if self.path else self.text


class NotFoundError(Error, FileNotFoundError):
    """The file (or a folder on its path) does not exist."""

    def __init__(self, text: str, status: int = FILE_NOT_FOUND, path: Optional[str] = None):
        Error.__init__(self, text, status, path)
        self.errno = errno.ENOENT
        self.strerror = text
        self.filename = path

    __str__ = Error.__str__


class AccessError(Error, PermissionError):
    """The file may not be read, or may not be written (an existing file is then kept)."""

    def __init__(self, text: str, status: int = FILE_NO_ACCESS, path: Optional[str] = None):
        Error.__init__(self, text, status, path)
        self.errno = errno.EACCES
        self.strerror = text
        self.filename = path

    __str__ = Error.__str__


class NameRefusedError(Error, ValueError):
    """The file name is empty, longer than 259 bytes or holds one of ``* ? " < > ; |``."""


class FormatError(Error):
    """The bytes are no picture the library reads, or the name's extension selects no writer."""


class CorruptFileError(Error):
    """The picture's data are malformed or end early."""


class TooLargeError(Error, MemoryError):
    """The picture would exceed 1 GiB, or memory ran out."""


class ReadWriteError(Error, OSError):
    """The file is not a readable regular file, or could not be written completely."""

    __str__ = Error.__str__


class BufferFormatError(Error, ValueError):
    """The buffer's depth or channel count does not suit the operation."""


class FontError(Error):
    """No font could be opened for a caption."""


class MissingFeatureError(Error):
    """The loaded library lacks the functions an operation needs."""


class UsageError(Error, ValueError):
    """A job, a caption or a box that cannot be done as described (a value out of range, a field
    unknown): nothing was done. ``str()`` names the field and the value."""


class OutputClashError(UsageError):
    """Two inputs would write the same output: nothing was done."""


class OverwriteError(UsageError):
    """An output is one of the inputs (give ``in_place=True`` to allow it): nothing was done."""


class OutsideError(Error, ValueError):
    """A caption start or a box lies wholly outside the picture: nothing was drawn."""


_BY_STATUS = {
    FILE_NO_NAME: NameRefusedError,
    FILE_NAME_TOO_LONG: NameRefusedError,
    FILE_NOT_FOUND: NotFoundError,
    FILE_NO_ACCESS: AccessError,
    FILE_READ_FAILED: ReadWriteError,
    FILE_UNKNOWN_FORMAT: FormatError,
    FILE_UNKNOWN_EXTENSION: FormatError,
    FILE_UNSUPPORTED: FormatError,
    FILE_CORRUPT: CorruptFileError,
    FILE_TRUNCATED: CorruptFileError,
    FILE_TOO_LARGE: TooLargeError,
    FILE_NO_MEMORY: TooLargeError,
    FILE_WRITE_FAILED: ReadWriteError,
    FILE_BAD_BUFFER: BufferFormatError,
    FILE_DISK_FULL: ReadWriteError,
    FILE_QUOTA_EXCEEDED: ReadWriteError,
    FILE_PATH_TOO_LONG: NameRefusedError,
    FILE_IS_LINK: ReadWriteError,
    FILE_EXISTS: ReadWriteError,
    FILE_SIZE_LIMIT: ReadWriteError,
    FILE_METADATA_LIMIT: FormatError,
    FILE_BAD_PIXEL_OFFSET: CorruptFileError,
}


def error_for_status(status: int, text: str, path: Optional[str] = None) -> Error:
    """The exception for a file status of the library."""
    if status & ~0xFF == FILE_NAME_REFUSED:
        cls: type = NameRefusedError
    else:
        cls = _BY_STATUS.get(status, Error)
    return cls(text, status, path)
