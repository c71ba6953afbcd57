#!/usr/bin/env bash
# ThreadSanitizer run of the module's parallel code: the sampler, ols and the penalized
# fit, each on the OpenMP team and from a second Python thread, and ols and the penalized
# fit while Ctrl-C arrives. The extension is built with clang and runs on LLVM's OpenMP
# runtime with its race-detection tool (Archer), which tells ThreadSanitizer about the
# runtime's own synchronisation. Fails on any race report. The uninstrumented interpreter
# loads the ThreadSanitizer runtime through LD_PRELOAD: GCC's shared one (libtsan.so.2),
# since clang 14's shared runtime crashes at start-up on current systems; clang's
# instrumentation calls the same entry points.
#   scripts/tsan.sh PYTHON    PYTHON: the development environment's interpreter
# As root it installs what is missing through apt-get: clang, libomp-dev and libtsan2.
set -euo pipefail
cd "$(dirname "$0")/.."
# Absolute, but not resolved: a virtual environment's interpreter is a symbolic link.
tools=$(cd "$(dirname "$1")" && pwd)
python=$tools/$(basename "$1")
build=build/tsan

need=()
command -v clang++ >/dev/null 2>&1 || need+=(clang)
[ -f "$(clang++ -print-resource-dir 2>/dev/null)/../../libarcher.so" ] || need+=(libomp-dev)
# clang's ThreadSanitizer runtime (Debian packs it apart from clang since LLVM 14).
clang_major=$(clang++ -dumpversion 2>/dev/null | cut -d. -f1)
[ -f "$(clang++ -print-resource-dir 2>/dev/null)/lib/linux/libclang_rt.tsan-x86_64.a" ] ||
    need+=("libclang-rt-${clang_major:-14}-dev")
install() {
    if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
        echo "error: missing system packages: $*; install them with: sudo apt-get install $*" >&2
        exit 1
    fi
    echo "tsan: installing $* (about a minute)"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
[ ${#need[@]} -eq 0 ] || install "${need[@]}"
[ -n "$(ldconfig -p | grep 'libtsan\.so\.')" ] || install libtsan2
runtime=$(ldconfig -p | sed -n 's/^[[:space:]]*libtsan\.so\.[0-9]* .* => //p' | head -1)
# Archer sits beside the libomp that clang links, in LLVM's library directory.
archer=$(realpath "$(clang++ -print-resource-dir)/../../libarcher.so")

echo "tsan: building the extension with clang and ThreadSanitizer in $build (about 10 minutes on 2 busy cores; later runs rebuild only what changed)"
start=$(date +%s)
flags=-fsanitize=thread
# CMake and Ninja from the environment, or from PATH when the environment has none.
tool() { if [ -x "$tools/$1" ]; then echo "$tools/$1"; else command -v "$1"; fi; }
"$(tool cmake)" -S . -B "$build" -G Ninja -DCMAKE_MAKE_PROGRAM="$(tool ninja)" \
    -DPython_EXECUTABLE="$python" \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_MODULE_LINKER_FLAGS="$flags" >/dev/null
"$(tool cmake)" --build "$build" --target vexa_core
echo "tsan: built in $(($(date +%s) - start)) s; running the workload"

# Without address randomisation ThreadSanitizer finds its shadow memory where it expects it.
# The OpenMP runtime is not instrumented: ignore_noninstrumented_modules keeps its own calls
# into ThreadSanitizer's interceptors out (as Archer asks), and Archer reports its
# synchronisation instead.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then norandom=(setarch "$(uname -m)" -R); fi
log=$build/report.txt
start=$(date +%s)
status=0
env LD_PRELOAD="$runtime" OMP_TOOL_LIBRARIES="$archer" ARCHER_OPTIONS=verbose=1 \
    TSAN_OPTIONS="exitcode=66 ignore_noninstrumented_modules=1" OMP_NUM_THREADS=4 PYTHONPATH="$build" \
    "${norandom[@]}" "$python" - "$build" >"$log" 2>&1 <<'PY' || status=$?
import os
import signal
import subprocess
import sys
import threading

import numpy as np

import vexa_core as vc

assert os.path.dirname(os.path.abspath(vc.__file__)) == os.path.abspath(sys.argv[1]), vc.__file__
rng = np.random.default_rng(0)
X, y = rng.random((20_000, 8)), rng.random(20_000)
Phi = rng.random((5_000, 30))
R1, R2, _ = vc.build_penalty_matrices_nd([1, 1], [(0.0, 1.0)] * 2, 6)
Xs = np.c_[X[:, :2], X[:, :2] ** 2][:400]


def workload():
    vc.TournamentMCMC(n_chains=6, n_warmup=30, n_deep=30).fit(Xs, y[:400], R1, R2, 1e-3, 1e-3)
    vc.ols(X, y)  # column blocks of a C-ordered design, read in place
    vc.ols(np.asfortranarray(X), y)
    vc.fit_regularized_linear(Phi, y[:5_000], None, None, 0.0, 0.0, 1e-6)  # gathered rows
    vc.fit_regularized_linear(np.asfortranarray(Phi), y[:5_000])


workload()
second = threading.Thread(target=workload)  # a call from a second thread
second.start()
second.join()

# Ctrl-C during the fits: once with the default handler, once with one that returns.
big = np.lib.stride_tricks.sliding_window_view(rng.random(100_000 + 39), 40)
for handler in (signal.default_int_handler, lambda *_: None):
    signal.signal(signal.SIGINT, handler)
    for fit in (vc.ols, vc.fit_regularized_linear):
        subprocess.Popen(["sh", "-c", f"sleep 0.3; kill -INT {os.getpid()}"])
        try:
            fit(big, np.ones(100_000))
        except KeyboardInterrupt:
            pass
print("tsan workload done")
PY
echo "tsan: workload ran in $(($(date +%s) - start)) s (report: $log)"
if ! grep -q "Archer detected OpenMP application with TSan" "$log"; then
    cat "$log"
    echo "error: the OpenMP runtime did not load Archer; the run would miss OpenMP's synchronisation" >&2
    exit 1
fi
if [ "$status" -ne 0 ] || grep -q "WARNING: ThreadSanitizer" "$log" ||
    ! grep -q "tsan workload done" "$log"; then
    cat "$log"
    echo "error: ThreadSanitizer reported $(grep -c 'WARNING: ThreadSanitizer' "$log") problems (exit status $status)" >&2
    exit 1
fi
echo "tsan: no race reported"
