"""The sdist carries what a build needs, and its wheel installs into a fresh environment.

Builds and installs from the package index, so the checks run only when asked for:
    VEXA_TEST_PACKAGING=1 python -m pytest tests/test_packaging.py
"""

from __future__ import annotations

import os
import pathlib
import subprocess
import sys
import tarfile
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
EXT = "vexa_core.cpython-311-x86_64-linux-gnu.so"

pytestmark = [
    pytest.mark.slow,
    pytest.mark.skipif(os.environ.get("VEXA_TEST_PACKAGING") != "1",
                       reason="set VEXA_TEST_PACKAGING=1 (needs the package index and a few minutes)"),
]

# Run in a fresh environment from outside the source tree, so that neither the tree's
# stub nor a build directory can stand in for the installed files.
SMOKE = """
import pathlib, numpy as np, vexa_core as vc
here = pathlib.Path(vc.__file__)
print(here.parent)
print(here.with_name("vexa_core.pyi").read_text() == pathlib.Path({stub!r}).read_text())
x = np.linspace(-1.0, 1.0, 50)
Phi = vc.design_matrix_1d(3, x)
np.testing.assert_allclose(vc.ols(Phi, x**3 - x), [0.0, -1.0, 0.0, 1.0], atol=1e-12)
r = vc.TournamentMCMC(n_warmup=20, n_deep=20, seed=3).fit(Phi, x**3 - x)
assert r.beta_mcmc.shape == (4,) and np.isfinite(r.energy)
"""


def run(*cmd: str | pathlib.Path, cwd: pathlib.Path) -> str:
    out = subprocess.run([str(c) for c in cmd], cwd=cwd, capture_output=True, text=True,
                         timeout=1200)
    assert out.returncode == 0, f"{cmd}\n{out.stdout[-4000:]}\n{out.stderr[-4000:]}"
    return out.stdout


def venv(path: pathlib.Path) -> pathlib.Path:
    run(sys.executable, "-m", "venv", path, cwd=path.parent)
    return path / "bin" / "python"


@pytest.fixture(scope="module")
def dists(tmp_path_factory: pytest.TempPathFactory) -> dict[str, pathlib.Path]:
    """An sdist and the wheel built from it, the way `python -m build` makes them."""
    tmp = tmp_path_factory.mktemp("packaging")
    py = venv(tmp / "build-env")
    run(py, "-m", "pip", "install", "--quiet", "build", cwd=tmp)
    run(py, "-m", "build", "--outdir", tmp / "dist", ROOT, cwd=tmp)
    (sdist,) = (tmp / "dist").glob("vexa_core-*.tar.gz")
    (wheel,) = (tmp / "dist").glob("vexa_core-*.whl")
    return {"sdist": sdist, "wheel": wheel, "tmp": tmp}


def test_sdist_holds_the_sources_and_nothing_built(dists: dict[str, pathlib.Path]) -> None:
    with tarfile.open(dists["sdist"]) as tar:
        names = {n.split("/", 1)[1] for n in tar.getnames() if "/" in n}
    for needed in ("CMakeLists.txt", "pyproject.toml", "README.md", "vexa_core.pyi",
                   "src/module/exports.map", "src/module/module.cpp", "src/common/checks.hpp",
                   "tests/conftest.py"):
        assert needed in names, needed
    # Every core and binding source the build globs for.
    for source in ROOT.glob("src/*/*.[ch]pp"):
        assert str(source.relative_to(ROOT)) in names, source
    stray = [n for n in names if n.startswith(("build/", ".venv/", "dist/", ".ci/"))
             or n.endswith((".so", ".png"))]
    assert stray == []


def test_wheel_installs_into_a_fresh_environment(dists: dict[str, pathlib.Path]) -> None:
    with zipfile.ZipFile(dists["wheel"]) as whl:
        names = set(whl.namelist())
        assert {EXT, "vexa_core.pyi", "vexa_core-stubs/__init__.pyi"} <= names
        assert whl.read("vexa_core-stubs/__init__.pyi") == (ROOT / "vexa_core.pyi").read_bytes()
    tmp = dists["tmp"]
    py = venv(tmp / "wheel-env")
    run(py, "-m", "pip", "install", "--quiet", dists["wheel"], cwd=tmp)
    site, same_stub = run(py, "-c", SMOKE.format(stub=str(ROOT / "vexa_core.pyi")),
                          cwd=tmp).split()
    assert pathlib.Path(site).is_relative_to(tmp / "wheel-env") and same_stub == "True"
    # mypy, run for that environment, reads the installed stub.
    out = subprocess.run([sys.executable, "-m", "mypy", "--python-executable", str(py),
                          "--no-incremental", "--strict", "-c",
                          "import vexa_core\nreveal_type(vexa_core.mad)\n"],
                         cwd=tmp, capture_output=True, text=True)
    assert out.returncode == 0 and "def (y:" in out.stdout, out.stdout + out.stderr


def test_sdist_builds_from_source_with_pip(dists: dict[str, pathlib.Path]) -> None:
    tmp = dists["tmp"]
    py = venv(tmp / "sdist-env")
    # No wheel cache: pip must compile this sdist here, not reuse an earlier build.
    run(py, "-m", "pip", "install", "--quiet", "--no-cache-dir", dists["sdist"], cwd=tmp)
    site, same_stub = run(py, "-c", SMOKE.format(stub=str(ROOT / "vexa_core.pyi")),
                          cwd=tmp).split()
    assert pathlib.Path(site).is_relative_to(tmp / "sdist-env") and same_stub == "True"
