"""zavimage.Image: views on the library's blocks, copies in, every operation against the tool."""

import gc
import os
import shutil
import subprocess
import sys
import threading
import weakref

import numpy as np
import pytest
from conftest import pattern

import zavimage
from zavimage import _lib

needs_memory = pytest.mark.skipif(not zavimage.HAS_MEMORY,
                                  reason="the library has no memory functions")


def read_p3(path):
    """A plain PPM (what the library writes for .ppm), read without the library: RGB to BGR."""
    words = path.read_text().split()
    assert words[0] == "P3"
    w, h = int(words[1]), int(words[2])
    return np.array(words[4:], dtype=np.uint8).reshape(h, w, 3)[..., ::-1]


def test_array_is_a_writable_view_with_the_row_stride(pictures, tmp_path):
    im = zavimage.load(pictures / "odd.bmp")
    a = im.array
    assert a.shape == (61, 83, 3) and a.dtype == np.uint8
    assert im.stride == 252 and a.strides == (252, 3, 1)  # 83 * 3 = 249, padded to 4
    assert a.flags.writeable and not a.flags.owndata
    assert np.shares_memory(a, im.array)
    a[:10] = 0
    a[20, 30] = (1, 2, 3)
    im.save(tmp_path / "out.ppm")
    twin = im.copy()
    assert np.array_equal(twin.array, a) and not np.shares_memory(twin.array, a)
    expected = pattern(61, 83)
    expected[:10] = 0
    expected[20, 30] = (1, 2, 3)
    assert np.array_equal(read_p3(tmp_path / "out.ppm"), expected)


def test_from_array_copies_any_layout(tmp_path):
    base = pattern(30, 40, 4)
    for a in (base[::2, ::-3, :3], base[:, :, 0].T, base[::-1], base[5:9, 7:8, 1:3]):
        im = zavimage.Image.from_array(a)
        expected = a if a.ndim == 3 else a[:, :, None]
        assert np.array_equal(im.array, expected)
        assert not np.shares_memory(im.array, base)
        assert im.stride % 4 == 0
    with pytest.raises(TypeError):
        zavimage.Image.from_array(base.astype(np.float32))
    with pytest.raises(ValueError):
        zavimage.Image.from_array(np.zeros((0, 4, 3), np.uint8))


@pytest.mark.parametrize("name", ["odd.bmp", "smooth.jpg"])
def test_operations_match_the_tool(pictures, tmp_path, tool, typographic_tool, name):
    """Each operation saves the same file as the command-line tool (the C interface) does."""
    src = pictures / name
    classic = ["--classic"] if typographic_tool else []
    cases = {
        "resize": (["resize", src, "{out}", "37x91", "--resize-filter", "nearest"],
                   lambda im: im.resize((37, 91))),
        "flip": (["flip", src, "{out}"], lambda im: im.flip()),
        "box": (["box", src, "{out}", "--box", "20,15,30,20", "--box", "-5,50,20,30",
                 "--box-color", "yellow"],
                lambda im: im.draw_box((20, 15, 30, 20), "yellow").draw_box((-5, 50, 20, 30),
                                                                            "yellow")),
        "text": (["text", src, "{out}", "--text", "视频 cam 1", "--at", "3,30", "--size", "20",
                  "--text-color", "green", *classic],
                 lambda im: im.caption("视频 cam 1", at=(3, 30), size=20, color="green")),
        "copy": (["copy", pictures / "small.ppm", src, "{out}", "--from", "5,5,30,20", "--to",
                  "10,10,45,10"],
                 lambda im: im.copy_region(zavimage.load(pictures / "small.ppm"),
                                           (5, 5, 30, 20), (10, 10, 45, 10))),
    }
    if typographic_tool:
        cases["typographic"] = (
            ["text", src, "{out}", "--text", "视频 cam\n1", "--at", "3,30", "--size", "20",
             "--text-color", "#00FF80", "--outline", "2,blue", "--opacity", "0.75"],
            lambda im: im.text("视频 cam\n1", (3, 30), size=20, color="#00FF80", opacity=0.75,
                               outline=(2, (255, 0, 0), 0.75)))
    for op, (args, apply) in cases.items():
        ours, theirs = tmp_path / f"{op}-py.bmp", tmp_path / f"{op}-c.bmp"
        tool(*[str(theirs) if a == "{out}" else a for a in args])
        with zavimage.load(src) as im:
            apply(im).save(ours)
        assert ours.read_bytes() == theirs.read_bytes(), op
    ours, theirs = tmp_path / "q-py.jpg", tmp_path / "q-c.jpg"
    tool("convert", src, theirs, "--quality", "4")
    zavimage.load(src).save(ours, quality=4)
    assert ours.read_bytes() == theirs.read_bytes()


@needs_memory
def test_bytes_in_and_out_match_files(pictures, tmp_path):
    im = zavimage.load(pictures / "smooth.jpg")
    for ext in ("jpg", "bmp", "tif"):
        im.save(tmp_path / f"a.{ext}", quality=3)
        assert im.encode(ext, quality=3) == (tmp_path / f"a.{ext}").read_bytes()
    data = (pictures / "odd.bmp").read_bytes()
    for form in (data, bytearray(data), memoryview(data)):
        assert np.array_equal(zavimage.load(form).array, zavimage.load(pictures / "odd.bmp").array)
    assert zavimage.probe(data) == zavimage.probe(pictures / "odd.bmp")
    with pytest.raises(zavimage.FormatError):
        zavimage.load(b"not a picture")
    with pytest.raises(zavimage.FormatError):
        im.encode("xyz")


def test_memory_functions_missing_is_an_error(monkeypatch, pictures):
    monkeypatch.setattr(_lib, "HAS_MEMORY", False)
    with pytest.raises(zavimage.MissingFeatureError, match="needs a library with memory"):
        zavimage.load(b"BM")
    with pytest.raises(zavimage.MissingFeatureError):
        zavimage.load(pictures / "odd.bmp").encode("jpg")


def test_errors_carry_status_and_text(pictures, tmp_path):
    with pytest.raises(FileNotFoundError) as e:
        zavimage.load(tmp_path / "missing.bmp")
    assert isinstance(e.value, zavimage.Error) and e.value.status == 3
    assert str(e.value) == f"{tmp_path / 'missing.bmp'}: file not found"
    (tmp_path / "bad.jpg").write_bytes(b"junk" * 10)
    with pytest.raises(zavimage.FormatError) as e:
        zavimage.load(tmp_path / "bad.jpg")
    assert e.value.status == 6 and e.value.text.startswith("unsupported format")
    (tmp_path / "cut.bmp").write_bytes((pictures / "odd.bmp").read_bytes()[:500])
    with pytest.raises(zavimage.CorruptFileError):
        zavimage.load(tmp_path / "cut.bmp")
    with pytest.raises(zavimage.NameRefusedError) as e:
        zavimage.load(tmp_path / "a?.bmp")
    assert e.value.status == 0x100 + ord("?")
    im = zavimage.load(pictures / "small.ppm")
    with pytest.raises(zavimage.FormatError) as e:
        im.save(tmp_path / "a.xyz")
    assert e.value.status == 7 and not (tmp_path / "a.xyz").exists()
    with pytest.raises(FileNotFoundError):
        im.save(tmp_path / "no" / "dir.bmp")
    with pytest.raises(zavimage.BufferFormatError):
        zavimage.Image.from_array(pattern(4, 4, 4)).save(tmp_path / "four.bmp")
    with pytest.raises(zavimage.BufferFormatError):
        im.copy_region(zavimage.Image.from_array(pattern(4, 4, 1)))
    im.close()
    with pytest.raises(ValueError, match="closed"):
        im.flip()


def test_buffer_lives_while_a_view_does(monkeypatch, pictures):
    gc.collect()  # images left by earlier tests (an exception's frames) go first
    released = []
    real = _lib.lib.ZAVReleaseImage

    def counting(obj, pp):
        released.append(True)
        return real(obj, pp)

    monkeypatch.setattr(_lib.lib, "ZAVReleaseImage", counting)
    im = zavimage.load(pictures / "small.ppm")
    owner = weakref.ref(im._buffer)
    view = im.array[5:10]
    with im:
        pass
    assert im.closed
    gc.collect()
    assert owner() is not None and not released
    view[:] = 7  # still the library's block, still writable
    assert (view == 7).all()
    del view
    gc.collect()
    assert owner() is None and released == [True]
    with zavimage.load(pictures / "small.ppm"):
        pass
    assert released == [True, True]  # no view: freed on close


def test_threads_use_their_own_objects(pictures, tmp_path):
    def job(image):
        return image.resize((120, 70)).caption("cam 1", at=(2, 30)).draw_box((10, 10, 30, 20))

    expected = job(zavimage.load(pictures / "smooth.jpg")).array.copy()
    handles, failures = set(), []
    together = threading.Barrier(4)  # all objects alive at once: no address is reused

    def worker(n):
        handles.add(_lib.component().value)
        together.wait()
        for i in range(15):
            out = tmp_path / f"t{n}-{i}.bmp"
            job(zavimage.load(pictures / "smooth.jpg")).save(out)
            if not np.array_equal(zavimage.load(out).array, expected):
                failures.append(out)

    threads = [threading.Thread(target=worker, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures and len(handles) == 4


def read_pnm(data):
    """Binary P5 or P6 as netpbm writes it: an (h, w, 1) gray or (h, w, 3) BGR array."""
    magic, w, h, maxval, pixels = data.split(maxsplit=4)
    assert magic in (b"P5", b"P6") and maxval == b"255"
    channels = 3 if magic == b"P6" else 1
    a = np.frombuffer(pixels, np.uint8).reshape(int(h), int(w), channels)
    return a[..., ::-1] if channels == 3 else a


@pytest.mark.skipif(shutil.which("pngtopnm") is None, reason="netpbm's pngtopnm is the oracle")
def test_png_files_and_bytes_against_netpbm(tmp_path):
    colour = pattern(37, 53)  # an odd width: rows padded in the buffer, not in the file
    gray = pattern(29, 31, 1, seed=3)
    for name, a in (("c.png", colour), ("g.png", gray)):
        im = zavimage.Image.from_array(a)
        im.save(tmp_path / name)
        shown = subprocess.run(["pngtopnm", tmp_path / name], capture_output=True, check=True)
        assert np.array_equal(read_pnm(shown.stdout), a), name
        back = zavimage.load(tmp_path / name)
        assert back.shape == (a.shape[0], a.shape[1], 3)  # loads are always BGR
        assert np.array_equal(back.array, np.broadcast_to(a, back.shape)), name
        if zavimage.HAS_MEMORY:
            data = im.encode("png")
            assert data == (tmp_path / name).read_bytes()
            assert np.array_equal(zavimage.load(data).array, back.array)
    assert zavimage.probe(tmp_path / "c.png") == ("Portable Network Graphics (*.png)", 53, 37)


def test_a_name_with_a_nul_is_refused_never_cut(pictures, tmp_path):
    with zavimage.load(pictures / "odd.bmp") as im:
        names = [str(tmp_path / "a.jpg\0.png"), tmp_path / "b.bmp\0"]
        for call in (im.save, zavimage.load, zavimage.probe):
            for name in names + ([bytes(tmp_path / "c\0.bmp")] if call == im.save else []):
                with pytest.raises(ValueError, match="null byte"):
                    call(name)
        with pytest.raises(ValueError, match="null byte"):
            im.caption("x", font=str(tmp_path / "font\0.ttf"))
    assert list(tmp_path.iterdir()) == []


# A script that closes (or drops) an image while other threads save, caption, encode and copy it:
# run in a process of its own, as a block freed under a running call kills the interpreter.
_CLOSE_DURING_CALLS = r"""
import sys, threading, time
import numpy as np
import zavimage

out = sys.argv[1]
for round, delay in enumerate((0.0, 0.002, 0.01, 0.03)):
    im = zavimage.Image.blank(4000, 3000, 3, 90)
    errors = []

    def run(fn):
        try:
            fn()
        except ValueError as e:  # "the image is closed": the call came after the close
            errors.append(e)

    calls = [lambda: im.save(f"{out}/big{round}.png"),
             lambda: im.text("W" * 40, (10, 2000), size=300, outline=4),
             lambda: im.encode("bmp"),
             lambda: im.copy().flip()]
    threads = [threading.Thread(target=run, args=(c,)) for c in calls]
    for t in threads:
        t.start()
    time.sleep(delay)
    if round % 2:
        im.close()
    else:
        del im
    for t in threads:
        t.join()
print("ok")
"""


def test_closing_an_image_never_frees_its_block_under_a_running_call(tmp_path):
    package = os.path.dirname(os.path.dirname(zavimage.__file__))
    env = dict(os.environ, PYTHONPATH=package)
    done = subprocess.run([sys.executable, "-c", _CLOSE_DURING_CALLS, str(tmp_path)],
                          capture_output=True, text=True, timeout=100, env=env)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.strip() == "ok"
    for png in tmp_path.glob("big*.png"):
        assert zavimage.probe(png)[1:] == (4000, 3000)
