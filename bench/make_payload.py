#!/usr/bin/env python3
"""Builds the mixed benchmark payload in a folder: text, Windows executables,
random data, already-compressed files and many small files. The choice is
deterministic for a given machine (sorted lists, fixed seed)."""
import gzip
import os
import random
import shutil
import sys

TEXT_BUDGET = 4 << 20
EXE_BUDGET = 6 << 20
RANDOM_SIZE = 1 << 20
GZIP_BUDGET = 1536 << 10
SMALL_COUNT = 1500


def sorted_files(root, keep):
    found = []
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path) and keep(path):
                found.append(path)
    return found


def take_text(out):
    os.makedirs(out)
    used = 0
    pages = sorted_files("/usr/share/man/man1", lambda p: p.endswith(".gz"))
    pages += sorted_files("/usr/share/man/man3", lambda p: p.endswith(".gz"))
    for index, page in enumerate(pages):
        if used >= TEXT_BUDGET // 2:
            break
        with gzip.open(page, "rb") as source:
            data = source.read()
        with open(os.path.join(out, "man%04d.txt" % index), "wb") as target:
            target.write(data)
        used += len(data)
    docs = sorted_files("/usr/share/doc", lambda p: not p.endswith(".gz") and
                        os.path.getsize(p) > 4096 and os.path.basename(p) != "copyright")
    for index, doc in enumerate(docs):
        if used >= TEXT_BUDGET:
            break
        with open(doc, "rb") as source:
            data = source.read()
        if b"\0" in data:
            continue
        with open(os.path.join(out, "doc%04d.txt" % index), "wb") as target:
            target.write(data)
        used += len(data)
    return used


def take_executables(out):
    os.makedirs(out)
    used = 0
    roots = ["/usr/lib/gcc/x86_64-w64-mingw32", "/usr/x86_64-w64-mingw32"]
    candidates = []
    for root in roots:
        candidates += sorted_files(root, lambda p: p.endswith((".dll", ".exe")) and
                                   "posix" not in p and os.path.getsize(p) < (2 << 20))
    for path in candidates:
        size = os.path.getsize(path)
        if used + size > EXE_BUDGET:
            continue
        shutil.copyfile(path, os.path.join(out, os.path.basename(path)))
        used += size
    return used


def take_random(out):
    os.makedirs(out)
    generator = random.Random(20240611)
    with open(os.path.join(out, "noise.bin"), "wb") as target:
        target.write(generator.randbytes(RANDOM_SIZE))
    return RANDOM_SIZE


def take_compressed(out):
    os.makedirs(out)
    used = 0
    for index, path in enumerate(sorted_files("/usr/share/doc", lambda p: p.endswith(".gz"))):
        if used >= GZIP_BUDGET:
            break
        shutil.copyfile(path, os.path.join(out, "z%04d.gz" % index))
        used += os.path.getsize(path)
    return used


def take_small(out):
    used = 0
    copyrights = sorted_files("/usr/share/doc", lambda p: os.path.basename(p) == "copyright")
    for index, path in enumerate(copyrights[:SMALL_COUNT]):
        folder = os.path.join(out, "pkg%02d" % (index % 40))
        os.makedirs(folder, exist_ok=True)
        with open(path, "rb") as source:
            data = source.read(3000)
        with open(os.path.join(folder, "c%04d.txt" % index), "wb") as target:
            target.write(data)
        used += len(data)
    return used


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_payload.py OUTDIR")
    out = sys.argv[1]
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    sizes = {
        "text": take_text(os.path.join(out, "text")),
        "exe": take_executables(os.path.join(out, "exe")),
        "random": take_random(os.path.join(out, "random")),
        "compressed": take_compressed(os.path.join(out, "compressed")),
        "small": take_small(os.path.join(out, "small")),
    }
    for kind, size in sizes.items():
        print("%-10s %10d bytes" % (kind, size))


if __name__ == "__main__":
    main()
