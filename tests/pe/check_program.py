#!/usr/bin/python3
"""Checks a built program file: a 32-bit GUI program for Windows 4.0 that
imports only the system's own DLLs and carries exactly its edition's
resources (main dialog 129, version block, icon group 107), all in Chinese
(PRC).

    check_program.py vellmark|ossiter PROGRAM.exe

Exit 0 when everything matches, 1 with a list of the differences, 77 when
pefile is missing.
"""
import struct
import sys

try:
    import pefile
except ImportError:
    print("SKIPPED: python3-pefile is not installed")
    sys.exit(77)

LANG_ZH_CN = 2052
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION = 3, 5, 14, 16

# Window, dialog and control styles, as the platform defines them.
WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_VSCROLL = 0x00C00000, 0x00800000, 0x00200000
WS_SYSMENU, WS_MINIMIZEBOX, WS_GROUP, WS_TABSTOP = 0x00080000, 0x00020000, 0x00020000, 0x00010000
DS_3DLOOK, DS_SETFONT, DS_MODALFRAME, DS_CENTER = 0x0004, 0x0040, 0x0080, 0x0800
LBS_NOTIFY, LBS_NOINTEGRALHEIGHT = 0x0001, 0x0100
BS_AUTOCHECKBOX, BS_DEFPUSHBUTTON, BS_GROUPBOX, BS_AUTORADIOBUTTON = 0x3, 0x1, 0x7, 0x9
BS_CENTER, BS_VCENTER = 0x0300, 0x0C00
SS_LEFT, SS_CENTER, SS_NOTIFY, SS_CENTERIMAGE = 0x0000, 0x0001, 0x0100, 0x0200
ES_UPPERCASE, ES_AUTOHSCROLL, ES_NUMBER = 0x0008, 0x0080, 0x2000
CBS_DROPDOWN, CBS_SORT, CBS_UPPERCASE = 0x0002, 0x0100, 0x2000
WS_EX_CLIENTEDGE, WS_EX_RTLREADING = 0x0200, 0x2000

DIALOG_STYLE = (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME
                | DS_SETFONT | DS_3DLOOK | DS_CENTER)

# The main dialog's controls in template order:
# (id, class, text, Vellmark x y w h, Ossiter x y w h or None, styles, extended styles, shown)
SAME = "same"
CONTROLS = [
    (1004, "LISTBOX", "", (11, 20, 132, 34), SAME,
     LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER, 0, True),
    (1002, "BUTTON", "开始格式化", (12, 84, 132, 15), (12, 59, 132, 15),
     BS_DEFPUSHBUTTON | BS_CENTER | BS_VCENTER | WS_TABSTOP, 0, True),
    (1009, "STATIC", "状态提示", (12, 104, 132, 15), (12, 78, 132, 15),
     SS_CENTER | SS_NOTIFY | SS_CENTERIMAGE | WS_GROUP, WS_EX_CLIENTEDGE | WS_EX_RTLREADING, True),
    (-1, "BUTTON", "格式化选项", (12, 89, 132, 25), (12, 46, 132, 25), BS_GROUPBOX, 0, False),
    (-1, "STATIC", "选择可移动盘:", (11, 10, 52, 8), SAME, SS_LEFT | WS_GROUP, 0, True),
    (-1, "BUTTON", "", (7, 2, 140, 122), (7, 3, 142, 95), BS_GROUPBOX, 0, True),
    (1003, "EDIT", "", (71, 84, 68, 12), (71, 57, 68, 12),
     ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 0, False),
    (-1, "STATIC", "磁盘卷标名:", (25, 86, 44, 8), (25, 59, 44, 8), SS_LEFT | WS_GROUP, 0, False),
    (1007, "BUTTON", "将数据区置为(16进制):", (18, 86, 89, 8), (18, 59, 89, 8),
     BS_AUTOCHECKBOX | WS_TABSTOP, 0, False),
    (1012, "STATIC", "存储文件数(<=512):", (16, 86, 67, 8), (16, 59, 67, 8),
     SS_LEFT | WS_GROUP, 0, False),
    (1010, "EDIT", "", (85, 84, 52, 12), (85, 57, 52, 12), ES_NUMBER | WS_BORDER | WS_TABSTOP, 0, False),
    (1013, "STATIC", "分配单元大小:", (18, 85, 52, 8), (18, 58, 52, 8), SS_LEFT | WS_GROUP, 0, False),
    (1017, "COMBOBOX", "", (72, 83, 68, 93), (72, 56, 68, 93),
     CBS_DROPDOWN | CBS_UPPERCASE | WS_VSCROLL | WS_TABSTOP, 0, False),
    (1019, "STATIC", "FAT表数:", (35, 84, 32, 8), (35, 57, 32, 8), SS_LEFT | WS_GROUP, 0, False),
    (1021, "COMBOBOX", "", (69, 82, 68, 40), (69, 55, 68, 40),
     CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 0, False),
    (1022, "EDIT", "", (112, 84, 27, 12), (112, 57, 27, 12),
     ES_UPPERCASE | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 0, False),
    (-1, "STATIC", "指定盘大小:", (25, 86, 44, 8), (25, 59, 44, 8), SS_LEFT | WS_GROUP, 0, False),
    (1027, "COMBOBOX", "", (71, 84, 68, 30), (71, 57, 68, 30),
     CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 0, False),
    (1032, "BUTTON", "720K", (16, 67, 28, 8), None, BS_AUTORADIOBUTTON | WS_GROUP, 0, True),
    (1033, "BUTTON", "1.44M", (60, 67, 33, 8), None, BS_AUTORADIOBUTTON, 0, True),
    (-1, "BUTTON", "选择软盘格式:", (11, 56, 132, 23), None, BS_GROUPBOX, 0, True),
]

EDITIONS = {
    "vellmark": {
        "caption": "Vellmark V1.1", "size": (154, 131), "version": (1, 1, 0, 0),
        "name": "Vellmark", "version_text": "1, 1, 0, 0",
    },
    "ossiter": {
        "caption": "Ossiter v1.0", "size": (157, 102), "version": (1, 0, 0, 0),
        "name": "Ossiter", "version_text": "1, 0, 0, 0",
    },
}

CLASS_ORDINALS = {0x80: "BUTTON", 0x81: "EDIT", 0x82: "STATIC", 0x83: "LISTBOX",
                  0x84: "SCROLLBAR", 0x85: "COMBOBOX"}


def expected_controls(edition):
    rows = []
    for cid, cls, text, vpos, opos, style, ex, shown in CONTROLS:
        if edition == "vellmark":
            pos = vpos
        elif opos is None:
            continue
        else:
            pos = vpos if opos == SAME else opos
        rows.append({"id": cid, "class": cls, "text": text, "pos": pos,
                     "style": WS_CHILD | style | (WS_VISIBLE if shown else 0), "exstyle": ex})
    return rows


class Reader:
    """Reads the little-endian fields of a resource in order."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self, n):
        self.at = (self.at + n - 1) // n * n

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        s = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return s

    def name_or_ordinal(self):
        """A string, an ordinal (int) or None for an empty field."""
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0xFFFF:
            self.at += 2
            return self.take("H")
        if first == 0:
            self.at += 2
            return None
        return self.text()


def decode_dialog(data):
    """Decodes an extended dialog template."""
    r = Reader(data)
    d = {}
    d["version"], d["signature"] = r.take("HH")
    d["helpid"], d["exstyle"], d["style"] = r.take("III")
    count = r.take("H")
    d["pos"] = r.take("hhhh")
    d["menu"] = r.name_or_ordinal()
    d["class"] = r.name_or_ordinal()
    d["caption"] = r.name_or_ordinal() or ""
    if d["style"] & DS_SETFONT:
        d["font_size"], d["font_weight"], d["font_italic"], d["font_charset"] = r.take("HHBB")
        d["font"] = r.text()
    d["controls"] = []
    for _ in range(count):
        r.align(4)
        c = {}
        c["helpid"], c["exstyle"], c["style"] = r.take("III")
        c["pos"] = r.take("hhhh")
        c["id"] = r.take("i")
        cls = r.name_or_ordinal()
        c["class"] = CLASS_ORDINALS.get(cls, cls) if isinstance(cls, int) else (cls or "").upper()
        title = r.name_or_ordinal()
        c["text"] = title if isinstance(title, str) else ("" if title is None else title)
        extra = r.take("H")
        r.at += extra
        c["extra"] = extra
        d["controls"].append(c)
    d["trailing"] = len(data) - r.at
    return d


class Check:
    def __init__(self):
        self.failures, self.passed = [], 0

    def equal(self, what, actual, expected):
        if actual == expected:
            self.passed += 1
        else:
            self.failures.append(f"{what}: {actual!r}, expected {expected!r}")


def resources(pe):
    """{(type, name, language): bytes} for every resource."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in rtype.directory.entries:
            for lang in name.directory.entries:
                key_name = name.id if name.name is None else str(name.name)
                rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                found[(rtype.id, key_name, lang.id)] = pe.get_data(rva, size)
    return found


def check_headers(pe, check):
    check.equal("machine", hex(pe.FILE_HEADER.Machine), hex(0x14C))
    check.equal("optional header", hex(pe.OPTIONAL_HEADER.Magic), hex(0x10B))
    check.equal("subsystem", pe.OPTIONAL_HEADER.Subsystem, 2)
    check.equal("subsystem version",
                (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion),
                (4, 0))
    check.equal("operating system version",
                (pe.OPTIONAL_HEADER.MajorOperatingSystemVersion,
                 pe.OPTIONAL_HEADER.MinorOperatingSystemVersion), (4, 0))
    dlls = sorted(e.dll.decode().upper() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    check.equal("imported DLLs", dlls, ["KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"])
    check.equal("delay-loaded DLLs",
                [e.dll for e in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])], [])


def check_dialog(data, edition, check):
    ed = EDITIONS[edition]
    d = decode_dialog(data)
    check.equal("dialog template version", (d["version"], d["signature"]), (1, 0xFFFF))
    check.equal("dialog style", hex(d["style"]), hex(DIALOG_STYLE))
    check.equal("dialog extended style", d["exstyle"], 0)
    check.equal("dialog help id", d["helpid"], 0)
    check.equal("dialog position and size", d["pos"], (0, 0) + ed["size"])
    check.equal("dialog menu", d["menu"], None)
    check.equal("dialog class", d["class"], None)
    check.equal("dialog caption", d["caption"], ed["caption"])
    check.equal("dialog font",
                (d.get("font"), d.get("font_size"), d.get("font_weight"), d.get("font_italic"),
                 d.get("font_charset")),
                ("System", 12, 0, 0, 1))
    expected = expected_controls(edition)
    check.equal("control count", len(d["controls"]), len(expected))
    for n, (got, want) in enumerate(zip(d["controls"], expected), 1):
        where = f"control {n} (id {want['id']}, {want['class']} {want['text']!r})"
        check.equal(f"{where} id", got["id"], want["id"])
        check.equal(f"{where} class", got["class"], want["class"])
        check.equal(f"{where} text", got["text"], want["text"])
        check.equal(f"{where} position", got["pos"], want["pos"])
        check.equal(f"{where} style", hex(got["style"]), hex(want["style"]))
        check.equal(f"{where} visible", bool(got["style"] & WS_VISIBLE),
                    bool(want["style"] & WS_VISIBLE))
        check.equal(f"{where} extended style", hex(got["exstyle"]), hex(want["exstyle"]))
        check.equal(f"{where} help id and extra data", (got["helpid"], got["extra"]), (0, 0))
    check.equal("bytes after the last control", d["trailing"] <= 3, True)


def check_version(pe, edition, check):
    ed = EDITIONS[edition]
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    if fixed is None:
        check.equal("version block", None, "present")
        return

    def four(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    check.equal("file version", four(fixed.FileVersionMS, fixed.FileVersionLS), ed["version"])
    check.equal("product version", four(fixed.ProductVersionMS, fixed.ProductVersionLS),
                ed["version"])
    check.equal("file flags mask", hex(fixed.FileFlagsMask), hex(0x3F))
    check.equal("file flags", fixed.FileFlags, 0)
    check.equal("file OS", hex(fixed.FileOS), hex(0x40004))
    check.equal("file type and subtype", (fixed.FileType, fixed.FileSubtype), (1, 0))
    tables, translations = {}, []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                tables[table.LangID.decode()] = {
                    k.decode("utf-8"): v.decode("utf-8") for k, v in table.entries.items()}
        elif info.Key == b"VarFileInfo":
            for var in info.Var:
                translations.extend(var.entry.items())
    check.equal("string tables", sorted(tables), ["080404b0"])
    check.equal("version strings", tables.get("080404b0"), {
        "Comments": "", "CompanyName": "", "FileDescription": ed["name"],
        "FileVersion": ed["version_text"], "InternalName": ed["name"], "LegalTrademarks": "",
        "OriginalFilename": ed["name"] + ".exe", "PrivateBuild": "",
        "ProductName": ed["name"], "ProductVersion": ed["version_text"], "SpecialBuild": "",
    })
    check.equal("translation", [(k.decode(), v) for k, v in translations],
                [("Translation", "0x0804 0x04b0")])


def check_icons(found, check):
    group = found.get((RT_GROUP_ICON, 107, LANG_ZH_CN))
    if group is None:
        check.equal("icon group 107", None, "present")
        return set()
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    check.equal("icon group header", (reserved, kind, count), (0, 1, 2))
    images, ids = [], set()
    for i in range(count):
        w, h, colours, _, planes, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", group, 6 + 14 * i)
        ids.add(icon_id)
        image = found.get((RT_ICON, icon_id, LANG_ZH_CN), b"")
        header = struct.unpack_from("<IiiHH", image, 0) if len(image) >= 16 else None
        check.equal(f"icon {icon_id} size in the group", len(image), size)
        if header is None:
            check.equal(f"icon {icon_id}", None, "present")
            continue
        # The bitmap height counts the colour rows and the mask rows.
        images.append(((w, h), (header[1], header[2] // 2), colours, bits, header[4], planes))
    check.equal("icon images", sorted(images, reverse=True), [
        ((32, 32), (32, 32), 16, 4, 4, 1),
        ((16, 16), (16, 16), 16, 4, 4, 1),
    ])
    return ids


def main(argv):
    if len(argv) != 3 or argv[1] not in EDITIONS:
        print(__doc__)
        return 2
    edition, path = argv[1], argv[2]
    pe = pefile.PE(path)
    check = Check()
    check_headers(pe, check)
    found = resources(pe)
    dialog = found.get((RT_DIALOG, 129, LANG_ZH_CN))
    if dialog is None:
        check.equal("dialog 129 in language 2052", None, "present")
    else:
        check_dialog(dialog, edition, check)
    check_version(pe, edition, check)
    icon_ids = check_icons(found, check)
    wanted = {(RT_DIALOG, 129, LANG_ZH_CN), (RT_VERSION, 1, LANG_ZH_CN),
              (RT_GROUP_ICON, 107, LANG_ZH_CN)} | {(RT_ICON, i, LANG_ZH_CN) for i in icon_ids}
    check.equal("resources", sorted(found, key=str), sorted(wanted, key=str))
    for failure in check.failures:
        print("FAIL", failure)
    print(f"{path}: {check.passed} checks passed, {len(check.failures)} failed")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
