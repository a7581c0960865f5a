"""Shared helpers. The module under test is the one on sys.path: the CMake build directory for
the running interpreter (build/py or build/pyd), or an installed copy."""

import os
import re
import sys

import pytest
from hypothesis import settings
from hypothesis.database import DirectoryBasedExampleDatabase, InMemoryExampleDatabase

import quorvel

HERE = os.path.dirname(os.path.abspath(__file__))
if HERE not in sys.path:
    sys.path.insert(0, HERE)

read = quorvel.rust_read_kavrine

# The list reader's failures, one table for the C++ tests, these tests and the model's check.
FAILURE_CASES = os.path.join(HERE, "..", "failure_cases.txt")
_ESCAPES = {b"n": b"\n", b"r": b"\r", b"t": b"\t", b"\\": b"\\"}


def _unescaped(text):
    """The bytes of a table field: \\n \\r \\t \\\\ and \\xHH, any other byte for itself."""
    return re.sub(rb"\\(x[0-9a-fA-F]{2}|[nrt\\])",
                  lambda m: bytes([int(m[1][1:], 16)]) if m[1][:1] == b"x" else _ESCAPES[m[1]],
                  text.encode("ascii"))


def failure_cases():
    """pytest parameters (width, file bytes, message), each named by its case."""
    cases = []
    with open(FAILURE_CASES, encoding="utf-8") as table:
        for line in table:
            if line.strip() and not line.startswith("#"):
                name, width, data, message = line.rstrip("\n").split("\t")
                cases.append(pytest.param(int(width), _unescaped(data), message, id=name))
    return cases

# Hypothesis keeps failing examples in .hypothesis of the folder the suite starts in; a user who may
# not write there (the suite run unprivileged on a checkout root owns) keeps them in memory.
_examples = os.path.join(os.getcwd(), ".hypothesis", "examples")
settings.register_profile("suite", database=DirectoryBasedExampleDatabase(_examples)
                          if os.access(os.getcwd(), os.W_OK) else InMemoryExampleDatabase())
settings.load_profile("suite")


def panic_exception_type():
    """The module's failure type, reached the only way Python code can: through a failure."""
    try:
        read("/nonexistent-quorvel-dir/x.plt", 12)
    except BaseException as caught:  # noqa: BLE001 - the type is what we want
        return type(caught)
    raise AssertionError("a missing file did not fail")


def failure_message(path, width):
    """The message of the PanicException that reading `path` raises."""
    panic = panic_exception_type()
    with pytest.raises(panic) as caught:
        read(str(path), width)
    assert caught.type is panic
    assert len(caught.value.args) == 1
    return caught.value.args[0]


def fields(values, width):
    """One value line: every value right-aligned in `width` bytes."""
    return "".join(str(v).rjust(width) for v in values)


def plot_text(n, blocks, width=12, header="PLOT FILE", line_end="\n"):
    """A well-formed plot file: `blocks` is a list of blocks, each a list of n value texts."""
    lines = [f"{header} {n}"] + [f"PARAM{i}" for i in range(n)]
    for number, block in enumerate(blocks):
        lines.append(f" BLOCK {number}")
        for start in range(0, n, 10):
            lines.append(fields(block[start:start + 10], width))
    return line_end.join(lines) + line_end


@pytest.fixture
def plot_file(tmp_path):
    """Writes bytes or text to a fresh file and gives its path as a str."""
    counter = iter(range(1_000_000))

    def write(content):
        path = tmp_path / f"plot{next(counter)}.plt"
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        return str(path)

    return write
