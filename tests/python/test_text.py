"""Image.text and measure_text: the style reaches the library field for field, drawing lands
where the measure says, and failures raise."""

import ctypes

import numpy as np
import pytest

import zavimage
from zavimage import _lib

pytestmark = pytest.mark.skipif(not zavimage.HAS_TEXT,
                                reason="the library has no typographic captions")


def ink_box(mask):
    rows, cols = np.nonzero(mask)
    return (cols.min(), rows.min(), cols.max() - cols.min() + 1, rows.max() - rows.min() + 1)


def test_style_layout_matches_the_library():
    s = _lib.TextStyle()
    _lib.lib.ZAVInitTextStyle(ctypes.byref(s))
    # the library's documented defaults, read back through every offset that differs from zero
    assert s.structSize == ctypes.sizeof(_lib.TextStyle)
    assert (s.font, s.pixelSize, s.color, s.opacity, s.lineSpacing) == (None, 24.0, 0, 1.0, 1.0)
    assert (s.hAnchor, s.vAnchor, s.flags, s.outlineWidth, s.outlineOpacity) == (0, 1, 0, 0.0,
                                                                                  1.0)
    assert (s.backgroundOpacity, s.backgroundPadding) == (0.0, 4)


def test_drawing_lands_where_measured_in_the_colour_asked():
    im = zavimage.Image.blank(160, 80)
    m = zavimage.measure_text("Ag-", (20, 50), size=30)
    im.text("Ag-", (20, 50), size=30, color="#FF0000")
    a = im.array
    assert a[..., :2].max() == 0 and a[..., 2].max() == 255  # red only, in channel 2
    assert ink_box(a[..., 2] > 0) == m.ink
    assert m.baseline == 50 and m.lines == 1 and m.box[0] == 20 and m.advance == m.box[2]

    dash = zavimage.measure_text("-", (0, 100), size=40)
    assert dash.ink[1] + dash.ink[3] <= dash.baseline  # a dash lies wholly above its baseline

    # anchors put the block on the picture's corners, xy inward from them; colour as (blue,
    # green, red) and a second line
    top = zavimage.measure_text("x\ny", (5, 7), size=20, anchor="top-left", picture=(160, 80))
    bottom = zavimage.measure_text("x\ny", (10, 10), size=20, anchor="bottom-right",
                                   picture=(160, 80))
    assert top.lines == 2 and top.box[:2] == (5, 7)
    assert (bottom.box[0] + bottom.box[2], bottom.box[1] + bottom.box[3]) == (150, 70)
    im.array[...] = 0
    im.text("x\ny", (5, 7), size=20, anchor="top-left", color=(255, 0, 0), mono=True)
    assert set(np.unique(a)) == {0, 255} and a[..., 1:].max() == 0  # blue, one bit per pixel
    assert ink_box(a[..., 0] > 0)[:2] >= (5, 7)
    with pytest.raises(zavimage.UsageError):  # an anchor needs the picture to be measured on
        zavimage.measure_text("x", (5, 7), anchor="top-left")

    # an outline widens the ink; a background box fills the block grown by its padding
    wide = zavimage.measure_text("Ag-", (20, 50), size=30, outline=(3, "black"))
    assert wide.ink[2] > m.ink[2] and wide.ink[0] < m.ink[0]
    im.array[...] = 0
    im.text("Ag-", (20, 50), size=30, color="white", background=("green", 1.0, 5))
    x, y, w, h = m.box
    assert ink_box(a[..., 1] > 0) == (x - 5, y - 5, w + 10, h + 10)


def test_gray_and_four_channel_buffers_and_refusals():
    gray = zavimage.Image.blank(60, 40, channels=1)
    gray.text("Hi", (5, 30), size=24, color="white")
    assert gray.array.max() == 255
    rgba = zavimage.Image.blank(60, 40, channels=4)
    rgba.text("Hi", (5, 30), size=24, color="white", opacity=0.5)
    assert 0 < rgba.array[..., 0].max() < 255

    two = zavimage.Image.blank(60, 40, channels=2)
    with pytest.raises(zavimage.BufferFormatError):
        two.text("Hi", (5, 30))
    assert two.array.max() == 0
    for bad in (dict(size=0), dict(opacity=2), dict(color="#12345"), dict(color="teal"),
                dict(anchor="middle"), dict(outline=(100, "red"))):
        with pytest.raises(zavimage.UsageError):
            gray.text("Hi", (5, 30), **bad)
    with pytest.raises(zavimage.OutsideError):  # a start outside the picture draws nothing
        gray.text("Hi", (60, 30), color="white")
