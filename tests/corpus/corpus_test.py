#!/usr/bin/env python3
"""Every archive of the shared corpus behind a bare stub, run by the native
runner: outcome, exit code, every member's contents and time as the
manifest has them. With --damage, cut short and with
changed bits: exit code 0 or 1, a message for what is missing, and no
damaged file left behind."""

import argparse
import hashlib
import json
import os
import random
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "lib"))
import sfx  # noqa: E402

MESSAGES = ("Read ERROR", "Unexpeted EOF", "Bad header", "Open ERROR", "Close ERROR",
            "CRC ERROR", "Write ERROR", "Bad table", "Not enough memory")


def target_of(name, root, dest):
    """Where a member lands: names with a leading "/" under the root."""
    parts = [sfx.fold_long(p) for p in name.strip("/").split("/")]
    return os.path.join(root if name.startswith("/") else dest, *parts)


def run(runner, work, data):
    """data behind a stub, run: exit code, stderr, root, destination, the files left."""
    root, dest = os.path.join(work, "root"), os.path.join(work, "dest")
    os.makedirs(root)
    r = sfx.run_runner(runner, sfx.write_sfx(os.path.join(work, "setup.exe"), data), ["-n", dest],
                       root=root, timeout=60)
    left = [os.path.join(top, rel) for top in (root, dest) for rel in sfx.tree_files(top)]
    return r.returncode, r.err.strip(), root, dest, left


def check_archive(runner, archive, data, entry, work):
    code, err, root, dest, left = run(runner, work, data)
    ok = entry["outcome"] == "ok"
    if not sfx.check(archive, code == (1 if ok else 0), f"exit code {code}: {err[:300]}") or not ok:
        sfx.check(archive, entry["outcome"] in err and not left, f"{err[:300]}; left {left}")
        return
    sfx.check(archive, not any(m in err for m in MESSAGES), err)
    for m in entry["members"]:
        target = target_of(m["name"], root, dest)
        if m["method"] == "-lhd-":
            sfx.check(archive, not m["name"].endswith("/") or os.path.isdir(target), f"no folder {target}")
        elif "sha256" in m:
            sfx.check(archive, os.path.isfile(target) and hashlib.sha256(sfx.read(target)).hexdigest() == m["sha256"],
                      f"{m['name']} missing or different")
            # Without the Windows times the fixed part's time is the last-write time.
            if os.path.isfile(target) and (65 not in m["ext"] or m["os"] not in "MWw"):
                sfx.check(archive, int(os.stat(target).st_mtime) == m["time"], f"{m['name']} time")


def check_damage(runner, archive, data, entry, work, rng):
    """Cuts at spread-out points and single changed bits."""
    n = len(data)
    cuts = sorted({max(1, n * k // 12) for k in range(1, 12)} | {n - 1, n - 2, 30, 27})
    variants = [(f"cut at {c}", data[:c]) for c in cuts if 0 < c < n]
    for _ in range(8):
        pos, changed = rng.randrange(n), bytearray(data)
        changed[pos] ^= 1 << rng.randrange(8)
        variants.append((f"bit changed at {pos}", bytes(changed)))
    for i, (what, variant) in enumerate(variants):
        item = f"{archive} {what}"
        try:
            code, err, root, dest, left = run(runner, os.path.join(work, f"case{i}"), variant)
        except Exception as e:  # a hang is a failure like any other
            sfx.check(item, False, repr(e))
            continue
        good = {}  # a name may stand for several members
        for m in entry["members"]:
            if "sha256" in m:
                good.setdefault(target_of(m["name"], root, dest), set()).add(m["sha256"])
        damaged = [p for p in left if hashlib.sha256(sfx.read(p)).hexdigest() not in good.get(p, ())]
        sfx.check(item, code in (0, 1) and not damaged, f"exit {code}, damaged files left: {damaged}")
        # A cut exactly between two members ends the archive cleanly.
        sfx.check(item, len(left) - len(damaged) == len(good) or what.startswith("cut")
                  or any(m in err for m in MESSAGES), "members missing without a message")


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
    rng = random.Random(20261206)
    for entry in [json.loads(line) for line in open(manifest) if line.strip()]:
        data = sfx.read(os.path.join(args.corpus, entry["archive"]))
        with tempfile.TemporaryDirectory() as work:
            if not args.damage:
                check_archive(args.runner, entry["archive"], data, entry, work)
            elif entry["outcome"] == "ok":
                check_damage(args.runner, entry["archive"], data, entry, work, rng)
    return sfx.report()


if __name__ == "__main__":
    sys.exit(main())
