#!/usr/bin/env python3
"""The installation actions through the native runner: the files a script's
"$Class=" and "$Group=" lines leave under a scratch $XDG_DATA_HOME, none when
the check boxes are cleared, the question before a registration, and the
command started in the extraction directory only after a clean run."""

import argparse
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import install_archive  # noqa: E402
from install_archive import sfx  # noqa: E402

failures = []


def check(what, condition, detail=""):
    if not condition:
        failures.append(f"{what}: {detail}")


def read(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError:
        return None


def own_files(data_home):
    """The files the runner wrote under the data folder (the caches that
    update-mime-database makes left out)."""
    found = []
    for top in ("applications", os.path.join("mime", "packages")):
        base = os.path.join(data_home, top)
        for path in sfx.tree_files(base) if os.path.isdir(base) else []:
            found.append(os.path.join(top, path))
    return sorted(found)


def wait_for(path, seconds=5.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if os.path.exists(path):
            return True
        time.sleep(0.02)
    return False


class Run:
    """One self-extracting file with a script, run in a scratch folder."""

    def __init__(self, work, script, members, stored=False, damage=None):
        self.work = work
        self.root = os.path.join(work, "root")
        self.data = os.path.join(work, "data")
        self.fakebin = os.path.join(work, "bin")
        os.makedirs(self.root)
        os.makedirs(self.fakebin)
        data = install_archive.make_archive(work, script, members, stored, damage)
        self.sfx = os.path.join(work, "setup.exe")
        sfx.write_sfx(self.sfx, data)
        # A stand-in for xdg-open that notes where and with what it ran.
        self.opened = os.path.join(work, "opened.txt")
        opener = os.path.join(self.fakebin, "xdg-open")
        with open(opener, "w") as f:
            f.write(f'#!/bin/sh\n{{ pwd; echo "$@"; }} > "{self.opened}.tmp"\n'
                    f'mv "{self.opened}.tmp" "{self.opened}"\n')
        os.chmod(opener, 0o755)

    def run(self, answers):
        env = {"XDG_DATA_HOME": self.data,
               "PATH": self.fakebin + os.pathsep + os.environ.get("PATH", "")}
        start = time.monotonic()
        result = sfx.run_runner(self.runner, self.sfx, root=self.root,
                                answers=answers, env=env, timeout=60)
        self.seconds = time.monotonic() - start
        self.stderr = result.stderr.decode("utf-8", "replace")
        return result.returncode


SCRIPT = (
    "$WindowTitle=Example App Setup\r\n"
    "$InstallDir=C:\\Example\r\n"
    "$GroupTitle=Add to the &Start Menu\r\n"
    "$Group=Example App,Example App,EXAMPLE.EXE,\r\n"
    "$Group=Example App,Read Me,README.TXT\r\n"
    "$ClassTitle=Register .exd &files\r\n"
    "$Class=.EXD,Example Data,EXAMPLE.EXE,ExampleData\r\n")

MEMBERS = {"EXAMPLE.EXE": b"MZ not really a program\r\n", "README.TXT": b"Read me first.\r\n"}


def test_lines_become_desktop_files(runner, work):
    # The command starts a program from the search path in the extraction
    # directory and is not waited for.
    # The file appears whole (renamed), so its presence means it is written.
    script = SCRIPT + '$Command=sh -c "sleep 2; pwd > started.tmp; mv started.tmp started.txt"\r\n'
    r = Run(work, script, MEMBERS)
    r.runner = runner
    code = r.run("\ny\ny\n")
    check("clean run: exit code", code == 1, r.stderr)
    check("clean run: the command is not waited for", r.seconds < 1.8, f"{r.seconds:.1f} s")
    dest = os.path.join(r.root, "Example")
    check("clean run: the command ran in the extraction directory",
          wait_for(os.path.join(dest, "started.txt")) and
          read(os.path.join(dest, "started.txt")) == dest + "\n")
    check("clean run: files", own_files(r.data) == [
        "applications/Example_App/kobrix-Example_App-Example_App.desktop",
        "applications/Example_App/kobrix-Example_App-Read_Me.desktop",
        "applications/kobrix-exampledata.desktop",
        "mime/packages/kobrix-exampledata.xml"], own_files(r.data))
    apps = os.path.join(r.data, "applications")
    check("clean run: the class's desktop entry",
          read(os.path.join(apps, "kobrix-exampledata.desktop")) ==
          "[Desktop Entry]\nType=Application\nName=Example Data\n"
          f'Exec="{dest}/EXAMPLE.EXE" %f\n'
          "MimeType=application/x-kobrix-exampledata;\nNoDisplay=true\n",
          read(os.path.join(apps, "kobrix-exampledata.desktop")))
    package = read(os.path.join(r.data, "mime", "packages", "kobrix-exampledata.xml")) or ""
    check("clean run: the MIME type", '<mime-type type="application/x-kobrix-exampledata">'
          in package and '<glob pattern="*.exd"/>' in package and
          "<comment>Example Data</comment>" in package, package)
    item = read(os.path.join(apps, "Example_App", "kobrix-Example_App-Read_Me.desktop"))
    check("clean run: the group's item", item ==
          "[Desktop Entry]\nType=Application\nName=Read Me\n"
          f'Exec=xdg-open "{dest}/README.TXT"\nPath={dest}\n', item)
    if shutil.which("update-mime-database"):
        globs = read(os.path.join(r.data, "mime", "globs2")) or ""
        check("clean run: the MIME database knows the extension",
              "application/x-kobrix-exampledata:*.exd" in globs, globs)


def test_cleared_check_boxes_write_nothing(runner, work):
    r = Run(work, SCRIPT + "$Command=README.TXT\r\n", MEMBERS)
    r.runner = runner
    code = r.run("\nn\nn\n")
    check("cleared: exit code", code == 1, r.stderr)
    check("cleared: nothing under the data folder", not os.path.exists(r.data),
          sfx.tree_files(r.data) if os.path.isdir(r.data) else "")
    dest = os.path.join(r.root, "Example")
    # A document is opened with xdg-open, in the extraction directory.
    check("cleared: the document was opened", wait_for(r.opened) and
          read(r.opened) == f"{dest}\n{dest}/README.TXT\n", read(r.opened))


def test_crc_error_keeps_the_lines_and_drops_the_command(runner, work):
    r = Run(work, SCRIPT + "$Command=README.TXT\r\n", MEMBERS, stored=True,
            damage=b"Read me first.")
    r.runner = runner
    code = r.run("\ny\ny\n")
    check("CRC error: reported", "CRC ERROR" in r.stderr, r.stderr)
    check("CRC error: exit code", code == 1, r.stderr)
    check("CRC error: class and group lines acted", len(own_files(r.data)) == 4,
          own_files(r.data))
    time.sleep(0.5)
    check("CRC error: the command did not run", not os.path.exists(r.opened))


def test_no_to_the_question_skips_one_line(runner, work):
    script = ("$ClassTitle=Types\r\n$AskRegist=1\r\n"
              "$Class=.aaa,First Type,EXAMPLE.EXE,FirstType\r\n"
              "$Class=.bbb,Second Type,EXAMPLE.EXE,SecondType\r\n"
              "$InstallDir=C:\\Example\r\n")
    r = Run(work, script, MEMBERS)
    r.runner = runner
    code = r.run("\ny\nn\ny\n")
    check("question: exit code", code == 1, r.stderr)
    check("question: asked about both", '"First Type" Set Class?' in r.stderr and
          '"Second Type" Set Class?' in r.stderr, r.stderr)
    check("question: only the second type", own_files(r.data) == [
        "applications/kobrix-secondtype.desktop", "mime/packages/kobrix-secondtype.xml"],
        own_files(r.data))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()
    if not install_archive.have_jlha():
        print("SKIP: jlha (Debian jlha-utils) is not installed")
        return 0
    for test in (test_lines_become_desktop_files, test_cleared_check_boxes_write_nothing,
                 test_crc_error_keeps_the_lines_and_drops_the_command,
                 test_no_to_the_question_skips_one_line):
        with tempfile.TemporaryDirectory(prefix="kobrix-install-") as work:
            test(os.path.abspath(args.runner), work)
    for f in failures:
        print("FAIL", f)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
