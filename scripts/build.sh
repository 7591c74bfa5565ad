#!/usr/bin/env bash
# Builds the firmware drivers (DEBUG and RELEASE by default, or the targets
# named as arguments) and the option ROM image of TavrixGopDxe for each target.
# Outputs: Build/TavrixDev/<TARGET>_GCC5/X64/{TavrixGopDxe.efi,Prelumen.efi,TavrixGopDxe.rom}
set -euo pipefail
. "$(dirname "$0")/edk2-env.sh"
cd "$REPO"
targets=("$@"); [ ${#targets[@]} -gt 0 ] || targets=(DEBUG RELEASE)
for t in "${targets[@]}"; do
  echo "[build] TavrixDev.dsc $t"
  log=Build/build-$t.log; mkdir -p Build
  if ! build -p TavrixDevPkg/TavrixDev.dsc -a X64 -t GCC5 -b "$t" -n "$(nproc)" >"$log" 2>&1; then
    grep -E -A3 ': error|error:|Error [0-9]' "$log" | head -n 60; echo "[build] failed; full log in $log"; exit 1
  fi
  # Compiler and linker warnings fail the build, as -Werror does for C++.
  if grep -q -i 'warning:' "$log"; then
    grep -i 'warning:' "$log" | sort -u | head -n 20; echo "[build] warnings; full log in $log"; exit 1
  fi
  out=Build/TavrixDev/${t}_GCC5/X64
  # The option ROM: vendor 0x19E5, device 0x1711, class 0x030000, EFI image compressed.
  EfiRom -f 0x19E5 -i 0x1711 -l 0x030000 -ec "$out/TavrixGopDxe.efi" -o "$out/TavrixGopDxe.rom" >/dev/null
done
