#!/usr/bin/env python3
"""Draws the installer's icon and writes main_icon.ico: three 8-bit palette
images (48, 32 and 16 pixels) stored as device-independent bitmaps."""
import math
import struct
import sys

SIZES = (48, 32, 16)


def palette():
    # 0: transparent background (masked), 1..127: blue shield shades,
    # 128..255: white-to-grey shades for the arrow.
    colours = [(0, 0, 0)]
    for i in range(1, 128):
        t = i / 127
        colours.append((int(20 + 40 * t), int(70 + 90 * t), int(140 + 100 * t)))
    for i in range(128, 256):
        t = (i - 128) / 127
        colours.append((int(200 + 55 * t),) * 3)
    return colours


def inside_shield(x, y):
    # A shield in the unit square: flat top, sides curving to a point.
    if y < 0.08 or y > 0.95 or x < 0.1 or x > 0.9:
        return False
    if y < 0.55:
        return True
    half = 0.4 * math.sqrt(max(0.0, 1 - ((y - 0.55) / 0.4) ** 2))
    return abs(x - 0.5) <= half


def inside_arrow(x, y):
    # A downward arrow: the download that the installer makes.
    if abs(x - 0.5) <= 0.08 and 0.22 <= y <= 0.55:
        return True
    return 0.5 <= y <= 0.78 and abs(x - 0.5) <= (0.78 - y) * 0.85


def pixel(size, px, py):
    samples = 4
    shield = arrow = 0
    for sy in range(samples):
        for sx in range(samples):
            x = (px + (sx + 0.5) / samples) / size
            y = (py + (sy + 0.5) / samples) / size
            if inside_shield(x, y):
                shield += 1
                if inside_arrow(x, y):
                    arrow += 1
    if shield * 2 < samples * samples:
        return 0
    if arrow * 2 >= samples * samples:
        return 255 - int(40 * py / size)
    return 127 - int(90 * py / size)


def image(size):
    rows = [[pixel(size, x, y) for x in range(size)] for y in range(size)]
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette())
    stride = (size + 3) & ~3
    xor = b"".join(bytes(row) + bytes(stride - size) for row in reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, value in enumerate(row):
            if value == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colours + xor + mask


def main(path):
    images = [image(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "main_icon.ico")
