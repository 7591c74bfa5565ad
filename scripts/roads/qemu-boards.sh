#!/usr/bin/env bash
# The reference platform as boards differ from the road's one machine: its
# DEBUG image booted to the UEFI shell on our QEMU
#   - with 512 MiB to 8 GiB of RAM (q35 keeps RAM below 0xB0000000 up to
#     2.75 GiB, so the aperture at 0x92000000 is RAM with about 2.3 to 2.75
#     GiB): every boot reaches the shell with the console on the card; the
#     early picture is drawn wherever the aperture fits, and where it would
#     lie over RAM the PEIM leaves it off and says so;
#   - with the card on q35's root bus, and on the pc machine (i440fx, the
#     card on its root bus, the aperture inside OVMF's PCI window), in
#     graphics and, on pc, in text mode: the PEIM finds the card there and
#     the early picture (or text) appears on it;
#   - with a second display (QEMU's standard VGA on the root bus) beside the
#     card behind its root port: the picture stays on our card, before and
#     after the GOPs exist, and the other display is never drawn into by
#     Prelumen or the platform, yet shows the console;
#   - with no card, only the other display: no early picture, nothing
#     written to the aperture's range, the shell on the other display.
# One "PASS: boards: ..." or "FAIL: boards: ..." line per check; screenshots
# and logs in out/boards/<boot>/. Usage: scripts/roads/qemu-boards.sh
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin boards
FW=$REPO/Build/TavrixRefPlatform/DEBUG

need_platform "$FW"
need_qemu

# The shell lists the memory map and waits ("pause") while the harness reads
# the screens, then powers off.
cat >"$OUT/shell.nsh" <<'NSH'
@echo -off
echo "== memmap"
memmap
echo "== screenshot"
pause
reset -s
NSH
qemu_make_esp "$OUT/shell.img" "$OUT/shell.nsh=startup.nsh"
SHELL_DISK=(-drive "file=$OUT/shell.img,format=raw,snapshot=on")
TEXT=(-fw_cfg name=opt/org.tavrix/early-video-graphics-mode,string=no)
OTHER_DISPLAY=(-device VGA,id=other,bus=pcie.0,addr=0x3)

# ---- what a boot leaves ------------------------------------------------------

# boot NAME [QEMU ARGS...]: boots the DEBUG image; with HOLD among the
# arguments, each held picture is read (the screens of the card and, if
# there is one, the other display: NAME/held-N-{card,other}.ppm); at the
# shell's pause the screens again (shell-{card,other}.ppm) and the card's
# account (shell-device.txt).
boot() {
  local name=$1 held=0 event; shift
  BOOT_ARGS=" $* "
  vm_start "$name" "$FW/OVMF_CODE.fd" "$FW/OVMF_VARS.fd" "${SHELL_DISK[@]}" "$@"
  while event=$(next_event "$held") && [ "$event" = hold ]; do
    held=$((held + 1))
    screens "held-$held"
    vm_release
  done
  if [ "$event" = shell ]; then
    screens shell
    { vm_qom display-width display-height aperture-decodes bank-selects; echo "bar0 $(vm_bar0)"; } >"$VM_DIR/shell-device.txt"
    vm_key
  fi
  vm_finish
  sed -n '/^== memmap/,/^== screenshot/p' "$VM_DIR/console.txt" >"$VM_DIR/memmap.txt"
}
# next_event HELD: "hold" once the platform holds a picture beyond the HELD
# already read (its debug log says so once the picture is drawn), "shell" at
# the shell's pause; nothing when the machine ended or VM_WAIT_LIMIT passed.
next_event() {
  local deadline=$((SECONDS + VM_WAIT_LIMIT))
  while [ "$SECONDS" -lt "$deadline" ]; do
    if [ "$(grep -a -c 'or until a byte arrives on COM2' "$VM_DIR/debug.log")" -gt "$1" ]; then echo hold; return 0; fi
    if grep -a -q "Enter 'q' to quit" "$VM_DIR/serial.log"; then echo shell; return 0; fi
    kill -0 "$VM_PID" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}
# screens NAME: the card's screen and the other display's, where they are.
screens() {
  case $BOOT_ARGS in *tavrix-display*) vm_screendump "$1-card" gpu ;; esac
  case $BOOT_ARGS in *id=other*) vm_screendump "$1-other" other ;; esac
  return 0
}
value() { sed -n "s/^$2 //p" "$1" 2>/dev/null | head -n1; }

# console_on_card DIR: the card shows the shell at 800 x 600, as the
# controller's own account and its screen agree.
console_on_card() {
  [ "$(value "$1/shell-device.txt" display-width)x$(value "$1/shell-device.txt" display-height)" = 800x600 ] &&
    [ "$(python3 "$MONITOR_PY" ppm-at "$1/shell-card.ppm" 0 0 | cut -d' ' -f1)" = 800x600 ] &&
    python3 "$MONITOR_PY" ppm-has-content "$1/shell-card.ppm" 2000
}
# early_picture PPM: an 800 x 600 screen with the platform's picture: the
# logo's centre, a stroke of the name's first glyph, the progress line.
early_picture() {
  [ -f "$1" ] && python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
parts = data.split(b"\n", 3)
width, height = map(int, parts[1].split())
pixels = parts[3]
def pixel(x, y):
    return pixels[(y * width + x) * 3:(y * width + x) * 3 + 3].hex().upper()
ok = (width, height) == (800, 600) and pixel(400, 300) == "007FFF" and pixel(33, 553) == "40C0FF" and \
     any(pixel(x, y) == "FFFFFF" for y in range(16, 32) for x in range(16, 24))
sys.exit(0 if ok else 1)
PY
}
# drew DIR: the platform drew its name and logo through Prelumen with bank switches.
drew() { grep -a -q -E 'name and logo drawn into the 800 x 600 frame: Success, [1-9][0-9]* bank switches' "$1/debug.log"; }

# ---- memory sizes --------------------------------------------------------------
# Where the aperture fits (RAM below it, or capped at 2 GiB above 2.75 GiB):
# the early picture and the aperture reserved; at 2400 MiB it would lie over
# RAM: off, and the boot goes on without the picture.
for mib in 512 1024 2048 2400 2816 3072 8192; do
  VM_MEMORY=$mib boot "memory-$mib" "${CARD_BEHIND_ROOT_PORT[@]}"
  D=$OUT/memory-$mib
  road_that "$mib MiB: the boot reaches the shell with the console on the card at 800 x 600" console_on_card "$D"
  if [ "$mib" = 2400 ]; then
    if grep -a -q "the aperture $TAVRIX_APERTURE_BASE-$TAVRIX_APERTURE_END overlaps system memory .*: the aperture stays off, no early picture" "$D/debug.log" &&
       grep -a -q 'no early picture: no display-information HOB' "$D/debug.log" && ! drew "$D" &&
       [ "$(value "$D/shell-device.txt" bank-selects)" = 0 ]; then
      road_pass "$mib MiB: the aperture would lie over RAM: the PEIM leaves it off and says so, nothing is drawn (no bank selected)"
    else road_fail "$mib MiB: the aperture would lie over RAM: the PEIM leaves it off and says so, nothing is drawn" "see $D/debug.log"; fi
  else
    road_that "$mib MiB: the early picture is drawn through the aperture, with bank switches" drew "$D"
    road_that "$mib MiB: the memory map keeps the aperture $TAVRIX_APERTURE_BASE-$TAVRIX_APERTURE_END reserved" python3 "$APERTURE_PY" memmap "$D/memmap.txt"
  fi
done

# ---- the card on the root bus ------------------------------------------------------
for machine in q35 pc; do
  case $machine in
    q35) card=(-device tavrix-display,id=gpu,bus=pcie.0,addr=0x2) ;;
    pc)  card=(-device tavrix-display,id=gpu,bus=pci.0,addr=0x2) ;;
  esac
  VM_MACHINE=$machine boot "root-bus-$machine" "${card[@]}" "${HOLD[@]}"
  D=$OUT/root-bus-$machine
  road_check "$machine, card on the root bus: the PEIM finds it there and stores its location" "$D/debug.log" \
    'location found on the root bus stored \(bridge 0x2/0x0, controller 0x00020000\): Success'
  road_check "$machine, card on the root bus: set up with no bridge, the aperture on, the early frame shown" "$D/debug.log" \
    'controller at 00:02.0 on the root bus, legacy VGA routed, aperture on, early frame shown'
  road_that "$machine, card on the root bus: the card shows the early picture before any console ($ROAD/root-bus-$machine/held-1-card.png)" \
    early_picture "$D/held-1-card.ppm"
  road_that "$machine, card on the root bus: the picture again through the GOP ($ROAD/root-bus-$machine/held-2-card.png)" \
    early_picture "$D/held-2-card.ppm"
  road_that "$machine, card on the root bus: the console on the card at 800 x 600" console_on_card "$D"
  road_that "$machine, card on the root bus: the memory map keeps the aperture reserved" python3 "$APERTURE_PY" memmap "$D/memmap.txt"
done
road_check "pc: OVMF's PCI window is moved off the aperture, which lies in it there" "$OUT/root-bus-pc/debug.log" \
  'the PCI window 0x80000000-0xFBFFFFFF moved off the aperture to 0x94000000-0xFBFFFFFF'
# Text mode on the root bus: Prelumen's "bridge" is the controller itself.
VM_MACHINE=pc boot root-bus-pc-text -device tavrix-display,id=gpu,bus=pci.0,addr=0x2 "${HOLD[@]}" "${TEXT[@]}"
D=$OUT/root-bus-pc-text
road_check "pc text mode, card on the root bus: Prelumen's text reaches the card's text memory" "$D/debug.log" \
  'name printed: Success, ([0-9]+) of \1 text cells read back'
road_that "pc text mode, card on the root bus: the card shows 80 x 25 text with the platform's lines ($ROAD/root-bus-pc-text/held-1-card.png)" \
  bash -c "[ \"\$(python3 '$MONITOR_PY' ppm-at '$D/held-1-card.ppm' 0 0 | cut -d' ' -f1)\" = 720x400 ] && python3 '$MONITOR_PY' ppm-has-content '$D/held-1-card.ppm' 2000"
road_that "pc text mode, card on the root bus: the console on the card at 800 x 600" console_on_card "$D"

# ---- a second display -------------------------------------------------------------
boot second-display "${CARD_BEHIND_ROOT_PORT[@]}" "${OTHER_DISPLAY[@]}" "${HOLD[@]}"
D=$OUT/second-display
bar0=$(value "$D/shell-device.txt" bar0)
road_that "second display: the card shows the early picture before any console" early_picture "$D/held-1-card.ppm"
if [ -n "$bar0" ] && grep -a -q -i -E "picture drawn again through the GOP, frame buffer 0x0*${bar0#0x}, mode 1 \(800 x 600\): Success, 0 bank switches" "$D/debug.log"; then
  road_pass "second display: the platform and Prelumen take our card's GOP, not the other display's (its frame buffer at the card's BAR 0, $bar0)"
else road_fail "second display: the platform and Prelumen take our card's GOP, not the other display's" "BAR 0 '${bar0}'; see $D/debug.log"; fi
road_that "second display: the picture drawn through the GOP is on our card" early_picture "$D/held-2-card.ppm"
nowhere_else() { local f; for f in "$D"/held-*-other.ppm "$D/shell-other.ppm"; do [ -f "$f" ] && ! early_picture "$f" || return 1; done; }
road_that "second display: the other display never shows the platform's picture, before the GOPs, with them or at the shell" nowhere_else
road_that "second display: the console on our card at 800 x 600" console_on_card "$D"
road_that "second display: the other display keeps working: it shows the console too" \
  python3 "$MONITOR_PY" ppm-has-content "$D/shell-other.ppm" 2000

# ---- no card -------------------------------------------------------------------------
# Writes that no device takes are logged by QEMU (-d guest_errors); none may
# fall in the aperture's range.
boot no-card -device VGA,id=other,bus=pcie.0,addr=0x2 -d guest_errors -D "$OUT/no-card-guest-errors.log"
D=$OUT/no-card
road_check "no card: the PEIM finds no controller and says there is no early picture" "$D/debug.log" \
  "no display controller at the build's location or on the root bus: no early picture"
road_check "no card: the platform draws nothing and says why" "$D/debug.log" 'no early picture: no display-information HOB'
road_that "no card: nothing is written to the aperture's range (QEMU's log of writes no device takes)" \
  python3 "$APERTURE_PY" untouched "$OUT/no-card-guest-errors.log"
road_that "no card: the shell runs on the other display" python3 "$MONITOR_PY" ppm-has-content "$D/shell-other.ppm" 2000

road_status
