"""Shared fixtures: the library and tool of a build tree, sample pictures, one Dask cluster.

Run from a build tree with ZAVIMAGE_LIBRARY and ZAVIMAGE_TOOL set (ctest does), or with the
package and tool installed.
"""

import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))

import zavimage  # noqa: E402


def pattern(height, width, channels=3, seed=0):
    """A picture with detail everywhere, so that every misplaced pixel shows."""
    rng = np.random.default_rng(seed)
    return rng.integers(0, 256, (height, width, channels), dtype=np.uint8)


@pytest.fixture(scope="session")
def tool():
    """Runs the command-line tool (the C interface's results): tool("flip", a, b)."""
    path = os.environ.get("ZAVIMAGE_TOOL") or shutil.which("zavimage")
    if not path:
        pytest.skip("the zavimage tool is needed as the oracle (set ZAVIMAGE_TOOL)")

    def run(*args, check=True):
        return subprocess.run([path, *map(str, args)], capture_output=True, text=True,
                              check=check)

    return run


@pytest.fixture(scope="session")
def typographic_tool(tool):
    """Whether the tool draws the typographic caption by default (and --classic the other)."""
    return "--classic" in tool("text", "--help").stdout


@pytest.fixture(scope="session")
def pictures(tmp_path_factory):
    """A folder of sample pictures: an odd-width BMP (row padding), a JPEG, a PPM."""
    d = tmp_path_factory.mktemp("pictures")
    zavimage.Image.from_array(pattern(61, 83)).save(d / "odd.bmp")
    smooth = np.zeros((120, 160, 3), np.uint8)
    smooth[..., 0] = np.arange(160, dtype=np.uint8)
    smooth[..., 1] = np.arange(120, dtype=np.uint8)[:, None] * 2
    zavimage.Image.from_array(smooth).save(d / "smooth.jpg")
    zavimage.Image.from_array(pattern(40, 50, seed=1)).save(d / "small.ppm")
    return d


@pytest.fixture(scope="session")
def cluster():
    """A Dask cluster of two worker processes on the loopback interface, for the session."""
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address="127.0.0.1:0") as c:
        with distributed.Client(c) as client:
            yield client
