"""The error a defective plot file raises. The compiled reader imports this module and raises
`PlotFileError(reason, path, line, column)`."""

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
