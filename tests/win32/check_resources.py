#!/usr/bin/env python3
"""Reads a built Clearnook.exe back, as a PE file, and checks what Windows will find in it: a
self-contained GUI program for its processor, the main dialog's template control by control, the
icons' sizes and colour depths, the version resource field by field, and the manifest.

    check_resources.py Clearnook.exe win32|win64
"""
import os, re, runpy, struct, sys

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def source_text(path):
    with open(os.path.join(SOURCE, path), encoding="utf-8") as f:
        return f.read()


def c_string(literals):
    """The value of adjacent C string literals, which hold no escapes but \\ and \"."""
    return "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', literals)).replace('\\"', '"').replace(
        "\\\\", "\\")


def resource_ids():
    return {m[0]: int(m[1]) for m in re.findall(r"^#define (\w+) (\d+)", source_text("res/resource.h"), re.M)}


def dialog_template(ids):
    """ui/dialog_template.h: caption, rectangle, the controls in tab order as (name, id, text,
    rectangle)."""
    text = re.sub(r"/\*.*?\*/|//[^\n]*", "", source_text("ui/dialog_template.h"), flags=re.S)
    caption = c_string(re.search(r"kCaption = ((?:\s*\"[^;]*\")+);", text)[1])
    rect = tuple(int(n) for n in re.search(r"kDialogRect = \{([^}]*)\}", text)[1].split(","))
    controls = {}
    for name, cid, literals, crect in re.findall(
            r"inline constexpr Control (k\w+) = \{\s*(-?\w+)\s*,\s*((?:\"[^\"]*\"\s*)+),\s*\{([^}]*)\}\s*\};",
            text):
        controls[name] = (int(cid) if re.fullmatch(r"-?\d+", cid) else ids[cid], c_string(literals),
                          tuple(int(n) for n in crect.split(",")))
    order = re.findall(r"&(k\w+)", re.search(r"kControls\[\] = \{([^}]*)\}", text)[1])
    return caption, rect, [(name,) + controls[name] for name in order]


def drawn_icons():
    """res/icons/draw-icons: the images of each icon it draws, by resource id, as (width, height,
    bits per pixel)."""
    drawn = runpy.run_path(os.path.join(SOURCE, "res", "icons", "draw-icons"))["ICONS"]
    return {ident: [(size, size, bits) for size, bits, _ in images]
            for ident, images in drawn.items()}


def category_icons(ids):
    """The category table of engine/categories.h: each category's key and icon resource id."""
    text = source_text("engine/categories.h")
    table = re.search(r"kCategoryTable\[\] = \{(.*?)\n\};", text, re.S)[1]
    rows = re.findall(r"\{\s*CAT_\w+,\s*\"(\w+)\",.*?,\s*(\d+)\s*\}", table, re.S)
    return [(key, ids["IDI_CATEGORY_BASE"] + int(position)) for key, position in rows]


# Window and control styles, as the Windows headers define them.
WS_POPUP, WS_CHILD, WS_VISIBLE, WS_DISABLED = 0x80000000, 0x40000000, 0x10000000, 0x08000000
WS_CAPTION, WS_BORDER, WS_VSCROLL, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00200000, 0x00080000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT, WS_EX_APPWINDOW = 0x80, 0x40, 0x00040000
SS_LEFT, BS_PUSHBUTTON, BS_GROUPBOX, CBS_DROPDOWNLIST = 0, 0, 7, 3
LVS_REPORT, LVS_SINGLESEL, LVS_NOCOLUMNHEADER = 0x1, 0x4, 0x4000
BUTTON, STATIC, COMBOBOX = 0x80, 0x82, 0x85  # predefined class atoms
CV = WS_CHILD | WS_VISIBLE

DIALOG_STYLE = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
# What only Windows gives meaning to, by the control's name in ui/dialog_template.h: its class
# and style. Ids, texts and rectangles come from that header.
WINDOWS_ONLY = {
    "kDriveLabel": (STATIC, CV | SS_LEFT | WS_GROUP),
    "kDrive": (COMBOBOX, CV | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP),
    "kScan": (BUTTON, CV | BS_PUSHBUTTON | WS_TABSTOP),
    "kStatus": (STATIC, CV | SS_LEFT | WS_GROUP),
    "kResults": ("SysListView32",
                 CV | LVS_REPORT | LVS_SINGLESEL | LVS_NOCOLUMNHEADER | WS_BORDER | WS_TABSTOP),
    "kDescriptionGroup": (BUTTON, CV | BS_GROUPBOX),
    "kDescription": (STATIC, CV | SS_LEFT | WS_GROUP),
    "kAbout": (BUTTON, CV | BS_PUSHBUTTON | WS_TABSTOP),
    "kDelete": (BUTTON, CV | BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED),
}
# The program's icon; each category's icon is as res/icons/draw-icons draws it.
MAIN_ICON = (128, [(32, 32, 8), (16, 16, 8)])
VERSION_STRINGS = [
    ("Comments", ""), ("CompanyName", ""), ("FileDescription", "Clearnook - Disk Cleanup Utility"),
    ("FileVersion", "2, 0, 0, 1"), ("InternalName", "Clearnook"),
    ("LegalCopyright", "Copyright (C) 2026 The Clearnook developers"), ("LegalTrademarks", ""),
    ("OriginalFilename", "Clearnook.EXE"), ("PrivateBuild", ""), ("ProductName", "Clearnook"),
    ("ProductVersion", "2, 0, 0, 1"), ("SpecialBuild", ""),
]
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll",
               "advapi32.dll", "shell32.dll"}
RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
        self.machine, nsections = struct.unpack_from("<HH", data, pe + 4)
        opt_size = struct.unpack_from("<H", data, pe + 20)[0]
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        dirs = opt + (96 if magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        self.sections = [struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8)
                         for i in range(nsections)]

    def offset(self, rva):
        for vsize, vaddr, rawsize, rawptr in self.sections:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rva - vaddr + rawptr
        raise ValueError("rva %x outside the sections" % rva)

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imports(self):
        rva = self.dirs[1][0]
        names = []
        while True:
            desc = struct.unpack_from("<5I", self.data, self.offset(rva))
            if desc[3] == 0:
                return names
            names.append(self.cstring(desc[3]))
            rva += 20

    def resources(self):
        base = self.offset(self.dirs[2][0])
        found = {}

        def walk(at, path):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                key = name if name & 0x80000000 == 0 else "named"
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), path + [key])
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    at2 = self.offset(rva)
                    found[tuple(path + [key])] = self.data[at2:at2 + size]

        walk(base, [])
        return found


def sz_or_ord(data, at):
    first = struct.unpack_from("<H", data, at)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def parse_dialog(data):
    ver, sig, _help, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data)
    at = 26
    menu, at = sz_or_ord(data, at)
    cls, at = sz_or_ord(data, at)
    title, at = sz_or_ord(data, at)
    points, weight, italic, charset = struct.unpack_from("<HHBB", data, at)
    face, at = sz_or_ord(data, at + 6)
    items = []
    for _ in range(count):
        at = (at + 3) & ~3
        _help, iex, istyle, ix, iy, icx, icy, iid = struct.unpack_from("<IIIhhhhi", data, at)
        icls, at = sz_or_ord(data, at + 24)
        itext, at = sz_or_ord(data, at)
        extra = struct.unpack_from("<H", data, at)[0]
        at += 2 + extra
        items.append((iid, icls, itext, (ix, iy, icx, icy), istyle, iex))
    return dict(ver=ver, sig=sig, exstyle=exstyle, style=style, rect=(x, y, cx, cy), menu=menu,
                cls=cls, title=title, font=(points, weight, italic, charset, face), items=items)


def parse_block(data, at):
    length, vlen, vtype = struct.unpack_from("<HHH", data, at)
    key, p = sz_or_ord(data, at + 6)
    p = (p + 3) & ~3
    vbytes = vlen * 2 if vtype == 1 else vlen
    value = data[p:p + vbytes]
    p = (p + vbytes + 3) & ~3
    children = []
    while p < at + length:
        child = parse_block(data, p)
        children.append(child)
        p = (p + child["length"] + 3) & ~3
    return dict(length=length, key=key, type=vtype, value=value, children=children)


class Checks:
    def __init__(self):
        self.passed = self.failed = 0

    def eq(self, what, got, want):
        if got == want:
            self.passed += 1
        else:
            self.failed += 1
            print("FAIL %s:\n  got  %r\n  want %r" % (what, got, want))


def main():
    exe, arch = sys.argv[1], sys.argv[2]
    pe = Pe(open(exe, "rb").read())
    c = Checks()
    c.eq("machine", pe.machine, 0x14C if arch == "win32" else 0x8664)
    c.eq("subsystem (GUI)", pe.subsystem, 2)
    c.eq("DLLs beyond Windows' own", sorted(n for n in pe.imports() if n.lower() not in SYSTEM_DLLS), [])

    res = pe.resources()
    c.eq("languages", sorted({k[2] for k in res}), [0x0409])

    dlg = parse_dialog(res[(RT_DIALOG, 102, 0x0409)])
    c.eq("dialog form (DIALOGEX)", (dlg["ver"], dlg["sig"]), (1, 0xFFFF))
    c.eq("dialog style", hex(dlg["style"]), hex(DIALOG_STYLE))
    c.eq("dialog extended style", hex(dlg["exstyle"]), hex(WS_EX_APPWINDOW))
    ids = resource_ids()
    caption, rect, controls = dialog_template(ids)
    c.eq("dialog rectangle", dlg["rect"], rect)
    c.eq("dialog menu and class", (dlg["menu"], dlg["cls"]), ("", ""))
    c.eq("dialog caption", dlg["title"], caption)
    c.eq("dialog font", dlg["font"], (8, 0, 0, 1, "MS Sans Serif"))
    c.eq("control count", len(dlg["items"]), len(controls))
    c.eq("controls with a class and style", sorted(n for n, *_ in controls), sorted(WINDOWS_ONLY))
    for got, (key, cid, ctext, crect) in zip(dlg["items"], controls):
        want = (cid, WINDOWS_ONLY[key][0], ctext, crect, WINDOWS_ONLY[key][1])
        name = "control %d %r" % (want[0], want[2])
        c.eq(name + " id", got[0], want[0])
        # The resource compiler writes a class given by name in capitals; Windows looks class
        # names up without regard to case, so only the letters are compared.
        c.eq(name + " class", got[1].lower() if isinstance(got[1], str) else got[1],
             want[1].lower() if isinstance(want[1], str) else want[1])
        c.eq(name + " text", got[2], want[2])
        c.eq(name + " rectangle", got[3], want[3])
        c.eq(name + " style", hex(got[4]), hex(want[4]))
        c.eq(name + " extended style", got[5], 0)

    categories = category_icons(ids)
    drawn = drawn_icons()
    c.eq("category icons that draw-icons draws",
         sorted(icon for _, icon in categories if icon in drawn),
         sorted(icon for _, icon in categories))
    icons = dict([MAIN_ICON] + [(icon, drawn.get(icon)) for _, icon in categories])
    c.eq("icon resources", sorted(k[1] for k in res if k[0] == RT_GROUP_ICON), sorted(icons))
    for icon, images in icons.items():
        if (RT_GROUP_ICON, icon, 0x0409) not in res:
            continue  # "icon resources" has failed
        group = res[(RT_GROUP_ICON, icon, 0x0409)]
        _, kind, count = struct.unpack_from("<HHH", group)
        c.eq("icon %d group" % icon, (kind, count), (1, len(images)))
        got = []
        for i in range(count):
            w, h, colours, _, planes, bits, size, image_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            header = res[(RT_ICON, image_id, 0x0409)]
            bw, bh, bplanes, bbits = struct.unpack_from("<iiHH", header, 4)
            c.eq("icon %d image %d header" % (icon, i), (bw, bh, bplanes, bbits), (w, 2 * h, 1, bits))
            c.eq("icon %d image %d colour count" % (icon, i), colours, 16 if bits == 4 else 0)
            got.append((w, h, bits))
        c.eq("icon %d images" % icon, got, images)

    info = parse_block(res[(RT_VERSION, 1, 0x0409)], 0)
    c.eq("version key", info["key"], "VS_VERSION_INFO")
    fixed = struct.unpack_from("<13I", info["value"])
    c.eq("fixed info signature", hex(fixed[0]), hex(0xFEEF04BD))
    c.eq("file version", fixed[2:4], (0x00010000, 0x00000001))
    c.eq("product version", fixed[4:6], (0x00010000, 0x00000001))
    c.eq("flags mask, flags, OS, type, subtype, date", fixed[6:13], (0x3F, 0, 4, 1, 0, 0, 0))
    c.eq("version blocks", [b["key"] for b in info["children"]], ["StringFileInfo", "VarFileInfo"])
    tables = info["children"][0]["children"]
    c.eq("string tables", [t["key"] for t in tables], ["040904b0"])
    strings = [(s["key"], s["value"].decode("utf-16-le").rstrip("\0")) for s in tables[0]["children"]]
    c.eq("version strings in order", strings, VERSION_STRINGS)
    var = info["children"][1]["children"]
    c.eq("translation", [(v["key"], struct.unpack("<HH", v["value"])) for v in var],
         [("Translation", (0x0409, 0x04B0))])

    manifests = [k for k in res if k[0] == RT_MANIFEST]
    c.eq("manifest resources", manifests, [(RT_MANIFEST, 1, 0x0409)])
    manifest = res[(RT_MANIFEST, 1, 0x0409)].decode("utf-8")
    processor = "X86" if arch == "win32" else "amd64"
    for needle in ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
                   'manifestVersion="1.0"', 'version="1.0.0.0" processorArchitecture="%s"' % processor,
                   'type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" '
                   'processorArchitecture="%s" publicKeyToken="6595b64144ccf1df" language="*"' % processor]:
        c.eq("manifest holds " + needle, needle in manifest, True)

    print("%d passed, %d failed" % (c.passed, c.failed))
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
