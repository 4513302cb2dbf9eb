"""The environment the comparison scripts run in: a venv of their own under build/ with the
peers from PyPI and kestrelopt from a wheel of this checkout, none of them a dependency of
the project. Used by bench/peers/compare.py and bench/bbob/run.py.
"""

import os
import platform
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WHEELS = os.path.join(ROOT, "build", "peers-wheel")


def venv_python(venv):
    return os.path.join(venv, "bin", "python")


def newest_source():
    """The latest modification time of the files a wheel of this checkout is built from."""
    latest = max(os.path.getmtime(os.path.join(ROOT, f)) for f in ("CMakeLists.txt", "pyproject.toml"))
    for top in ("core", "native", "python"):
        for d, dirs, files in os.walk(os.path.join(ROOT, top)):
            dirs[:] = [x for x in dirs if x != "__pycache__"]
            for f in files:
                latest = max(latest, os.path.getmtime(os.path.join(d, f)))
    return latest


def bootstrap(script, argv, venv, packages):
    """Create `venv`, install `packages` and the wheel, and run `script` inside it.

    `packages` lists PyPI names, or (PyPI name, import name) pairs where the two differ;
    each is installed only when it does not import yet. The script runs again with
    `--inside` before `argv`; this call does not return.
    """
    if not os.path.exists(venv_python(venv)):
        subprocess.check_call([sys.executable, "-m", "venv", venv])
    py = venv_python(venv)
    subprocess.call([py, "-m", "pip", "install", "-q", "--upgrade", "pip"])
    for entry in packages:  # one at a time: a peer that fails to install is reported, not fatal
        pip_name, module = entry if isinstance(entry, tuple) else (entry, entry)
        if subprocess.call([py, "-c", f"import {module}"], stderr=subprocess.DEVNULL) != 0:
            if subprocess.call([py, "-m", "pip", "install", "-q", pip_name]) != 0:
                print(f"could not install {pip_name}; its measurements will say so", flush=True)
    wheels = [f for f in os.listdir(WHEELS)] if os.path.isdir(WHEELS) else []
    wheels = [f for f in wheels if f.startswith("kestrelopt") and f.endswith(".whl")]
    built = max((os.path.getmtime(os.path.join(WHEELS, f)) for f in wheels), default=0.0)
    if not wheels or newest_source() > built:  # no wheel, or one older than the sources
        subprocess.check_call([py, "-m", "pip", "wheel", "--no-deps", "-w", WHEELS, ROOT])
        wheels = [f for f in os.listdir(WHEELS) if f.startswith("kestrelopt")]
    newest = max(wheels, key=lambda f: os.path.getmtime(os.path.join(WHEELS, f)))
    subprocess.check_call([py, "-m", "pip", "install", "-q", "--force-reinstall", "--no-deps",
                           os.path.join(WHEELS, newest)])
    os.execv(py, [py, os.path.abspath(script), "--inside"] + argv)


def versions(modules, missing="not measured: "):
    """{name: version} of Python and of each module; a module that does not import gives
    `missing` followed by why."""
    out = {"python": platform.python_version()}
    for name in modules:
        try:
            mod = __import__(name)
            out[name] = getattr(mod, "__version__", "?")
        except Exception as exc:
            out[name] = missing + f"{type(exc).__name__}: {exc}"[:80]
    return out


def machine():
    """(processor model, logical cores, platform) of this machine."""
    model = platform.processor() or "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return model, os.cpu_count(), platform.platform()
