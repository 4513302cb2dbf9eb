"""The type stub matches the compiled module, and the package type-checks against it."""

import subprocess
import sys

import pytest

pytest.importorskip("mypy")


def mypy(*args):
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, timeout=600)


def test_stub_agrees_with_the_runtime_module():
    done = mypy("mypy.stubtest", "kestrelopt_native")
    assert done.returncode == 0, done.stdout + done.stderr


def test_package_type_checks():
    done = mypy("mypy", "--ignore-missing-imports", "--no-incremental", "-p", "kestrelopt")
    assert done.returncode == 0, done.stdout + done.stderr
