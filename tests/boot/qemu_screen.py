"""Boots a disk image in QEMU and reads its text screen.

The screen is the 80x25 text page at B8000h, fetched through the QEMU
human monitor with pmemsave; it is polled until the expected texts show
or a deadline passes.

    from qemu_screen import boot_and_read_screen
    text = boot_and_read_screen("vol.img", expect=["Invalid system disk"])

For more than one look at a running guest (keys, a changed diskette) use
Machine as a context manager.  From a shell:

    python3 qemu_screen.py vol.img --expect "Disk I/O error" --timeout 20

prints the screen; exit status 0 when every text showed, 1 when not,
77 when QEMU is not installed.
"""

import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

QEMU = "qemu-system-i386"
COLUMNS, ROWS = 80, 25
SKIP = 77


class ScreenTimeout(AssertionError):
    """The expected texts did not show in time; .screen is the last screen."""

    def __init__(self, message, screen):
        super().__init__(f"{message}\n--- screen ---\n{screen}\n--------------")
        self.screen = screen


def qemu_available(qemu=QEMU):
    return shutil.which(qemu) is not None


def decode_screen(page):
    """Text of a text-mode page: character bytes, attributes dropped."""
    chars = page[0::2]
    rows = []
    for r in range(ROWS):
        row = chars[r * COLUMNS:(r + 1) * COLUMNS]
        rows.append(bytes(c if 32 <= c < 127 else 32 for c in row).decode("ascii").rstrip())
    while rows and not rows[-1]:
        rows.pop()
    return "\n".join(rows)


def shows_in_order(screen, expect):
    """True when every text of expect is on the screen, in that order."""
    pos = 0
    for text in expect:
        pos = screen.find(text, pos)
        if pos < 0:
            return False
        pos += len(text)
    return True


def _as_list(expect):
    if expect is None:
        return []
    return [expect] if isinstance(expect, str) else list(expect)


class Machine:
    """A QEMU guest booted from one image, with its monitor at hand.

    media "floppy" boots the image as drive A:, "disk" as the first IDE
    hard disk, with geometry (cylinders, heads, sectors per track) when
    given, else QEMU's guess.  The image itself is never written
    (-snapshot).
    """

    def __init__(self, image, media="floppy", geometry=None, qemu=QEMU, extra_args=(),
                 memory_mb=16):
        if not qemu_available(qemu):
            raise FileNotFoundError(f"{qemu} is not installed")
        self._dir = tempfile.mkdtemp(prefix="qscr")  # short: socket paths are limited
        self._sock_path = os.path.join(self._dir, "mon")
        self._dump = os.path.join(self._dir, "screen.bin")
        if media == "floppy":
            drive = ["-drive", f"file={image},if=floppy,format=raw,index=0", "-boot", "a"]
        elif media == "disk" and geometry:
            cyls, heads, secs = geometry
            drive = ["-drive", f"file={image},if=none,id=hd0,format=raw",
                     "-device", f"ide-hd,drive=hd0,cyls={cyls},heads={heads},secs={secs},"
                                "bootindex=0"]
        elif media == "disk":
            drive = ["-drive", f"file={image},if=ide,format=raw,index=0", "-boot", "c"]
        else:
            raise ValueError(f"unknown media {media!r}")
        cmd = [qemu, "-nodefaults", "-vga", "std", "-display", "none",
               "-m", str(memory_mb), "-snapshot", "-no-reboot",
               "-monitor", f"unix:{self._sock_path},server=on,wait=off",
               *drive, *extra_args]
        self._log = open(os.path.join(self._dir, "qemu.log"), "w+b")
        self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL,
                                     stdout=self._log, stderr=subprocess.STDOUT)
        self._sock = None
        try:
            self._connect(deadline=time.monotonic() + 10)
        except BaseException:
            self.close()
            raise

    def _qemu_output(self):
        self._log.seek(0)
        return self._log.read().decode(errors="replace")

    def _connect(self, deadline):
        while True:
            if self.proc.poll() is not None:
                raise RuntimeError(f"QEMU exited ({self.proc.returncode}):\n{self._qemu_output()}")
            try:
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                s.connect(self._sock_path)
                break
            except OSError:
                s.close()
                if time.monotonic() > deadline:
                    raise RuntimeError("QEMU monitor did not come up")
                time.sleep(0.05)
        s.settimeout(10)
        self._sock = s
        self._read_prompt()

    def _read_prompt(self):
        data = b""
        while not data.endswith(b"(qemu) "):
            chunk = self._sock.recv(4096)
            if not chunk:
                raise RuntimeError(f"QEMU monitor closed:\n{self._qemu_output()}")
            data += chunk
        return data.decode(errors="replace")

    def command(self, line):
        """Runs one monitor command; returns what the monitor answered."""
        self._sock.sendall(line.encode() + b"\n")
        return self._read_prompt()

    def memory(self, address, size):
        """size bytes of guest physical memory from address."""
        if os.path.exists(self._dump):
            os.unlink(self._dump)
        # quoted: unquoted, the monitor reads a path's slashes as divisions
        answer = self.command(f'pmemsave {address:#x} {size} "{self._dump}"')
        if not os.path.exists(self._dump):
            raise RuntimeError(f"pmemsave failed: {answer}")
        with open(self._dump, "rb") as f:
            return f.read()

    def screen(self):
        """The text on the screen now."""
        return decode_screen(self.memory(0xB8000, COLUMNS * ROWS * 2))

    def wait_for(self, expect, timeout=20.0, poll=0.1):
        """Polls the screen until every text of expect shows, in order.

        Returns the screen; raises ScreenTimeout when the deadline passes
        first, and RuntimeError when the guest stopped QEMU (a reset).
        """
        expect = _as_list(expect)
        deadline = time.monotonic() + timeout
        while True:
            if self.proc.poll() is not None:
                raise RuntimeError(f"QEMU exited ({self.proc.returncode}), "
                                   f"waiting for {expect}:\n{self._qemu_output()}")
            text = self.screen()
            if shows_in_order(text, expect):
                return text
            if time.monotonic() > deadline:
                raise ScreenTimeout(f"no {expect} within {timeout} s", text)
            time.sleep(poll)

    def settle(self, timeout=20.0, quiet=1.0, poll=0.1):
        """Waits until the screen stays the same for quiet seconds."""
        deadline = time.monotonic() + timeout
        last, since = None, time.monotonic()
        while time.monotonic() < deadline:
            text = self.screen()
            if text != last:
                last, since = text, time.monotonic()
            elif time.monotonic() - since >= quiet:
                break
            time.sleep(poll)
        return last

    def send_key(self, key):
        """A key press in the monitor's names: "ret", "spc", "a", ..."""
        self.command(f"sendkey {key}")

    def change_floppy(self, image):
        """Puts another diskette into drive A:."""
        answer = self.command(f'change floppy0 "{os.path.abspath(image)}" raw read-only')
        if "rror" in answer:
            raise RuntimeError(answer)

    def close(self):
        if self._sock is not None:
            try:
                self._sock.sendall(b"quit\n")
                while self._sock.recv(4096):  # QEMU closes it on its way out
                    pass
            except OSError:
                pass
            self._sock.close()
            self._sock = None
        if self.proc.poll() is None:
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self._log.close()
        shutil.rmtree(self._dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def boot_and_read_screen(image_path, expect=None, timeout=20.0, media="floppy", **machine_args):
    """Boots image_path and returns its screen text.

    With expect (a text or a list of texts that must show in that order)
    the screen is returned as soon as they show, ScreenTimeout is raised
    if they have not after timeout seconds.  Without, the screen is
    returned once it stopped changing.
    """
    with Machine(image_path, media=media, **machine_args) as m:
        if expect is None:
            return m.settle(timeout)
        return m.wait_for(expect, timeout)


def main(argv=None):
    ap = argparse.ArgumentParser(description="Boot an image in QEMU and print its text screen.")
    ap.add_argument("image")
    ap.add_argument("--expect", action="append", help="text that must show (repeatable, in order)")
    ap.add_argument("--timeout", type=float, default=20.0)
    ap.add_argument("--media", choices=("floppy", "disk"), default="floppy")
    ap.add_argument("--qemu", default=QEMU)
    args = ap.parse_args(argv)
    if not qemu_available(args.qemu):
        print(f"SKIPPED: {args.qemu} not found")
        return SKIP
    try:
        print(boot_and_read_screen(args.image, args.expect, args.timeout, args.media, qemu=args.qemu))
    except ScreenTimeout as e:
        print(e.screen)
        print(f"not shown: {args.expect}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
