#!/usr/bin/python3
"""Photographs both programs' main dialogs under Wine into docs/vellmark.png
and docs/ossiter.png. Build the windows preset first:

    cmake --preset windows && cmake --build --preset windows
    /usr/bin/python3 tests/wine/make_screenshots.py [BUILD_DIR]
"""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from wine_session import SKIP, Skip, WineSession, choose_variant  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(HERE))
PROGRAMS = {"vellmark": ("Vellmark", "Vellmark V1.1"), "ossiter": ("Ossiter", "Ossiter v1.0")}


def main(argv):
    build = argv[1] if len(argv) > 1 else os.path.join(ROOT, "build", "windows")
    for edition, (name, caption) in PROGRAMS.items():
        win32 = (os.path.join(build, "bin", name + ".exe"),
                 os.path.join(build, "bin", "window_probe.exe"))
        win64 = (os.path.join(build, "wine64", "bin", name + ".exe"),
                 os.path.join(build, "wine64", "bin", "window_probe.exe"))
        try:
            bits, program, probe, note = choose_variant(win32, win64)
        except Skip as why:
            print(f"SKIPPED: {why}")
            return SKIP
        print(f"{edition}: {note}")
        with WineSession(bits, probe) as session:
            process = session.start(program, caption)
            dialog = session.wait_for(caption, timeout=90)
            if dialog is None:
                print(f"the dialog {caption!r} did not appear")
                process.kill()
                return 1
            time.sleep(2)  # let it finish painting
            path = os.path.join(ROOT, "docs", edition + ".png")
            session.screenshot(path, dialog["rect"])
            print(f"wrote {path}")
            session.key("Escape")
            process.wait(60)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
