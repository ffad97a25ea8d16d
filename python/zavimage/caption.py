"""The caption a batch writes on each picture, as ``zavimage annotate`` draws it.

The classic caption is the component's own (three colours, the bottom of the glyphs on row y);
the typographic one takes any colour, opacity, an outline, a background box, a font, and an
anchor on the picture (a corner, an edge or the centre, moved inward by ``at``). Every value is
checked, and the font opened once, when the caption is made: before any work.
"""

from __future__ import annotations

import os
import stat
from ctypes import byref
from dataclasses import dataclass
from typing import Optional, Tuple, Union

from . import text as _text
from ._lib import TextStyle, lib
from .errors import FontError
from .plan import UsageError, path_problem, printable

#: Which caption a batch draws when ``classic`` is not given: the tool's default.
CLASSIC_BY_DEFAULT = False

#: Anchors on the picture: (horizontal: 0 left, 1 centre, 2 right; vertical: -1 top, 0 middle,
#: 1 bottom).
ANCHORS = {
    "top-left": (0, -1), "top": (1, -1), "top-right": (2, -1),
    "left": (0, 0), "center": (1, 0), "right": (2, 0),
    "bottom-left": (0, 1), "bottom": (1, 1), "bottom-right": (2, 1),
}
_MARGIN = 10  # from the edges an anchored caption is anchored to, when at is not given
_CLASSIC_COLORS = {"blue": 0, "green": 1, "red": 2}
_CODE_RGB = (0x0000FF, 0x00FF00, 0xFF0000)  # the classic codes keep their colours
_FONT_SUFFIXES = (".ttf", ".otf", ".ttc", ".pfb", ".woff")
_INT32 = (-(2**31), 2**31 - 1)

Color = Union[str, int, Tuple[int, int, int]]


def _opacity(value: Union[str, float], what: str) -> float:
    try:
        if isinstance(value, str) and value.endswith("%"):
            v = float(value[:-1]) / 100
        else:
            v = float(value)
        if 0 <= v <= 1:
            return v
    except ValueError:
        pass
    raise UsageError(f"{what}: {value!r} is not an opacity from 0 to 1 or from 0% to 100%")


def _rgb(color: Color, what: str) -> int:
    try:
        return _text.parse_color(color, what)
    except ValueError as e:
        raise UsageError(str(e)) from None


def _check_font(font: str) -> None:
    if not font:
        raise UsageError("font: give a font file or a fontconfig pattern")
    try:
        st: Optional[os.stat_result] = os.stat(font)
    except OSError:
        st = None
    looks_like_file = "/" in font or font.lower().endswith(_FONT_SUFFIXES)
    if st is None and looks_like_file:
        raise UsageError(f"font: '{printable(font)}': "
                         f"{path_problem(font) or 'cannot be read'}")
    if st is not None and not stat.S_ISREG(st.st_mode):
        raise UsageError(f"font: '{printable(font)}' is not a file")


@dataclass(frozen=True)
class Caption:
    """A checked caption (make it with :meth:`checked`); plain values, so that it travels to
    the workers of a cluster."""

    text: str
    at: Optional[Tuple[int, int]]
    size: float
    classic: bool
    classic_color: int = 2
    space: float = 0.1  # classic: fraction of the size
    color: int = 0xFF0000
    opacity: float = 1.0
    outline: Optional[Tuple[float, int, float]] = None
    background: Optional[Tuple[int, float]] = None
    font: Optional[str] = None
    anchor: Optional[Tuple[int, int]] = None
    letter_spacing: float = 0.0
    padding: int = 0  # of the background box, when there is one
    block_height: int = 0  # the text block with its background box

    @classmethod
    def checked(cls, text: str, *, at: Optional[Tuple[int, int]] = None, size: float = 24.0,
                space: Optional[float] = None, color: Optional[Color] = None,
                classic: Optional[bool] = None, opacity: Optional[Union[str, float]] = None,
                outline: Union[None, float, Tuple[float], Tuple[float, Color]] = None,
                background: Union[None, Color, Tuple[Color, Union[str, float]]] = None,
                font: Optional[str] = None, anchor: Optional[str] = None) -> "Caption":
        """Checks the values together as the tool does; raises UsageError."""
        if not text:
            raise UsageError("text: the caption is empty")
        if "\0" in text:
            raise UsageError("text: the caption holds a NUL character")
        if at is not None and (len(at) != 2 or not all(
                isinstance(v, int) and _INT32[0] <= v <= _INT32[1] for v in at)):
            raise UsageError(f"at {at!r} is not a position (x, y)")
        at = None if at is None else (at[0], at[1])
        try:
            size = float(size)
            space = None if space is None else float(space)
        except (TypeError, ValueError):
            raise UsageError(f"size {size!r} or space {space!r} is not a number") from None
        if not 1 <= size <= 4096:
            raise UsageError(f"size {size!r} is not a number from 1 to 4096")
        if space is not None and not 0 <= space <= 10:
            raise UsageError(f"space {space!r} is not a number from 0 to 10")
        if anchor is not None and anchor not in ANCHORS:
            raise UsageError(f"anchor {anchor!r} is not one of {', '.join(ANCHORS)}")
        if classic is None:
            classic = CLASSIC_BY_DEFAULT
        code = str(color) if isinstance(color, int) and not isinstance(color, bool) else color
        if classic:
            given = [name for name, v in (("opacity", opacity), ("outline", outline),
                                          ("background", background), ("font", font),
                                          ("anchor", anchor)) if v is not None]
            if given:
                raise UsageError(f"{given[0]} is for the typographic caption; the classic "
                                 "caption takes a text colour blue, green or red")
            if code is None:
                classic_color = 2
            elif code in _CLASSIC_COLORS:
                classic_color = _CLASSIC_COLORS[code]  # type: ignore[index]
            elif code in ("0", "1", "2"):
                classic_color = int(code)  # type: ignore[arg-type]
            else:
                raise UsageError(f"text colour {color!r} is not one of blue, green, red (or 0, "
                                 "1, 2)")
            return cls(text, at, size, True, classic_color,
                       space=0.1 if space is None else space)

        if size > 1024:
            raise UsageError("size: the typographic caption is 1 to 1024 pixels (the classic "
                             "one takes up to 4096)")
        rgb = 0xFF0000 if code is None else _CODE_RGB[int(code)] if code in (
            "0", "1", "2") else _rgb(color, "text colour")  # type: ignore[arg-type]
        alpha = 1.0 if opacity is None else _opacity(opacity, "opacity")
        line = None
        if outline is not None:
            parts = outline if isinstance(outline, (tuple, list)) else (outline,)
            try:
                width = float(parts[0])
            except (TypeError, ValueError, IndexError):
                width = -1.0
            if not 0 <= width <= 64 or len(parts) > 2:
                raise UsageError(f"outline {outline!r} is not (width 0 to 64, colour)")
            line = (width, _rgb(parts[1], "outline colour") if len(parts) > 1 else 0, alpha)
        box = None
        if background is not None:
            two = isinstance(background, (tuple, list)) and len(background) == 2
            fill = background[0] if two else background  # type: ignore[index]
            box = (_rgb(fill, "background colour"),  # type: ignore[arg-type]
                   _opacity(background[1], "background") if two else 1.0)  # type: ignore
        if font is not None:
            font = os.fsdecode(font)
            _check_font(font)
        caption = cls(text, at, size, False, color=rgb, opacity=alpha, outline=line,
                      background=box, font=font,
                      anchor=None if anchor is None else ANCHORS[anchor],
                      letter_spacing=(space or 0.0) * size)
        # One measure before any work: the font opens, and the block's height centres it.
        style = caption._style()
        try:
            m = _text.measure_text(text, (0, 0), **style)
        except FontError:
            if font is not None:
                raise UsageError(f"font: '{printable(font)}' cannot be opened as a font") \
                    from None
            m = None
        except ValueError:
            raise UsageError("the caption's style was refused") from None
        padding = TextStyle()
        lib.ZAVInitTextStyle(byref(padding))
        pad = padding.backgroundPadding if box is not None and box[1] > 0 else 0
        height = (m.box[3] if m is not None else 0) + 2 * pad
        return cls(**{**caption.__dict__, "padding": pad, "block_height": height})

    def _style(self) -> dict:
        # The arguments of Image.text for this caption.
        if self.anchor is None:
            anchor = "baseline-left"
        else:
            anchor = ("bottom-" if self.anchor[1] > 0 else "top-") + ("left", "center",
                                                                      "right")[self.anchor[0]]
        return dict(size=self.size, opacity=self.opacity, outline=self.outline,
                    background=self.background, font=self.font, anchor=anchor,
                    letter_spacing=self.letter_spacing)

    def point(self, width: int, height: int) -> Tuple[int, int]:
        """Where the caption is drawn on a picture of this size: with an anchor, the same point
        of the picture moved inward by at (default: the margin from the edges, nothing from a
        middle); without, at (default 10, 40)."""
        if self.anchor is None:
            return self.at if self.at is not None else (10, 40)
        h, v = self.anchor
        pad = self.padding
        dx = self.at[0] if self.at else 0 if h == 1 else _MARGIN
        dy = self.at[1] if self.at else 0 if v == 0 else _MARGIN
        x = dx + pad if h == 0 else width // 2 + dx if h == 1 else width - dx - pad
        if v < 0:
            y = dy + pad
        elif v == 0:  # the block's top, so that its middle is on the picture's
            y = height // 2 + dy - (self.block_height // 2 - pad)
        else:
            y = height - dy - pad
        return tuple(min(max(c, _INT32[0]), _INT32[1]) for c in (x, y))  # type: ignore

    def misses(self, width: int, height: int) -> Optional[str]:
        """Why the caption cannot be drawn on a picture of this size: its start, or its offset
        from the anchor, lies outside."""
        shown = f"{width} x {height} picture"
        if self.anchor is None:
            x, y = self.at if self.at is not None else (10, 40)
            if 0 <= x < width and 0 <= y < height:
                return None
            return f"the caption start {x},{y} lies outside the {shown}"
        h, v = self.anchor
        dx, dy = self.at if self.at else (0, 0)
        limit_x = width // 2 if h == 1 else width
        limit_y = height // 2 if v == 0 else height
        ok_x = -limit_x <= dx <= limit_x if h == 1 else 0 <= dx < limit_x
        ok_y = -limit_y <= dy <= limit_y if v == 0 else 0 <= dy < limit_y
        if ok_x and ok_y:
            return None
        return f"the caption offset {dx},{dy} from the anchor lies outside the {shown}"

    def draw(self, image) -> Optional[str]:
        """Draws on an Image; the reason when it failed."""
        xy = self.point(image.width, image.height)
        if self.classic:
            try:
                image.caption(self.text, xy, self.size, self.space, self.classic_color)
            except FontError:
                return "no font could be opened for the caption"
            return None
        try:
            image.text(self.text, xy, color=self.color, **self._style())
        except FontError:
            return "the caption is incomplete: no font could be opened, or memory ran out"
        except ValueError:
            return "the caption was refused"
        return None
