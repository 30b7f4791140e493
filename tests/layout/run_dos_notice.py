#!/usr/bin/env python3
"""Runs the DOS part of a stub under dosbox: it must print its one-line
notice and end with exit code 1.

Usage: run_dos_notice.py STUB.exe     (exit code 77: skipped)
"""
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77

BATCH = "\r\n".join([
    "STUB.EXE > OUT.TXT",
    "IF ERRORLEVEL 2 GOTO HIGH",
    "IF ERRORLEVEL 1 GOTO ONE",
    "ECHO 0 > RC.TXT",
    "GOTO END",
    ":HIGH",
    "ECHO 2+ > RC.TXT",
    "GOTO END",
    ":ONE",
    "ECHO 1 > RC.TXT",
    ":END",
    "EXIT",
    "",
])


def main():
    stub = sys.argv[1]
    dosbox = shutil.which("dosbox")
    if not os.path.exists(stub) or dosbox is None:
        print("skipped: %s" % ("dosbox not found" if dosbox is None else stub + " was not built"))
        return SKIP
    with tempfile.TemporaryDirectory() as folder:
        shutil.copy(stub, os.path.join(folder, "STUB.EXE"))
        with open(os.path.join(folder, "RUN.BAT"), "w", newline="") as f:
            f.write(BATCH)
        env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy", HOME=folder)
        subprocess.run([dosbox, "-c", "mount c " + folder, "-c", "c:", "-c", "RUN.BAT"],
                       env=env, cwd=folder, capture_output=True, timeout=60)
        try:
            printed = open(os.path.join(folder, "OUT.TXT"), "rb").read().decode("ascii")
            status = open(os.path.join(folder, "RC.TXT"), "rb").read().decode("ascii").strip()
        except OSError as error:
            print("FAIL: dosbox left no result (%s)" % error)
            return 1
    print("notice %r, exit code %s" % (printed, status))
    ok = status == "1" and "32-bit Windows" in printed and printed.endswith("\r\n") \
        and printed.count("\n") == 1
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
