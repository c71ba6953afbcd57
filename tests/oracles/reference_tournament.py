"""NumPy reference of the tournament sampler's fit, and its building blocks.

Two uses:

* the peer that ``bench/run.py`` times against ``vexa_core.TournamentMCMC.fit``: NumPy arrays,
  ``X @ beta`` through NumPy, a plain Python loop over the Metropolis steps;
* an oracle for the compiled sampler: with ``exact=True`` every sum that feeds an energy
  is formed in the same order as the compiled module (x86-64, no FMA,
  ``-ffp-contract=off``; the same on every instruction set it dispatches to), so that
  both give the same result bit for bit.

Summation orders mirrored in exact mode:

* The prediction ``X @ beta`` of the energy (``predict``): row by row, the products
  ``X[i, j] * beta[j]`` are each rounded and summed column by column, j = 0, 1, ... in
  order, starting from the first product (no column blocks, whatever p).
* Matrix-vector products ``R @ beta`` of the penalties (``matvec``): Eigen's
  column-major GEMV kernel keeps one accumulator per row, starts it at 0 and adds
  ``A[i, j] * b[j]`` for j = 0, 1, ... in order (one rounded multiply, then one rounded
  add), then adds the accumulator to the zeroed destination. With 128 or more columns the
  columns are taken in blocks (16 per block, or 4 when a column holds 4000 or more rows),
  each block with a fresh accumulator added to the destination in turn. A single-row
  matrix goes through Eigen's dot product instead, whose strided row reduces strictly
  left to right: the same order.
* Dot products and sums of contiguous vectors (``beta . (R beta)``, the squared norm of a
  difference of coefficient vectors, the mean of the chain energies): Eigen's linear
  vectorised reduction with two packets of two lanes: lanes r = 0..3 sum the terms
  x[4i + r] in order, the packets are combined as (lane0 + lane2, lane1 + lane3), a
  remaining pair x[m4], x[m4 + 1] is added to them, the two lanes are added, and the
  last odd term is added at the end. Fewer than four terms reduce left to right.

The building blocks (``predict``, ``matvec``, ``quad_penalty``, ``mdl_score_core``,
``gibbs_entropy``) default to exact=True; ``tournament_fit`` and the sampler stages default
to exact=False, the benchmark peer.

Scalar arithmetic uses Python floats (IEEE doubles) and ``math.log`` / ``math.exp`` /
``math.sqrt`` of the same C library that the compiled module calls, never NumPy's own
vectorised transcendental functions.
"""

from __future__ import annotations

import math
from collections.abc import Callable
from typing import NamedTuple

import numpy as np
from numpy.typing import ArrayLike, NDArray

__all__ = [
    "MT19937_64",
    "GibbsTuple",
    "NormalSource",
    "accept",
    "compute_sr",
    "deep_phase",
    "eigen_dot",
    "eigen_sum",
    "gibbs_entropy",
    "ilogb",
    "mad",
    "make_chain_energy",
    "matvec",
    "mdl_score_core",
    "predict",
    "quad_penalty",
    "rank_chains",
    "scalbn",
    "select_elite",
    "sr_eps",
    "tournament_fit",
    "warmup_chains",
]

Vector = NDArray[np.float64]
_MASK64 = (1 << 64) - 1

# ---------------------------------------------------------------------------
# Random streams
# ---------------------------------------------------------------------------


class MT19937_64:
    """``std::mt19937_64`` with the standard single-value seeding.

    The state is twisted 312 words at a time with NumPy ``uint64`` arithmetic (wrapping,
    bit-exact); the tempered block is kept both as raw integers and as uniform doubles.
    """

    _N = 312
    _M = 156
    _MATRIX_A = np.uint64(0xB5026F5AA96619E9)
    _UPPER = np.uint64(0xFFFFFFFF80000000)
    _LOWER = np.uint64(0x7FFFFFFF)
    _UNIFORM_SCALE = 2.0**-53  # 1.1102230246251565e-16

    __slots__ = ("_mt", "_pos", "_raw", "_uni")

    def __init__(self, seed: int = 5489) -> None:
        mt = [0] * self._N
        x = seed & _MASK64
        mt[0] = x
        for i in range(1, self._N):
            x = (6364136223846793005 * (x ^ (x >> 62)) + i) & _MASK64
            mt[i] = x
        self._mt = np.array(mt, dtype=np.uint64)
        self._raw: list[int] = []
        self._uni: list[float] = []
        self._pos = self._N  # forces a twist before the first output

    def _twist(self) -> None:
        n, m = self._N, self._M
        mt = self._mt
        upper, lower, a = self._UPPER, self._LOWER, self._MATRIX_A
        one, zero = np.uint64(1), np.uint64(0)
        # Words 0 .. n-m-1 read only words not yet replaced in this pass.
        y = (mt[: n - m] & upper) | (mt[1 : n - m + 1] & lower)
        mt[: n - m] = mt[m:] ^ (y >> one) ^ np.where((y & one) != zero, a, zero)
        # Words n-m .. n-2 read words 0 .. m-2, all replaced above.
        y = (mt[n - m : n - 1] & upper) | (mt[n - m + 1 : n] & lower)
        mt[n - m : n - 1] = mt[: m - 1] ^ (y >> one) ^ np.where((y & one) != zero, a, zero)
        last = (int(mt[n - 1]) & 0xFFFFFFFF80000000) | (int(mt[0]) & 0x7FFFFFFF)
        mt[n - 1] = np.uint64(
            int(mt[m - 1]) ^ (last >> 1) ^ (0xB5026F5AA96619E9 if last & 1 else 0)
        )
        # Tempering.
        z = mt.copy()
        z ^= (z >> np.uint64(29)) & np.uint64(0x5555555555555555)
        z ^= (z << np.uint64(17)) & np.uint64(0x71D67FFFEDA60000)
        z ^= (z << np.uint64(37)) & np.uint64(0xFFF7EEE000000000)
        z ^= z >> np.uint64(43)
        self._raw = z.tolist()
        # x >> 11 has 53 bits, so its conversion and the scaling by 2**-53 are exact.
        self._uni = ((z >> np.uint64(11)).astype(np.float64) * self._UNIFORM_SCALE).tolist()
        self._pos = 0

    def next_u64(self) -> int:
        if self._pos >= self._N:
            self._twist()
        v = self._raw[self._pos]
        self._pos += 1
        return v

    def uniform(self) -> float:
        """(x >> 11) * 2**-53 of the next output x: a double in [0, 1)."""
        if self._pos >= self._N:
            self._twist()
        u = self._uni[self._pos]
        self._pos += 1
        return u


def ilogb(v: float) -> int:
    """Unbiased binary exponent of a finite non-zero v (C's ilogb)."""
    return math.frexp(v)[1] - 1


def scalbn(v: float, e: int) -> float:
    return math.ldexp(v, e)


_LN4 = 1.3862943611198906


class NormalSource:
    """Polar-method normal draws with a one-value cache, tied to one stream."""

    __slots__ = ("_cached", "_has", "stream")

    def __init__(self, stream: MT19937_64) -> None:
        self.stream = stream
        self._has = False
        self._cached = 0.0

    def draw(self, mu: float, sigma: float) -> float:
        if self._has:
            self._has = False
            return self._cached * sigma + mu
        uniform = self.stream.uniform
        while True:
            a = 2.0 * uniform() - 1.0
            b = 2.0 * uniform() - 1.0
            s = a * a + b * b
            if s < 1.0 and a != 0.0 and b != 0.0:
                break
        if s > 0.0001:
            L = math.log(s)
        else:
            # Tiny pairs are scaled up by a power of two first, so that s keeps its
            # precision; ln(2^(2e)) = e ln 4 restores the logarithm.
            e = ilogb(max(abs(a), abs(b)))
            a = scalbn(a, -e)
            b = scalbn(b, -e)
            s = a * a + b * b
            L = math.log(s) + e * _LN4
        f = math.sqrt(-2.0 * L / s)
        self._cached = f * b
        self._has = True
        return f * a * sigma + mu


# ---------------------------------------------------------------------------
# Robust statistics and scores
# ---------------------------------------------------------------------------


def _log(x: float) -> float:
    """C's log: -inf at 0, NaN below 0, instead of Python's ValueError."""
    if x > 0.0 or x != x:
        return math.log(x)
    return -math.inf if x == 0.0 else math.nan


def _exp(x: float) -> float:
    """C's exp: +inf on overflow instead of Python's OverflowError."""
    try:
        return math.exp(x)
    except OverflowError:
        return math.inf


def _div(a: float, b: float) -> float:
    """IEEE division, also by zero."""
    if b != 0.0 or b != b:
        return a / b
    if a != a or a == 0.0:
        return math.nan
    return math.copysign(math.inf, a) * math.copysign(1.0, b)


def _median(v: Vector) -> float:
    n = v.shape[0]
    if n == 0:
        return 0.0
    mid = n // 2
    if n % 2 == 1:
        return float(np.partition(v, mid)[mid])
    part = np.partition(v, [mid - 1, mid])
    return (float(part[mid - 1]) + float(part[mid])) * 0.5


def mad(y: ArrayLike) -> float:
    """Raw median absolute deviation (no consistency factor); empty gives 0.0."""
    v = np.asarray(y, dtype=np.float64).ravel()
    m = _median(v)
    return _median(np.abs(v - m))


def compute_sr(yp: ArrayLike, yt: ArrayLike, eps: float) -> float:
    """Share of the n = len(yt) points with eps > |yp_i - yt_i|, floored at 1/(2n)."""
    t = np.asarray(yt, dtype=np.float64).ravel()
    p = np.asarray(yp, dtype=np.float64).ravel()
    if p.shape[0] < t.shape[0]:
        raise ValueError(f"yp has {p.shape[0]} entries but yt has {t.shape[0]}")
    n = t.shape[0]
    return _rate(int(np.count_nonzero(eps > np.abs(p[:n] - t))), n)


def _rate(hits: int, n: int) -> float:
    """hits / n floored at 1/(2n); NaN for n = 0 (0/0 rate, infinite floor)."""
    if n == 0:
        return math.nan
    rate = hits / n
    floor = 1.0 / (2.0 * n)
    return floor if floor > rate else rate


def sr_eps(yt: ArrayLike) -> float:
    m = mad(yt)
    return 0.4 * m if m > 0 else 0.4 * 1.0


def _gemv_block_cols(rows: int, cols: int) -> int:
    if cols < 128:
        return cols
    return 16 if rows * 8 < 32000 else 4


def matvec(A: Vector, b: Vector, exact: bool = True) -> Vector:
    """A @ b; with exact=True in the column order of Eigen's column-major GEMV."""
    if not exact:
        return A @ b
    rows, cols = A.shape
    res = np.zeros(rows)
    if rows == 0 or cols == 0:
        return res
    # A single row goes through Eigen's dot product, which walks the strided row left
    # to right without column blocks.
    step = cols if rows == 1 else _gemv_block_cols(rows, cols)
    for j2 in range(0, cols, step):
        jend = min(j2 + step, cols)
        # Every product is rounded on its own, then the running sum runs over the
        # columns in order (accumulate is strictly sequential).
        prods = A[:, j2:jend] * b[j2:jend]
        acc = np.add.accumulate(prods, axis=1)[:, -1]
        res = res + acc
    return res


def predict(X: Vector, beta: Vector, exact: bool = True) -> Vector:
    """X @ beta; with exact=True summed column by column, starting from the first product."""
    if not exact:
        return X @ beta
    rows, cols = X.shape
    if cols == 0:
        return np.zeros(rows)
    res = X[:, 0] * beta[0]
    for j in range(1, cols):
        res = res + X[:, j] * beta[j]
    return res


def eigen_sum(x: Vector) -> float:
    """Sum of a contiguous vector in the order of Eigen's vectorised reduction."""
    n = x.shape[0]
    if n == 0:
        return 0.0
    if n < 4:
        total = float(x[0])
        for i in range(1, n):
            total = total + float(x[i])
        return total
    m4 = (n // 4) * 4
    lanes: list[float] = np.add.accumulate(x[:m4].reshape(-1, 4), axis=0)[-1].tolist()
    p0 = lanes[0] + lanes[2]
    p1 = lanes[1] + lanes[3]
    m2 = (n // 2) * 2
    if m2 > m4:
        p0 = p0 + float(x[m4])
        p1 = p1 + float(x[m4 + 1])
    total = p0 + p1
    for i in range(m2, n):
        total = total + float(x[i])
    return total


def eigen_dot(a: Vector, b: Vector) -> float:
    return eigen_sum(a * b)


def quad_penalty(beta: Vector, R: Vector, exact: bool = True) -> float:
    """beta^T R beta, as (R @ beta) dotted with beta; zero rows give 0.0."""
    m = R.shape[0]
    if m == 0:
        return 0.0
    v = matvec(R, beta, exact)
    if exact:
        return eigen_dot(beta[:m], v)
    return float(beta[:m] @ v)


def _model_cost(n: int, k: int, H: int) -> float:
    C = k * _log(2.0 * H) if k > 0 else 0.0
    return _div(C, float(n)) * k


def _data_cost(n: int, sr: float) -> float:
    return n * _log(sr)


def mdl_score_core(
    yp: ArrayLike,
    yt: ArrayLike,
    k: int,
    H: int,
    eps: float,
    beta: ArrayLike | None = None,
    R1: ArrayLike | None = None,
    R2: ArrayLike | None = None,
    gamma1: float = 0.0,
    gamma2: float = 0.0,
    *,
    exact: bool = True,
) -> float:
    """Description length (C/n)*k - n*ln(sr) plus the weighted quadratic penalties.

    A penalty whose matrix is None or whose weight is 0.0 is never read; without beta
    no penalty is added.
    """
    t = np.asarray(yt, dtype=np.float64).ravel()
    n = t.shape[0]
    sr = compute_sr(yp, t, eps)
    base = _model_cost(n, k, H) - _data_cost(n, sr)
    if beta is None:
        return base
    b = np.asarray(beta, dtype=np.float64).ravel()
    if gamma1 != 0.0 and R1 is not None:
        base = gamma1 * quad_penalty(b, np.asarray(R1, dtype=np.float64), exact) + base
    if gamma2 != 0.0 and R2 is not None:
        base = gamma2 * quad_penalty(b, np.asarray(R2, dtype=np.float64), exact) + base
    return base


# ---------------------------------------------------------------------------
# Gibbs statistics
# ---------------------------------------------------------------------------


class GibbsTuple(NamedTuple):
    H: float
    Hmax: float
    He: float
    r_heat: float
    var_E: float
    T: float


def gibbs_entropy(energies: ArrayLike, T: float = 1.0, *, exact: bool = True) -> GibbsTuple:
    """Boltzmann statistics of an energy sample at temperature T (n >= 1)."""
    E = np.ascontiguousarray(energies, dtype=np.float64).ravel()
    n = E.shape[0]
    if n == 0:
        raise ValueError("energies has 0 entries but needs at least 1")
    Emin = float(E.min())
    tau = T + 1e-300
    values = E.tolist()
    w = [_exp(_div(-(e - Emin), tau)) for e in values]
    Z = 0.0
    for wi in w:
        Z = Z + wi
    H = 0.0
    for wi in w:
        q = _div(wi, Z)
        H = H - _log(q + 1e-300) * q
    Hmax = math.log(float(max(n, 2)))
    He = H / (Hmax + 1e-300)
    r_heat = He * 0.99 + 0.01
    total = eigen_sum(E) if exact else float(E.sum())
    mean = total / n
    ss = 0.0
    for e in values:
        ss = ss + (e - mean) * (e - mean)
    return GibbsTuple(H, Hmax, He, r_heat, ss / n, T)


# ---------------------------------------------------------------------------
# Tournament sampler
# ---------------------------------------------------------------------------


ChainState = tuple[Vector, float]  # (beta, energy of that very beta)
Energy = Callable[[Vector], float]


def accept(E: float, E_new: float, T: float, stream: MT19937_64) -> bool:
    """Metropolis test at temperature T; a lower proposal is taken without a draw.

    Otherwise one uniform U is drawn and the proposal is taken when exp(q) > U with
    q = (E - E_new) / T, where a positive or NaN q counts as 0: equal and NaN
    proposals are always taken.
    """
    if E > E_new:
        return True
    U = stream.uniform()
    q = _div(E - E_new, T)
    if q > 0.0 or q != q:
        q = 0.0
    return math.exp(q) > U


def _distance(a: Vector, b: Vector, exact: bool) -> float:
    d = a - b
    if exact:
        return math.sqrt(eigen_dot(d, d))
    return float(np.linalg.norm(d))


def _penalty_matrix(R: ArrayLike | None, gamma: float, name: str, p: int) -> Vector | None:
    """The penalty matrix when it will be read (present and weight not 0.0), else None."""
    if R is None or gamma == 0.0:  # a NaN weight counts as non-zero
        return None
    M = np.asfortranarray(R, dtype=np.float64)
    if M.ndim != 2 or M.shape != (p, p):
        raise ValueError(f"{name} has shape {M.shape} but X gives p = {p}")
    return M


def make_chain_energy(
    X: ArrayLike,
    y: ArrayLike,
    R1: ArrayLike | None = None,
    R2: ArrayLike | None = None,
    gamma1: float = 0.0,
    gamma2: float = 0.0,
    H_piH: int = 20,
    exact: bool = False,
) -> tuple[Energy, int]:
    """The energy beta -> mdl_score_core(X @ beta, y, p, H_piH, sr_eps(y), beta, R1, R2,
    gamma1, gamma2), with eps and the model cost formed once; returns it and p."""
    Xm = np.asfortranarray(X, dtype=np.float64)
    yt = np.ascontiguousarray(y, dtype=np.float64).ravel()
    if Xm.ndim != 2:
        raise ValueError(f"X must be two-dimensional, got {Xm.ndim} dimensions")
    n, p = Xm.shape
    if n != yt.shape[0]:
        raise ValueError(f"X has {n} rows but y has {yt.shape[0]} entries")
    M1 = _penalty_matrix(R1, gamma1, "R1", p)
    M2 = _penalty_matrix(R2, gamma2, "R2", p)
    eps = sr_eps(yt)
    model_cost = _model_cost(n, p, H_piH)

    def chain_energy(beta: Vector) -> float:
        yp = predict(Xm, beta, exact)
        sr = _rate(int(np.count_nonzero(eps > np.abs(yp - yt))), n)
        base = model_cost - _data_cost(n, sr)
        if M1 is not None:
            base = gamma1 * quad_penalty(beta, M1, exact) + base
        if M2 is not None:
            base = gamma2 * quad_penalty(beta, M2, exact) + base
        return base

    return chain_energy, p


def warmup_chains(
    chain_energy: Energy, p: int, n_chains: int, n_warmup: int, step_size: float, seed: int
) -> list[ChainState]:
    """Final states of the warm-up chains, in chain order.

    Chain c draws everything from its own stream seeded with seed + 1000 c (mod 2^64):
    first the start vector (normals with sigma 0.5 from a source used for nothing else),
    then per step one proposal offset per coordinate from a second source and at most
    one uniform for the acceptance test, cooling from T = 2.0 by 0.995 per step.
    """
    chains: list[ChainState] = []
    for c in range(n_chains):
        stream = MT19937_64((seed + 1000 * c) & _MASK64)
        start = NormalSource(stream)
        beta = np.array([start.draw(0.0, 0.5) for _ in range(p)], dtype=np.float64)
        E = chain_energy(beta)
        T = 2.0
        prop = NormalSource(stream)
        for _ in range(n_warmup):
            step = np.array([prop.draw(0.0, step_size) for _ in range(p)], dtype=np.float64)
            beta_new = beta + step
            E_new = chain_energy(beta_new)
            if accept(E, E_new, T, stream):
                beta, E = beta_new, E_new
            T = T * 0.995
        chains.append((beta, E))
    return chains


def rank_chains(chains: list[ChainState]) -> list[ChainState]:
    """Stable sort by energy, lowest first; NaN energies go last."""
    return sorted(chains, key=lambda state: (state[1] != state[1], state[1]))


def select_elite(ranked: list[ChainState], n_elite: int, exact: bool = False) -> list[int]:
    """Positions in the ranking of the elite members, in elite order.

    After the best chain, a chain joins while the elite is short of n_elite and it lies
    farther than 0.1 from every member; then the elite is topped up with the chains at
    positions len(elite), len(elite) + 1, ..., which may repeat a member.
    """
    elite = [0]
    for i in range(1, len(ranked)):
        if len(elite) >= n_elite:
            break
        beta = ranked[i][0]
        if not any(_distance(beta, ranked[e][0], exact) <= 0.1 for e in elite):
            elite.append(i)
    k = len(elite)
    while len(elite) < n_elite and k < len(ranked):
        elite.append(k)
        k += 1
    return elite


def deep_phase(
    chain_energy: Energy,
    p: int,
    elite: list[ChainState],
    n_deep: int,
    step_size: float,
    seed: int,
    Td: float,
) -> ChainState:
    """Refine the elite members one after another; the lowest state met, or the first
    member when none was lower. The temperature Td carries over from run to run."""
    best_beta = elite[0][0].copy()
    best_E = elite[0][1]
    sigma = 0.3 * step_size
    for j, (beta, E) in enumerate(elite):
        stream = MT19937_64((seed + 13 * j + 7777) & _MASK64)
        src = NormalSource(stream)
        for _ in range(n_deep):
            step = np.array([src.draw(0.0, sigma) for _ in range(p)], dtype=np.float64)
            beta_new = beta + step
            E_new = chain_energy(beta_new)
            if accept(E, E_new, Td, stream):
                beta, E = beta_new, E_new
            if E < best_E:
                best_beta = beta.copy()
                best_E = E
            Td = Td * 0.9997
    return best_beta, best_E


def tournament_fit(
    X: ArrayLike,
    y: ArrayLike,
    R1: ArrayLike | None = None,
    R2: ArrayLike | None = None,
    gamma1: float = 0.0,
    gamma2: float = 0.0,
    *,
    n_chains: int = 25,
    n_warmup: int = 200,
    n_deep: int = 2000,
    n_elite: int = 5,
    step_size: float = 0.05,
    H_piH: int = 20,
    seed: int = 42,
    exact: bool = False,
) -> tuple[Vector, float, GibbsTuple]:
    """Tournament Metropolis search for the beta of lowest description length.

    Returns (beta, energy, gibbs) with gibbs the statistics (H, Hmax, He, r_heat,
    var_E, T) of the warm-up chains' final energies at T = 1.0. With exact=True every
    sum that feeds an energy follows the compiled module's order (see the module
    docstring), which makes the result equal to it bit for bit; exact=False uses
    NumPy's own products and is the faster peer. The chains run one after another.
    """
    chain_energy, p = make_chain_energy(X, y, R1, R2, gamma1, gamma2, H_piH, exact)
    if n_chains < 1:
        raise ValueError(f"n_chains is {n_chains} but a fit needs at least 1 chain")
    chains = warmup_chains(chain_energy, p, n_chains, n_warmup, step_size, seed)
    gibbs = gibbs_entropy(np.array([E for _, E in chains]), 1.0, exact=exact)
    ranked = rank_chains(chains)
    elite = [ranked[i] for i in select_elite(ranked, n_elite, exact)]
    beta, energy = deep_phase(chain_energy, p, elite, n_deep, step_size, seed, 0.5 * gibbs.r_heat)
    return beta, energy, gibbs
