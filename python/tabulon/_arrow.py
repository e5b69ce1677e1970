"""The library's typed columns (readColumns), taken into numpy arrays.

readColumns hands a sheet out as a struct array of the Arrow C data
interface: one child per column, each null ("n"), bit-packed booleans ("b"),
float64 ("g"), microseconds since 1970 ("tsu:") or int32 indexes into a
UTF-8 dictionary ("i" over "u"). Everything here is copied out of the
library's buffers, so the structs can be released as soon as `take_columns`
returns. numpy is imported by the caller: this module only needs it passed in.
"""

import ctypes

from ._errors import TabulonError
from . import _text


class ArrowSchema(ctypes.Structure):
    pass


class ArrowArray(ctypes.Structure):
    pass


ArrowSchema._fields_ = [
    ("format", ctypes.c_char_p),
    ("name", ctypes.c_char_p),
    ("metadata", ctypes.c_void_p),  # binary, not a C string
    ("flags", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowSchema))),
    ("dictionary", ctypes.POINTER(ArrowSchema)),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowSchema))),
    ("private_data", ctypes.c_void_p),
]

ArrowArray._fields_ = [
    ("length", ctypes.c_int64),
    ("null_count", ctypes.c_int64),
    ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowArray))),
    ("dictionary", ctypes.POINTER(ArrowArray)),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArray))),
    ("private_data", ctypes.c_void_p),
]


class ReadOptions(ctypes.Structure):
    """struct TabulonReadOptions; zero-filled fields keep the library's
    defaults (but max_rows: 0 reads no rows, -1 all)."""
    _fields_ = [
        ("skip_rows", ctypes.c_int64),
        ("max_rows", ctypes.c_int64),
        ("header", ctypes.c_int),
        ("flags", ctypes.c_uint),
        ("first_row", ctypes.c_int64),
        ("last_row", ctypes.c_int64),
        ("first_column", ctypes.c_int64),
        ("last_column", ctypes.c_int64),
        ("columns", ctypes.POINTER(ctypes.c_int64)),
        ("column_count", ctypes.c_int64),
        ("text_columns", ctypes.POINTER(ctypes.c_int64)),
        ("text_column_count", ctypes.c_int64),
    ]


# ReadOptions.flags
SKIP_FROM_FIRST_ROW = 1
READ_KINDS = 2


# Column kinds, from the child's format.
NULL, BOOLEAN, NUMBER, TIMESTAMP, TEXT = "null", "bool", "number", "timestamp", "text"
_KINDS = {b"n": NULL, b"b": BOOLEAN, b"g": NUMBER, b"tsu:": TIMESTAMP, b"i": TEXT}


class Column:
    """One column copied out of the library. values: a numpy array of the
    kind's type (bool, float64, int64 microseconds, object str; None for a
    null column); valid: a bool array, or None when nothing is missing."""

    __slots__ = ("name", "kind", "values", "valid")

    def __init__(self, name, kind, values, valid):
        self.name, self.kind, self.values, self.valid = name, kind, values, valid


def release(structure):
    """Calls the struct's release callback once; a released struct has none."""
    if structure.release:
        structure.release(ctypes.byref(structure))


def _memory(numpy, address, ctype, count):
    """A numpy view of count items of ctype at address (nothing copied)."""
    if count == 0:
        return numpy.empty(0, dtype=numpy.dtype(ctype))
    if not address:
        raise TabulonError("the library handed out a column without its data buffer")
    return numpy.frombuffer((ctype * count).from_address(address), dtype=numpy.dtype(ctype))


def _bits(numpy, address, offset, length):
    """Bit-packed values (LSB first) from bit offset on, as a new bool array."""
    packed = _memory(numpy, address, ctypes.c_uint8, (offset + length + 7) // 8)
    return numpy.unpackbits(packed, count=offset + length, bitorder="little")[offset:].view(bool)


def _dictionary_strings(numpy, dictionary):
    """The dictionary's strings, each decoded once, as an object array."""
    count, offset = dictionary.length, dictionary.offset
    ends = _memory(numpy, dictionary.buffers[1], ctypes.c_int32, offset + count + 1)[offset:]
    if count == 0:
        return numpy.empty(0, dtype=object)
    first, last = int(ends[0]), int(ends[-1])
    data = ctypes.string_at(dictionary.buffers[2] + first, last - first) if last > first else b""
    strings = numpy.empty(count, dtype=object)
    bounds = (ends - first).tolist()
    if data.isascii():
        # One decode for the lot; byte and character positions agree.
        text = data.decode("ascii")
        strings[:] = [text[a:b] for a, b in zip(bounds, bounds[1:])]
    else:
        errors = _text.TEXT_ERRORS
        strings[:] = [data[a:b].decode("utf-8", errors) for a, b in zip(bounds, bounds[1:])]
    return strings


def _column(numpy, schema, array, offset, length):
    kind = _KINDS.get(schema.format)
    name = (schema.name or b"").decode("utf-8", _text.TEXT_ERRORS)
    if kind is None:
        raise TabulonError("column %r has a type this module cannot take: %r"
                           % (name, schema.format))
    if kind == NULL:
        return Column(name, kind, None, None)
    offset += array.offset
    buffers = array.buffers
    valid = _bits(numpy, buffers[0], offset, length) if buffers[0] else None
    if kind == BOOLEAN:
        values = _bits(numpy, buffers[1], offset, length)
    elif kind == NUMBER:
        values = _memory(numpy, buffers[1], ctypes.c_double, offset + length)[offset:].copy()
    elif kind == TIMESTAMP:
        values = _memory(numpy, buffers[1], ctypes.c_int64, offset + length)[offset:].copy()
    else:
        if not schema.dictionary or not array.dictionary or schema.dictionary[0].format != b"u":
            raise TabulonError("text column %r comes without its UTF-8 dictionary" % name)
        strings = _dictionary_strings(numpy, array.dictionary[0])
        indexes = _memory(numpy, buffers[1], ctypes.c_int32, offset + length)[offset:]
        if valid is not None:
            # A missing value's index means nothing: point it anywhere valid.
            indexes = numpy.where(valid, indexes, 0)
        if len(strings) == 0:
            values = numpy.full(length, None, dtype=object)
        else:
            values = strings[indexes]  # each string object shared, not copied
        if valid is not None:
            values[~valid] = None
    return Column(name, kind, values, valid)


def take_columns(numpy, schema, array):
    """The columns of a struct array, copied out. Returns (row count, columns)."""
    if schema.format != b"+s" or schema.n_children != array.n_children:
        raise TabulonError("the library handed out %r instead of a struct array of columns"
                           % schema.format)
    length = array.length
    columns = []
    for i in range(array.n_children):
        child = array.children[i][0]
        if child.length < array.offset + length:
            raise TabulonError("column %d has %d rows, not %d" % (i, child.length, length))
        columns.append(_column(numpy, schema.children[i][0], child, array.offset, length))
    return length, columns
