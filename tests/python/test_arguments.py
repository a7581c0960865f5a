import pathlib
import sys

import pytest

from conftest import plot_text, read

PREFIX = "rust_read_kavrine()"


@pytest.fixture
def good(plot_file):
    return plot_file(plot_text(2, [["1.0", "2.0"]]))


EXPECTED = ([1.0], [[2.0]])

# The interpreter's own message for an __index__ that returns a float, which 3.15 reworded.
if sys.version_info >= (3, 15):
    INDEX_NOT_INT = "test_arguments.Index.__index__() must return an int, not float"
else:
    INDEX_NOT_INT = "__index__ returned non-int (type float)"


# --- binding -------------------------------------------------------------------------------------

@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        (("p", 12, 3), {}, f"{PREFIX} takes 2 positional arguments but 3 were given"),
        (("p", 12, 3, 4), {}, f"{PREFIX} takes 2 positional arguments but 4 were given"),
        # the positional count is checked before any keyword
        (("p", 12, 3), {"x": 1}, f"{PREFIX} takes 2 positional arguments but 3 were given"),
        (("p", 12), {"x": 1}, f"{PREFIX} got an unexpected keyword argument 'x'"),
        # only the first unknown keyword, in call order, is named
        (("p", 12), {"zz": 1, "aa": 2}, f"{PREFIX} got an unexpected keyword argument 'zz'"),
        (("p",), {"N_DIGITS": 12}, f"{PREFIX} got an unexpected keyword argument 'N_DIGITS'"),
        (("p", 12), {"file_path": "q"}, f"{PREFIX} got multiple values for argument 'file_path'"),
        (("p",), {"file_path": "q"}, f"{PREFIX} got multiple values for argument 'file_path'"),
        (("p", 12), {"n_digits": 12}, f"{PREFIX} got multiple values for argument 'n_digits'"),
        # an unknown keyword after a duplicate: the duplicate is met first
        (("p", 12), {"n_digits": 1, "x": 1}, f"{PREFIX} got multiple values for argument 'n_digits'"),
        (("p", 12), {"x": 1, "n_digits": 1}, f"{PREFIX} got an unexpected keyword argument 'x'"),
        ((5,), {}, f"{PREFIX} missing 1 required positional argument: 'n_digits'"),
        ((), {"n_digits": 12}, f"{PREFIX} missing 1 required positional argument: 'file_path'"),
        ((), {"file_path": "p"}, f"{PREFIX} missing 1 required positional argument: 'n_digits'"),
        ((), {}, f"{PREFIX} missing 2 required positional arguments: 'file_path' and 'n_digits'"),
        # binding errors come before any conversion
        ((None,), {}, f"{PREFIX} missing 1 required positional argument: 'n_digits'"),
        ((b"p", 12.0, 1), {}, f"{PREFIX} takes 2 positional arguments but 3 were given"),
    ],
)
def test_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        read(*args, **kwargs)
    assert caught.type is TypeError
    assert caught.value.args == (message,)


@pytest.mark.parametrize(
    "call",
    [
        lambda path: read(path, 12),
        lambda path: read(path, n_digits=12),
        lambda path: read(file_path=path, n_digits=12),
        lambda path: read(n_digits=12, file_path=path),
        lambda path: read(*[path], **{"n_digits": 12}),
    ],
)
def test_binding_forms_agree(good, call):
    assert call(good) == EXPECTED


def test_keyword_name_with_lone_surrogate_is_unexpected_and_rendered_replaced(good):
    with pytest.raises(TypeError) as caught:
        read(good, 12, **{"\ud800x": 1})
    assert caught.value.args == (f"{PREFIX} got an unexpected keyword argument '\ufffd\ufffd\ufffdx'",)


class UnprintableName(str):
    def __str__(self):
        raise ValueError("no text")


def test_keyword_name_whose_str_fails_is_rendered_unprintable(good):
    seen = []
    import sys

    old_hook = sys.unraisablehook
    sys.unraisablehook = seen.append
    try:
        with pytest.raises(TypeError) as caught:
            read(good, 12, **{UnprintableName("bogus"): 1})
    finally:
        sys.unraisablehook = old_hook
    assert caught.value.args == (f"{PREFIX} got an unexpected keyword argument '<unprintable UnprintableName object>'",)
    assert len(seen) == 1 and isinstance(seen[0].exc_value, ValueError)


# --- conversions ---------------------------------------------------------------------------------

class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class TypeErrorSubclass(TypeError):
    pass


class Path(str):
    pass


@pytest.mark.parametrize(
    "path, message",
    [
        (None, "argument 'file_path': 'None' is not an instance of 'str'"),
        (b"plot.dat", "argument 'file_path': 'bytes' object is not an instance of 'str'"),
        (pathlib.PurePosixPath("plot.dat"), "argument 'file_path': 'PurePosixPath' object is not an instance of 'str'"),
        (12, "argument 'file_path': 'int' object is not an instance of 'str'"),
        (Index(1), "argument 'file_path': 'Index' object is not an instance of 'str'"),
        (bytearray(b"p"), "argument 'file_path': 'bytearray' object is not an instance of 'str'"),
    ],
)
def test_file_path_type_errors(path, message):
    with pytest.raises(TypeError) as caught:
        read(path, 12)
    assert caught.type is TypeError
    assert caught.value.args == (message,)
    assert caught.value.__cause__ is None
    assert caught.value.__suppress_context__ is True


def test_file_path_nested_class_uses_qualified_name():
    class Outer:
        class Inner:
            pass

    with pytest.raises(TypeError) as caught:
        read(Outer.Inner(), 12)
    assert caught.value.args == (
        "argument 'file_path': "
        "'test_file_path_nested_class_uses_qualified_name.<locals>.Outer.Inner' "
        "object is not an instance of 'str'",
    )


def test_file_path_with_lone_surrogate_raises_the_interpreters_error_unchanged():
    with pytest.raises(UnicodeEncodeError) as caught:
        read("plot\udc80.dat", 12)
    assert caught.type is UnicodeEncodeError
    assert "surrogates not allowed" in str(caught.value)
    assert not str(caught.value).startswith("argument")


def test_str_subclass_is_accepted(good):
    assert read(Path(good), 12) == EXPECTED


@pytest.mark.parametrize(
    "width, message",
    [
        (12.0, "argument 'n_digits': 'float' object cannot be interpreted as an integer"),
        ("12", "argument 'n_digits': 'str' object cannot be interpreted as an integer"),
        (None, "argument 'n_digits': 'NoneType' object cannot be interpreted as an integer"),
        (Index(12.5), f"argument 'n_digits': {INDEX_NOT_INT}"),
        (Index(TypeError("bad index")), "argument 'n_digits': bad index"),
        (Index(TypeError()), "argument 'n_digits': "),
        (Index(TypeError("a", "b")), "argument 'n_digits': ('a', 'b')"),
    ],
)
def test_n_digits_type_errors_are_wrapped(good, width, message):
    with pytest.raises(TypeError) as caught:
        read(good, width)
    assert caught.type is TypeError
    assert caught.value.args == (message,)
    assert caught.value.__cause__ is None
    assert caught.value.__suppress_context__ is True


def test_wrapped_type_error_keeps_the_inner_cause_only(good):
    root = KeyError("root")
    inner = TypeError("inner")
    inner.__cause__ = root
    with pytest.raises(TypeError) as caught:
        read(good, Index(inner))
    assert caught.value.args == ("argument 'n_digits': inner",)
    assert caught.value is not inner
    assert caught.value.__cause__ is root
    assert caught.value.__suppress_context__ is True
    assert caught.value.__context__ is not inner


@pytest.mark.parametrize(
    "raised",
    [TypeErrorSubclass("sub"), ValueError("value"), KeyError("k"), OverflowError("big")],
)
def test_other_errors_from_index_pass_unchanged(good, raised):
    with pytest.raises(type(raised)) as caught:
        read(good, Index(raised))
    assert caught.value is raised
    assert caught.value.args == raised.args


class UnprintableTypeErrorArgument:
    def __str__(self):
        raise RuntimeError("cannot")


def test_wrapped_type_error_whose_str_fails(good):
    import sys

    seen = []
    old_hook = sys.unraisablehook
    sys.unraisablehook = seen.append
    try:
        with pytest.raises(TypeError) as caught:
            read(good, Index(TypeError(UnprintableTypeErrorArgument())))
    finally:
        sys.unraisablehook = old_hook
    assert caught.value.args == ("argument 'n_digits': <unprintable TypeError object>",)
    assert len(seen) == 1
    assert isinstance(seen[0].exc_value, RuntimeError)
    assert isinstance(seen[0].object, TypeError)


@pytest.mark.parametrize(
    "width, message",
    [
        (-1, "can't convert negative int to unsigned"),
        (-(2**70), "can't convert negative int to unsigned"),
        (2**64, "int too big to convert"),
        (Index(-5), "can't convert negative int to unsigned"),
        (Index(2**64), "int too big to convert"),
    ],
)
def test_n_digits_out_of_range_raises_overflow_unwrapped(good, width, message):
    with pytest.raises(OverflowError) as caught:
        read(good, width)
    assert caught.type is OverflowError
    assert caught.value.args == (message,)


class IntSubclass(int):
    pass


@pytest.mark.parametrize("width", [True, Index(15), IntSubclass(12), 2**64 - 1, 0])
def test_n_digits_accepted_forms(plot_file, width):
    # A file with no block: any width succeeds, so a conversion that went wrong shows as an error.
    path = plot_file("HEADER 3\na\nb\nc\n")
    assert read(path, width) == ([], [[], []])


@pytest.mark.parametrize("width", [True, Index(1), IntSubclass(1)])
def test_n_digits_value_is_used(plot_file, width):
    path = plot_file("H 2\na\nb\n--\n12\n")
    assert read(path, width) == ([1.0], [[2.0]])


def test_huge_width_reaches_the_reader(plot_file):
    path = plot_file("H 1\na\n--\n  1.0\n")
    from conftest import failure_message

    assert failure_message(path, 2**64 - 1) == "end byte index 18446744073709551615 is out of bounds for string of length 5"


def test_argument_error_does_not_open_the_file(tmp_path):
    missing = str(tmp_path / "missing.plt")
    with pytest.raises(TypeError):
        read(missing, 12.0)
    with pytest.raises(OverflowError):
        read(missing, -1)
