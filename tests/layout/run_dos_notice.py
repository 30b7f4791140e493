#!/usr/bin/env python3
"""Runs the DOS part of a stub under dosbox: it prints its one-line notice
and ends with exit code 1.

Usage: run_dos_notice.py STUB.exe     (exit code 77: skipped)"""
import os
import shutil
import subprocess
import sys
import tempfile

# ERRORLEVEL n is true for n and above: the highest first.
BATCH = ("STUB.EXE > OUT.TXT\r\nIF ERRORLEVEL 2 GOTO HIGH\r\nIF ERRORLEVEL 1 GOTO ONE\r\nECHO 0 > RC.TXT\r\n"
         "GOTO END\r\n:HIGH\r\nECHO 2+ > RC.TXT\r\nGOTO END\r\n:ONE\r\nECHO 1 > RC.TXT\r\n:END\r\nEXIT\r\n")


def main():
    stub, dosbox = sys.argv[1], shutil.which("dosbox")
    if not os.path.exists(stub) or dosbox is None:
        print("skipped: %s" % ("dosbox not found" if dosbox is None else stub + " was not built"))
        return 77
    with tempfile.TemporaryDirectory() as folder:
        shutil.copy(stub, os.path.join(folder, "STUB.EXE"))
        with open(os.path.join(folder, "RUN.BAT"), "w", newline="") as f:
            f.write(BATCH)
        env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy", HOME=folder)
        subprocess.run([dosbox, "-c", "mount c " + folder, "-c", "c:", "-c", "RUN.BAT"],
                       env=env, cwd=folder, capture_output=True, timeout=60)
        try:
            printed, status = (open(os.path.join(folder, n), "rb").read().decode("ascii") for n in ("OUT.TXT", "RC.TXT"))
        except OSError as error:
            print("FAIL: dosbox left no result (%s)" % error)
            return 1
    print("notice %r, exit code %s" % (printed, status.strip()))
    ok = status.strip() == "1" and "32-bit Windows" in printed and printed.endswith("\r\n") and printed.count("\n") == 1
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
