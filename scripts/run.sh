#!/usr/bin/env bash
# Installs what is needed, builds, and prints a sheet of a workbook (the
# bundled sample when no workbook is given).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" >&2
BUILD_DIR=$root/build "$root/scripts/build.sh" >&2
exec "$root/build/cli/tabulon" "$@"
