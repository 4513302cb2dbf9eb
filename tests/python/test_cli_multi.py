"""kestrelopt run-multi and the test problems it runs."""

import json
import math

import pytest

import kestrelopt as pso
from kestrelopt import cli
from kestrelopt.problems import PROBLEMS

from conftest import run_cli


def test_problem_names_match_the_command():
    assert tuple(PROBLEMS) == cli.MULTI_PROBLEMS


def pareto_optimal_x(name, t, u, dim):
    # Every problem's Pareto set: the first variables free, the others at their g-minimum.
    tail = 0.5 if name.startswith("dtlz") else 0.0
    head = [t, u] if name.startswith("dtlz") else [t]
    return head + [tail] * (dim - len(head))


@pytest.mark.parametrize("name", list(PROBLEMS))
def test_true_front_is_where_the_pareto_set_maps(name):
    problem = PROBLEMS[name]
    front = problem.true_front(2500)
    assert all(len(f) == problem.n_objectives for f in front)
    dim = problem.default_dim
    for t in (0.05, 0.33, 0.5, 0.71, 0.98):
        for u in ((0.2, 0.9) if problem.n_objectives == 3 else (0.0,)):
            f = problem(pareto_optimal_x(name, t, u, dim))
            if name == "zdt3" and not any(abs(f[0] - q[0]) < 1e-3 for q in front):
                continue  # the gaps between ZDT3's pieces are dominated
            gap = min(math.dist(f, q) for q in front)
            assert gap < 0.05, (t, u, f, gap)
            assert all(r > v for r, v in zip(problem.reference, f))


def test_json_result_equals_the_library_call(capsys):
    code, out, err = run_cli(capsys, "run-multi", "zdt2", "--dim", "5", "--seed", "3", "--max-iter", "12",
                             "--n-particles", "20", "--archive-size", "15", "--grid-divisions", "4", "--json")
    assert code == 0 and err == ""
    report = json.loads(out)
    zdt2 = PROBLEMS["zdt2"]
    front = pso.minimize_multi(zdt2, zdt2.bounds(5), n_particles=20, max_iter=12, archive_size=15,
                               grid_divisions=4, seed=3)
    assert report["objectives"] == front.objectives and report["positions"] == front.positions
    assert report["hypervolume"] == front.hypervolume([1.1, 1.1])
    assert (report["front_size"], report["evaluations"], report["stop_reason"]) == (15, 260, "max_iterations")
    assert (report["problem"], report["dim"], report["n_objectives"]) == ("zdt2", 5, 2)


@pytest.mark.parametrize(
    "options, reason, evaluations",
    [
        (["--max-evals", "35"], "max_evaluations", 40),
        (["--max-time", "0"], "max_time", 20),
        ([], "max_iterations", 60),
    ],
)
def test_stop_options(capsys, options, reason, evaluations):
    code, out, _ = run_cli(capsys, "run-multi", "dtlz2", "--seed", "1", "--n-particles", "10",
                           "--max-iter", "5", *options)
    assert code == 0
    lines = out.splitlines()
    assert lines[0] == "problem       dtlz2 (dim 12, 3 objectives, seed 1)"
    assert lines[3:5] == [f"evaluations   {evaluations}", f"stop reason   {reason}"]


@pytest.mark.parametrize(
    "options, library",
    [
        # A budget without --max-iter sets no iteration limit: 3000 evaluations, not 2020.
        (["--max-evals", "3000"], dict(max_iter=None, max_evals=3000)),
        (["--max-evals", "3000", "--max-iter", "7"], dict(max_iter=7, max_evals=3000)),
        (["--max-evals", "3000", "--mutation-rate", "0"], dict(max_iter=None, max_evals=3000,
                                                                mutation_rate=0.0)),
    ],
)
def test_budgets_lift_the_iteration_limit_unless_one_is_given(capsys, options, library):
    code, out, _ = run_cli(capsys, "run-multi", "zdt1", "--dim", "4", "--seed", "2",
                           "--n-particles", "20", "--json", *options)
    assert code == 0
    report = json.loads(out)
    zdt1 = PROBLEMS["zdt1"]
    front = pso.minimize_multi(zdt1, zdt1.bounds(4), n_particles=20, seed=2, **library)
    assert (report["evaluations"], report["stop_reason"]) == (front.evaluations, front.stop_reason)
    assert report["objectives"] == front.objectives
    assert front.stop_reason == ("max_iterations" if library["max_iter"] else "max_evaluations")


def test_a_time_budget_alone_with_turbulence_off_runs_until_the_time(capsys):
    code, out, _ = run_cli(capsys, "run-multi", "zdt1", "--dim", "4", "--n-particles", "10",
                           "--max-time", "0.05", "--mutation-rate", "0", "--json")
    assert code == 0 and json.loads(out)["stop_reason"] == "max_time"


@pytest.mark.parametrize(
    "argv, message",
    [
        (["zdt1", "--max-time", "1"],
         "--max-time without --max-iter or --max-evals gives the turbulence no run length to fade "
         "over: add --max-evals or --max-iter, or --mutation-rate 0"),
        (["zdt7"], "unknown problem 'zdt7'. Available: zdt1, zdt2, zdt3, zdt4, zdt6, dtlz1, dtlz2"),
        (["zdt1", "--dim", "1"], "--dim: zdt1 needs at least 2 variables, got 1"),
        (["dtlz1", "--dim", "2"], "--dim: dtlz1 needs at least 3 variables, got 2"),
        (["zdt1", "--archive-size", "0"], "argument --archive-size: must be >= 1, got 0"),
    ],
)
def test_bad_arguments_exit_2(capsys, argv, message):
    code, out, err = run_cli(capsys, "run-multi", *argv)
    assert code == 2 and out == ""
    assert err.splitlines()[-1] == f"kestrelopt run-multi: error: {message}"


@pytest.mark.parametrize("name", ["zdt1", "dtlz2"])
def test_plot_and_progress(capsys, tmp_path, name):
    pytest.importorskip("matplotlib")
    path = tmp_path / "front.png"
    code, out, err = run_cli(capsys, "run-multi", name, "--seed", "2", "--max-iter", "4", "--n-particles", "12",
                             "--plot", str(path), "--progress")
    assert code == 0
    assert out.splitlines()[-1] == f"plot          {path}"
    assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert "front=" in err and "4/4" in err
