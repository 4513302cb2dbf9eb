"""Plots of kestrelopt results: convergence curves, swarm animations, Pareto fronts, grey intervals.

matplotlib is imported only when a plot is asked for, so ``import kestrelopt`` stays light;
``pip install 'kestrelopt[plot]'`` brings it. Every function draws on a given Axes or
makes a new figure, and returns what it drew on.
"""

from __future__ import annotations

import math
import numbers
import pathlib
from typing import TYPE_CHECKING, Any, Callable, List, Optional, Sequence, Tuple, Union, overload

if TYPE_CHECKING:  # matplotlib is optional, and loaded only to draw
    from matplotlib.animation import FuncAnimation
    from matplotlib.axes import Axes

    from kestrelopt_native import GreyResult, ParetoFront, PsoResult

    from .callbacks import Recorder

__all__ = ["plot_convergence", "animate_swarm", "save_animation", "plot_front", "plot_grey"]

_Objective = Union[str, Callable[[List[float]], Any], None]
# One convergence curve: a result's, a recorder's, or the values themselves.
_Curve = Union["PsoResult", "GreyResult", "Recorder", Sequence[float]]

# At most this many earlier fronts are drawn by plot_front(history=True): more only
# darken the picture without showing more of the front's progress.
_MAX_FRONT_SNAPSHOTS = 20


def _pyplot() -> Any:
    try:
        import matplotlib.pyplot as plt
    except ImportError as error:
        raise ImportError(
            "kestrelopt.viz needs matplotlib: pip install 'kestrelopt[plot]'"
        ) from error
    return plt


def _is_number(value: Any) -> bool:
    return isinstance(value, numbers.Real) and not isinstance(value, bool)


# ---------------------------------------------------------------- convergence


def _not_a_curve(item: Any) -> TypeError:
    return TypeError(
        f"cannot plot {type(item).__name__} as a convergence curve: pass a PsoResult, "
        "a GreyResult, a Recorder or a list of values"
    )


def _curve(item: Any, index: int) -> Tuple[List[float], List[float]]:
    """The (x, y) data of one convergence curve."""
    if hasattr(item, "to_numpy"):
        ys = item.to_numpy()["convergence"].tolist()
        xs = [float(i) for i in range(len(ys))]
    elif hasattr(item, "convergence"):
        ys = [float(v) for v in item.convergence]
        xs = [float(i) for i in range(len(ys))]
    elif hasattr(item, "best_values") and hasattr(item, "iterations"):  # a Recorder
        ys = [float(v) for v in item.best_values]
        xs = [float(i) for i in item.iterations]
    else:
        try:
            ys = [float(v) for v in item]
        except TypeError:
            raise _not_a_curve(item) from None
        xs = [float(i) for i in range(len(ys))]
    if not ys:
        raise ValueError(
            f"convergence curve {index} is empty: it needs at least one iteration run with "
            "record_history=True (or record it with callbacks.Recorder)"
        )
    return xs, ys


def _as_curve_list(results: Any) -> List[Any]:
    """Tell one curve from a list of curves."""
    if hasattr(results, "convergence") or hasattr(results, "best_values"):
        return [results]
    if getattr(results, "ndim", None) == 1:  # a 1-D NumPy array of values
        return [results]
    try:
        items = list(results)
    except TypeError:
        raise _not_a_curve(results) from None
    if items and all(_is_number(v) for v in items):
        return [items]
    if not items:
        raise ValueError("nothing to plot: results is empty")
    return items


def _y_scale(curves: Sequence[Sequence[float]], log: Optional[bool]) -> Tuple[str, float]:
    """The y scale ("linear", "log" or "symlog") and, for symlog, its linear threshold."""
    values = [v for ys in curves for v in ys if math.isfinite(v)]
    positives = [v for v in values if v > 0]
    if log is False or not values:
        return "linear", 0.0
    all_positive = len(positives) == len(values)
    spans_decades = bool(positives) and max(positives) >= 100 * min(positives)
    if log is None:
        if all_positive and spans_decades:
            return "log", 0.0
        # Curves that fall through decades and then hit exactly zero (a solved sphere)
        # still read best on a logarithmic scale with a small linear part around zero.
        if spans_decades and min(values) >= 0:
            return "symlog", min(positives)
        return "linear", 0.0
    if all_positive:
        return "log", 0.0
    nonzero = [abs(v) for v in values if v != 0]
    return "symlog", min(nonzero) if nonzero else 1.0


# Two signatures, so that a list literal mixing kinds of curves reads as a list of curves.
@overload
def plot_convergence(
    results: Sequence[_Curve],
    ax: Optional[Axes] = None,
    labels: Optional[Sequence[str]] = None,
    log: Optional[bool] = None,
) -> Axes: ...


@overload
def plot_convergence(
    results: _Curve,
    ax: Optional[Axes] = None,
    labels: Optional[Sequence[str]] = None,
    log: Optional[bool] = None,
) -> Axes: ...


def plot_convergence(
    results: Union[_Curve, Sequence[_Curve]],
    ax: Optional[Axes] = None,
    labels: Optional[Sequence[str]] = None,
    log: Optional[bool] = None,
) -> Axes:
    """Plot the best value per iteration of one or several runs.

    Args:
        results: a ``PsoResult``, a ``GreyResult``, a ``callbacks.Recorder``, a plain
            list of values, or a list of any of these (one line each).
        ax: the matplotlib Axes to draw on; a new figure is made when ``None``.
        labels: one legend label per line. A legend is shown when labels are given
            or when there is more than one line.
        log: ``None`` chooses a logarithmic y axis when the values span two decades
            or more (symlog when they also reach zero); ``True`` forces it; ``False``
            keeps a linear axis.

    Returns:
        The Axes drawn on.

    Raises:
        ValueError: a curve is empty (a run with ``record_history=False``) or the
            number of labels differs from the number of curves.
    """
    items = _as_curve_list(results)
    curves = [_curve(item, i) for i, item in enumerate(items)]
    if labels is not None:
        labels = list(labels)
        if len(labels) != len(curves):
            raise ValueError(f"got {len(labels)} labels for {len(curves)} convergence curves")
    if ax is None:
        _, ax = _pyplot().subplots()
    for i, (xs, ys) in enumerate(curves):
        label = labels[i] if labels is not None else f"run {i + 1}"
        ax.plot(xs, ys, label=label)
    scale, threshold = _y_scale([ys for _, ys in curves], log)
    if scale == "symlog":
        ax.set_yscale("symlog", linthresh=threshold)
    else:
        ax.set_yscale(scale)
    ax.set_xlabel("iteration")
    ax.set_ylabel("best value")
    if labels is not None or len(curves) > 1:
        ax.legend()
    return ax


# ---------------------------------------------------------------- swarm animation


def _native_value(name: str, point: Sequence[float]) -> float:
    """Value of a native benchmark at one point, computed by the native module itself."""
    import kestrelopt

    # A one-particle swarm in a box of zero width evaluates exactly the given point once.
    result = kestrelopt.minimize(
        name, [(v, v) for v in point], n_particles=1, max_iter=0, record_history=False
    )
    return result.best_value


def _history_array(result: Any) -> Any:
    import numpy as np

    if hasattr(result, "to_numpy") and hasattr(result, "history"):
        history = result.to_numpy()["history"]  # a view: no copy of the record
    elif hasattr(result, "to_numpy") and hasattr(result, "swarm_history"):
        history = result.to_numpy()["swarm_history"]
    elif hasattr(result, "history"):
        history = np.asarray(result.history, dtype=float)
    elif hasattr(result, "swarm_history"):
        history = np.asarray(result.swarm_history, dtype=float)
    else:
        raise TypeError(
            f"cannot animate {type(result).__name__}: pass a PsoResult or a ParetoFront"
        )
    if history.ndim != 3 or history.shape[0] == 0 or history.shape[1] == 0:
        raise ValueError(
            "the result has no history to animate: it needs at least one iteration run "
            "with record_history=True"
        )
    return history


def _check_dims(dims: Sequence[int], n_dims: int, count: int) -> Tuple[int, ...]:
    dims = tuple(dims)
    if len(dims) != count or not all(isinstance(d, numbers.Integral) for d in dims):
        raise ValueError(f"dims must be {count} dimension indexes, got {dims!r}")
    if len(set(dims)) != count:
        raise ValueError(f"dims must be distinct, got {dims!r}")
    for d in dims:
        if not 0 <= d < n_dims:
            raise ValueError(f"dimension {d} is out of range for {n_dims} dimensions")
    return tuple(int(d) for d in dims)


def _axis_box(
    bounds: Any, objective: _Objective, frames: Any, dims: Tuple[int, int]
) -> List[Tuple[float, float]]:
    """The plotted range of each of the two dimensions."""
    if bounds is None and isinstance(objective, str):
        import kestrelopt

        half = kestrelopt.benchmark_info(objective)[0]
        return [(-half, half), (-half, half)]
    if bounds is None:
        box = []
        for d in dims:
            low, high = float(frames[:, :, d].min()), float(frames[:, :, d].max())
            margin = 0.05 * (high - low) or 0.5
            box.append((low - margin, high + margin))
        return box
    pairs = list(bounds)
    if len(pairs) == 2 and all(_is_number(v) for v in pairs):  # one pair for every dim
        return [(float(pairs[0]), float(pairs[1]))] * 2
    n_dims = frames.shape[2]
    if len(pairs) != n_dims:
        raise ValueError(f"bounds has {len(pairs)} pairs but the swarm has {n_dims} dimensions")
    return [(float(pairs[d][0]), float(pairs[d][1])) for d in dims]


def _objective_grid(
    objective: Union[str, Callable[[List[float]], Any]],
    box: List[Tuple[float, float]],
    dims: Tuple[int, int],
    base: Sequence[float],
    resolution: int,
) -> Tuple[Any, Any, Any]:
    import numpy as np

    xs = np.linspace(box[0][0], box[0][1], resolution)
    ys = np.linspace(box[1][0], box[1][1], resolution)
    point = [float(v) for v in base]
    values = np.empty((resolution, resolution))
    for row, y in enumerate(ys):
        for col, x in enumerate(xs):
            point[dims[0]], point[dims[1]] = float(x), float(y)
            if isinstance(objective, str):
                values[row, col] = _native_value(objective, point)
            else:
                values[row, col] = float(objective(list(point)))
    return xs, ys, values


def animate_swarm(
    result: Union[PsoResult, ParetoFront],
    dims: Sequence[int] = (0, 1),
    objective: _Objective = None,
    bounds: Any = None,
    interval: int = 100,
    *,
    ax: Optional[Axes] = None,
    resolution: int = 80,
    levels: int = 30,
) -> FuncAnimation:
    """Animate the swarm of a run over two of its dimensions.

    Args:
        result: a ``PsoResult`` (its ``history``) or a ``ParetoFront`` (its
            ``swarm_history``) from a run with ``record_history=True``.
        dims: the two dimension indexes shown on the x and y axes.
        objective: a callable ``f(list[float]) -> float`` or the name of a native
            benchmark; when given, its contour is drawn behind the swarm, on the
            plane through the best position (the other dimensions held there).
        bounds: the plotted box: a ``(min, max)`` pair for both axes or one pair per
            dimension. ``None`` takes the benchmark's recommended bound for a named
            benchmark, else the range the swarm covered.
        interval: milliseconds between frames.
        ax: Axes to draw on; a new figure is made when ``None``.
        resolution: grid points per axis of the contour.
        levels: number of contour levels.

    Returns:
        A ``matplotlib.animation.FuncAnimation`` with one frame per recorded iteration.
        Keep a reference to it while it plays. ``save_animation`` writes it as GIF or
        MP4; its ``draw_frame(i)`` draws iteration ``i`` by hand (for a still image).

    Raises:
        ValueError: the result has no history, or ``dims`` or ``bounds`` do not fit it.
    """
    import numpy as np

    frames = _history_array(result)
    n_iterations, _, n_dims = frames.shape
    if n_dims < 2:
        raise ValueError("animate_swarm needs at least two dimensions")
    i, j = _check_dims(dims, n_dims, 2)
    box = _axis_box(bounds, objective, frames, (i, j))
    plt = _pyplot()
    from matplotlib.animation import FuncAnimation

    if ax is None:
        _, ax = plt.subplots()
    fig: Any = ax.figure
    if objective is not None:
        base = list(getattr(result, "best_position", None) or [])
        if len(base) != n_dims:
            base = frames[-1].mean(axis=0).tolist()
        xs, ys, values = _objective_grid(objective, box, (i, j), base, resolution)
        contour = ax.contourf(xs, ys, values, levels=levels, cmap="viridis", alpha=0.7, zorder=1)
        fig.colorbar(contour, ax=ax, label="objective")
    ax.set_xlim(*box[0])
    ax.set_ylim(*box[1])
    ax.set_xlabel(f"x[{i}]")
    ax.set_ylabel(f"x[{j}]")
    scatter = ax.scatter(
        frames[0, :, i], frames[0, :, j], s=18, c="tab:red", edgecolors="black",
        linewidths=0.4, zorder=3,
    )

    def draw_frame(k: int) -> Tuple[Any]:
        scatter.set_offsets(np.column_stack((frames[k, :, i], frames[k, :, j])))
        ax.set_title(f"iteration {k + 1}/{n_iterations}")
        return (scatter,)

    draw_frame(0)
    # Kept on the animation for save_animation and for callers redrawing a frame.
    animation: Any = FuncAnimation(fig, draw_frame, frames=n_iterations, interval=interval, blit=False)
    animation.draw_frame = draw_frame
    animation.scatter = scatter
    animation.frame_interval = interval
    animation._frame_count = n_iterations
    return animation


def _render_frames(animation: Any, emit: Callable[[Any], None]) -> None:
    """Pass each frame of an ``animate_swarm`` animation to ``emit`` as an (h, w, 4) RGBA
    array, valid until the next call.

    Only the swarm and the title change between frames, so the figure is drawn once
    without them and each frame restores that background and draws the two over it, as
    blitting does: the same pixels as a full redraw, whose axes, ticks and contour take
    nearly all of its time. Drawn on an off-screen Agg canvas whatever backend shows the
    figure, which gets its own canvas back afterwards.
    """
    import numpy as np
    from matplotlib.backends.backend_agg import FigureCanvasAgg

    scatter = animation.scatter
    ax = scatter.axes
    fig = ax.figure
    shown = fig.canvas
    canvas = FigureCanvasAgg(fig)
    try:
        scatter.set_visible(False)
        ax.title.set_text("")
        canvas.draw()
        background = canvas.copy_from_bbox(fig.bbox)
        scatter.set_visible(True)
        for k in range(animation._frame_count):
            animation.draw_frame(k)
            canvas.restore_region(background)
            ax.draw_artist(scatter)
            ax.draw_artist(ax.title)
            emit(np.asarray(canvas.buffer_rgba()))
    finally:
        scatter.set_visible(True)
        fig.set_canvas(shown)


class _GifFrames:
    """Frames for a GIF on one palette, the first frame's (median cut, 256 colors).

    Pillow would quantize each frame on its own, which takes longer than drawing it. The
    frames of an animation share their background, so a pixel that the first frame also
    has keeps the first frame's palette index, and each other color takes its nearest
    palette entry: the background stays exact, with no flicker between frames.
    """

    def __init__(self) -> None:
        self.images: List[Any] = []
        self.see_through = False

    def add(self, rgba: Any) -> None:
        import numpy as np
        from PIL import Image

        if not self.images:
            self.see_through = bool(rgba[:, :, 3].min() < 255)
        if self.see_through:  # Pillow converts each frame itself, keeping transparency
            self.images.append(Image.fromarray(rgba.copy()))
            return
        pixels = rgba.view(np.uint32)[:, :, 0]  # one word per pixel: compared at once
        if not self.images:
            first = Image.fromarray(rgba[:, :, :3]).quantize(256, method=Image.Quantize.MEDIANCUT)
            self.first_pixels = pixels.copy()
            self.first_indexes = np.asarray(first)
            palette = np.asarray(first.getpalette(), dtype=float).reshape(-1, 3)
            self.palette = palette
            self.palette_norms = (palette**2).sum(axis=1)
            self.images.append(first)
            return
        indexes = self.first_indexes.copy()
        changed = pixels != self.first_pixels
        colors, where = np.unique(pixels[changed], return_inverse=True)
        if len(colors):
            rgb = colors.view(np.uint8).reshape(-1, 4)[:, :3].astype(float)
            # |c - p|^2 less the |c|^2 that every entry shares: exact on whole numbers.
            distances = self.palette_norms[None, :] - 2.0 * rgb @ self.palette.T
            indexes[changed] = distances.argmin(axis=1).astype(np.uint8)[where.ravel()]
        image = Image.fromarray(indexes, "P")
        image.putpalette(self.images[0].getpalette())
        self.images.append(image)

    def save(self, path: pathlib.Path, fps: float) -> None:
        # The duration and looping of matplotlib's PillowWriter.
        first, *rest = self.images
        first.save(path, save_all=True, append_images=rest, duration=int(1000 / fps), loop=0)


def _save_movie(animation: Any, writer: Any, path: pathlib.Path) -> None:
    """Write the frames with a matplotlib movie writer, through a bare figure that holds
    each rendered frame as a pixel-for-pixel image: the writer then draws one image per
    frame instead of the whole plot."""
    import numpy as np
    from matplotlib.figure import Figure

    fig = animation.scatter.axes.figure
    dpi = fig.dpi
    width, height = (int(v) for v in fig.bbox.size)
    sheet = Figure(figsize=(width / dpi, height / dpi), dpi=dpi)
    image = sheet.figimage(np.zeros((height, width, 4), np.uint8), resize=False, origin="upper")

    def add(rgba: Any) -> None:
        image.set_data(rgba)
        writer.grab_frame()

    with writer.saving(sheet, str(path), dpi):
        _render_frames(animation, add)


def save_animation(
    animation: FuncAnimation, path: Union[str, pathlib.Path], fps: Optional[float] = None
) -> None:
    """Save an animation as GIF (Pillow) or MP4 (ffmpeg), chosen by the file's extension.

    An animation made by ``animate_swarm`` is drawn once and then only its swarm is
    redrawn per frame, a few times faster than a full redraw; the GIF's frames share one
    palette. Any other matplotlib animation is saved by its own ``save``.

    Args:
        animation: what ``animate_swarm`` returned, or another matplotlib animation.
        path: a ``.gif`` or ``.mp4`` file name.
        fps: frames per second; by default the animation's own pace.

    Raises:
        RuntimeError: MP4 was asked for but ffmpeg is not installed.
        ValueError: any other extension.
    """
    from matplotlib import animation as mpl_animation

    path = pathlib.Path(path)
    if fps is None:
        interval = getattr(animation, "frame_interval", 100) or 100
        fps = 1000.0 / interval
    pace: Any = fps  # both writers take a float pace, although their annotations say int
    suffix = path.suffix.lower()
    if suffix == ".gif":
        writer: Any = mpl_animation.PillowWriter(fps=pace)
    elif suffix == ".mp4":
        if not mpl_animation.writers.is_available("ffmpeg"):
            raise RuntimeError("saving MP4 needs ffmpeg on PATH; save a .gif instead")
        writer = mpl_animation.FFMpegWriter(fps=pace)
    else:
        raise ValueError(f"cannot save an animation as '{path.suffix}': use .gif or .mp4")
    if not hasattr(animation, "_frame_count"):  # not made by animate_swarm
        animation.save(str(path), writer=writer)
        return
    if suffix == ".gif":
        frames = _GifFrames()
        _render_frames(animation, frames.add)
        frames.save(path, fps)
    else:
        _save_movie(animation, writer, path)
    # Its frames were rendered here, not by the animation itself, which matplotlib would
    # otherwise warn about when it is deleted.
    setattr(animation, "_draw_was_started", True)


# ---------------------------------------------------------------- Pareto fronts


def _front_points(front: Any) -> List[List[float]]:
    raw = front.objectives if hasattr(front, "objectives") else front
    points = [[float(v) for v in p] for p in raw]
    if not points:
        raise ValueError("the front is empty: nothing to plot")
    for i, p in enumerate(points):
        if len(p) != len(points[0]):
            raise ValueError(
                f"every objective vector of the front needs {len(points[0])} values "
                f"(as the first one has), vector {i} has {len(p)}"
            )
    return points


def _hypervolume(front: Any, points: List[List[float]], reference: Sequence[float]) -> float:
    reference = [float(v) for v in reference]
    if hasattr(front, "hypervolume"):
        return float(front.hypervolume(reference))
    if len(reference) != len(points[0]):
        raise ValueError(
            f"reference must have one value per objective ({len(points[0])}), got {len(reference)}"
        )
    import kestrelopt

    if not hasattr(kestrelopt, "hypervolume"):
        raise RuntimeError("this build of kestrelopt has no hypervolume function")
    return float(kestrelopt.hypervolume(points, reference))


def plot_front(
    front: Union[ParetoFront, Sequence[Sequence[float]]],
    ax: Optional[Axes] = None,
    objectives: Optional[Sequence[int]] = None,
    reference: Optional[Sequence[float]] = None,
    history: bool = False,
) -> Axes:
    """Plot a Pareto front in two or three objectives.

    Args:
        front: a ``ParetoFront``, or a plain list of objective vectors.
        ax: Axes to draw on (a 3-D Axes for three objectives); a new figure when ``None``.
        objectives: the two or three objective indexes to plot. ``None`` plots all three
            of a three-objective front in 3-D and the first two otherwise.
        reference: a reference point (one value per objective); when given, the
            front's hypervolume against it is shown in the title.
        history: also draw the earlier fronts of ``front_history``, fading in from
            faint (early) to solid (late), behind the final front.

    Returns:
        The Axes drawn on.

    Raises:
        ValueError: the front is empty, ``objectives`` does not fit it, or ``history``
            was asked for and the front has no ``front_history``.
    """
    points = _front_points(front)
    n_objectives = len(points[0])
    if n_objectives < 2:
        raise ValueError("plot_front needs at least two objectives")
    if objectives is None:
        objectives = (0, 1, 2) if n_objectives == 3 else (0, 1)
    count = len(tuple(objectives))
    if count not in (2, 3):
        raise ValueError(f"objectives must name 2 or 3 objectives, got {tuple(objectives)!r}")
    chosen = _check_dims(objectives, n_objectives, count)
    snapshots: List[Any] = []
    if history:
        if hasattr(front, "to_numpy"):
            snapshots = list(front.to_numpy()["front_history"])  # views, no copies
        else:
            snapshots = list(getattr(front, "front_history", None) or [])
        if not snapshots:
            raise ValueError(
                "the front has no front_history: it needs at least one iteration of "
                "minimize_multi run with record_history=True"
            )
    plt = _pyplot()
    # A 3-D Axes takes the third column the annotations of a 2-D one do not know.
    canvas: Any = ax
    if canvas is None:
        fig = plt.figure()
        canvas = fig.add_subplot(projection="3d") if count == 3 else fig.add_subplot()
    elif count == 3 and not hasattr(canvas, "zaxis"):
        raise ValueError("three objectives need a 3-D Axes (projection='3d')")

    def columns(vectors: List[List[float]]) -> List[List[float]]:
        return [[v[k] for v in vectors] for k in chosen]

    if snapshots:
        # Spread the drawn snapshots over the whole run and always keep the last one.
        step = max(1, math.ceil(len(snapshots) / _MAX_FRONT_SNAPSHOTS))
        picked = list(range(len(snapshots) - 1, -1, -step))[::-1]
        for rank, index in enumerate(picked):
            snapshot = [list(map(float, v)) for v in snapshots[index]]
            if not snapshot:
                continue
            alpha = 0.08 + 0.42 * (rank + 1) / len(picked)
            label = "earlier fronts" if rank == len(picked) - 1 else None
            canvas.scatter(*columns(snapshot), s=8, color="0.45", alpha=alpha, label=label, zorder=1)
    ordered = sorted(points, key=lambda v: v[chosen[0]])
    canvas.scatter(*columns(ordered), s=18, color="tab:blue", label="front", zorder=3)
    if count == 2 and n_objectives == 2:
        # With exactly two objectives the sorted members form the trade-off curve.
        canvas.plot(*columns(ordered), color="tab:blue", linewidth=0.8, alpha=0.6, zorder=2)
    canvas.set_xlabel(f"f{chosen[0] + 1}")
    canvas.set_ylabel(f"f{chosen[1] + 1}")
    if count == 3:
        canvas.set_zlabel(f"f{chosen[2] + 1}")
    title = f"Pareto front ({len(points)} points)"
    if reference is not None:
        title += f", hypervolume {_hypervolume(front, points, reference):.6g}"
    canvas.set_title(title)
    if snapshots:
        canvas.legend()
    return canvas


# ---------------------------------------------------------------- grey numbers


def plot_grey(
    result: Union[GreyResult, Sequence[Tuple[float, float]]], ax: Optional[Axes] = None
) -> Axes:
    """Plot each grey variable's interval as an error bar around its center.

    Args:
        result: a ``GreyResult``, or a plain list of ``(lower, upper)`` intervals.
        ax: Axes to draw on; a new figure is made when ``None``.

    Returns:
        The Axes drawn on.
    """
    given: Any = result
    if hasattr(given, "best_centers"):
        centers = [float(c) for c in given.best_centers]
        spreads = [float(s) for s in given.best_spreads]
    else:
        pairs = [(float(lo), float(hi)) for lo, hi in given]
        centers = [(lo + hi) / 2 for lo, hi in pairs]
        spreads = [(hi - lo) / 2 for lo, hi in pairs]
    if not centers:
        raise ValueError("the result has no grey variables to plot")
    if ax is None:
        _, ax = _pyplot().subplots()
    positions = list(range(len(centers)))
    ax.errorbar(positions, centers, yerr=spreads, fmt="o", capsize=4, label="center ± spread")
    ax.set_xticks(positions)
    ax.set_xticklabels([f"x[{k}]" for k in positions])
    ax.set_xlabel("grey variable")
    ax.set_ylabel("interval")
    best = getattr(result, "best_value", None)
    ax.set_title("Grey solution" if best is None else f"Grey solution, best value {best:.6g}")
    return ax
