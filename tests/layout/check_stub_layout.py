#!/usr/bin/env python3
"""Static checks of a Windows stub: the DOS layout that the self-extracting
file relies on, what the DOS code does, the PE headers as objdump reads them
(subsystem, relocations, imported DLLs), the dialog templates and
the icon.

Usage: check_stub_layout.py STUB.exe            the layout checks
       check_stub_layout.py STUB.exe --max-size BYTES   the size alone
Exit code 77 (skipped) when the stub or objdump is missing.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys

SKIP = 77

WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x10000000, 0x00C00000, 0x00080000
DS_SETFONT, DS_MODALFRAME = 0x40, 0x80
CLASSES = {0x80: "button", 0x81: "edit", 0x82: "static", 0x83: "listbox", 0x85: "combobox"}
DIALOG_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME

# The controls the code reaches by id: (id, class, shown). The directory
# chooser's ids are the ones the common dialog looks for; its file-name
# controls are there but hidden.
SFX_DIALOG = [(103, "static", True), (100, "edit", True), (104, "button", True),
              (101, "static", True), (102, "static", True), (1, "button", True),
              (2, "button", True), (105, "button", True), (106, "button", True)]
GET_DIR_DIALOG = [(0xFFFF, "static", True), (1088, "static", True), (1121, "listbox", True),
                  (1091, "static", True), (1137, "combobox", True), (1, "button", True),
                  (2, "button", True), (1038, "button", True), (1090, "static", False),
                  (1152, "edit", False), (1120, "listbox", False), (1089, "static", False),
                  (1136, "combobox", False), (1040, "button", False)]

# Win32s offers these DLLs and no others.
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comdlg32.dll", "advapi32.dll", "shell32.dll"}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


class Pe:
    def __init__(self, data):
        self.data = data
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.machine, self.nsections = struct.unpack_from("<HH", data, self.pe + 4)
        optional_size = struct.unpack_from("<H", data, self.pe + 20)[0]
        self.opt = self.pe + 24
        self.magic = struct.unpack_from("<H", data, self.opt)[0]
        directories = self.opt + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        table = self.opt + optional_size
        self.sections = []
        for i in range(self.nsections):
            name, vsize, va, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vsize, va, rsize, raw))
        self.size_of_headers = struct.unpack_from("<I", data, self.opt + 60)[0]

    def offset(self, rva):
        for _, vsize, va, rsize, raw in self.sections:
            if va <= rva < va + max(vsize, rsize):
                return raw + rva - va
        raise ValueError("rva %#x outside the sections" % rva)

    def resources(self):
        """{(type, name): bytes} of the first language of each resource."""
        base_rva = self.directories[2][0]
        base = self.offset(base_rva)

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if key & 0x80000000:
                    o = base + (key & 0x7FFFFFFF)
                    n = struct.unpack_from("<H", self.data, o)[0]
                    key = self.data[o + 2:o + 2 + 2 * n].decode("utf-16-le")
                yield key, target

        found = {}
        for rtype, t in entries(base):
            for name, n in entries(base + (t & 0x7FFFFFFF)):
                _, leaf = next(entries(base + (n & 0x7FFFFFFF)))
                rva, size = struct.unpack_from("<II", self.data, base + leaf)
                o = self.offset(rva)
                found[(rtype, name)] = self.data[o:o + size]
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
    """Returns (style, [(id, class, shown)], names a font)."""
    extended = struct.unpack_from("<HH", data, 0) == (1, 0xFFFF)
    if extended:
        style, count = struct.unpack_from("<IH", data, 12)
        at = 26
    else:
        style, count = struct.unpack_from("<I4xH", data, 0)
        at = 18
    for _ in range(3):  # menu, class, caption
        _, at = sz_or_ord(data, at)
    items = []
    for _ in range(count):
        at = (at + 3) & ~3
        if extended:
            istyle, iid = struct.unpack_from("<8xI8xI", data, at)
            at += 24
        else:
            istyle, iid = struct.unpack_from("<I12xH", data, at)
            at += 18
        cls, at = sz_or_ord(data, at)
        _, at = sz_or_ord(data, at)  # text
        at += 2 + struct.unpack_from("<H", data, at)[0]
        cls = CLASSES.get(cls, cls) if isinstance(cls, int) else cls.lower()
        items.append((iid & 0xFFFF, cls, bool(istyle & WS_VISIBLE)))
    return style, items, bool(style & DS_SETFONT)


def check_dialog(resources, name, expected):
    data = resources.get((5, name))
    if not check(data is not None, "dialog %s is missing" % name):
        return
    style, items, font = parse_dialog(data)
    check(style & DIALOG_STYLE == DIALOG_STYLE and not font, "%s: style %#x" % (name, style))
    check(items == expected, "%s: controls %s, not %s" % (name, items, expected))


def check_icon(resources):
    groups = [data for (rtype, _), data in resources.items() if rtype == 14]
    if not check(len(groups) == 1, "one icon group expected"):
        return
    icon_ids = {name for (rtype, name) in resources if rtype == 3}
    group = groups[0]
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    sizes = set()
    for i in range(count):
        w, h, colours, _, planes, bits, size, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        image = resources.get((3, ident))
        if not check(image is not None, "icon image %d is missing" % ident):
            continue
        header = struct.unpack_from("<IiiHH", image, 0)
        check(header == (40, w, 2 * h, 1, 4), "icon image %d: header %s" % (ident, header))
        check(colours == 16 and bits == 4, "icon %dx%d is not of 16 colours" % (w, h))
        sizes.add((w, h))
    check(sizes == {(32, 32), (16, 16)}, "icon sizes %s" % sizes)
    check(len(icon_ids) == count, "icon images %s" % icon_ids)
    check((14, 1) in resources, "the icon group is not IDI_ICON1 (1)")


def check_dos(data):
    """The DOS header and the room for the settings record; what the DOS code
    prints is run_dos_notice.py's under dosbox."""
    magic, last, pages, relocs, paragraphs, min_extra = struct.unpack_from("<2sHHHHH", data, 0)
    ss, sp, _, ip, cs, reloc_table = struct.unpack_from("<HHHHHH", data, 0x0E)
    check(magic == b"MZ", "no MZ signature")
    check(paragraphs == 32, "DOS header declares %d paragraphs" % paragraphs)
    check(reloc_table == 0x40 and relocs == 0, "DOS relocation table at %#x" % reloc_table)
    check(not any(data[512:1120]), "bytes 512 to 1119 are not zero")
    check(512 + cs * 16 + ip == 1120, "DOS code starts at %d" % (512 + cs * 16 + ip))
    dos_end = pages * 512 - (512 - last if last else 0)
    check(1120 < dos_end <= len(data), "DOS image ends at %d" % dos_end)
    image_size = dos_end - 512
    check(image_size < ss * 16 + sp <= image_size + min_extra * 16, "DOS stack at %#x" % (ss * 16 + sp))
    e_lfanew = struct.unpack_from("<I", data, 0x3C)[0]
    check(e_lfanew >= dos_end and e_lfanew % 8 == 0, "PE header at %d" % e_lfanew)
    check(data[e_lfanew:e_lfanew + 4] == b"PE\0\0", "no PE signature")


def check_objdump(path):
    objdump = shutil.which("objdump") or shutil.which("x86_64-w64-mingw32-objdump")
    if objdump is None:
        print("skipped: objdump not found")
        sys.exit(SKIP)
    text = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
    field = lambda name: re.search(r"^%s\s+(\S+)" % name, text, re.M).group(1)
    check(field("Subsystem") == "00000002", "subsystem %s, not Windows GUI" % field("Subsystem"))
    check(field("MajorSubsystemVersion") == "3" and field("MinorSubsystemVersion") == "10",
          "subsystem version %s.%s" % (field("MajorSubsystemVersion"), field("MinorSubsystemVersion")))
    check("relocations stripped" not in text, "relocations stripped")
    reloc = re.search(r"Entry 5 (\w+) (\w+) Base Relocation Directory", text)
    check(reloc is not None and int(reloc.group(2), 16) > 0, "no base relocations")
    check("symbols stripped" in text or "debugging information removed" in text, "not stripped")
    dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", text)}
    check(dlls <= ALLOWED_DLLS, "imports from %s" % sorted(dlls - ALLOWED_DLLS))
    check(not re.search(r"Entry 9 [0-9a-f]*[1-9a-f][0-9a-f]* ", text), "has a TLS directory")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("stub")
    parser.add_argument("--max-size", type=int)
    args = parser.parse_args()
    if not os.path.exists(args.stub):
        print("skipped: %s was not built (mingw-w64 missing?)" % args.stub)
        return SKIP
    data = open(args.stub, "rb").read()
    print("%s: %d bytes" % (os.path.basename(args.stub), len(data)))
    if args.max_size is not None:
        if len(data) > args.max_size:
            print("FAIL: %d bytes, more than %d" % (len(data), args.max_size))
            return 1
        return 0

    check_dos(data)
    pe = Pe(data)
    first = min(va for _, _, va, _, _ in pe.sections)
    check(pe.size_of_headers <= first, "headers run into the first section")
    for name, _, _, rsize, raw in pe.sections:
        check(raw + rsize <= len(data), "section %s runs past the file" % name)
    check_objdump(args.stub)

    resources = pe.resources()
    check_dialog(resources, "SFXDIALOG", SFX_DIALOG)
    check_dialog(resources, "GETDIRDIALOG", GET_DIR_DIALOG)
    check_icon(resources)

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
