"""FAT12/FAT16 volume images for the boot tests.

mformat lays out an empty volume; our boot program then replaces its boot
code, and files are written straight into the FAT, the root directory and
the clusters, so that a test decides where a file's sectors lie.
"""

import shutil
import struct
import subprocess

SECTOR = 512
DIR_ENTRY = 32

# BPB fields: offset, struct format
FIELDS = {
    "BytsPerSec": (11, "<H"), "SecPerClus": (13, "<B"), "RsvdSecCnt": (14, "<H"),
    "NumFATs": (16, "<B"), "RootEntCnt": (17, "<H"), "TotSec16": (19, "<H"),
    "FATSz16": (22, "<H"), "SecPerTrk": (24, "<H"), "NumHeads": (26, "<H"),
    "HiddSec": (28, "<I"), "TotSec32": (32, "<I"), "DrvNum": (36, "<B"),
}

# mformat -f KB: sectors per track, heads, total sectors
FLOPPIES = {1440: (18, 2, 2880), 720: (9, 2, 1440)}

MTOOLS = ("mformat", "mcopy")


def mtools_missing():
    return [t for t in MTOOLS if shutil.which(t) is None]


class Volume:
    """A FAT volume inside an image file, starting at byte offset base."""

    def __init__(self, path, base=0):
        self.path, self.base = path, base
        with open(path, "rb") as f:
            f.seek(base)
            self.boot = bytearray(f.read(SECTOR))

    def get(self, field):
        off, fmt = FIELDS[field]
        return struct.unpack_from(fmt, self.boot, off)[0]

    def set(self, **fields):
        for name, value in fields.items():
            off, fmt = FIELDS[name]
            struct.pack_into(fmt, self.boot, off, value)
        self._write(0, self.boot)

    def install(self, program):
        """Our boot program over the boot code, with the sector's framing."""
        assert len(program) == 448
        self.boot[0:3] = b"\xEB\x3C\x90"
        self.boot[3:11] = b"MSDOS5.0"
        self.boot[62:510] = program
        self.boot[510:512] = b"\x55\xAA"
        self._write(0, self.boot)

    # layout, in sectors counted from the volume's first one
    @property
    def root_sector(self):
        return self.get("RsvdSecCnt") + self.get("NumFATs") * self.get("FATSz16")

    @property
    def data_sector(self):
        bps = self.get("BytsPerSec")
        return self.root_sector + (self.get("RootEntCnt") * DIR_ENTRY + bps - 1) // bps

    @property
    def total_sectors(self):
        return self.get("TotSec16") or self.get("TotSec32")

    @property
    def last_cluster(self):
        return 1 + (self.total_sectors - self.data_sector) // self.get("SecPerClus")

    @property
    def fat16(self):
        return self.last_cluster - 1 >= 4085

    def cluster_sector(self, cluster):
        return self.data_sector + (cluster - 2) * self.get("SecPerClus")

    def lba(self, sector):
        """A volume sector as the BIOS counts it: the hidden ones before."""
        return self.get("HiddSec") + sector

    def chs(self, sector):
        spt, heads = self.get("SecPerTrk"), self.get("NumHeads")
        track, s = divmod(self.lba(sector), spt)
        return track // heads, track % heads, s + 1

    def _write(self, sector, data):
        with open(self.path, "r+b") as f:
            f.seek(self.base + sector * SECTOR)
            f.write(data)

    def _read(self, sector, count=1):
        with open(self.path, "rb") as f:
            f.seek(self.base + sector * SECTOR)
            return bytearray(f.read(count * SECTOR))

    def _set_fat(self, cluster, value):
        fat_bytes = self.get("FATSz16") * SECTOR
        for n in range(self.get("NumFATs")):
            first = self.get("RsvdSecCnt") + n * self.get("FATSz16")
            fat = self._read(first, self.get("FATSz16"))
            if self.fat16:
                struct.pack_into("<H", fat, cluster * 2, value & 0xFFFF)
            else:
                off = cluster * 3 // 2
                old = struct.unpack_from("<H", fat, off)[0]
                if cluster & 1:
                    new = (old & 0x000F) | ((value & 0xFFF) << 4)
                else:
                    new = (old & 0xF000) | (value & 0xFFF)
                struct.pack_into("<H", fat, off, new)
            assert len(fat) == fat_bytes
            self._write(first, fat)

    def add_entry(self, name11, slot, first_cluster=0, size=0, attr=0x07):
        """Writes a root directory entry into slot (0 = the first)."""
        assert len(name11) == 11
        entry = struct.pack("<11sB10xHHHI", name11.encode("ascii"), attr,
                            0, 0x21, first_cluster, size)
        sector, off = divmod(slot * DIR_ENTRY, SECTOR)
        data = self._read(self.root_sector + sector)
        data[off:off + DIR_ENTRY] = entry
        self._write(self.root_sector + sector, data)

    def add_file(self, name11, data, first_cluster, slot):
        """A file in contiguous clusters from first_cluster, chained in the FAT."""
        per_cluster = self.get("SecPerClus") * SECTOR
        count = -(-len(data) // per_cluster)
        last = first_cluster + count - 1
        assert 2 <= first_cluster and last <= self.last_cluster, (first_cluster, last)
        for c in range(first_cluster, last + 1):
            self._set_fat(c, c + 1 if c < last else 0xFFFF)
        padded = data + bytes(count * per_cluster - len(data))
        self._write(self.cluster_sector(first_cluster), padded)
        self.add_entry(name11, slot, first_cluster, len(data))

    def read_back(self, dos_name):
        """The file's contents as mtools reads it: our layout is a valid FAT."""
        assert self.base == 0
        return subprocess.run(["mcopy", "-n", "-i", self.path, f"::{dos_name}", "-"],
                              check=True, capture_output=True).stdout


def make_volume(path, geometry, sec_per_clus, program, kb=None):
    """An empty mformat volume with our boot program; BPB checked and set.

    geometry is (cylinders, heads, sectors per track); kb names a standard
    diskette format of that geometry.
    """
    cyls, heads, spt = geometry
    shape = ["-f", str(kb)] if kb else ["-t", str(cyls), "-h", str(heads), "-n", str(spt)]
    subprocess.run(["mformat", "-i", path, "-C", *shape, "-c", str(sec_per_clus), "::"],
                   check=True, capture_output=True)
    vol = Volume(path)
    got = {f: vol.get(f) for f in ("BytsPerSec", "SecPerClus", "NumFATs")}
    assert got == {"BytsPerSec": 512, "SecPerClus": sec_per_clus, "NumFATs": 2}, got
    assert vol.total_sectors == cyls * heads * spt, vol.total_sectors
    vol.install(program)
    vol.set(SecPerTrk=spt, NumHeads=heads, HiddSec=0, DrvNum=0)
    return vol


def make_floppy(path, kb, sec_per_clus, program):
    spt, heads, total = FLOPPIES[kb]
    return make_volume(path, (total // (spt * heads), heads, spt), sec_per_clus, program, kb)


def pick_cluster(vol, sectors, where):
    """A first cluster for a file of this many sectors.

    "head": its sectors go on from head 0 to head 1 of a cylinder;
    "cylinder": from the last head of one cylinder to the next cylinder;
    "far": the last place on the volume it fits.
    """
    spc = vol.get("SecPerClus")
    clusters = -(-sectors // spc)
    spt, heads = vol.get("SecPerTrk"), vol.get("NumHeads")
    candidates = range(2, vol.last_cluster - clusters + 2)
    if where == "far":
        return candidates[-1]

    def fits(c):
        first, last = vol.chs(vol.cluster_sector(c)), vol.chs(vol.cluster_sector(c) + sectors - 1)
        if where == "head":
            return first[0] == last[0] and first[1] == 0 and last[1] == 1
        if where == "cylinder":
            return last[0] == first[0] + 1 and first[1] == heads - 1
        raise ValueError(where)

    for c in candidates:
        if c > 2 and fits(c):
            return c
    raise AssertionError(f"no cluster for {where} with {spt} sectors/track")


def partition_entry(status, kind, start, count):
    """A partition table entry; its CHS fields say "use the LBA"."""
    return struct.pack("<B3sB3sII", status, b"\xFE\xFF\xFF", kind, b"\xFE\xFF\xFF",
                       start, count)


def make_disk(path, volume_path, sectors, first_sector=None, entries=()):
    """A hard disk image of this many sectors holding the volume.

    With first_sector, first_sector[0x1BE:] gets the partition entries and
    goes at LBA 0; the volume goes where its HiddSec says.
    """
    with open(volume_path, "rb") as f:
        volume = f.read()
    start = Volume(volume_path).get("HiddSec")
    disk = bytearray(sectors * SECTOR)
    disk[start * SECTOR:start * SECTOR + len(volume)] = volume
    if first_sector is not None:
        assert start > 0
        mbr = bytearray(first_sector)
        table = b"".join(entries)
        mbr[0x1BE:0x1BE + len(table)] = table
        disk[0:SECTOR] = mbr
    with open(path, "wb") as f:
        f.write(disk)
