"""Distributed evaluation on a Dask cluster.

Each evaluation stands for an expensive simulation (here a 5 ms sleep). ``batched``
hands the swarm's rows to the cluster's executor and gathers the values in row order,
so the seeded run gives the same result as a serial one. Point ``Client`` at a real
scheduler address to spread the work over several machines.

    pip install '.[distributed]'       # Dask, from a checkout of kestrelopt
    python examples/dask_distributed.py
"""

import math
import os
import time

from distributed import Client, LocalCluster

import kestrelopt
from kestrelopt.parallel import batched

QUICK = os.environ.get("KESTRELOPT_QUICK") == "1"  # the tests shrink the budget


def simulation(x):
    time.sleep(0.005)
    return sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) + 10.0 for v in x)


def main():
    options = dict(bounds=(-5.12, 5.12), dim=4, seed=3, vectorized=True,
                   n_particles=8 if QUICK else 20, max_iter=3 if QUICK else 40)
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        start = time.perf_counter()
        # One task per worker per iteration: every task costs a scheduler round trip
        # (about 10 ms on a small machine), worth paying only for whole chunks of work.
        executor = client.get_executor()
        chunk = options["n_particles"] // 2
        distributed = kestrelopt.minimize(batched(simulation, executor, chunksize=chunk), **options)
        cluster_seconds = time.perf_counter() - start
    start = time.perf_counter()
    serial = kestrelopt.minimize(batched(simulation), **options)
    serial_seconds = time.perf_counter() - start
    print(f"on 2 Dask workers: best {distributed.best_value:.6g} in {cluster_seconds:.2f} s")
    print(f"serial:            best {serial.best_value:.6g} in {serial_seconds:.2f} s")
    print(f"identical results: {distributed.best_position == serial.best_position}, "
          f"speed-up {serial_seconds / cluster_seconds:.2f}")


if __name__ == "__main__":
    main()
