#!/usr/bin/env bash
# Builds in Release, generates the benchmark workbooks (once), checks that
# the text rendered for each still has its stored SHA-256, runs the
# benchmark and writes its tables into docs/performance.md.
#
#   scripts/bench.sh [-r N] [--update] [--compare] [--compare-all] [--no-doc] [NAME...]
#
#   NAME           workbooks to run, of S M L W T (default: all)
#   -r N           runs of each process (default 5)
#   --update       store the digests of the current output instead of checking them
#   --compare      also time the other readers that are installed (xlsx2csv,
#                  ssconvert), on workbooks whose sheet XML is at most 100 MB
#   --compare-all  the same on every workbook (slow: L takes them minutes)
#   --no-doc       print the tables only
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
names=()
while [ $# -gt 0 ]; do
  case $1 in
    -r) repeats=$2; shift ;;
    --update) update=ON ;;
    --compare) compare=(--compare --compare-max-mb 100) ;;
    --compare-all) compare=(--compare) ;;
    --no-doc) write_doc=0 ;;
    S|M|L|W|T) names+=("$1") ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d' >&2; exit 2 ;;
  esac
  shift
done
[ ${#names[@]} -gt 0 ] || names=(S M L W T)

"$root/scripts/install-deps.sh" >&2
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
"$build/bench/tabulon_bench" -r "$repeats" "${compare[@]}" "${workbooks[@]}" > "$tables"
cat "$tables"

[ $write_doc -eq 1 ] || exit 0
if ! grep -q '<!-- bench:begin -->' "$doc" || ! grep -q '<!-- bench:end -->' "$doc"; then
  echo "bench.sh: $doc lacks the <!-- bench:begin --> / <!-- bench:end --> markers" >&2
  exit 1
fi
awk -v tables="$tables" '
  /<!-- bench:begin -->/ { print; print ""; while ((getline line < tables) > 0) print line; print ""; skip = 1; next }
  /<!-- bench:end -->/ { skip = 0 }
  !skip { print }
' "$doc" > "$tables.doc"
cat "$tables.doc" > "$doc"
echo "tables written to $doc" >&2
