"""The failure report on standard error and the line on standard output, as a separate process
sees them. Every case runs in a fresh interpreter: the backtrace style and the note are decided
once per process."""

import json
import os
import re
import subprocess
import sys
import textwrap

import pytest

import quorvel

MODULE_DIR = os.path.dirname(os.path.abspath(quorvel.__file__))
NOTE = "note: run with `RUST_BACKTRACE=1` environment variable to display a backtrace\n"
SHORT_NOTE = "note: Some details are omitted, run with `RUST_BACKTRACE=full` for a verbose backtrace.\n"
COUNT_LINE = "Error: 'x' is not a valid number of parameters!\n"
BAD_COUNT_MESSAGE = "The first line should end with the number of parameters:\n'HEADER x'"
UNSET = object()

# Runs before every child's own code: helpers to make a file with a bad parameter count and to
# call the module, keeping each failure's message and the calling thread's id.
PRELUDE = textwrap.dedent(
    """
    import json, os, sys, threading, tempfile
    import quorvel

    results = []
    folder = tempfile.mkdtemp()

    def plot(content):
        path = os.path.join(folder, f"plot{len(os.listdir(folder))}.plt")
        with open(path, "wb") as f:
            f.write(content.encode() if isinstance(content, str) else content)
        return path

    def call(path, width=12):
        try:
            quorvel.rust_read_kavrine(path, width)
        except BaseException as caught:
            results.append({"type": type(caught).__name__, "message": str(caught.args[0]) if caught.args else None,
                            "tid": threading.get_native_id()})
            return caught
        results.append({"type": None, "message": None, "tid": threading.get_native_id()})

    def bad_count(header="HEADER x"):
        return call(plot(header + "\\n"))
    """
)
EPILOGUE = "\nwith open(os.environ['QUORVEL_TEST_RESULTS'], 'w') as out:\n    json.dump(results, out)\n"


def run_child(tmp_path, code, backtrace=UNSET, merge_output=False):
    env = {k: v for k, v in os.environ.items() if k != "RUST_BACKTRACE"}
    if backtrace is not UNSET:
        env["RUST_BACKTRACE"] = backtrace
    env["PYTHONPATH"] = MODULE_DIR
    results_path = tmp_path / "results.json"
    env["QUORVEL_TEST_RESULTS"] = str(results_path)
    child = subprocess.run(
        [sys.executable, "-c", PRELUDE + textwrap.dedent(code) + EPILOGUE],
        env=env,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT if merge_output else subprocess.PIPE,
        timeout=120,
    )
    assert child.returncode == 0, child.stderr
    out = child.stdout.decode()
    err = child.stderr.decode() if child.stderr is not None else ""
    return out, err, json.loads(results_path.read_text())


def first_block(tid, message, location):
    return f"\nthread '<unnamed>' ({tid}) panicked at {location}:\n{message}\n"


BLOCK = re.compile(r"\nthread '<unnamed>' \((\d+)\) panicked at ([^\n]+:\d+:\d+):\n")


def blocks(err):
    """Every first block's thread id and location, in order."""
    return [(int(tid), location) for tid, location in BLOCK.findall(err)]


@pytest.mark.parametrize("setting", [UNSET, "0"], ids=["unset", "zero"])
def test_without_backtrace_the_note_comes_once(tmp_path, setting):
    out, err, results = run_child(tmp_path, "bad_count(); bad_count()", backtrace=setting)
    assert [r["message"] for r in results] == [BAD_COUNT_MESSAGE] * 2
    (tid, location), second = blocks(err)
    assert second == (tid, location)
    assert tid == results[0]["tid"]
    block = first_block(tid, BAD_COUNT_MESSAGE, location)
    assert err == block + NOTE + block
    assert out == COUNT_LINE * 2


def backtrace_of(err, block):
    """The backtrace text that follows a report's first block."""
    start = err.index(block) + len(block)
    following = err.find("\nthread '<unnamed>'", start)
    return err[start:] if following < 0 else err[start:following]


SHORT_ENTRY = re.compile(r"^( {0,3}\d+: | {6})(?!0x)\S.*$|^ {13}at \S+:\d+(:\d+)?$")
FULL_ENTRY = re.compile(r"^( {0,3}\d+: | {6})0x[0-9a-f]+ - \S.*$|^ +at \S+:\d+(:\d+)?$")


@pytest.mark.parametrize("setting", ["1", "", "short", "FULL", "yes"])
def test_short_backtrace_between_the_markers(tmp_path, setting):
    _, err, results = run_child(tmp_path, "bad_count(); bad_count()", backtrace=setting)
    (tid, location), _ = blocks(err)
    block = first_block(tid, BAD_COUNT_MESSAGE, location)
    assert err.count(block) == 2
    for trace in (backtrace_of(err, block), err[err.rindex(block) + len(block):]):
        assert trace.startswith("stack backtrace:\n   0: ")
        assert trace.endswith(SHORT_NOTE)
        lines = trace[len("stack backtrace:\n"):-len(SHORT_NOTE)].splitlines()
        assert all(SHORT_ENTRY.match(line) for line in lines), lines
        assert any("quorvel::read_plot_file(" in line for line in lines)
        assert not any(part in trace for part in ("quorvel::fail(", "run_guarded_body(", "capture_stack"))
    assert NOTE not in err


def test_full_backtrace_shows_everything_with_addresses(tmp_path):
    _, err, _ = run_child(tmp_path, "bad_count(); bad_count()", backtrace="full")
    (tid, location), _ = blocks(err)
    block = first_block(tid, BAD_COUNT_MESSAGE, location)
    trace = backtrace_of(err, block)
    assert trace.startswith("stack backtrace:\n   0: 0x")
    lines = trace[len("stack backtrace:\n"):].splitlines()
    assert all(FULL_ENTRY.match(line) for line in lines), lines
    for part in ("quorvel::fail(", "quorvel::read_plot_file(", "quorvel::run_guarded_body("):
        assert any(part in line for line in lines), part
    assert "note:" not in err


@pytest.mark.parametrize(
    "first, later, has_backtrace",
    [(UNSET, "full", False), ("0", "1", False), ("full", "0", True), ("1", None, True)],
)
def test_the_variable_is_read_once(tmp_path, first, later, has_backtrace):
    change = "del os.environ['RUST_BACKTRACE']" if later is None else f"os.environ['RUST_BACKTRACE'] = {later!r}"
    _, err, _ = run_child(tmp_path, f"bad_count()\n{change}\nbad_count()", backtrace=first)
    second_report = err[err.rindex("\nthread '<unnamed>'"):]
    assert ("stack backtrace:\n" in second_report) == has_backtrace
    assert NOTE not in second_report


@pytest.mark.parametrize("where", ["main", "worker"])
def test_thread_id_is_the_calling_threads(tmp_path, where):
    code = "bad_count()" if where == "main" else "t = threading.Thread(target=bad_count); t.start(); t.join()"
    _, err, results = run_child(tmp_path, code + "\nresults.append({'tid': threading.get_native_id()})")
    [(tid, _)] = blocks(err)
    caller, main = results[0]["tid"], results[1]["tid"]
    assert tid == caller
    assert (caller == main) == (where == "main")


@pytest.mark.parametrize("header_length", [400, 600, 5000])
def test_long_message_is_written_whole(tmp_path, header_length):
    header = "H" * (header_length - 2) + " x"
    _, err, results = run_child(tmp_path, f"bad_count({header!r})")
    message = results[0]["message"]
    assert f"'{header}'" in message
    [(tid, location)] = blocks(err)
    assert err == first_block(tid, message, location) + NOTE


def test_stdout_line_comes_before_the_report(tmp_path):
    merged, _, results = run_child(tmp_path, "bad_count()", merge_output=True)
    [(tid, location)] = blocks(merged)
    assert merged == COUNT_LINE + first_block(tid, BAD_COUNT_MESSAGE, location) + NOTE
    assert results[0]["message"] == BAD_COUNT_MESSAGE


@pytest.mark.parametrize("closed", [1, 2])
def test_closed_standard_stream_prints_nothing(tmp_path, closed):
    code = f"""
    missing = os.path.join(folder, "absent.plt")
    os.close({closed})
    bad_count()
    call(missing)
    bad_count()
    """
    out, err, results = run_child(tmp_path, code)
    assert [r["type"] for r in results] == ["PanicException"] * 3
    assert results[0]["message"] == results[2]["message"] == BAD_COUNT_MESSAGE
    assert results[1]["message"].startswith("Plot file not found!: Os { code: 2, kind: NotFound")
    if closed == 1:
        assert out == ""
        assert len(blocks(err)) == 3
    else:
        assert err == ""
        assert out == COUNT_LINE * 2


def test_broken_stdout_pipe_fails_the_print(tmp_path):
    code = """
    reader, writer = os.pipe()
    os.close(reader)
    os.dup2(writer, 1)
    bad_count()
    """
    _, err, results = run_child(tmp_path, code)
    message = "failed printing to stdout: Broken pipe (os error 32)"
    assert results[0]["message"] == message
    [(tid, location)] = blocks(err)
    assert err == first_block(tid, message, location) + NOTE


def test_argument_error_writes_no_report(tmp_path):
    code = """
    for args in [(), ("x",), (1, 12), ("x", -1), ("x", "12")]:
        try:
            quorvel.rust_read_kavrine(*args)
        except BaseException as caught:
            results.append(type(caught).__name__)
    """
    out, err, results = run_child(tmp_path, code)
    assert "PanicException" not in results
    assert err == ""
    assert out == ""


def test_resumed_failure_writes_no_second_report(tmp_path):
    code = """
    earlier = bad_count()

    class Width:
        def __index__(self):
            raise earlier

    call(plot("HEADER 1\\n"), Width())
    """
    _, err, results = run_child(tmp_path, code)
    assert [r["message"] for r in results] == [BAD_COUNT_MESSAGE] * 2
    assert len(blocks(err)) == 1
    assert "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n" in err
