"""The test extra declares every package the test suite imports, so that an environment
made from it alone (the wheel tests on each interpreter) runs the whole suite."""

from __future__ import annotations

import ast
import importlib.metadata
import importlib.util
import pathlib
import re
import subprocess
import sys
import sysconfig

ROOT = pathlib.Path(__file__).resolve().parents[1]
# The module under test, and the suite's and the examples' own modules and packages.
LOCAL = {"vexa_core"} | {
    p.stem
    for folder in ("tests", "examples")
    for p in (ROOT / folder).iterdir()
    if p.suffix == ".py" or (p / "__init__.py").exists()
}
RUN_WITH_DASH_M = {"mypy"}  # the stub tests run `python -m mypy` rather than import it


def imported_top_level_modules(path: pathlib.Path) -> set[str]:
    names = set()
    for node in ast.walk(ast.parse(path.read_text())):
        if isinstance(node, ast.Import):
            names |= {alias.name.split(".")[0] for alias in node.names}
        elif isinstance(node, ast.ImportFrom) and node.module and node.level == 0:
            names.add(node.module.split(".")[0])
        elif (
            isinstance(node, ast.Call)
            and getattr(node.func, "attr", "") == "importorskip"
            and isinstance(node.args[0], ast.Constant)
        ):
            names.add(str(node.args[0].value).split(".")[0])
    return names


def in_standard_library(module: str) -> bool:
    """Also true for the interpreter's private test modules (such as _testcapi), which
    sys.stdlib_module_names leaves out."""
    if module in sys.stdlib_module_names:
        return True
    try:
        spec = importlib.util.find_spec(module)
    except (ImportError, ValueError):
        return False
    origin = getattr(spec, "origin", None) or ""
    if "site-packages" in origin or "dist-packages" in origin:
        return False
    stdlib = {sysconfig.get_paths()[key] for key in ("stdlib", "platstdlib")}
    return any(origin.startswith(folder) for folder in stdlib)


def declared(*names: str) -> set[str]:
    out = subprocess.run(
        [sys.executable, str(ROOT / "scripts" / "requirements.py"), *names],
        capture_output=True,
        text=True,
        check=True,
    ).stdout
    return {
        normalize(re.split(r"[\s<>=!~;\[]", line, maxsplit=1)[0])
        for line in out.splitlines()
        if line
    }


def normalize(distribution: str) -> str:
    return re.sub(r"[-_.]+", "-", distribution).lower()


def test_test_extra_covers_every_import_of_the_suite() -> None:
    modules = set().union(*map(imported_top_level_modules, ROOT.glob("tests/**/*.py")))
    third_party = sorted(
        name for name in (modules | RUN_WITH_DASH_M) - LOCAL if not in_standard_library(name)
    )
    providers = importlib.metadata.packages_distributions()
    needed = {normalize(dist) for module in third_party for dist in providers.get(module, [module])}
    runtime = {"numpy"}
    assert needed - runtime - declared("test") == set()


def test_unknown_requirement_set_is_refused() -> None:
    out = subprocess.run(
        [sys.executable, str(ROOT / "scripts" / "requirements.py"), "nonesuch"],
        capture_output=True,
        text=True,
    )
    assert out.returncode != 0 and "nonesuch" in out.stderr
