"""Shared fixtures; makes sure the suite tests the build it was pointed at."""

import os
import pathlib

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
