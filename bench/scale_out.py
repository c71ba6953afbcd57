"""When do worker processes or a Dask cluster pay off for many independent fits?

Times the fits of examples/many_fits.py three ways, interleaved over several
repeats, for a few fit sizes and counts:

- in process: one fit after another, each on this process's OpenMP team, and
  once more with a team of one thread (the cost of the fits on one core);
- processes: a fresh pool of single-threaded spawned workers, its start included;
- dask: a LocalCluster of single-threaded workers on 127.0.0.1 that is already
  running (its start and stop are timed apart, once per repeat).

Every result is checked bit for bit against the in-process one. Medians in seconds.

    python bench/scale_out.py [--repeats 3] [--workers 2]
"""

from __future__ import annotations

import argparse
import statistics
import sys
import time
from collections.abc import Callable
from pathlib import Path
from typing import Any

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "examples"))
import many_fits
from threadpoolctl import threadpool_info, threadpool_limits

# (points per data set, n_warmup, n_deep, fit counts)
SIZES = [(200, 200, 2000, (8, 64)), (200, 1000, 3000, (8, 64)), (2000, 1000, 3000, (8, 32))]


def threadpool_info_openmp() -> int:
    return max(
        (pool["num_threads"] for pool in threadpool_info() if pool["user_api"] == "openmp"),
        default=1,
    )


def seconds(run: Callable[..., Any], *args: Any, **kwargs: Any) -> tuple[Any, float]:
    start = time.perf_counter()
    result = run(*args, **kwargs)
    return result, time.perf_counter() - start


def fit_on_cluster(client: Any, seeds: list[int], **settings: int) -> list[Any]:
    fits = [client.submit(many_fits.fit_one, s, pure=False, **settings) for s in seeds]
    return list(client.gather(fits))


def stop_cluster(cluster: Any, client: Any) -> None:
    client.close()
    cluster.close()


def start_cluster(workers: int) -> tuple[Any, Any]:
    import cloudpickle
    from dask.distributed import Client

    # The workers cannot import the example by name: its functions travel by value.
    cloudpickle.register_pickle_by_value(many_fits)
    cluster = many_fits.local_cluster(workers)
    client = Client(cluster)
    client.run(many_fits.load_module)
    return cluster, client


def main() -> None:
    ap = argparse.ArgumentParser(description="In-process fits against processes and Dask.")
    ap.add_argument("--repeats", type=int, default=3)
    ap.add_argument("--workers", type=int, default=2)
    args = ap.parse_args()
    # Read before anything starts workers: a local cluster may set it in this process too.
    team = f"OpenMP team of {threadpool_info_openmp()} threads in this process"
    times: dict[tuple[int, int, int, int, str], list[float]] = {}
    starts: list[float] = []
    stops: list[float] = []
    for _ in range(args.repeats):
        (cluster, client), t_start = seconds(start_cluster, args.workers)
        starts.append(t_start)
        for points, n_warmup, n_deep, counts in SIZES:
            settings = {"points": points, "n_warmup": n_warmup, "n_deep": n_deep}
            for count in counts:
                seeds = list(range(count))
                key = (points, n_warmup, n_deep, count)
                reference, t = seconds(many_fits.fit_in_process, seeds, **settings)
                times.setdefault((*key, "inprocess"), []).append(t)
                with threadpool_limits(limits=1, user_api="openmp"):
                    _, t = seconds(many_fits.fit_in_process, seeds, **settings)
                times.setdefault((*key, "one thread"), []).append(t)
                pooled, t = seconds(many_fits.fit_in_processes, seeds, args.workers, **settings)
                times.setdefault((*key, "processes"), []).append(t)
                on_dask, t = seconds(fit_on_cluster, client, seeds, **settings)
                times.setdefault((*key, "dask"), []).append(t)
                assert many_fits.identical(pooled, reference)
                assert many_fits.identical(on_dask, reference)
        _, t_stop = seconds(stop_cluster, cluster, client)
        stops.append(t_stop)

    cpus = many_fits.available_cpus()
    print(
        f"{cpus} CPUs, {args.workers} single-threaded workers, {team}; "
        f"medians of {args.repeats} repeats, seconds for all fits"
    )
    print(
        f"dask LocalCluster: start {statistics.median(starts):.2f} s, "
        f"stop {statistics.median(stops):.2f} s"
    )
    print(
        f"{'points':>6} {'n_warmup':>8} {'n_deep':>6} {'fits':>5} {'ms a fit':>9} "
        f"{'in process':>10} {'1 thread':>9} {'processes':>10} {'dask warm':>10}"
    )
    for points, n_warmup, n_deep, counts in SIZES:
        for count in counts:
            key = (points, n_warmup, n_deep, count)
            med = {
                way: statistics.median(times[(*key, way)])
                for way in ("inprocess", "one thread", "processes", "dask")
            }
            print(
                f"{points:6d} {n_warmup:8d} {n_deep:6d} {count:5d} "
                f"{med['inprocess'] / count * 1e3:9.1f} {med['inprocess']:10.2f} "
                f"{med['one thread']:9.2f} {med['processes']:10.2f} {med['dask']:10.2f}"
            )


if __name__ == "__main__":
    main()
