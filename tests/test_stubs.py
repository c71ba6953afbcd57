"""The typed stubs match the compiled module, and the examples type-check against them."""

import ast
import pathlib
import subprocess
import sys

import pytest

import vexa_core as vc

ROOT = pathlib.Path(__file__).resolve().parents[1]


def run(*args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", *args], cwd=ROOT, capture_output=True, text=True, timeout=900
    )


def test_stubtest_agrees_with_runtime() -> None:
    out = run(
        "mypy.stubtest",
        "vexa_core",
        "--mypy-config-file",
        "pyproject.toml",
        "--allowlist",
        "tests/stubtest_allowlist.txt",
    )
    assert out.returncode == 0, out.stdout + out.stderr


def test_examples_type_check() -> None:
    # The cache under build/ serves the next run (CI runs the suite five times); mypy
    # checks it against the sources and its own version.
    out = run("mypy", "--cache-dir", "build/mypy-cache", "examples")
    assert out.returncode == 0, out.stdout + out.stderr


def test_stub_file_sits_beside_the_extension() -> None:
    stub = pathlib.Path(vc.__file__).with_name("vexa_core.pyi")
    if "site-packages" not in pathlib.Path(vc.__file__).parts:
        pytest.skip("the module is imported from a build tree, not installed")
    assert stub.read_text() == (ROOT / "vexa_core.pyi").read_text()


def test_every_public_name_of_the_stub_has_a_docstring() -> None:
    # Editors show these on hover; the runtime __doc__ stays the generated signature.
    tree = ast.parse((ROOT / "vexa_core.pyi").read_text())
    undocumented = []
    for node in ast.walk(tree):
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and not node.name.startswith("_"):
            if not ast.get_docstring(node):
                undocumented.append(node.name)
    assert undocumented == []
    documented = {n.name for n in tree.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    assert documented == {name for name in vars(vc) if not name.startswith("_")}
