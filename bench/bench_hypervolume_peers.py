"""kestrelopt.indicators.hypervolume (and hypervolume_contributions) against moocore's.

ratio = (seconds per call of kestrelopt's) / (seconds per call of moocore's), on the same
(n, d) float64 array, for d = 2..6 objectives and n = 100, 1,000 and 10,000 points, on three
kinds of sets (reference 1.1 in every objective):

- sphere: on the unit sphere in the positive orthant (mutually non-dominated, a concave front);
- simplex: uniform on the unit simplex (non-dominated, a linear front);
- mixed: half of each, so that about half the points are dominated.

Each cell runs in a child process: one call to warm up, then calls until 0.3 s have passed
(at least one more); the figure is the fastest call. The two sides take turns, twice (once
when a call takes over 2 s), and each keeps its best: both sample the same moments of a
machine whose load drifts. A cell whose child takes more than
20 s on either side is skipped and says so. The two results must agree to 1e-9 (relative):
volumes, and the sums of the contributions on sets without dominated points. On mixed sets
the contributions differ by definition: kestrelopt's dominated points still take volume
from the points that dominate them, moocore's are left out.
Targets: ratio <= 1 in every cell of 2, 3 and 4 objectives, <= 2 for 5 and 6.

Runs in a venv of its own under build/ (bench/peers/peer_env.py) with moocore from PyPI and
kestrelopt from a wheel of this checkout. Usage: python bench/bench_hypervolume_peers.py
[--quick] (--quick: n up to 1,000 only).
"""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "peers"))
import peer_env  # noqa: E402

VENV = os.path.join(peer_env.ROOT, "build", "hypervolume-peers-venv")
SIZES = [100, 1000, 10000]
OBJECTIVES = [2, 3, 4, 5, 6]
SHAPES = ["sphere", "simplex", "mixed"]
CONTRIBUTION_OBJECTIVES = [2, 3, 4]
LIMIT_SECONDS = 20.0
MIN_SECONDS = 0.3


def make_set(shape, n, d, seed=1):
    import numpy as np

    rng = np.random.default_rng(seed + 1000 * d + n)

    def sphere(k):
        x = np.abs(rng.standard_normal((k, d)))
        return x / np.linalg.norm(x, axis=1)[:, None]

    def simplex(k):
        x = rng.exponential(size=(k, d))
        return x / x.sum(axis=1)[:, None]

    if shape == "sphere":
        points = sphere(n)
    elif shape == "simplex":
        points = simplex(n)
    else:
        points = np.concatenate((sphere(n - n // 2), simplex(n // 2)))
        points = points[rng.permutation(n)]
    return np.ascontiguousarray(points), np.full(d, 1.1)


def cell(side, what, shape, n, d):
    """In the child: prints the fastest call's seconds and its result's sum."""
    import numpy as np

    points, reference = make_set(shape, n, d)
    if side == "kestrelopt":
        from kestrelopt import indicators

        call = indicators.hypervolume if what == "volume" else indicators.hypervolume_contributions
    else:
        import moocore

        call = moocore.hypervolume if what == "volume" else moocore.hv_contributions
    value = np.sum(call(points, reference))
    best = float("inf")
    start = time.perf_counter()
    calls = 0
    while calls < 1 or time.perf_counter() - start < MIN_SECONDS:
        t = time.perf_counter()
        call(points, reference)
        best = min(best, time.perf_counter() - t)
        calls += 1
    print(f"{best!r} {float(value)!r}")


def measure(side, what, shape, n, d):
    """(seconds, value), or None when the child ran over the limit."""
    args = [sys.executable, os.path.abspath(__file__), "--inside", "--cell", side, what, shape,
            str(n), str(d)]
    try:
        done = subprocess.run(args, capture_output=True, text=True, timeout=LIMIT_SECONDS)
    except subprocess.TimeoutExpired:
        return None
    if done.returncode != 0:
        raise RuntimeError(f"{side} {what} {shape} n={n} d={d} failed:\n{done.stderr}")
    seconds, value = done.stdout.split()
    return float(seconds), float(value)


def table(what, objectives, sizes):
    print(f"\n{what}: seconds per call, kestrelopt / moocore")
    print(f"{'d':>2} {'n':>6} {'set':<8} {'kestrelopt':>11} {'moocore':>11} {'ratio':>7}")
    worst = {}
    for d in objectives:
        for n in sizes:
            for shape in SHAPES:
                ours = measure("kestrelopt", what, shape, n, d)
                theirs = measure("moocore", what, shape, n, d)
                if ours and theirs and max(ours[0], theirs[0]) < 2.0:
                    again = measure("kestrelopt", what, shape, n, d)
                    ours = min(ours, again) if again else ours
                    again = measure("moocore", what, shape, n, d)
                    theirs = min(theirs, again) if again else theirs
                if ours is None or theirs is None:
                    late = " and ".join(
                        side for side, r in (("kestrelopt", ours), ("moocore", theirs)) if r is None)
                    print(f"{d:>2} {n:>6} {shape:<8} skipped: {late} over {LIMIT_SECONDS:.0f} s"
                          + (f" (kestrelopt {ours[0]:.4g} s)" if ours else "")
                          + (f" (moocore {theirs[0]:.4g} s)" if theirs else ""), flush=True)
                    continue
                ratio = ours[0] / theirs[0]
                agree = abs(ours[1] - theirs[1]) <= 1e-9 * max(abs(theirs[1]), 1e-300)
                # Contributions of mixed sets differ by definition (see the docstring).
                agree = agree or (what == "contributions" and shape == "mixed")
                worst[d] = max(worst.get(d, 0.0), ratio)
                print(f"{d:>2} {n:>6} {shape:<8} {ours[0]:>11.3e} {theirs[0]:>11.3e} "
                      f"{ratio:>7.3f}{'' if agree else '  RESULTS DIFFER'}", flush=True)
    return worst


def main(argv):
    quick = "--quick" in argv
    sizes = [n for n in SIZES if not quick or n <= 1000]
    model, cores, system = peer_env.machine()
    print(f"{model}, {cores} logical cores, {system}")
    print(", ".join(f"{k} {v}" for k, v in peer_env.versions(["numpy", "moocore", "kestrelopt"]).items()))
    worst = table("volume", OBJECTIVES, sizes)
    for d, ratio in sorted(worst.items()):
        target = 1.0 if d <= 4 else 2.0
        print(f"d={d}: worst ratio {ratio:.3f} (target <= {target:g}): "
              f"{'met' if ratio <= target else 'NOT met'}")
    table("contributions", CONTRIBUTION_OBJECTIVES, sizes)


if __name__ == "__main__":
    if "--inside" not in sys.argv:
        peer_env.bootstrap(__file__, sys.argv[1:], VENV, ["numpy", "moocore"])
    args = [a for a in sys.argv[1:] if a != "--inside"]
    if args and args[0] == "--cell":
        cell(args[1], args[2], args[3], int(args[4]), int(args[5]))
    else:
        main(args)
