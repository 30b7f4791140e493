"""A small writer of level-2 LZH headers with stored (-lh0-) members, for
tests that need archives of exact shapes: names of any bytes, chosen
attributes and times, special members, wrong CRCs; and a reader of the
headers of a self-extracting file, for tests that damage one."""

import struct


def _crc_table():
    table = []
    for i in range(256):
        v = i
        for _ in range(8):
            v = (v >> 1) ^ 0xA001 if v & 1 else v >> 1
        table.append(v)
    return table


_TABLE = _crc_table()


def crc16(data, crc=0):
    for b in data:
        crc = _TABLE[(crc ^ b) & 0xFF] ^ (crc >> 8)
    return crc


def member(name, data=b"", time=1262322000, attr=0x20, os_id=b"W", dirname=None,
           windows_times=None, crc=None, method=b"-lh0-", size=None):
    """One member record: header and data. name and dirname are bytes;
    dirname components are separated by 0xFF as stored; crc replaces the
    data's CRC-16 in the header. With another method, data is the packed
    data and size the unpacked size the header declares."""
    exts = [b"\x01" + name]
    if dirname is not None:
        exts.append(b"\x02" + dirname)
    if windows_times is not None:
        exts.append(b"\x41" + b"".join(struct.pack("<Q", (t + 11644473600) * 10000000)
                                       for t in windows_times))
    exts.append(b"\x00\x00\x00")  # the header CRC, filled in below
    header = bytearray(24)
    header[2:7] = method
    struct.pack_into("<IIIBBH", header, 7, len(data), len(data) if size is None else size,
                     time & 0xFFFFFFFF, attr, 2,
                     crc16(data) if crc is None else crc)
    header[23:24] = os_id
    for e in exts:  # each extended header behind its size
        header += struct.pack("<H", len(e) + 2) + e
    header += b"\x00\x00"
    struct.pack_into("<H", header, 0, len(header))
    struct.pack_into("<H", header, len(header) - 4, crc16(header))
    return bytes(header) + data


def archive(*members):
    return b"".join(members) + b"\x00"


def constant_blocks(blocks, position_bits=4):
    """Packed data of blocks whose codes are all one literal/length symbol and
    one position symbol, sent as single-symbol codes that take no bits per
    code: blocks is a list of (code count, 0 for 65,536; symbol; position).
    position_bits is 4 for -lh4- and -lh5-, 5 for -lh6- and -lh7-."""
    fields = []
    for count, symbol, position in blocks:
        fields += [(count, 16), (0, 5), (0, 5), (0, 9), (symbol, 9), (0, position_bits),
                   (position, position_bits)]
    value = bits = 0
    for v, n in fields:
        value, bits = value << n | v, bits + n
    value <<= -bits % 8
    return value.to_bytes((bits + 7) // 8, "big")


class Member:
    """One level-2 member header inside a file's bytes."""

    def __init__(self, data, offset):
        self.offset = offset
        self.size = struct.unpack_from("<H", data, offset)[0]
        self.method = bytes(data[offset + 2:offset + 7]).decode("latin-1")
        self.packed, self.unpacked = struct.unpack_from("<II", data, offset + 7)
        self.file_crc = struct.unpack_from("<H", data, offset + 21)[0]
        self.data_offset = offset + self.size
        directory, name = b"", b""
        at = offset + 26
        next_size = struct.unpack_from("<H", data, at - 2)[0]
        while next_size:
            kind, body = data[at], bytes(data[at + 1:at + next_size - 2])
            if kind == 0:
                self.crc_at = at + 1
            elif kind == 1:
                name = body
            elif kind == 2:
                directory = body.replace(b"\xff", b"/")
            at += next_size
            next_size = struct.unpack_from("<H", data, at - 2)[0]
        self.name = (directory + name).decode("latin-1")


def members(data, at):
    """The headers of the archive at offset at; a zero byte ends it, whatever
    follows (a signature)."""
    found = []
    while at + 2 <= len(data) and data[at] != 0:
        found.append(Member(data, at))
        at = found[-1].data_offset + (0 if found[-1].method == "-lhd-" else found[-1].packed)
    return found


def reseal_header(data, member):
    """Recomputes the header CRC of a member after a change to its header."""
    struct.pack_into("<H", data, member.crc_at, 0)
    header = bytes(data[member.offset:member.offset + member.size])
    struct.pack_into("<H", data, member.crc_at, crc16(header))
