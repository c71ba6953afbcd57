"""Checks an installed vexa_core from outside the source tree: it is the one in this
environment, it fits, it ships its stubs and licence files, and (for a repaired wheel)
it runs on the OpenMP runtime it carries rather than the system's.

    python smoke-test-wheel.py [--stub SOURCE_STUB] [--bundled-openmp]

--bundled-openmp: on Linux the loaded libgomp must be the wheel's own (auditwheel); on
macOS the wheel must carry LLVM's libomp (delocate), which the module links by its
bundled path. --bundled-libgomp is the older name of the same check.
"""

from __future__ import annotations

import argparse
import importlib.metadata
import pathlib
import sys

import numpy as np

import vexa_core as vc


def loaded_libraries() -> set[pathlib.Path]:
    """The shared libraries mapped into this process (Linux's /proc)."""
    maps = pathlib.Path("/proc/self/maps").read_text().splitlines()
    return {
        pathlib.Path(line.split(maxsplit=5)[5])
        for line in maps
        if len(line.split(maxsplit=5)) == 6 and ".so" in line
    }


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--stub", type=pathlib.Path, help="the stub the package must carry")
    parser.add_argument(
        "--bundled-openmp",
        "--bundled-libgomp",
        dest="bundled_openmp",
        action="store_true",
        help="the OpenMP runtime must come from the wheel",
    )
    args = parser.parse_args()

    module = pathlib.Path(vc.__file__).resolve()
    assert module.is_relative_to(pathlib.Path(sys.prefix).resolve()), module

    x = np.linspace(-1.0, 1.0, 50)
    Phi = vc.design_matrix_1d(3, x)
    np.testing.assert_allclose(vc.ols(Phi, x**3 - x), [0.0, -1.0, 0.0, 1.0], atol=1e-12)
    r = vc.TournamentMCMC(n_chains=4, n_warmup=20, n_deep=20, seed=3).fit(Phi, x**3 - x)
    assert r.beta_mcmc.shape == (4,) and np.isfinite(r.energy)

    if args.stub is not None:
        expected = args.stub.read_text()
        assert module.with_name("vexa_core.pyi").read_text() == expected
        assert (module.parent / "vexa_core-stubs" / "__init__.pyi").read_text() == expected

    shipped = {
        pathlib.PurePath(str(f)).name
        for f in importlib.metadata.distribution("vexa_core").files or []
    }
    assert {"LICENSE", "THIRD_PARTY_NOTICES.txt"} <= shipped, sorted(shipped)

    if args.bundled_openmp and sys.platform == "darwin":
        omp = [name for name in shipped if name.startswith("libomp") and name.endswith(".dylib")]
        assert omp, sorted(shipped)
    elif args.bundled_openmp:
        (gomp,) = [p for p in loaded_libraries() if p.name.startswith("libgomp")]
        assert gomp.is_relative_to(module.parent), gomp

    print(f"smoke test passed: {module} (Python {sys.version.split()[0]}, NumPy {np.__version__})")


if __name__ == "__main__":
    main()
