#!/usr/bin/env bash
# QEMU smoke run: boots Debian's OVMF headless (q35, no network, -no-reboot,
# hard time limit) with a FAT image holding both drivers and a startup script,
# loads them from the UEFI shell and checks the shell's answers:
#   - TavrixGopDxe loads and stays resident (it shows in `drivers`);
#   - Prelumen, with no display protocol installed, fails with Not Found.
# Prints one "PASS: ..." or "FAIL: ..." line per check; exits non-zero on failure.
# Usage: scripts/roads/qemu-smoke.sh [BUILD_TARGET]   (default DEBUG; the build must exist)
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin smoke
TARGET=${1:-DEBUG}
BIN=$REPO/Build/TavrixDev/${TARGET}_GCC5/X64

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
VM_MEMORY=512 vm_start boot "$OVMF_CODE" "$OVMF_VARS" -drive "file=$OUT/esp.img,format=raw"
vm_finish
LOG=$VM_DIR/console.txt

road_check "UEFI shell ran the startup script" "$LOG" '== done'
road_check "TavrixGopDxe loads" "$LOG" "Image 'FS0:\\\\TavrixGopDxe.efi' loaded at .* - Success"
road_check "TavrixGopDxe stays resident, listed by drivers with its name" "$LOG" '^ *[0-9A-F]+ [0-9A-F]{8} .*Tavrix TVX  GOP Driver +.*TavrixGopDxe.efi'
road_check "Prelumen without a display protocol fails with Not Found" "$LOG" "Image 'FS0:\\\\Prelumen.efi' error in StartImage: Not Found"
road_status
