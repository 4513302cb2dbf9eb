"""Speed-up of evaluating the swarm on 2 worker processes over evaluating it serially.

The objective sleeps 5 ms per candidate, standing for an expensive simulation; the
swarm goes to the workers through ``kestrelopt.parallel.batched`` in vectorized mode.
Both runs share one seed, so the script also checks that they found the same result.

    python bench/bench_parallel.py [--workers 2] [--particles 30] [--iterations 20]
"""

import argparse
import math
import time
from concurrent.futures import ProcessPoolExecutor

import kestrelopt
from kestrelopt.parallel import batched

SLEEP = 0.005


def expensive_rastrigin(x):
    time.sleep(SLEEP)
    return 10.0 * len(x) + sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) for v in x)


def run(objective, particles, iterations):
    start = time.perf_counter()
    result = kestrelopt.minimize(objective, (-5.12, 5.12), dim=5, seed=1, vectorized=True,
                                 n_particles=particles, max_iter=iterations,
                                 record_history=False)
    return result, time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--particles", type=int, default=30)
    parser.add_argument("--iterations", type=int, default=20)
    parser.add_argument("--chunksize", type=int, default=1)
    args = parser.parse_args()

    evaluations = args.particles * (args.iterations + 1)
    serial, serial_seconds = run(batched(expensive_rastrigin), args.particles, args.iterations)
    with ProcessPoolExecutor(args.workers) as pool:
        list(pool.map(abs, range(args.workers)))  # start the workers outside the timing
        objective = batched(expensive_rastrigin, pool, chunksize=args.chunksize)
        parallel, parallel_seconds = run(objective, args.particles, args.iterations)
    same = (serial.best_position == parallel.best_position
            and serial.best_value == parallel.best_value)
    print(f"{evaluations} evaluations of {SLEEP * 1e3:.0f} ms, "
          f"{args.particles} particles x {args.iterations + 1} swarm evaluations")
    print(f"serial:              {serial_seconds:7.3f} s")
    print(f"{args.workers} worker processes:  {parallel_seconds:7.3f} s")
    print(f"speed-up:            {serial_seconds / parallel_seconds:7.2f}")
    print(f"same result:         {same}")


if __name__ == "__main__":
    main()
