#!/usr/bin/env bash
# Makes the boot disk of the operating-system road from Debian's packages,
# fetched by name from the archive with apt-get download and unpacked with
# dpkg-deb -x (nothing is installed on the host):
#   linux-image-6.1.0-NN-amd64-unsigned  the kernel (the newest NN the archive has)
#   busybox-static                       the initramfs's one program
#   grub-efi-amd64-bin, grub-common,     grub-mkstandalone and GRUB's EFI modules
#   libefivar1, libefiboot1              (the libraries grub-mkstandalone links)
# and our own inputs in scripts/build/os-image/: /init, GRUB's configuration and
# the initramfs maker. Results, in a cache directory beside QEMU's named after
# a hash of the package versions and our inputs (made again only when one of
# them changes):
#   esp.img       a FAT image (the EFI system partition): EFI/BOOT/BOOTX64.EFI
#                 is GRUB, standalone, with its grub.cfg on its memory disk;
#                 tavrix-os/vmlinuz and tavrix-os/initrd.gz
#   pattern.raw   the picture /init writes to /dev/fb0 (B,G,R,X, packed rows)
#   mode          "WIDTH HEIGHT" of that picture: the mode Linux runs in
#   versions      the packages used
# Prints the cache directory as its last line.
# Environment: TAVRIX_CACHE as for setup.sh.
set -euo pipefail

log() { printf '[os-image] %s\n' "$*" >&2; }

REPO=$(cd "$(dirname "$0")/../.." && pwd)
INPUTS=$REPO/scripts/build/os-image
CACHE_DIR=${TAVRIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrix-fw}
DEBS=$CACHE_DIR/os/debs
# GRUB sets each of the GOP driver's modes (from the controller's facts) and
# leaves the last for Linux (gfxpayload=keep).
FACTS_HEADER=$REPO/OptionRomPkg/Include/IndustryStandard/TavrixDisplayController.h
eval "$(python3 "$REPO/scripts/lib/facts.py" shell)"
LINUX_MODE=("$(sed 's/.* //; s/x.*//' <<<"$TAVRIX_GOP_MODES")" "$(sed 's/.*x//' <<<"$TAVRIX_GOP_MODES")")
GRUB_MODULES=(normal echo test read iorw serial terminal font videoinfo efi_gop gfxterm
              gfxterm_background search search_fs_file fat part_msdos part_gpt linux)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# candidates PACKAGE...: "PACKAGE VERSION" lines, the versions apt would fetch
# (one apt-cache call: each takes half a second).
candidates() {
  apt-cache show --no-all-versions "$@" 2>/dev/null |
    awk '/^Package: /{p=$2} /^Version: /{print p, $2}'
}

# The newest bookworm kernel the archive offers.
kernel_package() {
  apt-cache search --names-only '^linux-image-6\.1\.0-[0-9]+-amd64-unsigned$' 2>/dev/null |
    cut -d' ' -f1 | sort -V | tail -n1
}

mkdir -p "$CACHE_DIR/os"
exec 9>"$CACHE_DIR/os/lock"
flock 9

kernel=$(kernel_package)
if [ -z "$kernel" ]; then
  log "apt knows no bookworm kernel yet: apt-get update"
  as_root apt-get update -qq
  kernel=$(kernel_package)
fi
[ -n "$kernel" ] || { log "no linux-image-6.1.0-*-amd64-unsigned in the archive"; exit 1; }
PACKAGES=("$kernel" busybox-static grub-efi-amd64-bin grub-common libefivar1 libefiboot1)

versions=$(candidates "${PACKAGES[@]}")$'\n'
for p in "${PACKAGES[@]}"; do
  grep -q "^$p " <<<"$versions" || { log "no version of $p in the archive"; exit 1; }
done
# This script's own hash covers the module list; the header's, the modes.
hash=$( { printf '%s' "$versions"; sha256sum "$FACTS_HEADER"; cd "$REPO/scripts/build" && sha256sum os-image.sh os-image/*; } |
        sha256sum | cut -c1-16)
OUT=$CACHE_DIR/os/$hash
if [ -f "$OUT/esp.img" ]; then echo "$OUT"; exit 0; fi

WORK=$(mktemp -d "$CACHE_DIR/os/work.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# Fetch what is not fetched yet (apt-get download names files after the
# package and its version, with ':' written as %3a), into the work folder
# first, so that an interrupted download leaves no partial package behind.
mkdir -p "$DEBS" "$WORK/debs"
missing=()
while read -r p v; do
  [ -n "$p" ] || continue
  compgen -G "$DEBS/${p}_${v//:/%3a}_*.deb" >/dev/null || missing+=("$p=$v")
done <<<"$versions"
if [ ${#missing[@]} -gt 0 ]; then
  log "fetching ${missing[*]}"
  if ! (cd "$WORK/debs" && apt-get download -q "${missing[@]}" >"$WORK/download.log" 2>&1); then
    cat "$WORK/download.log" >&2; log "apt-get download failed"; exit 1
  fi
  mv "$WORK"/debs/*.deb "$DEBS/"
fi
ROOT=$WORK/root
while read -r p v; do
  [ -n "$p" ] || continue
  deb=$(compgen -G "$DEBS/${p}_${v//:/%3a}_*.deb" | head -n1)
  [ -n "$deb" ] || { log "$p $v was not fetched"; exit 1; }
  dpkg-deb -x "$deb" "$ROOT"
done <<<"$versions"

log "making the initramfs and the pattern (${LINUX_MODE[0]} x ${LINUX_MODE[1]})"
python3 "$INPUTS/initramfs.py" "$ROOT/bin/busybox" "$INPUTS/init" "${LINUX_MODE[@]}" \
  "$WORK/initrd.gz" "$WORK/pattern.raw"

log "making GRUB (grub-mkstandalone, efi_gop only)"
sed "s/@GOP_MODES@/$TAVRIX_GOP_MODES/" "$INPUTS/grub.cfg" >"$WORK/grub.cfg"
# Our grub.cfg on GRUB's memory disk, with only the modules it needs (and
# their dependencies): no native video driver can take the card from the GOP.
LD_LIBRARY_PATH=$ROOT/usr/lib/x86_64-linux-gnu pkgdatadir=$ROOT/usr/share/grub \
  "$ROOT/usr/bin/grub-mkstandalone" -O x86_64-efi -d "$ROOT/usr/lib/grub/x86_64-efi" \
  --fonts=ascii --locales= --themes= --install-modules="${GRUB_MODULES[*]}" \
  -o "$WORK/BOOTX64.EFI" "boot/grub/grub.cfg=$WORK/grub.cfg"

log "making the EFI system partition"
kernel_file=$(compgen -G "$ROOT/boot/vmlinuz-*" | head -n1)
mkfs.fat -C -n TAVRIX-OS -i 7A5C0510 "$WORK/esp.img" 32768 >/dev/null
mmd -i "$WORK/esp.img" ::/EFI ::/EFI/BOOT ::/tavrix-os
mcopy -i "$WORK/esp.img" "$WORK/BOOTX64.EFI" ::/EFI/BOOT/BOOTX64.EFI
mcopy -i "$WORK/esp.img" "$kernel_file" ::/tavrix-os/vmlinuz
mcopy -i "$WORK/esp.img" "$WORK/initrd.gz" ::/tavrix-os/initrd.gz

mkdir -p "$OUT.new"
mv "$WORK/esp.img" "$WORK/pattern.raw" "$OUT.new/"
echo "${LINUX_MODE[*]}" >"$OUT.new/mode"
printf '%s' "$versions" >"$OUT.new/versions"
rm -rf "$OUT"; mv "$OUT.new" "$OUT"
log "ready: $OUT ($(du -sh "$OUT" | cut -f1))"
echo "$OUT"
