"""Typographic captions as the job draws them: their arguments, and where they fall.

>>> im.text("视频 cam 1", (10, 10), size=28, color="#FFD000", anchor="top-left",
...         outline=(2, "black"), background=("black", 0.5, 6))
>>> m = zavimage.measure_text("cam 1", size=28)   # m.advance, m.ink, m.baseline, m.lines

The values are the library's to check (the same as ``zavimage text`` takes); this module only
writes them into a caption of a job.
"""

from __future__ import annotations

from ctypes import byref
from dataclasses import dataclass
from typing import Any, Dict, Optional, Sequence, Tuple, Union

from . import _job, _lib
from ._lib import TextMetrics as _Metrics
from ._lib import component, lib
from .errors import FontError, UsageError

TEXT_OK = 0
TEXT_INCOMPLETE = 1
TEXT_REFUSED = 2
TEXT_TOO_LARGE = 3  # past a limit of the caption (characters, lines, size, glyphs)

#: A colour: a name (black white red green blue yellow cyan magenta gray orange), "#RRGGBB", a
#: (blue, green, red) tuple in the buffer's channel order, or an int 0xRRGGBB.
Color = Union[str, int, Tuple[int, int, int]]

# The style arguments of Image.text and measure_text, and the caption fields they fill.
_STYLE = {"size": "size", "color": "text_color", "opacity": "opacity", "outline": "outline",
          "background": "background", "font": "font", "face_index": "face_index",
          "anchor": "anchor", "space": "space", "letter_spacing": "letter_spacing",
          "line_spacing": "line_spacing", "mono": "mono"}


@dataclass(frozen=True)
class TextMetrics:
    """Where a caption falls, in pixels of the picture.

    ink: (x, y, width, height) that any glyph or outline covers; (0, 0, 0, 0) without ink.
    box: the text block (x, y, width, height): the widest advance by ascent-to-descent of the
    lines; the background box is this grown by its padding.
    advance: the widest line's advance. baseline: the row of the first line's baseline.
    lines: how many lines (split at line feeds).
    """

    ink: Tuple[int, int, int, int]
    box: Tuple[int, int, int, int]
    advance: int
    baseline: int
    lines: int


def color_value(value: Any, codes: bool = False) -> Any:
    """A colour as captions take it: text as it is, a (blue, green, red) tuple as "#RRGGBB", an
    int as "#RRGGBB" (0xRRGGBB) or, with ``codes``, as it is (the classic colour codes)."""
    if isinstance(value, (tuple, list)) and len(value) == 3 and all(
            isinstance(v, int) and not isinstance(v, bool) and 0 <= v <= 255 for v in value):
        b, g, r = value
        return f"#{r:02X}{g:02X}{b:02X}"
    if (not codes and isinstance(value, int) and not isinstance(value, bool)
            and 0 <= value <= 0xFFFFFF):
        return f"#{value:06X}"
    return value


def with_color(value: Any, at: int, codes: bool = False) -> Any:
    """An outline (colour at 1) or background (colour at 0) as captions take it: text as it is,
    a tuple as a list with its colour written by :func:`color_value`."""
    if isinstance(value, (tuple, list)):
        if at == 0 and len(value) == 3 and all(isinstance(v, int) for v in value):
            return [color_value(value, codes)]  # a (blue, green, red) colour alone
        return [color_value(v, codes) if i == at else v for i, v in enumerate(value)]
    return value if isinstance(value, (str, float)) or at != 0 else [color_value(value, codes)]


def caption_of(text: str, xy: Sequence[int], style: Dict[str, Any]) -> Dict[str, Any]:
    """The caption of a job for Image.text's arguments."""
    unknown = set(style) - set(_STYLE)
    if unknown:
        raise TypeError(f"unexpected argument {sorted(unknown)[0]!r}")
    caption: Dict[str, Any] = {"text": text, "at": list(xy)}
    for key, value in style.items():
        if value is None or (key == "mono" and value is False):
            continue
        if key == "color":
            value = color_value(value)
        elif key == "outline":
            value = with_color(value, 1)
        elif key == "background":
            value = with_color(value, 0)
        elif key == "font":
            value = _job.name_value(value)
        caption[_STYLE[key]] = value
    return caption


def measure_text(text: str, xy: Sequence[int] = (0, 0), *,
                 picture: Optional[Tuple[int, int]] = None, **style: Any) -> TextMetrics:
    """Where :meth:`Image.text` would draw ``text`` at xy with this style, without drawing: on a
    picture of size ``picture`` (width, height), which an ``anchor`` needs.

    Raises :class:`UsageError` for values out of range, :class:`FontError` when no font can be
    opened.
    """
    _lib.need_text()
    if style.get("anchor") is not None and picture is None:
        raise UsageError("anchor: measuring an anchored caption needs the picture's size")
    width, height = picture if picture is not None else (1 << 30, 1 << 30)
    job = _job.steps_job(_job.dumps({"captions": [caption_of(text, xy, style)]}))
    m = _Metrics()
    result = lib.ZAVJobMeasureCaption(job.handle, component(), 0, width, height, byref(m))
    if result == TEXT_INCOMPLETE:
        raise FontError("no font could be opened for the caption (or memory ran out): text is "
                        "missing", TEXT_INCOMPLETE)
    if result != TEXT_OK:
        raise UsageError("the library refused the caption")
    return TextMetrics((m.inkX, m.inkY, m.inkWidth, m.inkHeight),
                       (m.boxX, m.boxY, m.boxWidth, m.boxHeight), m.advanceWidth, m.baseline,
                       m.lineCount)


__all__ = ["TextMetrics", "measure_text"]
