"""The sdist carries what a build needs, and its wheel installs into a fresh environment.

Checks the release files that `make wheels` put in a directory (the sdist, and the wheel
it built from that sdist with the system's Eigen hidden), so the checks run only when
given one:
    VEXA_TEST_DIST=dist python -m pytest tests/test_packaging.py
"""

from __future__ import annotations

import os
import pathlib
import platform
import subprocess
import sys
import sysconfig
import tarfile
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
EXT = "vexa_core" + sysconfig.get_config_var("EXT_SUFFIX")
SMOKE_TEST = ROOT / "scripts" / "smoke-test-wheel.py"
DIST = os.environ.get("VEXA_TEST_DIST")
TAG = f"cp{sys.version_info[0]}{sys.version_info[1]}"

pytestmark = [
    pytest.mark.slow,
    pytest.mark.skipif(not DIST, reason="set VEXA_TEST_DIST to the directory `make wheels` filled"),
]


def run(*cmd: str | pathlib.Path, cwd: pathlib.Path) -> str:
    out = subprocess.run(
        [str(c) for c in cmd], cwd=cwd, capture_output=True, text=True, timeout=1200
    )
    assert out.returncode == 0, f"{cmd}\n{out.stdout[-4000:]}\n{out.stderr[-4000:]}"
    return out.stdout


def venv(path: pathlib.Path) -> pathlib.Path:
    run(sys.executable, "-m", "venv", path, cwd=path.parent)
    return path / "bin" / "python"


@pytest.fixture(scope="module")
def dists(tmp_path_factory: pytest.TempPathFactory) -> dict[str, pathlib.Path]:
    """The sdist and this interpreter's wheel from VEXA_TEST_DIST, and a scratch directory."""
    assert DIST is not None
    (sdist,) = pathlib.Path(DIST).glob("vexa_core-*.tar.gz")
    # `make wheels` also leaves an aarch64 wheel for cp311 there.
    wheels = list(pathlib.Path(DIST).glob(f"vexa_core-*-{TAG}-{TAG}-*_{platform.machine()}.whl"))
    if not wheels:
        pytest.skip(f"no {TAG} wheel in {DIST}")
    (wheel,) = wheels
    return {"sdist": sdist, "wheel": wheel, "tmp": tmp_path_factory.mktemp("packaging")}


def test_sdist_holds_the_sources_and_nothing_built(dists: dict[str, pathlib.Path]) -> None:
    with tarfile.open(dists["sdist"]) as tar:
        names = {n.split("/", 1)[1] for n in tar.getnames() if "/" in n}
    for needed in (
        "CMakeLists.txt",
        "pyproject.toml",
        "README.md",
        "vexa_core.pyi",
        "LICENSE",
        "THIRD_PARTY_NOTICES.txt",
        "cmake/VexaDependencies.cmake",
        "src/module/exports.map",
        "src/module/module.cpp",
        "src/common/checks.hpp",
        "tests/conftest.py",
    ):
        assert needed in names, needed
    # Every core and binding source the build globs for.
    for source in ROOT.glob("src/*/*.[ch]pp"):
        assert str(source.relative_to(ROOT)) in names, source
    stray = [
        n
        for n in names
        if n.startswith(("build/", ".venv/", "dist/", ".ci/")) or n.endswith((".so", ".png"))
    ]
    assert stray == []


def smoke_test(py: pathlib.Path, cwd: pathlib.Path) -> None:
    """The installed module fits, and carries its stubs and licence files."""
    run(py, SMOKE_TEST, "--stub", ROOT / "vexa_core.pyi", cwd=cwd)


def test_wheel_installs_into_a_fresh_environment(dists: dict[str, pathlib.Path]) -> None:
    with zipfile.ZipFile(dists["wheel"]) as whl:
        names = set(whl.namelist())
        assert {EXT, "vexa_core.pyi", "vexa_core-stubs/__init__.pyi"} <= names
        assert whl.read("vexa_core-stubs/__init__.pyi") == (ROOT / "vexa_core.pyi").read_bytes()
        licences = {
            n.rsplit("/", 1)[1]
            for n in names
            if ".dist-info/licenses/" in n and not n.endswith("/")  # not the directory entry
        }
        assert licences == {"LICENSE", "THIRD_PARTY_NOTICES.txt"}
    tmp = dists["tmp"]
    py = venv(tmp / "wheel-env")
    run(py, "-m", "pip", "install", "--quiet", dists["wheel"], cwd=tmp)
    smoke_test(py, tmp)
    # mypy, run for that environment, reads the installed stub.
    out = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--python-executable",
            str(py),
            "--no-incremental",
            "--strict",
            "-c",
            "import vexa_core\nreveal_type(vexa_core.mad)\n",
        ],
        cwd=tmp,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert out.returncode == 0 and "def (y:" in out.stdout, out.stdout + out.stderr
