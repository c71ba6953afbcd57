"""Loading, the module surface and argument/result conversion."""

import ast
import functools
import inspect
import os
import pathlib
import re
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import vexa_core as vc

ROOT = pathlib.Path(__file__).resolve().parents[1]
STUB = ROOT / "vexa_core.pyi"
REFERENCE = ROOT / "docs" / "reference.md"

DOC = "VEXA-P performans-kritik cekirdegi (C++/Eigen)."

REGISTRATION_ORDER = [
    "mad",
    "compute_sr",
    "mdl_score",
    "mdl_score_reg",
    "design_matrix_1d",
    "smoothness_penalty_matrices_1d",
    "boundary_reduce_1d",
    "design_matrix_nd",
    "build_penalty_matrices_nd",
    "ols",
    "fit_regularized_linear",
    "GibbsResult",
    "gibbs_entropy",
    "MCMCResult",
    "TournamentMCMC",
]


def registered_names() -> list[str]:
    return [name for name in vars(vc) if not name.startswith("__")]


def test_docstring() -> None:
    assert vc.__doc__ == DOC


def test_registration_order() -> None:
    assert registered_names() == REGISTRATION_ORDER


def test_single_entry_point_exported() -> None:
    # GNU nm lists an ELF file's dynamic symbols; a Mach-O extension's exports are its
    # external defined symbols, each with the platform's leading underscore.
    command, prefix = (
        (["nm", "-D", "--defined-only"], "")
        if sys.platform.startswith("linux")
        else (["nm", "-g", "-U"], "_")
    )
    nm = subprocess.run([*command, vc.__file__], capture_output=True, text=True, check=True)
    exported = [line.split()[-1] for line in nm.stdout.splitlines() if line.strip()]
    assert exported == [f"{prefix}PyInit_vexa_core"]


def test_reimport_returns_same_module_without_rerunning_body() -> None:
    first = sys.modules.pop("vexa_core")
    first.marker_set_by_test = True
    try:
        import vexa_core as again

        assert again is first
        assert again.marker_set_by_test
        assert again.__doc__ == DOC
    finally:
        del first.marker_set_by_test
        sys.modules["vexa_core"] = first


# The module is built for the interpreter running the tests: "3.X" is its version.
BUILT_FOR = "{}.{}".format(*sys.version_info[:2])
MAJOR, MINOR = sys.version_info[:2]


@pytest.mark.parametrize(
    "running",
    [
        f"{MAJOR}.{MINOR + 1}.0 (fake build)",
        f"{MAJOR}.{MINOR - 1}.2 (fake build)",
        f"{MAJOR}.{MINOR}0.1 (fake build)",  # begins with "3.X" but is a longer minor
        f"{MAJOR}.{MINOR}.99 (fake build)",
    ],
    ids=["next", "previous", "longer-minor", "same-minor"],
)
@pytest.mark.skipif(
    not sys.platform.startswith("linux"), reason="interposes Py_GetVersion with LD_PRELOAD"
)
def test_import_checks_the_interpreter_version(tmp_path: pathlib.Path, running: str) -> None:
    # Py_GetVersion is interposed by a preloaded library; the interpreter's
    # own calls bind inside libpython, the extension's go through the loader.
    shim_src = tmp_path / "fake_version.c"
    shim_src.write_text(f'const char *Py_GetVersion(void) {{ return "{running}"; }}\n')
    shim = tmp_path / "fake_version.so"
    try:
        subprocess.run(["cc", "-shared", "-fPIC", "-o", str(shim), str(shim_src)], check=True)
    except (OSError, subprocess.CalledProcessError):
        pytest.skip("no C compiler to build the version shim")
    env = dict(os.environ)
    env["LD_PRELOAD"] = " ".join(filter(None, [env.get("LD_PRELOAD", ""), str(shim)]))
    code = textwrap.dedent("""
        try:
            import vexa_core
        except ImportError as e:
            print(e)
        else:
            print("imported")
    """)
    out = subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60
    )
    if running.startswith(f"{BUILT_FOR}."):
        assert out.stdout.strip() == "imported", out.stderr
    else:
        assert out.stdout.strip() == (
            f"Python version mismatch: module was compiled for Python {BUILT_FOR}, "
            f"but the interpreter version is incompatible: {running}."
        )


FUNCTIONS = [name for name in REGISTRATION_ORDER if name[0].islower()]


@pytest.mark.parametrize("name", FUNCTIONS)
def test_functions_have_generated_signature_docstrings(name: str) -> None:
    assert getattr(vc, name).__doc__.startswith(f"{name}(")


def _params(fn: object) -> list[tuple[str, object]]:
    text = fn.__doc__.splitlines()[0]  # type: ignore[attr-defined]
    sig = inspect.signature(eval("lambda " + _strip_annotations(text)))
    return [(p.name, p.default) for p in sig.parameters.values()]


def _strip_annotations(line: str) -> str:
    """'f(a: T, b: U = 3) -> R' to 'a, b = 3: 0' for a lambda, ignoring nested brackets."""
    inner = line[line.index("(") + 1 : line.rindex(") ->")]
    parts, depth, cur = [], 0, ""
    for ch in inner:
        if ch in "[(":
            depth += 1
        elif ch in "])":
            depth -= 1
        if ch == "," and depth == 0:
            parts.append(cur)
            cur = ""
        else:
            cur += ch
    if cur.strip():
        parts.append(cur)
    out = []
    for part in parts:
        name, _, rest = part.partition(":")
        default = rest.split("=", 1)[1].strip() if "=" in rest else None
        out.append(name.strip() + (f"={default}" if default is not None else ""))
    return ", ".join(out) + ": 0"


def _stub_params(fn: ast.FunctionDef) -> list[tuple[str, object]]:
    args = fn.args
    # Plain parameters only, so that names and defaults say the whole signature.
    assert not (args.posonlyargs or args.kwonlyargs or args.vararg or args.kwarg), fn.name
    defaults = [inspect.Parameter.empty] * (len(args.args) - len(args.defaults))
    defaults += [ast.literal_eval(d) for d in args.defaults]
    return [(a.arg, d) for a, d in zip(args.args, defaults)]


def stub_signatures() -> dict[str, list[tuple[str, object]]]:
    """Parameters of every function and method of the stub, by qualified name."""
    tree = ast.parse(STUB.read_text())
    out = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            out[node.name] = _stub_params(node)
        elif isinstance(node, ast.ClassDef):
            for item in node.body:
                if isinstance(item, ast.FunctionDef) and not item.decorator_list:
                    out[f"{node.name}.{item.name}"] = _stub_params(item)
    return out


SIGNATURES = stub_signatures()


def test_stub_declares_every_function() -> None:
    assert [name for name in SIGNATURES if "." not in name] == FUNCTIONS
    assert {name for name in SIGNATURES if "." in name} == {
        "TournamentMCMC.__init__",
        "TournamentMCMC.fit",
    }


@pytest.mark.parametrize("name", list(SIGNATURES))
def test_parameter_names_order_and_defaults(name: str) -> None:
    fn = functools.reduce(getattr, name.split("."), vc)
    params = _params(fn)
    assert params == SIGNATURES[name]
    for (_, got), (_, want) in zip(params, SIGNATURES[name]):
        assert type(got) is type(want)


def reference_signatures() -> dict[str, list[tuple[str, object]]]:
    """The parameters in the reference's headings, keyed like stub_signatures."""
    out = {}
    for name, args in re.findall(r"^#{3,4} `(\w+)\((.*?)\)", REFERENCE.read_text(), re.M):
        key = {"TournamentMCMC": "TournamentMCMC.__init__", "fit": "TournamentMCMC.fit"}.get(
            name, name
        )
        fn = ast.parse(f"def f(self, {args}): pass").body[0]
        assert isinstance(fn, ast.FunctionDef)
        out[key] = _stub_params(fn)[0 if "." in key else 1 :]
    return out


def test_reference_headings_give_the_stub_signatures() -> None:
    assert reference_signatures() == SIGNATURES


# --- conversions --------------------------------------------------------------------------


@pytest.mark.parametrize(
    "arg",
    [
        [3, 1, 2],
        (3, 1, 2),
        np.array([3, 1, 2], dtype=np.int32),
        np.array([3.0, 1.0, 2.0], dtype=np.float32),
        np.array([[3.0], [1.0], [2.0]]),
        np.array([9.0, 3.0, 9.0, 1.0, 9.0, 2.0])[1::2],
    ],
    ids=["list", "tuple", "int32", "float32", "column", "strided"],
)
def test_vector_argument_forms(arg: object) -> None:
    assert vc.mad(arg) == vc.mad(np.array([3.0, 1.0, 2.0]))


@pytest.mark.parametrize(
    "arg",
    [np.ones((1, 3)), np.ones((2, 2)), np.ones((2, 2, 1)), 3.0, "abc", [[1.0, 2.0], [3.0]]],
    ids=["row", "square", "3d", "scalar", "str", "ragged"],
)
def test_vector_argument_refused(arg: object) -> None:
    with pytest.raises(TypeError):
        vc.mad(arg)


def test_one_by_one_is_a_vector() -> None:
    assert vc.mad(np.array([[5.0]])) == 0.0


def test_arguments_are_not_modified() -> None:
    y = np.array([5.0, 1.0, 4.0, 2.0, 3.0])
    before = y.copy()
    vc.mad(y)
    np.testing.assert_array_equal(y, before)


def test_keyword_arguments_match_positional() -> None:
    a = np.array([0.0, 1.0, 2.0, 3.0])
    b = np.zeros(4)
    assert vc.compute_sr(yt=a, yp=b, eps=1.0) == vc.compute_sr(b, a, 1.0)


@pytest.mark.parametrize(
    "call",
    [
        lambda: vc.compute_sr([1.0], [1.0]),
        lambda: vc.compute_sr([1.0], [1.0], 1.0, 2.0),
        lambda: vc.compute_sr([1.0], [1.0], eps=1.0, yp=[1.0]),
        lambda: vc.compute_sr([1.0], [1.0], epsilon=1.0),
        lambda: vc.mdl_score([1.0], [1.0], 1.5),
        lambda: vc.mdl_score([1.0], [1.0], 2**31),
        lambda: vc.mdl_score_reg([1.0], [1.0], 1, beta=[1.0], R1=[[1.0]], R2=[[1.0]]),
        lambda: vc.mdl_score_reg([1.0], [1.0], 1, 20, [1.0], None, [[1.0]]),
    ],
    ids=["missing", "extra", "twice", "unknown-kw", "float-int", "int-range", "no-H", "R1-None"],
)
def test_incompatible_arguments_raise_type_error(call) -> None:  # type: ignore[no-untyped-def]
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call()


def test_int_parameters_accept_bool_and_index() -> None:
    yp, yt = np.zeros(4), np.arange(4.0)
    ref = vc.mdl_score(yp, yt, 1)
    assert vc.mdl_score(yp, yt, True) == ref
    assert vc.mdl_score(yp, yt, np.int64(1)) == ref
    assert vc.mdl_score(yp, yt, 1, np.int16(20)) == ref


def test_large_strided_arguments_convert_exactly(rng: np.random.Generator) -> None:
    # Large enough for the copy to be backed by huge pages; every second entry.
    base = rng.normal(size=2 * 700_000)
    y = base[::2]
    assert vc.mad(y) == np.median(np.abs(y - np.median(y)))
    X = np.asfortranarray(rng.normal(size=(700_000, 2)))
    np.testing.assert_array_equal(vc.design_matrix_1d(1, X[:, 1])[:, 1], X[:, 1])


@pytest.mark.parametrize(
    "make",
    [
        lambda x: vc.design_matrix_1d(3, x),
        lambda x: vc.smoothness_penalty_matrices_1d(3, 0.0, 1.0, 10)[1],
        lambda x: vc.ols(np.column_stack([np.ones_like(x), x]), x),
        lambda x: vc.fit_regularized_linear(np.column_stack([np.ones_like(x), x]), x),
    ],
    ids=["design", "penalty", "ols", "penalized-fit"],
)
def test_results_are_moved_out_as_owned_arrays(make) -> None:  # type: ignore[no-untyped-def]
    x = np.linspace(-1.0, 1.0, 7)
    r = make(x)
    assert r.dtype == np.float64 and r.flags.writeable
    assert r.strides == ((8,) if r.ndim == 1 else (8, 8 * r.shape[0]))
    assert r.base is not None and not isinstance(r.base, np.ndarray)  # owned via its capsule
    assert not np.shares_memory(r, x)
    before = make(x)
    r[...] = 0.0
    np.testing.assert_array_equal(make(x), before)


def test_empty_results_keep_their_shapes() -> None:
    assert vc.ols(np.zeros((3, 0)), np.zeros(3)).shape == (0,)
    assert vc.design_matrix_1d(2, []).shape == (0, 3)


def test_matrix_argument_from_one_dimensional_array_is_one_column() -> None:
    # A length-4 1-D array as X is a 4 x 1 design.
    assert vc.ols(
        np.array([1.0, 2.0, 3.0, 4.0]), np.array([2.0, 4.0, 6.0, 8.0])
    ).tolist() == pytest.approx([2.0])


def test_numpy_is_imported_at_the_first_array_conversion_not_at_import() -> None:
    code = (
        "import sys, vexa_core\n"
        "before = 'numpy' in sys.modules\n"
        "vexa_core.mad([1.0, 2.0])\n"
        "print(before, 'numpy' in sys.modules)\n"
    )
    out = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, check=True, timeout=120
    )
    assert out.stdout.split() == ["False", "True"]


def bare_instances(cls: type) -> list[object]:
    """Instances no constructor has written: cls.__new__ and the base class's __new__."""
    base = cls.__mro__[1]
    return [cls.__new__(cls), base.__new__(cls)]  # type: ignore[call-overload]


@pytest.mark.parametrize("route", [0, 1], ids=["class_new", "base_new"])
def test_bare_instances_hold_default_records(route: int) -> None:
    gibbs = bare_instances(vc.GibbsResult)[route]
    assert [getattr(gibbs, f) for f in ("H", "Hmax", "He", "r_heat", "var_E", "T")] == [0.0] * 6

    result = bare_instances(vc.MCMCResult)[route]
    assert result.beta_mcmc.shape == (0,)  # type: ignore[attr-defined]
    assert (result.energy, result.n_chains, result.n_elite) == (0.0, 0, 0)  # type: ignore[attr-defined]
    assert result.gibbs.H == 0.0  # type: ignore[attr-defined]

    # A bare sampler has the default settings.
    settings = bare_instances(vc.TournamentMCMC)[route]
    X, y = np.random.default_rng(3).random((30, 2)), np.linspace(0.0, 1.0, 30)
    bare_fit = settings.fit(X, y)  # type: ignore[attr-defined]
    default_fit = vc.TournamentMCMC().fit(X, y)
    assert bare_fit.beta_mcmc.tobytes() == default_fit.beta_mcmc.tobytes()
    assert bare_fit.energy == default_fit.energy


def test_classes_without_constructor_still_refuse_a_call() -> None:
    for cls in (vc.GibbsResult, vc.MCMCResult):
        with pytest.raises(TypeError, match=f"^vexa_core.{cls.__name__}: No constructor defined!$"):
            cls()


class RaisesWhenConverted:
    """An argument whose conversion hooks all raise `error`."""

    def __init__(self, error: BaseException) -> None:
        self.error = error

    def _raise(self, *args: object, **kwargs: object) -> None:
        raise self.error

    __array__ = __float__ = __index__ = _raise


# Each kind of parameter, reached through the hook its conversion calls, with what the
# call raises when the hook fails with an ordinary error.
CONVERSIONS = {
    "vector": (lambda a: vc.mad(a), TypeError),
    "matrix-list-item": (lambda a: vc.ols([[a, 1.0]], [1.0]), TypeError),
    "float": (lambda a: vc.compute_sr([1.0], [1.0], a), TypeError),
    "int": (lambda a: vc.mdl_score([1.0], [1.0], a), TypeError),
    "seed": (lambda a: vc.TournamentMCMC(seed=a), TypeError),
    "list-of-int": (lambda a: vc.build_penalty_matrices_nd([a], [(0, 1)]), TypeError),
    "bounds-item": (lambda a: vc.build_penalty_matrices_nd([1], [(a, 1.0)]), TypeError),
    "list-of-vector": (lambda a: vc.design_matrix_nd([[1]], [a]), TypeError),
    "penalty": (lambda a: vc.fit_regularized_linear(np.eye(2), [1.0, 2.0], a), RuntimeError),
}


@pytest.mark.parametrize("error", [MemoryError, KeyboardInterrupt, SystemExit, ValueError])
@pytest.mark.parametrize("kind", sorted(CONVERSIONS))
def test_urgent_errors_of_conversion_hooks_reach_the_caller(
    kind: str, error: type[BaseException]
) -> None:
    call, ordinary = CONVERSIONS[kind]
    raised = error("from the hook")
    expected = ordinary if error is ValueError else error
    with pytest.raises(expected) as info:
        call(RaisesWhenConverted(raised))
    assert (info.value is raised) == (expected is error)


@pytest.mark.parametrize(
    "R1, R2, got",
    [("R1", None, "str"), (np.eye(2), np.ones((2, 2, 2)), "numpy.ndarray of dtype float64")],
    ids=["R1-str", "R2-3d"],
)
def test_unconvertible_penalty_keeps_the_short_message_and_notes_the_types(
    R1: object, R2: object, got: str
) -> None:
    with pytest.raises(RuntimeError) as info:
        vc.fit_regularized_linear(np.eye(2), [1.0, 2.0], R1, R2, 1e-4)
    shown = type(R1 if isinstance(R1, str) else R2)
    assert str(info.value) == (
        f"Unable to cast Python instance of type {shown} to C++ type '?' (#define "
        "PYBIND11_DETAILED_ERROR_MESSAGES or compile in debug mode for details)"
    )
    name = "R1" if isinstance(R1, str) else "R2"
    (note,) = info.value.__notes__
    assert note.startswith(f"{name} must be None or convert to a float64 matrix")
    assert f"got {got}" in note
