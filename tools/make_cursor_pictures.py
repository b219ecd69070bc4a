#!/usr/bin/env python3
"""Draws the installer's six cursor pictures (32 x 32, 8-bit RGBA PNG) into
resources/ui/: black shapes with a white rim, anti-aliased by 4 x 4
supersampling. Run by hand; the pictures are committed.

    python3 tools/make_cursor_pictures.py [output folder]
"""
import math
import os
import struct
import sys
import zlib

SIDE = 32
SUB = 4


def inside(poly, x, y):
    """Even-odd test of a point against a closed polygon."""
    hit = False
    n = len(poly)
    for i in range(n):
        (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % n]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            hit = not hit
    return hit


def coverage(polys):
    """Coverage 0..1 of every pixel by the union of the polygons."""
    cov = [[0.0] * SIDE for _ in range(SIDE)]
    for py in range(SIDE):
        for px in range(SIDE):
            n = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    x, y = px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB
                    if any(inside(p, x, y) for p in polys):
                        n += 1
            cov[py][px] = n / (SUB * SUB)
    return cov


def grow(cov, r=1):
    """The coverage grown by r pixels (maximum over the neighbourhood)."""
    out = [[0.0] * SIDE for _ in range(SIDE)]
    for y in range(SIDE):
        for x in range(SIDE):
            m = 0.0
            for dy in range(-r, r + 1):
                for dx in range(-r, r + 1):
                    if 0 <= x + dx < SIDE and 0 <= y + dy < SIDE and dx * dx + dy * dy <= r * r + 1:
                        m = max(m, cov[y + dy][x + dx])
            out[y][x] = m
    return out


def picture(polys):
    """Black shape over a white rim: straight RGBA rows."""
    ink = coverage(polys)
    rim = grow(ink)
    rows = []
    for y in range(SIDE):
        row = bytearray()
        for x in range(SIDE):
            a_ink, a_rim = ink[y][x], rim[y][x]
            alpha = a_ink + a_rim * (1 - a_ink)
            level = 0 if alpha == 0 else round(255 * (a_rim * (1 - a_ink)) / alpha)
            row += bytes([level, level, level, round(255 * alpha)])
        rows.append(bytes(row))
    return rows


def png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + r for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIDE, SIDE, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def rect(x1, y1, x2, y2):
    return [(x1, y1), (x2, y1), (x2, y2), (x1, y2)]


def thick_line(x1, y1, x2, y2, w):
    dx, dy = x2 - x1, y2 - y1
    n = math.hypot(dx, dy)
    ox, oy = -dy / n * w / 2, dx / n * w / 2
    return [(x1 + ox, y1 + oy), (x2 + ox, y2 + oy), (x2 - ox, y2 - oy), (x1 - ox, y1 - oy)]


def arrow_head(tx, ty, angle, size):
    """A triangle pointing along angle (radians) with its tip at (tx, ty)."""
    back = angle + math.pi
    return [(tx, ty), (tx + size * math.cos(back + 0.5), ty + size * math.sin(back + 0.5)),
            (tx + size * math.cos(back - 0.5), ty + size * math.sin(back - 0.5))]


def double_arrow(x1, y1, x2, y2):
    a = math.atan2(y2 - y1, x2 - x1)
    return [thick_line(x1, y1, x2, y2, 2), arrow_head(x2, y2, a, 6), arrow_head(x1, y1, a + math.pi, 6)]


def cursors():
    # Hot spots: C_CROSS (17, 13), C_EDIT (7, 5), C_FLIP_HOR (6, 11),
    # C_HREF (8, 2), C_ROTATE (15, 14), C_SIZE_PROP (15, 14).
    cross = [rect(16.5, 3, 18.5, 11), rect(16.5, 15, 18.5, 23), rect(7, 12.5, 15, 14.5), rect(19, 12.5, 27, 14.5)]
    # A pencil whose point is at (7, 5).
    pencil = [[(7, 5), (12, 7), (9, 10)], thick_line(10.5, 8.5, 24, 22, 5)]
    # Two triangles facing away from a dashed axis, the left tip at (6, 11).
    flip = [[(6, 11), (13, 5), (13, 17)], [(28, 11), (21, 5), (21, 17)], rect(16.5, 3, 17.5, 7),
            rect(16.5, 9, 17.5, 13), rect(16.5, 15, 17.5, 19)]
    # A pointing hand: the index finger up to (8, 2), three folded fingers,
    # the thumb and the palm.
    hand = [rect(6.5, 2, 9.5, 14), [(6.5, 2.5), (8, 1.5), (9.5, 2.5)],
            rect(10, 9, 13, 15), rect(13.5, 10, 16.5, 16), rect(17, 11, 20, 17),
            [(6.5, 12), (2, 10), (1.5, 12), (5.5, 17), (6.5, 17)],
            [(6.5, 14), (20, 14), (20, 20), (16, 26), (9, 26), (6.5, 21)]]
    # A ring with an arrow head around (15, 14).
    ring = []
    steps = 24
    for i in range(steps):
        a1 = math.radians(40 + i * 280 / steps)
        a2 = math.radians(40 + (i + 1) * 280 / steps)
        ring.append(thick_line(15 + 8 * math.cos(a1), 14 + 8 * math.sin(a1), 15 + 8 * math.cos(a2),
                               14 + 8 * math.sin(a2), 2.5))
    end = math.radians(40)
    ring.append(arrow_head(15 + 8 * math.cos(end), 14 + 8 * math.sin(end), end - math.pi / 2, 7))
    size = double_arrow(8, 7, 22, 21)
    return {
        "C_CROSS.png": cross,
        "C_EDIT.png": pencil,
        "C_FLIP_HOR.png": flip,
        "C_HREF.png": hand,
        "C_ROTATE.png": ring,
        "C_SIZE_PROP.png": size,
    }


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "ui")
    os.makedirs(out, exist_ok=True)
    for name, polys in cursors().items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(png(picture(polys)))


if __name__ == "__main__":
    main()
