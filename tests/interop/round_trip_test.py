#!/usr/bin/env python3
"""Round trips of a payload of every shape a decoder meets, each file and
folder back byte for byte with its last-write time, and nothing else. With
--jlha, jlha's archives (-lh5- to -lh7-, level 2) through the runner; with
--pack, kobrix-pack's (each method and level, the same bytes whatever the
threads) through lhasa, 7zz and the runner."""

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


def write_payload(top, rng, stamp, period):
    """Empty, exactly 64 KiB, megabytes of text, random and repeated bytes, random bytes repeating every
    period bytes, 300 small files, one deep down, an empty folder; each with the time stamp() gives."""
    for rel, data in [("empty.txt", b""), ("exact64k.bin", rng.randbytes(65536)),
                      ("exact64k.txt", sfx.text_block(rng, 65536)),
                      ("big/mixed.txt", sfx.text_block(rng, 3 * 1024 * 1024 + 17)),
                      ("big/random.bin", rng.randbytes(1024 * 1024 + 3)),
                      ("big/repetitive.bin", b"\0" * (2 * 1024 * 1024) + b"abcabcabd" * 50000),
                      ("big/far_matches.bin", (rng.randbytes(period) * (1500000 // period + 1))[:1500000]),
                      ("deep/a/b/c/d/e/leaf.txt", b"nested\r\n" * 1000)]:
        sfx.write_file(top, rel, data, stamp())
    for i in range(300):
        sfx.write_file(top, f"small/f{i:03d}.dat", sfx.text_block(rng, rng.randrange(0, 2000)), stamp())
    os.makedirs(os.path.join(top, "deep", "empty_dir"))


def compare(item, ran, good, source, extracted):
    """The tool's run was good and the trees are the same, times included."""
    problems = [] if good else [f"exit {ran.returncode}: {(ran.stdout + ran.stderr)[-300:]!r}"]
    for dirpath, dirs, files in os.walk(source):
        rel_dir = os.path.relpath(dirpath, source)
        problems += [f"folder {d} missing" for d in dirs if not os.path.isdir(os.path.join(extracted, rel_dir, d))]
        for rel in (os.path.normpath(os.path.join(rel_dir, n)) for n in files):
            a, b = os.path.join(source, rel), os.path.join(extracted, rel)
            if not os.path.isfile(b) or sfx.read(a) != sfx.read(b):
                problems.append(f"{rel} missing or different")
            elif int(os.stat(b).st_mtime) != int(os.stat(a).st_mtime):
                problems.append(f"{rel} time {os.stat(b).st_mtime} != {os.stat(a).st_mtime}")
    extra = set(sfx.tree_files(extracted)) - set(sfx.tree_files(source))
    sfx.check(item, not problems and not extra, f"{problems[:5]} unexpected {sorted(extra)[:5]}")


def jlha(args, work, payload):
    for method in "567":
        archive = os.path.join(work, f"lh{method}.lzh")
        subprocess.run(["jlha", f"c2o{method}q", archive] + sorted(os.listdir(payload)), cwd=payload,
                       check=True, stdout=subprocess.DEVNULL)
        exe = sfx.write_sfx(os.path.join(work, f"lh{method}.exe"), sfx.read(archive))
        dest = os.path.join(work, f"out{method}")
        ran = sfx.run_runner(args.runner, exe, ["-n", dest], root=work)
        compare(f"jlha -lh{method}-", ran, ran.returncode == 1, payload, dest)


def pack(args, work, payload):
    # Odd seconds, runs and repeats across the 1 MiB coding units, a name with
    # blanks, one making a header of 256 bytes, nested empty folders.
    line = b"2026-12-07 kobrix-pack: a line of a log that repeats itself\r\n"
    block = random.Random(5).randbytes(1024)
    for i, (rel, data) in enumerate([("zeros.bin", bytes((1 << 20) + 1)), ("image.bin", block * 2100 + b"tail"),
                                     ("log.txt", (line * 17000)[:(1 << 20) + 4321]),
                                     ("name with spaces.txt", b"spaces\r\n"),
                                     ("h" * 190, b"a name that makes a header of 256 bytes")]):
        sfx.write_file(payload, rel, data, 1262322001 + 2 * i)
    os.makedirs(os.path.join(payload, "deep", "empty_dir", "inner_empty"))
    stub = sfx.write(os.path.join(work, "stub.bin"), sfx.bare_stub())
    entries = ["-C", payload] + sorted(os.listdir(payload))
    for label, options in [("lh5", []), ("lh6", []), ("lh7", []), ("lh0", []), ("lh7-level1", ["--level", "1"]),
                           ("lh7-level9", ["--level", "9"])]:
        def packed(out, *more):
            return subprocess.run([args.pack, "-o", os.path.join(work, out), "--stub", stub, "--method", label[:3],
                                   *options, *more, *entries], capture_output=True)
        r = packed(f"{label}.exe")
        if not sfx.check(f"{label} packed", r.returncode == 0, r.stderr.decode()):
            continue
        # After the first run, which may have set the access times the headers carry.
        packed("t1.exe", "--threads", "1"), packed("t4.exe", "--threads", "4")
        sfx.check(f"{label} threads", filecmp.cmp(os.path.join(work, "t1.exe"), os.path.join(work, "t4.exe"),
                                                  shallow=False), "--threads 1 and 4 wrote other bytes")
        exe = os.path.join(work, f"{label}.exe")
        data = sfx.read(exe)
        lzh = sfx.write(os.path.join(work, f"{label}.lzh"), data[sfx.archive_offset(data):])
        out = os.path.join(work, "out")
        for tool, argv in (("lhasa", ["lhasa", f"xqw={out}", lzh]), ("7zz", ["7zz", "x", f"-o{out}", "-y", lzh]),
                           ("runner", None)):
            os.makedirs(out)
            ran = sfx.run_runner(args.runner, exe, ["-n", out], root=work) if argv is None \
                else subprocess.run(argv, capture_output=True)
            good = ran.returncode == (1 if argv is None else 0) and b"ERROR" not in ran.stderr
            compare(f"{label} {tool}", ran, good, payload, out)
            shutil.rmtree(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    parser.add_argument("--pack")
    parser.add_argument("--jlha", action="store_true")
    args = parser.parse_args()
    missing = [t for t in (["jlha"] if args.jlha else ["lhasa", "7zz"]) if shutil.which(t) is None]
    if missing:
        print(f"SKIP: {' and '.join(missing)} not installed (Debian jlha-utils, lhasa, 7zip)")
        return 0
    with tempfile.TemporaryDirectory() as work:
        payload = os.path.join(work, "payload")
        rng = random.Random(77 if args.jlha else 2024)
        # jlha's DOS times keep no odd second; its repeats 40000 bytes back
        # only -lh7- reaches, ours 30000 (-lh6-).
        write_payload(payload, rng, lambda: 1262322000 + (2 if args.jlha else 1) * rng.randrange(100000000),
                      40000 if args.jlha else 30000)
        (jlha if args.jlha else pack)(args, work, payload)
    return sfx.report()


if __name__ == "__main__":
    sys.exit(main())
