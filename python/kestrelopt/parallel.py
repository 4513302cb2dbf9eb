"""Parallel and distributed evaluation of a per-candidate objective.

``batched`` turns ``f(list[float]) -> float`` into an objective for
``minimize(..., vectorized=True)``, which hands over the whole swarm once per iteration;
the rows are then evaluated over any ``concurrent.futures.Executor``::

    from concurrent.futures import ProcessPoolExecutor
    with ProcessPoolExecutor(2) as pool:
        r = kestrelopt.minimize(batched(simulate, pool), bounds, vectorized=True, seed=1)

A multi-objective ``f(list[float]) -> list[float]`` works the same way with
``minimize_multi(..., vectorized=True)``.

A Dask cluster works the same way through ``distributed.Client(...).get_executor()``
(or by passing the ``Client`` itself). Values come back in row order whatever order the
workers finish in, so a seeded run is identical serially and on any number of workers.

``multistart`` makes several independent seeded runs of ``minimize`` (on an executor
when given) and returns the best of them together with all of them::

    best, runs = multistart("rastrigin", (-5.12, 5.12), dim=30, seeds=8, executor=pool)
"""

from __future__ import annotations

import functools
import operator
from typing import Any, Callable, Iterable, List, NamedTuple, Optional, Sequence, Union

import kestrelopt_native

__all__ = ["batched", "BatchedObjective", "multistart", "MultistartResult"]


def _evaluate_rows(objective: Callable[[List[float]], Any], rows: Sequence[List[float]]) -> List[Any]:
    # Module level so that process pools and Dask can pickle it by reference.
    return [objective(row) for row in rows]


def _as_values(value: Any) -> Union[float, List[float]]:
    # A number for minimize, a sequence of objective values for minimize_multi.
    if isinstance(value, (str, bytes)):
        raise TypeError(f"objective returned a {type(value).__name__}, not a number or numbers")
    try:
        return float(value)
    except TypeError:
        return [float(v) for v in value]


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

    def __call__(self, X: Any) -> List[Any]:
        """Evaluate every row of ``X``: one float per row (one list of floats per row for a
        multi-objective objective); an exception from any row propagates unchanged."""
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
        return [_as_values(v) for v in values]

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
            ``vectorized`` (or ``f(list[float]) -> list[float]`` for ``minimize_multi``,
            whose rows then come back as lists). For a process pool or a Dask cluster it must be picklable
            (a module-level function; Dask also accepts lambdas and closures).
        executor: a ``concurrent.futures.Executor`` (``ProcessPoolExecutor``,
            ``ThreadPoolExecutor``, ``distributed.Client(...).get_executor()``), a
            ``distributed.Client`` (its executor is used), or ``None`` to evaluate on
            the calling thread. The executor stays the caller's to shut down.
        chunksize: number of rows per task; larger chunks cut the per-task overhead
            when one evaluation is cheap.

    Returns:
        A callable taking the swarm matrix (``n_particles x dim``) and returning one
        float (or list of floats) per row in row order. An exception raised by the objective in a worker
        propagates from the call, so ``minimize`` ends the run and raises it.
    """
    if not callable(objective):
        raise TypeError(f"objective must be callable, got {type(objective).__name__}")
    if isinstance(chunksize, bool) or not isinstance(chunksize, int) or chunksize < 1:
        raise ValueError(f"chunksize must be an integer >= 1, got {chunksize!r}")
    return BatchedObjective(objective, _as_executor(executor), chunksize)


def _as_executor(executor: Any) -> Any:
    """The executor to use for `executor` (a distributed.Client gives its own), or a
    TypeError when it is neither an executor nor None."""
    if executor is None:
        return None
    if callable(getattr(executor, "get_executor", None)):  # a distributed.Client
        return executor.get_executor()
    if not callable(getattr(executor, "map", None)):
        raise TypeError(
            "executor must be a concurrent.futures.Executor, a distributed.Client or None, "
            f"got {type(executor).__name__}"
        )
    return executor


class MultistartResult(NamedTuple):
    """What ``multistart`` returns; unpacks as ``best, results = multistart(...)``.

    Attributes:
        best: the run with the lowest ``best_value`` (the earliest seed among equals; a
            NaN value is never lowest, so it is ``results[0]`` only when every run is NaN).
        results: every run's ``PsoResult``, in the order of the seeds.
    """

    best: Any
    results: List[Any]


def _is_better(candidate: float, incumbent: float) -> bool:
    # NaN never wins: a number beats NaN, and NaN beats nothing.
    return candidate < incumbent or (incumbent != incumbent and candidate == candidate)


def multistart(
    objective: Union[Callable[..., Any], str],
    bounds: Any,
    *,
    seeds: Union[int, Sequence[int]] = 10,
    executor: Optional[Any] = None,
    **options: Any,
) -> MultistartResult:
    """Run ``minimize`` once per seed and return the best run together with all of them.

    Independent restarts make the outcome depend less on the luck of one run, and the
    best of k seeded runs is as reproducible as a single run.

    Args:
        objective, bounds: as for ``minimize``.
        seeds: a number k (the seeds 0, 1, ..., k-1) or a sequence of seeds.
        executor: a ``concurrent.futures.Executor``, a ``distributed.Client`` or
            ``None`` (the runs are made one after the other on the calling thread).
            Runs on a native benchmark release the interpreter lock, so a
            ``ThreadPoolExecutor`` runs them on several cores; runs on a Python
            objective need a process pool (objective picklable). The executor stays
            the caller's to shut down.
        **options: any other keyword argument of ``minimize`` (not ``seed``), passed
            unchanged to every run.

    Returns:
        MultistartResult: ``(best, results)``; the same with and without an executor.

    Raises:
        TypeError, ValueError: for invalid ``seeds``, ``executor`` or a ``seed`` option.
        Exception: the first run's error in seed order (a ``concurrent.futures``
        executor cancels the runs it has not started yet).
    """
    if "seed" in options:
        raise TypeError("multistart takes seeds=, not seed=")
    seed_list = _seed_list(seeds)
    pool = _as_executor(executor)
    run = functools.partial(kestrelopt_native.minimize, objective, bounds, **options)
    task = functools.partial(_run_seeded, run)
    # Executor.map yields in seed order, so the result does not depend on the executor.
    results = list(map(task, seed_list) if pool is None else pool.map(task, seed_list))
    best = results[0]
    for result in results[1:]:
        if _is_better(result.best_value, best.best_value):
            best = result
    return MultistartResult(best, results)


def _run_seeded(run: Callable[..., Any], seed: int) -> Any:
    # Module level so that process pools and Dask can pickle it by reference.
    return run(seed=seed)


def _seed_list(seeds: Union[int, Sequence[int]]) -> List[int]:
    if isinstance(seeds, bool):
        raise TypeError("seeds must be a number of runs or a sequence of seeds, got bool")
    try:
        count = operator.index(seeds)  # type: ignore[arg-type]
    except TypeError:
        pass
    else:
        if count < 1:
            raise ValueError(f"seeds must be >= 1, got {count}")
        return list(range(count))
    if isinstance(seeds, (str, bytes)) or not isinstance(seeds, Iterable):
        raise TypeError(
            f"seeds must be a number of runs or a sequence of seeds, got {type(seeds).__name__}"
        )
    seed_list = list(seeds)
    if not seed_list:
        raise ValueError("seeds is empty")
    return seed_list
