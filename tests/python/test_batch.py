"""zavimage.batch: the same files and summary as `zavimage annotate`, locally and on a cluster."""

import ctypes
import os
import subprocess
import threading
import sys

import pytest
from conftest import pattern

import zavimage
from zavimage import batch

STEPS = dict(format="jpg", text="视频 cam 1", at=(4, 30), size=20,
             box=[(20, 15, 30, 20), (60, 40, 10, 10)], box_color="green", resize=(96, 64),
             flip=True, quality=3)
TOOL_ARGS = ["--format", "jpg", "--text", "视频 cam 1", "--at", "4,30", "--size", "20",
             "--box", "20,15,30,20", "--box", "60,40,10,10", "--box-color", "green",
             "--resize", "96x64", "--flip", "--quality", "3"]


@pytest.fixture(scope="module")
def frames(tmp_path_factory):
    """A folder of small frames, with a gray one, a damaged one, a file that is no picture and a
    subfolder in it, and a named missing one beside it."""
    d = tmp_path_factory.mktemp("frames")
    for i in range(12):
        zavimage.Image.from_array(pattern(48 + i, 80, seed=i)).save(d / f"f{i:02d}.bmp")
    zavimage.Image.from_array(pattern(50, 70, 1, seed=20)[..., 0]).save(d / "g-gray.pgm")
    (d / "z-bad.jpg").write_bytes(b"\xff\xd8\xff" + b"\0" * 20)
    (d / "notes.txt").write_text("not a picture")
    (d / "sub").mkdir()
    zavimage.Image.from_array(pattern(40, 60, seed=30)).save(d / "sub" / "s.ppm")
    return [str(d / "missing.ppm"), str(d)]  # a missing input: found before the work


def channels_kept(path):
    """The channels a picture file keeps (1 for gray), as the library's header step tells."""
    fmt, w, h, c = ctypes.c_char_p(), ctypes.c_int32(), ctypes.c_int32(), ctypes.c_int32()
    assert zavimage._lib.lib.ZAVProbeImagePath(zavimage._lib.component(), bytes(path),
                                               *map(ctypes.byref, (fmt, w, h, c))) == 0
    return c.value


def outputs(folder):
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*"))
            if p.is_file()}


@pytest.fixture(scope="module")
def tool_run(frames, tool, tmp_path_factory):
    out = tmp_path_factory.mktemp("tool")
    run = tool("annotate", *frames, "--out-dir", out, *TOOL_ARGS, check=False)
    assert run.returncode == 1, run.stderr
    return out, run.stdout


def test_local_batch_matches_the_tool(frames, tool_run, tmp_path):
    seen = []
    summary = batch.annotate(frames, tmp_path, workers=3, progress=seen.append, **STEPS)
    out, printed = tool_run
    assert summary.report() == printed
    assert (summary.succeeded, summary.failed, summary.exit_status) == (13, 2, 1)
    assert (summary.subfolders, summary.other_files) == (1, 1)
    assert outputs(tmp_path) == outputs(out)
    assert channels_kept(tmp_path / "g-gray.jpg") == 1 and channels_kept(out / "f00.jpg") == 3
    assert len(seen) == 14  # the missing input was found before the work
    bad = [r for r in summary.results if not r.ok]
    assert [(os.path.basename(r.input), r.status) for r in bad] == [("missing.ppm", 3),
                                                                   ("z-bad.jpg", 10)]
    colour = batch.annotate([os.path.join(frames[1], "g-gray.pgm")], tmp_path / "c", color=True,
                            format="jpg")
    assert colour.exit_status == 0 and channels_kept(tmp_path / "c" / "g-gray.jpg") == 3


def test_cluster_batch_matches_the_local_one(frames, tool_run, cluster, tmp_path):
    out, printed = tool_run
    summary = batch.annotate(frames, tmp_path / "paths", client=cluster, chunk_size=3, **STEPS)
    assert summary.report() == printed
    assert outputs(tmp_path / "paths") == outputs(out)
    workers = cluster.run(lambda: (zavimage._lib.component().value, batch._malloc_tuned))
    assert len(workers) == 2 and any(tuned for _, tuned in workers.values())
    if zavimage.HAS_MEMORY:  # pictures sent as bytes, named for their outputs
        named = [(p.name, p.read_bytes()) for p in sorted((tmp_path / "paths").iterdir())]
        on_cluster = batch.annotate(named, tmp_path / "b1", client=cluster, format="bmp")
        local = batch.annotate(named, tmp_path / "b2", format="bmp")
        assert on_cluster.report() == local.report() == "annotate: 13 succeeded, 0 failed\n"
        assert outputs(tmp_path / "b1") == outputs(tmp_path / "b2")


def test_command_line_on_the_cluster(frames, tool_run, cluster, tmp_path):
    env = dict(os.environ, PYTHONPATH=os.path.join(os.path.dirname(__file__), "..", "..",
                                                   "python"))
    run = subprocess.run([sys.executable, "-m", "zavimage", "annotate", *frames, "--out-dir",
                          tmp_path, *TOOL_ARGS, "--scheduler", cluster.scheduler.address],
                         capture_output=True, text=True, env=env)
    out, printed = tool_run
    assert (run.returncode, run.stdout) == (1, printed), run.stderr
    assert outputs(tmp_path) == outputs(out)


def test_two_outputs_with_one_name_are_refused_before_work(frames, tool, tmp_path):
    first = os.path.join(frames[1], "f00.bmp")
    with pytest.raises(batch.OutputClashError):
        batch.annotate([frames[1], first], tmp_path / "x")
    other = tmp_path / "f00.ppm"
    other.write_bytes(b"P3 1 1 255 0 0 0\n")
    with pytest.raises(batch.OutputClashError) as e:  # one name once the extension is replaced
        batch.annotate([first, other], tmp_path / "x", format="jpg")
    run = tool("annotate", first, other, "--out-dir", tmp_path / "x", "--format", "jpg",
               check=False)
    assert run.returncode == 2 and f"zavimage: {e.value}\n" in run.stderr
    assert not (tmp_path / "x").exists()


def test_folder_rules_match_the_tool(frames, tool, tmp_path):
    """--recursive keeps the subfolder's place, --no-clobber skips, an output that is an input
    is refused unless in place; the summaries are the tool's."""
    src = frames[1]
    (tmp_path / "py").mkdir()
    (tmp_path / "py" / "f03.bmp").write_bytes(b"kept")
    (tmp_path / "tool").mkdir()
    (tmp_path / "tool" / "f03.bmp").write_bytes(b"kept")
    py = batch.annotate([src], tmp_path / "py", recursive=True, no_clobber=True, box=(1, 1, 5, 5))
    run = tool("annotate", src, "--out-dir", tmp_path / "tool", "-r", "-n", "--box", "1,1,5,5",
               check=False)
    assert (py.report(), py.exit_status) == (run.stdout, run.returncode)
    assert "1 skipped (output exists)" in run.stdout and "subfolder" not in run.stdout
    assert outputs(tmp_path / "py") == outputs(tmp_path / "tool")
    assert (tmp_path / "py" / "f03.bmp").read_bytes() == b"kept"
    assert (tmp_path / "py" / "sub" / "s.ppm").is_file()

    one = os.path.join(src, "f00.bmp")
    with pytest.raises(batch.OverwriteError):
        batch.annotate([one], src)
    assert tool("annotate", one, "--out-dir", src, check=False).returncode == 2
    copy = tmp_path / "copy.bmp"
    copy.write_bytes(open(one, "rb").read())
    assert batch.annotate([copy], output=copy, in_place=True, flip=True).exit_status == 0
    assert copy.read_bytes() != open(one, "rb").read()


def test_bad_values_are_refused_before_any_work(frames, tmp_path):
    out = tmp_path / "x"
    for bad in (dict(box=(5, 5, 0, 4)), dict(box_color="pink"), dict(text_color=3),
                dict(size=0, text="a"), dict(quality=90), dict(jpeg_quality=97),
                dict(resize="0x5"), dict(text=""), dict(format="gif")):
        with pytest.raises(batch.UsageError):
            batch.annotate(frames, out, **bad)
    env = dict(os.environ, PYTHONPATH=os.path.join(os.path.dirname(__file__), "..", "..",
                                                   "python"))
    run = subprocess.run([sys.executable, "-m", "zavimage", "annotate", frames[1], "--out-dir",
                          out, "--box", "1,1,0,1"], capture_output=True, text=True, env=env)
    assert run.returncode == 2 and "--box" not in run.stdout, run.stderr
    assert not out.exists()


def test_typographic_caption_matches_the_tool(frames, tool, typographic_tool, tmp_path):
    if not typographic_tool:
        pytest.skip("the tool draws only the classic caption")
    pictures = [os.path.join(frames[1], n) for n in ("f01.bmp", "g-gray.pgm")]
    py = batch.annotate(pictures, tmp_path / "py", classic=False, text="cam 1\n视频",
                        anchor="bottom-right", at=(4, 2), size=14, text_color="#FFD000",
                        outline=(1, "black"), background=("blue", "40%"), resize="x40")
    run = tool("annotate", *pictures, "--out-dir", tmp_path / "tool", "--text", "cam 1\n视频",
               "--anchor", "bottom-right", "--at", "4,2", "--size", "14", "--text-color",
               "#FFD000", "--outline", "1,black", "--background", "blue,40%", "--resize", "x40")
    assert py.report() == run.stdout
    assert outputs(tmp_path / "py") == outputs(tmp_path / "tool")
    with pytest.raises(batch.UsageError):
        batch.annotate(pictures, tmp_path / "x", text="a", classic=True, opacity=0.5)
    with pytest.raises(batch.UsageError):
        batch.annotate(pictures, tmp_path / "x", text="a", classic=False, font="/no/such.ttf")


def test_a_stop_counts_exactly_the_files_written(frames, tmp_path):
    """A stop set after the first file starts no further one; the summary counts the files
    that exist."""
    stop = threading.Event()
    summary = batch.annotate([frames[1]], tmp_path, workers=1, stop=stop,
                             progress=lambda result: stop.set())
    written = sorted(p.name for p in tmp_path.iterdir())
    assert summary.stopped_by == "request" and summary.succeeded == len(written) >= 1
    failed = summary.failed  # the damaged file, had the worker reached it before the stop
    assert summary.report().startswith(
        f"annotate: stopped by request: {len(written)} succeeded, {failed} failed, "
        f"{14 - len(written) - failed} not done\n")
    assert len(written) < 13  # the stop took effect: files after it were not started
    set_before = threading.Event()
    set_before.set()
    idle = batch.annotate([frames[1]], tmp_path / "none", stop=set_before)
    assert idle.succeeded == 0 and idle.not_done == 14 and not (tmp_path / "none").exists()


def test_standard_streams_as_the_tool(frames, tool, tmp_path):
    """- reads a picture from standard input, -o - writes one to standard output."""
    gray = open(os.path.join(frames[1], "g-gray.pgm"), "rb").read()
    env = dict(os.environ, PYTHONPATH=os.path.join(os.path.dirname(__file__), "..", "..",
                                                   "python"))
    python = [sys.executable, "-m", "zavimage"]
    path = os.environ.get("ZAVIMAGE_TOOL") or "zavimage"
    for args in (["-", "-o", "-", "--format", "png", "--text", "x"],
                 ["-", "-o", "{out}", "--box", "5,5,10,10"]):
        results = []
        for who, cmd in (("py", python), ("tool", [path])):
            out = str(tmp_path / f"{who}.jpg")
            run = subprocess.run([*cmd, "annotate", *[out if a == "{out}" else a for a in args]],
                                 input=gray, capture_output=True, env=env)
            assert run.returncode == 0, run.stderr
            results.append((run.stdout, open(out, "rb").read() if "{out}" in args else b""))
        assert results[0] == results[1] and results[0] != (b"", b"")
    run = subprocess.run([*python, "annotate", "-", "--out-dir", tmp_path], input=gray,
                         capture_output=True, env=env)
    assert run.returncode == 2


def test_the_packages_local_cluster_listens_on_loopback_alone(frames, tmp_path):
    pytest.importorskip("distributed")
    from urllib.parse import urlparse

    def http_hosts(client):  # where the scheduler's HTTP server (dashboard, health) listens
        return {sock.getsockname()[0]
                for sock in client.cluster.scheduler.http_server._sockets.values()}

    with batch.local_client(1, dashboard=True) as client:
        addresses = [client.scheduler.address, *client.scheduler_info()["workers"]]
        assert all(urlparse(a).hostname == "127.0.0.1" for a in addresses), addresses
        assert urlparse(client.dashboard_link).hostname == "127.0.0.1"
        assert http_hosts(client) == {"127.0.0.1"}
        summary = batch.annotate(frames, tmp_path / "out", format="pgm", client=client)
        assert summary.succeeded > 0
    def worker_http_hosts(dask_worker):  # each worker's own HTTP server (its status pages)
        return sorted({sock.getsockname()[0]
                       for sock in dask_worker.http_server._sockets.values()})

    with batch.local_client(2) as client:
        assert urlparse(client.scheduler.address).hostname == "127.0.0.1"
        assert http_hosts(client) == {"127.0.0.1"}
        hosts = client.run(worker_http_hosts)
        assert len(hosts) == 2 and all(h == ["127.0.0.1"] for h in hosts.values()), hosts
    with pytest.raises(TypeError):
        batch.local_client(1, host="0.0.0.0")
