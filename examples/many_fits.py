"""Many independent fits, in this process, across processes or on a Dask cluster.

vexa_core's classes do not pickle, so each worker returns plain NumPy arrays and
floats. Every fit is reproducible from its seed, whatever process runs it: the
example fits every data set in this process as well and checks that the other
schedulers give the same bits.

    python examples/many_fits.py [--scheduler {inprocess,processes,dask}]
        [--address tcp://HOST:8786] [--datasets 8] [--workers 2] [--points 200]
        [--n-warmup 3000] [--n-deep 10000]
"""

from __future__ import annotations

import argparse
import multiprocessing
import os
import time
from collections.abc import Callable, Iterator
from concurrent.futures import ProcessPoolExecutor
from contextlib import contextmanager
from functools import partial
from typing import Any

import numpy as np
import numpy.typing as npt

import vexa_core as vc

DEG = 5
Array = npt.NDArray[np.float64]
Result = tuple[int, Array, float, float]


def make_dataset(seed: int, n: int = 200) -> tuple[Array, Array]:
    rng = np.random.default_rng(seed)
    x = rng.uniform(-1.0, 1.0, size=n)
    y = np.sin(2.0 * x + rng.uniform(0, 1)) + 0.1 * rng.normal(size=n)
    return x, y


def fit_one(seed: int, n_warmup: int = 3000, n_deep: int = 10000, points: int = 200) -> Result:
    """Fit data set `seed`; returns (seed, beta, energy, r_heat) as plain values.

    The search is much longer than the sampler's defaults: on these data sets the
    tolerance is about the size of the noise, and shorter searches can stop above the
    least-squares score (examples/sampler_vs_fits.py shows data set 4)."""
    x, y = make_dataset(seed, points)
    Phi = vc.design_matrix_1d(DEG, x)
    R1, R2 = vc.smoothness_penalty_matrices_1d(DEG, -1.0, 1.0)
    result = vc.TournamentMCMC(n_warmup=n_warmup, n_deep=n_deep, seed=seed).fit(
        Phi, y, R1, R2, 1e-4, 1e-6
    )
    # beta_mcmc is a read-only view into the result: hand back an array of its own.
    return seed, np.array(result.beta_mcmc), result.energy, result.gibbs.r_heat


def fit_in_process(seeds: list[int], **settings: int) -> list[Result]:
    """fit_one for every seed, one after another; the sampler uses its OpenMP team."""
    return [fit_one(seed, **settings) for seed in seeds]


@contextmanager
def single_threaded_pool(workers: int) -> Iterator[ProcessPoolExecutor]:
    """Worker processes with one OpenMP thread each: the processes already fill the cores.

    The OpenMP runtime reads OMP_NUM_THREADS once, when it is loaded, so the workers
    must be fresh interpreters (spawn) that load vexa_core after the variable is set,
    not forks of this process. The caller's own setting is restored afterwards."""
    saved = os.environ.get("OMP_NUM_THREADS")
    os.environ["OMP_NUM_THREADS"] = "1"
    try:
        with ProcessPoolExecutor(
            max_workers=workers, mp_context=multiprocessing.get_context("spawn")
        ) as pool:
            yield pool
    finally:
        if saved is None:
            del os.environ["OMP_NUM_THREADS"]
        else:
            os.environ["OMP_NUM_THREADS"] = saved


def fit_in_processes(seeds: list[int], workers: int, **settings: int) -> list[Result]:
    """fit_one for every seed on a pool of single-threaded processes, in the order of `seeds`."""
    with single_threaded_pool(workers) as pool:
        return list(pool.map(partial(fit_one, **settings), seeds))


def fit_on_dask(
    seeds: list[int], workers: int, address: str | None, **settings: int
) -> list[Result]:
    """fit_one for every seed on a Dask cluster, in the order of `seeds`.

    Without an address a LocalCluster of `workers` single-threaded worker processes
    starts on 127.0.0.1 and stops afterwards; with one, the fits go to that running
    cluster. The time to start a local cluster is reported apart from the fits."""
    from dask.distributed import Client

    start = time.perf_counter()
    if address is None:
        cluster = local_cluster(workers)
        client = Client(cluster)
    else:
        cluster = None
        client = Client(address)
    try:
        # Loading the module in every worker counts as part of the start.
        client.run(load_module)
        print(
            f"dask: {'connected to ' + address if address else 'started a local cluster'} "
            f"in {time.perf_counter() - start:.2f} s"
        )
        report_worker_threads(client.run(os.environ.get, "OMP_NUM_THREADS"))
        start = time.perf_counter()
        results: list[Result] = client.gather(client.map(partial(fit_one, **settings), seeds))
        print(f"dask: the fits took {time.perf_counter() - start:.2f} s on the running cluster")
        return results
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def local_cluster(workers: int) -> Any:
    """A Dask LocalCluster on 127.0.0.1 of `workers` single-threaded worker processes;
    every worker gets OMP_NUM_THREADS=1 before it loads the module."""
    from dask.distributed import LocalCluster

    return LocalCluster(
        host="127.0.0.1",
        n_workers=workers,
        threads_per_worker=1,
        processes=True,
        dashboard_address=None,
        env={"OMP_NUM_THREADS": "1"},
    )


def load_module() -> str:
    """Run in a worker: load vexa_core there (and its OpenMP runtime) before any fit."""
    return vc.__name__


def report_worker_threads(setting_by_worker: dict[str, str | None]) -> None:
    """Say how many OpenMP threads the workers run with; more than one per worker
    process oversubscribes the cores (results stay identical, only slower)."""
    values = sorted({str(v) for v in setting_by_worker.values()})
    print(f"dask: {len(setting_by_worker)} workers, OMP_NUM_THREADS={','.join(values)}")
    if values != ["1"]:
        print(
            "dask: warning: start the workers with OMP_NUM_THREADS=1 (a nanny sets it "
            "unless its configuration was changed)"
        )


def identical(a: list[Result], b: list[Result]) -> bool:
    """Same seeds, coefficient bits, energies and heat ratios, in the same order."""
    return len(a) == len(b) and all(
        ra[0] == rb[0] and ra[1].tobytes() == rb[1].tobytes() and ra[2:] == rb[2:]
        for ra, rb in zip(a, b)
    )


def available_cpus() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on every platform
        return os.cpu_count() or 1


def timed(run: Callable[[], list[Result]]) -> tuple[list[Result], float]:
    start = time.perf_counter()
    results = run()
    return results, time.perf_counter() - start


def parser() -> argparse.ArgumentParser:
    # A literal, not __doc__: under python -OO the docstring is gone.
    ap = argparse.ArgumentParser(
        description="Many independent fits, in this process, across processes or on a Dask cluster."
    )
    ap.add_argument(
        "--scheduler",
        choices=("inprocess", "processes", "dask"),
        default="processes",
        help="where the fits run besides this process, which fits them all for comparison "
        "(default: %(default)s)",
    )
    ap.add_argument(
        "--address",
        help="a running Dask scheduler, e.g. tcp://HOST:8786 "
        "(default: start a LocalCluster on 127.0.0.1)",
    )
    ap.add_argument(
        "--datasets", type=int, default=8, help="data sets, one fit each (default: %(default)s)"
    )
    ap.add_argument(
        "--workers",
        type=int,
        default=available_cpus(),
        help="worker processes (default: the CPUs this process may use, here %(default)s)",
    )
    ap.add_argument(
        "--points", type=int, default=200, help="points per data set (default: %(default)s)"
    )
    ap.add_argument(
        "--n-warmup",
        type=int,
        default=3000,
        help="steps of each warm-up chain (default: %(default)s)",
    )
    ap.add_argument(
        "--n-deep", type=int, default=10000, help="steps of each deep run (default: %(default)s)"
    )
    return ap


def scale_out_verdict(scheduler: str, t_run: float, t_inprocess: float) -> str:
    """Whether running elsewhere paid against fitting in this process, at this size."""
    if t_run < t_inprocess:
        return f"{scheduler}: {t_inprocess / t_run:.1f} times faster than fitting in this process"
    return (
        f"{scheduler}: did not pay at this size: {t_run / t_inprocess:.1f} times slower than "
        f"fitting in this process.\n    Starting the workers cost more than they saved: the "
        f"sampler in this process already runs\n    its warm-up chains on every core. With more "
        f"or longer fits (--datasets, --n-deep), or\n    workers on other machines, the start "
        f"weighs less."
    )


def main(argv: list[str] | None = None) -> None:
    ap = parser()
    args = ap.parse_args(argv)
    if args.address is not None and args.scheduler != "dask":
        ap.error("--address needs --scheduler dask")
    seeds = list(range(args.datasets))
    settings = {"n_warmup": args.n_warmup, "n_deep": args.n_deep, "points": args.points}

    reference, t_inprocess = timed(lambda: fit_in_process(seeds, **settings))
    if args.scheduler == "inprocess":
        results = reference
    elif args.scheduler == "processes":
        results, t_run = timed(lambda: fit_in_processes(seeds, args.workers, **settings))
    else:
        results, t_run = timed(lambda: fit_on_dask(seeds, args.workers, args.address, **settings))
    for seed, beta, energy, r_heat in results:
        print(
            f"data set {seed:3d}: energy {energy:10.4f}  r_heat {r_heat:.3f}  "
            f"beta {np.array2string(beta, precision=3)}"
        )
    print("energy: the fit's score, the regularized description length of beta (lower is better)")
    print(
        "r_heat: how alike the warm-up chains' final energies were, from 0.01 (one far below "
        "the rest) to 1 (all alike)"
    )
    print(f"inprocess: {len(seeds)} fits of {args.points} points in {t_inprocess:.2f} s")
    if args.scheduler == "inprocess":
        return
    # Starting and stopping the workers counts here: that is what a caller waits for.
    print(
        f"{args.scheduler}: the same fits in {t_run:.2f} s, starting and stopping "
        f"the workers included"
    )
    if not identical(results, reference):
        raise SystemExit(f"{args.scheduler}: results differ from the in-process fits")
    print(f"{args.scheduler}: results identical to the in-process fits, bit for bit")
    print(scale_out_verdict(args.scheduler, t_run, t_inprocess))


if __name__ == "__main__":
    main()
