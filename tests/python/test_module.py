"""Module frame: initialisation, registration, single interpreter, exported symbols."""

import importlib
import inspect
import pickle
import shutil
import subprocess
import sys

import pytest

import kestrelopt as pso
from kestrelopt import kestrelopt_native as native

NAMES = [
    "minimize",
    "minimize_multi",
    "minimize_grey",
    "hypervolume",
    "benchmark_info",
    "grey_benchmark_info",
    "presets",
    "PsoResult",
    "ParetoFront",
    "GreyResult",
    "Swarm",
    "MultiSwarm",
    "AsyncSwarm",
    "AsyncMultiSwarm",
]
FUNCTIONS = NAMES[:7]


def test_all_lists_the_registrations_in_order():
    assert native.__all__ == NAMES
    assert pso.__all__ == NAMES


@pytest.mark.parametrize("name", NAMES)
def test_every_registered_name_is_a_module_attribute(name):
    assert getattr(native, name) is getattr(pso, name)


def test_module_docstring_is_empty():
    assert native.__doc__ == ""


def test_package_has_a_version_and_type_information():
    import pathlib

    assert isinstance(pso.__version__, str) and pso.__version__
    package = pathlib.Path(pso.__file__).parent
    assert (package / "py.typed").exists()
    # the extension is a top-level module; its stub is the stub-only package beside it
    assert (pathlib.Path(native.__file__).parent / "kestrelopt_native-stubs" / "__init__.pyi").exists()


@pytest.mark.parametrize("name", FUNCTIONS)
def test_functions_belong_to_kestrelopt_native(name):
    assert getattr(native, name).__module__ == "kestrelopt_native"


@pytest.mark.parametrize(
    "function, signature",
    [
        ("benchmark_info", "(name)"),
        ("grey_benchmark_info", "(name)"),
        ("hypervolume", "(front, reference)"),
        ("presets", "(dim=None)"),
        (
            "minimize_multi",
            "(objective, bounds, n_particles=100, max_iter=100, archive_size=100, w=0.729, "
            "c1=1.49445, c2=1.49445, velocity='inertia', seed=None, integer=False, binary=False, "
            "var_types=None, mutation_rate=0.1, dim=None, grid_divisions=None, v_max=None, "
            "bounds_handling='clamp', record_history=True, v_max_fraction=None, array_input=False, "
            "constraints=None, equality_constraints=None, vectorized=False, max_evals=None, max_time=None, "
            "callback=None, init=None, variant='mopso', archive=None, *, executor=None, "
            "max_in_flight=None, on_error='raise')",
        ),
        (
            "minimize_grey",
            "(objective, bounds, max_spread=None, representation='interval', n_particles=30, "
            "max_iter=100, w=0.729, c1=1.49445, c2=1.49445, velocity='inertia', topology='global', "
            "seed=None, record_history=True, v_max=None, patience=0, tol=0.0, max_evals=None, "
            "target=None, max_time=None, dim=None, w_end=None, v_max_fraction=None, "
            "ring_neighbors=1, array_input=False, init=None)",
        ),
        (
            "minimize",
            "(objective, bounds, integer=False, n_particles=30, max_iter=100, w=0.729, "
            "c1=1.49445, c2=1.49445, velocity='inertia', topology='global', seed=None, "
            "record_history=True, v_max=None, patience=0, tol=0.0, constraints=None, "
            "penalty=1000000.0, binary=False, max_evals=None, target=None, max_time=None, "
            "callback=None, bounds_handling='clamp', vectorized=False, var_types=None, "
            "dim=None, equality_constraints=None, repair=None, w_end=None, v_max_fraction=None, "
            "ring_neighbors=1, array_input=False, init=None, restarts=0, restart_growth=2.0, "
            "min_diameter=None, preset=None, crossover=0.0, *, executor=None, "
            "max_in_flight=None, on_error='raise')",
        ),
    ],
)
def test_text_signatures(function, signature):
    assert str(inspect.signature(getattr(native, function))) == signature


def test_minimize_text_signature_line_is_verbatim():
    assert native.minimize.__text_signature__ == (
        '(objective, bounds, integer=False, n_particles=30, max_iter=100, w=0.729, c1=1.49445, '
        'c2=1.49445, velocity="inertia", topology="global", seed=None, record_history=True, '
        'v_max=None, patience=0, tol=0.0, constraints=None, penalty=1e6, binary=False, '
        'max_evals=None, target=None, max_time=None, callback=None, bounds_handling="clamp", '
        'vectorized=False, var_types=None, dim=None, equality_constraints=None, repair=None, '
        'w_end=None, v_max_fraction=None, ring_neighbors=1, array_input=False, init=None, '
        'restarts=0, restart_growth=2.0, min_diameter=None, preset=None, crossover=0.0, *, '
        'executor=None, max_in_flight=None, on_error="raise")'
    )


@pytest.mark.parametrize(
    "function, line",
    [
        (
            "minimize_multi",
            'minimize_multi(objective, bounds, n_particles=100, max_iter=100, archive_size=100, '
            'w=0.729, c1=1.49445, c2=1.49445, velocity="inertia", seed=None, integer=False, '
            'binary=False, var_types=None, mutation_rate=0.1, dim=None, grid_divisions=None, '
            'v_max=None, bounds_handling="clamp", record_history=True, v_max_fraction=None, '
            'array_input=False, constraints=None, equality_constraints=None, vectorized=False, '
            'max_evals=None, max_time=None, callback=None, init=None, variant="mopso", archive=None, '
            '*, executor=None, max_in_flight=None, on_error="raise")',
        ),
        (
            "minimize_grey",
            'minimize_grey(objective, bounds, max_spread=None, representation="interval", '
            'n_particles=30, max_iter=100, w=0.729, c1=1.49445, c2=1.49445, velocity="inertia", '
            'topology="global", seed=None, record_history=True, v_max=None, patience=0, tol=0.0, '
            'max_evals=None, target=None, max_time=None, dim=None, w_end=None, '
            'v_max_fraction=None, ring_neighbors=1, array_input=False, init=None)',
        ),
        ("hypervolume", "hypervolume(front, reference)"),
    ],
)
def test_text_signature_lines_are_verbatim(function, line):
    assert getattr(native, function).__text_signature__ == line[len(function):]


def test_minimize_docstring_opens_and_closes_as_documented():
    doc = native.minimize.__doc__
    lines = doc.split("\n")
    assert lines[0] == "Minimizes an objective function with Particle Swarm Optimization."
    assert lines[1] == ""
    assert lines[4] == ""
    assert lines[5] == "Args:"
    assert "    dim (int | None): number of dimensions when ``bounds`` is a single" in lines
    assert doc.endswith(
        '    ...                  bounds=[(-5, 5)] * 3, velocity="fips", topology="ring")\n'
        "\n"
        "See docs/guide/velocity-and-topology.md for measured advice on which velocity,\n"
        "topology and bounds_handling to pick."
    )
    assert "are sensitive to ``penalty`` \u2014 a very large value" in doc


def test_catalogue_docstrings():
    assert native.benchmark_info.__doc__ == (
        "Metadata of a native benchmark: `(bound, optimum_value)`. `bound` is the\n"
        "recommended symmetric bound per dimension. Useful for auto-adjusting plot\n"
        "domains or building `bounds` without hardcoding them by hand."
    )
    assert native.grey_benchmark_info.__doc__ == (
        "Metadata of a native grey benchmark: ``(center_bound, max_spread,\n"
        "optimum_value)``. ``center_bound`` is the recommended symmetric bound for\n"
        "each grey variable's center; ``max_spread`` the recommended maximum spread.\n"
        "Useful for building ``bounds``/``max_spread`` without hardcoding them."
    )


def test_second_initialisation_returns_the_same_module():
    name = native.__name__
    first = sys.modules.pop(name)
    try:
        again = importlib.import_module(name)
        assert again is first
    finally:
        sys.modules[name] = first


def _subinterpreters():
    for module in ("_interpreters", "_xxsubinterpreters"):
        try:
            return importlib.import_module(module)
        except ImportError:
            continue
    return None


def test_another_interpreter_gets_import_error():
    # In a fresh process, so that the interpreter under test stays clean.
    code = (
        "import importlib, kestrelopt\n"
        "for name in ('_interpreters', '_xxsubinterpreters'):\n"
        "    try:\n"
        "        si = importlib.import_module(name); break\n"
        "    except ImportError:\n"
        "        si = None\n"
        "if si is None:\n"
        "    print('unavailable'); raise SystemExit(0)\n"
        "interp = si.create()\n"
        "try:\n"
        "    out = si.run_string(interp, 'import kestrelopt')\n"
        "    print('failure' if out else 'no error')\n"
        "    if out: print(out)\n"
        "except Exception as error:\n"
        "    print('failure', error)\n"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    if result.stdout.strip() == "unavailable":
        pytest.skip("no subinterpreter support in this Python")
    assert result.stdout.startswith("failure"), result.stdout
    assert "ImportError" in result.stdout


def test_only_the_init_function_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    output = subprocess.run(
        [nm, "-D", "--defined-only", native.__file__], capture_output=True, text=True, check=True
    ).stdout
    symbols = [line.split()[-1] for line in output.splitlines() if line.strip()]
    assert symbols == ["PyInit_kestrelopt_native"]


def test_the_installed_stub_carries_the_module_docstrings():
    import pathlib

    import importlib.util

    tools = pathlib.Path(__file__).resolve().parents[2] / "tools" / "stub_docs.py"
    spec = importlib.util.spec_from_file_location("stub_docs", tools)
    stub_docs = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(stub_docs)
    stub = pathlib.Path(native.__file__).parent / "kestrelopt_native-stubs" / "__init__.pyi"
    text = stub.read_text(encoding="utf-8")
    assert stub_docs.differences(native, text) == []
    # and the check sees a drift: one docstring changed in the stub is named
    drifted = text.replace('"""The values of the positions', '"""The values of positions', 1)
    assert drifted != text and stub_docs.differences(native, drifted) == ["Swarm.tell"]


def test_dir_lists_the_public_api_only():
    listed = dir(pso)
    public = [name for name in listed if not (name.startswith("__") and name.endswith("__"))]
    assert public == sorted(NAMES + ["PanicException", "callbacks", "indicators", "parallel", "viz"])
    assert "__version__" in listed and "__all__" in listed
    for name in listed:  # every listed name resolves, the lazily made ones included
        getattr(pso, name)
    # The star import and pickling by reference do not go through dir().
    namespace = {}
    exec("from kestrelopt import *", namespace)
    assert sorted(set(namespace) - {"__builtins__"}) == sorted(NAMES)
    result = pso.minimize("sphere", (-1, 1), dim=2, max_iter=3, seed=1)
    copy = pickle.loads(pickle.dumps(result))
    assert copy.best_position == result.best_position and copy.convergence == result.convergence
    assert pickle.loads(pickle.dumps(pso.minimize)) is pso.minimize
