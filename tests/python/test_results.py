"""The result classes PsoResult, GreyResult and ParetoFront as Python sees them."""

import weakref

import pytest

import kestrelopt as pso

CLASSES = [pso.PsoResult, pso.GreyResult, pso.ParetoFront]


@pytest.fixture(scope="module")
def result():
    return pso.minimize("sphere", bounds=[(-1.0, 1.0)] * 2, n_particles=4, max_iter=3, seed=11)


@pytest.mark.parametrize("cls", CLASSES)
def test_no_constructor(cls):
    with pytest.raises(TypeError) as info:
        cls()
    assert str(info.value) == f"No constructor defined for {cls.__name__}"
    with pytest.raises(TypeError) as info:
        cls.__new__(cls)
    assert str(info.value) == f"No constructor defined for {cls.__name__}"


@pytest.mark.parametrize("cls", CLASSES)
def test_class_naming(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert cls.__bases__ == (object,)
    assert cls.__text_signature__ is None


@pytest.mark.parametrize("cls", CLASSES)
def test_cannot_be_subclassed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize(
    "cls, attributes, methods",
    [
        (pso.PsoResult, ["best_position", "best_value", "convergence", "history", "evaluations", "stop_reason"],
         ["to_numpy"]),
        (pso.GreyResult, ["best_position", "best_centers", "best_spreads", "best_value", "convergence",
                          "evaluations", "stop_reason"], ["to_numpy"]),
        (pso.ParetoFront, ["positions", "objectives", "swarm_history", "front_history", "violations",
                           "evaluations", "stop_reason"],
         ["hypervolume", "to_numpy"]),
    ],
)
def test_only_getters_and_repr(cls, attributes, methods):
    own = {name for name in vars(cls) if not name.startswith("__")}
    assert own == set(attributes) | set(methods)
    for name in methods:
        assert type(vars(cls)[name]).__name__ == "method_descriptor"
    for name in attributes:
        descriptor = vars(cls)[name]
        assert type(descriptor).__name__ == "getset_descriptor"
    assert "__repr__" in vars(cls)
    assert "__dict__" not in vars(cls)
    assert "__weakref__" not in vars(cls)


@pytest.mark.parametrize(
    "cls, attribute, doc",
    [
        (pso.PsoResult, "best_position", "Best position found (list of floats)."),
        (pso.PsoResult, "best_value", "Best objective function value."),
        (pso.PsoResult, "convergence", "Convergence curve: best value per iteration."),
        (pso.PsoResult, "history", "Positions per iteration: history[iter][particle][dim]. Empty if\nrecord_history=False."),
        (pso.PsoResult, "evaluations", "Total number of objective evaluations performed."),
        (pso.PsoResult, "stop_reason", "Why the run stopped (see the class docstring for the values)."),
        (pso.GreyResult, "best_position", "Best grey vector as `(lower, upper)` intervals."),
        (pso.GreyResult, "best_centers", "Center of each grey variable."),
        (pso.GreyResult, "best_spreads", "Half-width (spread) of each grey variable."),
        (pso.GreyResult, "best_value", "Best objective value (whitenized scalar)."),
        (pso.GreyResult, "convergence", "Convergence curve: best value per iteration."),
        (pso.GreyResult, "evaluations", "Total number of objective evaluations performed."),
        (pso.GreyResult, "stop_reason", "Why the run stopped."),
        (pso.ParetoFront, "positions", "Non-dominated decision vectors."),
        (pso.ParetoFront, "objectives", "Objective values of each solution."),
        (pso.ParetoFront, "swarm_history", "Swarm positions per iteration (empty if record_history=False)."),
        (pso.ParetoFront, "front_history", "Pareto-front objective snapshots per iteration (empty if\nrecord_history=False)."),
        (pso.ParetoFront, "violations", "Total constraint violation of each solution (zeros when feasible)."),
        (pso.ParetoFront, "evaluations", "Total number of objective evaluations performed."),
        (pso.ParetoFront, "stop_reason", "Why the run stopped (see the class docstring for the values)."),
    ],
)
def test_attribute_docstrings(cls, attribute, doc):
    assert vars(cls)[attribute].__doc__ == doc


PSO_RESULT_DOC = """Result of an optimization.

Attributes:
    best_position (list[float]): best position found, already decoded
        to the space's type (integers if ``integer=True``).
    best_value (float): objective function value at ``best_position``.
    convergence (list[float]): global best value after each iteration (the
        convergence curve, useful for ``viz.plot_convergence``).
    history (list[list[list[float]]]): positions of all particles
        per iteration, indexed ``history[iteration][particle][dimension]``.
        Empty if run with ``record_history=False``. Required for
        ``viz.animate_swarm``.
    evaluations (int): total number of objective evaluations performed.
    stop_reason (str): why the run stopped \u2014 one of ``"max_iterations"``,
        ``"target"``, ``"max_evaluations"``, ``"stagnation"``, ``"max_time"``,
        ``"callback"``."""

GREY_RESULT_DOC = """Result of a grey optimization returned by `minimize_grey`.

Attributes:
    best_position (list[tuple[float, float]]): the best grey vector, one
        ``(lower, upper)`` interval per grey variable.
    best_centers (list[float]): center of each grey variable (``(lo+hi)/2``).
    best_spreads (list[float]): half-width of each grey variable
        (``(hi-lo)/2``, always ``>= 0``).
    best_value (float): objective value at ``best_position`` (the
        whitenized scalar the search minimized).
    convergence (list[float]): best value after each iteration.
    evaluations (int): total objective evaluations performed.
    stop_reason (str): why the run stopped (see ``PsoResult``)."""

PARETO_FRONT_DOC = """An approximated Pareto front returned by `minimize_multi`.

Attributes:
    positions (list[list[float]]): the non-dominated decision vectors.
    objectives (list[list[float]]): their objective values (same order).
    swarm_history (list[list[list[float]]]): swarm positions per iteration,
        indexed ``swarm_history[iteration][particle][dimension]``. Empty if
        run with ``record_history=False``.
    front_history (list[list[list[float]]]): the Pareto-front objective
        snapshots per iteration, indexed
        ``front_history[iteration][member][objective]``. Lets the front's
        evolution be animated. Empty if ``record_history=False``.
    violations (list[float]): total constraint violation of each member
        (same order): the sum of ``max(g, 0)`` over ``constraints`` and of
        ``abs(h)`` over ``equality_constraints``; zeros when every member is
        feasible, and always without constraints.
    evaluations (int): total number of objective evaluations performed.
    stop_reason (str): why the run stopped \u2014 ``"max_iterations"``,
        ``"max_evaluations"``, ``"max_time"``, ``"callback"`` or
        ``"interrupted"`` (the front of a ``KeyboardInterrupt``)."""


@pytest.mark.parametrize(
    "cls, doc",
    [(pso.PsoResult, PSO_RESULT_DOC), (pso.GreyResult, GREY_RESULT_DOC), (pso.ParetoFront, PARETO_FRONT_DOC)],
)
def test_class_docstrings(cls, doc):
    assert cls.__doc__ == doc


def test_attribute_types(result):
    assert type(result) is pso.PsoResult
    assert type(result).__name__ == "PsoResult"
    assert isinstance(result.best_value, float)
    assert all(type(v) is float for v in result.best_position)
    assert type(result.evaluations) is int and result.evaluations == 16
    assert type(result.stop_reason) is str and result.stop_reason == "max_iterations"
    assert len(result.convergence) == 3
    assert len(result.history) == 3
    assert all(len(swarm) == 4 and all(len(p) == 2 for p in swarm) for swarm in result.history)


@pytest.mark.parametrize("attribute", ["best_position", "convergence", "history"])
def test_every_read_builds_a_new_list(result, attribute):
    first = getattr(result, attribute)
    second = getattr(result, attribute)
    assert first is not second
    assert first == second
    first.clear()
    assert getattr(result, attribute) == second


def test_nested_lists_are_rebuilt_at_every_level(result):
    a, b = result.history, result.history
    assert a[0] is not b[0] and a[0][0] is not b[0][0]
    a[0][0][0] = 123.0
    assert result.history[0][0][0] != 123.0


@pytest.mark.parametrize("attribute", ["best_position", "best_value", "convergence", "history", "evaluations", "stop_reason"])
def test_attributes_are_read_only(result, attribute):
    with pytest.raises(AttributeError):
        setattr(result, attribute, 1.0)
    with pytest.raises(AttributeError):
        delattr(result, attribute)


def test_no_instance_dict_and_no_weak_references(result):
    with pytest.raises(AttributeError):
        result.__dict__
    with pytest.raises(AttributeError):
        result.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(result)


def test_str_is_repr_and_identity_semantics(result):
    assert str(result) == repr(result)
    twin = pso.minimize("sphere", bounds=[(-1.0, 1.0)] * 2, n_particles=4, max_iter=3, seed=11)
    assert repr(twin) == repr(result)
    # equality and hashing are by identity: an equal twin is still another object
    assert twin != result and not (twin == result)
    assert hash(result) == object.__hash__(result) and hash(twin) == object.__hash__(twin)


def test_instances_release_their_hold_on_the_class():
    import sys

    cls = pso.PsoResult
    results = [pso.minimize("sphere", bounds=[(-1.0, 1.0)], n_particles=2, max_iter=1) for _ in range(10)]
    with_instances = sys.getrefcount(cls)
    del results
    without = sys.getrefcount(cls)
    assert with_instances - without == 10
