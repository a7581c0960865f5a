"""The compiled reader's errors as Python sees them, raised while another exception is handled:
their type, arguments and context, whether the interpreter, the reader's own message or the file
made them; and the MemoryError of a read that runs out of address space."""

import errno
import subprocess
import sys
import textwrap

import pytest

from quorvel_arrays import _reader
from quorvel_arrays._errors import PlotFileError, SelectionProblem
from conftest import plot_text


class Refused(Exception):
    pass


class RefusingPath:
    def __fspath__(self):
        raise Refused("no path")


class RefusingIndex:
    def __index__(self):
        raise Refused("no index")


# (arguments given the good file's path p, exception type, its args)
CASES = [
    (lambda p: (p, 12), TypeError, ("read() takes 3 to 8 positional arguments but 2 were given",)),
    (lambda p: (p, 12, None, object()), TypeError, ("stop must be a StopToken or None, not object",)),
    (lambda p: (RefusingPath(), 12, None), Refused, ("no path",)),
    (lambda p: (p, RefusingIndex(), None), Refused, ("no index",)),
    (lambda p: (p, 0, None), ValueError, ("n_digits below 1",)),
    (lambda p: (p, 12, ["TIME"]), TypeError, ("columns: a tuple or None",)),
    (lambda p: (p, 12, (1.5,)), TypeError, ("columns: str names and int positions",)),
    (lambda p: (p, 12, ("\udc80",)), UnicodeEncodeError, None),
    (lambda p: (p, 12, ("NOPE",)), SelectionProblem, (0, (), 2)),
    (lambda p: (p + ".missing", 12, None), FileNotFoundError, None),
    (lambda p: (p + ".bad", 12, None), PlotFileError, None),
]


@pytest.mark.parametrize("arguments, error, args", CASES)
def test_error_keeps_type_message_and_context(tmp_path, arguments, error, args):
    good = tmp_path / "a.plt"
    good.write_text(plot_text(2, [["1.0", "2.0"]]))
    (tmp_path / "a.plt.bad").write_text(plot_text(2, [["1.0", "x.0"]]))
    given = arguments(str(good))
    try:
        raise KeyError("handled")
    except KeyError as handled:
        with pytest.raises(error) as caught:
            _reader.read(*given)
        outer = handled
    assert type(caught.value) is error
    assert caught.value.__context__ is outer
    if args is not None:
        assert caught.value.args == args
    if error is FileNotFoundError:
        assert (caught.value.errno, caught.value.filename) == (errno.ENOENT, given[0])
    if error is PlotFileError:
        # The second field of the first value line.
        assert (caught.value.path, caught.value.line, caught.value.column) == (given[0], 5, 13)
        assert str(caught.value) == f"{given[0]}:5:13: {caught.value.reason}"


# Reads argv[1] with the address space limited to what the interpreter holds plus argv[2] bytes.
LIMITED_READ = """
    import resource, sys
    from quorvel_arrays import _reader
    held = int(open("/proc/self/status").read().split("VmSize:")[1].split()[0]) * 1024
    resource.setrlimit(resource.RLIMIT_AS, (held + int(sys.argv[2]), resource.getrlimit(resource.RLIMIT_AS)[1]))
    try:
        _reader.read(sys.argv[1], 12, None)
        print("result")
    except MemoryError as error:
        print("MemoryError", error.args)
"""


def test_read_out_of_address_space_raises_memory_error(tmp_path):
    # 3 MB of values: the row store the reader sizes from the file does not fit in 1 MB more.
    path = tmp_path / "big.plt"
    path.write_text(plot_text(10, [["1.0"] * 10] * 80_000))
    completed = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(LIMITED_READ), str(path), str(1 << 20)],
        capture_output=True, text=True, timeout=60, check=False)
    assert (completed.returncode, completed.stdout) == (0, "MemoryError ()\n"), completed.stderr[-2000:]
