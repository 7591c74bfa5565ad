#!/usr/bin/env bash
# Blt benchmark: instructions counted by callgrind for our GOP Blt (TavrixGopDxe's
# DisplayBlt on the host model's controller) and for EDK II's FrameBufferBltLib
# in the same run on the same frame-buffer memory, built as the firmware is
# (TavrixDevPkg/TavrixDevBench.dsc). Full-screen 1280 x 1024 and glyph-sized
# 8 x 16 rectangles of the four operations. Ours is measured on the host
# model as it is ("ours") and on a minimal platform ("minimal": PCI I/O memory
# calls that are one bounds check and one CopyMem/SetMem32, RaiseTPL and
# RestoreTPL that only swap the level): see BltBench.cpp.
# Prints a Markdown table (also out/bench/blt.txt), with where the
# instructions went (out/bench/blt.json); exits 1 when a target is missed
# by the minimal figure. Targets (ours / peer): at most 1.1 for full-screen
# fill, buffer-to-video and video-to-buffer; at most 2.2 for full-screen
# video-to-video; at most 1.5 for every glyph-sized case.
set -euo pipefail
. "$(dirname "$0")/../lib/bench-lib.sh"
bench_callgrind blt BltBench
python3 - out/bench/blt.json "$(git rev-parse --short HEAD)" <<'PY' | tee out/bench/blt.txt
import json, sys, time
rows, areas = {}, {}
for label, cost in json.load(open(sys.argv[1])).items():
    side, case = label.split(" ", 1)
    rows.setdefault(case, {})[side] = cost["total"]
    areas[(side, case)] = cost["areas"]
def target(case):
    if case.endswith("glyph"):
        return 1.5
    return 2.2 if case.startswith("video-to-video") else 1.1
def pixels(case):
    if case.endswith("glyph"):
        return 8 * 16
    return 1280 * (1024 - 16) if case.startswith("video-to-video") else 1280 * 1024
def verdict(ratio, case):
    return "meets" if ratio <= target(case) else "MISSES"
print("Instructions per Blt call (callgrind Ir), %s, commit %s" % (time.strftime("%Y-%m-%dT%H:%MZ", time.gmtime()), sys.argv[2]))
print()
print("| case | peer | ours, minimal platform | ratio | verdict | ours, host model | ratio | verdict | target |")
print("|---|---:|---:|---:|---|---:|---:|---|---:|")
missed = 0
for case, sides in rows.items():
    peer = sides["peer"]
    if "ours" not in sides:
        print("| %s | %.0f | not measured | | | not measured | | | %.1f |" % (case, peer, target(case)))
        continue
    ours, minimal = sides["ours"], sides["minimal"]
    missed += minimal / peer > target(case)
    print("| %s | %.0f | %.0f | %.2f | %s | %.0f | %.2f | %s | %.1f |" % (
        case, peer, minimal, minimal / peer, verdict(minimal / peer, case),
        ours, ours / peer, verdict(ours / peer, case), target(case)))
print()
print("Per pixel, and where the instructions of one call went (driver = TavrixGopDxe, model = host")
print("model's PCI I/O and boot services, memlib = BaseMemoryLib, peer = FrameBufferBltLib):")
print()
print("| case | side | per pixel | driver | model | memlib | peer | other |")
print("|---|---|---:|---:|---:|---:|---:|---:|")
for case, sides in rows.items():
    for side in ("peer", "minimal", "ours"):
        if side not in sides:
            continue
        spread = areas.get((side, case), {})
        print("| %s | %s | %.2f | %.0f | %.0f | %.0f | %.0f | %.0f |" % (
            case, side, sides[side] / pixels(case), spread.get("driver", 0), spread.get("model", 0),
            spread.get("memlib", 0), spread.get("peer", 0),
            spread.get("other", 0) + spread.get("bench", 0)))
sys.exit(1 if missed else 0)
PY
