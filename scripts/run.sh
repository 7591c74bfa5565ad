#!/usr/bin/env bash
# The main job of `make run`: builds the DEBUG firmware, boots OVMF under QEMU
# twice with the platform stand-in and the road application (scripts/qemu-road.sh),
# then twice on the virtual device with the driver in the card's option ROM
# (scripts/qemu-device.sh; this needs the RELEASE ROM too), and prints a short
# report: the check counts, any failed check, and the paths of the screenshots
# and logs (out/run/, out/device/).
# Environment: ROAD_DISPLAY=gtk opens QEMU windows (`make run-window`); the
# shell then stays open after the road until the window is closed.
set -uo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
cd "$REPO"
bash scripts/build.sh DEBUG RELEASE || exit 1
echo "[run] booting OVMF twice (graphics, then text mode) with both drivers on the emulated controller (about a minute)"
log=$(mktemp)
bash scripts/qemu-road.sh DEBUG >"$log" 2>&1; rc=$?
cp "$log" out/run/road.log 2>/dev/null; rm -f "$log"
passed=$(grep -c '^PASS: ' out/run/road.log); failed=$(grep -c '^FAIL: ' out/run/road.log)
grep '^FAIL: ' out/run/road.log
echo "[run] $passed checks passed, $failed failed (every check: out/run/road.log)"
grep '^\[road\]' out/run/road.log | sed 's/^\[road\]/[run]/'
echo "[run] what the pictures show: out/run/README.txt"

echo "[run] booting our QEMU twice with -device tavrix-display,romfile=TavrixGopDxe.rom (DEBUG, then RELEASE ROM)"
log=$(mktemp)
bash scripts/qemu-device.sh >"$log" 2>&1; rc2=$?
cp "$log" out/device/device.log 2>/dev/null; rm -f "$log"
passed=$(grep -c '^PASS: ' out/device/device.log); failed=$(grep -c '^FAIL: ' out/device/device.log)
grep '^FAIL: ' out/device/device.log
echo "[run] device road: $passed checks passed, $failed failed (every check: out/device/device.log)"
echo "[run] what the pictures show: out/device/README.txt"
[ "$rc" -eq 0 ] && [ "$rc2" -eq 0 ]
