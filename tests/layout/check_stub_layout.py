#!/usr/bin/env python3
"""Checks of a Windows stub: the DOS layout the self-extracting file relies
on, the PE headers as objdump reads them (subsystem 3.10, relocations kept,
no TLS, only the DLLs Win32s offers); with --max-size its size; with --dos,
its DOS part under dosbox prints its one-line notice and ends with exit code
1. Exit code 77 (skipped) when the stub, objdump or dosbox is missing."""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

SKIP = 77
# ERRORLEVEL n is true for n and above: the highest first.
BATCH = ("STUB.EXE > OUT.TXT\r\nIF ERRORLEVEL 2 GOTO HIGH\r\nIF ERRORLEVEL 1 GOTO ONE\r\nECHO 0 > RC.TXT\r\n"
         "GOTO END\r\n:HIGH\r\nECHO 2+ > RC.TXT\r\nGOTO END\r\n:ONE\r\nECHO 1 > RC.TXT\r\n:END\r\nEXIT\r\n")
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comdlg32.dll", "advapi32.dll", "shell32.dll"}


def layout_faults(data, objdump_text):
    magic, last, pages, relocs, paragraphs, min_extra = struct.unpack_from("<2sHHHHH", data, 0)
    ss, sp, _, ip, cs, reloc_table = struct.unpack_from("<HHHHHH", data, 0x0E)
    dos_end = pages * 512 - (512 - last if last else 0)
    e_lfanew = struct.unpack_from("<I", data, 0x3C)[0]
    field = lambda name: re.search(r"^%s\s+(\S+)" % name, objdump_text, re.M).group(1)
    reloc = re.search(r"Entry 5 (\w+) (\w+) Base Relocation Directory", objdump_text)
    dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", objdump_text)}
    checks = [
        (magic == b"MZ" and paragraphs == 32, "DOS header: %r, %d paragraphs" % (magic, paragraphs)),
        (reloc_table == 0x40 and relocs == 0, "DOS relocation table at %#x" % reloc_table),
        (not any(data[512:1120]), "the settings area, bytes 512 to 1119, is not zero"),
        (512 + cs * 16 + ip == 1120, "DOS code starts at %d" % (512 + cs * 16 + ip)),
        (1120 < dos_end <= len(data), "DOS image ends at %d" % dos_end),
        (dos_end - 512 < ss * 16 + sp <= dos_end - 512 + min_extra * 16, "DOS stack at %#x" % (ss * 16 + sp)),
        (e_lfanew >= dos_end and e_lfanew % 8 == 0 and data[e_lfanew:e_lfanew + 4] == b"PE\0\0",
         "PE header at %d" % e_lfanew),
        (field("Subsystem") == "00000002", "subsystem %s, not Windows GUI" % field("Subsystem")),
        ((field("MajorSubsystemVersion"), field("MinorSubsystemVersion")) == ("3", "10"), "subsystem version"),
        (reloc is not None and int(reloc.group(2), 16) > 0 and "relocations stripped" not in objdump_text,
         "no base relocations"),
        ("symbols stripped" in objdump_text or "debugging information removed" in objdump_text, "not stripped"),
        (dlls <= ALLOWED_DLLS, "imports from %s" % sorted(dlls - ALLOWED_DLLS)),
        (not re.search(r"Entry 9 [0-9a-f]*[1-9a-f][0-9a-f]* ", objdump_text), "has a TLS directory"),
    ]
    return [what for ok, what in checks if not ok]


def dos_faults(stub, dosbox):
    with tempfile.TemporaryDirectory() as folder:
        shutil.copy(stub, os.path.join(folder, "STUB.EXE"))
        with open(os.path.join(folder, "RUN.BAT"), "w", newline="") as f:
            f.write(BATCH)
        env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy", HOME=folder)
        subprocess.run([dosbox, "-c", "mount c " + folder, "-c", "c:", "-c", "RUN.BAT"], env=env, cwd=folder,
                       capture_output=True, timeout=60)
        try:
            printed, status = (open(os.path.join(folder, n), "rb").read().decode("ascii")
                               for n in ("OUT.TXT", "RC.TXT"))
        except OSError as error:
            return ["dosbox left no result (%s)" % error]
    print("notice %r, exit code %s" % (printed, status.strip()))
    ok = status.strip() == "1" and "32-bit Windows" in printed and printed.endswith("\r\n") and \
        printed.count("\n") == 1
    return [] if ok else ["the DOS part printed %r, exit code %s" % (printed, status.strip())]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("stub")
    parser.add_argument("--max-size", type=int)
    parser.add_argument("--dos", action="store_true")
    args = parser.parse_args()
    tool = shutil.which("dosbox") if args.dos else \
        shutil.which("objdump") or shutil.which("x86_64-w64-mingw32-objdump")
    if not os.path.exists(args.stub) or tool is None:
        print("skipped: %s" % (args.stub + " was not built" if tool else "dosbox or objdump not found"))
        return SKIP
    data = open(args.stub, "rb").read()
    print("%s: %d bytes" % (os.path.basename(args.stub), len(data)))
    if args.dos:
        faults = dos_faults(args.stub, tool)
    elif args.max_size is not None:
        faults = ["%d bytes, more than %d" % (len(data), args.max_size)] if len(data) > args.max_size else []
    else:
        faults = layout_faults(data, subprocess.run([tool, "-p", args.stub], capture_output=True,
                                                    text=True, check=True).stdout)
    for fault in faults:
        print("FAIL:", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
