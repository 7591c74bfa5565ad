#!/usr/bin/env python3
"""Applies the integration guide's board lines to a platform's .dsc and .fdf.

  apply-integration-lines.py GUIDE DSC FDF [BOARD]

The guide marks each block a board maker pastes into the platform with a
comment line just before it: "<!-- board lines: dsc -->" or
"<!-- board lines: fdf -->" for every board, "<!-- board lines: dsc (NAME) -->"
for the board NAME only (the card on the root bus, Secure Boot, ...), and
"<!-- board lines removed: dsc (NAME) -->" for lines that board deletes. A
block names its sections ([Components], [FV.DXEFV], ...); each of its lines
goes into that section of the file:
  - a "Name|Value" line whose name the section already sets (a PCD, say), or
    a "DEFINE NAME = VALUE" line whose macro the section already defines,
    replaces that line, since the guide then asks for another value;
  - a component with a block of its own ("X.inf {" up to "}") replaces the
    section's plain "X.inf" line (a module that needs its own options); the
    same block there already is left as it is;
  - every other line is added after the section's last line of content.
A removed block's lines go: every line of the section that sets the same
name (or, for other lines, reads the same) is deleted.
Without BOARD only the blocks for every board apply; with it, those and the
blocks of that board. The files are rewritten in place; what was done is
printed, one line per change. Exits 1, changing nothing, when a section the
guide names is not in the file, a line to remove is not there, a component
to replace already has a block of its own, the guide has no marked block, or
none for BOARD.
"""
import re
import sys

MARKER = re.compile(r"<!-- board lines( removed)?: (dsc|fdf)(?: \(([a-z0-9-]+)\))? -->\n```ini\n(.*?)```", re.S)
BLOCK_START = re.compile(r"^\s*(\S+\.inf)\s*\{\s*$")


def units(lines):
    """The lines grouped into units: one line, or a component's whole block."""
    grouped, index = [], 0
    while index < len(lines):
        if BLOCK_START.match(lines[index]):
            end = next((j for j in range(index + 1, len(lines)) if lines[j].strip() == "}"), len(lines) - 1)
            grouped.append(lines[index:end + 1])
            index = end + 1
        else:
            grouped.append([lines[index]])
            index += 1
    return grouped


def board_blocks(guide, board=None):
    """[(kind, removed, [(section, [unit...])...])...] in the guide's order:
    the blocks for every board and, with board, that board's."""
    blocks = []
    for removed, kind, name, body in MARKER.findall(guide):
        if name and name != board:
            continue
        sections, current = [], None
        for line in body.splitlines():
            header = re.match(r"^(\[[^\]]+\])", line)
            if header:
                current = (header.group(1), [])
                sections.append(current)
            elif line.strip() and current is not None:
                current[1].append(line.rstrip())
        blocks.append((kind, bool(removed), [(header, units(lines)) for header, lines in sections]))
    return blocks


def board_names(guide):
    return {name for _, _, name, _ in MARKER.findall(guide) if name}


def section_span(lines, header):
    """(first, end) line indexes of a section's body, or None."""
    for index, line in enumerate(lines):
        if line.split("#")[0].strip() == header:
            end = next((j for j in range(index + 1, len(lines)) if lines[j].startswith("[")), len(lines))
            return index + 1, end
    return None


def key(line):
    """What a line sets: ("pcd", name) for "Name|Value", ("define", NAME) for
    "DEFINE NAME = VALUE", ("inf", path) for a plain component line; or None."""
    match = re.match(r"^\s*([\w.]+)\s*\|", line)
    if match and "." in match.group(1):
        return ("pcd", match.group(1))
    match = re.match(r"^\s*DEFINE\s+(\w+)\s*=", line)
    if match:
        return ("define", match.group(1))
    match = re.match(r"^\s*(\S+\.inf)\s*$", line)
    if match:
        return ("inf", match.group(1))
    return None


def unit_key(unit):
    """What a unit replaces in the file: a component block replaces that
    component's plain line; a single line, what key() says."""
    block = BLOCK_START.match(unit[0])
    return ("inf", block.group(1)) if block else key(unit[0])


def own_block(lines, first, end, name):
    """The lines of the component block the section has for name, or None."""
    if not name or name[0] != "inf":
        return None
    for i in range(first, end):
        match = BLOCK_START.match(lines[i])
        if match and match.group(1) == name[1]:
            close = next((j for j in range(i + 1, end) if lines[j].strip() == "}"), end - 1)
            return lines[i:close + 1]
    return None


def apply(lines, header, wanted, report):
    span = section_span(lines, header)
    if span is None:
        raise LookupError(f"no {header} section")
    first, end = span
    added = []
    for unit in wanted:
        name = unit_key(unit)
        where = [i for i in range(first, end) if name and key(lines[i]) == name]
        block = own_block(lines, first, end, name)
        if block is not None:
            if [l.strip() for l in block] == [l.strip() for l in unit]:
                continue
            raise LookupError(f"{name[1]} in {header} has a block of its own already: merge the guide's lines by hand")
        if where:
            report.append(f"{header}: {lines[where[0]].strip()} -> {' '.join(l.strip() for l in unit)}")
            lines[where[0]:where[0] + 1] = unit
            end += len(unit) - 1
        else:
            added.extend(unit)
    if added:
        last = end
        while last > first and (not lines[last - 1].strip() or lines[last - 1].lstrip().startswith("#")):
            last -= 1
        lines[last:last] = added
        report.extend(f"{header}: + {line.strip()}" for line in added)


def remove(lines, header, unwanted, report):
    span = section_span(lines, header)
    if span is None:
        raise LookupError(f"no {header} section")
    first, end = span
    for unit in unwanted:
        line = unit[0]
        name = key(line)
        where = [i for i in range(first, end) if (key(lines[i]) == name if name else lines[i].strip() == line.strip())]
        if not where:
            raise LookupError(f"'{line.strip()}' is not in {header}: nothing to remove")
        for i in reversed(where):
            report.append(f"{header}: - {lines[i].strip()}")
            del lines[i]
        end -= len(where)


def main(guide_path, dsc_path, fdf_path, board=None):
    guide = open(guide_path).read()
    if board is not None and board not in board_names(guide):
        print(f"{guide_path}: no board lines for the board '{board}' (known: {', '.join(sorted(board_names(guide))) or 'none'})")
        return 1
    blocks = board_blocks(guide, board)
    if not blocks:
        print(f"{guide_path}: no block marked <!-- board lines: dsc|fdf -->")
        return 1
    files = {"dsc": dsc_path, "fdf": fdf_path}
    raw = {kind: open(path, newline="").read() for kind, path in files.items()}
    # EDK II's files end their lines with CR LF; the added lines follow suit.
    ending = {kind: "\r\n" if "\r\n" in content else "\n" for kind, content in raw.items()}
    text = {kind: content.splitlines() for kind, content in raw.items()}
    report = []
    try:
        for kind, removed, sections in blocks:
            for header, wanted in sections:
                (remove if removed else apply)(text[kind], header, wanted, report)
    except LookupError as error:
        print(f"{error} in the platform file the guide names")
        return 1
    for kind, path in files.items():
        with open(path, "w", newline="") as f:
            f.write(ending[kind].join(text[kind]) + ending[kind])
    print("\n".join(report))
    return 0


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        print(__doc__)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
