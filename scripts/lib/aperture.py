#!/usr/bin/env python3
"""What the roads check of the controller's fixed aperture (its range from
facts.py), in the logs a boot leaves:

  aperture.py memmap FILE      the UEFI shell's memmap has one Reserved range
                               over the whole aperture
  aperture.py linux FILE       Linux's copy of the firmware's memory map
                               (efi=debug) has the aperture in one Reserved
                               range, and the e820 map built from it one
                               reserved range over it
  aperture.py untouched FILE   QEMU's log of writes no device takes
                               (-d guest_errors) has none in the aperture

Exit status 0 when the check holds, 1 otherwise (with what was found).
"""
import re
import sys

import facts

BASE = facts.value("TAVRIX_APERTURE_BASE")
END = BASE + facts.value("TAVRIX_APERTURE_SIZE") - 1


def covers(start, end):
    return int(start, 16) <= BASE and int(end, 16) >= END


def overlaps(start, end):
    return int(start, 16) <= END and int(end, 16) >= BASE


def memmap(text):
    return any(covers(m.group(1), m.group(2))
               for m in re.finditer(r"^\s*Reserved\s+([0-9A-Fa-f]+)-([0-9A-Fa-f]+)\s", text, re.M))


def linux(text):
    efi = [m for m in re.finditer(r"efi: mem\d+: \[(\w+)[^\]]*\] range=\[0x([0-9a-f]+)-0x([0-9a-f]+)\]", text)
           if overlaps(m.group(2), m.group(3))]
    e820 = [m for m in re.finditer(r"BIOS-e820: \[mem 0x([0-9a-f]+)-0x([0-9a-f]+)\] (\w+)", text)
            if overlaps(m.group(1), m.group(2))]
    print("efi:", [m.group(0) for m in efi], "e820:", [m.group(0) for m in e820])
    return len(efi) == 1 and efi[0].group(1) == "Reserved" and covers(efi[0].group(2), efi[0].group(3)) and \
        len(e820) == 1 and e820[0].group(3) == "reserved" and covers(e820[0].group(1), e820[0].group(2))


def untouched(text):
    return not any(BASE <= int(m.group(1), 16) <= END
                   for m in re.finditer(r"Invalid write at addr 0x([0-9A-Fa-f]+)", text))


if __name__ == "__main__":
    checks = {"memmap": memmap, "linux": linux, "untouched": untouched}
    if len(sys.argv) != 3 or sys.argv[1] not in checks:
        sys.exit("usage: aperture.py memmap|linux|untouched FILE")
    try:
        with open(sys.argv[2], errors="replace") as f:
            content = f.read()
    except OSError as error:
        sys.exit(str(error))
    sys.exit(0 if checks[sys.argv[1]](content) else 1)
