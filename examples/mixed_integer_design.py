"""Mixed-integer design: the pressure vessel.

A cylindrical vessel capped by hemispherical heads. The shell and head thicknesses
come in whole multiples of 0.0625 inch (integer variables); the inner radius and the
length of the cylinder are real. The cost counts material, forming and welding; four
constraints keep the walls thick enough, the volume at least 1,296,000 cubic inches
and the length at most 240 inches.

    python examples/mixed_integer_design.py
"""

import math
import os

import kestrelopt

QUICK = os.environ.get("KESTRELOPT_QUICK") == "1"  # the tests shrink the budget
PLATE = 0.0625  # thickness step, inches


def dimensions(x):
    shell, head, radius, length = x
    return shell * PLATE, head * PLATE, radius, length


def cost(x):
    ts, th, r, length = dimensions(x)
    return (0.6224 * ts * r * length + 1.7781 * th * r * r
            + 3.1661 * ts * ts * length + 19.84 * ts * ts * r)


CONSTRAINTS = [
    lambda x: -dimensions(x)[0] + 0.0193 * x[2],  # shell thick enough for the radius
    lambda x: -dimensions(x)[1] + 0.00954 * x[2],  # head thick enough for the radius
    # Volume as a fraction of the required one: a constraint of order 1 keeps the
    # quadratic penalty comparable across the four constraints.
    lambda x: 1.0 - (math.pi * x[2] ** 2 * x[3] + 4.0 / 3.0 * math.pi * x[2] ** 3) / 1_296_000.0,
    lambda x: x[3] - 240.0,
]


def main():
    result = kestrelopt.minimize(
        cost,
        bounds=[(1, 99), (1, 99), (10.0, 200.0), (10.0, 200.0)],
        var_types=["integer", "integer", "real", "real"],
        constraints=CONSTRAINTS,
        penalty=1e12,  # a steep penalty keeps the walls and volume feasible to ~1e-9
        topology="vonneumann",
        n_particles=20 if QUICK else 60,
        max_iter=30 if QUICK else 500,
        seed=1,
    )
    ts, th, r, length = dimensions(result.best_position)
    worst = max(g(result.best_position) for g in CONSTRAINTS)
    print(f"shell thickness {ts:.4f} in ({result.best_position[0]:.0f} plates)")
    print(f"head thickness  {th:.4f} in ({result.best_position[1]:.0f} plates)")
    print(f"radius          {r:.4f} in")
    print(f"length          {length:.4f} in")
    print(f"cost            {cost(result.best_position):.2f} (best known design: 6059.71)")
    print(f"worst constraint {worst:+.3g} (feasible when <= 0)")


if __name__ == "__main__":
    main()
