"""Every script under examples/ runs to the end on a small budget."""

import importlib.util
import os
import pathlib
import re
import subprocess
import sys

import pytest

import kestrelopt as pso

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def has_module(name):
    return importlib.util.find_spec(name) is not None


def run_example(name, *args):
    env = dict(os.environ, KESTRELOPT_QUICK="1", MPLBACKEND="Agg",
               PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *map(str, args)],
                          capture_output=True, text=True, env=env, timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout


def numbers_after(text, label):
    """The numbers on the rest of the first line that contains `label`."""
    match = re.search(re.escape(label) + r"(.*)", text)
    assert match, f"no '{label}' in:\n{text}"
    return [float(v) for v in re.findall(r"[-+]?\d+(?:\.\d*)?(?:e[-+]?\d+)?", match.group(1))]


def assert_png(path):
    with open(path, "rb") as handle:
        assert handle.read(8) == b"\x89PNG\r\n\x1a\n"


def test_every_example_is_covered():
    tested = {"constrained.py", "mixed_integer_design.py", "vectorized_numpy.py",
              "dask_distributed.py", "zdt1_front.py", "grey_numbers.py", "compare_variants.py",
              "constrained_front.py", "ask_tell_checkpoint.py", "async_dask.py"}
    assert {p.name for p in EXAMPLES.glob("*.py")} == tested


def test_constrained():
    out = run_example("constrained.py")
    x, y = numbers_after(out, "best point")
    assert x + y - 2 <= 1e-3 and x * x - y <= 1e-3  # feasible up to the penalty's slack
    assert numbers_after(out, "objective")[0] == pytest.approx((x - 2) ** 2 + (y - 1) ** 2, abs=1e-5)


def test_constrained_front(tmp_path):
    pytest.importorskip("matplotlib")
    path = tmp_path / "front.png"
    out = run_example("constrained_front.py", path)
    assert numbers_after(out, "largest violation") == [0.0]
    assert numbers_after(out, "largest g(x)")[0] <= 0
    assert numbers_after(out, "evaluations") == [20 * 11]
    assert_png(path)


def test_mixed_integer_design():
    out = run_example("mixed_integer_design.py")
    plates = numbers_after(out, "shell thickness")
    assert plates[0] == plates[1] * 0.0625 and plates[1] == int(plates[1])
    assert numbers_after(out, "worst constraint")[0] <= 1e-3
    assert numbers_after(out, "cost")[0] >= 6059.7  # never below the best known design


def test_vectorized_numpy():
    out = run_example("vectorized_numpy.py")
    best = numbers_after(out, "NumPy, whole swarm per call: best")[0]
    assert numbers_after(out, "value at the vectorized best position:")[0] == best


@pytest.mark.skipif(not has_module("distributed"), reason="needs dask.distributed")
def test_dask_distributed():
    out = run_example("dask_distributed.py")
    assert "identical results: True" in out


@pytest.mark.skipif(not has_module("distributed"), reason="needs dask.distributed")
def test_async_dask():
    out = run_example("async_dask.py")
    for schedule in ("synchronous (Swarm)", "asynchronous (AsyncSwarm)"):
        assert numbers_after(out, schedule)[1] == 40  # the whole budget, in either schedule
    assert numbers_after(out, "wall-time ratio")[-1] > 0


@pytest.mark.skipif(not has_module("distributed"), reason="needs dask.distributed")
def test_ask_tell_checkpoint():
    out = run_example("ask_tell_checkpoint.py")
    saved, total = numbers_after(out, "killed the run after")
    assert 4 <= saved < total  # killed part-way, once its fourth round was saved
    assert numbers_after(out, "resumed run:")[1] == total * 10
    assert "identical to the uninterrupted run: True" in out


@pytest.mark.skipif(not has_module("matplotlib"), reason="needs matplotlib")
def test_compare_variants_plot(tmp_path):
    path = tmp_path / "convergence.png"
    out = run_example("compare_variants.py", path)
    assert len(re.findall(r"best \d", out)) == 3
    assert_png(path)


@pytest.mark.skipif(not hasattr(pso, "minimize_multi"), reason="no minimize_multi yet")
@pytest.mark.skipif(not has_module("matplotlib"), reason="needs matplotlib")
def test_zdt1_front(tmp_path):
    path = tmp_path / "front.png"
    out = run_example("zdt1_front.py", path)
    hypervolume = numbers_after(out, "hypervolume")[0]
    assert 0 < hypervolume <= 1.21 - 1 / 3 + 1e-9
    assert_png(path)


@pytest.mark.skipif(not hasattr(pso, "minimize_grey"), reason="no minimize_grey yet")
def test_grey_numbers():
    out = run_example("grey_numbers.py")
    parts = [numbers_after(out, f"part {k}:")[:2] for k in range(3)]
    assert all(lo <= hi for lo, hi in parts)
    # Each part stays inside its +-1 mm window around the nominal length and max spread.
    for (lo, hi), nominal in zip(parts, [12.0, 8.0, 10.0]):
        assert nominal - 1 <= lo and hi <= nominal + 1 and hi - lo <= 1.0 + 1e-4
    shortest, longest = numbers_after(out, "assembly:")[:2]
    assert shortest == pytest.approx(sum(lo for lo, _ in parts), abs=2e-4)
    assert longest == pytest.approx(sum(hi for _, hi in parts), abs=2e-4)
    assert numbers_after(out, "cost:")
