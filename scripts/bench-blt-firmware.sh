#!/usr/bin/env bash
# Blt cost in the firmware: one boot of Debian's OVMF on our QEMU under
# -icount shift=0 (guest time advances by one nanosecond per instruction, so
# the time-stamp counter counts instructions) with two display controllers:
#   - ours, -device tavrix-display,romfile=<RELEASE TavrixGopDxe.rom> behind a
#     root port: the firmware loads TavrixGopDxe from the card's ROM and its
#     Blt goes through the PCI bus driver's PCI I/O;
#   - QEMU's standard VGA (-device VGA), driven by OVMF's own QemuVideoDxe,
#     whose Blt is FrameBufferBltLib writing the frame buffer directly.
# The boot manager runs TavrixDevPkg/Bench/FirmwareBlt (TavrixFirmwareBlt.efi)
# from the boot disk, which sets 1280 x 1024 on both GOPs and times eight Blt
# cases on each.
# Writes out/bench/blt-firmware.txt (the table with ours / peer) and prints
# it; exits non-zero when the run gave no complete table. No target: these
# are the figures behind docs/PERFORMANCE.md.
# Environment: TAVRIX_QEMU=PATH as for qemu-road.sh.
set -uo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
. "$REPO/scripts/qemu-lib.sh"
BIN=$REPO/Build/TavrixDev/RELEASE_GCC5/X64
OUT=$REPO/out/bench/blt-firmware
rm -rf "$OUT"; mkdir -p "$OUT"
for f in TavrixFirmwareBlt.efi TavrixGopDxe.rom; do
  [ -f "$BIN/$f" ] || { echo "[bench-blt-firmware] $BIN/$f missing (make build)"; exit 1; }
done
QEMU=${TAVRIX_QEMU:-$(bash "$REPO/scripts/setup-qemu.sh" 2>"$OUT/setup-qemu.log" | tail -n 1)}
[ -x "$QEMU" ] || { echo "[bench-blt-firmware] our QEMU could not be built (see $OUT/setup-qemu.log)"; exit 1; }

# The application is the volume's removable-media boot file: the boot
# manager starts it without the shell, whose start-up countdown would take
# minutes (a guest second is 10^9 guest instructions), and it powers the
# machine off at the end.
rm -f "$OUT/esp.img"
mkfs.fat -C "$OUT/esp.img" 16384 >/dev/null
mmd -i "$OUT/esp.img" ::/EFI ::/EFI/BOOT
mcopy -i "$OUT/esp.img" "$BIN/TavrixFirmwareBlt.efi" ::/EFI/BOOT/BOOTX64.EFI
: >"$OUT/serial.log"
cp "$OVMF_VARS" "$OUT/vars.fd"
echo "[bench-blt-firmware] one boot under -icount shift=0 (a few minutes)"
start=$SECONDS
timeout --foreground -k 5 1500 "$QEMU" -L /usr/share/qemu -L /usr/share/seabios \
  -machine q35 -m 2048 -smp 1 -nic none -no-reboot -display none -icount shift=0 -vga none \
  -device VGA \
  -device pcie-root-port,id=rp,bus=pcie.0,addr=0x1c,chassis=1 \
  -device "tavrix-display,bus=rp,addr=0,romfile=$BIN/TavrixGopDxe.rom" \
  -drive "if=pflash,format=raw,unit=0,readonly=on,file=$OVMF_CODE" \
  -drive "if=pflash,format=raw,unit=1,file=$OUT/vars.fd" \
  -drive "file=$OUT/esp.img,format=raw" \
  -serial "file:$OUT/serial.log" -monitor none </dev/null >"$OUT/qemu.log" 2>&1
sed -e 's/\x1b\[[0-9;?=]*[A-Za-z]//g' -e 's/\r//g' "$OUT/serial.log" >"$OUT/console.txt"
echo "[bench-blt-firmware] boot took $((SECONDS - start)) s" >"$OUT/timing.txt"

python3 - "$OUT/console.txt" "$REPO/out/bench/blt-firmware.txt" <<'PY'
import re, sys
ticks = {}
for line in open(sys.argv[1], errors="replace"):
    m = re.match(r"BLT-COST (ours|peer) (\S+) (\d+) (\d+)\s*$", line)
    if m:
        ticks[(m.group(1), m.group(2))] = int(m.group(4))
cases = ["fill-full", "buffer-to-video-full", "video-to-buffer-full", "video-to-video-full",
         "fill-glyph", "buffer-to-video-glyph", "video-to-buffer-glyph", "video-to-video-glyph"]
rows = ["| case | peer (QemuVideoDxe, FrameBufferBltLib) | ours (TavrixGopDxe, PCI I/O) | ours / peer |",
        "|---|---:|---:|---:|"]
missing = [c for c in cases if ("ours", c) not in ticks or ("peer", c) not in ticks]
for c in cases:
    if c in missing:
        rows.append(f"| {c} | {ticks.get(('peer', c), '-')} | {ticks.get(('ours', c), '-')} | - |")
        continue
    p, o = ticks[("peer", c)], ticks[("ours", c)]
    rows.append(f"| {c} | {p:,} | {o:,} | {o / p:.2f} |")
text = "\n".join(rows) + "\n"
open(sys.argv[2], "w").write("Time-stamp ticks per Blt call at 1280 x 1024 under -icount shift=0 (1 tick = 1 guest instruction)\n" + text)
print(text, end="")
sys.exit(1 if missing else 0)
PY
rc=$?
cat "$OUT/timing.txt"
exit $rc
