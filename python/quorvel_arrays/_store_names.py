"""The variable names of a netCDF or Zarr output. Both refuse some names (netCDF: an empty one, a
first character other than a letter, digit or underscore, '/', control characters, a trailing
space, more than 256 bytes; Zarr: an empty one, '/', only dots, a leading '__', and a name is a
folder on disk, so at most 255 bytes): a parameter's name is escaped into one both take, and the
original stays in the variable's attribute `parameter`.

The escape, one rule for both formats: '%', '/', '\\' and control characters become %XX (the
UTF-8 bytes in upper-case hex), and so does the first character unless it is a letter, a digit, a
non-ASCII character or a single '_', and the last when it is a space. A name not in Unicode's
composed form (NFC) has every non-ASCII character escaped, as netCDF would compose it and two
names could become one; a name the store keeps for its own metadata (zarr.json) has its first
character escaped. A key that would then start with '%' gets a leading '_'; the empty name is '_%'. So a key decodes by dropping a leading '_'
before '%' and replacing each %XX by its byte (a lone '%' stands for nothing). A key still over
255 bytes is cut and ends in '%~' and the parameter's position, which no escaped name holds."""

from __future__ import annotations

import re
import unicodedata
from collections.abc import Sequence

from ._names import unique_names

MAX_KEY_BYTES = 255
CUT_MARK = "%~"
ALWAYS = re.compile(r"[%/\\\x00-\x1f\x7f\ud800-\udfff]")
NOT_ASCII = re.compile(r"[^\x00-\x7f]")
RESERVED = ("zarr.json",)


def escaped(character: str) -> str:
    return "".join(f"%{byte:02X}" for byte in character.encode("utf-8", "surrogatepass"))


def plain_first(name: str) -> bool:
    first = name[0]
    if first == "_":
        return not name.startswith(("__", "_%"))
    return first.isascii() and first.isalnum() or not first.isascii()


def key_of(name: str) -> str:
    """The escaped name (not yet cut to length)."""
    if not name:
        return "_%"
    body = ALWAYS.sub(lambda match: escaped(match[0]), name)
    if not unicodedata.is_normalized("NFC", body):
        body = NOT_ASCII.sub(lambda match: escaped(match[0]), body)
    if not plain_first(body) or body in RESERVED:
        head = escaped(body[0]) if body[0] != "%" else "%"
        body = head + body[1:]
    if body.endswith(" "):
        body = body[:-1] + escaped(" ")
    return "_" + body if body.startswith("%") else body


def cut(key: str, position: int) -> str:
    """`key` within MAX_KEY_BYTES: whole characters and escapes kept, then the mark and position."""
    tail = f"{CUT_MARK}{position}"
    room = MAX_KEY_BYTES - len(tail.encode())
    kept, used, index = [], 0, 0
    while index < len(key):
        step = 3 if key[index] == "%" else 1
        piece = key[index : index + step]
        size = len(piece.encode("utf-8", "surrogatepass"))
        if used + size > room:
            break
        kept.append(piece)
        used += size
        index += step
    return "".join(kept) + tail


def store_keys(names: Sequence[str]) -> list[str]:
    """The keys of the parameters names[1:] (the first is the coordinate `time`): escaped, a
    repeated one made unique as `key@position`, a long one cut."""
    keys = unique_names([key_of(name) for name in names[1:]], 1, taken=("time",))
    return [key if len(key.encode("utf-8", "surrogatepass")) <= MAX_KEY_BYTES else cut(key, position)
            for position, key in enumerate(keys, start=1)]
