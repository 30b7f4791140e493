#!/usr/bin/env python3
"""End-to-end runs of the native runner on self-extracting files of exact
shapes: the switches, the directory question, the message member, the
overwrite rules, CRC errors, the integrity value, attributes, times, names
that would leave the extraction directory, code pages, Ctrl-C, and the
installation actions: the files a script's "$Class=" and "$Group=" lines
leave under a scratch $XDG_DATA_HOME, the question before a registration and
the command started in the extraction directory only after a clean run."""

import argparse
import os
import pty
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "lib"))
import lzh  # noqa: E402
import sfx  # noqa: E402
from payload import write_file  # noqa: E402

RUNNER = None
T_OLD = 1262322000   # 2010-01-01
T_NEW = 1700000000   # 2023-11-14


class Case:
    def __init__(self, work):
        self.work = work
        self.root = os.path.join(work, "root")
        self.dest = os.path.join(work, "dest")
        os.makedirs(self.root)

    def sfx(self, arc, **settings):
        path = os.path.join(self.work, "setup.exe")
        sfx.write_sfx(path, arc, **settings)
        return path

    def run(self, arc, args=(), answers="", settings=None, env=None, options=(), terminal=False,
            cwd=None):
        """Runs arc; with terminal, standard input is a pseudo terminal on
        which the answers are typed ahead."""
        path = self.sfx(arc, **(settings or {}))
        tty = pty.openpty() if terminal else None
        if tty:
            os.write(tty[0], answers.encode())
        try:
            r = sfx.run_runner(RUNNER, path, list(args), root=self.root, answers=answers, env=env,
                               options=options, stdin=tty[1] if tty else None, cwd=cwd)
        finally:
            for fd in tty or ():
                os.close(fd)
        self.raw_err = r.stderr
        return r.returncode, r.stderr.decode("utf-8", "replace")

    def read(self, *parts):
        with open(os.path.join(self.dest, *parts), "rb") as f:
            return f.read()

    def exists(self, *parts):
        return os.path.exists(os.path.join(self.dest, *parts))


def three_members(times=(T_NEW, T_NEW, T_NEW)):
    return [lzh.member(b"a.txt", b"alpha\n" * 100, time=times[0]),
            lzh.member(b"b.txt", b"bravo\n" * 100, time=times[1], dirname=b"sub\xff"),
            lzh.member(b"c.txt", b"charlie\n" * 100, time=times[2])]


def test_auto_start_and_switches(c):
    arc = lzh.archive(*three_members())
    # A directory given outside the root is made with the folders on the way to it.
    c.dest = os.path.join(c.work, "made", "on the way", "dest")
    code, err = c.run(arc, ["-n", c.dest])
    assert code == 1, err
    assert c.read("a.txt") == b"alpha\n" * 100 and c.read("sub", "b.txt") == b"bravo\n" * 100
    # Settings bit 0 starts by itself; "-N-" in capitals turns it off, and the
    # question's end of input is Cancel: nothing is written, exit code 0.
    code, err = c.run(arc, ["-N-", os.path.join(c.work, "other")], settings={"flags": 1})
    assert code == 0 and not os.path.exists(os.path.join(c.work, "other")), err
    # "$Flag=1" in the script starts by itself; 257 takes it back.
    for flag, started in ((b"1", True), (b"257", False)):
        # The archive's own directory lies on drive C:, the root folder.
        target = os.path.join(c.root, "flag" + flag.decode())
        script = lzh.member(b"$", b"$Flag=" + flag + b"\r\n$InstallDir=C:\\flag" + flag + b"\r\n")
        code, err = c.run(lzh.archive(script, *three_members()))
        assert (code == 1) == started and os.path.isdir(target) == started, (flag, code, err)


def test_directory_question(c):
    arc = lzh.archive(*three_members())
    # A network path is refused and asked again; quotes are removed.
    quoted = '"' + c.dest[:5] + '"' + c.dest[5:]
    code, err = c.run(arc, [], answers="\\\\server\\share\n" + quoted + "\n")
    assert code == 1, err
    assert "Invalid directory" in err
    assert c.read("c.txt") == b"charlie\n" * 100


def test_message_member(c):
    # The message alone keeps its line breaks.
    arc = lzh.archive(lzh.member(b"!", b"Install\r\nthe example?"), *three_members())
    code, err = c.run(arc, ["-n", c.dest], answers="n\n")
    assert code == 0 and not os.path.exists(c.dest), err
    assert "Install\nthe example?" in err
    code, err = c.run(arc, ["-n", c.dest], answers="y\n")
    assert code == 1 and c.exists("a.txt"), err


def test_overwrite_rules(c):
    arc = lzh.archive(*three_members(times=(T_OLD, T_OLD, T_OLD)))
    # An existing file at least as new is skipped silently, even with bit 1.
    write_file(c.dest, "a.txt", b"mine", T_NEW)
    code, err = c.run(arc, ["-n", c.dest], settings={"flags": 2})
    assert code == 1 and c.read("a.txt") == b"mine" and "Overwrite?" not in err, err
    # "-c": the question comes; No keeps the file, Yes replaces it.
    code, err = c.run(arc, ["-c", "-n", c.dest], answers="n\ny\ny\n")
    assert code == 1 and c.read("a.txt") == b"mine" and "Overwrite?" in err, err
    code, err = c.run(arc, ["-c", "-n", c.dest], answers="y\ny\ny\n")
    assert code == 1 and c.read("a.txt") == b"alpha\n" * 100, err
    # Cancel stops the pass: later members are not written, nothing deleted.
    os.remove(os.path.join(c.dest, "c.txt"))
    write_file(c.dest, "sub/b.txt", b"old b", T_OLD - 100)
    code, err = c.run(arc, ["-c", "-n", c.dest], answers="y\nc\n")
    assert code == 1 and c.read("sub", "b.txt") == b"old b" and not c.exists("c.txt"), err
    # An older file is replaced without a question when bit 1 says so.
    write_file(c.dest, "a.txt", b"older", T_OLD - 1000)
    code, err = c.run(arc, ["-n", c.dest], settings={"flags": 2})
    assert code == 1 and c.read("a.txt") == b"alpha\n" * 100 and "Overwrite?" not in err, err


def test_damage_found_by_the_scan_or_the_pass(c):
    # An archive cut in its last member's data is refused by the scan:
    # exit code 0, nothing written.
    members = three_members()
    code, err = c.run(lzh.archive(*members)[:-20], ["-n", c.dest])
    assert code == 0 and "Unexpeted EOF" in err and not os.path.exists(c.dest), err
    # A CRC error stops the pass: what came before stays.
    bad = bytearray(members[1])
    bad[-5] ^= 0x20  # a byte of b.txt's data
    arc = lzh.archive(members[0], bytes(bad), members[2])
    code, err = c.run(arc, ["-n", c.dest])
    assert code == 1 and "CRC ERROR" in err, err
    assert c.read("a.txt") == b"alpha\n" * 100
    assert not c.exists("sub", "b.txt") and not c.exists("c.txt")


def test_integrity_value(c):
    members = three_members()
    check = 0
    for m in members:
        check ^= struct.unpack_from("<H", m, 21)[0]
    arc = struct.pack("<H", check) + lzh.archive(*members)
    code, err = c.run(arc, ["-n", c.dest], settings={"flags": 4})
    assert code == 1 and c.exists("c.txt"), err
    # One member's file-CRC field changed, its header CRC made right again.
    tampered = lzh.member(b"b.txt", b"bravo\n" * 100, dirname=b"sub\xff", time=T_NEW,
                          crc=lzh.crc16(b"bravo\n" * 100) ^ 1)
    arc = struct.pack("<H", check) + lzh.archive(members[0], tampered, members[2])
    code, err = c.run(arc, ["-n", os.path.join(c.work, "t")], settings={"flags": 4})
    assert code == 0 and "Tampered DATA" in err, err
    assert not os.path.exists(os.path.join(c.work, "t"))


def test_attributes_and_times(c):
    ro = lzh.member(b"ro.txt", b"read only", attr=0x21, time=T_OLD)
    wt = lzh.member(b"w.txt", b"windows times", os_id=b"W", time=T_OLD,
                    windows_times=(T_OLD, T_NEW, T_NEW + 7))
    arc = lzh.archive(ro, wt)
    code, err = c.run(arc, ["-n", c.dest], settings={"restore_attributes": 47})
    assert code == 1, err
    mode = os.stat(os.path.join(c.dest, "ro.txt")).st_mode
    assert not mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH), oct(mode)
    assert int(os.stat(os.path.join(c.dest, "ro.txt")).st_mtime) == T_OLD
    st = os.stat(os.path.join(c.dest, "w.txt"))
    assert int(st.st_mtime) == T_NEW and int(st.st_atime) == T_NEW + 7, (st.st_mtime, st.st_atime)
    # The read-only file again, with "-c" and Yes: with restore_attributes it
    # is replaced (without, it is not: the seam's unit test, for root too).
    code, err = c.run(arc, ["-c", "-n", c.dest], answers="y\ny\n",
                      settings={"restore_attributes": 47})
    assert code == 1 and "ERROR" not in err, err


def test_names_stay_inside(c):
    evil = lzh.member(b"evil.txt", b"x", dirname=b"a\xff..\xff..\xff")
    after = lzh.member(b"after.txt", b"y")
    code, err = c.run(lzh.archive(lzh.member(b"first.txt", b"1"), evil, after), ["-n", c.dest])
    assert code == 1 and "Open ERROR" in err, err
    assert not os.path.exists(os.path.join(c.work, "evil.txt"))
    assert not os.path.exists(os.path.join(os.path.dirname(c.work), "evil.txt"))
    assert c.exists("first.txt") and not c.exists("after.txt")
    # A rooted name, a drive and a directory macro map into the root folder.
    arc = lzh.archive(lzh.member(b"boot.ini", b"b", dirname=b"\xff"),
                      lzh.member(b"x.txt", b"x", dirname=b"C:\xff"),
                      lzh.member(b"a.fon", b"f", dirname=b"%WinDir%\xfffonts\xff"))
    code, err = c.run(arc, ["-n", c.dest])
    assert code == 1, err
    for rel in ("boot.ini", "x.txt", os.path.join("WINDOWS", "fonts", "a.fon")):
        assert os.path.isfile(os.path.join(c.root, rel)), (rel, sfx.tree_files(c.root))


def test_default_directory_stays_in_root(c):
    # The archive's own directory, auto-started and overwriting without a
    # question: ".." in any spelling stops at the root, and nothing beside
    # the root changes.
    cwd = os.path.join(c.work, "cwd")
    write_file(c.work, "victim/.profile", b"mine", T_OLD)
    os.makedirs(cwd)
    arc = lzh.archive(lzh.member(b".profile", b"owned", time=T_NEW))
    spellings = [(b"C:\\..\\victim", "victim"), (b"..\\victim", "victim"),
                 (b"D:\\..\\..\\..", ""), (b"\\..\\..\\victim", "victim"),
                 (b"c:/../victim/./", "victim"), (b"%ProgramFiles%\\..\\..\\..\\victim", "victim")]
    cases = [(dir, None, where) for dir, where in spellings]
    cases += [(b"", b"$InstallDir=" + dir + b"\r\n", where) for dir, where in spellings[:2]]
    for install_dir, script, where in cases:
        shutil.rmtree(c.root)
        os.makedirs(c.root)
        leave_out = {c.root, os.path.join(c.work, "setup.exe")}
        before = sfx.snapshot(c.work, leave_out)
        members = ([lzh.member(b"$", script)] if script else []) + [arc[:-1]]
        code, err = c.run(lzh.archive(*members), cwd=cwd,
                          settings={"flags": 1 | 2 | 8, "install_dir": install_dir})
        assert code == 1, (install_dir, script, err)
        assert sfx.snapshot(c.work, leave_out) == before, (install_dir, script, err)
        target = os.path.join(c.root, where, ".profile")
        assert open(target, "rb").read() == b"owned", (install_dir, sfx.tree_files(c.root))


def test_default_root_is_the_runners_own(c):
    # Without --root, drive C: is $XDG_DATA_HOME/kobrix/drive_c (made when
    # missing), never the current directory: a rooted member run from the
    # home folder, with the extraction directory elsewhere, stays there.
    home = os.path.join(c.work, "home")
    write_file(home, ".bashrc", b"mine", T_OLD)
    arc = lzh.archive(lzh.member(b".bashrc", b"owned", dirname=b"\xff"),
                      lzh.member(b"a.txt", b"a"))
    path = c.sfx(arc)
    for xdg, drive_c in (("", os.path.join(home, ".local/share/kobrix/drive_c")),
                         (os.path.join(c.work, "data"), os.path.join(c.work, "data/kobrix/drive_c"))):
        r = sfx.run_runner(RUNNER, path, ["-n", c.dest], env={"HOME": home, "XDG_DATA_HOME": xdg},
                           cwd=home)
        err = r.stderr.decode("utf-8", "replace")
        assert r.returncode == 1 and c.read("a.txt") == b"a", err
        assert "Drive C: is " + drive_c in err, err
        assert open(os.path.join(drive_c, ".bashrc"), "rb").read() == b"owned", err
        assert open(os.path.join(home, ".bashrc"), "rb").read() == b"mine"


# Swaps a folder and a link to a folder outside, back and forth, each swap
# one atomic exchange of the two names (renameat2 RENAME_EXCHANGE).
SWAPPER = """
import ctypes, os, sys, time
folder, outside, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
libc = ctypes.CDLL(None, use_errno=True)
exchange = lambda a, b: libc.renameat2(-100, a.encode(), -100, b.encode(), 2)
os.symlink(outside, folder + ".swap")
end = time.time() + seconds
while time.time() < end:
    for _ in range(1000):
        exchange(folder, folder + ".swap")
"""


def test_folder_swapped_for_a_link_during_the_extraction(c):
    # A local user who may write in the extraction directory swaps a folder
    # of it for a link to a folder outside, in a loop, while the runner (as
    # root where the test runs as root) extracts into it again and again,
    # replacing every file; every other run deletes a member for its CRC
    # error. Nothing outside is written or deleted.
    seconds = 4.0
    os.chmod(c.work, 0o755)
    outside = os.path.join(c.work, "outside")
    for i in range(200):
        write_file(outside, f"f{i}.txt", b"outside", T_OLD)
    write_file(outside, "bad.txt", b"outside", T_OLD)
    os.makedirs(c.dest)
    attacker = [sys.executable, "-c", SWAPPER, os.path.join(c.dest, "sub"), outside, str(seconds)]
    if os.geteuid() == 0 and shutil.which("setpriv"):
        os.chown(c.dest, 65534, 65534)
        attacker = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + attacker
    before = sfx.snapshot(outside)
    members = [lzh.member(f"f{i}.txt".encode(), b"inside %d" % i, dirname=b"sub\xff")
               for i in range(200)]
    members += [lzh.member(b"f%d.txt" % i, b"deep", dirname=b"sub\xffdeep\xff") for i in range(20)]
    # Every other run writes bad.txt first and deletes it for its CRC error.
    bad = lzh.member(b"bad.txt", b"bad data", dirname=b"sub\xff", crc=1)
    setups = [os.path.join(c.work, n) for n in ("many.exe", "bad.exe")]
    sfx.write_sfx(setups[0], lzh.archive(*members), flags=2)
    sfx.write_sfx(setups[1], lzh.archive(bad, *members), flags=2)
    swapper = subprocess.Popen(attacker)
    runs = 0
    try:
        end = time.time() + seconds
        while time.time() < end:
            r = sfx.run_runner(RUNNER, setups[runs % 2], ["-c", "-n", c.dest], root=c.root)
            assert r.returncode == 1, r.stderr
            runs += 1
    finally:
        swapper.wait(30)
    after = sfx.snapshot(outside)
    assert swapper.returncode == 0, "the swapper failed"
    assert runs > 20, runs
    assert after == before, (runs, [p for p in set(before) | set(after)
                                    if before.get(p) != after.get(p)][:5])


def test_member_stops_at_its_declared_size(c):
    # A few bytes that decode to 16 MiB of zero bytes in 256-byte matches, in
    # a member that declares less (CRC 0): the last match is cut at the size.
    declared = 3000037
    zeros = lzh.member(b"zeros.bin", lzh.constant_blocks([(0, 509, 0)]), method=b"-lh5-",
                       size=declared, crc=0)
    code, err = c.run(lzh.archive(zeros, lzh.member(b"after.txt", b"a")), ["-n", c.dest])
    assert code == 1 and "ERROR" not in err, err
    assert os.path.getsize(os.path.join(c.dest, "zeros.bin")) == declared
    assert c.read("after.txt") == b"a"


def test_escape_sequences_never_reach_the_terminal(c):
    # Window title, clipboard (OSC 52), erase line, hidden text and the C1
    # CSI 0x9B (code page 819, Latin-1) in every text the runner shows: the
    # settings record's texts, the message, a member's name (progress and
    # the overwrite question), the check boxes and the command question.
    esc = b"\x1b]0;t\x07\x1b]52;c;aGk=\x07\x1b[2K\x1b[8m\x9b2J"
    escaped = "\\x1b]0;t\\x07\\x1b]52;c;aGk=\\x07\\x1b[2K\\x1b[8m\\x9b2J"
    texts = {"title": b"Caption" + esc, "label": b"Label" + esc, "directory": b"C:\\Dir" + esc,
             "command": b"sh -c x" + esc}
    # A script's line ends at a C0 byte: DEL and C1 there.
    script = b"$GroupTitle=Menu\x7f\x9b2J\r\n$ClassTitle=Types\x7f\x9b2J\r\n"
    name = b"n\x1b[8m\x9b2J.txt"
    arc = lzh.archive(lzh.member(b"!", b"Message" + esc), lzh.member(b"$", script),
                      lzh.member(name, b"data"))
    write_file(c.dest, name.decode("latin-1"), b"old", T_OLD)
    sfx.write_sfx(os.path.join(c.work, "setup.exe"), arc, texts=texts)
    r = sfx.run_runner(RUNNER, os.path.join(c.work, "setup.exe"), ["-c"], root=c.root,
                       options=["--codepage", "819"], answers=f"y\n{c.dest}\ny\ny\ny\n")
    shown = r.stderr.decode("utf-8", "replace")
    assert r.returncode == 1 and c.read(name.decode("latin-1")) == b"data", shown
    for raw in (b"\x1b", b"\x07", b"\x7f", b"\xc2\x9b"):
        assert raw not in r.stderr, (raw, shown)
    for text in ("Caption", "Label", "Dir", "Message", "-c x"):
        assert text + escaped in shown, (text, shown)
    for text in ("Menu", "Types"):
        assert text + "\\x7f\\x9b2J" in shown, (text, shown)
    assert "n\\x1b[8m\\x9b2J.txt\" Overwrite?" in shown and "Not run" in shown, shown
    # A file that is not a self-extracting file is said to be none, its
    # text unseen; so is its name, a bidi override and escapes in it.
    notes = os.path.join(c.work, "notes\u202e\x1b]0;t\x07\u009b.txt")
    with open(notes, "w") as f:
        f.write("root:x:0:0:root:/root:/bin/sh\x1b[2J\n")
    fifo = os.path.join(c.work, "fifo")  # would block a plain open
    os.mkfifo(fifo)
    for path in (notes, "/etc/passwd", fifo):
        r = sfx.run_runner(RUNNER, path, ["-n", c.dest], root=c.root, timeout=20)
        assert r.returncode == 2 and b"not a self-extracting file" in r.stderr, r.stderr
        for raw in (b"\x1b", b"\x07", b"\xc2\x9b", "\u202e".encode(), b"root:"):
            assert raw not in r.stderr, (raw, r.stderr)


def test_code_pages(c):
    # 932 by default, 1252, and names other tools wrote in UTF-8.
    for code_page, name, dirname, written in (
            (None, b"\x83\x65\x83\x58\x83\x67.txt", None, ("\u30c6\u30b9\u30c8.txt",)),
            ("1252", b"\xe9t\xe9.txt", None, ("\u00e9t\u00e9.txt",)),
            ("65001", "caf\u00e9.txt".encode(), "\u65e5\u672c".encode() + b"\xff",
             ("\u65e5\u672c", "caf\u00e9.txt"))):
        arc = lzh.archive(lzh.member(name, name, dirname=dirname))
        code, err = c.run(arc, ["-n", c.dest], options=("--codepage", code_page) if code_page else ())
        assert code == 1 and c.read(*written) == name, (err, sfx.tree_files(c.dest))


def wait_for(proc_err, text, deadline):
    seen = b""
    while time.time() < deadline:
        chunk = os.read(proc_err, 4096)
        if not chunk:
            break
        seen += chunk
        if text.encode() in seen:
            return seen
    raise AssertionError(f"{text!r} never shown: {seen[-300:]!r}")


def test_ctrl_c(c):
    arc = lzh.archive(*three_members())
    path = c.sfx(arc)
    # Before the extraction: exit code 0, nothing written.
    p = subprocess.Popen([RUNNER, "--root", c.root, path], stdin=subprocess.PIPE,
                         stderr=subprocess.PIPE, stdout=subprocess.DEVNULL)
    wait_for(p.stderr.fileno(), "Directory", time.time() + 30)
    p.send_signal(signal.SIGINT)
    assert p.wait(30) == 0 and not os.path.exists(c.dest)
    # During it: the run is stopped as b.txt begins, Ctrl-C is sent, and the
    # next progress report ends the run with 1; b.txt is deleted, a.txt stays.
    big = lzh.member(b"b.txt", os.urandom(64 << 20), dirname=b"sub\xff", crc=0)
    path = c.sfx(lzh.archive(three_members()[0], big, three_members()[2]))
    p = subprocess.Popen([RUNNER, "--root", c.root, path, "-n", c.dest],
                         stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         stdout=subprocess.DEVNULL)
    wait_for(p.stderr.fileno(), "b.txt", time.time() + 30)
    p.send_signal(signal.SIGSTOP)
    p.send_signal(signal.SIGINT)
    p.send_signal(signal.SIGCONT)
    assert p.wait(30) == 1
    assert c.exists("a.txt") and not c.exists("sub", "b.txt") and not c.exists("c.txt")
    # At the overwrite question Ctrl-C answers Cancel: the pass stops there
    # and deletes nothing.
    write_file(c.dest, "a.txt", b"old", T_OLD)
    p = subprocess.Popen([RUNNER, "--root", c.root, path, "-c", "-n", c.dest],
                         stdin=subprocess.PIPE, stderr=subprocess.PIPE,
                         stdout=subprocess.DEVNULL)
    wait_for(p.stderr.fileno(), "Overwrite?", time.time() + 30)
    time.sleep(0.2)
    p.send_signal(signal.SIGINT)
    assert p.wait(30) == 1
    assert c.read("a.txt") == b"old" and not c.exists("sub", "b.txt")


INSTALL_SCRIPT = (
    "$InstallDir=C:\\Example\r\n"
    "$GroupTitle=Add to the &Start Menu\r\n"
    "$Group=Example App,Example App,EXAMPLE.EXE,\r\n"
    "$Group=Example App,Read Me,README.TXT\r\n"
    "$ClassTitle=Register .exd &files\r\n"
    "$Class=.EXD,Example Data,EXAMPLE.EXE,ExampleData\r\n")
README = b"Read me first.\r\n"


def install(c, script, answers, readme_crc=None, options=("--run-command",), terminal=False,
            old_readme=False):
    """Runs an archive of script, EXAMPLE.EXE and README.TXT with
    $XDG_DATA_HOME in the scratch folder and a stand-in for xdg-open that
    notes where and with what it ran. Returns the exit code, stderr, seconds
    and the files written under the data folder but the caches that
    update-mime-database makes. With old_readme an older README.TXT waits in
    the extraction directory, so that the overwrite question comes."""
    c.data, c.opened, c.app = (os.path.join(c.work, n) for n in ("data", "opened.txt", "root/Example"))
    opener = os.path.join(c.work, "bin", "xdg-open")
    os.makedirs(os.path.dirname(opener))
    with open(opener, "w") as f:
        f.write(f'#!/bin/sh\n{{ pwd; echo "$@"; }} > "{c.opened}.tmp"\n'
                f'mv "{c.opened}.tmp" "{c.opened}"\n')
    os.chmod(opener, 0o755)
    arc = lzh.archive(lzh.member(b"$", script.encode("latin-1")),
                      lzh.member(b"EXAMPLE.EXE", b"MZ not really a program\r\n"),
                      lzh.member(b"README.TXT", README, crc=readme_crc))
    if old_readme:
        write_file(c.app, "README.TXT", b"old", T_OLD)
    began = time.monotonic()
    path = os.path.dirname(opener) + ":" + os.environ["PATH"]
    code, err = c.run(arc, ["-c"] if old_readme else [], answers=answers, options=options,
                      terminal=terminal, env={"XDG_DATA_HOME": c.data, "PATH": path})
    seconds = time.monotonic() - began
    own = [os.path.join(top, f) for top in ("applications", "mime/packages")
           for f in sfx.tree_files(os.path.join(c.data, top))]
    return code, err, seconds, sorted(own)


def text_of(*parts):
    with open(os.path.join(*parts), encoding="utf-8") as f:
        return f.read()


def appears(path, seconds=5.0):
    """Whether path appears within seconds; the files are written whole (renamed)."""
    end = time.monotonic() + seconds
    while not os.path.exists(path) and time.monotonic() < end:
        time.sleep(0.02)
    return os.path.exists(path)


def test_install_lines_become_desktop_files(c):
    # The command starts a program from the search path in the extraction
    # directory and is not waited for. An extension or a class key with other
    # than letters, digits and "._+-" (the glob "*.*" would open every file
    # with the program), and a "$Group=" field that would add a command of
    # its own, are skipped with a note; a bracket as the trail byte of a
    # Shift-JIS character is none (0x81 0x5B, the long vowel mark of "データ").
    command = '$Command=sh -c "sleep 2; pwd > started.tmp; mv started.tmp started.txt"\r\n'
    hostile = ("$Class=.*,Every file,EXAMPLE.EXE,AllFiles\r\n"
               "$Class=.ex2,Dotted key,EXAMPLE.EXE,.ExampleData\r\n"
               "$Group=Example App,Evil)][AddItem(README.TXT,Injected,EXAMPLE.EXE\r\n"
               "$Group=Example App,\x83\x66\x81\x5b\x83\x5e,README.TXT\r\n")
    code, err, seconds, own = install(c, INSTALL_SCRIPT + hostile + command, "\ny\ny\n")
    assert code == 1, err
    assert "file type .* of class AllFiles skipped" in err, err
    assert "of class .ExampleData skipped" in err and "line for Evil" in err, err
    assert seconds < 1.8, f"the command was waited for: {seconds:.1f} s"
    assert appears(os.path.join(c.app, "started.txt"))
    assert text_of(c.app, "started.txt") == c.app + "\n"
    assert own == ["applications/Example_App/kobrix-Example_App-Example_App.desktop",
                   "applications/Example_App/kobrix-Example_App-Read_Me.desktop",
                   "applications/Example_App/kobrix-Example_App-\u30c7\u30fc\u30bf.desktop",
                   "applications/kobrix-exampledata.desktop",
                   "mime/packages/kobrix-exampledata.xml"], own
    entry = text_of(c.data, "applications", "kobrix-exampledata.desktop")
    assert f'Exec="{c.app}/EXAMPLE.EXE" %f' in entry, entry
    if shutil.which("update-mime-database"):
        assert "application/x-kobrix-exampledata:*.exd" in text_of(c.data, "mime", "globs2")


def test_install_cleared_check_boxes_write_nothing(c):
    code, err, _, _ = install(c, INSTALL_SCRIPT + "$Command=README.TXT\r\n", "\nn\nn\n")
    assert code == 1, err
    assert not os.path.exists(c.data), sfx.tree_files(c.data)
    # A document is opened with xdg-open, in the extraction directory.
    assert appears(c.opened) and text_of(c.opened) == f"{c.app}\n{c.app}/README.TXT\n"
    # A program that is nowhere is named as not run.
    shutil.rmtree(c.work + "/bin")
    code, err, _, _ = install(c, INSTALL_SCRIPT + "$Command=no-such-tool -x\r\n", "\nn\nn\n")
    assert code == 1 and "command no-such-tool: not found; not run." in err, err


def test_install_actions_only_after_a_clean_extraction(c):
    # A CRC error, and Cancel at the overwrite question: no line is carried
    # out, the command does not run.
    code, err, _, own = install(c, INSTALL_SCRIPT + "$Command=README.TXT\r\n", "\ny\ny\n",
                                readme_crc=lzh.crc16(README) ^ 1)
    assert code == 1 and "CRC ERROR" in err and own == [], (err, own)
    shutil.rmtree(c.work + "/bin")
    code, err, _, own = install(c, INSTALL_SCRIPT + "$Command=README.TXT\r\n", "\ny\ny\nc\n",
                                old_readme=True)
    assert code == 1 and "Overwrite?" in err and own == [], (err, own)
    time.sleep(0.5)
    assert not os.path.exists(c.opened), "the command ran"


def test_command_runs_only_when_the_user_agrees(c):
    # Asked on a terminal, Enter is No; without a terminal and without
    # --run-command it is not run, and a line says so.
    script = INSTALL_SCRIPT + "$Command=README.TXT\r\n"
    for answers, terminal, runs in (("\ny\ny\ny\n", True, True), ("\ny\ny\n\n", True, False),
                                    ("\ny\ny\n", False, False)):
        shutil.rmtree(c.work + "/bin", ignore_errors=True)
        shutil.rmtree(os.path.join(c.root, "Example"), ignore_errors=True)
        if os.path.exists(os.path.join(c.work, "opened.txt")):
            os.remove(os.path.join(c.work, "opened.txt"))
        code, err, _, own = install(c, script, answers, options=(), terminal=terminal)
        assert code == 1 and len(own) == 4, (err, own)
        assert f"program:    {shutil.which('xdg-open', path=c.work + '/bin')}" in err, err
        assert f"parameters: {c.app}/README.TXT" in err and f"folder:     {c.app}" in err, err
        assert ("no terminal" in err) == (not terminal), err
        assert appears(c.opened, 5 if runs else 0.5) == runs, (answers, terminal, err)


def main():
    global RUNNER
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    parser.add_argument("-k", default="")
    args = parser.parse_args()
    RUNNER = os.path.abspath(args.runner)
    tests = [(n, f) for n, f in sorted(globals().items())
             if n.startswith("test_") and args.k in n]
    passed = failed = 0
    for name, fn in tests:
        with tempfile.TemporaryDirectory() as work:
            try:
                fn(Case(work))
                passed += 1
                print("ok  ", name)
            except Exception:
                failed += 1
                print("FAIL", name)
                traceback.print_exc()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
