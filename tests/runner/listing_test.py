#!/usr/bin/env python3
"""kobrix --list and --test (the corpus is corpus_test.py's): an installer
from kobrix-pack with a message, a script and every flag explained, damaged
copies that --test names and nothing is written for, hostile names through
the terminal filter, and the JSON compared with the text table."""

import argparse
import json
import os
import random
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "lib"))
import lzh  # noqa: E402
import sfx  # noqa: E402
from sfx import check  # noqa: E402

# A row of the text table: sizes, ratio, method, date, time, attributes, CRC,
# an optional test status, the name.
ROW = re.compile(r"^\s*(\d+)\s+(\d+)\s+[\d.]+%\s+(-lh.-)\s+(\S+ \S+)\s+(\S{5})\s+([0-9a-f]{4})"
                 r"\s+(?:(OK|FAIL|-)\s+)?(.*)$")
RUNNER = WORK = ROOT = DATA = None


def run(*options, path, args=()):
    r = sfx.run_runner(RUNNER, path, args, root=ROOT, options=options, cwd=WORK, env={"XDG_DATA_HOME": DATA})
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.err


def as_json(mode, path):
    code, out, err = run(mode, "--json", path=path)
    return code, json.loads(out) if out.strip() else None, err


def table_rows(text):
    return [m.groups() for m in map(ROW.match, text.splitlines()) if m]


def same_as_table(item, path):
    """--test's text table and its JSON say the same."""
    text, (_, doc, _) = run("--test", path=path)[1], as_json("--test", path)
    if doc is None:
        return
    rows = table_rows(text)
    check(item + ": table rows", len(rows) == len(doc["members"]), f"{len(rows)} rows")
    for row, m in zip(rows, doc["members"]):
        size, packed, method, stamp, attrs, crc, status, name = row
        got = (m["size"], m["packed"], m["method"], m["time"].replace("T", " ")[:-1], m["attributes_text"],
               m["crc"], m.get("ok"))
        check(f"{item}: {m['name']} in the table", got == (int(size), int(packed), method, stamp, attrs,
                                                           int(crc, 16), status == "OK") and
              name.startswith(m["name"] if m["special"] else m["written_as"]), f"{row} vs {m}")


SCRIPT = (b"; a comment the program skips\r\n$WindowTitle=Example Setup\r\n"
          b"$InstallTitle=Destination &Folder\r\n$InstallDir=%ProgramFiles%\\Example\r\n"
          b"$GroupTitle=Add to the &Start Menu\r\n$Group=Example App,Read Me,readme.txt,docs\\icon.ico\r\n"
          b"$ClassTitle=Register .exd &files\r\n$Class=.EXD,Example Data,bin\\example.exe,ExampleData\r\n"
          b"$Class=,No Extension,x.exe,Key\r\n$AskRegist=1\r\n$Command=readme.txt\r\n$Flag=273\r\n"
          b"$windowtitle=lower case is no key\r\n")


def installer(pack):
    """An installer from kobrix-pack with a message, a script and every flag,
    listed and tested."""
    files = os.path.join(WORK, "files")
    sfx.write_file(files, "readme.txt", b"Read me.\r\n" * 300, 1300000000)
    sfx.write_file(files, "bin/example.exe", sfx.text_block(random.Random(14), 60000), 1300000001)
    sfx.write_file(files, "docs/icon.ico", b"\0\1" * 300, 1300000002)
    exe = os.path.join(WORK, "setup.exe")
    result = subprocess.run(
        [pack, "-o", exe, "--stub", sfx.write(os.path.join(WORK, "stub.bin"), sfx.bare_stub()),
         "--title", "Record Title", "--command", "bin\\example.exe /q", "--auto-start", "--overwrite",
         "--integrity", "--no-date-check", "--restore-attributes",
         "--message", sfx.write(os.path.join(WORK, "m.txt"), b"Welcome.\r\nInstall the example?\r\n"),
         "--script", sfx.write(os.path.join(WORK, "s.txt"), SCRIPT), "-C", files, "readme.txt", "bin", "docs"],
        capture_output=True)
    check("kobrix-pack wrote the installer", result.returncode == 0, result.stderr.decode())
    before = sfx.snapshot(WORK)
    code, text, err = run("--list", path=exe)
    program = os.path.join(ROOT, "Program Files", "Example")
    for wanted in [
            "Caption:    Example Setup", "lands in " + program,
            "Record:     auto-start, overwrite without asking, no date check, restore attributes, "
            "integrity value present (flags 0x0f)",
            "Settings:   overwrite without asking, no date check, restore attributes, integrity value "
            "present, asks before each file type (after the script)",
            "Command:    readme.txt", "  | Welcome.\n  | Install the example?\n",
            "$windowtitle=lower case is no key\n      Windows: ignored",
            "HKEY_CLASSES_ROOT\\ExampleData\\shell\\open\\command = "
            "\"\\\"C:\\Program Files\\Example\\bin\\example.exe\\\" \\\"%1\\\"\"",
            "WIN.INI [Extensions] exd=C:\\Program Files\\Example\\bin\\example.exe ^.exd",
            "asks \"Example Data\" Set Class? first", "$Class=,No Extension,x.exe,Key\n      Windows: ignored",
            f"{DATA}/applications/kobrix-exampledata.desktop",
            "[CreateGroup(\"Example App\",0)] [AddItem(C:\\Program Files\\Example\\readme.txt,Read Me,"
            "C:\\Program Files\\Example\\docs\\icon.ico)]",
            f"{DATA}/applications/Example_App/kobrix-Example_App-Read_Me.desktop",
            "auto-start on, restore attributes on, auto-start off"]:
        check(f"installer listing: {wanted[:30]}", code == 0 and wanted in text, text + err)
    code, doc, err = as_json("--list", exe)
    check("installer JSON: switches after the script", doc["installer"]["flags"] == {
        "auto_start": False, "overwrite": True, "no_date_check": True, "restore_attributes": True,
        "integrity_value": True, "ask_register": True}, doc["installer"]["flags"])
    check("installer JSON: member paths", [m["path"] for m in doc["members"] if not m["special"]] ==
          [os.path.join(program, p) for p in ("readme.txt", "bin", "bin/example.exe", "docs", "docs/icon.ico")],
          doc["members"])
    check("installer JSON: script lines", [line["ignored"] for line in doc["script"]["lines"]].count(True) == 2)
    check("installer JSON: times in UTC", doc["members"][2]["time"] == "2011-03-13T07:06:40Z")
    code, doc, err = as_json("--test", exe)
    check("installer tested sound", code == 0 and doc["sound"] and doc["integrity"]["ok"], err)
    same_as_table("installer", exe)
    check("listing and testing wrote nothing", sfx.snapshot(WORK) == before)
    return exe


def flip(data, pos, bit):
    changed = bytearray(data)
    changed[pos] ^= 1 << bit
    return bytes(changed)


def damaged(exe):
    """A changed bit in a member's data, a broken code table, a cut in the
    data, a bad header: --test exits 1, names what failed, writes nothing;
    --list does not crash."""
    data = sfx.read(exe)
    doc = as_json("--list", exe)[1]
    big = max(doc["members"], key=lambda m: m["packed"])
    start = big["offset"] + data[big["offset"]] + 256 * data[big["offset"] + 1]
    table = bytearray(data)
    table[start + 2:start + 6] = b"\xff" * 4  # code lengths no decoder accepts
    path = os.path.join(WORK, "damaged.exe")
    for what, variant in [("a bit of the data", flip(data, start + big["packed"] // 2, 3)),
                          ("broken code table", bytes(table)), ("cut in the data", data[:start + big["packed"] // 2]),
                          ("bad header", flip(data, doc["members"][3]["offset"] + 3, 0))]:
        sfx.write(path, variant)
        before = sfx.snapshot(WORK)
        code, text, err = run("--test", path=path)
        named = any(r[6] == "FAIL" and r[7].startswith(big["written_as"]) for r in table_rows(text))
        check(f"damaged, {what}: exit 1, named", code == 1 and (named or "ERROR:" in text), f"{code} {text[-600:]}")
        code, doc2, err = as_json("--test", path)
        check(f"damaged, {what}: JSON unsound", code == 1 and doc2 and doc2["sound"] is False, err)
        if what == "broken code table":  # the decoder's failure ends only its member
            check(what, f"{big['written_as']}: Bad table" in text and doc2["members"][-1]["ok"], text[-600:])
        code, text, err = run("--list", path=path)
        check(f"damaged, {what}: listed", code in (0, 1) and not err, err)
        check(f"damaged, {what}: nothing written", sfx.snapshot(WORK) == before)


def hostile():
    """Names and messages with terminal escapes shown escaped, kept as they
    are in the JSON; a plain file is no self-extracting file; usage errors exit 2."""
    name = b"\x1b]0;owned\x07evil\x1b[2J\x9b1m.txt"
    path = sfx.write_sfx(os.path.join(WORK, "hostile.exe"), lzh.archive(
        lzh.member(name, b"x" * 10), lzh.member(b"!", b"\x1b[31mred message\r\n"),
        lzh.member(b"ok.txt", b"fine", crc=0x1234)))
    code, text, err = run("--test", path=path)
    check("wrong CRC fails the test", code == 1 and "ok.txt: CRC ERROR" in text, text)
    text += run("--list", path=path)[1]
    check("escapes never reach the terminal", "\x1b" not in text and "\x07" not in text and
          "\\x1b]0;owned\\x07evil" in text and "\\x1b[31mred message" in text, text)
    code, raw, err = run("--test", "--json", path=path)
    doc = json.loads(raw)
    check("JSON keeps the name as it is, C1 controls escaped", doc["members"][0]["name"] == name.decode("latin-1")
          and doc["message"]["text"] == "\x1b[31mred message\r\n" and "\x9b" not in raw, raw)
    plain = sfx.write(os.path.join(WORK, "plain.txt"), b"not an installer\n")
    for mode in ("--list", "--test"):
        code, text, err = run(mode, path=plain)
        check(f"{mode} of a plain file", code == 1 and "not a self-extracting file: no MZ header" in err, err)
    for options, args in ((["--list", "--test"], []), (["--json"], []), (["--list"], ["extra"])):
        code, text, err = run(*options, path=path, args=args)
        check(f"usage error {options + args}", code == 2 and "usage:" in err, err)


def main():
    global RUNNER, WORK, ROOT, DATA
    parser = argparse.ArgumentParser()
    for option in ("--runner", "--pack"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as WORK:
        RUNNER, ROOT, DATA = os.path.abspath(args.runner), os.path.join(WORK, "root"), os.path.join(WORK, "xdg")
        os.makedirs(ROOT), os.makedirs(DATA)
        damaged(installer(args.pack))
        hostile()
    return sfx.report()


if __name__ == "__main__":
    sys.exit(main())
