"""Per-iteration callbacks for ``minimize``: a progress bar, a recorder, and ``chain``.

``minimize`` calls its ``callback`` as ``callback(iteration, best_value)`` after every
iteration and stops when it returns ``False``. The callbacks here never stop a run on
their own; ``chain`` combines several and stops when any of them asks to.

The engine does not tell a callback why or when a run ended, so the progress bar is a
context manager: leaving the ``with`` block closes it whatever the stop reason, and also
when the objective raised::

    with ProgressBar(200) as bar:
        result = kestrelopt.minimize("rastrigin", (-5.12, 5.12), dim=10,
                                     max_iter=200, callback=bar)
"""

from __future__ import annotations

import sys
import time
from typing import Any, Callable, List, Optional, TextIO, Tuple

__all__ = ["ProgressBar", "Recorder", "chain", "asks_to_stop"]

Callback = Callable[[int, float], Any]


def asks_to_stop(value: Any) -> bool:
    """Tell whether a callback's return value stops a run, as ``minimize`` reads it.

    Only ``False`` and a NumPy boolean false stop; ``None``, ``0`` or an empty list
    continue, exactly as in the native module.
    """
    if isinstance(value, bool):
        return not value
    numpy = sys.modules.get("numpy")  # a NumPy bool can only exist if NumPy is loaded
    if numpy is not None and isinstance(value, numpy.bool_):
        return not bool(value)
    return False


class Recorder:
    """Callback that keeps ``(iteration, best value, elapsed seconds)`` for every iteration.

    The clock starts when the recorder is created (or at ``reset()``), so create it just
    before the run. The records feed ``viz.plot_convergence`` directly.

    Attributes:
        iterations (list[int]): the 0-based iteration indexes seen.
        best_values (list[float]): the global best value after each of them.
        elapsed (list[float]): seconds since the clock started, at each call.
    """

    def __init__(self) -> None:
        self.iterations: List[int] = []
        self.best_values: List[float] = []
        self.elapsed: List[float] = []
        self._start = time.perf_counter()

    def __call__(self, iteration: int, best_value: float) -> None:
        """Record one iteration; never stops the run."""
        self.iterations.append(int(iteration))
        self.best_values.append(float(best_value))
        self.elapsed.append(time.perf_counter() - self._start)

    def reset(self) -> None:
        """Forget every record and restart the clock (to reuse the recorder for a new run)."""
        self.iterations.clear()
        self.best_values.clear()
        self.elapsed.clear()
        self._start = time.perf_counter()

    @property
    def records(self) -> List[Tuple[int, float, float]]:
        """The records as ``(iteration, best_value, elapsed_seconds)`` tuples."""
        return list(zip(self.iterations, self.best_values, self.elapsed))

    def __len__(self) -> int:
        return len(self.iterations)

    def __repr__(self) -> str:
        last = f", best_value={self.best_values[-1]!r}" if self.best_values else ""
        return f"Recorder(records={len(self)}{last})"


class ProgressBar:
    """Callback that shows the progress of a run and its current best value.

    Uses a tqdm bar when tqdm is installed (best value in the postfix), otherwise a
    single stderr line that rewrites itself. The bar opens at the first iteration and
    closes by itself after iteration ``max_iter - 1``; for any other stop (target,
    stagnation, evaluation or time budget, another callback, an exception) use it as a
    context manager or call ``close()``.

    Args:
        max_iter: the run's ``max_iter``, the length of the bar; ``None`` for a run
            without an iteration limit (``max_iter=None``): the bar then counts the
            iterations without a total and closes only when told.
        desc: text shown before the bar.
        file: stream to draw on; ``None`` means ``sys.stderr`` at the time of drawing.
        use_tqdm: ``None`` picks tqdm when it can be imported; ``False`` forces the
            plain line; ``True`` requires tqdm.
        min_interval: least number of seconds between two redraws.
        value_name: the name the second callback argument is shown under; with
            ``minimize_multi``, whose callback receives the front size, ``"front"``.
    """

    def __init__(
        self,
        max_iter: Optional[int],
        *,
        desc: Optional[str] = "kestrelopt",
        file: Optional[TextIO] = None,
        use_tqdm: Optional[bool] = None,
        min_interval: float = 0.1,
        value_name: str = "best",
    ) -> None:
        if max_iter is not None and max_iter < 0:
            raise ValueError(f"max_iter must be >= 0 or None, got {max_iter}")
        self.max_iter = None if max_iter is None else int(max_iter)
        self.desc = desc
        self.file = file
        self.min_interval = float(min_interval)
        self.value_name = value_name
        self._tqdm_class = _find_tqdm(use_tqdm)
        self._bar: Any = None  # the tqdm bar while open
        self._open = False
        self._finished = False  # closed after a run; only a new run (iteration 0) reopens
        self._done = 0
        self._best: Optional[float] = None
        self._last_draw = float("-inf")
        self._drawn_width = 0

    @property
    def uses_tqdm(self) -> bool:
        """Whether this bar draws through tqdm."""
        return self._tqdm_class is not None

    @property
    def closed(self) -> bool:
        """True when no bar is open (before the first iteration and after ``close()``)."""
        return not self._open

    @property
    def n(self) -> int:
        """Number of iterations completed in the current (or last) run."""
        return self._done

    @property
    def best_value(self) -> Optional[float]:
        """Best value reported by the latest iteration, or ``None`` before the first."""
        return self._best

    def __call__(self, iteration: int, best_value: float) -> None:
        """Advance the bar to ``iteration + 1`` completed iterations; never stops the run."""
        if not self._open:
            if self._finished and iteration != 0:
                # A run longer than the bar: keep the numbers, do not draw a second bar.
                self._done, self._best = int(iteration) + 1, float(best_value)
                return
            self._start_bar()
        self._done = int(iteration) + 1
        self._best = float(best_value)
        if self._bar is not None:
            self._bar.set_postfix({self.value_name: f"{self._best:.6g}"}, refresh=False)
            self._bar.update(self._done - self._bar.n)
        else:
            now = time.monotonic()
            if now - self._last_draw >= self.min_interval:
                self._draw_line()
                self._last_draw = now
        if self.max_iter is not None and self._done >= self.max_iter:
            self.close()

    def close(self) -> None:
        """Draw the final state and release the line; safe to call more than once."""
        if not self._open:
            return
        self._open = False
        self._finished = True
        if self._bar is not None:
            bar, self._bar = self._bar, None
            if self._best is not None:
                bar.set_postfix({self.value_name: f"{self._best:.6g}"}, refresh=False)
            bar.close()
        else:
            self._draw_line()
            self._stream().write("\n")
            self._stream().flush()

    def __enter__(self) -> "ProgressBar":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # noqa: BLE001 - the stream may already be gone at shutdown
            pass

    def _start_bar(self) -> None:
        self._open = True
        self._finished = False
        self._done = 0
        self._best = None
        self._last_draw = float("-inf")
        self._drawn_width = 0
        if self._tqdm_class is not None:
            self._bar = self._tqdm_class(
                total=self.max_iter,
                desc=self.desc,
                file=self._stream(),
                unit="it",
                leave=True,
                mininterval=self.min_interval,
                dynamic_ncols=True,
            )

    def _stream(self) -> TextIO:
        return self.file if self.file is not None else sys.stderr

    def _draw_line(self) -> None:
        total = self.max_iter
        best = "" if self._best is None else f" {self.value_name}={self._best:.6g}"
        prefix = f"{self.desc}: " if self.desc else ""
        if total is None:
            self._write_line(f"{prefix}{self._done} it{best}")
            return
        fraction = min(self._done / total, 1.0) if total else 1.0
        width = 24
        filled = int(fraction * width)
        self._write_line(
            f"{prefix}{fraction * 100:3.0f}%|{'#' * filled}{' ' * (width - filled)}| "
            f"{self._done}/{total}{best}"
        )

    def _write_line(self, text: str) -> None:
        # Pad over what the previous, possibly longer, line left behind.
        padding = " " * max(self._drawn_width - len(text), 0)
        stream = self._stream()
        stream.write("\r" + text + padding)
        stream.flush()
        self._drawn_width = len(text)


def _find_tqdm(use_tqdm: Optional[bool]) -> Any:
    if use_tqdm is False:
        return None
    try:
        from tqdm import tqdm
    except ImportError:
        if use_tqdm:
            raise ImportError("ProgressBar(use_tqdm=True) needs tqdm: pip install tqdm") from None
        return None
    return tqdm


class _Chain:
    """Several callbacks called in order as one; see ``chain``."""

    def __init__(self, callbacks: Tuple[Callback, ...]) -> None:
        self.callbacks = callbacks

    def __call__(self, iteration: int, best_value: float) -> bool:
        stop = False
        for callback in self.callbacks:
            # Every callback sees every iteration, also the one in which another one
            # stops the run, so recorders and bars end on the same iteration.
            if asks_to_stop(callback(iteration, best_value)):
                stop = True
        return not stop

    def close(self) -> None:
        """Close every member that can be closed (progress bars)."""
        for callback in self.callbacks:
            close = getattr(callback, "close", None)
            if callable(close):
                close()

    def __enter__(self) -> "_Chain":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"chain({', '.join(repr(c) for c in self.callbacks)})"


def chain(*callbacks: Optional[Callback]) -> _Chain:
    """Combine several callbacks into one that calls each of them in order.

    The combined callback returns ``False`` (stopping the run) when any member returned
    ``False`` or a NumPy boolean false for that iteration; all members are still called
    for that iteration. ``None`` entries are skipped, which keeps optional callbacks easy
    to pass. An exception from a member propagates at once (``minimize`` ends the run and
    raises it). The result is a context manager that closes its members on exit.
    """
    members = tuple(c for c in callbacks if c is not None)
    for callback in members:
        if not callable(callback):
            raise TypeError(f"chain() members must be callable, got {type(callback).__name__}")
    return _Chain(members)
