#!/usr/bin/env bash
# The road of one event in real firmware, on the virtual device: one boot of
# Debian's OVMF on our QEMU (scripts/setup-qemu.sh; q35, 2 GiB so that the
# aperture at 0x92000000 is neither RAM nor a BAR, no network, no other
# display) with the controller as a PCI card behind a PCIe root port at
# 0:1C.0 (-device tavrix-display, bus 1). The boot loads the platform
# stand-in from the UEFI shell and runs the road application, which starts
# both drivers and checks them through the firmware's own PCI I/O, in detail
# no real boot order allows: early drawing into the aperture with bank
# switches, GOP, console, modes, Blt, names, option ROM, 20 reconnect cycles,
# debug level and status codes.
# The card carries no option ROM here: the road starts TavrixGopDxe itself,
# after the early drawing, so that no GOP exists while the early video driver
# draws. The ROM road is scripts/qemu-device.sh; both drivers dispatched from
# a firmware volume, and text mode, are the reference platform's road
# (scripts/qemu-platform.sh).
# At each "ROAD-SNAP" line the script captures the device's screen (QEMU's
# screendump) as PNG through the monitor socket, with the device's own
# account of it (qom-get), then answers with a key so the application goes on.
#
# Prints every "PASS: ..."/"FAIL: ..." line (the application's and this
# script's own), then where the screenshots and logs are. Exits non-zero when
# a check failed.
# Usage: scripts/qemu-road.sh [BUILD_TARGET]   (default DEBUG; the build must exist)
# Environment: ROAD_DISPLAY=gtk opens a QEMU window (default: headless);
#              ROAD_OUT=DIR puts the results elsewhere (default out/run);
#              TAVRIX_QEMU=PATH uses that qemu-system-x86_64 instead of
#              building ours (it must have -device tavrix-display).
set -uo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
. "$REPO/scripts/qemu-lib.sh"
TARGET=${1:-DEBUG}
BIN=$REPO/Build/TavrixDev/${TARGET}_GCC5/X64
OUT=${ROAD_OUT:-$REPO/out/run}
DISPLAY_KIND=${ROAD_DISPLAY:-none}
BOOT_LIMIT=150   # seconds of one boot before it counts as hung
FINISH="reset -s"
if [ "$DISPLAY_KIND" != none ]; then
  # With a window the shell stays open after the road, for a look around
  # (drivers, devices, dh); closing the window ends the boot.
  BOOT_LIMIT=3600; FINISH='echo "== close the QEMU window to go on"'
fi
MONITOR=$REPO/scripts/qemu-monitor.py
rm -rf "$OUT"; mkdir -p "$OUT"

FILES=(PlatformStandInDxe.efi TavrixRoad.efi Prelumen.efi TavrixGopDxe.efi TavrixGopDxe.rom)
for f in "${FILES[@]}"; do
  [ -f "$BIN/$f" ] || { echo "FAIL: road: $BIN/$f missing (build first: make build)"; exit 1; }
done
QEMU=${TAVRIX_QEMU:-}
if [ -z "$QEMU" ] && ! QEMU=$(bash "$REPO/scripts/setup-qemu.sh" 2>"$OUT/setup-qemu.log" | tail -n 1); then
  QEMU=
fi
[ -x "$QEMU" ] || { echo "FAIL: road: our QEMU could not be built (see $OUT/setup-qemu.log)"; exit 1; }

# qom DIR PROPERTY: one of the device's read-only properties.
qom() {
  python3 "$MONITOR" "$1/monitor.sock" "qom-get gpu $2" 2>&1 | sed -n 's/^monitor: qom-get gpu [a-z0-9-]*: *//p' | tr -d '\r'
}

# capture DIR NAME WHAT...: one snapshot through the monitor, as OUT/NAME.png.
capture() {
  local dir=$1 name=$2 kind=$3
  case "$kind" in
    device)
      # The device's screen, its size, and what the application expects of
      # the device's registers next to what the device holds ("want"/"have").
      python3 "$MONITOR" "$dir/monitor.sock" "screendump $dir/$name.ppm" &&
        python3 "$MONITOR" png-from-ppm "$dir/$name.ppm" "$OUT/$name.png"
      local size=$4
      shift 4
      {
        echo "size $(head -c 20 "$dir/$name.ppm" | tr '\n' ' ' | awk '{print $2 "x" $3}') want $size"
        echo "want $*"
        echo "have bank=$(qom "$dir" bank) selects=$(qom "$dir" bank-selects)"
      } >"$dir/$name.snap" ;;
  esac
  python3 "$MONITOR" "$dir/monitor.sock" "sendkey ret"
}

# road_boot NAME ARGS: boots with the road application run as "TavrixRoad.efi ARGS snap".
road_boot() {
  local name=$1 args=$2
  local dir=$OUT/$name
  mkdir -p "$dir"
  cat >"$dir/startup.nsh" <<NSH
@echo -off
fs0:
load PlatformStandInDxe.efi
TavrixRoad.efi $args snap
echo "== drivers"
drivers
echo "== devices"
devices
echo "== road done"
$FINISH
NSH
  qemu_make_esp "$dir/esp.img" "$dir/startup.nsh" "${FILES[@]/#/$BIN/}"
  cp "$OVMF_VARS" "$dir/vars.fd"
  : >"$dir/serial.log"
  "$QEMU" -L /usr/share/qemu -L /usr/share/seabios \
    -machine q35 -m 2048 -smp 1 -nic none -no-reboot -vga none -display "$DISPLAY_KIND" \
    -device pcie-root-port,id=rp,bus=pcie.0,addr=0x1c,chassis=1 \
    -device tavrix-display,id=gpu,bus=rp,addr=0 \
    -drive "if=pflash,format=raw,unit=0,readonly=on,file=$OVMF_CODE" \
    -drive "if=pflash,format=raw,unit=1,file=$dir/vars.fd" \
    -drive "file=$dir/esp.img,format=raw" \
    -serial "file:$dir/serial.log" -monitor "unix:$dir/monitor.sock,server=on,wait=off" \
    </dev/null >"$dir/qemu.log" 2>&1 &
  local pid=$! start=$SECONDS handled=0 line count
  while kill -0 "$pid" 2>/dev/null; do
    if [ $((SECONDS - start)) -gt "$BOOT_LIMIT" ]; then
      echo "FAIL: road: $name boot exceeded ${BOOT_LIMIT} s (stopped; see $dir/serial.log)"
      kill "$pid"; break
    fi
    # Only whole lines count: the application ends each one with " ;".
    count=$(grep -a -o 'ROAD-SNAP [^[:cntrl:]]* ;' "$dir/serial.log" | wc -l)
    while [ "$handled" -lt "$count" ]; do
      handled=$((handled + 1))
      line=$(grep -a -o 'ROAD-SNAP [^[:cntrl:]]* ;' "$dir/serial.log" | sed -n "${handled}p")
      line=${line% ;}
      # shellcheck disable=SC2086
      capture "$dir" ${line#ROAD-SNAP } >>"$dir/monitor.log" 2>&1
    done
    sleep 0.3
  done
  wait "$pid" 2>/dev/null
  sed -e 's/\x1b\[[0-9;?=]*[A-Za-z]//g' -e 's/\r//g' "$dir/serial.log" >"$dir/console.txt"
  cp "$dir/console.txt" "$OUT/$name-console.txt"
  grep -a '^ROAD-STATUS-CODE ' "$dir/console.txt" | sed "s/^ROAD-STATUS-CODE /$name: /" >>"$OUT/status-codes.log"
}

fails=0
host_check() { # host_check NAME CONDITION-COMMAND...
  local name=$1; shift
  if "$@" >/dev/null 2>&1; then echo "PASS: road: $name"; else echo "FAIL: road: $name"; fails=$((fails + 1)); fi
}
count_at_least() { [ "$(grep -a -c -E "$2" "$1")" -ge "$3" ]; }

: >"$OUT/status-codes.log"
road_boot graphics graphics
G=$OUT/graphics/console.txt

# The application's own checks, then what only the host can see.
grep -a -h -E '^(PASS|FAIL): ' "$G"
fails=$((fails + $(grep -a -c -E '^FAIL: ' "$G")))
host_check "graphics boot: the road ran to its end" grep -a -q '^ROAD-END ' "$G"
host_check "TavrixGopDxe's serial output shows its 21 starts (\"1004\" each)" count_at_least "$G" '^1004$' 21
host_check "the shell's driver list names \"Tavrix TVX  GOP Driver\"" grep -a -q 'Tavrix TVX  GOP Driver' "$G"
host_check "the shell's device list names \"Tavrix TVX  PCI Adapter\"" grep -a -q 'Tavrix TVX  PCI Adapter' "$G"
for shot in aperture console; do
  host_check "screenshot $shot.png captured" test -s "$OUT/$shot.png"
done
A=$OUT/graphics/aperture.snap
C=$OUT/graphics/console.snap
# shown FILE: the screendump has the size the application expected.
shown() { grep -q -E '^size ([0-9]+x[0-9]+) want \1$' "$1"; }
host_check "before the GOP the device shows the early 800 x 600 frame (channel B as the platform set it)" \
  grep -q '^size 800x600 want 800x600$' "$A"
host_check "the device's bank registers hold the bank Prelumen selected last, one selection per SetBank (qom-get)" \
  bash -c "want=\$(sed -n 's/^want //p' '$A'); [ -n \"\$want\" ] && grep -q \"^have \$want\$\" '$A'"
host_check "after the GOP no bank is selected any more: the device counts no further selection (qom-get)" \
  bash -c "want=\$(sed -n 's/^want //p' '$C'); [ -n \"\$want\" ] && grep -q \"^have \$want\$\" '$C' &&
           [ \"\$want\" = \"\$(sed -n 's/^want //p' '$A')\" ]"
host_check "after the GOP the device shows the console at the size of the GOP's current mode" shown "$C"

cat >"$OUT/README.txt" <<TXT
Road of one event, $(date -u '+%Y-%m-%d %H:%M UTC'), build $TARGET.
  aperture.png      the device's screen before any GOP: Prelumen's drawing into the aperture
                    at 0x92000000 (bank switches on the legacy ports), channel B at 800 x 600
  console.png       the device's screen: firmware console + Prelumen through TavrixGopDxe's GOP
  graphics/         the boot's serial.log (raw), console.txt (readable), startup.nsh, qemu.log,
                    NAME.snap (screendump size; wanted and held bank registers)
  graphics-console.txt  a copy of the readable serial log
  status-codes.log  Prelumen's status codes as the stand-in's listener kept them
TXT
echo "[road] screenshots: $OUT/console.png $OUT/aperture.png"
echo "[road] logs: $OUT/graphics-console.txt $OUT/status-codes.log"
[ "$fails" -eq 0 ]
