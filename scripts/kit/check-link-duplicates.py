#!/usr/bin/env python3
"""Fails when a module's link defines a symbol twice, except those allowed.

  check-link-duplicates.py NM ALLOWED LIST

NM is the symbol lister that reads the tool chain's objects (gcc-nm for GCC5's
LTO objects, llvm-nm for clang's bitcode); ALLOWED is a comma-separated list of
symbols that may be defined twice; LIST is the module's
OUTPUT/static_library_files.lst, the libraries EDK II links into it (the
module's own objects first). EDK II's GCC-family tool chains link them with
--whole-archive, so every member of every archive is part of the image, and
Prelumen links with --allow-multiple-definition, so the linker itself says
nothing: two strong definitions of one name silently keep the first.

Prints each duplicate with the members that define it and exits 1 when one is
not allowed; otherwise prints the allowed duplicates found and exits 0.
"""
import collections
import os
import subprocess
import sys

# nm letters of strong definitions: text, data, bss, read-only, small data,
# absolute. Weak (W, V) and common (C) definitions may legitimately repeat.
STRONG = set("TDBRGSA")


def definitions(nm, archive):
    """(member, symbol) for every strong global definition in the archive.

    Lines read "ARCHIVE:MEMBER:ADDRESS TYPE NAME" (gcc-nm) or
    "ARCHIVE:MEMBER: ADDRESS TYPE NAME" (llvm-nm)."""
    out = subprocess.run([nm, "--defined-only", "-A", archive],
                         capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        fields = line.rsplit(None, 2)
        if len(fields) < 3 or fields[1] not in STRONG or not line.startswith(archive + ":"):
            continue
        member = fields[0].rsplit(":", 1)[0][len(archive) + 1:]
        yield "%s(%s)" % (os.path.basename(archive), member), fields[2]


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip())
        return 2
    nm, allowed, listing = sys.argv[1], set(filter(None, sys.argv[2].split(","))), sys.argv[3]
    try:
        with open(listing) as f:
            archives = [line.strip() for line in f if line.strip()]
        where = collections.defaultdict(list)
        for archive in archives:
            for member, symbol in definitions(nm, archive):
                where[symbol].append(member)
    except (OSError, subprocess.CalledProcessError) as e:
        print("%s: %s" % (listing, e))
        return 1
    twice = {s: m for s, m in where.items() if len(m) > 1}
    wrong = sorted(s for s in twice if s not in allowed)
    for symbol in sorted(twice):
        print("%s %s: defined in %s" % ("DUPLICATE" if symbol in wrong else "allowed",
                                         symbol, ", ".join(twice[symbol])))
    if wrong:
        print("%d symbol(s) defined twice besides %s" % (len(wrong), ", ".join(sorted(allowed))))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
