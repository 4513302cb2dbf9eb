"""Reading a run's record: the list attributes (rebuilt at every read) against to_numpy()
(read-only arrays over the result's own memory), for a 100-particle, 30-dimension,
1,000-iteration record. Prints the best of several reads of each, side by side.
"""

import time

import kestrelopt as pso

READS = 5


def best_time(read):
    best = float("inf")
    for _ in range(READS):
        start = time.perf_counter()
        read()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    r = pso.minimize("sphere", (-5, 5), dim=30, n_particles=100, max_iter=1000, seed=1)
    lists = best_time(lambda: (r.history, r.convergence))
    arrays = best_time(lambda: r.to_numpy())
    print("PsoResult, 1000 x 100 x 30 history")
    print(f"  history + convergence as lists: {lists * 1e3:10.3f} ms")
    print(f"  to_numpy():                     {arrays * 1e3:10.3f} ms  ({lists / arrays:,.0f}x faster)")
    front = pso.minimize_multi(lambda x: [x[0], 1 - x[0] + sum(x[1:])], (0, 1), dim=30,
                               n_particles=100, max_iter=1000, seed=1)
    lists = best_time(lambda: (front.swarm_history, front.front_history))
    arrays = best_time(lambda: front.to_numpy())
    print("ParetoFront, 1000 x 100 x 30 swarm history and 1000 front snapshots")
    print(f"  swarm_history + front_history:  {lists * 1e3:10.3f} ms")
    print(f"  to_numpy():                     {arrays * 1e3:10.3f} ms  ({lists / arrays:,.0f}x faster)")


if __name__ == "__main__":
    main()
