#!/usr/bin/env bash
# Runs the Python test suite against the wheels in dist/, one fresh environment per
# interpreter, with the wheel and its test extra installed from binaries only.
#   test-wheels.sh [--not-slow] 3.12 /path/to/python3.13
# The suite runs from the source tree but must import the installed module.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
marks=()
if [ "${1:-}" = --not-slow ]; then
    marks=(-m "not slow")
    shift
fi

for spec in "$@"; do
    case $spec in
        */*) py=$spec ;;
        *) py=$(scripts/find-python.sh "$spec") ;;
    esac
    tag=cp$("$py" -c 'import sys; print("%d%d" % sys.version_info[:2])')
    wheels=(dist/vexa_core-*-"$tag"-"$tag"-*manylinux*.whl)
    if [ ! -f "${wheels[0]}" ]; then
        echo "error: no $tag wheel in dist/; run make wheels first" >&2
        exit 1
    fi
    env=$root/build/wheels/test-$tag
    echo "== $tag: the test suite against $(basename "${wheels[0]}")"
    rm -rf "$env"
    "$py" -m venv "$env"
    "$env/bin/python" -m pip install --quiet --only-binary=:all: "${wheels[0]}[test]"
    site=$("$env/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
    VEXA_CORE_EXPECT_BUILD=$site "$env/bin/python" -m pytest -p no:cacheprovider "${marks[@]}"
done
