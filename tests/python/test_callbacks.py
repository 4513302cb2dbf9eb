"""kestrelopt.callbacks: Recorder, chain and ProgressBar driven by real minimize runs."""

import io
import re

import numpy as np
import pytest

import kestrelopt as pso
from kestrelopt.callbacks import ProgressBar, Recorder, asks_to_stop, chain

RUN = dict(bounds=(-5.12, 5.12), dim=3, seed=7, n_particles=8, max_iter=12)


def test_recorder_matches_convergence():
    recorder = Recorder()
    result = pso.minimize("rastrigin", callback=recorder, **RUN)
    assert recorder.iterations == list(range(12))
    assert recorder.best_values == result.convergence
    assert len(recorder) == 12
    assert all(b >= a >= 0 for a, b in zip(recorder.elapsed, recorder.elapsed[1:]))
    assert recorder.records[3] == (3, result.convergence[3], recorder.elapsed[3])


def test_recorder_reset_forgets_and_restarts():
    recorder = Recorder()
    pso.minimize("sphere", callback=recorder, **RUN)
    recorder.reset()
    assert recorder.records == []
    pso.minimize("sphere", callback=recorder, **dict(RUN, max_iter=4))
    assert recorder.iterations == [0, 1, 2, 3]


@pytest.mark.parametrize(
    "value, stops",
    [(False, True), (np.False_, True), (True, False), (np.True_, False),
     (None, False), (0, False), ([], False), ("", False)],
)
def test_asks_to_stop_reads_like_the_module(value, stops):
    assert asks_to_stop(value) is stops
    # The module itself must agree, or chain() would stop where minimize would not.
    result = pso.minimize("sphere", callback=lambda i, v: value, **RUN)
    assert (result.stop_reason == "callback") is stops


def test_chain_calls_all_members_and_stops_when_one_asks():
    recorder = Recorder()
    calls = []

    def stop_at_five(iteration, best):
        calls.append(iteration)
        return iteration < 5

    combined = chain(stop_at_five, recorder)
    result = pso.minimize("sphere", callback=combined, **RUN)
    assert result.stop_reason == "callback"
    assert calls == [0, 1, 2, 3, 4, 5]
    # The recorder saw the stopping iteration too, although it came after the stopper.
    assert recorder.iterations == [0, 1, 2, 3, 4, 5]
    assert recorder.best_values == result.convergence


def test_chain_skips_none_and_rejects_non_callables():
    recorder = Recorder()
    combined = chain(None, recorder, None)
    assert combined.callbacks == (recorder,)
    assert combined(0, 1.5) is True
    with pytest.raises(TypeError, match="must be callable"):
        chain(recorder, 3)


def test_chain_exception_reaches_the_caller():
    class Boom(Exception):
        pass

    def failing(iteration, best):
        if iteration == 2:
            raise Boom("third iteration")

    recorder = Recorder()
    with pytest.raises(Boom, match="third iteration"):
        pso.minimize("sphere", callback=chain(recorder, failing), **RUN)
    assert recorder.iterations == [0, 1, 2]


def plain_bar(max_iter, stream, **kwargs):
    return ProgressBar(max_iter, file=stream, use_tqdm=False, min_interval=0.0, **kwargs)


def test_plain_bar_draws_one_self_updating_line():
    stream = io.StringIO()
    bar = plain_bar(12, stream, desc="run")
    result = pso.minimize("sphere", callback=bar, **RUN)
    text = stream.getvalue()
    assert bar.closed and bar.n == 12
    assert text.endswith("\n") and text.count("\n") == 1
    frames = text.rstrip("\n").split("\r")[1:]
    assert len(frames) == 12 + 1  # one per iteration, and the final redraw at close
    assert frames[0].startswith("run:") and " 1/12 " in frames[0]
    assert frames[-1].startswith("run: 100%") and "12/12" in frames[-1]
    assert f"best={result.best_value:.6g}" in frames[-1]


def test_plain_bar_pads_over_a_longer_previous_line():
    stream = io.StringIO()
    bar = plain_bar(10, stream)
    bar(0, 123456.789)
    bar(1, 1.0)
    first, second = stream.getvalue().split("\r")[1:]
    assert len(second) == len(first)
    assert second.rstrip().endswith("best=1")


@pytest.mark.parametrize(
    "options, reason",
    [(dict(target=1e6), "target"), (dict(max_evals=30), "max_evaluations"),
     (dict(patience=1, tol=1e9), "stagnation")],
)
def test_bar_closes_on_early_stops(options, reason):
    stream = io.StringIO()
    with plain_bar(12, stream) as bar:
        result = pso.minimize("sphere", callback=bar, **RUN, **options)
    assert result.stop_reason == reason
    assert bar.closed and bar.n < 12
    assert stream.getvalue().endswith("\n")
    assert f"{bar.n}/12" in stream.getvalue().split("\r")[-1]


def test_bar_closes_when_the_objective_raises():
    stream = io.StringIO()

    def objective(x):
        if len(calls) == 20:
            raise RuntimeError("simulation diverged")
        calls.append(x)
        return sum(v * v for v in x)

    calls = []
    with pytest.raises(RuntimeError, match="diverged"):
        with plain_bar(12, stream) as bar:
            pso.minimize(objective, callback=bar, **RUN)
    assert bar.closed
    assert stream.getvalue().endswith("\n")


def test_bar_reopens_for_a_second_run():
    stream = io.StringIO()
    bar = plain_bar(12, stream)
    pso.minimize("sphere", callback=bar, **RUN)
    pso.minimize("sphere", callback=bar, **RUN)
    assert stream.getvalue().count("\n") == 2


def test_run_longer_than_the_bar_draws_one_bar():
    stream = io.StringIO()
    bar = plain_bar(5, stream)
    pso.minimize("sphere", callback=bar, **RUN)  # 12 iterations
    assert stream.getvalue().count("\n") == 1
    assert "5/5" in stream.getvalue() and "6/5" not in stream.getvalue()
    assert bar.n == 12 and bar.closed


def test_close_before_any_iteration_writes_nothing():
    stream = io.StringIO()
    bar = plain_bar(5, stream)
    bar.close()
    bar.close()
    assert stream.getvalue() == ""


def test_tqdm_bar_shows_best_value_in_postfix():
    pytest.importorskip("tqdm")
    stream = io.StringIO()
    with ProgressBar(12, file=stream, use_tqdm=True, desc="tq") as bar:
        assert bar.uses_tqdm
        result = pso.minimize("sphere", callback=bar, **dict(RUN, target=1e-300))
    assert bar.closed
    final = stream.getvalue().rstrip("\n").split("\r")[-1]
    assert final.startswith("tq:") and "12/12" in final
    assert f"best={result.best_value:.6g}" in final


def test_tqdm_bar_closed_at_an_early_stop_keeps_its_count():
    pytest.importorskip("tqdm")
    stream = io.StringIO()
    with ProgressBar(12, file=stream, use_tqdm=True) as bar:
        result = pso.minimize("sphere", callback=bar, **dict(RUN, max_evals=40))
    assert result.stop_reason == "max_evaluations"
    final = stream.getvalue().rstrip("\n").split("\r")[-1]
    assert f"{bar.n}/12" in final and bar.n < 12


def test_chain_closes_its_bar_on_exit():
    stream = io.StringIO()
    bar = plain_bar(12, stream)
    with chain(bar, Recorder()) as combined:
        pso.minimize("sphere", callback=combined, **dict(RUN, target=1e6))
    assert bar.closed and stream.getvalue().endswith("\n")


def test_negative_length_is_refused():
    with pytest.raises(ValueError, match="max_iter must be >= 0"):
        ProgressBar(-1)


@pytest.mark.parametrize("use_tqdm", [False, True])
def test_bar_without_a_length_counts_and_closes_only_when_told(use_tqdm):
    # For a run without an iteration limit (max_iter=None).
    if use_tqdm:
        pytest.importorskip("tqdm")
    stream = io.StringIO()
    bar = ProgressBar(None, file=stream, use_tqdm=use_tqdm, min_interval=0.0, desc="open")
    with bar:
        result = pso.minimize("sphere", callback=bar, **dict(RUN, max_iter=None, max_evals=150))
        assert not bar.closed and bar.n == len(result.convergence) == 18
    final = stream.getvalue().rstrip("\n").split("\r")[-1]
    assert bar.closed and final.startswith("open:") and "%" not in final
    assert re.search(r"\b18 ?it\b", final)  # tqdm writes "18it", the plain line "18 it"
    assert f"best={result.best_value:.6g}" in final
