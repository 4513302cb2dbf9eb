"""Internal failures of the core reach Python as PanicException and leave the module usable."""

import subprocess
import sys

import pytest

import kestrelopt as pso
from conftest import panic_type, sphere_loop

PanicException = panic_type()


def test_panic_exception_class():
    assert PanicException.__name__ == "PanicException"
    assert PanicException.__bases__ == (BaseException,)
    assert not issubclass(PanicException, Exception)
    assert panic_type() is PanicException  # created once


def test_the_class_is_reachable_by_name_from_module_and_package():
    from kestrelopt import kestrelopt_native as native

    assert native.PanicException is PanicException
    assert pso.PanicException is PanicException
    assert "PanicException" not in native.__all__ and "PanicException" not in pso.__all__
    assert PanicException.__doc__.startswith("Raised when a consistency check inside the")


@pytest.mark.parametrize("module", ["kestrelopt", "kestrelopt.kestrelopt_native"])
def test_unknown_attributes_still_raise_attribute_error(module):
    import importlib

    with pytest.raises(AttributeError, match=r"module '[a-z_]+' has no attribute 'PanicExceptio'"):
        getattr(importlib.import_module(module), "PanicExceptio")
    assert not hasattr(importlib.import_module(module), "panicexception")


def test_naming_the_class_before_any_failure_gives_the_class_later_raised():
    code = (
        "import kestrelopt as pso\n"
        "P = pso.PanicException\n"
        "try:\n"
        "    pso.minimize('sphere', [(1.0, 0.0)])\n"
        "except P as e:\n"
        "    print(type(e) is P, P.__bases__ == (BaseException,), e.args)\n"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.stdout == "True True ('invalid bound in dimension 0: 1 > 0',)\n", result.stderr


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((sphere_loop, [(1, 0)]), {}, "invalid bound in dimension 0: 1 > 0"),
        (("sphere", [(0, 1), (5.5, -2.25)]), {}, "invalid bound in dimension 1: 5.5 > -2.25"),
        ((sphere_loop, [(0, float("nan"))]), {}, "invalid bound in dimension 0: 0 > NaN"),
        ((sphere_loop, [(2.6, 0.4)]), dict(integer=True), "invalid bound in dimension 0: 3 > 0"),
        ((sphere_loop, [(0, 1), (4, 1)]), dict(var_types=["real", "int"]), "invalid bound in dimension 1: 4 > 1"),
        ((sphere_loop, [(0, 1)]), dict(max_time=-1.0), "cannot convert float seconds to Duration: value is negative"),
        ((sphere_loop, [(0, 1)]), dict(max_time=-1e-300), "cannot convert float seconds to Duration: value is negative"),
        ((sphere_loop, [(0, 1)]), dict(max_time=float("-inf")), "cannot convert float seconds to Duration: value is negative"),
        ((sphere_loop, [(0, 1)]), dict(max_time=float("nan")), "cannot convert float seconds to Duration: value is either too big or NaN"),
        ((sphere_loop, [(0, 1)]), dict(max_time=float("inf")), "cannot convert float seconds to Duration: value is either too big or NaN"),
        ((sphere_loop, [(0, 1)]), dict(max_time=2.0**64), "cannot convert float seconds to Duration: value is either too big or NaN"),
        ((sphere_loop, [(-1e308, 1e308)]), {}, "Uniform::new_inclusive: range overflow"),
        ((sphere_loop, [(-1e300, 1e300)]), dict(integer=True), "cannot sample empty range"),
    ],
)
def test_internal_failures(args, kwargs, message, capsys):
    with pytest.raises(PanicException) as info:
        pso.minimize(*args, **kwargs)
    assert info.value.args == (message,)
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and message in err
    # the module stays usable
    assert pso.minimize("sphere", [(0, 1)], n_particles=2, max_iter=1).evaluations == 4


def test_largest_time_below_the_limit_is_accepted():
    r = pso.minimize(sphere_loop, [(0, 1)], max_time=2.0**64 - 2048, n_particles=2, max_iter=2)
    assert r.stop_reason == "max_iterations"


def test_plain_except_exception_does_not_catch_it():
    caught = None
    try:
        try:
            pso.minimize(sphere_loop, [(1, 0)])
        except Exception:  # noqa: BLE001 - the point of the test
            caught = "Exception"
    except BaseException as error:  # noqa: BLE001
        caught = type(error).__name__
    assert caught == "PanicException"


def test_panic_inside_a_nested_call_can_be_caught_by_the_objective():
    def objective(x):
        with pytest.raises(PanicException):
            pso.minimize(sphere_loop, [(1, 0)])
        return 0.0

    assert pso.minimize(objective, [(0, 1)], n_particles=2, max_iter=1).evaluations == 4
