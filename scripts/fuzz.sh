#!/usr/bin/env bash
# Builds the fuzz targets (clang, sanitizers) and runs each for SECONDS.
#   scripts/fuzz.sh SECONDS [TARGET...]        e.g. scripts/fuzz.sh 20
# Before fuzzing, a target replays its kept regression inputs
# (fuzz/regressions/<target>/). One target runs at a time.
# Environment:
#   FUZZ_BUILD_DIR   build folder (default build-fuzz)
#   FUZZ_CORPUS      working corpus, one folder per target (default fuzz/corpus-work)
#   FUZZ_NO_BUILD    1: run the targets as last built
#   FUZZ_KEEP_GOING  1: fork mode, go on after a crash (long runs); crashes are
#                    still saved and make the script fail
# Crashing inputs go to $FUZZ_CORPUS/artifacts/<target>/, logs next to them;
# one line per run is appended to $FUZZ_CORPUS/stats.tsv.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
corpus=${FUZZ_CORPUS:-$root/fuzz/corpus-work}
mapfile -t all_targets < <(grep -E '^[a-z_]+$' "$root/fuzz/targets.txt")
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

if [ "${FUZZ_NO_BUILD:-0}" != 1 ]; then
  "$root/scripts/install-deps.sh" fuzz >/dev/null
  if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTABULON_FUZZ=ON -DTABULON_TESTS=OFF -DTABULON_WERROR=ON >/dev/null
  fi
  jobs=$(nproc); [ "$jobs" -gt 2 ] && jobs=2
  cmake --build "$build" -j"$jobs" --target fuzz_all >/dev/null
fi
seeds=$build/fuzz-seeds
rm -rf "$seeds"
"$build/fuzz/fuzz_make_seeds" "$seeds"

dict_for() {
  case $1 in
    archive|library) echo "-dict=$root/fuzz/zip.dict" ;;
    references|serial_date) ;;
    *) echo "-dict=$root/fuzz/xml.dict" ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for t in "${targets[@]}"; do
  bin=$build/fuzz/fuzz_$t
  work=$corpus/$t
  artifacts=$corpus/artifacts/$t
  mkdir -p "$work" "$artifacts" "$seeds/$t"
  log=$artifacts/run-$(date -u +%Y%m%dT%H%M%S).log

  regressions=$root/fuzz/regressions/$t
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    if ! "$bin" -rss_limit_mb=2048 -timeout=30 "$regressions"/* >"$log.regressions" 2>&1; then
      echo "$t: a kept regression input fails (see $log.regressions)"
      grep -m2 -E 'ERROR|invariant broken|runtime error' "$log.regressions" | sed 's/^/  /' || true
      failed+=("$t")
      [ "${FUZZ_KEEP_GOING:-0}" = 1 ] || continue
    fi
  fi

  flags=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536
         -print_final_stats=1 -artifact_prefix="$artifacts/" $(dict_for "$t"))
  if [ "${FUZZ_KEEP_GOING:-0}" = 1 ]; then
    flags+=(-fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1)
  fi
  before=$(find "$artifacts" -maxdepth 1 -type f ! -name '*.log*' | wc -l)
  status=0
  "$bin" "${flags[@]}" "$work" "$seeds/$t" >"$log" 2>&1 || status=$?
  after=$(find "$artifacts" -maxdepth 1 -type f ! -name '*.log*' | wc -l)

  execs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+$' || true)
  [ -z "$execs" ] && execs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#' || true)
  peak=$(grep -oE 'stat::peak_rss_mb: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+$' || true)
  new=$((after - before))
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$t" "$seconds" "${execs:-0}" "$new" "${peak:-?}" \
    >>"$corpus/stats.tsv"
  echo "$t: ${execs:-0} executions in ${seconds}s, $new new crash inputs, exit $status"
  if [ "$status" -ne 0 ] || [ "$new" -ne 0 ]; then
    echo "  log: $log"
    grep -m3 -E 'ERROR|invariant broken|runtime error|Test unit written' "$log" | sed 's/^/  /' || true
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}"
  exit 1
fi
