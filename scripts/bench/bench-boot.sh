#!/usr/bin/env bash
# Boot time and console output on the reference platform, ours beside the
# peer, measured with EDK II's own performance infrastructure: the
# platform's performance variant (build-platform.sh with
# PLATFORM_VARIANT=Performance: the DXE core's performance records, the firmware
# performance data table, the shell's dp command), RELEASE, under -icount
# shift=0, where guest time and the time-stamp counter count guest
# instructions (1 ns = 1 instruction), whatever the host's load.
#
# Each side boots three times with one variable store:
#   ours: -device tavrix-display behind a root port (TavrixGopDxe and
#     Prelumen from the firmware volume); peer: -device VGA,edid=off (QEMU's
#     standard VGA, OVMF's QemuVideoDxe, in the same image; without EDID,
#     because QemuVideoDxe otherwise takes the EDID's 1280 x 800 as the
#     console's resolution in place of the platform's 800 x 600);
#   the boot manager starts TavrixBootBench.efi (the ESP's removable-media
#     boot file), which marks the time-stamp counter and starts the shell on
#     bench.nsh without its countdown; the script marks the counter again;
#   boot "dp": runs "dp -A -t 0 -n 999999" (every record, the serial log),
#     then TavrixFirmwareBlt.efi, which times SetMode of each of the GOP's
#     modes (and the Blt cases of bench-blt-firmware.sh);
#   boot "800": the console at the platform's 800 x 600, prints a file of
#     LINES lines with "type" between two marks and stores OVMF's
#     PlatformConfig variable asking for 1280 x 1024;
#   boot "1280": the console at 1280 x 1024, the same file between marks.
#   The console boots have no serial port, so that the shell's output goes
#   to the graphics console only and the figures are its own; their marks
#   go to QEMU's debug console.
# Writes out/bench/boot.txt (the tables), prints it and puts the table into
# docs/PERFORMANCE.md between its marks; logs and dp's output
# in out/bench/boot/. Exits non-zero when a figure is missing.
# Environment: TAVRIX_QEMU=PATH as for the roads; LINES (default 400).
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin bench-boot "$REPO/out/bench/boot"
BIN=$REPO/Build/TavrixDev/RELEASE_GCC5/X64
FW=$REPO/Build/TavrixRefPlatform/RELEASE-performance
LINES=${LINES:-400}
need_built build "$BIN/TavrixBootBench.efi" "$BIN/TavrixFirmwareBlt.efi"
need_built build-platform-perf "$FW/OVMF_CODE.fd" "$FW/OVMF_VARS.fd"
need_qemu

# The printed file: numbered lines of 72 characters, enough to scroll the
# screen LINES - rows times.
for i in $(seq 1 "$LINES"); do printf 'line %04d of the console benchmark: the quick brown fox jumps over.\r\n' "$i"; done >"$OUT/lines.txt"

# esp NAME SCRIPT-BODY: a boot disk with the benchmark's files and bench.nsh.
esp() {
  {
    echo "@echo -off"
    echo "fs0:"
    echo "TavrixBootBench.efi tsc shell"
    echo "TavrixBootBench.efi tsc mark-1"
    echo "TavrixBootBench.efi tsc mark-2"
    echo "$2"
    echo "reset -s"
  } >"$OUT/$1.nsh"
  ESP_MIB=16 qemu_make_esp "$OUT/$1.img" "$BIN/TavrixBootBench.efi=EFI/BOOT/BOOTX64.EFI" "$BIN/TavrixBootBench.efi" \
    "$BIN/TavrixFirmwareBlt.efi" "$OUT/lines.txt" "$OUT/$1.nsh=bench.nsh"
}
esp dp "echo \"== dp -A\"
dp -A -t 0 -n 999999
echo \"== dp\"
dp
echo \"== dp end\"
TavrixFirmwareBlt.efi"
TYPE="TavrixBootBench.efi tsc type-start
type lines.txt
TavrixBootBench.efi tsc type-end"
esp 800 "$TYPE
setvar PlatformConfig -guid 7235C51C-0C80-4CAB-87AC-3B084A6304B1 -nv -bs =0005000000040000"
esp 1280 "$TYPE"

# boot SIDE NAME DISPLAY-OPTIONS...: one boot of SIDE's machine from disk
# NAME, the variable store kept from boot to boot; what it printed in
# $OUT/SIDE-NAME.txt (the serial log, or the debug console for the console
# boots, which have no serial port).
boot() {
  local side=$1 name=$2 vars=$OUT/$1/vars.fd serial=none log=debug.log; shift 2
  [ "$name" = dp ] && { vars=$FW/OVMF_VARS.fd; serial=file:$OUT/$side/serial.log; log=serial.log; }
  VM_SERIAL=$serial vm_start "$side" "$FW/OVMF_CODE.fd" "$vars" -icount shift=0,sleep=off "$@" \
    -drive "file=$OUT/$name.img,format=raw,snapshot=on"
  vm_finish
  console_text "$VM_DIR/$log" "$OUT/$side-$name.txt"
}
OURS=("${CARD_BEHIND_ROOT_PORT[@]}")
PEER=(-device VGA,edid=off)
for side in ours peer; do
  if [ $side = ours ]; then opts=("${OURS[@]}"); else opts=("${PEER[@]}"); fi
  for name in dp 800 1280; do boot $side $name "${opts[@]}"; done
done

python3 "$REPO/scripts/bench/bench-boot-table.py" "$OUT" "$LINES" "$REPO/out/bench/boot.txt" || exit 1

# The table goes into docs/PERFORMANCE.md between its two marks, with the
# commit it measured (and a word when the tree had uncommitted changes).
commit=$(git -C "$REPO" rev-parse --short HEAD)
git -C "$REPO" diff --quiet HEAD -- . ':!docs/PERFORMANCE.md' || commit="$commit with uncommitted changes"
python3 - "$REPO/docs/PERFORMANCE.md" "$REPO/out/bench/boot.txt" "$commit" "$(date -u +%Y-%m-%d)" <<'PY'
import sys
doc, table, commit, day = sys.argv[1:]
begin, end = "<!-- make bench-boot: from here to the end mark -->\n", "<!-- make bench-boot: end -->\n"
text = open(doc).read()
if text.count(begin) != 1 or text.count(end) != 1 or text.index(begin) > text.index(end):
    sys.exit("[bench-boot] %s has not one pair of the table's marks; the table is in %s" % (doc, table))
rows = [line for line in open(table) if line.startswith("|")]
block = "Measured on commit `%s`, %s. Guest instructions:\n\n%s" % (commit, day, "".join(rows))
head, rest = text.split(begin)
open(doc, "w").write(head + begin + block + end + rest.split(end, 1)[1])
print("[bench-boot] the table is in %s" % doc)
PY
