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
from report import report  # noqa: E402

MESSAGES = ("Read ERROR", "Unexpeted EOF", "Bad header", "Open ERROR", "Close ERROR",
            "CRC ERROR", "Write ERROR", "Bad table", "Not enough memory")

failures = []


def fail(archive, what):
    failures.append(f"{archive}: {what}")


def target_of(name, root, dest):
    """Where a member lands: names with a leading "/" under the root."""
    parts = [sfx.fold_long(p) for p in name.strip("/").split("/")]
    return os.path.join(root if name.startswith("/") else dest, *parts)


def run(runner, work, data):
    """Runs data as a self-extracting file; returns the exit code, stderr and
    the root and extraction folders."""
    root, dest, path = (os.path.join(work, n) for n in ("root", "dest", "setup.exe"))
    os.makedirs(root)
    sfx.write_sfx(path, data)
    result = sfx.run_runner(runner, path, ["-n", dest], root=root, timeout=60)
    return result.returncode, result.stderr.decode("utf-8", "replace").strip(), root, dest


def left_files(root, dest):
    return [os.path.join(top, rel) for top in (root, dest) for rel in sfx.tree_files(top)]


def check_archive(runner, archive, data, entry, work):
    code, stderr, root, dest = run(runner, work, data)
    ok = entry["outcome"] == "ok"
    if code != (1 if ok else 0):
        return fail(archive, f"exit code {code}, stderr: {stderr[:300]}")
    if not ok:
        if entry["outcome"] not in stderr:
            fail(archive, f"expected {entry['outcome']!r}, stderr: {stderr[:300]}")
        if left_files(root, dest):
            fail(archive, f"a failed scan wrote files: {left_files(root, dest)}")
        return
    if any(m in stderr for m in MESSAGES):
        fail(archive, f"unexpected message: {stderr[:300]}")
    for member in entry["members"]:
        target = target_of(member["name"], root, dest)
        if member["method"] == "-lhd-":
            if member["name"].endswith("/") and not os.path.isdir(target):
                fail(archive, f"directory {member['name']} not created")
        elif "sha256" not in member:
            continue
        elif not os.path.isfile(target):
            fail(archive, f"{member['name']} not extracted (looked for {target})")
        elif sfx.sha256_of(target) != member["sha256"]:
            fail(archive, f"{member['name']} differs")
        # Without the Windows times the fixed part's time is the last-write time.
        elif (65 not in member["ext"] or member["os"] not in "MWw") and \
                int(os.stat(target).st_mtime) != member["time"]:
            fail(archive, f"{member['name']} time {int(os.stat(target).st_mtime)} != {member['time']}")


def check_damage(runner, archive, data, entry, work, rng):
    """Cuts at spread-out points and single changed bits."""
    if entry["outcome"] != "ok":
        return
    n = len(data)
    variants = [(f"cut at {cut}", data[:cut])
                for cut in sorted({max(1, n * k // 12) for k in range(1, 12)} | {n - 1, n - 2, 30, 27})
                if 0 < cut < n]
    for _ in range(8):
        pos, changed = rng.randrange(n), bytearray(data)
        changed[pos] ^= 1 << rng.randrange(8)
        variants.append((f"bit changed at {pos}", bytes(changed)))
    for i, (what, variant) in enumerate(variants):
        case = os.path.join(work, f"case{i}")
        try:
            code, stderr, root, dest = run(runner, case, variant)
        except Exception as e:  # a hang is a failure like any other
            fail(archive, f"{what}: {e}")
            continue
        if code not in (0, 1):
            fail(archive, f"{what}: exit code {code}: {stderr[:200]}")
            continue
        good = {}  # a name may stand for several members
        for m in entry["members"]:
            if "sha256" in m:
                good.setdefault(target_of(m["name"], root, dest), set()).add(m["sha256"])
        complete = 0
        for path in left_files(root, dest):
            if sfx.sha256_of(path) not in good.get(path, ()):
                fail(archive, f"{what}: damaged file left behind: {os.path.relpath(path, case)}")
            else:
                complete += 1
        # A cut exactly between two members ends the archive cleanly.
        if complete < len(good) and not what.startswith("cut") and not any(m in stderr for m in MESSAGES):
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
    for entry in entries:
        with open(os.path.join(args.corpus, entry["archive"]), "rb") as f:
            data = f.read()
        with tempfile.TemporaryDirectory() as work:
            if args.damage:
                check_damage(args.runner, entry["archive"], data, entry, work, rng)
            else:
                check_archive(args.runner, entry["archive"], data, entry, work)
    return report(failures, len(entries))


if __name__ == "__main__":
    sys.exit(main())
