"""The thread team on a busy machine: each call on the default team against one thread
(OMP_NUM_THREADS=1), with k processes spinning in the background.

Every timing runs in a fresh process, default team and one thread alternating, so a
burst of other load falls on both sides alike; each side keeps the median of its
processes' medians. The busy processes stop by themselves after a time limit and are
killed when the table is done, whatever happens.

    python bench/busy_machine.py [--busy 0 2 4] [--rounds N] [--only TEXT ...]
"""

from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import sys
import time
from typing import Any

# name, sizes, set-up code, timed expression
CALLS = [
    ("ols", "80 x 13", "X, y = rng.random((80, 13)), rng.random(80)", "vc.ols(X, y)"),
    (
        "fit_regularized_linear R1+R2",
        "200,000 x 40 C",
        "X, y = rng.random((200_000, 40)), rng.random(200_000); R = np.eye(40)",
        "vc.fit_regularized_linear(X, y, R, R, 1e-3, 1e-5)",
    ),
    (
        "fit_regularized_linear R1+R2",
        "200,000 x 40 F",
        "X, y = np.asfortranarray(rng.random((200_000, 40))), rng.random(200_000); R = np.eye(40)",
        "vc.fit_regularized_linear(X, y, R, R, 1e-3, 1e-5)",
    ),
    (
        "TournamentMCMC().fit R1+R2",
        "500 x 8",
        "X, y = rng.random((500, 8)), rng.random(500); R = np.eye(8); s = vc.TournamentMCMC()",
        "s.fit(X, y, R, 2 * R, 1e-3, 1e-5)",
    ),
    (
        "ols",
        "200,000 x 20",
        "X, y = rng.random((200_000, 20)), rng.random(200_000)",
        "vc.ols(X, y)",
    ),
    (
        "TournamentMCMC(n_deep=400).fit",
        "20,000 x 20",
        "X, y = rng.random((20_000, 20)), rng.random(20_000); s = vc.TournamentMCMC(n_deep=400)",
        "s.fit(X, y)",
    ),
]

TIMER = """
import time, numpy as np, vexa_core as vc
rng = np.random.default_rng(7)
{setup}
{call}
times, total = [], 0.0
while len(times) < 5 or (total < 0.3 and len(times) < 2000):
    a = time.perf_counter(); {call}; b = time.perf_counter() - a
    times.append(b); total += b
times.sort()
print(times[len(times) // 2])
"""

# A background process that spins until killed or until its time limit.
SPIN = "import time\nend = time.monotonic() + {limit}\nwhile time.monotonic() < end: pass\n"


def time_call(setup: str, call: str, one_thread: bool) -> float:
    env = dict(os.environ)
    # OMP_NUM_THREADS=1 would also leave NumPy's OpenBLAS without its threads, whose
    # spinning at start-up moves where the scheduler puts the caller: both sides keep
    # OpenBLAS's default, so that only this module's team differs.
    env.setdefault("OPENBLAS_NUM_THREADS", str(os.cpu_count()))
    if one_thread:
        env["OMP_NUM_THREADS"] = "1"
    else:
        env.pop("OMP_NUM_THREADS", None)
    code = TIMER.format(setup=setup, call=call)
    res = subprocess.run(
        [sys.executable, "-c", code],
        env=env,
        capture_output=True,
        text=True,
        check=True,
        timeout=600,
    )
    return float(res.stdout)


def table(busy: int, rounds: int, limit_s: float, only: list[str]) -> list[dict[str, Any]]:
    spinners = [
        subprocess.Popen([sys.executable, "-c", SPIN.format(limit=limit_s)]) for _ in range(busy)
    ]
    try:
        rows = []
        for name, sizes, setup, call in CALLS:
            if only and not any(o in f"{name} {sizes}" for o in only):
                continue
            team, one = [], []
            for _ in range(rounds):
                team.append(time_call(setup, call, one_thread=False))
                one.append(time_call(setup, call, one_thread=True))
            t, o = statistics.median(team), statistics.median(one)
            rows.append(
                {
                    "busy": busy,
                    "call": name,
                    "sizes": sizes,
                    "team_s": t,
                    "one_s": o,
                    "ratio": t / o,
                }
            )
        return rows
    finally:
        for p in spinners:
            p.kill()
        for p in spinners:
            p.wait()


def busy_machine_table(
    counts: list[int], rounds: int, limit_s: float = 900.0, only: list[str] | None = None
) -> list[dict]:
    rows: list[dict[str, Any]] = []
    for k in counts:
        rows += table(k, rounds, limit_s, only or [])
    return rows


def print_table(rows: list[dict[str, Any]]) -> None:
    print(
        f"\nbusy machine: default team / one thread, median of fresh processes "
        f"({os.cpu_count()} cores)"
    )
    print(f"{'busy':>4}  {'call':32} {'sizes':14} {'team':>10} {'one thread':>11} {'ratio':>7}")
    for r in rows:
        print(
            f"{r['busy']:>4}  {r['call']:32} {r['sizes']:14} {r['team_s'] * 1e3:8.3f} ms "
            f"{r['one_s'] * 1e3:8.3f} ms {r['ratio']:7.3f}"
        )


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--busy", type=int, nargs="*", default=[0, 2, 4])
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument(
        "--only", nargs="*", default=[], help="calls whose name and sizes contain one of these"
    )
    args = ap.parse_args()
    start = time.perf_counter()
    print_table(busy_machine_table(args.busy, args.rounds, only=args.only))
    print(f"({time.perf_counter() - start:.0f} s)")


if __name__ == "__main__":
    main()
