"""How much the C library's choice of log and exp by CPU moves the module's results.

glibc picks its log and exp for the CPU at load time: a version using FMA on CPUs with
AVX2 and FMA, others for CPUs without. The tunable GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA
(glibc 2.33 and later; earlier releases spelled the names AVX2_Usable and FMA_Usable,
which later ones ignore) makes a process take the versions for older CPUs. This script
runs itself twice, with the machine's own choice and with that tunable, and counts:
  - logarithms of N uniform values in (0, 1) and exponentials of N uniform values in
    (-50, 0) whose bits differ between the two runs;
  - seeded default fits (n = 500, degree 7, R1 + R2) whose beta or energy differ.

    python scripts/libm-variants.py [--n 20000000] [--fits 20]
"""

from __future__ import annotations

import argparse
import hashlib
import json
import math
import os
import pathlib
import subprocess
import sys
import tempfile
from array import array

import numpy as np

TUNABLE = "glibc.cpu.hwcaps=-AVX2,-FMA"


def evaluate(n: int, fits: int, out: pathlib.Path) -> None:
    rng = np.random.default_rng(2026)
    u = rng.random(n)
    logs = array("d", map(math.log, (1.0 - u).tolist()))  # (0, 1]: 1 - u never is 0
    exps = array("d", map(math.exp, (-50.0 * rng.random(n)).tolist()))
    out.with_suffix(".log").write_bytes(logs.tobytes())
    out.with_suffix(".exp").write_bytes(exps.tobytes())

    import vexa_core as vc

    results = []
    for seed in range(fits):
        r = np.random.default_rng(seed)
        x = -1.0 + 2.0 * r.random(500)
        y = 0.5 * x - 0.8 * x * x * x + 0.05 * (r.random(500) - 0.5)
        Phi = vc.design_matrix_1d(7, x)
        R1, R2 = vc.smoothness_penalty_matrices_1d(7, -1.0, 1.0)
        fit = vc.TournamentMCMC(seed=seed).fit(Phi, y, R1, R2, 1e-4, 1e-6)
        results.append([float(v).hex() for v in [*fit.beta_mcmc, fit.energy]])
    out.with_suffix(".fits").write_text(json.dumps(results))


def differing(a: bytes, b: bytes) -> int:
    return int(np.count_nonzero(np.frombuffer(a, np.uint64) != np.frombuffer(b, np.uint64)))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=20_000_000)
    parser.add_argument("--fits", type=int, default=20)
    parser.add_argument("--child", type=pathlib.Path, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child is not None:
        evaluate(args.n, args.fits, args.child)
        return

    with tempfile.TemporaryDirectory() as tmp:
        runs = {}
        for label, tunable in [("own", None), ("tunable", TUNABLE)]:
            env = {k: v for k, v in os.environ.items() if k != "GLIBC_TUNABLES"}
            if tunable:
                env["GLIBC_TUNABLES"] = tunable
            base = pathlib.Path(tmp) / label
            command = [sys.executable, __file__, "--n", str(args.n), "--fits", str(args.fits)]
            subprocess.run([*command, "--child", str(base)], env=env, check=True)
            runs[label] = base
        own, other = runs["own"], runs["tunable"]
        for kind in ("log", "exp"):
            a = own.with_suffix(f".{kind}").read_bytes()
            b = other.with_suffix(f".{kind}").read_bytes()
            digest = hashlib.sha256(a).hexdigest()[:12]
            print(
                f"{kind}: {differing(a, b):,} of {args.n:,} differ ({TUNABLE}; own sha256 {digest})"
            )
        fits_a = json.loads(own.with_suffix(".fits").read_text())
        fits_b = json.loads(other.with_suffix(".fits").read_text())
        moved = [i for i, (a, b) in enumerate(zip(fits_a, fits_b)) if a != b]
        print(f"fits: {len(moved)} of {args.fits} differ (seeds {moved})")


if __name__ == "__main__":
    main()
