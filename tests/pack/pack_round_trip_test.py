#!/usr/bin/env python3
"""Round trips through kobrix-pack: payloads of every shape, packed with each method,
extracted by lhasa and 7zz from the archive behind the stub and by the runner from the
self-extracting file; every file and folder must come back byte for byte, with its
last-write time."""

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
from payload import compare_trees, write_file, write_payload  # noqa: E402
from report import report  # noqa: E402


def make_payload(top, rng):
    """The shared payload, with odd seconds too and repeats 30000 bytes back
    (inside the window of -lh6-), a name with blanks, one that makes a header
    of 256 bytes and an empty folder in an empty folder."""
    def stamp():
        return 1262322000 + rng.randrange(200000000)

    write_payload(top, rng, stamp, 30000)
    # Repetitive shapes, coded in units of 1 MiB: a run of one byte one unit and a byte
    # long, a repeated line and a repeated block whose matches run across units.
    unit = 1 << 20
    write_file(top, "zeros.bin", bytes(unit + 1), stamp())
    line = b"2026-12-07 kobrix-pack: a line of a log that repeats itself\r\n"
    write_file(top, "log.txt", (line * (unit // len(line) + 7))[:unit + 4321], stamp())
    block = bytes(rng.randrange(256) for _ in range(1024))
    write_file(top, "image.bin", block * 2100 + b"tail", stamp())
    write_file(top, "name with spaces.txt", b"spaces\r\n" * 10, stamp())
    write_file(top, "h" * 190, b"a name that makes a header of 256 bytes", stamp())
    os.makedirs(os.path.join(top, "deep", "empty_dir", "inner_empty"))


def archive_part(exe):
    with open(exe, "rb") as f:
        data = f.read()
    return data[sfx.archive_offset(data):]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pack", required=True)
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()
    lhasa, sevenzip = shutil.which("lhasa"), shutil.which("7zz")
    missing = [name for name, tool in (("lhasa", lhasa), ("7zz", sevenzip)) if tool is None]
    if missing:
        print(f"SKIP: {' and '.join(missing)} not installed (Debian lhasa, 7zip)")
        return 0
    problems, checks = [], 0
    with tempfile.TemporaryDirectory() as work:
        payload = os.path.join(work, "payload")
        os.makedirs(payload)
        make_payload(payload, random.Random(2024))
        stub = os.path.join(work, "stub.bin")
        with open(stub, "wb") as f:
            f.write(sfx.bare_stub())
        entries = sorted(os.listdir(payload))
        configs = [("lh5", []), ("lh6", []), ("lh7", []), ("lh0", []),
                   ("lh7-level1", ["--level", "1"]), ("lh7-level9", ["--level", "9"])]
        for method, options in configs:
            exe = os.path.join(work, f"{method}.exe")
            command = [args.pack, "-o", exe, "--stub", stub, "--method", method[:3]] + options
            result = subprocess.run(command + ["-C", payload] + entries, stderr=subprocess.PIPE)
            if result.returncode != 0:
                problems.append(f"{method}: kobrix-pack failed: {result.stderr.decode()}")
                continue
            # the same bytes on one thread and on four (after the first run, which may
            # have set the access times the headers carry)
            others = [os.path.join(work, f"{method}-{threads}.exe") for threads in ("1", "4")]
            for other, threads in zip(others, ("1", "4")):
                subprocess.run(command[:2] + [other] + command[3:] + ["--threads", threads, "-C",
                               payload] + entries, check=True)
            if not filecmp.cmp(others[0], others[1], shallow=False):
                problems.append(f"{method}: --threads 1 and --threads 4 wrote other bytes")
            for other in others:
                os.remove(other)
            checks += 1
            lzh = os.path.join(work, f"{method}.lzh")
            with open(lzh, "wb") as f:
                f.write(archive_part(exe))

            out = os.path.join(work, f"lhasa-{method}")
            os.makedirs(out)
            ran = subprocess.run([lhasa, f"xqw={out}", lzh], capture_output=True)
            if ran.returncode != 0:
                problems.append(f"{method} lhasa: exit {ran.returncode}: "
                                f"{ran.stderr.decode(errors='replace')[-300:]}")
            problems += compare_trees(payload, out, f"{method} lhasa", True)

            out = os.path.join(work, f"7zz-{method}")
            ran = subprocess.run([sevenzip, "x", f"-o{out}", "-y", lzh], capture_output=True)
            if ran.returncode != 0:
                problems.append(f"{method} 7zz: exit {ran.returncode}: "
                                f"{ran.stdout.decode(errors='replace')[-300:]}")
            os.makedirs(out, exist_ok=True)
            problems += compare_trees(payload, out, f"{method} 7zz", True)

            out = os.path.join(work, f"runner-{method}")
            ran = sfx.run_runner(args.runner, exe, ["-n", out], root=work)
            if ran.returncode != 1 or b"ERROR" in ran.stderr:
                problems.append(f"{method} runner: exit {ran.returncode}: "
                                f"{ran.stderr.decode(errors='replace')[-300:]}")
            else:
                problems += compare_trees(payload, out, f"{method} runner", True)
            checks += 3
            for d in ("lhasa", "7zz", "runner"):
                shutil.rmtree(os.path.join(work, f"{d}-{method}"), ignore_errors=True)
    return report(problems, checks)


if __name__ == "__main__":
    sys.exit(main())
