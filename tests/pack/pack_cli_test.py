#!/usr/bin/env python3
"""kobrix-pack's options as the runner reads them back (settings fields and switches,
the message and script members, the integrity value), and what it refuses: stubs
without room for the settings record, missing inputs, values that do not fit, archives
with headers the stub cannot read. On every refusal no output file is left behind."""

import argparse
import glob
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "lib"))
import sfx  # noqa: E402
from lzh import crc16  # noqa: E402
from payload import write_file  # noqa: E402

results = []  # (name, problem or None)


def check(name, condition, detail=""):
    results.append((name, None if condition else detail or "failed"))


class Env:
    def __init__(self, pack, runner, work):
        self.pack, self.runner, self.work = pack, runner, work
        self.stub = self.write("stub.bin", sfx.bare_stub())
        self.files = os.path.join(work, "files")
        write_file(self.files, "readme.txt", b"Read me.\r\n" * 50, 1300000000)
        write_file(self.files, "docs/guide.txt", b"A guide.\r\n" * 500, 1300000001)
        self.count = 0

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, data):
        """A file of the work folder; its path."""
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def pack_files(self, *options):
        self.count += 1
        out = self.path(f"out{self.count}.exe")
        result = subprocess.run([self.pack, "-o", out, "--stub", self.stub, *options,
                                 "-C", self.files, "readme.txt", "docs"], capture_output=True)
        return out, result

    def root(self):
        """The root folder of the runs of the file packed last."""
        return self.path(f"root{self.count}")

    def run(self, exe, args=(), answers=""):
        root = self.root()
        os.makedirs(root, exist_ok=True)
        result = sfx.run_runner(self.runner, exe, list(args), root=root, answers=answers)
        return root, result.returncode, result.stderr.decode(errors="replace")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def leftovers(folder, name):
    base = os.path.basename(name)
    return [p for p in os.listdir(folder) if p == base or p.startswith("." + base + ".")]


def expect_refusal(env, label, args, wanted, code=1):
    """kobrix-pack fails with `code`, says `wanted`, and leaves no file behind."""
    out = env.path(f"refused{len(results)}.exe")
    result = subprocess.run([env.pack, "-o", out] + args, capture_output=True)
    err = result.stderr.decode(errors="replace")
    check(label, result.returncode == code and wanted in err and not leftovers(env.work, out),
          f"exit {result.returncode}, stderr {err!r}, left {leftovers(env.work, out)}")


def settings_fields(env):
    exe, r = env.pack_files("--title", "Kobrix Test Title", "--install-title", "Put it in",
                            "--dir", "C:\\Pack Dir")
    root, code, err = env.run(exe, answers="\n")
    check("title and install title shown", "Kobrix Test Title\n" in err and
          "Put it in C:\\Pack Dir" in err, err[:400])
    check("default directory used", os.path.isfile(os.path.join(root, "Pack Dir", "docs", "guide.txt"))
          and code == 1, err[-300:])

    exe, r = env.pack_files("--auto-start", "--dir", "C:\\Auto")
    root, code, err = env.run(exe)
    check("auto-start: no question, extracted", "Directory (Enter" not in err and
          os.path.isfile(os.path.join(root, "Auto", "readme.txt")), err[:400])

    flag = "cmd-ran.flag"
    exe, r = env.pack_files("--auto-start", "--dir", "C:\\Cmd", "--command", f"touch {flag}")
    root, code, err = env.run(exe)
    target = os.path.join(root, "Cmd", flag)
    deadline = time.time() + 10
    while not os.path.exists(target) and time.time() < deadline:
        time.sleep(0.1)
    check("command run after extraction", os.path.exists(target), err[-300:])


def overwrite_switches(env):
    def existing(folder, stamp):
        """readme.txt of the next run's folder, there already with that time."""
        return write_file(env.root(), os.path.join(folder, "readme.txt"), b"old", stamp)

    # an older existing file: asked about by default, replaced silently with --overwrite
    exe, _ = env.pack_files("--auto-start", "--dir", "C:\\O1")
    path = existing("O1", 1000000000)
    _, _, err = env.run(exe, answers="n\n")
    check("default asks before overwriting", "Overwrite?" in err and read(path) == b"old", err)
    exe, _ = env.pack_files("--auto-start", "--overwrite", "--dir", "C:\\O2")
    path = existing("O2", 1000000000)
    _, _, err = env.run(exe)
    check("--overwrite replaces without asking", "Overwrite?" not in err and read(path) != b"old",
          err)
    # a newer existing file: kept, unless --no-date-check
    exe, _ = env.pack_files("--auto-start", "--overwrite", "--dir", "C:\\O3")
    path = existing("O3", 2000000000)
    env.run(exe)
    check("a newer file is kept by the date check", read(path) == b"old")
    exe, _ = env.pack_files("--auto-start", "--overwrite", "--no-date-check", "--dir", "C:\\O4")
    path = existing("O4", 2000000000)
    env.run(exe)
    check("--no-date-check replaces a newer file", read(path) != b"old")

    readonly = os.path.join(env.files, "readme.txt")
    os.chmod(readonly, 0o444)
    try:
        for flag, want in (([], True), (["--restore-attributes"], False)):
            exe, _ = env.pack_files("--auto-start", "--dir", f"C:\\RA{len(flag)}", *flag)
            root, _, err = env.run(exe)
            mode = os.stat(os.path.join(root, f"RA{len(flag)}", "readme.txt")).st_mode
            check(f"read-only attribute with {flag or 'no flag'}",
                  bool(mode & stat.S_IWUSR) == want, oct(mode))
    finally:
        os.chmod(readonly, 0o644)


def message_and_script_members(env):
    message = env.write("message.txt", b"Install the test files?")
    script = env.write("script.txt",
                       b"$WindowTitle=Script Title\r\n$InstallDir=C:\\FromScript\r\n$Flag=1\r\n")
    exe, r = env.pack_files("--message", message, "--script", script)
    check("special members packed", r.returncode == 0, r.stderr.decode())
    data = read(exe)
    offset = sfx.archive_offset(data)
    first = data[offset + 24 + 5 + 3] if len(data) > offset + 40 else None
    check("the message member comes first", first == ord("!"), repr(first))
    root, code, err = env.run(exe, answers="n\n")
    check("message shown, No extracts nothing", "Install the test files?" in err and code == 0
          and not sfx.tree_files(root), err)
    root, code, err = env.run(exe, answers="y\n")
    check("script read: title, directory, flag", "Script Title\n" in err and
          os.path.isfile(os.path.join(root, "FromScript", "docs", "guide.txt")), err)

    long_message = env.write("long.txt", b"m" * 1024)
    expect_refusal(env, "message longer than the stub shows",
                   ["--stub", env.stub, "--message", long_message], "1023")
    long_title = env.write("long-title.txt", b"; setup\r\n$WindowTitle=" + b"w" * 41 + b"\r\n")
    expect_refusal(env, "script value longer than its field",
                   ["--stub", env.stub, "--script", long_title], "line 2")


def integrity(env):
    exe, r = env.pack_files("--integrity", "--auto-start", "--dir", "C:\\Int")
    root, code, err = env.run(exe)
    check("integrity value accepted", os.path.isfile(os.path.join(root, "Int", "readme.txt"))
          and "Tampered" not in err, err)
    data = bytearray(read(exe))
    offset = sfx.archive_offset(data)
    xor, pos, headers = 0, offset + 2, []
    while data[pos] != 0:
        size, packed = struct.unpack_from("<HxxxxxI", data, pos)
        xor ^= struct.unpack_from("<H", data, pos + 21)[0]
        headers.append(pos)
        pos += size + packed
    check("integrity value is the XOR of the CRC fields",
          struct.unpack_from("<H", data, offset)[0] == xor)
    # change one member's CRC field and make its header CRC right again
    h = headers[-1]
    size = struct.unpack_from("<H", data, h)[0]
    data[h + 21] ^= 0x10
    data[h + 27:h + 29] = b"\0\0"
    struct.pack_into("<H", data, h + 27, crc16(bytes(data[h:h + size])))
    tampered = env.write("tampered.exe", data)
    env.count += 1
    root, code, err = env.run(tampered)
    check("changed CRC field: Tampered DATA", "Tampered DATA" in err and code == 0 and
          not sfx.tree_files(root), err)


def refusals(env):
    stub = sfx.bare_stub()
    struct.pack_into("<H", stub, 8, 4)
    bad = env.write("bad-paragraphs.bin", stub)
    expect_refusal(env, "stub with 4 header paragraphs", ["--stub", bad, env.stub], "bad-paragraphs.bin")
    stub = sfx.bare_stub()
    stub[700] = 1
    used = env.write("used-area.bin", stub)
    expect_refusal(env, "stub with the settings area in use", ["--stub", used, env.stub], "used-area.bin")
    expect_refusal(env, "missing input named", ["--stub", env.stub, env.path("no-such-file.txt")],
                   "no-such-file.txt")
    expect_refusal(env, "title too long names the option",
                   ["--stub", env.stub, "--title", "t" * 41, env.stub], "--title", code=2)
    expect_refusal(env, "unknown method names the option",
                   ["--stub", env.stub, "--method", "lh9", env.stub], "--method", code=2)
    for option, value in (("--level", "0"), ("--level", "10"), ("--threads", "0"),
                          ("--threads", "2x")):
        expect_refusal(env, f"{option} {value} refused", ["--stub", env.stub, option, value,
                                                          env.stub], option, code=2)
    deep = os.path.join(env.work, "n" * 200)
    os.makedirs(deep)
    env.write(os.path.join(deep, "f" * 60), b"x")
    expect_refusal(env, "member name over 259 bytes", ["--stub", env.stub, "-C", env.work, "n" * 200],
                   "259")
    shutil.rmtree(deep)
    huge = env.path("huge.bin")
    with open(huge, "wb") as f:
        f.truncate(4 << 30)  # sparse: no disk space taken
    expect_refusal(env, "member of 4 GiB refused", ["--stub", env.stub, huge], "huge.bin: 4 GiB")
    os.remove(huge)

    # an error leaves an existing output as it was
    keep = env.write("keep.exe", b"previous")
    subprocess.run([env.pack, "-o", keep, "--stub", env.stub, env.path("missing")],
                   capture_output=True)
    check("a failed run leaves the old output alone", read(keep) == b"previous")

    # the default stub is the one beside kobrix-pack
    alone = env.path("bin")
    os.makedirs(alone)
    shutil.copy(env.pack, alone)
    lone_pack = os.path.join(alone, os.path.basename(env.pack))
    result = subprocess.run([lone_pack, "-o", env.path("nostub.exe"), env.stub], capture_output=True)
    check("no default stub: asks for --stub", result.returncode == 1 and b"--stub" in result.stderr,
          result.stderr.decode())
    shutil.copy(env.stub, os.path.join(alone, "kobrix-stub.exe"))
    result = subprocess.run([lone_pack, "-o", env.path("defstub.exe"), env.stub], capture_output=True)
    check("default stub beside kobrix-pack used", result.returncode == 0, result.stderr.decode())


def existing_archives(env):
    exe, _ = env.pack_files()
    data = read(exe)
    offset = sfx.archive_offset(data)
    lzh = env.write("own.lzh", data[offset:])
    out = env.path("from-archive.exe")
    result = subprocess.run([env.pack, "-o", out, "--stub", env.stub, "--archive", lzh,
                             "--integrity", "--auto-start", "--dir", "C:\\Arc"], capture_output=True)
    check("--archive puts the archive behind the stub unchanged",
          result.returncode == 0 and read(out).endswith(data[offset:]), result.stderr.decode())
    env.count += 1
    root, code, err = env.run(out)
    check("--archive extracts", os.path.isfile(os.path.join(root, "Arc", "docs", "guide.txt"))
          and "Tampered" not in err, err)
    broken = bytearray(data[offset:])
    broken[5] = ord("9")
    expect_refusal(env, "--archive with a bad method",
                   ["--stub", env.stub, "--archive", env.write("broken.lzh", broken)], "offset 0")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pack", required=True)
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        env = Env(os.path.abspath(args.pack), os.path.abspath(args.runner), work)
        for group in (settings_fields, overwrite_switches, message_and_script_members, integrity, refusals,
                      existing_archives):
            try:
                group(env)
            except Exception as e:  # a crash of one group fails it and lets the others run
                check(group.__name__, False, repr(e))
        stray = glob.glob(os.path.join(work, ".*.exe.*"))
        check("no temporary files left", not stray, str(stray))
    failed = [(n, p) for n, p in results if p is not None]
    for name, problem in failed:
        print(f"FAIL {name}: {problem}")
    print(f"{len(results) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
