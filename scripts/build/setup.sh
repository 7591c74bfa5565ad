#!/usr/bin/env bash
# Prepares this machine to build and test the drivers:
#   1. installs the Debian packages the build and the tests use;
#   2. unpacks EDK II edk2-stable202211 from Debian's edk2 source package into a
#      cache directory outside the repository (unless EDK2_PATH names a tree);
#   3. links the two submodules Debian's tarball lacks and builds BaseTools;
#   4. builds the QEMU that carries our virtual display controller
#      (scripts/build/setup-qemu.sh), beside the EDK II tree.
# Every step is skipped when its result is already there, so a repeat run takes
# a second or two. Prints the EDK II path it settled on as its last line.
# TAVRIX_SETUP_QUIET=1 leaves out the closing 'ready' line.
set -euo pipefail

log() { printf '[setup] %s\n' "$*" >&2; }

# clang, lld and llvm: the CLANG38 and CLANGDWARF tool chains (clang as
# compiler and linker driver, lld for CLANGDWARF, llvm-ar and llvm-nm).
# acpica-tools (iasl): the reference platform's OVMF-derived build.
# libncurses-dev: our QEMU's curses display; libclang-rt-14-dev: clang's
# libFuzzer and sanitizer run-times for the device core's fuzz target.
# sbsigntool (sbsign, sbverify): the signed option ROM's Authenticode signature.
PACKAGES=(build-essential uuid-dev nasm python3 python-is-python3 googletest acpica-tools
          qemu-system-x86 ovmf mtools dosfstools dpkg-dev console-data
          valgrind clang-format clang lld llvm
          meson ninja-build pkg-config libglib2.0-dev libpixman-1-dev
          libfdt-dev zlib1g-dev libpng-dev libncurses-dev libclang-rt-14-dev sbsigntool)
CACHE_DIR=${TAVRIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrix-fw}

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

install_packages() {
  local missing=() installed p
  # One query for all of them: "name status" of each package dpkg knows.
  installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${PACKAGES[@]}" 2>/dev/null |
              sed -n 's/ install ok installed$//p')
  for p in "${PACKAGES[@]}"; do
    grep -qx -- "$p" <<<"$installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then return; fi
  log "installing Debian packages: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

enable_deb_src() {
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then return; fi
  log "enabling deb-src for bookworm"
  as_root tee /etc/apt/sources.list.d/bookworm-src.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  as_root apt-get update -qq
}

fetch_edk2() {
  local tree
  tree=$(ls -d "$CACHE_DIR"/edk2-*/ 2>/dev/null | head -n1 || true)
  if [ -n "$tree" ] && [ -f "$tree/edksetup.sh" ]; then echo "${tree%/}"; return; fi
  enable_deb_src
  log "fetching Debian's edk2 source package into $CACHE_DIR"
  mkdir -p "$CACHE_DIR"
  (cd "$CACHE_DIR" && apt-get source -qq --download-only edk2 >/dev/null)
  local orig
  orig=$(ls "$CACHE_DIR"/edk2_*.orig.tar.* | head -n1)
  log "unpacking $(basename "$orig")"
  tar -C "$CACHE_DIR" -xf "$orig"
  tree=$(ls -d "$CACHE_DIR"/edk2-*/ | head -n1)
  echo "${tree%/}"
}

link_submodules() {
  local e=$1
  local brotli=$e/BaseTools/Source/C/BrotliCompress/brotli
  local gtest=$e/UnitTestFrameworkPkg/Library/GoogleTestLib/googletest
  if [ ! -e "$brotli/c" ]; then
    log "linking brotli sources for BaseTools"
    rm -rf "$brotli"; ln -s ../../../../MdeModulePkg/Library/BrotliCustomDecompressLib/brotli "$brotli"
  fi
  if [ ! -e "$gtest/googletest" ]; then
    log "linking Debian's googletest sources"
    rm -rf "$gtest"; ln -s /usr/src/googletest "$gtest"
  fi
  mkdir -p "$e/UnitTestFrameworkPkg/Library/CmockaLib/cmocka/include/cmockery"
}

build_basetools() {
  local e=$1
  if [ -x "$e/BaseTools/Source/C/bin/GenFw" ] && [ -x "$e/BaseTools/Source/C/bin/EfiRom" ]; then
    return
  fi
  log "building BaseTools (about 20 s)"
  make -s -C "$e/BaseTools" -j"$(nproc)" >"$CACHE_DIR/basetools.log" 2>&1 ||
    { tail -n 40 "$CACHE_DIR/basetools.log" >&2; exit 1; }
}

install_packages
if [ -n "${EDK2_PATH:-}" ]; then
  [ -f "$EDK2_PATH/edksetup.sh" ] || { log "EDK2_PATH=$EDK2_PATH is not an EDK II tree"; exit 1; }
  EDK2=$EDK2_PATH
else
  EDK2=$(fetch_edk2)
fi
link_submodules "$EDK2"
build_basetools "$EDK2"
[ -n "${TAVRIX_SKIP_QEMU_BUILD:-}" ] || bash "$(dirname "$0")/setup-qemu.sh" >/dev/null
[ -n "${TAVRIX_SETUP_QUIET:-}" ] || log "ready: EDK II at $EDK2"
echo "$EDK2"
