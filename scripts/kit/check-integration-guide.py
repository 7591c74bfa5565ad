#!/usr/bin/env python3
"""Checks that the integration guide shows what the integration fragments hold.

  check-integration-guide.py GUIDE DSC_FRAGMENT FDF_FRAGMENT [PLATFORM_DSC PLATFORM_FDF]

The guide prints the drivers' .dsc lines (section 2.1) and .fdf lines
(section 3) for an integrator to paste; the fragments are what our own
platforms include. Both must say the same, or a pasted guide builds something
else than what we test. Compared: the guide's first ```ini block against the
fragment's component blocks and its [PcdsDynamicExDefault] values (with the
fragment's DEFINE defaults put in), and the guide's second ```ini block
against the .fdf fragment's INF lines. Comments and blank lines are ignored.

With a platform's .dsc and .fdf (the reference platform's), the blocks the
guide marks "<!-- board lines: dsc|fdf -->" (the lines a board maker adds to
stock OVMF, which scripts/kit/apply-integration-lines.py applies) must also be
what that platform uses: each of their lines in that file, in the section
the block names it under ([Components], [FV.PEIFV], ...), in that order.
Only the blocks for every board count: a board's own blocks
("<!-- board lines: dsc (root-bus) -->", removals) describe other boards,
which the integration check builds.
Prints what differs and exits 1 when anything does.
"""
import re
import sys


def meaningful(lines):
    """Lines without comments (a '#' outside a value) and blank ones."""
    kept = []
    for line in lines:
        line = re.sub(r"\s+#.*$", "", line).rstrip()
        if line.strip() and not line.lstrip().startswith("#"):
            kept.append(line.strip())
    return kept


def ini_blocks(guide):
    return re.findall(r"```ini\n(.*?)```", guide, re.S)


def following_define(text, line):
    """True when the line after this !ifndef defines the name it tests."""
    name = line.split()[1] if len(line.split()) > 1 else ""
    return re.search(r"^\s*!ifndef\s+%s\s*\n\s*DEFINE\s+%s\b" % (re.escape(name), re.escape(name)), text, re.M) is not None


def fragment_dsc(text):
    """The fragment as a platform sees it with its default DEFINEs: each
    "!ifndef X / DEFINE X = V / !endif" goes, and $(X) becomes V."""
    defines = dict(re.findall(r"^\s*DEFINE\s+(\w+)\s*=\s*(\S+)", text, re.M))
    lines, previous = [], ""
    for line in meaningful(text.splitlines()):
        skip = (line.startswith("!ifndef") and following_define(text, line)) or line.startswith("DEFINE") or \
            (line == "!endif" and previous.startswith("DEFINE"))
        previous = line
        if not skip:
            lines.append(re.sub(r"\$\((\w+)\)", lambda m: defines.get(m.group(1), m.group(0)), line))
    return lines


def normalise_dsc(lines):
    """Each section's lines in order. A fragment is included inside
    [Components], so what stands before its first header belongs there; an
    empty section (the [Components] that returns to the includer) is dropped."""
    sections, current = {"[Components]": []}, "[Components]"
    for line in lines:
        if line.startswith("["):
            current = line
            sections.setdefault(current, [])
        else:
            sections[current].append(line)
    return {name: body for name, body in sections.items() if body}


def by_section(lines):
    """[(section, line)...] of meaningful lines: a header such as
    "[A, B.X64]" names each of its sections, and a line belongs to every
    one of them."""
    pairs, current = [], ["no section"]
    for line in lines:
        if line.startswith("["):
            current = [name.strip() for name in line.strip("[]").split(",")]
        else:
            pairs += [(section, line) for section in current]
    return pairs


def board_lines(guide, kind):
    """{section: [line...]} of the marked board blocks of one kind, in the
    guide's order."""
    sections = {}
    for body in re.findall(r"<!-- board lines: %s -->\n```ini\n(.*?)```" % kind, guide, re.S):
        for section, line in by_section(meaningful(body.splitlines())):
            sections.setdefault(section, []).append(line)
    return sections


def missing_in_order(wanted, have):
    """The first wanted line that does not follow the previous one in have."""
    position = 0
    for line in wanted:
        key = line.split()
        while position < len(have) and have[position].split() != key:
            position += 1
        if position == len(have):
            return line
        position += 1
    return None


def check_board_lines(guide, platform):
    """Differences between the marked board blocks and the platform files."""
    differences = 0
    for kind, path in platform.items():
        wanted = board_lines(guide, kind)
        if not wanted:
            print(f"the guide marks no board lines for the .{kind}")
            differences += 1
            continue
        have = by_section(meaningful(open(path).read().splitlines()))
        for section, lines in wanted.items():
            missing = missing_in_order(lines, [line for name, line in have if name == section])
            if missing:
                print(f"{path}: the guide's board line '{missing}' is not there in [{section}] (in the guide's order)")
                differences += 1
    return differences


def main(guide_path, dsc_path, fdf_path, platform_dsc=None, platform_fdf=None):
    guide = open(guide_path).read()
    blocks = ini_blocks(guide)
    if len(blocks) < 2:
        print(f"{guide_path}: expected the .dsc and .fdf blocks of sections 2.1 and 3")
        return 1
    differences = 0
    want = normalise_dsc(fragment_dsc(open(dsc_path).read()))
    shown = normalise_dsc(meaningful(blocks[0].splitlines()))
    for section in sorted(set(want) | set(shown)):
        if want.get(section) != shown.get(section):
            differences += 1
            print(f"{section}: the guide shows {shown.get(section)}\n  the fragment holds {want.get(section)}")
    # Every line but the section header the guide names: the INF lines and
    # the directives around them (the guard that keeps a second GOP driver
    # out when the card carries the ROM).
    fdf_want = [l for l in meaningful(open(fdf_path).read().splitlines()) if not l.startswith("[")]
    fdf_shown = [l for l in meaningful(blocks[1].splitlines()) if not l.startswith("[")]
    if [l.split() for l in fdf_want] != [l.split() for l in fdf_shown]:
        differences += 1
        print(f".fdf: the guide shows {fdf_shown}\n  the fragment holds {fdf_want}")
    if platform_dsc:
        differences += check_board_lines(guide, {"dsc": platform_dsc, "fdf": platform_fdf})
    return 1 if differences else 0


if __name__ == "__main__":
    if len(sys.argv) not in (4, 6):
        print(__doc__)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
