"""Shared by the runner-level tests: an LZH archive behind a bare stub,
runs of the native runner, trees read back, and the checks' closing report."""

import os
import struct
import subprocess

import lzh

STUB_SIZE = 1120
SETTINGS = 512
TEXT_FIELDS = {"title": 4, "label": 45, "directory": 86, "command": 342}


def bare_stub():
    """'MZ', 32 header paragraphs, the settings area free: the runner never executes it."""
    stub = bytearray(STUB_SIZE)
    stub[0:2] = b"MZ"
    struct.pack_into("<H", stub, 8, 32)
    return stub


def write_sfx(path, archive, flags=0, restore_attributes=0, texts=None):
    """stub + settings record (texts: bytes for the TEXT_FIELDS) + archive."""
    data = bare_stub()
    struct.pack_into("<I", data, SETTINGS, STUB_SIZE)
    for key, text in (texts or {}).items():
        at = SETTINGS + TEXT_FIELDS[key]
        data[at:at + len(text)] = text
    data[SETTINGS + 601:SETTINGS + 603] = bytes([flags, restore_attributes])
    return write(path, bytes(data) + archive)


def archive_offset(data):
    return struct.unpack_from("<I", data, SETTINGS)[0]


def members(data):
    """The member headers (lzh.Member), past the integrity value if flagged."""
    integrity = 2 if data[SETTINGS + 601] & 0x04 else 0
    return lzh.members(data, archive_offset(data) + integrity)


def run_runner(runner, sfx, args=(), root=None, answers="", env=None, timeout=120, options=(),
               stdin=None, cwd=None):
    """runner [--root R] OPTIONS SFX ARGS; answers on standard input unless
    stdin is given. The result's .err is stderr as text."""
    cmd = [runner] + (["--root", root] if root is not None else []) + list(options) + [sfx]
    feed = {"input": answers.encode()} if stdin is None else {"stdin": stdin}
    r = subprocess.run(cmd + list(args), capture_output=True, timeout=timeout, cwd=cwd,
                       env=dict(os.environ, **(env or {})), **feed)
    r.err = r.stderr.decode("utf-8", "replace")
    return r


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def write_file(top, rel, data, stamp):
    """top/rel, folders made on the way, with the last-write time stamp."""
    path = os.path.join(top, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    write(path, data)
    os.utime(path, (stamp, stamp))
    return path


_WORDS = [b"archive", b"member", b"header", b"window", b"table", b"kobrix", b"data", b"\xe3\x81\x82", b"0123",
          b"setup", b"\r\n", b"  ", b"return", b"{", b"}"]


def text_block(rng, size):
    """Compressible text of exactly size bytes, fixed by rng."""
    out = bytearray()
    while len(out) < size:
        out += rng.choice(_WORDS) + b" "
    return bytes(out[:size])


def fold_long(component):
    """A component as the pass writes it on a volume with long names."""
    return "".join("_" if c in '"*/:<>?\\|' else c for c in component)


def tree_files(top):
    """Every regular file under top, relative to it."""
    return sorted(os.path.relpath(os.path.join(d, n), top) for d, _, fs in os.walk(top) for n in fs)


def snapshot(top, leave_out=()):
    """Every path under top (but those left out and below) with its contents, a link's target or None."""
    seen = {}
    for dirpath, dirs, files in os.walk(top):
        dirs[:] = [d for d in dirs if os.path.join(dirpath, d) not in leave_out]
        for path in (os.path.join(dirpath, n) for n in dirs + files if os.path.join(dirpath, n) not in leave_out):
            seen[path] = os.readlink(path) if os.path.islink(path) else read(path) if os.path.isfile(path) else None
    return seen


PROBLEMS, ITEMS = [], set()


def check(item, condition, detail=""):
    """One checked item ("what: detail" fails it); the condition."""
    ITEMS.add(item)
    if not condition:
        PROBLEMS.append(f"{item}: {detail or 'failed'}")
    return condition


def report():
    """Prints the problems and the count; the exit code."""
    for p in PROBLEMS:
        print("FAIL", p)
    failed = len({p.split(":")[0] for p in PROBLEMS})
    print(f"{len(ITEMS) - failed} passed, {failed} failed")
    return 1 if PROBLEMS else 0
