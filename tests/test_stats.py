"""mad, compute_sr and the description-length scores against worked values and NumPy."""

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra.numpy import arrays

import vexa_core as vc

finite = st.floats(-1e6, 1e6, allow_nan=False)


@pytest.mark.parametrize(
    "y, expected",
    [
        ([], 0.0),
        ([7.0], 0.0),
        ([1.0, 3.0], 1.0),
        ([1.0, 2.0, 3.0, 4.0, 100.0], 1.0),
        ([4.0, 1.0, 3.0, 2.0], 1.0),
    ],
)
def test_mad_worked_values(y: list[float], expected: float) -> None:
    assert vc.mad(y) == expected


def test_mad_matches_numpy_and_has_no_scale_factor(rng: np.random.Generator) -> None:
    for n in (1, 2, 3, 10, 101, 1000):
        y = rng.normal(size=n)
        expected = np.median(np.abs(y - np.median(y)))
        assert vc.mad(y) == pytest.approx(expected, rel=1e-15, abs=0)


@given(arrays(np.float64, st.integers(0, 60), elements=finite), finite)
@settings(max_examples=200, deadline=None)
def test_mad_is_shift_invariant(y: np.ndarray, shift: float) -> None:
    assert vc.mad(y + shift) == pytest.approx(vc.mad(y), abs=1e-6)


@pytest.mark.parametrize(
    "yp, yt, eps, expected",
    [
        ([0, 0, 0, 0], [0, 1, 2, 3], 1.0, 0.25),
        ([0, 0, 0, 0], [5, 6, 7, 8], 1.0, 0.125),
        ([1, 2, 3], [1, 2, 3], 0.5, 1.0),
        ([1, 2, 3], [1, 2, 3], 0.0, 1 / 6),
        ([1, 2, 3], [1, 2, 3], -1.0, 1 / 6),
        ([1, 2, 3], [1, 2, 3], math.nan, 1 / 6),
        ([math.nan, 2, 3], [1, 2, 3], 0.5, 2 / 3),
        ([0, 0, 9, 9], [0, 0], 1.0, 1.0),
    ],
    ids=["strict", "floor", "perfect", "eps0", "eps-neg", "eps-nan", "nan-diff", "yp-longer"],
)
def test_compute_sr_worked_values(
    yp: list[float], yt: list[float], eps: float, expected: float
) -> None:
    assert vc.compute_sr(yp, yt, eps) == expected


def test_compute_sr_empty_is_nan() -> None:
    assert math.isnan(vc.compute_sr([], [], 1.0))


def test_compute_sr_matches_numpy(rng: np.random.Generator) -> None:
    yt = rng.normal(size=1001)
    yp = yt + rng.normal(scale=0.5, size=1001)
    n = yt.size
    expected = max(np.count_nonzero(0.3 > np.abs(yp - yt)) / n, 1 / (2 * n))
    assert vc.compute_sr(yp, yt, 0.3) == expected


LN40 = math.log(40.0)


@pytest.mark.parametrize(
    "yp, yt, k, H, expected",
    [
        ([1, 2, 3, 4], [1, 2, 3, 4], 0, 20, 0.0),
        ([1, 2, 3, 4], [1, 2, 3, 4], 2, 20, 2 * LN40 / 4 * 2),
        ([0, 0, 0, 0], [0, 1, 2, 3], 1, 20, LN40 / 4 - 4 * math.log(0.25)),
        ([9, 9, 9, 9], [0, 1, 2, 3], 0, 20, -4 * math.log(1 / 8)),
        ([1, 2, 3, 4], [1, 2, 3, 4], -3, 20, 0.0),
        ([5, 5, 5, 5], [5, 5, 5, 5.3], 0, 20, 0.0),
        ([5, 5, 5, 5], [5, 5, 5, 5.5], 0, 20, -4 * math.log(0.75)),
    ],
    ids=["k0", "k2", "one-success", "no-success", "k-negative", "const-in-tol", "const-out"],
)
def test_mdl_score_worked_values(
    yp: list[float], yt: list[float], k: int, H: int, expected: float
) -> None:
    assert vc.mdl_score(yp, yt, k, H) == pytest.approx(expected, rel=1e-15)
    assert vc.mdl_score(yp, yt, k, H) == vc.mdl_score_reg(yp, yt, k, H, [1.0], [[7.0]], [[7.0]])


def test_mdl_score_default_H() -> None:
    yp, yt = [0.0, 0.0, 0.0, 0.0], [0.0, 1.0, 2.0, 3.0]
    assert vc.mdl_score(yp, yt, 1) == vc.mdl_score(yp, yt, 1, 20)
    assert vc.mdl_score(yp, yt, 1) == pytest.approx(6.467397, abs=1e-6)


@pytest.mark.parametrize(
    "k, H, check",
    [
        (1, 0, lambda s: s == -math.inf),
        (1, -1, math.isnan),
        (0, 0, math.isfinite),
    ],
)
def test_mdl_score_special_resolutions(k: int, H: int, check) -> None:  # type: ignore[no-untyped-def]
    assert check(vc.mdl_score([0.0, 0.0], [0.0, 1.0], k, H))


def test_mdl_score_empty_is_nan() -> None:
    assert math.isnan(vc.mdl_score([], [], 1))


def test_mdl_score_reg_adds_weighted_quadratic_forms(rng: np.random.Generator) -> None:
    yp, yt = [0.0, 0.0, 0.0, 0.0], [0.0, 1.0, 2.0, 3.0]
    base = vc.mdl_score(yp, yt, 1, 20)
    got = vc.mdl_score_reg(yp, yt, 1, 20, [1.0, 2.0], np.eye(2), rng.normal(size=(2, 2)), 0.5)
    assert got == pytest.approx(base + 2.5, rel=1e-15)
    beta = rng.normal(size=5)
    R1, R2 = rng.normal(size=(5, 5)), rng.normal(size=(5, 5))
    got = vc.mdl_score_reg(yp, yt, 1, 20, beta, R1, R2, 0.3, -1.7)
    expected = base + 0.3 * beta @ R1 @ beta - 1.7 * beta @ R2 @ beta
    assert got == pytest.approx(expected, rel=1e-12)


@pytest.mark.parametrize("gamma1, gamma2", [(0.0, 0.0), (1.0, 0.0), (0.0, 1.0)])
def test_zero_weight_penalty_is_never_read(gamma1: float, gamma2: float) -> None:
    yp, yt, beta = [0.0, 1.0], [0.0, 1.0], [1.0, 1.0]
    nan_bad_shape = np.full((3, 1), np.nan)
    good = np.eye(2)
    R1 = good if gamma1 else nan_bad_shape
    R2 = good if gamma2 else nan_bad_shape
    got = vc.mdl_score_reg(yp, yt, 2, 20, beta, R1, R2, gamma1, gamma2)
    assert got == vc.mdl_score(yp, yt, 2) + 2.0 * (gamma1 + gamma2)


def test_nan_weight_reads_the_penalty() -> None:
    got = vc.mdl_score_reg([0.0], [0.0], 1, 20, [1.0], [[1.0]], [[1.0]], math.nan, 0.0)
    assert math.isnan(got)


def test_empty_penalty_with_empty_beta() -> None:
    got = vc.mdl_score_reg([0.0], [0.0], 0, 20, [], np.zeros((0, 0)), np.zeros((0, 0)), 1.0, 1.0)
    assert got == 0.0
