#!/usr/bin/env bash
# The GOP road on the virtual device: Debian's OVMF on our QEMU
# (scripts/setup-qemu.sh) with the controller as a real PCI card,
# -device tavrix-display,romfile=TavrixGopDxe.rom, and no other display.
# No stand-in and no shell "load": the firmware's PCI bus driver finds the
# card, loads TavrixGopDxe from its option ROM, and the boot manager puts the
# console on its GOP. Two boots:
#   1. DEBUG ROM: the shell's pci, drivers and dh, then the road application
#      in "device" mode: the driver from the ROM, its GOP and child, every
#      mode (each captured at its size), Blt, names, 20 reconnect cycles and
#      a UART window;
#   2. RELEASE ROM: the same start and a UART window that must stay empty.
# At each "ROAD-SNAP" line the script takes QEMU's screendump of the device
# and reads the device's own idea of the picture (qom-get display-width,
# display-height), then answers with a key.
#
# Prints one "PASS: device: ..."/"FAIL: device: ..." line per check. Exits
# non-zero when a check failed.
# Environment: DEVICE_OUT=DIR puts the results elsewhere (default out/device).
set -uo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
. "$REPO/scripts/qemu-lib.sh"
OUT=${DEVICE_OUT:-$REPO/out/device}
MONITOR=$REPO/scripts/qemu-monitor.py
BOOT_LIMIT=240
DEBUG_BIN=$REPO/Build/TavrixDev/DEBUG_GCC5/X64
RELEASE_BIN=$REPO/Build/TavrixDev/RELEASE_GCC5/X64
rm -rf "$OUT"; mkdir -p "$OUT"

for f in "$DEBUG_BIN/TavrixGopDxe.rom" "$DEBUG_BIN/TavrixRoad.efi" "$RELEASE_BIN/TavrixGopDxe.rom"; do
  [ -f "$f" ] || { echo "FAIL: device: $f missing (build first: make build)"; exit 1; }
done
if ! QEMU=$(bash "$REPO/scripts/setup-qemu.sh" 2>"$OUT/setup-qemu.log" | tail -n 1) || [ ! -x "$QEMU" ]; then
  echo "FAIL: device: our QEMU could not be built (see $OUT/setup-qemu.log)"; exit 1
fi

fails=0
check() { # check NAME CONDITION-COMMAND...
  local name=$1; shift
  if "$@" >/dev/null 2>&1; then echo "PASS: device: $name"; else echo "FAIL: device: $name"; fails=$((fails + 1)); fi
}

# qom DIR PROPERTY: one of the device's read-only properties.
qom() {
  python3 "$MONITOR" "$1/monitor.sock" "qom-get gpu $2" 2>&1 | sed -n 's/^monitor: qom-get gpu [a-z0-9-]*: *//p' | tr -d '\r'
}

# capture DIR BOOT NAME: the screen as OUT/BOOT-NAME.png, with what the
# device says it shows in OUT/BOOT-NAME.txt ("ppm WxH device WxH").
capture() {
  local dir=$1 boot=$2 name=$3
  python3 "$MONITOR" "$dir/monitor.sock" "screendump $dir/$name.ppm" &&
    python3 "$MONITOR" png-from-ppm "$dir/$name.ppm" "$OUT/$boot-$name.png"
  local size
  size=$(head -c 20 "$dir/$name.ppm" | tr '\n' ' ' | awk '{print $2 "x" $3}')
  echo "ppm $size device $(qom "$dir" display-width)x$(qom "$dir" display-height)" >"$OUT/$boot-$name.txt"
  echo "crtc-88 $(qom "$dir" crtc-88)" >>"$OUT/$boot-$name.txt"
  python3 "$MONITOR" "$dir/monitor.sock" "sendkey ret"
}

# device_boot NAME ROM ROAD-ARGS: one boot with the card's ROM.
device_boot() {
  local name=$1 rom=$2 args=$3
  local dir=$OUT/$name
  mkdir -p "$dir"
  cat >"$dir/startup.nsh" <<NSH
@echo -off
echo "== pci"
pci
echo "== drivers"
drivers
echo "== dh"
dh -p GraphicsOutput
dh -p DevicePath
echo "== road"
fs0:
TavrixRoad.efi $args snap
echo "== road done"
reset -s
NSH
  qemu_make_esp "$dir/esp.img" "$dir/startup.nsh" "$DEBUG_BIN/TavrixRoad.efi"
  cp "$OVMF_VARS" "$dir/vars.fd"
  : >"$dir/serial.log"
  "$QEMU" -L /usr/share/qemu -L /usr/share/seabios \
    -machine q35 -m 2048 -smp 1 -nic none -no-reboot -vga none -display none \
    -device "tavrix-display,id=gpu,romfile=$rom" \
    -drive "if=pflash,format=raw,unit=0,readonly=on,file=$OVMF_CODE" \
    -drive "if=pflash,format=raw,unit=1,file=$dir/vars.fd" \
    -drive "file=$dir/esp.img,format=raw" \
    -serial "file:$dir/serial.log" -monitor "unix:$dir/monitor.sock,server=on,wait=off" \
    </dev/null >"$dir/qemu.log" 2>&1 &
  local pid=$! start=$SECONDS handled=0 line count
  while kill -0 "$pid" 2>/dev/null; do
    if [ $((SECONDS - start)) -gt "$BOOT_LIMIT" ]; then
      echo "FAIL: device: $name boot exceeded ${BOOT_LIMIT} s (stopped; see $dir/serial.log)"
      fails=$((fails + 1)); kill "$pid"; break
    fi
    count=$(grep -a -o 'ROAD-SNAP [^[:cntrl:]]* ;' "$dir/serial.log" | wc -l)
    while [ "$handled" -lt "$count" ]; do
      handled=$((handled + 1))
      line=$(grep -a -o 'ROAD-SNAP [^[:cntrl:]]* ;' "$dir/serial.log" | sed -n "${handled}p")
      line=${line#ROAD-SNAP }
      capture "$dir" "$name" "${line%% *}" >>"$dir/monitor.log" 2>&1
    done
    sleep 0.3
  done
  wait "$pid" 2>/dev/null
  echo "[device] $name boot: $((SECONDS - start)) s" >>"$OUT/timings.txt"
  sed -e 's/\x1b\[[0-9;?=]*[A-Za-z]//g' -e 's/\r//g' "$dir/serial.log" >"$dir/console.txt"
}

# shown BOOT NAME: the screendump and the device agree on the size in NAME.
shown() {
  local want=${2##*-}
  grep -q "^ppm $want device $want$" "$OUT/$1-$2.txt"
}


device_boot device "$DEBUG_BIN/TavrixGopDxe.rom" device
device_boot release "$RELEASE_BIN/TavrixGopDxe.rom" device-release
D=$OUT/device/console.txt
R=$OUT/release/console.txt

grep -a -h -E '^(PASS|FAIL): ' "$D" "$R" | sed 's/^\(PASS\|FAIL\): road: /\1: device: /'
fails=$((fails + $(cat "$D" "$R" | grep -a -c -E '^FAIL: ')))
check "DEBUG boot: the road ran to its end" grep -a -q '^ROAD-END ' "$D"
check "RELEASE boot: the road ran to its end" grep -a -q '^ROAD-END ' "$R"
check "the firmware connected the driver during boot, before the shell (DEBUG \"1004\" on the UART)" \
  bash -c "sed -n '1,/^== pci/p' '$D' | grep -a -q '^1004$'"
check "shell pci lists the card: vendor 19E5, device 1711, VGA display controller" \
  grep -a -q -i 'Vendor 19E5 Device 1711' "$D"
check "shell drivers lists \"Tavrix TVX  GOP Driver\" loaded from the ROM (Offset(...))" \
  grep -a -q -E 'Tavrix TVX  GOP Driver.*Offset\(' "$D"
check "shell dh shows our GOP on PciRoot(0x0)/Pci(...)" \
  bash -c "sed -n '/^== dh/,/^== road/p' '$D' | grep -a -q -E 'PciRoot\(0x0\)/Pci\(0x[0-9A-F]+,0x0\).*GraphicsOutput|GraphicsOutput.*PciRoot\(0x0\)/Pci\(0x[0-9A-F]+,0x0\)'"
# The shell abbreviates long paths from the left ("..0x1,0x0)/AcpiAdr(...)").
slot=$(sed -n '/^== dh/,/^== road/p' "$D" | grep -a -o -E 'GraphicsOutput.*DevicePath\(PciRoot\(0x0\)/Pci\(0x[0-9A-F]+,0x[0-9A-F]+\)\)' |
       head -n 1 | sed -E 's/.*Pci\((0x[0-9A-F]+,0x[0-9A-F]+)\).*/\1/')
check "shell dh shows the child AcpiAdr(0x80010100) under our GOP's PciRoot(0x0)/Pci(${slot:-?})" \
  bash -c "[ -n '$slot' ] && sed -n '/^== dh/,/^== road/p' '$D' | grep -a -q -F '$slot)/AcpiAdr(0x80010100)'"

for boot in device release; do
  shot=$(ls "$OUT/$boot"-firmware-screen-*.txt 2>/dev/null | head -n 1)
  shot=$(basename "${shot:-none}" .txt); shot=${shot#$boot-}
  check "$boot boot: the screendump shows the firmware's screen at the size the driver programmed (${shot##*-})" \
    shown "$boot" "$shot"
  check "$boot boot: the mode set's extended CRT write reached the device through PCI I/O (0x88 = 0x06)" \
    grep -q '^crtc-88 6$' "$OUT/$boot-$shot.txt"
  check "$boot boot: the firmware's screen has text on it" \
    python3 "$MONITOR" ppm-has-content "$OUT/$boot/$shot.ppm" 500
done
for mode in 0-640x480 1-800x600 2-1024x768 3-1280x1024; do
  check "mode $mode shows at its size (screendump and device), corner squares in place" \
    bash -c "grep -q '^ppm ${mode#*-} device ${mode#*-}$' '$OUT/device-mode-$mode.txt' &&
             python3 '$MONITOR' ppm-corners '$OUT/device/mode-$mode.ppm'"
done
check "DEBUG ROM: its messages reach the UART inside the window (a positive control)" \
  bash -c "uart_window() { sed -n '/^ROAD-UART-BEGIN ;\$/,/^ROAD-UART-END ;\$/p' \"\$1\" | sed '1d;\$d'; }; uart_window '$D' | grep -a -q '^1004$'"
check "RELEASE ROM: no byte on the UART through 3 disconnect/connect cycles" \
  bash -c "grep -a -q '^ROAD-UART-END ;$' '$R' && [ -z \"\$(sed -n '/^ROAD-UART-BEGIN ;\$/,/^ROAD-UART-END ;\$/p' '$R' | sed '1d;\$d' | tr -d '[:space:]')\" ]"
check "RELEASE ROM: no debug message of the driver anywhere in the boot" \
  bash -c "! grep -a -q -E '^1004$|ASSERT|line:[0-9]+,Status' '$R'"

cat >"$OUT/README.txt" <<TXT
GOP road on the virtual device, $(date -u '+%Y-%m-%d %H:%M UTC').
  device-firmware-screen-WxH.png   the shell on our GOP, DEBUG ROM (QEMU screendump of tavrix-display)
  device-mode-N-WxH.png            each mode's test picture
  release-firmware-screen-WxH.png  the shell on our GOP, RELEASE ROM
  *.txt                            screendump size and the device's display-width x display-height
  device/, release/                per boot: serial.log, console.txt (pci, drivers, dh, road), startup.nsh, qemu.log
  timings.txt                      seconds per boot
TXT
cat "$OUT/timings.txt"
echo "[device] screenshots and logs: $OUT"
[ "$fails" -eq 0 ]
