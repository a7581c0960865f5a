"""The libraries a feature needs beyond numpy, and the error that says how to install them."""


def missing(feature: str, library: str, extra: str) -> ImportError:
    """The ImportError for `feature` when `library` cannot be imported; raise it `from` the
    original error."""
    return ImportError(f"{feature} needs {library}: pip install 'quorvel[{extra}]'", name=library)
