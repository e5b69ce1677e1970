#!/usr/bin/env bash
# Many workbooks at once: 200 copies of S and 20 of M (bench/make_workbooks)
# converted to CSV by the batch mode (tabulon --out, in worker processes and
# with --threads), by a shell loop of single conversions and by xlsx2csv in
# a loop; read into one pandas frame by tabulon.read_frames (threads and
# processes), by Dask's threaded and process schedulers and by a Python loop
# of read_frame; and four copies of M read as columns by four threads, one
# after another and by four processes. Prints a table and writes it into
# docs/performance.md.
#
#   bench/many.sh [-r N] [--no-xlsx2csv] [--no-python] [--no-doc]
#
#   -r N            runs of each way (default 3; xlsx2csv runs once)
#   --no-xlsx2csv   leave out xlsx2csv (about two minutes a run)
#   --no-python     leave out read_frames and the read_frame loop
#   --no-doc        print the table only
# BUILD_DIR (default build-release) and BENCH_DATA (default build/bench-data)
# choose the build and workbook folders, as for scripts/bench.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-release}
data=${BENCH_DATA:-$root/build/bench-data}
doc=$root/docs/performance.md

repeats=3
xlsx2csv=1
python=1
write_doc=1
while [ $# -gt 0 ]; do
  case $1 in
    -r) repeats=$2; shift ;;
    --no-xlsx2csv) xlsx2csv=0 ;;
    --no-python) python=0 ;;
    --no-doc) write_doc=0 ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d' >&2; exit 2 ;;
  esac
  shift
done
command -v xlsx2csv >/dev/null || xlsx2csv=0

"$root/scripts/install-deps.sh" >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTABULON_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tabulon tabulon_cli make_workbooks >&2
cli=$build/cli/tabulon
"$build/bench/make_workbooks" "$data" S M >&2

# The copies: different names, so that no file name is shared.
books=$data/many
mkdir -p "$books"
for i in $(seq -w 1 200); do [ -f "$books/s$i.xlsx" ] || cp "$data/S.xlsx" "$books/s$i.xlsx"; done
for i in $(seq -w 1 20); do [ -f "$books/m$i.xlsx" ] || cp "$data/M.xlsx" "$books/m$i.xlsx"; done
list=("$books"/s*.xlsx "$books"/m*.xlsx)
cat "${list[@]}" >/dev/null  # into the page cache: no figure includes disk reads
input_mb=$(du -cb "${list[@]}" | tail -1 | awk '{printf "%.0f", $1 / 1e6}')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

calc() { awk "BEGIN { print $* }"; }
# Runs "$@"; appends its wall time in seconds to $work/$name, its CPU time
# (with its children's) to $work/$name.cpus and the cores it kept busy (CPU
# time over wall time) to $work/$name.cpu.
timed() {
  local name=$1; shift
  rm -rf "$work/out"; mkdir -p "$work/out"
  local TIMEFORMAT='%R %U %S' wall user sys
  { time "$@" >/dev/null 2>"$work/stderr"; } 2>"$work/time" || { cat "$work/stderr" >&2; exit 1; }
  read -r wall user sys < "$work/time"
  echo "$wall" >> "$work/$name"
  calc "($user + $sys) / $wall" >> "$work/$name.cpu"
  calc "$user + $sys" >> "$work/$name.cpus"
}
batch() { "$cli" --csv --out "$work/out" "$@" "${list[@]}" >/dev/null; }
loop() {
  for f in "${list[@]}"; do
    b=${f##*/}
    "$cli" --csv "$f" > "$work/out/${b%.xlsx}.csv"
  done
}
other_loop() {
  for f in "${list[@]}"; do
    b=${f##*/}
    xlsx2csv "$f" "$work/out/${b%.xlsx}.csv"
  done
}

ways=(batch batch_threads batch1 loop)
for ((run = 0; run < repeats; ++run)); do
  # Interleaved, so that drift on a shared machine hits every way alike.
  timed batch batch
  timed batch_threads batch --threads
  timed batch1 batch --jobs 1
  timed loop loop
  echo "run $((run + 1)) of $repeats done" >&2
done
csv_mb=$(du -cb "$work/out" | tail -1 | awk '{printf "%.0f", $1 / 1e6}')
if [ $xlsx2csv -eq 1 ]; then
  timed xlsx2csv other_loop
  ways+=(xlsx2csv)
fi

if [ $python -eq 1 ]; then
  py=$(command -v /usr/bin/python3 || command -v python3)
  # A file, not standard input: the pool's workers import the main module.
  cat > "$work/frames.py" <<'PY'
import concurrent.futures, ctypes, importlib, multiprocessing, os, sys, time
import pandas
import tabulon
from tabulon import _arrow, _library


def timed(work, name, call):
    start = time.perf_counter()
    result = call()
    with open(os.path.join(work, name), "a") as f:
        f.write("%f\n" % (time.perf_counter() - start))
    return result


def columns(path):
    """One read of the first sheet's columns in the library, released at
    once: the library's own work, without building a frame."""
    lib = _library.library()
    with tabulon.open(path) as book:
        schema, array = _arrow.ArrowSchema(), _arrow.ArrowArray()
        options = _arrow.ReadOptions(max_rows=-1, header=1)
        status = _library.Status()
        if lib.tabulonReadColumns(book._handle, None, 0, ctypes.byref(options), ctypes.byref(schema),
                                  ctypes.byref(array), ctypes.byref(status)) != 0:
            raise RuntimeError(status.text)
        length = array.length
        _arrow.release(array)
        _arrow.release(schema)
        return length


def main(work, paths):
    many = timed(work, "read_frames", lambda: tabulon.read_frames(paths))
    timed(work, "read_frames_processes", lambda: tabulon.read_frames(paths, executor="processes"))
    one = timed(work, "read_frame_loop",
                lambda: pandas.concat([tabulon.read_frame(p) for p in paths], ignore_index=True))
    assert len(one) == len(many), (len(one), len(many))
    try:
        dask_frames = importlib.import_module("tabulon.dask")
        frame = dask_frames.read_sheet(paths)
        for scheduler in ["threads", "processes"]:
            done = timed(work, "dask_" + scheduler, lambda: frame.compute(scheduler=scheduler))
            assert len(done) == len(one)
    except ImportError:
        pass
    # Four copies of M: four threads, one after another, four processes.
    four = [p for p in paths if os.path.basename(p).startswith("m")][:4]
    timed(work, "m4_sequential", lambda: [columns(p) for p in four])
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        timed(work, "m4_threads", lambda: list(pool.map(columns, four)))
    with concurrent.futures.ProcessPoolExecutor(4, mp_context=multiprocessing.get_context("fork")) as pool:
        list(pool.map(abs, range(4)))  # the processes started before the clock
        timed(work, "m4_processes", lambda: list(pool.map(columns, four)))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
PY
  for ((run = 0; run < repeats; ++run)); do
    TABULON_LIBRARY=$build/tabulon.so PYTHONPATH=$root/python "$py" "$work/frames.py" "$work" "${list[@]}"
  done
  ways+=(read_frames read_frames_processes read_frame_loop)
  [ -f "$work/dask_threads" ] && ways+=(dask_threads dask_processes)
  ways+=(m4_sequential m4_threads m4_processes)
fi
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

median() { sort -g "$1" | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
range() { sort -g "$1" | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.2f–%.2f", lo, hi }'; }
loop_s=$(median "$work/loop")
frame_loop_s=$( [ -f "$work/read_frame_loop" ] && median "$work/read_frame_loop" || echo 0)
m4_s=$( [ -f "$work/m4_sequential" ] && median "$work/m4_sequential" || echo 0)

table=$work/table
{
  echo "Measured $(date +%Y-%m-%d) on $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) hardware threads; 200 copies of S and 20 of M (220 workbooks, $input_mb MB zipped, $csv_mb MB of CSV), files in the page cache. Load average $load_before before, $load_after after (the machine was shared). Medians of $repeats runs, range in parentheses; xlsx2csv ran once."
  echo
  echo "| way | processes | wall s | workbooks/s | CSV MB/s | CPU s | cores busy | × the loop of single conversions |"
  echo "|---|---|---:|---:|---:|---:|---:|---:|"
  for way in "${ways[@]}"; do
    m=$(median "$work/$way")
    case $way in
      batch) label="\`tabulon --csv --out DIR\` (batch mode)"; procs="$(nproc) workers" ;;
      batch_threads) label="\`tabulon --csv --out DIR --threads\`"; procs="1, $(nproc) threads" ;;
      batch1) label="\`tabulon --csv --out DIR --jobs 1\`"; procs="1 worker" ;;
      loop) label="shell loop of \`tabulon --csv BOOK\`"; procs="1 at a time" ;;
      xlsx2csv) label="shell loop of \`xlsx2csv BOOK\`"; procs="1 at a time" ;;
      read_frames) label="\`tabulon.read_frames(paths)\` (threads)"; procs="1, $(nproc) threads" ;;
      read_frames_processes) label="\`tabulon.read_frames(paths, executor=\"processes\")\`"; procs="$(nproc) workers" ;;
      read_frame_loop) label="loop of \`tabulon.read_frame\`, then \`pandas.concat\`"; procs="1" ;;
      dask_threads) label="\`tabulon.dask.read_sheet(paths).compute()\` (threaded scheduler)"; procs="1, $(nproc) threads" ;;
      dask_processes) label="the same, \`scheduler=\"processes\"\`"; procs="$(nproc) workers" ;;
      m4_sequential) label="4 copies of M as columns, one after another"; procs="1" ;;
      m4_threads) label="4 copies of M as columns, 4 threads at once"; procs="1, 4 threads" ;;
      m4_processes) label="4 copies of M as columns, 4 processes at once"; procs="4 workers" ;;
    esac
    base=$loop_s
    case $way in read_frames*|read_frame_loop|dask_*) base=$frame_loop_s ;; m4_*) base=$m4_s ;; esac
    mbs=$(calc "$csv_mb / $m")
    case $way in read_frames*|read_frame_loop|dask_*|m4_*) mbs="–" ;; *) mbs=$(printf "%.1f" "$mbs") ;; esac
    books=220
    case $way in m4_*) books=4 ;; esac
    busy="–" cpus="–"
    [ -f "$work/$way.cpu" ] && busy=$(printf "%.2f" "$(median "$work/$way.cpu")")
    [ -f "$work/$way.cpus" ] && cpus=$(printf "%.2f" "$(median "$work/$way.cpus")")
    printf "| %s | %s | %.2f (%s) | %.1f | %s | %s | %s | %.2f× |\n" "$label" "$procs" "$m" "$(range "$work/$way")" \
      "$(calc "$books / $m")" "$mbs" "$cpus" "$busy" "$(calc "$base / $m")"
  done
  echo
  echo "CPU s: user and system time of the command and its children; cores busy: that over the wall time (2.00: both cores all the time). The Python rows that build frames are compared with the loop of read_frame (1.00×), the rows of M copies with their reads one after another (1.00×); they are timed inside one Python process, so their CPU time is not shown."
} > "$table"
cat "$table"

[ $write_doc -eq 1 ] || exit 0
if ! grep -q '<!-- many:begin -->' "$doc" || ! grep -q '<!-- many:end -->' "$doc"; then
  echo "many.sh: $doc lacks the <!-- many:begin --> / <!-- many:end --> markers" >&2
  exit 1
fi
awk -v table="$table" '
  /<!-- many:begin -->/ { print; print ""; while ((getline line < table) > 0) print line; print ""; skip = 1; next }
  /<!-- many:end -->/ { skip = 0 }
  !skip { print }
' "$doc" > "$work/doc"
cat "$work/doc" > "$doc"
echo "table written to $doc" >&2
