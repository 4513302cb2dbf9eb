"""How fast runs answer: Ctrl-C latency per kind of run, and the time a run takes to raise
an objective's first exception.

Each Ctrl-C case starts a child process that runs for far longer than we wait, sends it
SIGINT after one second and times, from this process, how long the KeyboardInterrupt
takes to reach the child's caller (target: at most 0.1 s). Prints the median and the worst
of several trials per kind.
"""

import os
import select
import signal
import statistics
import subprocess
import sys
import time

import kestrelopt as pso

TRIALS = 5

# Each call runs for far longer than anyone waits. The keys name the kinds of run.
LONG_RUNS = {
    "minimize, native benchmark": 'pso.minimize("rastrigin", (-5.12, 5.12), dim=300, '
                                  "n_particles=50, max_iter=10**9, record_history=False)",
    "minimize, Python objective": "pso.minimize(lambda x: sum(v * v for v in x), (-5, 5), "
                                  "dim=20, max_iter=10**9, record_history=False)",
    # A C function runs no bytecode, so only the module's own check can see the signal.
    "minimize, builtin objective (sum)": "pso.minimize(sum, (-5, 5), dim=20, max_iter=10**9, "
                                         "record_history=False)",
    "minimize, native benchmark with callback": 'pso.minimize("sphere", (-5, 5), dim=20, '
                                                "max_iter=10**9, record_history=False, "
                                                "callback=lambda i, best: None)",
    "minimize, vectorized": "pso.minimize(lambda X: (X ** 2).sum(axis=1), (-5, 5), dim=20, "
                            "vectorized=True, max_iter=10**9, record_history=False)",
    "minimize_multi": "pso.minimize_multi(lambda x: [x[0], 1 - x[0] + sum(x)], (0, 1), dim=10, "
                      "max_iter=10**9, record_history=False)",
    "minimize_grey, native benchmark": 'pso.minimize_grey("grey_sphere", (-5, 5), dim=300, '
                                       "max_iter=10**9, record_history=False)",
    "minimize_grey, Python objective": "pso.minimize_grey(lambda g: sum(a * a + b * b for a, b "
                                       "in g), (-5, 5), dim=5, max_iter=10**9, "
                                       "record_history=False)",
    # Eight objectives, 200 points: about 90 s of exact hypervolume.
    "hypervolume, 200 points x 8 objectives": "pso.hypervolume(FRONT, [1.1] * 8)",
    # The dimension sweeps: about 25 s.
    "hypervolume, indicators, 1000 points x 8 objectives":
        "pso.indicators.hypervolume(BIG, [1.1] * 8)",
}

# Prints "ready" before the call, then "interrupted", the class of the partial result and
# its stop reason once the KeyboardInterrupt arrives ("finished" if the call ended).
CHILD = """
import sys
import numpy as np
import kestrelopt as pso
rng = np.random.default_rng(0)
X = rng.random((200, 8))
FRONT = (X / np.linalg.norm(X, axis=1)[:, None]).tolist()
Y = rng.random((1000, 8))
BIG = Y / np.linalg.norm(Y, axis=1)[:, None]
print("ready", flush=True)
try:
    {call}
except KeyboardInterrupt as interrupt:
    partial = getattr(interrupt, "partial_result", None)
    print("interrupted", type(partial).__name__, getattr(partial, "stop_reason", None), flush=True)
    sys.exit(0)
print("finished", flush=True)
"""


def default_sigint():
    """Gives a child the SIGINT disposition a terminal gives it. A shell without job control
    starts background commands with SIGINT ignored, and Python then installs no handler of
    its own, so the child would never see the Ctrl-C being measured."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def read_line(child, timeout=60.0):
    """The child's next line, or "" when it writes none within `timeout` seconds."""
    ready, _, _ = select.select([child.stdout], [], [], timeout)
    return child.stdout.readline() if ready else ""


def interrupt_run(call, wait=1.0):
    """Runs `call` in a child process, sends it SIGINT after `wait` seconds and returns the
    seconds until the child reported, the child's report ("" if it did not answer within a
    minute) and what it wrote to stderr."""
    child = subprocess.Popen([sys.executable, "-c", CHILD.format(call=call)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)),
                             preexec_fn=default_sigint)
    try:
        read_line(child)
        time.sleep(wait)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        line = read_line(child)
        latency = time.monotonic() - sent
        if line:
            child.wait(timeout=60)
    finally:
        child.kill()
        child.wait()
    return latency, line, child.stderr.read()


def failing(*args):
    raise ValueError("first call fails")


def error_runs(objective):
    """Runs of each mode that would take seconds if `objective` did not fail at once."""
    return {
        "minimize, sequential": lambda: pso.minimize(objective, (-5, 5), dim=1000, max_iter=20000),
        "minimize, vectorized": lambda: pso.minimize(objective, (-5, 5), dim=1000,
                                                     max_iter=20000, vectorized=True),
        "minimize_multi": lambda: pso.minimize_multi(objective, (-5, 5), dim=1000,
                                                     max_iter=20000),
        "minimize_grey": lambda: pso.minimize_grey(objective, (-5, 5), dim=1000, max_iter=20000),
    }


def error_latency(run):
    start = time.perf_counter()
    try:
        run()
    except ValueError:
        return time.perf_counter() - start
    return float("nan")


def main():
    print(f"Ctrl-C latency ({TRIALS} trials each; target <= 100 ms)")
    for name, call in LONG_RUNS.items():
        times = [interrupt_run(call)[0] for _ in range(TRIALS)]
        print(f"  {name:<42} median {statistics.median(times) * 1e3:6.1f} ms, "
              f"worst {max(times) * 1e3:6.1f} ms")
    print("objective failing at its first call, dim 1000, max_iter 20000 (best of 5)")
    for name, run in error_runs(failing).items():
        best = min(error_latency(run) for _ in range(5))
        print(f"  {name:<42} {best * 1e3:8.3f} ms")


if __name__ == "__main__":
    main()
