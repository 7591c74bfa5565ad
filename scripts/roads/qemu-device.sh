#!/usr/bin/env bash
# The GOP road on the virtual device: Debian's OVMF on our QEMU
# (scripts/build/setup-qemu.sh) with the controller as a real PCI card,
# -device tavrix-display,romfile=TavrixGopDxe.rom, and no other display.
# No stand-in and no shell "load": the firmware's PCI bus driver finds the
# card, loads TavrixGopDxe from its option ROM, and the boot manager puts the
# console on its GOP. Two boots:
#   1. DEBUG ROM: the shell's pci, drivers and dh, then the road application
#      in "device" mode: the driver from the ROM, its GOP and child, every
#      mode (each captured at its size), Blt, names, 20 reconnect cycles and
#      a UART window;
#   2. RELEASE ROM: the same start and a UART window that must stay empty;
#   3. no ROM, the card behind a PCI bridge: the shell's mm turns on the
#      bridge's VGA forwarding, the card's decoding and its aperture, prints
#      into VGA text memory, selects a bank and writes through the aperture;
#      the host reads the text screen, the bank registers and BAR 0.
# At each "ROAD-SNAP" line the script takes QEMU's screendump of the device
# and reads the device's own idea of the picture (qom-get display-width,
# display-height), then answers with a key.
#
# Prints one "PASS: device: ..."/"FAIL: device: ..." line per check. Exits
# non-zero when a check failed.
# Environment: DEVICE_OUT=DIR puts the results elsewhere (default out/device).
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin device "${DEVICE_OUT:-}"
DEBUG_BIN=$REPO/Build/TavrixDev/DEBUG_GCC5/X64
RELEASE_BIN=$REPO/Build/TavrixDev/RELEASE_GCC5/X64
VM_MEMORY=2048

need_built build "$DEBUG_BIN/TavrixGopDxe.rom" "$DEBUG_BIN/TavrixRoad.efi" "$RELEASE_BIN/TavrixGopDxe.rom"
need_qemu

# device_snapshot NAME KIND...: the screen as OUT/BOOT-NAME.png, with what
# the device says it shows in OUT/BOOT-NAME.txt ("ppm WxH device WxH").
device_snapshot() {
  local name=$1 boot
  boot=$(basename "$VM_DIR")
  vm_screendump "$name"
  cp "$VM_DIR/$name.png" "$OUT/$boot-$name.png"
  {
    echo "ppm $(python3 "$MONITOR_PY" ppm-at "$VM_DIR/$name.ppm" 0 0 | cut -d' ' -f1)" \
         "device $(vm_qom display-width | cut -d' ' -f2)x$(vm_qom display-height | cut -d' ' -f2)"
    echo "crtc-88 $(vm_qom crtc-88 | cut -d' ' -f2)"
  } >"$OUT/$boot-$name.txt"
}

# device_boot NAME ROM ROAD-ARGS: one boot with the card's ROM.
device_boot() {
  local name=$1 rom=$2 args=$3
  mkdir -p "$OUT/$name"
  cat >"$OUT/$name/startup.nsh" <<NSH
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
  qemu_make_esp "$OUT/$name/esp.img" "$OUT/$name/startup.nsh" "$DEBUG_BIN/TavrixRoad.efi"
  vm_start "$name" "$OVMF_CODE" "$OVMF_VARS" -device "tavrix-display,id=gpu,romfile=$rom" \
    -drive "file=$OUT/$name/esp.img,format=raw"
  vm_serve_snapshots device_snapshot
  vm_finish 2>>"$OUT/timings.txt"
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

# legacy_boot: the card without ROM behind a bridge at 00:1C.0 (secondary
# bus 1), driven by the shell's mm alone.
legacy_boot() {
  local dir=$OUT/legacy
  mkdir -p "$dir"
  {
    echo '@echo -off'
    echo 'mm 0000000001000004 03 -PCI -w 1 -n'        # card: I/O and memory decoding
    echo 'mm B8144 4F58 -MEM -w 2 -n'                 # an X at row 2, column 2: not forwarded yet
    echo 'mm 00000000001C003E 08 -PCI -w 1 -n'        # bridge control: VGA enable
    echo 'mm 0000000001000040 01 -PCI -w 1 -n'        # card: aperture on
    local text="TAVRIX TEXT MODE" i=0 c
    while [ $i -lt ${#text} ]; do
      c=$(printf '%02X' "'${text:$i:1}")
      printf 'mm %X 1F%s -MEM -w 2 -n\n' $((0xB8000 + 2 * (80 * 12 + 32 + i))) "$c"
      i=$((i + 1))
    done
    echo 'mm 3D4 A5 -IO -w 1 -n'                      # bank 0x123, as the early video driver selects it
    echo 'mm 3D5 11 -IO -w 1 -n'
    echo 'mm 3CB 22 -IO -w 1 -n'
    echo 'mm 3CD 33 -IO -w 1 -n'
    echo 'mm 92123450 5AA5C33C -MEM -w 4 -n'          # through the aperture
    echo 'echo "ROAD-SNAP legacy-text screen ;"'
    echo 'pause -q'
    echo 'echo "== released"'
    echo 'reset -s'
  } >"$dir/startup.nsh"
  qemu_make_esp "$dir/esp.img" "$dir/startup.nsh"
  vm_start legacy "$OVMF_CODE" "$OVMF_VARS" \
    -device pci-bridge,id=br,chassis_nr=1,addr=0x1c -device tavrix-display,id=gpu,bus=br,addr=0 \
    -drive "file=$dir/esp.img,format=raw"
  if vm_wait serial.log 'ROAD-SNAP legacy-text screen ;'; then
    {
      vm_screendump legacy-text
      cp "$dir/legacy-text.png" "$OUT/legacy-text.png"
      vm_qom bank bank-selects crtc-a5 aperture-decodes display-width
      local bar0
      bar0=$(vm_bar0)
      echo "bar0 $bar0"
      vm_monitor "xp /1wx $((bar0 + 0x123450))" | tr -d '\r' | sed -n 's/.*: *\(0x[0-9a-f]*\)$/bar0-word \1/p'
    } >"$dir/probed" 2>&1
    vm_key
  fi
  vm_finish 2>>"$OUT/timings.txt"
}
legacy_boot
L=$OUT/legacy/probed

road_relay road "" "$D" "$R"
road_that "DEBUG boot: the road ran to its end" grep -a -q '^ROAD-END ' "$D"
road_that "RELEASE boot: the road ran to its end" grep -a -q '^ROAD-END ' "$R"
road_that "the firmware connected the driver during boot, before the shell (DEBUG \"1004\" on the UART)" \
  bash -c "sed -n '1,/^== pci/p' '$D' | grep -a -q '^1004$'"
road_that "shell pci lists the card: vendor 19E5, device 1711, VGA display controller" \
  grep -a -q -i 'Vendor 19E5 Device 1711' "$D"
road_that "shell drivers lists \"Tavrix TVX  GOP Driver\" loaded from the ROM (Offset(...))" \
  grep -a -q -E 'Tavrix TVX  GOP Driver.*Offset\(' "$D"
road_that "shell dh shows our GOP on PciRoot(0x0)/Pci(...)" \
  bash -c "sed -n '/^== dh/,/^== road/p' '$D' | grep -a -q -E 'PciRoot\(0x0\)/Pci\(0x[0-9A-F]+,0x0\).*GraphicsOutput|GraphicsOutput.*PciRoot\(0x0\)/Pci\(0x[0-9A-F]+,0x0\)'"
# The shell abbreviates long paths from the left ("..0x1,0x0)/AcpiAdr(...)").
slot=$(sed -n '/^== dh/,/^== road/p' "$D" | grep -a -o -E 'GraphicsOutput.*DevicePath\(PciRoot\(0x0\)/Pci\(0x[0-9A-F]+,0x[0-9A-F]+\)\)' |
       head -n 1 | sed -E 's/.*Pci\((0x[0-9A-F]+,0x[0-9A-F]+)\).*/\1/')
road_that "shell dh shows the child AcpiAdr(0x80010100) under our GOP's PciRoot(0x0)/Pci(${slot:-?})" \
  bash -c "[ -n '$slot' ] && sed -n '/^== dh/,/^== road/p' '$D' | grep -a -q -F '$slot)/AcpiAdr(0x80010100)'"

for boot in device release; do
  shot=$(ls "$OUT/$boot"-firmware-screen-*.txt 2>/dev/null | head -n 1)
  shot=$(basename "${shot:-none}" .txt); shot=${shot#$boot-}
  road_that "$boot boot: the screendump shows the firmware's screen at the size the driver programmed (${shot##*-})" \
    shown "$boot" "$shot"
  road_that "$boot boot: the mode set's extended CRT write reached the device through PCI I/O (0x88 = 0x06)" \
    grep -q '^crtc-88 6$' "$OUT/$boot-$shot.txt"
  road_that "$boot boot: the firmware's screen has text on it" \
    python3 "$MONITOR_PY" ppm-has-content "$OUT/$boot/$shot.ppm" 500
done
number=0
for size in $TAVRIX_GOP_MODES; do
  mode=$number-$size; number=$((number + 1))
  road_that "mode $mode shows at its size (screendump and device), corner squares in place" \
    bash -c "grep -q '^ppm ${mode#*-} device ${mode#*-}$' '$OUT/device-mode-$mode.txt' &&
             python3 '$MONITOR_PY' ppm-corners '$OUT/device/mode-$mode.ppm'"
done
road_that "DEBUG ROM: its messages reach the UART inside the window (a positive control)" \
  bash -c "uart_window() { sed -n '/^ROAD-UART-BEGIN ;\$/,/^ROAD-UART-END ;\$/p' \"\$1\" | sed '1d;\$d'; }; uart_window '$D' | grep -a -q '^1004$'"
road_that "RELEASE ROM: no byte on the UART through 3 disconnect/connect cycles" \
  bash -c "grep -a -q '^ROAD-UART-END ;$' '$R' && [ -z \"\$(sed -n '/^ROAD-UART-BEGIN ;\$/,/^ROAD-UART-END ;\$/p' '$R' | sed '1d;\$d' | tr -d '[:space:]')\" ]"
road_that "RELEASE ROM: no debug message of the driver anywhere in the boot" \
  bash -c "! grep -a -q -E '^1004$|ASSERT|line:[0-9]+,Status' '$R'"

road_that "behind a bridge with VGA forwarding, VGA text memory shows as 80 x 25 text (720 x 400) with the string" \
  bash -c "head -c 20 '$OUT/legacy/legacy-text.ppm' | tr '\n' ' ' | grep -q '^P6 720 400 ' &&
           python3 '$MONITOR_PY' ppm-has-content '$OUT/legacy/legacy-text.ppm' 300"
road_that "without the bridge's VGA enable, a store to VGA text memory does not reach the card" \
  python3 "$MONITOR_PY" ppm-black "$OUT/legacy/legacy-text.ppm" 18 32 9 16
road_that "bank ports 0xA5/0x3CB/0x3CD select bank 0x123, one selection counted" \
  bash -c "grep -q '^bank 291$' '$L' && grep -q '^bank-selects 1$' '$L' && grep -q '^crtc-a5 17$' '$L'"
road_that "configuration register 0x40 bit 0 turns the aperture on; nothing shown on channel B" \
  bash -c "grep -q '^aperture-decodes 1$' '$L' && grep -q '^display-width 0$' '$L'"
road_that "a word written at 0x92123450 lands at BAR 0 offset 0x123450 (the full offset, no bank folding)" \
  grep -q '^bar0-word 0x5aa5c33c$' "$L"

cat >"$OUT/README.txt" <<TXT
GOP road on the virtual device, $(date -u '+%Y-%m-%d %H:%M UTC').
  device-firmware-screen-WxH.png   the shell on our GOP, DEBUG ROM (QEMU screendump of tavrix-display)
  device-mode-N-WxH.png            each mode's test picture
  release-firmware-screen-WxH.png  the shell on our GOP, RELEASE ROM
  legacy-text.png                  the card behind a bridge, no ROM: VGA text written by the shell's mm
  *.txt                            screendump size and the device's display-width x display-height
  device/, release/                per boot: serial.log, console.txt (pci, drivers, dh, road), startup.nsh, qemu.log
  timings.txt                      seconds per boot
TXT
cat "$OUT/timings.txt"
echo "[device] screenshots and logs: $OUT"
road_status
