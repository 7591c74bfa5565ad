#!/usr/bin/env bash
# The Secure Boot road: the reference platform's Secure Boot variant
# (PLATFORM_VARIANT=SecureBoot scripts/build/build-platform.sh), which verifies
# option ROM images and refuses them on a security violation, as shipping
# boards do, booted with the test certificate enrolled in PK, KEK and db
# (Secure Boot on from the first boot). It is built with SMM: the
# authenticated variables are written only by the variable driver in SMM,
# and QEMU runs it with -machine q35,smm=on,
# -global driver=cfi.pflash01,property=secure,value=on (the variable store's
# flash takes no write from outside SMM) and -global ICH9-LPC.disable_s3=1
# (the X64 SMM build has no S3 resume). TavrixGopDxe is not in its firmware
# volume: it can come only from the card's option ROM. Three boots on our
# QEMU, each on the store the one before left, the card behind the root
# port as on a board (-device tavrix-display,romfile=...):
#   the build: the option ROM policy is fixed at build time (0x04, a
#             constant in the module that verifies images);
#   tampered: the signed image with one byte of its code changed (inside the
#             range the signature covers; sbverify fails it) packed into a
#             ROM again: refused; then, from the shell, the road application
#             (signed with the test key, as anything loaded from disk must
#             be) tries to change db from outside SMM: a byte program
#             straight to the variable store's flash, and SetVariable with a
#             forged signature (append, replace) or none (delete); db reads
#             back as before each time, and the store's file on the host
#             holds db's record as enrolled;
#   unsigned: the next boot, on that store: TavrixGopDxe.rom is refused, the
#             firmware log says why, and the card has no GOP;
#   signed:   the boot after it: TavrixGopDxe.TestKeySigned.rom passes
#             verification, starts, and the console comes up on its GOP;
# and in each boot Prelumen, trusted as part of the firmware volume, starts.
# The boots need no other image from disk (the shell is in the volume).
# One "PASS: ..." or "FAIL: ..." line per check; logs and screens in
# out/secure-boot/. Usage: scripts/roads/qemu-secure-boot.sh
#
# To see the keys' checks catch what SMM prevents, boot other images or an
# open flash (not part of make test): SECURE_BOOT_IMAGES=<folder with
# OVMF_CODE.fd and OVMF_VARS.TestKeyEnrolled.fd> boots that folder instead of
# building; SECURE_BOOT_FLASH=open leaves out secure=on.
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin secure-boot
FW=${SECURE_BOOT_IMAGES:-$REPO/Build/TavrixRefPlatformSecureBoot/DEBUG}
BIN=$REPO/Build/TavrixDev/DEBUG_GCC5/X64
TEST_CERT=/usr/share/ovmf/PkKek-1-snakeoil.pem
TEST_KEY=$REPO/Build/TestKey/PkKek-1-snakeoil.key
# SMM on; no S3 offered (the X64 SMM build has no S3 resume: PEI stops when
# QEMU offers S3); the variable store's flash writable only from SMM.
VM_MACHINE=q35,smm=on
MACHINE_ARGS=(-global ICH9-LPC.disable_s3=1 -global driver=cfi.pflash01,property=secure,value=on)
[ "${SECURE_BOOT_FLASH:-secure}" = open ] && MACHINE_ARGS=(-global ICH9-LPC.disable_s3=1)

need_platform "$FW"
need_built build "$BIN"/{TavrixGopDxe.rom,TavrixGopDxe.TestKeySigned.efi,TavrixGopDxe.TestKeySigned.rom,TavrixRoad.efi}
[ -s "$TEST_KEY" ] || { road_fail "the test key is in $TEST_KEY (make build)"; exit 1; }
need_qemu

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
   ! (. "$REPO/scripts/lib/edk2-env.sh" && bash "$REPO/scripts/build/make-rom.sh" "$TAMPERED.efi" "$TAMPERED.rom") >"$OUT/tamper.log" 2>&1; then
  road_fail "the tampered ROM is made" "see $OUT/tamper.log"; exit 1
fi
if ! sbverify --cert "$TEST_CERT" "$TAMPERED.efi" >"$OUT/tamper-sbverify.log" 2>&1 &&
   sbverify --list "$TAMPERED.efi" >>"$OUT/tamper-sbverify.log" 2>&1; then
  road_pass "the tampered image still carries the test key's signature, which no longer verifies (sbverify)"
else road_fail "the tampered image still carries the test key's signature, which no longer verifies (sbverify)" "see $OUT/tamper-sbverify.log"; fi

# The road application, signed with the test key: under Secure Boot the
# shell loads nothing from disk that db does not trust.
if ! sbsign --key "$TEST_KEY" --cert "$TEST_CERT" --output "$OUT/TavrixRoad.efi" "$BIN/TavrixRoad.efi" >"$OUT/sign-road.log" 2>&1; then
  road_fail "the road application is signed with the test key" "see $OUT/sign-road.log"; exit 1
fi
# Where the variable store's flash is mapped: QEMU maps the first flash (the
# code) just below 4 GiB and the second (the store) just below it.
STORE_BASE=$(printf '0x%X' $(( (1 << 32) - $(stat -c %s "$FW/OVMF_CODE.fd") - $(stat -c %s "$FW/OVMF_VARS.TestKeyEnrolled.fd") )))

# shell_script NAME [COMMANDS]: an ESP whose startup.nsh lists the drivers
# and the GOP handles, waits at a pause while the harness reads the screen,
# then runs COMMANDS and powers off.
shell_script() {
  cat >"$OUT/$1.nsh" <<NSH
@echo -off
echo "== drivers"
drivers
echo "== gop"
dh -p GraphicsOutput
echo "== screenshot"
pause
${2:-}
echo "== done"
reset -s
NSH
  qemu_make_esp "$OUT/$1.img" "$OUT/$1.nsh=startup.nsh" "$OUT/TavrixRoad.efi"
}
shell_script script
shell_script keys "fs0:
TavrixRoad.efi keys $STORE_BASE"

# sb_boot NAME ROM VARS [ESP]: one boot with the card carrying ROM, on a copy
# of the store VARS; at the shell's pause the card's screen (NAME/screen.png)
# and what the card shows (NAME/device.txt). NAME/vars.fd is the store after.
sb_boot() {
  card_with_rom "$2"
  vm_start "$1" "$FW/OVMF_CODE.fd" "$3" "${MACHINE_ARGS[@]}" "${CARD_WITH_ROM[@]}" \
    -drive "file=$OUT/${4:-script}.img,format=raw"
  if vm_wait serial.log "Enter 'q' to quit"; then
    vm_screendump screen
    vm_qom display-width display-height aperture-decodes >"$VM_DIR/device.txt"
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
  # Nothing will take the early frame over: the card goes back to its VGA
  # screen (channel B off) with the aperture off, not the boot's picture
  # frozen into the operating system.
  if grep -a -q 'frame aperture turned off: no GOP of the display controller when the boot manager boots' "$d/debug.log" &&
     grep -a -q 'no GOP took the early frame over: the card.s display handed back to VGA: Success' "$d/debug.log" &&
     [ "$(sed -n 's/^aperture-decodes //p' "$d/device.txt")" = 0 ] && [ "$(sed -n 's/^display-width //p' "$d/device.txt")" = 0 ] &&
     [ "$(python3 "$MONITOR_PY" ppm-at "$d/screen.ppm" 0 0 | cut -d' ' -f1)" = 720x400 ]; then
    road_pass "$1 ROM: with no GOP when the boot manager boots, the platform turns the aperture off and the card shows its VGA screen again"
  else road_fail "$1 ROM: with no GOP when the boot manager boots, the platform turns the aperture off and the card shows its VGA screen again" \
    "see $d/debug.log and $d/device.txt"; fi
}
# db_record VARS: "OFFSET LENGTH CRC32" of db's live record in the store file.
db_record() { python3 "$REPO/scripts/kit/secure-boot-vars.py" --find "$1" db 2>&1 | cut -d' ' -f2-; }
ENROLLED=$FW/OVMF_VARS.TestKeyEnrolled.fd
read -r DB_OFFSET DB_LENGTH DB_CRC <<<"$(db_record "$ENROLLED")"
# db_as_enrolled VARS: the store file holds db's record where and as enrolled.
db_as_enrolled() {
  [ "$(db_record "$1")" = "$DB_OFFSET $DB_LENGTH $DB_CRC" ] &&
    cmp -s -n "$DB_LENGTH" -i "$((DB_OFFSET)):$((DB_OFFSET))" "$ENROLLED" "$1"
}

# ---- the build ---------------------------------------------------------------------
# What the build generated for the policy in SecurityStubDxe, which verifies
# images: 0x04, read from a constant of the module, with no set defined.
policy_fixed() {
  grep -q -E '^#define _PCD_VALUE_PcdOptionRomImageVerificationPolicy +0x04U$' "$1" &&
    grep -q -E '^#define _PCD_GET_MODE_32_PcdOptionRomImageVerificationPolicy +_gPcd_FixedAtBuild_' "$1" &&
    grep -q 'const UINT32 _gPcd_FixedAtBuild_PcdOptionRomImageVerificationPolicy = ' "$1" &&
    ! grep -q '^#define _PCD_SET_MODE' "$1"
}
road_that "the build fixes the option ROM policy at 0x04 (deny on a security violation): a constant, not settable at run time" \
  policy_fixed "$FW/option-rom-policy.txt"

# ---- signed, then one byte changed; then the keys ------------------------------------
sb_boot tampered "$TAMPERED.rom" "$ENROLLED" keys
K=$OUT/tampered
road_check "the variant boots with Secure Boot on from the first boot (test certificate in PK, KEK and db)" "$K/debug.log" \
  'Variable SecureBoot is 1'
road_check "the variable driver runs in SMM (the SMM core dispatches it)" "$K/debug.log" 'Loading SMM driver at .*VariableSmm'
refused tampered 'Image is signed but signature is not allowed by DB and SHA256 hash of image is not found in DB/DBX.'
prelumen_starts tampered
sed -n '/^ROAD-BEGIN keys/,/^ROAD-END/p' "$K/console.txt" >"$K/keys.txt"
road_relay road "" "$K/keys.txt"
road_check "keys: the road application ran to its end" "$K/keys.txt" '^ROAD-END '
road_check "keys: the firmware's db is the certificate enrolled in the store (CRC32 $DB_CRC)" "$K/keys.txt" \
  "NOTE: road: keys: db [0-9]+ bytes, CRC32 $DB_CRC"
road_that "keys: the store's file on the host holds db's record where and as enrolled (offset $DB_OFFSET, $DB_LENGTH bytes)" \
  db_as_enrolled "$K/vars.fd"

# ---- the next boots on that store: unsigned refused, signed loads -------------------
sb_boot unsigned "$BIN/TavrixGopDxe.rom" "$K/vars.fd"
refused unsigned 'Image is not signed and SHA256 hash of image is not found in DB/DBX.'
prelumen_starts unsigned

sb_boot signed "$BIN/TavrixGopDxe.TestKeySigned.rom" "$OUT/unsigned/vars.fd"
S=$OUT/signed
if grep -a -q -E '^1004$' "$S/console.txt" && ! grep -a -q "The image doesn't pass verification" "$S/debug.log"; then
  road_pass "signed ROM: TavrixGopDxe passes verification and starts (its \"1004\")"
else road_fail "signed ROM: TavrixGopDxe passes verification and starts (its \"1004\")" "see $S/debug.log and $S/console.txt"; fi
road_that "signed ROM: the shell's driver list names \"Tavrix TVX  GOP Driver\" once" \
  test "$(grep -a -c 'Tavrix TVX  GOP Driver' "$S/console.txt")" -eq 1
if grep -a -q -E '^[0-9A-F]+: .*GraphicsOutput.*Pci\(0x1C,0x0\)/Pci\(0x0,0x0\)' "$S/gop.txt" &&
   grep -a -q 'GraphicsConsole video resolution 800 x 600' "$S/debug.log" &&
   [ "$(grep -E '^display-(width|height) ' "$S/device.txt" | tr '\n' ' ')" = "display-width 800 display-height 600 " ]; then
  road_pass "signed ROM: the console comes up on the card's GOP at 800 x 600 (out/secure-boot/signed/screen.png)"
else road_fail "signed ROM: the console comes up on the card's GOP at 800 x 600" "see $S/gop.txt, $S/device.txt, $S/debug.log"; fi
road_check "signed ROM: Prelumen follows the card's GOP" "$S/debug.log" 'picture drawn again through the GOP'
prelumen_starts signed
road_that "after the three boots the store's file still holds db's record where and as enrolled" db_as_enrolled "$S/vars.fd"

cat >"$OUT/README.txt" <<TXT
The Secure Boot road on the reference platform's Secure Boot variant (SMM), $(date -u '+%Y-%m-%d %H:%M UTC').
Each boot starts from the store the boot before left (the first from OVMF_VARS.TestKeyEnrolled.fd).
  tampered/  the card carries the signed image with one byte changed (TavrixGopDxe.Tampered.*): refused;
             then TavrixRoad.efi keys tries to change db from outside SMM (keys.txt)
  unsigned/  the card carries TavrixGopDxe.rom: refused (debug.log: DxeImageVerificationLib)
  signed/    the card carries TavrixGopDxe.TestKeySigned.rom: it loads, the console is on its GOP
  */debug.log    the firmware's DEBUG log (port 0x402)
  */console.txt  the serial log: TavrixGopDxe's "1004", the shell's drivers and GOP handles
  */screen.png   the card's screen at the shell
  */vars.fd      the variable store after the boot
TXT
road_status
