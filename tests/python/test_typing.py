"""The type stub matches the compiled module, the package type-checks against it, and a
user's script type-checks under --strict while a misspelt option does not."""

import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy")


def mypy(*args):
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, timeout=600)


def test_stub_agrees_with_the_runtime_module():
    done = mypy("mypy.stubtest", "kestrelopt_native")
    assert done.returncode == 0, done.stdout + done.stderr


def test_package_type_checks():
    done = mypy("mypy", "--ignore-missing-imports", "--no-incremental", "-p", "kestrelopt")
    assert done.returncode == 0, done.stdout + done.stderr


# Every public name, used as the documentation shows; a type checker must accept it all and
# infer the types noted (reveal_type is checked below).
USER_SCRIPT = '''
from concurrent.futures import ThreadPoolExecutor
from typing import List, Sequence

import numpy as np
import numpy.typing as npt

import kestrelopt
from kestrelopt import (GreyResult, MultiSwarm, ParetoFront, PsoResult, Swarm,
                        benchmark_info, grey_benchmark_info, hypervolume, indicators,
                        minimize, minimize_grey, minimize_multi)
from kestrelopt.callbacks import ProgressBar, Recorder, asks_to_stop, chain
from kestrelopt.cli import BENCHMARKS, GREY_BENCHMARKS, MULTI_PROBLEMS, build_parser, main
from kestrelopt.parallel import (BatchedObjective, DriveResult, MultistartResult, batched,
                                 drive, load_checkpoint, multistart)
from kestrelopt.problems import PROBLEMS, Problem
from kestrelopt.viz import animate_swarm, plot_convergence, plot_front, plot_grey, save_animation


def sphere(x: List[float]) -> float:
    return sum(v * v for v in x)


def two(x: Sequence[float]) -> List[float]:
    return [x[0], 1.0 - x[0]]


r: PsoResult = minimize(sphere, [(-1.0, 1.0)] * 2, velocity="constriction",
                        topology="von_neumann", bounds_handling="reflect",
                        var_types=["real", "integer"], max_iter=None, max_evals=500, seed=1)
front: ParetoFront = minimize_multi(two, (0.0, 1.0), dim=2, velocity="inertia", max_iter=None,
                                    max_evals=500)
grey: GreyResult = minimize_grey("grey_sphere", (-1.0, 1.0), dim=2,
                                 representation="center_spread", topology="ring")
volume: float = hypervolume(front.objectives, [2.0, 2.0]) + front.hypervolume([2.0, 2.0])
bound, optimum = benchmark_info(BENCHMARKS[0])
center_bound, spread, grey_optimum = grey_benchmark_info(GREY_BENCHMARKS[0])

swarm = Swarm((-1.0, 1.0), dim=2, velocity="fips", topology="random", max_iter=None,
              max_time=1.0)
X = swarm.ask()
reveal_type(X)
swarm.tell((X ** 2).sum(axis=1))
multi = MultiSwarm((0.0, 1.0), dim=2, bounds_handling="wrap", velocity="spso2011")
x: npt.NDArray[np.float64] = multi.ask()
multi.tell([float(x[0]), 1.0])
assert multi.front().stop_reason == "running"
rows: npt.NDArray[np.float64] = MultiSwarm((0.0, 1.0), dim=2).ask_all()
penalties = Swarm.violations(rows, None)

recorder = Recorder()
with ProgressBar(None) as bar, chain(bar, recorder) as both:
    minimize("sphere", (-1.0, 1.0), dim=2, callback=both)
stops: bool = asks_to_stop(False)

objective: BatchedObjective = batched(sphere)
with ThreadPoolExecutor(2) as pool:
    started: MultistartResult = multistart("sphere", (-1.0, 1.0), dim=2, seeds=2, executor=pool)
    best: PsoResult = started.best
    done: PsoResult = drive(Swarm((-1.0, 1.0), dim=2), sphere, pool, checkpoint="run.ckpt")
    fronts: ParetoFront = drive(MultiSwarm((0.0, 1.0), dim=2, max_iter=3), two, pool)
    on_pool: DriveResult = minimize(sphere, (-1.0, 1.0), dim=2, executor=pool, on_error=1e9)
    failed: int = on_pool.failed + minimize_multi(two, (0.0, 1.0), dim=2, executor=pool).failed
resumed = load_checkpoint("run.ckpt")
reveal_type(resumed)

points = np.array(front.objectives)
distance: float = indicators.igd(points, points) + indicators.igd_plus(points, points)
epsilon: float = indicators.additive_epsilon(points, points)
ranks: npt.NDArray[np.intp] = indicators.nondominated_ranks(points)
crowding: npt.NDArray[np.float64] = indicators.crowding_distance(points)
shares = indicators.hypervolume_contributions(points, [2.0, 2.0])
reveal_type(shares)

zdt1: Problem = PROBLEMS[MULTI_PROBLEMS[0]]
parser = build_parser()
code: int = main(["list"])

axes = plot_convergence([r, recorder, [1.0, 0.5]], labels=["a", "b", "c"])
reveal_type(axes)
plot_front(front, reference=[2.0, 2.0])
plot_grey(grey)
animation = animate_swarm(r, objective="sphere")
reveal_type(animation)
save_animation(animation, "swarm.gif")

try:
    minimize(sphere, (-1.0, 1.0), dim=2)
except kestrelopt.PanicException:
    pass
version: str = kestrelopt.__version__
'''


def check_script(tmp_path, text):
    script = tmp_path / "user_script.py"
    script.write_text(textwrap.dedent(text))
    # The cache goes with the script: the package's own check above uses none.
    return mypy("mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), str(script))


def test_a_user_script_of_every_public_name_passes_strict(tmp_path):
    pytest.importorskip("matplotlib")  # viz's Axes and FuncAnimation come from its types
    done = check_script(tmp_path, USER_SCRIPT)
    revealed = [line.split("Revealed type is ", 1)[1] for line in done.stdout.splitlines()
                if "Revealed type is" in line]
    errors = [line for line in done.stdout.splitlines() if ": error:" in line]
    assert errors == [], done.stdout
    # Exactly these types, in the words of whichever mypy version runs.
    expected = ["numpy.ndarray[", "kestrelopt_native.Swarm | kestrelopt_native.MultiSwarm",
                "numpy.ndarray[",
                "matplotlib.axes._axes.Axes", "matplotlib.animation.FuncAnimation"]
    assert len(revealed) == len(expected), done.stdout
    for shown, start in zip(revealed, expected):
        assert shown.startswith('"' + start) or (
            "|" in start and shown == '"Union[' + start.replace(" | ", ", ") + ']"'), done.stdout
        assert "ndarray" not in start or shown.endswith("numpy.dtype[numpy.float64]]\""), done.stdout


MISSPELT = [
    'kestrelopt.minimize("sphere", (-1.0, 1.0), dim=2, velocity="inerta")',
    'kestrelopt.minimize("sphere", (-1.0, 1.0), dim=2, topology="von-neumann")',
    'kestrelopt.minimize("sphere", (-1.0, 1.0), dim=2, bounds_handling="bounce")',
    'kestrelopt.minimize("sphere", [(0.0, 1.0)], var_types=["int"])',
    'kestrelopt.minimize_multi(lambda x: [x[0]], (0.0, 1.0), dim=2, velocity="fips")',
    'kestrelopt.minimize_grey("grey_sphere", (0.0, 1.0), dim=2, representation="pairs")',
    'kestrelopt.Swarm((0.0, 1.0), dim=2, velocity="Inertia")',
    'kestrelopt.MultiSwarm((0.0, 1.0), dim=2, bounds_handling="clip")',
]


def test_each_misspelt_option_fails_the_type_check(tmp_path):
    # One script, one call per line: each line must give exactly one error, on its option.
    done = check_script(tmp_path, "import kestrelopt\n" + "\n".join(MISSPELT) + "\n")
    errors = {}
    for line in done.stdout.splitlines():
        if ": error:" in line:
            number = int(line.split(":")[1])
            errors.setdefault(number, []).append(line)
    assert done.returncode == 1 and sorted(errors) == list(range(2, 2 + len(MISSPELT))), done.stdout
    # minimize and minimize_multi are overloaded (with an executor they return a
    # DriveResult), and for an overloaded call mypy names no argument.
    for found in errors.values():
        assert len(found) == 1, done.stdout
        assert "expected \"Literal['" in found[0] or (
            'No overload variant of "minimize' in found[0] and "\"str\"" in found[0]), done.stdout
