# Set-up, build and test of vexa_core. Every target installs what it needs.
#   make demo      set everything up and run the demo
#   make test      set everything up and run the native and Python tests
#   make sanitize  the same tests on an AddressSanitizer + UBSan build
#   make bench     vexa_core against NumPy/SciPy, side by side
#   make wheels    the sdist and repaired manylinux wheels for CPython 3.11 to 3.13 in dist/,
#                  each installed and smoke-tested in a fresh environment
#   make wheel-aarch64  the manylinux aarch64 wheel for CPython 3.11 in dist/, cross-built from
#                  the sdist and smoke-tested under qemu-aarch64-static in a fresh arm64 venv
#   make cross-test  cross-build for aarch64 and run the reference table and the fast
#                  tests under qemu-aarch64-static (installs the cross toolchain as root)
#   make package-test  build the sdist and wheel and install each into a fresh
#                  environment under the temporary directory (needs the package index)
#   make format    apply clang-format and ruff (format and safe lint fixes)
#   make lint      check formatting and lint without changing anything
# Variables: PYTHON (the interpreter; default the first supported one on PATH),
# PYTHONS (the interpreters `make wheels` builds for), WERROR=ON (compiler warnings
# in our code are errors, with any build target), CMAKE_ARGS (extra CMake arguments
# for every build, for example CMAKE_ARGS=-DVEXA_NATIVE=ON).

ifndef PYTHON
PYTHON := $(shell scripts/find-python.sh)
endif
ifeq ($(PYTHON),)
$(error no supported Python found (see the message above))
endif
PYTHON_VERSION := $(shell $(PYTHON) -c 'import sys; print("%d.%d" % sys.version_info[:2] if sys.version_info >= (3, 11) else "")')
ifeq ($(PYTHON_VERSION),)
$(error PYTHON=$(PYTHON) does not run or is older than Python 3.11)
endif
VENV   := .venv
PY     := $(VENV)/bin/python
JOBS   ?= 2
WERROR ?= OFF
# The build tools come from the virtual environment, so a machine needs only a compiler.
CMAKE  := $(VENV)/bin/cmake
CTEST  := $(VENV)/bin/ctest
CMAKE_FLAGS = -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
              -DPython_EXECUTABLE=$(abspath $(PY)) -DVEXA_WERROR=$(WERROR) \
              -DCMAKE_EXPORT_COMPILE_COMMANDS=ON $(CMAKE_ARGS)
# scikit-build-core reads the same extra arguments from the environment.
export CMAKE_ARGS

NATIVE_DIR := build/native
ASAN_DIR   := build/asan
ASAN_LIB    = $$(scripts/sanitizer-runtime.sh)
ASAN_ENV    = ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:abort_on_error=1 \
              UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# The development environment: the build requirements, the test, demo and benchmark
# extras and the wheel tools, all as pyproject.toml declares them.
DEV_SETS := build test demo bench wheels

.PHONY: all system-deps native-system-deps venv install native-configure native-build \
        native-test test demo bench sanitize wheels package-test format lint clean
all: test

system-deps:
	@scripts/ensure-system-deps.sh $(PYTHON)

native-system-deps:
	@scripts/ensure-system-deps.sh $(PYTHON) --native-tests

# One stamp per interpreter version: another PYTHON makes the environment afresh, and
# the native build directories, whose caches name the old interpreter, start afresh too.
$(VENV)/.deps-$(PYTHON_VERSION): pyproject.toml scripts/requirements.py
	$(if $(wildcard $@),,$(PYTHON) -m venv --clear $(VENV))
	$(if $(wildcard $@),,rm -f $(NATIVE_DIR)/CMakeCache.txt $(ASAN_DIR)/CMakeCache.txt)
	$(PY) scripts/requirements.py $(DEV_SETS) > $(VENV)/requirements.txt
	$(PY) -m pip install --quiet -r $(VENV)/requirements.txt
	touch $@

venv: system-deps $(VENV)/.deps-$(PYTHON_VERSION)

# Reinstalling is incremental: the wheel build keeps its directory under build/.
install: venv
	$(PY) -m pip install --quiet --no-build-isolation --no-deps \
	    -Ccmake.define.VEXA_WERROR=$(WERROR) .

# Also writes compile_commands.json for editors, linked at the top of the tree.
native-configure: venv native-system-deps
	$(CMAKE) -S . -B $(NATIVE_DIR) $(CMAKE_FLAGS) >/dev/null
	ln -sf $(NATIVE_DIR)/compile_commands.json compile_commands.json

native-build: native-configure
	$(CMAKE) --build $(NATIVE_DIR) --target vexa_energy_floor vexa_interrupt_cost -j $(JOBS)

native-test: native-configure
	$(CMAKE) --build $(NATIVE_DIR) --target vexa_core_tests -j $(JOBS)
	$(CTEST) --test-dir $(NATIVE_DIR) --output-on-failure -j $(JOBS)

test: install native-test
	$(PY) -m pytest

demo: install
	$(PY) examples/demo.py

bench: install native-build
	$(PY) bench/run.py --floor-binary $(NATIVE_DIR)/vexa_energy_floor \
	    --interrupt-binary $(NATIVE_DIR)/vexa_interrupt_cost

# The interpreters the wheels are built for: versions, found on PATH or among pyenv's
# versions, or paths of interpreters.
PYTHONS ?= 3.11 3.12 3.13
wheels: venv
	TOOLS=$(abspath $(VENV))/bin scripts/build-wheels.sh $(PYTHONS)

# Apart from `make wheels`: the cross build and the emulated smoke test take minutes.
.PHONY: wheel-aarch64
wheel-aarch64: venv
	TOOLS=$(abspath $(VENV))/bin scripts/build-wheel-aarch64.sh

# The aarch64 build under emulation: the reference table against x86-64, then the fast
# tests (scripts/cross-test.sh; the cross compiler and arm64 CPython come from Debian).
.PHONY: cross-test
cross-test: venv
	TOOLS=$(abspath $(VENV))/bin JOBS=$(JOBS) WERROR=$(WERROR) scripts/cross-test.sh

package-test: venv
	VEXA_TEST_PACKAGING=1 $(PY) -m pytest -p no:cacheprovider tests/test_packaging.py

# The whole suite against a sanitized build of the extension and the native tests.
sanitize: venv native-system-deps
	@scripts/sanitizer-runtime.sh >/dev/null
	$(CMAKE) -S . -B $(ASAN_DIR) $(CMAKE_FLAGS) -DVEXA_SANITIZE=ON >/dev/null
	$(CMAKE) --build $(ASAN_DIR) -j $(JOBS)
	$(ASAN_ENV) $(CTEST) --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)
	$(ASAN_ENV) LD_PRELOAD="$(ASAN_LIB)" PYTHONPATH=$(abspath $(ASAN_DIR)) \
	    VEXA_CORE_EXPECT_BUILD=$(abspath $(ASAN_DIR)) $(PY) -m pytest -p no:cacheprovider

# ThreadSanitizer run of the sampler, ols and the penalized fit on LLVM's OpenMP runtime with
# Archer, in build/tsan (installs clang and libomp-dev as root); fails on any race report.
.PHONY: tsan
tsan: venv
	scripts/tsan.sh $(PY)

# The formatters at the versions pyproject.toml pins, so that everyone formats alike
# (.pre-commit-config.yaml pins the same ones).
CXX_FILES     = $$(find src tests bench -name '*.cpp' -o -name '*.hpp')

$(VENV)/.format-tools: pyproject.toml | $(VENV)/.deps-$(PYTHON_VERSION)
	$(PY) scripts/requirements.py format > $(VENV)/format-requirements.txt
	$(PY) -m pip install --quiet -r $(VENV)/format-requirements.txt
	touch $@

format: $(VENV)/.format-tools
	$(VENV)/bin/clang-format -i $(CXX_FILES)
	$(VENV)/bin/ruff format .
	$(VENV)/bin/ruff check --fix .

lint: $(VENV)/.format-tools
	$(VENV)/bin/clang-format --dry-run --Werror $(CXX_FILES)
	$(VENV)/bin/ruff format --check .
	$(VENV)/bin/ruff check .

clean:
	rm -rf build dist .venv compile_commands.json
