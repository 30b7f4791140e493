"""Archives with an installation script for the end-to-end tests: the script
becomes the member "$", the other members are written by jlha with level-2
headers, stored or compressed, optionally with one byte of a member's data
changed so that its CRC check fails."""

import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "lib"))
import sfx  # noqa: E402,F401  (re-exported for the tests)


def have_jlha():
    return shutil.which("jlha") is not None


def make_archive(work, script, members, stored=False, damage=None):
    """The archive's bytes. members maps names ("bin/app.exe") to contents;
    damage names bytes of a member's data whose first byte is changed."""
    payload = os.path.join(work, "payload")
    os.makedirs(payload, exist_ok=True)
    for name, data in members.items():
        path = os.path.join(payload, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    with open(os.path.join(payload, "$"), "wb") as f:
        f.write(script.encode("cp1252"))
    archive = os.path.join(work, "payload.lzh")
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run(["jlha", "c2zq" if stored else "c2q", archive, "$"] + sorted(members),
                   cwd=payload, check=True)
    shutil.rmtree(payload)
    with open(archive, "rb") as f:
        data = bytearray(f.read())
    if damage is not None:
        at = data.find(damage)
        assert at > 0, "the bytes to damage are not in the archive"
        data[at] ^= 0x20
    return bytes(data)


def wrap_stub(stub_path, archive, **settings):
    """A Windows stub with its settings record and the archive behind it."""
    with open(stub_path, "rb") as f:
        stub = bytearray(f.read())
    stub[sfx.SETTINGS_OFFSET:sfx.SETTINGS_OFFSET + sfx.SETTINGS_SIZE] = \
        sfx.settings_record(len(stub), **settings)
    return bytes(stub) + archive
