"""The fixed places of the assembled boot program, byte for byte.

    test_layout.py boot_program.bin

Offsets are the boot sector's; the program holds offsets 62..509.
"""

import struct
import sys

FIRST = 62

FIXED = [
    (62, bytes.fromhex("33C98ED1BCFC7B"), "stack set-up the code begins with"),
    (383, bytes.fromhex("03180127"), "message table"),
    (387, b"\r\nInvalid system disk\xFF", "invalid-disk message"),
    (409, b"\r\nDisk I/O error\xFF", "read-error message"),
    (426, b"\r\nReplace the disk, and then press any key\r\n\x00", "replace-disk message"),
    (471, b"\x00", "byte after the messages"),
    (472, b"IO      SYS", "system file name"),
    (483, b"MSDOS   SYS", "second name"),
    (494, bytes.fromhex("7F0100"), "bytes before the read entry"),
    (508, b"\x00\x00", "bytes before the signature"),
]

# table entry -> the message it must select
TABLE = [(383, 387), (384, 409), (385, 387), (386, 426)]

READ_ENTRY, READ_ENTRY_END = 497, 508


def near_call_targets(sector, start, end):
    """Where the E8 rel16 byte patterns in sector[start:end] would call."""
    for i in range(start, end - 2):
        if sector[i] == 0xE8:
            yield i + 3 + struct.unpack_from("<h", sector, i + 1)[0]


def check(program):
    errors = []
    if len(program) != 448:
        return [f"{len(program)} bytes, not 448"]
    sector = bytes(FIRST) + program + b"\x55\xAA"
    for off, want, what in FIXED:
        got = sector[off:off + len(want)]
        if got != want:
            errors.append(f"{what} at {off}: {got.hex(' ')} instead of {want.hex(' ')}")
    for entry, message in TABLE:
        target = entry + 1 + sector[entry]
        if target != message:
            errors.append(f"table entry at {entry} selects offset {target}, not {message}")
    entry = sector[READ_ENTRY:READ_ENTRY_END]
    if len(set(entry)) < 4:
        errors.append(f"read entry at {READ_ENTRY} looks like filler: {entry.hex(' ')}")
    if READ_ENTRY not in near_call_targets(sector, 62, 383):
        errors.append(f"no call into the read entry at {READ_ENTRY}")
    return errors


def main():
    with open(sys.argv[1], "rb") as f:
        errors = check(f.read())
    for e in errors:
        print("FAIL:", e)
    if not errors:
        print("layout ok")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
