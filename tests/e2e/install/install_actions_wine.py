#!/usr/bin/env python3
"""The installation actions of the Windows stub under wine64 on a virtual
display: the registry values of a "$Class=" line and the calls that wrote
them, the WIN.INI entry under Win32s, the question before a registration,
the DDE conversations with Wine's Program Manager, the bounded wait when no
server answers, and the command after a clean run only.

Run inside a display (xvfb-run -a). Exit code 77 skips."""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import install_archive  # noqa: E402

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
SKIP = 77
RELAY = ("RegCreateKeyExA;RegSetValueExA;WriteProfileStringA;PostMessageA;SendMessageA;"
         "FindWindowA;WaitForInputIdle;GetShortPathNameA;ShellExecuteA")

failures = []


def check(what, condition, detail=""):
    if not condition:
        failures.append(f"{what}: {detail}")
    return condition


class Wine:
    def __init__(self, work):
        self.prefix = os.path.join(work, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all")
        self.drive_c = os.path.join(self.prefix, "drive_c")

    def tool(self, *args, env=None, check=False):
        return subprocess.run([WINE] + list(args), env=env or self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120, check=check)

    def boot(self):
        self.tool("wineboot", "-i", check=True)
        self.reg_add(r"HKCU\Software\Wine\Debug", "RelayInclude", RELAY)
        self.stop()

    def stop(self):
        """Ends every process of the prefix (Program Manager stays open)."""
        subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=60)

    def reg_add(self, key, name, value):
        self.tool("reg", "add", key, "/v", name, "/d", value, "/f", check=True)

    def reg_delete(self, key, name):
        self.tool("reg", "delete", key, "/v", name, "/f")

    def reg_default(self, key):
        """The default value of a key, or None when the key is missing."""
        out = self.tool("reg", "query", key)
        if out.returncode != 0:
            return None
        for line in out.stdout.decode("utf-8", "replace").splitlines():
            m = re.match(r"\s+\(Default\)\s+REG_SZ\s+(.*)$", line)
            if m:
                return m.group(1).rstrip("\r")
        return ""

    def reg_value(self, key, name):
        out = self.tool("reg", "query", key, "/v", name)
        for line in out.stdout.decode("utf-8", "replace").splitlines():
            m = re.match(r"\s+" + re.escape(name) + r"\s+REG_SZ\s+(.*)$", line)
            if m:
                return m.group(1).rstrip("\r")
        return None

    def unix_path(self, windows_path):
        out = self.tool("winepath", "-u", windows_path)
        return os.path.normpath(out.stdout.decode("utf-8", "replace").strip())

    def programs_folder(self):
        users = os.path.join(self.drive_c, "users")
        for user in sorted(os.listdir(users)):
            path = os.path.join(users, user, "AppData", "Roaming", "Microsoft", "Windows",
                                "Start Menu", "Programs")
            if os.path.isdir(path):
                return path
        return None

    def prefix_pids(self, image):
        """Processes of this prefix whose command line names image."""
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/environ", "rb") as f:
                    environ = f.read().split(b"\0")
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    cmdline = f.read().lower()
            except OSError:
                continue
            if b"WINEPREFIX=" + self.prefix.encode() in environ and image.encode() in cmdline:
                pids.append(int(entry))
        return pids

    def run(self, setup, args=(), debug="-all", overrides=None, interact=None, timeout=90):
        """Runs the stub; returns (exit code, seconds after interact, log)."""
        env = dict(self.env, WINEDEBUG=debug)
        if overrides:
            env["WINEDLLOVERRIDES"] = overrides
        log_path = setup + ".log"
        with open(log_path, "wb") as log:
            process = subprocess.Popen([WINE, setup] + list(args), env=env,
                                       stdout=subprocess.DEVNULL, stderr=log,
                                       cwd=os.path.dirname(setup))
            start = time.monotonic()
            try:
                if interact is not None:
                    interact(self)
                    start = time.monotonic()
                code = process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.send_signal(signal.SIGKILL)
                process.wait()
                code = None
            seconds = time.monotonic() - start
        self.stop()
        with open(log_path, "rb") as f:
            return code, seconds, f.read().decode("utf-8", "replace")


# ---- the display ----

def windows_named(title):
    out = subprocess.run(["xdotool", "search", "--name", "^" + re.escape(title) + "$"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    return [w for w in out.stdout.decode().split() if w]


def wait_windows(title, count, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        found = windows_named(title)
        if len(found) >= count:
            return found
        time.sleep(0.1)
    return None


def press(window, key):
    subprocess.run(["xdotool", "windowfocus", "--sync", window], stderr=subprocess.DEVNULL)
    subprocess.run(["xdotool", "key", "--window", window, key], stderr=subprocess.DEVNULL)


# ---- the cases ----

MEMBERS = {"EXAMPLE.EXE": b"MZ not a real program\r\n", "README.TXT": b"Read me first.\r\n"}


def setup_file(work, name, script, members=MEMBERS, stored=False, damage=None):
    folder = os.path.join(work, name)
    os.makedirs(folder)
    archive = install_archive.make_archive(folder, script, members, stored, damage)
    path = os.path.join(folder, "setup.exe")
    with open(path, "wb") as f:
        f.write(install_archive.wrap_stub(STUB, archive))
    return path


def relay_calls(log, function):
    return [line for line in log.splitlines() if re.search(r":Call \w+\." + function + r"\(", line)]


def low32(field):
    return int(field, 16) & 0xFFFFFFFF


def test_clean_run(wine, work):
    app = r"C:\Program Files\Example App"
    script = ("$WindowTitle=Example App Setup\r\n"
              f"$InstallDir={app}\r\n"
              "$GroupTitle=Add to the &Start Menu\r\n"
              "$Group=Example App,Example App,EXAMPLE.EXE,\r\n"
              "$Group=Example App,Read Me,README.TXT\r\n"
              "$ClassTitle=Register .exd &files\r\n"
              "$Class=.EXD,Example Data,EXAMPLE.EXE,ExampleData\r\n"
              "$Command=cmd.exe /c cd > started.txt\r\n")
    setup = setup_file(work, "clean", script)
    code, _, log = wine.run(setup, ["-n"], debug="+relay,+shell")
    check("clean: exit code", code == 1, log[-2000:])

    dest = wine.unix_path(app)
    check("clean: members extracted", os.path.isfile(os.path.join(dest, "EXAMPLE.EXE")))
    command = wine.reg_default(r"HKCR\ExampleData\shell\open\command") or ""
    m = re.fullmatch(r'"([^" ]+)" "%1"', command)
    if not check("clean: command value", m is not None, command):
        return
    short = m.group(1)
    check("clean: the program's short path", "~" in short and
          wine.unix_path(short) == os.path.join(dest, "EXAMPLE.EXE"), short)
    check("clean: extension key", wine.reg_default(r"HKCR\.exd") == "ExampleData",
          wine.reg_default(r"HKCR\.exd"))
    check("clean: class key", wine.reg_default(r"HKCR\ExampleData") == "Example Data",
          wine.reg_default(r"HKCR\ExampleData"))
    check("clean: icon key", wine.reg_default(r"HKCR\ExampleData\DefaultIcon") == short + ",0",
          wine.reg_default(r"HKCR\ExampleData\DefaultIcon"))

    # The four keys in order, created with options 0 and KEY_WRITE, each
    # default value as REG_SZ counted with its terminator.
    creates = relay_calls(log, "RegCreateKeyExA")
    keys = [re.search(r'"(.*?)"', c).group(1).replace("\\\\", "\\") for c in creates]
    check("clean: keys in order", keys == [
        ".exd", "ExampleData", r"ExampleData\shell\open\command", r"ExampleData\DefaultIcon"], keys)
    for c in creates:
        fields = re.search(r"RegCreateKeyExA\((.*)\) ret=", c).group(1).split(",")
        check("clean: root, options and access",
              low32(fields[0]) == 0x80000000 and low32(fields[4]) == 0 and
              low32(fields[5]) == 0x20006, c)
    values = ["ExampleData", "Example Data", f'"{short}" "%1"', short + ",0"]
    sets = relay_calls(log, "RegSetValueExA")
    check("clean: four values", len(sets) == 4, sets)
    for c, value in zip(sets, values):
        fields = re.search(r"RegSetValueExA\((.*)\) ret=", c).group(1).split(",")
        check("clean: REG_SZ with the terminator counted",
              '""' in fields[1] and low32(fields[3]) == 1 and
              low32(fields[5]) == len(value) + 1, c)
    check("clean: settings broadcast",
          any("PostMessageA(0000ffff,0000001a,00000000,00000000)" in c
              for c in relay_calls(log, "PostMessageA")))

    # Two whole conversations, as Wine's shell received them.
    # README.TXT is a short name already: its short path is in the same folder.
    readme_short = short.rsplit("\\", 1)[0] + "\\README.TXT"
    executes = re.findall(r'Dde_OnExecute .*? data=L"(.*)"', log)
    expected = [
        r'[CreateGroup(\"Example App\",0)]\n[AddItem(' + short.replace("\\", "\\\\") +
        ",Example App)]",
        r'[CreateGroup(\"Example App\",0)]\n[AddItem(' + readme_short.replace("\\", "\\\\") +
        ",Read Me)]",
    ]
    check("clean: execute texts", executes == expected, f"{executes} != {expected}")
    check("clean: two conversations", log.count("Dde_OnConnectConfirm") == 2 and
          log.count("Dde_OnDisconnect") == 2)
    posts = relay_calls(log, "PostMessageA")
    kinds = [low32(re.search(r"PostMessageA\((.*)\) ret=", p).group(1).split(",")[1])
             for p in posts]
    dde = [k for k in kinds if k in (0x3E8, 0x3E1)]
    check("clean: execute and terminate, twice", dde == [0x3E8, 0x3E1, 0x3E8, 0x3E1], kinds)
    programs = wine.programs_folder()
    check("clean: the group folder", programs is not None and
          os.path.isdir(os.path.join(programs, "Example App")))

    started = os.path.join(dest, "started.txt")
    check("clean: the command ran in the extraction directory", os.path.isfile(started) and
          open(started, "rb").read().strip() == app.encode(), started)


def test_win32s(wine, work):
    wine.reg_add(r"HKCU\Software\Wine", "Version", "win31")
    try:
        script = ("$WindowTitle=Old Setup\r\n$InstallDir=C:\\OLDAPP\r\n"
                  "$ClassTitle=Types\r\n$Class=.EX3,Old Data,EXAMPLE.EXE,OldData\r\n")
        setup = setup_file(work, "win32s", script)
        code, _, log = wine.run(setup, ["-n"], debug="+relay")
    finally:
        wine.reg_delete(r"HKCU\Software\Wine", "Version")
    check("win32s: exit code", code == 1, log[-2000:])
    entry = wine.reg_value(r"HKCU\Software\Microsoft\Windows NT\CurrentVersion\Extensions", "ex3")
    check("win32s: Extensions entry", entry == r"C:\OLDAPP\EXAMPLE.EXE ^.ex3", entry)
    check("win32s: no registry key", wine.reg_default(r"HKCR\.ex3") is None and
          wine.reg_default(r"HKCR\OldData") is None)
    check("win32s: no registry call", not relay_calls(log, "RegCreateKeyExA"))


def test_question(wine, work):
    script = ("$WindowTitle=Types Setup\r\n$InstallDir=C:\\Types\r\n$ClassTitle=Types\r\n"
              "$AskRegist=1\r\n"
              "$Class=.qa,First Type,EXAMPLE.EXE,FirstType\r\n"
              "$Class=.qb,Second Type,EXAMPLE.EXE,SecondType\r\n")
    setup = setup_file(work, "question", script)

    def answer(_):
        for key in ("n", "y"):
            boxes = wait_windows("Types Setup", 2)
            if boxes is None:
                return
            press(boxes[-1], key)
            end = time.monotonic() + 10
            while time.monotonic() < end and boxes[-1] in windows_named("Types Setup"):
                time.sleep(0.05)

    code, _, log = wine.run(setup, ["-n"], interact=answer)
    check("question: exit code", code == 1, log[-2000:])
    check("question: No skips its line", wine.reg_default(r"HKCR\.qa") is None)
    check("question: the next line is asked and done",
          wine.reg_default(r"HKCR\.qb") == "SecondType", wine.reg_default(r"HKCR\.qb"))


def test_no_server(wine, work):
    script = ("$WindowTitle=Lonely Setup\r\n$InstallDir=C:\\Lonely\r\n$GroupTitle=Menu\r\n"
              "$Group=Lonely,One,EXAMPLE.EXE\r\n$Group=Lonely,Two,README.TXT\r\n"
              "$Command=cmd.exe /c cd > started.txt\r\n")
    setup = setup_file(work, "lonely", script)

    # The shell's DDE server lives in the desktop process: with that ended
    # and Program Manager unable to start, nothing answers the initiate.
    def start_without_server(w):
        dialogs = wait_windows("Lonely Setup", 1)
        for pid in w.prefix_pids("explorer.exe"):
            os.kill(pid, signal.SIGKILL)
        time.sleep(0.5)
        if dialogs:
            press(dialogs[0], "Return")

    code, seconds, log = wine.run(setup, debug="+relay", overrides="progman.exe=d",
                                  interact=start_without_server)
    check("no server: the run ends", code == 1, log[-2000:])
    # Two lines, each at most 3 s for Program Manager to start and 2 s for
    # an answer, and the extraction.
    check("no server: within the bound", seconds < 2 * (3 + 2) + 4, f"{seconds:.1f} s")
    initiates = [c for c in relay_calls(log, "SendMessageA") if ",000003e0," in c]
    check("no server: one initiate per line", len(initiates) == 2, initiates)
    check("no server: no command posted",
          not any(",000003e8," in c for c in relay_calls(log, "PostMessageA")))
    started = os.path.join(wine.unix_path(r"C:\Lonely"), "started.txt")
    check("no server: the walk went on to the command", os.path.isfile(started))


def test_crc_error(wine, work):
    script = ("$WindowTitle=Broken Setup\r\n$InstallDir=C:\\Broken\r\n"
              "$GroupTitle=Menu\r\n$Group=Broken Group,One,EXAMPLE.EXE\r\n"
              "$ClassTitle=Types\r\n$Class=.ex5,Broken Data,EXAMPLE.EXE,BrokenData\r\n"
              "$Command=cmd.exe /c cd > started.txt\r\n")
    setup = setup_file(work, "broken", script, stored=True, damage=b"Read me first.")

    def confirm(_):
        boxes = wait_windows("Broken Setup", 2)
        if boxes:
            press(boxes[-1], "Return")

    code, _, log = wine.run(setup, ["-n"], interact=confirm)
    check("CRC error: exit code", code == 1, log[-2000:])
    dest = wine.unix_path(r"C:\Broken")
    check("CRC error: the damaged member is gone",
          not os.path.exists(os.path.join(dest, "README.TXT")))
    check("CRC error: the class line acted", wine.reg_default(r"HKCR\.ex5") == "BrokenData")
    programs = wine.programs_folder()
    check("CRC error: the group line acted", programs is not None and
          os.path.isdir(os.path.join(programs, "Broken Group")))
    check("CRC error: no command", not os.path.exists(os.path.join(dest, "started.txt")))


def timed(test, wine, work):
    start = time.monotonic()
    test(wine, work)
    print(f"{test.__name__}: {time.monotonic() - start:.1f} s")


def main():
    global STUB
    parser = argparse.ArgumentParser()
    parser.add_argument("--stub", required=True)
    args = parser.parse_args()
    STUB = os.path.abspath(args.stub)
    missing = [what for what, ok in (
        ("the stub", os.path.isfile(STUB)), ("wine64", os.path.exists(WINE)),
        ("xdotool", shutil.which("xdotool") is not None),
        ("jlha", install_archive.have_jlha()),
        ("a display", bool(os.environ.get("DISPLAY")))) if not ok]
    if missing:
        print("SKIP: missing " + ", ".join(missing))
        return SKIP
    with tempfile.TemporaryDirectory(prefix="kobrix-wine-install-") as work:
        wine = Wine(work)
        wine.boot()
        try:
            for test in (test_clean_run, test_win32s, test_question, test_no_server,
                         test_crc_error):
                timed(test, wine, work)
        finally:
            wine.stop()
    for f in failures:
        print("FAIL", f)
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
