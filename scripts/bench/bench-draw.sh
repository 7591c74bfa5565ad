#!/usr/bin/env bash
# Early drawing benchmark: instructions counted by callgrind for Prelumen's
# DrawImage over a 1024 x 768 image, opaque and blended (alpha 128 over a
# non-zero shadow), and per glyph of DrawString, beside the floor, a plain
# loop of 32-bit stores over the same pixels, built as the firmware is
# (TavrixDevPkg/TavrixDevBench.dsc). Measured on the fixed aperture (bank
# switching) and with a GOP found.
# Prints a Markdown table (also out/bench/draw.txt); exits 1 when a target is
# missed. Targets: opaque at most 6x the floor, blended at most 20x.
set -euo pipefail
. "$(dirname "$0")/../lib/bench-lib.sh"
bench_callgrind draw DrawBench
python3 - out/bench/draw.json "$(git rev-parse --short HEAD)" <<'PY' | tee out/bench/draw.txt
import json, sys, time
records = json.load(open(sys.argv[1]))
costs = {name: record["total"] for name, record in records.items()}
areas = {name: record["areas"] for name, record in records.items()}
PIXELS = 1024 * 768
GLYPHS = 64
print("Instructions (callgrind Ir), %s, commit %s" % (time.strftime("%Y-%m-%dT%H:%MZ", time.gmtime()), sys.argv[2]))
print()
print("| where | what | per pixel or glyph | floor | x floor | target | verdict | driver's own share |")
print("|---|---|---:|---:|---:|---:|---|---:|")
missed = 0
for where in ("aperture", "gop"):
    floor = costs["%s floor image" % where] / PIXELS
    for what, target in (("opaque image", 6), ("blended image", 20)):
        name = "%s %s" % (where, what)
        value = costs[name] / PIXELS
        ok = value / floor <= target
        missed += not ok
        own = areas.get(name, {}).get("driver", 0) / costs[name]
        print("| %s | %s, per pixel | %.2f | %.2f | %.2f | %d | %s | %.0f%% |" % (
            where, what, value, floor, value / floor, target, "meets" if ok else "MISSES", own * 100))
    name = "%s string of %d glyphs" % (where, GLYPHS)
    value = costs[name] / GLYPHS
    floor = costs["%s floor string of %d glyphs" % (where, GLYPHS)] / GLYPHS
    own = areas.get(name, {}).get("driver", 0) / costs[name]
    print("| %s | DrawString, per glyph (8 x 16) | %.0f | %.0f | %.2f | | | %.0f%% |" % (where, value, floor, value / floor, own * 100))
sys.exit(1 if missed else 0)
PY
