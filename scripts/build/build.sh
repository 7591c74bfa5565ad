#!/usr/bin/env bash
# Builds the firmware drivers (DEBUG and RELEASE by default, or the targets
# named as arguments) with each tool chain of TOOL_CHAINS (default GCC5; any of
# GCC5, CLANG38, CLANGDWARF), and the option ROM image of TavrixGopDxe for each.
# Fails on any compiler or linker warning, and when Prelumen's link defines a
# symbol twice other than the two string-length routines it overrides.
# Outputs: Build/TavrixDev/<TARGET>_<TOOL_CHAIN>/X64/{TavrixGopDxe.efi,Prelumen.efi,TavrixGopDxe.rom}
#
# A board with Secure Boot on runs an option ROM's image only when its
# Authenticode signature chains to a certificate in the board's db, so the
# GOP driver is also signed before EfiRom compresses it:
#   TavrixGopDxe.TestKeySigned.{efi,rom}  always, with the TEST key Debian's
#       ovmf package ships for this (its private key is public: a ROM signed
#       with it proves nothing and must never ship); the Secure Boot variant
#       of the reference platform has its certificate in db;
#   TavrixGopDxe.Signed.{efi,rom}  only when SIGN_KEY and SIGN_CERT name the
#       vendor's private key and certificate (PEM files, the key without a
#       pass phrase).
# TavrixGopDxe.rom stays unsigned.
set -euo pipefail
. "$(dirname "$0")/../lib/edk2-env.sh"
cd "$REPO"
targets=("$@"); [ ${#targets[@]} -gt 0 ] || targets=(DEBUG RELEASE)
read -r -a tool_chains <<<"${TOOL_CHAINS:-GCC5}"

# The test key: Debian's snakeoil key, whose file is protected by the pass
# phrase "snakeoil"; sbsign cannot be given a pass phrase, so it signs with
# a copy without one.
TEST_CERT=/usr/share/ovmf/PkKek-1-snakeoil.pem
TEST_KEY=Build/TestKey/PkKek-1-snakeoil.key
if [ -n "${SIGN_KEY:-}${SIGN_CERT:-}" ] && { [ ! -f "${SIGN_KEY:-}" ] || [ ! -f "${SIGN_CERT:-}" ]; }; then
  echo "[build] SIGN_KEY and SIGN_CERT must both name files (key '${SIGN_KEY:-}', certificate '${SIGN_CERT:-}')"; exit 1
fi
if [ ! -s "$TEST_KEY" ]; then
  mkdir -p "$(dirname "$TEST_KEY")"
  (umask 077; openssl pkey -in /usr/share/ovmf/PkKek-1-snakeoil.key -passin pass:snakeoil -out "$TEST_KEY")
fi

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
  if ! python3 scripts/kit/check-link-duplicates.py "$(nm_for "$tc")" AsciiStrLen,AsciiStrSize \
      "$out/NorvaneEarlyVgaPkg/Prelumen/Prelumen/OUTPUT/static_library_files.lst" >"$log.duplicates" 2>&1; then
    cat "$log.duplicates"; echo "[build] Prelumen's link defines a symbol twice"; exit 1
  fi
  bash scripts/build/make-rom.sh "$out/TavrixGopDxe.efi" "$out/TavrixGopDxe.rom"
  sign_rom "$out" TestKeySigned "$TEST_KEY" "$TEST_CERT"
  # A vendor-signed pair left by an earlier build with SIGN_KEY would be an
  # older driver under a release name: it goes, and comes back only signed now.
  rm -f "$out/TavrixGopDxe.Signed.efi" "$out/TavrixGopDxe.Signed.rom"
  [ -z "${SIGN_KEY:-}" ] || sign_rom "$out" Signed "$SIGN_KEY" "$SIGN_CERT"
}

# sign_rom DIR NAME KEY CERT: DIR/TavrixGopDxe.NAME.efi signed with KEY, its
# signature checked against CERT, and DIR/TavrixGopDxe.NAME.rom made of it.
sign_rom() {
  local signed=$1/TavrixGopDxe.$2.efi log=Build/sign.log
  rm -f "$signed"
  if ! sbsign --key "$3" --cert "$4" --output "$signed" "$1/TavrixGopDxe.efi" >"$log" 2>&1 ||
     ! sbverify --cert "$4" "$signed" >>"$log" 2>&1; then
    cat "$log"; echo "[build] signing $1/TavrixGopDxe.efi with $3 failed"; exit 1
  fi
  bash scripts/build/make-rom.sh "$signed" "$1/TavrixGopDxe.$2.rom"
}

for tc in "${tool_chains[@]}"; do
  for t in "${targets[@]}"; do build_one "$tc" "$t"; done
done
