#!/usr/bin/env python3
"""Talks to QEMU's human monitor on a Unix socket and converts frames to PNG.

  qemu-monitor.py SOCKET COMMAND...   runs each monitor command in turn, waiting
                                      for the prompt after each
  qemu-monitor.py png-from-ppm IN OUT  converts a QEMU screendump (PPM P6)
  qemu-monitor.py png-from-frame IN OUT WIDTH HEIGHT
                                      converts a 32-bit B,G,R,X frame dump
  qemu-monitor.py ppm-has-content IN N exits 0 when at least N pixels differ
                                      from the most common colour (text drawn)
  qemu-monitor.py ppm-black IN X Y W H exits 0 when that rectangle is all black
  qemu-monitor.py ppm-lit IN           exits 0 when more than 1 % of the
                                      pixels are not black
  qemu-monitor.py ppm-at IN X Y        prints "WIDTHxHEIGHT RRGGBB": the size
                                      and the colour of pixel (X, Y)
  qemu-monitor.py ppm-corners IN       exits 0 when the device road's test
                                      picture is in place: red square at the
                                      top-left, white at the bottom-right,
                                      dark blue between
  qemu-monitor.py ppm-equals-frame IN FRAME WIDTH HEIGHT
                                      exits 0 when the screendump shows the
                                      32-bit B,G,R,X frame (packed rows) pixel
                                      for pixel; otherwise prints how many
                                      pixels differ and the first of them
  qemu-monitor.py pci-bar SOCKET ID N  prints the address of BAR N of the PCI
                                      device with that QOM id, from the
                                      monitor's "info pci"
Only the Python standard library is used (zlib for PNG).
"""
import socket
import struct
import sys
import time
import zlib


def monitor(path, commands, quiet=False):
    """Runs the commands; returns what the monitor answered to each."""
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    for _ in range(50):
        try:
            sock.connect(path)
            break
        except OSError:
            time.sleep(0.1)
    sock.settimeout(60)

    def until_prompt():
        data = b""
        while not data.endswith(b"(qemu) "):
            chunk = sock.recv(4096)
            if not chunk:
                break
            data += chunk
        return data.decode("latin-1")

    until_prompt()
    answers = []
    for command in commands:
        sock.sendall(command.encode() + b"\n")
        answer = until_prompt()
        # The monitor echoes the command; anything else is its complaint.
        text = answer.replace("\r", "").split("\n", 1)[-1].replace("(qemu) ", "").strip()
        if text and not quiet:
            print(f"monitor: {command}: {text}", file=sys.stderr)
        answers.append(text)
    sock.close()
    return answers


def write_png(path, width, height, rows):
    """rows: one bytes object of width*3 RGB bytes per row."""
    raw = b"".join(b"\0" + row for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        out.write(chunk(b"IEND", b""))


def read_ppm(src):
    """(width, height, RGB bytes) of a P6 PPM."""
    data = open(src, "rb").read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    magic, width, height, _ = fields[0], int(fields[1]), int(fields[2]), fields[3]
    if magic != b"P6":
        raise SystemExit(f"{src}: not a P6 PPM")
    return width, height, data[pos + 1:]


def png_from_ppm(src, dst):
    width, height, pixels = read_ppm(src)
    write_png(dst, width, height, [pixels[y * width * 3:(y + 1) * width * 3] for y in range(height)])


def ppm_has_content(src, least):
    _, _, pixels = read_ppm(src)
    counts = {}
    for i in range(0, len(pixels), 3):
        key = pixels[i:i + 3]
        counts[key] = counts.get(key, 0) + 1
    common = max(counts.values()) if counts else 0
    return len(pixels) // 3 - common >= least


def ppm_black(src, x0, y0, w, h):
    width, _, pixels = read_ppm(src)
    return all(pixels[((y * width) + x) * 3:((y * width) + x) * 3 + 3] == b"\0\0\0"
               for y in range(y0, y0 + h) for x in range(x0, x0 + w))


def ppm_lit(src):
    width, height, pixels = read_ppm(src)
    lit = sum(1 for i in range(0, width * height * 3, 3) if pixels[i:i + 3] != b"\0\0\0")
    return lit * 100 > width * height


def ppm_at(src, x, y):
    width, height, pixels = read_ppm(src)
    i = (y * width + x) * 3
    return f"{width}x{height} {pixels[i:i + 3].hex().upper()}"


def ppm_corners(src):
    width, height, pixels = read_ppm(src)

    def at(x, y):
        i = (y * width + x) * 3
        return tuple(pixels[i:i + 3])

    return (at(4, 4) == (0xFF, 0, 0) and at(width - 5, height - 5) == (0xFF, 0xFF, 0xFF) and
            at(width // 2, height // 2) == (0x20, 0x40, 0x80) and at(20, 4) == (0x20, 0x40, 0x80) and
            at(width - 21, height - 5) == (0x20, 0x40, 0x80))


def ppm_equals_frame(src, frame_path, width, height):
    """True when the screendump is WIDTH x HEIGHT and shows the B,G,R,X frame exactly."""
    shown_width, shown_height, shown = read_ppm(src)
    if (shown_width, shown_height) != (width, height):
        print(f"{src}: {shown_width} x {shown_height}, not {width} x {height}")
        return False
    frame = open(frame_path, "rb").read()
    if len(frame) != width * height * 4:
        print(f"{frame_path}: {len(frame)} bytes, not {width} x {height} x 4")
        return False
    expected = bytearray(width * height * 3)
    expected[0::3] = frame[2::4]
    expected[1::3] = frame[1::4]
    expected[2::3] = frame[0::4]
    if shown == expected:
        return True
    differ = [i // 3 for i in range(0, len(shown), 3) if shown[i:i + 3] != expected[i:i + 3]]
    first = differ[0]
    print(f"{len(differ)} pixels differ; the first at ({first % width}, {first // width}): "
          f"shown {shown[first * 3:first * 3 + 3].hex()}, expected {bytes(expected[first * 3:first * 3 + 3]).hex()}")
    return False


def pci_bar(path, qom_id, bar):
    """Address of BAR number BAR of the device whose QOM id is QOM_ID, or None."""
    text = monitor(path, ["info pci"], quiet=True)[0]
    # One paragraph per function, each starting with "Bus"; the id comes last.
    for device in text.split("Bus ")[1:]:
        if f'id "{qom_id}"' not in device:
            continue
        for line in device.splitlines():
            fields = line.split()
            if fields and fields[0] == f"BAR{bar}:" and " at " in line:
                return line.split(" at ")[1].split()[0].rstrip(".")
    return None


def png_from_frame(src, dst, width, height):
    data = open(src, "rb").read()
    rows = []
    for y in range(height):
        line = data[y * width * 4:(y + 1) * width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3] = line[2::4]
        rgb[1::3] = line[1::4]
        rgb[2::3] = line[0::4]
        rows.append(bytes(rgb))
    write_png(dst, width, height, rows)


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "png-from-ppm":
        png_from_ppm(sys.argv[2], sys.argv[3])
    elif len(sys.argv) >= 4 and sys.argv[1] == "ppm-has-content":
        sys.exit(0 if ppm_has_content(sys.argv[2], int(sys.argv[3])) else 1)
    elif len(sys.argv) >= 7 and sys.argv[1] == "ppm-black":
        sys.exit(0 if ppm_black(sys.argv[2], *map(int, sys.argv[3:7])) else 1)
    elif len(sys.argv) >= 3 and sys.argv[1] == "ppm-lit":
        sys.exit(0 if ppm_lit(sys.argv[2]) else 1)
    elif len(sys.argv) >= 5 and sys.argv[1] == "ppm-at":
        print(ppm_at(sys.argv[2], int(sys.argv[3]), int(sys.argv[4])))
    elif len(sys.argv) >= 3 and sys.argv[1] == "ppm-corners":
        sys.exit(0 if ppm_corners(sys.argv[2]) else 1)
    elif len(sys.argv) >= 6 and sys.argv[1] == "ppm-equals-frame":
        sys.exit(0 if ppm_equals_frame(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])) else 1)
    elif len(sys.argv) >= 5 and sys.argv[1] == "pci-bar":
        address = pci_bar(sys.argv[2], sys.argv[3], int(sys.argv[4]))
        if address is None:
            sys.exit(1)
        print(address)
    elif len(sys.argv) >= 6 and sys.argv[1] == "png-from-frame":
        png_from_frame(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
    elif len(sys.argv) >= 3:
        monitor(sys.argv[1], sys.argv[2:])
    else:
        raise SystemExit(__doc__)
