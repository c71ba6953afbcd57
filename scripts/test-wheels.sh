#!/usr/bin/env bash
# Runs the Python test suite against the wheels in dist/, one fresh environment per
# interpreter, with the wheel and its test extra installed from binaries only; the
# packaging checks run too, against the sdist and wheels in dist/.
#   test-wheels.sh [--not-slow] [--oldest-numpy] 3.12 /path/to/python3.13
# --oldest-numpy installs the lowest NumPy pyproject.toml admits in place of the newest.
# The suite runs from the source tree but must import the installed module.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
marks=()
numpy=()
while [ $# -gt 0 ]; do
    case $1 in
        --not-slow) marks=(-m "not slow") ;;
        --oldest-numpy)
            lowest=$(sed -n 's/^dependencies = \["numpy>=\([0-9.]*\)"\]$/\1/p' pyproject.toml)
            [ -n "$lowest" ] || { echo "error: no numpy>= bound in pyproject.toml" >&2; exit 1; }
            numpy=("numpy==$lowest") ;;
        *) break ;;
    esac
    shift
done

for spec in "$@"; do
    case $spec in
        */*) py=$spec ;;
        *) py=$(scripts/find-python.sh "$spec") ;;
    esac
    tag=cp$("$py" -c 'import sys; print("%d%d" % sys.version_info[:2])')
    wheels=(dist/vexa_core-*-"$tag"-"$tag"-*manylinux*_"$(uname -m)".whl)
    if [ ! -f "${wheels[0]}" ]; then
        echo "error: no $tag wheel in dist/; run make wheels-x86_64 first" >&2
        exit 1
    fi
    env=$root/build/wheels/test-$tag
    echo "==> $tag: installing $(basename "${wheels[0]}") and the test requirements" \
        "${numpy[*]} into a fresh environment (about 1 min)"
    rm -rf "$env"
    "$py" -m venv "$env"
    "$env/bin/python" -m pip install --quiet --only-binary=:all: "${wheels[0]}[test]" "${numpy[@]}"
    "$env/bin/python" -c 'import numpy; print("NumPy", numpy.__version__)'
    site=$("$env/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
    echo "==> $tag: the test suite against the installed wheel (about 5 min)"
    VEXA_CORE_EXPECT_BUILD=$site VEXA_TEST_DIST=$root/dist \
        "$env/bin/python" -m pytest -p no:cacheprovider "${marks[@]}"
done
