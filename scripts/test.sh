#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" tests
BUILD_DIR=$root/build "$root/scripts/build.sh" -DTABULON_WERROR=ON
ctest --test-dir "$root/build" --output-on-failure -j"$(nproc)"
