#!/usr/bin/env python3
"""Draws the pictures of the control panel's buttons, res/faces/*.bmp: 16-colour
Windows bitmaps on the light grey of a button, RGB(192,192,192). CFaceButton
builds the button faces (frames, pressed and disabled looks) from them at run
time, so a picture leaves its outer two pixels free for the frames.

    save.bmp     22 x 22  a floppy disk                      (bitmap 137)
    open.bmp     22 x 22  an opening folder with an arrow    (bitmap 138)
    send.bmp     22 x 22  a letter and its envelope          (bitmap 139)
    folders.bmp  22 x 22  a tree of three folders            (bitmap 140)
    more.bmp     44 x 22  three arrow heads pointing right   (bitmap 141)
    less.bmp     44 x 22  three arrow heads pointing left    (bitmap 142)
    reset.bmp    22 x 22  a small figure                     (bitmap 143)

Standard library only; run it again after changing a drawing:
    python3 tools/make_faces.py [target folder, default res/faces]
"""
import os
import struct
import sys

# The 16 colours of the standard palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Characters of the drawings and their palette entries.
INK = {
    ".": 7,   # button grey, the background
    "k": 0,   # black
    "m": 1,   # maroon
    "o": 3,   # olive
    "n": 4,   # navy
    "t": 6,   # teal
    "g": 8,   # dark grey
    "r": 9,   # red
    "y": 11,  # yellow
    "b": 12,  # blue
    "c": 14,  # aqua
    "w": 15,  # white
}

FLOPPY = [
    "kkkkkkkkkkkkkkkk",
    "kbkwwwwwwwwwwkbk",
    "kbkwwwwwwwwwwkbk",
    "kbkwggggggggwkbk",
    "kbkwwwwwwwwwwkbk",
    "kbkwggggggggwkbk",
    "kbkwwwwwwwwwwkbk",
    "kbbkkkkkkkkkkbbk",
    "kbbbbbbbbbbbbbbk",
    "kbbbkkkkkkkkbbbk",
    "kbbbkwwkggggkbbk",
    "kbbbkwwkggggkbbk",
    "kbbbkwwkggggkbbk",
    "kbbbkwwkggggkbbk",
    ".kbbkkkkkkkkkbbk",
    "..kkkkkkkkkkkkkk",
]

OPEN_FOLDER = [
    "................",
    ".........kkk....",
    "........k...k.k.",
    ".............kk.",
    ".kkk.........kkk",
    "kwyyk...........",
    "kywyykkkkkkk....",
    "kwywywywywyk....",
    "kywywykkkkkkkkkk",
    "kwywykoooooooook",
    "kywykoooooooook.",
    "kwykoooooooook..",
    "kykoooooooook...",
    "kkoooooooook....",
    "kkkkkkkkkkk.....",
    "................",
]

LETTER = [
    "...kkkkkkkkk....",
    "...kwwwwwwwk....",
    "...kwkkkkkwk....",
    "...kwwwwwwwk....",
    "...kwkkkkwwk....",
    "...kwwwwwwwk....",
    "kkkkkkkkkkkkkkkk",
    "kkwwwwwwwwwwwwkk",
    "kwkwwwwwwwwwwkwk",
    "kwwkwwwwwwwwkwwk",
    "kwwwkwwwwwwkwwwk",
    "kwwwwkwwwwkwwwwk",
    "kwwwwwkkkkwwwwwk",
    "kwwwwwwwwwwwwwwk",
    "kwwwwwwwwwwwwwwk",
    "kkkkkkkkkkkkkkkk",
]

FOLDER_TREE = [
    ".kkk............",
    "kyyykkkk........",
    "kywyyyyk........",
    "kyyyyyyk........",
    "kkkkkkkk........",
    "..k.....kkk.....",
    "..k....kyyykkkk.",
    "..k....kywyyyyk.",
    "..kkkkkkyyyyyyk.",
    "..k....kkkkkkkk.",
    "..k.....kkk.....",
    "..k....kyyykkkk.",
    "..k....kywyyyyk.",
    "..kkkkkkyyyyyyk.",
    ".......kkkkkkkk.",
    "................",
]

FIGURE = [
    ".....kkkkkk.....",
    "....kyyyyyyk....",
    "....kykyykyk....",
    "....kyyyyyyk....",
    ".....kkkkkk.....",
    "....kkrrrrkk....",
    "...krrrrrrrrk...",
    "..krkrrrrrrkrk..",
    "..krkrrrrrrkrk..",
    "..kyk.krrk.kyk..",
    "...k..kbbk..k...",
    "......kbbk......",
    ".....kbkkbk.....",
    ".....kbkkbk.....",
    "....kkk..kkk....",
    "................",
]


def blank(width, height):
    return [[INK["."]] * width for _ in range(height)]


def draw(canvas, art, left, top):
    for y, row in enumerate(art):
        for x, ink in enumerate(row):
            if ink != ".":
                canvas[top + y][left + x] = INK[ink]


def arrow_heads(width, height):
    """Three solid arrow heads pointing right, 6 pixels deep and 11 high."""
    canvas = blank(width, height)
    for head in range(3):
        left = 11 + head * 8
        for row in range(11):
            depth = min(row, 10 - row)
            for x in range(left, left + depth + 1):
                canvas[5 + row][x] = INK["k"]
    return canvas


def mirrored(canvas):
    return [list(reversed(row)) for row in canvas]


def icon(art):
    canvas = blank(22, 22)
    draw(canvas, art, 2, 3)
    return canvas


def bmp(canvas):
    """A bottom-up BITMAPINFOHEADER file with 4 bits a pixel."""
    height = len(canvas)
    width = len(canvas[0])
    stride = (width * 4 + 31) // 32 * 4
    rows = []
    for row in reversed(canvas):
        packed = bytearray()
        for x in range(0, width, 2):
            second = row[x + 1] if x + 1 < width else 0
            packed.append(row[x] << 4 | second)
        packed.extend(b"\0" * (stride - len(packed)))
        rows.append(bytes(packed))
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(pixels), 2835, 2835, 16, 16)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join("res", "faces")
    os.makedirs(target, exist_ok=True)
    right = arrow_heads(44, 22)
    faces = {
        "save.bmp": icon(FLOPPY),
        "open.bmp": icon(OPEN_FOLDER),
        "send.bmp": icon(LETTER),
        "folders.bmp": icon(FOLDER_TREE),
        "more.bmp": right,
        "less.bmp": mirrored(right),
        "reset.bmp": icon(FIGURE),
    }
    for name, canvas in faces.items():
        with open(os.path.join(target, name), "wb") as out:
            out.write(bmp(canvas))


if __name__ == "__main__":
    main()
