"""The examples run as documented: pool and Dask fits match in-process fits, the
sampler comparison shows what the README says, and the demo prints its comparison with
or without matplotlib and draws a readable picture."""

import os
import pathlib
import re
import signal
import subprocess
import sys

import numpy as np
import pytest

import vexa_core as vc

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"
# On sys.path by name, so that spawned workers (which get this sys.path) import the
# same module and can unpickle its functions.
if str(EXAMPLES) not in sys.path:
    sys.path.insert(0, str(EXAMPLES))

import many_fits  # noqa: E402
import search_trace  # noqa: E402

SETTINGS = {"n_warmup": 30, "n_deep": 60}


@pytest.mark.slow
def test_pool_fits_equal_in_process_fits() -> None:
    seeds = [5, 2, 7]  # not sorted: results must come back in the order asked for
    pooled = many_fits.fit_in_processes(seeds, workers=2, **SETTINGS)
    assert [r[0] for r in pooled] == seeds
    for (seed, beta, energy, r_heat), expected in zip(
        pooled, map(lambda s: many_fits.fit_one(s, **SETTINGS), seeds)
    ):
        # One OpenMP thread per worker against this process's team: the sampler's
        # result does not depend on the thread count, bit for bit.
        np.testing.assert_array_equal(beta, expected[1])
        assert (energy, r_heat) == (expected[2], expected[3])
        assert type(seed) is int and type(energy) is float and type(r_heat) is float
        assert type(beta) is np.ndarray and beta.dtype == np.float64
        assert beta.shape == (many_fits.DEG + 1,) and beta.flags.writeable
    assert len({r[2] for r in pooled}) == len(seeds), "each seed is its own data set"


@pytest.mark.slow
@pytest.mark.parametrize("before", [None, "3"], ids=["unset", "set"])
def test_pool_workers_run_single_threaded_and_setting_is_restored(
    monkeypatch: pytest.MonkeyPatch, before: str | None
) -> None:
    if before is None:
        monkeypatch.delenv("OMP_NUM_THREADS", raising=False)
    else:
        monkeypatch.setenv("OMP_NUM_THREADS", before)
    with pytest.raises(RuntimeError, match="inside"):  # noqa: PT012 (the pool must be open)
        with many_fits.single_threaded_pool(1) as pool:
            assert pool.submit(os.getenv, "OMP_NUM_THREADS").result() == "1"
            raise RuntimeError("inside")
    assert os.environ.get("OMP_NUM_THREADS") == before


def test_many_fits_help_shows_every_default(capsys: pytest.CaptureFixture[str]) -> None:
    with pytest.raises(SystemExit):
        many_fits.main(["--help"])
    text = " ".join(capsys.readouterr().out.split())
    options = re.findall(r" (--[a-z-]+) [A-Z_{]", text)
    assert len(options) == 7 and text.count("(default: ") == 7, text
    for default in ("processes", "start a LocalCluster", "8", "200", "3000", "10000"):
        assert f"(default: {default}" in text


def run_in_own_group(cmd: list[str], timeout: float) -> subprocess.CompletedProcess[str]:
    """Run cmd in a process group of its own; on timeout the whole group (worker
    processes included) is killed and the test fails instead of hanging."""
    with subprocess.Popen(
        cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True
    ) as proc:
        try:
            out, err = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, err = proc.communicate()
            pytest.fail(f"{cmd} did not finish in {timeout} s:\n{out}{err}")
    return subprocess.CompletedProcess(cmd, proc.returncode, out, err)


@pytest.mark.slow
@pytest.mark.parametrize("scheduler", ["processes", "dask"])
def test_scheduler_reports_results_identical_to_in_process(scheduler: str) -> None:
    # A small workload; the local cluster binds to 127.0.0.1 and stops with the example.
    done = run_in_own_group(
        [
            sys.executable,
            str(EXAMPLES / "many_fits.py"),
            "--scheduler",
            scheduler,
            "--datasets",
            "3",
            "--workers",
            "2",
            "--n-warmup",
            "30",
            "--n-deep",
            "60",
        ],
        timeout=180,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert len(re.findall(r"^data set", done.stdout, re.M)) == 3
    assert f"{scheduler}: results identical to the in-process fits" in done.stdout
    # Every column is explained, and the run says whether scaling out paid.
    assert re.search(r"^energy: .+lower is better", done.stdout, re.M)
    assert re.search(r"^r_heat: .+0\.01.+ 1 ", done.stdout, re.M)
    verdict = rf"^{scheduler}: (did not pay at this size: [\d.]+ times slower|[\d.]+ times faster)"
    assert len(re.findall(verdict, done.stdout, re.M)) == 1, done.stdout
    if scheduler == "dask":
        assert "dask: 2 workers, OMP_NUM_THREADS=1" in done.stdout


@pytest.mark.slow
def test_long_searches_beat_the_penalized_fit_as_the_readme_says() -> None:
    done = run_in_own_group([sys.executable, str(EXAMPLES / "sampler_vs_fits.py")], timeout=300)
    assert done.returncode == 0, done.stderr
    longest = re.findall(r"n_warmup=3000, n_deep=10000 .* (\d) of 3 below", done.stdout)
    assert longest == ["3", "3"], done.stdout


def run_demo(*args: str, block_matplotlib: bool) -> subprocess.CompletedProcess[str]:
    code = (
        "import sys\n"
        + ("sys.modules['matplotlib'] = None\n" if block_matplotlib else "")
        + f"sys.path.insert(0, {str(EXAMPLES)!r})\n"
        + f"import demo\ndemo.main({list(args)!r})\n"
    )
    return subprocess.run(
        [sys.executable, "-W", "error", "-c", code],
        capture_output=True,
        text=True,
        # A hang limit, generous enough for the sanitizer build on a busy machine.
        timeout=600,
    )


def printed_scores(stdout: str) -> dict[str, float]:
    rows = re.findall(r"^(ols|fit_regularized_linear|TournamentMCMC)\s+(\S+)", stdout, re.M)
    return {method: float(score) for method, score in rows}


@pytest.mark.slow
@pytest.mark.parametrize("dim", ["1", "2"])
def test_demo_without_matplotlib_prints_table_and_how_to_get_picture(
    tmp_path: pathlib.Path, dim: str
) -> None:
    out = tmp_path / "demo.png"
    done = run_demo("--dim", dim, "--out", str(out), block_matplotlib=True)
    assert done.returncode == 0, done.stderr
    scores = printed_scores(done.stdout)
    assert set(scores) == {"ols", "fit_regularized_linear", "TournamentMCMC"}
    # The weights make the comparison tell the methods apart.
    assert len(set(scores.values())) == 3, done.stdout
    # The sampler minimises this very score, and reports it as its energy.
    energy = float(re.search(r"sampler: energy (\S+);", done.stdout).group(1))
    assert energy == scores["TournamentMCMC"] == min(scores.values())
    assert "no picture" in done.stdout and "pip install matplotlib" in done.stdout
    assert not out.exists()


@pytest.mark.slow
@pytest.mark.parametrize("dim", ["1", "2"])
def test_demo_writes_its_picture(tmp_path: pathlib.Path, dim: str) -> None:
    pytest.importorskip("matplotlib")
    out = tmp_path / "picture.png"
    done = run_demo("--dim", dim, "--out", str(out), block_matplotlib=False)
    assert done.returncode == 0, done.stderr
    assert f"wrote {out}" in done.stdout
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@pytest.mark.slow
def test_1d_picture_follows_the_search_down_to_the_energy_fit_returns(
    monkeypatch: pytest.MonkeyPatch, tmp_path: pathlib.Path
) -> None:
    pytest.importorskip("matplotlib")
    import demo

    saved, results = [], []
    monkeypatch.setattr(demo, "save", lambda fig, out: saved.append(fig))
    fit_all = demo.fit_all
    monkeypatch.setattr(demo, "fit_all", lambda *a: results.append(fit_all(*a)) or results[-1])
    demo.run_1d(tmp_path / "demo.png")
    (fig,) = saved
    ((fits, mcmc),) = results
    data_panel, warmup_panel, deep_panel = fig.axes
    assert all(ax.get_xlabel() for ax in fig.axes)
    assert "lower is better" in warmup_panel.get_ylabel()
    assert warmup_panel.get_ylim() == deep_panel.get_ylim()
    assert str(demo.SEED) in data_panel.get_title()

    _, y, _, outlier = demo.synthetic_1d(np.random.default_rng(demo.SEED))
    low, high = data_panel.get_ylim()
    assert low < y.min() and y.max() < high
    marked = [c for c in data_panel.collections if c.get_label() == "outliers"]
    assert len(marked) == 1 and len(marked[0].get_offsets()) == outlier.sum() == 4

    lines = {line.get_label(): line for line in deep_panel.get_lines()}
    # The last point drawn is the sampler's own result, bit for bit.
    assert lines["lowest score so far"].get_ydata()[-1] == mcmc.energy
    assert lines["lowest score so far"].get_xdata()[-1] == 5 * 4000
    for f in fits[:2]:
        assert lines[f"{f.method} score {f.score:.2f}"].get_ydata()[0] == f.score
    import matplotlib.pyplot as plt

    plt.close(fig)


@pytest.mark.parametrize("seed, ends_there", [(3, True), (4, False)], ids=["same", "other"])
def test_search_trace_checks_it_replays_the_fit_it_is_given(seed: int, ends_there: bool) -> None:
    x, y = many_fits.make_dataset(4, 60)
    X = vc.design_matrix_1d(many_fits.DEG, x)
    R1, R2 = vc.smoothness_penalty_matrices_1d(many_fits.DEG, -1.0, 1.0)
    settings = {"n_chains": 4, "n_warmup": 200, "n_deep": 300, "n_elite": 2, "seed": 3}
    result = vc.TournamentMCMC(**settings).fit(X, y, R1, R2, 1e-3, 1e-4)
    settings["seed"] = seed
    if not ends_there:
        with pytest.raises(RuntimeError, match="ends at energy"):
            search_trace.trace_search(result, X, y, R1, R2, 1e-3, 1e-4, **settings)
        return
    trace = search_trace.trace_search(result, X, y, R1, R2, 1e-3, 1e-4, **settings)
    assert trace.warmup.shape == (4, 201) and [d.size for d in trace.deep] == [301, 301]
    assert trace.energy == result.energy == min(d.min() for d in trace.deep)
    assert trace.warmup[trace.best_chain, -1] == trace.deep[0][0] == trace.warmup[:, -1].min()
