#!/usr/bin/env python3
"""The Windows stubs end to end: kobrix-stub.exe under 32-bit Wine and
kobrix-stub64.exe under wine64, in one prefix made by "setup" and stopped by
"cleanup", packed by kobrix-pack, driven by xdotool; read back from the files,
the exit code, the registry and the relay trace. Exit code 77: skipped (a
tool or build is missing, or no 32-bit programs run here), the reason printed.
Usage: wine_e2e.py --work DIR (setup | cleanup | --stub S --pack P run GROUP)"""
import argparse
import glob
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import time
import traceback

import wine_harness as wh
from wine_harness import check, poll

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
from lzh import reseal_header  # noqa: E402
from sfx import members, read, write  # noqa: E402

TITLE = "Kobrix E2E"
T0 = 1000000000  # 2001-09-09 01:46:40 UTC, the time of every packed file
# Message box styles: task-modal, with an icon and buttons.
MB_ERROR, MB_EXCLAMATION, MB_QUESTION_YES_NO, MB_QUESTION_YES_NO_CANCEL = 0x2010, 0x2030, 0x2024, 0x2023
SMALL = {"a.txt": b"alpha\n", "sub/b.txt": b"beta\n"}


class Payloads:
    def __init__(self, session, pack, stub):
        self.session, self.pack_tool, self.stub = session, pack, stub
        self.sources = os.path.join(session.work, "sources")
        os.makedirs(self.sources, exist_ok=True)
        self.out = session.folder("C:\\pay", fresh=False)

    def tree(self, name, files):
        """files: {relative path: bytes, or None for a folder}, all of the time T0."""
        top = os.path.join(self.sources, name)
        shutil.rmtree(top, ignore_errors=True)
        for rel, content in files.items():
            path = os.path.join(top, rel)
            os.makedirs(path if content is None else os.path.dirname(path), exist_ok=True)
            if content is not None:
                write(path, content)
        for rel in sorted(files, key=len, reverse=True):
            os.utime(os.path.join(top, rel), (T0, T0))
        return top

    def text(self, name, content):  # a message or script file
        return write(os.path.join(self.sources, name), content)

    def pack(self, name, top, paths, *options):
        exe = os.path.join(self.out, name + ".exe")
        argv = [self.pack_tool, "-o", exe, "--stub", self.stub, "--title", TITLE] + list(options)
        done = subprocess.run(argv + ["-C", top] + list(paths), capture_output=True, text=True)
        check(done.returncode == 0, "kobrix-pack: %s" % done.stderr)
        return exe

    def case(self, name, files, *options, paths=None, read_only=()):
        """files packed as name.exe to extract to C:\\e2e\\name, made empty: (top, exe, target)."""
        top = self.tree(name, files)
        for rel in read_only:
            os.chmod(os.path.join(top, rel), 0o444)
        paths = paths or sorted({rel.split("/")[0] for rel in files})
        exe = self.pack(name, top, paths, "--dir", "C:\\e2e\\" + name, *options)
        return top, exe, self.session.folder("C:\\e2e\\" + name)

    def patched(self, exe, change, name):  # a copy of exe with change(bytearray) applied
        data = bytearray(read(exe))
        change(data)
        return write(os.path.join(self.out, name + ".exe"), data)


def check_exit(run, code, timeout=60):
    check(run.wait(timeout) == code, "exit code %s, not %s" % (run.exit_code, code))


def contents(target, rel):
    path = os.path.join(target, rel)
    return read(path) if os.path.isfile(path) else None


def same_tree(source, target, names):
    for rel in names:
        check(contents(target, rel) == read(os.path.join(source, rel)), "%s missing or different" % rel)


def dialog_of(run):
    """The main dialog's window handle: the owner of its directory field's text."""
    return run.wait_for_call("SetDlgItemTextA", lambda c: c.args[1] == 100)[0].args[0]


def texts_of(run, control):
    return [c.args[2] for c in run.calls("SetDlgItemTextA") if c.args[1] == control]


def expect_box(run, owner, text, style):
    boxes = run.message_boxes()
    check((owner, text, TITLE, style) in boxes, "no box %r (%s, %#x); boxes: %s" % (text, owner, style, boxes))


def main_window(session, count=1):
    """The dialog, or with count 2 the message box over it."""
    return session.wait_window(TITLE, count)


def answer_box(s, run, text, key, over_dialog=True):
    run.wait_for_box(text)
    s.keys(main_window(s, 2 if over_dialog else 1), key)


CASES = {}


def case(group, name=None):
    def register(function):
        CASES.setdefault(group, []).append((name or function.__name__, function))
        return function
    return register


@case("extract")
def auto_start_extracts_exactly(s, p):
    rng = random.Random(7)
    files = {"readme.txt": b"Kobrix end-to-end test\r\n" * 40, "data.bin": rng.randbytes(200000),
             "docs/guide.txt": b"".join(b"line %d of the guide\n" % i for i in range(5000)), "empty.txt": b"",
             "emptydir": None, "a_rather_long_folder_name/inner/file_with_long_name.txt": b"deep\n",
             "%ProgramFiles%/kx/p.txt": b"program files\n"}
    top, exe, target = p.case("auto", files, paths=["readme.txt", "data.bin", "docs", "empty.txt", "emptydir",
                                                    "a_rather_long_folder_name", "%ProgramFiles%"])
    # A 32-bit program in a 64-bit Windows gets C:\Program Files (x86).
    program_files = s.unix_path(s.registry_value("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion",
                                                 "ProgramFilesDir", own_view=True) + "\\kx")
    shutil.rmtree(program_files, ignore_errors=True)
    run = s.start(exe, ["-n"], env={"TZ": "JST-9"}, name="auto")  # TZ counts only under Win32s
    check_exit(run, 1)
    plain = [n for n, v in files.items() if v is not None and not n.startswith("%")]
    same_tree(top, target, plain)
    check(os.path.isdir(os.path.join(target, "emptydir")), "the directory member was not made")
    same_tree(os.path.join(top, "%ProgramFiles%", "kx"), program_files, ["p.txt"])
    times = [int(os.stat(os.path.join(target, rel)).st_mtime) for rel in plain]
    check(times == [T0] * len(plain), "times %s, not %s" % (times, T0))
    dialog = dialog_of(run)
    check(texts_of(run, 100) == ["C:\\e2e\\auto"], "directory field %s" % texts_of(run, 100))
    names = texts_of(run, 101)
    check("C:/e2e/auto/readme.txt" in names and "C:/e.../file_with_long_name.txt" in names, "shown: %s" % names)
    check(len(names) == len(members(read(exe))), "control 101 showed %s" % names)
    # Each name comes with "Extract... 0%"; the progress of the member follows.
    shown = [(c.args[1], c.args[2]) for c in run.calls("SetDlgItemTextA") if c.args[1] != 100]
    check(all(shown[i + 1] == (102, "Extract... 0%") for i, (control, _) in enumerate(shown) if control == 101),
          "names without a 0%% after them: %s" % shown)
    progress = texts_of(run, 102)
    check(progress[-1] == "Extract... 100%" and all(0 <= int(t[11:-1]) <= 100 for t in progress),
          "progress %s" % progress)
    check(not run.message_boxes() and all(c.args[0] == dialog for c in run.calls("SetDlgItemTextA")),
          "boxes shown, or texts set outside the dialog: %s" % run.message_boxes())


@case("extract")
def typed_and_browsed_directory(s, p):
    # A typed network path is refused; the chooser, opened in the current
    # folder, sets the field to it, quoted; OK extracts there.
    top, exe, default = p.case("typed", SMALL)
    start = s.folder("C:\\e2e\\br owse")
    run = s.start(exe, cwd=start, name="typed")
    window = main_window(s)
    s.keys(window, "alt+d", "ctrl+a", "BackSpace")  # the field, emptied
    s.keys(window, text="\\\\server\\share")
    s.keys(window, "Return")
    answer_box(s, run, "Invalid directory", "space")
    s.keys(main_window(s), "alt+r")
    chooser = s.wait_window("Extracting directory")
    run.wait_for_call("GetOpenFileNameA")
    s.keys(chooser, "Return")
    run.wait_for_call("SetDlgItemTextA", lambda c: c.args[1] == 100, count=2)
    s.keys(main_window(s), "alt+o")
    check_exit(run, 1)
    expect_box(run, dialog_of(run), "Invalid directory", MB_EXCLAMATION)
    check(texts_of(run, 100)[-1] == '"C:\\e2e\\br owse"', "field set to %s" % texts_of(run, 100))
    same_tree(top, start, SMALL)
    check(os.listdir(default) == [], "files went to the default directory")


@case("extract")
def message_and_cancel_before_extraction(s, p):
    # No to the message, or Escape in the dialog: exit code 0, nothing made
    # or written. Yes to the message, then OK: extracted.
    message = p.text("message.txt", b"Install the test files?")
    top, exe, target = p.case("message", SMALL, "--message", message)
    for answer in ("n", "Escape", "y"):
        shutil.rmtree(target, ignore_errors=True)
        run = s.start(exe, name="message-" + answer)
        answer_box(s, run, "Install the test files?", "y" if answer == "Escape" else answer, over_dialog=False)
        if answer != "n":
            run.wait_for_call("DialogBoxParamA")
            s.keys(main_window(s), "Return" if answer == "y" else "Escape")
        check_exit(run, 1 if answer == "y" else 0)
        expect_box(run, 0, "Install the test files?", MB_QUESTION_YES_NO)
        if answer != "y":
            check(bool(run.calls("DialogBoxParamA")) == (answer == "Escape"), "dialog shown after No, or not at all")
            writes = [c for c in run.calls("CreateFileA") if c.args[1] == 0x40000000]  # GENERIC_WRITE
            check(not os.path.exists(target) and not run.calls("CreateDirectoryA") and not writes,
                  "something was written: %s" % writes)
    same_tree(top, target, SMALL)


@case("extract")
def cancel_during_extraction(s, p):
    big = b"".join(b"%d\n" % i for i in range(5000000))  # takes a while to decode
    top, exe, target = p.case("cancel-during", {"first.txt": b"first\n" * 100, "big.txt": big, "last.txt": b"last\n"},
                              "--method", "lh5", paths=["first.txt", "big.txt", "last.txt"])
    run = s.start(exe, ["-n"], name="cancel-during")
    window = main_window(s)
    big = os.path.join(target, "big.txt")
    poll(lambda: os.path.exists(big) and os.path.getsize(big) > 0, bool, 30)
    s.keys(window, "Escape")
    check_exit(run, 1)
    same_tree(top, target, ["first.txt"])
    check(not os.path.exists(big) and not os.path.exists(os.path.join(target, "last.txt")),
          "the member being written was left, or the pass went on after Cancel")
    check("C:/e2e/cancel-during/big.txt" in [c.args[0] for c in run.calls("DeleteFileA")],
          "the partial file was not deleted")


def japanese_locale(s):
    """The ANSI code page 932 for Wine: ja_JP.UTF-8 compiled into the work folder."""
    folder = os.path.join(s.work, "locale")
    if not os.path.isdir(os.path.join(folder, "ja_JP.UTF-8")):
        os.makedirs(folder, exist_ok=True)
        done = subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", os.path.join(folder, "ja_JP.UTF-8")],
                              capture_output=True, text=True)
        check(done.returncode == 0, "localedef ja_JP.UTF-8: %s" % done.stderr)
    return {"LOCPATH": folder, "LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"}


@case("extract")
def names_and_title_in_the_ansi_code_page(s, p):
    # Names and the caption packed into the code page come out as they were
    # where Windows reads them in that ANSI code page: 1252 (Wine's own under
    # C.UTF-8) and 932, with a folder whose second byte is 0x5C, a backslash.
    runs = [("1252", {}, "Caf\u00e9 Setup",
             {"caf\u00e9.txt": b"cafe\n", "\u00dcber/na\u00efve r\u00e9sum\u00e9.txt": b"u\n"}),
            ("932", japanese_locale(s), "\u65e5\u672c\u8a9e\u30bb\u30c3\u30c8\u30a2\u30c3\u30d7",
             {"\u65e5\u672c\u8a9e.txt": b"nihongo\n", "\u8868/\u30bd\u30d5\u30c8.txt": b"hyo\n"})]
    for code_page, env, title, files in runs:
        top, exe, target = p.case("cp" + code_page, files, "--codepage", code_page, "--title", title)
        run = s.start(exe, env=env, name="cp" + code_page)
        s.keys(s.wait_window(title), "Return")  # the caption as given, or no such window
        check_exit(run, 1)
        got = {os.path.relpath(os.path.join(d, f), target) for d, _, fs in os.walk(target) for f in fs}
        check(got == set(files), "code page %s: extracted %s" % (code_page, sorted(got)))
        same_tree(top, target, files)


def overwrite_setup(s, p, name, *options, read_only_member=False):
    """a.txt is older than its member, b.txt newer, c.txt missing."""
    _, exe, target = p.case(name, {"a.txt": b"new a\n", "b.txt": b"new b\n", "c.txt": b"new c\n"}, *options,
                            read_only=["a.txt"] if read_only_member else ())
    for rel, content, when in (("a.txt", b"old a\n", T0 - 1000), ("b.txt", b"newer b\n", T0 + 1000)):
        os.utime(write(os.path.join(target, rel), content), (when, when))
    return exe, target


@case("overwrite")
def second_ok_starts_no_second_pass(s, p):
    # OK pressed before the automatic start's timer fires: the timer's OK, delivered by the overwrite
    # question's message loop, must not start a second pass inside the first. A key pressed after the
    # timer proves nothing: the try is then repeated.
    for attempt in range(3):
        exe, target = overwrite_setup(s, p, "second-ok")
        run = s.start(exe, ["-n"], name="second-ok-%d" % attempt)
        s.keys(main_window(s), "Return")
        run.wait_for_box("Overwrite?")
        time.sleep(1.5)  # twice the timer's 700 ms
        s.keys(main_window(s, 2), "y")
        check_exit(run, 1, timeout=20)
        opened = run.calls("DialogBoxParamA")[0].when
        check(opened > 0, "the relay trace has no times")
        if [c for c in run.calls("SetDlgItemTextA") if c.args[1] == 101][0].when - opened < 0.6:
            break
    else:
        raise AssertionError("OK could not be pressed before the timer fired")
    # Yes replaces the older a.txt; the newer b.txt is kept without a question.
    check(len(run.message_boxes()) == 1 and len(texts_of(run, 101)) == 3,
          "a second pass: %s %s" % (run.message_boxes(), texts_of(run, 101)))
    expect_box(run, dialog_of(run), '"C:/e2e/second-ok/a.txt" Overwrite?', MB_QUESTION_YES_NO_CANCEL)
    got = [contents(target, n) for n in ("a.txt", "b.txt", "c.txt")]
    check(got == [b"new a\n", b"newer b\n", b"new c\n"], "contents %s" % got)


@case("overwrite")
def overwrite_cancelled_or_read_only(s, p):
    # Escape is Cancel: a.txt kept, the pass stops before c.txt. With
    # restore_attributes a read-only a.txt is replaced and gets its read-only
    # attribute back.
    for name, key in (("ow-cancel", "Escape"), ("ro-restore", "y")):
        restore = name == "ro-restore"
        exe, target = overwrite_setup(s, p, name, *(["--restore-attributes"] if restore else []),
                                      read_only_member=restore)
        os.chmod(os.path.join(target, "a.txt"), 0o444 if restore else 0o644)
        run = s.start(exe, ["-n"], name=name)
        answer_box(s, run, "Overwrite?", key)
        check_exit(run, 1)
        expect_box(run, dialog_of(run), '"C:/e2e/%s/a.txt" Overwrite?' % name, MB_QUESTION_YES_NO_CANCEL)
        got = [contents(target, n) for n in ("a.txt", "b.txt", "c.txt")]
        check(got == [b"new a\n" if restore else b"old a\n", b"newer b\n", b"new c\n" if restore else None],
              "%s: contents %s" % (name, got))
        attributes = [tuple(c.args[:2]) for c in run.calls("SetFileAttributesA")]
        check(attributes[:2] == ([("C:/e2e/ro-restore/a.txt", 0x80), ("C:/e2e/ro-restore/a.txt", 0x21)]
                                 if restore else []), "attribute calls %s" % attributes)
        modes = [os.stat(os.path.join(target, n)).st_mode & 0o200 for n in ("a.txt", "c.txt")] if restore else [0, 1]
        check(modes[0] == 0 and modes[1], "a.txt writable or c.txt read-only: %s" % modes)


def changed(index, at, fmt, value, reseal=True):
    """A change: value(member, data) written with fmt at offset at of member
    index's header, whose CRC is made right again when reseal."""
    def change(data):
        m = members(data)[index]
        struct.pack_into(fmt, data, m.offset + at, value(m, data))
        if reseal:
            reseal_header(data, m)
    return change


file_crc_changed = changed(0, 21, "<H", lambda m, d: m.file_crc ^ 0x0101)


# A failed scan: a box without an owner, exit code 0, no dialog. A failed extraction: the box names the member
# or the program; the file being written is deleted, earlier members stay, later ones are not written.
ERRORS = [("bad-header", changed(0, 15, "<B", lambda m, d: d[m.offset + 15] ^ 1, False),  # under the header CRC
           (), '"C:\\pay\\bad-header.exe" Bad header', None),
          ("no-memory", changed(0, 0, "<H", lambda m, d: 0x8001, False), (), "Not enough memory", None),
          ("crc", file_crc_changed, (), '"C:/e2e/crc/a.txt" CRC ERROR', False),
          ("read-error", changed(-1, 11, "<I", lambda m, d: m.unpacked + 1000), ("--method", "lh0"),
           '"C:\\pay\\read-error.exe" Read ERROR', True),
          ("write-error", lambda d: None, ("--overwrite", "--no-date-check"),
           '"C:/e2e/write-error/a.txt" Write ERROR', False)]
for name, change, options, box, a_stays in ERRORS:
    def failure(s, p, name=name, change=change, options=options, box=box, a_stays=a_stays):
        _, exe, target = p.case(name, {"a.txt": b"alpha\n" * 1000, "b.txt": b"beta\n" * 1000}, *options)
        exe = p.patched(exe, change, name)
        if name == "write-error":
            os.symlink("/dev/full", os.path.join(target, "a.txt"))
        run = s.start(exe, ["-n"] if a_stays is not None else [], name=name)
        run.wait_for_call("MessageBoxA")
        s.keys(main_window(s, 1 if a_stays is None else 2), "Return")
        if a_stays is None:
            check_exit(run, 0)
            expect_box(run, 0, box, MB_ERROR)
            check(not run.calls("DialogBoxParamA"), "the dialog was shown")
            return
        check_exit(run, 1)
        expect_box(run, dialog_of(run), box, MB_ERROR)
        written = "C:/e2e/%s/%s" % (name, "b.txt" if a_stays else "a.txt")
        check(written in [c.args[0] for c in run.calls("DeleteFileA")], "%s was not deleted" % written)
        check(os.path.isfile(os.path.join(target, "a.txt")) == a_stays, "a.txt kept: %s" % (not a_stays))
        check(not os.path.isfile(os.path.join(target, "b.txt")), "b.txt was left")
    case("errors", name)(failure)


@case("win32s")
def win32s_times_program_files_and_win_ini(s, p):
    # Under Win32s TZ shifts the times, %ProgramFiles% is the Windows drive, a file type goes to WIN.INI.
    script = p.text("w32s.txt", b"$ClassTitle=Types\r\n$Class=.EX3,Old Data,EXAMPLE.EXE,OldData\r\n")
    _, exe, target = p.case("w32s", {"t.txt": b"time\n", "EXAMPLE.EXE": b"MZ\r\n",
                                     "%ProgramFiles%/kx/p.txt": b"program files\n"}, "--script", script)
    shutil.rmtree(s.unix_path("C:\\kx"), ignore_errors=True)
    key = "HKCU\\Software\\Wine\\AppDefaults\\w32s.exe"
    s.registry(key, "Version", "win31")
    try:
        run = s.start(exe, ["-n"], env={"TZ": "JST-9"}, name="w32s")
        check_exit(run, 1)
    finally:
        s.wine_tool("reg", "delete", key, "/f")
    mtime = int(os.stat(os.path.join(target, "t.txt")).st_mtime)
    check(mtime == T0 + 9 * 3600, "time %s, not shifted by TZ=JST-9 to %s" % (mtime, T0 + 32400))
    check(os.path.isfile(s.unix_path("C:\\kx\\p.txt")), "%ProgramFiles% was not the Windows drive")
    check(not [c for c in run.calls("RegOpenKeyExA") if "CurrentVersion" in str(c.args[1])], "the registry was read")
    entry = s.registry_value("HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Extensions", "ex3")
    check(entry == "C:\\e2e\\w32s\\EXAMPLE.EXE ^.ex3", "Extensions entry %r" % entry)
    check(s.registry_value("HKCR\\.ex3") is None and not run.calls("RegCreateKeyExA"), "the registry was written")


@case("signed")
def signed_installer_extracts_and_keeps_its_integrity_check(s, p):
    # Signing changes the PE header's checksum and certificate entry and puts the signature behind the
    # archive, which reads as before, integrity value included; a CRC field changed after signing is tampered.
    rng = random.Random(13)
    files = {"readme.txt": b"Signed installer\r\n" * 40, "data.bin": rng.randbytes(500000),
             "docs/guide.txt": b"".join(b"line %d of the guide\n" % i for i in range(5000))}
    # A length that is a multiple of 8 puts the signature right behind the archive (data.bin is stored).
    for _ in range(2):
        top = p.tree("signed", files)
        unsigned = p.pack("unsigned", top, ["readme.txt", "data.bin", "docs"], "--integrity",
                          "--dir", "C:\\e2e\\signed")
        files["data.bin"] += rng.randbytes(-os.path.getsize(unsigned) % 8)
    check(os.path.getsize(unsigned) % 8 == 0, "the installer's length is not a multiple of 8")
    key, cert, signed = os.path.join(s.work, "key.pem"), os.path.join(s.work, "cert.pem"), p.out + "/signed.exe"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=Kobrix Test"], capture_output=True, check=True)
    if os.path.exists(signed):
        os.remove(signed)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", TITLE, "-in", unsigned, "-out",
                    signed], capture_output=True, check=True)
    tampered = p.patched(signed, file_crc_changed, "signed-tampered")
    for exe, good in ((signed, True), (tampered, False)):
        target = s.folder("C:\\e2e\\signed")
        run = s.start(exe, ["-n"], name=os.path.basename(exe))
        if good:
            check_exit(run, 1)
            check(not run.message_boxes(), "boxes shown: %s" % run.message_boxes())
            same_tree(top, target, files)
            continue
        run.wait_for_call("MessageBoxA")
        s.keys(main_window(s), "Return")
        check_exit(run, 0)
        expect_box(run, 0, '"C:\\pay\\signed-tampered.exe" Tampered DATA', MB_ERROR)
        check(os.listdir(target) == [], "files written: %s" % os.listdir(target))

INSTALL_FILES = {"EXAMPLE.EXE": b"MZ not a real program\r\n", "README.TXT": b"Read me first.\r\n"}
COMMAND = "$Command=cmd.exe /c cd > started.txt\r\n"


def install_exe(s, p, name, script, *options):
    """INSTALL_FILES and script packed as name.exe, in a fresh Wine session:
    the desktop and its DDE server start with this run."""
    s.restart()
    top = p.tree("install", INSTALL_FILES)
    return p.pack(name, top, sorted(INSTALL_FILES), "--script", p.text(name + ".txt", script.encode()), *options)


def group_folder(s, group):
    return glob.glob(os.path.join(s.drive_c, "users", "*", "AppData", "Roaming", "Microsoft", "Windows",
                                  "Start Menu", "Programs", group))


@case("install")
def clean_run_registers_adds_items_and_runs_the_command(s, p):
    app = "C:\\Program Files\\Example App"
    script = ("$InstallDir=%s\r\n$GroupTitle=Add to the &Start Menu\r\n"
              "$Group=Example App,Example App,EXAMPLE.EXE,\r\n$Group=Example App,Read Me,README.TXT\r\n"
              "$ClassTitle=Register .exd &files\r\n$Class=.EXD,Example Data,EXAMPLE.EXE,ExampleData\r\n" % app
              + COMMAND)
    exe = install_exe(s, p, "clean", script)
    dest = s.folder(app)
    run = s.start(exe, ["-n"], channels=",+shell", name="clean")
    check_exit(run, 1)
    check(os.path.isfile(os.path.join(dest, "EXAMPLE.EXE")), "members not extracted")
    command = s.registry_value("HKCR\\ExampleData\\shell\\open\\command") or ""
    short = command[1:command.find('"', 1)]
    check(command == '"%s" "%%1"' % short and "~" in short and " " not in short, "command %r" % command)
    where = s.wine_tool("winepath", "-u", short).stderr.strip().splitlines()[-1]  # the short name's file
    check(os.path.realpath(where) == os.path.realpath(os.path.join(dest, "EXAMPLE.EXE")), "%s is %s" % (short, where))
    values = ["ExampleData", "Example Data", '"%s" "%%1"' % short, short + ",0"]
    keys = [".exd", "ExampleData", "ExampleData\\shell\\open\\command", "ExampleData\\DefaultIcon"]
    got = [s.registry_value("HKCR\\" + k) for k in keys]
    check(got == values, "registry %s" % got)
    # Each default value a REG_SZ counted with its terminator (Wine reads it
    # back either way); the change broadcast.
    sets = [(c.args[1], c.args[3], c.args[5]) for c in run.calls("RegSetValueExA")]
    check(sets == [("", 1, len(v) + 1) for v in values], "values set: %s" % sets)
    posts = [c.args[:4] for c in run.calls("PostMessageA")]
    check([0xFFFF, 0x1A, 0, 0] in posts, "no settings broadcast: %s" % posts)
    # Two whole conversations, as Wine's shell received them. README.TXT is
    # a short name already: its short path is in the same folder.
    folder = short.rsplit("\\", 1)[0].replace("\\", "\\\\")
    trace = run.trace()
    executes = re.findall(r'Dde_OnExecute .*? data=L"(.*)"', trace)
    expected = [r'[CreateGroup(\"Example App\",0)]\n[AddItem(%s\\%s)]' % (folder, item)
                for item in ("EXAMPLE.EXE,Example App", "README.TXT,Read Me")]
    check(executes == expected, "%s != %s" % (executes, expected))
    check(trace.count("Dde_OnConnectConfirm") == 2 and trace.count("Dde_OnDisconnect") == 2, "not two conversations")
    check(group_folder(s, "Example App"), "no group folder")
    started = os.path.join(dest, "started.txt")
    check(os.path.isfile(started) and read(started).strip() == app.encode(),
          "the command did not run in the extraction directory")


@case("install")
def crc_error_keeps_the_actions_and_drops_the_command(s, p):
    # After a CRC error the group and class lines act, each class asked
    # first ($AskRegist: No skips its line); the command does not run.
    script = ("$InstallDir=C:\\Broken\r\n$GroupTitle=Menu\r\n$Group=Broken Group,One,EXAMPLE.EXE\r\n"
              "$ClassTitle=Register &files\r\n$AskRegist=1\r\n$Class=.kxa,First Type,EXAMPLE.EXE,KobrixFirst\r\n"
              "$Class=.kxb,Second Type,EXAMPLE.EXE,KobrixSecond\r\n" + COMMAND)

    def damage(data):
        data[data.find(b"Read me first.")] ^= 0x20
    exe = p.patched(install_exe(s, p, "broken-good", script, "--method", "lh0"), damage, "broken")
    dest = s.folder("C:\\Broken")
    for key in ("HKCR\\.kxa", "HKCR\\.kxb"):  # the other stub's run wrote one
        s.wine_tool("reg", "delete", key, "/f")
    run = s.start(exe, ["-n"], name="broken")
    answer_box(s, run, "CRC ERROR", "Return")
    answer_box(s, run, '"First Type" Set Class?', "n")
    answer_box(s, run, '"Second Type" Set Class?', "y")
    check_exit(run, 1)
    check(not os.path.exists(os.path.join(dest, "README.TXT")), "the damaged member stayed")
    check("Register &files" in texts_of(run, 106) and len(run.message_boxes()) == 3, "box text %s, boxes %s" %
          (texts_of(run, 106), run.message_boxes()))
    registered = [s.registry_value(k) for k in ("HKCR\\.kxa", "HKCR\\.kxb")]
    check(registered == [None, "KobrixSecond"], "the registry holds %s" % registered)
    check(group_folder(s, "Broken Group"), "the group line did not act")
    check(not os.path.exists(os.path.join(dest, "started.txt")), "the command ran")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--stub")
    parser.add_argument("--pack")
    parser.add_argument("--only", action="append", help="run only this case (repeatable)")
    parser.add_argument("command", choices=["setup", "run", "cleanup"])
    parser.add_argument("group", nargs="?", choices=sorted(CASES))
    args = parser.parse_args()
    run = args.command == "run"
    missing = wh.missing_tools() + [t for t in ("osslsigncode", "openssl") if args.group == "signed" and
                                    shutil.which(t) is None]
    missing += ["%s (not built)" % p for p in (args.stub, args.pack) if run and not (p and os.path.exists(p))]
    reason = wh.why_no_32bit() if run and not missing and wh.bits_of(args.stub) == 32 else None
    if (missing or reason) and args.command != "cleanup":
        print("skipped: %s" % ("%s not found" % ", ".join(missing) if missing else
                               "%s is a 32-bit program and %s" % (os.path.basename(args.stub), reason)))
        return wh.SKIP
    session = wh.Session(args.work, args.stub)
    if not run:
        return 0 if missing else getattr(session, args.command)() or 0
    if not os.path.isdir(session.drive_c):
        print("FAIL: no Wine prefix; the setup test did not run")
        return 1
    failed = []
    try:
        session.open_display()
        payloads = Payloads(session, args.pack, args.stub)
        for name, function in CASES[args.group]:
            if args.only and name not in args.only:
                continue
            began = time.time()
            try:
                function(session, payloads)
                print("ok    %-50s %5.1f s" % (name, time.time() - began))
            except Exception:
                failed.append(name)
                session.screenshot("failed-" + name)
                session.restart()  # what the case left running
                print("FAIL  %s\n%s" % (name, traceback.format_exc()))
    finally:
        session.close_display()
    print("screenshots and traces: %s, %s" % (session.shots, session.traces))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
