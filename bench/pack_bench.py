#!/usr/bin/env python3
"""Packs inputs of every kind with jlha (c2o7: level-2 headers, -lh7-) and with
kobrix-pack (its defaults, and --threads 1) and reports, side by side, the packing
times, the archive sizes and the peak memory, as ratios kobrix-pack / jlha.

    bench/pack_bench.py [--pack build/kobrix-pack] [--runs 5] [--keep DIR]
                        [--before OLD/kobrix-pack] [--only NAME,...]

The inputs: a mixed payload (text, Windows executables, random data, already-compressed
files, many small files; its archive is broken down by folder, with 7-Zip's Deflate64 as
a yardstick), repetitive data (20 MiB each of zeros, of one repeated text line, of one
seeded random 1 KiB block repeated), a folder of large Windows DLLs (Debian's Wine) and
Debian changelogs (text). --before adds another kobrix-pack build to the same run.

kobrix-pack's size is that of the archive behind the stub (from archive_offset to the
end), which is what jlha writes. The packers run in turn, round after round, and the
median time of each is taken: a machine shared with others then slows all alike. Peak
memory is the largest resident set that /usr/bin/time saw over the runs; processor time
(user and system, the median) shows the work done, which a busy machine changes less. The exit code
is 0 when, on every input, kobrix-pack took at most half of jlha's time, wrote an archive
no larger than jlha's (64 bytes of slack on the repetitive inputs, where both are tiny)
and peaked at no more memory than jlha."""

import argparse
import glob
import gzip
import random
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


SIZE_SLACK = 64  # bytes, on inputs that both packers shrink to almost nothing


def make_inputs(work, wanted):
    """The inputs as (name, folder, entries, repetitive), built in work."""
    inputs = []

    def chosen(name):
        return not wanted or name in wanted

    if chosen("mixed"):
        payload = os.path.join(work, "payload")
        print("Mixed payload:")
        subprocess.run([sys.executable, os.path.join(HERE, "make_payload.py"), payload],
                       check=True)
        inputs.append(("mixed", payload, sorted(os.listdir(payload)), False))
    line = b"2026-12-07 03:15:20 kobrix-pack[4242]: packing member 17 of 230, all is well\n"
    block = random.Random(1024).randbytes(1024)
    for name, unit in (("zeros", b"\0"), ("line", line), ("block", block)):
        if not chosen(name):
            continue
        folder = os.path.join(work, name)
        os.makedirs(folder)
        with open(os.path.join(folder, name + ".bin"), "wb") as f:
            f.write((unit * ((20 << 20) // len(unit) + 1))[:20 << 20])
        inputs.append((name, folder, [name + ".bin"], True))
    if chosen("dlls"):
        dlls = [p for p in glob.glob("/usr/lib/*/wine/*-windows/*.dll") + glob.glob(
            "/usr/lib/wine/*-windows/*.dll") if os.path.isfile(p) and not os.path.islink(p)]
        dlls.sort(key=lambda p: (-os.path.getsize(p), p))
        folder, used = os.path.join(work, "dlls"), 0
        os.makedirs(folder)
        for path in dlls:  # the largest below 16 MiB, up to 28 MiB in all, each name once
            size = os.path.getsize(path)
            target = os.path.join(folder, os.path.basename(path))
            if size < (16 << 20) and used + size <= (28 << 20) and not os.path.exists(target):
                shutil.copyfile(path, target)
                used += size
        if used:
            inputs.append(("dlls", folder, sorted(os.listdir(folder)), False))
        else:
            print("no Windows DLLs of Wine installed (Debian wine64): dlls left out")
    if chosen("changelogs"):
        folder, used = os.path.join(work, "changelogs"), 0
        os.makedirs(folder)
        for index, path in enumerate(sorted(glob.glob("/usr/share/doc/*/changelog.Debian.gz"))):
            if used >= (6 << 20):
                break
            with gzip.open(path, "rb") as source:
                data = source.read()
            with open(os.path.join(folder, "c%04d.txt" % index), "wb") as target:
                target.write(data)
            used += len(data)
        inputs.append(("changelogs", folder, sorted(os.listdir(folder)), False))
    return inputs


def timed_runs(commands, cwd, outputs, runs):
    """Runs the commands in turn, round after round, so that a machine shared with
    others slows all alike; returns the median time, the median processor time (user and
    system) and the peak memory (KB) of each."""
    times = [[] for _ in commands]
    cpus = [[] for _ in commands]
    peaks = [0 for _ in commands]
    measure = os.path.join(os.path.dirname(outputs[0]), "time.txt")
    for round_number in range(runs + 1):
        for k, command in enumerate(commands):
            if os.path.exists(outputs[k]):
                os.remove(outputs[k])
            start = time.monotonic()
            subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", measure] + command,
                           cwd=cwd, check=True, stdout=subprocess.DEVNULL)
            elapsed = time.monotonic() - start
            with open(measure) as f:
                peak, user, system = f.read().split()[-3:]
            peaks[k] = max(peaks[k], int(peak))
            if round_number > 0 or runs == 0:  # the first round warms the caches
                times[k].append(elapsed)
                cpus[k].append(float(user) + float(system))
    return [(sorted(t)[len(t) // 2], sorted(c)[len(c) // 2], peak)
            for t, c, peak in zip(times, cpus, peaks)]


def archive_of(exe):
    with open(exe, "rb") as f:
        data = f.read()
    (offset,) = struct.unpack_from("<I", data, 512)
    return data[offset:]


def mixed_breakdown(jlha_out, kobrix_out, payload, entries, work, reference):
    with open(jlha_out, "rb") as f:
        jlha_headers, jlha_parts = breakdown(f.read())
    kobrix_headers, kobrix_parts = breakdown(archive_of(kobrix_out))
    sizes = deflate64_sizes(payload, entries, work) if reference else {}
    print(f"\nMixed payload by folder: {'jlha c2o7':>14} {'kobrix-pack':>14} {'ratio':>8}"
          + (f" {'Deflate64':>12} {'ratio':>8}" if sizes else ""))
    for part in sorted(jlha_parts):
        a, b = jlha_parts[part], kobrix_parts.get(part, 0)
        line = f"{'  data of ' + part:24} {a:14d} {b:14d} {b / a:8.4f}"
        if part in sizes:
            line += f" {sizes[part]:12d} {b / sizes[part]:8.4f}"
        print(line)
    print(f"{'  headers':24} {jlha_headers:14d} {kobrix_headers:14d} "
          f"{kobrix_headers / jlha_headers:8.4f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pack", default=os.path.join(HERE, "..", "build", "kobrix-pack"))
    parser.add_argument("--before", help="another kobrix-pack to measure in the same run")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--only", help="comma-separated inputs: mixed, zeros, line, block, "
                        "dlls, changelogs")
    parser.add_argument("--keep", help="build the inputs in this folder and keep them")
    parser.add_argument("--no-reference", action="store_true",
                        help="leave out the Deflate64 yardstick (needs 7zz)")
    args = parser.parse_args()
    pack = os.path.abspath(args.pack)
    if shutil.which("jlha") is None:
        sys.exit("jlha is missing (Debian jlha-utils)")
    for tool in [pack] + ([args.before] if args.before else []):
        if not os.path.exists(tool):
            sys.exit(f"{tool} is missing: build kobrix-pack first or give --pack")

    work = args.keep or tempfile.mkdtemp(prefix="kobrix-bench-")
    try:
        inputs = make_inputs(work, set(args.only.split(",")) if args.only else set())
        stub = os.path.join(work, "stub.bin")
        default_stub = os.path.join(os.path.dirname(pack), "kobrix-stub.exe")
        if os.path.exists(default_stub):
            shutil.copy(default_stub, stub)
        else:
            subprocess.run([os.path.join(HERE, "..", "scripts", "bare-stub.sh"), stub],
                           check=True, stdout=subprocess.DEVNULL)
        print(f"\ncores {os.cpu_count()}, load {os.getloadavg()[0]:.2f} at the start; "
              f"times are medians of {args.runs} runs")
        columns = ("input", "MB", "jlha s", "kobrix s", "ratio", "1 thr s", "speedup",
                   "jlha bytes", "kobrix bytes", "size", "peak KB jlha", "kobrix", "1 thr",
                   "cpu s jlha", "kobrix")
        print("%-10s %6s %7s %8s %6s %7s %7s %11s %12s %7s %12s %7s %7s %10s %7s" % columns)
        failures = []
        # a build without --threads is measured twice with its defaults
        usage = subprocess.run([pack, "--help"], capture_output=True, text=True).stdout
        one_thread = ["--threads", "1"] if "--threads" in usage else []
        for name, folder, entries, repetitive in inputs:
            total = sum(os.path.getsize(os.path.join(d, f))
                        for e in entries for d, _, files in os.walk(os.path.join(folder, e))
                        for f in files) + sum(os.path.getsize(os.path.join(folder, e))
                                              for e in entries
                                              if os.path.isfile(os.path.join(folder, e)))
            jlha_out = os.path.join(work, "jlha.lzh")
            outs = [jlha_out] + [os.path.join(work, f"kobrix{k}.exe") for k in range(3)]
            commands = [["jlha", "c2o7q", jlha_out] + entries,
                        [pack, "-o", outs[1], "--stub", stub] + entries,
                        [pack, "-o", outs[2], "--stub", stub] + one_thread + entries]
            if args.before:
                commands.append([os.path.abspath(args.before), "-o", outs[3], "--stub", stub]
                                + entries)
            results = timed_runs(commands, folder, outs, args.runs)
            (jt, jc, jm), (kt, kc, km), (ot, _, om) = results[:3]
            js, ks = os.path.getsize(jlha_out), len(archive_of(outs[1]))
            if archive_of(outs[2]) != archive_of(outs[1]):
                failures.append(f"{name}: --threads 1 wrote other bytes than the default")
            print("%-10s %6.1f %7.2f %8.2f %6.3f %7.2f %7.2f %11d %12d %7.4f %12d %7d %7d "
                  "%10.2f %7.2f" % (name, total / 1e6, jt, kt, kt / jt, ot, ot / kt, js, ks,
                                    ks / js, jm, km, om, jc, kc))
            if args.before:
                bt, bc, bm = results[3]
                bs = len(archive_of(outs[3]))
                print("%-10s %6s %7s %8.2f %6.3f %7s %7s %11s %12d %7.4f %12s %7d %7s %10s %7.2f"
                      % ("  before", "", "", bt, bt / jt, "", "", "", bs, bs / js, "", bm, "",
                         "", bc))
            if kt > 0.5 * jt:
                failures.append(f"{name}: {kt / jt:.3f} of jlha's time")
            if ks > js + (SIZE_SLACK if repetitive else 0):
                failures.append(f"{name}: archive {ks} bytes, jlha's {js}")
            if max(km, om) > jm:
                failures.append(f"{name}: peak {max(km, om)} KB, jlha's {jm} KB")
            if name == "mixed":
                mixed_breakdown(jlha_out, outs[1], folder, entries, work,
                                not args.no_reference and shutil.which("7zz"))
                print()
        print(f"load {os.getloadavg()[0]:.2f} at the end")
        for failure in failures:
            print("NOT MET:", failure)
        return 1 if failures else 0
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
