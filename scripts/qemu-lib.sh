# Shared pieces of the QEMU runs, sourced by the qemu-*.sh scripts.
OVMF_CODE=${OVMF_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}
OVMF_VARS=${OVMF_VARS:-/usr/share/OVMF/OVMF_VARS_4M.fd}

# qemu_make_esp IMAGE FILE...: a 16 MiB FAT image holding the files at its root.
qemu_make_esp() {
  local img=$1; shift
  rm -f "$img"
  mkfs.fat -C "$img" 16384 >/dev/null
  local f; for f in "$@"; do mcopy -o -i "$img" "$f" ::/; done
}

# qemu_boot OUTDIR SECONDS [QEMU ARGS...]: boots OVMF headless with the serial
# console captured in OUTDIR/serial.log (raw) and OUTDIR/console.txt (escape
# sequences and carriage returns removed). The machine powers off at the end of
# the startup script; the time limit stops a hung run. Returns QEMU's status
# (124 on time-out).
qemu_boot() {
  local out=$1 secs=$2; shift 2
  cp "$OVMF_VARS" "$out/vars.fd"
  local rc=0
  timeout --foreground -k 5 "$secs" qemu-system-x86_64 \
    -machine q35 -m 512 -smp 1 -nic none -no-reboot -display none \
    -drive "if=pflash,format=raw,unit=0,readonly=on,file=$OVMF_CODE" \
    -drive "if=pflash,format=raw,unit=1,file=$out/vars.fd" \
    -serial "file:$out/serial.log" -monitor none \
    "$@" </dev/null >"$out/qemu.log" 2>&1 || rc=$?
  sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g' "$out/serial.log" >"$out/console.txt"
  return $rc
}
