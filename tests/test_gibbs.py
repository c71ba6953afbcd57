"""gibbs_entropy against worked values and an independent NumPy computation; GibbsResult."""

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra.numpy import arrays

import vexa_core as vc
from oracles.peers import gibbs_entropy as numpy_gibbs

FIELDS = ["H", "Hmax", "He", "r_heat", "var_E", "T"]


def fields(g: vc.GibbsResult) -> list[float]:
    return [getattr(g, name) for name in FIELDS]


LN2, LN3, LN4 = math.log(2), math.log(3), math.log(4)


@pytest.mark.parametrize(
    "E, T, expected",
    [
        ([3.7], 1.0, [0.0, LN2, 0.0, 0.01, 0.0, 1.0]),
        ([2.0, 2.0], 1.0, [LN2, LN2, 1.0, 1.0, 0.0, 1.0]),
        ([5.0] * 4, 2.0, [LN4, LN4, 1.0, 1.0, 0.0, 2.0]),
        ([0.0, 1.0], 1.0, [0.582203, LN2, 0.839942, 0.841542, 0.25, 1.0]),
        ([0.0, 1.0, 5.0], 0.0, [0.0, LN3, 0.0, 0.01, 14 / 3, 0.0]),
        ([1.0, 0.0, 0.0, 9.0], 0.0, [LN2, LN4, 0.5, 0.505, 14.25, 0.0]),
    ],
    ids=["one", "two-equal", "four-equal-T2", "zero-one", "T0", "T0-ties"],
)
def test_worked_values(E: list[float], T: float, expected: list[float]) -> None:
    got = fields(vc.gibbs_entropy(E, T))
    assert got == pytest.approx(expected, rel=1e-6, abs=1e-15)
    assert got[5] == T


@pytest.mark.parametrize("n", [1, 2, 10, 1000])
@pytest.mark.parametrize("T", [0.0, 0.3, 1.0, 2.0, 50.0])
def test_matches_numpy(rng: np.random.Generator, n: int, T: float) -> None:
    E = rng.normal(scale=3.0, size=n)
    g = vc.gibbs_entropy(E, T)
    assert fields(g) == pytest.approx(list(numpy_gibbs(E, T)), rel=1e-12, abs=1e-14)
    assert 0.01 <= g.r_heat <= 1.0 + 1e-15


def test_default_temperature_is_one(rng: np.random.Generator) -> None:
    E = rng.normal(size=7)
    assert fields(vc.gibbs_entropy(E)) == fields(vc.gibbs_entropy(E, 1.0))


@given(
    arrays(np.float64, st.integers(1, 40), elements=st.floats(-1e3, 1e3)),
    st.floats(-1e3, 1e3),
    st.floats(0.1, 10.0),
)
@settings(max_examples=200, deadline=None)
def test_depends_only_on_energy_differences(E: np.ndarray, shift: float, T: float) -> None:
    assert fields(vc.gibbs_entropy(E + shift, T)) == pytest.approx(
        fields(vc.gibbs_entropy(E, T)), rel=1e-9, abs=1e-6
    )


@pytest.mark.parametrize(
    "E, T, nan_fields",
    [
        ([0.0, math.nan, 1.0], 1.0, {"H", "He", "r_heat", "var_E"}),
        ([math.nan, 0.0, 1.0], 1.0, {"H", "He", "r_heat", "var_E"}),
        ([0.0, 1000.0], -1.0, {"H", "He", "r_heat"}),
    ],
    ids=["nan-energy", "nan-first", "negative-T-overflow"],
)
def test_special_values_propagate(E: list[float], T: float, nan_fields: set[str]) -> None:
    g = vc.gibbs_entropy(E, T)
    assert {name for name in FIELDS if math.isnan(getattr(g, name))} == nan_fields
    assert g.Hmax == math.log(max(len(E), 2)) and g.T == T


def test_empty_energies_raise_value_error() -> None:
    with pytest.raises(ValueError, match="energies has 0 entries"):
        vc.gibbs_entropy([])
    assert vc.gibbs_entropy([1.0]).H == 0.0


# --- the GibbsResult record ---------------------------------------------------------------


def test_no_constructor() -> None:
    with pytest.raises(TypeError, match=r"^vexa_core\.GibbsResult: No constructor defined!$"):
        vc.GibbsResult()


def test_attribute_order() -> None:
    assert [name for name in vars(vc.GibbsResult) if not name.startswith("_")] == FIELDS


@pytest.mark.parametrize("name", FIELDS)
def test_attributes_are_read_only(name: str) -> None:
    g = vc.gibbs_entropy([0.0, 1.0], 1.0)
    before = getattr(g, name)
    with pytest.raises(AttributeError):
        setattr(g, name, 0.0)
    with pytest.raises(AttributeError):
        delattr(g, name)
    assert getattr(g, name) == before
    assert type(before) is float
    with pytest.raises(AttributeError):
        g.extra = 1.0  # type: ignore[attr-defined]
