#!/usr/bin/env bash
# Builds in Release, generates the benchmark workbooks (once), checks that
# the text rendered for each still has its stored SHA-256, runs the
# benchmark and writes its tables into docs/performance.md.
#
#   scripts/bench.sh [-r N] [--update] [--compare] [--compare-all] [--no-doc] [NAME...]
#   scripts/bench.sh --frames [-r N] [--pandas-large] [--no-doc] [NAME...]
#
#   NAME           workbooks to run, of S M L W T (default: all)
#   -r N           runs of each process (default 5)
#   --update       store the digests of the current output instead of checking them
#   --compare      also time the other readers that are installed (xlsx2csv,
#                  ssconvert), on workbooks whose sheet XML is at most 100 MB
#   --compare-all  the same on every workbook (slow: L takes them minutes)
#   --no-doc       print the tables only
#   --frames       time the readers that make a data frame (bench/frames.py:
#                  tabulon.read_frame, pandas.read_excel) against the CLI on
#                  the same sheet (default workbooks: M L)
#   --pandas-large with --frames, run pandas.read_excel on L as well (minutes)
# BUILD_DIR (default build-release) and BENCH_DATA (default build/bench-data)
# choose the build and workbook folders.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-release}
data=${BENCH_DATA:-$root/build/bench-data}
doc=$root/docs/performance.md

repeats=5
update=OFF
write_doc=1
compare=()
frames=0
frames_options=()
names=()
while [ $# -gt 0 ]; do
  case $1 in
    -r) repeats=$2; shift ;;
    --update) update=ON ;;
    --compare) compare=(--compare --compare-max-mb 100) ;;
    --compare-all) compare=(--compare) ;;
    --no-doc) write_doc=0 ;;
    --frames) frames=1 ;;
    --pandas-large) frames_options+=(--pandas-large) ;;
    S|M|L|W|T) names+=("$1") ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d' >&2; exit 2 ;;
  esac
  shift
done
if [ ${#names[@]} -eq 0 ]; then
  if [ $frames -eq 1 ]; then names=(M L); else names=(S M L W T); fi
fi

"$root/scripts/install-deps.sh" tests >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTABULON_TESTS=OFF >/dev/null
targets=(tabulon make_workbooks bench_floor tabulon_bench)
[ -f "$root/cli/CMakeLists.txt" ] && targets+=(tabulon_cli)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >&2

# The workbooks are made here, once; the check renders each of them.
list=$(IFS=';'; echo "${names[*]}")
cli=""
[ -x "$build/cli/tabulon" ] && cli=$build/cli/tabulon
cmake -DMAKE_WORKBOOKS="$build/bench/make_workbooks" -DBENCH="$build/bench/tabulon_bench" \
      -DDATA_DIR="$data" -DEXPECTED="$root/bench/expected.sha256" -DWORKBOOKS="$list" \
      -DCLI="$cli" -DUPDATE=$update -P "$root/bench/check_output.cmake" >&2

workbooks=()
for n in "${names[@]}"; do workbooks+=("$data/$n.xlsx"); done
tables=$(mktemp)
trap 'rm -f "$tables" "$tables.doc"' EXIT
begin='<!-- bench:begin -->'
end='<!-- bench:end -->'
if [ $frames -eq 1 ]; then
  [ -n "$cli" ] || { echo "bench.sh: --frames needs the command-line program" >&2; exit 1; }
  python=python3
  [ -x /usr/bin/python3 ] && python=/usr/bin/python3  # Debian's, with pandas
  "$python" "$root/bench/frames.py" --library "$build/tabulon.so" --cli "$cli" -r "$repeats" \
    "${frames_options[@]}" "${workbooks[@]}" > "$tables"
  begin='<!-- frames:begin -->'
  end='<!-- frames:end -->'
else
  "$build/bench/tabulon_bench" -r "$repeats" "${compare[@]}" "${workbooks[@]}" > "$tables"
fi
cat "$tables"

[ $write_doc -eq 1 ] || exit 0
if ! grep -qF "$begin" "$doc" || ! grep -qF "$end" "$doc"; then
  echo "bench.sh: $doc lacks the $begin / $end markers" >&2
  exit 1
fi
awk -v tables="$tables" -v begin="$begin" -v end="$end" '
  $0 == begin { print; print ""; while ((getline line < tables) > 0) print line; print ""; skip = 1; next }
  $0 == end { skip = 0 }
  !skip { print }
' "$doc" > "$tables.doc"
cat "$tables.doc" > "$doc"
echo "tables written to $doc" >&2
