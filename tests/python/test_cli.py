"""The kestrelopt command line: run, list, JSON output, plots, progress and errors."""

import io
import json
import math
import os
import signal
import subprocess
import sys
import time

import pytest

import kestrelopt as pso
from kestrelopt import cli

from conftest import run_cli


def test_run_prints_the_result(capsys):
    code, out, err = run_cli(capsys, "run", "rastrigin", "--dim", "4", "--seed", "42",
                             "--max-iter", "20")
    expected = pso.minimize("rastrigin", [(-5.12, 5.12)] * 4, seed=42, max_iter=20)
    assert code == 0 and err == ""  # stderr is no terminal here: no progress bar
    lines = out.splitlines()
    assert lines[0] == "benchmark     rastrigin (dim 4, bounds [-5.12, 5.12], seed 42)"
    assert lines[1] == f"best value    {expected.best_value!r}"
    assert lines[2] == "best position [" + ", ".join(f"{v:.6g}" for v in expected.best_position) + "]"
    assert lines[3:6] == ["iterations    20", f"evaluations   {expected.evaluations}",
                          "stop reason   max_iterations"]
    assert lines[6].startswith("time          ") and lines[6].endswith(" s")


@pytest.mark.parametrize(
    "options, call",
    [
        ([], dict()),
        (["--velocity", "fips", "--topology", "ring"], dict(velocity="fips", topology="ring")),
        (["--velocity", "spso2011", "--topology", "adaptive_random"],
         dict(velocity="spso2011", topology="adaptive_random")),
        (["--n-particles", "7", "--bounds-handling", "reflect"],
         dict(n_particles=7, bounds_handling="reflect")),
        (["--bounds", "-2", "3"], dict(bounds=[(-2.0, 3.0)] * 3)),
        (["--bounds", "-1e1", "2.5E1"], dict(bounds=[(-10.0, 25.0)] * 3)),
        (["--bounds", "-.5", "-1e-1"], dict(bounds=[(-0.5, -0.1)] * 3)),
        (["--target", "50"], dict(target=50.0)),
        (["--max-evals", "100"], dict(max_evals=100)),
        (["--patience", "2"], dict(patience=2)),
        (["--preset", "recommended", "--max-evals", "300"], dict(preset="recommended", max_evals=300)),
        (["--preset", "separable", "--n-particles", "9", "--bounds-handling", "wrap"],
         dict(preset="separable", n_particles=9, bounds_handling="wrap")),
    ],
)
def test_json_result_equals_the_library_call(capsys, options, call):
    code, out, _ = run_cli(capsys, "run", "ackley", "--dim", "3", "--seed", "9",
                           "--max-iter", "15", "--json", *options)
    assert code == 0
    report = json.loads(out)
    kwargs = dict(bounds=[(-32.768, 32.768)] * 3, seed=9, max_iter=15)
    kwargs.update(call)
    expected = pso.minimize("ackley", kwargs.pop("bounds"), **kwargs)
    assert report["best_value"] == expected.best_value
    assert report["best_position"] == expected.best_position
    assert report["evaluations"] == expected.evaluations
    assert report["stop_reason"] == expected.stop_reason
    assert report["convergence"] == expected.convergence
    assert report["iterations"] == len(expected.convergence)
    assert report["benchmark"] == "ackley" and report["dim"] == 3 and report["seed"] == 9


def test_json_has_no_bare_infinities(capsys):
    # A box far away from a benchmark's domain overflows it; the report stays valid JSON.
    code, out, _ = run_cli(capsys, "run", "elliptic", "--dim", "2", "--seed", "1",
                           "--max-iter", "2", "--bounds", "1e200", "1e201", "--json")
    assert code == 0
    report = json.loads(out, parse_constant=lambda name: pytest.fail(f"bare {name} in JSON"))
    assert report["best_value"] is None


def test_plot_is_saved(capsys, tmp_path):
    pytest.importorskip("matplotlib")
    Image = pytest.importorskip("PIL.Image")
    path = tmp_path / "convergence.png"
    code, out, _ = run_cli(capsys, "run", "sphere", "--dim", "2", "--seed", "1",
                           "--max-iter", "30", "--plot", str(path))
    assert code == 0 and f"plot          {path}" in out
    with Image.open(path) as image:
        assert image.format == "PNG" and image.size == (640, 400)


class FakeTerminal(io.StringIO):
    def isatty(self):
        return True


@pytest.mark.parametrize(
    "terminal, flag, shown",
    [(True, None, True), (False, None, False), (True, "--no-progress", False),
     (False, "--progress", True)],
)
def test_progress_bar_only_on_a_terminal(monkeypatch, capsys, terminal, flag, shown):
    stream = FakeTerminal() if terminal else io.StringIO()
    monkeypatch.setattr(sys, "stderr", stream)
    argv = ["run", "sphere", "--dim", "2", "--seed", "1", "--max-iter", "12", "--json"]
    code = cli.main(argv + ([flag] if flag else []))
    assert code == 0
    assert json.loads(capsys.readouterr().out)["iterations"] == 12  # stdout stays pure JSON
    assert ("12/12" in stream.getvalue()) is shown


@pytest.mark.parametrize(
    "argv, message",
    [
        (["run", "sphere"], "the following arguments are required: --dim"),
        (["run", "--dim", "3"], "the following arguments are required: BENCHMARK"),
        (["run", "sphere", "--dim", "0"], "argument --dim: must be >= 1"),
        (["run", "sphere", "--dim", "two"], "argument --dim: invalid integer"),
        (["run", "sphere", "--dim", "2", "--seed", "-1"], "argument --seed: must be >= 0"),
        (["run", "sphere", "--dim", "2", "--seed", str(2**64)], "argument --seed: must be below 2**64"),
        (["run", "sphere", "--dim", "2", "--velocity", "slow"], "argument --velocity: invalid choice"),
        (["run", "sphere", "--dim", "2", "--topology", "star"], "argument --topology: invalid choice"),
        (["run", "sphere", "--dim", "2", "--bounds-handling", "bounce"],
         "argument --bounds-handling: invalid choice"),
        (["run", "sphere", "--dim", "2", "--n-particles", "0"], "argument --n-particles: must be >= 1"),
        (["run", "sphere", "--dim", "2", "--bounds", "1"], "argument --bounds: expected 2 arguments"),
        (["run", "sphere", "--dim", "2", "--bounds", "0", "nan"], "argument --bounds: must be a finite"),
        (["run", "sphere", "--dim", "2", "--bounds", "3", "1"], "MIN must be below MAX"),
        (["run", "sphere", "--dim", "2", "--max-time", "-1"], "argument --max-time: must be >= 0"),
        (["run", "sphere", "--dim", "2", "--max-time", "1e20"], "argument --max-time: must be below 2**64 seconds"),
        (["run", "sphere", "--dim", "2", "--target", "nan"], "argument --target: must be a finite"),
        (["run", "sphere", "--dim", "2", "--max-spread", "1"], "--max-spread applies only to grey benchmarks"),
        (["run", "grey_sphere", "--dim", "2", "--bounds-handling", "clamp"],
         "--bounds-handling does not apply to the grey benchmark grey_sphere"),
        (["run", "grey_sphere", "--dim", "2", "--progress"],
         "--progress does not apply to the grey benchmark grey_sphere"),
        (["run", "grey_sphere", "--dim", "2", "--preset", "robust"],
         "--preset does not apply to the grey benchmark grey_sphere"),
        (["run", "sphere", "--dim", "2", "--preset", "fast"], "argument --preset: invalid choice"),
        (["run", "sphere", "--dim", "2", "--json", "--speed", "3"], "unrecognized arguments: --speed"),
        (["frobnicate"], "invalid choice: 'frobnicate'"),
        ([], "the following arguments are required: COMMAND"),
    ],
)
def test_bad_arguments_exit_with_usage(capsys, argv, message):
    code, out, err = run_cli(capsys, *argv)
    assert code == 2 and out == ""
    assert err.startswith("usage: kestrelopt")
    assert message in err


@pytest.mark.parametrize("options, shown", [
    ([], ("inertia", "global", 30, None)),
    (["--preset", "robust"], ("spso2011_uniform_radius", "adaptive_random", 13, "robust")),
    (["--preset", "exploit", "--topology", "ring"], ("spso2011_uniform_radius", "ring", 13, "exploit")),
])
def test_the_report_shows_the_options_a_preset_chose(capsys, options, shown):
    assert cli.PRESETS == tuple(pso.presets())
    code, out, _ = run_cli(capsys, "run", "sphere", "--dim", "3", "--max-iter", "3", "--json", *options)
    report = json.loads(out)
    assert code == 0
    assert (report["velocity"], report["topology"], report["n_particles"], report["preset"]) == shown


@pytest.mark.parametrize("extra", [[], ["--bounds", "-1", "1"]])
def test_unknown_benchmark_prints_the_module_message(capsys, extra):
    code, out, err = run_cli(capsys, "run", "Rastrigin", "--dim", "2", *extra)
    assert code == 2 and out == ""
    assert "error: unknown native benchmark: 'Rastrigin'" in err
    assert "Available: sphere, rastrigin," in err


def test_list_shows_every_benchmark_with_bounds_and_optimum(capsys):
    code, out, _ = run_cli(capsys, "list")
    assert code == 0
    benchmarks, problems = out.split("\n\n")
    rows = {line.split()[0]: line for line in benchmarks.splitlines()[1:]}
    assert list(rows) == list(cli.BENCHMARKS) + list(cli.GREY_BENCHMARKS)
    for name in cli.BENCHMARKS:
        bound, optimum = pso.benchmark_info(name)
        assert rows[name].split()[1:4] == [f"[{-bound:g},", f"{bound:g}]", f"{optimum:g}"]
    assert "max spread 5.12" in rows["grey_sphere"]
    # Then the run-multi problems: objectives, usual dimension, box and reference.
    lines = problems.splitlines()
    assert lines[0].split()[:2] == ["run-multi", "problem"]
    assert [line.split()[0] for line in lines[1:]] == list(cli.MULTI_PROBLEMS)
    assert lines[1].split() == ["zdt1", "2", "30", "[0,", "1]", "[1.1,", "1.1]"]
    assert lines[4].split()[3:] == ["[0,", "1]", "x", "[-5,", "5]^9", "[1.1,", "1.1]"]
    assert lines[6].split()[:3] == ["dtlz1", "3", "7"] and lines[6].endswith("[0.6, 0.6, 0.6]")


def test_list_as_json(capsys):
    code, out, _ = run_cli(capsys, "list", "--json")
    rows = json.loads(out)
    assert code == 0
    assert rows[2] == {"name": "rosenbrock", "kind": "real", "bounds": [-2.048, 2.048], "optimum": 0.0}
    grey = [row for row in rows if row["kind"] == "grey"]
    assert [row["name"] for row in grey] == ["grey_sphere"] and grey[0]["max_spread"] == 5.12
    multi = {row["name"]: row for row in rows if row["kind"] == "multi"}
    assert list(multi) == list(cli.MULTI_PROBLEMS)
    assert multi["zdt4"] == {"name": "zdt4", "kind": "multi", "n_objectives": 2, "dim": 10,
                             "bounds": [[0.0, 1.0]] + [[-5.0, 5.0]] * 9, "reference": [1.1, 1.1]}


def test_benchmark_list_matches_the_module():
    # The module names its whole catalogue in the message for an unknown name.
    with pytest.raises(KeyError) as info:
        pso.minimize("?", bounds=[(0.0, 1.0)])
    available = str(info.value.args[0]).split("Available: ", 1)[1]
    assert tuple(available.split(", ")) == cli.BENCHMARKS


def test_interrupt_exits_130(monkeypatch, capsys):
    def interrupted(*args, **kwargs):
        raise KeyboardInterrupt

    monkeypatch.setattr(pso, "minimize", interrupted)
    code, _, err = run_cli(capsys, "run", "sphere", "--dim", "2")
    assert code == 130 and "interrupted" in err


@pytest.mark.parametrize("option", ["--dim", "--n-particles"])
def test_a_swarm_larger_than_memory_is_a_usage_error(capsys, option):
    argv = ["run", "sphere", "--dim", "3", option, str(10**12)]
    code, out, err = run_cli(capsys, *argv)
    assert code == 2 and out == ""
    assert err.startswith("usage: kestrelopt run")
    assert "GiB for the swarm, more than this machine's" in err


@pytest.mark.parametrize("name", ["rastrigin", "grey_sphere"])
def test_ctrl_c_prints_the_best_point_so_far_and_exits_130(name):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    # SIGINT as at a terminal, even when these tests run in a background job that ignores it.
    child = subprocess.Popen([sys.executable, "-m", "kestrelopt", "run", name, "--dim", "50",
                              "--max-iter", str(10**9), "--seed", "3"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
                             preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    try:
        time.sleep(2.0)  # well past start-up: the run is going
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=60)
    finally:
        child.kill()
    assert child.returncode == 130, err
    fields = {line[:14].strip(): line[14:] for line in out.splitlines()}
    assert fields["stop reason"] == "interrupted"
    assert float(fields["best value"]) < math.inf
    assert fields["best position"].startswith("[")
    assert err.endswith("kestrelopt: interrupted\n")


def test_python_dash_m_entry_point():
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-m", "kestrelopt", "run", "levy", "--dim", "2",
                           "--seed", "5", "--max-iter", "10", "--json"],
                          capture_output=True, text=True, env=env, timeout=120)
    assert done.returncode == 0, done.stderr
    expected = pso.minimize("levy", [(-10.0, 10.0)] * 2, seed=5, max_iter=10)
    assert json.loads(done.stdout)["best_value"] == expected.best_value
    bad = subprocess.run([sys.executable, "-m", "kestrelopt", "run", "levy"],
                         capture_output=True, text=True, env=env, timeout=120)
    assert bad.returncode == 2 and "usage: kestrelopt run" in bad.stderr


@pytest.mark.parametrize("options", [[], ["--max-spread", "0.25", "--bounds", "-1", "2", "--topology", "ring"]])
def test_grey_benchmark_runs_through_minimize_grey(capsys, options):
    code, out, err = run_cli(capsys, "run", "grey_sphere", "--dim", "3", "--seed", "4",
                             "--max-iter", "12", "--json", *options)
    assert code == 0 and err == ""
    report = json.loads(out)
    center_bound, max_spread, _ = pso.grey_benchmark_info("grey_sphere")
    kwargs = dict(bounds=[(-center_bound, center_bound)] * 3, max_spread=max_spread)
    if options:
        kwargs = dict(bounds=[(-1.0, 2.0)] * 3, max_spread=0.25, topology="ring")
    expected = pso.minimize_grey("grey_sphere", seed=4, max_iter=12, **kwargs)
    assert report["best_value"] == expected.best_value
    assert report["best_position"] == [list(pair) for pair in expected.best_position]
    assert report["convergence"] == expected.convergence and report["iterations"] == 12
    assert report["bounds"] == list(kwargs["bounds"][0])


def test_grey_benchmark_text_shows_intervals(capsys):
    code, out, _ = run_cli(capsys, "run", "grey_sphere", "--dim", "2", "--seed", "1", "--max-iter", "5")
    expected = pso.minimize_grey("grey_sphere", [(-5.12, 5.12)] * 2, max_spread=5.12, seed=1, max_iter=5)
    assert code == 0
    shown = ", ".join(f"[{a:.6g}, {b:.6g}]" for a, b in expected.best_position)
    assert out.splitlines()[2] == f"best position [{shown}]"


@pytest.mark.parametrize("path", ["missing-directory/plot.png", "plot.bogus"])
def test_plot_that_cannot_be_saved_keeps_the_printed_result(capsys, tmp_path, path):
    pytest.importorskip("matplotlib")
    code, out, err = run_cli(capsys, "run", "sphere", "--dim", "2", "--seed", "1",
                             "--max-iter", "5", "--plot", str(tmp_path / path))
    expected = pso.minimize("sphere", [(-5.12, 5.12)] * 2, seed=1, max_iter=5)
    assert code == 1
    assert f"best value    {expected.best_value!r}" in out and "plot " not in out
    assert err.startswith(f"kestrelopt: cannot save the plot to {tmp_path / path}: ")


def test_internal_failure_exits_1_without_traceback(monkeypatch, capsys):
    # The command refuses the arguments known to break the engine, so the failure is staged.
    def failing(*args, **kwargs):
        raise pso.PanicException("Uniform::new_inclusive: range overflow")

    monkeypatch.setattr(pso, "minimize", failing)
    code, out, err = run_cli(capsys, "run", "sphere", "--dim", "2")
    assert code == 1 and out == ""
    assert err.splitlines()[-1] == "kestrelopt: internal error: Uniform::new_inclusive: range overflow"


BEYOND = str(10**20)  # more than the engine's 64-bit counts hold


@pytest.mark.parametrize(
    "command, option, value, memory, message",
    [
        ("run", "--max-iter", BEYOND, 2**34, "argument --max-iter: must be below 2**64"),
        ("run", "--max-evals", BEYOND, 2**34, "argument --max-evals: must be below 2**64"),
        ("run", "--patience", BEYOND, 2**34, "argument --patience: must be below 2**64"),
        ("run", "--n-particles", BEYOND, 2**34, "argument --n-particles: must be below 2**64"),
        ("run", "--dim", str(2**64), 2**34, "argument --dim: must be below 2**64"),
        ("run", "--dim", str(10**17), None, "more than the address space's"),
        ("run", "--bounds", "-1e308 1e308", 2**34, "--bounds: MAX - MIN must be at most 1e+307, got inf"),
        ("run", "--bounds", "-1e307 1e307", 2**34, "--bounds: MAX - MIN must be at most 1e+307, got 2e+307"),
        ("run-multi", "--max-iter", BEYOND, 2**34, "argument --max-iter: must be below 2**64"),
        ("run-multi", "--max-evals", BEYOND, 2**34, "argument --max-evals: must be below 2**64"),
        ("run-multi", "--n-particles", BEYOND, 2**34, "argument --n-particles: must be below 2**64"),
        ("run-multi", "--archive-size", BEYOND, 2**34, "argument --archive-size: must be below 2**64"),
        ("run-multi", "--grid-divisions", BEYOND, 2**34, "argument --grid-divisions: must be below 2**64"),
        ("run-multi", "--seed", str(2**64), 2**34, "argument --seed: must be below 2**64"),
        ("run-multi", "--dim", BEYOND, 2**34, "argument --dim: must be below 2**64"),
        ("run-multi", "--dim", "100000000", 2**34, "more than this machine's 16 GiB"),
        ("run-multi", "--n-particles", str(10**17), None, "more than the address space's"),
    ],
)
def test_every_number_out_of_range_is_a_usage_error(monkeypatch, capsys, command, option, value,
                                                    memory, message):
    # A fixed memory size keeps the outcome the same on every machine.
    monkeypatch.setattr(cli, "_physical_memory", lambda: memory)
    target = ["sphere", "--dim", "2"] if command == "run" else ["zdt1"]
    code, out, err = run_cli(capsys, command, *target, option, *value.split())
    assert code == 2 and out == ""
    assert "Traceback" not in err
    last = err.splitlines()[-1]
    assert last.startswith(f"kestrelopt {command}: error: ") and option in last and message in last


class BrokenStdout(io.StringIO):
    """A standard output whose reader has gone away."""

    def __init__(self, fd):
        super().__init__()
        self.fd = fd

    def write(self, text):
        raise BrokenPipeError(32, "Broken pipe")

    def fileno(self):
        return self.fd


def test_closed_pipe_ends_quietly_and_sends_the_rest_nowhere(monkeypatch, capsys):
    read_end, write_end = os.pipe()
    try:
        monkeypatch.setattr(sys, "stdout", BrokenStdout(write_end))
        assert cli.main(["list"]) == 1
        os.write(write_end, b"late output")  # now /dev/null, not the pipe
    finally:
        os.close(write_end)
    with os.fdopen(read_end, "rb") as pipe:
        assert pipe.read() == b""
    assert capsys.readouterr().err == ""


# ---- budgets, topologies and objectives of one's own -------------------------------------

@pytest.mark.parametrize(
    "options, library",
    [
        # A budget without --max-iter sets no iteration limit.
        (["--max-evals", "5000"], dict(max_iter=None, max_evals=5000)),
        (["--max-evals", "5000", "--max-iter", "50"], dict(max_iter=50, max_evals=5000)),
        (["--topology", "von_neumann"], dict(topology="vonneumann")),
        (["--topology", "von_neumann", "--velocity", "fips"], dict(topology="von_neumann",
                                                                    velocity="fips")),
    ],
)
def test_run_options_reach_the_library(capsys, options, library):
    code, out, _ = run_cli(capsys, "run", "rastrigin", "--dim", "3", "--seed", "5", "--json",
                           *options)
    assert code == 0
    report = json.loads(out)
    expected = pso.minimize("rastrigin", [(-5.12, 5.12)] * 3, seed=5, **library)
    assert report["best_value"] == expected.best_value
    assert report["convergence"] == expected.convergence
    assert (report["evaluations"], report["stop_reason"]) == (expected.evaluations,
                                                              expected.stop_reason)


@pytest.mark.parametrize("name", ["sphere", "grey_sphere"])
def test_a_time_budget_alone_runs_past_100_iterations(capsys, name):
    code, out, _ = run_cli(capsys, "run", name, "--dim", "2", "--n-particles", "4",
                           "--max-time", "0.05", "--json")
    report = json.loads(out)
    assert code == 0 and report["stop_reason"] == "max_time" and report["iterations"] > 100


OWN_MODULE = """
def loss(x):
    return sum((v - 0.25) ** 2 for v in x)

answer = 42

class Shape:
    @staticmethod
    def tilt(x):
        return (x[0] - 0.5) ** 2 + abs(x[1])
"""


@pytest.fixture
def own_module(tmp_path, monkeypatch):
    """A folder holding kestrel_own.py (importable by name from there) and sub/broken.py."""
    (tmp_path / "kestrel_own.py").write_text(OWN_MODULE)
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "broken.py").write_text("import kestrel_no_such_dependency\n")
    (tmp_path / "sub" / "typo.py").write_text("def f(x) return 1\n")
    monkeypatch.chdir(tmp_path)
    monkeypatch.setattr(sys, "path", list(sys.path))
    monkeypatch.delitem(sys.modules, "kestrel_own", raising=False)
    return tmp_path


@pytest.mark.parametrize(
    "spec, function",
    [
        ("kestrel_own:loss", lambda x: sum((v - 0.25) ** 2 for v in x)),
        ("kestrel_own.py:loss", lambda x: sum((v - 0.25) ** 2 for v in x)),
        ("./kestrel_own.py:Shape.tilt", lambda x: (x[0] - 0.5) ** 2 + abs(x[1])),
    ],
)
def test_run_an_objective_of_ones_own(capsys, own_module, spec, function):
    code, out, err = run_cli(capsys, "run", spec, "--dim", "2", "--bounds", "-1", "1", "--seed", "3",
                             "--max-iter", "30", "--topology", "ring", "--json")
    assert code == 0 and err == ""
    report = json.loads(out)
    expected = pso.minimize(function, [(-1.0, 1.0)] * 2, seed=3, max_iter=30, topology="ring")
    assert report["benchmark"] == spec
    assert report["best_value"] == expected.best_value
    assert report["convergence"] == expected.convergence


@pytest.mark.parametrize(
    "spec, extra, message",
    [
        ("kestrel_own:loss", [], "--bounds is required for an objective of your own (kestrel_own:loss)"),
        ("kestrel_own:nope", ["--bounds", "0", "1"],
         "'kestrel_own' has no 'nope' for the objective 'kestrel_own:nope'"),
        ("kestrel_own:answer", ["--bounds", "0", "1"], "'kestrel_own:answer' is not callable: it is an int"),
        ("kestrel_nowhere:f", ["--bounds", "0", "1"],
         "no module 'kestrel_nowhere' for the objective 'kestrel_nowhere:f' (looked in the current "
         "folder and the installed packages)"),
        ("sub/missing.py:f", ["--bounds", "0", "1"], "no file 'sub/missing.py' for the objective 'sub/missing.py:f'"),
        ("sub/broken.py:f", ["--bounds", "0", "1"],
         "importing 'sub/broken.py' for the objective 'sub/broken.py:f' failed: No module named "
         "'kestrel_no_such_dependency'"),
        ("sub/typo.py:f", ["--bounds", "0", "1"],
         "importing 'sub/typo.py' for the objective 'sub/typo.py:f' failed: SyntaxError: "),
        ("kestrel_own:", ["--bounds", "0", "1"], "'kestrel_own:' names no function: write MODULE:FUNCTION or FILE.py:FUNCTION"),
        ("kestrel_own:loss", ["--bounds", "0", "1", "--max-spread", "1"],
         "--max-spread applies only to grey benchmarks, not to kestrel_own:loss"),
    ],
)
def test_an_objective_that_cannot_be_run_exits_2(capsys, own_module, spec, extra, message):
    code, out, err = run_cli(capsys, "run", spec, "--dim", "2", *extra)
    assert code == 2 and out == ""
    assert err.splitlines()[-1].startswith(f"kestrelopt run: error: {message}")


def test_errors_of_ones_own_objective_are_not_taken_for_an_unknown_benchmark(capsys, own_module):
    (own_module / "lookup.py").write_text("def f(x):\n    return {}['missing']\n")
    with pytest.raises(KeyError, match="missing"):
        run_cli(capsys, "run", "lookup.py:f", "--dim", "2", "--bounds", "0", "1")

