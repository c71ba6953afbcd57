"""How soon Ctrl-C stops a long call: the time from SIGINT to the KeyboardInterrupt, per call.

    python bench/interrupt_latency.py [--repeats 3]

Each call runs in a child process of its own on 2 threads; the parent sends SIGINT a
second into the call. The module aims to react within 0.5 s on every call below.
"""

from __future__ import annotations

import argparse
import os
import signal
import statistics
import subprocess
import sys
import textwrap
import time

TARGET_S = 0.5
WINDOWS = (
    "np.lib.stride_tricks.sliding_window_view(np.random.default_rng(0).random({n} + {p} - 1), {p})"
)
CALLS = {
    "penalty_1d_grid": "vc.smoothness_penalty_matrices_1d(5, 0.0, 1.0, 2**31 - 1)",
    "penalty_nd_grid": "vc.build_penalty_matrices_nd([3, 3], [(0, 1)] * 2, 2**31 - 1)",
    "warmup": "vc.TournamentMCMC(n_chains=3, n_warmup=2**31 - 1).fit(X, y)",
    "deep_phase": "vc.TournamentMCMC(n_chains=3, n_warmup=5, n_deep=2**31 - 1).fit(X, y)",
    "many_chains": "vc.TournamentMCMC(n_chains=64, n_warmup=2**31 - 1).fit(X, y)",
    "ols": f"while True: vc.ols({WINDOWS.format(n=4 * 10**6, p=40)}, np.ones(4 * 10**6))",
    "penalized_fit_products": "while True: vc.fit_regularized_linear("
    f"{WINDOWS.format(n=4 * 10**6, p=300)}, np.ones(4 * 10**6))",
}


def reaction_s(call: str) -> float:
    code = textwrap.dedent(f"""
        import numpy as np, vexa_core as vc
        rng = np.random.default_rng(0)
        X, y = rng.random((200, 3)), rng.random(200)
        print("ready", flush=True)
        try:
            {call}
        except KeyboardInterrupt:
            print("interrupted", flush=True)
    """)
    env = dict(os.environ, OMP_NUM_THREADS="2")
    with subprocess.Popen(
        [sys.executable, "-c", code], stdout=subprocess.PIPE, text=True, env=env
    ) as proc:
        assert proc.stdout is not None
        try:
            assert proc.stdout.readline() == "ready\n"
            time.sleep(1.0)
            sent = time.monotonic()
            proc.send_signal(signal.SIGINT)
            assert proc.stdout.readline() == "interrupted\n"
            return time.monotonic() - sent
        finally:
            proc.kill()


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeats", type=int, default=3, help="runs per call (default: 3)")
    args = ap.parse_args()
    print(f"{'call':24} {'median':>9} {'worst':>9}  within {TARGET_S} s")
    for name, call in CALLS.items():
        times = [reaction_s(call) for _ in range(args.repeats)]
        worst = max(times)
        print(
            f"{name:24} {statistics.median(times):8.3f}s {worst:8.3f}s  "
            f"{'yes' if worst < TARGET_S else 'NO'}"
        )


if __name__ == "__main__":
    main()
