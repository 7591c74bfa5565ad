#!/usr/bin/env bash
# The Secure Boot road: the reference platform's Secure Boot variant
# (PLATFORM_VARIANT=SecureBoot scripts/build-platform.sh), which verifies
# option ROM images and refuses them on a security violation, as shipping
# boards do, booted with the test certificate enrolled in PK, KEK and db
# (Secure Boot on from the first boot). TavrixGopDxe is not in its firmware
# volume: it can come only from the card's option ROM. Three boots on our
# QEMU, the card behind the root port as on a board
# (-device tavrix-display,romfile=...):
#   signed:   TavrixGopDxe.TestKeySigned.rom passes verification, starts, and
#             the console comes up on its GOP;
#   unsigned: TavrixGopDxe.rom is refused, the firmware log says why, and the
#             card has no GOP;
#   tampered: the signed image with one byte of its code changed (inside the
#             range the signature covers; sbverify fails it) packed into a
#             ROM again: refused;
# and in each boot Prelumen, trusted as part of the firmware volume, starts.
# The boots need no image from disk (the disk holds only the shell's
# script; the shell is in the volume), so nothing else needs signing.
# One "PASS: ..." or "FAIL: ..." line per check; logs and screens in
# out/secure-boot/. Usage: scripts/qemu-secure-boot.sh
set -uo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
ROAD=secure-boot
OUT=$REPO/out/secure-boot; rm -rf "$OUT"; mkdir -p "$OUT"
. "$REPO/scripts/qemu-lib.sh"
FW=$REPO/Build/TavrixRefPlatformSecureBoot/DEBUG
BIN=$REPO/Build/TavrixDev/DEBUG_GCC5/X64
TEST_CERT=/usr/share/ovmf/PkKek-1-snakeoil.pem

PLATFORM_VARIANT=SecureBoot bash "$REPO/scripts/build-platform.sh" DEBUG >"$OUT/build-platform.log" 2>&1 ||
  { road_fail "the Secure Boot variant's DEBUG image builds" "see $OUT/build-platform.log"; exit 1; }
for f in TavrixGopDxe.rom TavrixGopDxe.TestKeySigned.efi TavrixGopDxe.TestKeySigned.rom; do
  [ -f "$BIN/$f" ] || { road_fail "$BIN/$f is built (make build)"; exit 1; }
done
VM_QEMU=$(our_qemu) || { road_fail "our QEMU with -device tavrix-display builds" "see $OUT/setup-qemu.log"; exit 1; }

# tamper IN OUT: a copy of the PE image IN with one byte changed in the
# middle of its first section (code, which the signature's hash covers).
tamper() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
image = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", image, 0x3C)[0]
optional_size = struct.unpack_from("<H", image, pe + 20)[0]
section = pe + 24 + optional_size
raw_size, raw_offset = struct.unpack_from("<II", image, section + 16)
image[raw_offset + raw_size // 2] ^= 0x01
open(sys.argv[2], "wb").write(image)
PY
}
TAMPERED=$OUT/TavrixGopDxe.Tampered
if ! tamper "$BIN/TavrixGopDxe.TestKeySigned.efi" "$TAMPERED.efi" ||
   ! (. "$REPO/scripts/edk2-env.sh" && bash "$REPO/scripts/make-rom.sh" "$TAMPERED.efi" "$TAMPERED.rom") >"$OUT/tamper.log" 2>&1; then
  road_fail "the tampered ROM is made" "see $OUT/tamper.log"; exit 1
fi
if ! sbverify --cert "$TEST_CERT" "$TAMPERED.efi" >"$OUT/tamper-sbverify.log" 2>&1 &&
   sbverify --list "$TAMPERED.efi" >>"$OUT/tamper-sbverify.log" 2>&1; then
  road_pass "the tampered image still carries the test key's signature, which no longer verifies (sbverify)"
else road_fail "the tampered image still carries the test key's signature, which no longer verifies (sbverify)" "see $OUT/tamper-sbverify.log"; fi

cat >"$OUT/startup.nsh" <<'NSH'
@echo -off
echo "== drivers"
drivers
echo "== gop"
dh -p GraphicsOutput
echo "== screenshot"
pause
echo "== done"
reset -s
NSH
qemu_make_esp "$OUT/script.img" "$OUT/startup.nsh"

# sb_boot NAME ROM: one boot with the card carrying ROM; at the shell's pause
# the card's screen (NAME/screen.png) and what the card shows (NAME/device.txt).
sb_boot() {
  vm_start "$1" "$FW/OVMF_CODE.fd" "$FW/OVMF_VARS.TestKeyEnrolled.fd" \
    -device pcie-root-port,id=rp0,bus=pcie.0,addr=0x1c.0,chassis=1 \
    -device "tavrix-display,id=gpu,bus=rp0,addr=0x0,romfile=$2" \
    -drive "file=$OUT/script.img,format=raw"
  if vm_wait serial.log "Enter 'q' to quit"; then
    vm_screendump screen
    vm_qom display-width display-height >"$VM_DIR/device.txt"
    vm_key
  fi
  vm_finish
  sed -n '/^== gop/,/^== screenshot/p' "$VM_DIR/console.txt" >"$VM_DIR/gop.txt"
}
# prelumen_starts NAME: Prelumen, from the volume, registered with the
# platform's display protocol and drew the early picture.
prelumen_starts() {
  local d=$OUT/$1/debug.log
  if grep -a -q 'graphics callbacks registered' "$d" && grep -a -q 'name and logo drawn into the 800 x 600 frame: Success' "$d"; then
    road_pass "$1 ROM: Prelumen starts from the firmware volume and draws the early picture"
  else road_fail "$1 ROM: Prelumen starts from the firmware volume and draws the early picture" "see $d"; fi
}
# refused NAME WHY: the ROM's image is refused for WHY, and no GOP exists.
refused() {
  local d=$OUT/$1 name="$1 ROM: the image is refused, the firmware log says why"
  if grep -a -q "DxeImageVerificationLib: $2" "$d/debug.log" &&
     grep -a -q -E "The image doesn't pass verification: .*Pci\(0x0,0x0\)/Offset" "$d/debug.log"; then road_pass "$name ($2)"
  else road_fail "$name" "no \"$2\" for the card's ROM in $d/debug.log"; fi
  if ! grep -a -q -E '^1004$' "$d/console.txt" && ! grep -a -q 'Tavrix TVX  GOP Driver' "$d/console.txt" &&
     ! grep -a -q -E '^[0-9A-F]+: .*GraphicsOutput' "$d/gop.txt" && ! grep -a -q 'GraphicsConsole video resolution' "$d/debug.log"; then
    road_pass "$1 ROM: TavrixGopDxe never starts: no \"1004\", no driver, no GOP, no graphics console"
  else road_fail "$1 ROM: TavrixGopDxe never starts: no \"1004\", no driver, no GOP, no graphics console" "see $d/console.txt"; fi
  road_check "$1 ROM: the boot goes on without a picture from the card: the shell runs on the serial console" "$d/console.txt" '^== done'
}

# ---- signed ----------------------------------------------------------------------
sb_boot signed "$BIN/TavrixGopDxe.TestKeySigned.rom"
S=$OUT/signed
road_check "the variant boots with Secure Boot on from the first boot (test certificate in PK, KEK and db)" "$S/debug.log" \
  'Variable SecureBoot is 1'
if grep -a -q -E '^1004$' "$S/console.txt" && ! grep -a -q "The image doesn't pass verification" "$S/debug.log"; then
  road_pass "signed ROM: TavrixGopDxe passes verification and starts (its \"1004\")"
else road_fail "signed ROM: TavrixGopDxe passes verification and starts (its \"1004\")" "see $S/debug.log and $S/console.txt"; fi
road_that "signed ROM: the shell's driver list names \"Tavrix TVX  GOP Driver\" once" \
  test "$(grep -a -c 'Tavrix TVX  GOP Driver' "$S/console.txt")" -eq 1
if grep -a -q -E '^[0-9A-F]+: .*GraphicsOutput.*Pci\(0x1C,0x0\)/Pci\(0x0,0x0\)' "$S/gop.txt" &&
   grep -a -q 'GraphicsConsole video resolution 800 x 600' "$S/debug.log" &&
   [ "$(tr '\n' ' ' <"$S/device.txt")" = "display-width 800 display-height 600 " ]; then
  road_pass "signed ROM: the console comes up on the card's GOP at 800 x 600 (out/secure-boot/signed/screen.png)"
else road_fail "signed ROM: the console comes up on the card's GOP at 800 x 600" "see $S/gop.txt, $S/device.txt, $S/debug.log"; fi
road_check "signed ROM: Prelumen follows the card's GOP" "$S/debug.log" 'picture drawn again through the GOP'
prelumen_starts signed

# ---- unsigned --------------------------------------------------------------------
sb_boot unsigned "$BIN/TavrixGopDxe.rom"
refused unsigned 'Image is not signed and SHA256 hash of image is not found in DB/DBX.'
prelumen_starts unsigned

# ---- signed, then one byte changed ----------------------------------------------------
sb_boot tampered "$TAMPERED.rom"
refused tampered 'Image is signed but signature is not allowed by DB and SHA256 hash of image is not found in DB/DBX.'
prelumen_starts tampered

cat >"$OUT/README.txt" <<TXT
The Secure Boot road on the reference platform's Secure Boot variant, $(date -u '+%Y-%m-%d %H:%M UTC').
  signed/    the card carries TavrixGopDxe.TestKeySigned.rom: it loads, the console is on its GOP
  unsigned/  the card carries TavrixGopDxe.rom: refused (debug.log: DxeImageVerificationLib)
  tampered/  the card carries the signed image with one byte changed (TavrixGopDxe.Tampered.*): refused
  */debug.log    the firmware's DEBUG log (port 0x402)
  */console.txt  the serial log: TavrixGopDxe's "1004", the shell's drivers and GOP handles
  */screen.png   the card's screen at the shell
TXT
road_status
