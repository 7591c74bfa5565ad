#!/usr/bin/env python3
"""The tables of scripts/bench/bench-blt-firmware.sh from the consoles of its two
boots: BLT-COST, SETMODE-COST and LAYER-COST lines of TavrixFirmwareBlt.efi.

Usage: bench-blt-firmware-table.py BEFORE-CONSOLE AFTER-CONSOLE OUTPUT
Exits 1 when a figure is missing or an "after" ratio misses its target.
"""
import re
import sys

# case, target for ours / peer after the faster PCI I/O path
CASES = [("fill-full", 2), ("buffer-to-video-full", 2), ("video-to-buffer-full", 2), ("video-to-video-full", 4),
         ("fill-glyph", 3), ("buffer-to-video-glyph", 3), ("video-to-buffer-glyph", 3), ("video-to-video-glyph", 4)]


def read(path):
    """Blt and SetMode figures by (side, case); layer figures by (layer, elements)."""
    blt, modes, layers = {}, {}, {}
    for line in open(path, errors="replace"):
        m = re.match(r"BLT-COST (ours|peer) (\S+) (\d+) (\d+)\s*$", line)
        if m:
            blt[(m.group(1), m.group(2))] = int(m.group(4))
        m = re.match(r"SETMODE-COST (ours|peer) (\d+x\d+) (\d+)\s*$", line)
        if m:
            modes[(m.group(1), m.group(2))] = int(m.group(3))
        m = re.match(r"LAYER-COST (\S+) (\d+) (\d+)\s*$", line)
        if m:
            layers[(m.group(1), int(m.group(2)))] = int(m.group(3))
    return blt, modes, layers


def pair(table, key):
    """Peer, ours and ours / peer as table cells, and the ratio (None if a side is missing)."""
    p, o = table.get(("peer", key)), table.get(("ours", key))
    if p is None or o is None:
        return ["-", "-", "-"], None
    return [f"{p:,}", f"{o:,}", f"{o / p:.2f}"], o / p


def main():
    before, before_modes, before_layers = read(sys.argv[1])
    after, after_modes, after_layers = read(sys.argv[2])
    failed = not before_modes or not after_modes
    rows = ["| case | before: peer | before: ours | ours / peer | after: peer | after: ours | ours / peer | target | verdict |",
            "|---|---:|---:|---:|---:|---:|---:|---:|---|"]
    for case, target in CASES:
        before_cells, before_ratio = pair(before, case)
        after_cells, ratio = pair(after, case)
        if ratio is None or before_ratio is None:
            failed, verdict = True, "**no figure**"
        elif ratio <= target:
            verdict = "meets"
        else:
            failed, verdict = True, "**misses**"
        rows.append("| " + " | ".join([case] + before_cells + after_cells + [f"≤ {target}", verdict]) + " |")
    modes = sorted({k[1] for k in list(before_modes) + list(after_modes)},
                   key=lambda m: tuple(int(x) for x in m.split("x")))
    mode_rows = ["| SetMode to | before: peer | before: ours | ours / peer | after: peer | after: ours | ours / peer |",
                 "|---|---:|---:|---:|---:|---:|---:|"]
    for mode in modes:
        if pair(before_modes, mode)[1] is None and pair(after_modes, mode)[1] is None:
            continue  # a mode only one of the two drivers offers
        mode_rows.append("| " + " | ".join([mode] + pair(before_modes, mode)[0] + pair(after_modes, mode)[0]) + " |")
    layer_rows = ["| layer, write to the frame buffer | elements | before | after |", "|---|---:|---:|---:|"]
    for layer in ("pci-io", "root-bridge-io", "cpu-io"):
        for count in (1, 8):
            cells = [f"{t[(layer, count)]:,}" if (layer, count) in t else "-" for t in (before_layers, after_layers)]
            layer_rows.append(f"| {layer} | {count} | {cells[0]} | {cells[1]} |")
    text = ("Blt: time-stamp ticks per call at 1280 x 1024 under -icount shift=0 (1 tick = 1 guest instruction)\n"
            + "\n".join(rows) + "\n\nSetMode: ticks per call, the fastest of three, modes both drivers offer\n" + "\n".join(mode_rows)
            + "\n\nOurs: ticks per memory write at each layer of the platform's PCI I/O path\n" + "\n".join(layer_rows) + "\n")
    open(sys.argv[3], "w").write(text)
    print(text, end="")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
