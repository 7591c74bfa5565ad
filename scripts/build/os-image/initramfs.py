#!/usr/bin/env python3
"""Makes the operating system's initramfs and the frame-buffer pattern it draws.

  initramfs.py BUSYBOX INIT WIDTH HEIGHT INITRD PATTERN

INITRD: a gzip-compressed cpio archive (newc) holding /bin/busybox, /init,
/pattern.raw, the mount points and /dev/console (the kernel opens it before
it runs /init, so it must exist before devtmpfs is mounted). Every entry is
owned by root with time 0, so the same inputs give the same bytes, and no
host tool (cpio) or privilege (mknod) is needed.

PATTERN: WIDTH x HEIGHT pixels of 32-bit B,G,R,X, rows packed (stride
WIDTH * 4), the picture /init writes to /dev/fb0. Each pixel is unique in a
4096 x 4096 frame: red is x's low byte, green y's low byte, blue x's and y's
high nibbles, so a picture shifted by one pixel or one row, or with a wrong
stride or channel order, differs almost everywhere.
"""
import gzip
import sys


def pattern(width, height):
    red = bytes(x & 0xFF for x in range(width))
    rows = []
    for y in range(height):
        row = bytearray(width * 4)
        row[0::4] = bytes(((x >> 8) << 4 | (y >> 8)) & 0xFF for x in range(width))
        row[1::4] = bytes([y & 0xFF]) * width
        row[2::4] = red
        rows.append(bytes(row))
    return b"".join(rows)


def cpio_entry(name, mode, data=b"", rdev=(0, 0)):
    fields = [0, mode, 0, 0, 1, 0, len(data), 0, 0, rdev[0], rdev[1], len(name) + 1, 0]
    header = b"070701" + b"".join(b"%08X" % f for f in fields)
    out = header + name.encode() + b"\0"
    out += b"\0" * (-len(out) % 4)
    out += data + b"\0" * (-len(data) % 4)
    return out


def initramfs(busybox, init, pattern_bytes):
    directory, regular, executable, char_device = 0o040755, 0o100644, 0o100755, 0o020600
    entries = [
        cpio_entry("bin", directory),
        cpio_entry("bin/busybox", executable, busybox),
        cpio_entry("dev", directory),
        cpio_entry("dev/console", char_device, rdev=(5, 1)),
        cpio_entry("init", executable, init),
        cpio_entry("pattern.raw", regular, pattern_bytes),
        cpio_entry("proc", directory),
        cpio_entry("sys", directory),
        cpio_entry("TRAILER!!!", 0),
    ]
    return gzip.compress(b"".join(entries), compresslevel=9, mtime=0)


if __name__ == "__main__":
    if len(sys.argv) != 7:
        raise SystemExit(__doc__)
    busybox_path, init_path, width, height, initrd_path, pattern_path = sys.argv[1:]
    frame = pattern(int(width), int(height))
    with open(pattern_path, "wb") as out:
        out.write(frame)
    with open(initrd_path, "wb") as out:
        out.write(initramfs(open(busybox_path, "rb").read(), open(init_path, "rb").read(), frame))
