"""A small writer of level-2 LZH headers with stored (-lh0-) and directory
(-lhd-) members, for tests that need archives of exact shapes: names of any
bytes, chosen attributes and times, special members, damaged fields."""

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


def unix_to_filetime(seconds):
    return (seconds + 11644473600) * 10000000


def member(name, data=b"", method=b"-lh0-", time=1262322000, attr=0x20, os_id=b"W",
           dirname=None, windows_times=None, windows_attr=None, packed=None, crc=None):
    """One member record: header and data. name and dirname are bytes;
    dirname components are separated by 0xFF as stored."""
    if method == b"-lhd-":
        data = b""
    exts = []
    exts.append(b"\x01" + name)
    if dirname is not None:
        exts.append(b"\x02" + dirname)
    if windows_attr is not None:
        exts.append(b"\x40" + struct.pack("<H", windows_attr))
    if windows_times is not None:
        exts.append(b"\x41" + b"".join(struct.pack("<Q", unix_to_filetime(t))
                                       for t in windows_times))
    exts.append(b"\x00\x00\x00")  # header CRC, filled in below
    body = bytearray()
    for e in exts:
        body += e
    # fixed part (24 bytes) + first next-size field + each ext with its trailing size
    sizes = [len(e) + 2 for e in exts]
    header_size = 24 + 2 + sum(sizes)
    fixed = bytearray(24)
    struct.pack_into("<H", fixed, 0, header_size)
    fixed[2:7] = method
    struct.pack_into("<I", fixed, 7, len(data) if packed is None else packed)
    struct.pack_into("<I", fixed, 11, len(data))
    struct.pack_into("<I", fixed, 15, time & 0xFFFFFFFF)
    fixed[19] = attr
    fixed[20] = 2
    struct.pack_into("<H", fixed, 21, crc16(data) if crc is None else crc)
    fixed[23:24] = os_id
    header = bytearray(fixed)
    header += struct.pack("<H", sizes[0])
    crc_pos = None
    for i, e in enumerate(exts):
        if e[0] == 0:
            crc_pos = len(header) + 1
        header += e
        header += struct.pack("<H", sizes[i + 1] if i + 1 < len(exts) else 0)
    assert len(header) == header_size
    struct.pack_into("<H", header, crc_pos, crc16(bytes(header)))
    return bytes(header) + data


def archive(*members, end=b"\x00"):
    return b"".join(members) + end


def file_crc_field_offset():
    """Offset of the file-CRC field inside a header."""
    return 21
