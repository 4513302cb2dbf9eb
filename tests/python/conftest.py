"""Shared helpers for the tests of the kestrelopt extension module."""

import math

import pytest

import kestrelopt as pso


def sphere_loop(x):
    """Sum of squares, left to right, as the native "sphere" adds them."""
    total = 0.0
    for v in x:
        total += v * v
    return total


def interpreter_float_error(value):
    """The message of the interpreter's own float conversion failure for `value`."""
    with pytest.raises(TypeError) as info:
        math.sqrt(value)  # converts its argument exactly as the module does
    return str(info.value)


def panic_type():
    """The PanicException class, obtained from a failing call."""
    try:
        pso.minimize("sphere", bounds=[(1.0, 0.0)])
    except BaseException as error:  # noqa: BLE001 - the class is what we want
        return type(error)
    raise AssertionError("reversed bounds did not fail")


class FailOn:
    """Raises one prepared exception on call number `n` (1-based), answers `value(x)`
    otherwise, and counts its calls."""

    def __init__(self, n, error=None, value=lambda x: 1.0):
        self.n = n
        self.calls = 0
        self.error = error if error is not None else RuntimeError("objective failed")
        self.value = value

    def __call__(self, x):
        self.calls += 1
        if self.calls == self.n:
            raise self.error
        return self.value(x)


def same_bits(a, b):
    """Float equality that tells -0.0 from 0.0 and treats NaN as equal to itself."""
    return math.copysign(1.0, a) == math.copysign(1.0, b) and (a == b or (a != a and b != b))


def assert_same_result(r1, r2):
    assert all(same_bits(a, b) for a, b in zip(r1.best_position, r2.best_position))
    assert len(r1.best_position) == len(r2.best_position)
    assert same_bits(r1.best_value, r2.best_value)
    assert r1.convergence == r2.convergence
    assert r1.history == r2.history
    assert r1.evaluations == r2.evaluations
    assert r1.stop_reason == r2.stop_reason


def run_cli(capsys, *argv):
    """Run the command in this process; returns (exit code, stdout, stderr)."""
    from kestrelopt import cli

    try:
        code = cli.main(list(argv))
    except SystemExit as stop:  # argparse's own exits
        code = stop.code
    out, err = capsys.readouterr()
    return code, out, err
