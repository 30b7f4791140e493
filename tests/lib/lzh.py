"""Level-2 LZH members of exact shapes, and a reader of an archive's headers
for tests that damage one."""

import struct

_TABLE = []
for _i in range(256):
    for _ in range(8):
        _i = (_i >> 1) ^ 0xA001 if _i & 1 else _i >> 1
    _TABLE.append(_i)


def crc16(data, crc=0):
    for b in data:
        crc = _TABLE[(crc ^ b) & 0xFF] ^ (crc >> 8)
    return crc


def member(name, data=b"", time=1262322000, attr=0x20, os_id=b"W", dirname=None, windows_times=None, crc=None,
           method=b"-lh0-", size=None):
    """Header and data of one member. dirname separates folders by 0xFF; crc replaces the data's CRC-16; with
    another method, data is packed and size the unpacked size declared."""
    exts = [b"\x01" + name] + ([b"\x02" + dirname] if dirname is not None else [])
    if windows_times is not None:
        exts.append(b"\x41" + b"".join(struct.pack("<Q", (t + 11644473600) * 10000000)
                                       for t in windows_times))
    exts.append(b"\x00\x00\x00")  # the header CRC, filled in below
    header = bytearray(24)
    header[2:7] = method
    struct.pack_into("<IIIBBH", header, 7, len(data), len(data) if size is None else size,
                     time & 0xFFFFFFFF, attr, 2, crc16(data) if crc is None else crc)
    header[23:24] = os_id
    for e in exts:
        header += struct.pack("<H", len(e) + 2) + e
    header += b"\x00\x00"
    struct.pack_into("<H", header, 0, len(header))
    struct.pack_into("<H", header, len(header) - 4, crc16(header))
    return bytes(header) + data


def archive(*members):
    return b"".join(members) + b"\x00"


def constant_blocks(blocks, position_bits=4):
    """Packed blocks whose codes are one literal/length symbol and one position, as single-symbol codes of
    no bits: (code count, 0 for 65,536; symbol; position). position_bits: 4 for -lh5-, 5 for -lh6-/-lh7-."""
    value = bits = 0
    for count, symbol, position in blocks:
        for v, n in [(count, 16), (0, 5), (0, 5), (0, 9), (symbol, 9), (0, position_bits),
                     (position, position_bits)]:
            value, bits = value << n | v, bits + n
    value <<= -bits % 8
    return value.to_bytes((bits + 7) // 8, "big")


class Member:
    """One level-2 member header inside a file's bytes."""

    def __init__(self, data, offset):
        self.offset, self.size = offset, struct.unpack_from("<H", data, offset)[0]
        self.method = bytes(data[offset + 2:offset + 7]).decode("latin-1")
        self.packed, self.unpacked = struct.unpack_from("<II", data, offset + 7)
        self.file_crc = struct.unpack_from("<H", data, offset + 21)[0]
        self.data_offset = offset + self.size
        self.crc_at = offset + 24
        while data[self.crc_at + 2] != 0:  # the extended headers up to the header CRC's
            self.crc_at += struct.unpack_from("<H", data, self.crc_at)[0]
        self.crc_at += 3


def members(data, at):
    """The headers from offset at up to a zero byte, whatever follows it."""
    found = []
    while at + 2 <= len(data) and data[at] != 0:
        found.append(Member(data, at))
        at = found[-1].data_offset + (0 if found[-1].method == "-lhd-" else found[-1].packed)
    return found


def reseal_header(data, member):
    """Makes a changed header's CRC right again."""
    struct.pack_into("<H", data, member.crc_at, 0)
    struct.pack_into("<H", data, member.crc_at,
                     crc16(bytes(data[member.offset:member.offset + member.size])))
