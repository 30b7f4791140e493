"""Generated payloads shared by the round-trip tests."""

import os

from sfx import tree_files

_WORDS = [b"archive", b"member", b"header", b"window", b"table", b"kobrix", b"data",
          b"\xe3\x81\x82", b"0123", b"setup", b"\r\n", b"  ", b"return", b"{", b"}"]


def text_block(rng, size):
    """Compressible text of exactly size bytes, fixed by rng."""
    out = bytearray()
    while len(out) < size:
        out += rng.choice(_WORDS) + b" "
    return bytes(out[:size])


def write_file(top, rel, data, stamp):
    """Writes top/rel (folders made on the way) with the last-write time
    stamp; returns its path."""
    path = os.path.join(top, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (stamp, stamp))
    return path


def write_payload(top, rng, stamp, period):
    """Files of every shape a decoder meets, each with the time stamp()
    gives: empty, exactly 64 KiB, megabytes of text, of random and of repeated
    bytes, random bytes that repeat every period bytes, 300 small files, one
    deep down, and an empty folder."""
    def put(rel, data):
        write_file(top, rel, data, stamp())

    put("empty.txt", b"")
    put("exact64k.bin", rng.randbytes(65536))
    put("exact64k.txt", text_block(rng, 65536))
    put("big/mixed.txt", text_block(rng, 3 * 1024 * 1024 + 17))
    put("big/random.bin", rng.randbytes(1024 * 1024 + 3))
    put("big/repetitive.bin", b"\0" * (2 * 1024 * 1024) + b"abcabcabd" * 50000)
    put("big/far_matches.bin", (rng.randbytes(period) * (1500000 // period + 1))[:1500000])
    for i in range(300):
        put(f"small/f{i:03d}.dat", text_block(rng, rng.randrange(0, 2000)))
    put("deep/a/b/c/d/e/leaf.txt", b"nested\r\n" * 1000)
    os.makedirs(os.path.join(top, "deep", "empty_dir"), exist_ok=True)


def compare_trees(source, extracted, label, check_times=True):
    """What differs between the two trees: folders and files missing,
    contents, last-write times, files that are not in source."""
    problems = []
    for dirpath, dirs, files in os.walk(source):
        rel_dir = os.path.relpath(dirpath, source)
        problems += [f"{label}: folder {os.path.join(rel_dir, d)} missing" for d in dirs
                     if not os.path.isdir(os.path.join(extracted, rel_dir, d))]
        for name in files:
            rel = os.path.normpath(os.path.join(rel_dir, name))
            a, b = os.path.join(source, rel), os.path.join(extracted, rel)
            if not os.path.isfile(b):
                problems.append(f"{label}: {rel} missing")
                continue
            with open(a, "rb") as fa, open(b, "rb") as fb:
                if fa.read() != fb.read():
                    problems.append(f"{label}: {rel} differs")
                    continue
            times = int(os.stat(b).st_mtime), int(os.stat(a).st_mtime)
            if check_times and times[0] != times[1]:
                problems.append(f"{label}: {rel} time {times[0]} != {times[1]}")
    extra = set(tree_files(extracted)) - set(tree_files(source))
    return problems + [f"{label}: unexpected {e}" for e in sorted(extra)]
