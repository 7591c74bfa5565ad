#!/usr/bin/env bash
# Packs a TavrixGopDxe image into the controller's PCI option ROM image:
#   scripts/build/make-rom.sh EFI ROM
# The controller's vendor, device and class codes (scripts/lib/facts.py), the
# EFI image compressed; the
# code revision is the product version of OptionRomPkg.dec, major in the high
# byte and minor in the low byte (1.0 -> 0x0100). Needs EDK II's EfiRom on
# PATH (scripts/lib/edk2-env.sh puts it there).
set -euo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 2 ] || { echo "usage: $0 EFI ROM" >&2; exit 2; }
version=$(bash "$REPO/scripts/build/product-version.sh")
revision=$(printf '0x%02X%02X' "${version%%.*}" "${version#*.}")
eval "$(python3 "$REPO/scripts/lib/facts.py" shell)"
EfiRom -f "$TAVRIX_PCI_VENDOR_ID" -i "$TAVRIX_PCI_DEVICE_ID" -l "$TAVRIX_PCI_CLASS_CODE" -r "$revision" -ec "$1" -o "$2" >/dev/null
