# Set-up, build and test of vexa_core. Every target installs what it needs.
#   make demo      set everything up and run the demo
#   make test      set everything up and run the native and Python tests
#   make sanitize  the same tests on an AddressSanitizer + UBSan build
#   make bench     vexa_core against NumPy/SciPy, side by side
#   make package-test  build the sdist and wheel and install each into a fresh
#                  environment under the temporary directory (needs the package index)
#   make format    apply clang-format and ruff (format and safe lint fixes)
#   make lint      check formatting and lint without changing anything
#   WERROR=ON      with any build target: compiler warnings in our code are errors

PYTHON ?= python3.11
VENV   := .venv
PY     := $(VENV)/bin/python
JOBS   ?= 2
WERROR ?= OFF
PYBIND11_DIR = $$($(PY) -m pybind11 --cmakedir)
# The build tools come from the virtual environment, so a machine needs only a compiler.
CMAKE  := $(VENV)/bin/cmake
CTEST  := $(VENV)/bin/ctest
CMAKE_FLAGS = -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV))/bin/ninja \
              -DPython_EXECUTABLE=$(abspath $(PY)) -Dpybind11_DIR=$(PYBIND11_DIR) \
              -DVEXA_WERROR=$(WERROR) -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

NATIVE_DIR := build/native
ASAN_DIR   := build/asan
ASAN_LIB    = $$(c++ -print-file-name=libasan.so) $$(c++ -print-file-name=libstdc++.so.6)
ASAN_ENV    = ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:abort_on_error=1 \
              UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: all system-deps venv install native-configure native-build native-test test demo bench \
        sanitize package-test format lint clean
all: test

system-deps:
	@scripts/ensure-system-deps.sh

$(VENV)/.deps-installed: pyproject.toml Makefile
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install --quiet "scikit-build-core>=0.10" "pybind11>=3.1,<3.2" \
	    "numpy>=1.7" "pytest>=7" "hypothesis>=6" "scipy>=1.7" "mypy>=1.8" "threadpoolctl>=3" \
	    "matplotlib>=3.5" "cmake>=3.18" "ninja" "dask[distributed]>=2023.1"
	touch $@

venv: system-deps $(VENV)/.deps-installed

# Reinstalling is incremental: the wheel build keeps its directory under build/.
install: venv
	$(PY) -m pip install --quiet --no-build-isolation --no-deps \
	    -Ccmake.define.VEXA_WERROR=$(WERROR) .

# Also writes compile_commands.json for editors, linked at the top of the tree.
native-configure: venv
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
	-$(PY) -m pip install --quiet "matplotlib>=3.5"
	$(PY) examples/demo.py

bench: install native-build
	$(PY) bench/run.py --floor-binary $(NATIVE_DIR)/vexa_energy_floor \
	    --interrupt-binary $(NATIVE_DIR)/vexa_interrupt_cost

package-test: venv
	VEXA_TEST_PACKAGING=1 $(PY) -m pytest -p no:cacheprovider tests/test_packaging.py

# The whole suite against a sanitized build of the extension and the native tests.
sanitize: venv
	$(CMAKE) -S . -B $(ASAN_DIR) $(CMAKE_FLAGS) -DVEXA_SANITIZE=ON >/dev/null
	$(CMAKE) --build $(ASAN_DIR) -j $(JOBS)
	$(ASAN_ENV) $(CTEST) --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)
	$(ASAN_ENV) LD_PRELOAD="$(ASAN_LIB)" PYTHONPATH=$(abspath $(ASAN_DIR)) \
	    VEXA_CORE_EXPECT_BUILD=$(abspath $(ASAN_DIR)) $(PY) -m pytest -p no:cacheprovider

# The formatters at pinned versions, so that everyone formats alike
# (.pre-commit-config.yaml pins the same ones).
FORMAT_TOOLS := "clang-format==21.1.8" "ruff==0.17.6"
CXX_FILES     = $$(find src tests bench -name '*.cpp' -o -name '*.hpp')

$(VENV)/.format-tools: Makefile | $(VENV)/.deps-installed
	$(PY) -m pip install --quiet $(FORMAT_TOOLS)
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
