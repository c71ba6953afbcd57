#!/usr/bin/env bash
# Installs the few system packages a build needs when they are missing: through
# apt-get when running as root, otherwise it names them and stops.
#   ensure-system-deps.sh PYTHON                  a C++ compiler, the interpreter's headers and venv
#   ensure-system-deps.sh PYTHON --native-tests   GoogleTest as well, for the native tests
#   ensure-system-deps.sh PYTHON --clang          GoogleTest, clang and LLVM's OpenMP (libomp-dev),
#                                                 for the native tests on a clang build
# Everything else (Eigen, pybind11, CMake, Ninja) comes from the package index.
set -euo pipefail

python=$1
option=${2:-}
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')

missing=()
command -v c++ >/dev/null 2>&1 || missing+=(g++)
"$python" -c 'import os, sysconfig; assert os.path.isfile(os.path.join(sysconfig.get_paths()["include"], "Python.h"))' \
    2>/dev/null || missing+=("python$version-dev")
"$python" -c 'import ensurepip, venv' 2>/dev/null || missing+=("python$version-venv")
if [ "$option" = --native-tests ] || [ "$option" = --clang ]; then
    [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
fi
if [ "$option" = --clang ]; then
    command -v clang++ >/dev/null 2>&1 || missing+=(clang)
    # clang links LLVM's OpenMP runtime, which sits in clang's own library directory.
    [ -f "$(clang++ -print-resource-dir 2>/dev/null)/../../libomp.so" ] || missing+=(libomp-dev)
fi
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing system packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "error: missing system packages: ${missing[*]}" >&2
    echo "install them with: sudo apt-get install ${missing[*]}" >&2
    case "$python" in
        /usr/bin/*) ;;
        *) echo "(the Python packages are for Debian's own $python; an interpreter from" \
                "elsewhere needs its headers and venv module from where it came from)" >&2 ;;
    esac
    exit 1
fi
