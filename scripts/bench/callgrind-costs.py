#!/usr/bin/env python3
"""Reads callgrind records of the benchmarks.

  callgrind-costs.py DIR   {"<name>": {"total": <Ir>, "areas": {"<area>": <Ir>, ...}}, ...}

Records are the files DIR/callgrind.out.N written at each client-request
dump, labelled "<name> x<repeats>" by the benchmark; every figure is per
call (divided by the repeats). The areas split the self cost of the code by
source area (inlined code counts where it was written): the driver's own
instructions, the host model's, the memory library's and the rest.
"""
import glob
import json
import os
import re
import sys

AREAS = [
    ("driver", re.compile(r"/(OptionRomPkg|NorvaneEarlyVgaPkg|NorvaneModulePkg)/")),
    ("model", re.compile(r"/TavrixDevPkg/HostModel/")),
    ("memlib", re.compile(r"/MdePkg/Library/BaseMemoryLib")),
    ("peer", re.compile(r"/FrameBufferBltLib/")),
    ("bench", re.compile(r"/TavrixDevPkg/Bench/")),
]


def area_of(path):
    for name, pattern in AREAS:
        if pattern.search(path):
            return name
    return "other"


def records(directory):
    paths = glob.glob(os.path.join(directory, "callgrind.out.*"))
    for path in sorted(paths, key=lambda p: int(p.rsplit(".", 1)[1])):
        yield path


def read(path):
    label = total = None
    names = {}
    areas = {}
    current = "?"
    skip_call_cost = False

    def resolve(value):
        match = re.match(r"\((\d+)\)(?:\s+(.*))?", value)
        if not match:
            return value
        if match.group(2) is not None:
            names[match.group(1)] = match.group(2)
        return names.get(match.group(1), "?")

    for line in open(path, errors="replace"):
        line = line.rstrip("\n")
        if line.startswith("desc: Trigger: Client Request: "):
            label = line[len("desc: Trigger: Client Request: "):].strip()
        elif line.startswith("totals:"):
            total = int(line.split()[1])
        elif line.startswith(("fl=", "fi=", "fe=")):
            current = resolve(line[3:])
        elif line.startswith(("cfl=", "cfi=")):
            resolve(line[4:])
        elif line.startswith(("fn=", "cfn=", "ob=", "cob=")):
            continue
        elif line.startswith("calls="):
            skip_call_cost = True
        elif line and (line[0].isdigit() or line[0] in "+-*"):
            if skip_call_cost:
                skip_call_cost = False
                continue
            parts = line.split()
            if len(parts) >= 2:
                area = area_of(current)
                areas[area] = areas.get(area, 0) + int(parts[1])
    return label, total, areas


def main(argv):
    costs = {}
    if len(argv) != 2 or not os.path.isdir(argv[1]):
        sys.exit("usage: callgrind-costs.py DIR (a folder of callgrind.out.N records)")
    for path in records(argv[1]):
        label, total, areas = read(path)
        if label is None or total is None:
            continue
        name, repeats = label.rsplit(" x", 1) if " x" in label else (label, "1")
        costs[name] = {"total": total / int(repeats),
                       "areas": {area: cost / int(repeats) for area, cost in areas.items()}}
    if not costs:
        sys.exit("callgrind-costs.py: no labelled records in %s" % argv[1])
    json.dump(costs, sys.stdout, indent=1)


if __name__ == "__main__":
    main(sys.argv)
