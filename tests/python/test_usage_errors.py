"""The usual mistakes: each error names the callable or argument, what was expected and what
came back."""

import numpy as np
import pytest

import kestrelopt as pso
from kestrelopt.parallel import batched
from conftest import sphere_loop

B3 = [(-5.0, 5.0)] * 3


def answers_on_call(bad_call, bad, good=0.0):
    """An objective that returns `bad` on its `bad_call`-th call (from 1) and `good` otherwise."""
    calls = []

    def objective(x):
        calls.append(1)
        return bad if len(calls) == bad_call else good

    return objective


@pytest.mark.parametrize(
    "call, message",
    [
        # The particle is the one evaluated: 5 particles, so call 8 is particle 2 of iteration 0.
        (lambda: pso.minimize(answers_on_call(8, None), B3, n_particles=5, seed=1),
         "objective returned None for particle 2; it must return a number"),
        # A restart's swarm is larger: 3 particles stagnate after one iteration (6 calls),
        # then 6 start, so call 11 is particle 4 of the second run's swarm.
        (lambda: pso.minimize(answers_on_call(11, None), B3, n_particles=3, patience=1,
                              tol=1e9, restarts=1),
         "objective returned None for particle 4; it must return a number"),
        (lambda: pso.minimize(answers_on_call(1, "1.5"), B3, array_input=True),
         "objective returned a str for particle 0; it must return a number"),
        (lambda: pso.minimize(lambda x: np.zeros(2), B3),
         "objective returned an ndarray of shape (2,) for particle 0; it must return a number"),
        (lambda: pso.minimize(sphere_loop, B3, n_particles=4,
                              equality_constraints=[lambda x: 0.0, answers_on_call(3, [0.0])]),
         "equality_constraints[1] returned a list for particle 2; it must return a number"),
        (lambda: pso.minimize(sphere_loop, B3, repair=lambda x: (1.0, "a", 2.0)),
         "repair returned a tuple whose item 1 is a str for particle 0; it must return the "
         "repaired point, a sequence of numbers"),
        (lambda: pso.minimize(lambda X: float((X ** 2).sum()), B3, n_particles=7, vectorized=True),
         "objective returned a float for the (7, 3) matrix of the whole swarm (vectorized=True); "
         "it must return one value per row"),
        (lambda: pso.minimize(lambda X: (1.0, [[0.0]] * len(X)), B3, n_particles=5, vectorized=True,
                              constraints="returned"),
         "objective returned a float for the (5, 3) matrix of the whole swarm (vectorized=True); "
         "it must return one value per row as the first item of its tuple"),
        (lambda: pso.minimize(lambda x: ("1", [0.0]), B3, constraints="returned"),
         "objective returned a str for particle 0; it must return a number as the first item of "
         "its tuple"),
        (lambda: pso.minimize_grey(answers_on_call(4, None), B3, n_particles=3),
         "objective returned None for particle 0; it must return a number"),
        (lambda: pso.minimize_multi(answers_on_call(13, None, [0.0, 1.0]), B3, n_particles=6),
         "objective returned None for particle 0; it must return a sequence of numbers, one per "
         "objective"),
        (lambda: pso.minimize_multi(lambda x: [1.0, 2.0], B3, n_particles=6,
                                    constraints=[answers_on_call(2, "no")]),
         "constraints[0] returned a str for particle 1; it must return a number"),
    ],
)
def test_an_unreadable_answer_names_the_callable_and_the_particle(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    assert isinstance(info.value.__cause__, TypeError)  # the interpreter's own words


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: pso.minimize("sphere", B3, n_particles=-3),
         "n_particles must be a non-negative whole number, got -3"),
        (lambda: pso.minimize("sphere", B3, max_iter=-1),
         "max_iter must be a non-negative whole number, got -1"),
        (lambda: pso.minimize("sphere", (-1, 1), dim=np.int64(-2)),
         "dim must be a non-negative whole number, got -2"),
        (lambda: pso.minimize("sphere", B3, seed=2**64),
         "seed must be a whole number below 2**64, got 18446744073709551616"),
        (lambda: pso.minimize_multi(sphere_loop, B3, archive_size=-1),
         "archive_size must be a non-negative whole number, got -1"),
        (lambda: pso.minimize_grey("grey_sphere", B3, patience=-5),
         "patience must be a non-negative whole number, got -5"),
        (lambda: pso.Swarm(B3, ring_neighbors=-1),
         "ring_neighbors must be a non-negative whole number, got -1"),
        (lambda: pso.MultiSwarm(B3, max_evals=-10),
         "max_evals must be a non-negative whole number, got -10"),
        (lambda: pso.minimize(sphere_loop, B3, penalty=-1.0),
         "penalty must be >= 0 (a negative weight rewards violating the constraints), got -1"),
        (lambda: pso.minimize(sphere_loop, B3, penalty=-float("inf"), constraints=[lambda x: 1.0]),
         "penalty must be >= 0 (a negative weight rewards violating the constraints), got -inf"),
    ],
)
def test_a_value_out_of_range_names_the_argument(call, message):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == message


def test_a_zero_penalty_is_still_accepted():
    r = pso.minimize(lambda x: x[0], B3, penalty=0.0, constraints=[lambda x: 1.0], seed=1)
    assert r.best_value == pytest.approx(-5.0, abs=1e-6)


@pytest.mark.parametrize(
    "call, what",
    [
        (lambda f: pso.minimize(f, B3), "a list of 3 values"),
        (lambda f: pso.minimize(f, B3, array_input=True), "an array of shape (3,)"),
        (lambda f: pso.minimize_multi(f, B3), "a list of 3 values"),
    ],
)
def test_batched_without_vectorized_says_what_it_needs(call, what):
    objective = batched(lambda x: [sum(x), 1.0])
    with pytest.raises(TypeError) as info:
        call(objective)
    assert str(info.value) == (
        f"{objective!r} was given {what}, not the swarm's rows: a parallel.batched objective "
        "needs vectorized=True in minimize or minimize_multi, which then hands it the whole "
        "swarm as one (n_particles, dim) array")


@pytest.mark.parametrize(
    "make, told, message",
    [
        (lambda: pso.Swarm(B3, n_particles=3), None,
         "tell() got None; it takes one number per particle (a sequence or an array)"),
        (lambda: pso.Swarm(B3, n_particles=3), [1.0, None, 2.0],
         "tell() got a list whose item 1 is None; it takes one number per particle (a sequence "
         "or an array)"),
        (lambda: pso.MultiSwarm(B3, n_particles=3), 1.0,
         "tell() got a float; it takes one number per objective (a sequence or an array)"),
    ],
)
def test_tell_says_what_it_takes_and_changes_nothing(make, told, message):
    swarm = make()
    swarm.ask()
    with pytest.raises(TypeError) as info:
        swarm.tell(told)
    assert str(info.value) == message
    assert swarm.evaluations == 0
