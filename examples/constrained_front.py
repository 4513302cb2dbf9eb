"""A constrained multi-objective problem and a plot of its front over the feasible region.

SRN minimizes f1 = 2 + (x - 2)^2 + (y - 1)^2 and f2 = 9x - (y - 1)^2 over [-20, 20]^2,
inside the circle x^2 + y^2 <= 225 and above the line x - 3y + 10 <= 0. minimize_multi
compares points by constrained domination: feasible before infeasible, then the smaller
total violation, then Pareto dominance; so the front holds feasible points only.

    python examples/constrained_front.py [docs/constrained_front.png]

With a file name the plot is saved there; otherwise it is shown.
"""

import os
import sys

import kestrelopt

QUICK = os.environ.get("KESTRELOPT_QUICK") == "1"  # the tests shrink the budget


def srn(x):
    return [2.0 + (x[0] - 2.0) ** 2 + (x[1] - 1.0) ** 2, 9.0 * x[0] - (x[1] - 1.0) ** 2]


def inside_circle(x):
    return x[0] ** 2 + x[1] ** 2 - 225.0


def above_line(x):
    return x[0] - 3.0 * x[1] + 10.0


CONSTRAINTS = [inside_circle, above_line]


def main():
    front = kestrelopt.minimize_multi(
        srn,
        bounds=[(-20.0, 20.0)] * 2,
        constraints=CONSTRAINTS,
        n_particles=20 if QUICK else 100,
        max_iter=10 if QUICK else 200,
        archive_size=100,
        seed=4,
    )
    worst = max(max(g(x) for g in CONSTRAINTS) for x in front.positions)
    print(f"front size        {len(front.objectives)}")
    print(f"largest violation {max(front.violations)}")
    print(f"largest g(x)      {worst:.6g}")
    print(f"evaluations       {front.evaluations}")

    import numpy as np

    out = sys.argv[1] if len(sys.argv) > 1 else None
    import matplotlib

    if out:
        matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from kestrelopt import viz

    # The objective space covered by the box, split by feasibility, from a grid of points.
    side = np.linspace(-20.0, 20.0, 60 if QUICK else 400)
    x, y = (v.ravel() for v in np.meshgrid(side, side))
    f1 = 2.0 + (x - 2.0) ** 2 + (y - 1.0) ** 2
    f2 = 9.0 * x - (y - 1.0) ** 2
    feasible = (x**2 + y**2 <= 225.0) & (x - 3.0 * y + 10.0 <= 0.0)
    fig, ax = plt.subplots(figsize=(5.5, 4.2))
    ax.scatter(f1[~feasible], f2[~feasible], s=1, color="0.85", label="infeasible", rasterized=True)
    ax.scatter(f1[feasible], f2[feasible], s=1, color="#9ecae1", label="feasible", rasterized=True)
    viz.plot_front(front, ax=ax)
    ax.set_xlim(0, 400)
    ax.set_ylim(-300, 100)
    ax.set_title("SRN: Pareto front over the feasible region")
    ax.legend(loc="upper right")
    fig.tight_layout()
    if out:
        fig.savefig(out, dpi=90)
        print(f"plot              {out}")
    else:
        plt.show()


if __name__ == "__main__":
    main()
