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
    """Raw median absolute deviation of y (no consistency factor); 0.0 for an empty y."""

def compute_sr(yp: _Vector, yt: _Vector, eps: _Float) -> float:
    """Share of the len(yt) points with eps > |yp_i - yt_i|, floored at 1/(2n); NaN if yt is empty."""

def mdl_score(yp: _Vector, yt: _Vector, k: _Int, H: _Int = 20) -> float:
    """Description length k**2 ln(2H)/n - n ln(sr) with the tolerance 0.4 * mad(yt) (or 0.4)."""

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
    """mdl_score plus gamma1 * beta'R1 beta plus gamma2 * beta'R2 beta (zero weights not read)."""

def design_matrix_1d(deg: _Int, x: _Vector) -> _FloatArray:
    """n x (deg+1) monomial design matrix, column k = x**k as a running product."""

def smoothness_penalty_matrices_1d(
    deg: _Int, x_min: _Float, x_max: _Float, n_grid: _Int = 600
) -> tuple[_FloatArray, _FloatArray]:
    """Gradient and curvature Gram matrices (R1, R2) of the monomial basis, summed on a grid."""

def boundary_reduce_1d(deg: _Int, x_min: _Float, x_max: _Float) -> _FloatArray:
    """Symmetric matrix B with beta'B beta = f'(x_max) f''(x_max) - f'(x_min) f''(x_min)."""

def design_matrix_nd(
    multi_indices: Iterable[Iterable[_Int]], X_cols: Iterable[_Vector]
) -> _FloatArray:
    """n x q tensor-monomial design matrix: column c = prod_j X_cols[j] ** multi_indices[c][j]."""

def build_penalty_matrices_nd(
    degrees: Iterable[_Int],
    bounds: Iterable[Sequence[_Float]],
    n_grid_per_dim: _Int = 30,
) -> tuple[_FloatArray, _FloatArray, list[list[int]]]:
    """Gradient and Hessian Gram matrices of the full tensor basis on a box, and its multi-indices."""

def ols(X: _Matrix, y: _Vector) -> _FloatArray:
    """Minimum-norm least-squares coefficients through a thin SVD."""

def fit_regularized_linear(
    Phi: _Matrix,
    y: _Vector,
    R1: object = None,
    R2: object = None,
    gamma1: _Float = 0.0,
    gamma2: _Float = 0.0,
    ridge: _Float = 1e-10,
) -> _FloatArray:
    """Solve (Phi'Phi + ridge I + n gamma1 R1 + n gamma2 R2) beta = Phi'y; None = no penalty."""

@final
class GibbsResult:
    """Gibbs statistics of an energy sample (read-only)."""

    @property
    def H(self) -> float:
        """Entropy of the Boltzmann weights, in nats."""
    @property
    def Hmax(self) -> float:
        """ln(max(n, 2))."""
    @property
    def He(self) -> float:
        """Normalised entropy H / Hmax."""
    @property
    def r_heat(self) -> float:
        """0.99 * He + 0.01."""
    @property
    def var_E(self) -> float:
        """Population variance of the energies."""
    @property
    def T(self) -> float:
        """The temperature the statistics were computed at."""

def gibbs_entropy(energies: _Vector, T: _Float = 1.0) -> GibbsResult:
    """Entropy, normalised entropy, heat ratio and variance of energies read at temperature T."""

@final
class MCMCResult:
    """Result of TournamentMCMC.fit (read-only)."""

    @property
    def beta_mcmc(self) -> _FloatArray:
        """Best coefficient vector (a read-only view that keeps the result alive)."""
    @property
    def energy(self) -> float:
        """Regularized description length of beta_mcmc."""
    @property
    def gibbs(self) -> GibbsResult:
        """Gibbs statistics of the warm-up chains' final energies at T = 1."""
    @property
    def n_chains(self) -> int:
        """The sampler's n_chains setting."""
    @property
    def n_elite(self) -> int:
        """The sampler's n_elite setting (requested elite size)."""

@final
class TournamentMCMC:
    """Reproducible tournament MCMC search for the coefficients of lowest regularized score."""

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
        """Store the seven settings unchanged."""
    def fit(
        self,
        X: _Matrix,
        y: _Vector,
        R1: object = None,
        R2: object = None,
        gamma1: _Float = 0.0,
        gamma2: _Float = 0.0,
    ) -> MCMCResult:
        """Warm-up chains in parallel, an elite, deep runs; identical for any thread count."""
