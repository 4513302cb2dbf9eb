"""Parallel and distributed evaluation of a per-candidate objective.

``batched`` turns ``f(list[float]) -> float`` into an objective for
``minimize(..., vectorized=True)``, which hands over the whole swarm once per iteration;
the rows are then evaluated over any ``concurrent.futures.Executor``::

    from concurrent.futures import ProcessPoolExecutor
    with ProcessPoolExecutor(2) as pool:
        r = kestrelopt.minimize(batched(simulate, pool), bounds, vectorized=True, seed=1)

A Dask cluster works the same way through ``distributed.Client(...).get_executor()``
(or by passing the ``Client`` itself). Values come back in row order whatever order the
workers finish in, so a seeded run is identical serially and on any number of workers.
"""

from __future__ import annotations

import functools
from typing import Any, Callable, Iterable, List, Optional, Sequence

__all__ = ["batched", "BatchedObjective"]


def _evaluate_rows(objective: Callable[[List[float]], Any], rows: Sequence[List[float]]) -> List[Any]:
    # Module level so that process pools and Dask can pickle it by reference.
    return [objective(row) for row in rows]


class BatchedObjective:
    """A vectorized objective that maps a per-candidate objective over the swarm's rows.

    Made by ``batched``; call it with a 2-D array (or a list of rows) to get one float
    per row, in row order.

    Attributes:
        objective: the per-candidate objective.
        executor: the executor the rows are mapped over, or ``None`` for the caller's
            thread.
        chunksize: rows sent to a worker per task.
    """

    def __init__(self, objective: Callable[[List[float]], Any], executor: Any, chunksize: int) -> None:
        self.objective = objective
        self.executor = executor
        self.chunksize = chunksize

    def __call__(self, X: Any) -> List[float]:
        """Evaluate every row of ``X``; an exception from any row propagates unchanged."""
        # Plain lists of Python floats: the objective receives exactly what the
        # non-vectorized mode would give it, and they pickle cheaply.
        rows = X.tolist() if hasattr(X, "tolist") else [list(row) for row in X]
        if self.executor is None:
            values: Iterable[Any] = map(self.objective, rows)
        else:
            # Chunking is done here rather than through Executor.map's chunksize, which
            # thread pools and Dask ignore.
            size = self.chunksize
            chunks = [rows[i : i + size] for i in range(0, len(rows), size)]
            task = functools.partial(_evaluate_rows, self.objective)
            values = (v for chunk in self.executor.map(task, chunks) for v in chunk)
        return [float(v) for v in values]

    def __repr__(self) -> str:
        name = getattr(self.objective, "__qualname__", repr(self.objective))
        where = "serial" if self.executor is None else type(self.executor).__name__
        return f"batched({name}, executor={where}, chunksize={self.chunksize})"


def batched(
    objective: Callable[[List[float]], Any],
    executor: Optional[Any] = None,
    chunksize: int = 1,
) -> BatchedObjective:
    """Turn a per-candidate objective into a vectorized one for ``vectorized=True``.

    Args:
        objective: ``f(list[float]) -> float``, as ``minimize`` would call it without
            ``vectorized``. For a process pool or a Dask cluster it must be picklable
            (a module-level function; Dask also accepts lambdas and closures).
        executor: a ``concurrent.futures.Executor`` (``ProcessPoolExecutor``,
            ``ThreadPoolExecutor``, ``distributed.Client(...).get_executor()``), a
            ``distributed.Client`` (its executor is used), or ``None`` to evaluate on
            the calling thread. The executor stays the caller's to shut down.
        chunksize: number of rows per task; larger chunks cut the per-task overhead
            when one evaluation is cheap.

    Returns:
        A callable taking the swarm matrix (``n_particles x dim``) and returning one
        float per row in row order. An exception raised by the objective in a worker
        propagates from the call, so ``minimize`` ends the run and raises it.
    """
    if not callable(objective):
        raise TypeError(f"objective must be callable, got {type(objective).__name__}")
    if isinstance(chunksize, bool) or not isinstance(chunksize, int) or chunksize < 1:
        raise ValueError(f"chunksize must be an integer >= 1, got {chunksize!r}")
    if executor is not None:
        if callable(getattr(executor, "get_executor", None)):  # a distributed.Client
            executor = executor.get_executor()
        elif not callable(getattr(executor, "map", None)):
            raise TypeError(
                "executor must be a concurrent.futures.Executor, a distributed.Client or None, "
                f"got {type(executor).__name__}"
            )
    return BatchedObjective(objective, executor, chunksize)
