"""Generated payloads of the round-trip tests, and trees compared."""

import os

from sfx import read, tree_files, write_file

_WORDS = [b"archive", b"member", b"header", b"window", b"table", b"kobrix", b"data",
          b"\xe3\x81\x82", b"0123", b"setup", b"\r\n", b"  ", b"return", b"{", b"}"]


def text_block(rng, size):
    """Compressible text of exactly size bytes, fixed by rng."""
    out = bytearray()
    while len(out) < size:
        out += rng.choice(_WORDS) + b" "
    return bytes(out[:size])


def write_payload(top, rng, stamp, period):
    """Files of every shape a decoder meets, each with the time stamp() gives:
    empty, exactly 64 KiB, megabytes of text, of random and of repeated bytes,
    random bytes repeating every period bytes, 300 small files, one deep
    down, an empty folder."""
    for rel, data in [("empty.txt", b""), ("exact64k.bin", rng.randbytes(65536)),
                      ("exact64k.txt", text_block(rng, 65536)),
                      ("big/mixed.txt", text_block(rng, 3 * 1024 * 1024 + 17)),
                      ("big/random.bin", rng.randbytes(1024 * 1024 + 3)),
                      ("big/repetitive.bin", b"\0" * (2 * 1024 * 1024) + b"abcabcabd" * 50000),
                      ("big/far_matches.bin", (rng.randbytes(period) * (1500000 // period + 1))[:1500000]),
                      ("deep/a/b/c/d/e/leaf.txt", b"nested\r\n" * 1000)]:
        write_file(top, rel, data, stamp())
    for i in range(300):
        write_file(top, f"small/f{i:03d}.dat", text_block(rng, rng.randrange(0, 2000)), stamp())
    os.makedirs(os.path.join(top, "deep", "empty_dir"), exist_ok=True)


def compare_trees(source, extracted, label):
    """What differs: folders and files missing, contents, last-write times,
    files that are not in source."""
    problems = []
    for dirpath, dirs, files in os.walk(source):
        rel_dir = os.path.relpath(dirpath, source)
        problems += [f"{label}: folder {os.path.join(rel_dir, d)} missing" for d in dirs
                     if not os.path.isdir(os.path.join(extracted, rel_dir, d))]
        for rel in (os.path.normpath(os.path.join(rel_dir, n)) for n in files):
            a, b = os.path.join(source, rel), os.path.join(extracted, rel)
            if not os.path.isfile(b) or read(a) != read(b):
                problems.append(f"{label}: {rel} missing or different")
            elif int(os.stat(b).st_mtime) != int(os.stat(a).st_mtime):
                problems.append(f"{label}: {rel} time {os.stat(b).st_mtime} != {os.stat(a).st_mtime}")
    extra = set(tree_files(extracted)) - set(tree_files(source))
    return problems + [f"{label}: unexpected {e}" for e in sorted(extra)]
