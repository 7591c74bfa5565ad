#!/usr/bin/env bash
# Packs what a board maker or card vendor receives: the kit, one archive
# named after the product version (PACKAGE_VERSION of OptionRomPkg.dec):
#   Build/Dist/tavrix-display-<version>.tar.gz
# holding, under tavrix-display-<version>/:
#   Binaries/<DEBUG|RELEASE>/  TavrixGopDxe.efi, Prelumen.efi and every option
#                              ROM scripts/build/build.sh made (GCC5): unsigned, the
#                              TEST-key-signed one (its name says so) and, with
#                              SIGN_KEY/SIGN_CERT, the vendor-signed one, each
#                              signed ROM with the signed .efi it holds
#   Integration/, OptionRomPkg/, NorvaneEarlyVgaPkg/, NorvaneModulePkg/,
#   MdePkg/Override/, TavrixRefPlatformPkg/
#                              the fragments and the packages they name, with
#                              the public headers (Include/ of each package);
#                              host tests (UnitTest/) left out
#   Tools/                     what the guide's recipes run: secure-boot-vars.py,
#                              check-link-duplicates.py, and the TEST key's
#                              public certificate (TestKey/)
#   README.md                  the kit's own README (docs/KIT-README.md): the
#                              kit as received, not this repository
#   LICENSE, CHANGELOG.md, docs/INTEGRATION.md and the pictures the two
#   documents show
#   SHA256SUMS                 a checksum of every other file
# What the two documents name must be in the kit: scripts/kit/check-kit-docs.py
# (make test) checks the unpacked archive.
# The archive is reproducible: names sorted, owner 0, folders 0755 and files
# 0644, every time stamp the last commit's, gzip without a time, so the same
# commit and binaries give the same bytes under any umask. Run after
# scripts/build/build.sh DEBUG RELEASE (make dist does).
set -euo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
cd "$REPO"

version=$(bash scripts/build/product-version.sh)
name=tavrix-display-$version
DIST=$REPO/Build/Dist
stage=$DIST/$name
rm -rf "$stage"; mkdir -p "$stage"

for t in DEBUG RELEASE; do
  bin=Build/TavrixDev/${t}_GCC5/X64
  mkdir -p "$stage/Binaries/$t"
  for f in "$bin/TavrixGopDxe.efi" "$bin/Prelumen.efi" "$bin/TavrixGopDxe.rom"; do
    [ -f "$f" ] || { echo "[dist] $f is missing: run make build first"; exit 1; }
  done
  cp "$bin/TavrixGopDxe.efi" "$bin/Prelumen.efi" "$bin/TavrixGopDxe.rom" "$stage/Binaries/$t/"
  # Each signed ROM with the signed image it holds, which sbverify reads as
  # it is. scripts/build/build.sh leaves a vendor-signed pair only when it signed
  # this build.
  for s in TestKeySigned Signed; do
    [ -f "$bin/TavrixGopDxe.$s.rom" ] || continue
    [ -f "$bin/TavrixGopDxe.$s.efi" ] || { echo "[dist] $bin/TavrixGopDxe.$s.efi is missing beside its ROM"; exit 1; }
    cp "$bin/TavrixGopDxe.$s.efi" "$bin/TavrixGopDxe.$s.rom" "$stage/Binaries/$t/"
  done
done

# The tools the guide's recipes run, and the TEST key's public certificate
# (Debian's, package ovmf) that the test-signed files carry.
TEST_CERT=/usr/share/ovmf/PkKek-1-snakeoil.pem
[ -f "$TEST_CERT" ] || { echo "[dist] $TEST_CERT is missing (package ovmf)"; exit 1; }
mkdir -p "$stage/Tools/TestKey"
cp scripts/kit/secure-boot-vars.py scripts/kit/check-link-duplicates.py "$stage/Tools/"
cp "$TEST_CERT" "$stage/Tools/TestKey/"
cp docs/KIT-README.md "$stage/README.md"

# Files git tracks, as they stand in the working tree: untracked files stay
# out, but an uncommitted edit goes in, under the last commit's time stamps,
# so a kit meant for release is made from a clean tree (said below if not).
git ls-files -z -- Integration OptionRomPkg NorvaneEarlyVgaPkg NorvaneModulePkg MdePkg/Override \
    TavrixRefPlatformPkg LICENSE CHANGELOG.md docs/INTEGRATION.md \
    $(cat docs/INTEGRATION.md docs/KIT-README.md | grep -o 'images/[A-Za-z0-9_-]*\.png' | sort -u | sed 's|^|docs/|') |
  grep -z -v '/UnitTest/' | xargs -0 cp --parents -t "$stage"

(cd "$stage" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)

# The modes the archive records, whatever the umask of this run (under 077
# the copies above are private and the folders would unpack as drwxr--r--):
# folders 0755, files 0644; nothing in the kit is a program run in place
# (the tools are run with python3).
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +

epoch=$(git log -1 --format=%ct)
git diff --quiet HEAD -- Integration OptionRomPkg NorvaneEarlyVgaPkg NorvaneModulePkg MdePkg/Override \
    TavrixRefPlatformPkg LICENSE CHANGELOG.md docs scripts/kit/secure-boot-vars.py scripts/kit/check-link-duplicates.py ||
  echo "[dist] note: uncommitted changes are packed; make a kit for release from a clean tree"
tar --sort=name --mtime="@$epoch" --owner=0 --group=0 --numeric-owner --mode='u+rw,go+r,go-w' \
    -C "$DIST" -cf - "$name" | gzip -n -9 >"$DIST/$name.tar.gz.tmp"
mv "$DIST/$name.tar.gz.tmp" "$DIST/$name.tar.gz"
rm -rf "$stage"
echo "[dist] $DIST/$name.tar.gz ($(find "$DIST/$name.tar.gz" -printf '%s') bytes, $(tar -tzf "$DIST/$name.tar.gz" | grep -c -v '/$') files)"
