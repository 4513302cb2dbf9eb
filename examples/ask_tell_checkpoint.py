"""Checkpoint a run evaluated on a Dask cluster, kill it part-way, and resume it.

Each evaluation stands for an expensive simulation (here a 2 ms sleep). ``drive`` steps
a ``kestrelopt.Swarm`` round by round, evaluates the swarm on the cluster, and saves the
swarm to a file after every round. The script starts the run in a child process, kills
it (SIGKILL, no chance to clean up) once a few rounds are saved, resumes the run from the
checkpoint, and checks that the result is the uninterrupted run's, bit for bit.

    pip install '.[distributed]'       # Dask, from a checkout of kestrelopt
    python examples/ask_tell_checkpoint.py
"""

import math
import os
import subprocess
import sys
import tempfile
import time

from distributed import Client, LocalCluster

import kestrelopt
from kestrelopt.parallel import batched, drive, load_checkpoint

QUICK = os.environ.get("KESTRELOPT_QUICK") == "1"  # the tests shrink the budget

OPTIONS = dict(bounds=(-5.12, 5.12), dim=6, seed=7, n_particles=10,
               max_iter=25 if QUICK else 40)
KILL_AFTER = 4  # rounds saved before the run is killed


def simulation(x):
    time.sleep(0.002)
    return sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) + 10.0 for v in x)


def run(path):
    """Drive the run to its end, from the checkpoint at `path` when there is one."""
    swarm = load_checkpoint(path) if os.path.exists(path) else kestrelopt.Swarm(**OPTIONS)
    # Workers as threads of this process: a killed run leaves no worker processes behind.
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                      dashboard_address=":0") as cluster, Client(cluster) as client:
        return drive(swarm, simulation, client, checkpoint=path)


def rounds_saved(path):
    if not os.path.exists(path):
        return 0
    return load_checkpoint(path).evaluations // OPTIONS["n_particles"]


def start_and_kill(path):
    """Run in a child process and kill it once KILL_AFTER rounds are saved; the rounds
    the checkpoint then holds."""
    child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--run", path])
    deadline = time.monotonic() + 120  # only a hung child gets this far
    try:
        while rounds_saved(path) < KILL_AFTER and child.poll() is None:
            if time.monotonic() > deadline:
                raise TimeoutError("the run saved no checkpoint in time")
            time.sleep(0.01)
    finally:
        child.kill()
        child.wait()
    return rounds_saved(path)


def main():
    if sys.argv[1:2] == ["--run"]:
        run(sys.argv[2])
        return
    total = OPTIONS["max_iter"] + 1
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "swarm.ckpt")
        saved = start_and_kill(path)
        print(f"killed the run after {saved} of {total} rounds")
        resumed = run(path)
    print(f"resumed run:       best {resumed.best_value:.10g}, {resumed.evaluations} evaluations")

    uninterrupted = kestrelopt.minimize(batched(simulation), vectorized=True, **OPTIONS)
    print(f"uninterrupted run: best {uninterrupted.best_value:.10g}, "
          f"{uninterrupted.evaluations} evaluations")
    same = (resumed.best_value == uninterrupted.best_value
            and resumed.best_position == uninterrupted.best_position
            and resumed.convergence == uninterrupted.convergence
            and resumed.history == uninterrupted.history)
    print(f"identical to the uninterrupted run: {same}")
    if not same:
        sys.exit(1)


if __name__ == "__main__":
    main()
