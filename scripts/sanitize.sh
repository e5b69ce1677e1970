#!/usr/bin/env bash
# Builds the unit tests with AddressSanitizer + UndefinedBehaviorSanitizer,
# then with ThreadSanitizer, and runs them (ctest label "unit").
# Usage: scripts/sanitize.sh [address|thread]...   (default: both)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(address thread)
"$root/scripts/install-deps.sh" sanitize
for kind in "${kinds[@]}"; do
  build=$root/build-$kind
  echo "== $kind sanitizer build in $build"
  BUILD_DIR=$build BUILD_TYPE=Debug "$root/scripts/build.sh" -DTABULON_SANITIZE="$kind" -DTABULON_WERROR=ON
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir "$build" -L unit --output-on-failure -j"$(nproc)"
done
