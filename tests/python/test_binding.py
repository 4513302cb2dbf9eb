"""Argument binding and conversion shared by every module function."""

import math

import numpy as np
import pytest

import kestrelopt as pso
from conftest import assert_same_result, interpreter_float_error, sphere_loop


def f(x):
    return 0.0


B = [(0.0, 1.0)]
QUICK = dict(n_particles=2, max_iter=1)


# ---- binding ---------------------------------------------------------------------------

@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: pso.minimize(), "minimize() missing 2 required positional arguments: 'objective' and 'bounds'"),
        (lambda: pso.minimize(f), "minimize() missing 1 required positional argument: 'bounds'"),
        (lambda: pso.minimize(bounds=B), "minimize() missing 1 required positional argument: 'objective'"),
        (lambda: pso.minimize(*([f] * 39)), "minimize() takes from 2 to 38 positional arguments but 39 were given"),
        (lambda: pso.minimize(f, B, speed=1), "minimize() got an unexpected keyword argument 'speed'"),
        (lambda: pso.minimize(f, B, objective=f), "minimize() got multiple values for argument 'objective'"),
        (lambda: pso.minimize(f, B, False, integer=True), "minimize() got multiple values for argument 'integer'"),
        (lambda: pso.benchmark_info(), "benchmark_info() missing 1 required positional argument: 'name'"),
        (lambda: pso.benchmark_info("a", "b"), "benchmark_info() takes 1 positional arguments but 2 were given"),
        (lambda: pso.benchmark_info(nom="a"), "benchmark_info() got an unexpected keyword argument 'nom'"),
        (lambda: pso.grey_benchmark_info("a", "b", "c"), "grey_benchmark_info() takes 1 positional arguments but 3 were given"),
        (lambda: pso.grey_benchmark_info(), "grey_benchmark_info() missing 1 required positional argument: 'name'"),
    ],
)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize(
    "call, message",
    [
        # too many positional arguments is checked before the keywords
        (lambda: pso.minimize(*([f] * 39), speed=1), "minimize() takes from 2 to 38 positional arguments but 39 were given"),
        # keywords in the order the caller passed them
        (lambda: pso.minimize(f, B, speed=1, objective=f), "minimize() got an unexpected keyword argument 'speed'"),
        (lambda: pso.minimize(f, B, objective=f, speed=1), "minimize() got multiple values for argument 'objective'"),
        # keywords before the missing parameters
        (lambda: pso.minimize(speed=1), "minimize() got an unexpected keyword argument 'speed'"),
        # binding before any conversion
        (lambda: pso.minimize(f, B, n_particles="x", speed=1), "minimize() got an unexpected keyword argument 'speed'"),
        (lambda: pso.minimize(n_particles="x"), "minimize() missing 2 required positional arguments: 'objective' and 'bounds'"),
    ],
)
def test_binding_check_order(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_every_parameter_binds_positionally():
    calls = []
    r = pso.minimize(
        lambda x: calls.append(x) or 1.0, B, False, 3, 2, 0.5, 1.0, 1.0, "inertia", "global", 5,
        False, None, 0, 0.0, None, 1e6, False, None, None, None, None, "clamp", False, None, None,
        None, None,
    )
    assert r.evaluations == 9 and len(calls) == 9
    assert r.history == []


def test_keywords_bind_by_name_in_any_order():
    r = pso.minimize(max_iter=2, bounds=B, n_particles=3, objective=f, seed=1)
    assert r.evaluations == 9


# ---- conversion ------------------------------------------------------------------------

class FloatLike:
    def __float__(self):
        return 0.5


class IndexLike:
    def __index__(self):
        return 4


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(integer=None), "argument 'integer': 'NoneType' object cannot be converted to 'PyBool'"),
        (dict(integer=1), "argument 'integer': 'int' object cannot be converted to 'PyBool'"),
        (dict(record_history="yes"), "argument 'record_history': 'str' object cannot be converted to 'PyBool'"),
        (dict(vectorized=np.float64(1.0)), "argument 'vectorized': 'float64' object cannot be converted to 'PyBool'"),
        (dict(n_particles=1.5), "argument 'n_particles': 'float' object cannot be interpreted as an integer"),
        (dict(n_particles=None), "argument 'n_particles': 'NoneType' object cannot be interpreted as an integer"),
        (dict(seed="7"), "argument 'seed': 'str' object cannot be interpreted as an integer"),
        (dict(velocity=1), "argument 'velocity': 'int' object cannot be converted to 'PyString'"),
        (dict(velocity=None), "argument 'velocity': 'NoneType' object cannot be converted to 'PyString'"),
        (dict(bounds_handling=b"clamp"), "argument 'bounds_handling': 'bytes' object cannot be converted to 'PyString'"),
        (dict(var_types="real"), "argument 'var_types': Can't extract `str` to `Vec`"),
        (dict(var_types=5), "argument 'var_types': 'int' object cannot be converted to 'Sequence'"),
        (dict(var_types=["real", 1]), "argument 'var_types': 'int' object cannot be converted to 'PyString'"),
        (dict(constraints=5), "argument 'constraints': 'int' object cannot be converted to 'Sequence'"),
        (dict(constraints="g"), "argument 'constraints': 'g' is neither a list of callables nor \"returned\""),
        (dict(equality_constraints={"a": 1}), "argument 'equality_constraints': 'dict' object cannot be converted to 'Sequence'"),
    ],
)
def test_conversion_errors(kwargs, message):
    with pytest.raises(TypeError) as info:
        pso.minimize(f, B, **kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "name, value",
    [
        (name, value)
        for name in ["w", "c1", "c2", "tol", "penalty", "v_max", "target", "max_time", "w_end",
                     "v_max_fraction"]
        for value in ["a", [1.0], object()]
        if not (name == "v_max" and isinstance(value, list))  # one limit per dimension
    ],
)
def test_float_conversion_errors_wrap_the_interpreter_message(name, value):
    with pytest.raises(TypeError) as info:
        pso.minimize(f, B, **{name: value})
    assert str(info.value) == f"argument '{name}': " + interpreter_float_error(value)


def test_non_optional_float_refuses_none():
    with pytest.raises(TypeError) as info:
        pso.minimize(f, B, w=None)
    assert str(info.value) == "argument 'w': " + interpreter_float_error(None)


@pytest.mark.parametrize(
    "kwargs, error",
    [
        (dict(n_particles=-1), ValueError),
        (dict(max_iter=2**64), ValueError),
        (dict(seed=-5), ValueError),
        (dict(dim=-1), ValueError),
        (dict(velocity="\ud800"), UnicodeEncodeError),
    ],
)
def test_other_conversion_errors_pass_through_unwrapped(kwargs, error):
    with pytest.raises(error) as info:
        pso.minimize(f, B, **kwargs)
    assert type(info.value) is error
    assert not str(info.value).startswith("argument")


def test_first_failing_argument_in_signature_order_is_reported():
    # integer (3rd) comes before w (6th) and velocity (9th), whatever the keyword order
    with pytest.raises(TypeError) as info:
        pso.minimize(f, B, velocity=1, w="a", integer=None)
    assert str(info.value).startswith("argument 'integer':")


def test_wrapped_error_keeps_the_cause():
    root = KeyError("root")

    class Bad:
        def __float__(self):
            raise TypeError("inner") from root

    with pytest.raises(TypeError) as info:
        pso.minimize(f, B, w=Bad())
    assert str(info.value) == "argument 'w': inner"
    assert info.value.__cause__ is root


def test_conversion_error_of_another_type_is_the_same_object():
    problem = ValueError("from __float__")

    class Bad:
        def __float__(self):
            raise problem

    with pytest.raises(ValueError) as info:
        pso.minimize(f, B, tol=Bad())
    assert info.value is problem


@pytest.mark.parametrize(
    "kwargs",
    [
        dict(integer=np.True_),
        dict(record_history=np.False_),
        dict(n_particles=np.int64(3)),
        dict(n_particles=True),
        dict(n_particles=IndexLike()),
        dict(max_iter=np.uint8(2)),
        dict(w=FloatLike()),
        dict(w=1),
        dict(w=np.float32(0.5)),
        dict(w=IndexLike()),
        dict(var_types=("real",)),
        dict(var_types=np.array(["real"])),
        dict(constraints=(lambda x: 0.0,)),
    ],
)
def test_accepted_conversions(kwargs):
    r = pso.minimize(f, B, **{**QUICK, **kwargs})
    assert r.stop_reason == "max_iterations"


def test_numpy_boolean_is_taken_by_its_truth_value():
    seen = []
    pso.minimize(lambda x: seen.append(type(x[0])) or 0.0, B, integer=np.True_, **QUICK)
    assert set(seen) == {int}
    seen.clear()
    pso.minimize(lambda x: seen.append(type(x[0])) or 0.0, B, integer=np.False_, **QUICK)
    assert set(seen) == {float}


@pytest.mark.parametrize(
    "name", ["v_max", "constraints", "max_evals", "target", "max_time", "callback", "var_types",
             "dim", "equality_constraints", "repair"],
)
def test_none_is_the_same_as_leaving_an_optional_parameter_out(name):
    r1 = pso.minimize(sphere_loop, B, seed=3, **QUICK, **{name: None})
    r2 = pso.minimize(sphere_loop, B, seed=3, **QUICK)
    assert_same_result(r1, r2)


def test_seed_none_runs_unseeded():
    assert pso.minimize(f, B, seed=None, **QUICK).evaluations == 4


def test_count_accepts_the_largest_64_bit_value():
    r = pso.minimize(f, B, seed=2**64 - 1, **QUICK)
    assert r.evaluations == 4


@pytest.mark.parametrize("call", [lambda: pso.benchmark_info(3), lambda: pso.benchmark_info(name=3)])
def test_catalogue_text_argument(call):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == "argument 'name': 'int' object cannot be converted to 'PyString'"


def test_sequence_of_objects_is_copied_at_the_call():
    # Emptying the caller's list during the run does not change what the run uses.
    calls = []
    constraints = []

    def g(x):
        calls.append(1)
        constraints.clear()
        return 0.0

    constraints.append(g)
    pso.minimize(f, B, constraints=constraints, **QUICK)
    assert len(calls) == 4


def test_list_conversion_survives_an_item_that_empties_the_list():
    values = []

    class Shrinking:
        def __float__(self):
            values.clear()
            return 0.25

    def repair(x):
        values[:] = [Shrinking(), Shrinking()]
        return values

    r = pso.minimize(lambda x: 0.0, B, repair=repair, **QUICK)
    assert r.best_position == [0.25]
