"""The installed module against tests/reference_results.json, bit for bit.

The table was made on x86-64 with GCC (scripts/reference-results.py). Every build, on
any x86-64 CPU, on aarch64 and with Clang, must give the same bits for every case: the
kernels sum in a fixed order without fused multiply-add, and so do Eigen's products.
A mismatch names how many floats differ and by how many units in the last place.
"""

import json
import pathlib

import numpy as np
import pytest

from oracles.reference_cases import CASES, hex_values

TABLE = json.loads((pathlib.Path(__file__).parent / "reference_results.json").read_text())["cases"]


def ulps(a: str, b: str) -> int:
    """Distance in units in the last place between two doubles of one sign."""
    ia, ib = (int(np.float64(float.fromhex(v)).view(np.int64)) for v in (a, b))
    return abs(ia - ib)


def test_table_covers_every_case():
    assert sorted(TABLE) == sorted(CASES)


@pytest.mark.parametrize("name", sorted(CASES))
def test_same_bits_as_the_table(name):
    got, expected = hex_values(CASES[name]()), TABLE[name]
    assert len(got) == len(expected)
    differing = [(i, g, e) for i, (g, e) in enumerate(zip(got, expected)) if g != e]
    if differing:
        worst = max(ulps(g, e) for _, g, e in differing)
        i, g, e = differing[0]
        pytest.fail(
            f"{len(differing)} of {len(expected)} floats differ, by up to {worst} ULP; "
            f"first at {i}: {g} instead of {e}"
        )
