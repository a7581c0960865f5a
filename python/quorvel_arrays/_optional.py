"""The libraries a feature needs beyond the package itself, and the one error that says how to
install a missing one."""

from __future__ import annotations

import importlib
from types import ModuleType


class MissingLibrary(ImportError):
    """A feature needs a library that is not installed; the message names the extra that adds it."""


def require(feature: str, module: str, extra: str) -> ModuleType:
    """Imports `module` (e.g. "pyarrow.parquet") for `feature`, or raises MissingLibrary naming
    its top-level package and the extra that installs it."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        library = module.partition(".")[0]
        raise MissingLibrary(f"{feature} needs {library}: pip install 'quorvel[{extra}]'", name=library) from error
