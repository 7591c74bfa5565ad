#!/usr/bin/env python3
"""The tables of scripts/bench/bench-boot.sh from the consoles of its four boots.

Usage: bench-boot-table.py OUT-DIR LINES OUTPUT
Reads OUT-DIR/{ours,peer}-{dp,800,1280}.txt: "BOOT-TSC <mark> <ticks>" lines
of TavrixBootBench.efi and the records "dp -A" printed in the dp boot
(microseconds of guest time, 1,000 guest instructions each).
Exits 1 when a figure is missing.
"""
import re
import sys

# "%5d:%3s0x%08p %36s %13s %L8d": index, handle, module (its component or
# file name), token, microseconds.
ALL = re.compile(r"^\s*\d+:.{3}0x[0-9A-Fa-f]+ (.{36}) (.{13}) +(\d+)\s*$")


def read(path):
    """The time-stamp marks, SetMode figures and the dp records (token, module) -> [instructions]."""
    marks, records, in_all = {}, {}, False
    for line in open(path, errors="replace"):
        m = re.match(r"BOOT-TSC (\S+) (\d+) (\d+x\d+)\s*$", line)
        if m:
            marks[m.group(1)] = int(m.group(2))
            marks["mode " + m.group(1)] = m.group(3)
        m = re.match(r"SETMODE-COST (?:ours|peer) (\d+x\d+) (\d+)\s*$", line)
        if m:
            marks["setmode " + m.group(1)] = int(m.group(2))
        if line.startswith("== dp -A"):
            in_all = True
        elif line.startswith("== dp"):
            in_all = False
        m = ALL.match(line) if in_all else None
        if m:
            key = (m.group(2).strip(), m.group(1).strip())
            records.setdefault(key, []).append(int(m.group(3)) * 1000)
    return marks, records


def record(records, token, module, index=0):
    values = records.get((token, module), [])
    return values[index] if len(values) > index else None


def console_ticks(marks, mode):
    """Ticks of the "type" command: between its marks, less one mark's own
    cost; None unless the GOP was in the expected mode."""
    if marks.get("mode type-start") != mode or marks.get("mode type-end") != mode:
        return None
    try:
        return marks["type-end"] - marks["type-start"] - (marks["mark-2"] - marks["mark-1"])
    except KeyError:
        return None


def main():
    out, lines, output = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    ours_marks, ours = read(f"{out}/ours-dp.txt")
    peer_marks, peer = read(f"{out}/peer-dp.txt")
    ours_800, _ = read(f"{out}/ours-800.txt")
    peer_800, _ = read(f"{out}/peer-800.txt")
    ours_1280, _ = read(f"{out}/ours-1280.txt")
    peer_1280, _ = read(f"{out}/peer-1280.txt")
    rows = [
        ("display driver's entry point (StartImage)", record(ours, "StartImage:", "TavrixGopDxe"),
         record(peer, "StartImage:", "QEMU Video Driver")),
        ("display driver's driver-binding Start (DB:Start)", record(ours, "DB:Start:", "TavrixGopDxe"),
         record(peer, "DB:Start:", "QEMU Video Driver")),
        ("Prelumen's entry point, the early picture included (StartImage)", record(ours, "StartImage:", "Prelumen"),
         record(peer, "StartImage:", "Prelumen")),
        ("early picture through Prelumen, aperture with bank switches (EarlyPicture)",
         record(ours, "EarlyPicture", "PlatformEarlyDisplayDxe"), record(peer, "EarlyPicture", "PlatformEarlyDisplayDxe")),
        ("the platform's SetMode to 800 x 600 and the picture again through the GOP (PictureOnGop)",
         record(ours, "PictureOnGop", "PlatformEarlyDisplayDxe"), record(peer, "PictureOnGop", "PlatformEarlyDisplayDxe")),
        ("graphics console's Start on the GOP (DB:Start)",
         record(ours, "DB:Start:", "Graphics Console Driver"), record(peer, "DB:Start:", "Graphics Console Driver")),
        ("reset to the console's first screen (BdsDxe's first ConOutReady)", record(ours, "ConOutReady", "BdsDxe"),
         record(peer, "ConOutReady", "BdsDxe")),
        ("reset to the boot manager's first boot option (time-stamp counter)", ours_marks.get("boot-option"),
         peer_marks.get("boot-option")),
        ("reset to the shell's first command (time-stamp counter)", ours_marks.get("shell"), peer_marks.get("shell")),
    ]
    rows += [(f"SetMode to {mode} (TavrixFirmwareBlt, fastest of three)", ours_marks.get("setmode " + mode),
              peer_marks.get("setmode " + mode))
             for mode in ("640x480", "800x600", "1024x768", "1280x1024")]
    rows += [
        (f"console: the shell types {lines} lines at 800 x 600", console_ticks(ours_800, "800x600"),
         console_ticks(peer_800, "800x600")),
        (f"console: the shell types {lines} lines at 1280 x 1024", console_ticks(ours_1280, "1280x1024"),
         console_ticks(peer_1280, "1280x1024")),
    ]
    text = ["| what | ours (TavrixGopDxe, our card) | peer (QemuVideoDxe, standard VGA) | ours / peer |",
            "|---|---:|---:|---:|"]
    missing = False
    for name, o, p in rows:
        ratio = f"{o / p:.2f}" if o is not None and p else "-"
        text.append(f"| {name} | {'-' if o is None else f'{o:,}'} | {'-' if p is None else f'{p:,}'} | {ratio} |")
        # the early picture exists only with our card
        missing |= o is None or (p is None and "Prelumen" not in name and "picture" not in name.lower())
    result = ("Guest instructions (ns of guest time under -icount shift=0)\n" + "\n".join(text) + "\n")
    open(output, "w").write(result)
    print(result, end="")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
