"""Constraints on the whole swarm: time per iteration spent outside the caller's callables
(engine, swarm matrix, reading results, penalty sums) at N = 100, D = 30, for a vectorized
run without constraints, with two constraint callables, with the constraint values
returned by the objective, and for a Swarm's ask/tell loop with and without violations."""

import time

import numpy as np

import kestrelopt as pso

N, D, ITERATIONS = 100, 30, 500
REPEATS = 7
BOUNDS = [(-5.0, 5.0)] * D


def timed(spent, function):
    def wrapper(X):
        start = time.perf_counter()
        value = function(X)
        spent[0] += time.perf_counter() - start
        return value

    return wrapper


def sphere(X):
    return (X * X).sum(axis=1)


def first(X):
    return X[:, 0] - 1.0


def second(X):
    return X[:, 1] * X[:, 2] - 0.5


def returned(X):
    return sphere(X), np.column_stack((first(X), second(X)))


def vectorized(kind, spent):
    options = dict(n_particles=N, max_iter=ITERATIONS, seed=1, record_history=False, vectorized=True)
    if kind == "constraint callables":
        pso.minimize(timed(spent, sphere), BOUNDS, constraints=[timed(spent, first), timed(spent, second)],
                     **options)
    elif kind == "returned values":
        pso.minimize(timed(spent, returned), BOUNDS, constraints="returned", **options)
    else:
        pso.minimize(timed(spent, sphere), BOUNDS, **options)


def ask_tell(kind, spent):
    swarm = pso.Swarm(BOUNDS, n_particles=N, max_iter=ITERATIONS, seed=1, record_history=False)
    evaluate = timed(spent, returned)
    while swarm.stop_reason is None:
        X = swarm.ask()
        values, G = evaluate(X)
        if kind == "tell with violations":
            swarm.tell(values, violations=pso.Swarm.violations(G))
        else:
            swarm.tell(values)


def measure(run, kind):
    best = float("inf")
    for _ in range(REPEATS):
        spent = [0.0]
        start = time.perf_counter()
        run(kind, spent)
        best = min(best, (time.perf_counter() - start - spent[0]) / (ITERATIONS + 1))
    return best


def main():
    print(f"N={N} D={D}, {ITERATIONS} iterations, history off, NumPy {np.__version__}")
    for run, kind in [(vectorized, "no constraints"), (vectorized, "constraint callables"),
                      (vectorized, "returned values"), (ask_tell, "tell"),
                      (ask_tell, "tell with violations")]:
        print(f"{run.__name__:10} {kind:21}: outside the callables {measure(run, kind) * 1e6:6.1f} us/iteration")


if __name__ == "__main__":
    main()
