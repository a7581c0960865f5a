"""The readers the benchmark compares. Each takes (path, width) and returns (first, others): the
first parameter's values and one list per other parameter, lists of Python floats holding float32
values, as quorvel.rust_read_kavrine does; the readers in ARRAY_NAMES return instead one float32
numpy array of shape (blocks, parameters), as quorvel_arrays does. Imports happen inside the
readers, so a process that runs one reader loads only what that reader needs (the peak-memory
figures depend on it).

- module: quorvel.rust_read_kavrine.
- pure: plain Python (float() on each slice, narrowed through array('f')).
- numpy: the fastest numpy reader here: the file's bytes in one read, the value lines of each
  block copied into one fixed-width byte matrix, the fields decoded by digit arithmetic where they
  have the d.dddE+dd layout (numpy's own string-to-float cast for any that do not), float32, and
  .tolist().
- numpy-cast: the plainer numpy reader: the same byte matrix, numpy's string-to-float cast on every
  field.
- pandas: pandas.read_fwf with the separator and header lines skipped.
- floor: reading the file's bytes once, plus building the lists from already-parsed float32
  columns (numpy .tolist()); no reader can do less.
- scan: reading the bytes and counting the newlines: the memory-bandwidth reference.

Matrix readers:
- arrays: quorvel_arrays.read(path, width).values.
- numpy-arrays: the numpy reader above stopping at its float32 matrix (no .tolist()): the peer of
  arrays.
"""

from array import array


def _header(data_or_file):
    """Parameter count and the offset of the first block, from the file's bytes."""
    data = data_or_file
    end = data.index(b"\n")
    parameters = int(data[:end].split()[-1])
    position = end + 1
    for _ in range(parameters):
        position = data.index(b"\n", position) + 1
    return parameters, position


def module(path, width):
    import quorvel

    return quorvel.rust_read_kavrine(path, width)


def pure(path, width):
    with open(path, encoding="utf-8") as stream:
        parameters = int(stream.readline().split()[-1])
        for _ in range(parameters):
            stream.readline()
        cuts = [slice(k * width, (k + 1) * width) for k in range(10)]
        per_line = [cuts[:min(10, parameters - start)] for start in range(0, parameters, 10)]
        flat = array("f")
        extend = flat.extend
        for _separator in stream:
            for fields in per_line:
                line = next(stream)
                extend([float(line[cut]) for cut in fields])
    if parameters == 0:
        return [], []
    columns = [flat[j::parameters].tolist() for j in range(parameters)]
    return columns[0], columns[1:]


def _field_characters(path, width):
    """(parameters, characters) with characters[c, b, j] the byte c of field j in block b, or None
    when a block's value lines are not each exactly their fields plus LF or CR LF.

    Blocks are found from their separator lines; runs of blocks that lie equally far apart (the
    separators of a run have one length) are copied through one strided view each."""
    import numpy as np

    with open(path, "rb") as stream:
        data = stream.read()
    parameters, position = _header(data)
    if parameters == 0:
        return 0, np.empty((width, 0, 0), np.uint8)
    full, rest = divmod(parameters, 10)
    line_bytes = 10 * width
    first_value_line = data.index(b"\n", position) + 1
    end = data.index(b"\n", first_value_line)
    ending = 2 if data[end - 1:end] == b"\r" else 1
    stride = line_bytes + ending
    body = full * stride + (rest * width + ending if rest else 0)
    starts = []
    size = len(data)
    find = data.index
    while position < size:
        start = find(b"\n", position) + 1
        starts.append(start)
        position = start + body
    if position != size:
        return None
    buffer = np.frombuffer(data, np.uint8)
    blocks = len(starts)
    characters = np.empty((width, blocks, parameters), np.uint8)
    terminator_ok = True
    runs, first = [], 0
    for i in range(2, blocks):
        if starts[i] - starts[i - 1] != starts[first + 1] - starts[first] and i - first >= 2:
            runs.append((first, i))
            first = i
    runs.append((first, blocks))
    for first, last in runs:
        count = last - first
        spacing = starts[first + 1] - starts[first] if count > 1 else body
        origin = buffer[starts[first]:]
        if full:
            lines = np.lib.stride_tricks.as_strided(
                origin, shape=(count, full, 10, width), strides=(spacing, stride, width, 1), writeable=False)
            target = characters[:, first:last, :full * 10].reshape(width, count, full, 10)
            target[...] = lines.transpose(3, 0, 1, 2)
            ends = np.lib.stride_tricks.as_strided(
                origin[line_bytes + ending - 1:], shape=(count, full), strides=(spacing, stride), writeable=False)
            terminator_ok &= bool((ends == ord("\n")).all())
        if rest:
            tail = origin[full * stride:]
            fields = np.lib.stride_tricks.as_strided(
                tail, shape=(count, rest, width), strides=(spacing, width, 1), writeable=False)
            characters[:, first:last, full * 10:] = fields.transpose(2, 0, 1)
            ends = np.lib.stride_tricks.as_strided(
                tail[rest * width + ending - 1:], shape=(count,), strides=(spacing,), writeable=False)
            terminator_ok &= bool((ends == ord("\n")).all())
    if not terminator_ok:
        return None
    return parameters, characters


def _to_lists(values):
    """(blocks, parameters) float32 → (first, others)."""
    if values.shape[1] == 0:
        return [], []
    columns = values.T.tolist()
    return columns[0], columns[1:]


def _cast(fields):
    import numpy as np

    return fields.astype(np.float64).astype(np.float32)


# For exponents k = -22 .. 22 (index k + 22): 10**k as a factor and a divisor, one of them 1; each
# power is exact as a double.
_MULTIPLIERS = [float(10 ** max(k, 0)) for k in range(-22, 23)]
_DIVISORS = [float(10 ** max(-k, 0)) for k in range(-22, 23)]


def _decode(characters):
    """Digit arithmetic on fields laid out as [ -]d.ddd…E±dd (what the simulation writes), one
    character position at a time over all fields; the fields laid out otherwise go through
    numpy's cast."""
    import numpy as np

    width, blocks, parameters = characters.shape
    rows = characters.reshape(width, blocks * parameters)
    sign, point, letter, exponent_sign = rows[0], rows[2], rows[width - 4], rows[width - 3]
    negative = sign == ord("-")
    negative_exponent = exponent_sign == ord("-")
    shaped = (negative | (sign == ord(" "))) & (point == ord(".")) & (letter == ord("E"))
    shaped &= negative_exponent | (exponent_sign == ord("+"))
    digit_rows = [1, *range(3, width - 4)]
    # As unsigned bytes, anything but a digit is above 9 once '0' is subtracted.
    largest = np.subtract(rows[digit_rows[0]], ord("0"), dtype=np.uint8)
    for row in [*digit_rows[1:], width - 2, width - 1]:
        np.maximum(largest, np.subtract(rows[row], ord("0"), dtype=np.uint8), out=largest)
    shaped &= largest <= 9
    # The significand from the raw bytes, then "0" * 11…1 taken off once; every step is exact in
    # a double (nine digits at most).
    m = rows[digit_rows[0]].astype(np.float64)
    for row in digit_rows[1:]:
        m *= 10.0
        m += rows[row]
    m -= ord("0") * int("1" * len(digit_rows))
    exponent = rows[width - 2].astype(np.int16) * 10
    exponent += rows[width - 1]
    exponent -= ord("0") * 11
    np.negative(exponent, out=exponent, where=negative_exponent)
    exponent -= width - 7
    # m < 2**53 and 10**|k| exact for |k| <= 22: m * 10**k or m / 10**-k is correctly rounded
    # (the other factor of the pair is 1).
    shaped &= (exponent >= -22) & (exponent <= 22)
    np.clip(exponent, -22, 22, out=exponent)
    exponent += 22
    m *= np.take(_MULTIPLIERS, exponent)
    m /= np.take(_DIVISORS, exponent)
    value = m
    np.negative(value, out=value, where=negative)
    value = value.astype(np.float32)
    if not shaped.all():
        odd = np.flatnonzero(~shaped)
        texts = np.ascontiguousarray(rows[:, odd].T).view(f"S{width}").ravel()
        value[odd] = _cast(texts)
    return value.reshape(blocks, parameters)


def _from_characters(path, width, to_values):
    """The field characters of the file through `to_values`, or the line-based reader when the
    file is not in the regular layout."""
    found = _field_characters(path, width)
    if found is None:
        return numpy_lines(path, width)
    parameters, characters = found
    if parameters == 0:
        return [], []
    return _to_lists(to_values(characters))


def numpy(path, width):
    return _from_characters(path, width, _decode)


def numpy_arrays(path, width):
    """The numpy reader's float32 matrix, without the lists."""
    import numpy as np

    found = _field_characters(path, width)
    if found is None:
        return _lines_matrix(path, width)
    parameters, characters = found
    if parameters == 0:
        return np.empty((0, 0), np.float32)
    return _decode(characters)


def numpy_cast(path, width):
    import numpy as np

    def cast(characters):
        return _cast(np.ascontiguousarray(characters.transpose(1, 2, 0)).view(f"S{width}")[..., 0])

    return _from_characters(path, width, cast)


def numpy_lines(path, width):
    """Line by line, for files whose value lines carry extra bytes: the fallback of the two above."""
    return _to_lists(_lines_matrix(path, width))


def _lines_matrix(path, width):
    """numpy_lines' float32 matrix (blocks, parameters); (0, 0) for a file of no parameter."""
    import numpy as np

    with open(path, "rb") as stream:
        parameters = int(stream.readline().split()[-1])
        for _ in range(parameters):
            stream.readline()
        counts = [min(10, parameters - start) for start in range(0, parameters, 10)]
        rows = []
        for _separator in stream:
            row = b"".join(next(stream)[:count * width] for count in counts)
            rows.append(row)
    if parameters == 0:
        return np.empty((0, 0), np.float32)
    fields = np.frombuffer(b"".join(rows), f"S{width}").reshape(len(rows), parameters)
    return _cast(fields)


def pandas(path, width):
    import numpy as np
    import pandas as pd

    with open(path, "rb") as stream:
        parameters = int(stream.readline().split()[-1])
    if parameters == 0:
        return [], []
    lines = -(-parameters // 10)
    skip = parameters + 1
    frame = pd.read_fwf(
        path,
        widths=[width] * 10,
        header=None,
        dtype=np.float64,
        skiprows=lambda i: i < skip or (i - skip) % (lines + 1) == 0,
    )
    values = frame.to_numpy(np.float64)
    if values.shape[1] < 10:
        values = np.pad(values, ((0, 0), (0, 10 - values.shape[1])), constant_values=np.nan)
    blocks = values.shape[0] // lines
    values = values.reshape(blocks, lines * 10)[:, :parameters].astype(np.float32)
    return _to_lists(values)


class Floor:
    """Reads the bytes and builds the lists from float32 columns parsed beforehand (the expected
    values stored beside the file, transposed to one contiguous row per parameter)."""

    def __init__(self, truth_path):
        import numpy as np

        self.columns = np.ascontiguousarray(np.load(truth_path).T)

    def __call__(self, path, width):
        with open(path, "rb") as stream:
            stream.read()
        columns = self.columns.tolist()
        return (columns[0], columns[1:]) if columns else ([], [])


def arrays(path, width):
    import quorvel_arrays

    return quorvel_arrays.read(path, width).values


def scan(path, width):
    with open(path, "rb") as stream:
        return stream.read().count(b"\n")


NAMES = ["module", "arrays", "numpy", "numpy-arrays", "numpy-cast", "pure", "pandas", "floor", "scan"]
# The readers that return one float32 matrix (blocks, parameters) instead of lists.
ARRAY_NAMES = ["arrays", "numpy-arrays"]


def get(name, truth_path):
    if name == "floor":
        return Floor(truth_path)
    return {
        "module": module,
        "numpy": numpy,
        "numpy-cast": numpy_cast,
        "pure": pure,
        "pandas": pandas,
        "scan": scan,
        "arrays": arrays,
        "numpy-arrays": numpy_arrays,
    }[name]
