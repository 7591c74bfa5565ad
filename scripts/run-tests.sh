#!/usr/bin/env bash
# Runs every test tier that exists and sums the checks:
#   1. image checks on the firmware build (PE32+ X64 boot-service drivers, the
#      option ROM's PCI identity);
#   2. host test executables (Build/TavrixDevHostTest/NOOPT_GCC5/X64/*UnitTest),
#      one check per GoogleTest case; a crash or sanitizer report counts as a
#      failure of that executable;
#   3. firmware runs in QEMU (scripts/qemu-*.sh), one check per PASS/FAIL line.
# Every failure is printed with where to look. Ends with one line
# "N passed, M failed"; exits non-zero when anything failed or nothing ran.
# Environment: SKIP_QEMU=1 skips tier 3; GTEST_FILTER selects host cases.
set -uo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
cd "$REPO"
OUT=$REPO/out/tests; rm -rf "$OUT"; mkdir -p "$OUT"
passed=0; failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAILED: $*"; }

# ---- 1. image checks -------------------------------------------------------
check_images() {
  local t bin f
  for t in DEBUG RELEASE; do
    bin=Build/TavrixDev/${t}_GCC5/X64
    [ -d "$bin" ] || continue
    for f in TavrixGopDxe Prelumen; do
      if python3 scripts/check-image.py efi "$bin/$f.efi" >"$OUT/image-$t-$f.txt" 2>&1; then pass
      else fail "image $t/$f.efi: $(cat "$OUT/image-$t-$f.txt")"; fi
    done
    if python3 scripts/check-image.py rom "$bin/TavrixGopDxe.rom" >"$OUT/image-$t-rom.txt" 2>&1; then pass
    else fail "option ROM $t/TavrixGopDxe.rom: $(cat "$OUT/image-$t-rom.txt")"; fi
  done
}

# ---- 2. host tests ---------------------------------------------------------
run_host_tests() {
  local exe name xml rc counts p f
  for exe in Build/TavrixDevHostTest/NOOPT_GCC5/X64/*UnitTest; do
    [ -x "$exe" ] || continue
    name=$(basename "$exe"); xml=$OUT/$name.xml
    echo "[test] $name"
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
      "$exe" --gtest_output="xml:$xml" ${GTEST_FILTER:+--gtest_filter="$GTEST_FILTER"} >"$OUT/$name.log" 2>&1
    rc=$?
    if [ -f "$xml" ]; then
      counts=$(python3 - "$xml" <<'PY'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
bad = []
ok = 0
for case in root.iter('testcase'):
    if case.get('result', 'completed') == 'skipped' or case.get('status') == 'notrun':
        continue
    if case.find('failure') is not None or case.find('error') is not None:
        bad.append(case.get('classname') + '.' + case.get('name'))
    else:
        ok += 1
print(ok, len(bad))
for b in bad:
    print(b)
PY
)
      p=$(echo "$counts" | head -n1 | cut -d' ' -f1); f=$(echo "$counts" | head -n1 | cut -d' ' -f2)
      passed=$((passed + p))
      echo "$counts" | tail -n +2 | while read -r c; do [ -n "$c" ] && echo "FAILED: $name: $c (log: out/tests/$name.log)"; done
      failed=$((failed + f))
      if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
        fail "$name exited with status $rc after its cases passed (sanitizer or leak report?): see out/tests/$name.log"
        tail -n 20 "$OUT/$name.log"
      fi
    else
      fail "$name crashed (status $rc) before writing results: see out/tests/$name.log"
      tail -n 30 "$OUT/$name.log"
    fi
  done
}

# ---- 3. firmware runs in QEMU ---------------------------------------------
run_qemu() {
  local s name line
  for s in scripts/qemu-smoke.sh $(ls scripts/qemu-*.sh 2>/dev/null | grep -v -e qemu-smoke.sh -e qemu-lib.sh); do
    name=$(basename "$s" .sh)
    echo "[test] $name"
    bash "$s" >"$OUT/$name.log" 2>&1
    while IFS= read -r line; do
      case "$line" in
        PASS:*) pass ;;
        FAIL:*) fail "${line#FAIL: }" ;;
      esac
    done <"$OUT/$name.log"
    grep -q -E '^(PASS|FAIL):' "$OUT/$name.log" || fail "$name printed no checks: see out/tests/$name.log"
  done
}

check_images
run_host_tests
[ "${SKIP_QEMU:-0}" = 1 ] || run_qemu

total=$((passed + failed))
[ "$total" -gt 0 ] || { echo "no test ran"; echo "0 passed, 1 failed"; exit 1; }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
