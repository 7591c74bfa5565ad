#!/usr/bin/env python3
"""Applies the integration guide's board lines to a platform's .dsc and .fdf.

  apply-integration-lines.py GUIDE DSC FDF

The guide marks each block a board maker pastes into the platform with a
comment line just before it: "<!-- board lines: dsc -->" or
"<!-- board lines: fdf -->". A block names its sections ([Components],
[FV.DXEFV], ...); each of its lines goes into that section of the file:
  - a "Name|Value" line whose name the section already sets (a PCD, say)
    replaces that line, since the guide then asks for another value;
  - every other line is added after the section's last line of content.
The files are rewritten in place; what was done is printed, one line per
change. Exits 1, changing nothing, when a section the guide names is not in
the file or the guide has no marked block.
"""
import re
import sys

MARKER = re.compile(r"<!-- board lines: (dsc|fdf) -->\n```ini\n(.*?)```", re.S)


def board_blocks(guide):
    """[(kind, [(section, [line...])...])...] in the guide's order."""
    blocks = []
    for kind, body in MARKER.findall(guide):
        sections, current = [], None
        for line in body.splitlines():
            header = re.match(r"^(\[[^\]]+\])", line)
            if header:
                current = (header.group(1), [])
                sections.append(current)
            elif line.strip() and current is not None:
                current[1].append(line.rstrip())
        blocks.append((kind, sections))
    return blocks


def section_span(lines, header):
    """(first, end) line indexes of a section's body, or None."""
    for index, line in enumerate(lines):
        if line.split("#")[0].strip() == header:
            end = next((j for j in range(index + 1, len(lines)) if lines[j].startswith("[")), len(lines))
            return index + 1, end
    return None


def key(line):
    """The name a "Name|Value" line sets, or None."""
    match = re.match(r"^\s*([\w.]+)\s*\|", line)
    return match.group(1) if match and "." in match.group(1) else None


def apply(lines, header, wanted, report):
    span = section_span(lines, header)
    if span is None:
        raise LookupError(f"no {header} section")
    first, end = span
    added = []
    for line in wanted:
        name = key(line)
        where = [i for i in range(first, end) if name and key(lines[i]) == name]
        if where:
            report.append(f"{header}: {lines[where[0]].strip()} -> {line.strip()}")
            lines[where[0]] = line
        else:
            added.append(line)
    if added:
        last = end
        while last > first and (not lines[last - 1].strip() or lines[last - 1].lstrip().startswith("#")):
            last -= 1
        lines[last:last] = added
        report.extend(f"{header}: + {line.strip()}" for line in added)


def main(guide_path, dsc_path, fdf_path):
    blocks = board_blocks(open(guide_path).read())
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
        for kind, sections in blocks:
            for header, wanted in sections:
                apply(text[kind], header, wanted, report)
    except LookupError as error:
        print(f"{error} in the platform file the guide names")
        return 1
    for kind, path in files.items():
        with open(path, "w", newline="") as f:
            f.write(ending[kind].join(text[kind]) + ending[kind])
    print("\n".join(report))
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
