import os
import subprocess
import sys
import textwrap

import pytest

from conftest import failure_message, panic_exception_type, read

DOC = (
    "\nThe exception raised when Rust code called from Python panics.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n"
)


@pytest.mark.parametrize(
    "attribute, expected",
    [
        ("__name__", "PanicException"),
        ("__qualname__", "PanicException"),
        ("__module__", "pyo3_runtime"),
        ("__bases__", (BaseException,)),
        ("__doc__", DOC),
    ],
)
def test_type_attributes(attribute, expected):
    assert getattr(panic_exception_type(), attribute) == expected


def test_docstring_length():
    assert len(panic_exception_type().__doc__) == 235


def test_not_an_exception_but_a_base_exception():
    panic = panic_exception_type()
    assert not issubclass(panic, Exception)
    with pytest.raises(BaseException) as caught:
        try:
            read("/nonexistent-quorvel-dir/x.plt", 12)
        except Exception:  # must not catch it
            pytest.fail("an Exception handler caught the failure")
    assert isinstance(caught.value, panic)


def test_one_type_object_per_process():
    assert panic_exception_type() is panic_exception_type()


def test_args_is_the_message_alone(plot_file):
    panic = panic_exception_type()
    with pytest.raises(panic) as caught:
        read(plot_file(""), 12)
    assert caught.value.args == ("Failed ot read line!",)
    assert str(caught.value) == "Failed ot read line!"
    assert repr(caught.value) == "PanicException('Failed ot read line!')"
    assert caught.value.__cause__ is None


def test_a_good_call_after_a_failure(plot_file):
    assert failure_message(plot_file(""), 12) == "Failed ot read line!"
    assert read(plot_file("H 1\na\n--\n 1.5\n"), 4) == ([1.5], [])


def run_fresh(code):
    env = dict(os.environ)
    completed = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True, text=True, env=env, check=False, timeout=120,
    )
    assert completed.returncode == 0, completed.stderr
    return completed.stdout


def test_import_and_good_calls_do_not_create_the_type(tmp_path):
    good = tmp_path / "good.plt"
    good.write_text("H 1\na\n--\n 1.5\n")
    out = run_fresh(f"""
        import gc
        def panic_types():
            return [o for o in gc.get_objects()
                    if isinstance(o, type) and o.__name__ == "PanicException"]
        import quorvel
        before = len(panic_types())
        quorvel.rust_read_kavrine({str(good)!r}, 4)
        after_good = len(panic_types())
        try:
            quorvel.rust_read_kavrine({str(tmp_path / "missing")!r}, 12)
        except BaseException as e:
            caught = type(e)
        after_failure = panic_types()
        print(before, after_good, len(after_failure), after_failure[0] is caught)
    """)
    assert out.split() == ["0", "0", "1", "True"]


class Raiser:
    def __init__(self, exception):
        self.exception = exception

    def __index__(self):
        raise self.exception


RESUME_LINES = (
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n"
)


def test_resume_path_continues_the_failure(plot_file, capfd):
    panic = panic_exception_type()
    with pytest.raises(panic) as first:
        read(plot_file(""), 12)
    capfd.readouterr()
    with pytest.raises(panic) as second:
        read(plot_file("H 1\na\n"), Raiser(first.value))
    assert second.value is not first.value
    assert second.type is panic
    assert second.value.args == ("Failed ot read line!",)
    err = capfd.readouterr().err
    assert RESUME_LINES in err
    after = err[err.index(RESUME_LINES) + len(RESUME_LINES):]
    # the interpreter's own display of the re-raised exception
    assert "Traceback (most recent call last):" in after
    assert "in __index__" in after
    assert "pyo3_runtime.PanicException: Failed ot read line!" in after


def test_resume_path_with_a_hand_made_instance(plot_file, capfd):
    panic = panic_exception_type()
    with pytest.raises(panic) as caught:
        read(plot_file("H 1\na\n"), Raiser(panic("made in Python", 2)))
    assert caught.value.args == ("('made in Python', 2)",)
    assert RESUME_LINES in capfd.readouterr().err


def test_resume_path_when_str_fails(plot_file, capfd):
    panic = panic_exception_type()

    class Unprintable:
        def __str__(self):
            raise ValueError("no")

    with pytest.raises(panic) as caught:
        read(plot_file("H 1\na\n"), Raiser(panic(Unprintable())))
    assert caught.value.args == ("Unwrapped panic from Python code",)
    assert RESUME_LINES in capfd.readouterr().err


def test_resume_path_replaces_lone_surrogates(plot_file, capfd):
    panic = panic_exception_type()
    with pytest.raises(panic) as caught:
        read(plot_file("H 1\na\n"), Raiser(panic("bad \udce9 text")))
    assert caught.value.args == ("bad \ufffd\ufffd\ufffd text",)
    capfd.readouterr()


def test_subclass_passes_through_unchanged(plot_file, capfd):
    panic = panic_exception_type()

    class Sub(panic):
        pass

    raised = Sub("own")
    with pytest.raises(Sub) as caught:
        read(plot_file("H 1\na\n"), Raiser(raised))
    assert caught.value is raised
    assert RESUME_LINES not in capfd.readouterr().err
