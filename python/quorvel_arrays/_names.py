"""Parameter names made unique, for the formats whose columns or variables need unique names."""

from __future__ import annotations

import collections
from collections.abc import Iterable, Sequence


def unique_names(names: Sequence[str], first: int = 0, taken: Iterable[str] = ()) -> list[str]:
    """The names (of positions `first`, `first` + 1, …) made unique for formats that need it: a
    name used once stays as it is (unless it is in `taken`); a repeated one becomes
    `name@position`, with more `@` until it is unique."""
    counts = collections.Counter(names)
    reserved = set(taken)
    used = reserved | {name for name, count in counts.items() if count == 1}
    unique = []
    for position, name in enumerate(names, start=first):
        if counts[name] == 1 and name not in reserved:
            unique.append(name)
            continue
        candidate = f"{name}@{position}"
        while candidate in used:
            candidate += "@"
        used.add(candidate)
        unique.append(candidate)
    return unique
