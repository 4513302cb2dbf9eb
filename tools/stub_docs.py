"""Keeps the docstrings of the native module's type stub equal to the module's own.

The C++ sources hold each docstring once; the stub (python/kestrelopt_native-stubs) repeats
them for editors and type checkers, which cannot import a compiled module. Run with the
package installed: ``python tools/stub_docs.py`` rewrites the stub's docstrings from the
module, ``python tools/stub_docs.py --check`` lists those that differ (exit status 1), as
the tests do.
"""

from __future__ import annotations

import argparse
import ast
import inspect
import pathlib
import sys
from typing import Any, Iterator, Optional, Tuple

STUB = pathlib.Path(__file__).resolve().parent.parent / "python" / "kestrelopt_native-stubs" / "__init__.pyi"


def _runtime_doc(owner: Any, name: str) -> Optional[str]:
    # A class's own attribute (a getter, a method), not an inherited one.
    obj = owner.__dict__.get(name) if isinstance(owner, type) else getattr(owner, name, None)
    if isinstance(obj, (staticmethod, classmethod)):
        obj = obj.__func__  # its own docstring, which a staticmethod shows only from 3.10 on
    doc = getattr(obj, "__doc__", None)
    return inspect.cleandoc(doc) if doc else None


def _undocumented_overload(node: ast.AST) -> bool:
    # One overload of a function carries its docstring (the first); the others have none.
    return (
        isinstance(node, ast.FunctionDef)
        and any(isinstance(d, ast.Name) and d.id == "overload" for d in node.decorator_list)
        and ast.get_docstring(node) is None
    )


def _documented(module: Any, tree: ast.Module) -> Iterator[Tuple[str, ast.AST, Optional[str]]]:
    # (qualified name, stub node, the module's docstring) for every class and function the
    # stub declares, dunder methods aside (their docstrings are CPython's own).
    def walk(nodes: list, owner: Any, prefix: str) -> Iterator[Tuple[str, ast.AST, Optional[str]]]:
        for node in nodes:
            if not isinstance(node, (ast.FunctionDef, ast.ClassDef)) or node.name.startswith("__"):
                continue
            if _undocumented_overload(node):
                continue
            yield prefix + node.name, node, _runtime_doc(owner, node.name)
            if isinstance(node, ast.ClassDef):
                yield from walk(node.body, getattr(owner, node.name, None), prefix + node.name + ".")

    yield from walk(tree.body, module, "")


def differences(module: Any, stub_text: str) -> list[str]:
    """The stub's classes and functions whose docstring is not the module's."""
    found = []
    for name, node, doc in _documented(module, ast.parse(stub_text)):
        if ast.get_docstring(node) != doc:
            found.append(name)
    return found


def _quoted(doc: str, indent: str) -> list[str]:
    text = doc.replace("\\", "\\\\").replace('"""', '\\"\\"\\"')
    lines = text.splitlines()
    if len(lines) == 1:
        return [f'{indent}"""{lines[0]}"""']
    body = [f"{indent}{line}" if line else "" for line in lines[1:]]
    return [f'{indent}"""{lines[0]}', *body, f'{indent}"""']


def rewritten(module: Any, stub_text: str) -> str:
    """The stub with every docstring replaced by the module's."""
    lines = stub_text.splitlines()
    edits = []
    for name, node, doc in _documented(module, ast.parse(stub_text)):
        if ast.get_docstring(node) == doc:
            continue
        first = node.body[0]  # type: ignore[attr-defined]
        has_doc = isinstance(first, ast.Expr) and isinstance(first.value, ast.Constant)
        if doc is None or not has_doc:
            raise SystemExit(f"{name}: give it a docstring in the module and in the stub by hand")
        indent = " " * first.col_offset
        edits.append((first.lineno - 1, first.end_lineno, _quoted(doc, indent)))
    for start, end, new in sorted(edits, reverse=True):
        lines[start:end] = new
    return "\n".join(lines) + "\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="only list the docstrings that differ")
    args = parser.parse_args()
    import kestrelopt_native

    text = STUB.read_text(encoding="utf-8")
    if args.check:
        found = differences(kestrelopt_native, text)
        print("\n".join(f"{STUB.name}: the docstring of {name} differs from the module's" for name in found)
              or "the stub's docstrings are the module's")
        return 1 if found else 0
    STUB.write_text(rewritten(kestrelopt_native, text), encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
