"""A width given with n_digits must fit the value lines: what lies beyond a line's fields is blank,
and a line of ten fields ends with its tenth. A width that does not fit would cut fields that may
still parse (a width-12 line read with 6 gives twenty half fields, values with no error). The list
function keeps reading such files as it always has."""

import numpy
import pytest

import quorvel
import quorvel_arrays as qa
from conftest import fields

# Every field's halves are numbers too: "023.45678901" read with 6 is 23.45 and 678901.
W12_LINE = "".join(f"{k}23.45678901" for k in range(10))


def plot(n, value_lines):
    return f"H {n}\n" + "".join(f"P{i}\n" for i in range(n)) + "--\n" + "".join(line + "\n" for line in value_lines)


TWELVE = plot(12, [W12_LINE, fields(["10.5", "11.5"], 12)])
SUGGEST_12 = "its value lines suggest 12 (120 bytes for 10 fields)"


@pytest.mark.parametrize("content, n_digits, line, column, reason", [
    (TWELVE, 6, 15, None, "the field width 6 does not fit this file: " + SUGGEST_12),
    (TWELVE, 15, 15, None, "the field width 15 does not fit this file: " + SUGGEST_12),
    (TWELVE, 11, 15, None, "the field width 11 does not fit this file: " + SUGGEST_12),
    (plot(3, [fields(["1", "2", "3"], 12)]), 6, 6, None,
     "the field width 6 does not fit this file: its value lines suggest 12 (36 bytes for 3 fields)"),
    (plot(10, [W12_LINE + " tail"]), 12, 13, None,
     "the field width 12 does not fit this file: this value line has 125 bytes for 10 fields"),
    (plot(10, [W12_LINE[:-3] + " \t"]), 12, 13, None,  # 119 bytes, blanks aside 117
     "the field width 12 does not fit this file: this value line has 117 bytes for 10 fields"),
    (plot(2, [fields(["1", "2"], 12) + " xy"]), 12, 5, None,
     "the field width 12 does not fit this file: this value line has 27 bytes for 2 fields"),
    (plot(2, ["1.5 2.5"]), 1, 5, None, "the field width 1 does not fit this file: this value line has 7 bytes for 2 fields"),
    # A last line too short for its fields says so, as before; so does a line of a width past its length.
    (plot(2, [fields(["1", "2"], 12)[:-4]]), 12, 5, 13, "field 2 needs bytes 13 to 24, but the line has 20"),
    (plot(1, ["x" * 26]), 2**62, 4, 1, "field 1 needs bytes 1 to 4611686018427387904, but the line has 26"),
])
def test_a_given_width_that_does_not_fit_is_refused(plot_file, content, n_digits, line, column, reason):
    with pytest.raises(qa.PlotFileError) as caught:
        qa.read(plot_file(content), n_digits)
    assert (caught.value.reason, caught.value.line, caught.value.column) == (reason, line, column)


@pytest.mark.parametrize("content", [
    plot(10, [W12_LINE + " \t  "]),  # blanks after the fields
    plot(10, [W12_LINE]).replace("\n", "\r\n")[:-1],  # the last LF of a CR LF file missing
    TWELVE,
    plot(12, [W12_LINE, fields(["10.5", "11.5"], 12) + "   "]),
])
def test_a_width_that_fits_reads_as_the_list_function(plot_file, content):
    path = plot_file(content)
    time, others = quorvel.rust_read_kavrine(path, 12)
    assert qa.read(path, 12).values.tolist() == [[*time, *(column[0] for column in others)]]


def test_a_found_width_is_not_held_to_it_and_the_list_function_reads_on(plot_file):
    later_tail = plot_file(plot(1, ["         1.5"]) + "--\n         2.5 tail\n")
    assert qa.read(later_tail).values.tolist() == [[1.5], [2.5]]
    halves = plot_file(plot(10, [W12_LINE]))
    time, others = quorvel.rust_read_kavrine(halves, 6)  # ten half fields, the rest ignored: no error there
    assert [time[0], others[0][0]] == [numpy.float32(23.45), 678901.0]

