#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the core suite (ctest), the
# core suite again under AddressSanitizer + UndefinedBehaviorSanitizer, and the Python
# suite (pytest) against the installed package, with the vectorized tests repeated under
# NumPy 1.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
python=${PYTHON:-python3}
jobs=${JOBS:-2}

missing=()
command -v g++ >/dev/null || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
"$python" -m pip install -q --disable-pip-version-check cmake ninja scikit-build-core pytest numpy

echo "== core tests"
cmake -S . -B build/ci -G Ninja -DKESTRELOPT_BUILD_TESTS=ON -DKESTRELOPT_BUILD_BENCH=ON >/dev/null
cmake --build build/ci -j "$jobs"
ctest --test-dir build/ci --output-on-failure -j "$jobs"

echo "== core tests under ASan + UBSan"
cmake -S . -B build/sanitize -G Ninja -DKESTRELOPT_BUILD_TESTS=ON -DKESTRELOPT_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

if [ -f pyproject.toml ] && [ -d tests/python ]; then
  echo "== Python tests"
  "$python" -m pip install -q --disable-pip-version-check ".[test]"
  (cd "$root/tests/python" && "$python" -m pytest -q "$root/tests/python")

  echo "== vectorized tests under NumPy 1"
  venv="$root/build/venv-numpy1"
  [ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check "numpy<2" pytest .
  (cd "$root/tests/python" && "$venv/bin/python" -m pytest -q "$root/tests/python/test_minimize_vectorized.py")
fi
