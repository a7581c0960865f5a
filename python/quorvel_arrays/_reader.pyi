"""The compiled reader."""

import os
from collections.abc import Buffer

def read(
    path: str | bytes | os.PathLike[str] | os.PathLike[bytes],
    n_digits: int | None,
    columns: tuple[str | int, ...] | None,
    /,
) -> tuple[str, tuple[str, ...], Buffer, int, int]: ...
