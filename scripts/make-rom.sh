#!/usr/bin/env bash
# Packs a TavrixGopDxe image into the controller's PCI option ROM image:
#   scripts/make-rom.sh EFI ROM
# Vendor 0x19E5, device 0x1711, class 0x030000, the EFI image compressed; the
# code revision is the product version of OptionRomPkg.dec, major in the high
# byte and minor in the low byte (1.0 -> 0x0100). Needs EDK II's EfiRom on
# PATH (scripts/edk2-env.sh puts it there).
set -euo pipefail
REPO=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 2 ] || { echo "usage: $0 EFI ROM" >&2; exit 2; }
version=$(bash "$REPO/scripts/product-version.sh")
revision=$(printf '0x%02X%02X' "${version%%.*}" "${version#*.}")
EfiRom -f 0x19E5 -i 0x1711 -l 0x030000 -r "$revision" -ec "$1" -o "$2" >/dev/null
