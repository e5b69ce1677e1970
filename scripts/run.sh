#!/usr/bin/env bash
# Installs what the command-line program needs, builds it, and prints a
# sheet of a workbook (the bundled sample when no workbook is given). The
# tests are not built here: ./scripts/test.sh builds and runs them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
"$root/scripts/install-deps.sh" cli >&2
# A build folder configured by test.sh keeps its tests; a fresh one has none.
tests=OFF
[ -f "$build/CMakeCache.txt" ] && grep -q '^TABULON_TESTS:BOOL=ON' "$build/CMakeCache.txt" && tests=ON
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} -DTABULON_TESTS=$tests >/dev/null
cmake --build "$build" -j"$(nproc)" --target tabulon_cli >&2
exec "$build/cli/tabulon" "$@"
