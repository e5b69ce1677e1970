#!/usr/bin/env bash
# Installs the Debian packages needed for a purpose, only those missing:
#   scripts/install-deps.sh [PURPOSE...]     (default: all)
#     cli       build the library and the command-line program
#     python    cli, and the Python module with read_frame (pandas)
#     r         cli, and the R package
#     tests     everything ./scripts/test.sh runs: the unit tests, the
#               Python, R and command-line tests and their peers
#     fuzz      cli, and clang with its fuzzing and sanitizer runtimes
#     sanitize  the unit tests, built with the sanitizers
#     all       every purpose above
# Runs apt-get only for what is missing; needs root (or sudo) for that.
set -euo pipefail
cli=(build-essential cmake pkg-config libzip-dev libisal-dev zlib1g-dev)
python=(python3 python3-numpy python3-pandas)
r=(r-base-dev r-cran-tibble r-cran-vctrs)  # the R package imports tibble and vctrs
unit=(libgtest-dev libbenchmark-dev)
peers=(python3-venv python3-openpyxl python3-dask python3-distributed xlsx2csv r-cran-testthat r-cran-readxl
       r-cran-cellranger)
fuzz=(clang libclang-rt-14-dev)

purposes=("$@")
[ ${#purposes[@]} -eq 0 ] && purposes=(all)
packages=("${cli[@]}")
for purpose in "${purposes[@]}"; do
  case $purpose in
    cli) ;;
    python) packages+=("${python[@]}") ;;
    r) packages+=("${r[@]}") ;;
    tests) packages+=("${python[@]}" "${r[@]}" "${unit[@]}" "${peers[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    sanitize) packages+=("${unit[@]}" python3) ;;
    all) packages+=("${python[@]}" "${r[@]}" "${unit[@]}" "${peers[@]}" "${fuzz[@]}") ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d' >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
