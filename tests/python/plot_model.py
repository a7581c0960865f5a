"""A plain model of the plot-file format, written from its rules: `read_model(data, width)` gives
the columns (first, others) as Python floats, or the exact failure message as a str, and the line
written to standard output (or "")."""

import re
import struct
import unicodedata
from fractions import Fraction

WHITESPACE = frozenset(
    [*range(0x09, 0x0E), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B),
     0x2028, 0x2029, 0x202F, 0x205F, 0x3000]
)
INVALID_UTF8 = 'Failed to read line!: Error { kind: InvalidData, message: "stream did not contain valid UTF-8" }'
FLOAT_SYNTAX = re.compile(r"([+-]?)(?:(\d*)(?:\.(\d*))?(?:[eE]([+-]?\d+))?)\Z")
SPECIAL = {"inf": "inf", "infinity": "inf", "nan": "nan"}


class Failure(Exception):
    pass


def is_space(ch):
    return ord(ch) in WHITESPACE


def tokens(text):
    out, current = [], []
    for ch in text:
        if is_space(ch):
            if current:
                out.append("".join(current))
                current = []
        else:
            current.append(ch)
    if current:
        out.append("".join(current))
    return out


def trim(text):
    start, end = 0, len(text)
    while start < end and is_space(text[start]):
        start += 1
    while end > start and is_space(text[end - 1]):
        end -= 1
    return text[start:end]


def parse_unsigned(token):
    if not re.fullmatch(r"\+?[0-9]+", token, flags=re.ASCII):
        return None
    value = int(token)
    return value if value < 2**64 else None


def f32(value):
    """The double holding a binary32 value exactly."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def round_to_f32(exact):
    """Nearest binary32 to a non-negative Fraction, ties to even, as a double."""
    if exact == 0:
        return 0.0
    exponent = exact.numerator.bit_length() - exact.denominator.bit_length()
    if Fraction(2) ** exponent > exact:
        exponent -= 1
    exponent = max(exponent, -126)
    scale = Fraction(2) ** (exponent - 23)
    quotient, remainder = divmod(exact / scale, 1)
    quotient = int(quotient)
    if remainder > Fraction(1, 2) or (remainder == Fraction(1, 2) and quotient % 2 == 1):
        quotient += 1
    value = quotient * scale
    if value >= 2**128:
        return float("inf")
    return float(value)


def parse_f32(text):
    """A value, or 'Empty' / 'Invalid'."""
    if text == "":
        return "Empty"
    sign = -1.0 if text[:1] == "-" else 1.0
    body = text[1:] if text[:1] in "+-" else text
    special = SPECIAL.get(body.lower()) if body.isascii() else None
    if special == "inf":
        return sign * float("inf")
    if special == "nan":
        return struct.unpack("<f", struct.pack("<I", 0xFFC00000 if sign < 0 else 0x7FC00000))[0]
    match = FLOAT_SYNTAX.match(text) if text.isascii() else None
    if not match:
        return "Invalid"
    _, whole, fraction, exponent = match.groups()
    whole, fraction = whole or "", fraction or ""
    if not whole and not fraction:
        return "Invalid"
    digits = (whole + fraction).lstrip("0")
    if not digits:
        return sign * 0.0
    power = int(exponent or "0") - len(fraction)
    magnitude = power + len(digits)  # the value lies in [10**(magnitude-1), 10**magnitude)
    if magnitude > 40:
        return sign * float("inf")
    if magnitude < -50:
        return sign * 0.0
    exact = Fraction(int(digits)) * Fraction(10) ** power
    return sign * round_to_f32(exact)


def lines_of(data):
    """Yields ('line', text) or ('error', message), then ('end',) for ever."""
    position = 0
    while position < len(data):
        newline = data.find(b"\n", position)
        stop = len(data) if newline < 0 else newline + 1
        raw = data[position:stop]
        position = stop
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError:
            yield ("error", INVALID_UTF8)
            continue
        if text.endswith("\n"):
            text = text[:-1]
            if text.endswith("\r"):
                text = text[:-1]
        yield ("line", text)
    while True:
        yield ("end",)


def next_line(lines, end_message):
    item = next(lines)
    if item[0] == "error":
        raise Failure(item[1])
    if item[0] == "end":
        raise Failure(end_message)
    return item[1]


NOT_PRINTABLE = {"Cc", "Cf", "Cn", "Co", "Cs", "Zl", "Zp", "Zs", "Mn", "Me"}
SIMPLE_ESCAPES = {"\0": "\\0", "\t": "\\t", "\r": "\\r", "\n": "\\n", "'": "\\'", "\\": "\\\\"}


def escaped_char(char):
    """A character as it appears between single quotes in a message."""
    if char in SIMPLE_ESCAPES:
        return SIMPLE_ESCAPES[char]
    if char != " " and unicodedata.category(char) in NOT_PRINTABLE:
        return "\\u{%x}" % ord(char)
    return char


def cut_field(line, start, end):
    encoded = line.encode("utf-8")
    if end > len(encoded):
        raise Failure(f"end byte index {end} is out of bounds for string of length {len(encoded)}")
    if end < len(encoded) and (encoded[end] & 0xC0) == 0x80:
        first = end
        while (encoded[first] & 0xC0) == 0x80:
            first -= 1
        char = encoded[first:].decode("utf-8", errors="ignore")[0]
        last = first + len(char.encode("utf-8"))
        raise Failure(f"end byte index {end} is not a char boundary; it is inside '{escaped_char(char)}' (bytes {first}..{last} of string)")
    return encoded[start:end].decode("utf-8")


def read_model(data, width):
    stdout = []
    try:
        return read_columns(data, width, stdout), "".join(stdout)
    except Failure as failure:
        return str(failure), "".join(stdout)


def read_columns(data, width, stdout):
    lines = lines_of(data)
    header = next_line(lines, "Failed ot read line!")
    words = tokens(header)
    count = parse_unsigned(words[-1]) if words else None
    if not count:  # no token, not a number, or 0
        if words:
            stdout.append(f"Error: '{words[-1]}' is not a valid number of parameters!\n")
        raise Failure(f"The first line should end with the number of parameters:\n'{header}'")
    for _ in range(count):
        next_line(lines, "Failed to read line!")
    first, others = [], [[] for _ in range(count - 1)]
    while True:
        item = next(lines)
        if item[0] == "error":
            raise Failure(item[1])
        if item[0] == "end":
            return first, others
        line = None
        for j in range(count):
            if j % 10 == 0:
                line = next_line(lines, "Error reading line")
            start = (j % 10) * width
            value = parse_f32(trim(cut_field(line, start, start + width)))
            if isinstance(value, str):
                raise Failure(f"Could not parse line: ParseFloatError {{ kind: {value} }}")
            (first if j == 0 else others[j - 1]).append(value)
