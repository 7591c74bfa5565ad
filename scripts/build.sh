#!/usr/bin/env bash
# Builds the firmware drivers (DEBUG and RELEASE by default, or the targets
# named as arguments) with each tool chain of TOOL_CHAINS (default GCC5; any of
# GCC5, CLANG38, CLANGDWARF), and the option ROM image of TavrixGopDxe for each.
# Fails on any compiler or linker warning, and when Prelumen's link defines a
# symbol twice other than the two string-length routines it overrides.
# Outputs: Build/TavrixDev/<TARGET>_<TOOL_CHAIN>/X64/{TavrixGopDxe.efi,Prelumen.efi,TavrixGopDxe.rom}
set -euo pipefail
. "$(dirname "$0")/edk2-env.sh"
cd "$REPO"
targets=("$@"); [ ${#targets[@]} -gt 0 ] || targets=(DEBUG RELEASE)
read -r -a tool_chains <<<"${TOOL_CHAINS:-GCC5}"

# The option ROM's code revision is the product version of OptionRomPkg.dec,
# major in the high byte and minor in the low byte (1.0 -> 0x0100).
version=$(sed -n 's/^ *PACKAGE_VERSION *= *\([0-9]*\.[0-9]*\) *$/\1/p' OptionRomPkg/OptionRomPkg.dec)
[ -n "$version" ] || { echo "[build] no PACKAGE_VERSION in OptionRomPkg/OptionRomPkg.dec"; exit 1; }
rom_revision=$(printf '0x%02X%02X' "${version%%.*}" "${version#*.}")

# Symbol lister that reads the tool chain's LTO objects.
nm_for() { if [ "$1" = GCC5 ]; then echo gcc-nm; else echo llvm-nm; fi; }

build_one() {
  local tc=$1 t=$2 log out
  echo "[build] TavrixDev.dsc $t $tc"
  log=Build/build-$t-$tc.log; mkdir -p Build
  if ! build -p TavrixDevPkg/TavrixDev.dsc -a X64 -t "$tc" -b "$t" -n "$(nproc)" >"$log" 2>&1; then
    grep -E -A3 ': error|error:|Error [0-9]' "$log" | head -n 60; echo "[build] failed; full log in $log"; exit 1
  fi
  # Compiler and linker warnings fail the build, as -Werror does for C++.
  if grep -q -i 'warning:' "$log"; then
    grep -i 'warning:' "$log" | sort -u | head -n 20; echo "[build] warnings; full log in $log"; exit 1
  fi
  out=Build/TavrixDev/${t}_$tc/X64
  # Prelumen links with --allow-multiple-definition so that the override's
  # AsciiStrLen and AsciiStrSize win over BaseLib's; any other duplicate
  # would be resolved just as silently, so it fails the build here.
  if ! python3 scripts/check-link-duplicates.py "$(nm_for "$tc")" AsciiStrLen,AsciiStrSize \
      "$out/NorvaneEarlyVgaPkg/Prelumen/Prelumen/OUTPUT/static_library_files.lst" >"$log.duplicates" 2>&1; then
    cat "$log.duplicates"; echo "[build] Prelumen's link defines a symbol twice"; exit 1
  fi
  # The option ROM: vendor 0x19E5, device 0x1711, class 0x030000, EFI image compressed.
  EfiRom -f 0x19E5 -i 0x1711 -l 0x030000 -r "$rom_revision" -ec "$out/TavrixGopDxe.efi" \
    -o "$out/TavrixGopDxe.rom" >/dev/null
}

for tc in "${tool_chains[@]}"; do
  for t in "${targets[@]}"; do build_one "$tc" "$t"; done
done
