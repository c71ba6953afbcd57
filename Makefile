# Set-up, build and test of vexa_core. Every target installs what it needs, and says
# what it is doing and how long each step usually takes on a 2-core machine.
#   make demo      build and install the extension, then run the demo (build
#                  requirements, NumPy and matplotlib only)
#   make test      the native and Python tests, against one build in build/native
#   make dev       build the extension and the native tests in build/native, without
#                  link-time optimisation: the inner loop of development. Rerun one test
#                  file against it with `make dev-test TESTS=tests/test_stats.py`
#   make sanitize  the same tests on a Debug (assertions on) AddressSanitizer + UBSan build
#   make clang-test  the same tests on a Clang build in build/clang (installs clang and
#                  libomp-dev as root)
#   make bench     vexa_core against NumPy/SciPy, side by side (BEFORE=COMMIT also times
#                  that earlier commit, built once under build/before/, against this build)
#   make wheels    the release files in dist/: `make wheels-x86_64`, then `make wheel-aarch64`
#                  (about 25 min more on 2 cores)
#   make wheels-x86_64  the sdist and repaired manylinux x86-64 wheels for CPython 3.11 to 3.13
#                  in dist/, each installed and smoke-tested in a fresh environment (what CI builds)
#   make wheel-aarch64  the manylinux aarch64 wheel for CPython 3.11 in dist/, cross-built from
#                  the sdist there and smoke-tested under qemu-aarch64-static in a fresh arm64 venv
#   make cross-test  cross-build for aarch64 and run the reference table and the fast
#                  tests under qemu-aarch64-static (installs the cross toolchain as root)
#   make package-test  the packaging checks against the sdist and this interpreter's
#                  wheel, built into dist/ first
#   make format    apply clang-format and ruff (format and safe lint fixes)
#   make lint      check formatting and lint without changing anything
# Variables: PYTHON (the interpreter; default the first supported one on PATH),
# PYTHONS (the interpreters `make wheels-x86_64` builds for), WERROR=ON (compiler warnings
# in our code are errors, with any build target), CMAKE_ARGS (extra CMake arguments
# for every build, for example CMAKE_ARGS=-DVEXA_NATIVE=ON), TESTS (what `make dev-test`
# runs; default the whole Python suite).

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
TESTS  ?=
# CMake and Ninja are the ones on PATH when those are new enough, else the virtual
# environment gets its own, so a machine needs only a compiler.
tool    = $$(if [ -x $(VENV)/bin/$(1) ]; then echo $(abspath $(VENV))/bin/$(1); else command -v $(1); fi)
CMAKE  := $(call tool,cmake)
CTEST  := $(call tool,ctest)
CMAKE_FLAGS = -G Ninja -DCMAKE_MAKE_PROGRAM=$(call tool,ninja) \
              -DPython_EXECUTABLE=$(abspath $(PY)) -DVEXA_WERROR=$(WERROR) \
              -DCMAKE_EXPORT_COMPILE_COMMANDS=ON $(CMAKE_ARGS)
# scikit-build-core reads the same extra arguments from the environment.
export CMAKE_ARGS
# A build shows "step N of M" lines and its warnings; the whole log goes to build/logs.
PROGRESS = $(PY) scripts/progress.py --log build/logs/$@.log --
STEP     = @echo "==> $@:"

# The one development build: the extension and the native tests, Release without
# link-time optimisation (which costs most of a one-file rebuild). `make test`, `make dev`
# and the benchmark's native probes share it.
NATIVE_DIR := build/native
ASAN_DIR   := build/asan
CLANG_DIR  := build/clang
NO_LTO      = -DCMAKE_BUILD_TYPE=Release -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF
ASAN_LIB    = $$(scripts/sanitizer-runtime.sh)
ASAN_ENV    = ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:abort_on_error=1 \
              UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# $(call configure,DIR,FLAGS): configures DIR when it has no build files yet or was
# configured with other flags; otherwise the build itself reruns CMake when a CMake file changes.
configure   = @flags='$(CMAKE_FLAGS) $(2)'; \
              if [ ! -f $(1)/build.ninja ] || [ "$$(cat $(1)/.configured-with 2>/dev/null)" != "$$flags" ]; then \
                  echo "==> configuring $(1) (about 10 s)"; \
                  mkdir -p $(1); \
                  eval $(CMAKE) -S . -B $(1) "$$flags" > $(1)/configure.log || { cat $(1)/configure.log; exit 1; }; \
                  grep -h 'kernel paths' $(1)/configure.log; echo "$$flags" > $(1)/.configured-with; \
              fi
# The suite against the extension in a build directory, never an installed one.
PYTEST_IN   = PYTHONPATH=$(abspath $(1)) VEXA_CORE_EXPECT_BUILD=$(abspath $(1)) \
              $(PY) -m pytest -p no:cacheprovider

# The environment grows by requirement sets, each declared once in pyproject.toml and
# installed when a target first needs it: `build` (the build backend's requirements),
# `runtime` (NumPy), `demo` (matplotlib), `test` (pytest and the test suite's peers),
# `bench` and `wheels` (the release tools). `make demo` installs only the first three.
SET := $(VENV)/.set-$(PYTHON_VERSION)-
SET_MINUTES_build   := about 20 s
SET_MINUTES_runtime := about 10 s
SET_MINUTES_demo    := about 15 s
SET_MINUTES_test    := about 40 s
SET_MINUTES_bench   := about 10 s
SET_MINUTES_wheels  := about 10 s
SET_MINUTES_format  := about 10 s

.PHONY: all system-deps native-system-deps venv install native-configure native-build \
        native-test dev dev-test test demo bench sanitize clang-test wheels wheels-x86_64 \
        package-test \
        format lint clean
all: test

system-deps:
	@scripts/ensure-system-deps.sh $(PYTHON)

native-system-deps:
	@scripts/ensure-system-deps.sh $(PYTHON) --native-tests

# One environment per interpreter version: another PYTHON makes it afresh, and the
# build directories, whose caches name the old interpreter, start afresh too.
$(VENV)/.python-$(PYTHON_VERSION):
	@echo "==> creating $(VENV) for Python $(PYTHON_VERSION) (about 5 s)"
	$(PYTHON) -m venv --clear $(VENV)
	rm -f $(NATIVE_DIR)/CMakeCache.txt $(ASAN_DIR)/CMakeCache.txt $(CLANG_DIR)/CMakeCache.txt
	touch $@

$(SET)%: pyproject.toml scripts/requirements.py | $(VENV)/.python-$(PYTHON_VERSION)
	@echo "==> installing the '$*' requirements into $(VENV) ($(SET_MINUTES_$*))"
	@$(PY) scripts/requirements.py --skip-tools-on-path $* > $(VENV)/requirements-$*.txt
	@$(PY) -m pip install --quiet -r $(VENV)/requirements-$*.txt
	touch $@

# What building the extension needs; `venv` is kept as the name of the whole toolbox.
build-env: system-deps $(SET)build $(SET)runtime
venv: build-env $(SET)test $(SET)demo $(SET)bench $(SET)wheels
.PHONY: build-env

# Reinstalling is incremental: the wheel build keeps its directory under build/.
install: build-env
	$(STEP) "building and installing the extension with pip (about 7 min on 2 cores the first time, seconds after)"
	@$(PROGRESS) $(PY) -m pip install -v --no-build-isolation --no-deps \
	    -Ccmake.define.VEXA_WERROR=$(WERROR) .

# Also writes compile_commands.json for editors, linked at the top of the tree.
native-configure: build-env $(SET)test native-system-deps
	$(call configure,$(NATIVE_DIR),$(NO_LTO))
	ln -sf $(NATIVE_DIR)/compile_commands.json compile_commands.json

dev: native-configure
	$(STEP) "building the extension and the native tests in $(NATIVE_DIR) (about 8 min on 2 cores the first time; a touched .cpp about 5 s)"
	@$(PROGRESS) $(CMAKE) --build $(NATIVE_DIR) -j $(JOBS)

dev-test: dev
	$(STEP) "pytest $(or $(TESTS),the whole suite) against $(NATIVE_DIR)"
	$(call PYTEST_IN,$(NATIVE_DIR)) $(TESTS)

native-build: native-configure
	@$(PROGRESS) $(CMAKE) --build $(NATIVE_DIR) --target vexa_energy_floor vexa_interrupt_cost vexa_team_cost -j $(JOBS)

native-test: dev
	$(STEP) "the native tests (about 30 s)"
	$(CTEST) --test-dir $(NATIVE_DIR) --output-on-failure -j $(JOBS)

test: native-test
	$(STEP) "the Python suite against $(NATIVE_DIR) (about 4 min)"
	$(call PYTEST_IN,$(NATIVE_DIR))

demo: install $(SET)demo
	$(STEP) "running examples/demo.py"
	$(PY) examples/demo.py

bench: install native-build $(SET)test $(SET)bench
	$(PY) bench/run.py --floor-binary $(NATIVE_DIR)/vexa_energy_floor \
	    --interrupt-binary $(NATIVE_DIR)/vexa_interrupt_cost \
	    --team-binary $(NATIVE_DIR)/vexa_team_cost $(if $(BEFORE),--before $(BEFORE))
	$(PY) bench/interrupt_latency.py
	env -u OPENBLAS_CORETYPE -u OPENBLAS_L2_SIZE $(PY) bench/ols_shapes.py

# The interpreters the wheels are built for: versions, found on PATH or among pyenv's
# versions, or paths of interpreters.
# The core library's objects do not depend on the interpreter: ccache (installed as root,
# optional otherwise) compiles them once for all the wheels.
PYTHONS ?= 3.11 3.12 3.13
wheels-x86_64: build-env $(SET)wheels
	@scripts/ensure-system-deps.sh $(PYTHON) --wheels || echo "==> without ccache each wheel compiles the core library itself"
	TOOLS=$(abspath $(VENV))/bin scripts/build-wheels.sh $(PYTHONS)

wheels: wheels-x86_64
	$(MAKE) wheel-aarch64

# The sdist and this interpreter's wheel, as `make wheels` makes them, checked from outside.
package-test: $(SET)test
	$(MAKE) wheels-x86_64 PYTHONS=$(PYTHON_VERSION)
	$(STEP) "the packaging checks against dist/"
	VEXA_TEST_DIST=$(abspath dist) $(PY) -m pytest -p no:cacheprovider tests/test_packaging.py

# From the sdist in dist/ (made first when missing): the cross build and the emulated smoke
# test take about 25 min on 2 cores.
.PHONY: wheel-aarch64
wheel-aarch64: venv
	TOOLS=$(abspath $(VENV))/bin scripts/build-wheel-aarch64.sh

# The aarch64 build under emulation: the reference table against x86-64, then the fast
# tests (scripts/cross-test.sh; the cross compiler and arm64 CPython come from Debian).
.PHONY: cross-test
cross-test: venv
	TOOLS=$(abspath $(VENV))/bin JOBS=$(JOBS) WERROR=$(WERROR) scripts/cross-test.sh

# The whole suite against a Debug build (Eigen's and our assertions on) of the extension and
# the native tests under AddressSanitizer and UBSan; -O2 keeps the suite's run time bearable.
sanitize: build-env $(SET)test native-system-deps
	@scripts/sanitizer-runtime.sh >/dev/null
	$(call configure,$(ASAN_DIR),-DVEXA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O2")
	$(STEP) "building $(ASAN_DIR) (about 8 min on 2 cores)"
	@$(PROGRESS) $(CMAKE) --build $(ASAN_DIR) -j $(JOBS)
	$(STEP) "the native tests under the sanitizers (about 1 min)"
	$(ASAN_ENV) $(CTEST) --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)
	$(STEP) "the Python suite under the sanitizers (about 8 min)"
	$(ASAN_ENV) LD_PRELOAD="$(ASAN_LIB)" $(call PYTEST_IN,$(ASAN_DIR))

# The same suites on a Clang build, the compiler users of other platforms meet; its OpenMP
# runtime is LLVM's libomp.
clang-test: build-env $(SET)test native-system-deps
	@scripts/ensure-system-deps.sh $(PYTHON) --clang
	$(call configure,$(CLANG_DIR),$(NO_LTO) -DCMAKE_CXX_COMPILER=clang++)
	$(STEP) "building $(CLANG_DIR) (about 8 min on 2 cores)"
	@$(PROGRESS) $(CMAKE) --build $(CLANG_DIR) -j $(JOBS)
	$(STEP) "the native tests (about 30 s)"
	$(CTEST) --test-dir $(CLANG_DIR) --output-on-failure -j $(JOBS)
	$(STEP) "the Python suite against $(CLANG_DIR) (about 4 min)"
	$(call PYTEST_IN,$(CLANG_DIR))

# ThreadSanitizer run of the sampler, ols and the penalized fit on LLVM's OpenMP runtime with
# Archer, in build/tsan (installs clang and libomp-dev as root); fails on any race report.
.PHONY: tsan
tsan: build-env $(SET)test
	scripts/tsan.sh $(PY)

# The formatters at the versions pyproject.toml pins, so that everyone formats alike
# (.pre-commit-config.yaml pins the same ones).
CXX_FILES     = $$(find src tests bench -name '*.cpp' -o -name '*.hpp' -o -name '*.inc')

format: $(SET)format
	$(VENV)/bin/clang-format -i $(CXX_FILES)
	$(VENV)/bin/ruff format .
	$(VENV)/bin/ruff check --fix .

lint: $(SET)format
	$(VENV)/bin/clang-format --dry-run --Werror $(CXX_FILES)
	$(VENV)/bin/ruff format --check .
	$(VENV)/bin/ruff check .

clean:
	rm -rf build dist .venv compile_commands.json
