"""A small writer of level-2 LZH headers with stored (-lh0-) members, for
tests that need archives of exact shapes: names of any bytes, chosen
attributes and times, special members, wrong CRCs."""

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
