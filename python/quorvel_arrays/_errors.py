"""The error a defective plot file raises. The compiled reader imports this module and raises
`PlotFileError(reason, path, line, column)`, and `SelectionProblem` for the Python side to word."""

from typing import Any


class PlotFileError(ValueError):
    """A defect in a plot file, at a line and (when known) a byte column, both counted from 1.

    `str(error)` is `path:line:column: reason` (without `column:` when it is None), the form
    editors and terminals turn into a jump to the place.
    """

    reason: str
    path: str
    line: int
    column: int | None

    def __init__(self, reason: str, path: str, line: int, column: int | None = None) -> None:
        place = f"{path}:{line}" if column is None else f"{path}:{line}:{column}"
        super().__init__(f"{place}: {reason}")
        self.reason = reason
        self.path = path
        self.line = line
        self.column = column

    def __reduce__(self) -> tuple[Any, ...]:
        # args holds the whole message, so the default reduction would call __init__ with it alone.
        return (type(self), (self.reason, self.path, self.line, self.column), self.__dict__)


class SelectionProblem(LookupError):
    """A choice of `columns` that the file cannot satisfy, as the compiled reader found it: which
    choice (its index), the positions of the parameters a name names (none or several), and how
    many parameters the file has. Never seen by users: read() raises the KeyError or IndexError
    that indexing a Plot raises."""

    def __init__(self, choice: int, positions: tuple[int, ...], parameters: int) -> None:
        super().__init__(choice, positions, parameters)
        self.choice = choice
        self.positions = positions
        self.parameters = parameters
