"""Sphinx configuration of the kestrelopt documentation.

Build with the package importable (installed, or the build's module and python/ on
PYTHONPATH)::

    python -m sphinx -W -b html docs build/docs
"""

import ast
import inspect
import pathlib
import re

from sphinx.util import logging

import kestrelopt

project = "kestrelopt"
author = "The kestrelopt developers"
copyright = "2026, The kestrelopt developers"
release = kestrelopt.__version__
version = release

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
    "sphinx.ext.viewcode",
]
source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
root_doc = "index"
exclude_patterns = ["_build"]
myst_enable_extensions = ["colon_fence"]
myst_heading_anchors = 3

html_theme = "furo"
html_title = f"kestrelopt {release}"

# The docstrings are written in the Google style. Attributes listed in a class docstring
# become fields, so that they do not clash with the entries autodoc makes for the
# properties themselves.
napoleon_google_docstring = True
napoleon_numpy_docstring = False
napoleon_use_ivar = True
autodoc_member_order = "bysource"
autodoc_typehints = "signature"

# The native functions carry text signatures without types; the stub that ships with the
# package has the same signatures with their types, so the reference shows those.
STUB = pathlib.Path(__file__).parent.parent / "python" / "kestrelopt_native-stubs" / "__init__.pyi"


def _stub_signatures(path):
    """{qualified name: (argument list, return annotation)} of the stub's functions."""
    signatures = {}
    aliases = {}  # the stub's private type aliases (_Bounds, ...), shown expanded
    tree = ast.parse(path.read_text(encoding="utf-8"))
    for node in tree.body:
        if isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name):
            name = node.targets[0].id
            if name.startswith("_") and not name.startswith("__"):
                aliases[name] = node.value
        elif isinstance(node, ast.FunctionDef):
            signatures[node.name] = node
        elif isinstance(node, ast.ClassDef):
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    signatures[f"{node.name}.{item.name}"] = item
    class ExpandAliases(ast.NodeTransformer):
        def visit_Name(self, node):
            if node.id in aliases:
                return self.visit(aliases[node.id])
            return node

    result = {}
    for name, function in signatures.items():
        function = ExpandAliases().visit(function)
        arguments = function.args
        if "." in name and arguments.args and arguments.args[0].arg == "self":
            arguments.args = arguments.args[1:]
        returns = ast.unparse(function.returns) if function.returns is not None else None
        result[name] = (f"({ast.unparse(arguments)})", returns)
    return result


STUB_SIGNATURES = _stub_signatures(STUB) if STUB.exists() else {}
NATIVE_NAMES = set(kestrelopt.__all__)


def _signature_from_stub(app, what, name, obj, options, signature, return_annotation):
    if what not in ("function", "method") or not name.startswith("kestrelopt."):
        return None
    local = name[len("kestrelopt."):]
    if local.split(".")[0] not in NATIVE_NAMES:
        return None
    return STUB_SIGNATURES.get(local)


def _join_wrapped_argument_names(app, what, name, obj, options, lines):
    """Join an argument entry whose list of names wraps over several lines (such as
    ``n_particles, max_iter, ...,`` in minimize_grey) into one line, the form the Google
    style expects; runs before napoleon reads the lines."""
    i = 0
    while i + 1 < len(lines):
        line, following = lines[i], lines[i + 1]
        indent = len(line) - len(line.lstrip())
        if (line.rstrip().endswith(",") and ":" not in line and following.strip()
                and len(following) - len(following.lstrip()) == indent):
            lines[i : i + 2] = [line.rstrip() + " " + following.strip()]
        else:
            i += 1


# Napoleon turns any line under "Args:" that reads like "words (words): text" into a
# parameter of that name, so free text there renders as parameters that do not exist, and
# Sphinx says nothing. This check runs after napoleon and compares the parameters it
# rendered with the callable's signature (the native ones' come from their text
# signatures); each stray is a warning naming the callable, an error under -W.
_RENDERED_PARAMETER = re.compile(r":(?:param|keyword)\s+([^:]*):")
_RENDERED_TYPE = re.compile(r":(?:type|kwtype)\s+([^:]*):(.*)")
_logger = logging.getLogger(__name__)


def _parameter_names(obj):
    """The names of obj's parameters, or None when it has no signature to read."""
    try:
        signature = inspect.signature(obj)
    except (TypeError, ValueError):
        return None
    return {parameter.name for parameter in signature.parameters.values()}


def _brackets_nest(text):
    depth = 0
    for character in text:
        depth += {"(": 1, "[": 1, ")": -1, "]": -1}.get(character, 0)
        if depth < 0:
            return False
    return depth == 0


def _check_argument_names(app, what, name, obj, options, lines):
    if what not in ("function", "method", "class", "exception", "decorator"):
        return
    rendered = []
    for line in lines:
        match = _RENDERED_PARAMETER.match(line)
        if match:
            rendered.append(match.group(1).replace("\\", "").lstrip("*"))
        match = _RENDERED_TYPE.match(line)
        if match and not _brackets_nest(match.group(2)):
            # "a (int), b (str): ..." reads as parameter a of type "int), b (str".
            _logger.warning(f"{name}: Args gives {match.group(1)} the type "
                            f"{match.group(2).strip()!r}; name one type per entry",
                            location=app.env.docname)
    if not rendered:
        return
    real = _parameter_names(obj)
    if real is None:
        _logger.warning(f"{name} documents parameters {rendered} but has no signature to "
                        "check them against", location=app.env.docname)
        return
    strays = [parameter for parameter in rendered if parameter not in real]
    if strays:
        _logger.warning(f"{name}: Args renders {strays} as parameters, which its signature "
                        "does not have; move free text out of Args into the description or "
                        "a Note", location=app.env.docname)


def setup(app):
    app.connect("autodoc-process-signature", _signature_from_stub)
    app.connect("autodoc-process-docstring", _join_wrapped_argument_names, priority=100)
    # After napoleon (priority 500), so that the lines are the parameters it rendered.
    app.connect("autodoc-process-docstring", _check_argument_names, priority=900)
