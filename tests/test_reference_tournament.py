"""The NumPy reference sampler against the compiled module, bit for bit.

The reference in oracles/reference_tournament.py is written independently of the compiled
sampler; in its exact mode it forms every sum in the order of Eigen's kernels, so that
scores, Gibbs statistics and whole fits agree exactly (==, not approx).
"""

import math
from functools import partial

import numpy as np
import pytest

import vexa_core
from oracles import reference_tournament as ref
from oracles.problems import line_data

GIBBS_FIELDS = ("H", "Hmax", "He", "r_heat", "var_E", "T")


def spread(rng, shape):
    """Normals scaled over six decades, so that the summation order shows in the result."""
    return rng.standard_normal(shape) * 10.0 ** rng.integers(-3, 3, size=shape)


def spd(rng, p):
    A = rng.standard_normal((p, p))
    return A @ A.T + 0.1 * np.eye(p)


def problem(seed, n, p):
    rng = np.random.default_rng(seed)
    X = rng.standard_normal((n, p))
    y = X @ (0.5 * rng.standard_normal(p)) + 0.1 * rng.standard_normal(n)
    return X, y, spd(rng, p), spd(rng, p)


def same_bits(a, b):
    return float(a).hex() == float(b).hex()


# --- score and statistics pieces against the compiled module ----------------------


@pytest.mark.parametrize("n", [0, 1, 2, 5, 6, 101], ids=lambda n: f"n{n}")
def test_mad_matches(n):
    rng = np.random.default_rng(100 + n)
    y = spread(rng, n)
    assert same_bits(ref.mad(y), vexa_core.mad(y))


@pytest.mark.parametrize("n", [1, 4, 9, 200], ids=lambda n: f"n{n}")
def test_compute_sr_matches(n):
    rng = np.random.default_rng(200 + n)
    yt = rng.standard_normal(n)
    yp = yt + rng.standard_normal(n)
    # The first difference sits exactly on the tolerance and must not count.
    eps = abs(yp[0] - yt[0])
    for e in (eps, 0.5, 0.0, -1.0):
        assert same_bits(ref.compute_sr(yp, yt, e), vexa_core.compute_sr(yp, yt, e))


@pytest.mark.parametrize(
    ("k", "H"), [(3, 20), (0, 20), (-2, 20), (4, 1), (2, 0)], ids=["k3", "k0", "k-neg", "H1", "H0"]
)
def test_plain_score_matches(k, H):
    rng = np.random.default_rng(300 + k)
    yt = spread(rng, 57)
    yp = yt + rng.standard_normal(57) * 0.3
    mine = ref.mdl_score_core(yp, yt, k, H, ref.sr_eps(yt))
    assert same_bits(mine, vexa_core.mdl_score(yp, yt, k, H))


@pytest.mark.parametrize("p", [1, 2, 3, 5, 8, 13, 130], ids=lambda p: f"p{p}")
def test_penalized_score_matches(p):
    # Non-symmetric matrices with entries over six decades make R @ beta and the dot
    # product depend on their summation order.
    rng = np.random.default_rng(400 + p)
    yt = rng.standard_normal(40)
    yp = yt + 0.2 * rng.standard_normal(40)
    beta, R1, R2 = spread(rng, p), spread(rng, (p, p)), spread(rng, (p, p))
    args = (yp, yt, p, 20, beta, R1, R2, 0.37, 1.9)
    mine = ref.mdl_score_core(yp, yt, p, 20, ref.sr_eps(yt), beta, R1, R2, 0.37, 1.9)
    assert same_bits(mine, vexa_core.mdl_score_reg(*args))


@pytest.mark.parametrize("n", [1, 2, 3, 4, 5, 7, 8, 25, 101], ids=lambda n: f"n{n}")
@pytest.mark.parametrize("T", [1.0, 0.3, 0.0], ids=["T1", "T0.3", "T0"])
def test_gibbs_entropy_matches(n, T):
    rng = np.random.default_rng(500 + n)
    E = 50.0 + spread(rng, n)
    mine = ref.gibbs_entropy(E, T)
    theirs = vexa_core.gibbs_entropy(E, T)
    for field in GIBBS_FIELDS:
        assert same_bits(getattr(mine, field), getattr(theirs, field)), field


@pytest.mark.parametrize(
    "steps",
    [[2, 6, 5, 0, 3], [2, 3, 3, 3, 0, 0], [3, 7, 6, 7, 3, 5, 7, 5, 6]],
    ids=["n5", "n6", "n9"],
)
def test_gibbs_mean_uses_the_vectorised_sum_order(steps):
    # Energies 1e16 + 2 k sit on a grid of spacing 2, so every partial sum is rounded
    # and the order of the sum for the mean shows in var_E.
    E = 1e16 + 2.0 * np.array(steps, dtype=float)
    mine = ref.gibbs_entropy(E, 1.0)
    assert same_bits(mine.var_E, vexa_core.gibbs_entropy(E, 1.0).var_E)
    assert not same_bits(mine.var_E, ref.gibbs_entropy(E, 1.0, exact=False).var_E)


# --- the reference's own tournament logic -----------------------------------------


def states(*betas):
    return [(np.array(b, dtype=float), float(i)) for i, b in enumerate(betas)]


@pytest.mark.parametrize(
    ("betas", "n_elite", "expected"),
    [
        # s[1] is within 0.1 of s[0]; the top-up starts at position 2 and repeats s[2].
        ([[0.0], [0.05], [1.0]], 5, [0, 2, 2]),
        ([[0.0], [0.1], [0.2]], 3, [0, 2, 2]),  # exactly 0.1 apart is too close
        ([[0.0], [1.0], [2.0], [3.0]], 2, [0, 1]),
        ([[0.0], [1.0]], 1, [0]),
        ([[0.0], [1.0]], -3, [0]),
        ([[], [], [], []], 3, [0, 1, 2]),  # no coefficients: every distance is 0
        ([[0.0, 0.0], [0.06, 0.08], [0.06, 0.09]], 4, [0, 2, 2]),  # distances 0.1, > 0.1
    ],
    ids=["topup-repeat", "at-threshold", "diverse", "one", "negative", "p0", "euclidean"],
)
def test_elite_selection(betas, n_elite, expected):
    assert ref.select_elite(states(*betas), n_elite, exact=True) == expected


def test_ranking_is_stable_and_puts_nan_last():
    chains = [(np.array([float(c)]), e) for c, e in enumerate((2.0, math.nan, 1.0, 2.0, 1.0))]
    ranked = ref.rank_chains(chains)
    assert [int(b[0]) for b, _ in ranked] == [2, 4, 0, 3, 1]


@pytest.mark.parametrize(
    ("E", "E_new", "T", "accepted", "draws"),
    [
        (2.0, 1.0, 1.0, True, 0),
        (1.0, 1.0, 1.0, True, 1),
        (1.0, math.nan, 1.0, True, 1),
        (math.nan, 5.0, 1.0, True, 1),
        (1.0, 1e9, 1.0, False, 1),
        (1.0, 2.0, 0.0, False, 1),
    ],
    ids=["downhill", "equal", "nan-proposal", "nan-current", "far-uphill", "cold"],
)
def test_acceptance(E, E_new, T, accepted, draws):
    stream, probe = ref.MT19937_64(9), ref.MT19937_64(9)
    assert ref.accept(E, E_new, T, stream) is accepted
    for _ in range(draws):
        probe.next_u64()
    assert stream.next_u64() == probe.next_u64()


def test_seed_shift_by_1000_shifts_the_chains():
    X, y, _, _ = problem(1, 30, 3)
    energy, p = ref.make_chain_energy(X, y, exact=True)
    old = ref.warmup_chains(energy, p, 3, 15, 0.05, 42)
    new = ref.warmup_chains(energy, p, 2, 15, 0.05, 1042)
    for (b_old, e_old), (b_new, e_new) in zip(old[1:], new):
        assert np.array_equal(b_old, b_new) and e_old == e_new


@pytest.mark.parametrize("penalized", [False, True], ids=["plain", "penalized"])
def test_fit_energy_is_the_score_of_its_beta(penalized):
    X, y, R1, R2 = problem(2, 60, 4)
    g1, g2 = (0.02, 0.003) if penalized else (0.0, 0.0)
    beta, energy, gibbs = ref.tournament_fit(
        X, y, R1, R2, g1, g2, n_chains=5, n_warmup=30, n_deep=40, n_elite=3, exact=True
    )
    yp = ref.predict(np.asfortranarray(X), beta)
    assert same_bits(energy, vexa_core.mdl_score_reg(yp, y, 4, 20, beta, R1, R2, g1, g2))
    # The deep phase never ends above the best warm-up chain.
    chain_energy, p = ref.make_chain_energy(X, y, R1, R2, g1, g2, exact=True)
    finals = [E for _, E in ref.warmup_chains(chain_energy, p, 5, 30, 0.05, 42)]
    assert energy <= min(finals)
    assert tuple(gibbs) == tuple(ref.gibbs_entropy(np.array(finals), 1.0))


def test_without_deep_steps_the_best_chain_is_returned():
    X, y, _, _ = problem(3, 50, 3)
    beta, energy, _ = ref.tournament_fit(X, y, n_chains=4, n_warmup=10, n_deep=0, exact=True)
    chain_energy, p = ref.make_chain_energy(X, y, exact=True)
    best = ref.rank_chains(ref.warmup_chains(chain_energy, p, 4, 10, 0.05, 42))[0]
    assert np.array_equal(beta, best[0]) and energy == best[1]


# --- whole fits against the compiled sampler --------------------------------------


def topup_data():
    # p = 1 with warm-up 20 and seed 4: the elite after the diversity pass is positions
    # 0, 3, 4 and the top-up appends positions 3 and 4 again.
    rng = np.random.default_rng(5)
    X = rng.standard_normal((30, 1))
    return X, X[:, 0] * 0.7 + 0.05 * rng.standard_normal(30), None, None


def fit(n_chains, n_warmup, n_deep, n_elite, step_size=0.05, H_piH=20, seed=42):
    return dict(
        n_chains=n_chains,
        n_warmup=n_warmup,
        n_deep=n_deep,
        n_elite=n_elite,
        step_size=step_size,
        H_piH=H_piH,
        seed=seed,
    )


# id: (data, (gamma1, gamma2) or None for no penalties, sampler settings). "R2-only" passes
# R1 = None; a NaN weight makes every energy NaN.
LINE2 = partial(line_data, 2)
FIT_CASES = {
    "base": (LINE2, (0.05, 0.01), fit(6, 30, 50, 3)),
    "odd-p-cache-carries-over": (
        partial(line_data, 3),
        (0.05, 0.01),
        fit(5, 25, 40, 3, 0.07, seed=9),
    ),
    "no-warmup": (LINE2, (0.05, 0.01), fit(5, 0, 40, 3, seed=7)),
    "negative-warmup": (LINE2, (0.05, 0.01), fit(5, -4, 40, 3, seed=7)),
    "no-deep": (LINE2, (0.05, 0.01), fit(6, 30, 0, 3)),
    "negative-deep": (LINE2, (0.05, 0.01), fit(6, 30, -1, 3)),
    "elite-zero": (LINE2, (0.05, 0.01), fit(6, 20, 40, 0, seed=1)),
    "elite-negative": (LINE2, (0.05, 0.01), fit(6, 20, 40, -3, seed=1)),
    "elite-all-chains": (LINE2, (0.05, 0.01), fit(4, 20, 30, 9, seed=1)),
    "one-chain": (LINE2, (0.05, 0.01), fit(1, 20, 40, 5, seed=3)),
    "step-zero": (LINE2, (0.05, 0.01), fit(4, 20, 30, 3, 0.0, seed=3)),
    "step-negative": (LINE2, (0.05, 0.01), fit(4, 20, 30, 3, -0.05, seed=3)),
    "no-penalties-ties": (LINE2, None, fit(6, 30, 80, 3, seed=11)),
    "R2-only": (LINE2, (0.0, 0.2), fit(6, 30, 50, 3, seed=11)),
    "H-one": (LINE2, (0.05, 0.01), fit(6, 30, 50, 3, H_piH=1, seed=11)),
    "seed-wraps": (LINE2, (0.05, 0.01), fit(5, 20, 40, 3, seed=2**64 - 1)),
    "no-coefficients": (partial(line_data, 0), (0.05, 0.01), fit(5, 10, 20, 3)),
    "nan-weight": (LINE2, (math.nan, 0.01), fit(5, 10, 20, 3)),
    "penalties-p5": (partial(problem, 11, 80, 5), (0.05, 0.01), fit(6, 40, 60, 3)),
    "R1-weight-only-p4": (partial(problem, 12, 50, 4), (0.2, 0.0), fit(5, 25, 50, 4)),
    "topup-repeat": (topup_data, None, fit(6, 20, 30, 5, seed=4)),
    "one-row-p5": (partial(problem, 17, 1, 5), None, fit(4, 20, 30, 2)),
    # 130 columns: the matrix-vector products take their columns in blocks.
    "p130": (partial(problem, 19, 40, 130), (0.001, 0.0001), fit(2, 5, 5, 2)),
    # X above 512 KiB is read from row panels, its last 3 rows from X itself.
    "row-panels": (partial(problem, 23, 8003, 9), (0.05, 0.01), fit(3, 5, 10, 2)),
}


def case_data(case_id):
    data, gammas, settings = FIT_CASES[case_id]
    X, y, R1, R2 = data()
    if gammas is None:
        return X, y, None, None, 0.0, 0.0, settings
    if case_id == "R2-only":
        R1 = None
    return X, y, R1, R2, *gammas, settings


def test_topup_case_repeats_a_member():
    # Keeps the "topup-repeat" fit honest: its elite really holds a chain twice.
    X, y, _, _, _, _, settings = case_data("topup-repeat")
    energy, p = ref.make_chain_energy(X, y, exact=True)
    chains = ref.warmup_chains(energy, p, 6, settings["n_warmup"], 0.05, settings["seed"])
    elite = ref.select_elite(ref.rank_chains(chains), settings["n_elite"], exact=True)
    assert len(set(elite)) < len(elite)


@pytest.mark.parametrize("case_id", list(FIT_CASES))
def test_fit_matches_compiled_sampler(case_id):
    X, y, R1, R2, g1, g2, settings = case_data(case_id)
    beta, energy, gibbs = ref.tournament_fit(X, y, R1, R2, g1, g2, **settings, exact=True)
    result = vexa_core.TournamentMCMC(*settings.values()).fit(X, y, R1, R2, g1, g2)
    assert result.beta_mcmc.tobytes() == beta.tobytes()
    assert same_bits(energy, result.energy)
    for field in GIBBS_FIELDS:
        assert same_bits(getattr(gibbs, field), getattr(result.gibbs, field)), field
    assert (result.n_chains, result.n_elite) == (settings["n_chains"], settings["n_elite"])
