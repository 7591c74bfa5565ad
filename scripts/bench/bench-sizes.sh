#!/usr/bin/env bash
# Image sizes: builds RELEASE of our drivers (TavrixDevPkg/TavrixDev.dsc) and,
# in the same run with the same EDK II tree and toolchain, EDK II's QEMU display
# driver OvmfPkg/QemuVideoDxe (TavrixDevPkg/Bench/QemuVideoPeer.dsc) twice: with
# OVMF's own RELEASE settings (DEBUG/ASSERT compiled out, as in our RELEASE
# build) and with our platform's debug settings (serial messages kept); and ours
# once more with the debug output kept (TavrixDev.dsc without MDEPKG_NDEBUG),
# so that each side is also compared with like settings. The option ROMs are
# made by the same EfiRom command.
# Prints a Markdown table with the targets; the raw figures go to
# out/bench/sizes.txt. Exits 1 when a target is missed.
# Targets: TavrixGopDxe.efi no larger than QemuVideoDxe.efi (OVMF settings);
#          Prelumen.efi at most 24 KiB.
set -euo pipefail
. "$(dirname "$0")/../lib/edk2-env.sh"
cd "$REPO"
OUT=$REPO/out/bench; mkdir -p "$OUT" Build

bash scripts/build/build.sh RELEASE >/dev/null

# Ours with the debug output kept: TavrixDev.dsc without its RELEASE
# MDEPKG_NDEBUG line and with TavrixGopDxe's DEBUG library mapping (its
# serial DebugLib) for RELEASE too, in an output directory of its own.
mkdir -p Build/SizeStudy
sed -e 's|^\( *OUTPUT_DIRECTORY *= *\).*|\1Build/TavrixDevDebugKept|' -e '/MDEPKG_NDEBUG/d' \
    -e 's|^!if \$(TARGET) == RELEASE$|!if $(TARGET) == NONE|' \
  TavrixDevPkg/TavrixDev.dsc >Build/SizeStudy/TavrixDevDebugKept.dsc
if ! build -p Build/SizeStudy/TavrixDevDebugKept.dsc -a X64 -t GCC5 -b RELEASE -n "$(nproc)" >Build/build-debugkept.log 2>&1; then
  grep -E -A3 ': error|error:|Error [0-9]' Build/build-debugkept.log | head -n 40; echo "[bench] build with debug output failed; see Build/build-debugkept.log"; exit 1
fi
kept=Build/TavrixDevDebugKept/RELEASE_GCC5/X64
bash scripts/build/make-rom.sh "$kept/TavrixGopDxe.efi" "$kept/TavrixGopDxe.rom"
for variant in OVMF TAVRIX; do
  log=Build/build-peer-$variant.log
  if ! build -p TavrixDevPkg/Bench/QemuVideoPeer.dsc -a X64 -t GCC5 -b RELEASE -n "$(nproc)" \
         -D PEER_DEBUG=$variant >"$log" 2>&1; then
    grep -E -A3 ': error|error:|Error [0-9]' "$log" | head -n 40; echo "[bench] peer build failed; see $log"; exit 1
  fi
  peer=Build/QemuVideoPeer$variant/RELEASE_GCC5/X64
  EfiRom -f 0x1234 -i 0x1111 -l 0x030000 -ec "$peer/QemuVideoDxe.efi" -o "$peer/QemuVideoDxe.rom" >/dev/null
done

ours=Build/TavrixDev/RELEASE_GCC5/X64
peer=Build/QemuVideoPeerOVMF/RELEASE_GCC5/X64
peerdbg=Build/QemuVideoPeerTAVRIX/RELEASE_GCC5/X64
size() { stat -c %s "$1"; }
gop=$(size $ours/TavrixGopDxe.efi); pre=$(size $ours/Prelumen.efi); rom=$(size $ours/TavrixGopDxe.rom)
qv=$(size $peer/QemuVideoDxe.efi); qvrom=$(size $peer/QemuVideoDxe.rom)
qvd=$(size $peerdbg/QemuVideoDxe.efi); qvdrom=$(size $peerdbg/QemuVideoDxe.rom)
gopk=$(size $kept/TavrixGopDxe.efi); gopkrom=$(size $kept/TavrixGopDxe.rom); prek=$(size $kept/Prelumen.efi)
gcc_version=$(gcc -dumpfullversion)

verdict() { if [ "$1" -le "$2" ]; then echo "meets"; else echo "MISSES"; fi; }
{
  echo "Sizes in bytes, RELEASE, GCC5 (gcc $gcc_version), $(date -u +%Y-%m-%dT%H:%MZ), commit $(git rev-parse --short HEAD)"
  echo
  echo "| image | bytes | target | verdict |"
  echo "|---|---:|---|---|"
  echo "| TavrixGopDxe.efi | $gop | <= QemuVideoDxe.efi ($qv) | $(verdict "$gop" "$qv") |"
  echo "| Prelumen.efi | $pre | <= 24 KiB (24576) | $(verdict "$pre" 24576) |"
  echo "| TavrixGopDxe.rom (option ROM, EFI image compressed) | $rom | | |"
  echo "| QemuVideoDxe.efi, OVMF's RELEASE settings (peer) | $qv | | |"
  echo "| QemuVideoDxe.rom, same EfiRom command | $qvrom | | |"
  echo "| QemuVideoDxe.efi, our debug settings | $qvd | | |"
  echo "| QemuVideoDxe.rom, our debug settings | $qvdrom | | |"
  echo "| TavrixGopDxe.efi, debug output kept, beside QemuVideoDxe.efi with our debug settings | $gopk | <= $qvd | $(verdict "$gopk" "$qvd") |"
  echo "| TavrixGopDxe.rom, debug output kept | $gopkrom | | |"
  echo "| Prelumen.efi, debug output kept | $prek | <= 24 KiB (24576) | $(verdict "$prek" 24576) |"
} | tee "$OUT/sizes.txt"
[ "$gop" -le "$qv" ] && [ "$pre" -le 24576 ]
