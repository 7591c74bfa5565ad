#!/usr/bin/env bash
# Blt and SetMode cost in the firmware, ours beside the peer in the same
# boot, before and after the reference platform's faster PCI I/O path. Two
# boots of our QEMU under -icount shift=0 (guest time advances by one
# nanosecond per instruction, so the time-stamp counter counts
# instructions), each with two display controllers:
#   - ours, -device tavrix-display behind a root port;
#   - QEMU's standard VGA (-device VGA), driven by OVMF's own QemuVideoDxe,
#     whose Blt is FrameBufferBltLib writing the frame buffer directly.
# "before": Debian's OVMF as packaged, TavrixGopDxe (RELEASE) from the card's
#   option ROM; its PCI I/O ends in OVMF's CPU I/O driver, one MmioWrite32
#   or MmioRead32 call per 32-bit element.
# "after": the reference platform's RELEASE image (TavrixRefPlatformPkg),
#   TavrixGopDxe from its firmware volume; its CPU I/O driver moves a run of
#   32-bit elements with one rep movsd / rep stosd.
# The boot manager runs TavrixDevPkg/Bench/FirmwareBlt (TavrixFirmwareBlt.efi)
# from the boot disk, which times SetMode of every mode and, at 1280 x 1024,
# eight Blt cases on each GOP.
# Writes out/bench/blt-firmware.txt (the tables) and prints it; exits
# non-zero when a run gave no complete table or the "after" figures miss a
# target: full-screen fill and copies at most 2 x the peer, glyph-sized
# fill and copies at most 3 x, video-to-video at most 4 x (it moves every
# row twice).
# Environment: TAVRIX_QEMU=PATH, a QEMU with -device tavrix-display (default: our build).
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin bench-blt-firmware "$REPO/out/bench/blt-firmware"
BIN=$REPO/Build/TavrixDev/RELEASE_GCC5/X64
FW=$REPO/Build/TavrixRefPlatform/RELEASE
need_built build "$BIN/TavrixFirmwareBlt.efi" "$BIN/TavrixGopDxe.rom"
need_platform "$FW"
need_qemu

# The application is the volume's removable-media boot file: the boot
# manager starts it without the shell, whose start-up countdown would take
# minutes (a guest second is 10^9 guest instructions), and it powers the
# machine off at the end.
ESP_MIB=16 qemu_make_esp "$OUT/esp.img" "$BIN/TavrixFirmwareBlt.efi=EFI/BOOT/BOOTX64.EFI"

# boot NAME CODE VARS: one boot with the card of CARD; its console in
# $OUT/NAME/console.txt. One serial port, as the recorded figures had: a
# second one would be one more console for the firmware to poll.
boot() {
  echo "[$ROAD] $1: one boot under -icount shift=0 (a few minutes)"
  VM_MEMORY=2048 VM_SERIAL=file:$OUT/$1/serial.log vm_start "$1" "$2" "$3" -icount shift=0 -device VGA "${CARD[@]}" \
    -drive "file=$OUT/esp.img,format=raw,snapshot=on"
  vm_finish
}
card_with_rom "$BIN/TavrixGopDxe.rom"
CARD=("${CARD_WITH_ROM[@]}"); boot before "$OVMF_CODE" "$OVMF_VARS"
CARD=("${CARD_BEHIND_ROOT_PORT[@]}"); boot after "$FW/OVMF_CODE.fd" "$FW/OVMF_VARS.fd"

python3 "$REPO/scripts/bench/bench-blt-firmware-table.py" "$OUT/before/console.txt" "$OUT/after/console.txt" \
  "$REPO/out/bench/blt-firmware.txt"
rc=$?
[ $rc -eq 0 ] || echo "[bench-blt-firmware] a figure is missing or a target is missed"
exit $rc
