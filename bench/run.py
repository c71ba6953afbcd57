"""vexa_core against its NumPy/SciPy peer, side by side in one process.

Every workload is first checked for agreement, then the two are timed
interleaved over several repeats; the table shows medians and the ratio
vexa_core / peer (below 1 means vexa_core is faster).

With --before COMMIT, a second table times the current build against that
earlier commit of it (built once under build/before/), for the speed-ups that
have no NumPy peer; without it, no earlier commit is built.

The last table (busy_machine.py) times each call that uses the thread team on
the default team against one thread, with 0, 2 and 4 busy background processes,
after the cost of a loop on the team (bench/team_cost.cpp).

    python bench/run.py [--repeats N] [--json FILE] [--floor-binary PATH] [--only NAME ...]
                        [--busy K ...] [--team-binary PATH]
                        [--before COMMIT]
"""

from __future__ import annotations

import argparse
import json
import math
import os
import platform
import statistics
import subprocess
import sys
import textwrap
import time
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np

import vexa_core as vc

sys.path.insert(0, str(Path(__file__).resolve().parent))
import before_after
import busy_machine

# The oracles the tests check against are the peers timed here.
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))
from oracles import peers, reference_tournament


@dataclass
class Workload:
    name: str
    sizes: str
    ours: Callable[[], Any]
    peer: Callable[[], Any]
    agree: Callable[[Any, Any], bool]
    repeats: int | None = None


def close(rtol: float = 1e-12, atol_scale: float = 0.0) -> Callable[[Any, Any], bool]:
    def check(a: Any, b: Any) -> bool:
        a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
        atol = atol_scale * float(np.max(np.abs(b))) if b.size else 0.0
        return a.shape == b.shape and bool(np.allclose(a, b, rtol=rtol, atol=atol))

    return check


def pairs_close(rtol: float, atol_scale: float) -> Callable[[Any, Any], bool]:
    one = close(rtol, atol_scale)
    return lambda a, b: all(one(x, y) for x, y in zip(a[:2], b[:2]))


def make_workloads(rng: np.random.Generator) -> list[Workload]:
    y = rng.normal(size=10**6)
    yp = y + rng.normal(scale=0.3, size=y.size)
    eps = 0.4 * peers.mad(y)
    x = rng.uniform(-1, 1, size=10**6)
    n, p = 2 * 10**5, 20
    # Designs are column-major, as the module's own design matrices are; a
    # row-major one costs vexa_core a transposing copy on the way in.
    X = np.asfortranarray(rng.normal(size=(n, p)))
    yo = X @ rng.normal(size=p) + rng.normal(size=n)
    xf = rng.uniform(-1, 1, size=n)
    # A well-conditioned design, so that both solvers pin the coefficients down.
    Phi = np.asfortranarray(rng.normal(size=(n, 40)))
    yf = Phi @ rng.normal(size=40) + np.sin(3 * xf)
    R1f, R2f = vc.smoothness_penalty_matrices_1d(39, -1.0, 1.0)
    energies = rng.normal(scale=3.0, size=10**6)
    tiny = np.array([3.0, 1.0, 4.0, 1.0, 5.0])
    bounds3 = [(0.0, 1.0), (-1.0, 2.0), (0.5, -0.5)]

    w = [
        Workload("mad", "n=1e6", lambda: vc.mad(y), lambda: peers.mad(y), close()),
        Workload(
            "compute_sr",
            "n=1e6",
            lambda: vc.compute_sr(yp, y, eps),
            lambda: peers.compute_sr(yp, y, eps),
            close(0.0),
        ),
        Workload(
            "design_matrix_1d",
            "n=1e6 deg=8",
            lambda: vc.design_matrix_1d(8, x),
            lambda: peers.design_matrix_1d(8, x),
            close(0.0),
        ),
        Workload(
            "smoothness_penalty_matrices_1d",
            "deg=10 n_grid=600",
            lambda: vc.smoothness_penalty_matrices_1d(10, 0.0, 1.0, 600),
            lambda: peers.smoothness_penalty_matrices_1d(10, 0.0, 1.0, 600),
            pairs_close(1e-9, 1e-12),
        ),
        Workload(
            "build_penalty_matrices_nd",
            "deg=[3,3,3] G=30",
            lambda: vc.build_penalty_matrices_nd([3, 3, 3], bounds3, 30),
            lambda: peers.build_penalty_matrices_nd([3, 3, 3], bounds3, 30),
            pairs_close(1e-9, 1e-12),
        ),
        Workload("ols", "n=2e5 p=20", lambda: vc.ols(X, yo), lambda: peers.ols(X, yo), close(1e-9)),
        Workload(
            "fit_regularized_linear",
            "n=2e5 p=40 R1+R2",
            lambda: vc.fit_regularized_linear(Phi, yf, R1f, R2f, 1e-4, 1e-6),
            lambda: peers.fit_regularized_linear(Phi, yf, R1f, R2f, 1e-4, 1e-6),
            close(1e-10),
        ),
        Workload(
            "gibbs_entropy",
            "n=1e6",
            lambda: vc.gibbs_entropy(energies),
            lambda: peers.gibbs_entropy(energies),
            lambda a, b: bool(
                np.allclose([a.H, a.Hmax, a.He, a.r_heat, a.var_E, a.T], b, rtol=1e-9)
            ),
        ),
        Workload(
            "tiny call: mad",
            "n=5",
            lambda: vc.mad(tiny),
            lambda: float(np.median(tiny)),
            lambda a, b: True,
        ),
    ]
    xs = rng.uniform(-1, 1, size=500)
    Xs = np.polynomial.polynomial.polyvander(xs, 7)
    ys = np.sin(2 * xs) + 0.1 * rng.normal(size=500)
    R1s, R2s = vc.smoothness_penalty_matrices_1d(7, -1.0, 1.0)
    sampler = vc.TournamentMCMC()

    def ours() -> Any:
        r = sampler.fit(Xs, ys, R1s, R2s, 1e-3, 1e-5)
        return r.beta_mcmc, r.energy

    def peer() -> Any:
        beta, energy, _ = reference_tournament.tournament_fit(Xs, ys, R1s, R2s, 1e-3, 1e-5)
        return beta, energy

    w.append(
        Workload(
            "TournamentMCMC.fit",
            "defaults n=500 p=8 R1+R2",
            ours,
            peer,
            lambda a, b: bool(
                np.allclose(a[0], b[0], rtol=1e-9) and np.isclose(a[1], b[1], rtol=1e-9)
            ),
            repeats=3,
        )
    )
    return w


def time_once(fn: Callable[[], Any], number: int) -> float:
    start = time.perf_counter()
    for _ in range(number):
        fn()
    return (time.perf_counter() - start) / number


# Untimed calls before each timed block: the other library's thread pool keeps
# spinning on a core for about 0.1 s after its last call (OpenBLAS's server threads),
# and a block that starts in that time measures both libraries at once. Calling the
# function itself, rather than sleeping, keeps the cores awake.
SETTLE_S = 0.25


def settle(fn: Callable[[], Any], seconds: float = SETTLE_S) -> None:
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        fn()


def calls_per_timing(fn: Callable[[], Any], target_s: float = 0.05) -> int:
    t = time_once(fn, 1)
    return max(1, min(100000, int(target_s / max(t, 1e-9))))


def run_workload(wl: Workload, repeats: int) -> dict[str, Any]:
    a, b = wl.ours(), wl.peer()
    agree = wl.agree(a, b)
    n_ours, n_peer = calls_per_timing(wl.ours), calls_per_timing(wl.peer)
    ours, peer = [], []
    for _ in range(wl.repeats or repeats):
        settle(wl.ours)
        ours.append(time_once(wl.ours, n_ours))
        settle(wl.peer)
        peer.append(time_once(wl.peer, n_peer))
    mo, mp = statistics.median(ours), statistics.median(peer)
    return {
        "workload": wl.name,
        "sizes": wl.sizes,
        "vexa_core_s": mo,
        "peer_s": mp,
        "ratio": mo / mp,
        "agree": agree,
    }


def sampler_thread_scaling(floor_binary: str | None) -> dict[str, Any]:
    """fit at the defaults with 1 and 2 OpenMP threads, each in its own process,
    and against the bare arithmetic floor of its energy evaluations. The 1- and
    2-thread processes alternate three times and each side keeps its fastest
    median: on a shared 2-core machine another process's burst would otherwise
    fall on one side only."""
    code = textwrap.dedent("""
        import time, numpy as np, vexa_core as vc
        rng = np.random.default_rng(3); x = rng.uniform(-1, 1, 500)
        X = np.polynomial.polynomial.polyvander(x, 7)
        y = np.sin(2*x) + 0.1*rng.normal(size=500)
        R1 = np.eye(8); R2 = 2*np.eye(8); s = vc.TournamentMCMC(); s.fit(X, y, R1, R2, 1e-3, 1e-5)
        # Past the first 0.25 s, while NumPy's BLAS threads still spin after starting.
        end = time.perf_counter() + 0.25
        while time.perf_counter() < end: s.fit(X, y, R1, R2, 1e-3, 1e-5)
        t = []
        for _ in range(7):
            a = time.perf_counter(); s.fit(X, y, R1, R2, 1e-3, 1e-5)
            t.append(time.perf_counter() - a)
        print(sorted(t)[3])
        """)
    out: dict[str, Any] = {}
    for _ in range(3):
        for threads in (1, 2):
            env = dict(os.environ, OMP_NUM_THREADS=str(threads))
            res = subprocess.run(
                [sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True
            )
            key = f"fit_{threads}_thread_s"
            out[key] = min(out.get(key, math.inf), float(res.stdout))
    out["two_over_one_thread"] = out["fit_2_thread_s"] / out["fit_1_thread_s"]
    if floor_binary and Path(floor_binary).exists():
        res = subprocess.run(
            [floor_binary, "500", "8", "200000"], capture_output=True, text=True, check=True
        )
        lines = res.stdout.splitlines()
        ghz = float(lines[0].split()[1])
        paths, (eigen, compiler) = lines[1:-2], lines[-2:]
        out["clock_GHz"] = ghz
        for line in paths:
            path, ns, width = line.split()
            out[f"energy_eval_ns[{path}]"] = float(ns)
            out[f"energy_floor_ns[{path}]"] = 500 * 8 / pairs_per_ns(int(width), ghz)
        widest = paths[-1].split()
        evaluations = 25 * 201 + 5 * 2000
        lone_s = evaluations * float(widest[1]) * 1e-9
        out.update(
            widest_path=widest[0],
            evaluations=evaluations,
            floor_s=lone_s,
            fit_1_thread_over_floor=out["fit_1_thread_s"] / lone_s,
            fit_1_thread_ns_per_evaluation=out["fit_1_thread_s"] / evaluations * 1e9,
            floor_ns_per_evaluation=out[f"energy_floor_ns[{widest[0]}]"],
            eigen=eigen,
            compiler=compiler,
        )
    return out


def pairs_per_ns(width: int, ghz: float) -> float:
    """The floor of X*beta: two multiplies and two adds of the path's width per cycle
    (no fused multiply-add) at the measured clock."""
    return 2 * width * ghz


def sampler_large_p(floor_binary: str | None) -> list[dict[str, Any]]:
    """The sampler's rate in products of X*beta per ns at n = 20,000, one thread, p = 8
    to 128: 25 chains of 20 steps and 5 deep runs of 200 (1,525 evaluations), each p in
    a process of its own, the fastest of three fits after one that warms up."""
    code = textwrap.dedent("""
        import sys, time, numpy as np, vexa_core as vc
        n, p = 20000, int(sys.argv[1]); rng = np.random.default_rng(p)
        X = rng.normal(size=(n, p)); y = X @ (0.1 * rng.normal(size=p)) + 0.1 * rng.normal(size=n)
        s = vc.TournamentMCMC(n_warmup=20, n_deep=200); I = np.eye(p)
        s.fit(X, y, I, I, 1e-3, 1e-5); t = []
        for _ in range(3):
            a = time.perf_counter(); s.fit(X, y, I, I, 1e-3, 1e-5)
            t.append(time.perf_counter() - a)
        print(min(t))
        """)
    floor = None
    if floor_binary and Path(floor_binary).exists():
        lines = subprocess.run(
            [floor_binary, "8", "1", "1"], capture_output=True, text=True, check=True
        ).stdout.splitlines()
        floor = pairs_per_ns(int(lines[-3].split()[2]), float(lines[0].split()[1]))
    rows = []
    env = dict(os.environ, OMP_NUM_THREADS="1")
    for p in (8, 32, 64, 128):
        res = subprocess.run(
            [sys.executable, "-c", code, str(p)],
            env=env,
            capture_output=True,
            text=True,
            check=True,
        )
        seconds = float(res.stdout)
        rate = (25 * 21 + 5 * 200) * 20000 * p / seconds * 1e-9
        rows.append({"p": p, "fit_s": seconds, "products_per_ns": rate, "floor_per_ns": floor})
    return rows


def interrupt_polling_cost(binary: str | None) -> dict[str, Any]:
    """A default fit timed without Ctrl-C polling and with the module's poll (the
    interpreter's signal check), interleaved in one process; see bench/interrupt_cost.cpp."""
    if not binary or not Path(binary).exists():
        return {}
    res = subprocess.run([binary, "15"], capture_output=True, text=True, check=True)
    polls, without, with_poll = res.stdout.split()
    return {
        "polls_per_fit": int(polls),
        "fit_without_polling_s": float(without),
        "fit_with_polling_s": float(with_poll),
        "polling_overhead": float(with_poll) / float(without) - 1.0,
    }


def machine() -> dict[str, Any]:
    cpu = platform.processor()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return {
        "cpu": cpu,
        "cores": os.cpu_count(),
        "threads": os.environ.get("OMP_NUM_THREADS", str(os.cpu_count())),
        "numpy": np.__version__,
        "python": platform.python_version(),
    }


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeats", type=int, default=7)
    ap.add_argument("--json", metavar="FILE")
    ap.add_argument(
        "--floor-binary",
        metavar="PATH",
        default=str(Path(__file__).resolve().parents[1] / "build/native/vexa_energy_floor"),
    )
    ap.add_argument(
        "--interrupt-binary",
        metavar="PATH",
        default=str(Path(__file__).resolve().parents[1] / "build/native/vexa_interrupt_cost"),
    )
    ap.add_argument(
        "--team-binary",
        metavar="PATH",
        default=str(Path(__file__).resolve().parents[1] / "build/native/vexa_team_cost"),
    )
    ap.add_argument(
        "--busy",
        type=int,
        nargs="*",
        default=[0, 2, 4],
        metavar="K",
        help="background processes of the busy-machine table (none: skip the table)",
    )
    ap.add_argument("--only", nargs="*", metavar="NAME")
    ap.add_argument(
        "--before",
        default="none",
        metavar="COMMIT",
        help="also time this earlier commit against the current build (default: none)",
    )
    args = ap.parse_args()

    rng = np.random.default_rng(12345)
    info = machine()
    rows = []
    for wl in make_workloads(rng):
        if args.only and wl.name not in args.only:
            continue
        rows.append(run_workload(wl, args.repeats))
    wants_sampler = not args.only or "TournamentMCMC.fit" in args.only
    scaling = sampler_thread_scaling(args.floor_binary) if wants_sampler else {}
    info.update({k: scaling.pop(k) for k in ("eigen", "compiler") if k in scaling})
    if wants_sampler:
        scaling.update(interrupt_polling_cost(args.interrupt_binary))
    large_p = sampler_large_p(args.floor_binary) if wants_sampler else []

    print(
        f"CPU: {info['cpu']} ({info['cores']} cores), threads: {info['threads']}, "
        f"NumPy {info['numpy']}, Eigen {info.get('eigen', '?')}, {info.get('compiler', '')}"
    )
    print(f"{'workload':34} {'sizes':26} {'vexa_core':>11} {'peer':>11} {'ratio':>8}  agree")
    for r in rows:
        print(
            f"{r['workload']:34} {r['sizes']:26} {fmt(r['vexa_core_s']):>11} "
            f"{fmt(r['peer_s']):>11} {r['ratio']:8.4f}  {'yes' if r['agree'] else 'NO'}"
        )
    for k, v in scaling.items():
        print(f"  {k}: {fmt(v) if k.endswith('_s') else f'{v:.4g}' if isinstance(v, float) else v}")
    if "fit_1_thread_ns_per_evaluation" in scaling:
        print(
            f"\nTournamentMCMC.fit, defaults, 500 x 8, one thread: "
            f"{scaling['fit_1_thread_ns_per_evaluation']:.0f} ns per evaluation against a floor "
            f"of {scaling['floor_ns_per_evaluation']:.0f} ns ({scaling['clock_GHz']:.2f} GHz "
            f"measured, {scaling['widest_path']})"
        )
    if large_p:
        print("TournamentMCMC.fit at n = 20,000, one thread: products of X*beta per ns")
        for r in large_p:
            floor = f" against a floor of {r['floor_per_ns']:.1f}" if r["floor_per_ns"] else ""
            print(f"  p = {r['p']:3}: {r['products_per_ns']:5.1f}{floor} ({fmt(r['fit_s'])} a fit)")
    versus: list[dict[str, Any]] = []
    if args.before != "none":
        versus = before_after.compare(args.before, args.only)
        print(
            f"\nagainst commit {args.before} (current / before, median of "
            f"{versus[0]['runs'] if versus else 0} runs each)"
        )
        print(
            f"{'workload':34} {'sizes':26} {'current':>11} {'before':>11} {'ratio':>8} "
            f"{'cpu ratio':>10}"
        )
        for r in versus:
            print(
                f"{r['workload']:34} {r['sizes']:26} {fmt(r['after_s']):>11} "
                f"{fmt(r['before_s']):>11} {r['ratio']:8.4f} {r['cpu_ratio']:10.4f}"
            )
    busy: list[dict[str, Any]] = []
    if args.busy and not args.only:
        if Path(args.team_binary).exists():
            print("\na loop of two indices on the team and on the calling thread alone")
            res = subprocess.run([args.team_binary], capture_output=True, text=True, check=True)
            print(res.stdout, end="")
        busy = busy_machine.busy_machine_table(args.busy, rounds=7)
        busy_machine.print_table(busy)
    if args.json:
        Path(args.json).write_text(
            json.dumps(
                {
                    "machine": info,
                    "workloads": rows,
                    "sampler": scaling,
                    "sampler_large_p": large_p,
                    "versus_before": versus,
                    "busy_machine": busy,
                },
                indent=2,
            )
        )


def fmt(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds:.3g} s"


if __name__ == "__main__":
    main()
