#!/usr/bin/env python3
"""The Windows stub end to end: kobrix-stub64.exe, packed with payloads by
kobrix-pack, run under Wine on a virtual display and driven by xdotool. What
it does is read from the files it writes, its exit code and the relay trace
of its calls.

Usage:
  wine_e2e.py --work DIR setup                 make the Wine prefix (once per run)
  wine_e2e.py --work DIR --stub S --pack P run GROUP
  wine_e2e.py --work DIR cleanup               stop the Wine server
Exit code 77: skipped (a tool is missing).
"""
import argparse
import hashlib
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import time
import traceback

import wine_harness as wh
from wine_harness import MB_ERROR, MB_EXCLAMATION, MB_QUESTION_YES_NO, MB_QUESTION_YES_NO_CANCEL

TITLE = "Kobrix E2E"
T0 = 1000000000  # 2001-09-09 01:46:40 UTC, the time of every packed file
GENERIC_WRITE = 0x40000000
WM_SETTEXT_CONTROLS = {"directory": 100, "member": 101, "progress": 102}


class Payloads:
    """Source trees and the self-extracting files packed from them."""

    def __init__(self, session, pack, stub):
        self.session, self.pack_tool, self.stub = session, pack, stub
        self.sources = os.path.join(session.work, "sources")
        self.out = session.folder("C:\\pay", fresh=False)

    def tree(self, name, files):
        """files: {relative path: bytes, or None for a folder}; every file and
        folder gets the time T0."""
        top = os.path.join(self.sources, name)
        if os.path.exists(top):
            shutil.rmtree(top)
        os.makedirs(top)
        for rel, content in files.items():
            path = os.path.join(top, rel)
            if content is None:
                os.makedirs(path, exist_ok=True)
            else:
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(content)
        for rel in sorted(files, key=len, reverse=True):
            os.utime(os.path.join(top, rel), (T0, T0))
        return top

    def pack(self, name, top, paths, *options, exe_name=None):
        exe = os.path.join(self.out, exe_name or name + ".exe")
        argv = [self.pack_tool, "-o", exe, "--stub", self.stub, "--title", TITLE] + list(options)
        argv += ["-C", top] + list(paths)
        done = subprocess.run(argv, capture_output=True, text=True)
        if done.returncode != 0:
            raise AssertionError("kobrix-pack: %s" % done.stderr)
        self.session.give(exe)
        return exe

    def patched(self, exe, change, name):
        """A copy of exe with change(bytearray) applied."""
        data = bytearray(open(exe, "rb").read())
        change(data)
        path = os.path.join(self.out, name + ".exe")
        with open(path, "wb") as f:
            f.write(data)
        self.session.give(path)
        return path


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def same_tree(source, target, names):
    for rel in names:
        got = os.path.join(target, rel)
        check(os.path.isfile(got), "%s was not extracted" % rel)
        check(sha(got) == sha(os.path.join(source, rel)), "%s differs from its source" % rel)


def dialog_of(run):
    """The main dialog's window handle: the owner of its directory field's text."""
    found = run.wait_for_call("SetDlgItemTextA", lambda c: c.args[1] == 100)
    return found[0].args[0]


def texts_of(run, control):
    return [c.args[2] for c in run.calls("SetDlgItemTextA") if c.args[1] == control]


def writes_of(run):
    return [c.args[0] for c in run.calls("CreateFileA") if c.args[1] == GENERIC_WRITE]


def expect_box(run, owner, text, style):
    boxes = run.message_boxes()
    check((owner, text, TITLE, style) in boxes,
          "no box %r (owner %s, style %#x); boxes: %s" % (text, owner, style, boxes))


def main_window(session, count=1):
    return session.wait_window(TITLE, count)


def display_name(path, limit=32):
    """What control 101 shows for a target path."""
    if len(path) < limit:
        return path
    title = path.rsplit("/", 1)[-1]
    n = limit - len(title) - 4
    return (path[:n - 1] if n > 0 else "") + ".../" + title


# ---- the cases ----

CASES = {}


def case(group):
    def register(function):
        CASES.setdefault(group, []).append(function)
        return function
    return register


def common_tree(p):
    rng = random.Random(7)
    files = {
        "readme.txt": b"Kobrix end-to-end test\r\n" * 40,
        "data.bin": bytes(rng.getrandbits(8) for _ in range(200000)),
        "docs/guide.txt": b"".join(b"line %d of the guide\n" % i for i in range(5000)),
        "empty.txt": b"",
        "emptydir": None,
        "a_rather_long_folder_name/inner/file_with_long_name.txt": b"deep\n",
        "%ProgramFiles%/kx/p.txt": b"program files\n",
    }
    return p.tree("common", files), [k for k, v in files.items() if v is not None]


@case("extract")
def auto_start_extracts_exactly(s, p):
    top, names = common_tree(p)
    exe = p.pack("auto", top, ["readme.txt", "data.bin", "docs", "empty.txt", "emptydir",
                               "a_rather_long_folder_name", "%ProgramFiles%"],
                 "--dir", "C:\\e2e\\auto")
    target = s.folder("C:\\e2e\\auto")
    program_files = s.unix_path("C:\\Program Files\\kx")
    shutil.rmtree(program_files, ignore_errors=True)
    # TZ counts only under Win32s.
    run = s.start(exe, ["-n"], env={"TZ": "JST-9"}, name="auto")
    check(run.wait() == 1, "exit code %s, not 1" % run.exit_code)
    plain = [n for n in names if not n.startswith("%")]
    same_tree(top, target, plain)
    check(os.path.isdir(os.path.join(target, "emptydir")), "the directory member was not made")
    check(sha(os.path.join(program_files, "p.txt")) == sha(os.path.join(top, "%ProgramFiles%/kx/p.txt")),
          "%ProgramFiles% did not lead to C:\\Program Files")
    for rel in plain:
        mtime = os.stat(os.path.join(target, rel)).st_mtime
        check(int(mtime) == T0, "%s has the time %s, not %s" % (rel, mtime, T0))

    dialog = dialog_of(run)
    check(texts_of(run, 100) == ["C:\\e2e\\auto"], "directory field %s" % texts_of(run, 100))
    members = texts_of(run, 101)
    long_path = "C:/e2e/auto/a_rather_long_folder_name/inner/file_with_long_name.txt"
    check("C:/e2e/auto/readme.txt" in members, "control 101 showed %s" % members)
    check(display_name(long_path) in members and display_name(long_path).startswith("C:/e.../"),
          "long path shown as %s" % members)
    count = len([m for m in wh.members(read(exe)) if m.name not in ("!", "$")])
    check(len(members) == count, "control 101 showed %d names for %d members" % (len(members), count))
    # Each name comes with "Extract... 0%"; the progress of the member follows.
    shown = [(c.args[1], c.args[2]) for c in run.calls("SetDlgItemTextA") if c.args[1] != 100]
    for i, (control, text) in enumerate(shown):
        if control == 101:
            check(shown[i + 1] == (102, "Extract... 0%"), "after %s: %s" % (text, shown[i + 1:i + 2]))
    progress = texts_of(run, 102)
    check(progress[-1] == "Extract... 100%", "last progress text %s" % progress[-1])
    percentages = [int(t[len("Extract... "):-1]) for t in progress]
    check(all(0 <= v <= 100 for v in percentages), "progress out of range: %s" % progress)
    check(not run.message_boxes(), "boxes shown: %s" % run.message_boxes())
    check(all(c.args[0] == dialog for c in run.calls("SetDlgItemTextA")), "texts set outside the dialog")


@case("extract")
def typed_directory(s, p):
    top = p.tree("small", {"a.txt": b"alpha\n", "sub/b.txt": b"beta\n"})
    exe = p.pack("typed", top, ["a.txt", "sub"], "--dir", "C:\\e2e\\default")
    s.folder("C:\\e2e\\default")
    target = s.folder("C:\\e2e\\typed dir")
    shutil.rmtree(target)
    run = s.start(exe, name="typed")
    window = main_window(s)
    s.window_image(window, "dialog-waiting")
    s.keys(window, "ctrl+a", "BackSpace")
    s.type_text(window, "C:\\e2e\\typed dir")
    s.keys(window, "Return")
    check(run.wait() == 1, "exit code %s" % run.exit_code)
    same_tree(top, target, ["a.txt", "sub/b.txt"])
    check(os.listdir(s.unix_path("C:\\e2e\\default")) == [], "files went to the default directory")


@case("extract")
def quoted_directory(s, p):
    top = p.tree("small", {"a.txt": b"alpha\n", "sub/b.txt": b"beta\n"})
    exe = p.pack("quoted", top, ["a.txt", "sub"], "--dir", "C:\\e2e\\unused")
    target = s.folder("C:\\e2e\\quoted")
    shutil.rmtree(target)
    run = s.start(exe, name="quoted")
    window = main_window(s)
    s.keys(window, "ctrl+a", "BackSpace")
    s.type_text(window, '"C:\\e2e\\quo"ted"')
    s.keys(window, "Return")
    check(run.wait() == 1, "exit code %s" % run.exit_code)
    same_tree(top, target, ["a.txt", "sub/b.txt"])


@case("extract")
def network_directory_refused(s, p):
    top = p.tree("small", {"a.txt": b"alpha\n", "sub/b.txt": b"beta\n"})
    exe = p.pack("network", top, ["a.txt", "sub"], "--dir", "C:\\e2e\\unused")
    run = s.start(exe, name="network")
    window = main_window(s)
    s.keys(window, "ctrl+a", "BackSpace")
    s.type_text(window, "\\\\server\\share")
    s.keys(window, "Return")
    run.wait_for_box("Invalid directory")
    box = main_window(s, 2)
    s.keys(box, "Return")
    s.keys(main_window(s), "Escape")
    check(run.wait() == 0, "exit code %s, not 0" % run.exit_code)
    expect_box(run, dialog_of(run), "Invalid directory", MB_EXCLAMATION)
    check(not writes_of(run), "files written: %s" % writes_of(run))


@case("extract")
def cancel_before_extraction(s, p):
    top = p.tree("small", {"a.txt": b"alpha\n", "sub/b.txt": b"beta\n"})
    exe = p.pack("cancel-before", top, ["a.txt", "sub"], "--dir", "C:\\e2e\\never")
    target = s.folder("C:\\e2e\\never")
    shutil.rmtree(target)
    run = s.start(exe, name="cancel-before")
    s.keys(main_window(s), "Escape")
    check(run.wait() == 0, "exit code %s, not 0" % run.exit_code)
    check(not os.path.exists(target), "the directory was made")
    check(not run.calls("CreateDirectoryA") and not writes_of(run), "something was written")


def big_payload(p, name):
    """A small member, a big one that takes a while to decode, a last one."""
    top = os.path.join(p.sources, "big")
    if not os.path.exists(os.path.join(top, "last.txt")):
        big = b"".join(b"%d\n" % i for i in range(5000000))
        top = p.tree("big", {"first.txt": b"first\n" * 100, "big.txt": big, "last.txt": b"last\n"})
    return top, p.pack(name, top, ["first.txt", "big.txt", "last.txt"], "--method", "lh5",
                       "--dir", "C:\\e2e\\" + name)


@case("extract")
def cancel_during_extraction(s, p):
    top, exe = big_payload(p, "cancel-during")
    target = s.folder("C:\\e2e\\cancel-during")
    run = s.start(exe, ["-n"], name="cancel-during")
    window = main_window(s)
    big = os.path.join(target, "big.txt")
    deadline = time.time() + 30
    while not (os.path.exists(big) and os.path.getsize(big) > 0) and time.time() < deadline:
        time.sleep(0.02)
    s.window_image(window, "dialog-extracting")
    s.keys(window, "Escape")
    check(run.wait() == 1, "exit code %s, not 1" % run.exit_code)
    same_tree(top, target, ["first.txt"])
    check(not os.path.exists(big), "the member being written was left behind")
    check(not os.path.exists(os.path.join(target, "last.txt")), "the pass went on after Cancel")
    check("C:/e2e/cancel-during/big.txt" in [c.args[0] for c in run.calls("DeleteFileA")],
          "the partial file was not deleted")


@case("overwrite")
def second_ok_starts_no_second_pass(s, p):
    # With automatic start, OK pressed before the timer fires. The pass then
    # waits in the overwrite question, whose message loop would deliver the
    # timer's OK; it must not start a second pass inside the first. A key that
    # came after the timer proves nothing, so the try is then repeated.
    for attempt in range(3):
        top, exe, target = overwrite_setup(s, p, "second-ok")
        run = s.start(exe, ["-n"], name="second-ok-%d" % attempt)
        s.keys(main_window(s), "Return")
        run.wait_for_box("Overwrite?")
        time.sleep(1.5)  # twice the timer's 700 ms
        s.keys(main_window(s, 2), "y")
        check(run.wait(timeout=20) == 1, "exit code %s" % run.exit_code)
        opened = run.calls("DialogBoxParamA")[0].when
        check(opened > 0, "the relay trace has no times")
        started = [c for c in run.calls("SetDlgItemTextA") if c.args[1] == 101][0].when
        if started - opened < 0.6:
            break
    else:
        raise AssertionError("OK could not be pressed before the timer fired")
    boxes = [b for b in run.message_boxes() if "Overwrite?" in b[1]]
    check(len(boxes) == 1, "a second pass asked again: %s" % boxes)
    check(len(texts_of(run, 101)) == 3, "members shown: %s" % texts_of(run, 101))
    check(read(os.path.join(target, "a.txt")) == b"new a\n", "a.txt was not replaced")
    check(read(os.path.join(target, "c.txt")) == b"new c\n", "c.txt was not extracted")


def overwrite_setup(s, p, name, *options, read_only_member=False):
    files = {"a.txt": b"new a\n", "b.txt": b"new b\n", "c.txt": b"new c\n"}
    top = p.tree("overwrite", files)
    if read_only_member:
        os.chmod(os.path.join(top, "a.txt"), 0o444)
    exe = p.pack(name, top, ["a.txt", "b.txt", "c.txt"], "--dir", "C:\\e2e\\" + name, *options)
    target = s.folder("C:\\e2e\\" + name)
    for rel, content, when in (("a.txt", b"old a\n", T0 - 1000), ("b.txt", b"newer b\n", T0 + 1000)):
        path = os.path.join(target, rel)
        with open(path, "wb") as f:
            f.write(content)
        os.utime(path, (when, when))
    s.give(target)
    return top, exe, target


def read(path):
    with open(path, "rb") as f:
        return f.read()


def answer_overwrite(s, run, key, name):
    run.wait_for_box("Overwrite?")
    s.keys(main_window(s, 2), key)
    check(run.wait() == 1, "exit code %s" % run.exit_code)
    expect_box(run, dialog_of(run), '"C:/e2e/%s/a.txt" Overwrite?' % name, MB_QUESTION_YES_NO_CANCEL)
    boxes = [b for b in run.message_boxes() if "Overwrite?" in b[1]]
    check(len(boxes) == 1, "questions: %s (a newer file must be skipped silently)" % boxes)


@case("overwrite")
def overwrite_answered_yes(s, p):
    top, exe, target = overwrite_setup(s, p, "ow-yes")
    run = s.start(exe, ["-n"], name="ow-yes")
    answer_overwrite(s, run, "y", "ow-yes")
    check(read(os.path.join(target, "a.txt")) == b"new a\n", "a.txt was not replaced")
    check(read(os.path.join(target, "b.txt")) == b"newer b\n", "the newer b.txt was replaced")
    check(read(os.path.join(target, "c.txt")) == b"new c\n", "c.txt was not extracted")


@case("overwrite")
def overwrite_answered_no(s, p):
    top, exe, target = overwrite_setup(s, p, "ow-no")
    run = s.start(exe, ["-n"], name="ow-no")
    answer_overwrite(s, run, "n", "ow-no")
    check(read(os.path.join(target, "a.txt")) == b"old a\n", "a.txt was replaced")
    check(read(os.path.join(target, "c.txt")) == b"new c\n", "c.txt was not extracted")


@case("overwrite")
def overwrite_answered_cancel(s, p):
    top, exe, target = overwrite_setup(s, p, "ow-cancel")
    run = s.start(exe, ["-n"], name="ow-cancel")
    answer_overwrite(s, run, "Escape", "ow-cancel")
    check(read(os.path.join(target, "a.txt")) == b"old a\n", "a.txt was replaced")
    check(not os.path.exists(os.path.join(target, "c.txt")), "the pass went on after Cancel")
    check(len(run.message_boxes()) == 1, "boxes: %s" % run.message_boxes())


@case("overwrite")
def read_only_file_kept_without_restore_attributes(s, p):
    top, exe, target = overwrite_setup(s, p, "ro-plain")
    a = os.path.join(target, "a.txt")
    os.chmod(a, 0o444)
    run = s.start(exe, ["-n"], name="ro-plain")
    run.wait_for_box("Overwrite?")
    s.keys(main_window(s, 2), "y")
    run.wait_for_box("Open ERROR")
    s.keys(main_window(s, 2), "Return")
    check(run.wait() == 1, "exit code %s" % run.exit_code)
    expect_box(run, dialog_of(run), '"C:/e2e/ro-plain/a.txt" Open ERROR', MB_ERROR)
    check(read(a) == b"old a\n", "the read-only file changed")
    check(not os.path.exists(os.path.join(target, "c.txt")), "the pass went on after the error")
    check(not run.calls("SetFileAttributesA"), "attributes changed: %s" % run.calls("SetFileAttributesA"))


@case("overwrite")
def read_only_file_replaced_with_restore_attributes(s, p):
    top, exe, target = overwrite_setup(s, p, "ro-restore", "--restore-attributes",
                                       read_only_member=True)
    a = os.path.join(target, "a.txt")
    os.chmod(a, 0o444)
    run = s.start(exe, ["-n"], name="ro-restore")
    run.wait_for_box("Overwrite?")
    s.keys(main_window(s, 2), "y")
    check(run.wait() == 1, "exit code %s" % run.exit_code)
    check(read(a) == b"new a\n", "the read-only file was not replaced")
    check(not os.stat(a).st_mode & stat.S_IWUSR, "a.txt did not get its read-only attribute back")
    check(os.stat(os.path.join(target, "c.txt")).st_mode & stat.S_IWUSR, "c.txt is read-only")
    calls = [(c.args[0], c.args[1]) for c in run.calls("SetFileAttributesA")]
    check(calls[:2] == [("C:/e2e/ro-restore/a.txt", 0x80), ("C:/e2e/ro-restore/a.txt", 0x21)],
          "attribute calls %s" % calls)


@case("messages")
def message_member_answered_no(s, p):
    top = p.tree("small", {"a.txt": b"alpha\n", "sub/b.txt": b"beta\n"})
    message = os.path.join(p.sources, "message.txt")
    with open(message, "wb") as f:
        f.write(b"Install the test files?")
    exe = p.pack("message-no", top, ["a.txt"], "--message", message, "--dir", "C:\\e2e\\msg-no")
    target = s.folder("C:\\e2e\\msg-no")
    run = s.start(exe, name="message-no")
    run.wait_for_box("Install the test files?")
    s.keys(main_window(s), "n")
    check(run.wait() == 0, "exit code %s, not 0" % run.exit_code)
    expect_box(run, 0, "Install the test files?", MB_QUESTION_YES_NO)
    check(not run.calls("DialogBoxParamA"), "the dialog was shown")
    check(os.listdir(target) == [], "files written")

    exe = p.pack("message-yes", top, ["a.txt"], "--message", message, "--dir", "C:\\e2e\\msg-no")
    run = s.start(exe, name="message-yes")
    run.wait_for_box("Install the test files?")
    s.keys(main_window(s), "y")
    run.wait_for_call("DialogBoxParamA")
    s.keys(main_window(s), "Return")
    check(run.wait() == 1, "exit code %s" % run.exit_code)
    same_tree(top, target, ["a.txt"])


@case("messages")
def class_check_box_decides_registration(s, p):
    top = p.tree("small", {"a.txt": b"alpha\n", "sub/b.txt": b"beta\n"})
    script = os.path.join(p.sources, "script.txt")
    with open(script, "wb") as f:
        f.write(b"$ClassTitle=Register .kx1 &files\r\n$Class=.kx1,Kobrix Test,a.txt,KobrixTest.File\r\n")
    exe = p.pack("class", top, ["a.txt"], "--script", script, "--dir", "C:\\e2e\\class")
    s.folder("C:\\e2e\\class")
    for ticked in (True, False):
        for key in ("HKCR\\.kx1", "HKCR\\KobrixTest.File"):
            s.wine_tool("reg", "delete", key, "/f")
        run = s.start(exe, name="class-%s" % ticked)
        window = main_window(s)
        if not ticked:
            s.keys(window, "alt+f")  # the box's mnemonic: a click
        s.keys(window, "Return")
        check(run.wait() == 1, "exit code %s" % run.exit_code)
        check("Register .kx1 &files" in texts_of(run, 106), "box text %s" % texts_of(run, 106))
        query = s.wine_tool("reg", "query", "HKCR\\.kx1", "/ve").stderr
        check(("KobrixTest.File" in query) == ticked,
              "with the box %s the registry holds: %s" % ("ticked" if ticked else "cleared", query))


def broken(s, p, name, change, *options, method="lh5", files=None):
    top = p.tree("broken", files or {"a.txt": b"alpha\n" * 1000, "b.txt": b"beta\n" * 1000})
    exe = p.pack(name + "-good", top, ["a.txt", "b.txt"], "--dir", "C:\\e2e\\" + name,
                 "--method", method, *options)
    s.folder("C:\\e2e\\" + name)
    return p.patched(exe, change, name)


def scan_failure(s, p, name, change, text, *options, **kwargs):
    exe = broken(s, p, name, change, *options, **kwargs)
    run = s.start(exe, name=name)
    run.wait_for_call("MessageBoxA")
    s.keys(main_window(s), "Return")
    check(run.wait() == 0, "exit code %s, not 0" % run.exit_code)
    module = "C:\\pay\\%s.exe" % name
    expected = text if text == "Not enough memory" else '"%s" %s' % (module, text)
    expect_box(run, 0, expected, MB_ERROR)
    check(not run.calls("DialogBoxParamA"), "the dialog was shown")


def extract_failure(s, p, name, change, text, *options, **kwargs):
    exe = broken(s, p, name, change, *options, **kwargs)
    run = s.start(exe, ["-n"], name=name)
    run.wait_for_box(text)
    s.keys(main_window(s, 2), "Return")
    check(run.wait() == 1, "exit code %s" % run.exit_code)
    return run


def first_member(data):
    return wh.members(data)[0]


@case("errors")
def bad_header(s, p):
    def change(data):
        data[first_member(data).offset + 15] ^= 0x01  # the time, under the header CRC
    scan_failure(s, p, "bad-header", change, "Bad header")


@case("errors")
def truncated_archive(s, p):
    def change(data):
        last = wh.members(data)[-1]
        del data[last.data_offset + last.packed // 2:]
    scan_failure(s, p, "truncated", change, "Unexpeted EOF")


@case("errors")
def archive_offset_beyond_the_end(s, p):
    def change(data):
        struct.pack_into("<I", data, 512, len(data) + 1)
    scan_failure(s, p, "offset", change, "Unexpeted EOF")


@case("errors")
def tampered_data(s, p):
    def change(data):
        m = first_member(data)
        struct.pack_into("<H", data, m.offset + 21, m.file_crc ^ 0x0101)
        wh.reseal_header(data, m)
    scan_failure(s, p, "tampered", change, "Tampered DATA", "--integrity")


@case("errors")
def header_too_large_for_memory(s, p):
    def change(data):
        struct.pack_into("<H", data, first_member(data).offset, 0x8001)
    scan_failure(s, p, "no-memory", change, "Not enough memory")


@case("errors")
def crc_error(s, p):
    def change(data):
        m = first_member(data)
        struct.pack_into("<H", data, m.offset + 21, m.file_crc ^ 0x0101)
        wh.reseal_header(data, m)
    run = extract_failure(s, p, "crc", change, "CRC ERROR")
    expect_box(run, dialog_of(run), '"C:/e2e/crc/a.txt" CRC ERROR', MB_ERROR)
    target = s.unix_path("C:\\e2e\\crc")
    check(not os.path.exists(os.path.join(target, "a.txt")), "the file with the wrong CRC stayed")
    check(not os.path.exists(os.path.join(target, "b.txt")), "the pass went on after the error")


@case("errors")
def read_error_in_stored_member(s, p):
    def change(data):
        m = wh.members(data)[-1]
        struct.pack_into("<I", data, m.offset + 11, m.unpacked + 1000)
        wh.reseal_header(data, m)
    run = extract_failure(s, p, "read-error", change, "Read ERROR", method="lh0")
    expect_box(run, dialog_of(run), '"C:\\pay\\read-error.exe" Read ERROR', MB_ERROR)
    target = s.unix_path("C:\\e2e\\read-error")
    check(os.path.isfile(os.path.join(target, "a.txt")), "the first member was not kept")
    check(not os.path.exists(os.path.join(target, "b.txt")), "the partial file stayed")


@case("errors")
def bad_table(s, p):
    def change(data):
        m = first_member(data)
        # Block size 1, then a code-length list of no length whose one symbol (31) is
        # outside the 19 of its alphabet.
        data[m.data_offset:m.data_offset + 4] = bytes([0x00, 0x01, 0x07, 0xC0])
    run = extract_failure(s, p, "bad-table", change, "Bad table")
    expect_box(run, dialog_of(run), '"C:\\pay\\bad-table.exe" Bad table', MB_ERROR)
    check(not os.path.exists(s.unix_path("C:\\e2e\\bad-table\\a.txt")), "the partial file stayed")


@case("errors")
def write_error(s, p):
    exe = broken(s, p, "write-error", lambda data: None, "--overwrite", "--no-date-check")
    target = s.unix_path("C:\\e2e\\write-error")
    os.symlink("/dev/full", os.path.join(target, "a.txt"))
    s.give(target)
    run = s.start(exe, ["-n"], name="write-error")
    run.wait_for_box("Write ERROR")
    s.keys(main_window(s, 2), "Return")
    check(run.wait() == 1, "exit code %s" % run.exit_code)
    expect_box(run, dialog_of(run), '"C:/e2e/write-error/a.txt" Write ERROR', MB_ERROR)
    check("C:/e2e/write-error/a.txt" in [c.args[0] for c in run.calls("DeleteFileA")],
          "the file was not deleted")
    check(not os.path.exists(os.path.join(target, "b.txt")), "the pass went on after the error")


@case("browse")
def browse_chooses_directory(s, p):
    top = p.tree("small", {"a.txt": b"alpha\n", "sub/b.txt": b"beta\n"})
    exe = p.pack("browse", top, ["a.txt", "sub"], "--dir", "C:\\e2e\\unused")
    start = s.folder("C:\\e2e\\br owse")
    run = s.start(exe, cwd=start, name="browse")
    s.keys(main_window(s), "alt+r")
    chooser = s.wait_window("Extracting directory")
    s.window_image(chooser, "chooser")
    run.wait_for_call("GetOpenFileNameA")
    s.keys(chooser, "Return")
    run.wait_for_call("SetDlgItemTextA", lambda c: c.args[1] == 100, count=2)
    s.keys(main_window(s), "alt+o")
    check(run.wait() == 1, "exit code %s" % run.exit_code)
    check(texts_of(run, 100)[-1] == '"C:\\e2e\\br owse"', "field set to %s" % texts_of(run, 100))
    same_tree(top, start, ["a.txt", "sub/b.txt"])


@case("win32s")
def win32s_times_and_program_files(s, p):
    top = p.tree("w32s", {"t.txt": b"time\n", "%ProgramFiles%/kx/p.txt": b"program files\n"})
    exe = p.pack("w32s", top, ["t.txt", "%ProgramFiles%"], "--dir", "C:\\e2e\\w32s")
    target = s.folder("C:\\e2e\\w32s")
    shutil.rmtree(s.unix_path("C:\\kx"), ignore_errors=True)
    key = "HKCU\\Software\\Wine\\AppDefaults\\w32s.exe"
    s.registry(key, "Version", "win31")
    try:
        run = s.start(exe, ["-n"], env={"TZ": "JST-9"}, name="w32s")
        check(run.wait() == 1, "exit code %s" % run.exit_code)
    finally:
        s.registry_delete(key)
    mtime = int(os.stat(os.path.join(target, "t.txt")).st_mtime)
    check(mtime == T0 + 9 * 3600, "time %s, not shifted by TZ=JST-9 to %s" % (mtime, T0 + 32400))
    check(os.path.isfile(s.unix_path("C:\\kx\\p.txt")), "%ProgramFiles% was not the Windows drive")
    check(not [c for c in run.calls("RegOpenKeyExA") if "CurrentVersion" in str(c.args[1])],
          "the registry was read")


# ---- driver ----

def run_group(args):
    missing = wh.missing_tools()
    if missing:
        print("skipped: %s not found" % ", ".join(missing))
        return wh.SKIP
    for path in (args.stub, args.pack):
        if not path or not os.path.exists(path):
            print("skipped: %s was not built" % path)
            return wh.SKIP
    session = wh.Session(args.work)
    if not os.path.isdir(session.drive_c):
        print("FAIL: no Wine prefix; the setup test did not run")
        return 1
    failed = []
    try:
        session.open_display()
        payloads = Payloads(session, args.pack, args.stub)
        for function in CASES[args.group]:
            if args.only and function.__name__ not in args.only:
                continue
            began = time.time()
            try:
                function(session, payloads)
                print("ok    %-50s %5.1f s" % (function.__name__, time.time() - began))
            except Exception:
                failed.append(function.__name__)
                session.screenshot("failed-" + function.__name__)
                print("FAIL  %s\n%s" % (function.__name__, traceback.format_exc()))
    finally:
        session.close_display()
    print("screenshots and traces: %s" % session.work)
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--stub")
    parser.add_argument("--pack")
    parser.add_argument("--only", action="append", help="run only this case (repeatable)")
    parser.add_argument("command", choices=["setup", "run", "cleanup"])
    parser.add_argument("group", nargs="?", choices=sorted(CASES))
    args = parser.parse_args()
    if args.command == "setup":
        missing = wh.missing_tools()
        if missing:
            print("skipped: %s not found" % ", ".join(missing))
            return wh.SKIP
        began = time.time()
        wh.Session(args.work).setup()
        print("Wine prefix made in %.1f s" % (time.time() - began))
        return 0
    if args.command == "cleanup":
        if not wh.missing_tools():
            wh.Session(args.work).cleanup()
        return 0
    return run_group(args)


if __name__ == "__main__":
    sys.exit(main())
