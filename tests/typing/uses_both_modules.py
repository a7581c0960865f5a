"""What a user's own code sees of the installed package: `mypy --strict` checks this file against
the installed wheel (a stage of scripts/test). The module's types come from the stub package
quorvel-stubs, the array package's from its own annotations (py.typed). Each wrong call below is
an error only while the stubs are found: under --strict an `ignore` that suppresses nothing is an
error itself, so a stub that went missing, or became Any, fails the check."""

from typing import assert_type

import numpy
import numpy.typing

import quorvel
import quorvel_arrays


def first_and_last(path: str) -> tuple[float, float]:
    time, others = quorvel.rust_read_kavrine(path, 12)
    assert_type(time, list[float])
    assert_type(others, list[list[float]])
    return time[0], others[-1][-1]


def temperatures(path: str) -> numpy.typing.NDArray[numpy.float32]:
    plot = quorvel_arrays.read(path, columns=["TIME", "TEMP", -1])
    assert_type(plot, quorvel_arrays.Plot)
    assert_type(plot.names, tuple[str, ...])
    assert_type(len(plot), int)
    try:
        many = quorvel_arrays.read_many([path, path], n_digits=12, threads=2)
    except quorvel_arrays.PlotFileError as error:
        assert_type(error.column, int | None)
        raise
    assert_type(many, list[quorvel_arrays.Plot])
    return plot["TEMP"]


def wrong_calls(path: str) -> None:
    quorvel.rust_read_kavrine(path.encode(), 12)  # type: ignore[arg-type]
    quorvel.rust_read_kavrine(path, "12")  # type: ignore[arg-type]
    quorvel_arrays.read(path, 12.0)  # type: ignore[arg-type]
