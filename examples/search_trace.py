"""Every energy the tournament sampler passes through on its way to its result.

TournamentMCMC.fit returns only where the search ended. The NumPy reference of the
sampler under tests/oracles forms every energy in the compiled module's order, so
running its stages again step by step gives the same chains, bit for bit, and with
them the whole path: each warm-up chain, then each deep run of the elite. The last
point of that path is the module's own result, which `trace_search` checks.
"""

from __future__ import annotations

import importlib
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt

import vexa_core as vc

Array = npt.NDArray[np.float64]


@dataclass(frozen=True)
class SearchTrace:
    warmup: Array  # (n_chains, n_warmup + 1): each chain's energy, its start first
    best_chain: int  # the warm-up chain that ended lowest, the first of the elite
    deep: list[Array]  # one per elite member, in the order run: energy at each step
    energy: float  # the lowest energy met, what fit returns as its energy
    beta: Array


def reference_sampler() -> Any:
    """The NumPy reference of the sampler (tests/oracles in the source tree)."""
    tests = str(Path(__file__).resolve().parents[1] / "tests")
    if tests not in sys.path:
        sys.path.append(tests)
    return importlib.import_module("oracles.reference_tournament")


def trace_search(
    result: vc.MCMCResult,
    Phi: Array,
    y: Array,
    R1: Array,
    R2: Array,
    gamma1: float,
    gamma2: float,
    *,
    n_chains: int = 25,
    n_warmup: int = 200,
    n_deep: int = 2000,
    n_elite: int = 5,
    step_size: float = 0.05,
    H_piH: int = 20,
    seed: int = 42,
) -> SearchTrace:
    """The path that led to `result`, the return of
    TournamentMCMC(**settings).fit(Phi, y, R1, R2, gamma1, gamma2): the settings (the
    sampler cannot give them back) have the sampler's defaults.

    Raises RuntimeError when the path does not end at the result's energy and
    coefficients (on a platform whose arithmetic the reference does not mirror)."""
    ref = reference_sampler()
    energy_of, p = ref.make_chain_energy(Phi, y, R1, R2, gamma1, gamma2, H_piH, exact=True)
    chains, warmup = [], []
    for c in range(n_chains):
        # Each chain has a stream of its own: its start, its proposals and its tests.
        stream = ref.MT19937_64((seed + 1000 * c) % 2**64)
        start = ref.NormalSource(stream)
        beta = np.array([start.draw(0.0, 0.5) for _ in range(p)])
        E, T = energy_of(beta), 2.0
        proposals = ref.NormalSource(stream)
        path = [E]
        for _ in range(n_warmup):
            step = np.array([proposals.draw(0.0, step_size) for _ in range(p)])
            beta_new = beta + step
            E_new = energy_of(beta_new)
            if ref.accept(E, E_new, T, stream):
                beta, E = beta_new, E_new
            T *= 0.995
            path.append(E)
        chains.append((beta, E))
        warmup.append(path)

    r_heat = ref.gibbs_entropy(np.array([E for _, E in chains]), 1.0).r_heat
    ranked = ref.rank_chains(chains)
    elite = [ranked[i] for i in ref.select_elite(ranked, n_elite, exact=True)]
    # The deep runs go one after another and share one cooling temperature.
    best_beta, best_E = elite[0]
    Td, sigma = 0.5 * r_heat, 0.3 * step_size
    deep = []
    for j, (beta, E) in enumerate(elite):
        stream = ref.MT19937_64((seed + 13 * j + 7777) % 2**64)
        proposals = ref.NormalSource(stream)
        path = [E]
        for _ in range(n_deep):
            beta_new = beta + np.array([proposals.draw(0.0, sigma) for _ in range(p)])
            E_new = energy_of(beta_new)
            if ref.accept(E, E_new, Td, stream):
                beta, E = beta_new, E_new
            if E < best_E:
                best_beta, best_E = beta, E
            Td *= 0.9997
            path.append(E)
        deep.append(np.array(path))

    if best_E != result.energy or not np.array_equal(best_beta, result.beta_mcmc):
        raise RuntimeError(
            f"the reproduced search ends at energy {best_E!r}, the sampler at {result.energy!r}"
        )
    best_chain = next(c for c, state in enumerate(chains) if state is ranked[0])
    return SearchTrace(np.array(warmup), best_chain, deep, best_E, best_beta)
