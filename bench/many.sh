#!/usr/bin/env bash
# Many workbooks at once: 200 copies of S and 20 of M (bench/make_workbooks)
# converted to CSV by the batch mode (tabulon --out), by a shell loop of
# single conversions and by xlsx2csv in a loop, and read into one pandas
# frame by tabulon.read_frames and by a Python loop of read_frame. Prints a
# table and writes it into docs/performance.md.
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

ways=(batch batch1 loop)
for ((run = 0; run < repeats; ++run)); do
  # Interleaved, so that drift on a shared machine hits every way alike.
  timed batch batch
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
import os, sys, time
import pandas
import tabulon


def main(work, paths):
    start = time.perf_counter()
    many = tabulon.read_frames(paths)
    middle = time.perf_counter()
    one = pandas.concat([tabulon.read_frame(p) for p in paths], ignore_index=True)
    end = time.perf_counter()
    assert len(one) == len(many), (len(one), len(many))
    with open(os.path.join(work, "read_frames"), "a") as f:
        f.write("%f\n" % (middle - start))
    with open(os.path.join(work, "read_frame_loop"), "a") as f:
        f.write("%f\n" % (end - middle))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
PY
  for ((run = 0; run < repeats; ++run)); do
    TABULON_LIBRARY=$build/tabulon.so PYTHONPATH=$root/python "$py" "$work/frames.py" "$work" "${list[@]}"
  done
  ways+=(read_frames read_frame_loop)
fi
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

median() { sort -g "$1" | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
range() { sort -g "$1" | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.2f–%.2f", lo, hi }'; }
loop_s=$(median "$work/loop")
frame_loop_s=$( [ -f "$work/read_frame_loop" ] && median "$work/read_frame_loop" || echo 0)

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
      batch1) label="\`tabulon --csv --out DIR --jobs 1\`"; procs="1 worker" ;;
      loop) label="shell loop of \`tabulon --csv BOOK\`"; procs="1 at a time" ;;
      xlsx2csv) label="shell loop of \`xlsx2csv BOOK\`"; procs="1 at a time" ;;
      read_frames) label="\`tabulon.read_frames(paths)\`"; procs="$(nproc) workers" ;;
      read_frame_loop) label="loop of \`tabulon.read_frame\`, then \`pandas.concat\`"; procs="1" ;;
    esac
    base=$loop_s
    case $way in read_frames|read_frame_loop) base=$frame_loop_s ;; esac
    mbs=$(calc "$csv_mb / $m")
    case $way in read_frames|read_frame_loop) mbs="–" ;; *) mbs=$(printf "%.1f" "$mbs") ;; esac
    busy="–" cpus="–"
    [ -f "$work/$way.cpu" ] && busy=$(printf "%.2f" "$(median "$work/$way.cpu")")
    [ -f "$work/$way.cpus" ] && cpus=$(printf "%.2f" "$(median "$work/$way.cpus")")
    printf "| %s | %s | %.2f (%s) | %.1f | %s | %s | %s | %.2f× |\n" "$label" "$procs" "$m" "$(range "$work/$way")" \
      "$(calc "220 / $m")" "$mbs" "$cpus" "$busy" "$(calc "$base / $m")"
  done
  echo
  echo "CPU s: user and system time of the command and its children; cores busy: that over the wall time (2.00: both cores all the time). The two Python rows are compared with each other (the loop of read_frame is 1.00×); their workers are not children of the timed process, so their CPU time is not shown."
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
