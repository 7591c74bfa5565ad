#!/usr/bin/env bash
# The road from reset to the UEFI shell on the reference platform
# (TavrixRefPlatformPkg): its own firmware image, in which the DXE dispatcher
# starts both drivers from the firmware volume, on our QEMU with the card
# behind a PCIe root port (-device tavrix-display). Checked from the
# firmware's own logs, QEMU's monitor, the card's own account (QOM) and the
# road application in the UEFI shell:
#   graphics boot: PEI leaves the display-information HOB and turns the
#     aperture on; the platform's display driver installs the early display
#     protocols; Prelumen is dispatched after them and registers; the
#     platform draws its name, logo and progress line through Prelumen into
#     the aperture, with bank switches, before any console exists (held on
#     the screen until the harness has read it); the firmware enumerates the
#     controller and starts TavrixGopDxe (one instance); Prelumen follows its
#     GOP and the platform draws the picture again (held likewise); the
#     platform turns the aperture off and the memory map keeps it reserved;
#     the console comes up on the GOP. Then the shell runs the road
#     application (TavrixRoad.efi platform): what the boot left (the
#     platform's protocols and PCDs, the aperture reserved under memory
#     pressure), TavrixGopDxe stopped and connected again by the firmware,
#     its modes and Blt through the platform's PCI I/O, 20 reconnect cycles;
#   text boot (Prelumen's mode chosen at boot through the PCD database):
#     Prelumen prints into VGA text memory through the real bridge before
#     PCI enumeration and never after it, so the console comes up on the GOP
#     where the PCI bus driver placed BAR 0; its debug message reaches the
#     serial log through the platform's listener;
#   text boot at errors only, with a controller location chosen at boot
#     where no controller is: the PEIM rejects it and Prelumen keeps the
#     build's location;
#   RELEASE image: no debug output, checked from the outside.
# One "PASS: ..." or "FAIL: ..." line per check; screenshots and logs in
# out/platform/. Usage: scripts/roads/qemu-platform.sh
# Environment: ROAD_DISPLAY=gtk shows each boot in a QEMU window.
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin platform
FW=$REPO/Build/TavrixRefPlatform/DEBUG
BIN=$REPO/Build/TavrixDev/DEBUG_GCC5/X64

need_platform "$FW" "$REPO/Build/TavrixRefPlatform/RELEASE"
need_built build "$BIN/TavrixRoad.efi"
need_qemu


# The shell waits ("pause") while the harness reads the screen at "== screenshot".
esp() { # esp NAME ROAD-COMMANDS: the ESP of one boot, with the road's files
  cat >"$OUT/$1.nsh" <<NSH
@echo -off
echo "== memmap"
memmap
echo "== drivers"
drivers
echo "== screenshot"
pause
$2
echo "== done"
reset -s
NSH
  qemu_make_esp "$OUT/$1.img" "$OUT/$1.nsh=startup.nsh" "$BIN/TavrixRoad.efi"
}
esp shell ""
esp road "echo \"== road\"
fs0:
TavrixRoad.efi platform
echo \"== drivers after the road\"
drivers
echo \"== devices after the road\"
devices"

# line FILE PATTERN: number of the first matching line, or a large number.
line() { local n; n=$(grep -a -n -m1 -E "$2" "$1" | cut -d: -f1); echo "${n:-999999999}"; }
# section FILE FROM TO: the lines between two markers of the shell script.
section() { sed -n "/$2/,/$3/p" "$1"; }
# picture FILE: an 800 x 600 frame with the platform's picture: the logo's
# centre (blue, half green), a stroke of the name's first glyph and the
# progress line's colour at its start.
picture() {
  [ -f "$1" ] && python3 - "$1" <<'PY'
import sys
frame = open(sys.argv[1], "rb").read()
def pixel(x, y):
    return int.from_bytes(frame[(y * 800 + x) * 4:(y * 800 + x) * 4 + 4], "little")
centre = pixel(400, 300) == 0x00007FFF
glyph = any(pixel(x, y) == 0x00FFFFFF for y in range(16, 32) for x in range(16, 24))
bar = pixel(33, 553) == 0x0040C0FF
sys.exit(0 if centre and glyph and bar else 1)
PY
}
# shell_screen NAME: at the shell's pause, the screen and the card's account.
shell_screen() {
  if vm_wait serial.log "Enter 'q' to quit"; then
    vm_screendump "$1"
    { vm_qom bank-selects display-width display-height aperture-decodes; vm_monitor "info pci"; } >"$VM_DIR/$1-device.txt"
    vm_key
  fi
}
value() { sed -n "s/^$2 //p" "$1" 2>/dev/null | head -n1; }

# ---- graphics boot --------------------------------------------------------------
vm_start graphics "$FW/OVMF_CODE.fd" "$FW/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}" "${HOLD[@]}" \
  -drive "file=$OUT/road.img,format=raw"
G=$VM_DIR
if vm_wait debug.log 'holding the early picture .* or until a byte arrives on COM2'; then
  # Before the firmware connects the console: the aperture (guest memory at
  # 0x92000000, 800 x 600) and the card's screen (channel B, set by the PEIM).
  vm_monitor "pmemsave $TAVRIX_APERTURE_BASE 1920000 \"$G/aperture.raw\"" >/dev/null
  python3 "$MONITOR_PY" png-from-frame "$G/aperture.raw" "$G/aperture.png" 800 600
  vm_screendump early-screen
  vm_qom aperture-decodes >"$G/device-early.txt"
  vm_release
fi
# The same picture drawn again once TavrixGopDxe's GOP exists: Prelumen now
# writes into the GOP's frame buffer, BAR 0 where the firmware placed it.
if vm_wait debug.log 'holding the picture drawn through the GOP .* or until a byte arrives on COM2'; then
  gop_base=$(vm_bar0)
  [ -n "$gop_base" ] && vm_monitor "pmemsave $gop_base 1920000 \"$G/gop-frame.raw\"" >/dev/null
  python3 "$MONITOR_PY" png-from-frame "$G/gop-frame.raw" "$G/gop-frame.png" 800 600 2>/dev/null
  vm_qom bank-selects display-width display-height >"$G/device-gop.txt"
  vm_release
fi
shell_screen console
vm_finish
D=$G/debug.log; S=$G/console.txt
section "$S" '^== memmap' '^== screenshot' >"$G/shell.txt"

road_check "the platform image boots to the UEFI shell and runs its script" "$S" '== done'
road_check "PEI leaves the display-information HOB for the 800 x 600 console frame" "$D" 'display-information HOB, frame 800 x 600'
road_check "PEI finds the controller behind the root port 0:1C.0 and turns the aperture on" "$D" 'controller at 01:00.0 behind 0:1C.0, legacy VGA routed, aperture on'
protocols=$(line "$D" 'InstallProtocolInterface: 5CB3E659-9ED3-4FCB-924E-A5C15A85F158')
prelumen=$(line "$D" 'EntryPoint=.* Prelumen.efi')
if [ "$protocols" -lt 999999999 ] && [ "$protocols" -lt "$prelumen" ] && [ "$prelumen" -lt 999999999 ]; then
  road_pass "Prelumen is dispatched only after the platform installed its display protocols"
else road_fail "Prelumen is dispatched only after the platform installed its display protocols" "protocols at line $protocols, Prelumen at $prelumen of $D"; fi
road_check "Prelumen registers its graphics callbacks with the platform's display protocol" "$D" 'graphics callbacks registered'
drawn=$(line "$D" 'name and logo drawn into the 800 x 600 frame: Success, [1-9][0-9]* bank switches')
# Before the PCI bus driver finds the first device no display driver can
# have started: no console exists yet.
pci=$(line "$D" 'PciBus: Discovered PCI @')
if [ "$drawn" -lt 999999999 ] && [ "$drawn" -lt "$pci" ]; then
  road_pass "the platform draws its name and logo through Prelumen, with bank switches, before PCI enumeration"
else road_fail "the platform draws its name and logo through Prelumen, with bank switches, before PCI enumeration" "drawn at line $drawn, enumeration at $pci of $D"; fi
road_check "the progress line is drawn at the end of DXE" "$D" 'progress 1 drawn: Success'
drivers=$(grep -a -c -E 'Tavrix TVX  GOP Driver' "$G/shell.txt")
if [ "$drivers" -eq 1 ]; then road_pass "exactly one TavrixGopDxe instance registers (from the firmware volume)"
else road_fail "exactly one TavrixGopDxe instance registers (from the firmware volume)" "$drivers in the shell's drivers list"; fi
banks=$(value "$G/console-device.txt" bank-selects)
if [ "${banks:-0}" -gt 0 ] 2>/dev/null; then road_pass "Prelumen's bank selections reach the controller's bank registers ($banks)"
else road_fail "Prelumen's bank selections reach the controller's bank registers" "bank-selects '${banks}'"; fi
road_that "the aperture holds the early picture before the console exists (out/platform/graphics/aperture.png)" picture "$G/aperture.raw"
road_that "before any console the controller's screen shows the early picture at 800 x 600 (out/platform/graphics/early-screen.png)" \
  test "$(python3 "$MONITOR_PY" ppm-at "$G/early-screen.ppm" 400 300 2>/dev/null)" = "800x600 007FFF"
road_check "once TavrixGopDxe's GOP exists the platform draws the picture again through Prelumen, with no bank switch" "$D" \
  'picture drawn again through the GOP, frame buffer 0x[0-9A-Fa-f]+, mode 1 \(800 x 600\): Success, 0 bank switches since the GOP'
road_that "Prelumen follows the GOP: the picture is in the GOP's frame buffer at BAR 0 (${gop_base:-?}, out/platform/graphics/gop-frame.png)" \
  picture "$G/gop-frame.raw"
early=$(value "$G/device-gop.txt" bank-selects); later=$(value "$G/console-device.txt" bank-selects)
if [ -n "$early" ] && [ "$early" = "$later" ]; then road_pass "after the GOP no bank is selected any more: the controller counts $early selections when the GOP arrived and at the shell"
else road_fail "after the GOP no bank is selected any more" "bank selections '${early}' when the GOP arrived, '${later}' at the shell"; fi
sed -n '1,/^== memmap/p' "$S" >"$G/before-shell.txt"
road_check "the firmware enumerates the controller and starts TavrixGopDxe before the shell" "$G/before-shell.txt" '^1004$'
width=$(value "$G/console-device.txt" display-width); height=$(value "$G/console-device.txt" display-height)
road_that "the console runs on TavrixGopDxe's GOP: the controller shows 800 x 600 (out/platform/graphics/console.png)" \
  test "$width x $height" = "800 x 600"
road_check "the platform finds the enumerated controller through its PCI I/O" "$D" 'display controller enumerated at 0:01:00\.0'
early=$(value "$G/device-early.txt" aperture-decodes); later=$(value "$G/console-device.txt" aperture-decodes)
if [ "$early" = 1 ] && [ "$later" = 0 ] && grep -q 'frame aperture turned off: Prelumen follows the GOP' "$D"; then
  road_pass "the aperture decodes before the GOP and is off once Prelumen follows the GOP (controller: $early, then $later at the shell)"
else road_fail "the aperture decodes before the GOP and is off once Prelumen follows the GOP" "aperture-decodes '${early}' early, '${later}' at the shell; see $D"; fi
road_that "the UEFI memory map (the shell's memmap) keeps the aperture $TAVRIX_APERTURE_BASE-$TAVRIX_APERTURE_END reserved" \
  python3 "$APERTURE_PY" memmap "$G/shell.txt"

# The road application's own checks, then what only the host sees of them.
road_relay road "road: " "$S"
road_check "the road application ran to its end" "$S" '^ROAD-END '
starts=$(grep -a -c -E '^1004$' "$S")
road_that "TavrixGopDxe's serial output shows its 22 starts: the boot's, the road's and 20 reconnects (\"1004\" each; $starts)" \
  test "$starts" -ge 22
section "$S" '^== drivers after the road' '^== devices after the road' >"$G/drivers-after.txt"
section "$S" '^== devices after the road' '^== done' >"$G/devices-after.txt"
road_check "after the road the shell's driver list names \"Tavrix TVX  GOP Driver\"" "$G/drivers-after.txt" 'Tavrix TVX  GOP Driver'
road_check "after the road the shell's device list names \"Tavrix TVX  PCI Adapter\"" "$G/devices-after.txt" 'Tavrix TVX  PCI Adapter'

# ---- text boot ------------------------------------------------------------------
# Text mode chosen at boot; the shadow size overflows 32 bits on purpose, so
# Prelumen cannot allocate its shadow buffer and reports a warning.
TEXT=(-fw_cfg name=opt/org.tavrix/early-video-graphics-mode,string=no
      -fw_cfg name=opt/org.tavrix/early-video-shadow-width,string=32768
      -fw_cfg name=opt/org.tavrix/early-video-shadow-height,string=32767)
vm_start text "$FW/OVMF_CODE.fd" "$FW/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}" "${HOLD[@]}" "${TEXT[@]}" \
  -drive "file=$OUT/shell.img,format=raw"
T=$VM_DIR
if vm_wait debug.log 'holding the early picture .* or until a byte arrives on COM2'; then
  # Before PCI enumeration: the screen, and the controller's BAR 0 as
  # Prelumen's routing wrote it (0x91000000, of which the 32 MiB BAR keeps
  # 0x90000000).
  vm_screendump text
  vm_monitor "info pci" >"$T/monitor.txt"
  vm_release
fi
shell_screen console
vm_finish
D=$T/debug.log; S=$T/console.txt

road_check "text boot: the setting chosen at boot reaches Prelumen through the PCD database (text callback registered)" "$D" 'text callback registered'
road_check "text boot: Prelumen's debug level gets the platform default through DebugMessageConfig" "$D" 'DebugMessageConfig default, level 0x80000042: Success'
road_check "text boot: Prelumen's debug message is rendered on the serial log, its arguments formatted" "$S" 'Prelumen: no shadow buffer of 4294836224 bytes: Out of Resources'
road_check "text boot: the UEFI shell runs" "$S" '== done'
road_check "text boot: Prelumen's text reaches VGA text memory through the real bridge (read back, out/platform/text/text.png)" "$D" 'name printed: Success, ([0-9]+) of \1 text cells read back'
road_that "text boot: the controller shows 80 x 25 text (720 x 400) with the platform's lines on it" \
  bash -c "[ \"\$(python3 '$MONITOR_PY' ppm-at '$T/text.ppm' 0 0 | cut -d' ' -f1)\" = 720x400 ] && python3 '$MONITOR_PY' ppm-has-content '$T/text.ppm' 2000"
road_check "text boot: Prelumen's routing wrote the controller's BAR 0 (0x90000000 in QEMU's PCI view)" "$T/monitor.txt" \
  'BAR0: 32 bit (prefetchable )?memory at 0x90000000'
road_check "text boot: after PCI enumeration the platform prints no more (the end of DXE comes after it)" "$D" \
  'progress 1 not printed: PCI enumeration is done'
# At the shell BAR 0 lies where the PCI bus driver placed it: inside the
# root port's memory window, as QEMU's PCI view has both (Prelumen's
# 0x91000000 lies outside the window the bus driver gives the root port).
bar_in_window() {
  python3 - "$1" <<'PY'
import re, sys
text = open(sys.argv[1], errors="replace").read()
bridge = re.search(r"PCI bridge: PCI device 1b36:000c.*?\n\s*memory range \[(0x[0-9a-f]+), (0x[0-9a-f]+)\]", text, re.S)
card = re.search(r"PCI device 19e5:1711.*?BAR0: 32 bit (?:prefetchable )?memory at (0x[0-9a-f]+) \[(0x[0-9a-f]+)\]", text, re.S)
ok = bridge and card and int(bridge.group(1), 16) <= int(card.group(1), 16) and int(card.group(2), 16) <= int(bridge.group(2), 16)
sys.exit(0 if ok else 1)
PY
}
road_that "text boot: at the shell BAR 0 lies inside the root port's window, where the PCI bus driver placed it (QEMU's PCI view)" \
  bar_in_window "$T/console-device.txt"
road_that "text boot: the console on TavrixGopDxe's GOP shows the shell (800 x 600, out/platform/text/console.png)" \
  bash -c "[ \"\$(python3 '$MONITOR_PY' ppm-at '$T/console.ppm' 0 0 | cut -d' ' -f1)\" = 800x600 ] && python3 '$MONITOR_PY' ppm-has-content '$T/console.ppm' 2000"

# ---- text boot, errors only -------------------------------------------------------
# The same warning at a debug level of errors only: withheld. The controller
# location chosen at boot (bus 0, device 1) is not behind the bridge: the
# PEIM rejects it, and Prelumen, which writes the command and BAR 0 registers
# of whatever sits at its location on every print, keeps the build's: its
# BAR 0 write reaches the controller (seen while the early text is held;
# text memory itself reads back on this machine even where nothing decodes
# it, so it tells nothing here).
vm_start text-errors-only "$FW/OVMF_CODE.fd" "$FW/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}" "${HOLD[@]}" "${TEXT[@]}" \
  -fw_cfg name=opt/org.tavrix/early-video-debug-level,string=0x80000000 \
  -fw_cfg name=opt/org.tavrix/early-video-device-location,string=00010000 \
  -drive "file=$OUT/shell.img,format=raw"
Q=$VM_DIR
if vm_wait debug.log 'holding the early picture .* or until a byte arrives on COM2'; then
  vm_monitor "info pci" >"$Q/monitor.txt"
  vm_release
fi
shell_screen console
vm_finish
if grep -q 'text callback registered' "$Q/debug.log" && grep -q 'DebugMessageConfig default, level 0x80000000: Success' "$Q/debug.log" &&
   grep -q '== done' "$Q/console.txt" && ! grep -q 'no shadow buffer' "$Q/console.txt"; then
  road_pass "text boot at level 0x80000000 (errors only): the same warning is withheld"
else road_fail "text boot at level 0x80000000 (errors only): the same warning is withheld" "see $Q/debug.log and $Q/console.txt"; fi
road_check "a controller location chosen at boot that is not behind the bridge is rejected, and the log says the build's stays" "$Q/debug.log" \
  'location chosen at boot rejected, the build.s stays \(bridge 0x1C/0x0, controller 0x01000000\)'
road_check "with the rejected location Prelumen's text output routes the controller at the build's location (its BAR 0 write, 0x90000000 in QEMU's PCI view)" \
  "$Q/monitor.txt" 'BAR0: 32 bit (prefetchable )?memory at 0x90000000'

# ---- RELEASE image ----------------------------------------------------------------
# No debug output at all: what shows is the controller's own account and the shell.
FW=$REPO/Build/TavrixRefPlatform/RELEASE
vm_start release "$FW/OVMF_CODE.fd" "$FW/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}" -drive "file=$OUT/shell.img,format=raw"
R=$VM_DIR
shell_screen console
vm_finish
road_check "RELEASE image: boots to the UEFI shell and runs its script" "$R/console.txt" '== done'
drivers=$(grep -a -c -E 'Tavrix TVX  GOP Driver' "$R/console.txt")
if [ "$drivers" -eq 1 ]; then road_pass "RELEASE image: exactly one TavrixGopDxe instance registers"
else road_fail "RELEASE image: exactly one TavrixGopDxe instance registers" "$drivers in the shell's drivers list"; fi
if grep -a -q -E '^1004$|ASSERT|Prelumen:' "$R/console.txt"; then road_fail "RELEASE image: the serial log carries no driver output" "see $R/console.txt"
else road_pass "RELEASE image: the serial log carries no driver output"; fi
banks=$(value "$R/console-device.txt" bank-selects); width=$(value "$R/console-device.txt" display-width); height=$(value "$R/console-device.txt" display-height)
if [ "${banks:-0}" -gt 0 ] 2>/dev/null && [ "$width" = 800 ] && [ "$height" = 600 ]; then
  road_pass "RELEASE image: Prelumen drew through the banks ($banks selections) and the console runs on the GOP at 800 x 600"
else road_fail "RELEASE image: Prelumen drew through the banks and the console runs on the GOP at 800 x 600" "bank-selects '${banks}', display '${width}' x '${height}'"; fi

# The road in the logs' own words, in order: the first line of each step.
excerpt() { # excerpt FILE PATTERN: "file:line: text" of the first match
  grep -a -n -m1 -E "$2" "$1" | sed "s|^|$(basename "$(dirname "$1")")/$(basename "$1"):|"
}
{
  excerpt "$G/debug.log" 'PlatformEarlyVideoPei: display-information HOB'
  excerpt "$G/debug.log" 'PlatformEarlyVideoPei: controller at'
  excerpt "$G/debug.log" 'EntryPoint=.* PlatformEarlyDisplayDxe.efi'
  excerpt "$G/debug.log" 'EntryPoint=.* Prelumen.efi'
  excerpt "$G/debug.log" 'graphics callbacks registered'
  excerpt "$G/debug.log" 'name and logo drawn'
  excerpt "$G/debug.log" 'PciBus: Discovered PCI @ \[01\|00\|00\]'
  excerpt "$G/console.txt" '^1004$'
  excerpt "$G/debug.log" 'picture drawn again through the GOP'
  excerpt "$G/debug.log" 'GraphicsConsole video resolution'
  excerpt "$G/console.txt" '^ROAD-BEGIN'
  excerpt "$G/console.txt" '^ROAD-END'
  excerpt "$T/debug.log" 'text callback registered'
  excerpt "$T/debug.log" 'name printed'
  excerpt "$T/console.txt" 'Prelumen: no shadow buffer'
} >"$OUT/excerpts.txt" 2>/dev/null

cat >"$OUT/README.txt" <<TXT
The road from reset to the shell on the reference platform, $(date -u '+%Y-%m-%d %H:%M UTC').
  graphics/aperture.png      the aperture at 0x92000000 before any console: the platform's name,
                             logo and progress line drawn by Prelumen with bank switches
  graphics/early-screen.png  the controller's screen at that moment (channel B, set in PEI)
  graphics/gop-frame.png     the same picture drawn again once TavrixGopDxe's GOP exists,
                             read from the GOP's frame buffer (no bank switch)
  graphics/console.png       the UEFI shell on TavrixGopDxe's GOP (800 x 600)
  text/text.png              text mode: Prelumen's text in VGA text memory (80 x 25)
  text/console.png           text mode: the UEFI shell on TavrixGopDxe's GOP
  release/console.png        the RELEASE image's shell
  */debug.log                the firmware's DEBUG log (port 0x402)
  */console.txt              the serial log: the shell, TavrixGopDxe's "1004", Prelumen's status
                             codes, the road application's checks
  excerpts.txt               the first log line of each step of the road, in order
TXT
road_status
