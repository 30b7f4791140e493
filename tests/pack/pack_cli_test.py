#!/usr/bin/env python3
"""kobrix-pack's options as the runner reads them back (record, members,
integrity value, names and texts in each code page), and what it refuses,
leaving no output file behind: stubs without room for the record, missing
inputs, values that do not fit, archives the stub cannot read, an output
that is an input, names Windows or the code page cannot hold."""

import argparse
import glob
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "lib"))
import lzh  # noqa: E402
import sfx  # noqa: E402
from sfx import check, read, write_file  # noqa: E402


class Env:
    def __init__(self, pack, runner, work):
        self.pack_tool, self.runner, self.work, self.count = pack, runner, work, 0
        self.stub = self.write("stub.bin", sfx.bare_stub())
        self.files = os.path.join(work, "files")
        write_file(self.files, "readme.txt", b"Read me.\r\n" * 50, 1300000000)
        write_file(self.files, "docs/guide.txt", b"A guide.\r\n" * 500, 1300000001)

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, data):
        return sfx.write(self.path(name), data)

    def pack(self, *options, top=None, paths=("readme.txt", "docs")):
        """kobrix-pack -o outN.exe --stub STUB OPTIONS -C top PATHS: the output, the result."""
        self.count += 1
        out = self.path(f"out{self.count}.exe")
        r = subprocess.run([self.pack_tool, "-o", out, "--stub", self.stub, *options, "-C", top or self.files,
                            *paths], capture_output=True)
        return out, r

    def run(self, exe, answers="", options=(), args=()):
        """The runner on exe in a root folder of its own: root, exit code, stderr."""
        self.count += 1
        root = self.path(f"root{self.count}")
        os.makedirs(root)
        r = sfx.run_runner(self.runner, exe, args, root=root, answers=answers, options=options)
        return root, r.returncode, r.err

    def listing(self, exe):
        r = sfx.run_runner(self.runner, exe, options=["--list", "--json"], root=self.work)
        return json.loads(r.stdout)

    def refused(self, label, args, wanted, code=1):
        """kobrix-pack fails with code, says wanted, leaves no file behind."""
        out = self.path("refused.exe")
        r = subprocess.run([self.pack_tool, "-o", out] + args, capture_output=True, timeout=120)
        err = r.stderr.decode(errors="replace")
        left = [p for p in os.listdir(self.work) if p == "refused.exe" or p.startswith(".refused.exe.")]
        check(label, r.returncode == code and wanted in err and not left, f"exit {r.returncode}, {err!r}, {left}")


def settings_record(env):
    os.chmod(os.path.join(env.files, "readme.txt"), 0o444)
    exe, _ = env.pack("--title", "Kobrix Test Title", "--install-title", "Put it in", "--dir", "C:\\Pack Dir",
                      "--command", "touch x")
    os.chmod(os.path.join(env.files, "readme.txt"), 0o644)
    doc = env.listing(exe)
    record = {k: doc["record"][k] for k in ("caption", "label", "directory", "command", "flags")}
    check("texts in the record", record == {"caption": "Kobrix Test Title", "label": "Put it in",
                                            "directory": "C:\\Pack Dir", "command": "touch x", "flags": 0}, record)
    check("read-only attribute packed", [m["attributes"] & 1 for m in doc["members"]] == [1, 0, 0], doc["members"])
    for option, bit in (("--auto-start", 1), ("--overwrite", 2), ("--integrity", 4), ("--no-date-check", 8),
                        ("--restore-attributes", 0)):
        record = env.listing(env.pack(option)[0])["record"]
        check(f"{option} in the record", record["flags"] == bit and (record["restore_attributes"] != 0) == (not bit),
              record)


def message_script_and_integrity(env):
    # The message and the script come first (what they say, and the sound
    # integrity value, are the listing's test); one member's CRC field
    # changed, its header CRC made right again, is tampered data.
    exe, r = env.pack("--message", env.write("message.txt", b"Go on?"), "--script",
                      env.write("script.txt", b"$Flag=1\r\n"), "--integrity")
    check("message and script first", [m["name"] for m in env.listing(exe)["members"]][:2] == ["!", "$"])
    data = bytearray(read(exe))
    m = sfx.members(data)[-1]
    data[m.offset + 21] ^= 0x10
    lzh.reseal_header(data, m)
    root, code, err = env.run(env.write("tampered.exe", data), answers="y\n")
    check("changed CRC field: Tampered DATA", "Tampered DATA" in err and code == 0 and not sfx.tree_files(root), err)
    env.refused("message longer than the stub shows", ["--stub", env.stub, "--message",
                                                       env.write("long.txt", b"m" * 1024)], "1023")
    fifo = env.path("fifo")
    os.mkfifo(fifo)
    for args in (["--message", "/dev/zero", env.stub], ["--message", fifo, env.stub], ["--archive", fifo],
                 ["--archive", "/dev/zero"]):
        env.refused(f"{args[:2]} refused at once, neither read for ever nor waited on",
                    ["--stub", env.stub] + args, "not a regular file")
    env.refused("script value longer than its field", ["--stub", env.stub, "--script", env.write(
        "long-title.txt", b"; setup\r\n$WindowTitle=" + b"w" * 41 + b"\r\n")], "line 2")


def refusals(env):
    for name, offset, value in (("bad-paragraphs.bin", 8, 4), ("used-area.bin", 700, 1)):
        stub = sfx.bare_stub()
        stub[offset] = value
        env.refused(f"stub {name}", ["--stub", env.write(name, stub), env.stub], name)
    env.refused("missing input named", ["--stub", env.stub, env.path("no-such-file.txt")], "no-such-file.txt")
    for option, value in (("--title", "t" * 41), ("--method", "lh9"), ("--level", "10"), ("--threads", "2x")):
        env.refused(f"{option} {value}", ["--stub", env.stub, option, value, env.stub], option, code=2)
    deep = os.path.join(env.work, "n" * 200)
    write_file(deep, "f" * 60, b"x", 1300000000)
    env.refused("member name over 259 bytes", ["--stub", env.stub, "-C", env.work, "n" * 200], "259")
    shutil.rmtree(deep)
    with open(env.path("huge.bin"), "wb") as f:
        f.truncate(4 << 30)  # sparse: no disk space taken
    env.refused("member of 4 GiB", ["--stub", env.stub, env.path("huge.bin")], "huge.bin: 4 GiB")
    os.remove(env.path("huge.bin"))
    keep = env.write("keep.exe", b"previous")
    subprocess.run([env.pack_tool, "-o", keep, "--stub", env.stub, env.path("missing")], capture_output=True)
    check("a failed run leaves the old output alone", read(keep) == b"previous")
    # The default stub is kobrix-stub.exe beside kobrix-pack.
    os.makedirs(env.path("bin"))
    shutil.copy(env.pack_tool, env.path("bin/pack"))
    shutil.copy(env.stub, env.path("bin/kobrix-stub.exe"))
    r = subprocess.run([env.path("bin/pack"), "-o", env.path("default.exe"), env.stub], capture_output=True)
    check("default stub beside kobrix-pack", r.returncode == 0, r.stderr.decode())


def existing_archives(env):
    exe, _ = env.pack()
    data = read(exe)
    own = data[sfx.archive_offset(data):]
    out = env.path("from-archive.exe")
    r = subprocess.run([env.pack_tool, "-o", out, "--stub", env.stub, "--archive", env.write("own.lzh", own),
                        "--integrity", "--dir", "C:\\Arc"], capture_output=True)
    check("--archive puts the archive behind the stub unchanged", r.returncode == 0 and read(out).endswith(own),
          r.stderr.decode())
    # A signature goes behind the file (osslsigncode), right behind the archive when the length is a
    # multiple of 8, where a 2-byte header size is read: the end reads as 0 whatever follows, for our
    # archives and for one closed by a single zero byte, or by none, as other tools write them.
    signature = struct.pack("<IHH", 0x5C8, 0x200, 2) + b"\x30\x82\x05\xbf"
    for name, archive in (("integrity", None), ("one-zero", own[:-1]), ("no-zero", own[:-2])):
        if archive is not None:
            out = env.path(f"from-{name}.exe")
            subprocess.run([env.pack_tool, "-o", out, "--stub", env.stub, "--archive",
                            env.write(f"{name}.lzh", archive), "--dir", "C:\\Arc"], capture_output=True)
        root, code, err = env.run(env.write(f"signed-{name}.exe", read(out) + signature), args=["-n"])
        check(f"a signature behind the archive ({name}) is not read as a header",
              code == 1 and sfx.tree_files(root) == ["Arc/docs/guide.txt", "Arc/readme.txt"] and
              "Tampered" not in err, err)
    broken = bytearray(own)
    broken[5] = ord("9")
    env.refused("--archive with a bad method", ["--stub", env.stub, "--archive", env.write("broken.lzh", broken)],
                "offset 0")
    for label, dirname in (("rooted", b"\xffetc\xff"), ("climbing", b"a\xff..\xff..\xff"), ("drive", b"C:\xff")):
        away = lzh.archive(lzh.member(b"x.txt", b"x"), lzh.member(b"y.txt", b"y", dirname=dirname))
        env.refused(f"--archive with a {label} name", ["--stub", env.stub, "--archive",
                    env.write(f"{label}.lzh", away)], "outside the extraction folder")


def inputs_never_overwritten(env):
    """-o naming any input, itself or through a link: exit 2, both named, the
    input as it was, nothing else written."""
    top = os.path.join(env.work, "own")
    a = write_file(top, "a.txt", b"input a", 1300000000)
    inner = write_file(top, "folder/inner.txt", b"inner", 1300000000)
    message, script = env.write("own-message.txt", b"Go on?"), env.write("own-script.txt", b"$Flag=1\r\n")
    data = read(env.pack()[0])
    archive = env.write("own.lzh", data[sfx.archive_offset(data):])
    stub = env.write("own-stub.bin", sfx.bare_stub())
    for label, victim, args in [("a PATH file", a, ["-C", top, "a.txt"]),
                                ("a file inside a PATH folder", inner, ["-C", top, "folder"]),
                                ("the stub", stub, ["-C", top, "a.txt"]),
                                ("the message", message, ["--message", message, "-C", top, "a.txt"]),
                                ("the script", script, ["--script", script, "-C", top, "a.txt"]),
                                ("the archive", archive, ["--archive", archive])]:
        args = ["--stub", stub if victim == stub else env.stub] + args
        for how in ("itself", "a symbolic link", "a hard link"):
            out = victim if how == "itself" else env.path("link")
            if how != "itself":
                (os.symlink if how == "a symbolic link" else os.link)(victim, out)
            before = read(victim), os.stat(victim).st_mtime_ns, sorted(os.listdir(os.path.dirname(out)))
            r = subprocess.run([env.pack_tool, "-o", out] + args, capture_output=True)
            err = r.stderr.decode(errors="replace")
            after = read(victim), os.stat(victim).st_mtime_ns, sorted(os.listdir(os.path.dirname(out)))
            check(f"-o is {label} ({how}): refused, input kept", r.returncode == 2 and os.path.basename(out) in err
                  and os.path.basename(victim) in err and after == before, f"exit {r.returncode}, {err!r}")
            if how != "itself":
                os.remove(out)


def names_and_code_pages(env):
    """A name, title and message in each code page come out of the runner as
    given (932 the default; 表 and 許功蓋 have the trail byte 0x5C); what a
    code page or Windows cannot hold is refused."""
    top = os.path.join(env.work, "names")
    samples = {"932": "\u8868\u30bd\u30d5\u30c8", "1252": "Caf\u00e9 \u00dcber", "936": "\u4e2d\u6587",
               "949": "\ud55c\uad6d\uc5b4", "950": "\u8a31\u529f\u84cb", "437": "\u00c7\u00e9", "850": "\u00d8\u00df",
               "1250": "\u0141\u00f3d\u017a", "1251": "\u041f\u0440\u0438\u0432\u0435\u0442",
               "1253": "\u0395\u03bb\u03bb\u03ac\u03b4\u03b1", "1254": "\u0130\u011f",
               "1255": "\u05e9\u05dc\u05d5\u05dd",
               "1256": "\u0645\u0631\u062d\u0628\u0627", "1257": "\u0136\u012b\u013c", "1258": "\u0110\u00f4ng"}
    for code_page, word in samples.items():
        shutil.rmtree(top, ignore_errors=True)
        write_file(top, f"{word}/{word}.txt", word.encode(), 1300000000)
        cp = [] if code_page == "932" else ["--codepage", code_page]
        exe, r = env.pack(*cp, "--title", word, "--dir", "C:\\" + word, "--auto-start", "--message",
                          env.write("m.txt", (word + "?").encode()), top=top, paths=[word])
        root, code, err = env.run(exe, answers="y\n", options=cp)
        got = sfx.tree_files(os.path.join(root, word)) if os.path.isdir(os.path.join(root, word)) else []
        check(f"name, title and message in code page {code_page}", r.returncode == 0 and f"{word}: {word}?" in err
              and got == [os.path.join(word, word + ".txt")], f"{r.stderr!r} {got} {err[-300:]}")

    def refused(label, names, wanted, *options):
        shutil.rmtree(top, ignore_errors=True)
        for name in names:
            write_file(top, name, b"x", 1300000000)
        env.refused(label, ["--stub", env.stub, *options, "-C", top, "."], wanted)

    for name, wanted in (("a:b.txt", "\":\""), ("pipe|.txt", "\"|\""), ("esc\x1b[31m.txt", "U+001B"),
                         ("dot.", "ends in a dot"), ("sub /x.txt", "ends in a space"), ("Aux.tar.gz", "device name")):
        refused(f"name {name!r} refused", [name], wanted)
    refused("superscript digit of a device name", ["com\u00b9.txt"], "device name", "--codepage", "1252")
    refused("names differing only in case", ["Read.me", "READ.ME"], "only in case")
    refused("folders differing only in case", ["Docs/a.txt", "docs/b.txt"], "only in case")
    refused("accent refused in 932, 1252 named", ["caf\u00e9.txt"], "--codepage 1252")
    refused("kana refused in 1252, 932 named", ["\u30c6.txt"], "--codepage 932", "--codepage", "1252")
    refused("yen refused in 932 (it would come back as a backslash)", ["\u00a5.txt"], "U+005C")
    env.refused("title outside the code page", ["--stub", env.stub, "--title", "Caf\u00e9", env.stub], "--title")
    env.refused("message outside the code page", ["--stub", env.stub, "--message",
                                                  env.write("m.txt", "Caf\u00e9".encode()), env.stub], "--message")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pack", required=True)
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        env = Env(os.path.abspath(args.pack), os.path.abspath(args.runner), work)
        for group in (settings_record, message_script_and_integrity, refusals, existing_archives,
                      inputs_never_overwritten, names_and_code_pages):
            try:
                group(env)
            except Exception as e:  # a crash of one group fails it and lets the others run
                check(group.__name__, False, repr(e))
        stray = glob.glob(os.path.join(work, ".*.exe.*"))
        check("no temporary files left", not stray, str(stray))
    return sfx.report()


if __name__ == "__main__":
    sys.exit(main())
