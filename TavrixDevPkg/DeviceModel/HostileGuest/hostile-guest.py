#!/usr/bin/env python3
"""The virtual display controller under a hostile guest, on the real QEMU device.

QEMU runs with -accel qtest: no CPU, the harness itself is the guest. It
speaks QEMU's qtest protocol on a Unix socket (outb, inb, writel, readq,
memset, ...) and QMP on another (screendump, qom-get, system_reset,
migrate and migrate-incoming through a file).

  hostile-guest.py QEMU OUTDIR scenarios
      the faults a guest found, each as the sequence that found it:
        blank-after-frame   the VGA blanked while channel B's frame is shown,
                            then the frame turned off and a refresh: the VGA
                            must get a surface of its own size
        text-refresh        a curses display's text refresh resizes the
                            console while the frame is off; the same frame
                            turned on again must be drawn at its own size
        mono-crt            the extended CRT registers follow the VGA's CRT
                            to 0x3B4/0x3B5
        wide-access         a CPU's 64-bit load and store (a few instructions
                            under TCG, wide-access-guest.asm) at BAR 1 + 0x304
        load-over-frame     a saved state with the VGA blanked loaded, without
                            a reset, into a machine showing a 2048 x 1 frame
                            after a text screen: the VGA must get a surface of
                            its own size
  hostile-guest.py QEMU OUTDIR random SEED SECONDS [MAX-STEPS [LOAD-EVERY]]
      a random sequence from SEED of hostile register, port, configuration,
      VGA-memory and frame-buffer writes of every size, mixed with
      screendumps and resets, for SECONDS or MAX-STEPS steps, whichever
      ends first; before about one step in LOAD-EVERY (default 64; a random
      stream of its own, so the steps are those of a sequence without them)
      the machine's state is saved and loaded, without a reset, into a new
      machine whose console has drawn the VGA's text screen and mostly a
      frame, where the sequence goes on. QEMU must answer every step and
      every screendump must show the frame at the size the device reports.
      A failing run is replayed by the same SEED, step count and LOAD-EVERY.

Prints one "PASS: hostile-guest: ..." or "FAIL: hostile-guest: ..." line per
check; exits non-zero when one failed. A failing random run leaves its
steps in OUTDIR/random-SEED.steps.
Only the Python standard library is used.
"""
import contextlib
import json
import os
import pty
import random
import shutil
import socket
import subprocess
import sys
import termios
import threading
import time
import fcntl
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "scripts", "lib"))
import facts  # noqa: E402  (the controller's facts, from its one header)

SLOT = 4                                  # the card at 00:04.0
BAR0 = 0xC0000000                         # 32 MiB frame buffer
BAR1 = 0xC2000000                         # 1 MiB register file
REG_CONTROL = facts.value("TAVRIX_REG_B_DISPLAY_CONTROL")
REG_PITCH = facts.value("TAVRIX_REG_B_PITCH")
REG_SIZE = facts.value("TAVRIX_REG_B_ACTIVE_SIZE")
REG_PALETTE = facts.value("TAVRIX_REG_B_PALETTE")
DISPLAY_ENABLE = facts.value("TAVRIX_B_CONTROL_DISPLAY_ENABLE")
SHOWN_32 = facts.value("TAVRIX_PIXEL_FORMAT_32") | DISPLAY_ENABLE
FRAME_BUFFER_SIZE = facts.value("TAVRIX_FRAME_BUFFER_SIZE")
REGISTER_FILE_SIZE = facts.value("TAVRIX_REGISTER_FILE_SIZE")
ANSWER_LIMIT = 120                        # seconds QEMU may take for one answer


class QemuGone(Exception):
    pass


class Qemu:
    """One QEMU with the card, driven over qtest and QMP."""

    def __init__(self, qemu, outdir, name, extra=(), accel="qtest", tty=False):
        self.outdir = outdir
        self.name = name
        qtest_path = os.path.join(outdir, name + ".qtest")
        qmp_path = os.path.join(outdir, name + ".qmp")
        self.sockets = (qtest_path, qmp_path)
        for p in self.sockets:
            if os.path.exists(p):
                os.unlink(p)
        args = [qemu, "-L", "/usr/share/qemu", "-L", "/usr/share/seabios",
                "-machine", "pc", "-m", "64", "-nodefaults", "-vga", "none",
                "-device", "tavrix-display,id=gpu,addr=%d.0" % SLOT,
                "-qmp", "unix:%s,server=on,wait=off" % qmp_path]
        listener = None
        if accel == "qtest":
            listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            listener.bind(qtest_path)
            listener.listen(1)
            # The protocol's own log of every line would grow by megabytes a
            # minute; the steps are kept by the random sequence instead.
            args += ["-accel", "qtest", "-qtest", "unix:" + qtest_path, "-qtest-log", "/dev/null"]
        else:
            args += ["-accel", accel]
        if not tty:
            args += ["-display", "none"]
        args += list(extra)
        self.log = open(os.path.join(outdir, name + ".log"), "wb")
        self.screen = b""
        if tty:
            # A terminal of 80 x 25 for the curses display; its output is
            # read all the time so that QEMU never blocks on it.
            master, slave = pty.openpty()
            fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 25, 80, 0, 0))
            env = dict(os.environ, TERM="xterm")
            self.proc = subprocess.Popen(args, stdin=slave, stdout=slave, stderr=self.log, env=env)
            os.close(slave)
            self.master = master
            threading.Thread(target=self._read_screen, daemon=True).start()
        else:
            self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        self.qtest = None
        if listener:
            listener.settimeout(ANSWER_LIMIT)
            try:
                self.qtest, _ = listener.accept()
            except socket.timeout:
                raise QemuGone("QEMU never connected its qtest socket")
            finally:
                listener.close()
            self.qtest.settimeout(ANSWER_LIMIT)
            self.qtest_buffer = b""
        self.qmp = self._connect(qmp_path)
        self.qmp_buffer = b""
        self.events = []
        self._qmp_message()                      # greeting
        self.execute("qmp_capabilities")

    def _read_screen(self):
        while True:
            try:
                data = os.read(self.master, 65536)
            except OSError:
                return
            if not data:
                return
            self.screen += data

    def _connect(self, path):
        for _ in range(ANSWER_LIMIT * 10):
            if self.proc.poll() is not None:
                raise QemuGone("QEMU exited with status %s before QMP answered" % self.proc.returncode)
            try:
                sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                sock.connect(path)
                sock.settimeout(ANSWER_LIMIT)
                return sock
            except OSError:
                time.sleep(0.1)
        raise QemuGone("QMP socket never appeared")

    def _recv(self, sock, buffer_name):
        buffer = getattr(self, buffer_name)
        while b"\n" not in buffer:
            try:
                chunk = sock.recv(65536)
            except (socket.timeout, OSError) as e:
                raise QemuGone("no answer (%s); QEMU status %s" % (e, self.proc.poll()))
            if not chunk:
                raise QemuGone("QEMU closed the connection (exit status %s)" % self.proc.wait())
            buffer += chunk
        line, buffer = buffer.split(b"\n", 1)
        setattr(self, buffer_name, buffer)
        return line.decode("latin-1")

    def _qmp_message(self):
        return json.loads(self._recv(self.qmp, "qmp_buffer"))

    def execute(self, command, **arguments):
        message = {"execute": command}
        if arguments:
            message["arguments"] = arguments
        try:
            self.qmp.sendall(json.dumps(message).encode())
        except OSError as e:
            raise QemuGone("QMP write failed: %s (exit status %s)" % (e, self.proc.poll()))
        while True:
            answer = self._qmp_message()
            if "event" in answer:
                self.events.append(answer["event"])
                continue
            if "error" in answer:
                raise RuntimeError("%s: %s" % (command, answer["error"]["desc"]))
            return answer.get("return")

    def wait_event(self, name):
        while name not in self.events:
            answer = self._qmp_message()
            if "event" in answer:
                self.events.append(answer["event"])
        self.events.remove(name)

    def cmd(self, line):
        try:
            self.qtest.sendall(line.encode() + b"\n")
        except OSError as e:
            raise QemuGone("qtest write failed: %s (exit status %s)" % (e, self.proc.poll()))
        while True:
            answer = self._recv(self.qtest, "qtest_buffer")
            if answer.startswith("IRQ"):
                continue
            if not answer.startswith("OK"):
                raise RuntimeError("%s: %s" % (line, answer))
            return int(answer.split()[1], 16) if len(answer.split()) > 1 else None

    # -- what a guest does -------------------------------------------------
    def config_write(self, offset, value, size=4):
        self.cmd("outl 0xcf8 0x%x" % (0x80000000 | (SLOT << 11) | (offset & 0xFC)))
        self.cmd("out%s 0x%x 0x%x" % ({1: "b", 2: "w", 4: "l"}[size], 0xCFC + (offset & 3), value))

    def set_up_card(self):
        """What firmware does: BARs placed, I/O and memory decoding on."""
        self.config_write(0x10, BAR0)
        self.config_write(0x14, BAR1)
        self.config_write(0x04, 0x0003, 2)

    def register(self, offset, value):
        self.cmd("writel 0x%x 0x%x" % (BAR1 + offset, value))

    def show_frame(self, width, height, fmt=2, enable=True):
        bpp = {0: 1, 1: 2, 2: 4}[fmt]
        self.register(REG_PITCH, width * bpp)
        self.register(REG_SIZE, ((height - 1) << 16) | (width - 1))
        self.register(REG_CONTROL, fmt | (DISPLAY_ENABLE if enable else 0))

    def blank_vga(self, blank=True):
        self.cmd("inb 0x3da")                    # attribute flip-flop to index
        self.cmd("outb 0x3c0 0x%x" % (0x00 if blank else 0x20))

    def text(self, row, column, string, attribute=0x1F):
        # One qtest write for the whole string: QEMU's main loop runs the
        # display's refresh between commands, so character by character a
        # refresh could show half the string and a curses screen would never
        # carry it whole.
        cells = b"".join(bytes((ord(c), attribute)) for c in string)
        self.cmd("write 0x%x 0x%x 0x%s" % (0xB8000 + 2 * (80 * row + column), len(cells), cells.hex()))

    def qom(self, prop):
        return self.execute("qom-get", path="gpu", property=prop)

    def screendump(self, name):
        path = os.path.join(self.outdir, name + ".ppm")
        self.execute("screendump", filename=path)
        return read_ppm(path)

    def reset(self):
        self.execute("system_reset")
        self.wait_event("RESET")

    # -- the machine's state saved and loaded --------------------------------
    def save_state(self, path):
        """The machine's state into a file, as a migration sends it."""
        self.execute("migrate", uri="exec:cat > '%s'" % path)
        self.wait_migration()

    def load_state(self, path):
        """A saved state loaded into this machine (started with -incoming
        defer), which keeps running without a reset, its console as it was."""
        self.execute("migrate-incoming", uri="exec:cat '%s'" % path)
        self.wait_migration()

    def wait_migration(self):
        """Waits until QEMU reports the migration done (never a fixed time)."""
        start = time.time()
        while True:
            status = self.execute("query-migrate").get("status")
            if status == "completed":
                return
            if status in ("failed", "cancelled"):
                raise RuntimeError("migration %s" % status)
            if self.proc.poll() is not None or time.time() - start > ANSWER_LIMIT:
                raise QemuGone("the migration never completed (QEMU status %s)" % self.proc.poll())
            time.sleep(0.02)

    def alive(self):
        return self.execute("query-status")["status"] is not None

    def quit(self):
        try:
            self.execute("quit")
        except (QemuGone, RuntimeError):
            pass
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.log.close()
        for p in self.sockets:                   # a sequence starts many machines
            if os.path.exists(p):
                os.unlink(p)
        return self.proc.returncode


def read_ppm(path):
    """(width, height, pixel bytes) of a binary PPM."""
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    at = 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    return int(fields[1]), int(fields[2]), data[at + 1:]


# ---- scenarios ----------------------------------------------------------------
results = []


def check(name, ok, detail=""):
    results.append(ok)
    print("%s: hostile-guest: %s%s" % ("PASS" if ok else "FAIL", name, "" if ok or not detail else " (%s)" % detail))
    sys.stdout.flush()


@contextlib.contextmanager
def survived(q, name, label=None):
    """A scenario's steps on q: QEMU gone or a command refused fails the check
    NAME; QEMU is stopped at the end and, given LABEL, ending cleanly is a
    check of its own."""
    try:
        yield q
    except (QemuGone, RuntimeError) as e:
        check(name, False, e)
    finally:
        status = q.quit()
        if label:
            check("%s: QEMU ended cleanly" % label, status == 0, "exit status %s" % status)


def scenario_blank_after_frame(qemu_bin, outdir):
    name = "a 16 x 16 frame, then a blanked VGA takes the console back: QEMU survives the refresh"
    with survived(Qemu(qemu_bin, outdir, "blank-after-frame"), name, "blank-after-frame") as q:
        q.set_up_card()
        w, h, _ = q.screendump("blank-1-text")       # the VGA sizes its text screen: 720 x 400
        q.cmd("memset 0x%x 1024 0x5a" % BAR0)
        q.show_frame(16, 16)
        fw, fh, _ = q.screendump("blank-2-frame")
        q.blank_vga()
        q.show_frame(16, 16, enable=False)
        bw, bh, pixels = q.screendump("blank-3-blanked")
        check(name, q.alive())
        check("the blanked VGA's screen is its own size (%dx%d), all black (got %dx%d)" % (w, h, bw, bh),
              (bw, bh) == (w, h) and pixels.count(0) == len(pixels))
        q.blank_vga(False)
        tw, th, pixels = q.screendump("blank-4-text-again")
        check("unblanked, the text screen is back at %dx%d" % (w, h), (tw, th) == (w, h) and (fw, fh) == (16, 16))


def scenario_text_refresh(qemu_bin, outdir):
    """The curses display calls the device's text refresh and nothing else."""
    name = "the same 800 x 400 frame on again after a text refresh resized the console is drawn at its size"
    q = Qemu(qemu_bin, outdir, "text-refresh", extra=["-display", "curses"], tty=True)
    with survived(q, name, "text-refresh"):
        q.set_up_card()
        q.text(0, 0, "HOSTILE-ONE")
        wait_screen(q, b"HOSTILE-ONE")            # the text refresh runs
        q.cmd("memset 0x%x 1280000 0x33" % BAR0)
        q.show_frame(800, 400)
        w, h, _ = q.screendump("text-1-frame")
        # The guest changes the VGA's character height behind the frame (32
        # lines: 12 rows, 720 x 384), then turns the frame off: the next
        # text refresh resizes the console to the VGA's screen without
        # drawing into it.
        q.cmd("outb 0x3d4 0x09")
        q.cmd("outb 0x3d5 0x5f")
        q.show_frame(800, 400, enable=False)
        q.text(1, 0, "HOSTILE-TWO")
        wait_screen(q, b"HOSTILE-TWO")
        q.show_frame(800, 400)
        w2, h2, pixels = q.screendump("text-2-frame-again")
        check(name, (w, h, w2, h2) == (800, 400, 800, 400) and pixels[:3] == b"\x33\x33\x33",
              "first %dx%d, then %dx%d" % (w, h, w2, h2))


def scenario_load_over_frame(qemu_bin, outdir):
    """A state loaded into a running machine whose console shows a frame,
    without a reset in between (COLO's secondary does this): the state's
    blanked VGA must not clear its own screen size into the frame's surface."""
    name = "a state with a blanked VGA loaded over a 2048 x 1 frame: QEMU survives the refresh"
    state = os.path.join(outdir, "load-over-frame.state")
    source = Qemu(qemu_bin, outdir, "load-over-frame-source")
    try:
        source.set_up_card()
        source.blank_vga()
        source.save_state(state)
    except (QemuGone, RuntimeError) as e:
        check(name, False, "saving the source: %s" % e)
        source.quit()
        return
    source.quit()
    q = Qemu(qemu_bin, outdir, "load-over-frame", extra=["-incoming", "defer"])
    with survived(q, name, "load-over-frame"):
        q.set_up_card()
        w, h, _ = q.screendump("load-1-text")        # the VGA sizes its text screen: 720 x 400
        q.cmd("memset 0x%x 8192 0x5a" % BAR0)
        q.show_frame(2048, 1)
        fw, fh, _ = q.screendump("load-2-frame")
        q.load_state(state)
        bw, bh, pixels = q.screendump("load-3-loaded")
        check(name, q.alive() and (fw, fh) == (2048, 1), "the frame showed at %dx%d" % (fw, fh))
        check("after the load, the blanked VGA's screen is its own size (%dx%d), all black (got %dx%d)"
              % (w, h, bw, bh), (bw, bh) == (w, h) and pixels.count(0) == len(pixels))


def wait_screen(q, marker):
    """Waits until the curses display has shown the marker (the harness
    waits for QEMU, never for a fixed time)."""
    start = time.time()
    while marker not in q.screen:
        if q.proc.poll() is not None:
            raise QemuGone("QEMU exited with status %s" % q.proc.returncode)
        if time.time() - start > ANSWER_LIMIT:
            raise QemuGone("the curses display never showed %r" % marker)
        time.sleep(0.05)


def scenario_mono_crt(qemu_bin, outdir):
    name = "misc output bit 0 clear: extended CRT registers at 0x3B4/0x3B5, none at 0x3D5"
    with survived(Qemu(qemu_bin, outdir, "mono-crt"), name) as q:
        q.set_up_card()
        q.cmd("outb 0x3c2 0x66")                  # mono: the CRT moves to 0x3B4/0x3B5
        q.cmd("outb 0x3b4 0xa5")
        q.cmd("outb 0x3b5 0x07")
        q.cmd("outb 0x3d4 0x88")
        q.cmd("outb 0x3d5 0x09")
        q.cmd("outb 0x3b4 0xa5")
        back = q.cmd("inb 0x3b5")
        a5, m88, bank = q.qom("crtc-a5"), q.qom("crtc-88"), q.qom("bank")
        check(name, (a5, back, m88, bank) == (7, 7, 0, 0x700),
              "crtc-a5 %d, read back %d, crtc-88 %d, bank 0x%x" % (a5, back, m88, bank))
        q.cmd("outb 0x3c2 0x67")                  # colour again
        q.cmd("outb 0x3d4 0x88")
        q.cmd("outb 0x3d5 0x06")
        check("misc output bit 0 set: the extended register 0x88 at 0x3D5 again", q.qom("crtc-88") == 6)


def scenario_wide_access(qemu_bin, outdir):
    name = "a CPU's 8-byte store at BAR 1 + 0x304 writes 0x304 (low word) and 0x308 (high word)"
    image = os.path.join(outdir, "wide-access-guest.bin")
    asm = subprocess.run(["nasm", "-f", "bin", "-o", image, os.path.join(HERE, "wide-access-guest.asm")],
                         capture_output=True, text=True)
    if asm.returncode != 0:
        check(name, False, "nasm: " + asm.stderr.strip())
        return
    serial = os.path.join(outdir, "wide-access.serial")
    open(serial, "w").close()
    q = Qemu(qemu_bin, outdir, "wide-access", accel="tcg", extra=["-kernel", image, "-serial", "file:" + serial])
    with survived(q, name):
        start = time.time()
        while b"WIDE-ACCESS-DONE" not in open(serial, "rb").read():
            if q.proc.poll() is not None or time.time() - start > ANSWER_LIMIT:
                raise QemuGone("the guest never announced its end (see %s)" % serial)
            time.sleep(0.1)
        words = hmp_words(q, "xp /3wx 0x%x" % (0xC0000000 + 0x300))
        loaded = hmp_words(q, "xp /2wx 0x7000")
        check(name, words == [0, 0x11223344, 0x55667788], "registers 0x300.. %s" % [hex(x) for x in words])
        check("a CPU's 8-byte load at BAR 1 + 0x30C returns 0x310:0x30C",
              loaded == [0xA1B2C3D4, 0x0F1E2D3C], "loaded %s" % [hex(x) for x in loaded])


def hmp_words(q, command):
    text = q.execute("human-monitor-command", **{"command-line": command})
    return [int(x, 16) for x in text.split(":", 1)[1].split()]


# ---- the random sequence ------------------------------------------------------
VGA_PORTS = list(range(0x3B0, 0x3BC)) + list(range(0x3C0, 0x3E0))
NAMED_REGISTERS = [REG_CONTROL, REG_PITCH, REG_SIZE, REG_PALETTE, REG_PALETTE + 0x3FC, REGISTER_FILE_SIZE - 4, 0x304]
SIZES = [(1, 1), (2, 1), (16, 16), (640, 480), (720, 400), (800, 400), (800, 600), (1024, 768), (2048, 2048)]


def random_step(r):
    """One step of a hostile guest, as a list of qtest lines or an action of
    the harness (toggle, screendump, reset, config)."""
    kind = r.choices(["mode", "toggle", "register", "port", "attribute", "crt", "config", "vga-memory",
                      "frame-buffer", "screendump", "reset"],
                     weights=[6, 6, 10, 10, 5, 5, 4, 3, 3, 10, 1])[0]
    if kind == "mode":
        w, h = r.choice(SIZES) if r.random() < 0.8 else (r.randint(1, 2048), r.randint(1, 2048))
        fmt = r.choice([0, 1, 2, 2, 3])
        bpp = {0: 1, 1: 2, 2: 4, 3: 4}[fmt]
        pitch = w * bpp if r.random() < 0.8 else r.getrandbits(32)
        size = ((h - 1) << 16) | (w - 1) if r.random() < 0.9 else r.getrandbits(32)
        control = fmt | (0x100 if r.random() < 0.8 else 0) | (r.getrandbits(32) & ~0x1FF if r.random() < 0.2 else 0)
        return ["writel 0x%x 0x%x" % (BAR1 + REG_PITCH, pitch), "writel 0x%x 0x%x" % (BAR1 + REG_SIZE, size),
                "writel 0x%x 0x%x" % (BAR1 + REG_CONTROL, control)]
    if kind == "toggle":
        return ["toggle"]
    if kind == "register":
        size = r.choice([1, 2, 4, 8])
        offset = r.choice(NAMED_REGISTERS) + r.choice([0, 0, 1, 2, 4]) if r.random() < 0.5 else r.randrange(REGISTER_FILE_SIZE)
        if r.random() < 0.3:
            return ["read%s 0x%x" % ({1: "b", 2: "w", 4: "l", 8: "q"}[size], BAR1 + offset)]
        return ["write%s 0x%x 0x%x" % ({1: "b", 2: "w", 4: "l", 8: "q"}[size], BAR1 + offset, r.getrandbits(8 * size))]
    if kind == "port":
        size = r.choice([1, 1, 2, 4])
        port = r.choice(VGA_PORTS)
        if r.random() < 0.3:
            return ["in%s 0x%x" % ({1: "b", 2: "w", 4: "l"}[size], port)]
        return ["out%s 0x%x 0x%x" % ({1: "b", 2: "w", 4: "l"}[size], port, r.getrandbits(8 * size))]
    if kind == "attribute":
        # Blank or show the VGA: attribute index with bit 5 clear or set.
        return ["inb 0x3da", "outb 0x3c0 0x%x" % (r.choice([0x00, 0x20, r.getrandbits(8)]))]
    if kind == "crt":
        base = r.choice([0x3B4, 0x3D4])
        return ["outb 0x3c2 0x%x" % r.choice([0x66, 0x67, 0x67, r.getrandbits(8)]),
                "outb 0x%x 0x%x" % (base, r.choice([0x01, 0x09, 0x12, 0x13, 0x88, 0xA5, r.getrandbits(8)])),
                "outb 0x%x 0x%x" % (base + 1, r.getrandbits(8))]
    if kind == "config":
        size = r.choice([1, 2, 4])
        offset = r.choice([0x04, 0x10, 0x14, 0x30, 0x40, 0x40, r.randrange(0x100)]) & ~(size - 1)
        value = r.getrandbits(8 * size) if r.random() < 0.5 else r.choice([0x1, 0x3, 0xFFFFFFFF])
        return ["config %d %d %d" % (offset, size, value & ((1 << (8 * size)) - 1))]
    if kind == "vga-memory":
        return ["writew 0x%x 0x%x" % (0xA0000 + 2 * r.randrange(0x10000), r.getrandbits(16))]
    if kind == "frame-buffer":
        return ["memset 0x%x %d 0x%x" % (BAR0 + r.randrange(FRAME_BUFFER_SIZE - 0x10000), r.randrange(1, 0x10000),
                                         r.getrandbits(8))]
    return [kind]


def destination_console(r):
    """What a machine's console has drawn before a state is loaded into it:
    the VGA's text screen and mostly a 32-bit frame after it, often one far
    smaller than the text screen in lines or in bytes (qtest lines)."""
    lines = ["screendump"]
    if r.random() < 0.8:
        w, h = r.choice([(2048, 1), (1, 1), (16, 16), (800, 600)])
        lines += ["writel 0x%x 0x%x" % (BAR1 + REG_PITCH, w * 4),
                  "writel 0x%x 0x%x" % (BAR1 + REG_SIZE, ((h - 1) << 16) | (w - 1)),
                  "writel 0x%x 0x%x" % (BAR1 + REG_CONTROL, SHOWN_32), "screendump"]
    return lines


def load_into(target, state, prelude, steps):
    """The saved state loaded, without a reset, into the target machine
    (started with -incoming defer) once its console has drawn the prelude."""
    target.set_up_card()
    for line in prelude:
        steps.write("  before the load: %s\n" % line)
        if line == "screendump":
            target.screendump("random-before-load")
        else:
            target.cmd(line)
    target.load_state(state)
    os.unlink(state)


def run_random(qemu_bin, outdir, seed, seconds, max_steps, load_every):
    # Every state load starts QEMU again: from a copy, so that the sequence
    # keeps its QEMU when the shared build is relinked during the run.
    private_qemu = os.path.join(outdir, "qemu-for-random-%d" % seed)
    shutil.copy2(qemu_bin, private_qemu)
    try:
        run_random_with(private_qemu, outdir, seed, seconds, max_steps, load_every)
    finally:
        os.unlink(private_qemu)


def run_random_with(qemu_bin, outdir, seed, seconds, max_steps, load_every):
    r = random.Random(seed)
    # The state loads are chosen by a stream of their own: the guest's steps
    # stay the sequence they were before loads were added.
    loads_r = random.Random("state loads %d" % seed)
    steps_path = os.path.join(outdir, "random-%d.steps" % seed)
    steps = open(steps_path, "w")
    q = Qemu(qemu_bin, outdir, "random-%d" % seed)
    count = dumps = loads = 0
    problem = None
    start = time.time()
    try:
        q.set_up_card()
        control = 0
        while count < max_steps and time.time() - start < seconds:
            lines = random_step(r)
            count += 1
            if loads_r.random() < 1 / load_every:
                lines = ["save-load"] + lines
            for line in lines:
                steps.write(line + "\n")
                steps.flush()
                if line == "toggle":
                    control = q.cmd("readl 0x%x" % (BAR1 + REG_CONTROL)) or 0
                    q.cmd("writel 0x%x 0x%x" % (BAR1 + REG_CONTROL, control ^ DISPLAY_ENABLE))
                elif line == "screendump":
                    dumps += 1
                    w, h, _ = q.screendump("random-%d-last" % seed)
                    dw, dh = q.qom("display-width"), q.qom("display-height")
                    if dw and (w, h) != (dw, dh):
                        problem = "step %d: the device shows %dx%d, the screendump is %dx%d" % (count, dw, dh, w, h)
                        raise RuntimeError(problem)
                elif line == "reset":
                    q.reset()
                    q.set_up_card()
                elif line == "save-load":
                    # The sequence goes on in the machine the state is loaded
                    # into; the saved one must end cleanly.
                    loads += 1
                    state = os.path.join(outdir, "random-%d.state" % seed)
                    q.save_state(state)
                    saved, q = q, Qemu(qemu_bin, outdir, "random-%d-load-%d" % (seed, loads),
                                       extra=["-incoming", "defer"])
                    if saved.quit() != 0:
                        raise QemuGone("the saved machine exited with status %s" % saved.proc.returncode)
                    load_into(q, state, destination_console(loads_r), steps)
                elif line.startswith("config "):
                    offset, size, value = (int(x) for x in line.split()[1:])
                    q.config_write(offset, value, size)
                    if offset in (0x04, 0x10, 0x14) and r.random() < 0.5:
                        q.set_up_card()              # most firmware puts things back
                else:
                    q.cmd(line)
        alive = q.alive()
    except (QemuGone, RuntimeError) as e:
        problem = problem or str(e)
        alive = False
    steps.close()
    status = q.quit()
    if problem is None:
        summary = "%d steps (%d screendumps, %d state loads) in %.0f s, QEMU answered every one" % (
            count, dumps, loads, time.time() - start)
    else:
        summary = "QEMU failed at step %d of the sequence (replay: %s)" % (count, steps_path)
    check("random sequence, seed %d: %s" % (seed, summary), alive and problem is None, problem)
    check("random sequence, seed %d: QEMU ended cleanly" % seed, status == 0,
          "exit status %s; see %s" % (status, os.path.join(outdir, q.name + ".log")))


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    qemu_bin, outdir, mode = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(outdir, exist_ok=True)
    if mode == "scenarios":
        only = sys.argv[4:]
        for name, run in [("blank-after-frame", scenario_blank_after_frame), ("text-refresh", scenario_text_refresh),
                          ("mono-crt", scenario_mono_crt), ("wide-access", scenario_wide_access),
                          ("load-over-frame", scenario_load_over_frame)]:
            if not only or name in only:
                run(qemu_bin, outdir)
    elif mode == "random":
        seed, seconds = int(sys.argv[4]), float(sys.argv[5])
        max_steps = int(sys.argv[6]) if len(sys.argv) > 6 else 1 << 62
        load_every = int(sys.argv[7]) if len(sys.argv) > 7 else 64
        run_random(qemu_bin, outdir, seed, seconds, max_steps, load_every)
    else:
        sys.exit(__doc__)
    sys.exit(0 if results and all(results) else 1)


if __name__ == "__main__":
    main()
