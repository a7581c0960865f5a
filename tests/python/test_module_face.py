import importlib
import inspect
import sys

import pytest

import quorvel

DOC = (
    "# Reads in the kavrine file.\n"
    "\n"
    "1. First opens the\n"
    "1. Gets the number of parameters\n"
    "1. Gets the parameter names\n"
    "1. Loops over the rest of the file\n"
    "\n"
    "## KAVRINE plot file shape\n"
    "The KAVRINE data is stored in blocks per timestep with a max width of 10 columns.\n"
    "There are 2 versions of the KAVRINE plot file:\n"
    "1. 6 digits of percision, n_digits=12\n"
    "1. 9 digits of precision, n_digits=15\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "file_path: &str\n"
    "    the file path\n"
    "n_digits: usize\n"
    "    the width of a datafield\n"
    "\n"
    "Returns\n"
    "-------\n"
    "all_data: Vec<Vec<f32>>\n"
    "    the data stored in a vector of columns/vectors.\n"
)

FUNCTION = quorvel.rust_read_kavrine


@pytest.mark.parametrize(
    "attribute, expected",
    [
        ("__name__", "rust_read_kavrine"),
        ("__qualname__", "rust_read_kavrine"),
        ("__module__", "quorvel"),
        ("__text_signature__", "(file_path, n_digits)"),
        ("__doc__", DOC),
    ],
)
def test_function_attributes(attribute, expected):
    assert getattr(FUNCTION, attribute) == expected


def test_function_carries_no_self():
    # The record's METH_STATIC flag hides the module the function was made with: the interpreter
    # reports no __self__ and passes none to the entry.
    assert FUNCTION.__self__ is None
    assert type(FUNCTION).__name__ == "builtin_function_or_method"
    assert repr(FUNCTION) == "<built-in function rust_read_kavrine>"


def test_signature():
    signature = inspect.signature(FUNCTION)
    assert str(signature) == "(file_path, n_digits)"
    kinds = [p.kind for p in signature.parameters.values()]
    assert kinds == [inspect.Parameter.POSITIONAL_OR_KEYWORD] * 2


@pytest.mark.parametrize(
    "attribute, expected",
    [("__all__", ["rust_read_kavrine"]), ("__doc__", ""), ("__name__", "quorvel")],
)
def test_module_attributes(attribute, expected):
    assert getattr(quorvel, attribute) == expected


def test_module_has_only_its_function_and_standard_attributes():
    public = sorted(name for name in vars(quorvel) if not name.startswith("__"))
    assert public == ["rust_read_kavrine"]
    assert "PanicException" not in vars(quorvel)


def test_reimport_makes_a_new_function_and_all():
    old_module, old_function = quorvel, quorvel.rust_read_kavrine
    del sys.modules["quorvel"]
    try:
        fresh = importlib.import_module("quorvel")
        assert fresh is not old_module
        assert fresh.rust_read_kavrine is not old_function
        assert fresh.rust_read_kavrine.__module__ == "quorvel"
        assert fresh.__all__ == ["rust_read_kavrine"]
        assert fresh.__all__ is not old_module.__all__
    finally:
        sys.modules["quorvel"] = old_module
