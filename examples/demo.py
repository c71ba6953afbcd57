"""vexa_core end to end on a reproducible synthetic data set.

A smooth curve with noise and a few outliers is fitted by least squares, by the
penalized fit and by the tournament sampler; each fit is scored with the
regularized description length. Prints a table and writes demo.png (data, fits
and the sampler's result) when matplotlib is installed.

    python examples/demo.py [--dim 2] [--out demo.png]
"""

from __future__ import annotations

import argparse
import time
from collections.abc import Callable
from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt

import vexa_core as vc

Array = npt.NDArray[np.float64]
SEED = 2026


def synthetic_1d(rng: np.random.Generator, n: int = 300) -> tuple[Array, Array, Array]:
    x = np.sort(rng.uniform(-1.0, 1.0, size=n))
    truth = np.sin(2.5 * x) + 0.3 * x**2
    y = truth + 0.08 * rng.normal(size=n)
    outliers = rng.choice(n, size=6, replace=False)
    y[outliers] += rng.choice([-1.0, 1.0], size=6) * rng.uniform(0.8, 1.5, size=6)
    return x, y, truth


def synthetic_2d(rng: np.random.Generator, n: int = 400) -> tuple[Array, Array, Array, Array]:
    x0, x1 = rng.uniform(-1.0, 1.0, size=(2, n))
    truth = np.sin(2.0 * x0) * np.cos(1.5 * x1) + 0.2 * x0 * x1
    y = truth + 0.05 * rng.normal(size=n)
    outliers = rng.choice(n, size=8, replace=False)
    y[outliers] += rng.uniform(0.8, 1.5, size=8)
    return x0, x1, y, truth


def timed(fn: Callable[[], Any]) -> tuple[Any, float]:
    start = time.perf_counter()
    result = fn()
    return result, time.perf_counter() - start


def fit_all(Phi: Array, y: Array, R1: Array, R2: Array, gamma1: float, gamma2: float
            ) -> list[dict[str, Any]]:
    p = Phi.shape[1]
    eps = 0.4 * vc.mad(y) if vc.mad(y) > 0 else 0.4
    rows = []
    beta_ols, t_ols = timed(lambda: vc.ols(Phi, y))
    beta_reg, t_reg = timed(lambda: vc.fit_regularized_linear(Phi, y, R1, R2, gamma1, gamma2))
    mcmc, t_mcmc = timed(lambda: vc.TournamentMCMC(seed=SEED).fit(Phi, y, R1, R2, gamma1, gamma2))
    for method, beta, seconds in (("ols", beta_ols, t_ols),
                                  ("fit_regularized_linear", beta_reg, t_reg),
                                  ("TournamentMCMC", np.array(mcmc.beta_mcmc), t_mcmc)):
        yp = Phi @ beta
        rows.append({
            "method": method, "beta": beta, "seconds": seconds,
            "score": vc.mdl_score_reg(yp, y, p, 20, beta, R1, R2, gamma1, gamma2),
            "sr": vc.compute_sr(yp, y, eps),
        })
    rows[-1]["mcmc"] = mcmc
    return rows


def print_table(rows: list[dict[str, Any]]) -> None:
    print(f"{'method':24} {'score':>12} {'success rate':>13} {'time':>10}  coefficients")
    for r in rows:
        coef = np.array2string(r["beta"], precision=3, max_line_width=200, threshold=8)
        print(f"{r['method']:24} {r['score']:12.4f} {r['sr']:13.4f} "
              f"{r['seconds'] * 1e3:8.2f} ms  {coef}")
    g = rows[-1]["mcmc"].gibbs
    print(f"sampler: energy {rows[-1]['mcmc'].energy:.4f}; warm-up chains' Gibbs statistics "
          f"H={g.H:.4f} Hmax={g.Hmax:.4f} He={g.He:.4f} r_heat={g.r_heat:.4f} var_E={g.var_E:.4g}")


def run_1d(out: Path | None) -> None:
    rng = np.random.default_rng(SEED)
    x, y, truth = synthetic_1d(rng)
    deg = 7
    Phi = vc.design_matrix_1d(deg, x)
    R1, R2 = vc.smoothness_penalty_matrices_1d(deg, -1.0, 1.0)
    rows = fit_all(Phi, y, R1, R2, 1e-4, 1e-6)
    print(f"1-D: n = {x.size}, degree {deg}, {Phi.shape[1]} coefficients")
    print_table(rows)
    if out is None:
        return
    plt = pyplot()
    if plt is None:
        return
    fig, (ax, ax_e) = plt.subplots(1, 2, figsize=(12, 4.5))
    ax.scatter(x, y, s=8, color="0.6", label="data")
    ax.plot(x, truth, "k--", lw=1, label="truth")
    grid = np.linspace(-1, 1, 400)
    G = vc.design_matrix_1d(deg, grid)
    for r in rows:
        ax.plot(grid, G @ r["beta"], lw=1.6, label=f"{r['method']} ({r['score']:.1f})")
    ax.set_ylim(y.min() - 0.2, y.max() + 0.2)
    ax.set_title("data and fits (regularized description length)")
    ax.legend(fontsize=8)
    draw_energies(ax_e, Phi, y, R1, R2, 1e-4, 1e-6)
    save(fig, out)


def draw_energies(ax: Any, Phi: Array, y: Array, R1: Array, R2: Array, g1: float,
                  g2: float) -> None:
    """Final energy of the best chain as the warm-up length grows, per seed."""
    lengths = [0, 10, 25, 50, 100, 200, 400]
    for seed in (SEED, SEED + 1, SEED + 2):
        energies = [vc.TournamentMCMC(n_warmup=w, n_deep=0, seed=seed).fit(
            Phi, y, R1, R2, g1, g2).energy for w in lengths]
        ax.plot(lengths, energies, marker="o", label=f"seed {seed}")
    ax.set_xlabel("warm-up steps")
    ax.set_ylabel("best warm-up energy")
    ax.set_title("tournament sampler: best chain after warm-up")
    ax.legend(fontsize=8)


def run_2d(out: Path | None) -> None:
    rng = np.random.default_rng(SEED)
    x0, x1, y, _ = synthetic_2d(rng)
    degrees = [3, 3]
    R1, R2, multi = vc.build_penalty_matrices_nd(degrees, [(-1.0, 1.0), (-1.0, 1.0)])
    Phi = vc.design_matrix_nd(multi, [x0, x1])
    rows = fit_all(Phi, y, R1, R2, 1e-4, 1e-6)
    print(f"2-D: n = {y.size}, degrees {degrees}, {Phi.shape[1]} tensor coefficients")
    print_table(rows)
    if out is None:
        return
    plt = pyplot()
    if plt is None:
        return
    g = np.linspace(-1, 1, 60)
    g0, g1 = np.meshgrid(g, g, indexing="ij")
    G = vc.design_matrix_nd(multi, [g0.ravel(), g1.ravel()])
    fig = plt.figure(figsize=(15, 4.5))
    for i, r in enumerate(rows):
        ax = fig.add_subplot(1, 3, i + 1, projection="3d")
        ax.plot_surface(g0, g1, (G @ r["beta"]).reshape(g0.shape), cmap="viridis", alpha=0.8)
        ax.scatter(x0, x1, y, s=3, color="k")
        ax.set_title(f"{r['method']} ({r['score']:.1f})")
    save(fig, out)


def pyplot() -> Any:
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("(no picture: install matplotlib, e.g. pip install 'vexa_core[demo]')")
        return None
    return plt


def save(fig: Any, out: Path) -> None:
    fig.tight_layout()
    fig.savefig(out, dpi=110)
    print(f"wrote {out}")


def main() -> None:
    ap = argparse.ArgumentParser(description="vexa_core demo")
    ap.add_argument("--dim", type=int, choices=(1, 2), default=1)
    ap.add_argument("--out", type=Path, default=Path("demo.png"))
    ap.add_argument("--no-plot", action="store_true")
    args = ap.parse_args()
    out = None if args.no_plot else args.out
    (run_1d if args.dim == 1 else run_2d)(out)


if __name__ == "__main__":
    main()
