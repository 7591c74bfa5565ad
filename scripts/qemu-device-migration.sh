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
REPO=$(cd "$(dirname "$0")/.." && pwd)
. "$REPO/scripts/qemu-lib.sh"
OUT=${MIGRATION_OUT:-$REPO/out/migration}
MONITOR=$REPO/scripts/qemu-monitor.py
ROM=${MIGRATION_ROM:-$REPO/Build/TavrixDev/RELEASE_GCC5/X64/TavrixGopDxe.rom}
LIMIT=240
rm -rf "$OUT"; mkdir -p "$OUT"

[ -f "$ROM" ] || { echo "FAIL: migration: $ROM missing (build first: make build)"; exit 1; }
if ! QEMU=$(bash "$REPO/scripts/setup-qemu.sh" 2>"$OUT/setup-qemu.log" | tail -n 1) || [ ! -x "$QEMU" ]; then
  echo "FAIL: migration: our QEMU could not be built (see $OUT/setup-qemu.log)"; exit 1
fi

fails=0
check() { # check NAME CONDITION-COMMAND...
  local name=$1; shift
  if "$@" >/dev/null 2>&1; then echo "PASS: migration: $name"; else echo "FAIL: migration: $name"; fails=$((fails + 1)); fi
}
hmp() { python3 "$MONITOR" "$OUT/$1.sock" "${@:2}" 2>&1 | tr -d '\r'; }
qom() { hmp "$1" "qom-get gpu $2" | sed -n 's/^monitor: qom-get gpu [a-z0-9-]*: *//p'; }

# wait_for FILE TEXT PID: until the serial log shows TEXT; 1 if QEMU ended
# or the time limit passed first.
wait_for() {
  local start=$SECONDS
  until grep -a -q "$2" "$1"; do
    kill -0 "$3" 2>/dev/null || return 1
    [ $((SECONDS - start)) -lt "$LIMIT" ] || return 1
    sleep 0.3
  done
}

# wait_migration NAME STATUS: until info migrate (or the incoming side's
# status) says STATUS.
wait_migration() {
  local start=$SECONDS
  until hmp "$1" "info migrate" | grep -q "^Migration status: $2"; do
    [ $((SECONDS - start)) -lt "$LIMIT" ] || return 1
    hmp "$1" "info migrate" | grep -q '^Migration status: failed' && return 1
    sleep 0.3
  done
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
cp "$OVMF_VARS" "$OUT/vars.fd"

run_qemu() {  # NAME EXTRA-ARGS...: starts QEMU in the background; pid in $qemu_pid
  local name=$1; shift
  : >"$OUT/$name-serial.log"
  "$QEMU" -L /usr/share/qemu -L /usr/share/seabios \
    -machine q35 -m 2048 -smp 1 -nic none -no-reboot -vga none -display none \
    -device "tavrix-display,id=gpu,addr=02.0,romfile=$ROM" \
    -drive "if=pflash,format=raw,unit=0,readonly=on,file=$OVMF_CODE" \
    -drive "if=pflash,format=raw,unit=1,file=$OUT/vars.fd" \
    -drive "file=$OUT/esp.img,format=raw" \
    -serial "file:$OUT/$name-serial.log" -monitor "unix:$OUT/$name.sock,server=on,wait=off" \
    "$@" </dev/null >"$OUT/$name-qemu.log" 2>&1 &
  qemu_pid=$!
}

state() {  # NAME: what the device says, one line
  echo "width $(qom "$1" display-width) height $(qom "$1" display-height) bank $(qom "$1" bank)" \
       "crtc-88 $(qom "$1" crtc-88) aperture $(qom "$1" aperture-decodes)"
}

# ---- 1. and 2.: boot, stop, save --------------------------------------------
start=$SECONDS
run_qemu source
if wait_for "$OUT/source-serial.log" 'MIGRATE-READY ;' "$qemu_pid"; then
  hmp source "stop" "screendump $OUT/before.ppm" >/dev/null
  state source >"$OUT/before.txt"
  hmp source "migrate \"exec:cat > $OUT/machine.state\"" >"$OUT/migrate.txt"
  # A refusal ("non-migratable device") is answered at once.
  if grep -q 'Error' "$OUT/migrate.txt"; then
    echo "FAIL: migration: the machine at the shell, frame on, saves to a file: $(cat "$OUT/migrate.txt")"
    fails=$((fails + 1))
  else
    check "the machine at the shell, frame on, saves to a file (migrate completes)" wait_migration source completed
  fi
  hmp source "quit" >/dev/null
else
  echo "FAIL: migration: the first boot never reached the shell's MIGRATE-READY (see $OUT/source-serial.log)"
  fails=$((fails + 1))
fi
wait "$qemu_pid" 2>/dev/null
echo "[migration] boot and save: $((SECONDS - start)) s" >"$OUT/timings.txt"

# ---- 3. and 4.: restore, compare, run on --------------------------------------
if [ -s "$OUT/machine.state" ]; then
  start=$SECONDS
  run_qemu restored -S -incoming "exec:cat $OUT/machine.state"
  if wait_migration restored completed; then
    hmp restored "screendump $OUT/after.ppm" >/dev/null
    state restored >"$OUT/after.txt"
    hmp restored "cont" "sendkey ret" >/dev/null
  fi
  check "the restored machine runs on: its shell announces RESTORED-RUNNING" \
    wait_for "$OUT/restored-serial.log" 'RESTORED-RUNNING ;' "$qemu_pid"
  kill "$qemu_pid" 2>/dev/null; wait "$qemu_pid" 2>/dev/null
  echo "[migration] restore and run on: $((SECONDS - start)) s" >>"$OUT/timings.txt"
else
  echo "FAIL: migration: nothing was saved (see $OUT/migrate.txt and $OUT/source-qemu.log)"; fails=$((fails + 1))
fi

check "before saving, the screen is channel B's frame ($(cat "$OUT/before.txt" 2>/dev/null)) with text on it" \
  bash -c "grep -q '^width [1-9]' '$OUT/before.txt' && python3 '$MONITOR' ppm-has-content '$OUT/before.ppm' 500"
check "the restored screen equals the saved one pixel for pixel ($(head -c 15 "$OUT/after.ppm" 2>/dev/null | tr '\n' ' '))" \
  cmp "$OUT/before.ppm" "$OUT/after.ppm"
check "the device's registers came along: frame size, bank, extended CRT, aperture (configuration register 0x40)" \
  bash -c "[ -s '$OUT/after.txt' ] && grep -q 'aperture 1\$' '$OUT/after.txt' && cmp '$OUT/before.txt' '$OUT/after.txt'"
python3 "$MONITOR" png-from-ppm "$OUT/before.ppm" "$OUT/before.png" 2>/dev/null
python3 "$MONITOR" png-from-ppm "$OUT/after.ppm" "$OUT/after.png" 2>/dev/null
cat "$OUT/timings.txt"
[ "$fails" -eq 0 ]
