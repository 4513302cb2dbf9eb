"""``python -m kestrelopt``: the same command as the ``kestrelopt`` console script."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
