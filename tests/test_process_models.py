"""The module in the process models real programs use: forked children, sub-interpreters,
Ctrl-C during long calls, and memory limits of the process. Anything that could hang runs
in a subprocess in its own session, killed with its children when it overruns."""

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

# A hang limit, generous enough for the Debug sanitizer build on a busy machine.
HANG_LIMIT_S = 600.0
# An AddressSanitizer build, which the sanitizer run preloads into the interpreter.
SANITIZED = "asan" in os.environ.get("LD_PRELOAD", "")

# Forks the way each test's program does; the 3.12+ warning about forking a
# process that has threads (the thread team) is what those programs accept. A suite run
# from a background job starts its children with SIGINT ignored, and Python then leaves
# Ctrl-C ignored: the children take Python's own handler back.
PRELUDE = textwrap.dedent("""
    import os, signal, sys, warnings
    signal.signal(signal.SIGINT, signal.default_int_handler)
    warnings.filterwarnings("ignore", message=".*multi-threaded.*fork", category=DeprecationWarning)
    import numpy as np
    import vexa_core as vc
""")


def start(code: str, env: dict[str, str] | None = None) -> subprocess.Popen[str]:
    return subprocess.Popen(
        [sys.executable, "-c", PRELUDE + textwrap.dedent(code)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        start_new_session=True,
        env={**os.environ, **(env or {})},
    )


def kill_group(proc: subprocess.Popen[str]) -> None:
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def run(code: str, env: dict[str, str] | None = None) -> str:
    """Runs `code` after the prelude and returns its output; fails on an error or a hang."""
    with start(code, env) as proc:
        try:
            out, err = proc.communicate(timeout=HANG_LIMIT_S)
        except subprocess.TimeoutExpired:
            kill_group(proc)
            out, err = proc.communicate()
            pytest.fail(f"hung for {HANG_LIMIT_S} s\nstdout:\n{out}\nstderr:\n{err}")
    assert proc.returncode == 0, err
    return out


# --- fork ---------------------------------------------------------------------------------

# The parent computes every reference after using its thread team, so the children
# inherit a process whose team has started.
FORK_REFERENCES = """
    rng = np.random.default_rng(4)
    X, y = rng.random((300, 4)), rng.random(300)
    A, b = rng.random((3000, 300)), rng.random(3000)

    def threads():
        with open("/proc/self/status") as f:
            return int(next(l.split()[1] for l in f if l.startswith("Threads:")))

    def results(_=None):
        fit = vc.TournamentMCMC(n_chains=6, n_warmup=40, n_deep=60).fit(X, y)
        # A's products take the team, A's rows are gathered and Fortran columns are not.
        return (fit.beta_mcmc.tobytes(), fit.energy, vc.ols(A, b).tobytes(),
                vc.fit_regularized_linear(A, b).tobytes(),
                vc.fit_regularized_linear(np.asfortranarray(A), b).tobytes(),
                vc.build_penalty_matrices_nd([2, 2], [(0, 1), (0, 1)])[0].tobytes())

    reference = results()
    assert threads() > 1, "the parent should have started its thread team"
"""

FORK_ROUTES = {
    "multiprocessing_fork_pool": """
        import multiprocessing
        with multiprocessing.get_context("fork").Pool(2) as pool:
            assert pool.map(results, range(4)) == [reference] * 4
    """,
    "default_process_pool_executor": """
        from concurrent.futures import ProcessPoolExecutor
        with ProcessPoolExecutor(2) as pool:
            assert list(pool.map(results, range(4))) == [reference] * 4
    """,
    "fork_inside_fork": """
        def child(depth):
            ok = results() == reference and threads() == 1
            if depth == 1:
                os._exit(0 if ok else 3)
            pid = os.fork()
            if pid == 0:
                child(depth + 1)
            _, status = os.waitpid(pid, 0)
            os._exit(0 if ok and os.waitstatus_to_exitcode(status) == 0 else 4)

        pid = os.fork()
        if pid == 0:
            child(0)
        _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0, status
    """,
}


@pytest.mark.parametrize("route", sorted(FORK_ROUTES))
def test_forked_children_compute_the_parents_bits(route: str) -> None:
    code = "".join(
        textwrap.dedent(part)
        for part in (
            FORK_REFERENCES,
            FORK_ROUTES[route],
            """
        # The parent keeps its team after the forks.
        assert results() == reference and threads() > 1
        print("ok")
    """,
        )
    )
    assert run(code, env={"OMP_NUM_THREADS": "2"}).split() == ["ok"]


def test_a_child_forked_by_a_handler_during_a_parallel_call_finishes_it() -> None:
    # The child resumes inside the parallel loop, without the workers that had
    # started some of its indices: it runs those itself and gets the same bits.
    code = """
        import signal
        rng = np.random.default_rng(6)
        # Long enough (a good part of a second) for the alarm to arrive mid-call.
        X, y = rng.random((20000, 10)), rng.random(20000)
        settings = vc.TournamentMCMC(n_chains=8, n_warmup=300, n_deep=3000)
        reference = settings.fit(X, y).beta_mcmc.tobytes()
        pids = []
        signal.signal(signal.SIGALRM, lambda *_: pids.append(os.fork()))
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        same = settings.fit(X, y).beta_mcmc.tobytes() == reference
        signal.setitimer(signal.ITIMER_REAL, 0)  # an alarm after the call would end the process
        if pids == [0]:
            os._exit(0 if same else 3)
        print(same, [os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) for pid in pids])
    """
    assert run(code, env={"OMP_NUM_THREADS": "2"}).split() == ["True", "[0]"]


# --- sub-interpreters ---------------------------------------------------------------------

SUBINTERPRETER_IMPORT = """
    import os
    try:
        import vexa_core
        os.write(1, b"imported\\n")
    except ImportError as e:
        os.write(1, ("ImportError: %s\\n" % e).encode())
"""


def test_sub_interpreter_import_is_refused_and_main_import_unchanged() -> None:
    pytest.importorskip("_testcapi")
    code = f"""
        import importlib, _testcapi
        sub = {textwrap.dedent(SUBINTERPRETER_IMPORT)!r}
        sys.modules.pop("vexa_core")
        assert _testcapi.run_in_subinterp(sub) == 0     # before the main interpreter's import
        again = importlib.import_module("vexa_core")
        assert again is vc and vc.mad([1.0, 2.0, 4.0]) == 1.0
        assert _testcapi.run_in_subinterp(sub) == 0     # and after it
        print("doc:", vc.__doc__)
    """
    lines = run(code).splitlines()
    refusal = (
        "ImportError: vexa_core supports only the main interpreter; "
        "it cannot be imported in a sub-interpreter"
    )
    assert lines == [refusal, refusal, "doc: VEXA-P performans-kritik cekirdegi (C++/Eigen)."]


# --- Ctrl-C -------------------------------------------------------------------------------

# An n x p float64 design of overlapping windows of one array: n + p - 1 doubles in memory.
WINDOWS = (
    "np.lib.stride_tricks.sliding_window_view(np.random.default_rng(0).random({n} + {p} - 1), {p})"
)

LONG_CALLS = {
    "penalty_1d_grid": "vc.smoothness_penalty_matrices_1d(5, 0.0, 1.0, 2**31 - 1)",
    "penalty_nd_grid": "vc.build_penalty_matrices_nd([3, 3], [(0, 1)] * 2, 2**31 - 1)",
    "warmup": "vc.TournamentMCMC(n_chains=3, n_warmup=2**31 - 1).fit(X, y)",
    "deep_phase": "vc.TournamentMCMC(n_chains=3, n_warmup=5, n_deep=2**31 - 1).fit(X, y)",
    # More chains than threads: the calling thread ends up waiting for the others.
    "many_chains": "vc.TournamentMCMC(n_chains=64, n_warmup=2**31 - 1).fit(X, y)",
    # One call takes seconds; the loop keeps the program busy until the signal comes.
    "ols": f"while True: vc.ols({WINDOWS.format(n=4 * 10**6, p=40)}, np.ones(4 * 10**6))",
    "penalized_fit_products": (
        "while True: vc.fit_regularized_linear("
        f"{WINDOWS.format(n=4 * 10**6, p=300)}, np.ones(4 * 10**6))"
    ),
}


@pytest.mark.parametrize("call", sorted(LONG_CALLS))
def test_sigint_interrupts_a_long_call(call: str) -> None:
    proc = start(
        f"""
        rng = np.random.default_rng(0)
        X, y = rng.random((200, 3)), rng.random(200)
        print("ready", flush=True)
        try:
            {LONG_CALLS[call]}
            print("finished", flush=True)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        print(vc.mad([1.0, 2.0, 4.0]), flush=True)
    """,
        env={"OMP_NUM_THREADS": "2"},
    )
    watchdog = threading.Timer(HANG_LIMIT_S, kill_group, [proc])
    watchdog.start()
    with proc:
        try:
            assert proc.stdout is not None and proc.stderr is not None
            assert proc.stdout.readline() == "ready\n"
            time.sleep(1.0)  # well inside the call
            proc.send_signal(signal.SIGINT)
            reaction = proc.stdout.readline()
            rest, err = proc.stdout.read(), proc.stderr.read()
            proc.wait()
        finally:
            watchdog.cancel()
            kill_group(proc)
    assert reaction == "interrupted\n", err
    assert rest == "1.0\n" and proc.returncode == 0, err


@pytest.mark.parametrize("signal_name", ["SIGALRM", "SIGINT"])
@pytest.mark.parametrize("fit", ["ols", "fit_regularized_linear"])
def test_a_handler_that_changes_the_design_leaves_the_call_its_design(
    fit: str, signal_name: str
) -> None:
    # The handler doubles the design that the call reads in place, and returns. A SIGALRM
    # handler runs once the call is done; a SIGINT handler that returns lets the call
    # start again on its own copy. Either way the call fits the design it was given.
    # Long enough (about a second) that the signal, sent 50 ms in, arrives mid-call. Under
    # AddressSanitizer the fit runs about 35 times slower, so a tenth of the rows is as long.
    rows = 20_000 if SANITIZED else 200_000
    code = f"""
        import signal, time
        base = np.random.default_rng(0).random({rows} + 299)
        X, y = np.lib.stride_tricks.sliding_window_view(base, 300), np.ones({rows})
        reference = vc.{fit}(X, y).tobytes()
        ran = []
        signal.signal(signal.{signal_name}, lambda *_: ran.append(base.__imul__(2)))
        kill = f"sleep 0.05; kill -{signal_name[3:]} {{os.getpid()}}"
        os.posix_spawnp("sh", ["sh", "-c", kill], os.environ)
        start = time.perf_counter()
        result = vc.{fit}(X, y).tobytes()
        print(time.perf_counter() - start > 0.15, len(ran), result == reference)
    """
    assert run(code).split() == ["True", "1", "True"]


def test_calls_from_other_threads_run_to_the_end() -> None:
    code = """
        import signal, threading, time
        rng = np.random.default_rng(1)
        X, y = rng.random((100, 3)), rng.random(100)
        settings = vc.TournamentMCMC(n_chains=4, n_warmup=3000, n_deep=3000)
        reference = settings.fit(X, y).beta_mcmc.tobytes()
        out = {}

        def worker():
            # Raised while the fit runs; only the main thread handles it, afterwards.
            signal.raise_signal(signal.SIGINT)
            out["beta"] = settings.fit(X, y).beta_mcmc.tobytes()

        thread = threading.Thread(target=worker)
        try:
            thread.start()
            thread.join()
            time.sleep(5)  # the pending KeyboardInterrupt surfaces here at the latest
            print("not interrupted")
        except KeyboardInterrupt:
            thread.join()
        print(out["beta"] == reference)
    """
    assert run(code).split() == ["True"]


# --- memory limits ------------------------------------------------------------------------

# Address-space limits and AddressSanitizer's shadow memory do not mix.
needs_plain_build = pytest.mark.skipif(SANITIZED, reason="address-space limit under a sanitizer")

CAPPED_CALLS = """
    rng = np.random.default_rng(5)
    X, y = rng.random((40000, 20)), rng.random(40000)
    Xs, ys = rng.random((500, 8)), rng.random(500)
    calls = {
        "sampler": lambda: vc.TournamentMCMC().fit(Xs, ys).beta_mcmc,
        "ols": lambda: vc.ols(X, y),
        "penalized": lambda: vc.fit_regularized_linear(X, y, R1=np.eye(20), gamma1=0.1),
    }
"""


@needs_plain_build
@pytest.mark.parametrize("headroom_mib", [4, 100])
@pytest.mark.parametrize("thread", ["main", "new"])
def test_a_memory_cap_narrows_the_team_and_never_ends_the_process(
    headroom_mib: int, thread: str
) -> None:
    calls = textwrap.dedent(CAPPED_CALLS)
    reference = run(calls + "print(*(call().tobytes().hex() for call in calls.values()))")
    code = calls + textwrap.dedent(f"""
        import resource, threading
        with open("/proc/self/status") as f:
            used = int(next(l.split()[1] for l in f if l.startswith("VmSize:"))) * 1024
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        out, capped = [], threading.Event()

        def calls_under_cap():
            capped.wait()
            for call in calls.values():
                try:
                    out.append(call().tobytes().hex())
                except MemoryError:
                    out.append("MemoryError")

        # The new thread exists before the cap; its first call into the module comes after.
        worker = threading.Thread(target=calls_under_cap)
        if "{thread}" == "new":
            worker.start()
        resource.setrlimit(resource.RLIMIT_AS, (used + ({headroom_mib} << 20), hard))
        capped.set()
        if "{thread}" == "main":
            calls_under_cap()
        else:
            worker.join()
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        # Usable, with every thread it wants, once the cap is lifted.
        out += [call().tobytes().hex() for call in calls.values()]
        print(*out)
    """)
    expected = reference.split()
    got = run(code, env={"OMP_NUM_THREADS": "16"}).split()
    assert got[3:] == expected
    assert all(g in (e, "MemoryError") for g, e in zip(got[:3], expected, strict=True))


@needs_plain_build
@pytest.mark.parametrize("layout", ["C", "F"])
def test_a_wide_penalized_fit_needs_a_few_p_by_p_matrices_at_most(layout: str) -> None:
    # Peak resident memory of the call beyond its arguments, in units of the p x p system.
    code = f"""
        import resource
        rng = np.random.default_rng(8)
        p = 1200
        Phi, y = np.asarray(rng.random((1300, p)), order="{layout}"), rng.random(1300)
        R = np.eye(p)
        vc.fit_regularized_linear(Phi[:, :40], y, R[:40, :40], None, 1e-3)  # starts the team
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        vc.fit_regularized_linear(Phi, y, R, None, 1e-3)
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        print((after - before) * 1024 / (p * p * 8))
    """
    assert float(run(code, env={"OMP_NUM_THREADS": "2"})) <= 4.0


def test_request_above_the_address_space_limit_is_refused_before_any_work() -> None:
    # The limit is set so that one of boundary_reduce_1d's two p x p matrices
    # still fits but both do not: only a check against RLIMIT_AS refuses the
    # request before the first one is allocated and filled.
    code = """
        import resource
        with open("/proc/self/status") as f:
            used = int(next(l.split()[1] for l in f if l.startswith("VmSize:"))) * 1024
        limit = 3 * used + (512 << 20)
        p = int(((1.2 * limit) / 16) ** 0.5)
        resource.setrlimit(resource.RLIMIT_AS, (limit, resource.getrlimit(resource.RLIMIT_AS)[1]))
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        try:
            vc.boundary_reduce_1d(p - 1, 0.0, 1.0)
            print("allocated")
        except MemoryError:
            grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
            print("refused", grown < 64 * 1024)
        print(vc.boundary_reduce_1d(2, 0.0, 1.0)[2, 2])
    """
    assert run(code).split() == ["refused", "True", "4.0"]


@pytest.mark.parametrize("fit", ["ols", "fit_regularized_linear"])
def test_float64_design_is_read_where_it_lies(fit: str) -> None:
    # The view holds 16 MB; a copy of its 2,000,000 x 40 entries would take 640 MB.
    code = f"""
        import resource
        X, y = {WINDOWS.format(n=2 * 10**6, p=40)}, np.ones(2 * 10**6)
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        vc.{fit}(X, y)
        print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) >> 10)
    """
    assert int(run(code)) < 200
