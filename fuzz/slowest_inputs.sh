#!/usr/bin/env bash
# Times every input of each target's working corpus (and its kept
# regressions) on its own and prints the slowest per megabyte, among
# inputs of at least MIN_BYTES (default 256). The figures come from the
# fuzz build, sanitizers included: several times slower than a release
# build.
#   fuzz/slowest_inputs.sh [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
corpus=${FUZZ_CORPUS:-$root/fuzz/corpus-work}
min=${MIN_BYTES:-256}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(archive sheet_list relationships shared_strings styles references
                                     serial_date xml_text xml_scan row_parser sheet_render library)
jobs=$(nproc); [ "$jobs" -gt 2 ] && jobs=2
cmake --build "$build" -j"$jobs" $(printf -- '--target replay_%s ' "${targets[@]}") >/dev/null
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
for t in "${targets[@]}"; do
  mapfile -t files < <(find "$corpus/$t" "$root/fuzz/regressions/$t" -maxdepth 1 -type f \
                         -size +$((min - 1))c 2>/dev/null)
  if [ ${#files[@]} -eq 0 ]; then
    echo "$t: no input of $min bytes or more"
    continue
  fi
  printf '%s\n' "${files[@]}" | xargs -d '\n' -n 100 "$build/fuzz/replay_$t" 2>/dev/null |
    awk -v t="$t" '
      { rate = $2 / $1 * 1048576 / 1000; n++; total += $1;
        if (rate > worst) { worst = rate; wbytes = $1; wus = $2; wfile = $3 } }
      END { if (n) printf "%s: %d inputs (%.1f MB); slowest %.0f ms per MB (%d bytes in %.0f us, %s)\n",
                          t, n, total / 1048576, worst, wbytes, wus, wfile }'
done
