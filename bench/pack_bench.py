#!/usr/bin/env python3
"""Packs a mixed payload (text, Windows executables, random data, already-compressed
files, many small files) with jlha (c2o7: level-2 headers, -lh7-) and with kobrix-pack
(--method lh7) and reports the archive sizes and the packing times side by side, as
ratios kobrix-pack / jlha.

    bench/pack_bench.py [--pack build/kobrix-pack] [--runs 7] [--keep DIR]

kobrix-pack's size is that of the archive behind the stub (from archive_offset to the
end), which is what jlha writes; the whole self-extracting file is shown beside it.
Both packers run in turn, round after round, and the median time of each is taken: a
machine shared with others then slows both alike."""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def breakdown(data):
    """Header bytes, and packed bytes per top-level folder, of a level-2 archive."""
    headers, per_folder, pos = 0, {}, 0
    while pos + 2 <= len(data):
        (size,) = struct.unpack_from("<H", data, pos)
        if size == 0:
            break
        (packed,) = struct.unpack_from("<I", data, pos + 7)
        name, folder, at = b"", b"", pos + 24
        while True:
            (next_size,) = struct.unpack_from("<H", data, at)
            if next_size == 0:
                break
            kind = data[at + 2]
            if kind == 1:
                name = data[at + 3:at + next_size]
            elif kind == 2:
                folder = data[at + 3:at + next_size]
            at += next_size
        top = (folder.split(b"\xff")[0] or name).decode("latin-1")
        per_folder[top] = per_folder.get(top, 0) + packed
        headers += size
        pos += size + packed
    return headers, per_folder


def deflate64_sizes(payload, entries, work):
    """Packed bytes per top-level folder with 7-Zip's strongest Deflate64 (64 KiB window,
    optimal parsing over 15 passes): LZ77 and Huffman blocks like -lh7-, as a yardstick
    for how close the encoder comes to what this kind of format allows."""
    sizes = {}
    for entry in entries:
        archive = os.path.join(work, "reference.zip")
        if os.path.exists(archive):
            os.remove(archive)
        subprocess.run(["7zz", "a", "-tzip", "-mm=Deflate64", "-mx=9", "-mpass=15", "-mfb=257",
                        archive, entry], cwd=payload, check=True, stdout=subprocess.DEVNULL)
        listing = subprocess.run(["7zz", "l", "-slt", archive], check=True,
                                 capture_output=True, text=True).stdout
        sizes[entry] = sum(int(line.split("=")[1]) for line in listing.splitlines()
                           if line.startswith("Packed Size ="))
    return sizes


def timed_pair(commands, cwd, outputs, runs):
    """Runs the commands in turn, round after round, so that a machine shared with
    others slows both alike; returns the median and the spread of each one's times."""
    times = [[] for _ in commands]
    for round_number in range(runs + 1):
        for k, command in enumerate(commands):
            if os.path.exists(outputs[k]):
                os.remove(outputs[k])
            start = time.monotonic()
            subprocess.run(command, shell=True, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
            if round_number > 0:  # the first round warms the caches
                times[k].append(time.monotonic() - start)
    result = []
    for t in times:
        t.sort()
        result.append((t[len(t) // 2], t[-1] - t[0]))
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pack", default=os.path.join(HERE, "..", "build", "kobrix-pack"))
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--keep", help="build the payload in this folder and keep it")
    parser.add_argument("--no-reference", action="store_true",
                        help="leave out the Deflate64 yardstick (needs 7zz)")
    args = parser.parse_args()
    pack = os.path.abspath(args.pack)
    if shutil.which("jlha") is None:
        sys.exit("jlha is missing (Debian jlha-utils)")
    if not os.path.exists(pack):
        sys.exit(f"{pack} is missing: build kobrix-pack first or give --pack")

    work = args.keep or tempfile.mkdtemp(prefix="kobrix-bench-")
    try:
        payload = os.path.join(work, "payload")
        print("Payload:")
        subprocess.run([sys.executable, os.path.join(HERE, "make_payload.py"), payload], check=True)
        entries = sorted(os.listdir(payload))
        total = sum(os.path.getsize(os.path.join(d, f))
                    for d, _, files in os.walk(payload) for f in files)
        count = sum(len(files) for _, _, files in os.walk(payload))
        print(f"{'total':10} {total:10d} bytes in {count} files\n")

        stub = os.path.join(work, "stub.bin")
        default_stub = os.path.join(os.path.dirname(pack), "kobrix-stub.exe")
        if os.path.exists(default_stub):
            shutil.copy(default_stub, stub)
        else:
            subprocess.run([os.path.join(HERE, "..", "scripts", "bare-stub.sh"), stub],
                           check=True, stdout=subprocess.DEVNULL)
        jlha_out = os.path.join(work, "jlha.lzh")
        kobrix_out = os.path.join(work, "kobrix.exe")
        jlha_cmd = f"jlha c2o7q {jlha_out} {' '.join(entries)}"
        kobrix_cmd = f"{pack} -o {kobrix_out} --stub {stub} --method lh7 {' '.join(entries)}"

        (jlha_time, jlha_spread), (kobrix_time, kobrix_spread) = timed_pair(
            [jlha_cmd, kobrix_cmd], payload, [jlha_out, kobrix_out], args.runs)

        jlha_size = os.path.getsize(jlha_out)
        whole = os.path.getsize(kobrix_out)
        with open(kobrix_out, "rb") as f:
            f.seek(512)
            (offset,) = struct.unpack("<I", f.read(4))
        archive = whole - offset
        with open(jlha_out, "rb") as f:
            jlha_headers, jlha_parts = breakdown(f.read())
        with open(kobrix_out, "rb") as f:
            f.seek(offset)
            kobrix_headers, kobrix_parts = breakdown(f.read())
        reference = {}
        if not args.no_reference and shutil.which("7zz"):
            reference = deflate64_sizes(payload, entries, work)
        print(f"{'':24} {'jlha c2o7':>14} {'kobrix-pack':>14} {'ratio':>8}"
              + (f" {'Deflate64':>12} {'ratio':>8}" if reference else ""))
        for part in sorted(jlha_parts):
            a, b = jlha_parts[part], kobrix_parts.get(part, 0)
            line = f"{'  data of ' + part:24} {a:14d} {b:14d} {b / a:8.4f}"
            if part in reference:
                line += f" {reference[part]:12d} {b / reference[part]:8.4f}"
            print(line)
        print(f"{'  headers':24} {jlha_headers:14d} {kobrix_headers:14d} "
              f"{kobrix_headers / jlha_headers:8.4f}")
        print(f"{'archive bytes':24} {jlha_size:14d} {archive:14d} {archive / jlha_size:8.4f}")
        print(f"{'  with the stub':24} {'':14} {whole:14d} {whole / jlha_size:8.4f}")
        print(f"{'packing time, s (median)':24} {jlha_time:14.3f} {kobrix_time:14.3f} "
              f"{kobrix_time / jlha_time:8.4f}")
        print(f"{'  spread of the runs':24} {jlha_spread:14.3f} {kobrix_spread:14.3f}")
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
