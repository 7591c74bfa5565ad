#!/usr/bin/env bash
# The board maker's road: stock OVMF brought up with both drivers from the
# shipped kit and the integration guide alone (docs/INTEGRATION.md section 13).
#   1. the kit (Build/Dist/tavrix-display-<version>.tar.gz, make dist) is
#      unpacked and its checksums verified;
#   2. OvmfPkgX64.dsc/.fdf are copied unchanged from the EDK II tree, with the
#      .fdf.inc files the .fdf includes by a relative path, into a board
#      folder; the .dsc's FLASH_DEFINITION names the copy;
#   3. the guide's marked board lines are applied (taken out of the guide
#      itself, scripts/apply-integration-lines.py, so guide and check cannot
#      drift); out/integration/board.diff shows what changed;
#   4. GCC5 DEBUG and RELEASE are built with EDK II first in PACKAGES_PATH and
#      the kit after it, in a workspace of its own that later runs reuse
#      (<cache>/stock-ovmf-ws; from nothing 150 s DEBUG and 107 s RELEASE
#      measured on two cores, a later run about 10 s each);
#   5. each image boots on our QEMU with the card behind the root port at
#      0:1C.0. DEBUG: the picture the platform holds is read from the card's
#      screen before the console exists and again once drawn through the GOP
#      (the guest holds each until the harness sends a byte on COM2); at the
#      shell's pause, the console on the card. RELEASE: the shell, the banks
#      used early, the console on the card, no driver output on the serial
#      port;
#   6. a platform without early video: stock OVMF with the guide's board
#      lines less the reference platform's early-video modules, built GCC5
#      RELEASE with -D TAVRIX_GOP_ONLY (output Build/OvmfX64GopOnly of the same
#      workspace): TavrixGopDxe built and in the image's DXE volume, Prelumen
#      in neither, and the console on the card.
# One "PASS: ..." or "FAIL: ..." line per check; logs, screenshots and build
# times in out/integration/. Not part of make test (the builds are long):
# make integration-check.
set -uo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
ROAD=integration
OUT=$REPO/out/integration; rm -rf "$OUT"; mkdir -p "$OUT"
. "$REPO/scripts/qemu-lib.sh"
. "$REPO/scripts/edk2-env.sh"   # BaseTools on PATH; the workspace is set per build below
CACHE_DIR=${TAVRIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrix-fw}
WS=$CACHE_DIR/stock-ovmf-ws
version=$(bash "$REPO/scripts/product-version.sh") || exit 1
KIT=tavrix-display-$version
ARCHIVE=$REPO/Build/Dist/$KIT.tar.gz

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
[ -f "$ARCHIVE" ] || { road_fail "the kit $ARCHIVE exists (make dist)"; exit 1; }
tar -xzf "$ARCHIVE" -C "$OUT"
road_that "the kit's files match its SHA256SUMS" bash -c "cd '$OUT/$KIT' && sha256sum --quiet -c SHA256SUMS"
GUIDE=$OUT/$KIT/docs/INTEGRATION.md

# ---- the board: stock OVMF and the guide's lines -----------------------------------
STOCK=$EDK2/OvmfPkg
mkdir -p "$OUT/board"
cp "$STOCK"/{OvmfPkgX64.dsc,OvmfPkgX64.fdf,OvmfPkgDefines.fdf.inc,VarStore.fdf.inc,FvmainCompactScratchEnd.fdf.inc} "$OUT/board/"
sed -i 's|^\( *FLASH_DEFINITION *= *\)OvmfPkg/OvmfPkgX64.fdf|\1Board/OvmfPkgX64.fdf|' "$OUT/board/OvmfPkgX64.dsc"
if python3 "$REPO/scripts/apply-integration-lines.py" "$GUIDE" "$OUT/board/OvmfPkgX64.dsc" "$OUT/board/OvmfPkgX64.fdf" >"$OUT/applied.txt" 2>&1; then
  road_pass "the guide's board lines apply to stock OvmfPkgX64.dsc/.fdf ($(wc -l <"$OUT/applied.txt") changes)"
else road_fail "the guide's board lines apply to stock OvmfPkgX64.dsc/.fdf" "$(cat "$OUT/applied.txt")"; exit 1; fi
{ diff -u "$STOCK/OvmfPkgX64.dsc" "$OUT/board/OvmfPkgX64.dsc"; diff -u "$STOCK/OvmfPkgX64.fdf" "$OUT/board/OvmfPkgX64.fdf"; } >"$OUT/board.diff"

mkdir -p "$WS/Conf"
for f in target.txt tools_def.txt build_rule.txt; do cmp -s "$CONF_PATH/$f" "$WS/Conf/$f" || cp "$CONF_PATH/$f" "$WS/Conf/$f"; done
sync_tree "$OUT/$KIT" "$WS/kit"
sync_tree "$OUT/board" "$WS/Board"

# build_board TARGET [LABEL BOARD BUILD-ARGS...]: the image of the board in
# the workspace's folder BOARD (default Board), its log build-LABEL.log; 0
# when it built without a warning of ours.
build_board() {
  local t=$1 label=${2:-$1} board=${3:-Board} start=$SECONDS
  local log=$OUT/build-$label.log
  shift $(($# < 3 ? $# : 3))
  if ! (export WORKSPACE=$WS CONF_PATH=$WS/Conf PACKAGES_PATH=$EDK2:$WS/kit && cd "$WS" &&
        nice -n 19 build -p "$board/OvmfPkgX64.dsc" -a X64 -t GCC5 -b "$t" -n "$(nproc)" "$@") >"$log" 2>&1; then
    road_fail "$label: stock OVMF with the kit builds (GCC5)" "$(grep -E -m5 ': error|error:|Error [0-9]' "$log")"; return 1
  fi
  echo "$label $((SECONDS - start)) s" >>"$OUT/build-times.txt"
  road_pass "$label: stock OVMF with the kit builds (GCC5, $((SECONDS - start)) s)"
  # EDK II's own modules warn with this tool chain (section 2.2); ours must not.
  if grep -i 'warning:' "$log" | grep -q "$WS/kit/"; then
    road_fail "$label: no compiler or linker warning in the kit's modules" "$(grep -i 'warning:' "$log" | grep -m3 "$WS/kit/")"
  else road_pass "$label: no compiler or linker warning in the kit's modules"; fi
}

# ---- the boots --------------------------------------------------------------------
VM_QEMU=$(our_qemu) || { road_fail "our QEMU with -device tavrix-display builds" "see $OUT/setup-qemu.log"; exit 1; }
cat >"$OUT/startup.nsh" <<'NSH'
@echo -off
echo "== drivers"
drivers
echo "== screenshot"
pause
reset -s
NSH
qemu_make_esp "$OUT/esp.img" "$OUT/startup.nsh"
HOLD=(-fw_cfg name=opt/org.tavrix/early-picture-hold-ms,string=600000)

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
value() { sed -n "s/^$2 //p" "$1" 2>/dev/null | head -n1; }
first() { local n; n=$(grep -a -n -m1 -E "$2" "$1" | cut -d: -f1); echo "${n:-999999999}"; }
one_driver() { # one_driver TARGET: exactly one TavrixGopDxe instance at the shell
  local n; n=$(grep -a -c 'Tavrix TVX  GOP Driver' "$VM_DIR/console.txt")
  if [ "$n" -eq 1 ]; then road_pass "$1: the shell is reached and lists exactly one TavrixGopDxe instance"
  else road_fail "$1: the shell is reached and lists exactly one TavrixGopDxe instance" "$n; see $VM_DIR/console.txt"; fi
}
console_on_card() { # console_on_card TARGET
  local f=$VM_DIR/console-device.txt
  if lit console && [ "$(value "$f" display-width)" = 800 ] && [ "$(value "$f" display-height)" = 600 ]; then
    road_pass "$1: the console is on the card, 800 x 600"
  else road_fail "$1: the console is on the card, 800 x 600" "see $VM_DIR/console.png and $f"; fi
}

if build_board DEBUG; then
  FV=$WS/Build/OvmfX64/DEBUG_GCC5/FV
  vm_start debug "$FV/OVMF_CODE.fd" "$FV/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}" "${HOLD[@]}" \
    -drive "file=$OUT/esp.img,format=raw"
  if vm_wait debug.log 'holding the early picture .* or until a byte arrives on COM2'; then
    vm_screendump early; vm_release
  fi
  if vm_wait debug.log 'holding the picture drawn through the GOP .* or until a byte arrives on COM2'; then
    vm_screendump gop; vm_release
  fi
  at_shell
  vm_finish
  D=$VM_DIR
  road_check "DEBUG: the PEIM leaves the display-information HOB for the console's 800 x 600" "$D/debug.log" \
    'PlatformEarlyVideoPei: display-information HOB, frame 800 x 600'
  if lit early && [ "$(first "$D/debug.log" 'name and logo drawn into the 800 x 600 frame: Success')" -lt \
                    "$(first "$D/debug.log" 'picture drawn again through the GOP')" ]; then
    road_pass "DEBUG: the early picture is on the card's screen before the console (held, read back)"
  else road_fail "DEBUG: the early picture is on the card's screen before the console" "see $D/early.png and $D/debug.log"; fi
  if lit gop && grep -a -q -E 'picture drawn again through the GOP, .*\(800 x 600\): Success' "$D/debug.log"; then
    road_pass "DEBUG: the picture is drawn again through TavrixGopDxe's GOP"
  else road_fail "DEBUG: the picture is drawn again through TavrixGopDxe's GOP" "see $D/gop.png and $D/debug.log"; fi
  road_check "DEBUG: TavrixGopDxe started on the card (its \"1004\" on the serial port)" "$D/console.txt" '^1004$'
  one_driver DEBUG
  console_on_card DEBUG
fi

if build_board RELEASE; then
  FV=$WS/Build/OvmfX64/RELEASE_GCC5/FV
  vm_start release "$FV/OVMF_CODE.fd" "$FV/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}" -drive "file=$OUT/esp.img,format=raw"
  at_shell
  vm_finish
  R=$VM_DIR
  one_driver RELEASE
  console_on_card RELEASE
  banks=$(value "$R/console-device.txt" bank-selects)
  if [ "${banks:-0}" -gt 0 ] 2>/dev/null; then road_pass "RELEASE: Prelumen drew the early picture through the banks ($banks selections)"
  else road_fail "RELEASE: Prelumen drew the early picture through the banks" "bank-selects '${banks}'"; fi
  if grep -a -q -E '^1004$|ASSERT|Prelumen:|PlatformEarly' "$R/console.txt"; then
    road_fail "RELEASE: no driver output on the serial port" "see $R/console.txt"
  else road_pass "RELEASE: no driver output on the serial port"; fi
fi
# ---- the GOP driver alone ------------------------------------------------------------
# A platform without early video defines TAVRIX_GOP_ONLY: stock OVMF with the
# guide's board lines less the reference platform's early-video modules (the
# PEIM and the display-protocol driver), built with -D TAVRIX_GOP_ONLY into an
# output folder of its own. Both fragments must leave Prelumen out: the .dsc's
# build list, the .fdf's DXE volume (which GenFds writes anew: the old one is
# removed first), and the board boots to the console on the card.
GOP_BOARD=$OUT/board-gop-only
sed -e '/<!-- board lines/,/^```$/{/PlatformEarlyDisplayDxe.inf {/,/^  }$/d;/TavrixRefPlatformPkg\//d}' \
  "$GUIDE" >"$OUT/gop-only-guide.md"
mkdir -p "$GOP_BOARD"
cp "$STOCK"/{OvmfPkgX64.dsc,OvmfPkgX64.fdf,OvmfPkgDefines.fdf.inc,VarStore.fdf.inc,FvmainCompactScratchEnd.fdf.inc} "$GOP_BOARD/"
sed -i -e 's|^\( *FLASH_DEFINITION *= *\)OvmfPkg/OvmfPkgX64.fdf|\1BoardGopOnly/OvmfPkgX64.fdf|' \
       -e 's|^\( *OUTPUT_DIRECTORY *= *\)Build/OvmfX64\([[:space:]]*\)$|\1Build/OvmfX64GopOnly\2|' "$GOP_BOARD/OvmfPkgX64.dsc"
python3 "$REPO/scripts/apply-integration-lines.py" "$OUT/gop-only-guide.md" "$GOP_BOARD/OvmfPkgX64.dsc" \
  "$GOP_BOARD/OvmfPkgX64.fdf" >"$OUT/applied-gop-only.txt" 2>&1
sync_tree "$GOP_BOARD" "$WS/BoardGopOnly"
GOP_FV=$WS/Build/OvmfX64GopOnly/RELEASE_GCC5/FV
rm -f "$GOP_FV/DXEFV.Fv"
# fv_holds GUID: the GOP-only DXE volume holds a file of that name (the
# GUID of an FFS file header is its module's FILE_GUID).
fv_holds() {
  python3 -c 'import sys, uuid; sys.exit(uuid.UUID(sys.argv[2]).bytes_le not in open(sys.argv[1], "rb").read())' \
    "$GOP_FV/DXEFV.Fv" "$1"
}
file_guid() { sed -n 's/^ *FILE_GUID *= *\([0-9A-Fa-f-]*\).*/\1/p' "$OUT/$KIT/$1"; }
if build_board RELEASE GOP-only BoardGopOnly -D TAVRIX_GOP_ONLY; then
  # What the platform builds is read from the build's list of the modules it
  # builds ("Building ... X.inf"), which an incremental build prints too.
  GOP_LOG=$OUT/build-GOP-only.log
  if grep -q '^Building \.\.\. .*/TavrixGopDxe\.inf ' "$GOP_LOG" && ! grep -q '^Building \.\.\. .*/Prelumen\.inf ' "$GOP_LOG"; then
    road_pass "TAVRIX_GOP_ONLY: the fragment builds TavrixGopDxe and no Prelumen"
  else road_fail "TAVRIX_GOP_ONLY: the fragment builds TavrixGopDxe and no Prelumen" "see $GOP_LOG"; fi
  if [ -f "$GOP_FV/DXEFV.Fv" ] && fv_holds "$(file_guid OptionRomPkg/TavrixGopDxe/TavrixGopDxe.inf)" &&
     ! fv_holds "$(file_guid NorvaneEarlyVgaPkg/Prelumen/Prelumen.inf)"; then
    road_pass "TAVRIX_GOP_ONLY: the image's DXE volume holds TavrixGopDxe and no Prelumen"
  else road_fail "TAVRIX_GOP_ONLY: the image's DXE volume holds TavrixGopDxe and no Prelumen" "see $GOP_FV"; fi
  vm_start gop-only "$GOP_FV/OVMF_CODE.fd" "$GOP_FV/OVMF_VARS.fd" "${CARD_BEHIND_ROOT_PORT[@]}" \
    -drive "file=$OUT/esp.img,format=raw"
  at_shell
  vm_finish
  one_driver GOP-only
  console_on_card GOP-only
fi

[ -f "$OUT/build-times.txt" ] && sed 's/^/[integration] build /' "$OUT/build-times.txt" >&2
road_status
