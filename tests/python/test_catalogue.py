"""benchmark_info and grey_benchmark_info."""

import pytest

import kestrelopt as pso

CATALOGUE = [
    ("sphere", 5.12), ("rastrigin", 5.12), ("rosenbrock", 2.048), ("ackley", 32.768),
    ("griewank", 600.0), ("schwefel", 500.0), ("bent_cigar", 100.0), ("discus", 100.0),
    ("elliptic", 100.0), ("zakharov", 10.0), ("levy", 10.0), ("expanded_schaffer", 100.0),
]


@pytest.mark.parametrize("name, bound", CATALOGUE)
def test_benchmark_info(name, bound):
    info = pso.benchmark_info(name)
    assert info == (bound, 0.0)
    assert type(info) is tuple and all(type(v) is float for v in info)


def test_benchmark_info_by_keyword():
    assert pso.benchmark_info(name="rastrigin") == (5.12, 0.0)


def test_grey_benchmark_info():
    info = pso.grey_benchmark_info("grey_sphere")
    assert info == (5.12, 5.12, 0.0)
    assert all(type(v) is float for v in info)


@pytest.mark.parametrize("name", ["Rastrigin", "rastrigin ", " sphere", "", "sph", "grey_sphere", "a\x00b"])
def test_unknown_benchmark(name):
    with pytest.raises(KeyError) as info:
        pso.benchmark_info(name)
    assert info.value.args == (f"unknown native benchmark: '{name}'",)


@pytest.mark.parametrize("name", ["sphere", "Grey_sphere", "grey_cube", "grey_sphere\n"])
def test_unknown_grey_benchmark(name):
    with pytest.raises(KeyError) as info:
        pso.grey_benchmark_info(name)
    assert info.value.args == (f"unknown native grey benchmark: '{name}'",)


@pytest.mark.parametrize("function", [pso.benchmark_info, pso.grey_benchmark_info])
@pytest.mark.parametrize("value, type_name", [(3, "int"), (None, "NoneType"), (b"sphere", "bytes")])
def test_name_must_be_a_str(function, value, type_name):
    with pytest.raises(TypeError) as info:
        function(value)
    assert str(info.value) == f"argument 'name': '{type_name}' object cannot be converted to 'PyString'"


def test_str_subclass_is_accepted():
    class Name(str):
        pass

    assert pso.benchmark_info(Name("levy")) == (10.0, 0.0)
