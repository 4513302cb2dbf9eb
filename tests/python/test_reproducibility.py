"""Seeded runs are reproducible bit for bit, whatever calls the objective."""

import pytest

import kestrelopt as pso
from conftest import assert_same_result, sphere_loop

B = [(-5.12, 5.12)] * 4


@pytest.mark.parametrize("name", ["sphere", "rastrigin", "rosenbrock", "ackley", "griewank", "schwefel",
                                  "bent_cigar", "discus", "elliptic", "zakharov", "levy", "expanded_schaffer"])
def test_native_benchmark_twice(name):
    assert_same_result(pso.minimize(name, B, seed=42), pso.minimize(name, B, seed=42))


@pytest.mark.parametrize(
    "kwargs",
    [
        dict(),
        dict(velocity="constriction", topology="ring"),
        dict(velocity="fips", topology="vonneumann"),
        dict(topology="random"),
        dict(bounds_handling="reinit", w=2.0),
        dict(bounds_handling="reflect", v_max=1.0),
        dict(bounds_handling="wrap"),
        dict(patience=3, tol=1e-3),
        dict(var_types=["real", "real", "real", "real"]),
    ],
)
def test_native_sphere_and_python_loop_agree_bit_for_bit(kwargs):
    native = pso.minimize("sphere", B, seed=7, **kwargs)
    python = pso.minimize(sphere_loop, B, seed=7, **kwargs)
    assert_same_result(native, python)


def test_integer_runs_agree_with_native_on_the_rounded_values():
    native = pso.minimize("sphere", B, seed=3, integer=True)
    python = pso.minimize(sphere_loop, B, seed=3, integer=True)
    assert_same_result(native, python)


def test_documented_example():
    r = pso.minimize("rastrigin", bounds=[(-5.12, 5.12)] * 2, seed=42)
    assert r.best_value < 1e-3
    assert r.evaluations == 3030 and r.stop_reason == "max_iterations"


def test_different_seeds_differ():
    assert pso.minimize("sphere", B, seed=1).history != pso.minimize("sphere", B, seed=2).history


def test_unseeded_runs_differ():
    assert pso.minimize("sphere", B).history[0] != pso.minimize("sphere", B).history[0]
