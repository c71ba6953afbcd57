"""The NumPy/SciPy way of computing what each vexa_core function computes.

These are what a user without vexa_core would write; the benchmark times them
against the module after checking that both give the same answer.
"""

from __future__ import annotations

import numpy as np
from numpy.polynomial import polynomial as P


def mad(y: np.ndarray) -> float:
    return float(np.median(np.abs(y - np.median(y))))


def compute_sr(yp: np.ndarray, yt: np.ndarray, eps: float) -> float:
    n = yt.size
    return max(np.count_nonzero(eps > np.abs(yp[:n] - yt)) / n, 1.0 / (2 * n))


def design_matrix_1d(deg: int, x: np.ndarray) -> np.ndarray:
    return P.polyvander(x, deg)


def derivative_vander(x: np.ndarray, deg: int, order: int) -> np.ndarray:
    """Column k holds the order-th derivative of x**k at x."""
    k = np.arange(deg + 1)
    factor = np.ones(deg + 1)
    for o in range(order):
        factor = factor * np.maximum(k - o, 0)
    power = np.maximum(k - order, 0)
    return factor * x[:, None] ** power


def smoothness_penalty_matrices_1d(
    deg: int, x_min: float, x_max: float, n_grid: int = 600
) -> tuple[np.ndarray, np.ndarray]:
    h = (x_max - x_min) / (n_grid - 1)
    x = np.arange(n_grid) * h + x_min
    d1 = derivative_vander(x, deg, 1)
    d2 = derivative_vander(x, deg, 2)
    return h * d1.T @ d1, h * d2.T @ d2


def build_penalty_matrices_nd(
    degrees: list[int], bounds: list[tuple[float, float]], n_grid_per_dim: int = 30
) -> tuple[np.ndarray, np.ndarray, list[list[int]]]:
    """Brute force over the full tensor grid: the gradient and Hessian of every
    tensor monomial at every grid point, w * B^T B summed."""
    d = len(degrees)
    G = n_grid_per_dim
    grids = [np.linspace(lo, hi, G) for lo, hi in bounds]
    w = 1.0
    for lo, hi in bounds:
        w *= (hi - lo) / (G - 1)
    multi = [list(m) for m in np.ndindex(*[D + 1 for D in degrees])]
    M = np.array(multi, dtype=int).reshape(len(multi), d)
    mesh = np.meshgrid(*grids, indexing="ij") if d else []
    points = [g.ravel() for g in mesh]
    tables = [[derivative_vander(points[j], degrees[j], o) for o in range(3)] for j in range(d)]

    def derivative_matrix(orders: list[int]) -> np.ndarray:
        B = np.ones((len(points[0]) if d else 1, len(multi)))
        for j in range(d):
            B *= tables[j][orders[j]][:, M[:, j]]
        return B

    q = len(multi)
    R1 = np.zeros((q, q))
    R2 = np.zeros((q, q))
    for a in range(d):
        B = derivative_matrix([int(j == a) for j in range(d)])
        R1 += w * B.T @ B
        for b in range(d):
            B = derivative_matrix([int(j == a) + int(j == b) for j in range(d)])
            R2 += w * B.T @ B
    return R1, R2, multi


def ols(X: np.ndarray, y: np.ndarray) -> np.ndarray:
    return np.linalg.lstsq(X, y, rcond=None)[0]


def fit_regularized_linear(
    Phi: np.ndarray,
    y: np.ndarray,
    R1: np.ndarray | None = None,
    R2: np.ndarray | None = None,
    gamma1: float = 0.0,
    gamma2: float = 0.0,
    ridge: float = 1e-10,
) -> np.ndarray:
    n, p = y.size, Phi.shape[1]
    A = Phi.T @ Phi + ridge * np.eye(p)
    if R1 is not None and gamma1 != 0.0:
        A += n * gamma1 * R1
    if R2 is not None and gamma2 != 0.0:
        A += n * gamma2 * R2
    return np.linalg.solve(A, Phi.T @ y)


def gibbs_entropy(energies: np.ndarray, T: float = 1.0) -> tuple[float, ...]:
    n = energies.size
    w = np.exp(-(energies - energies.min()) / (T + 1e-300))
    q = w / w.sum()
    H = float(-(np.log(q + 1e-300) * q).sum())
    Hmax = float(np.log(max(n, 2)))
    He = H / (Hmax + 1e-300)
    return H, Hmax, He, He * 0.99 + 0.01, float(energies.var()), T
