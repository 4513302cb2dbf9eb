"""kestrelopt.viz: what each plot draws, checked on the Agg backend."""

import math
import shutil
import subprocess
import sys
import types

import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import kestrelopt as pso  # noqa: E402
from kestrelopt import viz  # noqa: E402
from kestrelopt.callbacks import Recorder  # noqa: E402

RUN = dict(bounds=(-5.12, 5.12), dim=3, seed=3, n_particles=6, max_iter=8)
# Several tests build an animation only to inspect it, never to play it.
pytestmark = pytest.mark.filterwarnings("ignore:Animation was deleted without rendering")
needs_multi = pytest.mark.skipif(not hasattr(pso, "minimize_multi"), reason="no minimize_multi yet")
needs_grey = pytest.mark.skipif(not hasattr(pso, "minimize_grey"), reason="no minimize_grey yet")
needs_hypervolume = pytest.mark.skipif(not hasattr(pso, "hypervolume"), reason="no hypervolume yet")


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


def zdt1(x):
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return [x[0], g * (1.0 - math.sqrt(x[0] / g))]


def dtlz2(x):
    g = sum((v - 0.5) ** 2 for v in x[2:])
    a, b = x[0] * math.pi / 2, x[1] * math.pi / 2
    return [(1 + g) * math.cos(a) * math.cos(b), (1 + g) * math.cos(a) * math.sin(b),
            (1 + g) * math.sin(a)]


# ---------------------------------------------------------------- plot_convergence


def test_one_line_per_result_with_the_result_data():
    runs = [pso.minimize("rastrigin", **RUN), pso.minimize("sphere", **RUN)]
    ax = viz.plot_convergence(runs, labels=["rastrigin", "sphere"])
    assert len(ax.lines) == 2
    for line, run in zip(ax.lines, runs):
        assert list(line.get_ydata()) == run.convergence
        assert list(line.get_xdata()) == list(range(len(run.convergence)))
    assert [t.get_text() for t in ax.get_legend().get_texts()] == ["rastrigin", "sphere"]
    assert (ax.get_xlabel(), ax.get_ylabel()) == ("iteration", "best value")


def test_single_result_plain_list_and_recorder():
    recorder = Recorder()
    run = pso.minimize("sphere", callback=recorder, **RUN)
    for item in (run, run.convergence, np.array(run.convergence), recorder):
        fig, ax = plt.subplots()
        assert viz.plot_convergence(item, ax=ax) is ax
        assert len(ax.lines) == 1
        assert list(ax.lines[0].get_ydata()) == run.convergence
        assert ax.get_legend() is None  # one unlabelled line needs no legend


def test_recorder_uses_its_own_iteration_numbers():
    recorder = Recorder()
    recorder(4, 3.0)
    recorder(5, 2.0)
    ax = viz.plot_convergence(recorder)
    assert list(ax.lines[0].get_xdata()) == [4.0, 5.0]


@pytest.mark.parametrize(
    "curves, log, scale",
    [
        ([[100.0, 10.0, 0.5]], None, "log"),       # spans more than two decades
        ([[5.0, 4.0, 3.0]], None, "linear"),       # within one decade
        ([[100.0, 1.0, 0.0]], None, "symlog"),     # falls through decades to zero
        ([[3.0, -2.0, -50.0]], None, "linear"),    # negative values
        ([[100.0, 10.0, 0.5]], False, "linear"),   # forced off
        ([[5.0, 4.0, 3.0]], True, "log"),          # forced on
        ([[5.0, 0.0, -3.0]], True, "symlog"),      # forced on, with values <= 0
        ([[1e4, 1e3], [50.0, 40.0]], None, "log"),  # decades across two curves
    ],
)
def test_axis_scale(curves, log, scale):
    ax = viz.plot_convergence(curves, log=log)
    assert ax.get_yscale() == scale


def test_real_convergence_spanning_decades_is_logarithmic():
    run = pso.minimize("sphere", **dict(RUN, max_iter=60))
    assert run.convergence[0] / run.convergence[-1] > 100
    assert viz.plot_convergence(run).get_yscale() == "log"


@pytest.mark.parametrize(
    "results, labels, error, message",
    [
        ([], None, ValueError, "nothing to plot"),
        ([[1.0], []], None, ValueError, "convergence curve 1 is empty"),
        ([[1.0], [2.0]], ["only one"], ValueError, "got 1 labels for 2"),
        ([object()], None, TypeError, "cannot plot object"),
        (object(), None, TypeError, "cannot plot object as a convergence curve"),
    ],
)
def test_convergence_errors(results, labels, error, message):
    with pytest.raises(error, match=message):
        viz.plot_convergence(results, labels=labels)


@pytest.mark.parametrize("options", [dict(record_history=False), dict(max_iter=0)])
def test_run_without_history_is_refused(options):
    run = pso.minimize("sphere", **dict(RUN, **options))
    with pytest.raises(ValueError, match="at least one iteration run with record_history=True"):
        viz.plot_convergence(run)


@needs_grey
def test_grey_result_convergence():
    run = pso.minimize_grey("grey_sphere", bounds=(-5, 5), dim=2, seed=1, max_iter=10)
    ax = viz.plot_convergence(run)
    assert list(ax.lines[0].get_ydata()) == run.convergence


# ---------------------------------------------------------------- animate_swarm


def test_animation_frames_follow_the_history():
    run = pso.minimize("rastrigin", **RUN)
    animation = viz.animate_swarm(run, dims=(2, 0), bounds=(-5.12, 5.12))
    history = np.array(run.history)
    assert len(list(animation.new_frame_seq())) == len(history) == 8
    for k in (0, 3, 7):
        animation.draw_frame(k)
        np.testing.assert_array_equal(animation.scatter.get_offsets(), history[k][:, [2, 0]])
        assert animation.scatter.axes.get_title() == f"iteration {k + 1}/8"
    ax = animation.scatter.axes
    assert ax.get_xlim() == (-5.12, 5.12) and ax.get_xlabel() == "x[2]"


def test_contour_of_a_native_benchmark_matches_its_values():
    run = pso.minimize("sphere", **RUN)
    animation = viz.animate_swarm(run, objective="sphere", resolution=7)
    ax = animation.scatter.axes
    # The benchmark's own recommended bound frames the plot.
    assert ax.get_xlim() == (-5.12, 5.12) and ax.get_ylim() == (-5.12, 5.12)
    xs, ys, values = viz._objective_grid("sphere", [(-1.0, 1.0), (-2.0, 2.0)], (0, 1),
                                         [0.0, 0.0, 0.5], 3)
    expected = [[x * x + y * y + 0.25 for x in (-1.0, 0.0, 1.0)] for y in (-2.0, 0.0, 2.0)]
    np.testing.assert_allclose(values, expected, rtol=1e-15)
    assert list(xs) == [-1.0, 0.0, 1.0] and list(ys) == [-2.0, 0.0, 2.0]
    # A contour set was drawn beneath the swarm, over the sphere's range on the box.
    from matplotlib.contour import ContourSet

    (contour,) = [c for c in ax.collections if isinstance(c, ContourSet)]
    assert contour.get_zorder() < animation.scatter.get_zorder()
    assert contour.levels[0] <= run.best_position[2] ** 2 + 1e-9
    assert contour.levels[-1] >= 2 * 5.12**2 + run.best_position[2] ** 2 - 1e-9


def test_contour_of_a_callable_holds_other_dims_at_the_best_position():
    run = pso.minimize(lambda x: sum(v * v for v in x), **RUN)
    seen = []

    def objective(x):
        seen.append(list(x))
        return x[0] - x[1]

    viz.animate_swarm(run, dims=(0, 1), objective=objective, resolution=4)
    assert len(seen) == 16
    assert all(point[2] == run.best_position[2] for point in seen)


def test_animation_range_defaults_to_the_swarm():
    run = pso.minimize("sphere", **RUN)
    history = np.array(run.history)
    ax = viz.animate_swarm(run).scatter.axes
    low, high = ax.get_xlim()
    assert low < history[:, :, 0].min() and high > history[:, :, 0].max()


def full_redraws(animation):
    """Each frame drawn the plain way: the whole figure, every time."""
    canvas = animation.scatter.figure.canvas
    frames = []
    for k in range(len(list(animation.new_frame_seq()))):
        animation.draw_frame(k)
        canvas.draw()
        frames.append(np.asarray(canvas.buffer_rgba()).copy())
    return frames


def test_saved_frames_are_the_full_redraws():
    # Saving draws the figure once and then only the swarm and title per frame: the
    # pixels must be those of a full redraw, even with other artists on the figure.
    run = pso.minimize("rastrigin", **dict(RUN, max_iter=5))
    animation = viz.animate_swarm(run, dims=(1, 2), objective="rastrigin", resolution=12)
    ax = animation.scatter.axes
    ax.plot([0.0], [0.0], "w*", zorder=2)
    ax.figure.suptitle("swarm")
    canvas = ax.figure.canvas
    blitted = []
    viz._render_frames(animation, lambda rgba: blitted.append(rgba.copy()))
    assert ax.figure.canvas is canvas and animation.scatter.get_visible()
    assert ax.get_title() == "iteration 5/5"
    expected = full_redraws(animation)
    assert len(blitted) == len(expected) == 5
    for k, (fast, full) in enumerate(zip(blitted, expected)):
        assert np.array_equal(fast, full), f"frame {k} differs from its full redraw"


@pytest.mark.parametrize("see_through", [False, True])
def test_animation_saves_as_gif(tmp_path, see_through):
    pytest.importorskip("PIL")
    from PIL import Image, ImageSequence

    run = pso.minimize("rastrigin", **dict(RUN, max_iter=4))
    path = tmp_path / "swarm.gif"
    animation = viz.animate_swarm(run, objective="rastrigin", resolution=10)
    animation.scatter.figure.patch.set_alpha(0.0 if see_through else 1.0)
    viz.save_animation(animation, path, fps=5)
    expected = full_redraws(animation)
    with Image.open(path) as image:
        assert image.format == "GIF" and image.n_frames == 4
        assert image.info["duration"] == 200 and image.info["loop"] == 0
        assert ("transparency" in image.info) == see_through
        # One shared palette of 256 colors: close to the true colors, not equal (a frame
        # quantized apart, such as a shifted background, would be off by more).
        opaque = [] if see_through else ImageSequence.Iterator(image)
        for k, frame in enumerate(opaque):
            error = np.abs(np.asarray(frame.convert("RGB"), dtype=int) - expected[k][:, :, :3])
            assert error.mean() < 0.05, f"frame {k} is off by {error.mean()} on average"


@pytest.mark.skipif(shutil.which("ffmpeg") is None, reason="ffmpeg is not installed")
def test_animation_saves_as_mp4(tmp_path):
    run = pso.minimize("rastrigin", **dict(RUN, max_iter=4))
    path = tmp_path / "swarm.mp4"
    viz.save_animation(viz.animate_swarm(run), path)
    probe = subprocess.run(
        ["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
         "-show_entries", "stream=nb_read_frames,codec_type", "-of", "csv=p=0", str(path)],
        capture_output=True, text=True, timeout=60,
    )
    assert probe.stdout.strip() == "video,4"


def test_unknown_animation_format(tmp_path):
    run = pso.minimize("sphere", **RUN)
    with pytest.raises(ValueError, match="use .gif or .mp4"):
        viz.save_animation(viz.animate_swarm(run), tmp_path / "swarm.avi")


@pytest.mark.parametrize(
    "dims, message",
    [((0, 0), "distinct"), ((0, 3), "out of range"), ((0,), "2 dimension indexes"),
     ((0, 1.5), "2 dimension indexes")],
)
def test_bad_dims(dims, message):
    run = pso.minimize("sphere", **RUN)
    with pytest.raises(ValueError, match=message):
        viz.animate_swarm(run, dims=dims)


def test_no_history_is_a_clear_error():
    run = pso.minimize("sphere", **dict(RUN, record_history=False))
    with pytest.raises(ValueError, match="no history to animate.*record_history=True"):
        viz.animate_swarm(run)


def test_bounds_of_the_wrong_length():
    run = pso.minimize("sphere", **RUN)
    with pytest.raises(ValueError, match="bounds has 2 pairs but the swarm has 3"):
        viz.animate_swarm(run, bounds=[(-1, 1), (-2, 2)])


# ---------------------------------------------------------------- plot_front

FRONT_2D = [[0.0, 1.0], [0.25, 0.5], [1.0, 0.0], [0.5, 0.3]]


def test_front_points_are_the_objectives():
    ax = viz.plot_front(FRONT_2D)
    (scatter,) = ax.collections
    np.testing.assert_array_equal(scatter.get_offsets(), sorted(FRONT_2D))
    (line,) = ax.lines  # the trade-off curve through the sorted members
    assert list(line.get_xdata()) == [0.0, 0.25, 0.5, 1.0]
    assert (ax.get_xlabel(), ax.get_ylabel()) == ("f1", "f2")
    assert ax.get_title() == "Pareto front (4 points)"


def test_front_of_three_objectives_is_three_dimensional():
    points = [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0], [0.5, 0.5, 0.7]]
    ax = viz.plot_front(points)
    assert ax.name == "3d" and ax.get_zlabel() == "f3"
    (scatter,) = ax.collections
    xs, ys, zs = scatter._offsets3d
    ordered = sorted(points, key=lambda p: p[0])  # members are drawn in f1 order
    assert list(xs) == [p[0] for p in ordered] and list(zs) == [p[2] for p in ordered]
    # A projection onto two of the three objectives stays flat and draws no curve.
    flat = viz.plot_front(points, objectives=(2, 0))
    assert flat.name != "3d" and len(flat.lines) == 0 and flat.get_xlabel() == "f3"


def test_three_objectives_need_a_3d_axes():
    fig, ax = plt.subplots()
    with pytest.raises(ValueError, match="3-D Axes"):
        viz.plot_front([[1.0, 2.0, 3.0]], ax=ax)


def test_front_history_fades_in():
    front = types.SimpleNamespace(
        objectives=FRONT_2D,
        front_history=[[[1.0 - k / 10, 1.0]] for k in range(5)],
    )
    ax = viz.plot_front(front, history=True)
    *snapshots, final = ax.collections
    assert len(snapshots) == 5
    alphas = [c.get_alpha() for c in snapshots]
    assert alphas == sorted(alphas) and alphas[0] < alphas[-1]
    np.testing.assert_array_equal(snapshots[2].get_offsets(), [[0.8, 1.0]])
    np.testing.assert_array_equal(final.get_offsets(), sorted(FRONT_2D))


def test_long_front_history_is_thinned_but_keeps_the_last_snapshot():
    front = types.SimpleNamespace(
        objectives=FRONT_2D, front_history=[[[float(k), 1.0]] for k in range(95)],
    )
    ax = viz.plot_front(front, history=True)
    snapshots = ax.collections[:-1]
    assert len(snapshots) <= 20
    np.testing.assert_array_equal(snapshots[-1].get_offsets(), [[94.0, 1.0]])


@pytest.mark.parametrize(
    "front, kwargs, message",
    [
        ([], {}, "front is empty"),
        ([[1.0]], {}, "at least two objectives"),
        (FRONT_2D, dict(objectives=(0, 2)), "out of range"),
        (FRONT_2D, dict(objectives=(0, 1, 2, 3)), "2 or 3 objectives"),
        (FRONT_2D, dict(history=True), "no front_history"),
        ([[0.0, 1.0], [1.0, 0.0, 2.0]], {}, "needs 2 values .* vector 1 has 3"),
        ([[0.0, 1.0, 2.0], [1.0]], {}, "needs 3 values .* vector 1 has 1"),
    ],
)
def test_front_errors(front, kwargs, message):
    with pytest.raises(ValueError, match=message):
        viz.plot_front(front, **kwargs)


@needs_hypervolume
def test_front_title_shows_the_hypervolume_of_a_plain_front():
    ax = viz.plot_front([[1.0, 2.0], [2.0, 1.0]], reference=[3.0, 3.0])
    assert ax.get_title() == "Pareto front (2 points), hypervolume 3"


@needs_multi
def test_front_of_a_real_run():
    front = pso.minimize_multi(zdt1, bounds=(0.0, 1.0), dim=4, n_particles=20, max_iter=10,
                               seed=5)
    ax = viz.plot_front(front, reference=[1.1, 1.1], history=True)
    final = ax.collections[-1]
    ordered = sorted(front.objectives, key=lambda p: p[0])
    np.testing.assert_array_equal(final.get_offsets(), ordered)
    assert ax.get_title().endswith(f"hypervolume {front.hypervolume([1.1, 1.1]):.6g}")
    assert len(ax.collections) - 1 == min(len(front.front_history), 20)


@needs_multi
def test_front_of_a_real_three_objective_run():
    front = pso.minimize_multi(dtlz2, bounds=(0.0, 1.0), dim=4, n_particles=20, max_iter=5,
                               seed=5)
    ax = viz.plot_front(front)
    assert ax.name == "3d"


@needs_multi
def test_swarm_of_a_multi_objective_run_animates():
    front = pso.minimize_multi(zdt1, bounds=(0.0, 1.0), dim=4, n_particles=10, max_iter=5,
                               seed=5)
    animation = viz.animate_swarm(front, dims=(0, 1))
    animation.draw_frame(4)
    np.testing.assert_array_equal(animation.scatter.get_offsets(),
                                  np.array(front.swarm_history[4])[:, :2])


# ---------------------------------------------------------------- plot_grey


def grey_errorbar(ax):
    (container,) = ax.containers
    line, _, (bars,) = container
    return line, bars


def test_grey_intervals_as_error_bars():
    result = types.SimpleNamespace(best_centers=[1.0, -2.0, 0.5], best_spreads=[0.5, 0.0, 2.0],
                                   best_value=3.25)
    ax = viz.plot_grey(result)
    line, bars = grey_errorbar(ax)
    assert list(line.get_xdata()) == [0, 1, 2]
    assert list(line.get_ydata()) == [1.0, -2.0, 0.5]
    segments = [seg[:, 1].tolist() for seg in bars.get_segments()]
    assert segments == [[0.5, 1.5], [-2.0, -2.0], [-1.5, 2.5]]
    assert [t.get_text() for t in ax.get_xticklabels()] == ["x[0]", "x[1]", "x[2]"]
    assert ax.get_title() == "Grey solution, best value 3.25"


def test_grey_plain_intervals():
    line, bars = grey_errorbar(viz.plot_grey([(0.0, 2.0), (-1.0, -1.0)]))
    assert list(line.get_ydata()) == [1.0, -1.0]
    assert [seg[:, 1].tolist() for seg in bars.get_segments()] == [[0.0, 2.0], [-1.0, -1.0]]


def test_grey_without_variables():
    with pytest.raises(ValueError, match="no grey variables"):
        viz.plot_grey([])


@needs_grey
def test_grey_result_of_a_real_run():
    result = pso.minimize_grey("grey_sphere", bounds=(-5, 5), dim=3, seed=2, max_iter=10)
    line, bars = grey_errorbar(viz.plot_grey(result))
    assert list(line.get_ydata()) == result.best_centers
    expected = [list(pair) for pair in result.best_position]
    np.testing.assert_allclose([seg[:, 1] for seg in bars.get_segments()], expected, rtol=1e-12)


# ---------------------------------------------------------------- optional dependency


def test_import_does_not_load_matplotlib():
    code = ("import sys, kestrelopt, kestrelopt.viz, kestrelopt.callbacks, kestrelopt.parallel; "
            "print(sorted(m for m in ('matplotlib', 'tqdm', 'distributed') if m in sys.modules))")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env={"PYTHONPATH": ":".join(sys.path), "PATH": ""}, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "[]"


def test_missing_matplotlib_names_the_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)  # makes the import fail
    with pytest.raises(ImportError, match=r"pip install 'kestrelopt\[plot\]'"):
        viz.plot_convergence([1.0, 0.5])
