#!/usr/bin/env bash
# Builds the host test executables (NOOPT, AddressSanitizer + UBSan).
# Outputs: Build/TavrixDevHostTest/NOOPT_GCC5/X64/*UnitTest
set -euo pipefail
. "$(dirname "$0")/../lib/edk2-env.sh"
cd "$REPO"
echo "[build] TavrixDevHostTest.dsc NOOPT"
mkdir -p Build; log=Build/build-host.log
if ! build -p TavrixDevPkg/TavrixDevHostTest.dsc -a X64 -t GCC5 -b NOOPT -n "$(nproc)" "$@" >"$log" 2>&1; then
  grep -E -A3 ': error|error:|Error [0-9]' "$log" | head -n 60; echo "[build] failed; full log in $log"; exit 1
fi
