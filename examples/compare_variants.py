"""Convergence of the three velocity rules on the 10-dimensional Rastrigin function.

    python examples/compare_variants.py [docs/convergence.png]

With a file name the plot is saved there; otherwise it is shown. The plot needs the
``plot`` extra (``pip install '.[plot]'``).
"""

import os
import sys

import kestrelopt

QUICK = os.environ.get("KESTRELOPT_QUICK") == "1"  # the tests shrink the budget
RUNS = [
    ("inertia, global", dict(velocity="inertia", topology="global")),
    ("constriction, ring", dict(velocity="constriction", topology="ring")),
    ("fips, von Neumann", dict(velocity="fips", topology="vonneumann")),
]


def main():
    results = []
    for label, options in RUNS:
        result = kestrelopt.minimize(
            "rastrigin", bounds=(-5.12, 5.12), dim=10, seed=42,
            n_particles=20 if QUICK else 40, max_iter=30 if QUICK else 400, **options,
        )
        results.append(result)
        print(f"{label:<20} best {result.best_value:.6g} ({result.evaluations} evaluations)")
    out = sys.argv[1] if len(sys.argv) > 1 else None
    import matplotlib

    if out:
        matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from kestrelopt import viz

    fig, ax = plt.subplots(figsize=(5.5, 4.0))
    viz.plot_convergence(results, ax=ax, labels=[label for label, _ in RUNS])
    ax.set_title("Rastrigin, 10 dimensions")
    fig.tight_layout()
    if out:
        fig.savefig(out, dpi=90)
        print(f"plot {out}")
    else:
        plt.show()


if __name__ == "__main__":
    main()
