"""Seeded problems for every function, whose results tests/reference_results.json keeps.

The table is made once, on x86-64 with GCC (scripts/reference-results.py), and every other
build (another CPU, aarch64, Clang) must give the same bits. So the inputs themselves must
be the same bits everywhere: they are made from NumPy's uniform doubles (53 random bits
scaled by a power of two) with elementwise +, -, * and / only: never log, exp, pow or
NumPy's normal draws, whose roundings may differ between C libraries, and never a matrix
product through NumPy's BLAS, whose order and fused multiply-adds differ by CPU.

Each case is a name and a function of the module returning the list of floats to keep.
"""

from __future__ import annotations

from collections.abc import Callable

import numpy as np

import vexa_core as vc

GIBBS_FIELDS = ("H", "Hmax", "He", "r_heat", "var_E", "T")


def uniform(rng: np.random.Generator, shape, lo: float = -1.0, hi: float = 1.0) -> np.ndarray:
    return lo + (hi - lo) * rng.random(shape)


def cubic_data(seed: int, n: int) -> tuple[np.ndarray, np.ndarray]:
    """A noisy cubic on [-1, 1]: x*x*x rather than x**3, which may call the C library."""
    rng = np.random.default_rng(seed)
    x = uniform(rng, n)
    y = 0.5 * x - 0.8 * x * x * x + 0.05 * uniform(rng, n)
    return x, y


def matvec(X: np.ndarray, beta: np.ndarray) -> np.ndarray:
    """X @ beta one column at a time, in a fixed order and without BLAS."""
    out = np.zeros(X.shape[0])
    for j in range(X.shape[1]):
        out = out + X[:, j] * beta[j]
    return out


def linear_data(seed: int, n: int, p: int) -> tuple[np.ndarray, np.ndarray]:
    """Columns over several decades, so that a change of summation order shows."""
    rng = np.random.default_rng(seed)
    scale = np.array([2.0 ** (3 * (j % 5) - 6) for j in range(p)])
    X = uniform(rng, (n, p)) * scale
    beta = uniform(rng, p) / scale
    return X, matvec(X, beta) + 0.01 * uniform(rng, n)


def spd(seed: int, p: int) -> np.ndarray:
    """A A' + I/8 of a small-integer A: every sum is exact, whatever the order."""
    A = np.random.default_rng(seed).integers(-8, 9, (p, p)).astype(np.float64)
    return A @ A.T + 0.125 * np.eye(p)


def floats(values) -> list[float]:
    return [float(v) for v in np.ravel(np.asarray(values, dtype=np.float64))]


def fit_values(result) -> list[float]:
    return (
        floats(result.beta_mcmc)
        + [result.energy]
        + [getattr(result.gibbs, f) for f in GIBBS_FIELDS]
    )


def sampler_case(seed: int, n: int, deg: int, penalised: bool) -> Callable[[], list[float]]:
    def run() -> list[float]:
        x, y = cubic_data(seed, n)
        Phi = vc.design_matrix_1d(deg, x)
        sampler = vc.TournamentMCMC(n_chains=12, n_warmup=120, n_deep=400, n_elite=3, seed=seed)
        if not penalised:
            return fit_values(sampler.fit(Phi, y))
        R1, R2 = vc.smoothness_penalty_matrices_1d(deg, -1.0, 1.0, 200)
        return fit_values(sampler.fit(Phi, y, R1, R2, 1e-4, 1e-6))

    return run


def sampler_linear_case(seed: int, n: int, p: int) -> Callable[[], list[float]]:
    def run() -> list[float]:
        X, y = linear_data(seed, n, p)
        sampler = vc.TournamentMCMC(n_chains=8, n_warmup=100, n_deep=300, seed=seed)
        return fit_values(sampler.fit(X, y, spd(seed + 1, p), spd(seed + 2, p), 1e-3, 1e-4))

    return run


def ols_case(seed: int, n: int, p: int, repeat_column: bool = False) -> Callable[[], list[float]]:
    def run() -> list[float]:
        X, y = linear_data(seed, n, p)
        if repeat_column:
            X[:, -1] = X[:, 0]
        return floats(vc.ols(X, y))

    return run


def penalised_fit_case(
    seed: int, n: int, p: int, gamma1: float, gamma2: float
) -> Callable[[], list[float]]:
    def run() -> list[float]:
        X, y = linear_data(seed, n, p)
        return floats(
            vc.fit_regularized_linear(X, y, spd(seed + 1, p), spd(seed + 2, p), gamma1, gamma2)
        )

    return run


def nd_fit_case(seed: int, n: int, degrees: list[int]) -> Callable[[], list[float]]:
    """The tensor-product basis and its own penalties: p = prod(d + 1) columns."""

    def run() -> list[float]:
        rng = np.random.default_rng(seed)
        cols = [uniform(rng, n) for _ in degrees]
        y = cols[0] * cols[-1] - 0.5 * cols[0] * cols[0] + 0.05 * uniform(rng, n)
        R1, R2, multi = vc.build_penalty_matrices_nd(degrees, [(-1.0, 1.0)] * len(degrees), 12)
        Phi = vc.design_matrix_nd(multi, cols)
        return floats(vc.fit_regularized_linear(Phi, y, R1, R2, 1e-5, 1e-7)) + floats(
            vc.ols(Phi, y)
        )

    return run


def penalties_1d_case(deg: int, lo: float, hi: float, n_grid: int) -> Callable[[], list[float]]:
    def run() -> list[float]:
        R1, R2 = vc.smoothness_penalty_matrices_1d(deg, lo, hi, n_grid)
        return floats(R1) + floats(R2) + floats(vc.boundary_reduce_1d(deg, lo, hi))

    return run


def penalties_nd_case(
    degrees: list[int], bounds: list[tuple[float, float]], n_grid: int
) -> Callable[[], list[float]]:
    def run() -> list[float]:
        R1, R2, _ = vc.build_penalty_matrices_nd(degrees, bounds, n_grid)
        return floats(R1) + floats(R2)

    return run


def scores_case(seed: int, n: int, p: int) -> Callable[[], list[float]]:
    def run() -> list[float]:
        X, y = linear_data(seed, n, p)
        yp = matvec(X, np.arange(p) / p - 0.5)
        beta = uniform(np.random.default_rng(seed + 3), p)
        R1, R2 = spd(seed + 1, p), spd(seed + 2, p)
        return [
            vc.compute_sr(yp, y, 0.25),
            vc.mdl_score(yp, y, p),
            vc.mdl_score(yp, y, p, 7),
            vc.mdl_score_reg(yp, y, p, 20, beta, R1, R2, 1e-3, 1e-5),
        ]

    return run


def gibbs_case(seed: int, n: int, T: float) -> Callable[[], list[float]]:
    def run() -> list[float]:
        energies = 50.0 * uniform(np.random.default_rng(seed), n, 0.0, 1.0)
        result = vc.gibbs_entropy(energies, T)
        return [getattr(result, f) for f in GIBBS_FIELDS]

    return run


def mad_case(seed: int, n: int) -> Callable[[], list[float]]:
    def run() -> list[float]:
        y = uniform(np.random.default_rng(seed), n, -3.0, 7.0)
        return [vc.mad(y), vc.mad(y[: n - 1])]

    return run


def design_case(seed: int, n: int, deg: int) -> Callable[[], list[float]]:
    def run() -> list[float]:
        rng = np.random.default_rng(seed)
        x = uniform(rng, n, -2.0, 2.0)
        return floats(vc.design_matrix_1d(deg, x)) + floats(
            vc.design_matrix_nd([[1, 2], [3, 0], [2, 2]], [x, x[::-1]])
        )

    return run


CASES: dict[str, Callable[[], list[float]]] = {
    **{
        f"sampler/cubic_n{n}_deg{deg}_seed{seed}{'_R1R2' if pen else ''}": sampler_case(
            seed, n, deg, pen
        )
        for n, deg, seed, pen in [
            (40, 3, 1, False),
            (120, 3, 2, True),
            (300, 5, 3, True),
            (300, 5, 4, False),
            (800, 7, 5, True),
        ]
    },
    **{
        f"sampler/linear_n{n}_p{p}_seed{s}": sampler_linear_case(s, n, p)
        for n, p, s in [(200, 4, 11), (500, 10, 12)]
    },
    **{
        f"ols/n{n}_p{p}_seed{s}{'_repeated' if rep else ''}": ols_case(s, n, p, rep)
        for n, p, s, rep in [
            (30, 3, 21, False),
            (400, 8, 22, False),
            (150, 8, 23, True),
            (40, 60, 24, False),
            (250, 100, 25, False),
            (1500, 100, 26, False),
        ]
    },
    **{
        f"fit_regularized_linear/n{n}_p{p}_seed{s}": penalised_fit_case(s, n, p, g1, g2)
        for n, p, s, g1, g2 in [
            (30, 3, 31, 1e-3, 0.0),
            (400, 8, 32, 1e-4, 1e-6),
            (60, 40, 33, 1e-2, 1e-3),
            (1500, 100, 34, 1e-5, 1e-7),
        ]
    },
    "fits_nd/n400_deg4x4_seed41": nd_fit_case(41, 400, [4, 4]),
    "fits_nd/n900_deg9x9_seed42": nd_fit_case(42, 900, [9, 9]),
    **{
        f"penalties_1d/deg{d}_{lo}_{hi}_grid{g}": penalties_1d_case(d, lo, hi, g)
        for d, lo, hi, g in [(3, -1.0, 1.0, 600), (7, 0.0, 2.5, 101), (12, -3.0, 0.5, 1000)]
    },
    "penalties_nd/deg3x2_grid30": penalties_nd_case([3, 2], [(-1.0, 1.0), (0.0, 3.0)], 30),
    "penalties_nd/deg2x2x2_grid9": penalties_nd_case(
        [2, 2, 2], [(-1.0, 1.0), (0.5, 1.5), (-2.0, 0.0)], 9
    ),
    **{
        f"scores/n{n}_p{p}_seed{s}": scores_case(s, n, p) for n, p, s in [(50, 3, 51), (777, 9, 52)]
    },
    **{
        f"gibbs_entropy/n{n}_T{T}_seed{s}": gibbs_case(s, n, T)
        for n, T, s in [(25, 1.0, 61), (400, 0.3, 62), (5000, 7.5, 63)]
    },
    **{f"mad/n{n}_seed{s}": mad_case(s, n) for n, s in [(11, 71), (1000, 72), (100001, 73)]},
    **{
        f"design/n{n}_deg{d}_seed{s}": design_case(s, n, d)
        for n, d, s in [(17, 4, 81), (60, 9, 82)]
    },
}


def hex_values(values: list[float]) -> list[str]:
    return [float(v).hex() for v in values]
