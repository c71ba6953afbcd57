"""ols against LAPACK's least-squares drivers at the shapes that decide its reduction.

One thread each: OMP_NUM_THREADS and the BLAS pools are set to 1 before anything
loads. Each shape is checked for agreement first, then the three are timed
interleaved over several repeats; the table shows medians and the ratios
ols / np.linalg.lstsq (gelsd) and ols / scipy's gelsy (below 1 means ols is faster).

    OPENBLAS_CORETYPE= OPENBLAS_L2_SIZE= python bench/ols_shapes.py [--repeats N]
"""

from __future__ import annotations

import argparse
import os
import statistics
import time
from collections.abc import Callable

# Before NumPy, SciPy and the extension start their thread pools.
for _name in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[_name] = "1"

import numpy as np  # noqa: E402
import scipy.linalg  # noqa: E402
from threadpoolctl import threadpool_info, threadpool_limits  # noqa: E402

import vexa_core as vc  # noqa: E402

SHAPES = [(2000, 200), (500, 100), (200000, 20), (20000, 100), (100000, 5)]


def calls_for(fn: Callable[[], object], target_s: float = 0.05) -> int:
    start = time.perf_counter()
    fn()
    once = max(time.perf_counter() - start, 1e-7)
    return max(1, int(target_s / once))


def timed(fn: Callable[[], object], calls: int) -> float:
    start = time.perf_counter()
    for _ in range(calls):
        fn()
    return (time.perf_counter() - start) / calls


def solvers(X: np.ndarray, y: np.ndarray) -> dict[str, Callable[[], object]]:
    return {
        "ols": lambda: vc.ols(X, y),
        "lstsq": lambda: np.linalg.lstsq(X, y, rcond=None),
        "gelsy": lambda: scipy.linalg.lstsq(X, y, lapack_driver="gelsy", check_finite=False),
    }


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=15)
    args = parser.parse_args()
    blas = [
        f"{pool.get('internal_api')} {pool.get('version')} {pool.get('architecture')}"
        for pool in threadpool_info()
        if pool.get("user_api") == "blas"
    ]
    print(f"BLAS: {', '.join(blas)}; load average {os.getloadavg()[0]:.2f}")
    print(f"{'shape':>14} {'ols':>10} {'lstsq':>10} {'gelsy':>10} {'/lstsq':>7} {'/gelsy':>7}")
    rng = np.random.default_rng(5)
    with threadpool_limits(1):
        for n, p in SHAPES:
            X = np.asfortranarray(rng.normal(size=(n, p)))
            y = rng.normal(size=n)
            runs = solvers(X, y)
            expected = np.linalg.lstsq(X, y, rcond=None)[0]
            np.testing.assert_allclose(vc.ols(X, y), expected, rtol=1e-9, atol=1e-12)
            calls = {name: calls_for(fn) for name, fn in runs.items()}
            times: dict[str, list[float]] = {name: [] for name in runs}
            for _ in range(args.repeats):
                for name, fn in runs.items():
                    times[name].append(timed(fn, calls[name]))
            median = {name: statistics.median(t) for name, t in times.items()}
            print(
                f"{n:>7} x {p:<4} {median['ols'] * 1e3:>8.3f}ms {median['lstsq'] * 1e3:>8.3f}ms "
                f"{median['gelsy'] * 1e3:>8.3f}ms {median['ols'] / median['lstsq']:>7.2f} "
                f"{median['ols'] / median['gelsy']:>7.2f}"
            )
    print(f"load average {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
