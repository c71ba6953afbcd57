#!/usr/bin/env bash
# Installs the few system packages a build needs when they are missing: through
# apt-get when running as root, otherwise it names them and stops.
#   ensure-system-deps.sh PYTHON                  a C++ compiler, the interpreter's headers and venv
#   ensure-system-deps.sh PYTHON --native-tests   GoogleTest as well, for the native tests
#   ensure-system-deps.sh PYTHON --clang          clang and LLVM's OpenMP (libomp-dev) as well
#   ensure-system-deps.sh PYTHON --wheels         ccache as well, which the wheel builds share
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
case $option in
    --native-tests) [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev) ;;
    --clang)
        command -v clang++ >/dev/null 2>&1 || missing+=(clang)
        # clang's -fopenmp needs LLVM's runtime and its omp.h.
        printf '#include <omp.h>\nint main() { return omp_get_max_threads() > 0 ? 0 : 1; }\n' |
            clang++ -fopenmp -x c++ - -o /dev/null >/dev/null 2>&1 || missing+=(libomp-dev) ;;
    --wheels) command -v ccache >/dev/null 2>&1 || missing+=(ccache) ;;
    "") ;;
    *) echo "error: unknown option $option" >&2; exit 2 ;;
esac
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "==> installing system packages: ${missing[*]} (about a minute)"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
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
