"""Parallel and distributed evaluation of a per-candidate objective.

``batched`` turns ``f(list[float]) -> float`` into an objective for
``minimize(..., vectorized=True)``, which hands over the whole swarm once per iteration;
the rows are then evaluated over any ``concurrent.futures.Executor``::

    from concurrent.futures import ProcessPoolExecutor
    with ProcessPoolExecutor(2) as pool:
        r = kestrelopt.minimize(batched(simulate, pool), bounds, vectorized=True, seed=1)

A multi-objective ``f(list[float]) -> list[float]`` works the same way with
``minimize_multi(..., vectorized=True)``. An ``f`` that returns its constraint values with
its value, ``(value, g)`` or ``(value, g, h)``, works with ``constraints="returned"``::

    r = kestrelopt.minimize(batched(simulate, pool), bounds, vectorized=True,
                            constraints="returned", seed=1)

A Dask cluster works the same way through ``distributed.Client(...).get_executor()``
(or by passing the ``Client`` itself). Values come back in row order whatever order the
workers finish in, so a seeded run is identical serially and on any number of workers.

``multistart`` makes several independent seeded runs of ``minimize`` (on an executor
when given) and returns the best of them together with all of them::

    best, runs = multistart("rastrigin", (-5.12, 5.12), dim=30, seeds=8, executor=pool)

``drive`` runs a ``kestrelopt.Swarm`` (or a ``MultiSwarm``) to its end over an executor,
one round of ask and tell at a time, and can save the swarm to a file after every round, so
that a run killed part-way resumes from its last round with ``load_checkpoint``::

    if os.path.exists(path):
        swarm = load_checkpoint(path)
    else:
        swarm = kestrelopt.Swarm(bounds, dim=8, seed=1)
    result = drive(swarm, simulate, pool, checkpoint=path)

Given a ``kestrelopt.AsyncSwarm``, ``drive`` keeps the executor's workers busy instead:
each value is told the moment it arrives and the worker gets the next particle at once,
with no round barrier, which wins when evaluation times vary::

    result = drive(kestrelopt.AsyncSwarm(bounds, dim=8, seed=1), simulate, pool,
                   on_error=float("inf"), checkpoint=path, checkpoint_every=60)

``minimize(..., executor=pool)`` (``minimize_multi`` too) makes that swarm from its own
options and drives it (without checkpoints)::

    result = kestrelopt.minimize(simulate, bounds, dim=8, seed=1, executor=pool,
                                 on_error=float("inf"))
"""

from __future__ import annotations

import concurrent.futures
import contextlib
import functools
import inspect
import math
import operator
import os
import pickle
import re
import stat
import sys
import tempfile
import time
from typing import (Any, Callable, Iterable, Iterator, List, NamedTuple, Optional, Sequence, Tuple,
                    Union, overload)

import kestrelopt_native

from .callbacks import asks_to_stop

__all__ = [
    "batched",
    "BatchedObjective",
    "multistart",
    "MultistartResult",
    "drive",
    "DriveResult",
    "load_checkpoint",
]

PathLike = Union[str, "os.PathLike[str]"]

# A time before every checkpoint write of this process, which all come after this import;
# the two seconds allow for the coarsest common mtime granularity (FAT's). A temporary file
# last written before it is no live writer's of this process, and a writer of another
# process does not sit on a file it has not written to since before this process began:
# such a file was left by a writer that was killed.
_STARTED = time.time() - 2.0


def _evaluate_rows(objective: Callable[[List[float]], Any], rows: Sequence[List[float]]) -> List[Any]:
    # Module level so that process pools and Dask can pickle it by reference.
    return [objective(row) for row in rows]


def _is_returned(value: Any) -> bool:
    # The form of constraints="returned": (value, g) or (value, g, h), g a sequence. A
    # multi-objective vector given as a tuple holds numbers, which have no length.
    return (
        type(value) is tuple
        and len(value) in (2, 3)
        and hasattr(value[1], "__len__")
        and not isinstance(value[1], (str, bytes))
    )


def _form(returned: bool) -> str:
    return "(value, constraints)" if returned else "a plain value"


def _gathered(results: Iterable[Any]) -> Any:
    """The rows' results as a vectorized objective returns them: one value (or list of
    values) per row; or, when the rows return their constraint values too, the tuple
    ``(values, G, H)`` that ``constraints="returned"`` takes, with one row of inequality
    and one of equality values per particle."""
    values: List[Any] = []
    inequalities: List[Any] = []
    equalities: List[Any] = []
    first: Optional[bool] = None
    for row, result in enumerate(results):
        returned = _is_returned(result)
        if first is None:
            first = returned
        elif returned != first:
            raise TypeError(
                f"objective returned {_form(returned)} for row {row} but {_form(first)} for row 0"
            )
        if returned:
            inequalities.append(result[1])
            equalities.append(result[2] if len(result) == 3 else [])
            result = result[0]
        values.append(_as_values(result))
    return (values, inequalities, equalities) if first else values


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

    def __call__(self, X: Any) -> Any:
        """Evaluate every row of ``X``: one float per row (one list of floats per row for a
        multi-objective objective); an exception from any row propagates unchanged. When
        the objective returns ``(value, g)`` or ``(value, g, h)`` tuples, the result is
        ``(values, G, H)``, the form ``constraints="returned"`` takes (``H`` has empty rows
        where the objective gave no ``h``)."""
        # Plain lists of Python floats: the objective receives exactly what the
        # non-vectorized mode would give it, and they pickle cheaply.
        if hasattr(X, "tolist"):
            if getattr(X, "ndim", 2) != 2:
                raise self._not_a_batch(X)
            rows = X.tolist()
        else:
            try:
                rows = [list(row) for row in X]
            except TypeError:
                raise self._not_a_batch(X) from None
        return _gathered(_map_rows(self.objective, self.executor, self.chunksize, rows))

    def _not_a_batch(self, X: Any) -> TypeError:
        # The usual cause: minimize called it once per candidate, without vectorized=True.
        shape = getattr(X, "shape", None)
        if shape is not None:
            what = f"an array of shape {tuple(shape)}"
        else:
            size = f" of {len(X)} values" if hasattr(X, "__len__") else ""
            what = f"a {type(X).__name__}{size}"
        return TypeError(
            f"{self!r} was given {what}, not the swarm's rows: a parallel.batched objective "
            "needs vectorized=True in minimize or minimize_multi, which then hands it the "
            "whole swarm as one (n_particles, dim) array"
        )

    def __repr__(self) -> str:
        name = getattr(self.objective, "__qualname__", repr(self.objective))
        where = "serial" if self.executor is None else type(self.executor).__name__
        return f"batched({name}, executor={where}, chunksize={self.chunksize})"


def _map_rows(
    objective: Callable[[List[float]], Any],
    executor: Any,
    chunksize: int,
    rows: List[List[float]],
) -> Iterator[Any]:
    """The objective's values of `rows` in row order, on `executor` (None: this thread)."""
    if executor is None:
        return map(objective, rows)
    # Chunking is done here rather than through Executor.map's chunksize, which thread
    # pools and Dask ignore.
    chunks = [rows[i : i + chunksize] for i in range(0, len(rows), chunksize)]
    task = functools.partial(_evaluate_rows, objective)
    return (v for chunk in executor.map(task, chunks) for v in chunk)


def _check_chunksize(chunksize: Any) -> None:
    if isinstance(chunksize, bool) or not isinstance(chunksize, int) or chunksize < 1:
        raise ValueError(f"chunksize must be an integer >= 1, got {chunksize!r}")


def batched(
    objective: Callable[[List[float]], Any],
    executor: Optional[Any] = None,
    chunksize: int = 1,
) -> BatchedObjective:
    """Turn a per-candidate objective into a vectorized one for ``vectorized=True``.

    Args:
        objective: ``f(list[float]) -> float``, as ``minimize`` would call it without
            ``vectorized`` (or ``f(list[float]) -> list[float]`` for ``minimize_multi``,
            whose rows then come back as lists). With ``constraints="returned"`` it
            returns ``(value, g)`` or ``(value, g, h)``, and the batch returns
            ``(values, G, H)``. For a process pool or a Dask cluster it must be picklable
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
    _check_chunksize(chunksize)
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

    best: kestrelopt_native.PsoResult
    results: List[kestrelopt_native.PsoResult]


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


# A Swarm's run ends in a PsoResult, a MultiSwarm's in a ParetoFront.
@overload
def drive(
    swarm: kestrelopt_native.Swarm,
    objective: Callable[[List[float]], Any],
    executor: Optional[Any] = None,
    *,
    chunksize: int = 1,
    checkpoint: Optional[PathLike] = None,
    callback: Optional[Callable[[int, Any], Any]] = None,
    rounds: Optional[int] = None,
    constraints: Optional[str] = None,
) -> kestrelopt_native.PsoResult: ...


@overload
def drive(
    swarm: kestrelopt_native.MultiSwarm,
    objective: Callable[[List[float]], Any],
    executor: Optional[Any] = None,
    *,
    chunksize: int = 1,
    checkpoint: Optional[PathLike] = None,
    callback: Optional[Callable[[int, Any], Any]] = None,
    rounds: Optional[int] = None,
    constraints: Optional[str] = None,
) -> kestrelopt_native.ParetoFront: ...


@overload
def drive(
    swarm: kestrelopt_native.AsyncSwarm,
    objective: Callable[[List[float]], Any],
    executor: Optional[Any] = None,
    *,
    checkpoint: Optional[PathLike] = None,
    callback: Optional[Callable[[int, Any], Any]] = None,
    constraints: Optional[str] = None,
    max_in_flight: Optional[int] = None,
    on_error: Union[str, float] = "raise",
    checkpoint_every: Optional[float] = None,
) -> DriveResult: ...


@overload
def drive(
    swarm: kestrelopt_native.AsyncMultiSwarm,
    objective: Callable[[List[float]], Any],
    executor: Optional[Any] = None,
    *,
    checkpoint: Optional[PathLike] = None,
    callback: Optional[Callable[[int, Any], Any]] = None,
    constraints: Optional[str] = None,
    max_in_flight: Optional[int] = None,
    on_error: Union[str, float] = "raise",
    checkpoint_every: Optional[float] = None,
) -> DriveResult: ...


def drive(
    swarm: Any,  # the overloads above say what it may be; the body tells them apart
    objective: Callable[[List[float]], Any],
    executor: Optional[Any] = None,
    *,
    chunksize: int = 1,
    checkpoint: Optional[PathLike] = None,
    callback: Optional[Callable[[int, Any], Any]] = None,
    rounds: Optional[int] = None,
    constraints: Optional[str] = None,
    max_in_flight: Optional[int] = None,
    on_error: Union[str, float] = "raise",
    checkpoint_every: Optional[float] = None,
) -> Any:
    """Run a ``kestrelopt.Swarm`` or ``MultiSwarm`` to its end, evaluating each round over
    an executor.

    Each round asks the swarm for the positions of all its particles (``ask()``, or
    ``ask_all()`` for a ``MultiSwarm``), evaluates every row (as tasks on the executor when
    one is given), and tells the values back in particle order (``tell``, ``tell_all``),
    whatever order the workers finish in. A seeded run therefore ends exactly as the serial
    loop, and as ``minimize(batched(f), vectorized=True, seed=...)`` (or
    ``minimize_multi``) with the same options, on any executor and any number of workers.

    With ``constraints="returned"`` the objective returns ``(value, g)`` or
    ``(value, g, h)``: its value (a ``MultiSwarm``: its objective vector) together with
    the values of its inequality constraints ``g`` (feasible when ``<= 0``) and equality
    constraints ``h``, from one call, as ``minimize(..., constraints="returned")`` takes
    them. Each round's values go to ``Swarm.violations`` (``MultiSwarm.violations``) and
    are told with the values, so the run is that of ``minimize`` (``minimize_multi``) with
    ``vectorized=True``, ``constraints="returned"`` and the swarm's options (for a
    ``Swarm``, its ``penalty``).

    A ``kestrelopt.AsyncSwarm`` or ``AsyncMultiSwarm`` is driven without rounds instead,
    with the options ``max_in_flight``, ``on_error`` and ``checkpoint_every`` (see
    "Asynchronous runs" below); ``chunksize`` and ``rounds`` apply to a ``Swarm`` and
    ``MultiSwarm`` only.

    With ``checkpoint``, the swarm is pickled to that file after every round: written
    to a temporary file in the same directory, then renamed over the old checkpoint, so
    the file always holds a complete round even when the process dies while writing.
    The temporary file such a death leaves behind is removed by the next write or
    ``load_checkpoint`` of the same path. ``load_checkpoint`` (or ``pickle.load``) gives
    the swarm back, and driving it again finishes the run bit for bit as if it had never
    stopped::

        swarm = load_checkpoint(path) if os.path.exists(path) else kestrelopt.Swarm(...)
        result = drive(swarm, simulate, client, checkpoint=path)

    Args:
        swarm: the ``kestrelopt.Swarm`` or ``kestrelopt.MultiSwarm`` to step; it is
            advanced in place, and may be new, part-way through its run, or already
            ended (its result then comes back at once). A ``MultiSwarm`` must be between
            rounds, not part-way through a round of ``ask()``.
        objective: ``f(list[float]) -> float`` for one particle, as ``minimize`` would
            call it without ``vectorized`` (``f(list[float]) -> list[float]`` for a
            ``MultiSwarm``, as ``minimize_multi`` would). For a process pool or a Dask
            cluster it must be picklable (a module-level function; Dask also accepts
            closures).
        executor: a ``concurrent.futures.Executor``, a ``distributed.Client`` (its
            executor is used), or ``None`` to evaluate on the calling thread. It stays
            the caller's to shut down.
        chunksize: particles per task; larger chunks cut the per-task overhead when one
            evaluation is cheap.
        checkpoint: a file path the swarm is saved to after every round, or ``None``.
            The checkpoint holds the swarm's history too, which grows by one swarm of
            positions per round (24 kB for 100 particles in 30 dimensions); for long
            runs, make the swarm with ``record_history=False`` to keep each save small.
        callback: called after every iteration (not after the initial swarm's round)
            with the arguments ``minimize`` would give it, ``(iteration, best_value)``
            (for a ``MultiSwarm``, those of ``minimize_multi``: ``(iteration,
            front_size)``); returning ``False`` stops the run.
        rounds: the most rounds to make in this call, or ``None`` to go on until the
            swarm's stop rules end the run. The swarm can be driven again afterwards.
        constraints: ``None``, or ``"returned"`` for an objective that returns its
            constraint values with its value.

    Returns:
        PsoResult: ``swarm.result()`` (for a ``MultiSwarm``, ParetoFront:
        ``swarm.front()``), whose ``stop_reason`` is the swarm's own when the run ended
        and ``"running"`` when ``rounds`` ran out first. When the callback stopped the
        run it is ``"callback"``, as ``minimize`` reports it, even if a stop rule was met
        in the same iteration; the swarm's own ``stop_reason`` stays ``None`` unless its
        rules ended the run, so it can be driven on.

    Raises:
        TypeError: for a ``swarm`` that is neither a ``kestrelopt.Swarm`` nor a
            ``MultiSwarm``, an objective or callback that is not callable, an executor of
            the wrong kind, a checkpoint that is not a path, or an objective value that is
            not a number (not a sequence of numbers for a ``MultiSwarm``; not such a
            tuple with ``constraints="returned"``).
        ValueError: for a ``chunksize`` or ``rounds`` below 1, a ``constraints`` other
            than ``None`` and ``"returned"``, or a ``MultiSwarm`` part-way through a round
            of ``ask()``.
        Exception: anything the objective raised (for the first failing particle in
            particle order), writing the checkpoint raised, or the callback raised. After
            the objective fails, the swarm is left waiting for the values of the round
            that failed, and the checkpoint holds the round before it. After a failed
            write, the swarm has already taken the round (``tell`` comes first), while
            the checkpoint file still holds the round before it (if one was saved).
            After the callback fails, both hold the round. Either the swarm or the
            checkpoint can be driven again.

    Asynchronous runs:
        With an ``AsyncSwarm``, up to ``max_in_flight`` evaluations are submitted at a
        time (by default the executor's worker count where it can be known, else
        ``n_particles``; 1 without an executor, which makes the run exactly
        ``minimize(objective, ...)`` with the swarm's options). An ``AsyncMultiSwarm``
        is driven the same way, its objective returning a list of objective values (with
        one in flight: exactly ``minimize_multi``). Each value is told the
        moment its evaluation completes (``concurrent.futures.wait``; on a
        ``distributed.Client`` or its executor, ``distributed.as_completed`` over the
        client's futures) and the next particle is submitted at once. Values that
        complete together are told in ticket order. The run is then decided by the order
        in which evaluations complete, so two runs on several workers differ unless
        their timings agree.

        When a stop rule other than the budget ends the run, the evaluations still
        running are dropped (cancelled where the executor can; those that completed
        with the one that ended the run are told): the swarm keeps their tickets.
        ``callback`` is called after every iteration (``n_particles`` values told) with
        the iteration and the best value (the front's size for an ``AsyncMultiSwarm``),
        and returning ``False`` stops the drive the same way, the result's
        ``stop_reason`` then being ``"callback"``.

        ``on_error="raise"`` (default): an evaluation that raises cancels what can be
        cancelled and the exception propagates; the swarm stays consistent, its
        tickets in flight (the failed one included) are sent again by the next
        ``drive``. A number instead (``float("inf")`` for example) is told as the value
        of a failed evaluation (as every objective's, for an ``AsyncMultiSwarm`` that
        has been told a vector before), so one diverged simulation does not end the run;
        the result's ``failed`` counts them. A value that is not a number raises
        ``TypeError`` either way.

        With ``checkpoint``, the swarm (its tickets in flight included) is saved after
        every tell, or at most every ``checkpoint_every`` seconds, and when the drive
        returns; ``load_checkpoint`` then ``drive`` sends the evaluations in flight again
        and goes on. The result is a ``DriveResult``: the ``PsoResult``'s (or
        ``ParetoFront``'s) attributes and ``failed``.
    """
    if isinstance(swarm, (kestrelopt_native.AsyncSwarm, kestrelopt_native.AsyncMultiSwarm)):
        if chunksize != 1 or rounds is not None:
            raise TypeError(
                f"chunksize and rounds drive a Swarm's rounds; an {type(swarm).__name__} has none"
            )
        return _drive_async(
            swarm, objective, executor, max_in_flight, on_error, checkpoint, checkpoint_every,
            callback, constraints,
        )
    if max_in_flight is not None or on_error != "raise" or checkpoint_every is not None:
        raise TypeError(
            "max_in_flight, on_error and checkpoint_every drive an AsyncSwarm or "
            "AsyncMultiSwarm; a Swarm or MultiSwarm evaluates whole rounds"
        )
    multi = isinstance(swarm, kestrelopt_native.MultiSwarm)
    if not multi and not isinstance(swarm, kestrelopt_native.Swarm):
        raise TypeError(
            f"swarm must be a kestrelopt.Swarm or MultiSwarm, got {type(swarm).__name__}"
        )
    if not callable(objective):
        raise TypeError(f"objective must be callable, got {type(objective).__name__}")
    _check_chunksize(chunksize)
    pool = _as_executor(executor)
    if checkpoint is not None and not isinstance(checkpoint, (str, os.PathLike)):
        raise TypeError(f"checkpoint must be a file path or None, got {type(checkpoint).__name__}")
    if callback is not None and not callable(callback):
        raise TypeError(f"callback must be callable or None, got {type(callback).__name__}")
    if rounds is not None and (
        isinstance(rounds, bool) or not isinstance(rounds, int) or rounds < 1
    ):
        raise ValueError(f"rounds must be an integer >= 1 or None, got {rounds!r}")
    if constraints is not None and constraints != "returned":
        raise ValueError(f'constraints must be None or "returned", got {constraints!r}')

    done = 0
    while swarm.stop_reason is None and (rounds is None or done < rounds):
        iteration = swarm.iteration
        rows = (swarm.ask_all() if multi else swarm.ask()).tolist()
        values = _map_rows(objective, pool, chunksize, rows)
        _tell_round(swarm, multi, values, constraints is not None)
        done += 1
        if checkpoint is not None:
            _write_checkpoint(swarm, checkpoint)
        # The initial swarm's round is no iteration; minimize does not call back after it.
        if callback is not None and swarm.iteration > iteration:
            if multi:
                progress = swarm.front_size
            else:
                progress = swarm.best_value
                assert progress is not None  # set by the first tell
            if asks_to_stop(callback(swarm.iteration - 1, progress)):
                return _stopped_by_callback(swarm.front() if multi else swarm.result())
    return swarm.front() if multi else swarm.result()


def _tell_round(swarm: Any, multi: bool, results: Iterable[Any], returned: bool) -> None:
    """Tells the swarm the objective's results of its particles, in particle order."""
    values: List[Any] = []
    inequalities: List[Any] = []
    equalities: List[Any] = []
    for particle, result in enumerate(results):
        if returned:
            result, g, h = _returned_items(result, particle)
            inequalities.append(g)
            equalities.append(h)
        values.append(_as_vector(result, particle) if multi else _as_number(result, particle))
    tell = swarm.tell_all if multi else swarm.tell
    if not returned:
        tell(values)
        return
    # The violations as the swarm's own class sums them, in the order minimize adds them.
    tell(values, type(swarm).violations(inequalities, equalities))


def _returned_items(result: Any, particle: int) -> Any:
    if type(result) is tuple and len(result) in (2, 3):
        return result[0], result[1], (result[2] if len(result) == 3 else [])
    raise TypeError(
        f"objective returned a {type(result).__name__} for particle {particle}, not "
        '(value, constraints) or (value, constraints, equality_constraints) as constraints="returned" asks'
    )


def load_checkpoint(
    path: PathLike,
) -> Union[
    kestrelopt_native.Swarm,
    kestrelopt_native.MultiSwarm,
    kestrelopt_native.AsyncSwarm,
    kestrelopt_native.AsyncMultiSwarm,
]:
    """The ``kestrelopt.Swarm`` (or ``MultiSwarm``, ``AsyncSwarm``, ``AsyncMultiSwarm``)
    that ``drive`` saved to ``path``.

    Equivalent to ``pickle.load`` on the file, with a check that it holds a swarm. Like
    any pickle, load only checkpoints you wrote yourself: unpickling can run code.

    Raises:
        FileNotFoundError: when there is no checkpoint at ``path``.
        TypeError: when the file holds something other than a ``kestrelopt.Swarm`` or
            ``MultiSwarm`` (or one of their asynchronous forms).
    """
    _remove_stale_temporaries(path)
    with open(path, "rb") as handle:
        swarm = pickle.load(handle)
    if not isinstance(swarm, _DRIVEN):
        raise TypeError(
            f"{os.fspath(path)!r} holds a {type(swarm).__name__}, not a kestrelopt.Swarm or MultiSwarm"
        )
    return swarm


def _as_number(value: Any, particle: int) -> float:
    # float("1.5") would pass a string; a swarm takes numbers only.
    if not isinstance(value, (str, bytes)):
        try:
            return float(value)
        except (TypeError, ValueError):
            pass
    raise TypeError(
        f"objective returned a {type(value).__name__} for particle {particle}, not a number"
        + _returned_hint(value)
    )


def _as_vector(value: Any, particle: int) -> List[float]:
    # A MultiSwarm takes a sequence of numbers per particle.
    if not isinstance(value, (str, bytes)):
        try:
            return [_as_number(v, particle) for v in value]
        except TypeError:
            pass
    raise TypeError(
        f"objective returned a {type(value).__name__} for particle {particle}, not a sequence "
        "of objective values" + _returned_hint(value)
    )


def _returned_hint(value: Any) -> str:
    return ' (pass constraints="returned" for (value, constraints) tuples)' if _is_returned(value) else ""


def _write_checkpoint(swarm: Any, path: PathLike) -> None:
    # A temporary file in the target's directory, renamed over it: the rename is atomic,
    # so a reader (or a resumed run) never sees a half-written checkpoint.
    target = os.fspath(path)
    directory, name = os.path.split(os.path.abspath(target))
    _remove_stale_temporaries(target)
    handle, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".tmp", dir=directory)
    try:
        with os.fdopen(handle, "wb") as stream:
            pickle.dump(swarm, stream, protocol=pickle.HIGHEST_PROTOCOL)
            stream.flush()
            os.fsync(stream.fileno())  # the data reaches the disk before the rename does
        os.replace(temporary, target)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def _remove_stale_temporaries(path: PathLike) -> None:
    """Removes the temporary files that writers of the checkpoint at `path` killed while
    writing left behind: regular files named as mkstemp names them, last written before
    this process started. Errors are ignored; the files are only clutter."""
    directory, name = os.path.split(os.path.abspath(os.fspath(path)))
    # mkstemp's random part: eight of the lowercase letters, digits and underscore.
    pattern = re.compile(re.escape(f".{name}.") + r"[a-z0-9_]{8}" + re.escape(".tmp"))
    with contextlib.suppress(OSError), os.scandir(directory) as entries:
        for entry in entries:
            if not pattern.fullmatch(entry.name):
                continue
            with contextlib.suppress(OSError):
                info = entry.stat(follow_symlinks=False)
                if stat.S_ISREG(info.st_mode) and info.st_mtime < _STARTED:
                    os.unlink(entry.path)


def _stopped_by_callback(result: Any) -> Any:
    # The result minimize gives for the same stop, where the callback's answer wins over
    # a stop rule met in the same iteration. A swarm has no stop of its own, so the
    # reason is set on its result.
    name, fields = kestrelopt_native._result_state(result)  # type: ignore[attr-defined]
    return kestrelopt_native._restore_result(  # type: ignore[attr-defined]
        name, (*fields[:-1], "callback")
    )


# Asynchronous drive of an AsyncSwarm or AsyncMultiSwarm: evaluations in flight, no round
# barrier.

# What load_checkpoint gives back: the kinds of swarm drive saves.
_DRIVEN = (
    kestrelopt_native.Swarm,
    kestrelopt_native.MultiSwarm,
    kestrelopt_native.AsyncSwarm,
    kestrelopt_native.AsyncMultiSwarm,
)


class DriveResult:
    """What ``drive`` returns for an ``AsyncSwarm`` or ``AsyncMultiSwarm``: the run's
    ``PsoResult`` (or ``ParetoFront``), whose attributes it also answers (``best_value``,
    ``best_position``, ``convergence``, ``history``, ``evaluations``, ``stop_reason``,
    ... of a ``PsoResult``; ``positions``, ``objectives``, ... of a ``ParetoFront``), and
    ``failed``.

    Attributes:
        result: the ``PsoResult`` or ``ParetoFront``.
        failed: evaluations that raised and were told the ``on_error`` value instead.
    """

    def __init__(self, result: Any, failed: int) -> None:
        self.result = result
        self.failed = failed

    def __getattr__(self, name: str) -> Any:
        if name == "result":  # not set yet, while unpickling
            raise AttributeError(name)
        return getattr(self.result, name)

    def __repr__(self) -> str:
        return f"DriveResult(failed={self.failed}, result={self.result!r})"


def _evaluate_one(objective: Callable[[List[float]], Any], x: List[float]) -> Any:
    # Module level, as _evaluate_rows.
    return objective(x)


class _Futures:
    """Evaluations on a concurrent.futures executor, or at submission without one."""

    def __init__(self, executor: Any) -> None:
        self.executor = executor
        self.running: dict = {}  # future -> ticket

    def submit(self, objective: Callable[[List[float]], Any], asked: List[Tuple[int, List[float]]]) -> None:
        for ticket, x in asked:
            if self.executor is not None:
                future = self.executor.submit(_evaluate_one, objective, x)
            else:
                future = concurrent.futures.Future()
                try:
                    future.set_result(objective(x))
                except Exception as error:
                    future.set_exception(error)
            self.running[future] = ticket

    def completed(self) -> List[Tuple[int, Optional[BaseException], Any]]:
        """(ticket, exception or None, value) of the evaluations that have completed, at
        least one, in ticket order; blocks until one does."""
        done, _ = concurrent.futures.wait(self.running, return_when=concurrent.futures.FIRST_COMPLETED)
        outcomes = []
        for future in done:
            error = future.exception()
            outcomes.append((self.running.pop(future), error, None if error else future.result()))
        return sorted(outcomes, key=lambda outcome: outcome[0])

    def cancel(self) -> None:
        for future in self.running:
            future.cancel()
        self.running.clear()


class _DaskFutures:
    """Evaluations on a Dask client, waited for with one distributed.as_completed."""

    def __init__(self, client: Any) -> None:
        import distributed

        self.client = client
        self.running: dict = {}
        self.arrivals = distributed.as_completed(with_results=True, raise_errors=False)

    def submit(self, objective: Callable[[List[float]], Any], asked: List[Tuple[int, List[float]]]) -> None:
        # One call for them all: each call waits for the client's event loop. pure=False:
        # two particles at the same position are two evaluations.
        futures = self.client.map(objective, [x for _, x in asked], pure=False)
        for (ticket, _), future in zip(asked, futures):
            self.running[future] = ticket
        self.arrivals.update(futures)

    def completed(self) -> List[Tuple[int, Optional[BaseException], Any]]:
        # The results come with the futures: asking a future for them afterwards would wait
        # for a round trip to the client's event loop each.
        outcomes = []
        for future, result in self.arrivals.next_batch(block=True):
            error = _dask_error(future, result) if future.status == "error" else None
            outcomes.append((self.running.pop(future), error, None if error else result))
        return sorted(outcomes, key=lambda outcome: outcome[0])

    def cancel(self) -> None:
        if self.running:
            self.client.cancel(list(self.running))
        self.running.clear()
        self.arrivals.clear()


def _dask_error(future: Any, result: Any) -> BaseException:
    # What as_completed gives for a failed task: (type, exception, traceback).
    if isinstance(result, tuple) and len(result) == 3 and isinstance(result[1], BaseException):
        return result[1].with_traceback(result[2])
    if isinstance(result, BaseException):
        return result
    error = future.exception()
    return error if error is not None else RuntimeError("a Dask task failed")


def _dask_client(executor: Any) -> Any:
    """The distributed.Client behind `executor` (itself, or the client of its
    get_executor()), or None."""
    # A client exists only once distributed was imported; importing it here would cost
    # every other executor most of a second.
    distributed = sys.modules.get("distributed")
    if distributed is None:
        return None
    if isinstance(executor, distributed.Client):
        return executor
    client = getattr(executor, "_client", None)
    return client if isinstance(client, distributed.Client) else None


def _worker_count(executor: Any, client: Any) -> Optional[int]:
    if executor is None:
        return 1
    if client is not None:
        return sum(client.nthreads().values()) or None
    workers = getattr(executor, "_max_workers", None)
    return workers if isinstance(workers, int) and workers > 0 else None


def _check_async_options(
    objective: Any,
    max_in_flight: Any,
    on_error: Any,
    checkpoint: Any,
    checkpoint_every: Any,
    callback: Any,
) -> None:
    if not callable(objective):
        raise TypeError(f"objective must be callable, got {type(objective).__name__}")
    if max_in_flight is not None and (
        isinstance(max_in_flight, bool) or not isinstance(max_in_flight, int) or max_in_flight < 1
    ):
        raise ValueError(f"max_in_flight must be an integer >= 1 or None, got {max_in_flight!r}")
    if on_error != "raise" and (isinstance(on_error, bool) or not isinstance(on_error, (int, float))):
        raise ValueError(
            f'on_error must be "raise" or a number to tell for a failed evaluation, got {on_error!r}'
        )
    if checkpoint is not None and not isinstance(checkpoint, (str, os.PathLike)):
        raise TypeError(f"checkpoint must be a file path or None, got {type(checkpoint).__name__}")
    if checkpoint_every is not None and (
        isinstance(checkpoint_every, bool)
        or not isinstance(checkpoint_every, (int, float))
        or not 0 <= checkpoint_every < math.inf
    ):
        raise ValueError(
            "checkpoint_every must be a finite number of seconds >= 0 or None, "
            f"got {checkpoint_every!r}"
        )
    if checkpoint_every is not None and checkpoint is None:
        raise ValueError("checkpoint_every needs a checkpoint path")
    if callback is not None and not callable(callback):
        raise TypeError(f"callback must be callable or None, got {type(callback).__name__}")


def _drive_async(
    swarm: Any,
    objective: Callable[[List[float]], Any],
    executor: Any,
    max_in_flight: Optional[int],
    on_error: Union[str, float],
    checkpoint: Optional[PathLike],
    checkpoint_every: Optional[float],
    callback: Optional[Callable[[int, float], Any]],
    constraints: Optional[str],
) -> DriveResult:
    _check_async_options(objective, max_in_flight, on_error, checkpoint, checkpoint_every, callback)
    if constraints is not None and constraints != "returned":
        raise ValueError(f'constraints must be None or "returned", got {constraints!r}')
    multi = isinstance(swarm, kestrelopt_native.AsyncMultiSwarm)
    outcome = swarm.front if multi else swarm.result
    client = _dask_client(executor)
    pool = _DaskFutures(client) if client is not None else _Futures(_as_executor(executor))
    width = max_in_flight or _worker_count(executor, client) or swarm.n_particles
    failed = 0
    objectives = None  # how many an AsyncMultiSwarm's vectors hold, once known
    written = time.monotonic()

    def save(now: bool) -> None:
        nonlocal written
        if checkpoint is None:
            return
        if now or checkpoint_every is None or time.monotonic() - written >= checkpoint_every:
            _write_checkpoint(swarm, checkpoint)
            written = time.monotonic()

    def finish(result: Any) -> DriveResult:
        pool.cancel()  # what a stop left in flight is dropped
        save(True)
        return DriveResult(result, failed)

    def told(result: Any, ticket: int) -> Tuple[Any, float]:
        # The value (vector) to tell and its violation.
        nonlocal objectives
        violation = 0.0
        if constraints is not None:
            result, g, h = _returned_items(result, ticket)
            violation = type(swarm).violations([g], [h])[0]
        if not multi:
            return _as_ticket_value(result, ticket), violation
        vector = _as_objective_vector(result, ticket)
        objectives = len(vector)
        return vector, violation

    def failure_value(error: BaseException) -> Tuple[Any, float]:
        # The number for every objective; a front told nothing yet has no length to give.
        if not multi:
            return on_error, 0.0
        known = objectives or next((len(f) for f in swarm.front().objectives), None)
        if known is None:
            raise error
        return [on_error] * known, 0.0

    if swarm.stop_reason is not None:
        return finish(outcome())
    try:
        # A swarm loaded from a checkpoint may hold evaluations in flight: send them again.
        pool.submit(objective, [(ticket, swarm.position(ticket).tolist()) for ticket in swarm.pending])
        while True:
            asked: List[Tuple[int, List[float]]] = []
            while swarm.stop_reason is None and len(pool.running) + len(asked) < width:
                try:
                    ticket, x = swarm.ask()
                except ValueError:  # every particle in flight, or the whole budget asked
                    break
                asked.append((ticket, x.tolist()))
            if asked:
                pool.submit(objective, asked)
            if not pool.running:
                return finish(outcome())
            for ticket, error, result in pool.completed():
                if error is None:
                    value = told(result, ticket)
                elif on_error == "raise" or not isinstance(error, Exception):
                    raise error
                else:
                    value, failed = failure_value(error), failed + 1
                iteration = swarm.iteration
                swarm.tell(ticket, *value)
                save(False)
                if callback is not None and swarm.iteration > iteration:
                    progress = len(outcome().positions) if multi else swarm.best_value
                    if asks_to_stop(callback(swarm.iteration - 1, progress)):
                        return finish(_stopped_by_callback(outcome()))
            # Values that completed with the one that ended the run are told too.
            if swarm.stop_reason is not None:
                return finish(outcome())
    except BaseException:
        pool.cancel()
        raise


def _as_objective_vector(value: Any, ticket: int) -> List[float]:
    if not isinstance(value, (str, bytes)):
        try:
            return [float(v) for v in value]
        except (TypeError, ValueError):
            pass
    raise TypeError(
        f"objective returned a {type(value).__name__} for ticket {ticket}, not a list of numbers"
    )


def _as_ticket_value(value: Any, ticket: int) -> float:
    if not isinstance(value, (str, bytes)):
        try:
            return float(value)
        except (TypeError, ValueError):
            pass
    raise TypeError(f"objective returned a {type(value).__name__} for ticket {ticket}, not a number")


# minimize(..., executor=...) and minimize_multi(..., executor=...): the native functions
# hand such calls here, to run as an AsyncSwarm (AsyncMultiSwarm) of the same options
# driven above.


class _AsMinimizeHands:
    """The objective, called with the candidate in the form minimize hands it where drive
    gives a list of floats: a list of ints in an integer space, a read-only array with
    array_input."""

    def __init__(self, objective: Callable[..., Any], form: str) -> None:
        self.objective = objective
        self.form = form

    def __call__(self, x: List[float]) -> Any:
        if self.form == "ints":
            return self.objective([int(v) for v in x])
        import numpy

        array = numpy.array(x, dtype=numpy.float64)
        array.flags.writeable = False
        return self.objective(array)


def _not_with_executor(options: dict) -> Optional[str]:
    """Why `options` (minimize's or minimize_multi's, as bound) cannot run asynchronously,
    or None when they can."""
    if options.get("vectorized"):
        return (
            "vectorized=True does not go with executor: an executor evaluates one candidate "
            "per task, where vectorized hands the objective the whole swarm (for the rows on "
            "an executor, pass kestrelopt.parallel.batched(f, executor) with vectorized=True "
            "and no executor)"
        )
    constraints: Any = options.get("constraints")
    sized = hasattr(constraints, "__len__")
    listed = constraints is not None and not isinstance(constraints, str)
    if listed and (not sized or len(constraints)):  # an empty list is no constraints
        what = type(constraints).__name__
        return (
            'constraints with executor must be None or "returned" (the objective returning '
            f"(value, g) or (value, g, h)), got {f'a {what} of callables' if sized else what}"
        )
    if options.get("equality_constraints"):
        return (
            "equality_constraints does not go with executor: return h with the value, "
            '(value, g, h), and pass constraints="returned"'
        )
    if options.get("repair") is not None:
        return "repair does not go with executor: repair the point inside the objective"
    if options.get("restarts"):
        return (
            f"restarts does not go with executor: an asynchronous run does not restart, "
            f"got restarts={options['restarts']!r}"
        )
    return None


def _on_executor(name: str, args: Tuple[Any, ...], kwargs: dict) -> Any:
    """``minimize`` or ``minimize_multi`` (``name``) called with ``executor``,
    ``max_in_flight`` or ``on_error``: with an executor, an ``AsyncSwarm``
    (``AsyncMultiSwarm``) of the same options driven on it, whose ``DriveResult`` comes back;
    with ``executor=None``, the native run."""
    function = getattr(kestrelopt_native, name)
    options = dict(kwargs)
    executor = options.pop("executor", None)
    max_in_flight = options.pop("max_in_flight", None)
    on_error = options.pop("on_error", "raise")
    if executor is None:
        if max_in_flight is not None or not (isinstance(on_error, str) and on_error == "raise"):
            raise ValueError(
                "max_in_flight and on_error need an executor, got "
                f"max_in_flight={max_in_flight!r} and on_error={on_error!r} with executor=None"
            )
        return function(*args, **options)
    # Bound as the signature reads, so that positional options count too.
    bound = inspect.signature(function).bind(*args, **options).arguments
    objective = bound.pop("objective")
    if isinstance(objective, str):
        raise ValueError(
            f"executor needs a Python callable objective, got the native benchmark name "
            f"{objective!r} (native runs go on several cores as independent runs: multistart "
            "with a thread pool)"
        )
    if not callable(objective):
        raise TypeError(f"objective must be callable, got {type(objective).__name__}")
    reason = _not_with_executor(bound)
    if reason is not None:
        raise ValueError(reason)
    _as_executor(executor)  # a TypeError for anything else, before the swarm is made
    constraints = bound.pop("constraints", None)
    if not isinstance(constraints, str):
        constraints = None  # an empty list: no constraints
    callback = bound.pop("callback", None)
    for unused in ("vectorized", "equality_constraints", "repair"):
        bound.pop(unused, None)
    if bound.pop("array_input", False):
        objective = _AsMinimizeHands(objective, "array")
    elif bound.get("var_types") is None and (bound.get("integer") or bound.get("binary")):
        objective = _AsMinimizeHands(objective, "ints")
    swarm: Any
    if name == "minimize":
        swarm = kestrelopt_native.AsyncSwarm(bound.pop("bounds"), **bound)
    else:
        swarm = kestrelopt_native.AsyncMultiSwarm(bound.pop("bounds"), **bound)
    return drive(swarm, objective, executor, max_in_flight=max_in_flight, on_error=on_error,
                 callback=callback, constraints=constraints)
