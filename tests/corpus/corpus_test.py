#!/usr/bin/env python3
"""Every archive of the shared corpus, wrapped into a self-extracting file and
run by the native runner: the outcome, the exit code and every member's
contents as the manifest gives them. With --damage, the same archives cut
short and with changed bytes: the run ends with a message, exit code 0 or 1,
and no damaged file is left behind."""

import argparse
import json
import os
import random
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "lib"))
import sfx  # noqa: E402

MESSAGES = ("Read ERROR", "Unexpeted EOF", "Bad header", "Open ERROR", "Close ERROR",
            "CRC ERROR", "Write ERROR", "Bad table", "Not enough memory")

failures = []


def fail(archive, what):
    failures.append(f"{archive}: {what}")


def member_path(member, root, dest):
    name = member["name"]
    parts = [sfx.fold_long(p) for p in name.strip("/").split("/")]
    base = root if name.startswith("/") else dest
    return os.path.join(base, *parts)


def check_archive(runner, corpus, entry, work):
    archive = entry["archive"]
    with open(os.path.join(corpus, archive), "rb") as f:
        data = f.read()
    root = os.path.join(work, "root")
    dest = os.path.join(work, "dest")
    os.makedirs(root)
    path = os.path.join(work, "setup.exe")
    sfx.write_sfx(path, data)
    result = sfx.run_runner(runner, path, ["-n", dest], root=root)
    stderr = result.stderr.decode("utf-8", "replace")
    ok = entry["outcome"] == "ok"
    if result.returncode != (1 if ok else 0):
        fail(archive, f"exit code {result.returncode}, stderr: {stderr.strip()[:300]}")
        return
    if not ok:
        if entry["outcome"] not in stderr:
            fail(archive, f"expected {entry['outcome']!r}, stderr: {stderr.strip()[:300]}")
        left = sfx.tree_files(root) + (sfx.tree_files(dest) if os.path.isdir(dest) else [])
        if left:
            fail(archive, f"a failed scan wrote files: {left}")
        return
    if stderr.strip() and any(m in stderr for m in MESSAGES):
        fail(archive, f"unexpected message: {stderr.strip()[:300]}")
    for member in entry["members"]:
        target = member_path(member, root, dest)
        if member["method"] == "-lhd-":
            if member["name"].endswith("/") and not os.path.isdir(target):
                fail(archive, f"directory {member['name']} not created")
            continue
        if "sha256" not in member:
            continue
        if not os.path.isfile(target):
            fail(archive, f"{member['name']} not extracted (looked for {target})")
            continue
        if sfx.sha256_of(target) != member["sha256"]:
            fail(archive, f"{member['name']} differs")
        # Without the Windows times the fixed part's time is the last-write time.
        if 65 not in member["ext"] or member["os"] not in "MWw":
            if int(os.stat(target).st_mtime) != member["time"]:
                fail(archive, f"{member['name']} time {int(os.stat(target).st_mtime)}"
                              f" != {member['time']}")


def damaged_variants(data, rng):
    """Cuts at spread-out points and single changed bytes."""
    n = len(data)
    cuts = sorted({max(1, n * k // 24) for k in range(1, 24)} | {n - 1, n - 2, 30, 27})
    for cut in cuts:
        if 0 < cut < n:
            yield f"cut at {cut}", data[:cut]
    for _ in range(12):
        pos = rng.randrange(n)
        changed = bytearray(data)
        changed[pos] ^= 1 << rng.randrange(8)
        yield f"bit changed at {pos}", bytes(changed)


def check_damage(runner, corpus, entry, work, rng):
    archive = entry["archive"]
    if entry["outcome"] != "ok":
        return
    with open(os.path.join(corpus, archive), "rb") as f:
        data = f.read()
    good = {}
    for member in entry["members"]:
        if "sha256" in member:
            good[member["name"].lstrip("/")] = member["sha256"]
    for i, (what, variant) in enumerate(damaged_variants(data, rng)):
        case = os.path.join(work, f"case{i}")
        root = os.path.join(case, "root")
        dest = os.path.join(case, "dest")
        os.makedirs(root)
        path = os.path.join(case, "setup.exe")
        sfx.write_sfx(path, variant)
        try:
            result = sfx.run_runner(runner, path, ["-n", dest], root=root, timeout=60)
        except Exception as e:  # a hang is a failure like any other
            fail(archive, f"{what}: {e}")
            continue
        stderr = result.stderr.decode("utf-8", "replace")
        if result.returncode not in (0, 1):
            fail(archive, f"{what}: exit code {result.returncode}: {stderr.strip()[:200]}")
            continue
        left = [("", p) for p in (sfx.tree_files(dest) if os.path.isdir(dest) else [])]
        left += [("/", p) for p in sfx.tree_files(root)]
        complete = 0
        for _, rel in left:
            full = os.path.join(dest if _ == "" else root, rel)
            expected = [s for name, s in good.items()
                        if os.path.join(*[sfx.fold_long(p) for p in name.split("/")]) == rel]
            if not expected or sfx.sha256_of(full) not in expected:
                fail(archive, f"{what}: damaged file left behind: {rel}")
            else:
                complete += 1
        if complete < len(good) and not any(m in stderr for m in MESSAGES):
            # A cut exactly between two members ends the archive cleanly.
            if not what.startswith("cut"):
                fail(archive, f"{what}: members missing without a message")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--damage", action="store_true")
    args = parser.parse_args()
    manifest = os.path.join(args.corpus, "manifest.jsonl")
    if not os.path.isfile(manifest):
        print(f"SKIP: no corpus at {args.corpus} (it lives in ../shared beside the checkout)")
        return 0
    entries = [json.loads(line) for line in open(manifest) if line.strip()]
    rng = random.Random(20261206)
    checked = 0
    for entry in entries:
        with tempfile.TemporaryDirectory() as work:
            if args.damage:
                check_damage(args.runner, args.corpus, entry, work, rng)
            else:
                check_archive(args.runner, args.corpus, entry, work)
        checked += 1
    for f in failures:
        print("FAIL", f)
    print(f"{checked - len({f.split(':')[0] for f in failures})} passed, "
          f"{len({f.split(':')[0] for f in failures})} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
