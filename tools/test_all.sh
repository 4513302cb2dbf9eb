#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the core suite (ctest), the
# core suite again under AddressSanitizer + UndefinedBehaviorSanitizer, and the Python
# suite (pytest) against a wheel built from the sdist, the documentation build with
# warnings as errors, the vectorized tests under NumPy 1 and the whole Python suite under
# CPython 3.9 and 3.13 where present. The Python stages run in venvs the script makes under
# build/, so it runs alike from a bare system python, an active venv or a conda environment.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
python=${PYTHON:-python3}
jobs=${JOBS:-2}

# An interpreter for CPython $1 (such as 3.9): on PATH, or installed by pyenv but not
# selected; nothing when there is none.
find_python() {
  local candidate
  for candidate in "python$1" "$(pyenv root 2>/dev/null)"/versions/"$1".*/bin/"python$1"; do
    if "$candidate" -c "import venv" >/dev/null 2>&1; then
      echo "$candidate"
      return
    fi
  done
}

# apt's own output goes to a log, shown only when an install fails.
apt_install() {
  mkdir -p "$root/build"
  if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends "$@"; } >"$root/build/apt.log" 2>&1; then
    cat "$root/build/apt.log"
    return 1
  fi
}

missing=()
command -v g++ >/dev/null || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
if [ ${#missing[@]} -gt 0 ]; then
  apt_install "${missing[@]}"
fi
# ffmpeg only lets the MP4 animation test run; without it that one test skips.
if ! command -v ffmpeg >/dev/null; then
  apt_install ffmpeg >/dev/null || echo "ffmpeg could not be installed: the MP4 animation test will skip"
fi
"$python" -m pip install -q --disable-pip-version-check cmake ninja build

echo "== core tests"
"$python" tools/check_native_layers.py
cmake -S . -B build/ci -G Ninja -DKESTRELOPT_BUILD_TESTS=ON -DKESTRELOPT_BUILD_BENCH=ON >/dev/null
cmake --build build/ci -j "$jobs"
ctest --test-dir build/ci --output-on-failure -j "$jobs"

echo "== core tests under ASan + UBSan"
# -O1, the level the sanitizers are made for: their checks are the same, and the build is
# a third faster than at -O2.
cmake -S . -B build/sanitize -G Ninja -DKESTRELOPT_BUILD_TESTS=ON -DKESTRELOPT_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

# Installs the packages "${@:3}", then the wheel $2, into the environment of interpreter
# $1. The wheel goes last, forced and without dependencies, so that an installed copy of
# the same version never stands in for it.
install_with_wheel() {
  local interpreter=$1 package=$2
  shift 2
  "$interpreter" -m pip install -q --disable-pip-version-check "$@"
  "$interpreter" -m pip install -q --disable-pip-version-check --force-reinstall --no-deps "$package"
}

# Runs pytest with interpreter $1 on the test paths that follow, from the tests' folder.
run_pytest() {
  local interpreter=$1
  shift
  (cd "$root/tests/python" && "$interpreter" -m pytest -q -p no:cacheprovider "$@")
}

if [ -f pyproject.toml ] && [ -d tests/python ]; then
  echo "== Python tests"
  # One wheel (stable ABI: CPython 3.9 and later) serves every interpreter below. It is
  # built from the sdist, in pip's isolated environment, so the tests also show that the
  # sdist is complete; this is the only compile of the module.
  rm -rf "$root/build/sdist" "$root/build/wheel"
  "$python" -m build --sdist --outdir "$root/build/sdist" . >/dev/null
  sdist=$(ls "$root"/build/sdist/kestrelopt-*.tar.gz)
  "$python" -m pip wheel -q --disable-pip-version-check --no-deps -w "$root/build/wheel" "$sdist"
  wheel=$(ls "$root"/build/wheel/kestrelopt-*.whl)
  # Every stage runs in a venv of its own with the wheel and what it needs installed into
  # it, so the command behaves alike from a bare system python, an active venv or a conda
  # environment (a venv made from another venv does not see that venv's packages).
  venv="$root/build/venv-main"
  [ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
  install_with_wheel "$venv/bin/python" "$wheel" "$wheel[test]"
  run_pytest "$venv/bin/python" "$root/tests/python"

  echo "== documentation (sphinx-build -W)"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check \
    "sphinx>=7.2" "furo>=2024.1.29" "myst-parser>=2.0"
  rm -rf "$root/build/docs"
  "$venv/bin/python" -m sphinx -W --keep-going -q -b html "$root/docs" "$root/build/docs"

  echo "== vectorized tests under NumPy 1"
  venv="$root/build/venv-numpy1"
  [ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
  install_with_wheel "$venv/bin/python" "$wheel" "numpy<2" pytest
  run_pytest "$venv/bin/python" "$root/tests/python/test_minimize_vectorized.py"

  # The oldest and newest interpreters the wheel is for, where the machine has them; the
  # tests that need matplotlib, Dask or mypy skip there.
  for version in 3.9 3.13; do
    other=$(find_python "$version")
    [ -n "$other" ] || continue
    echo "== Python tests under CPython $version ($other)"
    venv="$root/build/venv-$version"
    [ -x "$venv/bin/python" ] || "$other" -m venv "$venv"
    install_with_wheel "$venv/bin/python" "$wheel" numpy pytest
    run_pytest "$venv/bin/python" "$root/tests/python"
  done
fi
