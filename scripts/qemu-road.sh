#!/usr/bin/env bash
# The road of one event in real firmware: two boots of Debian's OVMF under QEMU
# (q35, 2.5 GiB so that the aperture at 0x92000000 is RAM, QEMU's standard VGA,
# no network), each loading the platform stand-in from the UEFI shell and
# running the road application, which starts both drivers and checks them:
#   1. graphics boot: the whole road (early drawing, GOP, console, modes, Blt,
#      names, option ROM, 20 reconnect cycles, debug level and status codes);
#   2. text boot: the early video driver in text mode, printing into VGA text
#      memory, which the machine VGA shows.
# At each "ROAD-SNAP" line the script captures the screen (QEMU's screendump)
# or a frame in guest memory (pmemsave) as PNG through the monitor socket, then
# answers with a key so the application goes on.
#
# Prints every "PASS: ..."/"FAIL: ..." line (the application's and this
# script's own), then where the screenshots and logs are. Exits non-zero when
# a check failed.
# Usage: scripts/qemu-road.sh [BUILD_TARGET]   (default DEBUG; the build must exist)
# Environment: ROAD_DISPLAY=gtk opens a QEMU window (default: headless);
#              ROAD_OUT=DIR puts the results elsewhere (default out/run).
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

# capture DIR NAME WHAT...: one snapshot through the monitor, as OUT/NAME.png.
capture() {
  local dir=$1 name=$2 kind=$3
  case "$kind" in
    screen)
      python3 "$MONITOR" "$dir/monitor.sock" "screendump $dir/$name.ppm" &&
        python3 "$MONITOR" png-from-ppm "$dir/$name.ppm" "$OUT/$name.png" ;;
    memory)
      local base=$4 width=$5 height=$6
      python3 "$MONITOR" "$dir/monitor.sock" "pmemsave $base $((width * height * 4)) \"$dir/$name.raw\"" &&
        python3 "$MONITOR" png-from-frame "$dir/$name.raw" "$OUT/$name.png" "$width" "$height" ;;
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
  qemu-system-x86_64 \
    -machine q35 -m 2560 -smp 1 -nic none -no-reboot -vga std -display "$DISPLAY_KIND" \
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
road_boot text text
G=$OUT/graphics/console.txt
T=$OUT/text/console.txt

# The application's own checks, then what only the host can see.
grep -a -h -E '^(PASS|FAIL): ' "$G" "$T"
fails=$((fails + $(cat "$G" "$T" | grep -a -c -E '^FAIL: ')))
host_check "graphics boot: the road ran to its end" grep -a -q '^ROAD-END ' "$G"
host_check "text boot: the road ran to its end" grep -a -q '^ROAD-END ' "$T"
host_check "TavrixGopDxe's serial output shows its 21 starts (\"1004\" each)" count_at_least "$G" '^1004$' 21
host_check "the shell's driver list names \"Tavrix TVX  GOP Driver\"" grep -a -q 'Tavrix TVX  GOP Driver' "$G"
host_check "the shell's device list names \"Tavrix TVX  PCI Adapter\"" grep -a -q 'Tavrix TVX  PCI Adapter' "$G"
for shot in aperture console text; do
  host_check "screenshot $shot.png captured" test -s "$OUT/$shot.png"
done

cat >"$OUT/README.txt" <<TXT
Road of one event, $(date -u '+%Y-%m-%d %H:%M UTC'), build $TARGET.
  aperture.png      the aperture at 0x92000000 before any GOP (guest memory)
  console.png       QEMU's screen: firmware console + Prelumen through TavrixGopDxe's GOP
  text.png          QEMU's screen in the text-mode boot (VGA text memory)
  graphics/, text/  per boot: serial.log (raw), console.txt (readable), startup.nsh, qemu.log
  *-console.txt     copies of the two readable serial logs
  status-codes.log  Prelumen's status codes as the stand-in's listener kept them
TXT
echo "[road] screenshots: $OUT/console.png $OUT/aperture.png $OUT/text.png"
echo "[road] logs: $OUT/graphics-console.txt $OUT/text-console.txt $OUT/status-codes.log"
[ "$fails" -eq 0 ]
