#!/usr/bin/env bash
# Installs the package into a temporary library and runs its tests there:
#   r/test-package.sh [TABULON_SO]
# Exit status 77 (skipped) when R or testthat is missing. TABULON_SO, when
# given, becomes TABULON_LIBRARY for the tests.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v Rscript >/dev/null && command -v R >/dev/null || { echo "R is not installed" >&2; exit 77; }
Rscript -e 'quit(status = !requireNamespace("testthat", quietly = TRUE))' ||
  { echo "the R package testthat is not installed" >&2; exit 77; }
[ $# -ge 1 ] && export TABULON_LIBRARY=$(realpath "$1")
library=$(mktemp -d)
trap 'rm -rf "$library"' EXIT
# The C glue is held to the repository's warnings.
printf 'CFLAGS += -Wall -Wextra -Werror\n' > "$library/Makevars"
export R_MAKEVARS_USER=$library/Makevars
if ! R CMD INSTALL --no-test-load -l "$library" "$here" >"$library/install.log" 2>&1; then
  cat "$library/install.log" >&2
  exit 1
fi
export R_LIBS="$library${R_LIBS:+:$R_LIBS}"
# testthat compares date-times through Sys.timezone(), which needs a zone.
export TZ=${TZ:-UTC}
export TABULON_SOURCE_DIR=${TABULON_SOURCE_DIR:-$(cd "$here/.." && pwd)}
cd "$here/tests/testthat"
Rscript -e 'library(tabulon); testthat::test_dir(".", package = "tabulon", load_package = "none", stop_on_failure = TRUE, reporter = testthat::ProgressReporter$new(show_praise = FALSE))'
