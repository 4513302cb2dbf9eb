"""kestrelopt.indicators.nondominated_ranks and crowding_distance against pymoo's and
moocore's non-dominated sorting and pymoo's crowding distance, on 10,000 random points.

The script creates its own environment, as bench/peers/compare.py does: a venv in
build/sorting-peers-venv with pymoo and moocore from PyPI and kestrelopt from a wheel of this
checkout (see bench/peers/peer_env.py); none of them becomes a dependency of the project.
It then runs again inside that venv. The peers run as black boxes through their public
functions. Points are uniform in [0, 1)^d (seed 1) for d = 2, 3, 5; every contender takes
batches of calls of at least BATCH_SECONDS in turn, round after round, and each figure is
the smallest batch mean, so that a shared machine's drift reaches all alike. The ratio is
kestrelopt's time over the peer's (below 1: kestrelopt is faster). The ranks of every peer
are checked against kestrelopt's. This is not a test.

    python3 bench/bench_sorting_peers.py [--points N] [--rounds R]
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "peers"))
import peer_env  # noqa: E402  (the venv, the wheel, the machine's description)

VENV = os.path.join(peer_env.ROOT, "build", "sorting-peers-venv")
PEERS = ["numpy", "pymoo", "moocore"]
DIMS = (2, 3, 5)
SEED = 1
BATCH_SECONDS = 0.2


def batch_mean(call):
    calls = 0
    start = time.perf_counter()
    while True:
        call()
        calls += 1
        elapsed = time.perf_counter() - start
        if elapsed >= BATCH_SECONDS:
            return elapsed / calls


def contenders():
    """{task: {name: (callable of F, ranks of its result or None)}}; a peer that does not
    import is left out and reported."""
    import numpy as np

    from kestrelopt import indicators

    ranks = {"kestrelopt": (indicators.nondominated_ranks, lambda r: r)}
    crowding = {"kestrelopt": (indicators.crowding_distance, None)}
    missing = []
    try:
        from pymoo.util.nds.non_dominated_sorting import NonDominatedSorting

        sorting = NonDominatedSorting()
        ranks["pymoo"] = (lambda F: sorting.do(F, return_rank=True), lambda out: out[1])
    except Exception as exc:  # noqa: BLE001  (reported, not fatal)
        missing.append(f"pymoo NonDominatedSorting: {type(exc).__name__}: {exc}")
    try:
        from pymoo.operators.survival.rank_and_crowding.metrics import calc_crowding_distance

        crowding["pymoo"] = (calc_crowding_distance, None)
    except Exception as exc:  # noqa: BLE001
        missing.append(f"pymoo calc_crowding_distance: {type(exc).__name__}: {exc}")
    try:
        import moocore

        # Its ranks count from 1 or from 0 depending on the version: compared from their least.
        ranks["moocore"] = (moocore.pareto_rank, lambda r: np.asarray(r) - np.min(r))
    except Exception as exc:  # noqa: BLE001
        missing.append(f"moocore pareto_rank: {type(exc).__name__}: {exc}")
    return {"nondominated_ranks": ranks, "crowding_distance": crowding}, missing


def inside(args):
    import numpy as np

    tasks, missing = contenders()
    print(f"versions: {peer_env.versions(['kestrelopt', 'numpy', 'pymoo', 'moocore'])}")
    model, cores, system = peer_env.machine()
    print(f"machine: {model}, {cores} logical cores, {system}")
    try:
        from pymoo.functions import is_compiled

        print(f"pymoo compiled extensions: {is_compiled()}")
    except Exception:  # noqa: BLE001
        pass
    for line in missing:
        print("not measured:", line)
    print(f"{args.points} uniform random points, seed {SEED}; smallest batch mean of {args.rounds} "
          f"interleaved rounds, batches of at least {BATCH_SECONDS} s; one process, one thread\n")
    print("| task | d | kestrelopt | peer | peer time | ratio (kestrelopt / peer) | same ranks |")
    print("| --- | --- | --- | --- | --- | --- | --- |")
    for d in DIMS:
        F = np.random.default_rng(SEED).random((args.points, d))
        for task, entries in tasks.items():
            best = {name: float("inf") for name in entries}
            for _ in range(args.rounds):
                for name, (call, _) in entries.items():
                    best[name] = min(best[name], batch_mean(lambda: call(F)))
            ours_call, ours_ranks = entries["kestrelopt"]
            reference = ours_ranks(ours_call(F)) if ours_ranks else None
            for name, (call, to_ranks) in entries.items():
                if name == "kestrelopt":
                    continue
                same = "-" if reference is None else str(bool(np.array_equal(to_ranks(call(F)), reference)))
                print(f"| {task} | {d} | {best['kestrelopt'] * 1e3:.2f} ms | {name} | {best[name] * 1e3:.2f} ms | "
                      f"{best['kestrelopt'] / best[name]:.3f} | {same} |")
            if len(entries) == 1:
                print(f"| {task} | {d} | {best['kestrelopt'] * 1e3:.2f} ms | (no peer) | | | |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--points", type=int, default=10_000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if not args.inside:
        peer_env.bootstrap(__file__, sys.argv[1:], VENV, PEERS)
    inside(args)


if __name__ == "__main__":
    main()
