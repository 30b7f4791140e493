"""Helpers shared by the runner-level tests: wrapping an LZH archive into a
self-extracting file, running the native runner, and reading member names the
way the extraction pass folds them on a long-name volume."""

import hashlib
import os
import struct
import subprocess

import lzh

STUB_SIZE = 1120
SETTINGS_OFFSET = 512


def bare_stub():
    """A header area the runner accepts: 'MZ', 32 header paragraphs, the
    settings area free. The runner never executes it."""
    stub = bytearray(STUB_SIZE)
    stub[0:2] = b"MZ"
    struct.pack_into("<H", stub, 8, 32)
    return stub


def write_sfx(path, archive, flags=0, restore_attributes=0, install_dir=b"", texts=None):
    """Writes stub + settings record (the archive behind the stub, the two
    switch bytes, texts: bytes for "title", "label", "directory", "command";
    install_dir: the directory alone) + archive: a self-extracting file."""
    data = bare_stub()
    struct.pack_into("<I", data, SETTINGS_OFFSET, STUB_SIZE)
    texts = dict(texts or {}, **({"directory": install_dir} if install_dir else {}))
    for key, text in texts.items():
        at = SETTINGS_OFFSET + {"title": 4, "label": 45, "directory": 86, "command": 342}[key]
        data[at:at + len(text)] = text
    data[SETTINGS_OFFSET + 601:SETTINGS_OFFSET + 603] = bytes([flags, restore_attributes])
    with open(path, "wb") as f:
        f.write(bytes(data) + archive)


def archive_offset(data):
    """Where the archive begins in a self-extracting file's bytes, as its
    settings record says."""
    return struct.unpack_from("<I", data, SETTINGS_OFFSET)[0]


def members(data):
    """The member headers of a self-extracting file's bytes (lzh.Member),
    past the integrity value when its flag is set."""
    integrity = 2 if data[SETTINGS_OFFSET + 601] & 0x04 else 0
    return lzh.members(data, archive_offset(data) + integrity)


def run_runner(runner, sfx, args=(), root=None, answers="", env=None, timeout=120, options=(),
               stdin=None, cwd=None):
    """Runs the runner on sfx with its options before FILE and args behind it;
    answers go to standard input unless stdin is given (a terminal)."""
    cmd = ([runner] + (["--root", root] if root is not None else []) + list(options) + [sfx] +
           list(args))
    feed = {"input": answers.encode()} if stdin is None else {"stdin": stdin}
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                          env=dict(os.environ, **(env or {})), cwd=cwd, **feed)


def sha256_of(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def fold_long(component):
    """A component as the pass writes it on a volume with long names."""
    return "".join("_" if c in '"*/:<>?\\|' else c for c in component)


def tree_files(top):
    """Every regular file under top, as paths relative to it."""
    found = []
    for dirpath, _, files in os.walk(top):
        for name in files:
            found.append(os.path.relpath(os.path.join(dirpath, name), top))
    return sorted(found)


def snapshot(top, leave_out=()):
    """Every path under top with its contents (None for a folder, a link's
    target for a link), but the paths left out and what lies below them."""
    seen = {}
    for dirpath, dirs, files in os.walk(top):
        dirs[:] = [d for d in dirs if os.path.join(dirpath, d) not in leave_out]
        for name in dirs + files:
            path = os.path.join(dirpath, name)
            if path in leave_out:
                continue
            if os.path.islink(path):
                seen[path] = os.readlink(path)
            elif os.path.isfile(path):
                with open(path, "rb") as f:
                    seen[path] = f.read()
            else:
                seen[path] = None
    return seen
