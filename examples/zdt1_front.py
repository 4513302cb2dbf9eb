"""Multi-objective search on ZDT1 and a plot of its Pareto front.

ZDT1 trades f1 = x0 against f2 = g * (1 - sqrt(f1 / g)); the true front is
f2 = 1 - sqrt(f1) for f1 in [0, 1], reached when every other variable is 0.

    python examples/zdt1_front.py [docs/pareto_front.png]

With a file name the plot is saved there; otherwise it is shown. The plot needs the
``plot`` extra (``pip install '.[plot]'``).
"""

import math
import os
import sys

import kestrelopt

QUICK = os.environ.get("KESTRELOPT_QUICK") == "1"  # the tests shrink the budget
DIM = 10
REFERENCE = [1.1, 1.1]


def zdt1(x):
    f1 = x[0]
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return [f1, g * (1.0 - math.sqrt(f1 / g))]


def main():
    front = kestrelopt.minimize_multi(
        zdt1,
        bounds=(0.0, 1.0),
        dim=DIM,
        n_particles=20 if QUICK else 100,
        max_iter=10 if QUICK else 250,
        archive_size=100,
        seed=5,
    )
    # The true front's hypervolume against (1.1, 1.1) is 1.21 - 1/3.
    print(f"front size   {len(front.objectives)}")
    print(f"hypervolume  {front.hypervolume(REFERENCE):.4f} (true front: {1.21 - 1 / 3:.4f})")
    out = sys.argv[1] if len(sys.argv) > 1 else None
    import matplotlib

    if out:
        matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from kestrelopt import viz

    fig, ax = plt.subplots(figsize=(5.5, 4.0))
    f1 = [i / 200 for i in range(201)]
    ax.plot(f1, [1 - math.sqrt(v) for v in f1], color="0.3", linestyle="--",
            linewidth=1, label="true front")
    viz.plot_front(front, ax=ax, reference=REFERENCE, history=True)
    ax.legend()
    fig.tight_layout()
    if out:
        fig.savefig(out, dpi=90)
        print(f"plot         {out}")
    else:
        plt.show()


if __name__ == "__main__":
    main()
