"""ols and fit_regularized_linear against worked values and NumPy oracles."""

import math
from collections.abc import Callable
from fractions import Fraction

import numpy as np
import pytest

import vexa_core as vc
from oracles.peers import fit_regularized_linear as normal_equations

EPS = 2.0**-52
TINY = 2.0**-1022


def svd_oracle(X: np.ndarray, y: np.ndarray) -> tuple[np.ndarray, int]:
    """Minimum-norm least squares keeping the singular values at or above the rank threshold."""
    U, s, Vt = np.linalg.svd(X, full_matrices=False)
    threshold = max(s[0] * max(1, min(X.shape)) * EPS, TINY)
    r = int(np.count_nonzero(s >= threshold))
    # The comparison is only meaningful when no singular value sits near the threshold.
    assert not np.any((s > threshold / 4) & (s < threshold * 4))
    return Vt[:r].T @ ((U[:, :r].T @ y) / s[:r]), r


def low_rank(rng: np.random.Generator, n: int, p: int, r: int) -> np.ndarray:
    return rng.normal(size=(n, r)) @ rng.normal(size=(r, p))


# --- ols ----------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "n, p, r",
    [
        (50, 5, 5),
        (20000, 8, 8),
        (200, 30, 30),
        (40, 12, 3),
        (60, 25, 7),
        (10, 30, 10),
        (12, 40, 3),
        (1, 4, 1),
    ],
    ids=[
        "tall",
        "tall-blocks",
        "tall-wide-svd",
        "deficient",
        "deficient-wide-svd",
        "wide",
        "wide-deficient",
        "one-row",
    ],
)
def test_ols_matches_svd_oracle(rng: np.random.Generator, n: int, p: int, r: int) -> None:
    X = low_rank(rng, n, p, r) if r < min(n, p) else rng.normal(size=(n, p))
    if r == min(n, p):
        X[: n // 2, 0] = 0.0  # like an indicator: zero over whole blocks of rows
    y = rng.normal(size=n)
    expected, rank = svd_oracle(X, y)
    assert rank == r
    beta = vc.ols(X, y)
    assert beta.shape == (p,)
    np.testing.assert_allclose(beta, expected, rtol=0, atol=1e-10 * np.linalg.norm(expected))


@pytest.mark.parametrize(
    "diagonal, y, expected",
    [
        ([1.0, 5e-16], [1.0, 1.0], [1.0, 1.0 / 5e-16]),
        ([1.0, 4e-16], [1.0, 1.0], [1.0, 0.0]),
        ([1.0, 1.0, 7e-16], [1.0, 1.0, 1.0], [1.0, 1.0, 1.0 / 7e-16]),
        ([1.0, 1.0, 6e-16], [1.0, 1.0, 1.0], [1.0, 1.0, 0.0]),
        ([TINY], [1.0], [2.0**1022]),
        ([TINY / 2], [1.0], [0.0]),
    ],
    ids=[
        "kept",
        "dropped",
        "scaled-by-size-kept",
        "scaled-by-size-dropped",
        "floor-kept",
        "floor-dropped",
    ],
)
def test_ols_rank_threshold(diagonal: list[float], y: list[float], expected: list[float]) -> None:
    # Thresholds: 2 * 2^-52 = 4.4e-16 for two columns, 3 * 2^-52 = 6.7e-16 for three.
    np.testing.assert_allclose(vc.ols(np.diag(diagonal), y), expected, rtol=4 * EPS)


def test_ols_rank_one_is_minimum_norm() -> None:
    np.testing.assert_allclose(
        vc.ols([[1.0, 1.0], [1.0, 1.0]], [2.0, 2.0]), [1.0, 1.0], rtol=4 * EPS
    )


@pytest.mark.parametrize("p", [3, 20], ids=["small", "divide-and-conquer"])
@pytest.mark.parametrize("bad", [math.nan, math.inf, -math.inf])
def test_ols_non_finite_design_gives_nan(rng: np.random.Generator, p: int, bad: float) -> None:
    X = rng.normal(size=(30, p))
    X[4, 1] = bad
    beta = vc.ols(X, rng.normal(size=30))
    assert beta.shape == (p,) and np.all(np.isnan(beta))


# Shapes of every path: one QR of a short or square design, a QR of many blocks, a
# rank-deficient QR that ends in an SVD, a wide design's QR of its transpose, and the SVD
# of a rank-deficient wide design.
SCALE_SHAPES = [(100, 4, 4), (5, 5, 5), (30000, 6, 6), (40, 12, 3), (4, 8, 4), (6, 10, 3)]
SCALE_IDS = ["qr", "qr-square", "qr-blocks", "qr-deficient", "wide", "wide-deficient"]


@pytest.mark.parametrize("n, p, r", SCALE_SHAPES, ids=SCALE_IDS)
@pytest.mark.parametrize("x_power, y_power", [(-1000, 0), (1000, 0), (-600, 300), (600, -300)])
def test_ols_scaled_by_powers_of_two_gives_the_same_bits(
    rng: np.random.Generator, n: int, p: int, r: int, x_power: int, y_power: int
) -> None:
    # Squared norms of such columns overflow or vanish: the fit must not see the units.
    X = low_rank(rng, n, p, r) if r < min(n, p) else rng.normal(size=(n, p))
    y = rng.normal(size=n)
    beta = vc.ols(X * 2.0**x_power, y * 2.0**y_power)
    np.testing.assert_array_equal(beta, vc.ols(X, y) * 2.0 ** (y_power - x_power))


@pytest.mark.parametrize(
    "n, p, r",
    [shape for shape in SCALE_SHAPES if shape[2] == min(shape[:2])],
    ids=[i for shape, i in zip(SCALE_SHAPES, SCALE_IDS, strict=True) if shape[2] == min(shape[:2])],
)
@pytest.mark.parametrize("s", [1e-300, 1e-155, 1e154, 1e300])
def test_ols_keeps_its_accuracy_at_extreme_scales(
    rng: np.random.Generator, n: int, p: int, r: int, s: float
) -> None:
    X = rng.normal(size=(n, p))
    expected = np.arange(1.0, p + 1)
    y = X @ expected
    beta = vc.ols(X * s, y) * s
    if n < p:  # the minimum-norm solution of the wide system
        expected = np.linalg.pinv(X) @ y
    np.testing.assert_allclose(beta, expected, rtol=1e-12)


def test_ols_fits_a_high_degree_polynomial_in_raw_units(rng: np.random.Generator) -> None:
    # Columns from 1 to 1e180: plain squared norms overflow.
    x = rng.uniform(1e5, 1e6, 400)
    X = np.vander(x, 31, increasing=True)
    y = np.log(x) + rng.normal(scale=0.5, size=x.size)
    beta = vc.ols(X, y)
    assert np.all(np.isfinite(beta))
    rms = np.sqrt(np.mean((X @ beta - y) ** 2))
    rms_lstsq = np.sqrt(np.mean((X @ np.linalg.lstsq(X, y, rcond=None)[0] - y) ** 2))
    assert rms <= rms_lstsq * (1 + 1e-6)


def nist_longley() -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """NIST StRD Longley: employment on six economic series, 1947-1962."""
    data = np.array(
        [
            [60323, 83.0, 234289, 2356, 1590, 107608, 1947],
            [61122, 88.5, 259426, 2325, 1456, 108632, 1948],
            [60171, 88.2, 258054, 3682, 1616, 109773, 1949],
            [61187, 89.5, 284599, 3351, 1650, 110929, 1950],
            [63221, 96.2, 328975, 2099, 3099, 112075, 1951],
            [63639, 98.1, 346999, 1932, 3594, 113270, 1952],
            [64989, 99.0, 365385, 1870, 3547, 115094, 1953],
            [63761, 100.0, 363112, 3578, 3350, 116219, 1954],
            [66019, 101.2, 397469, 2904, 3048, 117388, 1955],
            [67857, 104.6, 419180, 2822, 2857, 118734, 1956],
            [68169, 108.4, 442769, 2936, 2798, 120445, 1957],
            [66513, 110.8, 444546, 4681, 2637, 121950, 1958],
            [68655, 112.6, 482704, 3813, 2552, 123366, 1959],
            [69564, 114.2, 502601, 3931, 2514, 125368, 1960],
            [69331, 115.7, 518173, 4806, 2572, 127852, 1961],
            [70551, 116.9, 554894, 4007, 2827, 130081, 1962],
        ]
    )
    X = np.column_stack([np.ones(16), data[:, 1:]])
    certified = np.array(
        [
            -3482258.63459582,
            15.0618722713733,
            -0.358191792925910e-01,
            -2.02022980381683,
            -1.03322686717359,
            -0.511041056535807e-01,
            1829.15146461355,
        ]
    )
    return X, data[:, 0], certified


def nist_wampler(coefficient: float) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """NIST StRD Wampler1 (coefficient 1) and Wampler2 (0.1): an exact quintic in x = 0..20."""
    x = np.arange(21.0)
    certified = coefficient ** np.arange(6.0)
    # The published y are exact decimals; summing in exact fractions gives their nearest doubles.
    c = Fraction(coefficient).limit_denominator(10)
    y = np.array([float(sum(c**k * int(v) ** k for k in range(6))) for v in x])
    return np.vander(x, 6, increasing=True), y, certified


@pytest.mark.parametrize(
    "problem",
    [nist_longley, lambda: nist_wampler(1.0), lambda: nist_wampler(0.1)],
    ids=["Longley", "Wampler1", "Wampler2"],
)
def test_ols_matches_lstsq_on_certified_nist_problems(problem: Callable[[], tuple]) -> None:
    X, y, certified = problem()

    def digits(beta: np.ndarray) -> float:
        """Log relative error: the correct significant digits of the worst coefficient."""
        error = np.max(np.abs(beta - certified) / np.abs(certified))
        return 15.0 if error == 0 else min(15.0, -math.log10(error))

    ours, lstsq = digits(vc.ols(X, y)), digits(np.linalg.lstsq(X, y, rcond=None)[0])
    assert ours >= min(lstsq, 15.0) - 1.0, (ours, lstsq)
    assert ours >= 7.0


# --- fit_regularized_linear ---------------------------------------------------------------


def test_identity_design_without_ridge() -> None:
    np.testing.assert_array_equal(
        vc.fit_regularized_linear(np.eye(2), [1.0, 2.0], ridge=0.0), [1.0, 2.0]
    )


def test_penalty_is_scaled_by_n() -> None:
    beta = vc.fit_regularized_linear([[1.0], [1.0]], [1.0, 1.0], [[1.0]], gamma1=0.5, ridge=0.0)
    np.testing.assert_array_equal(beta, [2.0 / 3.0])


def spd(rng: np.random.Generator, p: int) -> np.ndarray:
    M = rng.normal(size=(p, p))
    return M @ M.T


@pytest.mark.parametrize(
    "n, p, use1, use2, gamma1, gamma2, ridge",
    [
        (200, 6, False, False, 0.0, 0.0, 0.0),
        (200, 6, True, False, 1e-2, 0.0, 1e-10),
        (200, 6, False, True, 0.0, 3e-3, 1e-10),
        (300, 12, True, True, 1e-2, 5e-3, 1e-4),
        (50, 5, True, True, -1e-4, 2e-2, 0.5),
        (20000, 40, True, True, 1e-3, 1e-4, 1e-10),
    ],
    ids=["plain", "R1", "R2", "both", "negative-weight", "large"],
)
def test_matches_normal_equations(
    rng: np.random.Generator,
    n: int,
    p: int,
    use1: bool,
    use2: bool,
    gamma1: float,
    gamma2: float,
    ridge: float,
) -> None:
    Phi, y = rng.normal(size=(n, p)), rng.normal(size=n)
    R1 = spd(rng, p) if use1 else None
    R2 = spd(rng, p) if use2 else None
    beta = vc.fit_regularized_linear(Phi, y, R1, R2, gamma1, gamma2, ridge)
    expected = normal_equations(Phi, y, R1, R2, gamma1, gamma2, ridge)
    np.testing.assert_allclose(beta, expected, rtol=1e-12, atol=1e-12 * np.abs(expected).max())


def test_repeating_the_data_keeps_the_penalized_fit(rng: np.random.Generator) -> None:
    # Both PhiᵀPhi and the penalty grow with n, so stacking the data twice changes nothing.
    Phi, y, R = rng.normal(size=(40, 4)), rng.normal(size=40), spd(rng, 4)
    once = vc.fit_regularized_linear(Phi, y, R, None, 0.3, 0.0, 0.0)
    twice = vc.fit_regularized_linear(
        np.vstack([Phi, Phi]), np.concatenate([y, y]), R, None, 0.3, 0.0, 0.0
    )
    np.testing.assert_allclose(twice, once, rtol=1e-12)


@pytest.mark.parametrize("slot", ["R1", "R2"])
def test_asymmetric_penalty_contributes_its_lower_triangle(
    rng: np.random.Generator, slot: str
) -> None:
    Phi, y = rng.normal(size=(30, 5)), rng.normal(size=30)
    R = rng.normal(size=(5, 5))
    mirrored = np.tril(R) + np.tril(R, -1).T
    upper_nan = R.copy()
    upper_nan[np.triu_indices(5, 1)] = np.nan
    weights = {"gamma1": 0.2, "gamma2": 0.2}
    fits = [
        vc.fit_regularized_linear(Phi, y, ridge=1.0, **{slot: M}, **weights)
        for M in (R, mirrored, upper_nan)
    ]
    np.testing.assert_array_equal(fits[0], fits[1])
    np.testing.assert_array_equal(fits[0], fits[2])
    np.testing.assert_allclose(
        fits[1], normal_equations(Phi, y, ridge=1.0, **{slot: mirrored}, **weights), rtol=1e-12
    )


BAD = np.full((3, 1), np.nan)


@pytest.mark.parametrize(
    "kwargs",
    [
        {"R1": BAD},
        {"R2": BAD},
        {"R1": BAD, "R2": BAD},
        {"R1": BAD, "gamma2": 4.0},
        {"gamma1": 2.0, "gamma2": 3.0},
        {"R1": [], "R2": []},
    ],
    ids=["R1", "R2", "both", "R1-other-weight", "weights-no-matrices", "empty-lists"],
)
def test_unused_penalty_changes_nothing(
    rng: np.random.Generator, kwargs: dict[str, object]
) -> None:
    Phi, y = rng.normal(size=(20, 3)), rng.normal(size=20)
    np.testing.assert_array_equal(
        vc.fit_regularized_linear(Phi, y, **kwargs), vc.fit_regularized_linear(Phi, y)
    )


def test_singular_system_takes_zero_pivots() -> None:
    beta = vc.fit_regularized_linear([[1.0, 1.0], [1.0, 1.0]], [2.0, 2.0], ridge=0.0)
    np.testing.assert_array_equal(beta, [2.0, 0.0])
    np.testing.assert_array_equal(
        vc.fit_regularized_linear(np.zeros((3, 2)), [1.0, 2.0, 3.0], ridge=0.0), [0.0, 0.0]
    )


@pytest.mark.parametrize("p", [1, 3])
def test_nan_weight_reads_the_penalty_and_gives_nan(p: int) -> None:
    beta = vc.fit_regularized_linear(np.ones((2, p)), [1.0, 1.0], np.eye(p), gamma1=math.nan)
    assert beta.shape == (p,) and np.all(np.isnan(beta))


def test_defaults_equal_explicit_values() -> None:
    Phi, y = [[1.0, 1.0], [1.0, 1.0]], [2.0, 2.0]
    default = vc.fit_regularized_linear(Phi, y)
    np.testing.assert_array_equal(
        default, vc.fit_regularized_linear(Phi, y, None, None, 0.0, 0.0, 1e-10)
    )
    # The default ridge is applied: the singular system then has a unique solution near (1, 1).
    np.testing.assert_allclose(default, [1.0, 1.0], rtol=1e-9)


@pytest.mark.parametrize(
    "R1, R2, shown",
    [
        ("abc", None, "str"),
        (None, "abc", "str"),
        ("abc", object(), "str"),
        (object(), "abc", "object"),
    ],
    ids=["R1", "R2", "both-R1-first", "both-object-first"],
)
def test_unconvertible_penalty_raises_runtime_error(R1: object, R2: object, shown: str) -> None:
    with pytest.raises(RuntimeError) as info:
        vc.fit_regularized_linear([[1.0]], [1.0], R1, R2)
    assert str(info.value).startswith(f"Unable to cast Python instance of type <class '{shown}'>")


@pytest.mark.parametrize(
    "layout",
    [
        lambda P: np.ascontiguousarray(P),
        lambda P: np.repeat(P, 2, axis=0)[::2],
        lambda P: np.repeat(P, 2, axis=1)[:, ::2],
        lambda P: np.ascontiguousarray(P[::-1])[::-1],
        lambda P: P.astype(np.float32).astype(np.float64).tolist(),
    ],
    ids=["C-order", "every-other-row", "every-other-column", "negative-strides", "list"],
)
@pytest.mark.parametrize("fit", ["ols", "penalized"])
def test_every_layout_of_the_design_gives_the_same_bits(
    rng: np.random.Generator, layout: Callable[[np.ndarray], object], fit: str
) -> None:
    # The design is read where it lies in any layout: the sums may not depend on how it
    # is stored. 60,000 rows make several of the QR's row blocks.
    X = np.asfortranarray(rng.normal(size=(60000, 9)).astype(np.float32).astype(np.float64))
    y, R = rng.normal(size=60000), spd(rng, 9)

    def solve(design: object) -> np.ndarray:
        if fit == "ols":
            return vc.ols(design, y)
        return vc.fit_regularized_linear(design, y, R, R, 1e-3, 1e-4)

    np.testing.assert_array_equal(solve(layout(X)), solve(X))


@pytest.mark.parametrize(
    "steps", [(0, 8), (8, 0), (0, 0)], ids=["repeated-row", "repeated-column", "one-value"]
)
@pytest.mark.parametrize("fit", ["ols", "penalized"])
def test_design_with_a_zero_step_reads_only_its_entries(
    rng: np.random.Generator, steps: tuple[int, int], fit: str
) -> None:
    # np.broadcast_to repeats entries with a step of 0 bytes: the design holds only the
    # entries its steps reach, and must give the bits of its own full copy.
    n, p = 5000, 6
    X = np.lib.stride_tricks.as_strided(rng.normal(size=n * p), shape=(n, p), strides=steps)
    y, R = rng.normal(size=n), spd(rng, p)

    def solve(design: np.ndarray) -> np.ndarray:
        if fit == "ols":
            return vc.ols(design, y)
        return vc.fit_regularized_linear(design, y, R, gamma1=1e-3)

    np.testing.assert_array_equal(solve(X), solve(X.copy()))


# --- empty designs and shape errors -------------------------------------------------------


@pytest.mark.parametrize("shape", [(0, 3), (4, 0), (0, 0)])
@pytest.mark.parametrize("fn", [vc.ols, vc.fit_regularized_linear], ids=["ols", "fit"])
def test_empty_design_gives_zeros(fn: Callable[..., np.ndarray], shape: tuple[int, int]) -> None:
    beta = fn(np.zeros(shape), np.ones(shape[0]))
    assert beta.shape == (shape[1],)
    np.testing.assert_array_equal(beta, 0.0)


def test_empty_design_with_empty_penalties() -> None:
    empty = np.zeros((0, 0))
    assert vc.fit_regularized_linear(
        np.zeros((3, 0)), np.ones(3), empty, empty, 1.0, 1.0
    ).shape == (0,)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: vc.ols(np.ones((3, 2)), np.ones(2)), "X has 3 rows but y has 2 entries"),
        (lambda: vc.ols(np.ones((0, 2)), np.ones(1)), "X has 0 rows but y has 1 entries"),
        (
            lambda: vc.fit_regularized_linear(np.ones((2, 2)), np.ones(3)),
            "Phi has 2 rows but y has 3 entries",
        ),
        (
            lambda: vc.fit_regularized_linear(np.ones((3, 2)), np.ones(3), np.eye(3), None, 1.0),
            r"R1 is 3 x 3 but must be 2 x 2 \(Phi gives p = 2\)",
        ),
        (
            lambda: vc.fit_regularized_linear(
                np.ones((3, 2)), np.ones(3), None, np.ones((2, 1)), 0.0, 1.0
            ),
            r"R2 is 2 x 1 but must be 2 x 2",
        ),
        (
            lambda: vc.fit_regularized_linear(np.ones((3, 2)), np.ones(3), BAD, None, math.nan),
            r"R1 is 3 x 1",
        ),
        (
            lambda: vc.fit_regularized_linear(np.ones((3, 1)), np.ones(3), [], None, 1.0),
            r"R1 is 0 x 1",
        ),
    ],
    ids=["ols-rows", "ols-empty-rows", "fit-rows", "R1", "R2", "R1-nan-weight", "R1-empty-list"],
)
def test_shape_errors_name_the_sizes(call, message: str) -> None:  # type: ignore[no-untyped-def]
    with pytest.raises(ValueError, match=message):
        call()
    np.testing.assert_array_equal(
        vc.fit_regularized_linear(np.eye(2), [1.0, 2.0], ridge=0.0), [1.0, 2.0]
    )
    np.testing.assert_allclose(vc.ols(np.eye(2), [1.0, 2.0]), [1.0, 2.0], rtol=4 * EPS)


def test_impossible_normal_matrix_raises_memory_error() -> None:
    with pytest.raises(MemoryError):
        vc.fit_regularized_linear(np.zeros((0, 10**7)), np.zeros(0))


@pytest.mark.parametrize(
    "where", [(0, 0), (1, 1), (2, 0)], ids=["first_pivot", "later_pivot", "off_diagonal"]
)
def test_nan_in_the_normal_matrix_makes_every_component_nan(where: tuple[int, int]) -> None:
    R1 = np.eye(3)
    R1[where] = math.nan
    Phi = np.random.default_rng(2).random((8, 3))
    beta = vc.fit_regularized_linear(Phi, np.ones(8), R1, None, 0.1)
    assert np.isnan(beta).all(), beta
