#!/usr/bin/env bash
# Builds the library in Release, makes the benchmark workbooks, installs the
# R package into a temporary library and runs bench/frames.R on them.
#
#   bench/frames.sh [-r N] [NAME...]     NAME of S M L W T (default: M L)
#
# BUILD_DIR (default build-release) and BENCH_DATA (default build/bench-data)
# as for scripts/bench.sh. Prints a Markdown table for docs/performance.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-release}
data=${BENCH_DATA:-$root/build/bench-data}
repeats=()
names=()
while [ $# -gt 0 ]; do
  case $1 in
    -r) repeats=(-r "$2"); shift ;;
    S|M|L|W|T) names+=("$1") ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d' >&2; exit 2 ;;
  esac
  shift
done
[ ${#names[@]} -gt 0 ] || names=(M L)

"$root/scripts/install-deps.sh" >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTABULON_TESTS=OFF >/dev/null
jobs=$(nproc); [ "$jobs" -gt 2 ] && jobs=2
cmake --build "$build" -j"$jobs" --target tabulon make_workbooks >&2
"$build/bench/make_workbooks" "$data" "${names[@]}" >&2

library=$(mktemp -d)
trap 'rm -rf "$library"' EXIT
R CMD INSTALL -l "$library" "$root/r" >"$library/install.log" 2>&1 ||
  { cat "$library/install.log" >&2; exit 1; }
workbooks=()
for n in "${names[@]}"; do workbooks+=("$data/$n.xlsx"); done
R_LIBS="$library" TABULON_LIBRARY="$build/tabulon.so" \
  Rscript "$root/bench/frames.R" "${repeats[@]}" "${workbooks[@]}"
