"""Asynchronous search on a Dask cluster, for an objective whose run time varies.

Each evaluation stands for a simulation whose run time depends on the point (here a
sleep of lognormal length, median 10 ms). The same budget runs twice on the cluster's
workers: ``drive`` steps a ``Swarm`` in rounds, each waiting for its slowest evaluation;
``minimize(..., executor=client)`` drives an ``AsyncSwarm``, which tells each value as it
arrives and hands the worker the next particle at once. Point ``Client`` at a real
scheduler address to use several machines.

    pip install '.[distributed]'       # Dask, from a checkout of kestrelopt
    python examples/async_dask.py
"""

import math
import os
import random
import time

from distributed import Client, LocalCluster

import kestrelopt
from kestrelopt.parallel import drive

QUICK = os.environ.get("KESTRELOPT_QUICK") == "1"  # the tests shrink the budget
WORKERS = 4


def simulation(x):
    # The run time is drawn from the point, so both schedules see the same distribution.
    time.sleep(0.010 * math.exp(random.Random(repr(x)).gauss(0.0, 1.0)))
    return sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) + 10.0 for v in x)


def main():
    options = dict(bounds=(-5.12, 5.12), dim=4, seed=3, n_particles=WORKERS * 2,
                   max_iter=10**6, max_evals=40 if QUICK else 800)
    with LocalCluster(n_workers=WORKERS, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        client.run(lambda: None)  # the workers are up before the clocks start
        timings = {}
        runs = (("synchronous (Swarm)",
                 lambda: drive(kestrelopt.Swarm(**options), simulation, client)),
                ("asynchronous (AsyncSwarm)",
                 lambda: kestrelopt.minimize(simulation, executor=client, **options)))
        for name, run in runs:
            start = time.perf_counter()
            result = run()
            timings[name] = time.perf_counter() - start
            print(f"{name:26s} best {result.best_value:.6g} after {result.evaluations} "
                  f"evaluations in {timings[name]:.2f} s")
    ratio = timings["synchronous (Swarm)"] / timings["asynchronous (AsyncSwarm)"]
    print(f"wall-time ratio synchronous / asynchronous on {WORKERS} workers: {ratio:.2f}")


if __name__ == "__main__":
    main()
