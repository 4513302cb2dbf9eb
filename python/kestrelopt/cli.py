"""The ``kestrelopt`` command: run a native benchmark, an objective of your own or a
multi-objective test problem, or list the benchmarks and problems.

    kestrelopt run rastrigin --dim 10 --seed 42
    kestrelopt run rosenbrock --dim 5 --velocity constriction --json
    kestrelopt run rastrigin --dim 10 --preset recommended --max-evals 100000
    kestrelopt run ackley --dim 2 --plot convergence.png
    kestrelopt run grey_sphere --dim 3 --max-spread 0.5
    kestrelopt run mymodel:loss --dim 4 --bounds -1 1      # or path/to/file.py:loss
    kestrelopt run-multi zdt1 --seed 1 --plot front.png
    kestrelopt list

``--max-evals`` or ``--max-time`` without ``--max-iter`` sets no iteration limit: the
budget alone ends the run.

Exit codes: 0 on success, 1 when the run itself fails (an optional package missing, an
internal error, a plot that cannot be saved, output to a pipe closed by its reader), 2 for
bad arguments, an unknown benchmark, an objective that cannot be found or called, or a swarm
larger than the machine's memory, 130 when interrupted (Ctrl-C during a run first prints the
best point found so far).
"""

from __future__ import annotations

import argparse
import json
import math
import os
import re
import sys
import time
from typing import Any, Callable, Dict, List, NoReturn, Optional, Sequence, Tuple

__all__ = ["main", "build_parser", "BENCHMARKS", "GREY_BENCHMARKS", "MULTI_PROBLEMS", "PRESETS"]

# The native catalogue, in its own order. The module can describe a name but cannot
# enumerate its names, so the list lives here (a test keeps it in step with the module).
BENCHMARKS: Tuple[str, ...] = (
    "sphere", "rastrigin", "rosenbrock", "ackley", "griewank", "schwefel",
    "bent_cigar", "discus", "elliptic", "zakharov", "levy", "expanded_schaffer",
)
GREY_BENCHMARKS: Tuple[str, ...] = ("grey_sphere",)
MULTI_PROBLEMS: Tuple[str, ...] = ("zdt1", "zdt2", "zdt3", "zdt4", "zdt6", "dtlz1", "dtlz2")

VELOCITIES = ("inertia", "constriction", "fips", "spso2011", "spso2011_uniform_radius")
# "von_neumann" is the engine's other spelling of "vonneumann", the one the docs use.
TOPOLOGIES = ("global", "ring", "von_neumann", "vonneumann", "random", "adaptive_random")
BOUNDS_HANDLING = ("clamp", "reflect", "wrap", "reinit")
# The names of kestrelopt.presets(), listed here so that building the parser loads no
# extension (a test keeps the two in step).
PRESETS = ("recommended", "robust", "robust_crossover", "exploit", "separable")
# What run's --velocity, --topology and --n-particles are without a preset.
_RUN_DEFAULTS = {"velocity": "inertia", "topology": "global", "n_particles": 30}


# The engine takes every count (sizes, budgets, the seed) as an unsigned 64-bit integer.
_COUNT_LIMIT = 2**64


def _count(text: str, low: int) -> int:
    """An integer option in [low, 2**64): the one range check of every count."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid integer: '{text}'") from None
    if value < low:
        raise argparse.ArgumentTypeError(f"must be >= {low}, got {value}")
    if value >= _COUNT_LIMIT:
        raise argparse.ArgumentTypeError(f"must be below 2**64, got {value}")
    return value


def _positive_int(text: str) -> int:
    return _count(text, 1)


def _non_negative_int(text: str) -> int:
    return _count(text, 0)


def _finite_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid number: '{text}'") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"must be a finite number, got {text}")
    return value


def _non_negative_float(text: str) -> float:
    value = _finite_float(text)
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be >= 0, got {text}")
    return value


def _seconds(text: str) -> float:
    value = _non_negative_float(text)
    if value >= 2.0**64:
        raise argparse.ArgumentTypeError(f"must be below 2**64 seconds, got {text}")
    return value


# argparse takes "-1e3" for an option because its own pattern for negative numbers knows no
# exponent; no option of this command looks like a number, so every number may be negative.
_NEGATIVE_NUMBER = re.compile(r"^-(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?$")


def _add_output_options(command: argparse.ArgumentParser, plot_help: str, progress_help: str) -> None:
    """The budget, plot, JSON and progress options both run commands take, in that order."""
    command.add_argument("--max-evals", type=_positive_int,
                         help="evaluation budget (without --max-iter: no iteration limit)")
    command.add_argument("--max-time", type=_seconds,
                         help="time budget in seconds (without --max-iter: no iteration limit)")
    command.add_argument("--plot", metavar="FILE", help=plot_help)
    command.add_argument("--json", action="store_true", help="print the result as JSON")
    progress = command.add_mutually_exclusive_group()
    progress.add_argument("--progress", dest="progress", action="store_true", default=None,
                          help=progress_help)
    progress.add_argument("--no-progress", dest="progress", action="store_false",
                          help="never show the progress bar (default: only on a terminal)")


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of the ``kestrelopt`` command."""
    from . import __version__

    parser = argparse.ArgumentParser(
        prog="kestrelopt",
        description="Particle swarm optimization of the native benchmark functions.",
    )
    parser.add_argument("--version", action="version", version=f"kestrelopt {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True

    run = commands.add_parser(
        "run",
        help="minimize a native benchmark or an objective of your own",
        description="Minimize a native benchmark, or a Python function f(list[float]) -> float "
                    "named MODULE:FUNCTION or FILE.py:FUNCTION (then with --bounds), and print "
                    "the result.",
    )
    run._negative_number_matcher = _NEGATIVE_NUMBER  # type: ignore[attr-defined]
    run.add_argument("benchmark", metavar="BENCHMARK",
                     help="benchmark name (see 'kestrelopt list'), or MODULE:FUNCTION or "
                          "FILE.py:FUNCTION for your own objective")
    run.add_argument("--dim", type=_positive_int, required=True, help="number of dimensions")
    run.add_argument("--seed", type=_non_negative_int, help="seed for a reproducible run")
    run.add_argument("--bounds", type=_finite_float, nargs=2, metavar=("MIN", "MAX"),
                     help="search box for every dimension (default: the benchmark's own bound; "
                          "required for your own objective)")
    run.add_argument("--preset", choices=PRESETS,
                     help="a named set of options measured on COCO's bbob suite (see "
                          "kestrelopt.presets()); the options given win over it; pair it with "
                          "--max-evals, as its restarts need a budget (not for grey benchmarks)")
    run.add_argument("--velocity", choices=VELOCITIES,
                     help="velocity rule (default: inertia, or the preset's)")
    run.add_argument("--topology", choices=TOPOLOGIES,
                     help="neighbourhood (default: global, or the preset's)")
    run.add_argument("--n-particles", type=_positive_int,
                     help="swarm size (default: 30, or the preset's)")
    run.add_argument("--max-iter", type=_positive_int,
                     help="iterations (default: 100, or no limit with --max-evals or --max-time)")
    run.add_argument("--bounds-handling", choices=BOUNDS_HANDLING,
                     help="what happens to particles that leave the box (default: clamp; "
                          "not for grey benchmarks)")
    run.add_argument("--max-spread", type=_non_negative_float,
                     help="largest spread of a grey variable (grey benchmarks only; "
                          "default: the benchmark's own)")
    run.add_argument("--target", type=_finite_float, help="stop once the best value is <= TARGET")
    run.add_argument("--patience", type=_non_negative_int, default=0,
                     help="stop after this many iterations without improvement (0: off)")
    _add_output_options(run, "save the convergence plot to FILE (needs matplotlib)",
                        "always show the progress bar (not for grey benchmarks)")

    multi = commands.add_parser(
        "run-multi",
        help="search the Pareto front of a ZDT or DTLZ test problem",
        description="Search the Pareto front of a multi-objective test problem (MOPSO) and "
                    "print its size and hypervolume.",
    )
    multi.add_argument("problem", metavar="PROBLEM", help="one of: " + ", ".join(MULTI_PROBLEMS))
    multi.add_argument("--dim", type=_positive_int,
                       help="number of variables (default: the problem's usual one)")
    multi.add_argument("--seed", type=_non_negative_int, help="seed for a reproducible run")
    multi.add_argument("--n-particles", type=_positive_int, default=100, help="swarm size")
    multi.add_argument("--max-iter", type=_positive_int,
                       help="iterations (default: 100, or no limit with --max-evals or --max-time)")
    multi.add_argument("--mutation-rate", type=_non_negative_float,
                       help="turbulence strength, fading over the run (0: off; default 0.1; "
                            "not with --variant smpso or smpso_crossover)")
    multi.add_argument("--variant", choices=("mopso", "smpso", "smpso_crossover"), default="mopso",
                       help="how particles move: mopso (default); smpso, the speed-constrained "
                            "swarm with polynomial mutation, which reaches multimodal fronts; "
                            "smpso_crossover, smpso with half the swarm bred from the archive")
    multi.add_argument("--archive", choices=("crowding", "grid", "hypervolume", "decomposition"),
                       help="how the archive is pruned (default: crowding, or grid with "
                            "--grid-divisions); hypervolume drops the least contributing member; "
                            "decomposition converges further above 3 objectives")
    multi.add_argument("--archive-size", type=_positive_int, default=100,
                       help="largest number of front members kept")
    multi.add_argument("--grid-divisions", type=_positive_int,
                       help="prune the archive by an adaptive grid of this many divisions "
                            "(default: by crowding distance)")
    _add_output_options(multi, "save the front with the true front to FILE (needs matplotlib)",
                        "always show the progress bar")

    listing = commands.add_parser(
        "list",
        help="list the native benchmarks and the run-multi problems",
        description="List the native benchmarks (real and grey) with their recommended bounds "
                    "and optima, and the run-multi problems with their objectives, usual "
                    "dimension, bounds and hypervolume reference.",
    )
    listing.add_argument("--json", action="store_true", help="print the list as JSON")
    # Each command keeps its own parser, so later errors print that command's usage.
    run.set_defaults(command_parser=run)
    multi.set_defaults(command_parser=multi)
    listing.set_defaults(command_parser=listing)
    return parser


def _json_number(value: float) -> Optional[float]:
    # JSON has no infinities or NaN; null keeps the output readable by strict parsers.
    return value if math.isfinite(value) else None


def _fail(parser: argparse.ArgumentParser, message: str, code: int) -> int:
    parser.print_usage(sys.stderr)
    print(f"{parser.prog}: error: {message}", file=sys.stderr)
    return code


class _Interrupted(Exception):
    """A run stopped by Ctrl-C, with what it had found."""

    def __init__(self, result: Any, curve: List[float]) -> None:
        super().__init__()
        self.result = result
        self.curve = curve


# Each particle holds a position, a velocity and a best position, plus the engine's own
# working copies: about this many numbers of 8 bytes per coordinate of the swarm.
_NUMBERS_PER_COORDINATE = 5


def _physical_memory() -> Optional[int]:
    try:
        return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    except (ValueError, OSError, AttributeError):
        return None


def _swarm_too_large(dim: int, n_particles: int) -> Optional[str]:
    """Why a swarm of this size cannot fit in this machine's memory, or None when it can."""
    memory = _physical_memory()
    # Without a figure for the memory, no swarm can still be larger than the address space.
    available = sys.maxsize if memory is None else memory
    needed = dim * n_particles * _NUMBERS_PER_COORDINATE * 8
    if needed <= available:
        return None
    holder = "the address space's" if memory is None else "this machine's"
    return (f"--dim {dim} with --n-particles {n_particles} needs about "
            f"{needed / 2**30:.3g} GiB for the swarm, more than {holder} "
            f"{available / 2**30:.3g} GiB")


# The engine draws first velocities from a range twice the box's width, which overflows a
# double for a width near 9e307; this keeps a wide margin below that.
_WIDEST_BOX = 1e307


class _ObjectiveNotFound(Exception):
    """MODULE:FUNCTION or FILE.py:FUNCTION names nothing that can be called."""


def _an(name: str) -> str:
    return ("an " if name[:1].lower() in "aeiou" else "a ") + name


def _load_objective(spec: str) -> Callable[..., Any]:
    """The callable that MODULE:FUNCTION or FILE.py:FUNCTION names (FUNCTION may be dotted,
    as Class.method); _ObjectiveNotFound saying why when there is none. Errors the module
    raises while it runs, other than failed imports, are the module's own and propagate."""
    import importlib
    import importlib.util

    where, _, attribute = spec.rpartition(":")
    if not where or not attribute:
        raise _ObjectiveNotFound(f"'{spec}' names no function: write MODULE:FUNCTION or "
                                 "FILE.py:FUNCTION")
    try:
        if where.endswith(".py") or "/" in where or os.sep in where:
            path = os.path.abspath(where)
            if not os.path.isfile(path):
                raise _ObjectiveNotFound(f"no file '{where}' for the objective '{spec}'")
            loader_spec = importlib.util.spec_from_file_location(
                "_kestrelopt_objective_" + re.sub(r"\W", "_", os.path.basename(path)[:-3]), path)
            if loader_spec is None or loader_spec.loader is None:
                raise _ObjectiveNotFound(f"'{where}' cannot be loaded as Python for '{spec}'")
            module = importlib.util.module_from_spec(loader_spec)
            # As when the file runs as a script: it may import the modules beside it.
            sys.path.insert(0, os.path.dirname(path))
            loader_spec.loader.exec_module(module)
        else:
            # The console script's path lacks the current folder, where a module of one's
            # own usually is; `python -m kestrelopt` has it already.
            if "" not in sys.path and os.getcwd() not in sys.path:
                sys.path.insert(0, os.getcwd())
            module = importlib.import_module(where)
    except ModuleNotFoundError as error:
        if error.name is not None and (where == error.name or where.startswith(error.name + ".")):
            raise _ObjectiveNotFound(f"no module '{where}' for the objective '{spec}' (looked in "
                                     "the current folder and the installed packages)") from None
        raise _ObjectiveNotFound(f"importing '{where}' for the objective '{spec}' failed: "
                                 f"{error}") from None
    except (ImportError, SyntaxError) as error:
        raise _ObjectiveNotFound(f"importing '{where}' for the objective '{spec}' failed: "
                                 f"{type(error).__name__}: {error}") from None
    found: Any = module
    for part in attribute.split("."):
        if not hasattr(found, part):
            raise _ObjectiveNotFound(f"'{where}' has no '{attribute}' for the objective '{spec}'")
        found = getattr(found, part)
    if not callable(found):
        raise _ObjectiveNotFound(f"'{spec}' is not callable: it is {_an(type(found).__name__)}")
    return found  # type: ignore[no-any-return]


def _iteration_limit(args: argparse.Namespace) -> Optional[int]:
    """--max-iter as given; without it 100, or no limit when a budget ends the run."""
    if args.max_iter is not None:
        return int(args.max_iter)
    if args.max_evals is not None or args.max_time is not None:
        return None
    return 100


def _bar_length(args: argparse.Namespace) -> Optional[int]:
    """The iterations the run will make at most: the limit, or what --max-evals allows
    (the first swarm's evaluation is no iteration); None when only the time ends it."""
    limit = _iteration_limit(args)
    if limit is not None or args.max_evals is None:
        return limit
    return max(1, -(-args.max_evals // args.n_particles) - 1)


def _settle_swarm_options(kestrelopt: Any, args: argparse.Namespace) -> None:
    """Sets --velocity, --topology and --n-particles not given to the preset's values, else
    to the defaults, so that the report and the memory check see the run's own."""
    chosen = kestrelopt.presets(dim=args.dim)[args.preset] if args.preset else {}
    for option, default in _RUN_DEFAULTS.items():
        if getattr(args, option) is None:
            setattr(args, option, chosen.get(option, default))


def _run(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    import kestrelopt

    name = args.benchmark
    _settle_swarm_options(kestrelopt, args)
    too_large = _swarm_too_large(args.dim, args.n_particles)
    if too_large is not None:
        return _fail(parser, too_large, 2)
    objective: Any = name
    own = ":" in name  # MODULE:FUNCTION or FILE.py:FUNCTION: never a benchmark's name
    if own:
        if args.max_spread is not None:
            return _fail(parser, f"--max-spread applies only to grey benchmarks, not to {name}", 2)
        if args.bounds is None:
            return _fail(parser, f"--bounds is required for an objective of your own ({name})", 2)
        try:
            objective = _load_objective(name)
        except _ObjectiveNotFound as error:
            return _fail(parser, str(error), 2)
    grey = not own and name in GREY_BENCHMARKS
    if grey:
        refused = (("--bounds-handling", args.bounds_handling), ("--progress", args.progress),
                   ("--preset", args.preset))
        for option, given in refused:
            if given is not None and given is not False:
                return _fail(parser, f"{option} does not apply to the grey benchmark {name}", 2)
    elif args.max_spread is not None:
        return _fail(parser, f"--max-spread applies only to grey benchmarks, not to {name}", 2)
    if args.bounds is not None:
        low, high = args.bounds
        if not low < high:
            return _fail(parser, f"--bounds: MIN must be below MAX, got {low:g} >= {high:g}", 2)
        if not high - low <= _WIDEST_BOX:
            return _fail(parser, f"--bounds: MAX - MIN must be at most {_WIDEST_BOX:g}, "
                                 f"got {high - low:g}", 2)
    else:
        try:
            info = kestrelopt.grey_benchmark_info if grey else kestrelopt.benchmark_info
            half = info(name)[0]
        except KeyError as error:
            return _unknown_benchmark(parser, error)
        low, high = -half, half
    if args.plot is not None:
        try:
            import matplotlib  # noqa: F401  (fail before the run, not after it)
        except ImportError:
            print("kestrelopt: --plot needs matplotlib: pip install 'kestrelopt[plot]'", file=sys.stderr)
            return 1

    start = time.perf_counter()
    interrupted = False
    try:
        bounds = [(low, high)] * args.dim
        if grey:
            result, curve = _run_grey(kestrelopt, args, bounds)
        else:
            result, curve = _run_real(kestrelopt, args, bounds, objective)
    except KeyError as error:
        if own:  # the objective's own error, not an unknown name
            raise
        return _unknown_benchmark(parser, error)
    except _Interrupted as stop:
        result, curve, interrupted = stop.result, stop.curve, True
    elapsed = time.perf_counter() - start

    # The result is printed before the plot is saved, so a plot that cannot be written
    # does not take the result with it.
    if grey:
        position: List[Any] = [[_json_number(a), _json_number(b)] for a, b in result.best_position]
        shown = ", ".join(f"[{a:.6g}, {b:.6g}]" for a, b in result.best_position)
    else:
        position = [_json_number(v) for v in result.best_position]
        shown = ", ".join(f"{v:.6g}" for v in result.best_position)
    if args.json:
        report: Dict[str, Any] = {
            "benchmark": name,
            "dim": args.dim,
            "bounds": [low, high],
            "seed": args.seed,
            "velocity": args.velocity,
            "topology": args.topology,
            "n_particles": args.n_particles,
            "preset": args.preset,
            "best_value": _json_number(result.best_value),
            "best_position": position,
            "iterations": len(curve),
            "evaluations": result.evaluations,
            "stop_reason": result.stop_reason,
            "convergence": [_json_number(v) for v in curve],
            "seconds": elapsed,
        }
        print(json.dumps(report, allow_nan=False))
    else:
        seed = "none" if args.seed is None else str(args.seed)
        print(f"benchmark     {name} (dim {args.dim}, bounds [{low:g}, {high:g}], seed {seed})")
        print(f"best value    {result.best_value!r}")
        print(f"best position [{shown}]")
        print(f"iterations    {len(curve)}")
        print(f"evaluations   {result.evaluations}")
        print(f"stop reason   {result.stop_reason}")
        print(f"time          {elapsed:.3f} s")
    return _finish(args, interrupted, lambda: _save_plot(curve, name, args.plot))


def _finish(args: argparse.Namespace, interrupted: bool, save_plot: Callable[[], None]) -> int:
    """The exit code once the result is printed: 130 after an interrupt; else the plot
    asked for is saved (1 when it cannot be)."""
    if interrupted:
        sys.stdout.flush()
        print("kestrelopt: interrupted", file=sys.stderr)
        return 130
    if args.plot is None:
        return 0
    sys.stdout.flush()
    try:
        save_plot()
    except (OSError, ValueError) as error:
        print(f"kestrelopt: cannot save the plot to {args.plot}: {error}", file=sys.stderr)
        return 1
    if not args.json:
        print(f"plot          {args.plot}")
    return 0


def _search_options(args: argparse.Namespace) -> Dict[str, Any]:
    """The options minimize and minimize_grey share, from the command line."""
    return dict(
        n_particles=args.n_particles, max_iter=_iteration_limit(args), velocity=args.velocity,
        topology=args.topology, seed=args.seed, target=args.target, patience=args.patience,
        max_evals=args.max_evals, max_time=args.max_time,
    )


def _run_real(
    kestrelopt: Any, args: argparse.Namespace, bounds: List[Tuple[float, float]], objective: Any
) -> Tuple[Any, List[float]]:
    from .callbacks import ProgressBar, Recorder, chain

    show_progress = args.progress if args.progress is not None else sys.stderr.isatty()
    bar = ProgressBar(_bar_length(args), desc=args.benchmark) if show_progress else None
    # The recorder gives the convergence curve without keeping the swarm's history.
    recorder = Recorder()
    callback = chain(bar, recorder)
    try:
        with callback:
            # Only a --bounds-handling given is passed, so that a preset's can apply.
            handling = {} if args.bounds_handling is None else {"bounds_handling": args.bounds_handling}
            result = kestrelopt.minimize(
                objective, bounds, record_history=False, callback=callback, preset=args.preset,
                **handling, **_search_options(args),
            )
    except KeyboardInterrupt as interrupt:
        _raise_partial(interrupt, list(recorder.best_values))
    return result, list(recorder.best_values)


def _raise_partial(interrupt: KeyboardInterrupt, curve: Optional[List[float]]) -> NoReturn:
    """Re-raises an interrupt as _Interrupted when it carries the run's result so far."""
    partial = getattr(interrupt, "partial_result", None)
    if partial is None:
        raise interrupt
    raise _Interrupted(partial, list(partial.convergence) if curve is None else curve) from None


def _run_grey(
    kestrelopt: Any, args: argparse.Namespace, bounds: List[Tuple[float, float]]
) -> Tuple[Any, List[float]]:
    # minimize_grey takes no callback: its own convergence curve is the record.
    max_spread = args.max_spread
    if max_spread is None:
        max_spread = kestrelopt.grey_benchmark_info(args.benchmark)[1]
    try:
        result = kestrelopt.minimize_grey(
            args.benchmark, bounds, max_spread=max_spread, **_search_options(args)
        )
    except KeyboardInterrupt as interrupt:
        _raise_partial(interrupt, None)
    return result, list(result.convergence)


def _unknown_benchmark(parser: argparse.ArgumentParser, error: KeyError) -> int:
    message = str(error.args[0]) if error.args else str(error)
    if "Available" not in message:
        message += ". Available: " + ", ".join(BENCHMARKS)
    return _fail(parser, message, 2)


def _save_plot(curve: List[float], name: str, path: str) -> None:
    # A bare Figure needs no GUI backend, so --plot works on a machine without a display.
    from matplotlib.figure import Figure

    from .viz import plot_convergence

    figure = Figure(figsize=(6.4, 4.0))
    ax = figure.subplots()
    plot_convergence(curve, ax=ax, labels=[name])
    ax.set_title(f"{name}: best value per iteration")
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def _run_multi(args: argparse.Namespace, parser: argparse.ArgumentParser) -> int:
    import kestrelopt

    from .callbacks import ProgressBar
    from .problems import PROBLEMS

    problem = PROBLEMS.get(args.problem)
    if problem is None:
        return _fail(parser, f"unknown problem '{args.problem}'. Available: "
                             + ", ".join(MULTI_PROBLEMS), 2)
    dim = problem.default_dim if args.dim is None else args.dim
    too_large = _swarm_too_large(dim, args.n_particles)
    if too_large is not None:
        return _fail(parser, too_large, 2)
    try:
        bounds = problem.bounds(dim)
    except ValueError as error:
        return _fail(parser, f"--dim: {error}", 2)
    if args.plot is not None:
        try:
            import matplotlib  # noqa: F401  (fail before the run, not after it)
        except ImportError:
            print("kestrelopt: --plot needs matplotlib: pip install 'kestrelopt[plot]'", file=sys.stderr)
            return 1
    max_iter = _iteration_limit(args)
    if args.variant != "mopso" and args.mutation_rate is not None:
        return _fail(parser, f"--mutation-rate sets the turbulence of --variant mopso; {args.variant} "
                             "mutates on its own", 2)
    if args.archive == "grid" and args.grid_divisions is None:
        return _fail(parser, "--archive grid needs --grid-divisions", 2)
    if args.archive not in (None, "grid") and args.grid_divisions is not None:
        return _fail(parser, f"--grid-divisions applies to --archive grid, not {args.archive}", 2)
    mutation: Dict[str, Any] = {} if args.variant != "mopso" else {
        "mutation_rate": 0.1 if args.mutation_rate is None else args.mutation_rate}
    if max_iter is None and args.max_evals is None and mutation.get("mutation_rate", 0) > 0:
        return _fail(parser, "--max-time without --max-iter or --max-evals gives the turbulence "
                             "no run length to fade over: add --max-evals or --max-iter, or "
                             "--mutation-rate 0", 2)
    show_progress = args.progress if args.progress is not None else sys.stderr.isatty()
    bar = ProgressBar(_bar_length(args), desc=problem.name, value_name="front") if show_progress else None
    start = time.perf_counter()
    interrupted = False
    try:
        try:
            front: Any = kestrelopt.minimize_multi(
                problem.evaluate, bounds, n_particles=args.n_particles, max_iter=max_iter,
                **mutation, variant=args.variant, archive=args.archive,
                archive_size=args.archive_size, grid_divisions=args.grid_divisions, seed=args.seed,
                record_history=False, max_evals=args.max_evals, max_time=args.max_time, callback=bar,
            )
        finally:
            if bar is not None:
                bar.close()
    except KeyboardInterrupt as interrupt:
        front = getattr(interrupt, "partial_result", None)
        if front is None:
            raise
        interrupted = True
    elapsed = time.perf_counter() - start

    reference = list(problem.reference)
    hypervolume = front.hypervolume(reference)
    if args.json:
        report: Dict[str, Any] = {
            "problem": problem.name,
            "dim": dim,
            "n_objectives": problem.n_objectives,
            "seed": args.seed,
            "n_particles": args.n_particles,
            "front_size": len(front.objectives),
            "hypervolume": hypervolume,
            "reference": reference,
            "evaluations": front.evaluations,
            "stop_reason": front.stop_reason,
            "seconds": elapsed,
            "objectives": [[_json_number(v) for v in row] for row in front.objectives],
            "positions": [[_json_number(v) for v in row] for row in front.positions],
        }
        print(json.dumps(report, allow_nan=False))
    else:
        seed = "none" if args.seed is None else str(args.seed)
        shown = ", ".join(f"{v:g}" for v in reference)
        print(f"problem       {problem.name} (dim {dim}, {problem.n_objectives} objectives, seed {seed})")
        print(f"front size    {len(front.objectives)}")
        print(f"hypervolume   {hypervolume:.6g} (reference [{shown}])")
        print(f"evaluations   {front.evaluations}")
        print(f"stop reason   {front.stop_reason}")
        print(f"time          {elapsed:.3f} s")
    return _finish(args, interrupted, lambda: _save_front_plot(front, problem, args.plot))


def _save_front_plot(front: Any, problem: Any, path: str) -> None:
    from matplotlib.figure import Figure

    from .viz import plot_front

    figure = Figure(figsize=(6.0, 4.5))
    three = problem.n_objectives == 3
    ax = figure.add_subplot(projection="3d") if three else figure.subplots()
    columns = [list(column) for column in zip(*problem.true_front(400))]
    if three:
        ax.scatter(columns[0], columns[1], zs=columns[2], s=2, color="0.6", label="true front")
    else:
        ax.plot(columns[0], columns[1], color="0.3", linestyle="--", linewidth=1, label="true front")
    if front.objectives:
        plot_front(front, ax=ax, reference=list(problem.reference))
    ax.legend()
    figure.tight_layout()
    figure.savefig(path, dpi=100)


def _box_text(box: List[Tuple[float, float]]) -> str:
    """A box as "[0, 1]" when every variable shares one range, else one part per run of
    equal ranges: "[0, 1] x [-5, 5]^9"."""
    runs: List[Tuple[Tuple[float, float], int]] = []
    for pair in box:
        if runs and runs[-1][0] == pair:
            runs[-1] = (pair, runs[-1][1] + 1)
        else:
            runs.append((pair, 1))
    if len(runs) == 1:
        return f"[{runs[0][0][0]:g}, {runs[0][0][1]:g}]"
    return " x ".join(f"[{low:g}, {high:g}]" + (f"^{count}" if count > 1 else "")
                      for (low, high), count in runs)


def _list(args: argparse.Namespace) -> int:
    import kestrelopt

    from .problems import PROBLEMS

    rows: List[Dict[str, Any]] = []
    for name in BENCHMARKS:
        bound, optimum = kestrelopt.benchmark_info(name)
        rows.append({"name": name, "kind": "real", "bounds": [-bound, bound], "optimum": optimum})
    for name in GREY_BENCHMARKS:
        center_bound, max_spread, optimum = kestrelopt.grey_benchmark_info(name)
        rows.append({"name": name, "kind": "grey", "bounds": [-center_bound, center_bound],
                     "max_spread": max_spread, "optimum": optimum})
    problems: List[Dict[str, Any]] = []
    for name in MULTI_PROBLEMS:
        problem = PROBLEMS[name]
        box = problem.bounds(problem.default_dim)
        problems.append({"name": name, "kind": "multi", "n_objectives": problem.n_objectives,
                         "dim": problem.default_dim, "bounds": [list(pair) for pair in box],
                         "reference": list(problem.reference)})
    if args.json:
        print(json.dumps(rows + problems))
        return 0
    print(f"{'benchmark':<18} {'bounds':<20} {'optimum':>8}")
    for row in rows:
        low, high = row["bounds"]
        bounds = f"[{low:g}, {high:g}]"
        extra = f"   (grey, max spread {row['max_spread']:g})" if row["kind"] == "grey" else ""
        print(f"{row['name']:<18} {bounds:<20} {row['optimum']:>8g}{extra}")
    print()
    print(f"{'run-multi problem':<18} {'objectives':>10} {'dim':>4}  {'bounds':<20} reference")
    for row in problems:
        shown = _box_text([(low, high) for low, high in row["bounds"]])
        reference = "[" + ", ".join(f"{v:g}" for v in row["reference"]) + "]"
        print(f"{row['name']:<18} {row['n_objectives']:>10} {row['dim']:>4}  {shown:<20} {reference}")
    return 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Entry point of the ``kestrelopt`` command; returns the exit code.

    Args:
        argv: the arguments without the program name; ``None`` reads ``sys.argv``.
    """
    import kestrelopt

    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        if args.command == "run":
            return _run(args, args.command_parser)
        if args.command == "run-multi":
            return _run_multi(args, args.command_parser)
        return _list(args)
    except KeyboardInterrupt:
        print("kestrelopt: interrupted", file=sys.stderr)
        return 130
    except kestrelopt.PanicException as error:
        print(f"kestrelopt: internal error: {error}", file=sys.stderr)
        return 1
    except BrokenPipeError:
        # The reader went away (as in `kestrelopt list | head -3`): send what is left of the
        # output nowhere, so that the interpreter's final flush does not fail once more.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
        return 1
