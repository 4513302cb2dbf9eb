"""Tolerance design with grey numbers.

Three parts are stacked into an assembly whose length must stay within 30 ± 0.3 mm.
Each part's length is a grey number, an interval [lower, upper] of what manufacturing
may deliver: wide intervals (loose tolerances) are cheap, tight ones are expensive.
The search picks the nominal length and tolerance of every part so that the whole
worst-case stack stays inside the limits at the lowest cost.

    python examples/grey_numbers.py [grey.png]

With a file name the intervals are plotted there, which needs the ``plot`` extra
(``pip install '.[plot]'``).
"""

import os
import sys

import kestrelopt

QUICK = os.environ.get("KESTRELOPT_QUICK") == "1"  # the tests shrink the budget
NOMINAL = [12.0, 8.0, 10.0]  # preferred lengths of the three parts, mm
LIMITS = (29.7, 30.3)
UNIT_COST = [1.0, 2.0, 1.5]  # cost of halving a tolerance differs between parts


def cost(parts):
    """Whitenized cost of one design: tolerances, drift from nominal, stack violation."""
    tolerance_cost = sum(c / ((hi - lo) / 2 + 0.01) for c, (lo, hi) in zip(UNIT_COST, parts))
    drift = sum(((lo + hi) / 2 - n) ** 2 for n, (lo, hi) in zip(NOMINAL, parts))
    shortest = sum(lo for lo, _ in parts)
    longest = sum(hi for _, hi in parts)
    violation = max(0.0, LIMITS[0] - shortest) + max(0.0, longest - LIMITS[1])
    return tolerance_cost + 10.0 * drift + 1e4 * violation


def main():
    result = kestrelopt.minimize_grey(
        cost,
        bounds=[(n - 1.0, n + 1.0) for n in NOMINAL],
        max_spread=0.5,
        n_particles=20 if QUICK else 40,
        max_iter=30 if QUICK else 400,
        seed=2,
    )
    for k, (lo, hi) in enumerate(result.best_position):
        print(f"part {k}: [{lo:.4f}, {hi:.4f}] mm  (tolerance ±{(hi - lo) / 2:.4f})")
    shortest = sum(lo for lo, _ in result.best_position)
    longest = sum(hi for _, hi in result.best_position)
    print(f"assembly: [{shortest:.4f}, {longest:.4f}] mm, limits {list(LIMITS)}")
    print(f"cost: {result.best_value:.4f}")
    if len(sys.argv) > 1:
        import matplotlib

        matplotlib.use("Agg")
        from kestrelopt import viz

        ax = viz.plot_grey(result)
        ax.figure.savefig(sys.argv[1], dpi=90)
        print(f"plot: {sys.argv[1]}")


if __name__ == "__main__":
    main()
