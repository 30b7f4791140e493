#!/usr/bin/env python3
"""kobrix-pack's options as the runner reads them back (settings fields and switches,
the message and script members, the integrity value, names and texts outside ASCII in
the code page), and what it refuses: stubs without room for the settings record,
missing inputs, values that do not fit, archives with headers the stub cannot read, an
output that is one of the inputs, names Windows cannot hold or the code page lacks. On
every refusal no output file is left behind."""

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
from lzh import archive as lzh_archive, crc16, member  # noqa: E402
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

    def run(self, exe, args=(), answers="", options=()):
        root = self.root()
        os.makedirs(root, exist_ok=True)
        result = sfx.run_runner(self.runner, exe, list(args), root=root, answers=answers,
                                options=options)
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
    result = subprocess.run([env.pack, "-o", out] + args, capture_output=True, timeout=120)
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
    # The runner asks before it runs a command; no terminal here to ask.
    root, code, err = env.run(exe, options=["--run-command"])
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
    fifo = env.path("fifo")
    os.mkfifo(fifo)
    for args in (["--message", "/dev/zero", env.stub], ["--message", fifo, env.stub],
                 ["--archive", fifo], ["--archive", "/dev/zero"]):
        expect_refusal(env, f"{args[:2]} is refused, neither read for ever nor waited on",
                       ["--stub", env.stub] + args, "not a regular file")
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
    # A signature goes behind the file (osslsigncode), right behind the archive when
    # the length is a multiple of 8; the stub reads a 2-byte header size there. The
    # end must read as 0 whatever follows: for our own archives, and for one closed
    # by a single zero byte, or by none, as other tools write them.
    signature = struct.pack("<IHH", 0x5C8, 0x200, 2) + b"\x30\x82\x05\xbf"
    for name, archive in (("own", None), ("one-zero", data[offset:-1]), ("no-zero", data[offset:-2])):
        if archive is None:
            out, _ = env.pack_files("--dir", "C:\\Arc")
        else:
            out = env.path(f"from-{name}.exe")
            subprocess.run([env.pack, "-o", out, "--stub", env.stub, "--archive",
                            env.write(f"{name}.lzh", archive), "--dir", "C:\\Arc"], capture_output=True)
            env.count += 1
        root, code, err = env.run(env.write(f"signed-{name}.exe", read(out) + signature), ["-n"])
        check(f"a signature behind the archive ({name}) is not read as a header",
              code == 1 and sorted(sfx.tree_files(root)) ==
              [os.path.join("Arc", "docs", "guide.txt"), os.path.join("Arc", "readme.txt")], err)

    broken = bytearray(data[offset:])
    broken[5] = ord("9")
    expect_refusal(env, "--archive with a bad method",
                   ["--stub", env.stub, "--archive", env.write("broken.lzh", broken)], "offset 0")
    for label, dirname in (("rooted", b"\xffetc\xff"), ("climbing", b"a\xff..\xff..\xff"), ("drive", b"C:\xff")):
        away = lzh_archive(member(b"x.txt", b"x"), member(b"y.txt", b"y", dirname=dirname))
        expect_refusal(env, f"--archive with a {label} name", ["--stub", env.stub, "--archive",
                       env.write(f"{label}.lzh", away)], "outside the extraction folder")


def snapshot(path):
    st = os.stat(path)
    return read(path), st.st_mtime_ns, st.st_ino


def inputs_never_overwritten(env):
    """-o naming any input, directly or through a link: exit 2, both named, the input
    as it was, nothing else written."""
    top = os.path.join(env.work, "own")
    write_file(top, "a.txt", b"input a", 1300000000)
    write_file(top, "folder/inner.txt", b"inner", 1300000000)
    message = env.write("own-message.txt", b"Go on?")
    script = env.write("own-script.txt", b"$Flag=1\r\n")
    exe, _ = env.pack_files()
    archive = env.write("own.lzh", read(exe)[sfx.archive_offset(read(exe)):])
    stub = env.write("own-stub.bin", sfx.bare_stub())
    a, inner = os.path.join(top, "a.txt"), os.path.join(top, "folder", "inner.txt")
    kinds = [
        ("a PATH file", a, ["-C", top, "a.txt"]),
        ("a file inside a PATH folder", inner, ["-C", top, "folder"]),
        ("the stub", stub, ["--stub", stub, "-C", top, "a.txt"]),
        ("the message", message, ["--message", message, "-C", top, "a.txt"]),
        ("the script", script, ["--script", script, "-C", top, "a.txt"]),
        ("the archive", archive, ["--archive", archive]),
    ]
    for label, victim, args in kinds:
        if "--stub" not in args:
            args = ["--stub", env.stub] + args
        symlink, hardlink = env.path("sym-" + label[-4:]), env.path("hard-" + label[-4:])
        for how, out in (("itself", victim), ("a symbolic link", symlink), ("a hard link", hardlink)):
            for link in (symlink, hardlink):
                if os.path.lexists(link):
                    os.remove(link)
            os.symlink(victim, symlink)
            os.link(victim, hardlink)
            before = snapshot(victim)
            listing = sorted(os.listdir(os.path.dirname(out)))
            r = subprocess.run([env.pack, "-o", out] + args, capture_output=True)
            err = r.stderr.decode(errors="replace")
            check(f"-o is {label} ({how}): refused, input kept",
                  r.returncode == 2 and os.path.basename(out) in err and
                  os.path.basename(victim) in err and snapshot(victim) == before and
                  sorted(os.listdir(os.path.dirname(out))) == listing,
                  f"exit {r.returncode}, {err!r}")
    for link in glob.glob(env.path("sym-*")) + glob.glob(env.path("hard-*")):
        os.remove(link)


def names_and_code_pages(env):
    """Names and texts outside ASCII come out of the runner as they were, in 932 (the
    default, with a trail byte 0x5C) and in 1252; what a code page or Windows cannot
    hold is refused."""
    top = os.path.join(env.work, "names")
    jp = {"\u65e5\u672c\u8a9e.txt": b"nihongo", "\u8868/\u30bd\u30d5\u30c8.txt": b"hyo soft"}
    latin = {"caf\u00e9.txt": b"cafe", "\u00dcber/na\u00efve r\u00e9sum\u00e9.txt": b"uber"}
    for files, code_page, title, dest in ((jp, [], "\u65e5\u672c\u8a9e\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7",
                                           "C:\\\u30a2\u30d7\u30ea"),
                                          (latin, ["--codepage", "1252"], "Caf\u00e9 Setup",
                                           "C:\\Caf\u00e9")):
        shutil.rmtree(top, ignore_errors=True)
        for rel, data in files.items():
            write_file(top, rel, data, 1300000000)
        message = env.write("names-message.txt", (title + "?").encode())
        env.count += 1
        exe = env.path(f"out{env.count}.exe")
        r = subprocess.run([env.pack, "-o", exe, "--stub", env.stub, *code_page, "--title", title,
                            "--dir", dest, "--auto-start", "--message", message, "-C", top,
                            *sorted({rel.split("/")[0] for rel in files})], capture_output=True)
        label = code_page[-1] if code_page else "932"
        check(f"names in code page {label} packed", r.returncode == 0, r.stderr.decode())
        root, code, err = env.run(exe, answers="y\n", options=code_page)
        target = os.path.join(root, dest[3:])
        got = {rel: read(os.path.join(target, rel)) for rel in sfx.tree_files(target)} \
            if os.path.isdir(target) else {}
        check(f"names in code page {label} come out as they were", got == files,
              f"{sorted(got)} {err[-300:]}")
        check(f"title and message in code page {label} shown as given",
              f"{title}: {title}?" in err, err[:300])

    # One name in each code page the runner reads too; 950's 許功蓋 have the trail byte 0x5C.
    samples = {"936": "\u4e2d\u6587", "949": "\ud55c\uad6d\uc5b4", "950": "\u8a31\u529f\u84cb",
               "437": "\u00c7\u00e9", "850": "\u00d8\u00df", "1250": "\u0141\u00f3d\u017a",
               "1251": "\u041f\u0440\u0438\u0432\u0435\u0442", "1253": "\u0395\u03bb\u03bb\u03ac\u03b4\u03b1",
               "1254": "\u0130\u011f", "1255": "\u05e9\u05dc\u05d5\u05dd", "1256": "\u0645\u0631\u062d\u0628\u0627",
               "1257": "\u0136\u012b\u013c", "1258": "\u0110\u00f4ng"}
    for code_page, word in samples.items():
        shutil.rmtree(top, ignore_errors=True)
        write_file(top, f"{word}/{word}.txt", word.encode(), 1300000000)
        env.count += 1
        exe = env.path(f"out{env.count}.exe")
        r = subprocess.run([env.pack, "-o", exe, "--stub", env.stub, "--codepage", code_page, "--dir",
                            "C:\\cp", "--auto-start", "-C", top, word], capture_output=True)
        root, code, err = env.run(exe, options=["--codepage", code_page])
        got = sfx.tree_files(os.path.join(root, "cp")) if os.path.isdir(os.path.join(root, "cp")) else []
        check(f"a name in code page {code_page} comes out as it was",
              r.returncode == 0 and got == [os.path.join(word, word + ".txt")], f"{r.stderr!r} {got}")

    def refused(label, names, wanted, *options):
        shutil.rmtree(top, ignore_errors=True)
        for name in names:
            write_file(top, name, b"x", 1300000000)
        expect_refusal(env, label, ["--stub", env.stub, *options, "-C", top, "."], wanted)

    for name, wanted in (("a:b.txt", "\":\""), ("what?.txt", "\"?\""), ("pipe|.txt", "\"|\""),
                         ("esc\x1b[31m.txt", "U+001B"), ("line\nbreak.txt", "U+000A"),
                         ("dot.", "ends in a dot"), ("sub /x.txt", "ends in a space"),
                         ("con.txt", "device name"), ("LPT1", "device name"), ("Aux.tar.gz", "device name")):
        refused(f"name {name!r} refused", [name], wanted)
    refused("superscript digit of a device name refused", ["com\u00b9.txt"], "device name",
            "--codepage", "1252")
    refused("names differing only in case", ["Read.me", "READ.ME"], "only in case")
    refused("folders differing only in case", ["Docs/a.txt", "docs/b.txt"], "only in case")
    refused("accent refused in 932, 1252 named", ["caf\u00e9.txt"], "--codepage 1252")
    refused("kana refused in 1252, 932 named", ["\u30c6.txt"], "--codepage 932", "--codepage", "1252")
    refused("yen refused in 932 (it would come back as a backslash)", ["\u00a5.txt"], "U+005C")
    expect_refusal(env, "title outside the code page names the option",
                   ["--stub", env.stub, "--title", "Caf\u00e9", env.stub], "--title")
    expect_refusal(env, "message outside the code page names the option",
                   ["--stub", env.stub, "--message", env.write("m.txt", "Caf\u00e9".encode()), env.stub],
                   "--message")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pack", required=True)
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        env = Env(os.path.abspath(args.pack), os.path.abspath(args.runner), work)
        for group in (settings_fields, overwrite_switches, message_and_script_members, integrity, refusals,
                      existing_archives, inputs_never_overwritten, names_and_code_pages):
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
