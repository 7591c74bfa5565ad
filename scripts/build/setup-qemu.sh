#!/usr/bin/env bash
# Builds the QEMU that carries our virtual display controller (-device
# tavrix-display), from Debian's qemu source package (7.2), into the cache
# directory beside the EDK II tree:
#   1. fetches and unpacks the source package (once);
#   2. copies the device sources (TavrixDevPkg/DeviceModel) and the header of
#      the controller's facts they include into the tree as hw/display/tavrix/
#      and hooks that folder into meson and Kconfig;
#   3. configures an x86_64 system emulator with only what our runs need
#      (TCG, PNG screendumps, the curses display whose text refresh the
#      device's hostile-guest test drives), once;
#   4. builds qemu-system-x86_64 with ninja, again only when the device
#      sources changed (a hash stamp; ninja rebuilds just what they touch).
# A repeat run with nothing changed takes well under a second. Called by
# setup.sh; prints the emulator's path as its last line.
#   setup-qemu.sh         the QEMU every run uses, in qemu-build/
#   setup-qemu.sh asan    the same with AddressSanitizer and UndefinedBehavior-
#                         Sanitizer (configure --enable-sanitizers), in its own
#                         qemu-build-asan/, for `make fuzz` only
# Environment: TAVRIX_CACHE as for setup.sh; TAVRIX_QEMU_JOBS for ninja -j.
set -euo pipefail

log() { printf '[setup-qemu] %s\n' "$*" >&2; }

REPO=$(cd "$(dirname "$0")/../.." && pwd)
CACHE_DIR=${TAVRIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrix-fw}
FLAVOUR=${1:-normal}
SRC=$CACHE_DIR/qemu-src
BUILD=$CACHE_DIR/qemu-build
BIN=$BUILD/qemu-system-x86_64
DEVICE_DIR=$REPO/TavrixDevPkg/DeviceModel
DEVICE_FILES=(DisplayCore/TavrixDisplayCore.c DisplayCore/TavrixDisplayCore.h
              Qemu/tavrix-display.c Qemu/meson.build Qemu/Kconfig
              ../../OptionRomPkg/Include/IndustryStandard/TavrixDisplayController.h)
CONFIGURE_FLAGS=(--target-list=x86_64-softmmu --without-default-features
                 --enable-tcg --disable-docs --enable-fdt=system --enable-png --enable-curses --enable-iconv)
case $FLAVOUR in
  normal) ;;
  asan) BUILD=$CACHE_DIR/qemu-build-asan; BIN=$BUILD/qemu-system-x86_64; CONFIGURE_FLAGS+=(--enable-sanitizers) ;;
  *) log "unknown flavour $FLAVOUR (normal or asan)"; exit 1 ;;
esac

# Only one set-up builds at a time; a second one waits and then finds the work done.
mkdir -p "$CACHE_DIR"
exec 9>"$CACHE_DIR/qemu.lock"
flock 9

device_hash() {
  (cd "$DEVICE_DIR" && sha256sum "${DEVICE_FILES[@]}"; sha256sum "$REPO/scripts/build/setup-qemu.sh" | cut -d' ' -f1) |
    sha256sum | cut -d' ' -f1
}

fetch_source() {
  [ -f "$SRC/configure" ] && return
  log "fetching Debian's qemu source package into $CACHE_DIR"
  local dl=$CACHE_DIR/qemu-dl
  mkdir -p "$dl"
  (cd "$dl" && apt-get source -qq --download-only qemu >/dev/null 2>&1)
  log "unpacking $(ls "$dl"/qemu_*.dsc) with Debian's patches"
  rm -rf "$SRC.tmp"
  dpkg-source --no-check -x "$(ls "$dl"/qemu_*.dsc | head -n1)" "$SRC.tmp" >/dev/null
  # The dfsg tarball carries no firmware blobs to unpack; Debian's own are
  # used at run time (-L /usr/share/qemu -L /usr/share/seabios).
  sed -i 's/unpack_edk2_blobs = bzip2.found()/unpack_edk2_blobs = false/' "$SRC.tmp/meson.build"
  mv "$SRC.tmp" "$SRC"
}

# Copies a file only when it differs, so that ninja sees no change otherwise.
copy_if_changed() { cmp -s "$1" "$2" || cp "$1" "$2"; }

install_device() {
  local dest=$SRC/hw/display/tavrix f to
  # The core includes the facts as "IndustryStandard/...", beside itself.
  mkdir -p "$dest/IndustryStandard"
  for f in "${DEVICE_FILES[@]}"; do
    case $f in ../*) to=${f#../../OptionRomPkg/Include/} ;; *) to=$(basename "$f") ;; esac
    copy_if_changed "$DEVICE_DIR/$f" "$dest/$to"
  done
  grep -q "subdir('tavrix')" "$SRC/hw/display/meson.build" ||
    echo "subdir('tavrix')" >>"$SRC/hw/display/meson.build"
  grep -q 'source tavrix/Kconfig' "$SRC/hw/display/Kconfig" ||
    echo 'source tavrix/Kconfig' >>"$SRC/hw/display/Kconfig"
}

configure_qemu() {
  local want
  want=$(echo "${CONFIGURE_FLAGS[*]}" | sha256sum | cut -d' ' -f1)
  if [ -f "$BUILD/build.ninja" ] && [ "$(cat "$BUILD/.tavrix-configure" 2>/dev/null)" = "$want" ]; then
    return
  fi
  log "configuring QEMU (about a minute)"
  rm -rf "$BUILD"; mkdir -p "$BUILD"
  (cd "$BUILD" && "$SRC/configure" "${CONFIGURE_FLAGS[@]}" >configure.log 2>&1) ||
    { tail -n 40 "$BUILD/configure.log" >&2; exit 1; }
  echo "$want" >"$BUILD/.tavrix-configure"
}

build_qemu() {
  local want
  want=$(device_hash)
  if [ -x "$BIN" ] && [ "$(cat "$BUILD/.tavrix-device" 2>/dev/null)" = "$want" ]; then return; fi
  log "building qemu-system-x86_64 (from nothing: 6 to 25 minutes; after a device change: about a minute)"
  rm -f "$BUILD/.tavrix-device"
  nice ninja -C "$BUILD" -j"${TAVRIX_QEMU_JOBS:-$(nproc)}" qemu-system-x86_64 >"$BUILD/build.log" 2>&1 ||
    { grep -B2 -A8 -m5 'error' "$BUILD/build.log" >&2 || tail -n 40 "$BUILD/build.log" >&2; exit 1; }
  "$BIN" -device help 2>/dev/null | grep -q '"tavrix-display"' ||
    { log "the built QEMU has no tavrix-display device"; exit 1; }
  echo "$want" >"$BUILD/.tavrix-device"
}

fetch_source
install_device
configure_qemu
build_qemu
echo "$BIN"
