#!/usr/bin/env bash
# The virtual device saved and restored in the middle of a boot: Debian's
# OVMF on our QEMU with -device tavrix-display,romfile=TavrixGopDxe.rom (the
# RELEASE ROM), as in the device road.
#   1. boot to the shell; its startup script turns the aperture on
#      (configuration register 0x40), selects bank 0x123 and announces
#      "MIGRATE-READY" with channel B's frame on (the GOP's console), then
#      waits for a key;
#   2. the harness stops the machine, takes a screendump and saves the
#      machine to a file (migrate "exec:cat > FILE"), then quits QEMU;
#   3. a new QEMU with the same devices starts with -incoming from that file
#      (paused: -S), takes a screendump, continues and presses the key;
#   4. the restored shell runs on and announces "RESTORED-RUNNING".
# Checks: the save completes; both screendumps are the same size and equal
# pixel for pixel; the device's registers came along (display-width, bank,
# configuration register 0x40); the restored machine keeps running.
#
# Prints one "PASS: migration: ..."/"FAIL: migration: ..." line per check.
# Environment: MIGRATION_OUT=DIR puts the results elsewhere (default
# out/migration); MIGRATION_ROM=FILE another option ROM.
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin migration "${MIGRATION_OUT:-}"
ROM=${MIGRATION_ROM:-$REPO/Build/TavrixDev/RELEASE_GCC5/X64/TavrixGopDxe.rom}
VM_MEMORY=2048

need_built build "$ROM"
need_qemu

# wait_migration STATUS: until the machine's "info migrate" (or the incoming
# side's status) says STATUS; 1 when it failed or VM_WAIT_LIMIT passed.
wait_migration() {
  local deadline=$((SECONDS + VM_WAIT_LIMIT)) answer
  while [ "$SECONDS" -lt "$deadline" ]; do
    answer=$(vm_monitor "info migrate" | tr -d '\r')
    grep -q "^Migration status: $1" <<<"$answer" && return 0
    grep -q '^Migration status: failed' <<<"$answer" && return 1
    sleep 0.3
  done
  return 1
}

cat >"$OUT/startup.nsh" <<'NSH'
@echo -off
mm 0000000000020040 01 -PCI -w 1 -n
mm 3D4 A5 -IO -w 1 -n
mm 3D5 01 -IO -w 1 -n
mm 3CB 22 -IO -w 1 -n
mm 3CD 33 -IO -w 1 -n
echo "MIGRATE-READY ;"
pause -q
echo "RESTORED-RUNNING ;"
reset -s
NSH
qemu_make_esp "$OUT/esp.img" "$OUT/startup.nsh"
MACHINE=(-device "tavrix-display,id=gpu,addr=02.0,romfile=$ROM" -drive "file=$OUT/esp.img,format=raw")

state() {  # what the device says, one line
  echo "width $(vm_qom display-width | cut -d' ' -f2) height $(vm_qom display-height | cut -d' ' -f2)" \
       "bank $(vm_qom bank | cut -d' ' -f2) crtc-88 $(vm_qom crtc-88 | cut -d' ' -f2)" \
       "aperture $(vm_qom aperture-decodes | cut -d' ' -f2)"
}

# ---- 1. and 2.: boot, stop, save --------------------------------------------
vm_start source "$OVMF_CODE" "$OVMF_VARS" "${MACHINE[@]}"
if vm_wait serial.log 'MIGRATE-READY ;'; then
  vm_monitor "stop" "screendump $OUT/before.ppm" >/dev/null
  state >"$OUT/before.txt"
  vm_monitor "migrate \"exec:cat > $OUT/machine.state\"" >"$OUT/migrate.txt"
  # A refusal ("non-migratable device") is answered at once.
  if grep -q 'Error' "$OUT/migrate.txt"; then
    road_fail "the machine at the shell, frame on, saves to a file" "$(cat "$OUT/migrate.txt")"
  else
    road_that "the machine at the shell, frame on, saves to a file (migrate completes)" wait_migration completed
  fi
  vm_monitor "quit" >/dev/null
else
  road_fail "the first boot reaches the shell's MIGRATE-READY" "see $VM_DIR/serial.log"
fi
vm_finish 2>"$OUT/timings.txt"

# ---- 3. and 4.: restore, compare, run on --------------------------------------
if [ -s "$OUT/machine.state" ]; then
  vm_start restored "$OVMF_CODE" "$OVMF_VARS" "${MACHINE[@]}" -S -incoming "exec:cat $OUT/machine.state"
  if wait_migration completed; then
    vm_monitor "screendump $OUT/after.ppm" >/dev/null
    state >"$OUT/after.txt"
    vm_monitor "cont" >/dev/null
    vm_key
    road_that "the restored machine runs on: its shell announces RESTORED-RUNNING" vm_wait serial.log 'RESTORED-RUNNING ;'
  else
    road_fail "the restored machine takes the saved state (incoming migration completes)"
  fi
  vm_monitor "quit" >/dev/null
  vm_finish 2>>"$OUT/timings.txt"
else
  road_fail "something was saved" "see $OUT/migrate.txt and $OUT/source/qemu.log"
fi

road_that "before saving, the screen is channel B's frame ($(cat "$OUT/before.txt" 2>/dev/null)) with text on it" \
  bash -c "grep -q '^width [1-9]' '$OUT/before.txt' && python3 '$MONITOR_PY' ppm-has-content '$OUT/before.ppm' 500"
road_that "the restored screen equals the saved one pixel for pixel ($(head -c 15 "$OUT/after.ppm" 2>/dev/null | tr '\n' ' '))" \
  cmp "$OUT/before.ppm" "$OUT/after.ppm"
road_that "the device's registers came along: frame size, bank, extended CRT, aperture (configuration register 0x40)" \
  bash -c "[ -s '$OUT/after.txt' ] && grep -q 'aperture 1\$' '$OUT/after.txt' && cmp '$OUT/before.txt' '$OUT/after.txt'"
python3 "$MONITOR_PY" png-from-ppm "$OUT/before.ppm" "$OUT/before.png" 2>/dev/null
python3 "$MONITOR_PY" png-from-ppm "$OUT/after.ppm" "$OUT/after.png" 2>/dev/null
cat "$OUT/timings.txt"
road_status
