"""When the tournament sampler beats the closed-form fits, and what it costs.

Two problems, each scored with the regularized description length (lower is
better), the energy the sampler minimises:

- wide tolerance: the README's Quick start curve. The tolerance 0.4 * mad(y) is
  wider than the noise, so the penalized fit already predicts every point within it
  and its score sits just above the model cost k**2 ln(2H)/n, which no vector can
  go below. The sampler can only trim the small smoothness penalty.
- narrow tolerance: data set 4 of many_fits.py. The tolerance is about the size of
  the noise, so many points miss it; least squares does not maximise the count of
  points within it, and a search can gain several units.

For each problem the table gives the energies of ols and fit_regularized_linear and
of the sampler with three search lengths, for three seeds each.

    python examples/sampler_vs_fits.py [--seeds 7 8 9]
"""

from __future__ import annotations

import argparse
import math
import time
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

import vexa_core as vc

Array = npt.NDArray[np.float64]
H = 20  # the sampler's default H_piH
SEARCHES = {  # name: TournamentMCMC settings
    "defaults": {},
    "n_warmup=1000, n_deep=4000": {"n_warmup": 1000, "n_deep": 4000},
    "n_warmup=3000, n_deep=10000": {"n_warmup": 3000, "n_deep": 10000},
}


@dataclass(frozen=True)
class Problem:
    name: str
    Phi: Array
    y: Array
    R1: Array
    R2: Array
    gamma1: float
    gamma2: float

    def energy(self, beta: Array) -> float:
        p = self.Phi.shape[1]
        return vc.mdl_score_reg(
            self.Phi @ beta, self.y, p, H, beta, self.R1, self.R2, self.gamma1, self.gamma2
        )

    def model_cost(self) -> float:
        """The score's floor: every point within the tolerance and no penalty."""
        p: int = self.Phi.shape[1]
        return p * p * math.log(2 * H) / len(self.y)


def wide_tolerance() -> Problem:
    """The Quick start data of the README."""
    rng = np.random.default_rng(1)
    x = np.sort(rng.uniform(-1.0, 1.0, 300))
    y = np.sin(2.5 * x) + 0.1 * rng.normal(size=x.size)
    R1, R2 = vc.smoothness_penalty_matrices_1d(6, -1.0, 1.0)
    return Problem("wide tolerance (Quick start)", vc.design_matrix_1d(6, x), y, R1, R2, 1e-4, 1e-6)


def narrow_tolerance() -> Problem:
    """Data set 4 of many_fits.py: 200 points, degree 5."""
    rng = np.random.default_rng(4)
    x = rng.uniform(-1.0, 1.0, size=200)
    y = np.sin(2.0 * x + rng.uniform(0, 1)) + 0.1 * rng.normal(size=200)
    R1, R2 = vc.smoothness_penalty_matrices_1d(5, -1.0, 1.0)
    return Problem(
        "narrow tolerance (many_fits data set 4)", vc.design_matrix_1d(5, x), y, R1, R2, 1e-4, 1e-6
    )


def compare(prob: Problem, seeds: Sequence[int]) -> dict[str, list[float]]:
    """Print the table of one problem; returns the sampler's energies per search."""
    reg = prob.energy(
        vc.fit_regularized_linear(prob.Phi, prob.y, prob.R1, prob.R2, prob.gamma1, prob.gamma2)
    )
    eps = 0.4 * vc.mad(prob.y)
    print(
        f"{prob.name}: n = {prob.y.size}, p = {prob.Phi.shape[1]}, tolerance {eps:.3f}, "
        f"floor (model cost) {prob.model_cost():.5f}"
    )
    print(f"  {'ols':42} {prob.energy(vc.ols(prob.Phi, prob.y)):9.5f}")
    print(f"  {'fit_regularized_linear':42} {reg:9.5f}")
    energies: dict[str, list[float]] = {}
    for name, settings in SEARCHES.items():
        start = time.perf_counter()
        found = [
            vc.TournamentMCMC(seed=s, **settings)
            .fit(prob.Phi, prob.y, prob.R1, prob.R2, prob.gamma1, prob.gamma2)
            .energy
            for s in seeds
        ]
        ms = (time.perf_counter() - start) / len(seeds) * 1e3
        energies[name] = found
        below = sum(e < reg for e in found)
        print(
            f"  TournamentMCMC {name:27} "
            + " ".join(f"{e:9.5f}" for e in found)
            + f"   {ms:5.0f} ms a fit, {below} of {len(seeds)} below fit_regularized_linear"
        )
    return energies


def main() -> None:
    # A literal, not __doc__: under python -OO the docstring is gone.
    ap = argparse.ArgumentParser(description="Tournament sampler against the closed-form fits.")
    ap.add_argument("--seeds", type=int, nargs="+", default=[7, 8, 9])
    args = ap.parse_args()
    print(
        "energy = regularized description length, lower is better; "
        f"one column per seed {args.seeds}"
    )
    for prob in (wide_tolerance(), narrow_tolerance()):
        compare(prob, args.seeds)


if __name__ == "__main__":
    main()
