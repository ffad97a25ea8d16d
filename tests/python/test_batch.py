"""zavimage.batch: the same files and summary as `zavimage annotate`, locally and on a cluster."""

import os
import subprocess
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
    """A folder of small frames, with a damaged one and a named missing one beside it."""
    d = tmp_path_factory.mktemp("frames")
    for i in range(12):
        zavimage.Image.from_array(pattern(48 + i, 80, seed=i)).save(d / f"f{i:02d}.bmp")
    (d / "z-bad.jpg").write_bytes(b"\xff\xd8\xff" + b"\0" * 20)
    return [str(d / "missing.ppm"), str(d)]  # a missing input first: its failure leads either way


def outputs(folder):
    return {p.name: p.read_bytes() for p in sorted(folder.iterdir())}


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
    assert (summary.succeeded, summary.failed, summary.exit_status) == (12, 2, 1)
    assert outputs(tmp_path) == outputs(out)
    assert len(seen) == 14
    bad = [r for r in summary.results if not r.ok]
    assert [(os.path.basename(r.input), r.status) for r in bad] == [("missing.ppm", 3),
                                                                   ("z-bad.jpg", 10)]


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
        assert on_cluster.report() == local.report() == "annotate: 12 succeeded, 0 failed\n"
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


def test_two_outputs_with_one_name_are_refused_before_work(frames, tmp_path):
    first = os.path.join(frames[1], "f00.bmp")
    with pytest.raises(batch.OutputClashError):
        batch.annotate([frames[1], first], tmp_path / "x")
    with pytest.raises(batch.OutputClashError):  # one name once the extension is replaced
        batch.annotate([first, first[:-3] + "ppm"], tmp_path / "x", format="jpg")
    assert not (tmp_path / "x").exists()
