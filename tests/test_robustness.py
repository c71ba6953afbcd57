"""Bad input never crashes: every function and method under random shapes, dtypes and values.

Each call must either return a value of its documented type or raise one of the
documented exception types, and the module must keep answering afterwards. Under
the sanitizer build an out-of-bounds access aborts the run instead of passing.
"""

import math
import os
import pathlib
import subprocess
import sys
import textwrap
from collections.abc import Callable
from typing import Any

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import vexa_core as vc

# The exception types the module documents for bad input.
ALLOWED = (ValueError, TypeError, RuntimeError, MemoryError)
EXAMPLES = int(os.environ.get("VEXA_FUZZ_EXAMPLES", "120"))
# The fuzz runs in a child with this soft address-space limit, which the module's memory
# budget honours: a runaway allocation is a MemoryError there, not the machine's OOM killer.
FUZZ_ADDRESS_SPACE = 6 << 30
FUZZ_HANG_LIMIT_S = 900

special_floats = st.sampled_from(
    [0.0, -0.0, 1.0, -1.0, 0.5, math.nan, math.inf, -math.inf, 1e308, -1e308, 5e-324, 1e-300]
)
any_float = st.one_of(st.floats(), special_floats)
dtypes = st.sampled_from(
    [np.float64, np.float32, np.int64, np.int8, np.bool_, np.complex128, np.uint64, np.str_]
)


@st.composite
def arrays(draw: st.DrawFn, max_side: int = 6) -> Any:
    shape = draw(hnp.array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=max_side))
    dtype = draw(dtypes)
    if dtype is np.str_:
        return np.full(shape, "x")
    return draw(hnp.arrays(dtype, shape))


array_like = st.one_of(
    arrays(),
    arrays(),
    arrays(),
    st.lists(any_float, max_size=6),
    st.lists(st.lists(any_float, max_size=3), max_size=4),
    any_float,
    st.none(),
    st.text(max_size=3),
)

# Ints that stay cheap wherever the cost grows with the value, plus the edges of the range.
edge_ints = st.sampled_from([-(2**31), -(2**31) - 1, 2**31, 2**64, -1, 0, 1, 2])
small_int = st.one_of(st.integers(-3, 12), edge_ints, st.booleans())
size_int = st.one_of(small_int, st.sampled_from([2**31 - 1]))  # sizes refused before work
count_int = st.one_of(st.integers(-3, 40), st.sampled_from([-(2**31), 2**31]))
bad_scalar = st.one_of(st.none(), st.text(max_size=2), st.just([1, 2]))
int_arg = st.one_of(small_int, small_int, st.floats(), bad_scalar)
size_arg = st.one_of(size_int, size_int, st.floats(), bad_scalar)
count_arg = st.one_of(count_int, count_int, st.floats(), bad_scalar)
float_arg = st.one_of(any_float, any_float, st.integers(-10, 10), bad_scalar)
seed_arg = st.one_of(st.integers(0, 2**64 - 1), st.sampled_from([-1, 2**64]), st.floats())
degree_item = st.one_of(st.integers(-2, 5), st.sampled_from([2**31 - 1, 2**31]), st.floats())
int_list = st.one_of(
    st.lists(degree_item, max_size=4),
    st.tuples(degree_item),
    st.text(max_size=2),
    st.none(),
    st.just(set()),
    array_like,
)
index_lists = st.one_of(st.lists(st.lists(degree_item, max_size=4), max_size=5), int_list)
vector_list = st.one_of(st.lists(array_like, max_size=4), array_like)
bounds = st.one_of(
    st.lists(
        st.one_of(st.tuples(any_float, any_float), st.lists(any_float, max_size=3)), max_size=4
    ),
    array_like,
)
penalty_object = st.one_of(st.none(), st.none(), array_like)


def is_matrix(r: Any) -> bool:
    return isinstance(r, np.ndarray) and r.ndim == 2 and r.dtype == np.float64


def is_vector(r: Any) -> bool:
    return isinstance(r, np.ndarray) and r.ndim == 1 and r.dtype == np.float64


def is_float(r: Any) -> bool:
    return type(r) is float


def is_pair(r: Any) -> bool:
    return type(r) is tuple and len(r) == 2 and all(map(is_matrix, r))


def is_penalty_triple(r: Any) -> bool:
    return (
        type(r) is tuple
        and len(r) == 3
        and is_matrix(r[0])
        and is_matrix(r[1])
        and type(r[2]) is list
        and all(type(m) is list for m in r[2])
        and all(type(e) is int for m in r[2] for e in m)
    )


def is_gibbs(r: Any) -> bool:
    return type(r).__name__ == "GibbsResult"


def is_mcmc(r: Any) -> bool:
    return type(r).__name__ == "MCMCResult" and is_vector(r.beta_mcmc)


def fit_via_sampler(settings_args: tuple[Any, ...], fit_args: tuple[Any, ...]) -> Any:
    sampler = vc.TournamentMCMC(*settings_args)
    return sampler.fit(*fit_args)


# name: (strategy of the argument tuple, result check)
CASES: dict[str, tuple[st.SearchStrategy[tuple[Any, ...]], Callable[[Any], bool]]] = {
    "mad": (st.tuples(array_like), is_float),
    "compute_sr": (st.tuples(array_like, array_like, float_arg), is_float),
    "mdl_score": (st.tuples(array_like, array_like, int_arg, int_arg), is_float),
    "mdl_score_reg": (
        st.tuples(
            array_like,
            array_like,
            int_arg,
            int_arg,
            array_like,
            array_like,
            array_like,
            float_arg,
            float_arg,
        ),
        is_float,
    ),
    "design_matrix_1d": (st.tuples(size_arg, array_like), is_matrix),
    "smoothness_penalty_matrices_1d": (
        st.tuples(size_arg, float_arg, float_arg, count_arg),
        is_pair,
    ),
    "boundary_reduce_1d": (st.tuples(size_arg, float_arg, float_arg), is_matrix),
    "design_matrix_nd": (st.tuples(index_lists, vector_list), is_matrix),
    "build_penalty_matrices_nd": (st.tuples(int_list, bounds, count_arg), is_penalty_triple),
    "ols": (st.tuples(array_like, array_like), is_vector),
    "fit_regularized_linear": (
        st.tuples(
            array_like, array_like, penalty_object, penalty_object, float_arg, float_arg, float_arg
        ),
        is_vector,
    ),
    "gibbs_entropy": (st.tuples(array_like, float_arg), is_gibbs),
    "TournamentMCMC.fit": (
        st.tuples(
            st.tuples(
                st.integers(-2, 5),
                st.integers(-2, 12),
                st.integers(-2, 12),
                st.integers(-2, 6),
                float_arg,
                int_arg,
                seed_arg,
            ),
            st.tuples(array_like, array_like, penalty_object, penalty_object, float_arg, float_arg),
        ),
        is_mcmc,
    ),
}


def resolve(name: str) -> Callable[..., Any]:
    if name == "TournamentMCMC.fit":
        return fit_via_sampler
    return getattr(vc, name)


def module_still_answers() -> None:
    assert vc.mad([1.0, 2.0, 3.0]) == 1.0
    assert vc.compute_sr([0.0, 0.0, 0.0, 0.0], [0.0, 1.0, 2.0, 3.0], 1.0) == 0.25


def fuzz(name: str) -> None:
    """Calls `name` with random arguments: each returns its documented type or raises a
    documented exception, and the module keeps answering."""
    fn = resolve(name)
    strategy, check = CASES[name]

    @given(strategy)
    @settings(
        max_examples=EXAMPLES, deadline=None, database=None, suppress_health_check=list(HealthCheck)
    )
    def run(args: tuple[Any, ...]) -> None:
        try:
            result = fn(*args)
        except ALLOWED:
            module_still_answers()
            return
        assert check(result), (args, result)

    run()


@pytest.mark.parametrize("name", list(CASES))
def test_random_arguments_never_crash(name: str) -> None:
    here = str(pathlib.Path(__file__).resolve().parent)
    env = dict(
        os.environ, PYTHONPATH=os.pathsep.join(filter(None, [here, os.environ.get("PYTHONPATH")]))
    )
    code = f"import test_robustness; test_robustness.fuzz({name!r})"
    # The sanitizer's shadow memory needs far more address space than any limit allows.
    if "asan" not in env.get("LD_PRELOAD", ""):
        code = (
            "import resource; resource.setrlimit(resource.RLIMIT_AS, "
            f"({FUZZ_ADDRESS_SPACE}, resource.RLIM_INFINITY)); {code}"
        )
    out = subprocess.run(
        [sys.executable, "-c", code],
        env=env,
        capture_output=True,
        text=True,
        timeout=FUZZ_HANG_LIMIT_S,
    )
    assert out.returncode == 0, out.stdout[-6000:] + out.stderr[-6000:]


LEAK_LOOP = textwrap.dedent("""
    import numpy as np, vexa_core as vc

    def rss_kib():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * 4

    rng = np.random.default_rng(1)
    y = rng.normal(size=64); X = rng.normal(size=(64, 4)); R = np.eye(4)
    calls = [
        lambda: vc.mad(y),
        lambda: vc.compute_sr(y, y, 0.1),
        lambda: vc.compute_sr(y[:3], y, 0.1),
        lambda: vc.mdl_score(y, y, 3),
        lambda: vc.mdl_score_reg(y, y, 4, 20, np.ones(4), R, R, 0.1, 0.1),
        lambda: vc.mdl_score_reg(y, y, 4, 20, np.ones(4), R[:2], R, 0.1, 0.1),
        lambda: vc.mad("not an array"),
        lambda: vc.design_matrix_1d(4, y),
        lambda: vc.design_matrix_1d(-1, y),
        lambda: vc.design_matrix_1d(2**31 - 1, np.ones(4000)),
        lambda: vc.smoothness_penalty_matrices_1d(4, 0.0, 1.0, 50),
        lambda: vc.smoothness_penalty_matrices_1d(4, 0.0, 1.0, 1),
        lambda: vc.boundary_reduce_1d(4, 0.0, 1.0),
        lambda: vc.design_matrix_nd([[1, 0], [0, 2]], [y, y]),
        lambda: vc.design_matrix_nd([[1]], [y, y]),
        lambda: vc.build_penalty_matrices_nd([2, 2], [(0, 1), (0, 1)], 5),
        lambda: vc.build_penalty_matrices_nd([2, 2], [(0, 1)], 5),
        lambda: vc.build_penalty_matrices_nd([2**31 - 1, 2**31 - 1], [(0, 1), (0, 1)]),
        lambda: vc.ols(X, y),
        lambda: vc.ols(X, y[:5]),
        lambda: vc.fit_regularized_linear(X, y, R, R, 0.1, 0.1),
        lambda: vc.fit_regularized_linear(X, y, "bad"),
        lambda: vc.fit_regularized_linear(X, y, R[:3], None, 1.0),
        lambda: vc.gibbs_entropy(y),
        lambda: vc.gibbs_entropy([]),
        lambda: vc.TournamentMCMC(3, 5, 5, 2).fit(X, y, R, R, 0.1, 0.1).beta_mcmc,
        lambda: vc.TournamentMCMC(0).fit(X, y),
        lambda: vc.TournamentMCMC(2).fit(X, y[:3]),
    ]

    def run_all(times):
        for _ in range(times):
            for call in calls:
                try:
                    call()
                except (ValueError, TypeError, RuntimeError, MemoryError):
                    pass

    run_all(300)
    before = rss_kib()
    run_all(3000)
    print(rss_kib() - before)
""")


@pytest.mark.slow
@pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", ""),
    reason="the sanitizer's quarantine makes resident memory grow by design",
)
def test_repeated_calls_do_not_grow_memory() -> None:
    out = subprocess.run(
        [sys.executable, "-c", LEAK_LOOP], capture_output=True, text=True, check=True, timeout=600
    )
    growth_kib = int(out.stdout.strip())
    # One leaked 64-double vector per call would be over 10 MiB here.
    assert growth_kib < 2048, f"resident memory grew by {growth_kib} KiB"
