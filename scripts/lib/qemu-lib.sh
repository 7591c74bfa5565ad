# The runner that every QEMU road uses (sourced by scripts/roads/qemu-*.sh):
# starting a machine, waiting for what the guest announces, the monitor,
# screendumps, the device's own account (QOM), and the PASS/FAIL lines.
#
# Nothing here races the guest against the host's clock: every wait is for
# a line the guest writes (to the serial log or the firmware's debug log),
# bounded generously (VM_WAIT_LIMIT, 600 s by default), and wherever the
# harness looks at a screen the guest waits for the harness: at a picture
# the reference platform holds, until a byte arrives on COM2 (vm_release);
# in the UEFI shell (its "pause"), in the road application (its snapshots),
# in GRUB and in Linux's /init, until a key arrives (vm_key): one key per
# wait, pressed only once the guest said it waits, since a second one would
# answer a later wait before the harness looked.
#
# Each whole boot is bounded too (VM_BOOT_LIMIT, 1800 s by default: three
# waits' worth), after which QEMU is stopped and the boot counts as failed.
#
# A road script sources this file, then:
#   road_begin NAME [DIR]                     its check lines' prefix and folder
#   vm_start NAME CODE VARS [QEMU ARGS...]   machine in $OUT/NAME (VM_DIR)
#   vm_wait FILE PATTERN                      until the guest wrote PATTERN
#   vm_monitor / vm_qom / vm_screendump / vm_bar0 / vm_release / vm_key
#   vm_serve_snapshots HANDLER                answers the road application
#   vm_finish                                 until it powers off
#   road_pass / road_fail / road_check / road_status
REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
OVMF_CODE=${OVMF_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}
OVMF_VARS=${OVMF_VARS:-/usr/share/OVMF/OVMF_VARS_4M.fd}
MONITOR_PY=$REPO/scripts/lib/qemu-monitor.py
APERTURE_PY=$REPO/scripts/lib/aperture.py
# The controller's facts (TAVRIX_APERTURE_BASE, TAVRIX_GOP_MODES, ...), from its header.
eval "$(python3 "$REPO/scripts/lib/facts.py" shell)"
VM_WAIT_LIMIT=${VM_WAIT_LIMIT:-600}
VM_BOOT_LIMIT=${VM_BOOT_LIMIT:-$((3 * VM_WAIT_LIMIT))}

. "$REPO/scripts/lib/checks.sh"

# road_begin NAME [DIR]: the run's checks are "NAME: ..." lines (ROAD), its
# files in DIR (OUT; default out/NAME), emptied first.
road_begin() { ROAD=$1; OUT=${2:-$REPO/out/$1}; rm -rf "$OUT"; mkdir -p "$OUT"; }

# ---- what the roads boot -----------------------------------------------------------
# need_built TARGET FILE...: each FILE is there (make TARGET builds it; a road
# or a bench only boots what the build step made).
need_built() {
  local target=$1 f; shift
  for f in "$@"; do [ -f "$f" ] || { road_fail "$f is built" "run make $target"; exit 1; }; done
}
# need_platform DIR...: the reference platform's images in each DIR are built.
need_platform() { local d; for d in "$@"; do need_built build-platform "$d/OVMF_CODE.fd" "$d/OVMF_VARS.fd"; done; }

# ---- our QEMU -------------------------------------------------------------------
# our_qemu [asan]: the emulator with -device tavrix-display, built (or rebuilt
# after a change of the device's sources) by setup-qemu.sh, or $TAVRIX_QEMU
# when set (not for asan); nothing when that fails. Every road, bench and
# hostile-guest run finds QEMU here.
our_qemu() {
  local qemu
  if [ -n "${TAVRIX_QEMU:-}" ] && [ -z "${1:-}" ]; then qemu=$TAVRIX_QEMU
  else qemu=$(bash "$REPO/scripts/build/setup-qemu.sh" ${1:+"$1"} 2>"${OUT:-/tmp}/setup-qemu.log" | tail -n 1) || return 1
  fi
  # The whole list first: the ASan build's leak report at exit must not fail the check.
  [ -x "$qemu" ] && grep -q '"tavrix-display"' <<<"$(ASAN_OPTIONS=detect_leaks=0 "$qemu" -device help 2>/dev/null)" &&
    echo "$qemu"
}

# need_qemu: VM_QEMU is our QEMU, or the run stops with a failed check.
need_qemu() {
  VM_QEMU=$(our_qemu) || { road_fail "our QEMU with -device tavrix-display builds" "see ${OUT:-/tmp}/setup-qemu.log"; exit 1; }
}

# The card as a board has it: behind a PCIe root port at 0:1C.0, bus 1.
CARD_BEHIND_ROOT_PORT=(-device pcie-root-port,id=rp0,bus=pcie.0,addr=0x1c.0,chassis=1
                       -device tavrix-display,id=gpu,bus=rp0,addr=0x0)
# card_with_rom ROM: the same card with ROM as its option ROM, in CARD_WITH_ROM.
card_with_rom() { CARD_WITH_ROM=("${CARD_BEHIND_ROOT_PORT[@]}"); CARD_WITH_ROM[-1]+=",romfile=$1"; }

# console_text SERIAL-LOG TEXT: the log without escape sequences and carriage returns.
console_text() { sed -e 's/\x1b\[[0-9;?=]*[A-Za-z]//g' -e 's/\r//g' "$1" >"$2"; }

# qemu_make_esp IMAGE FILE...: a FAT image of ESP_MIB MiB (default 64)
# holding the files at its root (a file given as SRC=DEST/PATH goes to that
# path, its folders made on the way).
qemu_make_esp() {
  local img=$1 f src dest dir part; shift
  rm -f "$img"
  mkfs.fat -C "$img" $((${ESP_MIB:-64} * 1024)) >/dev/null
  for f in "$@"; do
    src=${f%%=*}; dest=${f#*=}
    if [ "$src" = "$f" ]; then mcopy -o -i "$img" "$f" ::/; continue; fi
    dir=
    for part in $(dirname "$dest" | tr '/' ' '); do
      [ "$part" = . ] && break
      dir+=/$part
      mmd -D s -i "$img" "::$dir" 2>/dev/null || true
    done
    mcopy -o -i "$img" "$src" "::/$dest"
  done
}

# ---- a machine ------------------------------------------------------------------
# vm_start NAME CODE VARS [QEMU ARGS...]: starts q35 (the -machine line is
# VM_MACHINE, default "q35", e.g. "q35,smm=on" or "pc"; VM_MEMORY MiB, one CPU,
# no network, headless unless ROAD_DISPLAY) with QEMU (VM_QEMU, default
# qemu-system-x86_64) in the background, in $OUT/NAME: a copy of the
# variable store (or the store it left, when VARS is VM_DIR/vars.fd), the
# serial console in serial.log (COM1), the firmware's
# debug log in debug.log (port 0x402), the monitor on monitor.sock and
# COM2 on release.sock (VM_SERIAL, e.g. "none", replaces both serial ports).
# Sets VM_DIR and VM_PID.
vm_start() {
  local name=$1 code=$2 vars=$3; shift 3
  VM_DIR=$OUT/$name; mkdir -p "$VM_DIR"
  local serial=(-serial "file:$VM_DIR/serial.log"
                -chardev "socket,id=release,path=$VM_DIR/release.sock,server=on,wait=off" -serial chardev:release)
  [ -z "${VM_SERIAL:-}" ] || serial=(-serial "$VM_SERIAL")
  [ "$vars" -ef "$VM_DIR/vars.fd" ] || cp "$vars" "$VM_DIR/vars.fd"
  : >"$VM_DIR/serial.log"; : >"$VM_DIR/debug.log"
  VM_STARTED=$SECONDS
  timeout --foreground -k 5 "$VM_BOOT_LIMIT" "${VM_QEMU:-qemu-system-x86_64}" \
    -L /usr/share/qemu -L /usr/share/seabios \
    -machine "${VM_MACHINE:-q35}" -m "${VM_MEMORY:-1024}" -smp 1 -nic none -no-reboot -vga none -display "${ROAD_DISPLAY:-none}" \
    -drive "if=pflash,format=raw,unit=0,readonly=on,file=$code" \
    -drive "if=pflash,format=raw,unit=1,file=$VM_DIR/vars.fd" \
    "${serial[@]}" \
    -debugcon "file:$VM_DIR/debug.log" -global isa-debugcon.iobase=0x402 \
    -monitor "unix:$VM_DIR/monitor.sock,server=on,wait=off" \
    "$@" </dev/null >"$VM_DIR/qemu.log" 2>&1 &
  VM_PID=$!
}

# vm_wait FILE PATTERN [COUNT]: 0 once FILE (in VM_DIR) has COUNT (default
# 1) lines matching PATTERN; 1 when the machine ended or VM_WAIT_LIMIT
# seconds passed without them.
vm_wait() {
  local deadline=$((SECONDS + VM_WAIT_LIMIT)) count=${3:-1}
  vm_seen() { [ "$(grep -a -c -E "$2" "$VM_DIR/$1" 2>/dev/null)" -ge "$count" ]; }
  while [ "$SECONDS" -lt "$deadline" ]; do
    vm_seen "$1" "$2" && return 0
    kill -0 "$VM_PID" 2>/dev/null || { vm_seen "$1" "$2"; return; }
    sleep 0.2
  done
  return 1
}

# vm_monitor COMMAND...: runs each monitor command in turn; prints what the
# monitor answered ("monitor: COMMAND: ANSWER" lines).
vm_monitor() { python3 "$MONITOR_PY" "$VM_DIR/monitor.sock" "$@" 2>&1; }

# vm_qom PROPERTY...: "PROPERTY VALUE" lines of the card's read-only properties.
vm_qom() {
  local p cmds=()
  for p in "$@"; do cmds+=("qom-get /machine/peripheral/gpu $p"); done
  vm_monitor "${cmds[@]}" | sed -n 's/^monitor: qom-get [^ ]* \([a-z0-9-]*\): /\1 /p' | tr -d '\r'
}

# vm_screendump NAME [DEVICE]: the card's screen (or that of the display
# device with id DEVICE) as VM_DIR/NAME.ppm and NAME.png.
vm_screendump() {
  vm_monitor "screendump $VM_DIR/$1.ppm${2:+ $2}" >/dev/null
  python3 "$MONITOR_PY" png-from-ppm "$VM_DIR/$1.ppm" "$VM_DIR/$1.png" 2>/dev/null
}

# vm_bar0: the card's BAR 0 address as QEMU's PCI view has it (0x...), or nothing.
vm_bar0() { python3 "$MONITOR_PY" pci-bar "$VM_DIR/monitor.sock" gpu 0 2>/dev/null; }

# HOLD: the reference platform holds each picture it draws until vm_release
# (or ten minutes), so that the harness reads the screen the boot meant.
HOLD=(-fw_cfg name=opt/org.tavrix/early-picture-hold-ms,string=600000)
# vm_release: a byte on COM2, which ends a picture the platform holds.
vm_release() {
  python3 - "$VM_DIR/release.sock" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.connect(sys.argv[1])
s.sendall(b"\r")
time.sleep(0.2)
s.close()
PY
}

# vm_key [KEY]: a key press on the machine's keyboard (default: Enter).
vm_key() { vm_monitor "sendkey ${1:-ret}" >/dev/null; }

# vm_serve_snapshots HANDLER: until the machine ends, calls HANDLER with the
# words of each "ROAD-SNAP NAME WHAT... ;" line the road application writes
# to the serial log, then presses Enter once so that the application goes on.
vm_serve_snapshots() {
  local handler=$1 handled=0 count line
  while kill -0 "$VM_PID" 2>/dev/null; do
    count=$(grep -a -o 'ROAD-SNAP [^[:cntrl:]]* ;' "$VM_DIR/serial.log" | wc -l)
    while [ "$handled" -lt "$count" ]; do
      handled=$((handled + 1))
      line=$(grep -a -o 'ROAD-SNAP [^[:cntrl:]]* ;' "$VM_DIR/serial.log" | sed -n "${handled}p")
      line=${line% ;}
      # shellcheck disable=SC2086
      "$handler" ${line#ROAD-SNAP } >>"$VM_DIR/snapshots.log" 2>&1
      vm_key
    done
    sleep 0.3
  done
}

# vm_finish: waits for the power-off; console.txt is the serial log without
# escape sequences and carriage returns. A QEMU that did not exit cleanly
# (it crashed, or outlived VM_BOOT_LIMIT and was stopped: 124) fails a check.
vm_finish() {
  local rc=0
  wait "$VM_PID" || rc=$?
  echo "[$ROAD] $(basename "$VM_DIR"): $((SECONDS - VM_STARTED)) s" >&2
  console_text "$VM_DIR/serial.log" "$VM_DIR/console.txt"
  if [ "$rc" -eq 124 ]; then road_fail "$(basename "$VM_DIR") boot ended within $VM_BOOT_LIMIT s" "stopped; see $VM_DIR/console.txt"
  elif [ "$rc" -ne 0 ]; then road_fail "$(basename "$VM_DIR") boot: QEMU exits cleanly" "status $rc; see $VM_DIR/qemu.log"; fi
  return "$rc"
}
