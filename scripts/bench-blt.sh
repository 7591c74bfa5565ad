#!/usr/bin/env bash
# Blt benchmark: instructions counted by callgrind for our GOP Blt (TavrixGopDxe's
# DisplayBlt through the host model's PCI I/O) and for EDK II's FrameBufferBltLib
# in the same run on the same frame-buffer memory, built as the firmware is
# (TavrixDevPkg/TavrixDevBench.dsc). Full-screen 1280 x 1024 and glyph-sized
# 8 x 16 rectangles of the four operations.
# Prints a Markdown table (also out/bench/blt.txt); exits 1 when a target is
# missed. Targets (ours / peer): at most 1.1 for full-screen fill,
# buffer-to-video and video-to-buffer; at most 2.2 for full-screen
# video-to-video; at most 1.5 for every glyph-sized case.
set -euo pipefail
. "$(dirname "$0")/edk2-env.sh"
. "$REPO/scripts/bench-lib.sh"
cd "$REPO"
bench_build
bench_callgrind blt "$BENCH_BIN/BltBench" >out/bench/blt.tsv
python3 - out/bench/blt.tsv "$(git rev-parse --short HEAD)" <<'PY' | tee out/bench/blt.txt
import sys, time
rows = {}
for line in open(sys.argv[1]):
    label, total = line.rstrip("\n").split("\t")
    side, rest = label.split(" ", 1)
    case, repeats = rest.rsplit(" x", 1)
    rows.setdefault(case, {})[side] = int(total) / int(repeats)
def target(case):
    if case.endswith("glyph"):
        return 1.5
    return 2.2 if case.startswith("video-to-video") else 1.1
def pixels(case):
    if case.endswith("glyph"):
        return 8 * 16
    return 1280 * (1024 - 16) if case.startswith("video-to-video") else 1280 * 1024
print("Instructions per Blt call (callgrind Ir), %s, commit %s" % (time.strftime("%Y-%m-%dT%H:%MZ", time.gmtime()), sys.argv[2]))
print()
print("| case | peer | peer/pixel | ours | ours/pixel | ours/peer | target | verdict |")
print("|---|---:|---:|---:|---:|---:|---:|---|")
missed = 0
for case, sides in rows.items():
    peer = sides.get("peer"); ours = sides.get("ours"); px = pixels(case)
    if ours is None:
        print("| %s | %.0f | %.2f | not measured | | | %.1f | |" % (case, peer, peer / px, target(case)))
        continue
    ratio = ours / peer
    ok = ratio <= target(case)
    missed += not ok
    print("| %s | %.0f | %.2f | %.0f | %.2f | %.2f | %.1f | %s |" % (
        case, peer, peer / px, ours, ours / px, ratio, target(case), "meets" if ok else "MISSES"))
sys.exit(1 if missed else 0)
PY
