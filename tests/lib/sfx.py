"""Helpers shared by the runner-level tests: wrapping an LZH archive into a
self-extracting file, running the native runner, and reading member names the
way the extraction pass folds them on a long-name volume."""

import hashlib
import os
import struct
import subprocess

STUB_SIZE = 1120
SETTINGS_OFFSET = 512
SETTINGS_SIZE = 603


def bare_stub():
    """A header area the runner accepts: 'MZ', 32 header paragraphs, the
    settings area free. The runner never executes it."""
    stub = bytearray(STUB_SIZE)
    stub[0:2] = b"MZ"
    struct.pack_into("<H", stub, 8, 32)
    return stub


def settings_record(archive_offset, title=b"", install_title=b"", install_dir=b"",
                    command=b"", flags=0, restore_attributes=0):
    rec = bytearray(SETTINGS_SIZE)
    struct.pack_into("<I", rec, 0, archive_offset)
    for offset, width, value in ((4, 41, title), (45, 41, install_title),
                                 (86, 256, install_dir), (342, 256, command)):
        assert len(value) < width
        rec[offset:offset + len(value)] = value
    rec[601] = flags
    rec[602] = restore_attributes
    return rec


def wrap(archive, **settings):
    """stub + settings record + archive: a self-extracting file's bytes."""
    data = bare_stub()
    data[SETTINGS_OFFSET:SETTINGS_OFFSET + SETTINGS_SIZE] = settings_record(STUB_SIZE, **settings)
    return bytes(data) + archive


def write_sfx(path, archive, **settings):
    with open(path, "wb") as f:
        f.write(wrap(archive, **settings))


def run_runner(runner, sfx, args=(), root=None, answers="", env=None, timeout=120):
    cmd = [runner]
    if root is not None:
        cmd += ["--root", root]
    cmd += [sfx] + list(args)
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    return subprocess.run(cmd, input=answers.encode(), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout, env=full_env)


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
