"""Many independent fits across processes.

vexa_core's classes do not pickle, so each worker returns plain NumPy arrays and
floats. Every fit is reproducible from its seed, whatever process runs it.

    python examples/many_fits.py [--datasets 8] [--workers 2]
"""

from __future__ import annotations

import argparse
import multiprocessing
import os
from collections.abc import Iterator
from concurrent.futures import ProcessPoolExecutor
from contextlib import contextmanager
from functools import partial

import numpy as np
import numpy.typing as npt

import vexa_core as vc

DEG = 5
Result = tuple[int, npt.NDArray[np.float64], float, float]


def make_dataset(seed: int, n: int = 200) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]:
    rng = np.random.default_rng(seed)
    x = rng.uniform(-1.0, 1.0, size=n)
    y = np.sin(2.0 * x + rng.uniform(0, 1)) + 0.1 * rng.normal(size=n)
    return x, y


def fit_one(seed: int, n_warmup: int = 1000, n_deep: int = 3000) -> Result:
    """Fit data set `seed`; returns (seed, beta, energy, r_heat) as plain values.

    The search is longer than the sampler's defaults: a fit of this size takes about
    ten milliseconds, and shorter searches stop well short of the least-squares score."""
    x, y = make_dataset(seed)
    Phi = vc.design_matrix_1d(DEG, x)
    R1, R2 = vc.smoothness_penalty_matrices_1d(DEG, -1.0, 1.0)
    result = vc.TournamentMCMC(n_warmup=n_warmup, n_deep=n_deep, seed=seed).fit(
        Phi, y, R1, R2, 1e-4, 1e-6)
    # beta_mcmc is a read-only view into the result: hand back an array of its own.
    return seed, np.array(result.beta_mcmc), result.energy, result.gibbs.r_heat


@contextmanager
def single_threaded_pool(workers: int) -> Iterator[ProcessPoolExecutor]:
    """Worker processes with one OpenMP thread each: the processes already fill the cores.

    The OpenMP runtime reads OMP_NUM_THREADS once, when it is loaded, so the workers
    must be fresh interpreters (spawn) that load vexa_core after the variable is set,
    not forks of this process. The caller's own setting is restored afterwards."""
    saved = os.environ.get("OMP_NUM_THREADS")
    os.environ["OMP_NUM_THREADS"] = "1"
    try:
        with ProcessPoolExecutor(max_workers=workers,
                                 mp_context=multiprocessing.get_context("spawn")) as pool:
            yield pool
    finally:
        if saved is None:
            del os.environ["OMP_NUM_THREADS"]
        else:
            os.environ["OMP_NUM_THREADS"] = saved


def fit_many(seeds: list[int], workers: int, **kwargs: int) -> list[Result]:
    """fit_one for every seed, in the order of `seeds`; kwargs go to fit_one."""
    with single_threaded_pool(workers) as pool:
        return list(pool.map(partial(fit_one, **kwargs), seeds))


def available_cpus() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on every platform
        return os.cpu_count() or 1


def main() -> None:
    # A literal, not __doc__: under python -OO the docstring is gone.
    ap = argparse.ArgumentParser(description="Many independent fits across processes.")
    ap.add_argument("--datasets", type=int, default=8)
    ap.add_argument("--workers", type=int, default=available_cpus())
    args = ap.parse_args()
    for seed, beta, energy, r_heat in fit_many(list(range(args.datasets)), args.workers):
        print(f"data set {seed:3d}: energy {energy:10.4f}  r_heat {r_heat:.3f}  "
              f"beta {np.array2string(beta, precision=3)}")


if __name__ == "__main__":
    main()
