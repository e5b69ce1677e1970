#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and use the library.
# Runs apt-get only for what is missing; needs root (or sudo) for that.
set -euo pipefail
packages=(build-essential cmake pkg-config libzip-dev libisal-dev zlib1g-dev
          libgtest-dev libbenchmark-dev python3 python3-pandas python3-openpyxl
          python3-numpy python3-dask python3-distributed xlsx2csv
          clang libclang-rt-14-dev
          r-base-dev r-cran-testthat r-cran-tibble r-cran-vctrs r-cran-readxl
          r-cran-cellranger)
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
