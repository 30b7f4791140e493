#!/usr/bin/env python3
"""Archives written by jlha (-lh5-, -lh6-, -lh7-, level-2 headers) from a
generated payload: the runner extracts every file and folder byte for byte,
with its last-write time, and nothing else."""

import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "lib"))
import sfx  # noqa: E402
from payload import compare_trees, write_payload  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()
    if shutil.which("jlha") is None:
        print("SKIP: jlha (Debian jlha-utils) is not installed")
        return 0
    with tempfile.TemporaryDirectory() as work:
        payload = os.path.join(work, "payload")
        rng = random.Random(77)
        # Even seconds: other tools' DOS times keep no odd second. Repeats
        # 40000 bytes back: only the window of -lh7- reaches them.
        write_payload(payload, rng, lambda: 1262322000 + 2 * rng.randrange(100000000), 40000)
        for method in "567":
            archive = os.path.join(work, f"lh{method}.lzh")
            subprocess.run(["jlha", f"c2o{method}q", archive] + sorted(os.listdir(payload)),
                           cwd=payload, check=True, stdout=subprocess.DEVNULL)
            exe = sfx.write_sfx(os.path.join(work, f"lh{method}.exe"), sfx.read(archive))
            dest = os.path.join(work, f"out{method}")
            r = sfx.run_runner(args.runner, exe, ["-n", dest], root=work)
            problems = compare_trees(payload, dest, f"-lh{method}-")
            sfx.check(f"-lh{method}-", r.returncode == 1 and not problems, f"{r.err[:300]} {problems}")
    return sfx.report()


if __name__ == "__main__":
    sys.exit(main())
