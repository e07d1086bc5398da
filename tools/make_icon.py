#!/usr/bin/env python3
"""Draws Pictavo's program icon, res/pictavo.png: a framed photograph (sky, sun,
two hills) with a small arrow pointing to its lower right corner, the picture
being made smaller. Standard library only; run it again after changing it."""
import struct
import sys
import zlib

SIZE = 48


def pixel(x, y):
    # Transparent outside the frame.
    if not (3 <= x <= 44 and 6 <= y <= 41):
        return (0, 0, 0, 0)
    # Dark frame, two pixels wide, with a white mat inside.
    if x <= 4 or x >= 43 or y <= 7 or y >= 40:
        return (40, 40, 48, 255)
    if x <= 6 or x >= 41 or y <= 9 or y >= 38:
        return (250, 250, 250, 255)
    # Arrow from the middle towards the lower right corner of the picture.
    if 26 <= x <= 38 and 23 <= y <= 35:
        on_shaft = abs((x - 26) - (y - 23)) <= 1 and x <= 36
        on_head = (x >= 33 and y == 35) or (y >= 32 and x == 38) or (x + y == 73 and x >= 35)
        if on_shaft or (on_head and x >= 33 and y >= 32):
            return (200, 30, 30, 255)
    # Sun.
    if (x - 15) ** 2 + (y - 16) ** 2 <= 12:
        return (255, 210, 40, 255)
    # Hills.
    if y >= 30 - abs(x - 14) // 2 or y >= 33 - abs(x - 30) // 3:
        return (60, 140, 60, 255)
    # Sky, lighter towards the horizon.
    return (90 + y * 3, 150 + y * 2, 230, 255)


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else "res/pictavo.png"
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    with open(target, "wb") as out:
        out.write(png(SIZE, SIZE, rows))


if __name__ == "__main__":
    main()
