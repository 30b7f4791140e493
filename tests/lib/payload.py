"""Generated payloads shared by the round-trip tests."""

import os

_WORDS = [b"archive", b"member", b"header", b"window", b"table", b"kobrix", b"data",
          b"\xe3\x81\x82", b"0123", b"setup", b"\r\n", b"  ", b"return", b"{", b"}"]


def text_block(rng, size):
    """Compressible text of exactly size bytes, fixed by rng."""
    out = bytearray()
    while len(out) < size:
        out += rng.choice(_WORDS) + b" "
    return bytes(out[:size])


def write_file(top, rel, data, stamp):
    """Writes top/rel (folders made on the way) with the last-write time stamp."""
    path = os.path.join(top, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (stamp, stamp))
