"""Representations of the result objects and their number formatting."""

import math
import random

import pytest

import kestrelopt as pso


def fixed_result(value, position, **kwargs):
    """A result whose best value and best position are known in advance: the objective is
    constant and the repair operator maps every point (the final best included) to
    `position`."""
    position = list(position)
    return pso.minimize(lambda x: value, bounds=[(0.0, 1.0)] * len(position), n_particles=2,
                        max_iter=kwargs.pop("max_iter", 3), seed=1,
                        repair=lambda x: position, **kwargs)


def python_style_shortest(v):
    """Python's repr with a bare exponent and "NaN"."""
    if v != v:
        return "NaN"
    text = repr(v)
    if "e" in text:
        mantissa, exponent = text.split("e")
        text = mantissa + "e" + str(int(exponent))
    return text


def test_documented_example():
    r = fixed_result(0.0, [0.0, 0.0], max_iter=100)
    assert repr(r) == "PsoResult(best_value=0.000000, best_position=[0.0, 0.0], iters=100, stop_reason=max_iterations)"


@pytest.mark.parametrize(
    "value, text",
    [
        (float("nan"), "NaN"),
        (float("inf"), "inf"),
        (float("-inf"), "-inf"),
        (0.0078125, "0.007812"),
        (0.0234375, "0.023438"),
        (-1e-9, "-0.000000"),
        (1e20, "100000000000000000000.000000"),
        (2.5, "2.500000"),
        (-123.4567895, "-123.456789"),
        (1e-7, "0.000000"),
        (5e-7, "0.000000"),  # just below 5e-7 in binary
        (5.0000001e-7, "0.000001"),
    ],
)
def test_best_value_fixed_six(value, text):
    r = fixed_result(value, [1.0])
    assert repr(r) == f"PsoResult(best_value={text}, best_position=[1.0], iters=3, stop_reason=max_iterations)"


def test_negative_zero_best_value():
    # One-dimensional rosenbrock sums no terms: negative zero, reported as such.
    r = pso.minimize("rosenbrock", bounds=[(1.0, 1.0)], n_particles=2, max_iter=1)
    assert math.copysign(1.0, r.best_value) == -1.0
    assert repr(r) == "PsoResult(best_value=-0.000000, best_position=[1.0], iters=1, stop_reason=max_iterations)"


@pytest.mark.parametrize(
    "position, text",
    [
        ([1e-5, 12.0], "[1e-5, 12.0]"),
        ([0.0001, -2.5], "[0.0001, -2.5]"),
        ([-0.0, 0.0], "[-0.0, 0.0]"),
        ([1e16, 1.5e16, -2.5e-7], "[1e16, 1.5e16, -2.5e-7]"),
        ([9999999999999998.0], "[9999999999999998.0]"),
        ([123456.789, 0.1], "[123456.789, 0.1]"),
        ([5e-324, 1.7976931348623157e308], "[5e-324, 1.7976931348623157e308]"),
        ([9.99999e-5], "[9.99999e-5]"),
    ],
)
def test_best_position_shortest_digits(position, text):
    r = fixed_result(0.0, position)
    assert repr(r) == f"PsoResult(best_value=0.000000, best_position={text}, iters=3, stop_reason=max_iterations)"


def random_doubles(count, seed):
    rng = random.Random(seed)
    values = []
    for _ in range(count):
        exponent = rng.randint(-30, 30)
        values.append(rng.choice([-1, 1]) * rng.random() * 10.0**exponent)
    values += [rng.uniform(-1e6, 1e6) for _ in range(50)]
    return values


def test_shortest_digits_agree_with_python_repr():
    values = random_doubles(400, 5)
    r = fixed_result(0.0, values, max_iter=0)
    expected = "[" + ", ".join(python_style_shortest(v) for v in values) + "]"
    assert repr(r) == f"PsoResult(best_value=0.000000, best_position={expected}, iters=0, stop_reason=max_iterations)"


@pytest.mark.parametrize("value", random_doubles(60, 9) + [0.5, 1.5, 2.5, 0.0000005, 0.0000015, 1e300])
def test_fixed_six_agrees_with_printf(value):
    r = fixed_result(value, [1.0], max_iter=0)
    assert repr(r).startswith("PsoResult(best_value=" + "%.6f" % value + ",")


def test_record_history_off_shows_zero_iterations():
    r = pso.minimize("sphere", bounds=[(-1.0, 1.0)], n_particles=3, max_iter=7, record_history=False)
    assert r.history == [] and r.convergence == []
    assert ", iters=0, stop_reason=max_iterations)" in repr(r)


def test_stop_reason_is_unquoted():
    r = pso.minimize("sphere", bounds=[(-1.0, 1.0)], n_particles=3, max_iter=50, callback=lambda i, v: False)
    assert repr(r).endswith(", iters=1, stop_reason=callback)")


def test_whole_position_is_formatted():
    r = fixed_result(0.0, [0.5] * 1000, max_iter=0)
    assert repr(r).count("0.5") == 1000
    assert not math.isnan(r.best_value)
