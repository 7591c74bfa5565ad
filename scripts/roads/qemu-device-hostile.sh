#!/usr/bin/env bash
# The virtual device under a hostile guest, each fault it was found with
# replayed on our QEMU (TavrixDevPkg/DeviceModel/HostileGuest/hostile-guest.py
# scenarios): a blanked VGA taking the console back from a small frame, a
# curses text refresh resizing the console under the frame, the extended
# CRT registers at the mono ports, a CPU's 64-bit accesses at BAR 1 + 0x304,
# a state with a blanked VGA loaded without a reset over a 2048 x 1 frame.
# No firmware: -accel qtest (the harness is the guest) or, for the 64-bit
# accesses, a guest of a few instructions under TCG.
#
# Prints one "PASS: hostile-guest: ..."/"FAIL: hostile-guest: ..." line per
# check. Environment: HOSTILE_OUT=DIR (default out/hostile-guest).
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin hostile-guest "${HOSTILE_OUT:-}"
need_qemu
python3 "$REPO/TavrixDevPkg/DeviceModel/HostileGuest/hostile-guest.py" "$VM_QEMU" "$OUT" scenarios
