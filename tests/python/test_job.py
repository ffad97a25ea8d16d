"""One job for the tool and Python: the library's rules reach both front ends, whatever the
format, and the image functions refuse what the tool refuses."""

import ctypes
import os
import signal
import subprocess
import sys
import time

import pytest
from conftest import pattern

import zavimage
from zavimage import batch

PYTHON_PATH = os.path.join(os.path.dirname(__file__), "..", "..", "python")


def channels_kept(path):
    fmt, w, h, c = ctypes.c_char_p(), ctypes.c_int32(), ctypes.c_int32(), ctypes.c_int32()
    assert zavimage._lib.lib.ZAVProbeImagePath(zavimage._lib.component(), bytes(path),
                                               *map(ctypes.byref, (fmt, w, h, c))) == 0
    return c.value


def outputs(folder):
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*"))
            if p.is_file()}


@pytest.fixture(scope="module")
def mixed(tmp_path_factory):
    """A colour picture, a gray one, a bilevel one and a subfolder."""
    d = tmp_path_factory.mktemp("mixed")
    zavimage.Image.from_array(pattern(30, 41, seed=3)).save(d / "colour.bmp")
    zavimage.Image.from_array(pattern(33, 28, 1, seed=4)[..., 0]).save(d / "gray.pgm")
    (d / "bits.pbm").write_bytes(b"P1 5 3\n10101\n01010\n11100\n")
    (d / "sub").mkdir()
    zavimage.Image.from_array(pattern(20, 22, seed=5)).save(d / "sub" / "deep.tif")
    return d


def test_every_format_as_the_tool_writes_it(mixed, tool, tmp_path):
    """Every extension the table writes: the same files, gray kept where the format has gray,
    and the same summary, recursive and not."""
    for f in zavimage.formats():
        for ext in f.extensions:
            for recursive in ([], ["-r"]):
                py, tl = tmp_path / f"py-{ext}{len(recursive)}", tmp_path / f"tl-{ext}{len(recursive)}"
                summary = batch.annotate(str(mixed), py, format=ext, recursive=bool(recursive),
                                         box=(2, 2, 6, 5), resize="x24")
                run = tool("annotate", mixed, "--out-dir", tl, "--format", ext, *recursive,
                           "--box", "2,2,6,5", "--resize", "x24")
                assert summary.report() == run.stdout, ext
                assert outputs(py) == outputs(tl), ext
                assert channels_kept(py / f"gray.{ext}") == (1 if ext in f.gray else 3), ext
                assert channels_kept(py / f"colour.{ext}") == 3
    again = batch.annotate(mixed, tmp_path / f"py-{ext}0", format=ext, no_clobber=True)
    run = tool("annotate", mixed, "--out-dir", tmp_path / f"tl-{ext}0", "--format", ext, "-n")
    assert again.report() == run.stdout and "3 skipped (output exists)" in run.stdout


def _both_front_ends(args, env):
    """The tool and python3 -m zavimage on the same annotate arguments: exit statuses."""
    tool = os.environ.get("ZAVIMAGE_TOOL") or "zavimage"
    return [subprocess.run([*cmd, "annotate", *map(str, args)], capture_output=True, env=env)
            for cmd in ([tool], [sys.executable, "-m", "zavimage"])]


def test_one_rule_changed_in_the_library_reaches_both(mixed, tmp_path):
    """The format table's gray rule, changed by a preloaded library, changes what the tool and
    Python write alike: neither holds the rule itself."""
    shim = os.environ.get("ZAVIMAGE_RULE_SHIM")
    if not shim:
        pytest.skip("the rule shim is built with the tests (ZAVIMAGE_RULE_SHIM)")
    base = dict(os.environ, PYTHONPATH=PYTHON_PATH)
    for preload, channels in (("", 1), (shim, 3)):
        env = dict(base, LD_PRELOAD=preload) if preload else base
        runs = _both_front_ends([mixed / "gray.pgm", "-o", tmp_path / "t.png"], env)
        tool_file = (tmp_path / "t.png").read_bytes()
        runs += _both_front_ends([mixed / "gray.pgm", "-o", tmp_path / "p.png"], env)[1:]
        assert [r.returncode for r in runs] == [0, 0, 0], [r.stderr for r in runs]
        assert channels_kept(tmp_path / "t.png") == channels_kept(tmp_path / "p.png") == channels
        assert tool_file == (tmp_path / "p.png").read_bytes()
        listed = subprocess.run([os.environ.get("ZAVIMAGE_TOOL") or "zavimage", "formats"],
                                capture_output=True, text=True, env=env).stdout
        assert ("gray: -" if preload else "gray: png") in listed.splitlines()[-1]


def test_image_functions_refuse_what_the_tool_refuses(mixed, tool, tmp_path):
    im = zavimage.load(mixed / "colour.bmp")
    for bad in (dict(quality=90), dict(quality=11), dict(quality=-1), dict(jpeg_quality=97),
                dict(jpeg_quality=0), dict(quality=2, jpeg_quality=75)):
        with pytest.raises(zavimage.UsageError):
            im.save(tmp_path / "q.jpg", **bad)
        with pytest.raises(zavimage.UsageError):
            im.encode("jpg", **bad)
    assert not (tmp_path / "q.jpg").exists()
    with pytest.raises(zavimage.UsageError, match="jpeg_quality 90"):
        im.save(tmp_path / "q.jpg", quality=90)
    im.save(tmp_path / "p90.jpg", jpeg_quality=90)
    tool("convert", mixed / "colour.bmp", tmp_path / "t90.jpg", "--jpeg-quality", "90")
    assert (tmp_path / "p90.jpg").read_bytes() == (tmp_path / "t90.jpg").read_bytes()
    assert im.encode("jpg", jpeg_quality=75) == im.encode("jpg", quality=2) == im.encode("jpg")

    # anchors and offsets mean what they mean to the tool
    im.text("BR", (3, 2), anchor="bottom-right", size=12, color="white")
    im.save(tmp_path / "p-br.bmp")
    tool("text", mixed / "colour.bmp", tmp_path / "t-br.bmp", "--text", "BR", "--anchor",
         "bottom-right", "--at", "3,2", "--size", "12", "--text-color", "white")
    assert (tmp_path / "p-br.bmp").read_bytes() == (tmp_path / "t-br.bmp").read_bytes()

    with pytest.raises(FileNotFoundError, match="folder not found"):  # as the tool words it
        zavimage.load(tmp_path / "nope" / "a.jpg")
    with pytest.raises(FileNotFoundError, match="folder not found"):
        im.save(tmp_path / "nope" / "a.jpg")

    before = im.array.copy()
    with pytest.raises(zavimage.OutsideError, match="lies outside the 41 x 30 picture"):
        im.caption("x", at=(5000, 10))
    with pytest.raises(zavimage.OutsideError):
        im.draw_box((5000, 2, 3, 4))
    with pytest.raises(zavimage.OutsideError):
        im.text("x", (3, 200), anchor="top-left")
    assert (im.array == before).all()  # nothing drawn


def test_a_name_given_alone_is_one_input(mixed, tmp_path):
    summary = batch.annotate(str(mixed), tmp_path / "a", text="c", at=(0, 0))
    assert summary.succeeded == 3 and summary.subfolders == 1
    assert batch.annotate(mixed / "colour.bmp", tmp_path / "b").succeeded == 1


def test_an_interrupt_in_process_counts_the_files_written(mixed, tmp_path):
    def interrupt(result):
        raise KeyboardInterrupt

    summary = batch.annotate(mixed, tmp_path, workers=1, progress=interrupt, recursive=True)
    written = list(tmp_path.rglob("*.*"))
    assert summary.stopped_by == "SIGINT"
    assert summary.succeeded == len(written) >= 1 and summary.not_done == 4 - len(written)
    assert summary.report().startswith(f"annotate: stopped by SIGINT: {len(written)} succeeded")


def test_a_cluster_run_stopped_by_sigint_counts_what_exists(cluster, tmp_path):
    """Stopped with SIGINT, the command waits for the workers' saves in progress, and its
    summary counts exactly the files that exist when it exits (and later)."""
    src = tmp_path / "src"
    src.mkdir()
    for i in range(80):
        zavimage.Image.from_array(pattern(360, 480, seed=i)).save(src / f"f{i:03d}.bmp")
    out = tmp_path / "out"
    env = dict(os.environ, PYTHONPATH=PYTHON_PATH)
    proc = subprocess.Popen([sys.executable, "-m", "zavimage", "annotate", src, "--out-dir", out,
                             "--format", "png", "--text", "cam 1", "--resize", "960x720",
                             "--verbose", "--chunk", "4", "--scheduler",
                             cluster.scheduler.address],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True)
    for line in proc.stderr:  # the first file written
        if line.startswith("["):
            break
    proc.send_signal(signal.SIGINT)
    stdout, stderr = proc.communicate(timeout=60)
    at_exit = sorted(p.name for p in out.iterdir())
    time.sleep(1.5)
    assert sorted(p.name for p in out.iterdir()) == at_exit  # nothing written after the exit
    assert proc.returncode == 130, stderr
    assert stdout.startswith(f"annotate: stopped by SIGINT: {len(at_exit)} succeeded, 0 failed, "
                             f"{80 - len(at_exit)} not done\n"), stdout
    assert 1 <= len(at_exit) < 80
