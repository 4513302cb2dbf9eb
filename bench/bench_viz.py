"""Time of viz.animate_swarm and viz.save_animation for the README's animation.

The run is the README's: 2-D rastrigin, 40 iterations, seed 1, drawn over the benchmark's
contour (80 x 80 grid) and written as a 40-frame GIF with Pillow. Each figure is the
minimum over a few rounds, in seconds; the GIF's size is printed too, so that a faster
writer that changes what is written shows.
"""

import os
import pathlib
import tempfile
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import kestrelopt  # noqa: E402
from kestrelopt import viz  # noqa: E402

ROUNDS = 3


def main():
    run = kestrelopt.minimize("rastrigin", (-5.12, 5.12), dim=2, max_iter=40, seed=1)
    build, save = [], []
    with tempfile.TemporaryDirectory() as folder:
        path = pathlib.Path(folder) / "swarm.gif"
        for _ in range(ROUNDS):
            start = time.perf_counter()
            animation = viz.animate_swarm(run, objective="rastrigin")
            build.append(time.perf_counter() - start)
            start = time.perf_counter()
            viz.save_animation(animation, path)
            save.append(time.perf_counter() - start)
            plt.close("all")
        size = os.path.getsize(path)
    print(f"2-D rastrigin, {len(run.history)} frames, min of {ROUNDS} rounds")
    print(f"animate_swarm (contour included)  {min(build):7.3f} s")
    print(f"save_animation to GIF             {min(save):7.3f} s")
    print(f"both                              {min(b + s for b, s in zip(build, save)):7.3f} s")
    print(f"GIF size                          {size / 1024:7.1f} KiB")


if __name__ == "__main__":
    main()
