#!/usr/bin/env bash
# Reliability sweeps at full size (make reliability): the *ReliabilityUnitTest
# host executables (AddressSanitizer + UBSan, on the host model) run with
# TAVRIX_RELIABILITY=full. `make test` runs the same executables at their fast
# size. Prints what each sweep covered ("[sweep]" lines) and the gtest verdict;
# logs in out/reliability/. TAVRIX_RELIABILITY_SEED=<n> changes the random inputs.
set -uo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
cd "$REPO"
bash scripts/build/build-host-tests.sh || exit 1
OUT=$REPO/out/reliability; rm -rf "$OUT"; mkdir -p "$OUT"
failed=0
for exe in Build/TavrixDevHostTest/NOOPT_GCC5/X64/*ReliabilityUnitTest; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe")
  start=$(date +%s)
  TAVRIX_RELIABILITY=full \
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$exe" >"$OUT/$name.log" 2>&1
  rc=$?
  echo "== $name (exit $rc, $(( $(date +%s) - start )) s)"
  grep -E '^\[sweep\]|^\[  (PASSED|FAILED) ' "$OUT/$name.log"
  if [ "$rc" -ne 0 ]; then
    failed=$((failed + 1)); echo "FAILED: $name: see out/reliability/$name.log"; tail -n 30 "$OUT/$name.log"
  fi
done
[ "$failed" -eq 0 ]
