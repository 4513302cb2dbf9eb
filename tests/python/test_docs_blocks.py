"""Every Python block of README.md and docs/ runs on its own, as a reader copies it.

Each block is written to a file and run by a fresh interpreter in an empty folder, with
nothing from the blocks before it. A block that needs an optional package (matplotlib,
Dask, SciPy, ...) skips when it is missing. A block that is deliberately not runnable
starts with a comment "# not run: <why>", which the skip repeats.
"""

import importlib.util
import os
import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").rglob("*.md"))]
NOT_RUN = re.compile(r"#\s*not run:\s*(.+)")
IMPORTED = re.compile(r"^\s*(?:import|from)\s+([A-Za-z_]\w*)", re.M)


def python_blocks(page):
    """(line of the opening fence, code) of every ```python block of a Markdown page."""
    text = page.read_text(encoding="utf-8")
    for match in re.finditer(r"^```python\n(.*?)^```", text, re.S | re.M):
        yield text.count("\n", 0, match.start()) + 1, match.group(1)


BLOCKS = [
    pytest.param(code, id=f"{page.relative_to(ROOT)}:{line}")
    for page in PAGES
    for line, code in python_blocks(page)
]


def needed_modules(code):
    """The modules a block needs: those it imports, and what kestrelopt.viz loads."""
    needed = set(IMPORTED.findall(code))
    if "viz." in code:
        needed.add("matplotlib")
    if "save_animation" in code:
        needed.add("PIL")
    return sorted(needed)


def test_the_pages_have_their_blocks():
    # A fence the pattern stops matching would otherwise leave nothing to run.
    readme = [b for b in BLOCKS if b.id.startswith("README.md:")]
    assert len(readme) >= 8 and len(BLOCKS) - len(readme) >= 40


@pytest.mark.parametrize("code", BLOCKS)
def test_block_runs_alone(tmp_path, code):
    first = code.lstrip().splitlines()[0]
    reason = NOT_RUN.match(first)
    if reason:
        pytest.skip(f"marked not runnable: {reason.group(1)}")
    for name in needed_modules(code):
        if importlib.util.find_spec(name) is None:
            pytest.skip(f"needs {name}")
    script = tmp_path / "block.py"  # a file, so that worker processes can import it
    script.write_text(code, encoding="utf-8")
    env = dict(os.environ, MPLBACKEND="Agg", PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True,
                          env=env, cwd=tmp_path, timeout=300)
    assert done.returncode == 0, done.stderr
    if "print(r.stop_reason, len(r.convergence))" in code:  # the callback examples stop early
        stops = [line.split() for line in done.stdout.splitlines() if line.startswith("callback")]
        assert stops and all(int(iterations) < 100 for _, iterations in stops), done.stdout
