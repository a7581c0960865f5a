"""Every failure of the reader, end to end: the exact message of the PanicException, and the one
line on standard output for a bad parameter count."""

import os

import pytest

from conftest import failure_cases, failure_message, panic_exception_type, plot_text, read


@pytest.mark.parametrize("width, content, message", failure_cases())
def test_file_defects(plot_file, content, width, message):
    assert failure_message(plot_file(content), width) == message


def test_missing_file(tmp_path, capfd):
    message = failure_message(tmp_path / "absent.plt", 12)
    assert message == 'Plot file not found!: Os { code: 2, kind: NotFound, message: "No such file or directory" }'
    assert capfd.readouterr().out == ""


def test_directory(tmp_path):
    assert failure_message(tmp_path, 12).startswith("Plot file not found!: Os { code: 21, kind: IsADirectory")


def test_nul_in_path(tmp_path):
    assert failure_message(str(tmp_path) + "/a\0b", 12) == (
        'Plot file not found!: Error { kind: InvalidInput, message: "strings passed to WinAPI cannot contain NULs" }'
    )


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads every file")
def test_unreadable(plot_file):
    path = plot_file("H 1\n")
    os.chmod(path, 0)
    assert failure_message(path, 12).startswith("Plot file not found!: Os { code: 13, kind: PermissionDenied")


@pytest.mark.parametrize(
    "header, token",
    [
        ("3 x", "x"),
        ("-3", "-3"),
        ("3.0", "3.0"),
        ("+", "+"),
        ("18446744073709551616", "18446744073709551616"),
        ("PLOT  1e3 ", "1e3"),
        ("0", "0"),
        ("count 000", "000"),
    ],
)
def test_bad_parameter_count(plot_file, capfd, header, token):
    path = plot_file(f"{header}\na\nb\nc\n")
    capfd.readouterr()
    message = failure_message(path, 12)
    assert message == f"The first line should end with the number of parameters:\n'{header}'"
    assert capfd.readouterr().out == f"Error: '{token}' is not a valid number of parameters!\n"


@pytest.mark.parametrize("header", ["", "   \t", "\u3000"])
def test_header_without_token(plot_file, capfd, header):
    path = plot_file(f"{header}\n--\n")
    capfd.readouterr()
    assert failure_message(path, 12) == f"The first line should end with the number of parameters:\n'{header}'"
    assert capfd.readouterr().out == ""


def test_header_keeps_its_crlf_out_of_the_message(plot_file, capfd):
    path = plot_file(b"count x\r\n")
    assert failure_message(path, 12) == "The first line should end with the number of parameters:\n'count x'"
    assert capfd.readouterr().out == "Error: 'x' is not a valid number of parameters!\n"


def test_failure_leaves_no_partial_result_and_closes_the_file(plot_file):
    path = plot_file(plot_text(3, [["1", "2", "3"], ["4", "5", "x"]]))
    descriptors = len(os.listdir("/proc/self/fd"))
    failure_message(path, 12)
    assert len(os.listdir("/proc/self/fd")) == descriptors
    # the file can be replaced and read again at once
    with open(path, "w") as stream:
        stream.write(plot_text(3, [["1", "2", "3"]]))
    assert read(path, 12) == ([1.0], [[2.0], [3.0]])
    os.remove(path)


def test_no_exception_type_leak_between_messages(plot_file):
    panic = panic_exception_type()
    for content, message in [(b"", "Failed ot read line!"), (b"H 1\na\n--\n", "Error reading line")]:
        with pytest.raises(panic) as caught:
            read(plot_file(content), 12)
        assert caught.value.args == (message,)
