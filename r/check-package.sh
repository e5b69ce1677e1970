#!/usr/bin/env bash
# Builds the package's tarball and runs R CMD check on it, as CRAN would:
#   r/check-package.sh [TABULON_SO]
# Fails on any ERROR or WARNING; NOTEs are printed (README.md says which
# are expected). Exit status 77 (skipped) when R or testthat is missing.
# The check installs the tarball outside the repository, so the header
# comes from TABULON_INCLUDE and the library from TABULON_LIBRARY.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
command -v R >/dev/null || { echo "R is not installed" >&2; exit 77; }
Rscript -e 'quit(status = !requireNamespace("testthat", quietly = TRUE))' ||
  { echo "the R package testthat is not installed" >&2; exit 77; }
[ $# -ge 1 ] && export TABULON_LIBRARY=$(realpath "$1")
export TABULON_INCLUDE=${TABULON_INCLUDE:-$root/include}
export TABULON_SOURCE_DIR=${TABULON_SOURCE_DIR:-$root}
export TZ=${TZ:-UTC}
# No network here: the check must not ask for the time or for CRAN's lists.
export _R_CHECK_SYSTEM_CLOCK_=0 _R_CHECK_CRAN_INCOMING_REMOTE_=false
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A copy, so that building never writes into the source tree.
cp -r "$here" "$work/tabulon"
(cd "$work/tabulon" && ./cleanup)
cd "$work"
R CMD build --no-build-vignettes tabulon >build.log 2>&1 || { cat build.log >&2; exit 1; }
tarball=$(ls tabulon_*.tar.gz)
status=0
R CMD check --no-manual "$tarball" >check.log 2>&1 || status=$?
cat check.log
if [ $status -ne 0 ] || grep -Eq "^Status: .*(ERROR|WARNING)" check.log; then
  for log in tabulon.Rcheck/00install.out tabulon.Rcheck/tests/testthat.Rout.fail; do
    [ -f "$log" ] && { echo "== $log"; tail -50 "$log"; }
  done
  exit 1
fi
