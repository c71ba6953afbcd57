#!/usr/bin/env bash
# Prints the path of a supported CPython interpreter that runs.
#   find-python.sh         the first of python3, python3.11, python3.12, ... that is 3.11 or newer
#   find-python.sh 3.12    a CPython 3.12: python3.12 on PATH, else one installed by pyenv
# A name on PATH is run, not only looked up: a pyenv shim exists for every version it knows.
set -euo pipefail

runs_as() {  # runs_as INTERPRETER CHECK: the interpreter starts and CHECK holds for it
    "$1" -c "import sys; sys.exit(0 if $2 else 1)" >/dev/null 2>&1
}

resolve() {  # the interpreter's own path, not the shim's
    "$1" -c 'import sys; print(sys.executable)'
}

if [ $# -eq 0 ]; then
    for name in python3 python3.11 python3.12 python3.13 python3.14; do
        if runs_as "$name" "sys.implementation.name == 'cpython' and sys.version_info >= (3, 11)"; then
            resolve "$name"
            exit 0
        fi
    done
    echo "error: no CPython 3.11 or newer found on PATH; install one with its venv module and" \
         "headers (Debian: apt-get install python3 python3-venv python3-dev) or name it:" \
         "make PYTHON=/path/to/python3.X" >&2
    exit 1
fi

version=$1
check="sys.implementation.name == 'cpython' and '%d.%d' % sys.version_info[:2] == '$version'"
candidates=("python$version")
if command -v pyenv >/dev/null 2>&1; then
    candidates+=("$(pyenv root)"/versions/"$version".*/bin/"python$version")
fi
for name in "${candidates[@]}"; do
    if runs_as "$name" "$check"; then
        resolve "$name"
        exit 0
    fi
done
echo "error: no CPython $version found; install it (Debian: apt-get install python$version-dev" \
     "python$version-venv) or name the interpreters: make wheels PYTHONS=\"/path/to/python3.X ...\"" >&2
exit 1
