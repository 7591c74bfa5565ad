#!/usr/bin/env bash
# Prints the product version, PACKAGE_VERSION of OptionRomPkg.dec (MAJOR.MINOR):
# the version of the option ROM, the kit and every package (check-versions.py
# checks they agree). Fails, saying why, when the .dec has none.
set -euo pipefail
dec=$(cd "$(dirname "$0")/../.." && pwd)/OptionRomPkg/OptionRomPkg.dec
version=$(sed -n 's/^ *PACKAGE_VERSION *= *\([0-9]*\.[0-9]*\) *$/\1/p' "$dec")
[ -n "$version" ] || { echo "no PACKAGE_VERSION MAJOR.MINOR in $dec" >&2; exit 1; }
echo "$version"
