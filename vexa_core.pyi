"""VEXA-P performans-kritik cekirdegi (C++/Eigen)."""

from collections.abc import Iterable, Sequence
from typing import SupportsFloat, SupportsIndex, final

import numpy
import numpy.typing

_Vector = numpy.typing.ArrayLike
_Matrix = numpy.typing.ArrayLike
_Int = SupportsIndex
_Float = SupportsFloat | SupportsIndex
_FloatArray = numpy.typing.NDArray[numpy.float64]

def mad(y: _Vector) -> float:
    """Raw median absolute deviation, median(|y - median(y)|), of y of shape (n,) or (n, 1).

    No consistency factor (multiply by 1.4826 for a normal-consistent scale); the median
    of an even count is the mean of the two middle values. An empty y gives 0.0; NaN in
    y gives a meaningless value. Raises TypeError for a y of shape (1, n) with n > 1, a
    scalar, or one that does not convert.

    >>> mad([1.0, 2.0, 3.0, 4.0, 100.0])
    1.0
    """

def compute_sr(yp: _Vector, yt: _Vector, eps: _Float) -> float:
    """Success rate: the share of the n = len(yt) observations predicted within eps.

    sr = max(#{i : eps > |yp[i] - yt[i]|} / n, 1/(2n)). The comparison is strict (a
    difference equal to eps, or NaN, fails) and the floor keeps ln(sr) finite; a
    perfect fit gives exactly 1.0 and an empty yt gives NaN. Higher is better.
    yp (predictions) and yt (observations) have shape (n,); yp may be longer (the
    extra entries are ignored). Raises ValueError when yp is shorter than yt.

    >>> compute_sr([0, 0, 0, 0], [0, 1, 2, 3], 1.0)
    0.25
    """

def mdl_score(yp: _Vector, yt: _Vector, k: _Int, H: _Int = 20) -> float:
    """Description length of a model with k coefficients; lower is better.

    score = k**2 * ln(2H) / n - n * ln(sr), n = len(yt): a model cost that grows with
    the coefficient count and the resolution H (default 20), plus a data cost that grows
    as fewer observations are predicted within the tolerance eps = 0.4 * mad(yt) (0.4
    when mad(yt) is 0 or NaN); sr = compute_sr(yp, yt, eps). k <= 0 has no model cost;
    with k > 0, H = 0 gives -inf and H < 0 NaN; an empty yt gives NaN. yp and yt have
    shape (n,). Raises ValueError when yp is shorter than yt, TypeError for a float k or H.

    >>> mdl_score([0, 0, 0, 0], [0, 1, 2, 3], 1)   # ln(40)/4 - 4 ln(0.25)
    6.467397308008047
    """

def mdl_score_reg(
    yp: _Vector,
    yt: _Vector,
    k: _Int,
    H: _Int,
    beta: _Vector,
    R1: _Matrix,
    R2: _Matrix,
    gamma1: _Float = 0.0,
    gamma2: _Float = 0.0,
) -> float:
    """Regularized description length; lower is better. The sampler's energy.

    mdl_score(yp, yt, k, H) + gamma1 * beta'R1 beta + gamma2 * beta'R2 beta, with the
    weights unscaled (fit_regularized_linear scales them by n). H has no default and R1,
    R2 (p x p, p = len(beta)) are required; a term whose weight is exactly 0.0 (the
    default) is skipped and its matrix neither read nor checked. Raises ValueError for
    a yp shorter than yt or a read matrix that is not p x p, TypeError for R1=None.

    >>> mdl_score_reg([0, 0, 0, 0], [0, 1, 2, 3], 1, 20, [1.0, 2.0], np.eye(2), np.eye(2), 0.5)
    8.967397308008046
    """

def design_matrix_1d(deg: _Int, x: _Vector) -> _FloatArray:
    """Monomial design matrix Phi of shape (n, deg + 1): Phi[r, k] = x[r] ** k.

    Columns are built as running products (column k = x * column k - 1), equal to
    numpy.polynomial.polynomial.polyvander(x, deg) for finite x; column 0 is 1.0
    everywhere. An empty x gives shape (0, deg + 1). Raises ValueError "deg < 0",
    MemoryError when the matrix cannot be held.

    >>> design_matrix_1d(3, [2.0, -3.0]).tolist()
    [[1.0, 2.0, 4.0, 8.0], [1.0, -3.0, 9.0, -27.0]]
    """

def smoothness_penalty_matrices_1d(
    deg: _Int, x_min: _Float, x_max: _Float, n_grid: _Int = 600
) -> tuple[_FloatArray, _FloatArray]:
    """Gradient and curvature penalties (R1, R2) of the basis x**0 ... x**deg on [x_min, x_max].

    Two symmetric (deg + 1) x (deg + 1) matrices with beta'R1 beta = sum h f'(x_i)**2 and
    beta'R2 beta = sum h f''(x_i)**2 for the polynomial f of beta, over n_grid (default
    600) evenly spaced points x_i with both ends and weight h = (x_max - x_min)/(n_grid - 1)
    each. Positive semidefinite for x_max > x_min. Raises ValueError "deg < 0", then
    "n_grid < 2"; MemoryError when the matrices cannot be held.

    >>> R1, R2 = smoothness_penalty_matrices_1d(6, -1.0, 1.0)   # two 7 x 7 matrices
    """

def boundary_reduce_1d(deg: _Int, x_min: _Float, x_max: _Float) -> _FloatArray:
    """Symmetric (deg + 1) x (deg + 1) matrix B of the boundary term of integrating f''**2 by parts.

    beta'B beta = f'(x_max) f''(x_max) - f'(x_min) f''(x_min) for the polynomial f of
    beta. Zero for deg <= 1; deg = -1 gives a 0 x 0 matrix. Raises ValueError for
    deg < -1.

    >>> float(np.array([0, 1, 0, 1]) @ boundary_reduce_1d(3, 0.0, 1.0) @ np.array([0, 1, 0, 1]))
    24.0
    """

def design_matrix_nd(
    multi_indices: Iterable[Iterable[_Int]], X_cols: Iterable[_Vector]
) -> _FloatArray:
    """Tensor-monomial design matrix of shape (n, q): Phi[r, c] = prod_j X_cols[j][r] ** multi_indices[c][j].

    X_cols holds d input variables, each of shape (n,) with n = len(X_cols[0]); column c
    belongs to multi-index c (q = len(multi_indices)), so the list that
    build_penalty_matrices_nd returns gives columns matching its penalty matrices. An
    exponent <= 0 contributes exactly 1. Raises ValueError for no X_cols, a column
    shorter than X_cols[0] or a multi-index shorter than d.

    >>> design_matrix_nd([[0, 0], [1, 0], [1, 1]], [[1.0, 2.0], [3.0, -1.0]]).tolist()
    [[1.0, 1.0, 3.0], [1.0, 2.0, -2.0]]
    """

def build_penalty_matrices_nd(
    degrees: Iterable[_Int],
    bounds: Iterable[Sequence[_Float]],
    n_grid_per_dim: _Int = 30,
) -> tuple[_FloatArray, _FloatArray, list[list[int]]]:
    """Gradient and Hessian penalties (R1, R2) of the full tensor basis on a box, and its multi-indices.

    The basis holds every multi-index m with 0 <= m[j] <= degrees[j], q = prod(D_j + 1) of
    them in lexicographic order (dimension 0 slowest); R1 and R2 are q x q with
    beta'R1 beta = w sum |grad f|**2 and beta'R2 beta = w sum ||Hessian f||_F**2 over a grid
    of n_grid_per_dim (default 30) points per dimension of bounds = [(lo, hi), ...].
    Raises ValueError "Dimension mismatch." when degrees and bounds differ in length, for
    a negative degree or n_grid_per_dim < 2; TypeError for a bound that is not a pair of
    numbers; MemoryError when q x q cannot be held.

    >>> R1, R2, multi = build_penalty_matrices_nd([4, 4], [(-1.0, 1.0), (-1.0, 1.0)])  # q = 25
    """

def ols(X: _Matrix, y: _Vector) -> _FloatArray:
    """Minimum-norm least-squares coefficients beta of y ~ X beta, shape (p,) for X of shape (n, p).

    Solved through a thin SVD (after a QR reduction when n >= 2p); tiny singular values
    count as zero, so rank-deficient and wide designs solve without error. No rows or
    columns give p zeros; a NaN or infinite entry in X gives p NaNs. A 1-D X is one
    column. Raises ValueError when X does not have one row per entry of y.

    >>> ols([[1.0, 1.0], [1.0, 1.0]], [2.0, 2.0]).tolist()
    [1.0, 1.0]
    """

def fit_regularized_linear(
    Phi: _Matrix,
    y: _Vector,
    R1: object = None,
    R2: object = None,
    gamma1: _Float = 0.0,
    gamma2: _Float = 0.0,
    ridge: _Float = 1e-10,
) -> _FloatArray:
    """Penalized least-squares coefficients beta, shape (p,) for Phi of shape (n, p).

    Solves (Phi'Phi + ridge I + n gamma1 R1 + n gamma2 R2) beta = Phi'y, n = len(y), by
    LDLT; the penalties are scaled by n so that repeating the data leaves the fit
    unchanged. R1, R2 default to None (no penalty); a matrix whose weight is exactly 0.0
    is not read. A singular system gives zero components, not an error. Raises
    ValueError for a row count that differs from len(y) or a used penalty that is not
    p x p, RuntimeError for an R1 or R2 that does not convert to a matrix.

    >>> fit_regularized_linear(Phi, y, R1, R2, gamma1=1e-4, gamma2=1e-6)   # shape (p,)
    """

@final
class GibbsResult:
    """Statistics of an energy sample read as a Boltzmann distribution (read-only).

    Returned by gibbs_entropy and held by MCMCResult.gibbs; no constructor, does not
    pickle. Unrelated to the resolution H of the scores: this H is an entropy.
    """

    @property
    def H(self) -> float:
        """Gibbs entropy of the Boltzmann weights exp(-(E_i - E_min)/T), in nats.

        0 when one energy lies far below the rest, Hmax when all are equal.
        """
    @property
    def Hmax(self) -> float:
        """ln(max(n, 2)): the entropy of n equally weighted energies (never below ln 2)."""
    @property
    def He(self) -> float:
        """Normalised entropy H / Hmax, from 0 (one energy dominates) to 1 (all equal)."""
    @property
    def r_heat(self) -> float:
        """Heat ratio 0.99 * He + 0.01, in [0.01, 1]; the sampler's deep phase starts at 0.5 * r_heat."""
    @property
    def var_E(self) -> float:
        """Population variance of the energies (divisor n)."""
    @property
    def T(self) -> float:
        """The temperature the statistics were computed at, as passed in."""

def gibbs_entropy(energies: _Vector, T: _Float = 1.0) -> GibbsResult:
    """Entropy, normalised entropy, heat ratio and variance of energies of shape (n,) at temperature T.

    The weights are exp(-(E_i - E_min)/T), so only energy differences matter; T defaults
    to 1.0, T = 0 shares the probability among the lowest energies, a negative T may
    give NaN. A NaN energy makes H, He, r_heat and var_E NaN. Raises ValueError for an
    empty energies.

    >>> round(gibbs_entropy([0.0, 1.0]).r_heat, 6)
    0.841542
    """

@final
class MCMCResult:
    """What TournamentMCMC.fit returns (read-only; no constructor, does not pickle)."""

    @property
    def beta_mcmc(self) -> _FloatArray:
        """Best coefficient vector found, shape (p,) for X of shape (n, p).

        A read-only view of the result's own storage that keeps the result alive;
        numpy.array(result.beta_mcmc) gives a writeable copy.
        """
    @property
    def energy(self) -> float:
        """Regularized description length of beta_mcmc (mdl_score_reg with H = H_piH); lower is better."""
    @property
    def gibbs(self) -> GibbsResult:
        """Gibbs statistics of the warm-up chains' final energies at T = 1.

        r_heat near 1: the chains ended at similar energies; near 0.01: one chain ended
        far below the rest.
        """
    @property
    def n_chains(self) -> int:
        """The sampler's n_chains setting: how many warm-up chains ran."""
    @property
    def n_elite(self) -> int:
        """The sampler's n_elite setting: the elite size asked for, not the number of deep runs made."""

@final
class TournamentMCMC:
    """Reproducible search for the coefficients of lowest regularized description length.

    Parallel Metropolis warm-up chains from random starts, an elite of distinct good
    chains, and a deep run from each elite member; the energy is mdl_score_reg (lower is
    better). The same settings and data give the same bits for any thread count.
    Does not pickle; the settings cannot be read back.

    >>> TournamentMCMC(n_warmup=1000, n_deep=4000, seed=7).fit(Phi, y, R1, R2, 1e-4, 1e-6)
    """

    def __init__(
        self,
        n_chains: _Int = 25,
        n_warmup: _Int = 200,
        n_deep: _Int = 2000,
        n_elite: _Int = 5,
        step_size: _Float = 0.05,
        H_piH: _Int = 20,
        seed: _Int = 42,
    ) -> None:
        """Store the seven settings unchanged; nothing is checked until fit.

        n_chains: warm-up chains (must be positive when fitting); n_warmup: steps of each
        chain, cooling from T = 2.0; n_deep: steps of each deep run; n_elite: elite size
        aimed for, one deep run per member; step_size: standard deviation of a warm-up
        proposal per coefficient (deep runs use 0.3 * step_size); H_piH: the resolution H
        of every energy; seed: base of every random stream, 0 ... 2**64 - 1. Raises
        TypeError for a float where an int is expected or a value out of range.
        """
    def fit(
        self,
        X: _Matrix,
        y: _Vector,
        R1: object = None,
        R2: object = None,
        gamma1: _Float = 0.0,
        gamma2: _Float = 0.0,
    ) -> MCMCResult:
        """Search for the beta of shape (p,) with the lowest energy for X (n, p) and y (n,).

        Energy: mdl_score_reg(X beta, y, p, H_piH, beta, R1, R2, gamma1, gamma2), lower
        is better; R1, R2 default to None (no penalty). Makes n_chains * (n_warmup + 1) +
        elite size * n_deep evaluations (15,025 with the defaults). The defaults suit
        coefficients of order 0.5; for larger ones, or a tolerance near the noise level,
        raise n_warmup and n_deep (e.g. 1000 and 4000) and compare result.energy with
        the mdl_score_reg of a closed-form fit. Raises ValueError for a row count that
        differs from len(y), a used penalty that is not p x p or n_chains <= 0,
        RuntimeError for an R1 or R2 that does not convert.
        """
