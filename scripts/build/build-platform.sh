#!/usr/bin/env bash
# Builds the reference platform's firmware image (TavrixRefPlatformPkg: OVMF
# for q35 with both drivers and the platform code they need), DEBUG and
# RELEASE by default or the targets named as arguments.
#
# The full build takes about 3 minutes per target on two idle cores (up to 11
# under load), so its output is kept
# outside the repository, beside the EDK II tree, and reused:
#   - images:  <cache>/platform-images/<hash>/ where the hash covers every
#     input (our packages, this script, the EDK II tree, the compiler); a
#     clone whose inputs match copies the images and builds nothing;
#   - objects: one EDK II workspace, <cache>/platform-ws/, in which a changed
#     input rebuilds only what depends on it (EDK II's own incremental build).
#     EDK II's makefiles name the platform's absolute path and every object
#     depends on its makefile, so the workspace reaches this clone through
#     a link at a fixed path (<cache>/platform-ws/src): another clone then
#     rebuilds only our modules, not all of OVMF. Our modules' objects are
#     removed before each build, since time stamps cannot tell one clone's
#     files from another's.
# One build at a time (a lock in the cache); others wait.
# Outputs: Build/TavrixRefPlatform/<TARGET>/{OVMF.fd,OVMF_CODE.fd,OVMF_VARS.fd}
# and build.log there. Fails on any compiler or linker warning.
#
# PLATFORM_VARIANT=SecureBoot builds the Secure Boot variant instead: the same
# platform with EDK II's Secure Boot, option ROM images verified (refused on
# a security violation, a policy fixed at build time) and TavrixGopDxe left
# out of the firmware volume, so that it comes only from the card's option
# ROM; built with SMM (SMM_REQUIRE), so that the authenticated variables
# (PK, KEK, db, dbx) are written only by the variable driver in SMM. QEMU
# runs it with -machine q35,smm=on and
# -global driver=cfi.pflash01,property=secure,value=on (the variable store's
# flash then takes writes only from SMM). Its images go to
# Build/TavrixRefPlatformSecureBoot/<TARGET>/, with one more variable store,
# OVMF_VARS.TestKeyEnrolled.fd: the test certificate (Debian's snakeoil
# certificate, the one scripts/build/build.sh signs TavrixGopDxe.TestKeySigned.rom
# with) in PK, KEK and db, so that Secure Boot is on from the first boot;
# and option-rom-policy.txt: what the build generated for the option ROM
# policy in the module that verifies images (its AutoGen), which shows the
# policy fixed at build time.
#
# PLATFORM_VARIANT=Performance builds the performance variant instead (EDK II's
# performance records, the shell's dp command; -D PERFORMANCE_ENABLE=TRUE)
# into Build/TavrixRefPlatform/<TARGET>-performance; only the benchmarks
# use it.
set -euo pipefail
. "$(dirname "$0")/../lib/edk2-env.sh"
cd "$REPO"
CACHE_DIR=${TAVRIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrix-fw}
WS=$CACHE_DIR/platform-ws
STORE=$CACHE_DIR/platform-images
DSC=TavrixRefPlatformPkg/TavrixRefPlatformX64.dsc
INPUT_DIRS=(TavrixRefPlatformPkg Integration OptionRomPkg NorvaneEarlyVgaPkg NorvaneModulePkg MdePkg)
targets=("$@"); [ ${#targets[@]} -gt 0 ] || targets=(DEBUG RELEASE)
TEST_CERT=/usr/share/ovmf/PkKek-1-snakeoil.pem
SUFFIX=""
case ${PLATFORM_VARIANT:-} in
  "")          NAME=TavrixRefPlatform; WS_OUT=TavrixRefPlatformX64; DEFINES=() ;;
  SecureBoot)  NAME=TavrixRefPlatformSecureBoot; WS_OUT=TavrixRefPlatformX64SecureBoot
               DEFINES=(-D SECURE_BOOT_ENABLE=TRUE -D SMM_REQUIRE=TRUE -D TAVRIX_GOP_FROM_OPTION_ROM) ;;
  Performance) NAME=TavrixRefPlatform; SUFFIX=-performance; WS_OUT=TavrixRefPlatformX64Perf
               DEFINES=(-D PERFORMANCE_ENABLE=TRUE) ;;
  *) echo "[build-platform] unknown PLATFORM_VARIANT '$PLATFORM_VARIANT' (known: SecureBoot, Performance)"; exit 2 ;;
esac

log() { printf '[build-platform] %s\n' "$*"; }

# What the image is made of; host tests (UnitTest/) are not part of it.
inputs_hash() {
  {
    echo "$1 ${DEFINES[*]}"
    basename "$EDK2"
    gcc --version | head -n1
    find "${INPUT_DIRS[@]}" -type f -not -path '*/UnitTest/*' -print0 | sort -z | xargs -0 sha256sum
    sha256sum scripts/build/build-platform.sh
    [ "${PLATFORM_VARIANT:-}" != SecureBoot ] || sha256sum scripts/kit/secure-boot-vars.py "$TEST_CERT"
  } | sha256sum | cut -d' ' -f1
}

mkdir -p "$CACHE_DIR" "$STORE" "$WS/Conf"
exec 8>"$CACHE_DIR/platform.lock"

# reuse TARGET HASH: copies a finished image (stores appear whole, by rename).
reuse() {
  [ -f "$STORE/$2/OVMF.fd" ] || return 1
  cp "$STORE/$2"/* "$out/"
  log "$1: inputs unchanged, image reused from $STORE/$2"
}

for t in "${targets[@]}"; do
  out=$REPO/Build/$NAME/$t$SUFFIX
  mkdir -p "$out"
  hash=$(inputs_hash "$t")
  reuse "$t" "$hash" && continue
  # Builds take the workspace one at a time; a waiting one may find its image.
  flock 8
  reuse "$t" "$hash" && continue
  log "$t: building in $WS (from nothing about 3 minutes of two idle cores; incremental under a minute)"
  start=$(date +%s)
  for f in target.txt tools_def.txt build_rule.txt; do cmp -s "$CONF_PATH/$f" "$WS/Conf/$f" || cp "$CONF_PATH/$f" "$WS/Conf/$f"; done
  ln -sfn "$REPO" "$WS/src"
  # EDK II's incremental build compares time stamps, and the link may just
  # have moved to a checkout whose files are older than the objects another
  # checkout left: our own modules are always compiled again (15 to 45 s),
  # EDK II's are reused.
  for d in TavrixRefPlatformPkg OptionRomPkg NorvaneEarlyVgaPkg NorvaneModulePkg MdePkg/Override; do
    rm -rf "$WS/Build/$WS_OUT/${t}_GCC5/X64/$d"
  done
  if ! (export WORKSPACE=$WS CONF_PATH=$WS/Conf PACKAGES_PATH=$WS/src:$EDK2 && cd "$WS" &&
        nice -n 19 build -p "$DSC" -a X64 -t GCC5 -b "$t" -n "$(nproc)" "${DEFINES[@]}") >"$out/build.log" 2>&1; then
    grep -E -A3 ': error|error:|Error [0-9]' "$out/build.log" | head -n 60; log "failed; full log in $out/build.log"; exit 1
  fi
  # Any warning from our modules fails the build. EDK II's own modules of
  # this release warn with this toolchain (LTO type mismatches in the PEIM
  # entry library, text relocations in the exception-handler assembly, the
  # LTO driver's note on serial compilation); those are listed, not fatal.
  grep -i 'warning:' "$out/build.log" | sort -u >"$out/warnings.txt" || true
  ours=$(grep -v -e "$EDK2/" -e 'lto-wrapper: warning: using serial compilation' \
              -e 'warning: creating DT_TEXTREL in a PIE' "$out/warnings.txt" |
         grep -v -E "$WS/Build/[^ ]*/X64/(MdePkg/Library|MdeModulePkg|UefiCpuPkg|OvmfPkg|ShellPkg|PcAtChipsetPkg|FatPkg|SecurityPkg|CryptoPkg|UefiPayloadPkg)/" || true)
  if [ -n "$ours" ]; then
    echo "$ours" | head -n 20; log "warnings; full log in $out/build.log"; exit 1
  fi
  [ -s "$out/warnings.txt" ] && log "$t: $(wc -l <"$out/warnings.txt") warnings of EDK II's own modules (not ours): $out/warnings.txt"
  fv=$WS/Build/$WS_OUT/${t}_GCC5/FV
  rm -rf "$STORE/$hash.tmp"; mkdir -p "$STORE/$hash.tmp"
  cp "$fv/OVMF.fd" "$fv/OVMF_CODE.fd" "$fv/OVMF_VARS.fd" "$STORE/$hash.tmp/"
  if [ "${PLATFORM_VARIANT:-}" = SecureBoot ] && ! python3 scripts/kit/secure-boot-vars.py "$fv/OVMF_VARS.fd" "$TEST_CERT" \
       "$STORE/$hash.tmp/OVMF_VARS.TestKeyEnrolled.fd" >>"$out/build.log" 2>&1; then
    tail -n 1 "$out/build.log"; log "$t: the test certificate could not be enrolled"; exit 1
  fi
  if [ "${PLATFORM_VARIANT:-}" = SecureBoot ]; then
    autogen=$WS/Build/$WS_OUT/${t}_GCC5/X64/MdeModulePkg/Universal/SecurityStubDxe/SecurityStubDxe/DEBUG/AutoGen
    grep -h PcdOptionRomImageVerificationPolicy "$autogen.h" "$autogen.c" >"$STORE/$hash.tmp/option-rom-policy.txt" || true
  fi
  rm -rf "$STORE/$hash"; mv "$STORE/$hash.tmp" "$STORE/$hash"
  cp "$STORE/$hash"/* "$out/"
  log "$t: built in $(( $(date +%s) - start )) s"
  # Keep the eight newest images.
  ls -1dt "$STORE"/*/ 2>/dev/null | tail -n +9 | xargs -r rm -rf
done
