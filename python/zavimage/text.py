"""Typographic captions: text set from the font's metrics, shaped, in any colour, measured first
when needed.

>>> im.text("视频 cam 1", (10, 10), size=28, color="#FFD000", anchor="top-left",
...         outline=(2, "black"), background=("black", 0.5, 6))
>>> m = zavimage.measure_text("cam 1", size=28)   # m.advance, m.ink, m.baseline, m.lines

Every style argument left as None keeps the library's default (ZAVInitTextStyle): the caption
font, 24 pixels, black, opaque, no spacing, line spacing 1, anchored left on the baseline,
anti-aliased, no outline, no background.
"""

from __future__ import annotations

import math
import os
from ctypes import byref
from dataclasses import dataclass
from typing import Optional, Sequence, Tuple, Union

from . import _lib
from ._lib import TextMetrics as _Metrics
from ._lib import TextStyle, component, lib
from .errors import BufferFormatError, FontError, PathName

TEXT_OK = 0
TEXT_INCOMPLETE = 1
TEXT_REFUSED = 2

#: Colour names (as the command-line tool takes them) and their 0xRRGGBB values.
COLORS = {
    "black": 0x000000, "white": 0xFFFFFF, "red": 0xFF0000, "green": 0x00FF00,
    "blue": 0x0000FF, "yellow": 0xFFFF00, "cyan": 0x00FFFF, "magenta": 0xFF00FF,
    "gray": 0x808080, "grey": 0x808080, "orange": 0xFFA500,
}

_H = {"left": 0, "center": 1, "right": 2}
_V = {"top": 0, "baseline": 1, "bottom": 2}
#: Anchor names: which point of the text block lies at (x, y). "VERTICAL-HORIZONTAL" with
#: VERTICAL top (the first line's ascent), baseline (the first line's) or bottom (below the last
#: line's descent) and HORIZONTAL left, center or right; "top" and "bottom" alone are centred.
ANCHORS = {f"{v}-{h}": (hc, vc) for v, vc in _V.items() for h, hc in _H.items()}
ANCHORS.update({"top": (1, 0), "bottom": (1, 2)})

#: A colour: a name of COLORS, "#RRGGBB", a (blue, green, red) tuple in the buffer's channel
#: order, or an int 0xRRGGBB.
Color = Union[str, int, Tuple[int, int, int]]
Outline = Union[float, Tuple[float, Color], Tuple[float, Color, float]]
Background = Union[Color, Tuple[Color, float], Tuple[Color, float, int]]


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


def parse_color(color: Color, what: str = "colour") -> int:
    """The 0xRRGGBB value of a colour name, "#RRGGBB", (blue, green, red) tuple or int."""
    if isinstance(color, str):
        if color in COLORS:
            return COLORS[color]
        if len(color) == 7 and color[0] == "#" and all(c in "0123456789abcdefABCDEF"
                                                       for c in color[1:]):
            return int(color[1:], 16)
        raise ValueError(f"{what} {color!r} is not a colour: {', '.join(COLORS)} or #RRGGBB")
    if isinstance(color, (tuple, list)):
        if len(color) != 3 or not all(isinstance(v, int) and 0 <= v <= 255 for v in color):
            raise ValueError(f"{what} {color!r} is not a (blue, green, red) tuple of 0 to 255")
        b, g, r = color
        return (r << 16) | (g << 8) | b
    if isinstance(color, int) and not isinstance(color, bool) and 0 <= color <= 0xFFFFFF:
        return color
    raise ValueError(f"{what} {color!r} is not a colour")


def _number(value: float, low: float, high: float, what: str) -> float:
    v = float(value)
    if not (math.isfinite(v) and low <= v <= high):
        raise ValueError(f"{what} {value!r} is not a number from {low:g} to {high:g}")
    return v


def make_style(
    *,
    size: Optional[float] = None,
    color: Optional[Color] = None,
    opacity: Optional[float] = None,
    outline: Optional[Outline] = None,
    background: Optional[Background] = None,
    font: Optional[PathName] = None,
    face_index: Optional[int] = None,
    anchor: Optional[str] = None,
    letter_spacing: Optional[float] = None,
    line_spacing: Optional[float] = None,
    mono: bool = False,
) -> Tuple[TextStyle, Optional[bytes]]:
    """The library's style for these arguments, and the font name it points at (keep it alive
    while the style is used). Raises ValueError for values out of range."""
    _lib.need_text()
    s = TextStyle()
    lib.ZAVInitTextStyle(byref(s))
    font_raw = None
    if font is not None:
        font_raw = os.fsencode(font)
        if not font_raw or b"\0" in font_raw:
            raise ValueError(f"font {font!r} is empty or holds a NUL character")
        s.font = font_raw
    if face_index is not None:
        s.faceIndex = int(face_index)
    if size is not None:
        s.pixelSize = _number(size, 1, 1024, "size")
    if color is not None:
        s.color = parse_color(color, "color")
    if opacity is not None:
        s.opacity = _number(opacity, 0, 1, "opacity")
    if letter_spacing is not None:
        s.letterSpacing = _number(letter_spacing, -1e6, 1e6, "letter_spacing")
    if line_spacing is not None:
        s.lineSpacing = _number(line_spacing, 0, 100, "line_spacing")
    if anchor is not None:
        if anchor not in ANCHORS:
            raise ValueError(f"anchor {anchor!r} is not one of {', '.join(ANCHORS)}")
        s.hAnchor, s.vAnchor = ANCHORS[anchor]
    if mono:
        s.flags |= 1  # ZAV_TEXT_MONO
    if outline is not None:
        parts = outline if isinstance(outline, (tuple, list)) else (outline,)
        if not 1 <= len(parts) <= 3:
            raise ValueError(f"outline {outline!r} is not (width, colour[, opacity])")
        s.outlineWidth = _number(parts[0], 0, 64, "outline width")
        if len(parts) > 1:
            s.outlineColor = parse_color(parts[1], "outline colour")
        if len(parts) > 2:
            s.outlineOpacity = _number(parts[2], 0, 1, "outline opacity")
    if background is not None:
        # A bare colour, or a (b, g, r) tuple, is an opaque box.
        if isinstance(background, (tuple, list)) and len(background) in (1, 2, 3) and not (
                len(background) == 3 and all(isinstance(v, int) for v in background)):
            parts = tuple(background)
        else:
            parts = (background,)
        s.backgroundColor = parse_color(parts[0], "background colour")
        s.backgroundOpacity = _number(parts[1], 0, 1, "background opacity") if len(
            parts) > 1 else 1.0
        if len(parts) > 2:
            s.backgroundPadding = int(_number(parts[2], 0, 1024, "background padding"))
    return s, font_raw


def _encode(text: str) -> bytes:
    raw = text.encode("utf-8", "surrogatepass")
    if b"\0" in raw:
        raise ValueError("caption text holds a NUL character")
    return raw


def _xy(xy: Sequence[int]) -> Tuple[int, int]:
    if len(xy) != 2:
        raise ValueError(f"xy must be (x, y), not {xy!r}")
    x, y = (int(v) for v in xy)
    if not all(-(2**31) <= v < 2**31 for v in (x, y)):
        raise ValueError(f"xy {xy!r} does not fit in 32 bits")
    return x, y


def _check(result: int, channels: int = 3, depth: int = 8) -> None:
    if result == TEXT_INCOMPLETE:
        raise FontError("no font could be opened for the caption (or memory ran out): text is "
                        "missing", TEXT_INCOMPLETE)
    if result == TEXT_REFUSED:
        if depth != 8 or channels not in (1, 3, 4):
            raise BufferFormatError(
                f"captions need an 8-bit buffer of 1, 3 or 4 channels, not {channels}",
                TEXT_REFUSED)
        raise ValueError("the library refused the caption's style")


def draw(record, channels: int, depth: int, text: str, xy: Sequence[int], **style) -> None:
    """Draws into a library record (passed by reference); see :meth:`Image.text`."""
    s, _font = make_style(**style)
    x, y = _xy(xy)
    _check(lib.ZAVDrawTextUtf8(component(), record, _encode(text), x, y, byref(s)), channels,
           depth)


def measure_text(
    text: str,
    xy: Sequence[int] = (0, 0),
    *,
    size: Optional[float] = None,
    opacity: Optional[float] = None,
    outline: Optional[Outline] = None,
    background: Optional[Background] = None,
    font: Optional[PathName] = None,
    face_index: Optional[int] = None,
    anchor: Optional[str] = None,
    letter_spacing: Optional[float] = None,
    line_spacing: Optional[float] = None,
    mono: bool = False,
) -> TextMetrics:
    """Where :meth:`Image.text` would draw ``text`` anchored at xy, without drawing.

    Takes the same style arguments (the colours change nothing here). Raises
    :class:`FontError` when no font can be opened.
    """
    s, _font = make_style(size=size, opacity=opacity, outline=outline, background=background,
                          font=font, face_index=face_index, anchor=anchor,
                          letter_spacing=letter_spacing, line_spacing=line_spacing, mono=mono)
    x, y = _xy(xy)
    m = _Metrics()
    _check(lib.ZAVMeasureTextUtf8(component(), _encode(text), x, y, byref(s), byref(m)))
    return TextMetrics((m.inkX, m.inkY, m.inkWidth, m.inkHeight),
                       (m.boxX, m.boxY, m.boxWidth, m.boxHeight), m.advanceWidth, m.baseline,
                       m.lineCount)


__all__ = ["ANCHORS", "COLORS", "TextMetrics", "measure_text", "parse_color"]
