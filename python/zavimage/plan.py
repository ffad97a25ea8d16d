"""Working out every output of a batch before any work, as ``zavimage annotate`` does.

Folders are expanded to the pictures in them (by extension, sorted by name; subfolders walked
with ``recursive``, else counted), each input gets one output name, and three things stop the
batch before anything is written: two inputs that would write one output, an output that is one
of the inputs (same device and inode) unless ``in_place``, and an output whose name picks no
format. Inputs that cannot be worked on (missing, empty, a folder without pictures) are failures
found here; outputs that exist are skipped with ``no_clobber``.
"""

from __future__ import annotations

import errno
import os
import stat
from dataclasses import dataclass, field
from typing import Dict, Iterable, List, Optional, Tuple, Union

from .errors import Error, PathName

#: The extensions the library writes, as the command-line tool knows them; pictures taken from a
#: folder are the files with one of these.
PICTURE_EXTENSIONS = ("bmp", "dib", "jpeg", "jpg", "jpe", "sr", "ras", "pbm", "pgm", "ppm",
                      "tiff", "tif", "png")
#: The extensions whose writer saves a one-channel picture as gray (the portable pixmap's name
#: promises three samples).
GRAY_EXTENSIONS = frozenset(PICTURE_EXTENSIONS) - {"ppm"}

BytesLike = Union[bytes, bytearray, memoryview]
#: An input: a file name (a folder stands for the pictures in it), a picture's bytes, or a
#: (name, bytes) pair whose name gives the output its name.
Input = Union[PathName, BytesLike, Tuple[str, BytesLike]]

_SHOWN_LINES = 10


class UsageError(Error, ValueError):
    """The batch was refused before any work: nothing was written and no folder was made."""


class OutputClashError(UsageError):
    """Two inputs would be written to one output file."""


class OverwriteError(UsageError):
    """An output is one of the inputs, and in_place was not given."""


#: The output name that stands for standard output (the command line's "-").
STANDARD_OUTPUT = "-"


@dataclass(frozen=True)
class Job:
    index: int
    name: str  # the input as messages show it (before escaping)
    source: Union[str, bytes]  # a path, or the picture's bytes
    output: str
    format: str = ""  # for standard output: the format written there


@dataclass(frozen=True)
class PlanFailure:
    """An input found before the work to be one that cannot be worked on."""

    name: str
    reason: str
    status: int = -1


@dataclass
class Plan:
    jobs: List[Job] = field(default_factory=list)
    failures: List[PlanFailure] = field(default_factory=list)
    skipped: List[Job] = field(default_factory=list)  # no_clobber: the output exists
    subfolders: int = 0  # passed over (not recursive)
    other_files: int = 0  # files in the folders that are not pictures by name
    folders: List[str] = field(default_factory=list)  # output folders to make before the work


def printable(name: Union[str, bytes]) -> str:
    """The name with control characters and bytes that are no UTF-8 escaped, as the tool
    prints names (a line feed as \\n, a backslash as \\\\, others as \\xHH)."""
    raw = os.fsencode(name) if isinstance(name, str) else name
    out = []
    i = 0
    while i < len(raw):
        b = raw[i]
        length = 1 if b < 0x80 else 2 if 0xC2 <= b <= 0xDF else 3 if 0xE0 <= b <= 0xEF else \
            4 if 0xF0 <= b <= 0xF4 else 0
        try:
            ch = raw[i:i + length].decode("utf-8") if length else ""
        except UnicodeDecodeError:
            ch = ""
        if len(ch) != 1:
            out.append(f"\\x{b:02X}")
            i += 1
            continue
        c = ord(ch)
        if ch in "\n\t\r\\":
            out.append({"\n": "\\n", "\t": "\\t", "\r": "\\r", "\\": "\\\\"}[ch])
        elif c < 0x20 or c == 0x7F or 0x80 <= c <= 0x9F:
            out.extend(f"\\x{x:02X}" for x in raw[i:i + length])
        else:
            out.append(ch)
        i += length
    return "".join(out)


def name_extension(name: str) -> str:
    """The extension as the library reads it: the run of ASCII letters and digits after the
    name's last dot, in lower case; empty when there is none."""
    dot = name.rfind(".")
    if dot < 0:
        return ""
    run = []
    for c in name[dot + 1:]:
        if not (c.isascii() and c.isalnum()):
            break
        run.append(c.lower())
    return "".join(run)


def _suffix(filename: str) -> str:
    # The file name's extension with its dot: from the last dot, unless that dot begins the name.
    if filename in (".", ".."):
        return ""
    dot = filename.rfind(".")
    return filename[dot:] if dot > 0 else ""


def is_picture_name(name: str) -> bool:
    """Whether a file name's extension is one the library writes (a picture by its name)."""
    return name_extension(_suffix(os.path.basename(name))) in PICTURE_EXTENSIONS


def path_problem(path: str) -> Optional[str]:
    """Why a path cannot be read as a picture when that is plain from the file system: "folder
    not found", "no such file or folder", "file not found", "is a folder", "empty file"."""
    try:
        st = os.stat(path)
    except OSError as e:
        if e.errno == errno.ENOTDIR:
            return "folder not found"
        if e.errno != errno.ENOENT:
            return None
        parent = os.path.dirname(path)
        if path.endswith("/") or (parent and not os.path.isdir(parent)):
            return "folder not found"
        # A name without a dot may have meant a folder.
        return "file not found" if "." in os.path.basename(path) else "no such file or folder"
    if stat.S_ISDIR(st.st_mode):
        return "is a folder"
    if stat.S_ISREG(st.st_mode) and st.st_size == 0:
        return "empty file"
    return None


def _file_id(path: str) -> Optional[Tuple[int, int]]:
    try:
        st = os.stat(path)
    except OSError:
        return None
    return st.st_dev, st.st_ino


def _walk(root: str, recursive: bool, found: List[Tuple[str, str]], plan: Plan) -> None:
    # The pictures of a folder, sorted by name, before those of its subfolders (depth first).
    pending = [(root, "")]
    while pending:
        folder, below = pending.pop()
        try:
            entries = sorted(os.scandir(folder), key=lambda e: os.fsencode(e.name))
        except OSError:
            entries = []
        subfolders = []
        for entry in entries:
            try:
                is_dir = entry.is_dir()
                is_file = entry.is_file()
                is_link = entry.is_symlink()
            except OSError:
                is_dir = is_file = is_link = False
            if is_dir:
                if recursive and not is_link:
                    subfolders.append((entry.path, os.path.join(below, entry.name)))
                else:
                    plan.subfolders += 1
            elif is_file and is_picture_name(entry.name):
                found.append((entry.path, below))
            else:
                plan.other_files += 1
        pending.extend(reversed(subfolders))


def _plural(n: int, one: str, many: str) -> str:
    return f"{n} {one if n == 1 else many}"


def _refuse(cls: type, heading: str, lines: List[str]) -> None:
    message = heading + "".join(f"\n  {line}" for line in lines[:_SHOWN_LINES])
    if len(lines) > _SHOWN_LINES:
        message += f"\n  and {len(lines) - _SHOWN_LINES} more"
    raise cls(message)


def output_name(input_name: str, out_dir: PathName, format: Optional[str] = None,
                below: str = "") -> str:
    """out_dir/below/name of the input, its extension replaced by format when one is given."""
    name = os.path.basename(input_name)
    if format:
        suffix = _suffix(name)
        name = name[:len(name) - len(suffix)] + "." + format
    return os.path.join(os.fsdecode(out_dir), below, name)


def _output_key(path: str) -> bytes:
    # An output's identity: device and inode when it exists, else its absolute path with the
    # links of the existing part resolved.
    file_id = _file_id(path)
    if file_id is not None:
        return b"#%d:%d" % file_id
    return os.fsencode(os.path.realpath(os.path.abspath(path)))


def _expand(inputs: Iterable[Input], plan: Plan,
            recursive: bool) -> List[Tuple[str, Union[str, bytes], str]]:
    """(name, path or bytes, folders below the given folder) per picture."""
    found: List[Tuple[str, Union[str, bytes], str]] = []
    for i, item in enumerate(inputs):
        if isinstance(item, tuple):
            name, data = item
            found.append((str(name), bytes(data), ""))
        elif isinstance(item, (bytes, bytearray, memoryview)):
            found.append((f"frame{i:06d}", bytes(item), ""))
        else:
            path = os.fsdecode(os.fspath(item))
            if os.path.isdir(path):
                pictures: List[Tuple[str, str]] = []
                others_before = plan.other_files + plan.subfolders
                _walk(path, recursive, pictures, plan)
                found += [(p, p, below) for p, below in pictures]
                if not pictures:
                    others = plan.other_files + plan.subfolders - others_before
                    plan.failures.append(PlanFailure(
                        path, "no pictures in this folder (it is empty)" if others == 0 else
                        "no pictures in this folder (" +
                        _plural(others, "other entry", "other entries") + ")"))
            else:
                problem = path_problem(path)
                if problem is not None:
                    status = 3 if "not found" in problem else -1  # ZAV_FILE_NOT_FOUND
                    plan.failures.append(PlanFailure(path, problem, status))
                else:
                    found.append((path, path, ""))
    return found


def make_plan(
    inputs: Iterable[Input],
    out_dir: Optional[PathName] = None,
    *,
    output: Optional[PathName] = None,
    format: Optional[str] = None,
    recursive: bool = False,
    in_place: bool = False,
    no_clobber: bool = False,
) -> Plan:
    """Expands the inputs and works out every output (into out_dir, or the one ``output``).

    Raises :class:`OutputClashError`, :class:`OverwriteError` or :class:`UsageError` (an output
    without a format, unnamed bytes without a format, -o with many inputs) before anything is
    written.
    """
    if (out_dir is None) == (output is None):
        raise UsageError("give either an output file (one input) or an output folder")
    to_stdout = output == STANDARD_OUTPUT
    if to_stdout and not format:
        raise UsageError("standard output (-) needs --format EXT to name the format (" +
                         " ".join(PICTURE_EXTENSIONS) + ")")
    if format is not None:
        format = format[1:] if format.startswith(".") else format
        if name_extension("." + format) not in PICTURE_EXTENSIONS or len(
                name_extension("." + format)) != len(format):
            raise UsageError(f"format {printable(format)!r} is not a format written "
                             f"({' '.join(PICTURE_EXTENSIONS)})")
        if out_dir is None and output != STANDARD_OUTPUT:
            raise UsageError("format names the extension of files in the output folder; an "
                             "output file takes its format from its extension")
    inputs = list(inputs)
    plan = Plan()
    found = _expand(inputs, plan, recursive)
    if output is not None and (len(found) + len(plan.failures) > 1 or len(inputs) != 1):
        raise UsageError("one output takes one input picture; give an output folder for many")

    no_format = []
    for index, (name, source, below) in enumerate(found):
        if isinstance(source, bytes) and output is None and not format and not name_extension(
                name):
            raise UsageError(f"{printable(name)}: bytes without a file name need a format for "
                             "the output")
        out = os.fsdecode(output) if output is not None else output_name(name, out_dir, format,
                                                                           below)
        ext = format if to_stdout else name_extension(out)
        if ext not in PICTURE_EXTENSIONS:
            no_format.append(printable(out) + (
                ": the name has no extension to pick a format" if not ext else
                f": '{printable(ext)}' is not a format written"))
        plan.jobs.append(Job(index, name, source, out, format if to_stdout else ""))
    if no_format:
        _refuse(UsageError, "no format for these outputs (the extensions written: " +
                " ".join(PICTURE_EXTENSIONS) + ("; --format picks one)" if out_dir is not None
                                                else ")"), no_format)

    by_output: Dict[bytes, List[Job]] = {}
    for job in plan.jobs:
        by_output.setdefault(_output_key(job.output), []).append(job)
    clashes = [
        printable(users[0].output) + " <- " + ", ".join(printable(j.name) for j in users)
        for _, users in sorted(by_output.items()) if len(users) > 1
    ]
    if clashes:
        _refuse(OutputClashError, "these inputs would write the same output (nothing was "
                "done):", clashes)

    input_ids = {_file_id(j.source) for j in plan.jobs if isinstance(j.source, str)} - {None}
    overwrites = []
    kept = []
    for job in plan.jobs:
        try:
            st: Optional[os.stat_result] = None if to_stdout else os.stat(job.output)
        except OSError:
            st = None
        if to_stdout:
            pass  # standard output: nothing to keep or replace
        elif st is None:
            parent = os.path.dirname(job.output)
            if out_dir is None and parent and not os.path.isdir(parent):
                plan.failures.append(PlanFailure(job.output, "folder not found", 3))
                continue
        elif stat.S_ISDIR(st.st_mode):
            plan.failures.append(PlanFailure(job.output, "is a folder"))
            continue
        elif no_clobber:
            plan.skipped.append(job)
            continue
        elif (st.st_dev, st.st_ino) in input_ids and not in_place:
            overwrites.append(f"{printable(job.output)} is the input {printable(job.name)}")
        kept.append(job)
    plan.jobs = [Job(i, j.name, j.source, j.output, j.format) for i, j in enumerate(kept)]
    if overwrites:
        _refuse(OverwriteError, "these outputs would replace an input (give --in-place to allow "
                "it, or another output):", overwrites)
    if out_dir is not None:
        folders = {os.fsdecode(out_dir)} | {os.path.dirname(j.output) for j in plan.jobs}
        plan.folders = sorted(folders, key=os.fsencode)
    return plan
