#!/usr/bin/env python3
"""Draws Pictavo's program icon: a framed photograph (sky, sun, two hills) with a
red arrow pointing to its lower right corner, the picture being made smaller.

The drawing is one list of shapes in a 48 x 48 square. The same list is written
out as the SVG master and rasterised here, with 4 x 4 samples a pixel, into the
PNGs; so both show the same picture at every size:

    res/icons/hicolor/scalable/apps/pictavo.svg
    res/icons/hicolor/NxN/apps/pictavo.png      N = 16, 32, 48, 64, 128, 256
    res/pictavo.png                             the 48 px picture, the window's icon

Standard library only; run it again after changing the drawing:
    python3 tools/make_icon.py [res folder, default res]
"""
import math
import os
import struct
import sys
import zlib

UNITS = 48
SIZES = (16, 32, 48, 64, 128, 256)
SAMPLES = 4  # per pixel and axis

# Where the photograph lies inside the frame; the sky and the hills are cut to it.
PHOTO = (7, 10, 41, 38)  # left, top, right, bottom

SKY = ((10, (112, 166, 232)), (38, (204, 226, 240)))  # (y, colour) at the top and bottom

# Each shape: (kind, geometry, colour, clipped to the photograph).
#   rect     (left, top, right, bottom, corner radius)
#   circle   (cx, cy, r)
#   ellipse  (cx, cy, rx, ry)
#   polygon  ((x, y), ...)
#   outline  (((x, y), ...), width): the polygon's edges drawn with round joins
# A colour is an (r, g, b) triple or "sky", the vertical gradient above.
ARROW = ((22.5, 20.0), (32.0, 29.5), (34.5, 27.0), (36.5, 36.5),
         (27.0, 34.5), (29.5, 32.0), (20.0, 22.5))
SHAPES = [
    ("rect", (3, 6, 45, 42, 1.5), (40, 40, 48), False),
    ("rect", (5, 8, 43, 40, 0), (250, 250, 250), False),
    ("rect", PHOTO + (0,), "sky", False),
    ("circle", (15.5, 17.0, 3.6), (255, 210, 40), False),
    ("ellipse", (33.0, 42.0, 15.0, 15.0), (52, 128, 56), True),
    ("ellipse", (13.0, 44.0, 17.0, 15.5), (66, 150, 64), True),
    ("outline", (ARROW, 2.0), (255, 255, 255), True),
    ("polygon", ARROW, (200, 30, 30), True),
]


# ---- the SVG master -------------------------------------------------------------

def hex_colour(colour):
    return "#%02x%02x%02x" % colour


def number(value):
    return ("%.2f" % value).rstrip("0").rstrip(".")


def points(vertices):
    return " ".join("%s,%s" % (number(x), number(y)) for x, y in vertices)


def svg_element(kind, geometry, colour, clipped):
    paint = "url(#sky)" if colour == "sky" else hex_colour(colour)
    clip = ' clip-path="url(#photo)"' if clipped else ""
    if kind == "rect":
        left, top, right, bottom, radius = geometry
        corner = ' rx="%s"' % number(radius) if radius else ""
        return '<rect x="%s" y="%s" width="%s" height="%s"%s fill="%s"%s/>' % (
            number(left), number(top), number(right - left), number(bottom - top), corner,
            paint, clip)
    if kind == "circle":
        cx, cy, r = geometry
        return '<circle cx="%s" cy="%s" r="%s" fill="%s"%s/>' % (
            number(cx), number(cy), number(r), paint, clip)
    if kind == "ellipse":
        cx, cy, rx, ry = geometry
        return '<ellipse cx="%s" cy="%s" rx="%s" ry="%s" fill="%s"%s/>' % (
            number(cx), number(cy), number(rx), number(ry), paint, clip)
    if kind == "polygon":
        return '<polygon points="%s" fill="%s"%s/>' % (points(geometry), paint, clip)
    vertices, width = geometry
    return ('<polygon points="%s" fill="none" stroke="%s" stroke-width="%s"'
            ' stroke-linejoin="round"%s/>' % (points(vertices), paint, number(width), clip))


def svg():
    left, top, right, bottom = PHOTO
    (y1, c1), (y2, c2) = SKY
    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<!-- Drawn by tools/make_icon.py; change the drawing there. -->',
        '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
        % (UNITS, UNITS, UNITS, UNITS),
        '  <defs>',
        '    <linearGradient id="sky" gradientUnits="userSpaceOnUse" x1="0" y1="%s" x2="0" y2="%s">'
        % (number(y1), number(y2)),
        '      <stop offset="0" stop-color="%s"/>' % hex_colour(c1),
        '      <stop offset="1" stop-color="%s"/>' % hex_colour(c2),
        '    </linearGradient>',
        '    <clipPath id="photo">',
        '      <rect x="%s" y="%s" width="%s" height="%s"/>' % (
            number(left), number(top), number(right - left), number(bottom - top)),
        '    </clipPath>',
        '  </defs>',
    ]
    lines += ["  " + svg_element(*shape) for shape in SHAPES]
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


# ---- the rasteriser -------------------------------------------------------------

def in_rect(x, y, geometry):
    left, top, right, bottom, radius = geometry
    if not (left <= x < right and top <= y < bottom):
        return False
    # Inside the corner squares only the quarter circles count.
    dx = max(left + radius - x, x - (right - radius), 0)
    dy = max(top + radius - y, y - (bottom - radius), 0)
    return dx * dx + dy * dy <= radius * radius


def in_polygon(x, y, vertices):
    # Even-odd rule; the arrow does not cross itself, so it equals SVG's non-zero.
    inside = False
    count = len(vertices)
    for i in range(count):
        (x1, y1), (x2, y2) = vertices[i], vertices[(i + 1) % count]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def segment_distance(x, y, a, b):
    (x1, y1), (x2, y2) = a, b
    dx, dy = x2 - x1, y2 - y1
    t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (x1 + t * dx), y - (y1 + t * dy))


def on_outline(x, y, geometry):
    vertices, width = geometry
    count = len(vertices)
    return any(segment_distance(x, y, vertices[i], vertices[(i + 1) % count]) <= width / 2
               for i in range(count))


def covers(kind, geometry, x, y):
    if kind == "rect":
        return in_rect(x, y, geometry)
    if kind == "circle":
        cx, cy, r = geometry
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    if kind == "ellipse":
        cx, cy, rx, ry = geometry
        return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1
    if kind == "polygon":
        return in_polygon(x, y, geometry)
    return on_outline(x, y, geometry)


def paint(colour, y):
    if colour != "sky":
        return colour
    (y1, c1), (y2, c2) = SKY
    t = max(0.0, min(1.0, (y - y1) / (y2 - y1)))
    return tuple(a + (b - a) * t for a, b in zip(c1, c2))


def sample(x, y):
    """The colour of the topmost shape at (x, y), or None outside every shape."""
    left, top, right, bottom = PHOTO
    in_photo = left <= x < right and top <= y < bottom
    for kind, geometry, colour, clipped in reversed(SHAPES):
        if (in_photo or not clipped) and covers(kind, geometry, x, y):
            return paint(colour, y)
    return None


def render(size):
    """Rows of (r, g, b, a) pixels: the mean of each pixel's samples, with the
    colour weighted by coverage so that edges do not darken."""
    scale = UNITS / size
    offsets = [(i + 0.5) / SAMPLES for i in range(SAMPLES)]
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total = [0.0, 0.0, 0.0]
            hits = 0
            for oy in offsets:
                for ox in offsets:
                    colour = sample((px + ox) * scale, (py + oy) * scale)
                    if colour is not None:
                        hits += 1
                        for channel in range(3):
                            total[channel] += colour[channel]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                alpha = round(255 * hits / (SAMPLES * SAMPLES))
                row.append(tuple(round(v / hits) for v in total) + (alpha,))
        rows.append(row)
    return rows


def png(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def main():
    res = sys.argv[1] if len(sys.argv) > 1 else "res"
    hicolor = os.path.join(res, "icons", "hicolor")
    write(os.path.join(hicolor, "scalable", "apps", "pictavo.svg"), svg().encode("utf-8"))
    for size in SIZES:
        picture = png(render(size))
        write(os.path.join(hicolor, "%dx%d" % (size, size), "apps", "pictavo.png"), picture)
        if size == 48:
            write(os.path.join(res, "pictavo.png"), picture)


if __name__ == "__main__":
    main()
