#!/usr/bin/env python3
"""The native runner end to end on self-extracting files of exact shapes, the installation actions under
a scratch $XDG_DATA_HOME included; with --pack, --list and --test of kobrix-pack's and hostile archives."""

import argparse
import json
import os
import pty
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "lib"))
import lzh  # noqa: E402
import sfx  # noqa: E402
from sfx import write_file  # noqa: E402

RUNNER = PACK = None
T_OLD = 1262322000   # 2010-01-01
T_NEW = 1700000000   # 2023-11-14
A, B, C = b"alpha\n" * 100, b"bravo\n" * 100, b"charlie\n" * 100


class Case:
    def __init__(self, work):
        self.work, self.root, self.dest = work, os.path.join(work, "root"), os.path.join(work, "dest")
        os.makedirs(self.root)

    def sfx(self, arc, **settings):
        return sfx.write_sfx(os.path.join(self.work, "setup.exe"), arc, **settings)

    def run(self, arc, args=(), answers="", settings=None, env=None, options=(), terminal=False, cwd=None):
        """Exit code and stderr of arc's run; with terminal, the answers are
        typed ahead on a pseudo terminal."""
        path = self.sfx(arc, **(settings or {}))
        tty = pty.openpty() if terminal else ()
        if tty:
            os.write(tty[0], answers.encode())
        try:
            r = sfx.run_runner(RUNNER, path, list(args), root=self.root, answers=answers, env=env,
                               options=options, stdin=tty[1] if tty else None, cwd=cwd)
        finally:
            for fd in tty:
                os.close(fd)
        return r.returncode, r.err

    def read(self, *parts):
        path = os.path.join(self.dest, *parts)
        return sfx.read(path) if os.path.exists(path) else None


def three(time=T_NEW):
    return [lzh.member(b"a.txt", A, time=time), lzh.member(b"b.txt", B, time=time, dirname=b"sub\xff"),
            lzh.member(b"c.txt", C, time=time)]


def test_switches_directory_and_message(c):
    arc = lzh.archive(*three())
    # -n makes the directory with the folders on the way to it.
    code, err = c.run(arc, ["-n", os.path.join(c.work, "made", "on the way")])
    assert code == 1 and sfx.read(os.path.join(c.work, "made/on the way/sub/b.txt")) == B, err
    # Bit 0 starts by itself, "-N-" turns it off; end of input is Cancel.
    code, err = c.run(arc, ["-N-", os.path.join(c.work, "other")], settings={"flags": 1})
    assert code == 0 and not os.path.exists(os.path.join(c.work, "other")), err
    # "$Flag=1" starts by itself, 257 takes it back; C: is the root folder.
    for flag, started in ((b"1", True), (b"257", False)):
        script = lzh.member(b"$", b"$Flag=" + flag + b"\r\n$InstallDir=C:\\flag" + flag + b"\r\n")
        code, err = c.run(lzh.archive(script, *three()))
        assert (code == 1) == started == os.path.isdir(os.path.join(c.root, "flag" + flag.decode())), err
    # The message keeps its line breaks; No extracts nothing.
    arc = lzh.archive(lzh.member(b"!", b"Install\r\nthe example?"), *three())
    code, err = c.run(arc, ["-n", c.dest], answers="n\n")
    assert code == 0 and not os.path.exists(c.dest) and "Install\nthe example?" in err, err


def test_overwrite_rules(c):
    # (a.txt there with its time, sub/b.txt and c.txt removed; switches,
    # answers, flags; a.txt, b.txt and c.txt after, whether it asked)
    for a_time, options, answers, flags, after, asked in [
            (T_NEW, [], "", 2, (b"mine", B, C), False),  # at least as new: skipped, even with bit 1
            (T_NEW, [], "", 2 | 8, (A, B, C), False),  # but not with bit 3, no date check
            (T_NEW, ["-c"], "n\ny\n", 0, (b"mine", B, C), True),  # "-c" asks; No keeps
            (T_NEW, ["-c"], "y\ny\n", 0, (A, B, C), True),  # Yes replaces
            (T_OLD - 9, ["-c"], "y\nc\n", 0, (A, b"old b", None), True),  # Cancel stops the pass
            (T_OLD - 9, [], "", 2, (A, B, C), False)]:  # older: replaced without a question by bit 1
        for rel, data, stamp in (("a.txt", b"mine", a_time), ("sub/b.txt", b"old b", T_OLD - 9)):
            write_file(c.dest, rel, data, stamp)
        if os.path.exists(os.path.join(c.dest, "c.txt")):
            os.remove(os.path.join(c.dest, "c.txt"))
        code, err = c.run(lzh.archive(*three(T_OLD)), options + ["-n", c.dest], answers, {"flags": flags})
        got = c.read("a.txt"), c.read("sub", "b.txt"), c.read("c.txt")
        assert code == 1 and got == after and ("Overwrite?" in err) == asked, (options, flags, got, err)


def test_attributes_times_and_utf8_names(c):
    ro = lzh.member(b"ro.txt", b"read only", attr=0x21, time=T_OLD)
    wt = lzh.member(b"w.txt", b"w", time=T_OLD, windows_times=(T_OLD, T_NEW, T_NEW + 7))
    utf8 = lzh.member("caf\u00e9.txt".encode(), b"u", dirname="\u65e5\u672c".encode() + b"\xff")
    code, err = c.run(lzh.archive(ro, wt), ["-n", c.dest], settings={"restore_attributes": 47})
    assert code == 1, err
    st = os.stat(os.path.join(c.dest, "ro.txt"))
    assert not st.st_mode & 0o222 and int(st.st_mtime) == T_OLD, (oct(st.st_mode), st.st_mtime)
    st = os.stat(os.path.join(c.dest, "w.txt"))
    assert int(st.st_mtime) == T_NEW and int(st.st_atime) == T_NEW + 7, (st.st_mtime, st.st_atime)
    # With restore_attributes the read-only file is replaced after Yes.
    code, err = c.run(lzh.archive(ro, wt, utf8), ["-c", "-n", c.dest], answers="y\ny\n",
                      settings={"restore_attributes": 47}, options=("--codepage", "65001"))
    assert code == 1 and "ERROR" not in err and c.read("\u65e5\u672c", "caf\u00e9.txt") == b"u", err


def test_names_stay_inside(c):
    evil = lzh.member(b"evil.txt", b"x", dirname=b"a\xff..\xff..\xff")
    code, err = c.run(lzh.archive(lzh.member(b"first.txt", b"1"), evil, lzh.member(b"after.txt", b"y")),
                      ["-n", c.dest])
    assert code == 1 and "Open ERROR" in err, err
    for top in (c.work, os.path.dirname(c.work)):
        assert not os.path.exists(os.path.join(top, "evil.txt"))
    assert c.read("first.txt") == b"1" and c.read("after.txt") is None
    # A rooted name, a drive and a directory macro map into the root folder.
    arc = lzh.archive(lzh.member(b"boot.ini", b"b", dirname=b"\xff"),
                      lzh.member(b"x.txt", b"x", dirname=b"C:\xff"),
                      lzh.member(b"a.fon", b"f", dirname=b"%WinDir%\xfffonts\xff"))
    code, err = c.run(arc, ["-n", c.dest])
    assert code == 1, err
    assert sfx.tree_files(c.root) == ["WINDOWS/fonts/a.fon", "boot.ini", "x.txt"], sfx.tree_files(c.root)


def test_default_directory_stays_in_root(c):
    # The archive's own directory, auto-started, overwriting: ".." in any
    # spelling stops at the root; nothing beside it changes.
    cwd = os.path.join(c.work, "cwd")
    write_file(c.work, "victim/.profile", b"mine", T_OLD)
    os.makedirs(cwd)
    owned = lzh.member(b".profile", b"owned", time=T_NEW)
    spellings = [(b"C:\\..\\victim", "victim"), (b"..\\victim", "victim"), (b"D:\\..\\..\\..", ""),
                 (b"\\..\\..\\victim", "victim"), (b"c:/../victim/./", "victim"),
                 (b"%ProgramFiles%\\..\\..\\..\\victim", "victim")]
    cases = [(d, None, where) for d, where in spellings]
    cases += [(b"", b"$InstallDir=" + d + b"\r\n", where) for d, where in spellings[:2]]
    for install_dir, script, where in cases:
        shutil.rmtree(c.root)
        os.makedirs(c.root)
        leave_out = {c.root, os.path.join(c.work, "setup.exe")}
        before = sfx.snapshot(c.work, leave_out)
        members = ([lzh.member(b"$", script)] if script else []) + [owned]
        code, err = c.run(lzh.archive(*members), cwd=cwd,
                          settings={"flags": 1 | 2 | 8, "texts": {"directory": install_dir}})
        assert code == 1 and sfx.snapshot(c.work, leave_out) == before, (install_dir, script, err)
        assert sfx.read(os.path.join(c.root, where, ".profile")) == b"owned", sfx.tree_files(c.root)


def test_default_root_is_the_runners_own(c):
    # Without --root, drive C: is $XDG_DATA_HOME/kobrix/drive_c (made when
    # missing), never the current directory.
    home = os.path.join(c.work, "home")
    write_file(home, ".bashrc", b"mine", T_OLD)
    path = c.sfx(lzh.archive(lzh.member(b".bashrc", b"owned", dirname=b"\xff"), lzh.member(b"a.txt", b"a")))
    for xdg, drive_c in (("", os.path.join(home, ".local/share/kobrix/drive_c")),
                         (os.path.join(c.work, "data"), os.path.join(c.work, "data/kobrix/drive_c"))):
        r = sfx.run_runner(RUNNER, path, ["-n", c.dest], env={"HOME": home, "XDG_DATA_HOME": xdg},
                           cwd=home)
        assert r.returncode == 1 and c.read("a.txt") == b"a" and "Drive C: is " + drive_c in r.err, r.err
        assert sfx.read(os.path.join(drive_c, ".bashrc")) == b"owned", r.err
        assert sfx.read(os.path.join(home, ".bashrc")) == b"mine"


# Swaps a folder and a link to a folder outside, each swap one atomic
# exchange of the two names (renameat2 RENAME_EXCHANGE).
SWAPPER = """
import ctypes, os, sys, time
folder, outside, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
libc = ctypes.CDLL(None, use_errno=True)
os.symlink(outside, folder + ".swap")
end = time.time() + seconds
while time.time() < end:
    for _ in range(1000):
        libc.renameat2(-100, folder.encode(), -100, (folder + ".swap").encode(), 2)
"""


def test_folder_swapped_for_a_link_during_the_extraction(c):
    # A local user who may write in the extraction directory swaps a folder for a link outside while the
    # runner (as root where the test is) extracts again and again, replacing every file, every other run
    # deleting a member for its CRC error: nothing outside is written or deleted.
    seconds = 4.0
    os.chmod(c.work, 0o755)
    outside = os.path.join(c.work, "outside")
    for name in [f"f{i}.txt" for i in range(200)] + ["bad.txt"]:
        write_file(outside, name, b"outside", T_OLD)
    os.makedirs(c.dest)
    attacker = [sys.executable, "-c", SWAPPER, os.path.join(c.dest, "sub"), outside, str(seconds)]
    if os.geteuid() == 0 and shutil.which("setpriv"):
        os.chown(c.dest, 65534, 65534)
        attacker = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + attacker
    before = sfx.snapshot(outside)
    members = [lzh.member(b"f%d.txt" % i, b"inside %d" % i, dirname=b"sub\xff") for i in range(200)]
    members += [lzh.member(b"f%d.txt" % i, b"deep", dirname=b"sub\xffdeep\xff") for i in range(20)]
    bad = lzh.member(b"bad.txt", b"bad data", dirname=b"sub\xff", crc=1)
    setups = [sfx.write_sfx(os.path.join(c.work, n), lzh.archive(*m), flags=2)
              for n, m in (("many.exe", members), ("bad.exe", [bad] + members))]
    swapper = subprocess.Popen(attacker)
    runs = 0
    try:
        end = time.time() + seconds
        while time.time() < end:
            r = sfx.run_runner(RUNNER, setups[runs % 2], ["-c", "-n", c.dest], root=c.root)
            assert r.returncode == 1, r.err
            runs += 1
    finally:
        swapper.wait(30)
    after = sfx.snapshot(outside)
    assert swapper.returncode == 0 and runs > 20, runs
    assert after == before, [p for p in set(before) | set(after) if before.get(p) != after.get(p)][:5]


def test_member_stops_at_its_declared_size(c):
    # A few bytes that decode to 16 MiB of zero bytes in 256-byte matches, in
    # a member that declares less (CRC 0): the last match is cut at the size.
    zeros = lzh.member(b"zeros.bin", lzh.constant_blocks([(0, 509, 0)]), method=b"-lh5-",
                       size=3000037, crc=0)
    code, err = c.run(lzh.archive(zeros, lzh.member(b"after.txt", b"a")), ["-n", c.dest])
    assert code == 1 and "ERROR" not in err and c.read("after.txt") == b"a", err
    assert os.path.getsize(os.path.join(c.dest, "zeros.bin")) == 3000037


def test_escape_sequences_never_reach_the_terminal(c):
    # Title, clipboard (OSC 52), erase, hidden text, C1 CSI (code page 819) in
    # every text shown: record, message, a name, check boxes (a script line
    # ends at a C0 byte: DEL and C1 there), the command question.
    esc = b"\x1b]0;t\x07\x1b]52;c;aGk=\x07\x1b[2K\x1b[8m\x9b2J"
    texts = {"title": b"Caption" + esc, "label": b"Label" + esc, "directory": b"C:\\Dir" + esc,
             "command": b"sh -c x" + esc}
    script = b"$GroupTitle=Menu\x7f\x9b2J\r\n$ClassTitle=Types\x7f\x9b2J\r\n"
    name = b"n\x1b[8m\x9b2J.txt"
    arc = lzh.archive(lzh.member(b"!", b"Message" + esc), lzh.member(b"$", script), lzh.member(name, b"data"))
    write_file(c.dest, name.decode("latin-1"), b"old", T_OLD)
    code, shown = c.run(arc, ["-c"], answers=f"y\n{c.dest}\ny\ny\ny\n", settings={"texts": texts},
                        options=["--codepage", "819"])
    assert code == 1 and c.read(name.decode("latin-1")) == b"data", shown
    assert not any(raw in shown for raw in "\x1b\x07\x7f\x9b"), shown
    for text in ("Caption", "Label", "Dir", "Message", "-c x"):
        assert text + "\\x1b]0;t\\x07\\x1b]52;c;aGk=\\x07\\x1b[2K\\x1b[8m\\x9b2J" in shown, (text, shown)
    assert "Menu\\x7f\\x9b2J" in shown and "Types\\x7f\\x9b2J" in shown, shown
    assert "n\\x1b[8m\\x9b2J.txt\" Overwrite?" in shown and "Not run" in shown, shown
    # A file that is not a self-extracting file is said to be none, its text
    # unseen; so is its name with a bidi override and escapes.
    notes = sfx.write(os.path.join(c.work, "notes\u202e\x1b]0;t\x07\u009b.txt"),
                      b"root:x:0:0:root:/root:/bin/sh\x1b[2J\n")
    fifo = os.path.join(c.work, "fifo")  # would block a plain open
    os.mkfifo(fifo)
    for path in (notes, "/etc/passwd", fifo):
        r = sfx.run_runner(RUNNER, path, ["-n", c.dest], root=c.root, timeout=20)
        assert r.returncode == 2 and "not a self-extracting file" in r.err, r.err
        assert not any(raw in r.err for raw in ("\x1b", "\x07", "\x9b", "\u202e", "root:")), r.err


def started(argv, shown):
    """Starts the runner and waits until stderr shows the text."""
    p = subprocess.Popen([RUNNER] + argv, stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, stdout=subprocess.DEVNULL)
    seen, deadline = b"", time.time() + 30
    while shown.encode() not in seen and time.time() < deadline:
        chunk = os.read(p.stderr.fileno(), 4096)
        assert chunk, f"{shown!r} never shown: {seen[-300:]!r}"
        seen += chunk
    return p


def test_ctrl_c(c):
    # Stopped as b.txt begins, Ctrl-C sent: the next progress report ends the
    # run with 1, b.txt deleted, a.txt kept.
    big = lzh.member(b"b.txt", os.urandom(64 << 20), dirname=b"sub\xff", crc=0)
    path = c.sfx(lzh.archive(three()[0], big, three()[2]))
    p = started(["--root", c.root, path, "-n", c.dest], "b.txt")
    for sig in (signal.SIGSTOP, signal.SIGINT, signal.SIGCONT):
        p.send_signal(sig)
    assert p.wait(30) == 1 and c.read("a.txt") == A and c.read("sub", "b.txt") is None and c.read("c.txt") is None


INSTALL_SCRIPT = ("$InstallDir=C:\\Example\r\n$GroupTitle=Add to the &Start Menu\r\n"
                  "$Group=Example App,Example App,EXAMPLE.EXE,\r\n$Group=Example App,Read Me,README.TXT\r\n"
                  "$ClassTitle=Register .exd &files\r\n$Class=.EXD,Example Data,EXAMPLE.EXE,ExampleData\r\n")
README = b"Read me first.\r\n"


def install(c, script, answers, readme_crc=None, options=("--run-command",), terminal=False, old_readme=False):
    """Runs script, EXAMPLE.EXE, README.TXT with a stand-in xdg-open noting where and with what it ran;
    old_readme brings the overwrite question. Exit code, stderr, seconds, the files under the data folder."""
    c.data, c.opened, c.app = (os.path.join(c.work, n) for n in ("data", "opened.txt", "root/Example"))
    for leftover in (os.path.join(c.work, "bin"), c.app):
        shutil.rmtree(leftover, ignore_errors=True)
    if os.path.exists(c.opened):
        os.remove(c.opened)
    opener = write_file(c.work, "bin/xdg-open", f'#!/bin/sh\n{{ pwd; echo "$@"; }} > "{c.opened}.tmp"\n'
                        f'mv "{c.opened}.tmp" "{c.opened}"\n'.encode(), T_OLD)
    os.chmod(opener, 0o755)
    arc = lzh.archive(lzh.member(b"$", script.encode("latin-1")),
                      lzh.member(b"EXAMPLE.EXE", b"MZ not really a program\r\n"),
                      lzh.member(b"README.TXT", README, crc=readme_crc))
    if old_readme:
        write_file(c.app, "README.TXT", b"old", T_OLD)
    began = time.monotonic()
    code, err = c.run(arc, ["-c"] if old_readme else [], answers=answers, options=options, terminal=terminal,
                      env={"XDG_DATA_HOME": c.data, "PATH": os.path.dirname(opener) + ":" + os.environ["PATH"]})
    own = [os.path.join(top, f) for top in ("applications", "mime/packages")
           for f in sfx.tree_files(os.path.join(c.data, top))]
    return code, err, time.monotonic() - began, sorted(own)


def appears(path, seconds=5.0):
    """Whether path appears within seconds (it is written whole, renamed)."""
    end = time.monotonic() + seconds
    while not os.path.exists(path) and time.monotonic() < end:
        time.sleep(0.02)
    return os.path.exists(path)


def test_install_lines_become_desktop_files(c):
    # The command runs in the extraction directory, not waited for. Keys of
    # other than letters, digits, "._+-" ("*.*" would open every file) and a
    # "$Group=" field adding a command are skipped; a Shift-JIS trail byte
    # 0x5B ("データ") is no bracket.
    command = '$Command=sh -c "sleep 2; pwd > started.tmp; mv started.tmp started.txt"\r\n'
    hostile = ("$Class=.*,Every file,EXAMPLE.EXE,AllFiles\r\n$Class=.ex2,Dotted key,EXAMPLE.EXE,.ExampleData\r\n"
               "$Group=Example App,Evil)][AddItem(README.TXT,Injected,EXAMPLE.EXE\r\n"
               "$Group=Example App,\x83\x66\x81\x5b\x83\x5e,README.TXT\r\n")
    code, err, seconds, own = install(c, INSTALL_SCRIPT + hostile + command, "\ny\ny\n")
    assert code == 1 and "file type .* of class AllFiles skipped" in err, err
    assert "of class .ExampleData skipped" in err and "line for Evil" in err, err
    assert seconds < 1.8, f"the command was waited for: {seconds:.1f} s"
    assert appears(os.path.join(c.app, "started.txt")) and sfx.read(c.app + "/started.txt").decode() == c.app + "\n"
    menu = "applications/Example_App/kobrix-Example_App-"
    assert own == [menu + "Example_App.desktop", menu + "Read_Me.desktop", menu + "\u30c7\u30fc\u30bf.desktop",
                   "applications/kobrix-exampledata.desktop", "mime/packages/kobrix-exampledata.xml"], own
    entry = sfx.read(c.data + "/applications/kobrix-exampledata.desktop").decode()
    assert f'Exec="{c.app}/EXAMPLE.EXE" %f' in entry, entry
    if shutil.which("update-mime-database"):
        assert "application/x-kobrix-exampledata:*.exd" in sfx.read(c.data + "/mime/globs2").decode()


def test_item_in_a_folder_whose_name_holds_a_comma(c):
    # AddItem(C:\Ex,ample\README.TXT,Read Me): the comma is the path's, not a field's.
    code, err, seconds, own = install(c, INSTALL_SCRIPT.replace("C:\\Example", "C:\\Ex,ample"), "\ny\nn\n")
    entry = sfx.read(c.data + "/applications/Example_App/kobrix-Example_App-Read_Me.desktop")
    assert code == 1 and entry and b"Ex,ample/README.TXT" in entry and b"Name=Read Me" in entry, (err, own, entry)


def test_command_and_actions_only_when_clean_and_agreed(c):
    # Cleared boxes write nothing; a CRC error or Cancel at the overwrite
    # question carries out no line and runs no command; asked on a terminal,
    # Enter is No; without a terminal and --run-command it is not run. A
    # document opens with xdg-open in the extraction directory.
    app, no_option = os.path.join(c.work, "root/Example"), {"options": ()}
    asked = f"program:    {c.work}/bin/xdg-open\n  parameters: {app}/README.TXT\n  folder:     {app}\n"
    for command, answers, more, shown, written, runs in [
            ("README.TXT", "\nn\nn\n", {}, "Run it? yes", 0, True),
            ("no-such-tool -x", "\nn\nn\n", {}, "command no-such-tool: not found; not run.", 0, False),
            ("README.TXT", "\ny\ny\n", {"readme_crc": lzh.crc16(README) ^ 1}, "CRC ERROR", 0, False),
            ("README.TXT", "\ny\ny\nc\n", {"old_readme": True}, "Overwrite?", 0, False),
            ("README.TXT", "\ny\ny\ny\n", dict(no_option, terminal=True), asked, 4, True),
            ("README.TXT", "\ny\ny\n\n", dict(no_option, terminal=True), asked + "Run it? [y/N] ", 4, False),
            ("README.TXT", "\ny\ny\n", no_option, asked + "Not run: no terminal", 4, False)]:
        code, err, _, own = install(c, INSTALL_SCRIPT + f"$Command={command}\r\n", answers, **more)
        assert code == 1 and shown in err and len(own) == written, (command, answers, err, own)
        assert appears(c.opened, 5 if runs else 0.5) == runs, (command, answers, err)
        assert not runs or sfx.read(c.opened).decode() == f"{app}\n{app}/README.TXT\n"


# A row of the text table: sizes, ratio, method, date, time, attributes, CRC,
# an optional test status, the name.
ROW = re.compile(r"^\s*(\d+)\s+(\d+)\s+[\d.]+%\s+(-lh.-)\s+(\S+ \S+)\s+(\S{5})\s+([0-9a-f]{4})"
                 r"\s+(?:(OK|FAIL|-)\s+)?(.*)$")
SCRIPT = (b"; a comment the program skips\r\n$WindowTitle=Example Setup\r\n"
          b"$InstallTitle=Destination &Folder\r\n$InstallDir=%ProgramFiles%\\Example\r\n"
          b"$GroupTitle=Add to the &Start Menu\r\n$Group=Example App,Read Me,readme.txt,docs\\icon.ico\r\n"
          b"$ClassTitle=Register .exd &files\r\n$Class=.EXD,Example Data,bin\\example.exe,ExampleData\r\n"
          b"$Class=,No Extension,x.exe,Key\r\n$AskRegist=1\r\n$Command=readme.txt\r\n$Flag=273\r\n"
          b"$windowtitle=lower case is no key\r\n")


def listing(c, *options, path, args=()):
    """kobrix --list/--test [--json]: exit code, standard output (JSON read), stderr."""
    r = sfx.run_runner(RUNNER, path, args, root=c.root, options=options, cwd=c.work,
                       env={"XDG_DATA_HOME": os.path.join(c.work, "xdg")})
    out = r.stdout.decode("utf-8", "replace")
    return r.returncode, json.loads(out) if "--json" in options and out.strip() else out, r.err


def table_matches_json(c, path):
    """--test's text table and its JSON say the same of every member."""
    text, doc = listing(c, "--test", path=path)[1], listing(c, "--test", "--json", path=path)[1]
    rows = [m.groups() for m in map(ROW.match, text.splitlines()) if m]
    assert len(rows) == len(doc["members"]), text
    for (size, packed, method, stamp, attrs, crc, status, name), m in zip(rows, doc["members"]):
        got = (m["size"], m["packed"], m["method"], m["time"].replace("T", " ")[:-1], m["attributes_text"], m["crc"],
               m.get("ok"))
        assert got == (int(size), int(packed), method, stamp, attrs, int(crc, 16), status == "OK"), (name, m)
        assert name.startswith(m["name"] if m["special"] else m["written_as"]), (name, m)


def packed_installer(c):
    """An installer from kobrix-pack with a message, a script and every flag."""
    files = os.path.join(c.work, "files")
    for i, (rel, data) in enumerate([("readme.txt", b"Read me.\r\n" * 300), ("docs/icon.ico", b"\0\1" * 300),
                                     ("bin/example.exe", sfx.text_block(random.Random(14), 60000))]):
        write_file(files, rel, data, 1300000000 + i)
    exe, w = os.path.join(c.work, "installer.exe"), lambda name, data: sfx.write(os.path.join(c.work, name), data)
    r = subprocess.run([PACK, "-o", exe, "--stub", w("stub.bin", sfx.bare_stub()), "--title", "Record Title",
                        "--command", "bin\\example.exe /q", "--auto-start", "--overwrite", "--integrity",
                        "--no-date-check", "--restore-attributes", "--message",
                        w("m.txt", b"Welcome.\r\nInstall the example?\r\n"), "--script", w("s.txt", SCRIPT),
                        "-C", files, "readme.txt", "bin", "docs"], capture_output=True)
    assert r.returncode == 0, r.stderr
    return exe


def test_listing_explains_an_installer(c):
    exe = packed_installer(c)
    before = sfx.snapshot(c.work)
    code, text, err = listing(c, "--list", path=exe)
    program, data = os.path.join(c.root, "Program Files", "Example"), os.path.join(c.work, "xdg")
    for wanted in [
            "Caption:    Example Setup", "lands in " + program,
            "Record:     auto-start, overwrite without asking, no date check, restore attributes, "
            "integrity value present (flags 0x0f)",
            "Settings:   overwrite without asking, no date check, restore attributes, integrity value "
            "present, asks before each file type (after the script)",
            "Command:    readme.txt", "  | Welcome.\n  | Install the example?\n",
            "HKEY_CLASSES_ROOT\\ExampleData\\shell\\open\\command = "
            "\"\\\"C:\\Program Files\\Example\\bin\\example.exe\\\" \\\"%1\\\"\"",
            "WIN.INI [Extensions] exd=C:\\Program Files\\Example\\bin\\example.exe ^.exd",
            "asks \"Example Data\" Set Class? first",
            f"{data}/applications/kobrix-exampledata.desktop",
            "[CreateGroup(\"Example App\",0)] [AddItem(C:\\Program Files\\Example\\readme.txt,Read Me,"
            "C:\\Program Files\\Example\\docs\\icon.ico)]",
            f"{data}/applications/Example_App/kobrix-Example_App-Read_Me.desktop",
            "auto-start on, restore attributes on, auto-start off"]:
        assert code == 0 and wanted in text, (wanted, text, err)
    doc = listing(c, "--list", "--json", path=exe)[1]
    assert doc["installer"]["flags"] == {"auto_start": False, "overwrite": True, "no_date_check": True,
                                         "restore_attributes": True, "integrity_value": True, "ask_register": True}
    assert [m["path"] for m in doc["members"] if not m["special"]] == [
        os.path.join(program, p) for p in ("readme.txt", "bin", "bin/example.exe", "docs", "docs/icon.ico")]
    assert [line["ignored"] for line in doc["script"]["lines"]].count(True) == 2, doc["script"]  # two unread
    assert doc["members"][2]["time"] == "2011-03-13T07:06:40Z", doc["members"][2]  # in UTC
    code, doc, err = listing(c, "--test", "--json", path=exe)
    assert code == 0 and doc["sound"] and doc["integrity"]["ok"], err
    table_matches_json(c, exe)
    assert sfx.snapshot(c.work) == before, "listing or testing wrote"


def test_listing_damaged_and_hostile_members(c):
    # Escapes in names and the message are shown escaped, kept as they are in
    # the JSON (C1 controls escaped there). A wrong CRC and a code table no
    # decoder accepts fail --test, each ending only its member; a cut fails
    # it too. Usage errors exit 2.
    name = b"\x1b]0;owned\x07evil\x1b[2J\x9b1m.txt"
    table = lzh.member(b"table.bin", b"\x00\x01\xff\xff\xff\xff" + bytes(20), method=b"-lh5-", size=5000)
    arc = lzh.archive(lzh.member(name, b"x" * 10), lzh.member(b"!", b"\x1b[31mred message\r\n"),
                      lzh.member(b"bad.txt", b"fine", crc=0x1234), table, lzh.member(b"ok.txt", b"ok"))
    path = c.sfx(arc)
    code, text, err = listing(c, "--test", path=path)
    text += listing(c, "--list", path=path)[1]
    assert code == 1 and "bad.txt: CRC ERROR" in text and "table.bin: Bad table" in text, text
    assert "\x1b" not in text and "\x07" not in text, text
    assert "\\x1b]0;owned\\x07evil" in text and "\\x1b[31mred message" in text, text
    raw = sfx.run_runner(RUNNER, path, root=c.root, options=["--test", "--json"]).stdout.decode()
    doc = json.loads(raw)
    assert doc["members"][0]["name"] == name.decode("latin-1") and "\x9b" not in raw, raw
    assert doc["message"]["text"] == "\x1b[31mred message\r\n" and doc["members"][-1]["ok"], raw
    code, doc, err = listing(c, "--test", "--json", path=sfx.write(path, sfx.read(path)[:-8]))
    assert code == 1 and doc["sound"] is False and doc["error"], doc
    for options, args in ((["--list", "--test"], []), (["--json"], []), (["--list"], ["extra"])):
        code, text, err = listing(c, *options, path=path, args=args)
        assert code == 2 and "usage:" in err, (options, err)

def main():
    global RUNNER, PACK
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    parser.add_argument("--pack", help="kobrix-pack: runs the tests of --list and --test alone")
    parser.add_argument("-k", default="")
    args = parser.parse_args()
    RUNNER, PACK = os.path.abspath(args.runner), args.pack and os.path.abspath(args.pack)
    for name, test in sorted(globals().items()):
        if name.startswith("test_") and args.k in name and name.startswith("test_listing") == bool(PACK):
            with tempfile.TemporaryDirectory() as work:
                try:
                    test(Case(work))
                    print("ok  ", name)
                except Exception:
                    sfx.check(name, False, traceback.format_exc())
                sfx.check(name, True)
    return sfx.report()


if __name__ == "__main__":
    sys.exit(main())
