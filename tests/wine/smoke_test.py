#!/usr/bin/python3
"""Starts one edition's program under Wine and uses it as a person would: the
dialog appears with its caption and controls, the start button with no disk
selected brings up "请先选择USB盘", Escape closes the box, Escape again closes
the dialog and the program exits with the dialog's result.

    smoke_test.py vellmark|ossiter --win32 PROGRAM PROBE --win64 PROGRAM PROBE

Exit 0 when all holds, 1 on a failure, 77 (skipped) when the machine cannot
run Wine; it says which build ran.
"""
import argparse
import sys
import time

sys.path.insert(0, __import__("os").path.dirname(__file__))
from wine_session import SKIP, Skip, WineSession, choose_variant  # noqa: E402

CAPTIONS = {"vellmark": "Vellmark V1.1", "ossiter": "Ossiter v1.0"}
BOX_CAPTION = "格式化U盘"
BOX_TEXT = "请先选择USB盘"
IDC_START, IDC_DRIVE_LIST, IDC_STATUS = 1002, 1004, 1009
IDC_FLOPPY_720K, IDC_FLOPPY_144M = 1032, 1033
# The controls a user sees; every other control of the template is hidden.
SHOWN = {"vellmark": {IDC_DRIVE_LIST, IDC_START, IDC_STATUS, IDC_FLOPPY_720K, IDC_FLOPPY_144M},
         "ossiter": {IDC_DRIVE_LIST, IDC_START, IDC_STATUS}}
SHOWN_UNNAMED = {"vellmark": {"选择可移动盘:", "", "选择软盘格式:"},
                 "ossiter": {"选择可移动盘:", ""}}


class Failures:
    def __init__(self):
        self.items, self.passed = [], 0

    def expect(self, what, actual, expected):
        if actual == expected:
            self.passed += 1
            print(f"ok   {what}")
        else:
            self.items.append(what)
            print(f"FAIL {what}: {actual!r}, expected {expected!r}")
        return actual == expected


def control(window, cid):
    found = [c for c in window["controls"] if c["id"] == cid]
    return found[0] if len(found) == 1 else None


def run(edition, session, program, check):
    caption = CAPTIONS[edition]
    # Arguments are ignored: they must change nothing.
    process = session.start(program, caption, ["/f", "A:", "--anything"])
    dialog = session.wait_for(caption, timeout=90)
    if not check.expect(f"the dialog {caption!r} appears", dialog is not None, True):
        process.kill()
        return
    shown = {c["id"] for c in dialog["controls"] if c["visible"] and c["id"] != -1}
    check.expect("the controls shown", sorted(shown), sorted(SHOWN[edition]))
    shown_unnamed = {c["text"] for c in dialog["controls"] if c["visible"] and c["id"] == -1}
    check.expect("the unnamed controls shown", sorted(shown_unnamed),
                 sorted(SHOWN_UNNAMED[edition]))
    start = control(dialog, IDC_START)
    check.expect("the start button's caption", start and start["text"], "开始格式化")
    status = control(dialog, IDC_STATUS)
    check.expect("the status line after start-up", status and status["text"], "请选择盘.")
    if edition == "vellmark":
        radios = [control(dialog, IDC_FLOPPY_720K), control(dialog, IDC_FLOPPY_144M)]
        check.expect("the radio buttons", [(r["text"], r["checked"]) if r else None
                                           for r in radios], [("720K", 0), ("1.44M", 1)])
    else:
        check.expect("no radio buttons",
                     [c for c in dialog["controls"] if c["id"] in (IDC_FLOPPY_720K,
                                                                  IDC_FLOPPY_144M)], [])

    if start is not None:
        session.click(start["rect"])
    box = session.wait_for(BOX_CAPTION, timeout=30)
    if check.expect(f"the start button brings up the box {BOX_CAPTION!r}", box is not None, True):
        texts = [c["text"] for c in box["controls"] if c["class"] == "Static" and c["text"]]
        check.expect("the box's text", texts, [BOX_TEXT])
        session.key("Escape")
        check.expect("Escape closes the box",
                     session.wait_for(BOX_CAPTION, present=False, timeout=30), None)
    check.expect("the dialog stays open", session.wait_for(caption, timeout=30) is not None, True)

    session.key("Escape")
    try:
        code = process.wait(60)
    except Exception:
        process.kill()
        code = None
    check.expect("Escape closes the dialog and the program ends", code is not None, True)
    # The dialog ends by the destruction of its window; the modal dialog call
    # then returns 0, which becomes the exit code.
    check.expect("the exit code", code, 0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("edition", choices=sorted(CAPTIONS))
    parser.add_argument("--win32", nargs=2, required=True, metavar=("PROGRAM", "PROBE"))
    parser.add_argument("--win64", nargs=2, required=True, metavar=("PROGRAM", "PROBE"))
    args = parser.parse_args()
    try:
        bits, program, probe, note = choose_variant(args.win32, args.win64)
    except Skip as why:
        print(f"SKIPPED: {why}")
        return SKIP
    print(f"{args.edition}: {note}: {program}")
    check = Failures()
    began = time.monotonic()
    with WineSession(bits, probe) as session:
        run(args.edition, session, program, check)
    print(f"{check.passed} passed, {len(check.items)} failed "
          f"({time.monotonic() - began:.0f} s, {bits}-bit)")
    return 1 if check.items else 0


if __name__ == "__main__":
    sys.exit(main())
