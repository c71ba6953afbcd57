"""Writes tests/reference_results.json: the bits of every reference case (tests/oracles/
reference_cases.py) as the installed vexa_core computes them, each float as its hex form.

The table is made on x86-64 with GCC, from the default build (`make install`); every
other build must reproduce it (tests/test_reference_results.py). With --compare it writes
nothing and prints, case by case, how the module at hand compares with the table.

    python scripts/reference-results.py [--output tests/reference_results.json]
    python scripts/reference-results.py --compare
"""

from __future__ import annotations

import argparse
import json
import pathlib
import platform
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

import numpy as np  # noqa: E402

from oracles.reference_cases import CASES, hex_values  # noqa: E402

TABLE = ROOT / "tests" / "reference_results.json"


def ulps(a: str, b: str) -> int:
    ia, ib = (int(np.float64(float.fromhex(v)).view(np.int64)) for v in (a, b))
    return abs(ia - ib)


def compare() -> bool:
    """Prints every case that differs from the table and the totals; True when all agree."""
    table = json.loads(TABLE.read_text())
    same_cases = same_floats = all_floats = 0
    for name, run in CASES.items():
        got, expected = hex_values(run()), table["cases"][name]
        agree = sum(g == e for g, e in zip(got, expected)) if len(got) == len(expected) else 0
        same_floats += agree
        all_floats += len(expected)
        if agree == len(expected):
            same_cases += 1
        else:
            worst = max((ulps(g, e) for g, e in zip(got, expected) if g != e), default=0)
            print(
                f"  differs: {name}: {len(expected) - agree} of {len(expected)} floats,"
                f" up to {worst} ULP"
            )
    print(
        f"{platform.machine()} against the table made on {table['made_on']}: "
        f"{same_cases}/{len(CASES)} cases and {same_floats}/{all_floats} floats with the same bits"
    )
    return same_cases == len(CASES)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", type=pathlib.Path, default=TABLE)
    parser.add_argument("--compare", action="store_true", help="compare with the table instead")
    args = parser.parse_args()
    if args.compare:
        sys.exit(0 if compare() else 1)
    if platform.machine() not in ("x86_64", "AMD64"):
        sys.exit(f"the table is made on x86-64, not on {platform.machine()}")
    table = {
        "made_on": f"{platform.machine()} {platform.system()}, "
        f"Python {platform.python_version()}, NumPy {np.__version__}",
        "cases": {name: hex_values(run()) for name, run in CASES.items()},
    }
    args.output.write_text(json.dumps(table, indent=1) + "\n")
    n = sum(len(v) for v in table["cases"].values())
    print(f"{args.output}: {len(table['cases'])} cases, {n} floats")


if __name__ == "__main__":
    main()
