#!/usr/bin/env python3
"""Round trips through kobrix-pack: a payload of every shape, packed with each
method and level, extracted by lhasa and 7zz from the archive behind the stub
and by the runner from the self-extracting file; every file and folder must
come back byte for byte with its last-write time. The bytes written do not
depend on the number of threads."""

import argparse
import filecmp
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "lib"))
import sfx  # noqa: E402
from payload import compare_trees, write_payload  # noqa: E402


def make_payload(top, rng):
    """The shared payload with odd seconds and repeats 30000 bytes back (in
    the window of -lh6-), runs and repeats across the 1 MiB coding units, a
    name with blanks, one making a header of 256 bytes, nested empty folders."""
    def stamp():
        return 1262322000 + rng.randrange(200000000)

    write_payload(top, rng, stamp, 30000)
    line = b"2026-12-07 kobrix-pack: a line of a log that repeats itself\r\n"
    block = rng.randbytes(1024)
    for rel, data in [("zeros.bin", bytes((1 << 20) + 1)), ("log.txt", (line * 17000)[:(1 << 20) + 4321]),
                      ("image.bin", block * 2100 + b"tail"), ("name with spaces.txt", b"spaces\r\n" * 10),
                      ("h" * 190, b"a name that makes a header of 256 bytes")]:
        sfx.write_file(top, rel, data, stamp())
    os.makedirs(os.path.join(top, "deep", "empty_dir", "inner_empty"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pack", required=True)
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()
    missing = [t for t in ("lhasa", "7zz") if shutil.which(t) is None]
    if missing:
        print(f"SKIP: {' and '.join(missing)} not installed (Debian lhasa, 7zip)")
        return 0
    with tempfile.TemporaryDirectory() as work:
        payload = os.path.join(work, "payload")
        make_payload(payload, random.Random(2024))
        stub = sfx.write(os.path.join(work, "stub.bin"), sfx.bare_stub())
        entries = ["-C", payload] + sorted(os.listdir(payload))
        for label, options in [("lh5", []), ("lh6", []), ("lh7", []), ("lh0", []),
                               ("lh7-level1", ["--level", "1"]), ("lh7-level9", ["--level", "9"])]:
            def pack(out, *more):
                return subprocess.run([args.pack, "-o", os.path.join(work, out), "--stub", stub,
                                       "--method", label[:3], *options, *more, *entries],
                                      capture_output=True)
            r = pack(f"{label}.exe")
            if not sfx.check(f"{label} packed", r.returncode == 0, r.stderr.decode()):
                continue
            # After the first run, which may have set the access times the headers carry.
            pack("t1.exe", "--threads", "1"), pack("t4.exe", "--threads", "4")
            sfx.check(f"{label} threads", filecmp.cmp(os.path.join(work, "t1.exe"),
                                                      os.path.join(work, "t4.exe"), shallow=False),
                      "--threads 1 and --threads 4 wrote other bytes")
            exe = os.path.join(work, f"{label}.exe")
            data = sfx.read(exe)
            lzh = sfx.write(os.path.join(work, f"{label}.lzh"), data[sfx.archive_offset(data):])
            out = os.path.join(work, "out")
            for tool, argv in (("lhasa", ["lhasa", f"xqw={out}", lzh]),
                               ("7zz", ["7zz", "x", f"-o{out}", "-y", lzh]), ("runner", None)):
                os.makedirs(out)
                ran = sfx.run_runner(args.runner, exe, ["-n", out], root=work) if argv is None \
                    else subprocess.run(argv, capture_output=True)
                good = ran.returncode == (1 if argv is None else 0) and b"ERROR" not in ran.stderr
                problems = compare_trees(payload, out, f"{label} {tool}")
                sfx.check(f"{label} {tool}", good and not problems,
                          f"exit {ran.returncode} {(ran.stdout + ran.stderr)[-300:]!r} {problems[:5]}")
                shutil.rmtree(out)
    return sfx.report()


if __name__ == "__main__":
    sys.exit(main())
