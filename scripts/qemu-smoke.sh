#!/usr/bin/env bash
# QEMU smoke run: boots Debian's OVMF headless (q35, no network, -no-reboot,
# hard time limit) with a FAT image holding both drivers and a startup script,
# loads them from the UEFI shell and checks the shell's answers:
#   - TavrixGopDxe loads and stays resident (it shows in `drivers`);
#   - Prelumen, with no display protocol installed, fails with Not Found.
# Prints one "PASS: ..." or "FAIL: ..." line per check; exits non-zero on failure.
# Usage: scripts/qemu-smoke.sh [BUILD_TARGET]   (default DEBUG; the build must exist)
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
. "$REPO/scripts/qemu-lib.sh"
TARGET=${1:-DEBUG}
BIN=$REPO/Build/TavrixDev/${TARGET}_GCC5/X64
OUT=$REPO/out/smoke; rm -rf "$OUT"; mkdir -p "$OUT"

cat >"$OUT/startup.nsh" <<'NSH'
@echo -off
fs0:
echo "== load TavrixGopDxe"
load TavrixGopDxe.efi
echo "== load Prelumen"
load Prelumen.efi
echo "== drivers"
drivers
echo "== done"
reset -s
NSH
qemu_make_esp "$OUT/esp.img" "$OUT/startup.nsh" "$BIN/TavrixGopDxe.efi" "$BIN/Prelumen.efi"
qemu_boot "$OUT" 120 -drive "file=$OUT/esp.img,format=raw" || true
LOG=$OUT/console.txt

fails=0
check() { # check NAME PATTERN
  if grep -q -E "$2" "$LOG"; then echo "PASS: smoke: $1"; else echo "FAIL: smoke: $1 (no match for /$2/ in $LOG)"; fails=$((fails + 1)); fi
}
check "UEFI shell ran the startup script" '== done'
check "TavrixGopDxe loads" "Image 'FS0:\\\\TavrixGopDxe.efi' loaded at .* - Success"
check "TavrixGopDxe stays resident, listed by drivers with its name" '^ *[0-9A-F]+ [0-9A-F]{8} .*Tavrix TVX  GOP Driver +.*TavrixGopDxe.efi'
check "Prelumen without a display protocol fails with Not Found" "Image 'FS0:\\\\Prelumen.efi' error in StartImage: Not Found"
[ "$fails" -eq 0 ]
