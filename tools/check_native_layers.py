"""Checks that the native module's includes run one way, from the entry points down to the
boundary with CPython: a file may include its own folder's headers and those of the
folders below it, never one above. Exit status 1, with each offending line, otherwise."""

import pathlib
import re
import sys

# Lowest first: each folder may include only its own and earlier folders.
LAYERS = ["cpython", "convert", "results", "adapters", "docs", "entry"]


def offending_includes(native: pathlib.Path) -> list[str]:
    rank = {name: i for i, name in enumerate(LAYERS)}
    found = []
    for path in sorted(native.rglob("*.?pp")):
        layer = path.parent.name
        if layer not in rank:
            found.append(f"{path}: not in a layer folder ({', '.join(LAYERS)})")
            continue
        for number, line in enumerate(path.read_text().splitlines(), 1):
            match = re.match(r'#include "(\w+)/', line)
            if match and match.group(1) in rank and rank[match.group(1)] > rank[layer]:
                found.append(f"{path}:{number}: {layer}/ includes {match.group(1)}/")
    return found


if __name__ == "__main__":
    root = pathlib.Path(__file__).resolve().parent.parent
    problems = offending_includes(root / "native")
    print("\n".join(problems) or "native/ includes run one way")
    sys.exit(1 if problems else 0)
