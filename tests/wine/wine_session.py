"""A throw-away Wine session on its own X server, for the program tests and
the screenshots: its own Xvfb, its own Wine prefix with a virtual desktop,
Simplified Chinese locale (ANSI code page 936), mouse and keys through
xdotool, and window_probe to read what is on the screen.
"""
import os
import shutil
import subprocess
import tempfile
import time

SKIP = 77
WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
DESKTOP = (800, 600)


class ProbeHung(Exception):
    """The probe did not answer; nothing is known about the window."""


class Skip(Exception):
    """The machine cannot run the test; the message says why."""


def can_execute(path):
    try:
        subprocess.run([path, "--version"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60, check=False)
        return True
    except OSError:
        return False


def choose_variant(win32, win64):
    """Picks the real 32-bit programs when this machine can start 32-bit
    Wine, else the 64-bit build of the same sources. Returns (bits, program,
    probe, note)."""
    for tool in ("Xvfb", "xdotool", "import"):
        if shutil.which(tool) is None:
            raise Skip(f"{tool} is not installed")
    if not any(line.strip().lower() in ("zh_cn.utf8", "zh_cn.utf-8")
               for line in subprocess.run(["locale", "-a"], capture_output=True,
                                          text=True).stdout.splitlines()):
        raise Skip("the zh_CN.UTF-8 locale is not generated (tools/setup.sh does it)")
    reasons = []
    if os.path.exists(WINE32) and can_execute(WINE32):
        return 32, win32[0], win32[1], "32-bit programs under 32-bit Wine"
    reasons.append("32-bit Wine cannot start here (no 32-bit Linux programs on this kernel)"
                   if os.path.exists(WINE32) else "32-bit Wine is not installed")
    if not os.path.exists(WINE64):
        raise Skip("; ".join(reasons + ["64-bit Wine is not installed"]))
    if not (os.path.exists(win64[0]) and os.path.exists(win64[1])):
        raise Skip("; ".join(reasons + ["the 64-bit build of the programs is missing "
                                        "(x86_64-w64-mingw32-g++ not installed?)"]))
    return 64, win64[0], win64[1], "; ".join(
        reasons + ["running the 64-bit build of the same sources under 64-bit Wine"])


class WineSession:
    def __init__(self, bits, probe):
        self.bits, self.probe_exe = bits, probe
        self.wine = WINE32 if bits == 32 else WINE64
        self.root = tempfile.mkdtemp(prefix="sf-wine-")
        self.xvfb = None
        self.env = None

    # ------------------------------------------------------------ set-up
    def __enter__(self):
        try:
            self._start_x()
            self._make_prefix()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _start_x(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             f"{DESKTOP[0] + 200}x{DESKTOP[1] + 200}x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            display = f.readline().strip()
        if not display:
            raise RuntimeError("Xvfb did not start")
        env = {k: v for k, v in os.environ.items() if not k.startswith(("LC_", "WINE"))}
        env.update({
            "DISPLAY": ":" + display,
            "WINEPREFIX": os.path.join(self.root, "prefix"),
            "WINEARCH": "win32" if self.bits == 32 else "win64",
            "WINEDEBUG": "-all",
            # No downloads of the .NET and HTML engines, no desktop menu entries.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "LANG": "zh_CN.UTF-8",
            "LC_ALL": "zh_CN.UTF-8",
            "HOME": self.root,
        })
        self.env = env

    def _make_prefix(self):
        self.run_wine(["wineboot", "-i"], timeout=180)
        self.wait_server(120)
        # One virtual desktop: Wine draws the captions itself, no window
        # manager needed.
        self.run_wine(["reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop",
                       "/d", "Default", "/f"], timeout=60)
        self.run_wine(["reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "Default",
                       "/d", f"{DESKTOP[0]}x{DESKTOP[1]}", "/f"], timeout=60)
        self.wait_server(60)

    def wait_server(self, timeout):
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=timeout, check=False)

    def close(self):
        if self.env is not None:
            subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60, check=False)
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        shutil.rmtree(self.root, ignore_errors=True)

    # ------------------------------------------------------------ programs
    def run_wine(self, args, timeout):
        return subprocess.run([self.wine] + args, env=self.env, cwd=self.root,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout, check=False)

    def start(self, program, caption, args=(), timeout=90):
        """Starts the program and waits until X shows a window with its
        caption. The probes start only then: a probe that starts Wine's
        services together with the program can hang."""
        process = subprocess.Popen([self.wine, program] + list(args), env=self.env,
                                   cwd=self.root, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and process.poll() is None:
            found = subprocess.run(["xdotool", "search", "--name", f"^{caption}$"], env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   timeout=30, check=False)
            if found.returncode == 0:
                break
            time.sleep(0.5)
        return process

    def window(self, caption):
        """What the probe sees of the top-level window with this caption:
        {"rect": (x, y, w, h), "visible": bool, "controls": [dict]}, or None."""
        try:
            result = self.run_wine([self.probe_exe, caption], timeout=30)
        except subprocess.TimeoutExpired:
            raise ProbeHung(caption) from None
        if result.returncode != 0:
            return None
        window, controls = None, []
        for line in result.stdout.decode("utf-8").splitlines():
            kind, _, rest = line.partition(" ")
            fields = {}
            head, _, text = rest.partition(" text=")
            for item in head.split():
                key, _, value = item.partition("=")
                fields[key] = value
            entry = {"text": text, "rect": tuple(int(v) for v in fields["rect"].split(",")),
                     "visible": fields["visible"] == "1", "class": fields["class"]}
            if kind == "window":
                window = entry
            else:
                entry.update(id=int(fields["id"]), enabled=fields["enabled"] == "1",
                             checked=int(fields["checked"]))
                controls.append(entry)
        if window is not None:
            window["controls"] = controls
        return window

    def wait_for(self, caption, present=True, timeout=60):
        """Waits until a shown window with this caption is there (or, with
        present False, is gone)."""
        deadline = time.monotonic() + timeout
        found = None
        while True:
            try:
                found = self.window(caption)
                # A window counts as there once it is shown.
                if (found is not None and found["visible"]) == present:
                    return found
            except ProbeHung:
                pass
            if time.monotonic() > deadline:
                return None if present else (found or {})
            time.sleep(0.5)

    # ------------------------------------------------------------ input
    def xdotool(self, *args):
        subprocess.run(["xdotool"] + list(args), env=self.env, timeout=30, check=True)

    def click(self, rect):
        x, y, w, h = rect
        self.xdotool("mousemove", str(x + w // 2), str(y + h // 2))
        self.xdotool("click", "1")

    def key(self, name):
        self.xdotool("key", name)

    def screenshot(self, path, rect=None):
        shot = os.path.join(self.root, "screen.png")
        subprocess.run(["import", "-window", "root", shot], env=self.env, timeout=60, check=True)
        args = ["convert", shot]
        if rect is not None:
            x, y, w, h = rect
            args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        subprocess.run(args + [path], timeout=60, check=True)
