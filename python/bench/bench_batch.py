"""The annotate batch on a Dask LocalCluster against `zavimage annotate` on the same frames.

usage: /usr/bin/python3 python/bench/bench_batch.py [BUILD_DIR] [--frames N] [--size WxH]

Makes N frames (default 300, 1920x1080 JPEG), then times the same job (resize to 1280x720,
caption, two boxes, save as JPEG) four ways: the tool with one thread per core, the local
thread pool, a LocalCluster of 2 worker processes and one of 1 (one thread each; the cluster's
start is not counted). Prints the seconds, the ratio of the 2-worker cluster to the tool (the
goal: at most 1.5) and the scheduler's overhead per task: a round trip of an empty task, and
the batch's wall time beyond its tasks' compute time, per task.
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
JOB = dict(format="jpg", resize=(1280, 720), text="视频监控 cam 1", at=(10, 40),
           box=[(200, 120, 64, 48), (900, 500, 120, 90)])
TOOL_ARGS = ["--format", "jpg", "--resize", "1280x720", "--text", "视频监控 cam 1", "--at",
             "10,40", "--box", "200,120,64,48", "--box", "900,500,120,90"]


def noop(x: int) -> int:
    return x


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "release"))
    p.add_argument("--frames", type=int, default=300)
    p.add_argument("--size", default="1920x1080")
    args = p.parse_args()
    build = os.path.abspath(args.build)
    os.environ.setdefault("ZAVIMAGE_LIBRARY", os.path.join(build, "libzavimage.so.1"))
    sys.path.insert(0, os.path.join(ROOT, "python"))
    os.environ["PYTHONPATH"] = os.path.join(ROOT, "python")  # for the cluster's workers
    with tempfile.TemporaryDirectory(prefix="zav-bench-batch-") as work:
        return run(args, build, work)


def run(args: argparse.Namespace, build: str, work: str) -> int:
    import numpy as np
    from distributed import Client, LocalCluster, get_task_stream

    import zavimage
    from zavimage import batch

    width, height = (int(v) for v in args.size.split("x"))
    frames = os.path.join(work, "frames")
    os.makedirs(frames)
    y, x = np.mgrid[0:height, 0:width]
    rng = np.random.default_rng(0)
    for i in range(min(10, args.frames)):
        base = np.stack([(x + 7 * i) % 256, (y + 3 * i) % 256, (x ^ y) % 256], axis=-1)
        noisy = base.astype(np.uint8) ^ rng.integers(0, 16, base.shape, dtype=np.uint8)
        zavimage.Image.from_array(noisy).save(os.path.join(frames, f"f{i:05d}.jpg"))
    for i in range(10, args.frames):
        shutil.copyfile(os.path.join(frames, f"f{i % 10:05d}.jpg"),
                        os.path.join(frames, f"f{i:05d}.jpg"))
    tool = os.path.join(build, "tools", "zavimage")
    times = {}

    def timed(name, fn):
        out = os.path.join(work, name.replace(" ", "-"))
        start = time.perf_counter()
        result = fn(out)
        times[name] = time.perf_counter() - start
        shutil.rmtree(out, ignore_errors=True)
        return result

    def tool_run(out):
        subprocess.run([tool, "annotate", frames, "--out-dir", out, *TOOL_ARGS], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    timed("tool", tool_run)
    timed("python threads", lambda out: batch.annotate([frames], out, **JOB))
    overhead = {}
    for workers in (2, 1):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                          host="127.0.0.1", dashboard_address=None) as cluster, \
                Client(cluster) as client:
            client.run(lambda: __import__("zavimage"))  # the library loaded on every worker
            n = 200
            start = time.perf_counter()
            client.gather(client.map(noop, range(n), pure=False))
            overhead[workers] = [(time.perf_counter() - start) / n]
            with get_task_stream(client) as stream:
                name = f"cluster {workers} worker" + ("s" if workers > 1 else "")
                summary = timed(name, lambda out: batch.annotate([frames], out, client=client,
                                                                 **JOB))
            assert summary.failed == 0, summary.report()
            compute = sum(ss["stop"] - ss["start"] for task in stream.data
                          for ss in task["startstops"] if ss["action"] == "compute")
            tasks = len(stream.data)
            overhead[workers] += [(times[name] * workers - compute) / tasks, tasks]
    timed("tool again", tool_run)

    tool_time = min(times["tool"], times["tool again"])
    print(f"{args.frames} frames {args.size} JPEG -> 1280x720 JPEG, caption, 2 boxes; "
          f"{os.cpu_count()} cores")
    for name, seconds in times.items():
        print(f"  {name:18} {seconds:7.2f} s  {seconds / tool_time:5.2f} x tool")
    for workers, (empty, beyond, tasks) in overhead.items():
        print(f"  scheduler, {workers} worker(s): empty task {empty * 1e3:.2f} ms; batch "
              f"{tasks} tasks, {beyond * 1e3:.1f} ms per task beyond compute")
    ratio = times["cluster 2 workers"] / tool_time
    print(f"2-worker cluster / tool: {ratio:.2f} (goal: at most 1.5); "
          f"1 -> 2 workers: {times['cluster 1 worker'] / times['cluster 2 workers']:.2f} x faster")
    return 0


if __name__ == "__main__":
    sys.exit(main())
