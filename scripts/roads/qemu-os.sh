#!/usr/bin/env bash
# The road's last stretch: from the firmware to the operating system, on our
# QEMU with the controller (-device tavrix-display behind a root port, no
# other display). Three boots of the same disk (scripts/build/os-image.sh: Debian's
# GRUB, standalone with efi_gop only, Debian's Linux and a busybox initramfs
# of ours):
#   platform  the reference platform's DEBUG image, TavrixGopDxe from its
#             firmware volume;
#   rom       Debian's OVMF with the RELEASE option ROM on the card;
#   pressure  the reference platform again, GRUB started from the shell
#             after the road application took all memory below 4 GiB but
#             384 MiB (each failed allocation lets the DXE core promote
#             untested memory, as a loader with a large initrd makes it):
#             the aperture stays reserved in the memory map Linux receives.
# In each boot GRUB lists the GOP's modes, then draws in each of the four
# and waits; the harness looks at the card (screendump, and the device's own
# account through QOM: display-width, display-height) and releases GRUB with
# Enter through the monitor. GRUB starts Linux in the last mode; /init reports
# what efifb found, shows Linux's console and waits, then writes a pattern to
# /dev/fb0 and waits again. The harness compares what Linux found with the
# card's BAR 0 in QEMU's "info pci" and the card's screen with the pattern,
# pixel for pixel.
# Nothing here depends on the host's speed: every step waits for the guest's
# announcement on the serial port (for minutes at most), and the guest waits
# for the harness wherever the harness looks at the screen.
# One "PASS: os: ..." or "FAIL: os: ..." line per check; exits non-zero when a
# check failed. Screenshots and logs in out/os/<boot>/.
# Needs the RELEASE option ROM (scripts/build/build.sh RELEASE).
# Environment: OS_OUT=DIR puts the results elsewhere; VM_WAIT_LIMIT (seconds,
# default 600) bounds each wait for the guest.
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin os "${OS_OUT:-}"
PLATFORM_FW=$REPO/Build/TavrixRefPlatform/DEBUG
RELEASE_ROM=$REPO/Build/TavrixDev/RELEASE_GCC5/X64/TavrixGopDxe.rom
read -r -a MODES <<<"$TAVRIX_GOP_MODES"
GRUB_BACKGROUND=1E5AA0

# road_that, with the condition's own output in checks.log.
check() {
  local name=$1; shift
  if "$@" >>"$OUT/checks.log" 2>&1; then road_pass "$name"; else road_fail "$name" "see $OUT/checks.log"; fi
}

ROAD_APP=$REPO/Build/TavrixDev/DEBUG_GCC5/X64/TavrixRoad.efi
need_built build "$RELEASE_ROM" "$ROAD_APP"
if ! OS_DIR=$(bash "$REPO/scripts/build/os-image.sh" 2>"$OUT/os-image.log" | tail -n1) || [ ! -f "$OS_DIR/esp.img" ]; then
  road_fail "the boot disk is made from Debian's packages (make os-image)" "see $OUT/os-image.log"; exit 1
fi
read -r LINUX_WIDTH LINUX_HEIGHT <"$OS_DIR/mode"
need_qemu
need_platform "$PLATFORM_FW"

# ---- one boot ----------------------------------------------------------------

# look NAME: the card's screen as NAME.ppm and .png, with the size the
# controller says it shows as NAME.device ("WIDTHxHEIGHT").
look() {
  vm_screendump "$1"
  echo "$(vm_qom display-width | cut -d' ' -f2)x$(vm_qom display-height | cut -d' ' -f2)" >"$VM_DIR/$1.device"
}

# grub_drew MODE: the card shows MODE (screendump and the controller agree),
# filled with GRUB's background at its four corners, with GRUB's text on it.
grub_drew() {
  local mode=$1 w=${1%x*} h=${1#*x} shot=$DIR/grub-$1.ppm
  [ -f "$shot" ] && [ "$(cat "$DIR/grub-$mode.device")" = "$mode" ] || return 1
  local corner
  for corner in "0 0" "$((w - 1)) 0" "0 $((h - 1))" "$((w - 1)) $((h - 1))"; do
    # shellcheck disable=SC2086
    [ "$(python3 "$MONITOR_PY" ppm-at "$shot" $corner)" = "$mode $GRUB_BACKGROUND" ] || return 1
  done
  python3 "$MONITOR_PY" ppm-has-content "$shot" 500
}

# grub_modes: GRUB's videoinfo lists the GOP with exactly the controller's
# four 32-bpp modes, packed rows, red/green/blue at bits 16/8/0.
grub_modes() {
  local list mode n=0
  list=$(sed -n '/tavrix-os: grub video modes/,/tavrix-os: grub end of video modes/p' "$DIR/console.txt")
  grep -q "Adapter .EFI GOP driver'" <<<"$list" || return 1
  [ "$(grep -c "Adapter " <<<"$list")" = 1 ] || return 1
  [ "$(grep -c -E '^ *0x[0-9a-f]+ ' <<<"$list")" = 4 ] || return 1
  for mode in "${MODES[@]}"; do
    local w=${mode%x*} h=${mode#*x}
    grep -q -E "^ *0x00$n +$w x +$h x 32 \($((w * 4))\) +Direct color, mask: 8/8/8/8 +pos: 16/8/0/24" <<<"$list" || return 1
    n=$((n + 1))
  done
}

# road BOOT DESCRIPTION CODE VARS [QEMU ARGS...]: one boot from GRUB to Linux
# and its checks, named "DESCRIPTION: ...". The guest waits at each look,
# for one Enter: a second one would let the next wait pass unseen.
road() {
  local boot=$1 what=$2 code=$3 vars=$4; shift 4
  vm_start "$boot" "$code" "$vars" -drive "file=${OS_DISK:-$OS_DIR/esp.img},format=raw,snapshot=on" "$@"
  DIR=$VM_DIR
  local i reached=grub
  for i in "${!MODES[@]}"; do
    vm_wait serial.log 'tavrix-os: grub waits' $((i + 1)) || { reached=none; break; }
    look "grub-${MODES[$i]}"
    vm_key
  done
  [ "$reached" = grub ] && vm_wait serial.log 'tavrix-os: linux console shown, waiting' && reached=console
  if [ "$reached" = console ]; then
    look linux-console
    vm_key
    vm_wait serial.log 'tavrix-os: linux pattern (written|not written)' && reached=pattern
  fi
  if [ "$reached" = pattern ]; then
    look linux-pattern
    vm_bar0 >"$DIR/bar0.txt"
  fi
  vm_monitor quit >/dev/null
  vm_finish
  local log=$DIR/console.txt

  check "$what: GRUB finds the GOP with exactly the controller's four 32-bpp modes, B,G,R,X, packed rows" grub_modes
  for mode in "${MODES[@]}"; do
    check "$what: GRUB draws in ${mode/x/ x } through the GOP: the card shows it, filled and with GRUB's text (${DIR#"$REPO"/}/grub-$mode.png)" \
      grub_drew "$mode"
  done

  local found=() base bar
  read -r -a found < <(sed -n 's/.*efifb: mode is \([0-9]*\)x\([0-9]*\)x\([0-9]*\), linelength=\([0-9]*\).*/\1 \2 \3 \4/p' "$log" | head -n1)
  base=$(sed -n 's/.*efifb: framebuffer at \(0x[0-9a-f]*\),.*/\1/p' "$log" | head -n1)
  bar=$(cat "$DIR/bar0.txt" 2>/dev/null)
  if [ -n "$base" ] && [ -n "$bar" ] && [ $((base)) -eq $((bar)) ]; then
    road_pass "$what: Linux's efifb takes the frame buffer at the card's BAR 0 as QEMU reports it ($bar)"
  else road_fail "$what: Linux's efifb takes the frame buffer at the card's BAR 0 as QEMU reports it" "efifb at '$base', BAR 0 at '$bar'"; fi
  if [ "${found[*]}" = "$LINUX_WIDTH $LINUX_HEIGHT 32 $((LINUX_WIDTH * 4))" ] &&
     grep -q 'efifb: Truecolor: size=8:8:8:8, shift=24:16:8:0' "$log" &&
     [ "$(cat "$DIR/linux-pattern.device" 2>/dev/null)" = "${LINUX_WIDTH}x$LINUX_HEIGHT" ]; then
    road_pass "$what: efifb finds the mode GRUB left, ${LINUX_WIDTH} x $LINUX_HEIGHT x 32, $((LINUX_WIDTH * 4)) bytes a line, B,G,R,X; the card shows that size"
  else road_fail "$what: efifb finds the mode GRUB left, ${LINUX_WIDTH} x $LINUX_HEIGHT x 32, $((LINUX_WIDTH * 4)) bytes a line, B,G,R,X; the card shows that size" \
    "efifb mode '${found[*]}', card '$(cat "$DIR/linux-pattern.device" 2>/dev/null)'"; fi
  check "$what: /init finds fb0 at ${LINUX_WIDTH},$LINUX_HEIGHT, stride $((LINUX_WIDTH * 4)), 32 bpp in sysfs" \
    grep -q "tavrix-os: linux fb0 EFI VGA, size ${LINUX_WIDTH},$LINUX_HEIGHT, stride $((LINUX_WIDTH * 4)), bpp 32" "$log"
  check "$what: Linux's console is on the card (${DIR#"$REPO"/}/linux-console.png)" \
    bash -c "python3 '$MONITOR_PY' ppm-has-content '$DIR/linux-console.ppm' 5000 &&
             [ \"\$(python3 '$MONITOR_PY' ppm-at '$DIR/linux-console.ppm' 0 0 | cut -d' ' -f2)\" != $GRUB_BACKGROUND ]"
  check "$what: the pattern /init wrote to /dev/fb0 is on the card pixel for pixel" \
    python3 "$MONITOR_PY" ppm-equals-frame "$DIR/linux-pattern.ppm" "$OS_DIR/pattern.raw" "$LINUX_WIDTH" "$LINUX_HEIGHT"
}

road platform "reference platform (DEBUG)" "$PLATFORM_FW/OVMF_CODE.fd" "$PLATFORM_FW/OVMF_VARS.fd" \
  "${CARD_BEHIND_ROOT_PORT[@]}"
card_with_rom "$RELEASE_ROM"
road rom "Debian's OVMF, RELEASE option ROM" "$OVMF_CODE" "$OVMF_VARS" "${CARD_WITH_ROM[@]}"

# The pressure boot's disk: a copy of the boot disk where the shell, not the
# boot manager, finds GRUB (away from the removable-media path), after the
# road application has taken the memory; /tavrix-os/pressure has GRUB ask
# Linux for the firmware's memory map (efi=debug).
pressure_disk() {
  local disk=$OUT/pressure-disk.img
  cp "$OS_DIR/esp.img" "$disk"
  printf '@echo -off\nfs0:\nTavrixRoad.efi pressure\n\\EFI\\tavrix\\grubx64.efi\n' >"$OUT/pressure.nsh"
  : >"$OUT/pressure-marker"
  mmd -i "$disk" ::/EFI/tavrix &&
    mmove -i "$disk" ::/EFI/BOOT/BOOTX64.EFI ::/EFI/tavrix/grubx64.efi &&
    mcopy -i "$disk" "$OUT/pressure.nsh" ::/startup.nsh &&
    mcopy -i "$disk" "$ROAD_APP" ::/TavrixRoad.efi &&
    mcopy -i "$disk" "$OUT/pressure-marker" ::/tavrix-os/pressure && echo "$disk"
}
if OS_DISK=$(pressure_disk 2>"$OUT/pressure-disk.log"); then
  OS_DISK=$OS_DISK road pressure "reference platform (DEBUG) under memory pressure" \
    "$PLATFORM_FW/OVMF_CODE.fd" "$PLATFORM_FW/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}"
  check "under memory pressure: the road application took all memory below 4 GiB but 384 MiB, none of it on the aperture" \
    grep -q -E '^ROAD-PRESSURE [0-9]+ MiB below 4 GiB stay allocated, 384 MiB given back in one piece$' "$OUT/pressure/console.txt"
  check "under memory pressure: Linux receives the aperture $TAVRIX_APERTURE_BASE-$TAVRIX_APERTURE_END as reserved, in the firmware's memory map and in e820" \
    python3 "$APERTURE_PY" linux "$OUT/pressure/console.txt"
else road_fail "the pressure boot's disk is made" "see $OUT/pressure-disk.log"; fi

road_status
