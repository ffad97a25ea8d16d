"""The annotate batch on a Dask LocalCluster against `zavimage annotate` on the same frames.

usage: /usr/bin/python3 python/bench/bench_batch.py [BUILD_DIR] [--frames N] [--size WxH]
                                                   [--rounds R]

Makes N frames (default 300, 1920x1080 JPEG), then times the same job (resize to 1280x720,
caption, two boxes, save as JPEG) in R rounds: the tool with one thread per core, LocalClusters
of 2 and of 1 worker processes (one thread each; the clusters' start is not counted), a third of
2 whose workers keep Dask's malloc settings (tune_malloc=False), and the local thread pool. Prints the
seconds, the median within-round ratio to the tool (the goals: the local threads at most 1.1,
the 2-worker cluster at most 1.3), the CPU seconds each run used (the tool's process; or this process, with the clients and
the schedulers, and the cluster's workers, less what they use when idle) and the scheduler's overhead per task: an
empty task's share of 200 in a row, and the workers' idle time in the batch per task.
"""

from __future__ import annotations

import argparse
import contextlib
import os
import shutil
import statistics
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
    p.add_argument("--rounds", type=int, default=3)
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
    times: dict = {}
    idle: dict = {}

    cpu: dict = {}
    background: dict = {}  # idle CPU seconds per second: of this process (None), of workers

    def cpu_seconds(name, client) -> float:
        """CPU time of the tool (a finished child), or of this process (the threads, or the
        client and the schedulers) and the given cluster's workers."""
        t = os.times()
        if name == "tool":
            return t.children_user + t.children_system
        own = t.user + t.system
        if client is None:
            return own
        return own + sum(client.run(lambda: sum(os.times()[:2])).values())

    def timed(name, fn, client=None):
        out = os.path.join(work, name.replace(" ", "-"))
        cpu_start = cpu_seconds(name, client)
        start = time.perf_counter()
        if client is None:
            summary = fn(out)
            times.setdefault(name, []).append(time.perf_counter() - start)
            assert summary is None or summary.failed == 0, summary.report()
        else:
            with get_task_stream(client) as stream:
                summary = fn(out)
            seconds = time.perf_counter() - start
            assert summary.failed == 0, summary.report()
            times.setdefault(name, []).append(seconds)
            compute = sum(ss["stop"] - ss["start"] for task in stream.data
                          for ss in task["startstops"] if ss["action"] == "compute")
            workers = len(client.nthreads())
            idle.setdefault(name, []).append(
                ((seconds * workers - compute) / len(stream.data), len(stream.data)))
        used = cpu_seconds(name, client) - cpu_start
        if name != "tool":  # less what the idle clusters use meanwhile (heartbeats)
            used -= times[name][-1] * (background[None] + background.get(id(client), 0.0))
        cpu.setdefault(name, []).append(used)
        shutil.rmtree(out, ignore_errors=True)

    # Starting a LocalCluster sets MALLOC_TRIM_THRESHOLD_=65536 (and OMP_NUM_THREADS=1) in this
    # process's environment for its workers; the tool runs with the environment it had.
    tool_env = dict(os.environ)

    def tool_run(out):
        subprocess.run([tool, "annotate", frames, "--out-dir", out, *TOOL_ARGS], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=tool_env)

    # name: (workers, tune_malloc). Dask starts its workers with MALLOC_TRIM_THRESHOLD_=65536,
    # which the batch undoes on its workers unless told not to (the third cluster).
    kinds = {"cluster 2 workers": (2, True), "cluster 1 worker": (1, True),
             "cluster 2 workers untuned": (2, False)}
    clients = {}
    empty = {}
    with contextlib.ExitStack() as stack:
        for name, (workers, _) in kinds.items():
            cluster = stack.enter_context(LocalCluster(
                n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                dashboard_address="127.0.0.1:0"))
            client = clients[name] = stack.enter_context(Client(cluster))
            client.run(lambda: __import__("zavimage"))  # the library loaded on every worker
            start = time.perf_counter()
            client.gather(client.map(noop, range(200), pure=False))
            empty[name] = (time.perf_counter() - start) / 200
        # CPU seconds per second of this process and of each cluster's workers, all idle.
            own = cpu_seconds(None, None)
        workers = {id(c): cpu_seconds(None, c) - own for c in clients.values()}
        time.sleep(3)
        background[None] = (cpu_seconds(None, None) - own) / 3
        for c in clients.values():
            now = cpu_seconds(None, c) - cpu_seconds(None, None)
            background[id(c)] = (now - workers[id(c)]) / 3
        # Rounds of all runs, one after another, so that changes in the machine's load reach
        # them all alike; ratios are taken within a round.
        for _ in range(args.rounds):
            timed("tool", tool_run)
            for name, client in clients.items():
                tune = kinds[name][1]
                timed(name, lambda out: batch.annotate([frames], out, client=client,
                                                       tune_malloc=tune, **JOB), client)
            timed("python threads", lambda out: batch.annotate([frames], out, **JOB))

    med = statistics.median
    print(f"{args.frames} frames {args.size} JPEG -> 1280x720 JPEG, caption, 2 boxes; "
          f"{os.cpu_count()} cores; {args.rounds} rounds; load average "
          f"{os.getloadavg()[0]:.1f}")
    print(f"  {'':26} {'wall (median, runs)':>30} {'x tool':>7}   {'CPU':>7} {'x tool':>7}")
    for name, seconds in times.items():
        ratios = [s / t for s, t in zip(seconds, times["tool"])]
        runs = ", ".join(f"{s:.2f}" for s in seconds)
        print(f"  {name:26} {med(seconds):6.2f} s ({runs:>18}) {med(ratios):7.2f}   "
              f"{med(cpu[name]):5.2f} s {med(cpu[name]) / med(cpu['tool']):7.2f}")
    for name in kinds:
        tasks = idle[name][0][1]
        print(f"  {name}: empty task {empty[name] * 1e3:.2f} ms; batch of {tasks} tasks: "
              f"workers idle {med(i for i, _ in idle[name]) * 1e3:.1f} ms per task")
    for name, goal in (("python threads", 1.1), ("cluster 2 workers", 1.3),
                       ("cluster 2 workers untuned", 1.3)):
        ratio = med(c / t for c, t in zip(times[name], times["tool"]))
        print(f"{name} / tool: {ratio:.2f} (goal: at most {goal})")
    scaling = med(a / b for a, b in zip(times["cluster 1 worker"], times["cluster 2 workers"]))
    print(f"1 -> 2 workers: {scaling:.2f} x faster")
    return 0


if __name__ == "__main__":
    sys.exit(main())
