"""Constrained minimization of a Python function.

Minimizes the distance to the point (2, 1) while staying inside the region where
x + y <= 2 and x**2 <= y. Constraint functions are feasible where they return <= 0;
minimize adds ``penalty * max(0, g(x))**2`` for each violation.

    python examples/constrained.py
"""

import os

import kestrelopt

QUICK = os.environ.get("KESTRELOPT_QUICK") == "1"  # the tests shrink the budget


def distance_to_target(x):
    return (x[0] - 2.0) ** 2 + (x[1] - 1.0) ** 2


def budget_line(x):  # x + y <= 2
    return x[0] + x[1] - 2.0


def above_parabola(x):  # x**2 <= y
    return x[0] ** 2 - x[1]


def main():
    result = kestrelopt.minimize(
        distance_to_target,
        bounds=[(-3.0, 3.0), (-3.0, 3.0)],
        constraints=[budget_line, above_parabola],
        n_particles=20 if QUICK else 40,
        max_iter=30 if QUICK else 300,
        seed=7,
    )
    x, y = result.best_position
    print(f"best point      ({x:.5f}, {y:.5f})")
    print(f"objective       {distance_to_target(result.best_position):.6f}")
    print(f"x + y - 2       {budget_line(result.best_position):+.2e}  (feasible when <= 0)")
    print(f"x^2 - y         {above_parabola(result.best_position):+.2e}  (feasible when <= 0)")
    # A penalty leaves violations of the order of 1/penalty at an optimum on the boundary.
    print(f"evaluations     {result.evaluations}, stop reason {result.stop_reason}")


if __name__ == "__main__":
    main()
