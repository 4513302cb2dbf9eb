"""Asynchronous against synchronous parallel search on an objective whose run time varies.

Three measurements, printed:

1. Wall time of ``drive(Swarm)`` (rounds: each waits for its slowest evaluation) over
   ``drive(AsyncSwarm)`` (each value told as it arrives, the worker given the next
   particle at once) on a simulated expensive objective that sleeps a lognormal time
   (median 20 ms, sigma 1, drawn from the point so both schedules see the same
   distribution): 16 workers, 16 particles, 2,000 evaluations, on a
   ``ThreadPoolExecutor(16)`` and on a Dask ``LocalCluster`` of 16 threads (when
   ``distributed`` is installed; its threads in this process and in one worker
   process, each with Dask's own cost per evaluation and the utilisation a plain Dask
   loop of the same sleeps reaches, no swarm). Also the asynchronous run's worker
   utilisation, busy time / (workers x wall time).
2. The engine's own cost: ``ask`` + ``tell`` of one particle in D=30, no executor.
3. Quality per evaluation: the median best value over 20 seeds on 10-D rastrigin and
   rosenbrock at 5,000 evaluations with 8 and 16 evaluations in flight (completion order
   from simulated lognormal run times, no sleeping) against sequential ``minimize``, with
   one-sided Mann-Whitney p-values (small: the asynchronous runs are worse). Needs SciPy.

    python bench/bench_async.py [--workers 16] [--evaluations 2000] [--seeds 20]
                                [--median 0.020] [--no-dask]
                                [--plot docs/async_utilisation.png]

``--median`` lengthens the simulated evaluations, to show where Dask's own cost per task
stops limiting the utilisation on a small machine.
"""

import argparse
import heapq
import math
import os
import random
import statistics
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import kestrelopt
from kestrelopt.parallel import drive

# Read from the environment so that Dask's worker processes see --median too.
MEDIAN = float(os.environ.get("BENCH_ASYNC_MEDIAN", "0.020"))
SIGMA = 1.0
DIM = 5

# (start, end) of every simulated evaluation, appended by the workers' threads.
INTERVALS = []


def run_time(x):
    """The simulated run time of the point x: lognormal, drawn from the point's bits."""
    draw = random.Random(np.asarray(x, dtype=np.float64).tobytes())
    return MEDIAN * math.exp(SIGMA * draw.gauss(0.0, 1.0))


def simulated(x):
    start = time.perf_counter()
    time.sleep(run_time(x))
    value = sum((v - 0.5) ** 2 for v in x)
    INTERVALS.append((start, time.perf_counter()))
    return value


def clear_intervals():
    INTERVALS.clear()


def intervals():
    return list(INTERVALS)


class Local:
    """The record of evaluations run by threads of this process."""

    def __init__(self, this):
        self.this = this

    def clear(self):
        self.this.clear_intervals()

    def collect(self):
        return self.this.intervals()


class Workers:
    """The record of evaluations run in the processes of a Dask cluster."""

    def __init__(self, this, client):
        self.this = this
        self.client = client

    def clear(self):
        self.client.run(self.this.clear_intervals)

    def collect(self):
        return [pair for pairs in self.client.run(self.this.intervals).values() for pair in pairs]


def timed_drive(this, record, swarm, executor):
    record.clear()
    start = time.perf_counter()  # the system's monotonic clock, the same in every process
    result = drive(swarm, this.simulated, executor)
    wall = time.perf_counter() - start
    return result, wall, [(a - start, b - start) for a, b in record.collect()]


def schedules(this, record, executor, workers, evaluations):
    options = dict(bounds=(-5.0, 5.0), dim=DIM, n_particles=16, max_iter=10**6,
                   max_evals=evaluations, seed=3)
    sync, sync_wall, sync_busy = timed_drive(this, record, kestrelopt.Swarm(**options), executor)
    flow, flow_wall, flow_busy = timed_drive(this, record, kestrelopt.AsyncSwarm(**options),
                                             executor)
    assert sync.evaluations == flow.evaluations == len(sync_busy) == len(flow_busy)
    utilisation = sum(b - a for a, b in flow_busy) / (workers * flow_wall)
    sync_utilisation = sum(b - a for a, b in sync_busy) / (workers * sync_wall)
    return dict(
        sync_wall=sync_wall, async_wall=flow_wall, ratio=sync_wall / flow_wall,
        utilisation=utilisation, sync_utilisation=sync_utilisation,
        sync_busy=sync_busy, async_busy=flow_busy, evaluations=flow.evaluations,
        sync_best=sync.best_value, async_best=flow.best_value,
    )


def print_schedules(name, figures):
    print(f"{name}: {figures['evaluations']} evaluations")
    print(f"  synchronous drive(Swarm):       {figures['sync_wall']:7.2f} s, "
          f"utilisation {figures['sync_utilisation']:.2f}, best {figures['sync_best']:.3g}")
    print(f"  asynchronous drive(AsyncSwarm): {figures['async_wall']:7.2f} s, "
          f"utilisation {figures['utilisation']:.2f}, best {figures['async_best']:.3g}")
    print(f"  wall-time ratio sync/async:     {figures['ratio']:7.2f}")


def busy_curve(intervals, step):
    """Workers busy at each multiple of `step` seconds."""
    end = max(b for _, b in intervals)
    times = np.arange(0.0, end + step, step)
    busy = np.zeros_like(times)
    for a, b in intervals:
        busy[(times >= a) & (times < b)] += 1
    return times, busy


def plot(figures, workers, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(2, 1, figsize=(7.5, 4.6), sharex=True, sharey=True)
    for ax, key, wall, label in (
        (axes[0], "sync_busy", figures["sync_wall"], "synchronous: drive(Swarm)"),
        (axes[1], "async_busy", figures["async_wall"], "asynchronous: drive(AsyncSwarm)"),
    ):
        times, busy = busy_curve(figures[key], 0.01)
        ax.fill_between(times, busy, step="post", alpha=0.6, linewidth=0)
        ax.axvline(wall, color="black", linewidth=0.8)
        ax.set_ylim(0, workers + 1)
        ax.set_ylabel("workers busy")
        ax.set_title(f"{label}: {wall:.1f} s", fontsize=10, loc="left")
    axes[1].set_xlabel("time (s)")
    fig.suptitle(f"{figures['evaluations']} evaluations of lognormal run time "
                 f"(median {MEDIAN * 1e3:.0f} ms, sigma {SIGMA:g}) on {workers} threads", fontsize=10)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    print(f"  utilisation plot written to {path}")


def trivial(x):
    return sum(v * v for v in x)


def sleep_for(seconds):
    start = time.perf_counter()
    time.sleep(seconds)
    INTERVALS.append((start, time.perf_counter()))


def dask_ceiling(this, distributed, client, record, workers, evaluations):
    """Utilisation of Dask alone: a plain as_completed loop keeping `workers` sleeps of the
    same lognormal distribution in flight, no swarm. What Dask's round trip leaves."""
    draw = random.Random(7)
    times = [MEDIAN * math.exp(SIGMA * draw.gauss(0.0, 1.0)) for _ in range(evaluations)]
    record.clear()
    start = time.perf_counter()
    arrivals = distributed.as_completed(client.map(this.sleep_for, times[:workers], pure=False))
    sent = workers
    for _ in arrivals:
        if sent < evaluations:
            arrivals.add(client.submit(this.sleep_for, times[sent], pure=False))
            sent += 1
    wall = time.perf_counter() - start
    return sum(b - a for a, b in record.collect()) / (workers * wall)


def dask_schedules(this, distributed, workers, evaluations):
    """Both schedules on a cluster of `workers` threads in this process (the objective
    releases the interpreter lock while it sleeps, as a call out to a simulation does) and
    in one worker process, each with Dask's own cost per evaluation: the wall time per
    evaluation of an objective that returns at once, `workers` in flight, and the
    utilisation Dask reaches alone."""
    for label, processes in (("in this process", False), ("in one worker process", True)):
        with distributed.LocalCluster(n_workers=1, threads_per_worker=workers, processes=processes,
                                      dashboard_address=":0") as cluster, \
                distributed.Client(cluster) as client:
            client.run(lambda: None)
            figures = schedules(this, Workers(this, client), client, workers, evaluations)
            swarm = kestrelopt.AsyncSwarm(bounds=(-5.0, 5.0), dim=DIM, n_particles=16,
                                          max_iter=10**6, max_evals=evaluations, seed=3)
            start = time.perf_counter()
            drive(swarm, this.trivial, client)
            floor = (time.perf_counter() - start) / evaluations
            ceiling = dask_ceiling(this, distributed, client, Workers(this, client), workers,
                                   evaluations)
        print_schedules(f"Dask LocalCluster of {workers} threads {label}", figures)
        print(f"  Dask's own cost per evaluation (an objective that returns at once): "
              f"{floor * 1e3:.2f} ms")
        print(f"  Dask alone (a plain as_completed loop of the same sleeps, no swarm): "
              f"utilisation {ceiling:.2f}")


def engine_cost(count=200_000):
    swarm = kestrelopt.AsyncSwarm((-5.0, 5.0), dim=30, n_particles=30, max_iter=10**9,
                                  record_history=False, seed=1)
    best = math.inf
    for _ in range(5):
        start = time.perf_counter()
        for _ in range(count // 5):
            ticket, x = swarm.ask()
            swarm.tell(ticket, 1.0)
        best = min(best, (time.perf_counter() - start) / (count // 5))
    print(f"engine: ask + tell of one particle in D=30, no executor: {best * 1e6:.2f} us")


def rastrigin(x):
    x = np.asarray(x)
    return float(10.0 * x.size + (x * x - 10.0 * np.cos(2.0 * np.pi * x)).sum())


def rosenbrock(x):
    x = np.asarray(x)
    return float((100.0 * (x[1:] - x[:-1] ** 2) ** 2 + (1.0 - x[:-1]) ** 2).sum())


def in_flight(objective, bound, width, seed, evaluations):
    """Best value of an AsyncSwarm kept `width` in flight, the values told in the order a
    pool of `width` workers would finish them, with lognormal run times (no sleeping)."""
    swarm = kestrelopt.AsyncSwarm(bound, dim=10, seed=seed, max_evals=evaluations,
                                  record_history=False)
    durations = random.Random(seed)
    clock, running = 0.0, []
    while swarm.stop_reason is None:
        while len(running) < width:
            try:
                ticket, x = swarm.ask()
            except ValueError:
                break
            finish = clock + durations.lognormvariate(0.0, SIGMA)
            heapq.heappush(running, (finish, ticket, objective(x)))
        clock, ticket, value = heapq.heappop(running)
        swarm.tell(ticket, value)
    return swarm.best_value


def quality(seeds, evaluations):
    from scipy.stats import mannwhitneyu

    print(f"quality: median best over {seeds} seeds, 10-D, {evaluations} evaluations "
          "(p: one-sided Mann-Whitney, asynchronous worse)")
    for name, objective in (("rastrigin", rastrigin), ("rosenbrock", rosenbrock)):
        bound = (-kestrelopt.benchmark_info(name)[0], kestrelopt.benchmark_info(name)[0])
        sequential = [kestrelopt.minimize(objective, bound, dim=10, seed=s, max_evals=evaluations,
                                          record_history=False).best_value for s in range(seeds)]
        line = f"  {name:10s} sequential {statistics.median(sequential):9.4g}"
        for width in (8, 16):
            values = [in_flight(objective, bound, width, s, evaluations) for s in range(seeds)]
            p = mannwhitneyu(values, sequential, alternative="greater").pvalue
            line += f" | {width} in flight {statistics.median(values):9.4g} (p = {p:.2f})"
        print(line)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--workers", type=int, default=16)
    parser.add_argument("--evaluations", type=int, default=2000)
    parser.add_argument("--seeds", type=int, default=20)
    parser.add_argument("--quality-evaluations", type=int, default=5000)
    parser.add_argument("--median", type=float, default=MEDIAN,
                        help="median simulated run time in seconds")
    parser.add_argument("--no-dask", action="store_true")
    parser.add_argument("--plot", help="write the thread pool's utilisation over time here")
    args = parser.parse_args()
    os.environ["BENCH_ASYNC_MEDIAN"] = repr(args.median)
    # The objective and its record by reference, from this file imported as a module, so
    # that Dask's workers import it rather than receive a copy.
    import bench_async as this

    this.MEDIAN = args.median

    with ThreadPoolExecutor(args.workers) as pool:
        list(pool.map(abs, range(args.workers)))  # start the threads outside the timing
        figures = schedules(this, Local(this), pool, args.workers, args.evaluations)
    print_schedules(f"ThreadPoolExecutor({args.workers})", figures)
    if args.plot:
        plot(figures, args.workers, args.plot)
    if not args.no_dask:
        try:
            import distributed
        except ImportError:
            print("Dask: distributed is not installed, skipped")
        else:
            dask_schedules(this, distributed, args.workers, args.evaluations)
    engine_cost()
    quality(args.seeds, args.quality_evaluations)


if __name__ == "__main__":
    sys.path.insert(0, __file__.rsplit("/", 1)[0] if "/" in __file__ else ".")
    main()
