"""vexa_core end to end on a reproducible synthetic data set.

A smooth curve with noise and a few outliers is fitted by least squares, by the
penalized fit and by the tournament sampler; each fit is scored with the
regularized description length (lower is better), the energy the sampler
minimises. Prints a table and writes a picture when matplotlib is installed: the
data and the fits, and the sampler's whole search from its warm-up chains down to
the energy it returns (replayed step by step by the NumPy reference of the sampler
under tests/oracles, which gives the same bits).

    python examples/demo.py [--dim 2] [--out FILE] [--no-plot]

The picture goes to FILE, by default demo.png (demo_2d.png with --dim 2).
"""

from __future__ import annotations

import argparse
import time
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any, TypeVar

import numpy as np
import numpy.typing as npt
from search_trace import SearchTrace, trace_search

import vexa_core as vc

Array = npt.NDArray[np.float64]
T = TypeVar("T")
SEED = 2026
H = 20  # resolution of the model-cost term, the sampler's default H_piH


@dataclass(frozen=True)
class Problem:
    """A design matrix with its penalties, the data, and the curve behind the data."""

    Phi: Array
    y: Array
    truth: Array
    R1: Array
    R2: Array
    gamma1: float
    gamma2: float


@dataclass(frozen=True)
class Fit:
    method: str
    beta: Array
    seconds: float
    score: float  # regularized description length
    penalty: float  # its smoothness part, gamma1 b'R1 b + gamma2 b'R2 b
    sr: float  # share of points predicted within the score's tolerance
    rms: float  # root-mean-square distance to the noise-free curve


def synthetic_1d(
    rng: np.random.Generator, n: int = 80
) -> tuple[Array, Array, Array, npt.NDArray[np.bool_]]:
    """x, y, the noise-free curve at x, and which points are outliers."""
    x = np.sort(rng.uniform(-1.0, 1.0, size=n))
    truth = np.sin(2.5 * x) + 0.3 * x**2
    y = truth + 0.15 * rng.normal(size=n)
    outliers = rng.choice(n, size=4, replace=False)
    y[outliers] += rng.choice([-1.0, 1.0], size=4) * rng.uniform(0.8, 1.5, size=4)
    is_outlier = np.zeros(n, dtype=bool)
    is_outlier[outliers] = True
    return x, y, truth, is_outlier


def synthetic_2d(rng: np.random.Generator, n: int = 400) -> tuple[Array, Array, Array, Array]:
    x0, x1 = rng.uniform(-1.0, 1.0, size=(2, n))
    truth = surface(x0, x1)
    y = truth + 0.05 * rng.normal(size=n)
    outliers = rng.choice(n, size=8, replace=False)
    y[outliers] += rng.uniform(0.8, 1.5, size=8)
    return x0, x1, y, truth


def surface(x0: Array, x1: Array) -> Array:
    return np.asarray(np.sin(2.0 * x0) * np.cos(1.5 * x1) + 0.2 * x0 * x1)


def timed(fn: Callable[[], T]) -> tuple[T, float]:
    start = time.perf_counter()
    result = fn()
    return result, time.perf_counter() - start


def fit_all(prob: Problem, sampler: vc.TournamentMCMC) -> tuple[list[Fit], vc.MCMCResult]:
    Phi, y, R1, R2, g1, g2 = prob.Phi, prob.y, prob.R1, prob.R2, prob.gamma1, prob.gamma2
    p = Phi.shape[1]
    eps = 0.4 * vc.mad(y) if vc.mad(y) > 0 else 0.4  # the scores' own tolerance
    beta_ols, t_ols = timed(lambda: vc.ols(Phi, y))
    beta_reg, t_reg = timed(lambda: vc.fit_regularized_linear(Phi, y, R1, R2, g1, g2))
    mcmc, t_mcmc = timed(lambda: sampler.fit(Phi, y, R1, R2, g1, g2))
    fits = []
    for method, beta, seconds in (
        ("ols", beta_ols, t_ols),
        ("fit_regularized_linear", beta_reg, t_reg),
        ("TournamentMCMC", np.array(mcmc.beta_mcmc), t_mcmc),
    ):
        yp = Phi @ beta
        score = vc.mdl_score_reg(yp, y, p, H, beta, R1, R2, g1, g2)
        fits.append(
            Fit(
                method,
                beta,
                seconds,
                score,
                score - vc.mdl_score(yp, y, p, H),
                vc.compute_sr(yp, y, eps),
                float(np.sqrt(np.mean((yp - prob.truth) ** 2))),
            )
        )
    return fits, mcmc


def shown_name(f: Fit) -> str:
    """The method, and for the sampler the seed that makes its result what it is."""
    return f.method + (f", seed {SEED}" if f.method == "TournamentMCMC" else "")


def print_table(fits: Sequence[Fit], mcmc: vc.MCMCResult) -> None:
    print(
        f"{'method':23} {'score':>10} {'penalty':>9} {'success':>8} {'rms error':>10} "
        f"{'time':>10}  coefficients"
    )
    for f in fits:
        coef = np.array2string(
            f.beta, max_line_width=200, threshold=8, formatter={"float_kind": lambda v: f"{v:.3g}"}
        )
        print(
            f"{f.method:23} {f.score:10.5f} {f.penalty:9.5f} {f.sr:8.4f} {f.rms:10.5f} "
            f"{f.seconds * 1e3:7.2f} ms  {coef}"
        )
    g = mcmc.gibbs
    print(
        f"sampler: energy {mcmc.energy:.5f}; warm-up chains' Gibbs statistics "
        f"H={g.H:.4f} Hmax={g.Hmax:.4f} He={g.He:.4f} r_heat={g.r_heat:.4f} var_E={g.var_E:.4g}"
    )
    print(
        "score = model cost + data cost (-n ln success) + penalty; lower is better. "
        "rms error is measured against the noise-free curve."
    )


def run_1d(out: Path | None) -> None:
    rng = np.random.default_rng(SEED)
    x, y, truth, outlier = synthetic_1d(rng)
    deg = 12
    R1, R2 = vc.smoothness_penalty_matrices_1d(deg, -1.0, 1.0)
    # The curvature weight is what tames the high-degree least-squares wiggles.
    prob = Problem(vc.design_matrix_1d(deg, x), y, truth, R1, R2, 1e-4, 1e-4)
    # A longer search than the defaults: 13 coefficients from random starts.
    settings = {"n_warmup": 1000, "n_deep": 4000, "seed": SEED}
    fits, mcmc = fit_all(prob, vc.TournamentMCMC(**settings))
    print(
        f"1-D: n = {x.size}, degree {deg}, {deg + 1} coefficients, "
        f"gamma1 = {prob.gamma1:g}, gamma2 = {prob.gamma2:g}"
    )
    print_table(fits, mcmc)
    if out is None:
        return
    plt = pyplot()
    if plt is None:
        return
    fig = plt.figure(figsize=(15, 5.2), layout="constrained")
    outer = fig.add_gridspec(1, 2, width_ratios=[1.0, 1.25])
    ax = fig.add_subplot(outer[0])
    search = outer[1].subgridspec(1, 2, width_ratios=[1.0, 1.6], wspace=0.03)
    ax_warmup = fig.add_subplot(search[0])
    ax_deep = fig.add_subplot(search[1], sharey=ax_warmup)

    ax.scatter(x[~outlier], y[~outlier], s=10, color="0.6", label="data")
    ax.scatter(x[outlier], y[outlier], s=30, marker="x", color="r", label="outliers")
    grid = np.linspace(-1, 1, 400)
    ax.plot(grid, np.sin(2.5 * grid) + 0.3 * grid**2, "k--", lw=1, label="noise-free curve")
    G = vc.design_matrix_1d(deg, grid)
    for f in fits:
        ax.plot(grid, G @ f.beta, lw=1.6, label=f"{shown_name(f)} (score {f.score:.2f})")
    # Every data point stays in view; a fit that runs off near the ends is cut instead.
    # (NumPy's functions rather than the methods: newer NumPy stubs reject y.min() in mypy.)
    y_min, y_max = float(np.min(y)), float(np.max(y))
    margin = 0.1 * (y_max - y_min)
    ax.set_ylim(y_min - margin, y_max + margin)
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    ax.set_title(f"data and fits; the sampler ran with seed {SEED}")
    ax.legend(fontsize=8, loc="upper left")

    trace = trace_search(
        mcmc, prob.Phi, prob.y, prob.R1, prob.R2, prob.gamma1, prob.gamma2, **settings
    )
    draw_search(ax_warmup, ax_deep, trace, fits)
    save(fig, out)


def draw_search(ax_warmup: Any, ax_deep: Any, trace: SearchTrace, fits: Sequence[Fit]) -> None:
    """The sampler's path on two panels that share the score axis: every warm-up chain,
    the one that ended lowest in colour; then the deep runs from the elite, one after
    another, with the lowest score met so far, which ends at the energy fit returns."""
    n_chains, n_warmup = trace.warmup.shape[0], trace.warmup.shape[1] - 1
    steps = np.arange(n_warmup + 1)
    ax_warmup.plot(steps, trace.warmup.T, color="0.8", lw=0.6)
    ax_warmup.plot([], [], color="0.8", label="a chain")
    ax_warmup.plot(
        steps,
        trace.warmup[trace.best_chain],
        color="C0",
        lw=1.6,
        label="the chain that ended lowest",
    )
    # The elite members are where their deep runs start.
    starts = [path[0] for path in trace.deep]
    ax_warmup.plot([n_warmup] * len(starts), starts, "o", color="C1", ms=4)

    n_deep = trace.deep[0].size - 1
    at = [j * n_deep + np.arange(n_deep + 1) for j in range(len(trace.deep))]
    # The first elite member is the lowest start, so the running minimum over the runs
    # in turn is the lowest score met so far.
    ax_deep.plot(
        np.concatenate(at),
        np.minimum.accumulate(np.concatenate(trace.deep)),
        color="C2",
        lw=3.5,
        alpha=0.45,
        label="lowest score so far",
    )
    for j, path in enumerate(trace.deep):
        label = "each deep run's score" if j == 0 else None
        ax_deep.plot(at[j], path, color="C1", lw=0.9, label=label)
        ax_deep.plot(at[j][0], path[0], "o", color="C1", ms=4)
        if j:
            ax_deep.axvline(at[j][0], color="0.75", lw=0.6)
    end = len(trace.deep) * n_deep
    ax_deep.plot(end, trace.energy, "o", color="C2", ms=8, zorder=3)
    ax_deep.annotate(
        f"fit returns energy {trace.energy:.4f}",
        (end, trace.energy),
        xytext=(-8, 12),
        textcoords="offset points",
        ha="right",
        fontsize=8,
    )
    for f, style in zip(fits[:2], (":", "-.")):
        ax_warmup.axhline(f.score, color="k", ls=style, lw=1)
        ax_deep.axhline(f.score, color="k", ls=style, lw=1, label=f"{f.method} score {f.score:.2f}")

    # The scale resolves the deep runs; the warm-up chains start far above and are cut.
    span = max(*starts, *(f.score for f in fits[:2])) - trace.energy
    top = trace.energy + 2.2 * span
    ax_warmup.set_ylim(trace.energy - 0.1 * span, top)
    first = trace.warmup[:, 0]
    if np.max(first) > top:
        ax_warmup.text(
            0.97,
            0.97,
            f"starts: {np.min(first):.0f} to {np.max(first):.0f}\n(above the panel)",
            transform=ax_warmup.transAxes,
            ha="right",
            va="top",
            fontsize=8,
        )
    ax_warmup.set_title(f"warm-up: {n_chains} chains side by side", fontsize=10)
    ax_warmup.set_xlabel("warm-up step")
    ax_warmup.set_ylabel("score = the sampler's energy (lower is better)")
    ax_deep.set_title(
        f"deep runs from the {len(trace.deep)} elite chains (dots), one after another",
        fontsize=10,
    )
    ax_deep.set_xlabel(f"deep step ({n_deep} per run)")
    ax_deep.set_xticks(np.arange(len(trace.deep) + 1) * n_deep)
    ax_deep.tick_params(labelleft=False)
    ax_warmup.legend(fontsize=8, loc="lower left")
    ax_deep.legend(fontsize=8, loc="upper right")


def run_2d(out: Path | None) -> None:
    rng = np.random.default_rng(SEED)
    x0, x1, y, truth = synthetic_2d(rng)
    degrees = [4, 4]
    R1, R2, multi = vc.build_penalty_matrices_nd(degrees, [(-1.0, 1.0), (-1.0, 1.0)])
    prob = Problem(vc.design_matrix_nd(multi, [x0, x1]), y, truth, R1, R2, 1e-3, 1e-4)
    # 25 coefficients: smaller steps and a longer search than the defaults.
    sampler = vc.TournamentMCMC(n_warmup=3000, n_deep=6000, step_size=0.03, seed=SEED)
    fits, mcmc = fit_all(prob, sampler)
    print(
        f"2-D: n = {y.size}, degrees {degrees}, {len(multi)} tensor coefficients, "
        f"gamma1 = {prob.gamma1:g}, gamma2 = {prob.gamma2:g}"
    )
    print_table(fits, mcmc)
    if out is None:
        return
    plt = pyplot()
    if plt is None:
        return
    g = np.linspace(-1, 1, 101)
    g0, g1 = np.meshgrid(g, g, indexing="ij")
    G = vc.design_matrix_nd(multi, [g0.ravel(), g1.ravel()])
    true_grid = surface(g0, g1)
    levels = np.linspace(-1.25, 1.25, 11)
    err_max = 0.3  # larger errors, in the corners far from most data, saturate
    fig, axes = plt.subplots(
        2, 3, figsize=(14, 8.5), sharex=True, sharey=True, layout="constrained"
    )
    outlier = y - truth > 0.5
    for col, f in enumerate(fits):
        fitted = (G @ f.beta).reshape(g0.shape)
        ax = axes[0, col]
        im = ax.contourf(g0, g1, fitted, levels=levels, cmap="viridis", extend="both")
        ax.contour(
            g0, g1, true_grid, levels=levels, colors="w", linewidths=0.7, linestyles="dashed"
        )
        ax.scatter(x0[~outlier], x1[~outlier], s=3, color="k", alpha=0.4)
        ax.scatter(x0[outlier], x1[outlier], s=25, marker="x", color="r")
        ax.set_title(f"{shown_name(f)}\nscore {f.score:.2f}, success {f.sr:.3f}")
        ax.set_aspect("equal")
        ax_err = axes[1, col]
        im_err = ax_err.imshow(
            (fitted - true_grid).T,
            origin="lower",
            extent=(-1, 1, -1, 1),
            cmap="RdBu_r",
            vmin=-err_max,
            vmax=err_max,
        )
        ax_err.set_title(f"error (rms at the data {f.rms:.4f})")
        ax_err.set_xlabel("x0")
    for ax in axes.flat:
        ax.set_xticks(ticks := [-1.0, -0.5, 0.0, 0.5, 1.0])
        ax.set_yticks(ticks)
    axes[0, 0].set_ylabel("x1")
    axes[1, 0].set_ylabel("x1")
    fig.colorbar(im, ax=axes[0, :], shrink=0.9, label="fitted value")
    fig.colorbar(im_err, ax=axes[1, :], shrink=0.9, extend="both", label="fit - noise-free surface")
    fig.suptitle(
        "fits of 400 points (dots; red x: outliers), white dashed: the noise-free "
        "surface, bottom: the error of each fit"
    )
    save(fig, out)


def pyplot() -> Any:
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print(
            "no picture: matplotlib is not installed. Install it with "
            "`python -m pip install matplotlib` (or `python -m pip install '.[demo]'` in the "
            "source tree) and run the demo again; --no-plot skips the picture."
        )
        return None
    return plt


def save(fig: Any, out: Path) -> None:
    if fig.get_layout_engine() is None:
        fig.tight_layout()
    fig.savefig(out, dpi=110)
    print(f"wrote {out}")


def main(argv: Sequence[str] | None = None) -> None:
    ap = argparse.ArgumentParser(description="vexa_core demo")
    ap.add_argument("--dim", type=int, choices=(1, 2), default=1)
    ap.add_argument("--out", type=Path, help="picture file (default demo.png, demo_2d.png)")
    ap.add_argument("--no-plot", action="store_true")
    args = ap.parse_args(argv)
    out = args.out or Path("demo.png" if args.dim == 1 else "demo_2d.png")
    (run_1d if args.dim == 1 else run_2d)(None if args.no_plot else out)


if __name__ == "__main__":
    main()
