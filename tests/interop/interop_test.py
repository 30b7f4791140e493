#!/usr/bin/env python3
"""Archives written by jlha (-lh5-, -lh6-, -lh7-, level-2 headers) from
generated payloads of many kinds and sizes: the runner extracts every file
byte for byte, with its last-write time, every directory, and nothing else."""

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
from report import report  # noqa: E402


def make_payload(top, rng):
    """Files of every shape the decoder meets. Even seconds: the DOS-packed
    times of other tools keep no odd second. Repeats 40000 bytes back: only
    the window of -lh7- reaches them."""
    write_payload(top, rng, lambda: 1262322000 + 2 * rng.randrange(100000000), 40000)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()
    jlha = shutil.which("jlha")
    if jlha is None:
        print("SKIP: jlha (Debian jlha-utils) is not installed")
        return 0
    problems = []
    with tempfile.TemporaryDirectory() as work:
        payload = os.path.join(work, "payload")
        os.makedirs(payload)
        make_payload(payload, random.Random(77))
        for method in ("5", "6", "7"):
            archive = os.path.join(work, f"lh{method}.lzh")
            subprocess.run([jlha, f"c2o{method}q", archive] + sorted(os.listdir(payload)),
                           cwd=payload, check=True, stdout=subprocess.DEVNULL)
            with open(archive, "rb") as f:
                data = f.read()
            exe = os.path.join(work, f"lh{method}.exe")
            sfx.write_sfx(exe, data)
            dest = os.path.join(work, f"out{method}")
            result = sfx.run_runner(args.runner, exe, ["-n", dest], root=work)
            if result.returncode != 1:
                problems.append(f"-lh{method}-: exit code {result.returncode}: "
                                f"{result.stderr.decode(errors='replace')[:300]}")
                continue
            problems += compare_trees(payload, dest, f"-lh{method}-")
    return report(problems, 3)


if __name__ == "__main__":
    sys.exit(main())
