"""Shared fixtures; makes sure the suite tests the build it was pointed at."""

import importlib.util
import os
import pathlib
from types import ModuleType

import numpy as np
import pytest

import vexa_core

_expected_build = os.environ.get("VEXA_CORE_EXPECT_BUILD")
if _expected_build:
    # The sanitizer run must not silently test the regular installed module.
    loaded = pathlib.Path(vexa_core.__file__).resolve().parent
    assert loaded == pathlib.Path(_expected_build).resolve(), loaded


@pytest.fixture
def rng() -> np.random.Generator:
    return np.random.default_rng(20261208)


def load_reference() -> ModuleType:
    """The NumPy reference of the tournament sampler that the benchmarks time."""
    path = pathlib.Path(__file__).resolve().parent.parent / "bench" / "reference_tournament.py"
    spec = importlib.util.spec_from_file_location("reference_tournament", path)
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module
