"""The library's sheet text cut into rows and fields.

Every row has the same number of fields, each ended by ";", and ends with a
line end. A cell holding a line feed spreads its row over several lines; such
a row is put back together by counting fields: a row is complete at the
first line end after it has as many ";" as the widest line. (The text
cannot tell "a;" + line feed + "b;" as two rows from one row whose second
cell starts with a line feed: it is read as two rows, the common case.)
"""
import contextlib
import gc
import itertools
import threading

# Cell text is UTF-8 as stored in the workbook; bytes that are not valid
# UTF-8 (only damaged workbooks have them) become U+FFFD.
TEXT_ERRORS = "replace"
# Sheet names keep undecodable bytes as surrogates so that every listed name
# can be asked for again.
NAME_ERRORS = "surrogateescape"


def decode_names(listing):
    """Sheet names from the bytes of listSheets."""
    return listing.decode("utf-8", NAME_ERRORS).split("\n")[:-1]


def encode_name(name):
    return name.encode("utf-8", NAME_ERRORS)


_pause_lock = threading.Lock()
_pausing = 0  # threads inside collector_paused
_was_enabled = False


@contextlib.contextmanager
def collector_paused():
    """A sheet becomes millions of new lists that hold only strings: the
    cycle collector would scan them over and over and find nothing (it
    halves the time). Threads may split at the same time: the first one in
    pauses the collector, the last one out restores what it found."""
    global _pausing, _was_enabled
    with _pause_lock:
        if _pausing == 0:
            _was_enabled = gc.isenabled()
            gc.disable()
        _pausing += 1
    try:
        yield
    finally:
        with _pause_lock:
            _pausing -= 1
            if _pausing == 0 and _was_enabled:
                gc.enable()


def split_rows(text):
    """Rows of fields (lists of str) from the sheet text (str)."""
    if not text:
        return []
    with collector_paused():
        return _split_rows(text)


def _split_rows(text):
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    counts = list(map(str.count, lines, itertools.repeat(";")))
    width = max(counts)
    if width and min(counts) == width:  # no cell holds a line feed
        return [line[:-1].split(";") for line in lines]
    rows = []
    pending, pending_count = None, 0
    for line, count in zip(lines, counts):
        if pending is not None:
            line, count = pending + "\n" + line, pending_count + count
        if count < width or not line.endswith(";"):
            pending, pending_count = line, count
            continue
        pending = None
        fields = line.split(";")
        fields.pop()  # the empty text after the row's last ";"
        rows.append(fields)
    if pending is not None:  # cut short: keep what is there
        fields = pending.split(";")
        if fields[-1] == "":
            fields.pop()
        rows.append(fields)
    return rows
