"""The boot program booted in QEMU, one case of the table per run.

    boot_cases.py --list
    boot_cases.py --program boot_program.bin --case NAME [--keep DIR]

Exit 77 (skipped) when QEMU, mtools or nasm is missing.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import fat_image  # noqa: E402
import qemu_screen  # noqa: E402

INVALID = "Invalid system disk"
IO_ERROR = "Disk I/O error"
REPLACE = "Replace the disk, and then press any key"
IO_MARK = "IO.SYS RUNNING"
JO_MARK = "JO.SYS RUNNING"

IO = "IO      SYS"
JO = "JO      SYS"


@dataclass
class File:
    name: str                 # 11-byte directory name
    where: str = None         # fat_image.pick_cluster's choice; None: an empty entry
    slot: int = None          # root directory slot; None: the next one
    listed: bool = True       # False: FAT rules keep it out of the directory too

    @property
    def marker(self):
        return f"{self.name[:2]}.SYS RUNNING"


@dataclass
class Case:
    kb: int = 1440
    spc: int = 1
    files: list = field(default_factory=list)
    bpb: dict = field(default_factory=dict)   # fields set before the files go in
    expect: list = field(default_factory=list)
    absent: list = field(default_factory=list)
    then: str = None                           # what follows the first screen: a key
    media: str = "floppy"                      # "disk": hard disk 80h
    parts: list = None                         # disk: (status, type, start) entries
    geometry: tuple = None                     # disk without parts: its volume's too


def fillers(n):
    return [File(f"FILL{i:04d}TXT") for i in range(n)]


def dpt(spt):
    """What the system file shows of the table the boot program set up."""
    return f"DPT 0000:0522 SPT {spt:02X} SETTLE 0F"


HD = (3, 16, 63)                  # cylinders, heads, sectors per track
HD_START = 63                     # where a partition starts
CHS_MISSES = {"SecPerTrk": 17, "NumHeads": 4}  # CHS from these reads other sectors


CASES = {
    "no_system_file": Case(expect=[INVALID, REPLACE], absent=[IO_ERROR]),
    # four sectors over a track boundary, each geometry and cluster size
    "1440_spc1_over_head": Case(1440, 1, [File(IO, "head")], expect=[dpt(18), IO_MARK]),
    "1440_spc2_over_cylinder": Case(1440, 2, [File(IO, "cylinder")], expect=[dpt(18), IO_MARK]),
    "720_spc1_over_cylinder": Case(720, 1, [File(IO, "cylinder")], expect=[dpt(9), IO_MARK]),
    "720_spc2_over_head": Case(720, 2, [File(IO, "head")], expect=[dpt(9), IO_MARK]),
    # the last clusters of the disk
    "1440_spc1_far": Case(1440, 1, [File(IO, "far")], expect=[IO_MARK]),
    "1440_spc2_far": Case(1440, 2, [File(IO, "far")], expect=[IO_MARK]),
    "720_spc1_far": Case(720, 1, [File(IO, "far")], expect=[IO_MARK]),
    "720_spc2_far": Case(720, 2, [File(IO, "far")], expect=[IO_MARK]),
    # JO is looked for first, wherever it stands
    "jo_before_io": Case(files=[File(IO, "head"), File(JO, "far")],
                         expect=[JO_MARK], absent=[IO_MARK]),
    "jo_alone": Case(files=[File(JO, "head")], expect=[JO_MARK]),
    # the root directory: later sectors, a free entry, its entry count
    "io_in_third_root_sector": Case(files=fillers(40) + [File(IO, "head")], expect=[IO_MARK]),
    "free_entry_ends_search": Case(files=fillers(3) + [File(IO, "head", slot=4, listed=False)],
                                   expect=[INVALID, REPLACE], absent=[IO_MARK]),
    "root_entry_count_ends_search": Case(bpb={"RootEntCnt": 20},
                                         files=fillers(20) + [File(IO, "head")],
                                         expect=[INVALID, REPLACE], absent=[IO_MARK]),
    "last_root_entry_found": Case(bpb={"RootEntCnt": 21}, files=fillers(20) + [File(IO, "head")],
                                  expect=[IO_MARK]),
    # a root directory past the end of the disk cannot be read
    "unreadable_root": Case(bpb={"RsvdSecCnt": 4000}, expect=[IO_ERROR, REPLACE], absent=[INVALID]),
    # a key after the last message starts again from the new diskette
    "key_restarts_boot": Case(expect=[INVALID, REPLACE], then="restart"),
    # ... and hands the BIOS back its own diskette table first
    "key_restores_table_vector": Case(expect=[INVALID, REPLACE], then="restore"),
    # hard disks: a superfloppy reads by CHS; in a partition, the type of
    # the entry that starts at HiddSec decides, 0Ch and 0Eh meaning LBA
    "hd_superfloppy": Case(media="disk", files=[File(IO, "cylinder")],
                           expect=[dpt(63), IO_MARK]),
    "hd_cylinder_above_255": Case(media="disk", geometry=(300, 2, 18), files=[File(IO, "far")],
                                  expect=[dpt(18), IO_MARK]),
    "hd_type_06_reads_by_chs": Case(media="disk", parts=[(0x80, 0x06, HD_START)],
                                    files=[File(IO, "far")], expect=[IO_MARK]),
    "hd_type_0E_reads_by_lba": Case(media="disk", parts=[(0x80, 0x0E, HD_START)], bpb=CHS_MISSES,
                                    files=[File(IO, "far")], expect=[IO_MARK]),
    "hd_type_0C_reads_by_lba": Case(media="disk", parts=[(0x80, 0x0C, HD_START)], bpb=CHS_MISSES,
                                    files=[File(IO, "far")], expect=[IO_MARK]),
    "hd_chs_misses_with_other_geometry": Case(media="disk", parts=[(0x80, 0x06, HD_START)],
                                              bpb=CHS_MISSES, files=[File(IO, "far")],
                                              expect=[INVALID, REPLACE], absent=[IO_MARK]),
    "hd_own_entry_second": Case(media="disk", parts=[(0, 0x06, 2000), (0x80, 0x0E, HD_START)],
                                bpb=CHS_MISSES, files=[File(IO, "far")], expect=[IO_MARK]),
    "hd_other_entry_ignored": Case(media="disk", parts=[(0, 0x0E, 2000), (0x80, 0x06, HD_START)],
                                   bpb=CHS_MISSES, files=[File(IO, "far")],
                                   expect=[INVALID, REPLACE], absent=[IO_MARK]),
}


def assemble_system_file(marker, out):
    subprocess.run(["nasm", "-f", "bin", f"-DMARKER=\"{marker}\"", "-o", out,
                    os.path.join(HERE, "system_file.asm")], check=True)
    with open(out, "rb") as f:
        return f.read()


def build(case, program, path, work):
    geometry = case.geometry or HD
    if case.media == "floppy":
        vol = fat_image.make_floppy(path, case.kb, case.spc, program)
    elif case.parts is None:  # the volume is the whole disk
        volume_path = path + ".volume"
        vol = fat_image.make_volume(volume_path, geometry, case.spc, program)
        vol.set(DrvNum=0x80)
    else:
        volume_path = path + ".volume"
        vol = fat_image.make_floppy(volume_path, case.kb, case.spc, program)
        vol.set(SecPerTrk=geometry[2], NumHeads=geometry[1], DrvNum=0x80, HiddSec=HD_START)
    if case.bpb:
        vol.set(**case.bpb)
    used, slot = set(), 0
    for f in case.files:
        slot = f.slot if f.slot is not None else slot
        if f.where is None:
            vol.add_entry(f.name, slot, attr=0x20)
        else:
            data = assemble_system_file(f.marker, os.path.join(work, f.name[:2] + ".bin"))
            cluster = fat_image.pick_cluster(vol, len(data) // 512, f.where)
            assert not used & set(range(cluster, cluster + 4)), "files overlap"
            used |= set(range(cluster, cluster + 4))
            vol.add_file(f.name, data, cluster, slot)
            if f.where == "far":
                assert cluster > vol.last_cluster // 2, cluster
            if case.geometry:  # a geometry of its own is there for cylinders past 255
                assert vol.chs(vol.cluster_sector(cluster))[0] > 255
            # mtools must agree on what the directory holds; it rounds a
            # part-sector root directory down, so not on a changed BPB
            if not case.bpb:
                check_with_mtools(vol, f, data)
        slot += 1
    if case.media == "disk":
        sectors = geometry[0] * geometry[1] * geometry[2]
        if case.parts is None:
            fat_image.make_disk(path, volume_path, sectors)
        else:
            entries = [fat_image.partition_entry(status, kind, start, vol.total_sectors)
                       for status, kind, start in case.parts]
            fat_image.make_disk(path, volume_path, sectors, chain_loader(work), entries)
    return vol


def check_with_mtools(vol, f, data):
    dos_name = f.name[:2] + ".SYS"
    try:
        got = vol.read_back(dos_name)
    except subprocess.CalledProcessError:
        assert not f.listed, f"mtools does not find {dos_name}"
    else:
        assert f.listed, f"mtools finds {dos_name}"
        assert got == data, f"mtools reads {dos_name} otherwise"


def chain_loader(work):
    out = os.path.join(work, "chain_loader.bin")
    subprocess.run(["nasm", "-f", "bin", "-o", out, os.path.join(HERE, "chain_loader.asm")],
                   check=True)
    with open(out, "rb") as f:
        return f.read()


def vector(raw):
    off, seg = struct.unpack("<HH", raw)
    return f"{seg:04X}:{off:04X}"


def run(case, program, work):
    image = os.path.join(work, "disk.img")
    build(case, program, image, work)
    geometry = (case.geometry or HD) if case.media == "disk" else None
    with qemu_screen.Machine(image, media=case.media, geometry=geometry) as m:
        screen = m.wait_for(case.expect, timeout=20)
        if case.then == "restart":
            second = os.path.join(work, "second.img")
            build(Case(files=[File(IO, "head")]), program, second, work)
            m.change_floppy(second)
            m.send_key("ret")
            screen = m.wait_for(case.expect + [IO_MARK], timeout=20)
        elif case.then == "restore":
            # the vector the boot program found, as it keeps it at 0000:7BF8
            found = vector(m.memory(0x7BF8, 4))
            assert vector(m.memory(0x1E * 4, 4)) == "0000:0522"
            blank = os.path.join(work, "blank.img")
            with open(blank, "wb") as f:
                f.truncate(os.path.getsize(image))
            m.change_floppy(blank)  # the BIOS stops at it: nothing overwrites the vector
            m.send_key("ret")
            screen = m.wait_for(case.expect + ["not a bootable disk"], timeout=20)
            restored = vector(m.memory(0x1E * 4, 4))
            assert restored == found and found != "0000:0522", (found, restored)
            print(f"int 1Eh vector restored to {restored}")
        else:
            screen = m.settle(timeout=5, quiet=0.5)
    for text in case.absent:
        assert text not in screen, f"{text!r} on the screen:\n{screen}"
    assert qemu_screen.shows_in_order(screen, case.expect), screen
    print(screen)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--program")
    ap.add_argument("--case", choices=sorted(CASES))
    ap.add_argument("--keep", help="build the images in this directory and keep them")
    args = ap.parse_args()
    if args.list:
        print(";".join(CASES))
        return 0
    missing = [t for t in ("qemu-system-i386", "nasm", *fat_image.MTOOLS) if shutil.which(t) is None]
    if missing:
        print("SKIPPED: not installed: " + " ".join(missing))
        return qemu_screen.SKIP
    with open(args.program, "rb") as f:
        program = f.read()
    if args.keep:
        os.makedirs(args.keep, exist_ok=True)
        run(CASES[args.case], program, args.keep)
    else:
        with tempfile.TemporaryDirectory() as work:
            run(CASES[args.case], program, work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
