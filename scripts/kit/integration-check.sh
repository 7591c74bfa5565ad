#!/usr/bin/env bash
# The board maker's road: stock OVMF brought up with both drivers from the
# shipped kit and the integration guide alone (docs/INTEGRATION.md sections
# 13 and 14.1), on four boards.
#   1. the kit (Build/Dist/tavrix-display-<version>.tar.gz, make dist) is
#      unpacked and its checksums verified;
#   2. for each board, OvmfPkgX64.dsc/.fdf are copied unchanged from the
#      EDK II tree, with the .fdf.inc files the .fdf includes by a relative
#      path, into a board folder; the .dsc's FLASH_DEFINITION names the copy
#      and, for all but the first board, OUTPUT_DIRECTORY a folder of the
#      board's own (so that the boards share the workspace's EDK II objects'
#      sources but keep their builds apart);
#   3. the guide's marked board lines are applied (taken out of the guide
#      itself, scripts/kit/apply-integration-lines.py, so guide and check cannot
#      drift): the lines for every board, and a board's own (root-bus,
#      secure-boot); out/integration/board*.diff show what changed;
#   4. each board is built GCC5 with EDK II first in PACKAGES_PATH and the
#      kit after it, in one workspace that later runs reuse
#      (<cache>/stock-ovmf-ws), one build at a time: the workspace is locked
#      (<cache>/stock-ovmf.lock) from the first build to the last copy of an
#      image out of it, so that two checkouts running this wait for each
#      other; the boots then run on the copies;
#   5. the boots, on our QEMU with the card:
#      reference lines (the card behind the root port at 0:1C.0), DEBUG: the
#        picture the platform holds is read from the card's screen before the
#        console exists and again once drawn through the GOP (the guest holds
#        each until the harness sends a byte on COM2); at the shell's pause,
#        the console on the card; the kit's duplicate-symbol tool on
#        Prelumen's link; RELEASE: the shell, the banks used early, the
#        console on the card, no driver output on the serial port;
#      no early video (-D TAVRIX_GOP_ONLY), RELEASE: TavrixGopDxe built and in
#        the image's DXE volume, Prelumen in neither, the console on the card;
#      the card on q35's root bus (the guide's root-bus lines), DEBUG: set up
#        at the build's location with no bridge and nothing probed at 0:1C.0,
#        the early picture and the picture through the GOP on the card, the
#        console on it; and text mode (chosen at boot): the platform's text
#        on the card's text screen before the console, the console after;
#      Secure Boot (the guide's secure-boot lines: Secure Boot, SMM, the
#        option ROM policy fixed at 0x04, TavrixGopDxe only from the card's
#        ROM), DEBUG, its store enrolled with the kit's test certificate by
#        the kit's tool: the kit's test-signed RELEASE ROM loads and the
#        console comes up on the card; the kit's unsigned RELEASE ROM is
#        refused, the log says why, and the card gets no GOP.
# One "PASS: ..." or "FAIL: ..." line per check; logs, screenshots and build
# times in out/integration/. Not part of make test (the builds are long):
# make integration-check.
set -uo pipefail
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin integration
. "$REPO/scripts/lib/edk2-env.sh"   # BaseTools on PATH; the workspace is set per build below
CACHE_DIR=${TAVRIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrix-fw}
WS=$CACHE_DIR/stock-ovmf-ws
version=$(bash "$REPO/scripts/build/product-version.sh") || exit 1
KIT=tavrix-display-$version
ARCHIVE=$REPO/Build/Dist/$KIT.tar.gz
IMAGES=$OUT/images

# sync_tree FROM TO: TO becomes a copy of FROM; a file whose content did not
# change keeps its time stamp, so that EDK II rebuilds only what changed.
sync_tree() {
  local f
  mkdir -p "$2"
  (cd "$2" && find . -type f -printf '%P\n') | while read -r f; do [ -f "$1/$f" ] || rm -f "$2/$f"; done
  (cd "$1" && find . -type f -printf '%P\n') | while read -r f; do
    cmp -s "$1/$f" "$2/$f" || { mkdir -p "$(dirname "$2/$f")"; cp "$1/$f" "$2/$f"; }
  done
}

# ---- the kit --------------------------------------------------------------------
need_built dist "$ARCHIVE"
tar -xzf "$ARCHIVE" -C "$OUT"
K=$OUT/$KIT
road_that "the kit's files match its SHA256SUMS" bash -c "cd '$K' && sha256sum --quiet -c SHA256SUMS"
GUIDE=$K/docs/INTEGRATION.md

# ---- the boards: stock OVMF and the guide's lines ----------------------------------
STOCK=$EDK2/OvmfPkg
# board FOLDER OUTPUT LABEL GUIDE [BOARD]: the board's files in $OUT/FOLDER,
# built into Build/OUTPUT of the workspace, with the lines of GUIDE (those
# for every board, and BOARD's own).
board() {
  local folder=$1 output=$2 label=$3 guide=$4 name=${5:-}
  mkdir -p "$OUT/$folder"
  cp "$STOCK"/{OvmfPkgX64.dsc,OvmfPkgX64.fdf,OvmfPkgDefines.fdf.inc,VarStore.fdf.inc,FvmainCompactScratchEnd.fdf.inc} "$OUT/$folder/"
  sed -i -e "s|^\( *FLASH_DEFINITION *= *\)OvmfPkg/OvmfPkgX64.fdf|\1$folder/OvmfPkgX64.fdf|" \
         -e "s|^\( *OUTPUT_DIRECTORY *= *\)Build/OvmfX64\([[:space:]]*\)$|\1Build/$output\2|" "$OUT/$folder/OvmfPkgX64.dsc"
  if python3 "$REPO/scripts/kit/apply-integration-lines.py" "$guide" "$OUT/$folder/OvmfPkgX64.dsc" "$OUT/$folder/OvmfPkgX64.fdf" \
       $name >"$OUT/applied-$label.txt" 2>&1; then
    road_pass "$label: the guide's board lines apply to stock OvmfPkgX64.dsc/.fdf ($(wc -l <"$OUT/applied-$label.txt") changes)"
  else
    road_fail "$label: the guide's board lines apply to stock OvmfPkgX64.dsc/.fdf" "$(cat "$OUT/applied-$label.txt")"; return 1
  fi
  { diff -u "$STOCK/OvmfPkgX64.dsc" "$OUT/$folder/OvmfPkgX64.dsc"; diff -u "$STOCK/OvmfPkgX64.fdf" "$OUT/$folder/OvmfPkgX64.fdf"; } \
    >"$OUT/$folder.diff"
  return 0
}
board Board OvmfX64 board "$GUIDE" || exit 1
board BoardRootBus OvmfX64RootBus root-bus "$GUIDE" root-bus || exit 1
board BoardSecureBoot OvmfX64SecureBoot secure-boot "$GUIDE" secure-boot || exit 1
# A platform without early video defines TAVRIX_GOP_ONLY: the guide's board
# lines less the reference platform's early-video modules (the PEIM and the
# display-protocol driver).
sed -e '/<!-- board lines/,/^```$/{/PlatformEarlyDisplayDxe.inf {/,/^  }$/d;/TavrixRefPlatformPkg\//d}' \
  "$GUIDE" >"$OUT/gop-only-guide.md"
board BoardGopOnly OvmfX64GopOnly gop-only "$OUT/gop-only-guide.md" || exit 1

# The workspace, one checkout at a time: sources in, builds, images out.
mkdir -p "$CACHE_DIR" "$WS/Conf" "$IMAGES"
exec 9>"$CACHE_DIR/stock-ovmf.lock"
if ! flock -n 9; then
  echo "[integration] waiting for the workspace $WS (another checkout builds in it)" >&2
  flock 9
fi
for f in target.txt tools_def.txt build_rule.txt; do cmp -s "$CONF_PATH/$f" "$WS/Conf/$f" || cp "$CONF_PATH/$f" "$WS/Conf/$f"; done
sync_tree "$K" "$WS/kit"
for b in Board BoardRootBus BoardSecureBoot BoardGopOnly; do sync_tree "$OUT/$b" "$WS/$b"; done

# build_board TARGET LABEL FOLDER OUTPUT [BUILD-ARGS...]: the image of the
# board in the workspace's FOLDER, its log build-LABEL.log, its firmware
# volumes copied to images/LABEL/; 0 when it built without a warning of ours.
build_board() {
  local t=$1 label=$2 folder=$3 output=$4 start=$SECONDS fv
  local log=$OUT/build-$label.log
  shift 4
  fv=$WS/Build/$output/${t}_GCC5/FV
  rm -f "$fv/DXEFV.Fv"   # GenFds writes it anew; an old one must not pass for it
  if ! (export WORKSPACE=$WS CONF_PATH=$WS/Conf PACKAGES_PATH=$EDK2:$WS/kit && cd "$WS" &&
        nice -n 19 build -p "$folder/OvmfPkgX64.dsc" -a X64 -t GCC5 -b "$t" -n "$(nproc)" "$@") >"$log" 2>&1; then
    road_fail "$label: stock OVMF with the kit builds (GCC5)" "$(grep -E -m5 ': error|error:|Error [0-9]' "$log")"; return 1
  fi
  echo "$label $((SECONDS - start)) s" >>"$OUT/build-times.txt"
  road_pass "$label: stock OVMF with the kit builds (GCC5, $((SECONDS - start)) s)"
  mkdir -p "$IMAGES/$label"
  cp "$fv/OVMF_CODE.fd" "$fv/OVMF_VARS.fd" "$fv/DXEFV.Fv" "$IMAGES/$label/"
  # EDK II's own modules warn with this tool chain (section 2.2); ours must not.
  if grep -i 'warning:' "$log" | grep -q "$WS/kit/"; then
    road_fail "$label: no compiler or linker warning in the kit's modules" "$(grep -i 'warning:' "$log" | grep -m3 "$WS/kit/")"
  else road_pass "$label: no compiler or linker warning in the kit's modules"; fi
}

built_debug=0; built_release=0; built_gop_only=0; built_root_bus=0; built_secure=0
if build_board DEBUG DEBUG Board OvmfX64; then
  built_debug=1
  # The guide's command for the duplicate-symbol tool, on the build's own
  # link of Prelumen: only the two routines the override replaces.
  lst=$WS/Build/OvmfX64/DEBUG_GCC5/X64/NorvaneEarlyVgaPkg/Prelumen/Prelumen/OUTPUT/static_library_files.lst
  if (cd "$K" && python3 Tools/check-link-duplicates.py gcc-nm AsciiStrLen,AsciiStrSize "$lst") >"$OUT/link-duplicates.txt" 2>&1 &&
     grep -q 'AsciiStrLen' "$OUT/link-duplicates.txt"; then
    road_pass "DEBUG: the kit's Tools/check-link-duplicates.py finds only the two allowed duplicates in Prelumen's link"
  else road_fail "DEBUG: the kit's Tools/check-link-duplicates.py on Prelumen's link" "see $OUT/link-duplicates.txt"; fi
fi
build_board RELEASE RELEASE Board OvmfX64 && built_release=1
# What the GOP-only platform builds is read from the build's list of the
# modules it builds ("Building ... X.inf"), which an incremental build
# prints too.
build_board RELEASE GOP-only BoardGopOnly OvmfX64GopOnly -D TAVRIX_GOP_ONLY && built_gop_only=1
build_board DEBUG root-bus BoardRootBus OvmfX64RootBus && built_root_bus=1
if build_board DEBUG secure-boot BoardSecureBoot OvmfX64SecureBoot; then
  built_secure=1
  # What the build generated for the policy in SecurityStubDxe, which
  # verifies images: 0x04, a constant of the module, with no set defined.
  autogen=$WS/Build/OvmfX64SecureBoot/DEBUG_GCC5/X64/MdeModulePkg/Universal/SecurityStubDxe/SecurityStubDxe/DEBUG/AutoGen
  grep -h PcdOptionRomImageVerificationPolicy "$autogen.h" "$autogen.c" >"$OUT/secure-boot-policy.txt" 2>&1
fi
exec 9>&-   # the workspace is free; the boots run on the copies in images/

# ---- the boots --------------------------------------------------------------------
need_qemu
cat >"$OUT/startup.nsh" <<'NSH'
@echo -off
echo "== drivers"
drivers
echo "== screenshot"
pause
reset -s
NSH
qemu_make_esp "$OUT/esp.img" "$OUT/startup.nsh"
ESP=(-drive "file=$OUT/esp.img,format=raw,snapshot=on")
CARD_ON_ROOT_BUS=(-device tavrix-display,id=gpu,bus=pcie.0,addr=0x2)

# lit NAME: the screenshot NAME.ppm exists and more than 1% of it is not black.
lit() { [ -f "$VM_DIR/$1.ppm" ] && python3 "$MONITOR_PY" ppm-lit "$VM_DIR/$1.ppm"; }
# at_shell: at the shell's pause, the card's screen and its account; then on.
at_shell() {
  if vm_wait serial.log "Enter 'q' to quit"; then
    vm_screendump console
    vm_qom bank-selects display-width display-height >"$VM_DIR/console-device.txt"
    vm_key
  fi
}
# held NAME PATTERN: once the platform holds the picture PATTERN names, the
# card's screen as NAME; then the hold ends.
held() {
  if vm_wait debug.log "holding $2 .* or until a byte arrives on COM2"; then
    vm_screendump "$1"; vm_release
  fi
}
value() { sed -n "s/^$2 //p" "$1" 2>/dev/null | head -n1; }
first() { local n; n=$(grep -a -n -m1 -E "$2" "$1" | cut -d: -f1); echo "${n:-999999999}"; }
tavrix_drivers() { grep -a -c 'Tavrix TVX  GOP Driver' "$VM_DIR/console.txt"; }
one_driver() { # one_driver LABEL: exactly one TavrixGopDxe instance at the shell
  local n; n=$(tavrix_drivers)
  if [ "$n" -eq 1 ]; then road_pass "$1: the shell is reached and lists exactly one TavrixGopDxe instance"
  else road_fail "$1: the shell is reached and lists exactly one TavrixGopDxe instance" "$n; see $VM_DIR/console.txt"; fi
}
console_on_card() { # console_on_card LABEL
  local f=$VM_DIR/console-device.txt
  if lit console && [ "$(value "$f" display-width)" = 800 ] && [ "$(value "$f" display-height)" = 600 ]; then
    road_pass "$1: the console is on the card, 800 x 600"
  else road_fail "$1: the console is on the card, 800 x 600" "see $VM_DIR/console.png and $f"; fi
}
# picture_twice LABEL: the early picture on the card's screen before the
# console, and the picture drawn again through TavrixGopDxe's GOP.
picture_twice() {
  local d=$VM_DIR/debug.log
  if lit early && [ "$(first "$d" 'name and logo drawn into the 800 x 600 frame: Success')" -lt \
                    "$(first "$d" 'picture drawn again through the GOP')" ]; then
    road_pass "$1: the early picture is on the card's screen before the console (held, read back)"
  else road_fail "$1: the early picture is on the card's screen before the console" "see $VM_DIR/early.png and $d"; fi
  if lit gop && grep -a -q -E 'picture drawn again through the GOP, .*\(800 x 600\): Success' "$d"; then
    road_pass "$1: the picture is drawn again through TavrixGopDxe's GOP"
  else road_fail "$1: the picture is drawn again through TavrixGopDxe's GOP" "see $VM_DIR/gop.png and $d"; fi
}

# ---- the reference lines: the card behind the root port --------------------------
if [ "$built_debug" = 1 ]; then
  vm_start debug "$IMAGES/DEBUG/OVMF_CODE.fd" "$IMAGES/DEBUG/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}" "${HOLD[@]}" "${ESP[@]}"
  held early 'the early picture'
  held gop 'the picture drawn through the GOP'
  at_shell
  vm_finish
  road_check "DEBUG: the PEIM leaves the display-information HOB for the console's 800 x 600" "$VM_DIR/debug.log" \
    'PlatformEarlyVideoPei: display-information HOB, frame 800 x 600'
  picture_twice DEBUG
  road_check "DEBUG: TavrixGopDxe started on the card (its \"1004\" on the serial port)" "$VM_DIR/console.txt" '^1004$'
  one_driver DEBUG
  console_on_card DEBUG
fi

if [ "$built_release" = 1 ]; then
  vm_start release "$IMAGES/RELEASE/OVMF_CODE.fd" "$IMAGES/RELEASE/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}" "${ESP[@]}"
  at_shell
  vm_finish
  one_driver RELEASE
  console_on_card RELEASE
  banks=$(value "$VM_DIR/console-device.txt" bank-selects)
  if [ "${banks:-0}" -gt 0 ] 2>/dev/null; then road_pass "RELEASE: Prelumen drew the early picture through the banks ($banks selections)"
  else road_fail "RELEASE: Prelumen drew the early picture through the banks" "bank-selects '${banks}'"; fi
  if grep -a -q -E '^1004$|ASSERT|Prelumen:|PlatformEarly' "$VM_DIR/console.txt"; then
    road_fail "RELEASE: no driver output on the serial port" "see $VM_DIR/console.txt"
  else road_pass "RELEASE: no driver output on the serial port"; fi
fi

# ---- the GOP driver alone ------------------------------------------------------------
# Both fragments must leave Prelumen out: the .dsc's build list, the .fdf's
# DXE volume, and the board boots to the console on the card.
if [ "$built_gop_only" = 1 ]; then
  GOP_LOG=$OUT/build-GOP-only.log
  # fv_holds GUID: the GOP-only DXE volume holds a file of that name (the
  # GUID of an FFS file header is its module's FILE_GUID).
  fv_holds() {
    python3 -c 'import sys, uuid; sys.exit(uuid.UUID(sys.argv[2]).bytes_le not in open(sys.argv[1], "rb").read())' \
      "$IMAGES/GOP-only/DXEFV.Fv" "$1"
  }
  file_guid() { sed -n 's/^ *FILE_GUID *= *\([0-9A-Fa-f-]*\).*/\1/p' "$K/$1"; }
  if grep -q '^Building \.\.\. .*/TavrixGopDxe\.inf ' "$GOP_LOG" && ! grep -q '^Building \.\.\. .*/Prelumen\.inf ' "$GOP_LOG"; then
    road_pass "TAVRIX_GOP_ONLY: the fragment builds TavrixGopDxe and no Prelumen"
  else road_fail "TAVRIX_GOP_ONLY: the fragment builds TavrixGopDxe and no Prelumen" "see $GOP_LOG"; fi
  if fv_holds "$(file_guid OptionRomPkg/TavrixGopDxe/TavrixGopDxe.inf)" &&
     ! fv_holds "$(file_guid NorvaneEarlyVgaPkg/Prelumen/Prelumen.inf)"; then
    road_pass "TAVRIX_GOP_ONLY: the image's DXE volume holds TavrixGopDxe and no Prelumen"
  else road_fail "TAVRIX_GOP_ONLY: the image's DXE volume holds TavrixGopDxe and no Prelumen" "see $IMAGES/GOP-only"; fi
  vm_start gop-only "$IMAGES/GOP-only/OVMF_CODE.fd" "$IMAGES/GOP-only/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}" "${ESP[@]}"
  at_shell
  vm_finish
  one_driver GOP-only
  console_on_card GOP-only
fi

# ---- the second board: the card on the root bus ----------------------------------------
# The guide's root-bus lines give the build's location as 0:2.0 with the
# controller as its own "bridge": the PEIM sets it up there at once, never
# probing 0:1C.0 (which holds nothing on this machine, so a probe would say
# "no PCI bridge at 0:1C.0") and never searching the root bus.
if [ "$built_root_bus" = 1 ]; then
  vm_start root-bus "$IMAGES/root-bus/OVMF_CODE.fd" "$IMAGES/root-bus/OVMF_VARS.fd" "${CARD_ON_ROOT_BUS[@]}" "${HOLD[@]}" "${ESP[@]}"
  held early 'the early picture'
  held gop 'the picture drawn through the GOP'
  at_shell
  vm_finish
  D=$VM_DIR/debug.log
  if grep -a -q 'PlatformEarlyVideoPei: controller at 00:02.0 on the root bus, legacy VGA routed, aperture on, early frame shown' "$D" &&
     ! grep -a -q -E 'no PCI bridge at|location found on the root bus|location .* stored' "$D"; then
    road_pass "root bus: the PEIM sets the card up at the build's location 0:2.0 with no bridge, probing nothing at 0:1C.0"
  else road_fail "root bus: the PEIM sets the card up at the build's location 0:2.0 with no bridge, probing nothing at 0:1C.0" "see $D"; fi
  road_check "root bus: the aperture is reserved" "$D" 'PlatformEarlyVideoPei: aperture 0x92000000-0x93FFFFFF reserved'
  picture_twice "root bus"
  one_driver "root bus"
  console_on_card "root bus"

  # Text mode, chosen at boot: Prelumen's "bridge" is the controller itself.
  vm_start root-bus-text "$IMAGES/root-bus/OVMF_CODE.fd" "$IMAGES/root-bus/OVMF_VARS.fd" "${CARD_ON_ROOT_BUS[@]}" "${HOLD[@]}" \
    -fw_cfg name=opt/org.tavrix/early-video-graphics-mode,string=no "${ESP[@]}"
  held early 'the early picture'
  at_shell
  vm_finish
  road_check "root bus, text mode: Prelumen's text reaches the card's text memory" "$VM_DIR/debug.log" \
    'name printed: Success, ([0-9]+) of \1 text cells read back'
  if [ "$(python3 "$MONITOR_PY" ppm-at "$VM_DIR/early.ppm" 0 0 2>/dev/null | cut -d' ' -f1)" = 720x400 ] &&
     python3 "$MONITOR_PY" ppm-has-content "$VM_DIR/early.ppm" 2000; then
    road_pass "root bus, text mode: the card shows 80 x 25 text with the platform's lines before the console"
  else road_fail "root bus, text mode: the card shows 80 x 25 text with the platform's lines before the console" "see $VM_DIR/early.png"; fi
  console_on_card "root bus, text mode"
fi

# ---- the Secure Boot board ------------------------------------------------------------
# Enrolled as the guide says, with the kit's tool and the kit's test
# certificate; the kit's RELEASE ROMs on the card. QEMU: SMM, no S3, the
# variable store's flash writable only from SMM.
if [ "$built_secure" = 1 ]; then
  if grep -q -E '^#define _PCD_VALUE_PcdOptionRomImageVerificationPolicy +0x04U$' "$OUT/secure-boot-policy.txt" &&
     grep -q -E '^#define _PCD_GET_MODE_32_PcdOptionRomImageVerificationPolicy +_gPcd_FixedAtBuild_' "$OUT/secure-boot-policy.txt" &&
     ! grep -q '^#define _PCD_SET_MODE' "$OUT/secure-boot-policy.txt"; then
    road_pass "secure boot: the build fixes the option ROM policy at 0x04, a constant in the module that verifies images"
  else road_fail "secure boot: the build fixes the option ROM policy at 0x04" "see $OUT/secure-boot-policy.txt"; fi
  SB=$OUT/secure-boot-store; mkdir -p "$SB"
  if (cd "$K" && python3 Tools/secure-boot-vars.py "$IMAGES/secure-boot/OVMF_VARS.fd" Tools/TestKey/PkKek-1-snakeoil.pem \
        "$SB/OVMF_VARS.enrolled.fd") >"$SB/enroll.txt" 2>&1 &&
     (cd "$K" && python3 Tools/secure-boot-vars.py --find "$SB/OVMF_VARS.enrolled.fd" db) >>"$SB/enroll.txt" 2>&1; then
    road_pass "secure boot: the kit's Tools/secure-boot-vars.py enrolls the kit's test certificate into the board's store"
  else road_fail "secure boot: the kit's Tools/secure-boot-vars.py enrolls the kit's test certificate" "see $SB/enroll.txt"; fi
  if (cd "$K" && sbverify --cert Tools/TestKey/PkKek-1-snakeoil.pem Binaries/RELEASE/TavrixGopDxe.TestKeySigned.efi) \
       >"$SB/sbverify.txt" 2>&1; then
    road_pass "secure boot: the kit's signed .efi verifies against the kit's certificate (sbverify, as the guide says)"
  else road_fail "secure boot: the kit's signed .efi verifies against the kit's certificate" "see $SB/sbverify.txt"; fi

  sb_boot() { # sb_boot NAME ROM
    card_with_rom "$2"
    VM_MACHINE=q35,smm=on vm_start "$1" "$IMAGES/secure-boot/OVMF_CODE.fd" "$SB/OVMF_VARS.enrolled.fd" \
      -global ICH9-LPC.disable_s3=1 -global driver=cfi.pflash01,property=secure,value=on \
      "${CARD_WITH_ROM[@]}" "${ESP[@]}"
    at_shell
    vm_finish
  }
  sb_boot secure-boot-signed "$K/Binaries/RELEASE/TavrixGopDxe.TestKeySigned.rom"
  D=$VM_DIR/debug.log
  road_check "secure boot: Secure Boot is on from the first boot" "$D" 'Variable SecureBoot is 1'
  road_check "secure boot: the variable driver runs in SMM" "$D" 'Loading SMM driver at .*VariableSmm'
  if ! grep -a -q "The image doesn't pass verification" "$D" && grep -a -q 'Loading driver at .*TavrixGopDxe.efi' "$D"; then
    road_pass "secure boot, signed ROM: TavrixGopDxe passes verification and loads"
  else road_fail "secure boot, signed ROM: TavrixGopDxe passes verification and loads" "see $D"; fi
  one_driver "secure boot, signed ROM"
  console_on_card "secure boot, signed ROM"
  road_check "secure boot, signed ROM: Prelumen, from the firmware volume, follows the card's GOP" "$D" \
    'picture drawn again through the GOP, .*\(800 x 600\): Success'

  sb_boot secure-boot-unsigned "$K/Binaries/RELEASE/TavrixGopDxe.rom"
  D=$VM_DIR/debug.log
  if grep -a -q 'DxeImageVerificationLib: Image is not signed and SHA256 hash of image is not found in DB/DBX.' "$D" &&
     grep -a -q -E "The image doesn't pass verification: PciRoot\(0x0\)/Pci\(0x1C,0x0\)/Pci\(0x0,0x0\)/Offset" "$D"; then
    road_pass "secure boot, unsigned ROM: refused, the log says why"
  else road_fail "secure boot, unsigned ROM: refused, the log says why" "see $D"; fi
  if [ "$(tavrix_drivers)" -eq 0 ] && grep -a -q -F '== screenshot' "$VM_DIR/console.txt" &&
     grep -a -q "no GOP took the early frame over: the card's display handed back to VGA: Success" "$D" &&
     [ "$(python3 "$MONITOR_PY" ppm-at "$VM_DIR/console.ppm" 0 0 2>/dev/null | cut -d' ' -f1)" = 720x400 ]; then
    road_pass "secure boot, unsigned ROM: no TavrixGopDxe at the shell, and the card shows its VGA screen again"
  else road_fail "secure boot, unsigned ROM: no TavrixGopDxe at the shell, and the card shows its VGA screen again" \
    "see $VM_DIR/console.txt, $VM_DIR/console.png and $D"; fi
fi

[ -f "$OUT/build-times.txt" ] && sed 's/^/[integration] build /' "$OUT/build-times.txt" >&2
road_status
