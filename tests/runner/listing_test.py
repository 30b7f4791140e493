#!/usr/bin/env python3
"""kobrix --list and --test: the shared corpus listed and tested against its
manifest, an installer from kobrix-pack with a message, a script and every
flag explained, damaged copies that --test names and that nothing is written
for, hostile names through the terminal filter, and the JSON read back by
Python's json and compared with the text table."""

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
from payload import text_block, write_file  # noqa: E402
from report import report  # noqa: E402

problems = []
items = 0

# One row of the text table: sizes, ratio, method, date, time, attributes,
# CRC, an optional test status, the name.
ROW = re.compile(r"^\s*(\d+)\s+(\d+)\s+[\d.]+%\s+(-lh.-)\s+(\S+ \S+)\s+(\S{5})\s+([0-9a-f]{4})"
                 r"\s+(?:(OK|FAIL|-)\s+)?(.*)$")


def check(item, condition, detail=""):
    global items
    items += 1
    if not condition:
        problems.append(f"{item}: {detail or 'failed'}")


class Runner:
    def __init__(self, runner, work):
        self.runner, self.work = runner, work
        self.root = os.path.join(work, "root")
        self.data = os.path.join(work, "xdg")
        os.makedirs(self.root)
        os.makedirs(self.data)

    def run(self, *args):
        r = subprocess.run([self.runner, "--root", self.root, *args], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=120, cwd=self.work,
                           env=dict(os.environ, XDG_DATA_HOME=self.data))
        return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")

    def json(self, mode, path):
        code, out, err = self.run(mode, "--json", path)
        return code, json.loads(out) if out.strip() else None, err

    def everything(self):
        """Every path under the work folder and its contents."""
        return sfx.snapshot(self.work)


def table_rows(text):
    return [m.groups() for m in map(ROW.match, text.splitlines()) if m]


def same_as_table(item, text, document):
    """The text table and the JSON members say the same."""
    rows = table_rows(text)
    members = document["members"]
    check(item + ": table rows", len(rows) == len(members), f"{len(rows)} rows, {len(members)} members")
    for row, m in zip(rows, members):
        size, packed, method, stamp, attrs, crc, status, name = row
        want = (int(size), int(packed), method, stamp, attrs, int(crc, 16))
        got = (m["size"], m["packed"], m["method"], m["time"].replace("T", " ")[:-1],
               m["attributes_text"], m["crc"])
        check(f"{item}: {m['name']} in the table", want == got and name.startswith(
            m["name"] if m["special"] else m["written_as"]), f"{row} vs {m}")
        if status is not None:
            check(f"{item}: {m['name']} status", (status == "OK") == bool(m.get("ok")), row)


def corpus(r, corpus_dir):
    manifest = os.path.join(corpus_dir, "manifest.jsonl")
    if not os.path.isfile(manifest):
        print(f"SKIP corpus: none at {corpus_dir} (it lives in ../shared beside the checkout)")
        return
    for line in open(manifest):
        if not line.strip():
            continue
        entry = json.loads(line)
        name, ok = entry["archive"], entry["outcome"] == "ok"
        with open(os.path.join(corpus_dir, name), "rb") as f:
            path = os.path.join(r.work, "corpus.exe")
            sfx.write_sfx(path, f.read())
        for mode in ("--list", "--test"):
            code, doc, err = r.json(mode, path)
            check(f"{name} {mode}: exit code", code == (0 if ok else 1), f"{code} {err}")
            if doc is None:
                continue
            listed = doc["members"]
            want = entry["members"] if ok else entry["members"][:len(listed)]
            check(f"{name} {mode}: members", len(listed) == len(want) if ok else
                  len(listed) <= len(entry["members"]), f"{len(listed)} listed")
            for m, w in zip(listed, want):
                fields = ("name", "method", "packed", "size", "crc", "os")
                got = (m["name"], m["method"], m["packed"], m["size"], m["crc"], m["os"])
                check(f"{name} {mode}: {w['name']}", got == tuple(w[k] for k in fields), f"{got}")
                # The fixed part's time and attributes stand unless Windows fields replace them.
                if 65 not in w["ext"] or w["os"] not in "MWw":
                    check(f"{name} {mode}: {w['name']} time", m["time_unix"] == w["time"], m["time"])
                if 64 not in w["ext"] or w["os"] not in "MWw":
                    check(f"{name} {mode}: {w['name']} attributes", m["attributes"] == w["attr"])
                if mode == "--test":
                    check(f"{name}: {w['name']} tested sound", m["ok"] is True or not ok, m["error"])
            if not ok:
                check(f"{name} {mode}: names its failure", doc["error"] and doc["error"]["message"]
                      == entry["outcome"], doc["error"])
        code, text, err = r.run("--test", path)
        code2, doc, _ = r.json("--test", path)
        if doc is not None:
            same_as_table(name, text, doc)


SCRIPT = (b"; a comment the program skips\r\n"
          b"$WindowTitle=Example Setup\r\n"
          b"$InstallTitle=Destination &Folder\r\n"
          b"$InstallDir=%ProgramFiles%\\Example\r\n"
          b"$GroupTitle=Add to the &Start Menu\r\n"
          b"$Group=Example App,Read Me,readme.txt,docs\\icon.ico\r\n"
          b"$ClassTitle=Register .exd &files\r\n"
          b"$Class=.EXD,Example Data,bin\\example.exe,ExampleData\r\n"
          b"$Class=,No Extension,x.exe,Key\r\n"
          b"$AskRegist=1\r\n"
          b"$Command=readme.txt\r\n"
          b"$Flag=273\r\n"
          b"$windowtitle=lower case is no key\r\n")


def packed_installer(r, pack):
    """An installer from kobrix-pack with a message, a script and every flag."""
    files = os.path.join(r.work, "files")
    write_file(files, "readme.txt", b"Read me.\r\n" * 300, 1300000000)
    write_file(files, "bin/example.exe", text_block(random.Random(14), 60000), 1300000001)
    write_file(files, "docs/icon.ico", b"\0\1" * 300, 1300000002)
    stub = os.path.join(r.work, "stub.bin")
    with open(stub, "wb") as f:
        f.write(sfx.bare_stub())
    for name, data in (("message.txt", b"Welcome.\r\nInstall the example?\r\n"), ("script.txt", SCRIPT)):
        with open(os.path.join(r.work, name), "wb") as f:
            f.write(data)
    exe = os.path.join(r.work, "setup.exe")
    result = subprocess.run([pack, "-o", exe, "--stub", stub, "--title", "Record Title",
                             "--command", "bin\\example.exe /q", "--auto-start", "--overwrite",
                             "--integrity", "--no-date-check", "--restore-attributes",
                             "--message", os.path.join(r.work, "message.txt"),
                             "--script", os.path.join(r.work, "script.txt"),
                             "-C", files, "readme.txt", "bin", "docs"], capture_output=True)
    check("kobrix-pack wrote the installer", result.returncode == 0, result.stderr.decode())
    return exe


def installer(r, pack):
    exe = packed_installer(r, pack)
    before = r.everything()
    code, text, err = r.run("--list", exe)
    check("installer listed", code == 0, err)
    program = os.path.join(r.root, "Program Files", "Example")
    for what, wanted in [
        ("caption from the script", "Caption:    Example Setup"),
        ("directory and where it lands", "lands in " + program),
        ("every flag of the record in words", "Record:     auto-start, overwrite without asking, "
                                              "no date check, restore attributes, integrity value "
                                              "present (flags 0x0f)"),
        ("the switches after the script", "Settings:   overwrite without asking, no date check, "
                                          "restore attributes, integrity value present, asks before "
                                          "each file type (after the script)"),
        ("command from the script", "Command:    readme.txt"),
        ("message in full", "  | Welcome.\n  | Install the example?\n"),
        ("lower-case key ignored", "$windowtitle=lower case is no key\n      Windows: ignored"),
        ("registry keys", "HKEY_CLASSES_ROOT\\.exd = \"ExampleData\""),
        ("open command", "HKEY_CLASSES_ROOT\\ExampleData\\shell\\open\\command = "
                         "\"\\\"C:\\Program Files\\Example\\bin\\example.exe\\\" \\\"%1\\\"\""),
        ("WIN.INI line", "WIN.INI [Extensions] exd=C:\\Program Files\\Example\\bin\\example.exe ^.exd"),
        ("question before registering", "asks \"Example Data\" Set Class? first"),
        ("line without extension skipped", "$Class=,No Extension,x.exe,Key\n      Windows: ignored"),
        ("desktop entry of the type", f"{r.data}/applications/kobrix-exampledata.desktop"),
        ("Program Manager group", "[CreateGroup(\"Example App\",0)] [AddItem(C:\\Program Files\\"
                                  "Example\\readme.txt,Read Me,C:\\Program Files\\Example\\docs\\icon.ico)]"),
        ("menu entry", f"{r.data}/applications/Example_App/kobrix-Example_App-Read_Me.desktop"),
        ("flag bits", "auto-start on, restore attributes on, auto-start off"),
    ]:
        check(f"installer: {what}", wanted in text, text)
    code, doc, err = r.json("--list", exe)
    check("installer JSON: effective switches", doc["installer"]["flags"] == {
        "auto_start": False, "overwrite": True, "no_date_check": True, "restore_attributes": True,
        "integrity_value": True, "ask_register": True}, doc["installer"]["flags"])
    check("installer JSON: record kept apart", doc["record"]["caption"] == "Record Title" and
          doc["record"]["flags"] == 0x0F, doc["record"])
    check("installer JSON: member paths", [m["path"] for m in doc["members"] if not m["special"]] ==
          [os.path.join(program, p) for p in ("readme.txt", "bin", "bin/example.exe",
                                              "docs", "docs/icon.ico")], doc["members"])
    check("installer JSON: script lines", [l["ignored"] for l in doc["script"]["lines"]].count(True) == 2)
    check("installer JSON: times in UTC", doc["members"][2]["time"] == "2011-03-13T07:06:40Z",
          doc["members"][2]["time"])
    code, text, err = r.run("--test", exe)
    code2, doc, _ = r.json("--test", exe)
    check("installer tested sound", code == 0 and code2 == 0 and doc["sound"] and
          doc["integrity"]["ok"], text + err)
    same_as_table("installer", text, doc)
    check("listing and testing wrote nothing", r.everything() == before,
          sorted(set(r.everything()) - set(before)))
    return exe


def damaged(r, exe):
    """Copies with one changed bit in a member's data, cut short, with a bad
    header, and with a changed CRC field: --test exits 1, names what failed
    and writes nothing; --list does not crash."""
    data = open(exe, "rb").read()
    code, doc, _ = r.json("--list", exe)
    big = max((m for m in doc["members"] if m["packed"] > 1000), key=lambda m: m["packed"])
    start = big["offset"] + struct_size(data, big["offset"])
    table = bytearray(data)
    table[start + 2:start + 6] = b"\xff" * 4  # code lengths no decoder accepts
    variants = [("a bit of the data", flip(data, start + big["packed"] // 2, 3)),
                ("broken code table", bytes(table)),
                 ("cut in the data", data[:start + big["packed"] // 2]),
                 ("bad header", flip(data, doc["members"][3]["offset"] + 3, 0))]
    path = os.path.join(r.work, "damaged.exe")
    for what, variant in variants:
        with open(path, "wb") as f:
            f.write(variant)
        before = r.everything()
        code, text, err = r.run("--test", path)
        check(f"damaged, {what}: exit code 1", code == 1, f"{code} {text[-300:]} {err}")
        failed = [row for row in table_rows(text) if row[6] == "FAIL"]
        named = any(row[7].startswith(big["written_as"]) for row in failed) or "ERROR:" in text
        check(f"damaged, {what}: failure named", named, text[-600:])
        code, doc2, err = r.json("--test", path)
        check(f"damaged, {what}: JSON says unsound", code == 1 and doc2 and doc2["sound"] is False, err)
        if what == "broken code table":
            # The decoder's failure ends only its member: the walk goes on.
            check("broken code table: Bad table, later members tested",
                  f"{big['written_as']}: Bad table" in text and doc2["members"][-1]["ok"], text[-600:])
        code, text, err = r.run("--list", path)
        check(f"damaged, {what}: listed without a crash", code in (0, 1) and not err, err)
        check(f"damaged, {what}: nothing written", r.everything() == before,
              sorted(set(r.everything()) - set(before)))


def struct_size(data, offset):
    return data[offset] | data[offset + 1] << 8


def flip(data, pos, bit):
    changed = bytearray(data)
    changed[pos] ^= 1 << bit
    return bytes(changed)


def hostile(r):
    """Names with terminal escapes are shown escaped; a file that is not a
    self-extracting file is said to be one; usage errors exit 2."""
    arc = lzh.archive(lzh.member(b"\x1b]0;owned\x07evil\x1b[2J\x9b1m.txt", b"x" * 10),
                      lzh.member(b"!", b"\x1b[31mred message\r\n"),
                      lzh.member(b"ok.txt", b"fine", crc=0x1234))
    path = os.path.join(r.work, "hostile.exe")
    sfx.write_sfx(path, arc)
    code, text, err = r.run("--test", path)
    check("wrong CRC fails the test", code == 1 and "ok.txt: CRC ERROR" in text, text)
    code, listing, err = r.run("--list", path)
    text += listing
    check("escapes never reach the terminal", "\x1b" not in text and "\x07" not in text and
          "\\x1b]0;owned\\x07evil" in text and "\\x1b[31mred message" in text, text)
    code, raw, err = r.run("--test", "--json", path)
    doc = json.loads(raw)
    check("JSON keeps the name as it is, C1 controls escaped too",
          doc["members"][0]["name"] == "\x1b]0;owned\x07evil\x1b[2J\x9b1m.txt" and
          doc["message"]["text"] == "\x1b[31mred message\r\n" and "\x9b" not in raw, raw)
    plain = os.path.join(r.work, "plain.txt")
    with open(plain, "w") as f:
        f.write("not an installer\n")
    for mode in ("--list", "--test"):
        code, text, err = r.run(mode, plain)
        check(f"{mode} of a plain file", code == 1 and "not a self-extracting file: no MZ header" in err, err)
    for args in (["--list", "--test", path], ["--json", path], ["--list", path, "extra"]):
        code, text, err = r.run(*args)
        check(f"usage error {args[:-1]}", code == 2 and "usage:" in err, err)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runner", required=True)
    parser.add_argument("--pack", required=True)
    parser.add_argument("--corpus", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        r = Runner(args.runner, work)
        corpus(r, args.corpus)
        exe = installer(r, args.pack)
        damaged(r, exe)
        hostile(r)
    return report(problems, items)


if __name__ == "__main__":
    sys.exit(main())
