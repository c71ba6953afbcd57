"""TournamentMCMC and MCMCResult: the fit's energy, its reproducibility across runs and
team sizes, the result's views and the errors. The fit against the NumPy reference, bit
for bit, is in test_reference_tournament.py."""

import gc
import math
import os
import subprocess
import sys
import textwrap
import weakref

import numpy as np
import pytest

import vexa_core as vc
from oracles.problems import line_data

NAN = math.nan


# ---- Small problems -------------------------------------------------------------------


def test_one_chain_statistics_and_no_coefficient_energy() -> None:
    X, y, R1, R2 = line_data(2)
    one = vc.TournamentMCMC(n_chains=1, n_warmup=10, n_deep=10).fit(X, y, R1, R2, 0.1, 0.1)
    assert (one.gibbs.H, one.gibbs.He, one.gibbs.r_heat, one.gibbs.var_E) == (0.0, 0.0, 0.01, 0.0)
    empty = vc.TournamentMCMC(n_chains=3, n_warmup=10, n_deep=10).fit(np.empty((40, 0)), y)
    assert empty.beta_mcmc.shape == (0,)
    assert empty.energy == vc.mdl_score(np.zeros(40), y, 0, 20)


# ---- Realistic data -------------------------------------------------------------------


def poly_data(n: int = 500, deg: int = 7, seed: int = 3):
    rng = np.random.default_rng(seed)
    x = np.linspace(-1.0, 1.0, n)
    Phi = np.polynomial.polynomial.polyvander(x, deg)
    y = np.sin(2.0 * x) + 0.05 * rng.normal(size=n)
    A, B = rng.normal(size=(2, deg + 1, deg + 1))
    return Phi, y, A @ A.T, B @ B.T


SMALL = dict(n_chains=6, n_warmup=30, n_deep=50, n_elite=3)


def as_bytes(r: vc.MCMCResult) -> tuple:
    g = r.gibbs
    return (
        r.beta_mcmc.tobytes(),
        r.energy.hex(),
        tuple(getattr(g, f).hex() for f in ("H", "Hmax", "He", "r_heat", "var_E", "T")),
    )


def test_default_settings_fit_is_reproducible_and_scored_by_mdl_score_reg() -> None:
    Phi, y, R1, R2 = poly_data()
    a = vc.TournamentMCMC().fit(Phi, y, R1, R2, 1e-3, 1e-4)
    b = vc.TournamentMCMC(25, 200, 2000, 5, 0.05, 20, 42).fit(Phi, y, R1, R2, 1e-3, 1e-4)
    assert as_bytes(a) == as_bytes(b)
    assert (a.n_chains, a.n_elite) == (25, 5)
    # NumPy's product may round differently from the sampler's own.
    expected = vc.mdl_score_reg(Phi @ a.beta_mcmc, y, 8, 20, a.beta_mcmc, R1, R2, 1e-3, 1e-4)
    assert a.energy == pytest.approx(expected, rel=1e-12)


@pytest.mark.parametrize(
    "gammas",
    [(0.0, 0.0), (0.3, 0.0), (0.0, 0.02), (1e-2, 1e-3)],
    ids=["unweighted", "R1", "R2", "both"],
)
def test_energy_is_the_regularized_score_of_the_returned_vector(gammas: tuple) -> None:
    Phi, y, R1, R2 = poly_data(n=120, deg=4)
    r = vc.TournamentMCMC(**SMALL, H_piH=15).fit(Phi, y, R1, R2, *gammas)
    expected = vc.mdl_score_reg(Phi @ r.beta_mcmc, y, 5, 15, r.beta_mcmc, R1, R2, *gammas)
    assert r.energy == pytest.approx(expected, rel=1e-12)


def test_repeated_fits_are_identical_and_settings_unchanged() -> None:
    Phi, y, R1, R2 = poly_data(n=100, deg=3)
    sampler = vc.TournamentMCMC(**SMALL, seed=77)
    first = as_bytes(sampler.fit(Phi, y, R1, R2, 0.01, 0.01))
    sampler.fit(Phi[:50], y[:50])  # other data in between leaves nothing behind
    assert as_bytes(sampler.fit(Phi, y, R1, R2, 0.01, 0.01)) == first
    # Every layout of the design is converted to the same matrix.
    for layout in (np.asfortranarray(Phi), np.repeat(Phi, 2, axis=0)[::2], Phi.tolist()):
        assert as_bytes(sampler.fit(layout, y, R1, R2, 0.01, 0.01)) == first
    assert as_bytes(sampler.fit(Phi, y, R1, R2, 0.01, 0.01)) != as_bytes(
        vc.TournamentMCMC(**SMALL, seed=78).fit(Phi, y, R1, R2, 0.01, 0.01)
    )


THREAD_SCRIPT = textwrap.dedent("""
    import numpy as np, vexa_core as vc
    rng = np.random.default_rng(4)
    x = np.linspace(-1, 1, 150)
    Phi = np.polynomial.polynomial.polyvander(x, 4)
    y = np.cos(3 * x) + 0.05 * rng.normal(size=x.size)
    A = rng.normal(size=(5, 5))
    r = vc.TournamentMCMC(n_chains=7, n_warmup=40, n_deep=60, n_elite=4, seed=5).fit(
        Phi, y, A @ A.T, np.eye(5), 0.01, 0.001)
    g = r.gibbs
    print(r.beta_mcmc.tobytes().hex(), r.energy.hex(),
          *(getattr(g, f).hex() for f in ("H", "Hmax", "He", "r_heat", "var_E", "T")))
""")


@pytest.mark.slow
def test_results_do_not_depend_on_the_team_size() -> None:
    outputs = set()
    for threads in ("1", "2", "3"):
        env = dict(os.environ, OMP_NUM_THREADS=threads)
        run = subprocess.run(
            [sys.executable, "-c", THREAD_SCRIPT],
            env=env,
            capture_output=True,
            text=True,
            check=True,
            timeout=600,
        )
        outputs.add(run.stdout)
    assert len(outputs) == 1


@pytest.mark.parametrize("which", ["R1", "R2", "both"])
def test_penalty_with_weight_zero_is_never_read(which: str) -> None:
    Phi, y, _, _ = poly_data(n=80, deg=3)
    junk = np.full((2, 7), np.nan)  # wrong shape and NaN: reading it would show
    sampler = vc.TournamentMCMC(**SMALL)
    expected = as_bytes(sampler.fit(Phi, y, None, None, 0.0, 0.0))
    R = {"R1": (junk, None), "R2": (None, junk), "both": (junk, junk)}[which]
    assert as_bytes(sampler.fit(Phi, y, *R, 0.0, 0.0)) == expected


# ---- The result object ------------------------------------------------------------------


def small_result() -> vc.MCMCResult:
    Phi, y, R1, R2 = poly_data(n=60, deg=3)
    return vc.TournamentMCMC(**SMALL).fit(Phi, y, R1, R2, 0.01, 0.01)


@pytest.fixture
def result() -> vc.MCMCResult:
    return small_result()


def test_result_class_surface() -> None:
    with pytest.raises(TypeError, match=r"^vexa_core\.MCMCResult: No constructor defined!$"):
        vc.MCMCResult()
    public = [name for name in vars(vc.MCMCResult) if not name.startswith("_")]
    assert public == ["beta_mcmc", "energy", "gibbs", "n_chains", "n_elite"]
    assert [name for name in vars(vc.TournamentMCMC) if not name.startswith("_")] == ["fit"]


@pytest.mark.parametrize(
    "name, value",
    [("beta_mcmc", np.zeros(4)), ("energy", 0.0), ("gibbs", None), ("n_chains", 1), ("n_elite", 1)],
)
def test_result_properties_are_read_only(result: vc.MCMCResult, name: str, value) -> None:
    energy = result.energy
    with pytest.raises(AttributeError):
        setattr(result, name, value)
    with pytest.raises(AttributeError):
        delattr(result, name)
    assert result.energy == energy


def test_beta_mcmc_is_a_read_only_view_that_keeps_the_result_alive() -> None:
    result = small_result()
    beta = result.beta_mcmc
    assert beta.dtype == np.float64 and beta.ndim == 1 and not beta.flags.writeable
    assert np.shares_memory(beta, result.beta_mcmc)  # both accesses view the same storage
    with pytest.raises(ValueError, match="read-only"):
        beta[0] = 1.0
    saved, alive = beta.copy(), weakref.ref(result)
    del result
    gc.collect()
    assert alive() is not None
    _ = [np.ones(len(saved)) for _ in range(100)]
    assert np.array_equal(beta, saved)
    del beta
    gc.collect()
    assert alive() is None


def test_gibbs_refers_into_the_result_and_keeps_it_alive() -> None:
    result = small_result()
    gibbs, alive = result.gibbs, weakref.ref(result)
    r_heat = gibbs.r_heat
    del result
    gc.collect()
    assert alive() is not None and gibbs.r_heat == r_heat
    with pytest.raises(AttributeError):
        gibbs.r_heat = 0.5
    del gibbs
    gc.collect()
    assert alive() is None


# ---- Settings and errors --------------------------------------------------------------


@pytest.mark.parametrize(
    "kwargs",
    [
        {"seed": -1},
        {"seed": 2**64},
        {"n_chains": 2.0},
        {"n_warmup": 2**31},
        {"n_elite": -(2**31) - 1},
        {"step_size": "0.1"},
        {"H_piH": None},
    ],
    ids=[
        "seed-negative",
        "seed-2**64",
        "float-count",
        "count-too-big",
        "count-too-small",
        "str-step",
        "none-H",
    ],
)
def test_constructor_refuses_unconvertible_settings(kwargs: dict) -> None:
    with pytest.raises(TypeError):
        vc.TournamentMCMC(**kwargs)


@pytest.mark.parametrize(
    "given, stored",
    [
        ({"n_chains": True}, {"n_chains": 1}),
        ({"n_elite": np.int64(2)}, {"n_elite": 2}),
        ({"step_size": 1}, {"step_size": 1.0}),
        ({"H_piH": np.int32(25)}, {"H_piH": 25}),
        ({"seed": np.uint64(2**64 - 1)}, {"seed": 2**64 - 1}),
    ],
    ids=["bool-count", "numpy-int-count", "int-step", "numpy-int-H", "numpy-seed-max"],
)
def test_constructor_stores_a_convertible_setting_as_its_value(given: dict, stored: dict) -> None:
    X, y = line_data(2)[:2]
    small = dict(n_chains=4, n_warmup=8, n_deep=8, n_elite=2)
    a = vc.TournamentMCMC(**{**small, **given}).fit(X, y)
    b = vc.TournamentMCMC(**{**small, **stored}).fit(X, y)
    assert as_bytes(a) == as_bytes(b)


X2, Y2 = line_data(2)[:2]
# Every case would run for hours if a chain started before the check.
ERROR_CASES = {
    "no-chains": (dict(n_chains=0), (X2, Y2), ValueError, "^n_chains must be positive$"),
    "negative-chains": (dict(n_chains=-1), (X2, Y2), ValueError, "larger than max_size"),
    "rows-mismatch": ({}, (X2, Y2[:-1]), ValueError, "^X has 40 rows but y has 39 entries$"),
    "R1-shape": (
        {},
        (X2, Y2, np.eye(3), None, 1.0),
        ValueError,
        r"^R1 is 3 x 3 but must be 2 x 2 \(X gives p = 2\)$",
    ),
    "R2-shape-nan-weight": (
        {},
        (X2, Y2, None, np.ones((2, 1)), 0.0, NAN),
        ValueError,
        r"^R2 is 2 x 1 but must be 2 x 2",
    ),
    "R1-not-a-matrix": (
        {},
        (X2, Y2, "abc"),
        RuntimeError,
        "^Unable to cast Python instance of type <class 'str'>",
    ),
}


@pytest.mark.parametrize(
    "settings, args, error, message", ERROR_CASES.values(), ids=ERROR_CASES.keys()
)
def test_fit_rejects_before_any_chain_runs(settings, args, error, message) -> None:
    sampler = vc.TournamentMCMC(**{"n_warmup": 2**31 - 1, "n_chains": 64, **settings})
    with pytest.raises(error, match=message):
        sampler.fit(*args)
