#!/usr/bin/env python3
"""Extraction side by side: kobrix against 7zz and lhasa on the same
self-extracting files.

The payload (about 80 MB) is made on the spot from Debian packages: Windows
DLLs of wine64, text (Debian changelogs and man pages, unpacked), random data
from a fixed seed and 3,000 small files. It is packed with jlha (c2o5, c2o7:
level-2 headers) and with kobrix-pack (-lh5-, -lh7-), each behind the stub.
Every tool extracts the same file into a fresh folder; hyperfine takes the
wall times (medians of several runs), /usr/bin/time the peak memory, and
every output is compared with the payload by diff -r. A last part times the
scan over archives of 5,000 to 20,000 small members, which a message member
answered No stops before anything is written, and counts its system calls.

The folder lies on tmpfs (/dev/shm) unless --out says otherwise: on a disk,
what the file system does to create 5,000 files can outweigh the tools (on
ext4 without a journal, a file created within minutes of many deletions
takes 0.3 ms, as each new inode passes over the recently freed ones), and
every tool pays it alike.

  bench/extract_bench.py [--build DIR] [--work DIR] [--out DIR] [--runs N]
                         [--fresh] [--no-scan] [--baseline KOBRIX]

--baseline times another kobrix (an earlier build, say) in the same
hyperfine runs, so that a change to the decoder is measured before and after
on one machine at one load.

Needs kobrix, kobrix-pack and kobrix-stub.exe in the build folder, and the
Debian packages hyperfine, jlha-utils, 7zip, lhasa, wine64 (strace for the
counts of system calls). Exit code 0 when every archive took kobrix at most
half the time of 7zz and at most lhasa's peak memory, else 1.
"""
import argparse
import gzip
import json
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SEED = 20240611
DLL_FOLDER = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
DLL_BUDGET = 32 << 20
CHANGELOG_BUDGET = 16 << 20
MAN_BUDGET = 12 << 20
RANDOM_FILES = (("noise-a.bin", 6 << 20), ("noise-b.bin", 4 << 20), ("noise-c.bin", 2 << 20))
SMALL_COUNT = 3000
SCAN_COUNTS = (5000, 10000, 20000)
PAYLOAD_VERSION = "1"

sys.path.insert(0, HERE)
from make_payload import sorted_files  # noqa: E402


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def take_dlls(out):
    used = 0
    for path in sorted_files(DLL_FOLDER, lambda p: p.endswith(".dll")):
        size = os.path.getsize(path)
        if size > (3 << 20) or used + size > DLL_BUDGET:
            continue
        shutil.copyfile(path, os.path.join(out, "dll", os.path.basename(path)))
        used += size
    return used


def take_gunzipped(paths, out, prefix, budget):
    used = 0
    for index, path in enumerate(paths):
        if used >= budget:
            break
        try:
            with gzip.open(path, "rb") as f:
                data = f.read()
        except (OSError, EOFError):
            continue
        name = re.sub(r"[^A-Za-z0-9._+-]", "_", path.split("/")[-2 if prefix == "cl" else -1])
        write(os.path.join(out, "%s%05d_%s.txt" % (prefix, index, name[:40])), data)
        used += len(data)
    return used


def take_text(out):
    changelogs = sorted_files("/usr/share/doc", lambda p: os.path.basename(p).startswith(
        "changelog") and p.endswith(".gz"))
    man = sorted_files("/usr/share/man", lambda p: p.endswith(".gz"))
    return (take_gunzipped(changelogs, os.path.join(out, "text", "changelog"), "cl",
                           CHANGELOG_BUDGET) +
            take_gunzipped(man, os.path.join(out, "text", "man"), "man", MAN_BUDGET))


def take_random(out, generator):
    used = 0
    for name, size in RANDOM_FILES:
        write(os.path.join(out, "random", name), generator.randbytes(size))
        used += size
    return used


def small_file_contents(generator, source, size):
    """Text cut from the payload's own text, or random bytes, or a run."""
    kind = generator.randrange(4)
    if kind < 2 and len(source) > size:
        start = generator.randrange(len(source) - size)
        return source[start:start + size]
    if kind == 2:
        return generator.randbytes(size)
    return bytes([generator.randrange(256)]) * size


def take_small(out, generator):
    text_files = sorted_files(os.path.join(out, "text", "man"), lambda p: True)[:50]
    source = b"".join(open(p, "rb").read() for p in text_files)
    used = 0
    for index in range(SMALL_COUNT):
        size = generator.randrange(4097)
        path = os.path.join(out, "small", "d%02d" % (index % 30), "s%02d" % (index % 7),
                            "f%04d.dat" % index)
        write(path, small_file_contents(generator, source, size))
        used += size
    return used


def make_payload(out):
    stamp = os.path.join(out, ".payload")
    if os.path.exists(stamp) and open(stamp).read() == PAYLOAD_VERSION:
        return
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(os.path.join(out, "dll"))
    if not os.path.isdir(DLL_FOLDER):
        sys.exit("the DLLs of wine64 are missing: apt-get install -y wine64")
    generator = random.Random(SEED)
    sizes = {"dll": take_dlls(out), "text": take_text(out)}
    sizes["random"] = take_random(out, generator)
    sizes["small"] = take_small(out, generator)
    for kind, size in sizes.items():
        print("  payload %-7s %6.1f MB" % (kind, size / 1e6))
    with open(stamp, "w") as f:
        f.write(PAYLOAD_VERSION)


def payload_entries(payload):
    return sorted(e for e in os.listdir(payload) if not e.startswith("."))


def run(command, **kw):
    return subprocess.run(command, check=True, **kw)


def stale(path, payload):
    """Whether path is missing or older than the payload."""
    stamp = os.path.join(payload, ".payload")
    return not os.path.exists(path) or os.path.getmtime(path) < os.path.getmtime(stamp)


def pack_archives(tools, payload, work, fresh):
    """Self-extracting files: jlha archives behind the stub, and kobrix-pack's."""
    archives = []
    entries = payload_entries(payload)
    for level in ("5", "7"):
        exe = os.path.join(work, "jlha-lh%s.exe" % level)
        if fresh or stale(exe, payload):
            lzh = os.path.join(work, "jlha-lh%s.lzh" % level)
            if os.path.exists(lzh):
                os.remove(lzh)
            run(["jlha", "c2o%sq" % level, lzh] + entries, cwd=payload, stdout=subprocess.DEVNULL)
            run([tools["kobrix-pack"], "-o", exe, "--auto-start", "--archive", lzh] + tools["stub"],
                stdout=subprocess.DEVNULL)
        archives.append(("jlha c2o%s" % level, exe))
    for level in ("5", "7"):
        exe = os.path.join(work, "kobrix-pack-lh%s.exe" % level)
        if fresh or stale(exe, payload):
            run([tools["kobrix-pack"], "-o", exe, "--auto-start", "--method", "lh" + level] +
                tools["stub"] + ["-C", payload] + entries, stdout=subprocess.DEVNULL)
        archives.append(("kobrix-pack -lh%s-" % level, exe))
    return archives


def extract_commands(tools, archive, out, root):
    """Each tool's command line; kobrix asks nothing (-n) and ends with 1,
    which says that the extraction ran."""
    commands = {
        "kobrix": [tools["kobrix"], "--root", root, archive, "-n", out],
        "7zz": [tools["7zz"], "x", "-y", "-bso0", "-bsp0", "-o" + out, archive],
        "lhasa": [tools["lhasa"], "xqw=" + out, archive],
    }
    if tools.get("baseline"):
        commands["baseline"] = [tools["baseline"], "--root", root, archive, "-n", out]
    return commands


EXPECTED_EXIT = {"kobrix": 1, "baseline": 1}


def fresh_dir(path):
    if os.path.exists(path):
        shutil.rmtree(path)
    os.makedirs(path)


def check_outputs(commands, out, payload):
    """Each tool once into a fresh folder; its output must equal the payload."""
    for name, command in commands.items():
        fresh_dir(out)
        r = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        if r.returncode != EXPECTED_EXIT.get(name, 0):
            sys.exit("%s ended with exit code %d" % (name, r.returncode))
        r = subprocess.run(["diff", "-r", "-q", "-x", ".payload", payload, out],
                           stdout=subprocess.PIPE, text=True)
        if r.returncode != 0:
            sys.exit("%s: output differs from the payload:\n%s" % (name, r.stdout[:2000]))


def peak_memory_kb(command, out, repeats=3):
    """The largest resident set of the tool itself (no shell in between)."""
    peaks = []
    for _ in range(repeats):
        fresh_dir(out)
        r = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        peaks.append(int(r.stderr.strip().splitlines()[-1]))
    return max(peaks)


def hyperfine(commands, out, runs, export):
    """Medians and the rest by hyperfine, commands run without a shell. The
    exit codes were checked by check_outputs."""
    args = ["hyperfine", "--shell=none", "--ignore-failure", "--style", "basic", "--warmup", "1",
            "--runs", str(runs), "--prepare", "rm -rf %s && mkdir %s" % (out, out),
            "--export-json", export]
    for name, command in commands.items():
        args += ["-n", name, " ".join(shlex.quote(part) for part in command)]
    r = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True)
    if r.returncode != 0:
        sys.exit("hyperfine failed:\n" + r.stderr)
    with open(export) as f:
        results = json.load(f)["results"]
    return {r["command"]: r for r in results}


def scan_archive(tools, work, count, fresh):
    """count small members and a message member; the scan reads every header."""
    exe = os.path.join(work, "scan-%d.exe" % count)
    if not fresh and os.path.exists(exe):
        return exe
    folder = os.path.join(work, "scan-payload-%d" % count)
    fresh_dir(folder)
    generator = random.Random(SEED + count)
    for index in range(count):
        write(os.path.join(folder, "m", "d%03d" % (index // 100), "f%05d.txt" % index),
              b"member %d\n" % index * generator.randrange(1, 20))
    message = os.path.join(work, "scan-message.txt")
    with open(message, "w") as f:
        f.write("Install the benchmark files?")
    run([tools["kobrix-pack"], "-o", exe, "--method", "lh5", "--message", message] + tools["stub"] +
        ["-C", folder, "m"], stdout=subprocess.DEVNULL)
    shutil.rmtree(folder)
    return exe


def syscall_counts(command):
    """System calls of one run, by strace -c; empty without strace."""
    if shutil.which("strace") is None:
        return {}
    with tempfile.NamedTemporaryFile("r", suffix=".strace") as log:
        subprocess.run(["strace", "-c", "-o", log.name] + command, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        counts = {}
        for line in log.read().splitlines():
            fields = line.split()
            if len(fields) >= 5 and fields[-1].isidentifier() and fields[3].isdigit():
                counts[fields[-1]] = int(fields[3])
        return counts


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return "%s, %d cores, Linux %s" % (model, os.cpu_count(), os.uname().release)


def load():
    return open("/proc/loadavg").read().split()[0]


def find_tools(build):
    tools = {
        "kobrix": os.path.join(build, "kobrix"),
        "kobrix-pack": os.path.join(build, "kobrix-pack"),
        "7zz": shutil.which("7zz"),
        "lhasa": shutil.which("lhasa"),
    }
    for name, path in tools.items():
        if path is None or not os.path.exists(path):
            sys.exit("%s is missing (%s)" % (name, path))
    for tool in ("jlha", "hyperfine"):
        if shutil.which(tool) is None:
            sys.exit("%s is missing (Debian jlha-utils, hyperfine)" % tool)
    return tools


def ms(seconds):
    return "%.0f" % (seconds * 1000)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"),
                        help="build folder with kobrix and kobrix-pack (default: build)")
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(),
                                                       "kobrix-extract-bench"))
    parser.add_argument("--out", default="/dev/shm/kobrix-extract-bench-out"
                        if os.path.isdir("/dev/shm") else None,
                        help="folder the tools extract into (default: on tmpfs, /dev/shm)")
    parser.add_argument("--runs", type=int, default=7, help="timed runs per tool (default 7)")
    parser.add_argument("--fresh", action="store_true", help="pack the archives anew")
    parser.add_argument("--no-scan", action="store_true", help="leave out the scan part")
    parser.add_argument("--baseline", help="another kobrix to time beside the build's")
    args = parser.parse_args()

    tools = find_tools(os.path.abspath(args.build))
    if args.baseline:
        tools["baseline"] = os.path.abspath(args.baseline)
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    # Without the Windows stub (no mingw-w64), a bare header area that the
    # three tools read as well.
    tools["stub"] = []
    if not os.path.exists(os.path.join(os.path.dirname(tools["kobrix-pack"]), "kobrix-stub.exe")):
        bare = os.path.join(work, "bare-stub.bin")
        run([os.path.join(HERE, "..", "scripts", "bare-stub.sh"), bare], stdout=subprocess.DEVNULL)
        tools["stub"] = ["--stub", bare]
        print("kobrix-stub.exe is missing: the archives stand behind a bare header area")
    payload = os.path.join(work, "payload")
    root = os.path.join(work, "root")
    out = os.path.abspath(args.out) if args.out else os.path.join(work, "out")
    os.makedirs(root, exist_ok=True)
    print("machine: %s; load %s" % (machine(), load()))
    make_payload(payload)
    listed = sorted_files(payload, lambda p: not p.endswith(".payload"))
    total = sum(os.path.getsize(p) for p in listed)
    files = len(listed)
    print("payload: %.1f MB in %d files (%s)" % (total / 1e6, files, payload))

    archives = pack_archives(tools, payload, work, args.fresh)
    rows = []
    for label, exe in archives:
        commands = extract_commands(tools, exe, out, root)
        check_outputs(commands, out, payload)
        results = hyperfine(commands, out, args.runs, os.path.join(work, "times.json"))
        memory = {name: peak_memory_kb(command, out) for name, command in commands.items()}
        medians = {name: results[name]["median"] for name in commands}
        rows.append((label, os.path.getsize(exe), medians, memory))
        print("%-20s kobrix %s ms, 7zz %s ms, lhasa %s ms: %.2f of 7zz, %.2f of lhasa" % (
            label, ms(medians["kobrix"]), ms(medians["7zz"]), ms(medians["lhasa"]),
            medians["kobrix"] / medians["7zz"], medians["kobrix"] / medians["lhasa"]))
        if "baseline" in medians:
            print("%-20s baseline %s ms: kobrix %.2f of it" % (
                "", ms(medians["baseline"]), medians["kobrix"] / medians["baseline"]))
    shutil.rmtree(out, ignore_errors=True)

    print()
    print("Extraction of %.1f MB (%d files), medians of %d runs; outputs equal to the payload "
          "(diff -r)" % (total / 1e6, files, args.runs))
    print()
    print("| archive | size MB | kobrix ms | 7zz ms | lhasa ms | kobrix/7zz | kobrix/lhasa "
          "| peak KB kobrix / 7zz / lhasa |")
    print("|---|---:|---:|---:|---:|---:|---:|---|")
    for label, size, medians, memory in rows:
        print("| %s | %.1f | %s | %s | %s | %.2f | %.2f | %d / %d / %d |" % (
            label, size / 1e6, ms(medians["kobrix"]), ms(medians["7zz"]), ms(medians["lhasa"]),
            medians["kobrix"] / medians["7zz"], medians["kobrix"] / medians["lhasa"],
            memory["kobrix"], memory["7zz"], memory["lhasa"]))
    if args.baseline:
        print()
        print("| archive | kobrix ms | baseline ms | kobrix/baseline | peak KB kobrix / baseline |")
        print("|---|---:|---:|---:|---|")
        for label, size, medians, memory in rows:
            print("| %s | %s | %s | %.2f | %d / %d |" % (
                label, ms(medians["kobrix"]), ms(medians["baseline"]),
                medians["kobrix"] / medians["baseline"], memory["kobrix"], memory["baseline"]))

    failures = []
    for label, _, medians, memory in rows:
        if medians["kobrix"] > 0.5 * medians["7zz"]:
            failures.append("%s: kobrix takes more than half the time of 7zz" % label)
        if memory["kobrix"] > memory["lhasa"]:
            failures.append("%s: kobrix's peak memory exceeds lhasa's" % label)

    if not args.no_scan:
        print()
        print("Scan of N small members that a message member answered No stops before "
              "any file is written (medians of %d runs; reads and lseeks of one run, "
              "strace -c):" % max(args.runs, 30))
        print()
        print("| members | kobrix ms | us per member | reads | lseeks | 7zz l ms | lhasa l ms |")
        print("|---:|---:|---:|---:|---:|---:|---:|")
        # The message member and the folders are headers too.
        for count in SCAN_COUNTS:
            exe = scan_archive(tools, work, count, args.fresh)
            # Standard input is empty: the message member is answered No.
            commands = {
                "kobrix": [tools["kobrix"], "--root", root, exe],
                "7zz l": [tools["7zz"], "l", exe],
                "lhasa l": [tools["lhasa"], "l", exe],
            }
            # Runs of a few milliseconds: more of them.
            results = hyperfine(commands, out, max(args.runs, 30),
                                os.path.join(work, "scan.json"))
            counts = syscall_counts(commands["kobrix"])
            kobrix = results["kobrix"]["median"]
            print("| %d | %.1f | %.2f | %s | %s | %s | %s |" % (
                count, kobrix * 1000, kobrix * 1e6 / count, counts.get("read", "-"),
                counts.get("lseek", "-"), ms(results["7zz l"]["median"]),
                ms(results["lhasa l"]["median"])))
    shutil.rmtree(out, ignore_errors=True)

    print()
    print("load at the end: %s" % load())
    if failures:
        print("\n".join(["goal not met:"] + failures))
        return 1
    print("goal met: every archive in at most half the time of 7zz, peak memory within lhasa's")
    return 0


if __name__ == "__main__":
    sys.exit(main())
