#!/usr/bin/env bash
# The reference platform's road (TavrixRefPlatformPkg): boots the platform's
# own firmware image, in which the DXE dispatcher starts both drivers from
# the firmware volume, and checks the road of one event in dispatch order
# from the firmware's own logs, QEMU's monitor and the UEFI shell:
#   graphics boot: PEI leaves the display-information HOB and turns the
#     aperture on; the platform's display driver installs the early display
#     protocols; Prelumen is dispatched after them and registers; the
#     platform draws its name, logo and progress line through Prelumen into
#     the aperture, with bank switches, before any console exists; the
#     firmware enumerates the controller and starts TavrixGopDxe (one
#     instance); the console comes up on its GOP;
#     once Prelumen follows the GOP the platform turns the aperture off, and
#     the UEFI memory map keeps its range reserved;
#   text boot (Prelumen's mode chosen at boot through the PCD database):
#     Prelumen prints into VGA text memory through the real bridge before
#     PCI enumeration and never after it, so the console comes up on the GOP
#     where the PCI bus driver placed BAR 0; its debug message reaches the
#     serial log through the platform's listener;
#   text boot at errors only, with a controller location chosen at boot
#     where no controller is: the PEIM rejects it and Prelumen keeps the
#     build's location.
# On QEMU with the virtual controller (-device tavrix-display, built by the
# project's set-up into the cache) every check runs; on Debian's QEMU the
# checks that need the controller are left out and the script says so.
# One "PASS: ..." or "FAIL: ..." line per check; screenshots and logs in
# out/platform/. The RELEASE image (no debug output) boots once more, checked
# from the outside. Usage: scripts/qemu-platform.sh
# Environment: ROAD_DISPLAY=gtk shows each boot in a QEMU window (it closes
# when the boot powers off).
set -uo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
. "$REPO/scripts/qemu-lib.sh"
FW=$REPO/Build/TavrixRefPlatform/DEBUG
OUT=$REPO/out/platform; rm -rf "$OUT"; mkdir -p "$OUT"
MONITOR=$REPO/scripts/qemu-monitor.py
CACHE_DIR=${TAVRIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrix-fw}

bash "$REPO/scripts/build-platform.sh" DEBUG RELEASE || { echo "FAIL: platform: the DEBUG and RELEASE images build"; exit 1; }

# The QEMU with the controller, when the project's set-up has built it.
QEMU=qemu-system-x86_64
DEVICE=0
# setup-qemu.sh rebuilds it when the device's sources changed.
DEVICE_QEMU=$(bash "$REPO/scripts/setup-qemu.sh" | tail -n1) || DEVICE_QEMU=$CACHE_DIR/qemu-build/qemu-system-x86_64
if [ -x "$DEVICE_QEMU" ] && "$DEVICE_QEMU" -device help 2>/dev/null | grep -q '"tavrix-display"'; then
  QEMU=$DEVICE_QEMU; DEVICE=1
  MACHINE=(-L /usr/share/qemu -L /usr/share/seabios -vga none
           -device pcie-root-port,id=rp0,bus=pcie.0,addr=0x1c.0,chassis=1
           -device tavrix-display,id=gpu,bus=rp0,addr=0x0)
else
  echo "[platform] no QEMU with -device tavrix-display: the checks that need the controller are left out"
  MACHINE=(-vga none)
fi

cat >"$OUT/startup.nsh" <<'NSH'
@echo -off
echo "== memmap"
memmap
echo "== drivers"
drivers
echo "== screenshot"
stall 3000000
echo "== done"
reset -s
NSH
qemu_make_esp "$OUT/esp.img" "$OUT/startup.nsh"

fails=0
pass() { echo "PASS: platform: $1"; }
fail() { echo "FAIL: platform: $1${2:+ ($2)}"; fails=$((fails + 1)); }
check() { # check NAME FILE PATTERN
  if grep -q -E "$3" "$2"; then pass "$1"; else fail "$1" "no /$3/ in $2"; fi
}
# line FILE PATTERN: number of the first matching line, or a large number.
line() { local n; n=$(grep -n -m1 -E "$2" "$1" | cut -d: -f1); echo "${n:-999999999}"; }
monitor() { python3 "$MONITOR" "$1/monitor.sock" "${@:2}" 2>&1; }
# qom DIR PROPERTY...: "PROPERTY VALUE" lines of the controller's probes.
qom() {
  local dir=$1 p cmds=(); shift
  for p in "$@"; do cmds+=("qom-get /machine/peripheral/gpu $p"); done
  monitor "$dir" "${cmds[@]}" | sed -n 's/^monitor: qom-get [^ ]* \([a-z0-9-]*\): /\1 /p'
}

# wait_for DIR FILE PATTERN: until the pattern shows in the file or QEMU ends.
wait_for() {
  local i
  for i in $(seq 1 1200); do
    grep -q -E "$3" "$1/$2" 2>/dev/null && return 0
    kill -0 "$QEMU_PID" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# boot NAME [QEMU ARGS...]: starts the machine in the background.
boot() {
  local dir=$OUT/$1; shift
  mkdir -p "$dir"
  cp "$FW/OVMF_VARS.fd" "$dir/vars.fd"
  BOOT_START=$(date +%s.%N)
  timeout --foreground -k 5 240 "$QEMU" "${MACHINE[@]}" \
    -machine q35 -m 1024 -smp 1 -nic none -no-reboot -display "${ROAD_DISPLAY:-none}" \
    -drive "if=pflash,format=raw,unit=0,readonly=on,file=$FW/OVMF_CODE.fd" \
    -drive "if=pflash,format=raw,unit=1,file=$dir/vars.fd" \
    -drive "file=$OUT/esp.img,format=raw" \
    -serial "file:$dir/serial.log" -debugcon "file:$dir/debug.log" -global isa-debugcon.iobase=0x402 \
    -monitor "unix:$dir/monitor.sock,server=on,wait=off" \
    "$@" </dev/null >"$dir/qemu.log" 2>&1 &
  QEMU_PID=$!
}

finish() { # finish DIR: waits for the power-off, cleans the serial log
  wait "$QEMU_PID"
  echo "[platform] $(basename "$1"): $(echo "$(date +%s.%N) - $BOOT_START" | bc | cut -d. -f1) s to the shell and back" >&2
  sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g' "$1/serial.log" >"$1/console.txt"
}

# ---- graphics boot -----------------------------------------------------------
G=$OUT/graphics
boot graphics -fw_cfg name=opt/org.tavrix/early-picture-hold-ms,string=3000
if [ "$DEVICE" = 1 ] && wait_for "$G" debug.log 'holding the early picture'; then
  # The early picture, before the firmware connects the console (the
  # platform holds it for 3 s): stop the machine and read the aperture
  # (guest memory at 0x92000000, 800 x 600).
  monitor "$G" stop "pmemsave 0x92000000 1920000 \"$G/aperture.raw\"" "screendump $G/early-screen.ppm" cont >/dev/null
  python3 "$MONITOR" png-from-frame "$G/aperture.raw" "$G/aperture.png" 800 600
  python3 "$MONITOR" png-from-ppm "$G/early-screen.ppm" "$G/early-screen.png"
  qom "$G" aperture-decodes >"$G/device-early.txt"
fi
# The same picture drawn again once TavrixGopDxe's GOP exists: Prelumen
# now writes into the GOP's frame buffer (BAR 0, where the firmware put it).
if [ "$DEVICE" = 1 ] && wait_for "$G" debug.log 'holding the picture drawn through the GOP'; then
  gop_base=$(sed -n 's/.*picture drawn again through the GOP, frame buffer \(0x[0-9a-fA-F]*\),.*/\1/p' "$G/debug.log" | head -n1)
  if [ -n "$gop_base" ]; then
    monitor "$G" stop "pmemsave $gop_base 1920000 \"$G/gop-frame.raw\"" cont >/dev/null
    python3 "$MONITOR" png-from-frame "$G/gop-frame.raw" "$G/gop-frame.png" 800 600
  fi
  qom "$G" bank-selects display-width display-height >"$G/device-gop.txt"
fi
if wait_for "$G" serial.log '== screenshot'; then
  if [ "$DEVICE" = 1 ]; then
    monitor "$G" "screendump $G/console.ppm" >/dev/null
    python3 "$MONITOR" png-from-ppm "$G/console.ppm" "$G/console.png"
    qom "$G" bank-selects display-width display-height aperture-decodes >"$G/device.txt"
  fi
fi
finish "$G"
D=$G/debug.log; S=$G/console.txt

check "the platform image boots to the UEFI shell and runs its script" "$S" '== done'
check "PEI leaves the display-information HOB for the 800 x 600 console frame" "$D" 'display-information HOB, frame 800 x 600'
if [ "$DEVICE" = 1 ]; then
  check "PEI finds the controller behind the root port 0:1C.0 and turns the aperture on" "$D" 'controller at 01:00.0 behind 0:1C.0, legacy VGA routed, aperture on'
fi
protocols=$(line "$D" 'InstallProtocolInterface: 5CB3E659-9ED3-4FCB-924E-A5C15A85F158')
prelumen=$(line "$D" 'EntryPoint=.* Prelumen.efi')
if [ "$protocols" -lt 999999999 ] && [ "$protocols" -lt "$prelumen" ] && [ "$prelumen" -lt 999999999 ]; then
  pass "Prelumen is dispatched only after the platform installed its display protocols"
else fail "Prelumen is dispatched only after the platform installed its display protocols" "protocols at line $protocols, Prelumen at $prelumen of $D"; fi
check "Prelumen registers its graphics callbacks with the platform's display protocol" "$D" 'graphics callbacks registered'
drawn=$(line "$D" 'name and logo drawn into the 800 x 600 frame: Success, [1-9][0-9]* bank switches')
# Before the PCI bus driver finds the first device, no display driver can
# have started: no console exists yet.
pci=$(line "$D" 'PciBus: Discovered PCI @')
if [ "$drawn" -lt 999999999 ] && [ "$drawn" -lt "$pci" ]; then
  pass "the platform draws its name and logo through Prelumen, with bank switches, before PCI enumeration"
else fail "the platform draws its name and logo through Prelumen, with bank switches, before PCI enumeration" "drawn at line $drawn, enumeration at $pci of $D"; fi
check "the progress line is drawn at the end of DXE" "$D" 'progress 1 drawn: Success'
drivers=$(grep -c -E 'Tavrix TVX  GOP Driver' "$S")
if [ "$drivers" -eq 1 ]; then pass "exactly one TavrixGopDxe instance registers (from the firmware volume)"
else fail "exactly one TavrixGopDxe instance registers (from the firmware volume)" "$drivers in the shell's drivers list"; fi
if [ "$DEVICE" = 1 ]; then
  banks=$(sed -n 's/^bank-selects //p' "$G/device.txt")
  if [ "${banks:-0}" -gt 0 ] 2>/dev/null; then pass "Prelumen's bank selections reach the controller's bank registers ($banks)"
  else fail "Prelumen's bank selections reach the controller's bank registers" "bank-selects '${banks}'"; fi
  # picture FILE: the logo's centre (blue, half green), a stroke of the
  # name's first glyph and the progress line's colour at its start.
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
  if picture "$G/aperture.raw"; then pass "the aperture holds the early picture before the console exists (out/platform/graphics/aperture.png)"
  else fail "the aperture holds the early picture before the console exists" "see $G/aperture.png"; fi
  # The controller's own screen at that moment (channel B, set by the PEIM):
  # 800 x 600 with the logo's centre (red 0, green 0x7F, blue 0xFF).
  if [ -f "$G/early-screen.ppm" ] && [ "$(python3 "$MONITOR" ppm-at "$G/early-screen.ppm" 400 300)" = "800x600 007FFF" ]
  then pass "before any console the controller's screen shows the early picture at 800 x 600 (out/platform/graphics/early-screen.png)"
  else fail "before any console the controller's screen shows the early picture at 800 x 600" "see $G/early-screen.png"; fi
  check "once TavrixGopDxe's GOP exists the platform draws the picture again through Prelumen, with no bank switch" "$D" \
    'picture drawn again through the GOP, frame buffer 0x[0-9A-Fa-f]+, mode 1 \(800 x 600\): Success, 0 bank switches since the GOP'
  if picture "$G/gop-frame.raw"; then pass "Prelumen follows the GOP: the picture is in the GOP's frame buffer at ${gop_base:-?} (out/platform/graphics/gop-frame.png)"
  else fail "Prelumen follows the GOP: the picture is in the GOP's frame buffer" "base '${gop_base:-}', see $G/gop-frame.png"; fi
  early=$(sed -n 's/^bank-selects //p' "$G/device-gop.txt" 2>/dev/null); later=$(sed -n 's/^bank-selects //p' "$G/device.txt" 2>/dev/null)
  if [ -n "$early" ] && [ "$early" = "$later" ]; then pass "after the GOP no bank is selected any more: the controller counts $early selections when the GOP arrived and at the shell"
  else fail "after the GOP no bank is selected any more" "bank selections '${early}' when the GOP arrived, '${later}' at the shell"; fi
  check "the firmware enumerates the controller and starts TavrixGopDxe" "$S" '1004'
  width=$(sed -n 's/^display-width //p' "$G/device.txt"); height=$(sed -n 's/^display-height //p' "$G/device.txt")
  if [ "$width" = 800 ] && [ "$height" = 600 ]; then pass "the console runs on TavrixGopDxe's GOP: the controller shows 800 x 600 (out/platform/graphics/console.png)"
  else fail "the console runs on TavrixGopDxe's GOP: the controller shows 800 x 600" "device shows '${width}' x '${height}'"; fi
  check "the platform finds the enumerated controller through its PCI I/O" "$D" 'display controller enumerated at 0:01:00\.0'
  early=$(sed -n 's/^aperture-decodes //p' "$G/device-early.txt" 2>/dev/null); later=$(sed -n 's/^aperture-decodes //p' "$G/device.txt")
  if [ "$early" = 1 ] && [ "$later" = 0 ] && grep -q 'frame aperture turned off: Prelumen follows the GOP' "$D"; then
    pass "the aperture decodes before the GOP and is off once Prelumen follows the GOP (controller: $early, then $later at the shell)"
  else fail "the aperture decodes before the GOP and is off once Prelumen follows the GOP" "aperture-decodes '${early}' early, '${later}' at the shell; see $D"; fi
fi
# reserved_aperture FILE: the shell's memmap has a reserved range over the
# whole aperture (0x92000000, 32 MiB), which the OS receives as reserved.
reserved_aperture() {
  python3 - "$1" <<'PY'
import re, sys
for line in open(sys.argv[1], errors="replace"):
    m = re.match(r"\s*Reserved\s+([0-9A-Fa-f]+)-([0-9A-Fa-f]+)\s", line)
    if m and int(m.group(1), 16) <= 0x92000000 and int(m.group(2), 16) >= 0x93FFFFFF:
        sys.exit(0)
sys.exit(1)
PY
}
if reserved_aperture "$S"; then pass "the UEFI memory map (the shell's memmap) keeps the aperture 0x92000000-0x93FFFFFF reserved"
else fail "the UEFI memory map (the shell's memmap) keeps the aperture 0x92000000-0x93FFFFFF reserved" "no Reserved range over it in $S"; fi

# ---- text boot ---------------------------------------------------------------
# Text mode chosen at boot; the shadow size overflows 32 bits on purpose, so
# Prelumen cannot allocate its shadow buffer and reports a warning.
T=$OUT/text
boot text -fw_cfg name=opt/org.tavrix/early-video-graphics-mode,string=no \
  -fw_cfg name=opt/org.tavrix/early-video-shadow-width,string=32768 \
  -fw_cfg name=opt/org.tavrix/early-video-shadow-height,string=32767 \
  -fw_cfg name=opt/org.tavrix/early-picture-hold-ms,string=3000
if [ "$DEVICE" = 1 ] && wait_for "$T" debug.log 'holding the early picture'; then
  # Before PCI enumeration, while the picture is held: the screen, and the
  # controller's BAR 0 as Prelumen's routing wrote it (0x91000000, of which
  # the 32 MiB BAR keeps 0x90000000).
  monitor "$T" stop "screendump $T/text.ppm" "info pci" cont >"$T/monitor.txt"
  python3 "$MONITOR" png-from-ppm "$T/text.ppm" "$T/text.png"
fi
# At the shell: the console on the GOP, and where the controller's BAR 0 is.
if [ "$DEVICE" = 1 ] && wait_for "$T" serial.log '== screenshot'; then
  monitor "$T" "screendump $T/console.ppm" "info pci" >"$T/monitor-shell.txt"
  python3 "$MONITOR" png-from-ppm "$T/console.ppm" "$T/console.png"
fi
finish "$T"
D=$T/debug.log; S=$T/console.txt

check "text boot: the setting chosen at boot reaches Prelumen through the PCD database (text callback registered)" "$D" 'text callback registered'
check "text boot: Prelumen's debug level gets the platform default through DebugMessageConfig" "$D" 'DebugMessageConfig default, level 0x80000042: Success'
check "text boot: Prelumen's debug message is rendered on the serial log, its arguments formatted" "$S" 'Prelumen: no shadow buffer of 4294836224 bytes: Out of Resources'
check "text boot: the UEFI shell runs" "$S" '== done'
if [ "$DEVICE" = 1 ]; then
  check "text boot: Prelumen's text reaches VGA text memory through the real bridge (read back, out/platform/text/text.png)" "$D" 'name printed: Success, ([0-9]+) of \1 text cells read back'
  if [ -f "$T/text.ppm" ] && [ "$(python3 "$MONITOR" ppm-at "$T/text.ppm" 0 0 | cut -d' ' -f1)" = 720x400 ] &&
     python3 "$MONITOR" ppm-has-content "$T/text.ppm" 2000; then
    pass "text boot: the controller shows 80 x 25 text (720 x 400) with the platform's lines on it"
  else fail "text boot: the controller shows 80 x 25 text (720 x 400) with the platform's lines on it" "see $T/text.png"; fi
  check "text boot: Prelumen's routing wrote the controller's BAR 0 (0x90000000 in QEMU's PCI view)" "$T/monitor.txt" \
    'BAR0: 32 bit (prefetchable )?memory at 0x90000000'
  check "text boot: after PCI enumeration the platform prints no more (the end of DXE comes after it)" "$D" \
    'progress 1 not printed: PCI enumeration is done'
  # Where the PCI bus driver put BAR 0, and where the controller decodes it
  # at the shell.
  placed=$(sed -n 's/^ *Base = \(0x[0-9A-Fa-f]*\);.*Owner = PCI \[01|00|00:10\].*/\1/p' "$D" | head -n1 | tr 'A-F' 'a-f')
  if [ -n "$placed" ] && grep -q -E "BAR0: 32 bit (prefetchable )?memory at $placed " "$T/monitor-shell.txt" 2>/dev/null; then
    pass "text boot: at the shell BAR 0 is where the PCI bus driver placed it ($placed)"
  else fail "text boot: at the shell BAR 0 is where the PCI bus driver placed it" "placed at '${placed}', see $T/monitor-shell.txt"; fi
  if [ -f "$T/console.ppm" ] && [ "$(python3 "$MONITOR" ppm-at "$T/console.ppm" 0 0 | cut -d' ' -f1)" = 800x600 ] &&
     python3 "$MONITOR" ppm-has-content "$T/console.ppm" 2000; then
    pass "text boot: the console on TavrixGopDxe's GOP shows the shell (800 x 600, out/platform/text/console.png)"
  else fail "text boot: the console on TavrixGopDxe's GOP shows the shell (800 x 600)" "see $T/console.png"; fi
fi

# ---- text boot, errors only --------------------------------------------------
# The same warning at a debug level of errors only: withheld. The controller
# location chosen at boot (bus 0, device 1) is not behind the bridge: the
# PEIM rejects it, and Prelumen, which writes the command and BAR 0 registers
# of whatever sits at its location on every print, keeps the build's: its
# BAR 0 write reaches the controller (seen while the early text is held;
# text memory itself reads back on this machine even where nothing decodes
# it, so it tells nothing here).
Q=$OUT/text-errors-only
boot text-errors-only -fw_cfg name=opt/org.tavrix/early-video-graphics-mode,string=no \
  -fw_cfg name=opt/org.tavrix/early-video-shadow-width,string=32768 \
  -fw_cfg name=opt/org.tavrix/early-video-shadow-height,string=32767 \
  -fw_cfg name=opt/org.tavrix/early-video-debug-level,string=0x80000000 \
  -fw_cfg name=opt/org.tavrix/early-video-device-location,string=00010000 \
  -fw_cfg name=opt/org.tavrix/early-picture-hold-ms,string=3000
if [ "$DEVICE" = 1 ] && wait_for "$Q" debug.log 'holding the early picture'; then
  monitor "$Q" stop "info pci" cont >"$Q/monitor.txt"
fi
finish "$Q"
if grep -q 'text callback registered' "$Q/debug.log" && grep -q 'DebugMessageConfig default, level 0x80000000: Success' "$Q/debug.log" &&
   grep -q '== done' "$Q/console.txt" && ! grep -q 'no shadow buffer' "$Q/console.txt"; then
  pass "text boot at level 0x80000000 (errors only): the same warning is withheld"
else fail "text boot at level 0x80000000 (errors only): the same warning is withheld" "see $Q/debug.log and $Q/console.txt"; fi
check "a controller location chosen at boot that is not behind the bridge is rejected, and the log says the build's stays" "$Q/debug.log" \
  'location chosen at boot rejected, the build.s stays \(bridge 0x1C/0x0, controller 0x01000000\)'
if [ "$DEVICE" = 1 ]; then
  check "with the rejected location Prelumen's text output routes the controller at the build's location (its BAR 0 write, 0x90000000 in QEMU's PCI view)" \
    "$Q/monitor.txt" 'BAR0: 32 bit (prefetchable )?memory at 0x90000000'
fi

# ---- RELEASE image -----------------------------------------------------------
# No debug output at all: what shows is the controller's own account and the shell.
FW=$REPO/Build/TavrixRefPlatform/RELEASE
R=$OUT/release
boot release
if wait_for "$R" serial.log '== screenshot' && [ "$DEVICE" = 1 ]; then
  monitor "$R" "screendump $R/console.ppm" >/dev/null
  python3 "$MONITOR" png-from-ppm "$R/console.ppm" "$R/console.png"
  qom "$R" bank-selects display-width display-height >"$R/device.txt"
fi
finish "$R"
check "RELEASE image: boots to the UEFI shell and runs its script" "$R/console.txt" '== done'
drivers=$(grep -c -E 'Tavrix TVX  GOP Driver' "$R/console.txt")
if [ "$drivers" -eq 1 ]; then pass "RELEASE image: exactly one TavrixGopDxe instance registers"
else fail "RELEASE image: exactly one TavrixGopDxe instance registers" "$drivers in the shell's drivers list"; fi
if grep -q -E '^1004$|ASSERT|Prelumen:' "$R/console.txt"; then fail "RELEASE image: the serial log carries no driver output" "see $R/console.txt"
else pass "RELEASE image: the serial log carries no driver output"; fi
if [ "$DEVICE" = 1 ]; then
  banks=$(sed -n 's/^bank-selects //p' "$R/device.txt"); width=$(sed -n 's/^display-width //p' "$R/device.txt")
  height=$(sed -n 's/^display-height //p' "$R/device.txt")
  if [ "${banks:-0}" -gt 0 ] 2>/dev/null && [ "$width" = 800 ] && [ "$height" = 600 ]; then
    pass "RELEASE image: Prelumen drew through the banks ($banks selections) and the console runs on the GOP at 800 x 600"
  else fail "RELEASE image: Prelumen drew through the banks and the console runs on the GOP at 800 x 600" "bank-selects '${banks}', display '${width}' x '${height}'"; fi
fi

# The road in the logs' own words, in order: the first line of each step.
excerpt() { # excerpt FILE PATTERN: "file:line: text" of the first match
  grep -n -m1 -E "$2" "$1" | sed "s|^|$(basename "$(dirname "$1")")/$(basename "$1"):|"
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
  excerpt "$T/debug.log" 'text callback registered'
  excerpt "$T/debug.log" 'name printed'
  excerpt "$T/console.txt" 'Prelumen: no shadow buffer'
} >"$OUT/excerpts.txt" 2>/dev/null

cat >"$OUT/README.txt" <<TXT
The reference platform's road, $(date -u '+%Y-%m-%d %H:%M UTC'), in dispatch order.
  graphics/aperture.png   the aperture at 0x92000000 before any console: the platform's name,
                          logo and progress line drawn by Prelumen with bank switches
  graphics/early-screen.png  the controller's screen at that moment (channel B, set in PEI)
  graphics/gop-frame.png  the same picture drawn again once TavrixGopDxe's GOP exists,
                          read from the GOP's frame buffer (no bank switch)
  graphics/console.png    the UEFI shell on TavrixGopDxe's GOP (800 x 600)
  text/text.png           text mode: Prelumen's text in VGA text memory (80 x 25)
  text/console.png        text mode: the UEFI shell on TavrixGopDxe's GOP, BAR 0 where the PCI bus driver put it
  release/console.png     the RELEASE image's shell
  */debug.log             the firmware's DEBUG log (port 0x402): PEI and DXE, the platform's modules
  */console.txt           the serial log: the shell, TavrixGopDxe's "1004", Prelumen's status codes
  excerpts.txt            the first log line of each step of the road, in order
TXT
[ "$fails" -eq 0 ]
