"""The Windows stub under Wine on a virtual display: one prefix per test run,
keys sent with xdotool, calls read back from the relay trace."""

import collections
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import time

SKIP = 77
# The calls the relay trace records; narrowing it keeps the trace small and fast.
TRACED = ["user32.MessageBoxA", "user32.SetDlgItemTextA", "user32.DialogBoxParamA", "user32.PostMessageA",
          "user32.SendMessageA", "kernel32.CreateFileA", "kernel32.SetFileTime", "kernel32.SetFileAttributesA",
          "kernel32.DeleteFileA", "kernel32.CreateDirectoryA", "kernel32._lopen", "comdlg32.GetOpenFileNameA",
          "advapi32.RegOpenKeyExA", "advapi32.RegCreateKeyExA", "advapi32.RegSetValueExA"]
# Debian keeps wine64 and wineserver in /usr/lib/wine, off the search path;
# its wine there (wine32:i386) runs 32-bit programs in the same prefix.
_PATH = "/usr/lib/wine:" + os.environ.get("PATH", "")
WINE, WINESERVER = (shutil.which(name, path=_PATH) for name in ("wine64", "wineserver"))
WINE32 = shutil.which("wine", path="/usr/lib/wine")


def missing_tools():
    return [name for name, path in (("wine64", WINE), ("wineserver", WINESERVER), ("Xvfb", shutil.which("Xvfb")),
            ("xdotool", shutil.which("xdotool")), ("import", shutil.which("import"))) if path is None]


def bits_of(exe):
    with open(exe, "rb") as f:
        data = f.read(4096)
    return 64 if struct.unpack_from("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4)[0] == 0x8664 else 32


def why_no_32bit():
    """Why 32-bit Windows programs cannot run here ("Exec format error": the kernel runs none), or None."""
    try:
        done = subprocess.run([WINE32 or "/usr/lib/wine/wine (Debian's wine32:i386)", "--version"], timeout=60,
                              capture_output=True, text=True)
        return None if done.returncode == 0 else "%s --version failed: %s" % (WINE32, done.stderr[-300:])
    except OSError as e:
        return "32-bit Wine cannot be started: %s" % e


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def poll(get, done, timeout):
    """get() until done(value) or timeout seconds; the last value."""
    deadline = time.time() + timeout
    while not done(value := get()) and time.time() < deadline:
        time.sleep(0.05)
    return value


# One traced call: function, arguments (numbers as integers, strings as text), time in seconds.
Call = collections.namedtuple("Call", "function args when")
_CALL = re.compile(r"^(?:(\d+\.\d+):)?[0-9a-f]+:Call (\w+)\.(\w+)\((.*)\) ret=[0-9a-f]+$")
_ARG = re.compile(r'\s*([0-9a-f]+)(?: (L?)"((?:[^"\\]|\\.)*)")?\s*(?:,|$)')


def parse_relay(text):
    calls = []
    for m in filter(None, map(_CALL.match, text.splitlines())):
        args, rest = [], m.group(4)
        while rest and (a := _ARG.match(rest)):
            # 32-bit arguments of a 64-bit program come with stale upper halves.
            args.append(a.group(3).encode("latin-1").decode("unicode_escape") if a.group(3) is not None
                        else int(a.group(1), 16) & 0xFFFFFFFF)
            rest = rest[a.end():]
        calls.append(Call(m.group(3), args, float(m.group(1) or 0)))
    return calls


class Run:
    """One started program."""

    def __init__(self, session, process, trace_path):
        self.session, self.process, self.trace_path, self.exit_code = session, process, trace_path, None

    def trace(self):
        return open(self.trace_path, encoding="latin-1").read()

    def calls(self, function=None):
        return [c for c in parse_relay(self.trace()) if function is None or c.function == function]

    def message_boxes(self):
        """(owner, text, caption, style) of every MessageBoxA so far."""
        return [tuple(c.args[:4]) for c in self.calls("MessageBoxA")]

    def wait_for_call(self, function, predicate=lambda c: True, count=1, timeout=20):
        found = poll(lambda: [c for c in self.calls(function) if predicate(c)], lambda f: len(f) >= count or
                     self.process.poll() is not None, timeout)
        check(len(found) >= count, "no call of %s seen; calls: %s" % (function, self.calls()[-12:]))
        return found

    def wait_for_box(self, text_part):
        return self.wait_for_call("MessageBoxA", lambda c: text_part in c.args[1])

    def wait(self, timeout=60):
        try:
            self.exit_code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.session.screenshot("timeout")
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
            raise AssertionError("the program did not end within %d s" % timeout)
        return self.exit_code


class Session:
    """A Wine prefix (made once by setup()) and a virtual display. Each stub's pictures and traces go to
    folders of their own; a 32-bit stub runs under wine, a 64-bit one under wine64."""

    def __init__(self, work, stub=None):
        self.work = os.path.abspath(work)
        self.prefix, self.home = os.path.join(self.work, "prefix"), os.path.join(self.work, "home")
        label = os.path.splitext(os.path.basename(stub))[0] if stub else ""
        self.shots, self.traces = (os.path.join(self.work, n, label) for n in ("screenshots", "traces"))
        self.bits = bits_of(stub) if stub else 64
        self.loader = WINE32 if self.bits == 32 else WINE
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.display = self.xvfb = None

    def unix_path(self, windows_path):  # C:\a\b
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def folder(self, windows_path, fresh=True):
        """A folder under drive C:, empty when fresh."""
        path = self.unix_path(windows_path)
        if fresh and os.path.lexists(path):
            shutil.rmtree(path)
        os.makedirs(path, exist_ok=True)
        return path

    def _env(self, extra=None):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home, "USER": "kobrix",
               "WINEPREFIX": self.prefix, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=",
               "LANG": "C.UTF-8", **({"DISPLAY": self.display} if self.display else {})}
        return dict(env, **(extra or {}))

    def wine_tool(self, *args, timeout=120):
        """Runs wineboot, reg, ... to its end; both streams come back as
        .stderr, through a file: services it starts may keep a pipe open."""
        with tempfile.TemporaryFile("w+") as out:
            done = subprocess.run([WINE] + list(args), env=self._env(), stdout=out, stderr=out,
                                  timeout=timeout)
            out.seek(0)
            done.stderr = out.read()
        return done

    def server(self, *args):
        """wineserver -k stops it, -w waits for its end, -p keeps it running.
        It stays behind as a daemon: its output must be no pipe waited for."""
        return subprocess.run([WINESERVER] + list(args), env=self._env(),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def restart(self):
        """Ends every program of the prefix: the next one starts Wine's own
        (the desktop, its DDE server) anew."""
        self.server("-k")
        self.server("-p")

    def start(self, exe, args=(), cwd=None, env=None, channels="", name="run"):
        """Starts exe (a path under the prefix) with the relay trace on."""
        os.makedirs(self.traces, exist_ok=True)
        trace = os.path.join(self.traces, name + ".txt")
        env = dict(env or {}, WINEDEBUG="-all,+relay,+timestamp" + channels)
        with open(trace, "w") as out:
            return Run(self, subprocess.Popen([self.loader, exe] + list(args), cwd=cwd or self.drive_c,
                                              env=self._env(env), stdout=subprocess.DEVNULL, stderr=out,
                                              start_new_session=True), trace)

    def setup(self):
        """Makes the prefix, narrows the relay trace, keeps the server running."""
        if os.path.exists(self.work):
            self.cleanup()
            shutil.rmtree(self.work)
        for path in (self.work, self.home, self.shots, self.prefix):
            os.makedirs(path, exist_ok=True)
        boot = self.wine_tool("wineboot", "-i", timeout=300)
        check(os.path.isdir(self.drive_c), "wineboot made no prefix: %s" % boot.stderr[-2000:])
        self.registry("HKCU\\Software\\Wine\\Debug", "RelayInclude", ";".join(TRACED))
        self.server("-w")

    def registry(self, key, value, data):
        done = self.wine_tool("reg", "add", key, "/v", value, "/t", "REG_SZ", "/d", data, "/f")
        check(done.returncode == 0, "reg add %s %s: %s" % (key, value, done.stderr))

    def registry_value(self, key, value=None, own_view=False):
        """A value's text (the default one when value is None), or None; with
        own_view, as the stub's own 32-bit or 64-bit view has it."""
        view = ("/reg:%d" % self.bits,) if own_view else ()
        done = self.wine_tool("reg", "query", key, *(("/v", value) if value else ("/ve",)), *view)
        found = re.findall(r"^\s+%s\s+REG_SZ\s*(.*?)\r?$" % re.escape(value or "(Default)"), done.stderr, re.M)
        return found[0] if found and done.returncode == 0 else None

    def cleanup(self):
        if WINESERVER and os.path.isdir(self.prefix):
            self.server("-k")

    def open_display(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read, "rb") as f:
            self.display = ":" + f.readline().decode().strip()
        check(self.display != ":", "Xvfb did not start")
        self.restart()  # a server of an earlier display is stopped

    def close_display(self):
        self.server("-k")
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()

    def xdotool(self, *args, check=True):
        done = subprocess.run(["xdotool"] + list(args), env={"DISPLAY": self.display}, capture_output=True,
                              text=True, timeout=30)
        assert not check or done.returncode == 0, "xdotool %s: %s" % (" ".join(args), done.stderr)
        return done.stdout

    def wait_window(self, title, count=1, timeout=20):
        """The newest visible window of that title, once exactly count are shown."""
        found = poll(lambda: sorted(map(int, self.xdotool("search", "--onlyvisible", "--name", "^%s$" %
                                                          re.escape(title), check=False).split())),
                     lambda f: len(f) == count, timeout)
        check(len(found) == count, "no window %r" % title)
        return found[-1]

    def keys(self, window, *keys, text=None):
        """Sends keys to the window, or types text."""
        self.xdotool("windowfocus", "--sync", str(window))
        self.xdotool(*(("type", "--delay", "20", text) if text is not None else ("key", "--delay", "30") + keys))

    def screenshot(self, name):
        os.makedirs(self.shots, exist_ok=True)
        subprocess.run(["import", "-display", self.display, "-window", "root",
                        os.path.join(self.shots, name + ".png")], capture_output=True, timeout=30)
