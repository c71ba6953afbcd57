"""Monomial design matrices and smoothness penalties in one and several dimensions.

Oracles: NumPy's polyvander and polynomial derivatives, C pow through math.pow, and a
brute-force sum over the full tensor grid (oracles.peers).
"""

import itertools
import math

import numpy as np
import numpy.polynomial.polynomial as P
import pytest

import vexa_core as vc
from oracles.peers import build_penalty_matrices_nd as tensor_grid_oracle

INF, NAN = math.inf, math.nan
UNIT2 = [(0.0, 1.0), (0.0, 1.0)]


def same_bits(a: np.ndarray, b) -> None:
    expected = np.asarray(b, dtype=float)
    # Shape and dtype by hand: assert_array_equal's strict= needs NumPy 1.24.
    assert a.shape == expected.shape and a.dtype == expected.dtype, (a.shape, a.dtype)
    np.testing.assert_array_equal(a, expected)


def still_answers() -> None:
    """A call that must still be right after a failed one."""
    R1, R2, M = vc.build_penalty_matrices_nd([1, 1], UNIT2, 2)
    assert R1.tolist() == [[0, 0, 0, 0], [0, 4, 0, 2], [0, 0, 4, 2], [0, 2, 2, 4]]
    assert R2.tolist() == np.diag([0.0, 0, 0, 8]).tolist()
    assert M == [[0, 0], [0, 1], [1, 0], [1, 1]]
    assert vc.design_matrix_1d(3, [2.0, -3.0]).tolist() == [[1, 2, 4, 8], [1, -3, 9, -27]]


# --- design_matrix_1d ------------------------------------------------------------------


@pytest.mark.parametrize(
    "deg, x, expected",
    [
        (0, [1.5, NAN], [[1.0], [1.0]]),
        (3, [2.0, -3.0], [[1, 2, 4, 8], [1, -3, 9, -27]]),
        (4, [0.0], [[1, 0, 0, 0, 0]]),
        (3, [NAN, INF], [[1, NAN, NAN, NAN], [1, INF, INF, INF]]),
        (4, [-INF], [[1, -INF, INF, -INF, INF]]),
        (2, [], np.zeros((0, 3))),
    ],
    ids=["deg0", "ints", "zero", "nan-inf", "minus-inf", "empty"],
)
def test_design_matrix_1d_worked_rows(deg, x, expected) -> None:
    same_bits(vc.design_matrix_1d(deg, x), expected)


@pytest.mark.parametrize("deg", [0, 1, 3, 7, 40])
def test_design_matrix_1d_bit_identical_to_polyvander(deg: int, rng: np.random.Generator) -> None:
    # Finite x only: polyvander's column 0 is x*0 + 1, NaN where x is not finite.
    x = np.concatenate([rng.normal(scale=3.0, size=300), [0.0, -0.0, 1e-300, -1e300]])
    with np.errstate(over="ignore"):
        expected = P.polyvander(x, deg)
    Phi = vc.design_matrix_1d(deg, x)
    same_bits(Phi, expected)
    assert Phi.flags.f_contiguous and Phi.flags.writeable


@pytest.mark.parametrize(
    "deg, n, error, match",
    [
        (-1, 3, ValueError, "^deg < 0$"),
        (-(2**31), 0, ValueError, "^deg < 0$"),
        (2**31 - 1, 3000, MemoryError, None),
    ],
    ids=["minus-one", "int-min", "int-max-degree"],
)
def test_design_matrix_1d_refuses(deg: int, n: int, error: type, match: str | None) -> None:
    with pytest.raises(error, match=match):
        vc.design_matrix_1d(deg, np.ones(n))
    still_answers()


# --- smoothness_penalty_matrices_1d and boundary_reduce_1d -----------------------------


def rectangle_sum_oracle(deg: int, x_min: float, x_max: float, n_grid: int):
    """The grid sum with C pow and the same evaluation order, for bit equality."""

    def power(x: float, m: int) -> float:
        return x * x if m == 2 else math.pow(x, m)

    h = (x_max - x_min) / float(n_grid - 1)
    R1, R2 = np.zeros((deg + 1, deg + 1)), np.zeros((deg + 1, deg + 1))
    for i in range(n_grid):
        x = float(i) * h + x_min
        d1 = np.array([k * power(x, k - 1) if k else 0.0 for k in range(deg + 1)])
        d2 = np.array([k * (k - 1) * power(x, k - 2) if k > 1 else 0.0 for k in range(deg + 1)])
        R1 = h * np.outer(d1, d1) + R1
        R2 = h * np.outer(d2, d2) + R2
    return R1, R2


@pytest.mark.parametrize(
    "deg, x_min, x_max, n_grid",
    [
        (0, 0.0, 1.0, 600),
        (1, 0.0, 1.0, 600),
        (4, -1.0, 2.0, 37),
        (6, 0.3, -1.7, 11),
        (5, -2.5, -2.5, 9),
        (3, 1e-3, 7.0, 2),
    ],
    ids=["deg0", "deg1", "deg4", "reversed", "empty-interval", "two-points"],
)
def test_penalties_1d_reproduce_the_rectangle_sum(deg, x_min, x_max, n_grid) -> None:
    for got, expected in zip(
        vc.smoothness_penalty_matrices_1d(deg, x_min, x_max, n_grid),
        rectangle_sum_oracle(deg, x_min, x_max, n_grid),
    ):
        same_bits(got, expected)


def test_penalties_1d_worked_values_and_default_grid() -> None:
    R1, R2 = vc.smoothness_penalty_matrices_1d(2, 0.0, 1.0, 2)
    assert R1.tolist() == [[0, 0, 0], [0, 2, 2], [0, 2, 4]]
    assert R2.tolist() == np.diag([0.0, 0, 8]).tolist()
    for a, b in zip(
        vc.smoothness_penalty_matrices_1d(3, -1.0, 2.0),
        vc.smoothness_penalty_matrices_1d(3, -1.0, 2.0, 600),
    ):
        same_bits(a, b)


@pytest.mark.parametrize(
    "deg, x_min, x_max, n_grid",
    [
        (3, 0.0, 1.0, 600),
        (6, -1.5, 2.0, 101),
        (8, 2.0, -1.0, 57),
    ],
    ids=["cubic", "deg6", "reversed"],
)
def test_penalties_1d_quadratic_forms(deg, x_min, x_max, n_grid, rng: np.random.Generator) -> None:
    R1, R2 = vc.smoothness_penalty_matrices_1d(deg, x_min, x_max, n_grid)
    h = (x_max - x_min) / (n_grid - 1)
    x = np.arange(n_grid) * h + x_min
    for beta in rng.normal(size=(5, deg + 1)):
        for R, order in ((R1, 1), (R2, 2)):
            f = P.polyval(x, P.polyder(beta, order))
            assert beta @ R @ beta == pytest.approx(h * np.sum(f**2), rel=1e-11)
    for R in (R1, R2):  # exactly symmetric, semidefinite with the sign of h
        same_bits(R, R.T)
        assert (np.linalg.eigvalsh(R) * np.sign(h)).min() >= -1e-12 * np.abs(R).max()


@pytest.mark.parametrize(
    "deg, n_grid, error, match",
    [
        (-1, 600, ValueError, "^deg < 0$"),
        (-1, 1, ValueError, "^deg < 0$"),
        (3, 1, ValueError, "^n_grid < 2$"),
        (0, -(2**31), ValueError, "^n_grid < 2$"),
        (2**31 - 1, 2, MemoryError, None),
    ],
    ids=["deg", "deg-first", "one-point", "int-min", "too-large"],
)
def test_penalties_1d_checks(deg: int, n_grid: int, error: type, match: str | None) -> None:
    with pytest.raises(error, match=match):
        vc.smoothness_penalty_matrices_1d(deg, 0.0, 1.0, n_grid)
    still_answers()


@pytest.mark.parametrize(
    "deg, expected",
    [
        (-1, np.zeros((0, 0))),
        (0, [[0.0]]),
        (1, np.zeros((2, 2))),
        (2, np.diag([0.0, 0, 4])),
        (3, [[0, 0, 0, 0], [0, 0, 0, 3], [0, 0, 4, 9], [0, 3, 9, 18]]),
    ],
    ids=["empty", "deg0", "deg1", "deg2", "deg3"],
)
def test_boundary_worked_values(deg: int, expected) -> None:
    same_bits(vc.boundary_reduce_1d(deg, 0.0, 1.0), expected)


@pytest.mark.parametrize(
    "deg, x_min, x_max",
    [(3, 0.0, 1.0), (5, -1.2, 0.7), (7, 2.0, -1.0)],
    ids=["unit", "deg5", "reversed"],
)
def test_boundary_quadratic_form(deg, x_min, x_max, rng: np.random.Generator) -> None:
    B = vc.boundary_reduce_1d(deg, x_min, x_max)
    same_bits(B, B.T)
    for beta in rng.normal(size=(5, deg + 1)):

        def ff(x: float, beta: np.ndarray = beta) -> float:
            return P.polyval(x, P.polyder(beta, 1)) * P.polyval(x, P.polyder(beta, 2))

        assert beta @ B @ beta == pytest.approx(ff(x_max) - ff(x_min), rel=1e-12, abs=1e-12)


@pytest.mark.parametrize(
    "deg, error", [(-2, ValueError), (-(2**31), ValueError), (2**31 - 1, MemoryError)]
)
def test_boundary_refuses(deg: int, error: type) -> None:
    with pytest.raises(error, match=f"deg is {deg}" if error is ValueError else None):
        vc.boundary_reduce_1d(deg, 0.0, 1.0)
    still_answers()


# --- design_matrix_nd ------------------------------------------------------------------


@pytest.mark.parametrize(
    "multi_indices, X_cols, expected",
    [
        ([[0, 0], [1, 0], [0, 2], [1, 1]], [[1, 2], [3, -1]], [[1, 1, 9, 3], [1, 2, 1, -2]]),
        ([[0, 1], [2, 0]], [[NAN, 2.0], [3.0, NAN]], [[3.0, NAN], [NAN, 4.0]]),
        ([[-3, 2], [0, -1]], [[5.0], [2.0]], [[4.0, 1.0]]),
        ([[1, 2, 7, 9], [2]], [[3.0]], [[3.0, 9.0]]),
        ([], [[1.0, 2.0, 3.0]], np.zeros((3, 0))),
        ([[1, 1]], [[2.0], [5.0, 7.0, 9.0]], [[10.0]]),
    ],
    ids=[
        "worked",
        "nan-zero-power",
        "negative-as-zero",
        "extra-entries-unread",
        "no-functions",
        "longer-column",
    ],
)
def test_design_matrix_nd_worked_values(multi_indices, X_cols, expected) -> None:
    same_bits(vc.design_matrix_nd(multi_indices, X_cols), expected)


def test_design_matrix_nd_matches_products_of_powers(rng: np.random.Generator) -> None:
    X = [rng.uniform(-2, 2, 257) for _ in range(3)]
    M = [list(m) for m in itertools.product(range(4), range(3), range(5))]
    expected = [
        [math.prod(math.pow(X[j][r], m[j]) for j in range(3)) for m in M] for r in range(257)
    ]
    np.testing.assert_allclose(vc.design_matrix_nd(M, X), expected, rtol=1e-14, atol=0)


@pytest.mark.parametrize(
    "multi_indices, X_cols, match",
    [
        ([[0]], [], "X_cols has 0 entries but needs at least 1"),
        ([[1, 1]], [[1.0, 2.0], [3.0]], r"X_cols\[1\] has 1 entries but X_cols\[0\] has 2"),
        ([[1, 1], [2]], [[1.0], [3.0]], r"multi_indices\[1\] has 1 entries but X_cols has 2"),
    ],
    ids=["no-columns", "short-column", "short-index"],
)
def test_design_matrix_nd_refuses_input_outside_its_domain(multi_indices, X_cols, match) -> None:
    with pytest.raises(ValueError, match=match):
        vc.design_matrix_nd(multi_indices, X_cols)
    still_answers()


# --- build_penalty_matrices_nd ---------------------------------------------------------


@pytest.mark.parametrize(
    "degrees, bounds, G",
    [
        ([3], [(-1.0, 2.0)], 9),
        ([2, 3], [(0.0, 1.0), (-2.0, 0.5)], 6),
        ([1, 4], [(1.0, -1.0), (0.0, 2.0)], 5),
        ([3, 3], [(2.0, -0.5), (1.5, 0.25)], 7),
        ([2, 1, 2], [(0.0, 1.0), (-1.0, 1.0), (0.5, 2.0)], 5),
        ([1, 2, 3], [(0.0, 1.0), (3.0, -1.0), (-0.5, -2.0)], 4),
        ([0, 2, 0], [(0.0, 3.0), (-1.0, 1.0), (2.0, 5.0)], 4),
        ([2, 1], [(0.0, 1.0), (-1.0, 1.0)], 30),
        ([], [], 5),
        ([2, 0, 1, 2], [(0.0, 1.0), (0.0, 2.0), (-1.0, 1.0), (0.5, 1.5)], 3),
        ([1, 1], [(-1e3, 1e3), (1e-3, 2e-3)], 4),
        ([2, 2], [(-3.0, 0.5), (4.0, -0.1)], 7),
    ],
    ids=[
        "1d",
        "2d",
        "2d-one-reversed",
        "2d-both-reversed",
        "3d",
        "3d-two-reversed",
        "3d-zero-degrees",
        "2d-30-points",
        "0d",
        "4d",
        "wide-ranges",
        "one-reversed-7-points",
    ],
)
def test_penalties_nd_equal_the_brute_force_grid_sum(degrees, bounds, G) -> None:
    R1, R2, M = vc.build_penalty_matrices_nd(degrees, bounds, G)
    E1, E2, EM = tensor_grid_oracle(degrees, bounds, G)
    assert M == EM
    for R, E in ((R1, E1), (R2, E2)):
        np.testing.assert_allclose(R, E, rtol=0, atol=1e-12 * np.abs(E).max())
        same_bits(R, R.T)
    # A reversed pair flips the sign of w: R1 is then negative semidefinite.
    sign = math.prod(np.sign(hi - lo) for lo, hi in bounds)
    assert (np.linalg.eigvalsh(R1) * sign).min() >= -1e-12 * np.abs(R1).max()


def test_penalties_nd_worked_values_and_defaults() -> None:
    still_answers()
    for degrees, bounds in (([], []), ([0], [(0.0, 1.0)])):
        R1, R2, M = vc.build_penalty_matrices_nd(degrees, bounds)
        assert R1.tolist() == [[0.0]] and R2.tolist() == [[0.0]] and M == [[0] * len(degrees)]
    R1, R2, M = vc.build_penalty_matrices_nd([1, 2], UNIT2)
    assert M == [[0, 0], [0, 1], [0, 2], [1, 0], [1, 1], [1, 2]]
    assert all(type(m) is list and all(type(v) is int for v in m) for m in M)
    for a, b in zip((R1, R2), vc.build_penalty_matrices_nd([1, 2], UNIT2, 30)):
        same_bits(a, b)


def test_penalties_nd_any_grid_size() -> None:
    # 10^6 points per dimension, 10^12 in all: far beyond a grid that could be
    # stored, and the rectangle sums are known in closed form.
    G = 10**6
    R1, R2, _ = vc.build_penalty_matrices_nd([1, 1], UNIT2, G)
    w = (1.0 / (G - 1)) ** 2
    sum_x2 = G * (2 * G - 1) / (6 * (G - 1))  # sum over i of (i / (G - 1))^2
    assert R1[1, 1] == pytest.approx(w * G * G, rel=1e-12)
    assert R1[3, 3] == pytest.approx(w * 2 * G * sum_x2, rel=1e-9)
    assert R2[3, 3] == pytest.approx(w * 2 * G * G, rel=1e-12)


@pytest.mark.parametrize(
    "degrees, bounds, G, error, match",
    [
        ([2, 2], [(0.0, 1.0)], 30, ValueError, r"^Dimension mismatch\.$"),
        ([-1, 2], [(0.0, 1.0)], 1, ValueError, r"^Dimension mismatch\.$"),
        ([1, -2], UNIT2, 1, ValueError, r"degrees\[1\] is -2 but must be at least 0"),
        ([1, 1], UNIT2, 1, ValueError, "n_grid_per_dim is 1 but must be at least 2"),
        ([2**31 - 1] * 3, [(0.0, 1.0)] * 3, 0, ValueError, "n_grid_per_dim is 0"),
        ([1], [(0.0, 1.0, 2.0)], 30, TypeError, None),
        # Too large to represent or hold, refused before any work: q overflows 64 bits;
        # q x q overflows in bytes; 2.1e9 indices would exhaust memory while being
        # enumerated; q x q of ~72 TB.
        ([2**31 - 1] * 3, [(0.0, 1.0)] * 3, 30, MemoryError, None),
        ([2**31 - 2], [(0.0, 1.0)], 30, MemoryError, None),
        ([46340, 46340], UNIT2, 30, MemoryError, None),
        ([3_000_000], [(0.0, 1.0)], 30, MemoryError, None),
    ],
    ids=[
        "mismatch",
        "mismatch-first",
        "negative-degree",
        "one-point",
        "grid-before-size",
        "three-item-bound",
        "q-overflow",
        "q-squared-overflow",
        "many-indices",
        "q-squared",
    ],
)
def test_penalties_nd_refuses(degrees, bounds, G, error: type, match: str | None) -> None:
    with pytest.raises(error, match=match):
        vc.build_penalty_matrices_nd(degrees, bounds, G)
    still_answers()


@pytest.mark.parametrize("d", [800, 20_000])
def test_many_constant_dimensions_add_nothing(d: int) -> None:
    # Only derivatives of non-constant dimensions are summed, so d costs little;
    # a product over all d grid sums (30^d) would also overflow into NaN.
    R1, R2, indices = vc.build_penalty_matrices_nd([0] * d, [(0.0, 1.0)] * d)
    assert R1.tolist() == [[0.0]] and R2.tolist() == [[0.0]] and indices == [[0] * d]


def test_one_curved_dimension_among_hundreds_of_constant_ones() -> None:
    # Each constant dimension multiplies the sums by its grid weight times its 30
    # points, 30/29; the grid of 30^800 points is never formed and nothing overflows.
    d = 800
    R1, R2, _ = vc.build_penalty_matrices_nd([2] + [0] * (d - 1), [(0.0, 1.0)] * d)
    E1, E2, _ = vc.build_penalty_matrices_nd([2], [(0.0, 1.0)])
    for R, E in ((R1, E1), (R2, E2)):
        np.testing.assert_allclose(R, E * (30 / 29) ** (d - 1), rtol=1e-12)
