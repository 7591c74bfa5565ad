#!/usr/bin/env bash
# The main job of `make run`: the road of one event in the order a real boot
# runs it, then the other way the GOP driver arrives.
#   1. the reference platform (scripts/roads/qemu-platform.sh): its firmware image
#      (make build-platform, before this script) boots on our QEMU with the
#      virtual controller; the DXE dispatcher starts both drivers from the
#      firmware volume; the shell runs the road application; text mode, and
#      the RELEASE image (out/platform/);
#   2. on to the operating system (scripts/roads/qemu-os.sh): GRUB through the
#      GOP's four modes and Linux's efifb, pixel-exact on the card, on the
#      reference platform and with the RELEASE ROM on Debian's OVMF
#      (out/os/);
#   3. the option-ROM road (scripts/roads/qemu-device.sh): the driver loaded by
#      OVMF's PCI bus driver from the card's ROM, DEBUG and RELEASE
#      (out/device/).
# Prints, per road, the check counts, any failed check and where the
# screenshots and logs are.
# Environment: ROAD_DISPLAY=gtk opens QEMU windows (`make run-window`); each
# closes when its boot powers off.
set -uo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
cd "$REPO"
. scripts/lib/checks.sh
rc=0

# road NAME SCRIPT OUTDIR LOGNAME WHAT: runs one road and reports it.
road() {
  local name=$1 script=$2 dir=$3 logname=$4 what=$5 log passed failed status
  echo "[run] $what"
  log=$(mktemp)
  bash "$script" >"$log" 2>&1; status=$?
  mkdir -p "$dir"; cp "$log" "$dir/$logname"; rm -f "$log"
  read -r passed failed < <(check_counts "$dir/$logname")
  grep -a '^FAIL: ' "$dir/$logname"
  echo "[run] $name: $passed checks passed, $failed failed (every check: $dir/$logname)"
  [ "$status" -eq 0 ] || rc=1
}

road "reference platform" scripts/roads/qemu-platform.sh out/platform platform.log \
  "the reference platform: both drivers dispatched from its firmware volume, graphics and text mode, DEBUG and RELEASE"
echo "[run] the early picture in the aperture: out/platform/graphics/aperture.png; drawn again through the GOP: out/platform/graphics/gop-frame.png"
echo "[run] the console on TavrixGopDxe's GOP: out/platform/graphics/console.png; text mode: out/platform/text/text.png"
echo "[run] the road in the firmware's logs (firmware log debug.log, serial log console.txt; all of it in out/platform/):"
sed 's/^/[run]   /' out/platform/excerpts.txt 2>/dev/null

road "operating system" scripts/roads/qemu-os.sh out/os os.log \
  "on to the operating system: GRUB in the GOP's four modes, then Linux's efifb with a pattern compared pixel for pixel"
echo "[run] GRUB on the GOP: out/os/platform/grub-640x480.png; Linux's console on the card: out/os/platform/linux-console.png"

road "option-ROM road" scripts/roads/qemu-device.sh out/device device.log \
  "the driver in the card's option ROM: -device tavrix-display,romfile=TavrixGopDxe.rom (DEBUG, then RELEASE ROM)"
echo "[run] what the pictures show: out/platform/README.txt, out/device/README.txt"
exit "$rc"
