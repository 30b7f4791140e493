#!/usr/bin/env python3
"""Draws the stub's icon, an open box with an arrow into it, as kobrix.ico:
a 32 x 32 and a 16 x 16 image of the 16 standard colours.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

PALETTE = [
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
]
BLACK, GREEN, OLIVE, GRAY, LIME, YELLOW, WHITE = 0, 2, 3, 8, 10, 11, 15
CLEAR = None


# The small image, drawn by hand: scaling the large one loses its outline.
SMALL = [
    ".....GLLLLG.....",
    ".....GWLLLG.....",
    ".....GWLLLG.....",
    ".....GWLLLG.....",
    ".KKKKGLLLLGKKKK.",
    ".KYYGGLLLLGGYYK.",
    ".KKGLLLLLLLLGKK.",
    ".KOOGLLLLLLGOOK.",
    ".KOOOGLLLLGOOOK.",
    ".KOOOOGLLGOOOOK.",
    ".KOOOOOGGOOOOOK.",
    ".KOOOOOOOOOOOOK.",
    ".KOSSSSSSSSSSOK.",
    ".KOOOOOOOOOOOOK.",
    ".KKKKKKKKKKKKKK.",
    "................",
]
SMALL_COLOURS = {".": CLEAR, "K": BLACK, "Y": YELLOW, "O": OLIVE, "G": GREEN, "L": LIME, "W": WHITE,
                 "S": GRAY}


def draw(size):
    """Returns rows of palette indices (None: transparent), top row first."""
    if size == 16:
        return [[SMALL_COLOURS[c] for c in row] for row in SMALL]
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    # The box: front face with an outline, the open lid behind and beside it.
    fill(2, 11, 30, 15, BLACK)
    fill(3, 12, 29, 14, YELLOW)
    fill(3, 15, 29, 31, BLACK)
    fill(4, 16, 28, 30, OLIVE)
    fill(4, 16, 28, 17, YELLOW)
    fill(6, 24, 26, 26, GRAY)
    # The arrow: shaft and head, green outline around lime.
    fill(12, 0, 20, 14, GREEN)
    fill(13, 0, 19, 14, LIME)
    for row in range(8):
        half = 8 - row
        fill(16 - half - 1, 13 + row, 16 + half + 1, 14 + row, GREEN)
        if half > 1:
            fill(16 - half + 1, 13 + row, 16 + half - 1, 14 + row, LIME)
    fill(13, 2, 14, 12, WHITE)
    return px


def image(size):
    px = draw(size)
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor, mask = b"", b""
    for row in reversed(px):  # bottom-up
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, colour in enumerate(row):
            index = 0 if colour is None else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += bytes(line)
        mask += bytes(bits)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", c & 0xFF, (c >> 8) & 0xFF, c >> 16, 0) for c in PALETTE)
    return header + palette + xor + mask


def main():
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
