#!/usr/bin/env python3
"""Checks that the product carries one version everywhere.

  check-versions.py [ROM...]

The version is PACKAGE_VERSION of OptionRomPkg/OptionRomPkg.dec (MAJOR.MINOR).
Every tracked .dec (PACKAGE_VERSION), .inf (VERSION_STRING) and .dsc
(PLATFORM_VERSION) must name it, the "**Version X.Y**" line of the README and
of the kit's README (docs/KIT-README.md) too, and the integration guide's
"This guide describes version X.Y" and every kit folder it names
(tavrix-display-X.Y), the
newest entry of CHANGELOG.md must be it, and every option ROM built under
Build/TavrixDev/ must carry it as its code revision (MAJOR in the high byte,
MINOR in the low byte, as scripts/build/build.sh passes it to EfiRom -r).

Prints each disagreement and exits 1, or prints the version and exits 0.
"""
import os
import re
import struct
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FIELDS = {".dec": "PACKAGE_VERSION", ".inf": "VERSION_STRING", ".dsc": "PLATFORM_VERSION"}


def define(path, name):
    """The value of NAME in the [Defines] of an EDK II metadata file, or None."""
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"\s*%s\s*=\s*(\S+)" % name, line)
            if m:
                return m.group(1)
    return None


def rom_code_revision(path):
    """Code revision of the PCI data structure of the ROM's first image."""
    with open(path, "rb") as f:
        data = f.read()
    pcir = struct.unpack_from("<H", data, 0x18)[0]
    if data[pcir:pcir + 4] != b"PCIR":
        raise ValueError("no PCIR structure")
    return struct.unpack_from("<H", data, pcir + 0x12)[0]


def tracked(suffixes):
    out = subprocess.run(["git", "-C", REPO, "ls-files"], capture_output=True, text=True, check=True)
    return [p for p in out.stdout.split() if os.path.splitext(p)[1] in suffixes]


def first_match(path, pattern):
    """The first group of PATTERN's first match in the file, or None."""
    try:
        with open(os.path.join(REPO, path), encoding="utf-8") as f:
            m = re.search(pattern, f.read(), re.MULTILINE)
    except OSError:
        return None
    return m.group(1) if m else None


def main():
    version = define(os.path.join(REPO, "OptionRomPkg/OptionRomPkg.dec"), "PACKAGE_VERSION")
    if not version or not re.fullmatch(r"\d+\.\d+", version):
        print("OptionRomPkg/OptionRomPkg.dec: PACKAGE_VERSION %r is not MAJOR.MINOR" % version)
        return 1
    major, minor = (int(x) for x in version.split("."))
    problems = []
    for path in tracked(FIELDS):
        value = define(os.path.join(REPO, path), FIELDS[os.path.splitext(path)[1]])
        if value != version:
            problems.append("%s: %s is %s" % (path, FIELDS[os.path.splitext(path)[1]], value))
    for path in ("README.md", "docs/KIT-README.md"):
        readme = first_match(path, r"^\*\*Version (\S+)\*\*")
        if readme != version:
            problems.append("%s: version line says %s" % (path, readme))
    guide = first_match("docs/INTEGRATION.md", r"This guide describes version (\d+\.\d+)")
    if guide != version:
        problems.append("docs/INTEGRATION.md: describes version %s" % guide)
    # The kit's folder and archive as the two kit documents name them.
    for path in ("docs/INTEGRATION.md", "docs/KIT-README.md"):
        with open(os.path.join(REPO, path), encoding="utf-8") as f:
            for named in sorted(set(re.findall(r"tavrix-display-(\d+\.\d+)", f.read()))):
                if named != version:
                    problems.append("%s: names the kit tavrix-display-%s" % (path, named))
    changelog = first_match("CHANGELOG.md", r"^## (\S+)")
    if changelog != version:
        problems.append("CHANGELOG.md: newest entry is %s" % changelog)
    roms = sys.argv[1:]
    for rom in roms:
        try:
            revision = rom_code_revision(rom)
        except (OSError, ValueError, struct.error) as e:
            problems.append("%s: %s" % (rom, e))
            continue
        if revision != (major << 8 | minor):
            problems.append("%s: code revision 0x%04X, not 0x%04X"
                            % (rom, revision, major << 8 | minor))
    for p in problems:
        print(p)
    if problems:
        return 1
    print("version %s everywhere (%d option ROMs with code revision 0x%04X)"
          % (version, len(roms), major << 8 | minor))
    return 0


if __name__ == "__main__":
    sys.exit(main())
