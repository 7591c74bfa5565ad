#!/usr/bin/env python3
"""Checks a built image.

  check-image.py efi FILE   PE32+ for x86-64, subsystem 11 (EFI boot service driver)
  check-image.py rom FILE [EFI]
                            PCI option ROM whose PCI data structure names
                            the controller's IDs and class code (lib/facts.py),
                            with an EFI image; given EFI, the image is
                            EFI-compressed and expands to EFI byte for byte
                            (BaseTools' TianoCompress --uefi, on PATH)
  check-image.py portio FILE none|some
                            FILE is the linked ELF image with its symbols (the
                            .debug beside the .efi). Finds the functions that
                            contain port I/O instructions (in, out, ins, outs):
                            "none" fails when there is one, "some" when there
                            is none. The symbol sizes bound each function, so
                            read-only data that the linker puts into .text is
                            not taken for code.
Prints what is wrong and exits 1, or prints a one-line summary and exits 0.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
import facts  # noqa: E402


def first_problem(problems):
    """The message of the first (failed, message) pair that failed, or None."""
    return next((message for failed, message in problems if failed), None)


def header(data, signature, pointer_format, pointer_at, magic, names):
    """(offset, None) of the header that the file's signature points to, or
    (None, what is missing)."""
    if data[:2] != signature:
        return None, "no " + names[0]
    offset = struct.unpack_from(pointer_format, data, pointer_at)[0]
    if data[offset:offset + 4] != magic:
        return None, "no " + names[1]
    return offset, None


def check_efi(data):
    pe, missing = header(data, b"MZ", "<I", 0x3C, b"PE\0\0", ("MZ header", "PE signature"))
    if missing:
        return missing
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    magic, = struct.unpack_from("<H", data, pe + 24)
    subsystem, = struct.unpack_from("<H", data, pe + 24 + 68)
    return first_problem([
        (machine != 0x8664, "machine 0x%04X is not x86-64" % machine),
        (magic != 0x20B, "optional-header magic 0x%03X is not PE32+" % magic),
        (subsystem != 11, "subsystem %d is not 11 (EFI boot service driver)" % subsystem)])


def check_rom(data):
    pcir, missing = header(data, b"\x55\xAA", "<H", 0x18, b"PCIR", ("0xAA55 ROM signature", "PCIR structure"))
    if missing:
        return missing
    vendor, device = struct.unpack_from("<HH", data, pcir + 4)
    cls = data[pcir + 0xD] | data[pcir + 0xE] << 8 | data[pcir + 0xF] << 16
    ids = (facts.value("TAVRIX_PCI_VENDOR_ID"), facts.value("TAVRIX_PCI_DEVICE_ID"))
    class_code = facts.value("TAVRIX_PCI_CLASS_CODE")
    return first_problem([
        ((vendor, device) != ids, "PCI IDs %04X:%04X, not %04X:%04X" % (vendor, device, *ids)),
        (cls != class_code, "class code 0x%06X, not 0x%06X" % (cls, class_code)),
        (data[pcir + 0x14] != 3, "code type %d is not 3 (EFI image)" % data[pcir + 0x14]),
        (struct.unpack_from("<I", data, 4)[0] != 0x0EF1, "no EFI ROM header")])


def check_rom_image(data, efi_path):
    """The ROM's EFI image, expanded as the firmware's decompressor does, is the driver file."""
    compression = struct.unpack_from("<H", data, 0x0C)[0]  # EFI_PCI_EXPANSION_ROM_HEADER
    offset = struct.unpack_from("<H", data, 0x16)[0]
    if compression != 1:
        return "the EFI image is not compressed (compression type %d)" % compression
    try:
        with open(efi_path, "rb") as f:
            efi = f.read()
    except OSError as e:
        return str(e)
    with tempfile.TemporaryDirectory() as tmp:
        packed, expanded = os.path.join(tmp, "image.z"), os.path.join(tmp, "image.efi")
        with open(packed, "wb") as f:
            f.write(data[offset:])
        run = subprocess.run(["TianoCompress", "-d", "--uefi", "-q", "-o", expanded, packed],
                             capture_output=True, text=True)
        if run.returncode != 0 or not os.path.exists(expanded):
            return "the EFI image does not expand: " + (run.stdout + run.stderr).strip()
        with open(expanded, "rb") as f:
            image = f.read()
    if image != efi:
        return "the EFI image expands to %d bytes that are not %s (%d bytes)" % (len(image), efi_path, len(efi))
    return None


PORT_IO = re.compile(r"^(rep[a-z]*\s+)?(in|out)(s?[bwl]?)(\s|$)")


def functions(path):
    """(start, end, name) of every function symbol with a size."""
    table = subprocess.run(["objdump", "-t", path], capture_output=True, text=True, check=True).stdout
    found = []
    for line in table.splitlines():
        # VALUE FLAGS SECTION SIZE [.hidden] NAME, FLAGS ending in F for a function
        fields = line.split()
        if "F" in fields[1:-3] and ".text" in fields:
            at = fields.index(".text")
            start, size = int(fields[0], 16), int(fields[at + 1], 16)
            if size and fields[at - 1] == "F":
                found.append((start, start + size, fields[-1]))
    return found


def port_io_functions(path):
    """Names of the functions that contain a port I/O instruction."""
    ranges = functions(path)
    if not ranges:
        raise ValueError("no function symbols (not the .debug image?)")
    listing = subprocess.run(["objdump", "-d", "--no-show-raw-insn", path],
                             capture_output=True, text=True, check=True).stdout
    hits = set()
    for line in listing.splitlines():
        m = re.match(r"^\s*([0-9a-f]+):\s+(.*)$", line)
        if not m or not PORT_IO.match(m.group(2)):
            continue
        address = int(m.group(1), 16)
        hits.update(name for start, end, name in ranges if start <= address < end)
    return sorted(hits)


def check_port_io(path, expect):
    try:
        names = port_io_functions(path)
    except (OSError, ValueError, subprocess.CalledProcessError) as e:
        return str(e), None
    if expect == "none" and names:
        return "port I/O in " + ", ".join(names), None
    if expect == "some" and not names:
        return "no function does port I/O", None
    return None, ", ".join(names) or "no port I/O"


def main():
    kind, path = sys.argv[1], sys.argv[2]
    if kind == "portio":
        problem, summary = check_port_io(path, sys.argv[3])
        if problem:
            print("%s: %s" % (path, problem))
            return 1
        print("%s: ok (%s)" % (path, summary))
        return 0
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        print(e)
        return 1
    problem = (check_efi if kind == "efi" else check_rom)(data)
    if not problem and kind == "rom" and len(sys.argv) > 3:
        problem = check_rom_image(data, sys.argv[3])
    if problem:
        print("%s: %s" % (path, problem))
        return 1
    print("%s: ok (%d bytes)" % (path, len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
