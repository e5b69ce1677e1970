"""Times readers that turn a benchmark workbook's first sheet into a data
frame, against the command-line program on the same sheet.

    python3 bench/frames.py --library LIB --cli CLI [-r N] [--pandas-large] [--profile] WORKBOOK...

Each reader runs in a fresh child process per workbook: it loads what it
needs, makes one first call, then the timed calls; the figure is the median
of those (a warm process, as in an analysis session), and the child's peak
RSS (ru_maxrss from wait4) covers all its calls. The command-line program is
timed as whole processes writing the sheet's text to /dev/null.

A reader is a command that prints one line of JSON,
{"first": seconds, "times": [seconds, ...], "shape": [rows, columns]}, so a
reader in another language (an R session, say) is one more entry in
READERS. pandas.read_excel with openpyxl takes minutes on L and gigabytes:
it is run on workbooks above LARGE_MB of XML only with --pandas-large, and
then once, without repeats.

The table goes to standard output as Markdown; --profile also prints the
cProfile figures of read_frame on each workbook to standard error.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON_DIR = os.path.join(HERE, os.pardir, "python")
LARGE_MB = 100  # worksheet XML beyond which pandas runs only on request

# The child's timing loop, shared by the Python readers: CALL is one read.
PYTHON_CHILD = r'''
import json, sys, time
REPEATS = int(sys.argv[2])
{setup}
def call():
    return {call}
started = time.perf_counter()
result = call()
first = time.perf_counter() - started
shape = list(getattr(result, "shape", ())) or [len(result), len(result[0]) if result else 0]
del result
times = []
for _ in range(REPEATS):
    started = time.perf_counter()
    result = call()
    times.append(time.perf_counter() - started)
    del result
print(json.dumps({{"first": first, "times": times, "shape": shape}}))
'''

# name, host, setup, call, whether it is the pandas reader (slow)
READERS = [
    ("tabulon.read_frame", "Python", "import tabulon", "tabulon.read_frame(sys.argv[1])", False),
    ("tabulon.read_excel", "Python", "import tabulon", "tabulon.read_excel(sys.argv[1])", False),
    # Two sheets through one ExcelFile: the workbook is opened once. The
    # benchmark workbooks have one sheet, so it is read twice.
    ("tabulon.ExcelFile, the sheet read twice", "Python", "import tabulon\n"
     "def twice(path):\n"
     "    with tabulon.ExcelFile(path) as book:\n"
     "        book.parse(0)\n"
     "        return book.parse(0)\n",
     "twice(sys.argv[1])", False),
    ("readColumns alone (no frame)", "Python",
     "import ctypes, os, tabulon\nfrom tabulon import _arrow, _library\n"
     "lib = _library.library()\n"
     "def columns(path):\n"
     "    schema, array, status = _arrow.ArrowSchema(), _arrow.ArrowArray(), _library.Status()\n"
     "    book = lib.tabulonOpen(os.fsencode(path), ctypes.byref(status))\n"
     "    # as read_frame asks: a header row, every kind told apart\n"
     "    options = _arrow.ReadOptions(0, -1, 1, _arrow.READ_KINDS)\n"
     "    assert lib.tabulonReadColumns(book, None, 0, ctypes.byref(options), ctypes.byref(schema),\n"
     "                                  ctypes.byref(array), ctypes.byref(status)) == 0\n"
     "    lib.tabulonClose(book, None)\n"
     "    shape = (array.length, array.n_children)\n"
     "    _arrow.release(array); _arrow.release(schema)\n"
     "    return type('S', (), {'shape': shape})()\n",
     "columns(sys.argv[1])", False),
    ("pandas.read_excel (openpyxl)", "Python", "import pandas",
     "pandas.read_excel(sys.argv[1], engine='openpyxl')", True),
]

PROFILE_CHILD = r'''
import cProfile, pstats, sys, tabulon
tabulon.read_frame(sys.argv[1])
profile = cProfile.Profile()
profile.enable()
tabulon.read_frame(sys.argv[1])
profile.disable()
pstats.Stats(profile, stream=sys.stderr).sort_stats("tottime").print_stats(12)
'''


def run_child(command, env, stdout=subprocess.PIPE):
    """Runs command to its end: its standard output, wall seconds and peak
    RSS in MB. wait4 gives this child's own peak, not that of all children."""
    started = time.perf_counter()
    child = subprocess.Popen(command, stdout=stdout, env=env)
    output = child.stdout.read() if stdout == subprocess.PIPE else b""
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - started
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        raise SystemExit("%s failed (%d)" % (" ".join(command), code))
    return output, seconds, usage.ru_maxrss * 1024 / 1e6  # ru_maxrss is in KiB


def sheet_xml_mb(workbook):
    with zipfile.ZipFile(workbook) as archive:
        return sum(i.file_size for i in archive.infolist()
                   if i.filename.startswith("xl/worksheets/")) / 1e6


def spread(values, digits):
    """median (min–max) in ms."""
    values = [v * 1000 for v in values]
    shown = "%%.%df" % digits
    median = statistics.median(values)
    if len(values) == 1:
        return shown % median
    return "%s (%s–%s)" % (shown % median, shown % min(values), shown % max(values))


def digits_for(milliseconds):
    return 0 if milliseconds >= 100 else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--library", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("-r", "--repeats", type=int, default=5)
    parser.add_argument("--pandas-large", action="store_true")
    parser.add_argument("--profile", action="store_true")
    parser.add_argument("workbooks", nargs="+")
    options = parser.parse_args()

    env = dict(os.environ, TABULON_LIBRARY=os.path.abspath(options.library),
               PYTHONPATH=os.path.abspath(PYTHON_DIR), PYTHONDONTWRITEBYTECODE="1")
    python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
    lines = []
    notes = []
    for workbook in options.workbooks:
        name = os.path.splitext(os.path.basename(workbook))[0]
        large = sheet_xml_mb(workbook) > LARGE_MB
        print("%s: the command-line program" % name, file=sys.stderr)
        cli_times, cli_rss = [], 0.0
        with open(os.devnull, "wb") as devnull:
            for _ in range(options.repeats):
                _, seconds, rss = run_child([options.cli, workbook], env, devnull)
                cli_times.append(seconds)
                cli_rss = max(cli_rss, rss)
        cli_ms = statistics.median(cli_times) * 1000
        rows = [(name, "C", "command-line program (text to /dev/null), whole process",
                 "", spread(cli_times, digits_for(cli_ms)), "1.00×", "%.0f" % cli_rss, "")]
        for reader, host, setup, call, slow in READERS:
            repeats = options.repeats
            if slow:
                if large and not options.pandas_large:
                    notes.append("pandas.read_excel was not run on %s (%.0f MB of sheet XML; "
                                 "--pandas-large runs it once)." % (name, sheet_xml_mb(workbook)))
                    continue
                repeats = 0 if large else min(repeats, 2)
            print("%s: %s" % (name, reader), file=sys.stderr)
            code = PYTHON_CHILD.format(setup=setup, call=call)
            output, _, rss = run_child([python, "-c", code, workbook, str(repeats)], env)
            result = json.loads(output)
            times = result["times"] or [result["first"]]
            median_ms = statistics.median(times) * 1000
            shape = "%s × %s" % tuple("{:,}".format(n) for n in result["shape"])
            rows.append((name, host, reader, "%.0f" % (result["first"] * 1000),
                         spread(times, digits_for(median_ms)), "%.2f×" % (median_ms / cli_ms),
                         "%.0f" % rss, shape))
        lines.extend(rows)
        medians = {row[2]: row[4] for row in rows}
        median = lambda reader: float(medians[reader].split()[0])
        if "tabulon.read_frame" in medians and "pandas.read_excel (openpyxl)" in medians:
            ours, theirs = (median(r) for r in ("tabulon.read_frame", "pandas.read_excel (openpyxl)"))
            notes.append("%s: read_frame is %.1f× faster than pandas.read_excel." % (name, theirs / ours))
        if "tabulon.read_excel" in medians and "pandas.read_excel (openpyxl)" in medians:
            ours, theirs = (median(r) for r in ("tabulon.read_excel", "pandas.read_excel (openpyxl)"))
            notes.append("%s: tabulon.read_excel is %.1f× faster than pandas.read_excel."
                         % (name, theirs / ours))
        if "tabulon.read_excel" in medians and "tabulon.read_frame" in medians:
            notes.append("%s: tabulon.read_excel takes %.2f× the time of read_frame."
                         % (name, median("tabulon.read_excel") / median("tabulon.read_frame")))
        if options.profile:
            print("%s: cProfile of read_frame" % name, file=sys.stderr)
            subprocess.run([python, "-c", PROFILE_CHILD, workbook], env=env, check=True,
                           stdout=sys.stderr)

    print("Measured %s; each reader in its own process per workbook: one first call, then %d "
          "timed calls (median, range in parentheses; ms). × CLI: the median over the "
          "command-line program's whole-process time. Peak RSS: the child's ru_maxrss over all "
          "its calls, MB."
          % (time.strftime("%Y-%m-%d"), options.repeats))
    print()
    print("| workbook | host | reader | first call ms | call ms | × CLI | peak RSS MB | frame shape |")
    print("|---|---|---|---:|---:|---:|---:|---:|")
    for row in lines:
        print("| %s |" % " | ".join(row))
    if notes:
        print()
        for note in notes:
            print(note)


if __name__ == "__main__":
    main()
