"""The current vexa_core against an earlier commit of it, on the same machine.

The earlier build is made once from ``git archive`` of that commit into
``build/before/<commit>`` and installed there with the current virtual
environment's build tools (no index needed). Each side runs its workloads in
fresh processes, the two sides alternating, so that both meet the same noise;
the ratio is current / before (below 1 means the current build is faster), of
the median wall-clock times and, less sensitive to other load on the machine,
of the median CPU times (all threads).
"""

from __future__ import annotations

import json
import os
import statistics
import subprocess
import sys
from pathlib import Path
from typing import Any

ROOT = Path(__file__).resolve().parents[1]

# name -> (sizes shown, setup code, timed expression); every setup seeds its own rng.
WORKLOADS: dict[str, tuple[str, str, str]] = {
    "TournamentMCMC.fit": (
        "defaults n=500 p=8 R1+R2",
        "rng = np.random.default_rng(3); x = rng.uniform(-1, 1, 500)\n"
        "X = np.polynomial.polynomial.polyvander(x, 7)\n"
        "y = np.sin(2*x) + 0.1*rng.normal(size=500)\n"
        "R1, R2 = vc.smoothness_penalty_matrices_1d(7, -1.0, 1.0); s = vc.TournamentMCMC()\n",
        "s.fit(X, y, R1, R2, 1e-3, 1e-5)",
    ),
    "TournamentMCMC.fit n=20000": (
        "n=20000 p=20 n_deep=400",
        "rng = np.random.default_rng(4); X = np.asfortranarray(rng.normal(size=(20000, 20)))\n"
        "y = X @ rng.normal(size=20) + rng.normal(size=20000); R = np.eye(20)\n"
        "s = vc.TournamentMCMC(n_deep=400)\n",
        "s.fit(X, y, R, R, 1e-3, 1e-5)",
    ),
    "TournamentMCMC.fit n=200000": (
        "n=200000 p=10 n_deep=200",
        "rng = np.random.default_rng(5); X = np.asfortranarray(rng.normal(size=(200000, 10)))\n"
        "y = X @ rng.normal(size=10) + rng.normal(size=200000); R = np.eye(10)\n"
        "s = vc.TournamentMCMC(n_deep=200)\n",
        "s.fit(X, y, R, R, 1e-3, 1e-5)",
    ),
    "fit_regularized_linear": (
        "n=2e5 p=40 R1+R2",
        "rng = np.random.default_rng(6); Phi = np.asfortranarray(rng.normal(size=(200000, 40)))\n"
        "y = Phi @ rng.normal(size=40) + rng.normal(size=200000)\n"
        "R1, R2 = vc.smoothness_penalty_matrices_1d(39, -1.0, 1.0)\n",
        "vc.fit_regularized_linear(Phi, y, R1, R2, 1e-4, 1e-6)",
    ),
    "ols": (
        "n=2e5 p=20",
        "rng = np.random.default_rng(7); X = np.asfortranarray(rng.normal(size=(200000, 20)))\n"
        "y = X @ rng.normal(size=20) + rng.normal(size=200000)\n",
        "vc.ols(X, y)",
    ),
    "mad": ("n=1e6", "y = np.random.default_rng(8).normal(size=10**6)\n", "vc.mad(y)"),
    "design_matrix_1d": (
        "n=1e6 deg=8",
        "x = np.random.default_rng(9).uniform(-1, 1, 10**6)\n",
        "vc.design_matrix_1d(8, x)",
    ),
    "gibbs_entropy": (
        "n=1e6",
        "e = np.random.default_rng(10).normal(scale=3.0, size=10**6)\n",
        "vc.gibbs_entropy(e)",
    ),
}

CHILD = """
import json, sys, time
import numpy as np
import vexa_core as vc
setup, expr, calls = sys.argv[1], sys.argv[2], int(sys.argv[3])
env = {"np": np, "vc": vc}
exec(setup, env)
code = compile(expr, "<workload>", "eval")
eval(code, env)
times, cpu = [], []
for _ in range(calls):
    start, start_cpu = time.perf_counter(), time.process_time()
    eval(code, env)
    times.append(time.perf_counter() - start); cpu.append(time.process_time() - start_cpu)
print(json.dumps({"times": times, "cpu": cpu, "file": vc.__file__}))
"""


def build_before(commit: str) -> Path:
    """Installs `commit` into build/before/<commit>/site once; returns that directory."""
    full = subprocess.run(
        ["git", "-C", str(ROOT), "rev-parse", commit], check=True, capture_output=True, text=True
    ).stdout.strip()
    base = ROOT / "build" / "before" / full[:12]
    site = base / "site"
    if (site / ".complete").exists():
        return site
    source = base / "source"
    source.mkdir(parents=True, exist_ok=True)
    archive = subprocess.run(
        ["git", "-C", str(ROOT), "archive", full], check=True, capture_output=True
    ).stdout
    subprocess.run(["tar", "-x", "-C", str(source)], input=archive, check=True)
    subprocess.run(
        [
            sys.executable,
            "-m",
            "pip",
            "install",
            "--quiet",
            "--no-build-isolation",
            "--no-deps",
            "--target",
            str(site),
            str(source),
        ],
        check=True,
        env=dict(os.environ, PATH=f"{Path(sys.executable).parent}:{os.environ['PATH']}"),
    )
    (site / ".complete").touch()
    return site


def _times(site: Path | None, name: str, calls: int) -> tuple[list[float], list[float]]:
    _, setup, expr = WORKLOADS[name]
    env = dict(os.environ)
    if site is not None:
        env["PYTHONPATH"] = f"{site}{os.pathsep}{env.get('PYTHONPATH', '')}"
    out = subprocess.run(
        [sys.executable, "-c", CHILD, setup, expr, str(calls)],
        env=env,
        check=True,
        capture_output=True,
        text=True,
        cwd=ROOT / "bench",
    ).stdout
    result = json.loads(out)
    if site is not None and not result["file"].startswith(str(site)):
        raise RuntimeError(f"the earlier build was not the one imported: {result['file']}")
    return list(result["times"]), list(result["cpu"])


def compare(
    commit: str, names: list[str] | None = None, rounds: int = 3, calls: int = 3
) -> list[dict[str, Any]]:
    site = build_before(commit)
    rows = []
    for name in list(WORKLOADS) if names is None else [n for n in names if n in WORKLOADS]:
        before: list[float] = []
        after: list[float] = []
        before_cpu: list[float] = []
        after_cpu: list[float] = []
        for _ in range(rounds):
            wall, cpu = _times(site, name, calls)
            before += wall
            before_cpu += cpu
            wall, cpu = _times(None, name, calls)
            after += wall
            after_cpu += cpu
        b, a = statistics.median(before), statistics.median(after)
        rows.append(
            {
                "workload": name,
                "sizes": WORKLOADS[name][0],
                "before_s": b,
                "after_s": a,
                "ratio": a / b,
                "runs": len(after),
                "cpu_ratio": statistics.median(after_cpu) / statistics.median(before_cpu),
            }
        )
    return rows
